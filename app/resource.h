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
#define IDC_PAGE_104 104
#define IDC_PAGE_105 105
#define IDC_PAGE_106 106
#define IDC_PAGE_107 107
#define IDC_PAGE_108 108
#define IDC_PAGE_109 109
#define IDC_PAGE_110 110

// Progress page: stage texts 200 + k, in-progress icons 300 + 2k, finished icons 301 + 2k.
#define IDC_STAGE_TEXT 200
#define IDC_STAGE_ICON 300
#define IDC_STATUS 105
#define IDC_PROGRESS 106

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
