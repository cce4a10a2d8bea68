#include "standin/common/message_box_reading.h"

#include <string.h>

#include <algorithm>

bool IsMessageBox(HWND hWnd)
{
    char szClass[16];
    if (!GetClassNameA(hWnd, szClass, sizeof(szClass)) || strcmp(szClass, "#32770") != 0)
        return false;
    return GetDlgItem(hWnd, LC_MSGBOX_TEXT_ID) != NULL;
}

static bool IsShown(HWND hWnd)
{
    return hWnd != NULL && (GetWindowLongA(hWnd, GWL_STYLE) & WS_VISIBLE) != 0;
}

std::string WindowText(HWND hWnd)
{
    char szText[4096];
    int cch = GetWindowTextA(hWnd, szText, sizeof(szText));
    return std::string(szText, cch > 0 ? cch : 0);
}

// The box's default button: the dialog's default id where it names a button
// of the box, else the button drawn as the default (a box made with
// MB_DEFBUTTON2 may mark only the button, the dialog's id staying IDOK).
static int DefaultButtonOf(HWND hBox, const std::vector<int>& buttons)
{
    LRESULT lDef = SendMessageA(hBox, DM_GETDEFID, 0, 0);
    if (HIWORD(lDef) == DC_HASDEFID &&
        std::find(buttons.begin(), buttons.end(), (int)LOWORD(lDef)) != buttons.end()) {
        // The dialog's id stays IDOK unless set: believe it only when no
        // other button is drawn as the default.
        for (int id : buttons) {
            HWND hButton = GetDlgItem(hBox, id);
            if (id != (int)LOWORD(lDef) && hButton && (GetWindowLongA(hButton, GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON)
                return id;
        }
        return LOWORD(lDef);
    }
    for (int id : buttons) {
        HWND hButton = GetDlgItem(hBox, id);
        if (hButton && (GetWindowLongA(hButton, GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON)
            return id;
    }
    return 0;
}

UINT ReadMessageBoxStyle(HWND hBox, std::vector<int>* pButtons)
{
    struct ButtonSet { UINT uType; std::vector<int> ids; };
    static const ButtonSet kSets[] = {
        { MB_OK, { IDOK } },
        { MB_OKCANCEL, { IDOK, IDCANCEL } },
        { MB_ABORTRETRYIGNORE, { IDABORT, IDRETRY, IDIGNORE } },
        { MB_YESNOCANCEL, { IDYES, IDNO, IDCANCEL } },
        { MB_YESNO, { IDYES, IDNO } },
        { MB_RETRYCANCEL, { IDRETRY, IDCANCEL } },
    };
    static const int kButtonIds[] = { IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO };
    std::vector<int> shown;
    for (int id : kButtonIds)
        if (IsShown(GetDlgItem(hBox, id)))
            shown.push_back(id);

    UINT uStyle = 0xF;
    *pButtons = shown;
    for (const ButtonSet& set : kSets) {
        std::vector<int> sorted = set.ids;
        std::sort(sorted.begin(), sorted.end());
        if (sorted == shown) {
            uStyle = set.uType;
            *pButtons = set.ids;
        }
    }

    HWND hIcon = GetDlgItem(hBox, LC_MSGBOX_ICON_ID);
    if (IsShown(hIcon)) {
        HICON hShown = (HICON)SendMessageA(hIcon, STM_GETICON, 0, 0);
        struct IconKind { LPCSTR pszId; UINT uType; };
        static const IconKind kIcons[] = {
            { IDI_HAND, MB_ICONHAND }, { IDI_QUESTION, MB_ICONQUESTION },
            { IDI_EXCLAMATION, MB_ICONEXCLAMATION }, { IDI_ASTERISK, MB_ICONASTERISK },
        };
        for (const IconKind& kind : kIcons)
            if (hShown == LoadIconA(NULL, kind.pszId))
                uStyle |= kind.uType;
    }

    int nDefault = DefaultButtonOf(hBox, *pButtons);
    auto it = std::find(pButtons->begin(), pButtons->end(), nDefault);
    if (nDefault != 0 && it != pButtons->end())
        uStyle |= (UINT)(it - pButtons->begin()) << 8;
    return uStyle;
}

int DefaultMessageBoxButton(HWND hBox, const std::vector<int>& buttons)
{
    int nDefault = DefaultButtonOf(hBox, buttons);
    if (nDefault != 0)
        return nDefault;
    return buttons.empty() ? IDOK : buttons.front();
}

void PressMessageBoxButton(HWND hBox, int nButton)
{
    // Posted, so the box's own modal loop presses the button.
    PostMessageA(hBox, WM_COMMAND, MAKEWPARAM(nButton, BN_CLICKED), (LPARAM)GetDlgItem(hBox, nButton));
}
