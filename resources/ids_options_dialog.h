/* Resource ids of the Options dialog (110). */
#ifndef LETTERCAST_IDS_OPTIONS_DIALOG_H
#define LETTERCAST_IDS_OPTIONS_DIALOG_H

#define IDD_OPTIONS                 110
#define IDC_OPT_DO_SENDRECV         1006
#define IDC_OPT_HELP                1009
#define IDC_OPT_SAVE_ORIG           1010
#define IDC_OPT_LOGS                1011
#define IDC_OPT_WEB_ADDRESS         1019
#define IDC_OPT_PAUSE               1029
#define IDC_OPT_PAUSE_SPIN          1030
#define IDC_OPT_SENDRECV_COUNT      1031
#define IDC_OPT_SENDRECV_COUNT_SPIN 1032
#define IDC_OPT_PRESET              1033
#define IDC_OPT_PER_MINUTE          1034
#define IDC_OPT_PER_MINUTE_SPIN     1035
#define IDC_OPT_PER_DAY             1036
#define IDC_OPT_PER_DAY_SPIN        1037
#define IDC_OPT_PAUSE_VARIATION     1038
#define IDC_OPT_PAUSE_VARIATION_SPIN 1039

#endif
