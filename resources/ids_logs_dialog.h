/* Resource ids of the Logs dialog (111). */
#ifndef LETTERCAST_IDS_LOGS_DIALOG_H
#define LETTERCAST_IDS_LOGS_DIALOG_H

#define IDD_LOGS                    111
#define IDC_LOGS_HELP               1009
#define IDC_LOGS_JOB_HISTORY        1013
#define IDC_LOGS_LAST_JOB_LOG       1014
#define IDC_LOGS_SENT_LIST          1015
#define IDC_LOGS_WEB_ADDRESS        1019

#endif
