/* Resource ids of the Preview dialog (112). */
#ifndef LETTERCAST_IDS_PREVIEW_DIALOG_H
#define LETTERCAST_IDS_PREVIEW_DIALOG_H

#define IDD_PREVIEW                 112
#define IDC_PREVIEW_POSITION        1201
#define IDC_PREVIEW_TEXT            1202
#define IDC_PREVIEW_PREVIOUS        1203
#define IDC_PREVIEW_NEXT            1204
#define IDC_PREVIEW_TEST            1205
#define IDC_PREVIEW_HELP            1206

#endif
