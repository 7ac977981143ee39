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
// The export dialog: the format list (its labels one string each, in the
// order of CTrellonCore::kExportExtensions), the first and last frame and
// the enlargement, each number with its up-down control right after it.
#define IDD_EXPORT 141
#define IDC_EXPORT_FORMAT 1111
#define IDC_EXPORT_FIRST 1112
#define IDC_EXPORT_FIRST_SPIN 1113
#define IDC_EXPORT_LAST 1114
#define IDC_EXPORT_LAST_SPIN 1115
#define IDC_EXPORT_SCALE 1116
#define IDC_EXPORT_SCALE_SPIN 1117
#define IDS_EXPORT_FORMAT_FIRST 220
// Export... in the system menu and the context menu (a system command: its
// low four bits are 0).
#define IDM_EXPORT 32
#define IDS_EXPORT 103
// The sound's two switches in the same menus, checkable: whether the next
// recording records the game's sound, and playback muted (also the key M).
#define IDM_RECORD_SOUND 48
#define IDM_MUTE 64
#define IDS_RECORD_SOUND 104
#define IDS_MUTE 105
// The manifest: common controls 6 and the UTF-8 code page.
#define IDR_MANIFEST 1
