// Identifiers of the program's resources, shared by Nulvane.rc and the code
// that loads them. Plain #defines, as the resource compiler reads this file.
#pragma once

#define IDI_NULVANE 128

// The browser window: its icon (the program's) and its accelerators.
#define IDR_MAINFRAME 128

// Commands of the browser window that the application handles.
#define ID_FILE_NEW 57600
#define ID_FILE_OPEN 57601
#define ID_APP_ABOUT 57664
#define ID_APP_EXIT 57665
#define ID_HOME 32815
#define ID_BOSS 32819
#define ID_BOSS_BUTTON 1085
#define ID_MAKE_DEFAULT 32851
#define ID_MAKE_DEFAULT_BUTTON 1089

// The About box and its three texts.
#define IDD_ABOUTBOX 100
#define IDC_ABOUT_VERSION 1023
#define IDC_ABOUT_BUILD_DATE 1024
#define IDC_ABOUT_COPYRIGHT 1026

// The open-address dialog of the Open command.
#define IDD_OPEN_ADDRESS 218
#define IDC_OPEN_ADDRESS_TEXT 1020
#define IDC_OPEN_ADDRESS_EDIT 1021
#define IDC_OPEN_ADDRESS_BROWSE 1022

// The language table: a resource of the custom type "LANGUAGES".
#define IDR_LANGUAGES 319

// The clean-up progress dialog and its controls.
#define IDD_CLEANUP 237
#define IDC_CLEANUP_HEADER 1091
#define IDC_CLEANUP_PANEL 1102
#define IDC_CLEANUP_MARK_HISTORY 1052
#define IDC_CLEANUP_MARK_COOKIES 1053
#define IDC_CLEANUP_MARK_TEMP_FILES 1054
#define IDC_CLEANUP_MARK_INDEX_DAT 1055
#define IDC_CLEANUP_MARK_FLASH 1056
#define IDC_CLEANUP_LABEL_HISTORY 1096
#define IDC_CLEANUP_LABEL_COOKIES 1097
#define IDC_CLEANUP_LABEL_TEMP_FILES 1098
#define IDC_CLEANUP_LABEL_INDEX_DAT 1099
#define IDC_CLEANUP_LABEL_FLASH 1057
#define IDC_CLEANUP_CLOSE 3
#define IDC_CLEANUP_BANNER 1092

// Bitmaps.
#define IDB_CLOSE_HOT 305
#define IDB_CLOSE_NORMAL 308
#define IDB_CLEANUP_HEADER 312
#define IDB_CLEANUP_PANEL 317

// Images of the custom type "GIF".
#define IDR_GIF_CLEANUP_DONE 239
#define IDR_GIF_CLEANUP_DONE_SMALL 240
#define IDR_GIF_CLEANUP_WORKING 276
#define IDR_GIF_CLEANUP_BANNER 314

// The security manager's two questions and their controls.
#define IDD_SUBMIT_WARNING 285
#define IDD_ADDONS_NOTICE 286
#define IDC_SECURITY_TEXT 1110
#define IDC_SECURITY_DONT_ASK 1111
#define IDC_SECURITY_ICON 1112

// The context menu's own item, before the control's "open in new window".
#define ID_OPEN_IN_NEW_TAB 2435
