// The link control in a real dialog: its colour, the underline and capture
// of a hover, the click, and what is left when the dialog closes.
#include <windows.h>
#include <windowsx.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "resources/resource.h"
#include "tests/support/ui_driver.h"
#include "tests/ui/dialog_fixture.h"
#include "ui/hyperlink_static.h"

namespace {

const char* const kProperties[] = { "_Hyperlink_Original_Proc_", "_Hyperlink_Original_Font_",
                                    "_Hyperlink_Underline_Font_", "_Hyperlink_From_Static_" };

HFONT FontOf(HWND hWnd)
{
    return (HFONT)SendMessageA(hWnd, WM_GETFONT, 0, 0);
}

bool IsUnderlined(HFONT hFont)
{
    LOGFONTA lf = {};
    return GetObjectA(hFont, sizeof(lf), &lf) && lf.lfUnderline;
}

// The text colour that the dialog sets for a static's drawing, starting from
// a colour nobody uses; the brush it answers goes to *plBrush.
COLORREF TextColourFor(HWND hDlg, HWND hStatic, LRESULT* plBrush = NULL)
{
    HDC hdc = GetDC(hStatic);
    SetTextColor(hdc, RGB(1, 2, 3));
    LRESULT lBrush = SendMessageA(hDlg, WM_CTLCOLORSTATIC, (WPARAM)hdc, (LPARAM)hStatic);
    COLORREF cr = GetTextColor(hdc);
    ReleaseDC(hStatic, hdc);
    if (plBrush)
        *plBrush = lBrush;
    return cr;
}

void MoveMouse(HWND hCtl, int x, int y)
{
    SendMessageA(hCtl, WM_MOUSEMOVE, 0, MAKELPARAM(x, y));
}

BOOL CALLBACK CollectHyperlinkProperty(HWND, LPSTR pszName, HANDLE, ULONG_PTR lParam)
{
    if (!IS_INTRESOURCE(pszName) && strncmp(pszName, "_Hyperlink_", 11) == 0)
        reinterpret_cast<std::vector<std::string>*>(lParam)->push_back(pszName);
    return TRUE;
}

std::vector<std::string> HyperlinkProperties(HWND hWnd)
{
    std::vector<std::string> names;
    EnumPropsExA(hWnd, CollectHyperlinkProperty, (LPARAM)&names);
    return names;
}

using HyperlinkTest = DialogTest;

TEST_F(HyperlinkTest, TheLinkIsDarkBlueAndOtherStaticsKeepTheirColour)
{
    UiDriver driver;
    driver.When(kOptionsTitle, [&](HWND hDlg) {
        HWND hLink = GetDlgItem(hDlg, IDC_OPT_WEB_ADDRESS);
        HWND hPause = FindWindowExA(hDlg, NULL, "Static", "&Pause");
        ASSERT_NE(hPause, nullptr);
        LRESULT lLinkBrush = 0, lPauseBrush = 0;
        EXPECT_EQ(TextColourFor(hDlg, hLink, &lLinkBrush), RGB(0, 0, 192));
        EXPECT_EQ(TextColourFor(hDlg, hPause, &lPauseBrush), GetSysColor(COLOR_WINDOWTEXT));
        EXPECT_EQ(lLinkBrush, lPauseBrush) << "the background is the dialog's";
        EXPECT_NE(lLinkBrush, 0);
        EXPECT_EQ(ControlText(hDlg, IDC_OPT_WEB_ADDRESS), "vostel.example/lettercast/");
        EXPECT_TRUE(GetWindowLongA(hLink, GWL_STYLE) & SS_NOTIFY);
        EXPECT_FALSE(IsUnderlined(FontOf(hLink))) << "no underline before the pointer comes";
        EXPECT_EQ(FontOf(hLink), FontOf(hDlg));
        Click(hDlg, IDCANCEL);
    });
    OpenOptions();
    EXPECT_TRUE(driver.Done());
}

TEST_F(HyperlinkTest, HoveringUnderlinesAndLeavingRestoresAndReleases)
{
    UiDriver driver;
    driver.When(kOptionsTitle, [&](HWND hDlg) {
        HWND hLink = GetDlgItem(hDlg, IDC_OPT_WEB_ADDRESS);
        HFONT hPlain = FontOf(hLink);
        RECT rc;
        GetClientRect(hLink, &rc);

        MoveMouse(hLink, 3, 2);
        EXPECT_EQ(GetCapture(), hLink);
        HFONT hHover = FontOf(hLink);
        EXPECT_NE(hHover, hPlain);
        EXPECT_TRUE(IsUnderlined(hHover));
        EXPECT_EQ(hHover, (HFONT)GetPropA(hLink, "_Hyperlink_Underline_Font_"));

        MoveMouse(hLink, rc.right - 1, rc.bottom - 1);
        EXPECT_EQ(GetCapture(), hLink) << "still over the link";
        EXPECT_EQ(FontOf(hLink), hHover);

        MoveMouse(hLink, rc.right + 5, 2);
        EXPECT_EQ(GetCapture(), nullptr);
        EXPECT_EQ(FontOf(hLink), hPlain);

        // A second hover works the same way, from the left this time.
        MoveMouse(hLink, 1, 1);
        EXPECT_EQ(GetCapture(), hLink);
        MoveMouse(hLink, -4, 1);
        EXPECT_EQ(GetCapture(), nullptr);
        EXPECT_EQ(FontOf(hLink), hPlain);

        // With the capture gone, the rest of the dialog takes clicks again.
        Click(hDlg, IDC_OPT_DO_SENDRECV);
    });
    driver.When(kOptionsTitle, [&](HWND hDlg) {
        EXPECT_TRUE(IsChecked(hDlg, IDC_OPT_DO_SENDRECV));
        Click(hDlg, IDCANCEL);
    });
    OpenOptions();
    EXPECT_TRUE(driver.Done());
}

TEST_F(HyperlinkTest, ThePointerBecomesAHand)
{
    UiDriver driver;
    driver.When(kOptionsTitle, [&](HWND hDlg) {
        HWND hLink = GetDlgItem(hDlg, IDC_OPT_WEB_ADDRESS);
        SetCursor(LoadCursor(NULL, IDC_IBEAM));
        EXPECT_EQ(SendMessageA(hLink, WM_SETCURSOR, (WPARAM)hLink, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)), TRUE);
        EXPECT_EQ(GetCursor(), LoadCursor(NULL, IDC_HAND));
        Click(hDlg, IDCANCEL);
    });
    OpenOptions();
    EXPECT_TRUE(driver.Done());
}

TEST_F(HyperlinkTest, AClickOnTheTextReachesTheDialogAsItsCommand)
{
    ViewWithSpy("https");
    UiDriver driver;
    driver.When(kLogsTitle, [&](HWND hDlg) {
        HWND hLink = GetDlgItem(hDlg, IDC_LOGS_WEB_ADDRESS);
        PostMessageA(hLink, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
        PostMessageA(hLink, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    });
    driver.After(200, [&] {});
    driver.When(kLogsTitle, [&](HWND hDlg) { Click(hDlg, IDCANCEL); });
    OpenLogs();
    EXPECT_TRUE(driver.Done());
    ViewerRecord record;
    ASSERT_TRUE(WaitForViewer(&record));
    EXPECT_NE(record.commandLine.find("https://vostel.example/lettercast/"), std::string::npos);
}

// What each window holds as its own WM_DESTROY has been handled: the link's
// procedures have stepped aside by then.
struct DestroyCheck {
    HWND hDlg;
    HWND hLink;
    bool bDialogSeen;
    bool bLinkSeen;
    std::vector<std::string> dialogProps;
    std::vector<std::string> linkProps;
    LONG_PTR lDialogProc;
    LONG_PTR lLinkProc;
    HFONT hLinkFont;
};
DestroyCheck gCheck;

LRESULT CALLBACK AfterMessage(int nCode, WPARAM wParam, LPARAM lParam)
{
    const CWPRETSTRUCT* pMsg = (const CWPRETSTRUCT*)lParam;
    if (nCode == HC_ACTION && pMsg->message == WM_DESTROY) {
        if (pMsg->hwnd == gCheck.hDlg) {
            gCheck.bDialogSeen = true;
            gCheck.dialogProps = HyperlinkProperties(pMsg->hwnd);
            gCheck.lDialogProc = GetWindowLongPtrA(pMsg->hwnd, GWLP_WNDPROC);
        } else if (pMsg->hwnd == gCheck.hLink) {
            gCheck.bLinkSeen = true;
            gCheck.linkProps = HyperlinkProperties(pMsg->hwnd);
            gCheck.lLinkProc = GetWindowLongPtrA(pMsg->hwnd, GWLP_WNDPROC);
            gCheck.hLinkFont = FontOf(pMsg->hwnd);
        }
    }
    return CallNextHookEx(NULL, nCode, wParam, lParam);
}

TEST_F(HyperlinkTest, ClosingWhileHoveredLeavesNothingBehind)
{
    gCheck = DestroyCheck{};
    HFONT hUnderline = NULL;
    HFONT hPlain = NULL;
    UiDriver driver;
    driver.When(kOptionsTitle, [&](HWND hDlg) {
        gCheck.hDlg = hDlg;
        gCheck.hLink = GetDlgItem(hDlg, IDC_OPT_WEB_ADDRESS);
        std::vector<std::string> all(std::begin(kProperties), std::end(kProperties));
        std::vector<std::string> held = HyperlinkProperties(gCheck.hLink);
        std::sort(all.begin(), all.end());
        std::sort(held.begin(), held.end());
        EXPECT_EQ(held, all);
        EXPECT_EQ(HyperlinkProperties(hDlg), std::vector<std::string>({ "_Hyperlink_Original_Proc_" }));
        EXPECT_EQ(GetWindowLongPtrA(hDlg, GWLP_WNDPROC), (LONG_PTR)HyperlinkParentProc);
        EXPECT_EQ(GetWindowLongPtrA(gCheck.hLink, GWLP_WNDPROC), (LONG_PTR)HyperlinkProc);

        hPlain = FontOf(gCheck.hLink);
        MoveMouse(gCheck.hLink, 2, 2);
        hUnderline = FontOf(gCheck.hLink);
        EXPECT_TRUE(IsUnderlined(hUnderline));
        Click(hDlg, IDCANCEL);
    });
    HHOOK hHook = SetWindowsHookExA(WH_CALLWNDPROCRET, AfterMessage, NULL, GetCurrentThreadId());
    ASSERT_NE(hHook, nullptr);
    OpenOptions();
    UnhookWindowsHookEx(hHook);
    EXPECT_TRUE(driver.Done());

    ASSERT_TRUE(gCheck.bDialogSeen);
    ASSERT_TRUE(gCheck.bLinkSeen);
    EXPECT_TRUE(gCheck.dialogProps.empty());
    EXPECT_TRUE(gCheck.linkProps.empty());
    EXPECT_NE(gCheck.lDialogProc, (LONG_PTR)HyperlinkParentProc);
    EXPECT_NE(gCheck.lLinkProc, (LONG_PTR)HyperlinkProc);
    EXPECT_EQ(gCheck.hLinkFont, hPlain) << "the control got its own font back";
    EXPECT_EQ(GetObjectType(hUnderline), 0u) << "the underlined font was deleted";
}

TEST_F(HyperlinkTest, ASecondLinkInTheDialogDoesNotSubclassItAgain)
{
    UiDriver driver;
    driver.When(kOptionsTitle, [&](HWND hDlg) {
        HANDLE hOriginal = GetPropA(hDlg, "_Hyperlink_Original_Proc_");
        HWND hEmails = FindWindowExA(hDlg, NULL, "Static", "E-Mails");
        HWND hPause = FindWindowExA(hDlg, NULL, "Static", "&Pause");
        ASSERT_NE(hEmails, nullptr);
        EXPECT_EQ(AttachHyperlink(hEmails), 1);
        EXPECT_EQ(GetPropA(hDlg, "_Hyperlink_Original_Proc_"), hOriginal);
        EXPECT_NE(hOriginal, (HANDLE)HyperlinkParentProc);
        EXPECT_EQ(GetWindowLongPtrA(hDlg, GWLP_WNDPROC), (LONG_PTR)HyperlinkParentProc);
        // Both links are coloured; the dialog's own statics are not.
        EXPECT_EQ(TextColourFor(hDlg, hEmails), RGB(0, 0, 192));
        EXPECT_EQ(TextColourFor(hDlg, GetDlgItem(hDlg, IDC_OPT_WEB_ADDRESS)), RGB(0, 0, 192));
        EXPECT_NE(TextColourFor(hDlg, hPause), RGB(0, 0, 192));
        Click(hDlg, IDCANCEL);
    });
    EXPECT_EQ(OpenOptions(), 0);
    EXPECT_TRUE(driver.Done());
}

TEST_F(HyperlinkTest, AttachItemWorksOnAnyWindowWithAStaticChild)
{
    HWND hParent = CreateWindowA("STATIC", "parent", WS_POPUP, 0, 0, 200, 100, NULL, NULL, NULL, NULL);
    HWND hStatic = CreateWindowA("STATIC", "link", WS_CHILD | WS_VISIBLE, 5, 5, 80, 12, hParent, (HMENU)77, NULL, NULL);
    EXPECT_EQ(AttachHyperlinkItem(hParent, 77), 1);
    // No font of its own: the underlined copy is made from the system font.
    HFONT hUnderline = (HFONT)GetPropA(hStatic, "_Hyperlink_Underline_Font_");
    EXPECT_TRUE(IsUnderlined(hUnderline));
    EXPECT_EQ(TextColourFor(hParent, hStatic), RGB(0, 0, 192));
    DestroyWindow(hStatic);
    EXPECT_EQ(GetObjectType(hUnderline), 0u);
    EXPECT_EQ(HyperlinkProperties(hParent).size(), 1u) << "the parent keeps its until it goes";
    DestroyWindow(hParent);
}

}  // namespace
