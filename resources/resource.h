/* Resource, control and command numbers. Plain #defines: the resource
   compiler reads this file too. */
#pragma once

/* Dialogs */
#define IDD_ABOUT 100
#define IDD_VOLUME_POPUP 105
#define IDD_OPTIONS 110

/* Options dialog controls */
#define IDC_USER_STRING 1101
#define IDC_EXIT_MOOD 1102
#define IDC_SHOW_TRAY_ICON 1005
#define IDC_ALLOW_HTML 1006
#define IDC_STOP_ON_CALL 107
#define IDC_SET_MOOD_ON_EXIT 108

/* Volume popup controls; check box of tray button i is IDC_BUTTON_CHECK_FIRST + i */
#define IDC_VOLUME_SLIDER 106
#define IDC_BUTTON_CHECK_FIRST 1000
#define IDC_BUTTON_CHECK_LAST 1004

/* Menu commands */
#define IDM_ABOUT 103
#define IDM_ACTIVE 104
#define IDM_STOP_ON_CALL 107
#define IDM_SET_MOOD_ON_EXIT 108
#define IDM_OPTIONS 109
#define POPMENU_NAME "POPMENU"

/* Icons and bitmaps; button i uses FIRST + i */
#define IDI_MAIN_XP 201
#define IDI_MAIN_OLD 202
#define IDI_BUTTON_OLD_FIRST 301
#define IDI_BUTTON_XP_FIRST 1301
#define IDB_BUTTON_FIRST 401

/* Version */
#define TRALMO_VERSION_BINARY 1, 0, 0, 5
#define TRALMO_VERSION_TEXT "1.0.0.5"
