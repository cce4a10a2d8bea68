#include "ui/options_dialog.h"

#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>

#include "resources/product.h"
#include "resources/resource.h"
#include "settings/data_paths.h"
#include "settings/limit_presets.h"
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

// The limits' list holds the presets in table order and, last, the item for
// limits of the user's own.
static int OwnLimitsItem()
{
    return LimitPresetCount();
}

// The item that stands for what the two limit boxes say: the preset with
// those limits, or the user's own.
static void SelectPresetOfBoxes(HWND hDlg)
{
    JobOptionsRecord limits = JobOptions;
    limits.PerMinute = ReadNumberBox(hDlg, IDC_OPT_PER_MINUTE);
    limits.PerDay = ReadNumberBox(hDlg, IDC_OPT_PER_DAY);
    int nPreset = PresetOfOptions(&limits);
    SendDlgItemMessageA(hDlg, IDC_OPT_PRESET, CB_SETCURSEL, nPreset < 0 ? OwnLimitsItem() : nPreset, 0);
}

static void InitLimits(HWND hDlg)
{
    HWND hPresets = GetDlgItem(hDlg, IDC_OPT_PRESET);
    for (int i = 0; i < LimitPresetCount(); ++i)
        SendMessageA(hPresets, CB_ADDSTRING, 0, (LPARAM)LimitPresetAt(i)->pszName);
    char szOwn[LC_STRING_MESSAGE_CAPACITY];
    if (LoadStringA(ghInstance, IDS_OWN_LIMITS, szOwn, sizeof(szOwn)) <= 0)
        szOwn[0] = '\0';
    SendMessageA(hPresets, CB_ADDSTRING, 0, (LPARAM)szOwn);

    // The day's range is beyond 16 bits: only the 32-bit message holds it.
    SendDlgItemMessageA(hDlg, IDC_OPT_PER_MINUTE_SPIN, UDM_SETRANGE32, 0, LC_PER_MINUTE_MAX);
    SendDlgItemMessageA(hDlg, IDC_OPT_PER_DAY_SPIN, UDM_SETRANGE32, 0, LC_PER_DAY_MAX);
    // The list is filled first: each box's change selects what matches.
    ShowNumberBox(hDlg, IDC_OPT_PER_MINUTE, JobOptions.PerMinute);
    ShowNumberBox(hDlg, IDC_OPT_PER_DAY, JobOptions.PerDay);
    SelectPresetOfBoxes(hDlg);
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
    SendDlgItemMessageA(hDlg, IDC_OPT_PAUSE_VARIATION_SPIN, UDM_SETRANGE32, 0, LC_PAUSE_VARIATION_MAX);
    ShowNumberBox(hDlg, IDC_OPT_PAUSE_VARIATION, JobOptions.PauseVariation);

    CheckDlgButton(hDlg, IDC_OPT_DO_SENDRECV, JobOptions.DoSendRecv ? BST_CHECKED : BST_UNCHECKED);
    SendDlgItemMessageA(hDlg, IDC_OPT_SENDRECV_COUNT_SPIN, UDM_SETRANGE32, LC_SENDRECV_COUNT_MIN,
                        LC_SENDRECV_COUNT_MAX);
    ShowNumberBox(hDlg, IDC_OPT_SENDRECV_COUNT, JobOptions.SendRecvCount);
    if (!JobOptions.DoSendRecv)
        EnableSendRecvCount(hDlg, FALSE);

    CheckDlgButton(hDlg, IDC_OPT_SAVE_ORIG, JobOptions.SaveOrig ? BST_CHECKED : BST_UNCHECKED);
    InitLimits(hDlg);
    return TRUE;
}

// A preset fills both limit boxes; the user's own limits keep what the
// boxes say.
static void OnPresetChosen(HWND hDlg)
{
    int nItem = (int)SendDlgItemMessageA(hDlg, IDC_OPT_PRESET, CB_GETCURSEL, 0, 0);
    const LimitPreset* pPreset = LimitPresetAt(nItem);
    if (pPreset == NULL)
        return;
    ShowNumberBox(hDlg, IDC_OPT_PER_MINUTE, pPreset->nPerMinute);
    ShowNumberBox(hDlg, IDC_OPT_PER_DAY, pPreset->nPerDay);
    // Each box's change selected what matched the boxes half filled.
    SendDlgItemMessageA(hDlg, IDC_OPT_PRESET, CB_SETCURSEL, nItem, 0);
}

// The message of a box that OK refuses, with the focus back on the box.
static void RefuseNumber(HWND hDlg, int nId, UINT uStringId, const char* pszInsert)
{
    if (pszInsert)
        ShowStringMessageWith(hDlg, uStringId, pszInsert, LC_PRODUCT_NAME, 0);
    else
        ShowStringMessage(hDlg, uStringId, LC_PRODUCT_NAME, 0);
    SetFocus(GetDlgItem(hDlg, nId));
}

// Nothing is stored unless the pause, its variation and the limits are
// valid; a count out of range is passed over in silence and the rest is
// stored.
static void StoreOptions(HWND hDlg)
{
    int nPause = ReadNumberBox(hDlg, IDC_OPT_PAUSE);
    if ((unsigned)nPause > LC_PAUSE_MAX) {
        RefuseNumber(hDlg, IDC_OPT_PAUSE, IDS_DELAY_OUT_OF_RANGE, NULL);
        return;
    }
    // A pause varied by more than its own length would at times be below
    // zero, so the pause bounds the variation as well as its own maximum.
    int nVariation = ReadNumberBox(hDlg, IDC_OPT_PAUSE_VARIATION);
    if ((unsigned)nVariation > LC_PAUSE_VARIATION_MAX || nVariation > nPause) {
        char szMost[LC_NUMBER_FORMAT_CAPACITY];
        snprintf(szMost, sizeof(szMost), "%d", nPause < LC_PAUSE_VARIATION_MAX ? nPause : LC_PAUSE_VARIATION_MAX);
        RefuseNumber(hDlg, IDC_OPT_PAUSE_VARIATION, IDS_VARIATION_OUT_OF_RANGE, szMost);
        return;
    }
    int nPerMinute = ReadNumberBox(hDlg, IDC_OPT_PER_MINUTE);
    if ((unsigned)nPerMinute > LC_PER_MINUTE_MAX) {
        RefuseNumber(hDlg, IDC_OPT_PER_MINUTE, IDS_PER_MINUTE_OUT_OF_RANGE, NULL);
        return;
    }
    int nPerDay = ReadNumberBox(hDlg, IDC_OPT_PER_DAY);
    if ((unsigned)nPerDay > LC_PER_DAY_MAX) {
        RefuseNumber(hDlg, IDC_OPT_PER_DAY, IDS_PER_DAY_OUT_OF_RANGE, NULL);
        return;
    }
    JobOptions.Pause = nPause;
    JobOptions.PauseVariation = nVariation;
    JobOptions.PerMinute = nPerMinute;
    JobOptions.PerDay = nPerDay;
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
    case IDC_OPT_PRESET:
        if (nCode == CBN_SELCHANGE)
            OnPresetChosen(hDlg);
        break;
    case IDC_OPT_PER_MINUTE:
    case IDC_OPT_PER_DAY:
        if (nCode == EN_CHANGE)
            SelectPresetOfBoxes(hDlg);
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
