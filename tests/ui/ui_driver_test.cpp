// The test driver itself, on message boxes and a dialog built in memory, so
// that the dialog tests can trust what it reports.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>
#include <gtest/gtest-spi.h>

#include "tests/support/message_box_recorder.h"
#include "tests/support/ui_driver.h"

namespace {

// Opens a box of its own when told, as a dialog's handler would.
LRESULT CALLBACK BoxOpenerProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_APP) {
        MessageBoxA(hWnd, "inner", "inner box", MB_OKCANCEL);
        return 0;
    }
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

TEST(UiDriverTest, StepsRunInOrderInsideNestedModalLoops)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = BoxOpenerProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = "LcBoxOpener";
    RegisterClassA(&wc);
    HWND hOpener = CreateWindowA("LcBoxOpener", "", WS_POPUP, 0, 0, 10, 10, NULL, NULL, wc.hInstance, NULL);
    ASSERT_NE(hOpener, nullptr);

    UiDriver driver;
    std::vector<std::string> order;
    driver.When("outer box", [&](HWND) { order.push_back("outer"); });
    driver.After(50, [&] {
        order.push_back("timed");
        PostMessageA(hOpener, WM_APP, 0, 0);
    });
    driver.When("inner box", [&](HWND hBox) {
        order.push_back("inner");
        Click(hBox, IDCANCEL);
    });
    driver.When("outer box", [&](HWND hBox) {
        order.push_back("outer again");
        Click(hBox, IDOK);
    });

    EXPECT_EQ(MessageBoxA(NULL, "outer", "outer box", MB_OKCANCEL), IDOK);
    EXPECT_TRUE(driver.Done());
    EXPECT_EQ(driver.StepsRun(), 4u);
    std::vector<std::string> expected = { "outer", "timed", "inner", "outer again" };
    EXPECT_EQ(order, expected);
    DestroyWindow(hOpener);
}

TEST(UiDriverTest, AWindowWithAModalBoxOverItWaitsForTheBox)
{
    UiDriver driver;
    MessageBoxRecorder recorder;
    HWND hOwner = CreateWindowA("STATIC", "owner", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, NULL, NULL, NULL, NULL);
    bool bOwnerEnabledInStep = false;
    driver.When("owner", [&](HWND hWnd) {
        bOwnerEnabledInStep = IsWindowEnabled(hWnd) != FALSE;
        PostMessageA(hWnd, WM_NULL, 0, 0);
    });
    // The recorder answers the box; the step for its owner runs only after.
    MessageBoxA(hOwner, "text", "Lettercast", MB_OK);
    MSG msg;
    DWORD dwStart = GetTickCount();
    while (!driver.Done() && GetTickCount() - dwStart < 3000) {
        if (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        else
            Sleep(5);
    }
    EXPECT_TRUE(driver.Done());
    EXPECT_TRUE(bOwnerEnabledInStep);
    ASSERT_EQ(recorder.Boxes().size(), 1u);
    DestroyWindow(hOwner);
}

TEST(UiDriverTest, WhenNewSkipsAWindowAnEarlierStepWasGiven)
{
    UiDriver driver;
    HWND hFirst = CreateWindowA("STATIC", "same", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, NULL, NULL, NULL, NULL);
    HWND hSecond = NULL;
    HWND hGiven = NULL;
    driver.When("same", [&](HWND hWnd) {
        EXPECT_EQ(hWnd, hFirst);
        hSecond = CreateWindowA("STATIC", "same", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, NULL, NULL, NULL, NULL);
    });
    driver.WhenNew("same", [&](HWND hWnd) { hGiven = hWnd; });
    MSG msg;
    DWORD dwStart = GetTickCount();
    while (!driver.Done() && GetTickCount() - dwStart < 3000) {
        if (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        else
            Sleep(5);
    }
    EXPECT_TRUE(driver.Done());
    EXPECT_EQ(hGiven, hSecond);
    DestroyWindow(hFirst);
    DestroyWindow(hSecond);
}

void WaitForAWindowThatNeverComes()
{
    UiDriver driver;
    driver.SetPatience(300);
    driver.When("never shown", [](HWND) {});
    MessageBoxA(NULL, "stuck", "stuck box", MB_OK);
}

TEST(UiDriverTest, AStepThatNeverFindsItsWindowFailsAndEndsTheDialogs)
{
    DWORD dwStart = GetTickCount();
    EXPECT_NONFATAL_FAILURE(WaitForAWindowThatNeverComes(), "never shown");
    EXPECT_LT(GetTickCount() - dwStart, 5000u);
}

// Controls read and set the way the dialog tests use them.
const WORD kEditId = 100;
const WORD kCheckId = 101;
const WORD kMultiId = 102;

struct DialogLog {
    int nChanges[3];
};

INT_PTR CALLBACK ProbeDialog(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    static DialogLog* pLog = NULL;
    switch (uMsg) {
    case WM_INITDIALOG: {
        pLog = reinterpret_cast<DialogLog*>(lParam);
        HWND hTip = CreateWindowExA(WS_EX_TOPMOST, "tooltips_class32", NULL, WS_POPUP | TTS_ALWAYSTIP, 0, 0, 0, 0,
                                    hDlg, NULL, NULL, NULL);
        TOOLINFOA ti = {};
        ti.cbSize = TTTOOLINFOA_V2_SIZE;
        ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        ti.hwnd = hDlg;
        ti.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(hDlg, kCheckId));
        ti.lpszText = const_cast<char*>("Tick me");
        SendMessageA(hTip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
        return TRUE;
    }
    case WM_COMMAND:
        if (HIWORD(wParam) == EN_CHANGE && LOWORD(wParam) >= kEditId && LOWORD(wParam) <= kMultiId)
            ++pLog->nChanges[LOWORD(wParam) - kEditId];
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)
            EndDialog(hDlg, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

// A dialog template in memory: an edit box, a check box, a multi-line edit.
std::vector<WORD> ProbeTemplate()
{
    std::vector<WORD> t;
    auto dword = [&](DWORD d) { t.push_back(LOWORD(d)); t.push_back(HIWORD(d)); };
    auto text = [&](const wchar_t* psz) { while (*psz) t.push_back(*psz++); t.push_back(0); };
    dword(WS_POPUP | WS_CAPTION | WS_VISIBLE | DS_MODALFRAME);
    dword(0);
    t.push_back(3);
    t.insert(t.end(), { 0, 0, 200, 100 });
    t.push_back(0); t.push_back(0);
    text(L"probe");
    struct Item { DWORD dwStyle; WORD wId; WORD wClass; };
    const Item items[] = {
        { WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL, kEditId, 0x0081 },
        { WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX, kCheckId, 0x0080 },
        { WS_CHILD | WS_VISIBLE | WS_BORDER | ES_MULTILINE, kMultiId, 0x0081 },
    };
    short y = 5;
    for (const Item& item : items) {
        while ((t.size() * sizeof(WORD)) % sizeof(DWORD))
            t.push_back(0);
        dword(item.dwStyle);
        dword(0);
        t.insert(t.end(), { 5, (WORD)y, 80, 12 });
        t.push_back(item.wId);
        t.push_back(0xFFFF);
        t.push_back(item.wClass);
        text(L"");
        t.push_back(0);
        y += 20;
    }
    return t;
}

TEST(UiDriverTest, ControlHelpersReadAndWriteAsAUserWould)
{
    INITCOMMONCONTROLSEX icc = { sizeof(icc), ICC_WIN95_CLASSES };
    InitCommonControlsEx(&icc);
    std::vector<WORD> tmpl = ProbeTemplate();
    DialogLog log = {};
    UiDriver driver;
    std::string tip;
    bool bCheckedAfterClick = true;
    driver.When("probe", [&](HWND hDlg) {
        SetControlText(hDlg, kEditId, "abc");
        SetControlText(hDlg, kMultiId, "two\r\nlines");
        EXPECT_EQ(ControlText(hDlg, kEditId), "abc");
        EXPECT_EQ(ControlText(hDlg, kMultiId), "two\r\nlines");
        EXPECT_FALSE(IsChecked(hDlg, kCheckId));
        EXPECT_TRUE(IsControlEnabled(hDlg, kCheckId));
        tip = TooltipText(hDlg, kCheckId);
        EXPECT_EQ(TooltipText(hDlg, kEditId), "");
        Click(hDlg, kCheckId);
    });
    driver.When("probe", [&](HWND hDlg) {
        bCheckedAfterClick = IsChecked(hDlg, kCheckId);
        EXPECT_EQ(FocusedControl(), GetDlgItem(hDlg, kCheckId));
        EnableWindow(GetDlgItem(hDlg, kEditId), FALSE);
        EXPECT_FALSE(IsControlEnabled(hDlg, kEditId));
        PostCommand(hDlg, IDOK, BN_CLICKED);
    });
    INT_PTR nResult = DialogBoxIndirectParamA(GetModuleHandleA(NULL), reinterpret_cast<LPCDLGTEMPLATEA>(tmpl.data()),
                                              NULL, ProbeDialog, reinterpret_cast<LPARAM>(&log));
    EXPECT_EQ(nResult, IDOK);
    EXPECT_TRUE(driver.Done());
    EXPECT_TRUE(bCheckedAfterClick);
    EXPECT_EQ(tip, "Tick me");
    EXPECT_EQ(log.nChanges[0], 1) << "one EN_CHANGE for the single-line edit";
    EXPECT_EQ(log.nChanges[2], 1) << "one EN_CHANGE for the multi-line edit";
}

}  // namespace
