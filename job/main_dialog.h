// The main dialog (resource 109): the mailing list, the time to send at,
// Send/Pause, Cancel, the status line and the progress bar of the one job
// that it runs.
#ifndef LETTERCAST_MAIN_DIALOG_H
#define LETTERCAST_MAIN_DIALOG_H

#include <windows.h>

#include "job/progress_text.h"

class SendJob;

#define LC_PROGRESS_TIMER_ID 5           // ProgressTimer
#define LC_PROGRESS_TIMER_MS 100
#define LC_TOOLTIP_CAPACITY 80

// The main dialog now open, NULL when there is none: only one may exist, so
// that two jobs never share JobProgress.
extern HWND ghOpenMainDialog;
// The job of the open main dialog, borrowed from the Announce command.
extern SendJob* gpMainDialogJob;
// The dialog's tooltips; NULL when they could not be made.
extern HWND ghMainTooltip;
// What the status line last showed.
extern StatusDisplayMemory gMainStatusDisplay;

// The dialog procedure; opened with DialogBoxParam on resource 109 and the
// SendJob as initial parameter. Ends with the completion flag of the job's
// WM_JOBDONE, 0 when closed without a job or refused.
INT_PTR CALLBACK MainDialog(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);

// The local time of the dialog's Send at picker as the UTC time that
// SendJob::m_ftSendAt holds, its seconds dropped, by the rules of the time
// zone pZone (NULL: the computer's own) for that date. False when the time
// cannot be converted.
bool SendAtToUtc(const SYSTEMTIME* pLocal, const TIME_ZONE_INFORMATION* pZone, FILETIME* pftUtc);

// The file-open dialog for the mailing list; on a choice the list path and
// LastToFolder follow it. True when a file was chosen.
bool ChooseListFile(HWND hDlg);

#endif
