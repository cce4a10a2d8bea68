#include "ui/logs_dialog.h"

#include <shellapi.h>
#include <stdio.h>

#include "logs/job_log.h"
#include "resources/product.h"
#include "resources/resource.h"
#include "settings/data_paths.h"
#include "ui/dialog_placement.h"
#include "ui/help.h"
#include "ui/hyperlink_static.h"

#define LC_SHELL_STRING_LIMIT 200
#define LC_SHELL_SUCCESS_ABOVE 32

struct LogButton {
    int nId;
    const char* pszPath;
};

static const LogButton kLogButtons[] = {
    { IDC_LOGS_JOB_HISTORY, gszJobHistoryPath },
    { IDC_LOGS_LAST_JOB_LOG, gszCurrentJobPath },
    { IDC_LOGS_SENT_LIST, gszSentListPath },
};

void ShellFailureMessage(INT_PTR nResult, const char* pszPath, char* pszMessage, size_t cbMessage)
{
    if (cbMessage == 0)
        return;
    UINT uStringId = IDS_SHELL_OTHER_ERROR;
    switch (nResult) {
    case SE_ERR_FNF:
        snprintf(pszMessage, cbMessage, "The specified file was not found:\n%s", pszPath);
        return;
    case SE_ERR_ASSOCINCOMPLETE:
        uStringId = IDS_SHELL_BAD_ASSOCIATION;
        break;
    case SE_ERR_NOASSOC:
        uStringId = IDS_SHELL_NO_ASSOCIATION;
        break;
    case SE_ERR_OOM:
        uStringId = IDS_SHELL_OUT_OF_MEMORY;
        break;
    }
    int nLimit = cbMessage < LC_SHELL_STRING_LIMIT ? (int)cbMessage : LC_SHELL_STRING_LIMIT;
    if (LoadStringA(ghInstance, uStringId, pszMessage, nLimit) <= 0)
        pszMessage[0] = '\0';
}

int OpenForViewing(HWND hWndOwner, const char* pszPath)
{
    INT_PTR nResult = reinterpret_cast<INT_PTR>(
        ShellExecuteA(hWndOwner, "open", pszPath, NULL, "c:\\", SW_SHOWMAXIMIZED));
    if (nResult > LC_SHELL_SUCCESS_ABOVE)
        return 1;

    char szMessage[LC_VIEW_MESSAGE_CAPACITY];
    ShellFailureMessage(nResult, pszPath, szMessage, sizeof(szMessage));
    MessageBoxA(hWndOwner, szMessage, LC_PRODUCT_NAME, MB_OK);
    return 0;
}

// Only a test for reading: the log may be open for writing by a running job.
static BOOL CanRead(const char* pszPath)
{
    FILE* pFile = fopen(pszPath, "r");
    if (!pFile)
        return FALSE;
    fclose(pFile);
    return TRUE;
}

static INT_PTR InitLogsDialog(HWND hDlg)
{
    CenterOnScreen(hDlg);
    AttachHyperlinkItem(hDlg, IDC_LOGS_WEB_ADDRESS);
    for (const LogButton& button : kLogButtons)
        EnableWindow(GetDlgItem(hDlg, button.nId), CanRead(button.pszPath));
    return TRUE;
}

static void OnLogsCommand(HWND hDlg, int nId, int nCode)
{
    HWND hWndOwner = GetWindow(hDlg, GW_OWNER);
    switch (nId) {
    case IDOK:
        EndDialog(hDlg, 1);
        return;
    case IDCANCEL:
        EndDialog(hDlg, 0);
        return;
    case IDC_LOGS_HELP:
        if (nCode == BN_CLICKED)
            ShowHelpTopic(hDlg, IDS_TOPIC_JOB_LOGS);
        return;
    case IDC_LOGS_WEB_ADDRESS:
        OpenWebAddress(hWndOwner);
        return;
    }
    if (nCode != BN_CLICKED)
        return;
    for (const LogButton& button : kLogButtons) {
        if (button.nId != nId)
            continue;
        // The last job's sent list is named after its sheet when it read a workbook.
        char szSent[LC_PATH_CAPACITY];
        bool bSent = nId == IDC_LOGS_SENT_LIST && LastJobSentListPath(szSent, sizeof(szSent));
        OpenForViewing(hWndOwner, bSent ? szSent : button.pszPath);
    }
}

INT_PTR CALLBACK LogsDialog(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_INITDIALOG:
        return InitLogsDialog(hDlg);
    case WM_COMMAND:
        OnLogsCommand(hDlg, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_CLOSE:
        PostMessageA(hDlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
        return TRUE;
    case WM_HELP:
        ShowHelpTopic(hDlg, IDS_TOPIC_JOB_LOGS);
        return TRUE;
    }
    return FALSE;
}
