// The ids of the dialogs' controls and menu items, shared by the dialog's
// logic, both front ends and the Windows resource script (which is why they
// are macros).
#pragma once

// The main dialog
#define IDD_MAIN 102
#define IDR_MAINFRAME 128
#define IDC_GET_FRAME 1000
#define IDC_FRAME_SLIDER 1001
#define IDC_BYTES 1002
#define IDC_RECORD 1003
#define IDC_FRAME_TEXT 1005
#define IDC_TICK_TIME 1006
#define IDC_SAVE 1007
#define IDC_LOAD 1008
#define IDC_TIME_TEXT 1010
#define IDC_CLEAR 1011
#define IDC_VIDEO_INFO 1012
#define IDC_PLAY 1013
#define IDC_PAUSE 1014
#define IDC_SPEED 1019
#define IDC_SHOW_CURSOR 1020
#define IDC_TARGET_FPS 1021
#define IDC_DETACH 1022
#define IDC_EXTRACT 1023
#define IDC_STATS 1026
#define IDC_PLUS 1027
#define IDC_VERSION 1028
#define IDM_ABOUTBOX 16
#define IDS_ABOUTBOX 101

// The About dialog, the detached window and the fragment dialog
#define IDD_ABOUTBOX 100
#define IDD_RESIZABLE_VIEW 131
#define IDD_EXTRACT 132
#define IDC_START_FRAME 1023
#define IDC_END_FRAME 1024
