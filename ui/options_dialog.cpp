#include "ui/options_dialog.h"

#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>

#include "resources/product.h"
#include "resources/resource.h"
#include "settings/data_paths.h"
#include "settings/settings_store.h"
#include "ui/dialog_placement.h"
#include "ui/help.h"
#include "ui/hyperlink_static.h"
#include "ui/logs_dialog.h"
#include "ui/message_box.h"
#include "ui/version_info.h"

#define LC_OPTIONS_TITLE_CAPACITY 128
#define LC_NUMBER_TEXT_CAPACITY 63    // a box is read with at most 62 characters
#define LC_NUMBER_FORMAT_CAPACITY 16

// Decimal text as the C library reads it: leading white space, a sign, the
// digits up to the first other character; none gives 0. Values beyond the
// integer range saturate, so they fail the range tests below rather than
// wrap into them.
static int ReadNumberBox(HWND hDlg, int nId)
{
    char szText[LC_NUMBER_TEXT_CAPACITY];
    if (GetDlgItemTextA(hDlg, nId, szText, sizeof(szText)) <= 0)
        return 0;
    return (int)strtol(szText, NULL, 10);
}

static void ShowNumberBox(HWND hDlg, int nId, int nValue)
{
    char szText[LC_NUMBER_FORMAT_CAPACITY];
    snprintf(szText, sizeof(szText), "%d", nValue);
    SetDlgItemTextA(hDlg, nId, szText);
}

static void EnableSendRecvCount(HWND hDlg, BOOL bEnable)
{
    EnableWindow(GetDlgItem(hDlg, IDC_OPT_SENDRECV_COUNT), bEnable);
    EnableWindow(GetDlgItem(hDlg, IDC_OPT_SENDRECV_COUNT_SPIN), bEnable);
}

static INT_PTR InitOptionsDialog(HWND hDlg)
{
    CenterOnScreen(hDlg);

    int nMajor = 0;
    int nMinor = 0;
    GetModuleVersion(&nMajor, &nMinor);
    char szTitle[LC_OPTIONS_TITLE_CAPACITY];
    snprintf(szTitle, sizeof(szTitle), "%s %d.%d Options", LC_PRODUCT_NAME, nMajor, nMinor);
    SetWindowTextA(hDlg, szTitle);

    AttachHyperlinkItem(hDlg, IDC_OPT_WEB_ADDRESS);

    SendDlgItemMessageA(hDlg, IDC_OPT_PAUSE_SPIN, UDM_SETRANGE32, LC_PAUSE_MIN, LC_PAUSE_MAX);
    ShowNumberBox(hDlg, IDC_OPT_PAUSE, JobOptions.Pause);

    CheckDlgButton(hDlg, IDC_OPT_DO_SENDRECV, JobOptions.DoSendRecv ? BST_CHECKED : BST_UNCHECKED);
    SendDlgItemMessageA(hDlg, IDC_OPT_SENDRECV_COUNT_SPIN, UDM_SETRANGE32, LC_SENDRECV_COUNT_MIN,
                        LC_SENDRECV_COUNT_MAX);
    ShowNumberBox(hDlg, IDC_OPT_SENDRECV_COUNT, JobOptions.SendRecvCount);
    if (!JobOptions.DoSendRecv)
        EnableSendRecvCount(hDlg, FALSE);

    CheckDlgButton(hDlg, IDC_OPT_SAVE_ORIG, JobOptions.SaveOrig ? BST_CHECKED : BST_UNCHECKED);
    return TRUE;
}

// Nothing is stored unless the pause is valid; a count out of range is
// passed over in silence and the rest is stored.
static void StoreOptions(HWND hDlg)
{
    int nPause = ReadNumberBox(hDlg, IDC_OPT_PAUSE);
    if ((unsigned)nPause > LC_PAUSE_MAX) {
        ShowStringMessage(hDlg, IDS_DELAY_OUT_OF_RANGE, LC_PRODUCT_NAME, 0);
        SetFocus(GetDlgItem(hDlg, IDC_OPT_PAUSE));
        return;
    }
    JobOptions.Pause = nPause;
    JobOptions.DoSendRecv = IsDlgButtonChecked(hDlg, IDC_OPT_DO_SENDRECV) == BST_CHECKED ? 1 : 0;

    // 0 is taken although the up-down starts at 1: the engine and the
    // next load know what to make of it.
    int nCount = ReadNumberBox(hDlg, IDC_OPT_SENDRECV_COUNT);
    if ((unsigned)nCount <= LC_SENDRECV_COUNT_MAX)
        JobOptions.SendRecvCount = nCount;

    JobOptions.SaveOrig = IsDlgButtonChecked(hDlg, IDC_OPT_SAVE_ORIG) == BST_CHECKED ? 1 : 0;
    SaveOptions();
    EndDialog(hDlg, 1);
}

static void OnOptionsCommand(HWND hDlg, int nId, int nCode)
{
    HWND hWndOwner = GetWindow(hDlg, GW_OWNER);
    switch (nId) {
    case IDOK:
        StoreOptions(hDlg);
        break;
    case IDCANCEL:
        EndDialog(hDlg, 0);
        break;
    case IDC_OPT_DO_SENDRECV:
        if (nCode == BN_CLICKED)
            EnableSendRecvCount(hDlg, IsDlgButtonChecked(hDlg, IDC_OPT_DO_SENDRECV) == BST_CHECKED);
        break;
    case IDC_OPT_HELP:
        if (nCode == BN_CLICKED)
            ShowHelpTopic(hDlg, IDS_TOPIC_OPTIONS);
        break;
    case IDC_OPT_LOGS:
        // Owned by our owner, so the Logs dialog outlives neither and the
        // Options dialog stays usable beside it.
        if (nCode == BN_CLICKED)
            DialogBoxParamA(ghInstance, MAKEINTRESOURCEA(IDD_LOGS), hWndOwner, LogsDialog, 0);
        break;
    case IDC_OPT_WEB_ADDRESS:
        OpenWebAddress(hWndOwner);
        break;
    }
}

INT_PTR CALLBACK OptionsDialog(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_INITDIALOG:
        return InitOptionsDialog(hDlg);
    case WM_COMMAND:
        OnOptionsCommand(hDlg, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_CLOSE:
        PostMessageA(hDlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
        return TRUE;
    case WM_HELP:
        ShowHelpTopic(hDlg, IDS_TOPIC_OPTIONS);
        return TRUE;
    }
    return FALSE;
}
