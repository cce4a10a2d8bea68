#include "standin/host/job_script.h"

#include <windows.h>
#include <commctrl.h>

#include <stdio.h>
#include <string.h>

#include <vector>

#include "resources/resource.h"
#include "standin/common/message_box_reading.h"

namespace {

JobScript* gpScript = NULL;
HHOOK ghHook = NULL;
HWND ghMainDialog = NULL;
// The Options dialog while the script waits for it (bAwaitingOptions) and
// chooses the preset there.
bool gbAwaitingOptions = false;
HWND ghOptionsDialog = NULL;
// A box activated again (after a window above it closed) is the same box.
std::vector<HWND> gSeenBoxes;

const char kCompletedText[] = "Job Completed Successfully";

bool IsMainDialog(HWND hWnd)
{
    char szClass[16];
    return GetClassNameA(hWnd, szClass, sizeof(szClass)) && strcmp(szClass, "#32770") == 0 &&
           GetDlgItem(hWnd, IDC_MAIN_LIST_PATH) != NULL && GetDlgItem(hWnd, IDC_MAIN_SEND_PAUSE) != NULL;
}

// Line ends of a box's text written as \n, so that one box is one line.
std::string OneLine(const std::string& text)
{
    std::string line;
    for (char ch : text) {
        if (ch == '\n')
            line += "\\n";
        else if (ch != '\r')
            line += ch;
    }
    return line;
}

void AnswerBox(HWND hBox)
{
    std::vector<int> buttons;
    UINT uStyle = ReadMessageBoxStyle(hBox, &buttons);
    std::string caption = WindowText(hBox);
    std::string text = WindowText(GetDlgItem(hBox, LC_MSGBOX_TEXT_ID));
    ++gpScript->nBoxes;
    if (gpScript->pBoxes) {
        fprintf(gpScript->pBoxes, "%s\t0x%08X\t%s\n", caption.c_str(), uStyle, OneLine(text).c_str());
        fflush(gpScript->pBoxes);
    }
    if (strncmp(text.c_str(), kCompletedText, strlen(kCompletedText)) == 0)
        gpScript->bCompleted = true;

    int nAnswer = DefaultMessageBoxButton(hBox, buttons);
    bool bYesNo = false;
    for (int nButton : buttons)
        bYesNo = bYesNo || nButton == IDYES || nButton == IDNO;
    if (bYesNo && !gpScript->answers.empty()) {
        size_t nIndex = gpScript->nQuestions < gpScript->answers.size() ? gpScript->nQuestions
                                                                         : gpScript->answers.size() - 1;
        bool bYes = gpScript->answers[nIndex];
        ++gpScript->nQuestions;
        for (int nButton : buttons) {
            if (nButton == IDYES && bYes)
                nAnswer = IDYES;
            else if (nButton == IDNO && !bYes)
                nAnswer = IDNO;
        }
    }
    PressMessageBoxButton(hBox, nAnswer);
}

// Presses Esc in the main dialog, or clicks its close box, once the status
// line shows that the recipient after nStopAfter is under way; once.
void CALLBACK StopJobWhenDue(HWND, UINT, UINT_PTR idTimer, DWORD)
{
    if (!gpScript || !IsWindow(ghMainDialog)) {
        KillTimer(NULL, idTimer);
        return;
    }
    int nNumber = 0, nTotal = 0;
    std::string status = WindowText(GetDlgItem(ghMainDialog, IDC_MAIN_STATUS));
    if (sscanf(status.c_str(), "%d of %d", &nNumber, &nTotal) != 2 || nNumber <= gpScript->nStopAfter)
        return;
    KillTimer(NULL, idTimer);
    if (gpScript->bStopWithClose)
        PostMessageA(ghMainDialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    else
        // To the focused button, as the key reaches the dialog.
        PostMessageA(GetDlgItem(ghMainDialog, IDC_MAIN_SEND_PAUSE), WM_KEYDOWN, VK_ESCAPE, 0);
}

// Cancel in a dialog; in the main dialog before Send it closes the dialog
// and sends nothing.
void PressCancel(HWND hDlg)
{
    if (IsWindow(hDlg))
        PostMessageA(hDlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), (LPARAM)GetDlgItem(hDlg, IDCANCEL));
}

// Clicks Cancel in the main dialog, once; the question that follows is
// answered like every other.
void CALLBACK CancelJobWhenDue(HWND, UINT, UINT_PTR idTimer, DWORD)
{
    KillTimer(NULL, idTimer);
    if (gpScript)
        PressCancel(ghMainDialog);
}

// Says why on stderr; the dialog is closed unchanged and the job not started.
void FailScript(const char* pszWhy, HWND hDlg)
{
    fprintf(stderr, "outlook-standin: %s\n", pszWhy);
    gpScript->bScriptFailed = true;
    PressCancel(hDlg);
}

// The next nHour:nMinute of local time, seconds 0: today while it is still
// ahead, else tomorrow.
SYSTEMTIME NextLocalTime(int nHour, int nMinute)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    SYSTEMTIME at = now;
    at.wHour = (WORD)nHour;
    at.wMinute = (WORD)nMinute;
    at.wSecond = 0;
    at.wMilliseconds = 0;
    if (nHour * 60 + nMinute > now.wHour * 60 + now.wMinute)
        return at;
    FILETIME ft;
    SystemTimeToFileTime(&at, &ft);
    ULARGE_INTEGER value;
    value.LowPart = ft.dwLowDateTime;
    value.HighPart = ft.dwHighDateTime;
    value.QuadPart += 24ull * 60 * 60 * 10000000;
    ft.dwLowDateTime = value.LowPart;
    ft.dwHighDateTime = value.HighPart;
    FileTimeToSystemTime(&ft, &at);
    return at;
}

// Sets the send-at picker as a user picking the time would: the control
// takes the time (its check box ticked) and tells its dialog of the change.
bool SetSendAt(HWND hDlg)
{
    HWND hPicker = GetDlgItem(hDlg, IDC_MAIN_SEND_AT);
    if (!hPicker) {
        FailScript("--send-at: the main dialog has no send-at date-time picker (control 1028)", hDlg);
        return false;
    }
    SYSTEMTIME at = NextLocalTime(gpScript->nSendAtHour, gpScript->nSendAtMinute);
    if (!SendMessageA(hPicker, DTM_SETSYSTEMTIME, GDT_VALID, (LPARAM)&at)) {
        FailScript("--send-at: control 1028 of the main dialog did not take the time (no date-time picker?)", hDlg);
        return false;
    }
    NMDATETIMECHANGE change = {};
    change.nmhdr.hwndFrom = hPicker;
    change.nmhdr.idFrom = IDC_MAIN_SEND_AT;
    change.nmhdr.code = DTN_DATETIMECHANGE;
    change.dwFlags = GDT_VALID;
    change.st = at;
    SendMessageA(hDlg, WM_NOTIFY, IDC_MAIN_SEND_AT, (LPARAM)&change);
    return true;
}

// Send (or Preview), once everything asked for before it is done.
void PressStartButton()
{
    if (gpScript->bSendAt && !SetSendAt(ghMainDialog))
        return;
    int nButton = gpScript->nPreview > 0 ? IDC_MAIN_PREVIEW : IDC_MAIN_SEND_PAUSE;
    PostMessageA(ghMainDialog, WM_COMMAND, MAKEWPARAM(nButton, BN_CLICKED), (LPARAM)GetDlgItem(ghMainDialog, nButton));
    if (gpScript->nPreview > 0)
        return;
    if (gpScript->nStopAfter >= 0)
        SetTimer(NULL, 0, 50, StopJobWhenDue);
    if (gpScript->nCancelAfterMs >= 0)
        SetTimer(NULL, 0, (UINT)gpScript->nCancelAfterMs, CancelJobWhenDue);
}

// The sheet chosen in the Sheet box as a user chooses it: selected, and the
// dialog told as a user's choice tells it. False, the script failed, when
// the box is not shown or has no sheet of that name.
bool ChooseSheet()
{
    HWND hSheet = GetDlgItem(ghMainDialog, IDC_MAIN_SHEET);
    wchar_t wszSheet[256];
    LRESULT nItem = CB_ERR;
    if (hSheet && IsWindowVisible(hSheet) &&
        MultiByteToWideChar(CP_ACP, 0, gpScript->sheet.c_str(), -1, wszSheet, 256) > 0)
        nItem = SendMessageW(hSheet, CB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)wszSheet);
    if (nItem == CB_ERR) {
        std::string why = "--sheet: the main dialog's Sheet box has no sheet \"" + gpScript->sheet + "\"";
        FailScript(why.c_str(), ghMainDialog);
        return false;
    }
    SendMessageW(hSheet, CB_SETCURSEL, (WPARAM)nItem, 0);
    SendMessageA(ghMainDialog, WM_COMMAND, MAKEWPARAM(IDC_MAIN_SHEET, CBN_SELCHANGE), (LPARAM)hSheet);
    return true;
}

// Runs once the dialog has finished its own initialisation.
void CALLBACK StartJobInDialog(HWND, UINT, UINT_PTR idTimer, DWORD)
{
    KillTimer(NULL, idTimer);
    if (!gpScript || !IsWindow(ghMainDialog))
        return;
    // WM_SETTEXT makes the edit control notify its dialog as typing does.
    SetDlgItemTextA(ghMainDialog, IDC_MAIN_LIST_PATH, gpScript->listPath.c_str());
    if (!gpScript->sheet.empty() && !ChooseSheet())
        return;
    if (gpScript->presetName.empty()) {
        PressStartButton();
        return;
    }
    // The preset first: Send is pressed once the Options dialog has closed.
    HWND hOptions = GetDlgItem(ghMainDialog, IDC_MAIN_OPTIONS);
    if (!hOptions) {
        FailScript("--preset: the main dialog has no Options button", ghMainDialog);
        return;
    }
    gbAwaitingOptions = true;
    PostMessageA(ghMainDialog, WM_COMMAND, MAKEWPARAM(IDC_MAIN_OPTIONS, BN_CLICKED), (LPARAM)hOptions);
}

// The Options dialog is the one with the preset list; one without it (the
// pause box alone) is recognised too, so that the script can say what is
// missing rather than wait.
bool IsOptionsDialog(HWND hWnd)
{
    char szClass[16];
    return hWnd != ghMainDialog && GetClassNameA(hWnd, szClass, sizeof(szClass)) && strcmp(szClass, "#32770") == 0 &&
           (GetDlgItem(hWnd, IDC_OPT_PRESET) != NULL || GetDlgItem(hWnd, IDC_OPT_PAUSE) != NULL);
}

// Chooses the preset as a user would: the name selected in the list and the
// dialog told, as a user's choice tells it (a selection made by message
// tells nobody); then OK.
void CALLBACK ChoosePreset(HWND, UINT, UINT_PTR idTimer, DWORD)
{
    KillTimer(NULL, idTimer);
    if (!gpScript || !IsWindow(ghOptionsDialog))
        return;
    HWND hCombo = GetDlgItem(ghOptionsDialog, IDC_OPT_PRESET);
    const char* pszWhy = NULL;
    char szWhy[160];
    // CB_SELECTSTRING takes the first name that begins with the text: the
    // search starts at the item of exactly this name.
    LRESULT nExact = hCombo ? SendMessageA(hCombo, CB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)gpScript->presetName.c_str())
                            : CB_ERR;
    if (!hCombo) {
        pszWhy = "--preset: the Options dialog has no list of presets (control 1033)";
    } else if (nExact == CB_ERR ||
               SendMessageA(hCombo, CB_SELECTSTRING, (WPARAM)(nExact - 1), (LPARAM)gpScript->presetName.c_str()) == CB_ERR) {
        snprintf(szWhy, sizeof(szWhy), "--preset: the Options dialog's list of presets has no \"%s\"",
                 gpScript->presetName.c_str());
        pszWhy = szWhy;
    }
    if (pszWhy) {
        // The main dialog closes after it (ContinueAfterOptions).
        FailScript(pszWhy, ghOptionsDialog);
        return;
    }
    SendMessageA(ghOptionsDialog, WM_COMMAND, MAKEWPARAM(IDC_OPT_PRESET, CBN_SELCHANGE), (LPARAM)hCombo);
    PostMessageA(ghOptionsDialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(ghOptionsDialog, IDOK));
}

// Runs once the Options dialog has gone and its modal loop has returned.
void CALLBACK ContinueAfterOptions(HWND, UINT, UINT_PTR idTimer, DWORD)
{
    KillTimer(NULL, idTimer);
    if (!gpScript || !IsWindow(ghMainDialog))
        return;
    if (gpScript->bScriptFailed)
        PressCancel(ghMainDialog);
    else
        PressStartButton();
}

bool IsPreviewDialog(HWND hWnd)
{
    return GetDlgItem(hWnd, IDC_PREVIEW_TEXT) != NULL && GetDlgItem(hWnd, IDC_PREVIEW_NEXT) != NULL;
}

HWND ghPreviewDialog = NULL;

// Steps to the recipient asked for as a user would, writes what the dialog
// shows, and closes it and the main dialog.
void CALLBACK ReadPreview(HWND, UINT, UINT_PTR idTimer, DWORD)
{
    KillTimer(NULL, idTimer);
    if (!gpScript || !IsWindow(ghPreviewDialog))
        return;
    // As a user would, it waits while a long list is still being counted:
    // until then Next goes no further than the count and the test waits.
    if (WindowText(GetDlgItem(ghPreviewDialog, IDC_PREVIEW_POSITION)).find(" so far") != std::string::npos) {
        SetTimer(NULL, 0, 100, ReadPreview);
        return;
    }
    for (int i = 1; i < gpScript->nPreview; ++i)
        SendMessageA(ghPreviewDialog, WM_COMMAND, MAKEWPARAM(IDC_PREVIEW_NEXT, BN_CLICKED),
                     (LPARAM)GetDlgItem(ghPreviewDialog, IDC_PREVIEW_NEXT));
    if (gpScript->bTestSend)
        SendMessageA(ghPreviewDialog, WM_COMMAND, MAKEWPARAM(IDC_PREVIEW_TEST, BN_CLICKED),
                     (LPARAM)GetDlgItem(ghPreviewDialog, IDC_PREVIEW_TEST));
    FILE* pFile = fopen(gpScript->previewFile.c_str(), "wb");
    if (pFile) {
        std::string position = WindowText(GetDlgItem(ghPreviewDialog, IDC_PREVIEW_POSITION));
        std::string text = WindowText(GetDlgItem(ghPreviewDialog, IDC_PREVIEW_TEXT));
        fprintf(pFile, "%s\r\n%s", position.c_str(), text.c_str());
        gpScript->bPreviewWritten = fclose(pFile) == 0;
    }
    SendMessageA(ghPreviewDialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    if (IsWindow(ghMainDialog))
        PostMessageA(ghMainDialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), (LPARAM)GetDlgItem(ghMainDialog, IDCANCEL));
}

LRESULT CALLBACK CbtProc(int nCode, WPARAM wParam, LPARAM lParam)
{
    if (nCode == HCBT_ACTIVATE && gpScript) {
        HWND hWnd = (HWND)wParam;
        if (IsMessageBox(hWnd)) {
            bool bSeen = false;
            for (HWND hSeen : gSeenBoxes)
                bSeen = bSeen || hSeen == hWnd;
            if (!bSeen) {
                gSeenBoxes.push_back(hWnd);
                AnswerBox(hWnd);
            }
        } else if (gbAwaitingOptions && ghOptionsDialog == NULL && IsOptionsDialog(hWnd)) {
            ghOptionsDialog = hWnd;
            SetTimer(NULL, 0, 200, ChoosePreset);
        } else if (gpScript->nPreview > 0 && ghPreviewDialog == NULL && IsPreviewDialog(hWnd)) {
            ghPreviewDialog = hWnd;
            SetTimer(NULL, 0, 200, ReadPreview);
        } else if (!gpScript->bMainDialogSeen && IsMainDialog(hWnd)) {
            gpScript->bMainDialogSeen = true;
            ghMainDialog = hWnd;
            SetTimer(NULL, 0, 200, StartJobInDialog);
        }
    }
    if (nCode == HCBT_DESTROYWND && gpScript && ghOptionsDialog != NULL && (HWND)wParam == ghOptionsDialog) {
        ghOptionsDialog = NULL;
        gbAwaitingOptions = false;
        SetTimer(NULL, 0, 100, ContinueAfterOptions);
    }
    if (nCode == HCBT_DESTROYWND) {
        // The handle of a closed box may come back for a later one.
        for (size_t i = 0; i < gSeenBoxes.size(); ++i) {
            if (gSeenBoxes[i] == (HWND)wParam) {
                gSeenBoxes.erase(gSeenBoxes.begin() + i);
                break;
            }
        }
    }
    return CallNextHookEx(ghHook, nCode, wParam, lParam);
}

}  // namespace

void StartJobScript(JobScript* pScript)
{
    gpScript = pScript;
    ghHook = SetWindowsHookExA(WH_CBT, CbtProc, NULL, GetCurrentThreadId());
}

void StopJobScript()
{
    if (ghHook)
        UnhookWindowsHookEx(ghHook);
    ghHook = NULL;
    gpScript = NULL;
    ghMainDialog = NULL;
    ghPreviewDialog = NULL;
    gbAwaitingOptions = false;
    ghOptionsDialog = NULL;
    gSeenBoxes.clear();
}
