#include "tests/support/ui_driver.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>

#define LC_DRIVER_TICK_MS 10
#define LC_DRIVER_PATIENCE_MS 10000
#define LC_TOOLTIP_TEXT_CAPACITY 1100   // the tooltip copies up to 1024 characters without asking

static UiDriver* gpDriver = NULL;

UiDriver::UiDriver()
    : m_nTimer(0), m_dwSince(GetTickCount()), m_nRun(0), m_nPatienceMs(LC_DRIVER_PATIENCE_MS), m_bInStep(false)
{
    EXPECT_EQ(gpDriver, nullptr) << "one UI driver at a time";
    gpDriver = this;
    // A thread timer: every modal loop of the thread dispatches it, whichever
    // dialog or message box is in front.
    m_nTimer = SetTimer(NULL, 0, LC_DRIVER_TICK_MS, TimerProc);
    EXPECT_NE(m_nTimer, 0u);
}

UiDriver::~UiDriver()
{
    if (m_nTimer)
        KillTimer(NULL, m_nTimer);
    if (gpDriver == this)
        gpDriver = NULL;
}

void UiDriver::When(const char* pszTitle, std::function<void(HWND)> fn)
{
    m_steps.push_back(Step{ pszTitle, false, 0, std::move(fn), nullptr });
}

void UiDriver::WhenNew(const char* pszTitle, std::function<void(HWND)> fn)
{
    m_steps.push_back(Step{ pszTitle, true, 0, std::move(fn), nullptr });
}

void UiDriver::After(int nMs, std::function<void()> fn)
{
    m_steps.push_back(Step{ std::string(), false, nMs, nullptr, std::move(fn) });
}

void CALLBACK UiDriver::TimerProc(HWND hWnd, UINT uMsg, UINT_PTR idEvent, DWORD dwTime)
{
    if (gpDriver && gpDriver->m_nTimer == idEvent)
        gpDriver->Tick();
}

static BOOL CALLBACK CollectWindow(HWND hWnd, LPARAM lParam)
{
    reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(hWnd);
    return TRUE;
}

static std::vector<HWND> AllThreadWindows()
{
    std::vector<HWND> windows;
    EnumThreadWindows(GetCurrentThreadId(), CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

std::vector<HWND> ThreadWindows()
{
    std::vector<HWND> shown;
    for (HWND hWnd : AllThreadWindows())
        if (IsWindowVisible(hWnd))
            shown.push_back(hWnd);
    return shown;
}

std::string WindowTitle(HWND hWnd)
{
    int cch = GetWindowTextLengthA(hWnd);
    if (cch <= 0)
        return std::string();
    std::string text(cch + 1, '\0');
    cch = GetWindowTextA(hWnd, &text[0], cch + 1);
    text.resize(cch > 0 ? cch : 0);
    return text;
}

// Only a window the user could work in: a dialog with a modal box open over
// it is disabled until the box goes.
HWND UiDriver::FindWindowFor(const Step& step) const
{
    for (HWND hWnd : ThreadWindows()) {
        if (!IsWindowEnabled(hWnd) || WindowTitle(hWnd) != step.title)
            continue;
        if (step.bNewOnly && std::find(m_given.begin(), m_given.end(), hWnd) != m_given.end())
            continue;
        return hWnd;
    }
    return NULL;
}

void UiDriver::GiveUp()
{
    const Step& step = m_steps.front();
    std::string open;
    for (HWND hWnd : ThreadWindows())
        open += " \"" + WindowTitle(hWnd) + "\"";
    ADD_FAILURE() << "UI step " << m_nRun + 1 << " waited " << m_nPatienceMs << " ms for a window titled \""
                  << step.title << "\"; open:" << (open.empty() ? " none" : open);
    m_steps.clear();
    // Each modal loop ends as soon as it gets control back.
    for (HWND hWnd : ThreadWindows()) {
        char szClass[16] = "";
        GetClassNameA(hWnd, szClass, sizeof(szClass));
        if (strcmp(szClass, "#32770") == 0)
            EndDialog(hWnd, -1);
    }
}

void UiDriver::Tick()
{
    if (m_bInStep)
        return;
    if (m_steps.empty()) {
        KillTimer(NULL, m_nTimer);
        m_nTimer = 0;
        return;
    }

    const Step& next = m_steps.front();
    DWORD dwWaited = GetTickCount() - m_dwSince;
    HWND hWnd = NULL;
    if (next.title.empty()) {
        if (dwWaited < (DWORD)next.nDelayMs)
            return;
    } else {
        hWnd = FindWindowFor(next);
        if (!hWnd) {
            if (dwWaited > (DWORD)m_nPatienceMs)
                GiveUp();
            return;
        }
        m_given.push_back(hWnd);
    }

    // Off the queue before it runs, so Done() already holds inside the last step.
    Step step = std::move(m_steps.front());
    m_steps.pop_front();
    m_bInStep = true;
    try {
        if (hWnd)
            step.fnWindow(hWnd);
        else
            step.fnTimed();
    } catch (...) {
        ADD_FAILURE() << "UI step " << m_nRun + 1 << " threw";
    }
    m_bInStep = false;
    ++m_nRun;
    m_dwSince = GetTickCount();
}

std::string ControlText(HWND hDlg, int nId)
{
    HWND hCtl = GetDlgItem(hDlg, nId);
    EXPECT_NE(hCtl, nullptr) << "no control " << nId;
    return hCtl ? WindowTitle(hCtl) : std::string();
}

void SetControlText(HWND hDlg, int nId, const char* pszText)
{
    HWND hCtl = GetDlgItem(hDlg, nId);
    ASSERT_NE(hCtl, nullptr) << "no control " << nId;
    SendMessageA(hCtl, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(pszText));
    char szClass[16] = "";
    GetClassNameA(hCtl, szClass, sizeof(szClass));
    if (_stricmp(szClass, "Edit") == 0 && (GetWindowLongA(hCtl, GWL_STYLE) & ES_MULTILINE))
        SendMessageA(hDlg, WM_COMMAND, MAKEWPARAM(nId, EN_CHANGE), reinterpret_cast<LPARAM>(hCtl));
}

void Click(HWND hDlg, int nId)
{
    HWND hCtl = GetDlgItem(hDlg, nId);
    ASSERT_NE(hCtl, nullptr) << "no control " << nId;
    PostMessageA(hCtl, BM_CLICK, 0, 0);
}

void PostCommand(HWND hDlg, int nId, int nCode)
{
    PostMessageA(hDlg, WM_COMMAND, MAKEWPARAM(nId, nCode), reinterpret_cast<LPARAM>(GetDlgItem(hDlg, nId)));
}

bool IsControlEnabled(HWND hDlg, int nId)
{
    HWND hCtl = GetDlgItem(hDlg, nId);
    EXPECT_NE(hCtl, nullptr) << "no control " << nId;
    return hCtl && IsWindowEnabled(hCtl);
}

bool IsChecked(HWND hDlg, int nId)
{
    EXPECT_NE(GetDlgItem(hDlg, nId), nullptr) << "no control " << nId;
    return IsDlgButtonChecked(hDlg, nId) == BST_CHECKED;
}

std::string TooltipText(HWND hDlg, int nId)
{
    HWND hCtl = GetDlgItem(hDlg, nId);
    if (!hCtl)
        return std::string();
    // Tooltips stay hidden until they pop up, so invisible windows count too.
    for (HWND hTip : AllThreadWindows()) {
        char szClass[32] = "";
        GetClassNameA(hTip, szClass, sizeof(szClass));
        if (strcmp(szClass, TOOLTIPS_CLASSA) != 0 || GetWindow(hTip, GW_OWNER) != hDlg)
            continue;
        int nTools = (int)SendMessageA(hTip, TTM_GETTOOLCOUNT, 0, 0);
        for (int i = 0; i < nTools; ++i) {
            TOOLINFOA ti = {};
            ti.cbSize = TTTOOLINFOA_V2_SIZE;
            if (!SendMessageA(hTip, TTM_ENUMTOOLSA, i, reinterpret_cast<LPARAM>(&ti)))
                continue;
            bool bByHandle = (ti.uFlags & TTF_IDISHWND) != 0;
            if (bByHandle ? ti.uId != reinterpret_cast<UINT_PTR>(hCtl) : ti.uId != (UINT_PTR)nId)
                continue;
            char szText[LC_TOOLTIP_TEXT_CAPACITY] = "";
            ti.lpszText = szText;
            SendMessageA(hTip, TTM_GETTEXTA, sizeof(szText), reinterpret_cast<LPARAM>(&ti));
            szText[sizeof(szText) - 1] = '\0';
            return szText;
        }
    }
    return std::string();
}

HWND FocusedControl()
{
    return GetFocus();
}
