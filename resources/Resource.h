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

// The browser window: its menus, keys, bars, images and its commands.
// Accelerator table and main menu share the frame's id.
#define IDR_QUELMARMENU 128
#define IDR_TAB_MENU 268
#define IDD_OWNER 287
#define IDD_TOP_BAR 245
#define IDD_STATUS_BAR 246
#define IDB_CHROME_100 340
#define IDB_CHROME_150 341

// Top bar controls.
#define IDC_PREVIOUS 1005
#define IDC_NEXT 1003
#define IDC_HOME 1008
#define IDC_REFRESH 1002
#define IDC_STOP 1006
#define IDC_ADDRESS 1012
#define IDC_GOTO_ADDRESS 1014
#define IDC_SEARCH_TEXT 1013
#define IDC_SEARCH 1015
#define IDC_PAGE_ICON 1032
#define IDC_PRINT 1007
#define IDC_TOOLS 1035
#define IDC_MINIMIZE 1009
#define IDC_MAXIMIZE 1010
#define IDC_CLOSE 1044
// Status bar controls.
#define IDC_STATUS_PROGRESS 1210
// The tab strip and its buttons.
#define IDC_TAB_STRIP 1220
#define IDC_TAB_NEW 1221
#define IDC_TAB_LIST 1222
#define IDC_TAB_LEFT 1223
#define IDC_TAB_RIGHT 1224

// Menu and accelerator commands of the frame.
#define ID_FILE_SAVE_AS 57604
#define ID_FILE_PAGE_SETUP 32784
#define ID_FILE_PRINT 57607
#define ID_FILE_PRINT_PREVIEW 32776
#define ID_FILE_CLOSE 57602
#define ID_EDIT_CUT 57635
#define ID_EDIT_COPY 57634
#define ID_EDIT_PASTE 57637
#define ID_EDIT_SELECT_ALL 57642
#define ID_EDIT_UNDO 57643
#define ID_EDIT_FIND 57636
#define ID_VIEW_STOP 32786
#define ID_VIEW_REFRESH 32787
#define ID_TEXT_LARGEST 32790
#define ID_TEXT_LARGER 32791
#define ID_TEXT_MEDIUM 32792
#define ID_TEXT_SMALLER 32793
#define ID_TEXT_SMALLEST 32794
#define ID_VIEW_FULL_SCREEN 32788
#define ID_BLOCK_POPUPS 32779
#define ID_CLEAN_UP_NOW 32799
#define ID_HELP_TOPICS 32771
#define ID_HELP_FAQ 32772
#define ID_HELP_UPDATES 32773
#define ID_HELP_REPORT 32774
#define ID_FOCUS_ADDRESS 32753
#define ID_FOCUS_SEARCH 32812
#define ID_TEXT_ZOOM_IN 32813
#define ID_TEXT_ZOOM_OUT 32814
#define ID_NEW_TAB 32801
#define ID_CLOSE_TAB 32802
#define ID_NEXT_TAB 32803
#define ID_PREVIOUS_TAB 32804
#define ID_TAB_CLOSE 32805
#define ID_TAB_CLOSE_OTHERS 32806
#define ID_TAB_REFRESH 32807
#define ID_TAB_REFRESH_ALL 32808
#define ID_TAB_NEW 32811
#define ID_TAB_STRIP_EXTRA 32850
#define ID_NEXT_PANE 57680
#define ID_PREV_PANE 57681
