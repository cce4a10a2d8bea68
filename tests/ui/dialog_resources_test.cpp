// The Options and Logs dialog resources as compiled: frame, size, font and
// every control with its id, class, text, styles and place, in tab order.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/resource.h"

namespace {

struct ControlLayout {
    int nId;
    std::string className;
    std::string text;
    DWORD dwStyle;   // besides WS_CHILD and WS_VISIBLE
    short x, y, cx, cy;
};

struct DialogLayout {
    DWORD dwStyle;
    short cx, cy;
    std::string title;
    WORD wPointSize;
    std::string font;
    std::vector<ControlLayout> controls;
};

std::string Narrow(const WCHAR* pwsz)
{
    char sz[512] = "";
    WideCharToMultiByte(CP_ACP, 0, pwsz, -1, sz, sizeof(sz), NULL, NULL);
    return sz;
}

// A name-or-ordinal field; ordinals of the predefined classes become names.
const WORD* ReadNameOrOrdinal(const WORD* p, std::string* pName)
{
    if (*p == 0xFFFF) {
        WORD wOrdinal = p[1];
        static const char* const kClasses[] = { "Button", "Edit", "Static", "ListBox", "ScrollBar", "ComboBox" };
        *pName = wOrdinal >= 0x80 && wOrdinal <= 0x85 ? kClasses[wOrdinal - 0x80] : "#" + std::to_string(wOrdinal);
        return p + 2;
    }
    *pName = Narrow((const WCHAR*)p);
    while (*p)
        ++p;
    return p + 1;
}

DialogLayout ReadDialog(int nResource)
{
    DialogLayout layout = {};
    HRSRC hRes = FindResourceA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(nResource), (LPCSTR)RT_DIALOG);
    EXPECT_NE(hRes, nullptr);
    if (!hRes)
        return layout;
    const WORD* p = (const WORD*)LockResource(LoadResource(GetModuleHandleA(NULL), hRes));
    EXPECT_EQ(p[0], 1) << "an extended dialog";
    EXPECT_EQ(p[1], 0xFFFF);
    const DWORD* pdw = (const DWORD*)(p + 2);
    layout.dwStyle = pdw[2];
    p = (const WORD*)(pdw + 3);
    WORD cItems = *p++;
    p += 2;   // x, y
    layout.cx = (short)*p++;
    layout.cy = (short)*p++;
    std::string menu, windowClass;
    p = ReadNameOrOrdinal(p, &menu);
    p = ReadNameOrOrdinal(p, &windowClass);
    layout.title = Narrow((const WCHAR*)p);
    while (*p)
        ++p;
    ++p;
    if (layout.dwStyle & DS_SETFONT) {
        layout.wPointSize = *p;
        p += 3;   // size, weight, italic and character set
        layout.font = Narrow((const WCHAR*)p);
        while (*p)
            ++p;
        ++p;
    }
    for (WORD i = 0; i < cItems; ++i) {
        p = (const WORD*)(((ULONG_PTR)p + 3) & ~(ULONG_PTR)3);
        const DWORD* pItem = (const DWORD*)p;
        ControlLayout control;
        DWORD dwStyle = pItem[2];
        EXPECT_EQ(dwStyle & (WS_CHILD | WS_VISIBLE), (DWORD)(WS_CHILD | WS_VISIBLE));
        control.dwStyle = dwStyle & ~(WS_CHILD | WS_VISIBLE);
        const short* ps = (const short*)(pItem + 3);
        control.x = ps[0];
        control.y = ps[1];
        control.cx = ps[2];
        control.cy = ps[3];
        control.nId = (int)*(const DWORD*)(ps + 4);
        p = (const WORD*)(ps + 6);
        p = ReadNameOrOrdinal(p, &control.className);
        p = ReadNameOrOrdinal(p, &control.text);
        WORD cbExtra = *p++;
        p = (const WORD*)((const BYTE*)p + cbExtra);
        layout.controls.push_back(control);
    }
    return layout;
}

void ExpectControls(const DialogLayout& layout, const std::vector<ControlLayout>& expected)
{
    ASSERT_EQ(layout.controls.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const ControlLayout& got = layout.controls[i];
        const ControlLayout& want = expected[i];
        SCOPED_TRACE("control " + std::to_string(i) + " \"" + want.text + "\"");
        EXPECT_EQ(got.nId, want.nId);
        EXPECT_EQ(_stricmp(got.className.c_str(), want.className.c_str()), 0) << got.className;
        EXPECT_EQ(got.text, want.text);
        EXPECT_EQ(got.dwStyle, want.dwStyle) << std::hex << got.dwStyle << " against " << want.dwStyle;
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.cx, want.cx);
        EXPECT_EQ(got.cy, want.cy);
    }
}

const DWORD kFrame = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
const DWORD kNumberBox = WS_BORDER | WS_TABSTOP | ES_NUMBER | ES_AUTOHSCROLL;
const DWORD kUpDown = UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_AUTOBUDDY | UDS_ARROWKEYS;
const DWORD kPush = BS_PUSHBUTTON | WS_TABSTOP;
const char kLink[] = "vostel.example/lettercast/";

TEST(DialogResourcesTest, OptionsDialogAsLaidDown)
{
    DialogLayout layout = ReadDialog(IDD_OPTIONS);
    EXPECT_EQ(layout.dwStyle, kFrame);
    EXPECT_EQ(layout.cx, 297);
    EXPECT_EQ(layout.cy, 207);
    EXPECT_EQ(layout.title, "Lettercast Options");
    EXPECT_EQ(layout.wPointSize, 8);
    EXPECT_EQ(layout.font, "MS Sans Serif");
    ExpectControls(layout, {
        { -1, "Static", "&Pause", SS_RIGHT | WS_GROUP, 69, 10, 24, 8 },
        { 1029, "Edit", "", kNumberBox, 99, 7, 34, 14 },
        { 1030, "msctls_updown32", "Spin1", kUpDown, 127, 7, 11, 14 },
        { -1, "Static", "Second(s) Between E-Mails", SS_LEFT | WS_GROUP, 138, 10, 119, 8 },
        { -1, "Static", "&Varied by up to", SS_RIGHT | WS_GROUP, 25, 28, 68, 8 },
        { 1038, "Edit", "", kNumberBox, 99, 25, 34, 14 },
        { 1039, "msctls_updown32", "Spin1", kUpDown, 127, 25, 11, 14 },
        { -1, "Static", "second(s) either way", SS_LEFT | WS_GROUP, 138, 28, 119, 8 },
        { 1006, "Button", "Do &Send/Receive Every", BS_AUTOCHECKBOX | WS_TABSTOP, 70, 47, 97, 10 },
        { 1031, "Edit", "", kNumberBox, 171, 45, 34, 14 },
        { 1032, "msctls_updown32", "Spin1", kUpDown, 199, 45, 11, 14 },
        { -1, "Static", "E-Mails", SS_LEFT | WS_GROUP, 211, 48, 41, 8 },
        { 1010, "Button", "Save &Original Message", BS_AUTOCHECKBOX | WS_TABSTOP, 70, 65, 132, 10 },
        { -1, "Button", "Sending limits", BS_GROUPBOX, 7, 82, 283, 80 },
        { -1, "Static", "Limits &for:", SS_RIGHT | WS_GROUP, 14, 97, 79, 8 },
        { 1033, "ComboBox", "", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 99, 95, 150, 90 },
        { -1, "Static", "At &most", SS_RIGHT | WS_GROUP, 14, 116, 79, 8 },
        { 1034, "Edit", "", kNumberBox, 99, 113, 46, 14 },
        { 1035, "msctls_updown32", "Spin1", kUpDown | UDS_NOTHOUSANDS, 139, 113, 11, 14 },
        { -1, "Static", "messages a minute", SS_LEFT | WS_GROUP, 150, 116, 133, 8 },
        { -1, "Static", "At mos&t", SS_RIGHT | WS_GROUP, 14, 134, 79, 8 },
        { 1036, "Edit", "", kNumberBox, 99, 131, 46, 14 },
        { 1037, "msctls_updown32", "Spin1", kUpDown | UDS_NOTHOUSANDS, 139, 131, 11, 14 },
        { -1, "Static", "recipients in any 24 hours", SS_LEFT | WS_GROUP, 150, 134, 133, 8 },
        { -1, "Static", "0 means no limit.", SS_LEFT | WS_GROUP, 99, 149, 184, 8 },
        { 1, "Button", "OK", BS_DEFPUSHBUTTON | WS_TABSTOP, 8, 170, 50, 14 },
        { 2, "Button", "Cancel", kPush, 66, 170, 50, 14 },
        { 1009, "Button", "&Help", kPush, 124, 170, 50, 14 },
        { 1011, "Button", "&Logs...", kPush, 182, 170, 50, 14 },
        { 1019, "Static", kLink, SS_RIGHT | WS_GROUP, 190, 192, 100, 8 },
    });
}

TEST(DialogResourcesTest, LogsDialogAsLaidDown)
{
    DialogLayout layout = ReadDialog(IDD_LOGS);
    EXPECT_EQ(layout.dwStyle, kFrame);
    EXPECT_EQ(layout.cx, 176);
    EXPECT_EQ(layout.cy, 137);
    EXPECT_EQ(layout.title, "Lettercast Logs");
    EXPECT_EQ(layout.wPointSize, 8);
    EXPECT_EQ(layout.font, "MS Sans Serif");
    ExpectControls(layout, {
        { -1, "Button", "Select Log To Open:", BS_GROUPBOX, 7, 6, 162, 86 },
        { 1013, "Button", "&Job History", kPush, 38, 23, 98, 14 },
        { 1014, "Button", "&Last Job Log", kPush, 38, 44, 98, 14 },
        { 1015, "Button", "Last Job &Sent List", kPush, 38, 65, 98, 14 },
        { 1, "Button", "OK", BS_DEFPUSHBUTTON | WS_TABSTOP, 7, 100, 50, 14 },
        { 2, "Button", "Cancel", kPush, 63, 100, 50, 14 },
        { 1009, "Button", "&Help", kPush, 119, 100, 50, 14 },
        { 1019, "Static", kLink, SS_RIGHT | WS_GROUP, 69, 122, 100, 8 },
    });
}

}  // namespace

namespace {

INT_PTR CALLBACK InertDialog(HWND, UINT uMsg, WPARAM, LPARAM)
{
    return uMsg == WM_INITDIALOG;
}

// The link shows the whole address in every dialog: its text, drawn in the
// font the dialog gives the control, is no wider than the control.
TEST(DialogResourcesTest, TheWebAddressFitsItsControlInEveryDialog)
{
    for (int nDialog : { IDD_MAIN_DIALOG, IDD_OPTIONS, IDD_LOGS }) {
        SCOPED_TRACE("dialog " + std::to_string(nDialog));
        HWND hDlg = CreateDialogParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(nDialog), NULL, InertDialog, 0);
        ASSERT_NE(hDlg, nullptr);
        HWND hLink = GetDlgItem(hDlg, 1019);
        ASSERT_NE(hLink, nullptr);
        char szText[128] = "";
        GetWindowTextA(hLink, szText, sizeof(szText));
        EXPECT_STREQ(szText, kLink);

        HFONT hFont = (HFONT)SendMessageA(hLink, WM_GETFONT, 0, 0);
        LOGFONTA lf = {};
        ASSERT_TRUE(hFont && GetObjectA(hFont, sizeof(lf), &lf)) << "the control has the dialog's font";
        EXPECT_STREQ(lf.lfFaceName, "MS Sans Serif");
        HDC hdc = GetDC(hLink);
        HGDIOBJ hOld = SelectObject(hdc, hFont);
        char szFace[LF_FACESIZE] = "";
        GetTextFaceA(hdc, sizeof(szFace), szFace);
        EXPECT_STREQ(szFace, "MS Sans Serif") << "drawn in the dialog's font, not a stand-in";
        SIZE size = {};
        GetTextExtentPoint32A(hdc, szText, lstrlenA(szText), &size);
        SelectObject(hdc, hOld);
        ReleaseDC(hLink, hdc);
        RECT rc;
        GetClientRect(hLink, &rc);
        EXPECT_GT(size.cx, 0);
        EXPECT_LE(size.cx, rc.right) << "\"" << szText << "\" needs " << size.cx << " pixels, the control has "
                                     << rc.right;
        DestroyWindow(hDlg);
    }
}

}  // namespace
