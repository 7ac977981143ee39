// Ids of the Windows front end's own resources, beside the dialogs' shared
// ids (resource.h of the core). Macros, as the resource script reads them.
#pragma once

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// The labels of the playback speed list, one string each in the order of
// CTrellonCore::kSpeedFactors (the texts are translated, the factors not).
#define IDS_SPEED_FIRST 200
// The progress window of a long command.
#define IDD_LONG_TASK 140
#define IDC_LONG_TASK_TEXT 1101
#define IDC_LONG_TASK_PROGRESS 1102
// The manifest: common controls 6 and the UTF-8 code page.
#define IDR_MANIFEST 1
