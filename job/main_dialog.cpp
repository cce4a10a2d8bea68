#include "job/main_dialog.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "engine/job_progress.h"
#include "engine/send_job.h"
#include "engine/sender_account.h"
#include "job/preview_dialog.h"
#include "mailing/bounded_copy.h"
#include "mailing/list_reader.h"
#include "mailing/text_conversion.h"
#include "mailing/workbook_list.h"
#include "resources/product.h"
#include "resources/resource.h"
#include "settings/data_paths.h"
#include "settings/settings_store.h"
#include "ui/dialog_placement.h"
#include "ui/help.h"
#include "ui/hyperlink_static.h"
#include "ui/logs_dialog.h"
#include "ui/message_box.h"
#include "ui/options_dialog.h"
#include "ui/version_info.h"

HWND ghOpenMainDialog = NULL;
SendJob* gpMainDialogJob = NULL;
HWND ghMainTooltip = NULL;
StatusDisplayMemory gMainStatusDisplay = { "", LC_NO_ESTIMATE, 0 };

namespace {

const char kszSendText[] = "&Send";
const char kszPauseText[] = "&Pause";
const char kszSendTip[] = "Start Sending Emails";
const char kszPauseTip[] = "Pause Sending";
const char kszCancellingText[] = "Cancelling Gracefully...";
const char kszCompletedText[] = "Completed Successfully";
const char kszNotCompleteText[] = "Not Complete (See Current Job Log)";
const char kszNotStartedText[] = "Not Started";

#define LC_TITLE_CAPACITY 128
#define LC_JOB_RESULT_CAPACITY (LC_STATUS_CAPACITY + 128)
#define LC_SEND_AT_TEXT_CAPACITY 64
#define LC_FILETIME_UNITS_PER_MINUTE (60LL * 10000000LL)

// The picker shows the day and the time to the minute, whatever the
// locale's short date leaves out; the question names the time alike. The
// month is written out: some pickers draw "MMM" wrongly (Wine's among them).
const char kszSendAtFormat[] = "ddd d MMMM yyyy  HH:mm";
const char kszSendAtDateFormat[] = "ddd d MMMM yyyy";
const char kszSendAtTimeFormat[] = "HH:mm";

struct ButtonTip {
    int nId;
    const char* pszText;
};

const ButtonTip kButtonTips[] = {
    { IDC_MAIN_OPEN, "Open File For Viewing" },
    { IDC_MAIN_BROWSE, "Browse For File" },
    { IDC_MAIN_SEND_PAUSE, kszSendTip },
    { IDCANCEL, "Cancel and Return to Message" },
    { IDC_MAIN_HELP, "Display the Online Help" },
    { IDC_MAIN_OPTIONS, "Adjust Lettercast Options" },
    { IDC_MAIN_PREVIEW, "Preview Every Recipient's Copy" },
};

// The compose window, which owns everything that the dialog opens besides
// its own message boxes.
HWND ComposeWindow(HWND hDlg)
{
    return GetWindow(hDlg, GW_OWNER);
}

// Registers or rewrites one button's tip; a dialog without tooltips skips it.
void SetButtonTip(HWND hDlg, int nId, const char* pszText, bool bAdd)
{
    if (ghMainTooltip == NULL)
        return;
    char szTip[LC_TOOLTIP_CAPACITY];
    if (strlen(pszText) >= sizeof(szTip))
        return;
    strcpy(szTip, pszText);
    TOOLINFOA info;
    memset(&info, 0, sizeof(info));
    // The size that every version of the control accepts.
    info.cbSize = TTTOOLINFOA_V2_SIZE;
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    info.hwnd = hDlg;
    info.uId = (UINT_PTR)GetDlgItem(hDlg, nId);
    info.lpszText = szTip;
    SendMessageA(ghMainTooltip, bAdd ? TTM_ADDTOOLA : TTM_UPDATETIPTEXTA, 0, (LPARAM)&info);
}

void CreateTooltips(HWND hDlg)
{
    INITCOMMONCONTROLSEX init = { sizeof(init), ICC_WIN95_CLASSES };
    InitCommonControlsEx(&init);
    ghMainTooltip = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, NULL, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                                    CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hDlg, NULL,
                                    ghInstance, NULL);
    if (ghMainTooltip == NULL)
        return;
    SetWindowPos(ghMainTooltip, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    for (const ButtonTip& tip : kButtonTips)
        SetButtonTip(hDlg, tip.nId, tip.pszText, true);
}

void ShowSendPauseState(HWND hDlg, const char* pszText, const char* pszTip)
{
    SetDlgItemTextA(hDlg, IDC_MAIN_SEND_PAUSE, pszText);
    SetButtonTip(hDlg, IDC_MAIN_SEND_PAUSE, pszTip, false);
}

// What can change the job's list and its start: only while no job runs.
void EnableListInput(HWND hDlg, BOOL bEnable)
{
    EnableWindow(GetDlgItem(hDlg, IDC_MAIN_LIST_PATH), bEnable);
    EnableWindow(GetDlgItem(hDlg, IDC_MAIN_BROWSE), bEnable);
    EnableWindow(GetDlgItem(hDlg, IDC_MAIN_SHEET), bEnable);
    EnableWindow(GetDlgItem(hDlg, IDC_MAIN_PREVIEW), bEnable);
    EnableWindow(GetDlgItem(hDlg, IDC_MAIN_SEND_AT), bEnable);
}

// Unticked, the picker means at once; its time stands at the present
// minute, for the user to move on from when ticking it.
void InitSendAt(HWND hDlg)
{
    HWND hPicker = GetDlgItem(hDlg, IDC_MAIN_SEND_AT);
    SendMessageA(hPicker, DTM_SETFORMATA, 0, (LPARAM)kszSendAtFormat);
    SYSTEMTIME stNow;
    GetLocalTime(&stNow);
    stNow.wSecond = 0;
    stNow.wMilliseconds = 0;
    SendMessageA(hPicker, DTM_SETSYSTEMTIME, GDT_VALID, (LPARAM)&stNow);
    SendMessageA(hPicker, DTM_SETSYSTEMTIME, GDT_NONE, (LPARAM)&stNow);
}

LONGLONG FileTimeUnits(const FILETIME& ft)
{
    return (LONGLONG)(((ULONGLONG)ft.dwHighDateTime << 32) | ft.dwLowDateTime);
}

// The picker's time as the question names it.
void FormatSendAt(const SYSTEMTIME* pLocal, char* pszText, int cchText)
{
    // The day of the week worked out from the date, not taken from the picker.
    SYSTEMTIME st = *pLocal;
    FILETIME ft;
    if (SystemTimeToFileTime(&st, &ft))
        FileTimeToSystemTime(&ft, &st);
    char szDate[LC_SEND_AT_TEXT_CAPACITY] = "";
    char szTime[LC_SEND_AT_TEXT_CAPACITY] = "";
    GetDateFormatA(LOCALE_USER_DEFAULT, 0, &st, kszSendAtDateFormat, szDate, sizeof(szDate));
    GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &st, kszSendAtTimeFormat, szTime, sizeof(szTime));
    snprintf(pszText, cchText, "%s %s", szDate, szTime);
}

// The start of a new job from the picker into the job: zero for at once.
// A time before the present minute asks whether to send now; false when the
// user would rather change it.
bool TakeSendAt(HWND hDlg)
{
    FILETIME ftSendAt = { 0, 0 };
    SYSTEMTIME stLocal;
    if (SendDlgItemMessageA(hDlg, IDC_MAIN_SEND_AT, DTM_GETSYSTEMTIME, 0, (LPARAM)&stLocal) == GDT_VALID &&
        SendAtToUtc(&stLocal, NULL, &ftSendAt)) {
        FILETIME ftNow;
        GetSystemTimeAsFileTime(&ftNow);
        LONGLONG llMinuteNow = FileTimeUnits(ftNow) / LC_FILETIME_UNITS_PER_MINUTE;
        LONGLONG llMinuteAt = FileTimeUnits(ftSendAt) / LC_FILETIME_UNITS_PER_MINUTE;
        if (llMinuteAt < llMinuteNow) {
            char szAt[LC_SEND_AT_TEXT_CAPACITY * 2];
            FormatSendAt(&stLocal, szAt, sizeof(szAt));
            // No is the default: a mailing sent at the wrong time cannot be
            // called back.
            if (ShowStringMessageWith(hDlg, IDS_SEND_AT_PASSED, szAt, LC_PRODUCT_NAME,
                                      MB_ICONQUESTION | MB_YESNO | MB_DEFBUTTON2) != IDYES)
                return false;
        }
        // The present minute is now.
        if (llMinuteAt <= llMinuteNow)
            ftSendAt.dwLowDateTime = ftSendAt.dwHighDateTime = 0;
    }
    if (gpMainDialogJob)
        gpMainDialogJob->m_ftSendAt = ftSendAt;
    return true;
}

// Back to how the dialog stood before Send, the focus on nFocusId.
void ReturnToReady(HWND hDlg, int nFocusId)
{
    EnableListInput(hDlg, TRUE);
    ShowWindow(GetDlgItem(hDlg, IDC_MAIN_PROGRESS), SW_HIDE);
    SetFocus(GetDlgItem(hDlg, nFocusId));
}

// The edit box into the list path buffer, which is one character larger
// than the edit's limit.
void ReadListPath(HWND hDlg)
{
    GetDlgItemTextA(hDlg, IDC_MAIN_LIST_PATH, JobOptions.ToList, LC_PATH_CAPACITY);
}

// Ends the dialog and gives up the one-dialog flag.
void CloseMainDialog(HWND hDlg, INT_PTR nResult)
{
    EndDialog(hDlg, nResult);
    if (ghOpenMainDialog == hDlg) {
        ghOpenMainDialog = NULL;
        gpMainDialogJob = NULL;
    }
}

// Which account the copies go from, before the first of them arrives.
void ShowSender(HWND hDlg)
{
    if (gpMainDialogJob == NULL)
        return;
    SenderAccount sender;
    ReadSenderAccount(gpMainDialogJob->m_pParent, &sender);
    SetDlgItemTextW(hDlg, IDC_MAIN_FROM, (L"From: " + SenderText(sender)).c_str());
}

BOOL OnInitDialog(HWND hDlg, LPARAM lParam)
{
    if (ghOpenMainDialog != NULL) {
        // The running job's dialog keeps the flag; this one leaves at once.
        ShowStringMessage(hDlg, IDS_ONE_MAILING_AT_A_TIME, LC_PRODUCT_NAME, 0);
        EndDialog(hDlg, 0);
        return TRUE;
    }
    ghOpenMainDialog = hDlg;
    CenterOnScreen(hDlg);

    int nMajor = 0, nMinor = 0;
    GetModuleVersion(&nMajor, &nMinor);
    char szTitle[LC_TITLE_CAPACITY];
    snprintf(szTitle, sizeof(szTitle), "%s %d.%d", LC_PRODUCT_NAME, nMajor, nMinor);
    SetWindowTextA(hDlg, szTitle);
    AttachHyperlinkItem(hDlg, IDC_MAIN_WEB_ADDRESS);

    gpMainDialogJob = (SendJob*)lParam;
    ResetStatusDisplay(&gMainStatusDisplay);

    // The edit tells of the new text itself, which enables Open when there is some.
    SendDlgItemMessageA(hDlg, IDC_MAIN_LIST_PATH, EM_LIMITTEXT, LC_PATH_CAPACITY - 1, 0);
    SetDlgItemTextA(hDlg, IDC_MAIN_LIST_PATH, JobOptions.ToList);
    DetectDelimiter();
    EnableWindow(GetDlgItem(hDlg, IDC_MAIN_OPEN), JobOptions.ToList[0] != '\0');

    SetDlgItemTextA(hDlg, IDC_MAIN_SEND_PAUSE, kszSendText);
    ShowSender(hDlg);
    CreateTooltips(hDlg);
    InitSendAt(hDlg);

    JobProgress.progressPos = 0;
    JobProgress.percentDone = 0.0;
    HWND hProgress = GetDlgItem(hDlg, IDC_MAIN_PROGRESS);
    ShowWindow(hProgress, SW_HIDE);
    SendMessageA(hProgress, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    JobProgress.statusText[0] = '\0';
    SetDlgItemTextA(hDlg, IDC_MAIN_STATUS, JobProgress.statusText);
    return TRUE;
}

// The sheet chosen in the Sheet box into JobOptions.ToSheet.
void OnSheetChange(HWND hDlg)
{
    HWND hSheet = GetDlgItem(hDlg, IDC_MAIN_SHEET);
    LRESULT nItem = SendMessageW(hSheet, CB_GETCURSEL, 0, 0);
    LRESULT cchItem = nItem == CB_ERR ? CB_ERR : SendMessageW(hSheet, CB_GETLBTEXTLEN, (WPARAM)nItem, 0);
    JobOptions.ToSheet[0] = '\0';
    if (cchItem == CB_ERR)
        return;
    std::wstring name((size_t)cchItem + 1, L'\0');
    SendMessageW(hSheet, CB_GETLBTEXT, (WPARAM)nItem, (LPARAM)&name[0]);
    char* pszName = WideToCodePageHeap(name.c_str(), CP_UTF8);
    if (pszName && strlen(pszName) < LC_SHEET_CAPACITY)
        strcpy(JobOptions.ToSheet, pszName);
    free(pszName);
}

// A workbook of several sheets shows them in the Sheet box, the one chosen
// last selected, else its first; a workbook of one sheet reads that one.
// A path that is no workbook it can read hides the box and leaves the
// sheet chosen last alone, so that a path typed a letter at a time does not
// lose it.
void ShowSheets(HWND hDlg)
{
    std::vector<std::string> names;
    bool bSheets = IsWorkbookFile(JobOptions.ToList) && ReadSheetNames(JobOptions.ToList, &names);
    if (bSheets && names.size() < 2)
        JobOptions.ToSheet[0] = '\0';
    bool bShow = bSheets && names.size() >= 2;
    HWND hSheet = GetDlgItem(hDlg, IDC_MAIN_SHEET);
    ShowWindow(GetDlgItem(hDlg, IDC_MAIN_SHEET_LABEL), bShow ? SW_SHOW : SW_HIDE);
    ShowWindow(hSheet, bShow ? SW_SHOW : SW_HIDE);
    if (!bShow)
        return;
    SendMessageW(hSheet, CB_RESETCONTENT, 0, 0);
    int nChosen = 0;
    for (size_t i = 0; i < names.size(); ++i) {
        BSTR bstrName = CodePageToBstr(names[i].c_str(), CP_UTF8);
        SendMessageW(hSheet, CB_ADDSTRING, 0, (LPARAM)(bstrName ? bstrName : L""));
        SysFreeString(bstrName);
        if (names[i] == JobOptions.ToSheet)
            nChosen = (int)i;
    }
    SendMessageW(hSheet, CB_SETCURSEL, (WPARAM)nChosen, 0);
    OnSheetChange(hDlg);
}

void OnListPathChange(HWND hDlg)
{
    ReadListPath(hDlg);
    EnableWindow(GetDlgItem(hDlg, IDC_MAIN_OPEN), JobOptions.ToList[0] != '\0');
    ShowSheets(hDlg);
}

void OnSendPause(HWND hDlg)
{
    EnableListInput(hDlg, FALSE);
    HWND hProgress = GetDlgItem(hDlg, IDC_MAIN_PROGRESS);
    SendMessageA(hProgress, PBM_SETPOS, JobProgress.progressPos, 0);
    ShowWindow(hProgress, SW_SHOW);

    if (JobProgress.jobState == JobRunning) {
        // The engine holds at its next poll until Send is pressed again.
        JobProgress.jobState = JobPaused;
        ShowSendPauseState(hDlg, kszSendText, kszSendTip);
        return;
    }

    ReadListPath(hDlg);
    if (JobOptions.ToList[0] == '\0') {
        ShowStringMessage(hDlg, IDS_FILL_IN_MAILING_LIST, LC_PRODUCT_NAME, 0);
        ReturnToReady(hDlg, IDC_MAIN_LIST_PATH);
        return;
    }
    // Only a new job takes the start time; a paused one goes on at once.
    if (JobProgress.jobState == JobIdle && !TakeSendAt(hDlg)) {
        ReturnToReady(hDlg, IDC_MAIN_SEND_AT);
        return;
    }

    DetectDelimiter();
    int nPreviousState = JobProgress.jobState;
    JobProgress.jobState = JobRunning;
    ShowSendPauseState(hDlg, kszPauseText, kszPauseTip);
    if (nPreviousState == JobPaused)
        return;

    // A new job. The last job's log and sent list stay until this job opens
    // its own: a job that ends before that must not destroy the only record
    // of an interrupted one.
    ResetJobReport();
    JobProgress.progressPos = 0;
    JobProgress.percentDone = 0.0;
    JobProgress.sentCount = 0;
    JobProgress.dialogWnd = hDlg;
    SetTimer(hDlg, LC_PROGRESS_TIMER_ID, LC_PROGRESS_TIMER_MS, NULL);
    if (gpMainDialogJob == NULL) {
        PostMessageA(hDlg, WM_JOBDONE, 0, 0);
        return;
    }
    // Returns when the job has ended; its WM_JOBDONE is then waiting.
    gpMainDialogJob->Run();
}

bool ConfirmStop(HWND hDlg)
{
    char szText[LC_STATUS_CAPACITY];
    snprintf(szText, sizeof(szText), "Stop sending? %d of %d have been sent; the rest can be sent later",
             JobProgress.sentCount + JobProgress.alreadySentCount, JobProgress.totalCount);
    return MessageBoxA(hDlg, szText, LC_PRODUCT_NAME, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

void OnCancel(HWND hDlg)
{
    // Escape and the close command arrive even when the button is disabled,
    // that is once the job has been told to stop.
    if (!IsWindowEnabled(GetDlgItem(hDlg, IDCANCEL)))
        return;
    // Esc, the close box and the button all come here. A stop ends what
    // can only be finished by sending the rest later, so a running or paused
    // job asks first, No being the default: one Esc too many keeps it going.
    if (JobProgress.jobState != JobIdle && !ConfirmStop(hDlg))
        return;
    int nPreviousState = JobProgress.jobState;
    JobProgress.jobState = JobIdle;
    ShowSendPauseState(hDlg, kszSendText, kszSendTip);
    if (nPreviousState == JobIdle) {
        // A path typed but never sent stays in memory only.
        CloseMainDialog(hDlg, 0);
        return;
    }
    snprintf(JobProgress.statusText, LC_STATUS_CAPACITY, "%s", kszCancellingText);
    EnableWindow(GetDlgItem(hDlg, IDC_MAIN_SEND_PAUSE), FALSE);
    EnableWindow(GetDlgItem(hDlg, IDCANCEL), FALSE);
    // The dialog closes now; the engine stops at its next poll and its own
    // WM_JOBDONE goes with the window.
    PostMessageA(hDlg, WM_JOBDONE, 0, 0);
}

void OnOpen(HWND hDlg)
{
    ReadListPath(hDlg);
    OpenForViewing(ComposeWindow(hDlg), JobOptions.ToList);
}

void OnHelp(HWND hDlg)
{
    ShowHelpTopic(hDlg, IDS_TOPIC_MAILING_LISTS);
}

void OnPreview(HWND hDlg)
{
    if (JobProgress.jobState != JobIdle)
        return;
    ReadListPath(hDlg);
    if (JobOptions.ToList[0] == '\0') {
        ShowStringMessage(hDlg, IDS_FILL_IN_MAILING_LIST, LC_PRODUCT_NAME, 0);
        SetFocus(GetDlgItem(hDlg, IDC_MAIN_LIST_PATH));
        return;
    }
    DetectDelimiter();
    PreviewRequest request;
    request.pJob = gpMainDialogJob;
    request.pszListPath = JobOptions.ToList;
    request.nIndex = 1;
    ReadPreviewMessage(gpMainDialogJob ? gpMainDialogJob->m_pParent : NULL, &request.message);
    DialogBoxParamA(ghInstance, MAKEINTRESOURCEA(IDD_PREVIEW), hDlg, PreviewDialog, (LPARAM)&request);
}

void OnOptions(HWND hDlg)
{
    DialogBoxParamA(ghInstance, MAKEINTRESOURCEA(IDD_OPTIONS), ComposeWindow(hDlg), OptionsDialog, 0);
}

void OnWebAddress(HWND hDlg)
{
    ShellExecuteA(ComposeWindow(hDlg), "open", WebAddress, NULL, NULL, SW_SHOWNORMAL);
}

void OnCommand(HWND hDlg, int nId, int nCode)
{
    switch (nId) {
    case IDC_MAIN_LIST_PATH:
        if (nCode == EN_CHANGE)
            OnListPathChange(hDlg);
        break;
    case IDC_MAIN_BROWSE:
        ChooseListFile(hDlg);
        break;
    case IDC_MAIN_SHEET:
        if (nCode == CBN_SELCHANGE)
            OnSheetChange(hDlg);
        break;
    case IDC_MAIN_OPEN:
        OnOpen(hDlg);
        break;
    case IDC_MAIN_SEND_PAUSE:
        OnSendPause(hDlg);
        break;
    case IDCANCEL:
        OnCancel(hDlg);
        break;
    case IDC_MAIN_HELP:
        OnHelp(hDlg);
        break;
    case IDC_MAIN_OPTIONS:
        OnOptions(hDlg);
        break;
    case IDC_MAIN_PREVIEW:
        OnPreview(hDlg);
        break;
    case IDC_MAIN_WEB_ADDRESS:
        OnWebAddress(hDlg);
        break;
    default:
        break;
    }
}

void OnTimer(HWND hDlg)
{
    SendDlgItemMessageA(hDlg, IDC_MAIN_PROGRESS, PBM_SETPOS, JobProgress.progressPos, 0);
    DWORD dwNow = GetTickCount();
    int nSeconds = JobRemainingSeconds(JobOwnPercentDone(), JobProgress.runTimeMs, JobProgress.limitedRemainingMs,
                                       JobProgress.limitedEstimateTick, dwNow);
    char szLine[LC_STATUS_LINE_CAPACITY];
    if (NextStatusLineWith(&gMainStatusDisplay, JobProgress.statusText, nSeconds, JobProgress.jobState, dwNow, szLine,
                           sizeof(szLine)))
        SetDlgItemTextA(hDlg, IDC_MAIN_STATUS, szLine);
}

void OnJobDone(HWND hDlg, WPARAM wCompleted)
{
    // After a cancel the engine's own WM_JOBDONE may still find the window
    // before it goes: the dialog has already ended.
    if (ghOpenMainDialog != hDlg)
        return;
    JobProgress.jobState = JobIdle;
    KillTimer(hDlg, LC_PROGRESS_TIMER_ID);

    JobProgress.statusText[0] = '\0';
    ResetStatusDisplay(&gMainStatusDisplay);
    JobProgress.progressPos = 0;
    JobProgress.percentDone = 0.0;

    // A job that ended before opening its logs has none to point to: the
    // last job's logs still stand, so the box names the reason instead.
    const char* pszResult = kszNotCompleteText;
    char szNotStarted[LC_STATUS_CAPACITY + 32];
    if (wCompleted == 1) {
        pszResult = kszCompletedText;
    } else if (!JobProgress.logsOpened) {
        char szReason[LC_STATUS_CAPACITY];
        // The reason up to its first line end, cut to the buffer.
        CopyBounded(szReason, sizeof(szReason), JobProgress.endReason, strcspn(JobProgress.endReason, "\r\n"));
        if (szReason[0])
            snprintf(szNotStarted, sizeof(szNotStarted), "%s (%s)", kszNotStartedText, szReason);
        else
            snprintf(szNotStarted, sizeof(szNotStarted), "%s", kszNotStartedText);
        pszResult = szNotStarted;
    }
    SetDlgItemTextA(hDlg, IDC_MAIN_STATUS, pszResult);
    if (wCompleted == 1)
        SendDlgItemMessageA(hDlg, IDC_MAIN_PROGRESS, PBM_SETPOS, 100, 0);

    char szText[LC_JOB_RESULT_CAPACITY];
    int cch = snprintf(szText, sizeof(szText), "Job %s\n\nSent: %d", pszResult, JobProgress.sentCount);
    // The recipients the job worked on and did not reach, so that the
    // figures add up to the list.
    if (JobProgress.logsOpened && JobProgress.notSentCount > 0 && cch > 0 && cch < (int)sizeof(szText))
        cch += snprintf(szText + cch, sizeof(szText) - cch, "\nNot sent: %d (see the Current Job Log)",
                        JobProgress.notSentCount);
    if (JobProgress.logsOpened && JobProgress.skippedCount > 0 && cch > 0 && cch < (int)sizeof(szText))
        cch += snprintf(szText + cch, sizeof(szText) - cch, "\nSkipped: %d (see the Current Job Log)",
                        JobProgress.skippedCount);
    if (JobProgress.logsOpened && JobProgress.alreadySentCount > 0 && cch > 0 && cch < (int)sizeof(szText))
        snprintf(szText + cch, sizeof(szText) - cch, "\nAlready sent by the last job: %d",
                 JobProgress.alreadySentCount);
    // A job that did not complete is a warning: someone did not get the message.
    MessageBoxA(hDlg, szText, LC_PRODUCT_NAME, wCompleted == 1 ? MB_OK : MB_OK | MB_ICONWARNING);

    SaveOptions();
    CloseMainDialog(hDlg, wCompleted == 1 ? 1 : 0);
}

void OnDestroy(HWND hDlg)
{
    // The tooltip window goes with the dialog that owns it.
    if (ghMainTooltip && GetWindow(ghMainTooltip, GW_OWNER) == hDlg)
        ghMainTooltip = NULL;
    if (ghOpenMainDialog != hDlg)
        return;
    // Torn down without a close of its own (the host going away): the next
    // Announce must not be refused.
    KillTimer(hDlg, LC_PROGRESS_TIMER_ID);
    JobProgress.jobState = JobIdle;
    ghOpenMainDialog = NULL;
    gpMainDialogJob = NULL;
}

}  // namespace

bool SendAtToUtc(const SYSTEMTIME* pLocal, const TIME_ZONE_INFORMATION* pZone, FILETIME* pftUtc)
{
    SYSTEMTIME stLocal = *pLocal;
    stLocal.wSecond = 0;
    stLocal.wMilliseconds = 0;
    // The zone's rules for that date, not today's bias: a job set in winter
    // for a summer day starts at the summer hour.
    SYSTEMTIME stUtc;
    if (!TzSpecificLocalTimeToSystemTime(pZone, &stLocal, &stUtc))
        return false;
    return SystemTimeToFileTime(&stUtc, pftUtc) != FALSE;
}

bool ChooseListFile(HWND hDlg)
{
    static const char kszFilters[] =
        "Excel Workbooks and Text Lists (*.xlsx, *.xlsm, *.csv, *.txt)\0*.xlsx;*.xlsm;*.csv;*.txt\0"
        "Excel Workbooks (*.xlsx, *.xlsm)\0*.xlsx;*.xlsm\0"
        "Tab Delimited or Comma Separated (*.txt, *.csv)\0*.txt;*.csv\0"
        "Tab Delimited Text (*.txt)\0*.txt\0"
        "Comma Separated Values (*.csv)\0*.csv\0"
        "All (*.*)\0*.*\0";
    char szTitle[LC_STRING_MESSAGE_CAPACITY];
    if (LoadStringA(ghInstance, IDS_SELECT_MAILING_LIST, szTitle, sizeof(szTitle)) <= 0)
        szTitle[0] = '\0';
    char szFile[LC_PATH_CAPACITY] = "";

    OPENFILENAMEA ofn;
    memset(&ofn, 0, sizeof(ofn));
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = ComposeWindow(hDlg);
    ofn.lpstrFilter = kszFilters;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = szFile;
    ofn.nMaxFile = sizeof(szFile);
    ofn.lpstrInitialDir = JobOptions.LastToFolder;
    ofn.lpstrTitle = szTitle;
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    if (!GetOpenFileNameA(&ofn))
        return false;

    // szFile and both targets share one capacity, so every copy fits.
    const char* pszSlash = strrchr(szFile, '\\');
    if (pszSlash) {
        size_t cchFolder = (size_t)(pszSlash - szFile) + 1;
        memcpy(JobOptions.LastToFolder, szFile, cchFolder);
        JobOptions.LastToFolder[cchFolder] = '\0';
    }
    strcpy(JobOptions.ToList, szFile);
    SetDlgItemTextA(hDlg, IDC_MAIN_LIST_PATH, JobOptions.ToList);
    return true;
}

INT_PTR CALLBACK MainDialog(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_INITDIALOG:
        return OnInitDialog(hDlg, lParam);
    case WM_COMMAND:
        OnCommand(hDlg, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_TIMER:
        if (wParam == LC_PROGRESS_TIMER_ID)
            OnTimer(hDlg);
        return TRUE;
    case WM_JOBDONE:
        OnJobDone(hDlg, wParam);
        return TRUE;
    case WM_HELP:
        OnHelp(hDlg);
        return TRUE;
    case WM_CLOSE:
        PostMessageA(hDlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), (LPARAM)GetDlgItem(hDlg, IDCANCEL));
        return TRUE;
    case WM_DESTROY:
        OnDestroy(hDlg);
        return FALSE;
    default:
        return FALSE;
    }
}
