/* Resource ids of the add-in. */
#ifndef LETTERCAST_RESOURCE_H
#define LETTERCAST_RESOURCE_H

/* String table: message texts, help topic keywords, titles. */
#define IDS_NO_DLL_DIRECTORY        2
#define IDS_TOPIC_OPTIONS           3
#define IDS_FILL_IN_MAILING_LIST    4
#define IDS_ONE_MAILING_AT_A_TIME   5
#define IDS_LIST_OPEN_FAILED        6
#define IDS_OUT_OF_MEMORY           7
#define IDS_NO_EMAIL_FIELD          8
#define IDS_ASK_MAILING_LIST_HELP   9
#define IDS_TOPIC_MAILING_LISTS     10
#define IDS_CURRENT_LOG_FAILED      12
#define IDS_HISTORY_LOG_FAILED      13
#define IDS_SENT_LOG_FAILED         14
#define IDS_MERGE_FAILED            15
#define IDS_SELECT_MAILING_LIST     16
#define IDS_NO_APPDATA_DIRECTORY    17
#define IDS_SHELL_BAD_ASSOCIATION   36
#define IDS_SHELL_NO_ASSOCIATION    37
#define IDS_SHELL_OUT_OF_MEMORY     38
#define IDS_SHELL_OTHER_ERROR       39
#define IDS_DELAY_OUT_OF_RANGE      40
#define IDS_TOPIC_JOB_LOGS          45
#define IDS_TOPIC_PREVIEW           46
#define IDS_PER_MINUTE_OUT_OF_RANGE 47
#define IDS_PER_DAY_OUT_OF_RANGE    48
#define IDS_VARIATION_OUT_OF_RANGE  49
#define IDS_OWN_LIMITS              50
#define IDS_SEND_AT_PASSED          51

/* Dialogs: one header of numbered ids per dialog. */
#include "resources/ids_main_dialog.h"
#include "resources/ids_options_dialog.h"
#include "resources/ids_logs_dialog.h"
#include "resources/ids_preview_dialog.h"

#endif
