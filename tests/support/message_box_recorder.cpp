#include "tests/support/message_box_recorder.h"

#include <gtest/gtest.h>

#include <algorithm>

#define LC_MSGBOX_TEXT_ID 0xFFFF
#define LC_MSGBOX_ICON_ID 0x0440

static MessageBoxRecorder* gpRecorder = NULL;

MessageBoxRecorder::MessageBoxRecorder()
{
    EXPECT_EQ(gpRecorder, nullptr) << "one recorder at a time";
    gpRecorder = this;
    m_hHook = SetWindowsHookExA(WH_CBT, CbtProc, NULL, GetCurrentThreadId());
    EXPECT_NE(m_hHook, nullptr);
}

MessageBoxRecorder::~MessageBoxRecorder()
{
    if (m_hHook)
        UnhookWindowsHookEx(m_hHook);
    gpRecorder = NULL;
}

static bool IsMessageBox(HWND hWnd)
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

static std::string WindowText(HWND hWnd)
{
    char szText[4096];
    int cch = GetWindowTextA(hWnd, szText, sizeof(szText));
    return std::string(szText, cch > 0 ? cch : 0);
}

// The MB_ button set, icon and default button that the box shows. Buttons
// come back in their order on the box.
static UINT ReadStyle(HWND hBox, std::vector<int>* pButtons)
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

    UINT uStyle = 0xF;   // a button set that no MB_ value names
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

    LRESULT lDef = SendMessageA(hBox, DM_GETDEFID, 0, 0);
    if (HIWORD(lDef) == DC_HASDEFID) {
        auto it = std::find(pButtons->begin(), pButtons->end(), (int)LOWORD(lDef));
        if (it != pButtons->end())
            uStyle |= (UINT)(it - pButtons->begin()) << 8;
    }
    return uStyle;
}

void MessageBoxRecorder::Record(HWND hBox)
{
    if (std::find(m_seen.begin(), m_seen.end(), hBox) != m_seen.end())
        return;
    m_seen.push_back(hBox);

    RecordedBox box;
    HWND hOwner = GetWindow(hBox, GW_OWNER);
    box.hWndOwner = hOwner ? hOwner : GetDesktopWindow();
    box.caption = WindowText(hBox);
    box.text = WindowText(GetDlgItem(hBox, LC_MSGBOX_TEXT_ID));
    std::vector<int> buttons;
    box.uStyle = ReadStyle(hBox, &buttons);

    int nAnswer = 0;
    if (!m_answers.empty()) {
        nAnswer = m_answers.front();
        m_answers.pop_front();
        if (std::find(buttons.begin(), buttons.end(), nAnswer) == buttons.end()) {
            ADD_FAILURE() << "scripted button " << nAnswer << " is not on the box \"" << box.text << "\"";
            nAnswer = 0;
        }
    }
    if (nAnswer == 0) {
        LRESULT lDef = SendMessageA(hBox, DM_GETDEFID, 0, 0);
        nAnswer = HIWORD(lDef) == DC_HASDEFID ? LOWORD(lDef) : (buttons.empty() ? IDOK : buttons.front());
    }
    box.nAnswer = nAnswer;
    m_boxes.push_back(box);

    // Posted, so the box's own modal loop presses the button.
    PostMessageA(hBox, WM_COMMAND, MAKEWPARAM(nAnswer, BN_CLICKED), (LPARAM)GetDlgItem(hBox, nAnswer));
}

LRESULT CALLBACK MessageBoxRecorder::CbtProc(int nCode, WPARAM wParam, LPARAM lParam)
{
    if (nCode == HCBT_ACTIVATE && gpRecorder && IsMessageBox((HWND)wParam))
        gpRecorder->Record((HWND)wParam);
    return CallNextHookEx(NULL, nCode, wParam, lParam);
}
