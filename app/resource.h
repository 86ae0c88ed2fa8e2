// Control ids shared by the dialog templates and the code.
#pragma once

// Common frame of the wizard pages.
#define IDC_BANNER 100
#define IDC_BACK 101
#define IDC_NEXT 102
#define IDC_CANCEL 103
#define IDC_TITLE 400
#define IDC_SUBTITLE 401
#define IDC_LINE_TOP 150
#define IDC_LINE_BOTTOM 151
#define IDC_PANEL 152

// Page-specific controls are numbered from 104 on each page.

// DLG_START.
#define IDC_START_HEADING 104
#define IDC_START_INTRO 105
#define IDC_START_UNINSTALL 106
#define IDC_START_REPAIR 107
#define IDC_START_UNINSTALL_TEXT 109
#define IDC_START_REPAIR_TEXT 110

// DLG_BEFOREUNINSTALL and DLG_BEFOREREPAIR.
#define IDC_BU_TEXT 104
#define IDC_BU_DATAFILES 105
#define IDC_BR_TEXT 104

// DLG_BROWSEFORSETUP.
#define IDC_BS_TEXT 104
#define IDC_BS_LABEL 105
#define IDC_BS_FOLDER 106
#define IDC_BS_BROWSE 107

// Progress page: stage texts 200 + k, in-progress icons 300 + 2k, finished icons 301 + 2k
// for the stages k = 0 to 6.
#define IDC_UN_TEXT 104
#define IDC_STAGE_TEXT 200
#define IDC_STAGE_ICON 300
#define IDC_STATUS 105
#define IDC_PROGRESS 106
#define STAGE_COUNT 7

// DLG_REBOOT and DLG_UNINSTALLSUCCEEDED.
#define IDC_RB_TEXT 104
#define IDC_RB_NOW 105
#define IDC_RB_LATER 106
#define IDC_US_TEXT 104

// Shared-file prompt.
#define IDC_DS_QUESTION 101
#define IDC_DS_FILE_LABEL 103
#define IDC_DS_FILE 104
#define IDC_DS_FOLDER_LABEL 105
#define IDC_DS_FOLDER 106
#define IDC_DS_DELETE 107
#define IDC_DS_DELETE_ALL 108
#define IDC_DS_KEEP 109
#define IDC_DS_KEEP_ALL 110
