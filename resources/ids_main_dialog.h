/* Resource ids of the main dialog (109). */
#ifndef LETTERCAST_IDS_MAIN_DIALOG_H
#define LETTERCAST_IDS_MAIN_DIALOG_H

#define IDD_MAIN_DIALOG             109
#define IDC_MAIN_OPTIONS            1005
#define IDC_MAIN_SEND_PAUSE         1008
#define IDC_MAIN_HELP               1009
#define IDC_MAIN_BROWSE             1011
#define IDC_MAIN_LIST_PATH          1013
#define IDC_MAIN_WEB_ADDRESS        1019
#define IDC_MAIN_PROGRESS           1020
#define IDC_MAIN_STATUS             1021
#define IDC_MAIN_OPEN               1026
#define IDC_MAIN_PREVIEW            1027
#define IDC_MAIN_SEND_AT            1028
#define IDC_MAIN_FROM               1029
#define IDC_MAIN_SHEET_LABEL        1030
#define IDC_MAIN_SHEET              1031

#endif
