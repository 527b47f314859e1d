// Resource ids of varnel.rc. The program's code names the same ids in src/ui/*_dlg.h;
// the end-to-end resource check compares both.
#pragma once

#define IDC_STATIC (-1)

#define IDD_ABOUT 100
#define IDD_VARNEL 102
#define IDD_MAINTE 129
#define IDD_MESSAGE 137

#define IDI_MAIN 128
#define IDI_ARROW 133
#define IDI_QUICKBLAZE 138

#define IDB_EXIT 132
#define IDB_REBOOT 133
#define IDB_UPDATE 134
#define IDB_BANNER 136

// Maintenance dialog.
#define IDC_LOAD 3
#define IDC_PARAM_FILE 1000
#define IDC_MAIN_NAME 1001
#define IDC_MAIN_SIZE 1002
#define IDC_INQUIRY_REV 1003
#define IDC_OUTPUT_FILE 1004
#define IDC_GENERATE 1005
#define IDC_CORE_NAME 1007
#define IDC_CORE_SIZE 1008
#define IDC_BROWSE 1009
#define IDC_MAINTE_STATUS 1010
#define IDC_PRODUCT_LIST 1023
#define IDC_CUSTOMER_LIST 1024
#define IDC_FILTER_1 1025
#define IDC_OPT_FILTER_FREE_MINOR 1029
#define IDC_OPT_ONLY_NEWER 1030
#define IDC_OPT_HIDE_COPYRIGHT 1031
#define IDC_OPT_SAME_CUSTOMER 1032

// Updater dialog.
#define IDC_UPDATE 1011
#define IDC_INSTRUCTION 1012
#define IDC_DRIVE_LIST 1013
#define IDC_CUR_LABEL 1014
#define IDC_NEW_LABEL 1015
#define IDC_CUR_VERSION 1016
#define IDC_NEW_VERSION 1017
#define IDC_UPDATE_CAPTION 1018
#define IDC_EXIT_CAPTION 1019
#define IDC_MESSAGE_AREA 1020
#define IDC_HEADLINE 1021
#define IDC_ARROW 1022
#define IDC_PROGRESS 1035

// About box and message dialog.
#define IDC_COPYRIGHT 1030
#define IDC_MESSAGE_TEXT 1034
