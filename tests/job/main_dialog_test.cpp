#include <windows.h>
#include <commctrl.h>
#include <dlgs.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "addin/host_state.h"
#include "engine/job_progress.h"
#include "engine/send_job.h"
#include "job/main_dialog.h"
#include "job/preview_dialog.h"
#include "resources/product.h"
#include "resources/resource.h"
#include "settings/data_paths.h"
#include "settings/settings_store.h"
#include "standin/common/fault_plan.h"
#include "tests/job/job_dialog_fixture.h"
#include "tests/support/hhspy.h"
#include "tests/support/workbook_writer.h"
#include "ui/help.h"

namespace {

size_t CountOf(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t pos = text.find(part); pos != std::string::npos; pos = text.find(part, pos + part.size()))
        ++n;
    return n;
}

std::string ClassOf(HWND hWnd)
{
    char sz[64] = "";
    GetClassNameA(hWnd, sz, sizeof(sz));
    return sz;
}

bool IsShown(HWND hDlg, int nId)
{
    return (GetWindowLongA(GetDlgItem(hDlg, nId), GWL_STYLE) & WS_VISIBLE) != 0;
}

int ProgressPos(HWND hDlg)
{
    return (int)SendDlgItemMessageA(hDlg, IDC_MAIN_PROGRESS, PBM_GETPOS, 0, 0);
}

const UINT kPlainBox = MB_OK;
const UINT kWarningBox = MB_OK | MB_ICONWARNING;

class MainDialogTest : public JobDialogTest {
protected:
    // A composed message and a list of n recipients named in JobOptions.
    void PrepareJob(int nRecipients)
    {
        ComposeInWindow("Hello [[Name]]", "Dear [[Name]]");
        WriteList(NumberedList(nRecipients));
    }

    // Presses Send as soon as the main dialog shows, its handle kept in
    // *phDlg, and runs fn once the first message has gone.
    static void SendThenAfterFirst(UiDriver& driver, HWND* phDlg, std::function<void()> fn)
    {
        driver.When(kMainTitle, [phDlg](HWND h) {
            *phDlg = h;
            Click(h, IDC_MAIN_SEND_PAUSE);
        });
        WhenTrue(driver, []() { return JobProgress.sentCount == 1; }, fn);
    }
};

// Dialog units to pixels as the dialog manager converts them: position and
// size each on their own.
RECT DialogRect(HWND hDlg, int x, int y, int cx, int cy)
{
    RECT rcPos = { x, y, 0, 0 }, rcSize = { cx, cy, 0, 0 };
    MapDialogRect(hDlg, &rcPos);
    MapDialogRect(hDlg, &rcSize);
    RECT rc = { rcPos.left, rcPos.top, rcPos.left + rcSize.left, rcPos.top + rcSize.top };
    return rc;
}

// A control's rectangle in its dialog's client coordinates.
RECT ShownRect(HWND hDlg, HWND hCtl)
{
    RECT rc;
    GetWindowRect(hCtl, &rc);
    MapWindowPoints(NULL, hDlg, (POINT*)&rc, 2);
    return rc;
}

struct ExpectedControl {
    int nId;
    const char* pszClass;
    DWORD dwStyles;     // besides child and visible
    int x, y, cx, cy;
};

TEST_F(MainDialogTest, TheDialogIsLaidOutAsDrawn)
{
    JobOptions.ToList[0] = '\0';
    const ExpectedControl kControls[] = {
        { IDC_MAIN_LIST_PATH, "Edit", WS_BORDER | ES_AUTOHSCROLL, 14, 17, 210, 14 },
        { IDC_MAIN_BROWSE, "Button", BS_PUSHBUTTON, 229, 17, 50, 14 },
        { IDC_MAIN_OPEN, "Button", BS_PUSHBUTTON, 286, 17, 50, 14 },
        { IDC_MAIN_FROM, "Static", SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS, 14, 60, 330, 8 },
        { IDC_MAIN_STATUS, "Static", SS_CENTER, 7, 75, 337, 8 },
        { IDC_MAIN_PROGRESS, "msctls_progress32", WS_BORDER, 7, 85, 337, 14 },
        { IDC_MAIN_SEND_PAUSE, "Button", BS_DEFPUSHBUTTON, 51, 109, 50, 14 },
        { IDCANCEL, "Button", BS_PUSHBUTTON, 117, 109, 50, 14 },
        { IDC_MAIN_HELP, "Button", BS_PUSHBUTTON, 183, 109, 50, 14 },
        { IDC_MAIN_OPTIONS, "Button", BS_PUSHBUTTON, 249, 109, 50, 14 },
        { IDC_MAIN_PREVIEW, "Button", BS_PUSHBUTTON, 7, 127, 50, 14 },
        { IDC_MAIN_SEND_AT, "SysDateTimePick32", WS_TABSTOP | DTS_SHOWNONE, 98, 127, 140, 14 },
        { IDC_MAIN_WEB_ADDRESS, "Static", SS_RIGHT, 244, 131, 100, 8 },
    };
    UiDriver driver;
    driver.When(kMainTitle, [&](HWND hDlg) {
        DWORD dwStyle = (DWORD)GetWindowLongA(hDlg, GWL_STYLE);
        EXPECT_EQ(dwStyle & (DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU),
                  (DWORD)(DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU));
        RECT rcSize = { 0, 0, 351, 146 };
        MapDialogRect(hDlg, &rcSize);
        RECT rcClient;
        GetClientRect(hDlg, &rcClient);
        EXPECT_EQ(rcClient.right, rcSize.right);
        EXPECT_EQ(rcClient.bottom, rcSize.bottom);

        LOGFONTA font = {};
        GetObjectA((HFONT)SendMessageA(hDlg, WM_GETFONT, 0, 0), sizeof(font), &font);
        EXPECT_STREQ(font.lfFaceName, "MS Sans Serif");

        for (const ExpectedControl& expected : kControls) {
            HWND hCtl = GetDlgItem(hDlg, expected.nId);
            ASSERT_NE(hCtl, nullptr) << expected.nId;
            EXPECT_STREQ(ClassOf(hCtl).c_str(), expected.pszClass) << expected.nId;
            // Borders are the template's business (see below): edits and
            // progress bars turn them into edges of their own.
            DWORD dwCtlStyle = (DWORD)GetWindowLongA(hCtl, GWL_STYLE);
            DWORD dwStyles = expected.dwStyles & ~WS_BORDER;
            EXPECT_EQ(dwCtlStyle & dwStyles, dwStyles) << expected.nId;
            if (strcmp(expected.pszClass, "Button") == 0) {
                EXPECT_EQ(dwCtlStyle & BS_TYPEMASK, expected.dwStyles) << expected.nId;
            }
            RECT rcShown = ShownRect(hDlg, hCtl);
            RECT rcDrawn = DialogRect(hDlg, expected.x, expected.y, expected.cx, expected.cy);
            EXPECT_TRUE(EqualRect(&rcShown, &rcDrawn)) << expected.nId;
        }
        // The group box has no id of its own: found by its text.
        HWND hGroup = FindWindowExA(hDlg, NULL, "Button", "&Mailing List:");
        ASSERT_NE(hGroup, nullptr);
        EXPECT_EQ(GetWindowLongA(hGroup, GWL_STYLE) & BS_TYPEMASK, BS_GROUPBOX);
        RECT rcGroupShown = ShownRect(hDlg, hGroup);
        RECT rcGroupDrawn = DialogRect(hDlg, 7, 7, 337, 48);
        EXPECT_TRUE(EqualRect(&rcGroupShown, &rcGroupDrawn));
        HWND hSendAtLabel = FindWindowExA(hDlg, NULL, "Static", "Send &at:");
        ASSERT_NE(hSendAtLabel, nullptr);
        EXPECT_EQ(GetWindowLongA(hSendAtLabel, GWL_STYLE) & SS_TYPEMASK, SS_RIGHT);
        RECT rcLabelShown = ShownRect(hDlg, hSendAtLabel);
        RECT rcLabelDrawn = DialogRect(hDlg, 62, 130, 32, 8);
        EXPECT_TRUE(EqualRect(&rcLabelShown, &rcLabelDrawn));

        EXPECT_EQ(ControlText(hDlg, IDC_MAIN_BROWSE), "&Browse...");
        EXPECT_EQ(ControlText(hDlg, IDC_MAIN_OPEN), "&Open...");
        EXPECT_EQ(ControlText(hDlg, IDCANCEL), "Cancel");
        EXPECT_EQ(ControlText(hDlg, IDC_MAIN_HELP), "&Help");
        EXPECT_EQ(ControlText(hDlg, IDC_MAIN_OPTIONS), "Optio&ns...");
        EXPECT_EQ(ControlText(hDlg, IDC_MAIN_WEB_ADDRESS), LC_WEB_ADDRESS_TEXT);
        EXPECT_EQ(SendDlgItemMessageA(hDlg, IDC_MAIN_PROGRESS, PBM_GETRANGE, FALSE, 0), 100);
        EXPECT_EQ(SendDlgItemMessageA(hDlg, IDC_MAIN_PROGRESS, PBM_GETRANGE, TRUE, 0), 0);
        Click(hDlg, IDCANCEL);
    });
    EXPECT_EQ(OpenMainDialog(NULL, NULL), 0);
    EXPECT_TRUE(driver.Done());
}

// One control of a DLGTEMPLATEEX as the resource holds it.
struct TemplateItem {
    DWORD dwStyle;
    short x, y, cx, cy;
    int nId;
    std::string className;   // "#0x0080" and so on for the predefined classes
    std::string text;
};

const WORD* ReadSzOrOrd(const WORD* p, std::string* pText)
{
    if (*p == 0xFFFF) {
        char sz[16];
        snprintf(sz, sizeof(sz), "#0x%04X", p[1]);
        *pText = sz;
        return p + 2;
    }
    pText->clear();
    for (; *p; ++p)
        *pText += (char)*p;
    return p + 1;
}

const WORD* AlignDword(const WORD* p)
{
    return (const WORD*)(((UINT_PTR)p + 3) & ~(UINT_PTR)3);
}

TEST(MainDialogTemplate, HoldsEveryControlWithItsClassTextStylesAndPlace)
{
    HMODULE hModule = GetModuleHandleA(NULL);
    HRSRC hRes = FindResourceA(hModule, MAKEINTRESOURCEA(IDD_MAIN_DIALOG), (LPCSTR)RT_DIALOG);
    ASSERT_NE(hRes, nullptr);
    const WORD* p = (const WORD*)LockResource(LoadResource(hModule, hRes));
    ASSERT_EQ(p[0], 1);
    ASSERT_EQ(p[1], 0xFFFF);   // an extended template
    const DWORD* pdw = (const DWORD*)(p + 2);
    DWORD dwStyle = pdw[2];
    EXPECT_EQ(dwStyle, (DWORD)(DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU));
    p = (const WORD*)(pdw + 3);
    int nItems = p[0];
    const short* pRect = (const short*)(p + 1);
    EXPECT_EQ(pRect[2], 351);
    EXPECT_EQ(pRect[3], 146);
    p += 5;
    std::string menu, windowClass, title, face;
    p = ReadSzOrOrd(p, &menu);
    p = ReadSzOrOrd(p, &windowClass);
    p = ReadSzOrOrd(p, &title);
    EXPECT_EQ(title, "Lettercast");
    EXPECT_EQ(p[0], 8);   // points
    p = ReadSzOrOrd(p + 3, &face);
    EXPECT_EQ(face, "MS Sans Serif");

    const DWORD kChild = WS_CHILD | WS_VISIBLE;
    const TemplateItem kExpected[] = {
        { kChild | BS_GROUPBOX, 7, 7, 337, 48, -1, "#0x0080", "&Mailing List:" },
        { kChild | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 14, 17, 210, 14, IDC_MAIN_LIST_PATH, "#0x0081", "" },
        { kChild | WS_TABSTOP | BS_PUSHBUTTON, 229, 17, 50, 14, IDC_MAIN_BROWSE, "#0x0080", "&Browse..." },
        { kChild | WS_TABSTOP | BS_PUSHBUTTON, 286, 17, 50, 14, IDC_MAIN_OPEN, "#0x0080", "&Open..." },
        { WS_CHILD | WS_GROUP | SS_LEFT, 14, 37, 24, 8, IDC_MAIN_SHEET_LABEL, "#0x0082", "Shee&t:" },
        { WS_CHILD | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, 40, 35, 184, 120, IDC_MAIN_SHEET, "#0x0085", "" },
        { kChild | WS_GROUP | SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS, 14, 60, 330, 8, IDC_MAIN_FROM, "#0x0082", "From:" },
        { kChild | WS_GROUP | SS_CENTER, 7, 75, 337, 8, IDC_MAIN_STATUS, "#0x0082", "Status..." },
        { kChild | WS_BORDER, 7, 85, 337, 14, IDC_MAIN_PROGRESS, "msctls_progress32", "" },
        { kChild | WS_TABSTOP | BS_DEFPUSHBUTTON, 51, 109, 50, 14, IDC_MAIN_SEND_PAUSE, "#0x0080", "Send/Pause" },
        { kChild | WS_TABSTOP | BS_PUSHBUTTON, 117, 109, 50, 14, IDCANCEL, "#0x0080", "Cancel" },
        { kChild | WS_TABSTOP | BS_PUSHBUTTON, 183, 109, 50, 14, IDC_MAIN_HELP, "#0x0080", "&Help" },
        { kChild | WS_TABSTOP | BS_PUSHBUTTON, 249, 109, 50, 14, IDC_MAIN_OPTIONS, "#0x0080", "Optio&ns..." },
        { kChild | WS_TABSTOP | BS_PUSHBUTTON, 7, 127, 50, 14, IDC_MAIN_PREVIEW, "#0x0080", "Pre&view..." },
        { kChild | WS_GROUP | SS_RIGHT, 62, 130, 32, 8, -1, "#0x0082", "Send &at:" },
        { kChild | WS_TABSTOP | DTS_SHOWNONE, 98, 127, 140, 14, IDC_MAIN_SEND_AT, "SysDateTimePick32", "" },
        { kChild | WS_GROUP | SS_RIGHT, 244, 131, 100, 8, IDC_MAIN_WEB_ADDRESS, "#0x0082", LC_WEB_ADDRESS_TEXT },
    };
    ASSERT_EQ(nItems, (int)(sizeof(kExpected) / sizeof(kExpected[0])));
    for (const TemplateItem& expected : kExpected) {
        p = AlignDword(p);
        pdw = (const DWORD*)p;
        TemplateItem item;
        item.dwStyle = pdw[2];
        const short* pItemRect = (const short*)(pdw + 3);
        item.x = pItemRect[0];
        item.y = pItemRect[1];
        item.cx = pItemRect[2];
        item.cy = pItemRect[3];
        item.nId = (int)*(const DWORD*)(pItemRect + 4);
        p = ReadSzOrOrd((const WORD*)(pItemRect + 6), &item.className);
        p = ReadSzOrOrd(p, &item.text);
        p = (const WORD*)((const BYTE*)(p + 1) + p[0]);

        EXPECT_EQ(item.nId, expected.nId);
        EXPECT_EQ(_stricmp(item.className.c_str(), expected.className.c_str()), 0)
            << item.className << " for " << expected.nId;
        EXPECT_EQ(item.text, expected.text) << expected.nId;
        EXPECT_EQ(item.dwStyle, expected.dwStyle) << std::hex << item.dwStyle << " for " << std::dec << expected.nId;
        EXPECT_EQ(item.x, expected.x) << expected.nId;
        EXPECT_EQ(item.y, expected.y) << expected.nId;
        EXPECT_EQ(item.cx, expected.cx) << expected.nId;
        EXPECT_EQ(item.cy, expected.cy) << expected.nId;
    }
}

TEST_F(MainDialogTest, OpensReadyWithTheRememberedListAndCancelClosesWithoutSaving)
{
    WriteList(NumberedList(1));
    std::string list = JobOptions.ToList;
    JobProgress.progressPos = 40;
    JobProgress.percentDone = 40.0;
    UiDriver driver;
    HWND hShown = NULL;
    driver.When(kMainTitle, [&](HWND hDlg) {
        hShown = hDlg;
        EXPECT_EQ(ghOpenMainDialog, hDlg);
        EXPECT_EQ(ControlText(hDlg, IDC_MAIN_LIST_PATH), list);
        EXPECT_EQ(SendDlgItemMessageA(hDlg, IDC_MAIN_LIST_PATH, EM_GETLIMITTEXT, 0, 0), 259);
        EXPECT_TRUE(IsControlEnabled(hDlg, IDC_MAIN_OPEN));
        EXPECT_TRUE(IsControlEnabled(hDlg, IDC_MAIN_LIST_PATH));
        EXPECT_TRUE(IsControlEnabled(hDlg, IDC_MAIN_BROWSE));
        EXPECT_TRUE(IsControlEnabled(hDlg, IDC_MAIN_SEND_AT));
        SYSTEMTIME stAt = {};
        EXPECT_EQ(SendDlgItemMessageA(hDlg, IDC_MAIN_SEND_AT, DTM_GETSYSTEMTIME, 0, (LPARAM)&stAt), GDT_NONE)
            << "unticked: at once";
        EXPECT_EQ(ControlText(hDlg, IDC_MAIN_SEND_PAUSE), "&Send");
        EXPECT_EQ(ControlText(hDlg, IDC_MAIN_STATUS), "");
        EXPECT_STREQ(JobProgress.statusText, "");
        EXPECT_EQ(JobProgress.progressPos, 0);
        EXPECT_EQ(JobProgress.percentDone, 0.0);
        EXPECT_FALSE(IsShown(hDlg, IDC_MAIN_PROGRESS));

        EXPECT_EQ(TooltipText(hDlg, IDC_MAIN_OPEN), "Open File For Viewing");
        EXPECT_EQ(TooltipText(hDlg, IDC_MAIN_BROWSE), "Browse For File");
        EXPECT_EQ(TooltipText(hDlg, IDC_MAIN_SEND_PAUSE), "Start Sending Emails");
        EXPECT_EQ(TooltipText(hDlg, IDCANCEL), "Cancel and Return to Message");
        EXPECT_EQ(TooltipText(hDlg, IDC_MAIN_HELP), "Display the Online Help");
        EXPECT_EQ(TooltipText(hDlg, IDC_MAIN_OPTIONS), "Adjust Lettercast Options");
        EXPECT_TRUE(ghMainTooltip != NULL && (GetWindowLongA(ghMainTooltip, GWL_EXSTYLE) & WS_EX_TOPMOST));

        // Typed but never sent.
        SetControlText(hDlg, IDC_MAIN_LIST_PATH, "C:\\typed.csv");
        Click(hDlg, IDCANCEL);
    });
    EXPECT_EQ(OpenMainDialog(NULL, NULL), 0);
    EXPECT_TRUE(driver.Done());
    EXPECT_FALSE(IsWindow(hShown));
    EXPECT_EQ(ghOpenMainDialog, nullptr);
    EXPECT_STREQ(JobOptions.ToList, "C:\\typed.csv");
    EXPECT_EQ(SavedOption("ToList"), "");
    EXPECT_TRUE(m_boxes->Boxes().empty());
}

TEST_F(MainDialogTest, TheCloseCommandIsACancel)
{
    UiDriver driver;
    driver.When(kMainTitle, [&](HWND hDlg) { PostMessageA(hDlg, WM_SYSCOMMAND, SC_CLOSE, 0); });
    EXPECT_EQ(OpenMainDialog(NULL, NULL), 0);
    EXPECT_TRUE(driver.Done());
    EXPECT_EQ(ghOpenMainDialog, nullptr);
}

TEST_F(MainDialogTest, AnEmptyRememberedPathLeavesOpenDisabledUntilSomethingIsTyped)
{
    JobOptions.ToList[0] = '\0';
    UiDriver driver;
    driver.When(kMainTitle, [&](HWND hDlg) {
        EXPECT_EQ(ControlText(hDlg, IDC_MAIN_LIST_PATH), "");
        EXPECT_FALSE(IsControlEnabled(hDlg, IDC_MAIN_OPEN));
        SetControlText(hDlg, IDC_MAIN_LIST_PATH, "a");
        EXPECT_TRUE(IsControlEnabled(hDlg, IDC_MAIN_OPEN));
        EXPECT_STREQ(JobOptions.ToList, "a");
        SetControlText(hDlg, IDC_MAIN_LIST_PATH, "");
        EXPECT_FALSE(IsControlEnabled(hDlg, IDC_MAIN_OPEN));
        EXPECT_STREQ(JobOptions.ToList, "");
        Click(hDlg, IDCANCEL);
    });
    EXPECT_EQ(OpenMainDialog(NULL, NULL), 0);
    EXPECT_TRUE(driver.Done());
}

TEST_F(MainDialogTest, SendWithAnEmptyBoxAsksForTheListAndStaysReady)
{
    JobOptions.ToList[0] = '\0';
    UiDriver driver;
    HWND hShown = NULL;
    driver.When(kMainTitle, [&](HWND hDlg) {
        hShown = hDlg;
        Click(hDlg, IDC_MAIN_SEND_PAUSE);
    });
    // The dialog is disabled while the box is up, so this waits for it to go.
    driver.When(kMainTitle, [&](HWND hDlg) {
        ASSERT_EQ(m_boxes->Boxes().size(), 1u);
        const RecordedBox& box = m_boxes->Boxes()[0];
        EXPECT_EQ(box.text, "Please fill in the Mailing List to use.");
        EXPECT_EQ(box.caption, "Lettercast");
        EXPECT_EQ(box.uStyle, kPlainBox);
        EXPECT_EQ(box.hWndOwner, hDlg);
        EXPECT_TRUE(IsControlEnabled(hDlg, IDC_MAIN_LIST_PATH));
        EXPECT_TRUE(IsControlEnabled(hDlg, IDC_MAIN_BROWSE));
        EXPECT_TRUE(IsControlEnabled(hDlg, IDC_MAIN_SEND_PAUSE));
        EXPECT_FALSE(IsShown(hDlg, IDC_MAIN_PROGRESS));
        EXPECT_EQ(FocusedControl(), GetDlgItem(hDlg, IDC_MAIN_LIST_PATH));
        EXPECT_EQ(ControlText(hDlg, IDC_MAIN_SEND_PAUSE), "&Send");
        EXPECT_EQ(JobProgress.jobState, JobIdle);
        Click(hDlg, IDCANCEL);
    });
    EXPECT_EQ(OpenMainDialog(NULL, NULL), 0);
    EXPECT_TRUE(driver.Done());
    EXPECT_NE(hShown, nullptr);
}

// A local time n days from now at the given hour, minute and second.
SYSTEMTIME LocalDaysAhead(int nDays, WORD wHour, WORD wMinute, WORD wSecond)
{
    SYSTEMTIME st;
    GetLocalTime(&st);
    FILETIME ft;
    SystemTimeToFileTime(&st, &ft);
    ULARGE_INTEGER units = { { ft.dwLowDateTime, ft.dwHighDateTime } };
    units.QuadPart += (ULONGLONG)nDays * 24 * 3600 * 10000000ULL;
    ft.dwLowDateTime = units.LowPart;
    ft.dwHighDateTime = units.HighPart;
    FileTimeToSystemTime(&ft, &st);
    st.wHour = wHour;
    st.wMinute = wMinute;
    st.wSecond = wSecond;
    st.wMilliseconds = 0;
    return st;
}

ULONGLONG Units(const FILETIME& ft)
{
    return ((ULONGLONG)ft.dwHighDateTime << 32) | ft.dwLowDateTime;
}

std::string Shown(const SYSTEMTIME& st)
{
    char sz[64];
    snprintf(sz, sizeof(sz), "%04u-%02u-%02u %02u:%02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
             st.wSecond);
    return sz;
}

// The picker's local time to UTC by the zone's rules for that date: standard
// time in January, daylight-saving time in July, none where the zone has none.
TEST(SendAtTime, ConvertsByTheZonesRulesForThatDateAndDropsTheSeconds)
{
    TIME_ZONE_INFORMATION central = {};
    central.Bias = -60;                  // UTC+1
    central.StandardBias = 0;
    central.DaylightBias = -60;          // UTC+2 in summer
    central.StandardDate = { 0, 10, 0, 5, 3, 0, 0, 0 };   // last Sunday of October, 03:00
    central.DaylightDate = { 0, 3, 0, 5, 2, 0, 0, 0 };    // last Sunday of March, 02:00
    TIME_ZONE_INFORMATION eastern = {};
    eastern.Bias = 300;                  // UTC-5, no daylight-saving time
    struct Case {
        const TIME_ZONE_INFORMATION* pZone;
        SYSTEMTIME local;
        const char* pszUtc;
    };
    const Case cases[] = {
        { &central, { 2027, 1, 0, 15, 9, 30, 45, 500 }, "2027-01-15 08:30:00" },
        { &central, { 2027, 7, 0, 15, 9, 30, 0, 0 }, "2027-07-15 07:30:00" },
        { &central, { 2027, 1, 0, 1, 0, 15, 59, 999 }, "2026-12-31 23:15:00" },
        { &eastern, { 2027, 1, 0, 15, 9, 30, 10, 0 }, "2027-01-15 14:30:00" },
        { &eastern, { 2027, 7, 0, 15, 21, 5, 0, 0 }, "2027-07-16 02:05:00" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Shown(c.local) + " at bias " + std::to_string(c.pZone->Bias));
        FILETIME ft = { 1, 1 };
        ASSERT_TRUE(SendAtToUtc(&c.local, c.pZone, &ft));
        SYSTEMTIME utc;
        ASSERT_TRUE(FileTimeToSystemTime(&ft, &utc));
        EXPECT_EQ(Shown(utc), c.pszUtc);
        EXPECT_EQ(Units(ft) % (60 * 10000000ULL), 0u) << "whole minutes";
    }
}

// A time in the picker reaches the job as UTC, to the minute; unticked, or
// the present minute, is at once. The list has no address column, so each
// job ends before its first copy, whenever that was to go.
TEST_F(MainDialogTest, ATimeInThePickerReachesTheJobAsUtc)
{
    ComposeInWindow("Hello", "Body");
    WriteList("Name,Phone\r\nAnn,123\r\n");
    enum Pick { Unticked, Ahead, PresentMinute };
    struct Case {
        const char* pszName;
        Pick pick;
        int nDays;
        WORD wHour, wMinute, wSecond;
    };
    const Case cases[] = {
        { "unticked", Unticked, 0, 0, 0, 0 },
        { "the day after tomorrow", Ahead, 2, 9, 5, 30 },
        { "half a year ahead", Ahead, 183, 23, 59, 59 },
        { "tomorrow at midnight", Ahead, 1, 0, 0, 0 },
        { "the present minute", PresentMinute, 0, 0, 0, 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        size_t nBoxesBefore = m_boxes->Boxes().size();
        m_boxes->Answer(IDOK);
        m_boxes->Answer(IDNO);
        SendJob job(m_pMail);
        job.m_ftSendAt.dwLowDateTime = job.m_ftSendAt.dwHighDateTime = 1;
        SYSTEMTIME stPicked = LocalDaysAhead(c.nDays, c.wHour, c.wMinute, c.wSecond);
        UiDriver driver;
        std::function<void(HWND)> pickAndSend = [&](HWND hDlg) {
            if (c.pick == PresentMinute) {
                GetLocalTime(&stPicked);
                // Not in the last seconds of a minute, which may be over
                // before Send reads the picker.
                if (stPicked.wSecond >= 55) {
                    driver.After(6000, [&, hDlg]() { pickAndSend(hDlg); });
                    return;
                }
            }
            HWND hPicker = GetDlgItem(hDlg, IDC_MAIN_SEND_AT);
            if (c.pick != Unticked) {
                SendMessageA(hPicker, DTM_SETSYSTEMTIME, GDT_VALID, (LPARAM)&stPicked);
                SYSTEMTIME stBack = {};
                EXPECT_EQ(SendMessageA(hPicker, DTM_GETSYSTEMTIME, 0, (LPARAM)&stBack), GDT_VALID);
            }
            Click(hDlg, IDC_MAIN_SEND_PAUSE);
        };
        driver.When(kMainTitle, [&](HWND hDlg) { pickAndSend(hDlg); });
        EXPECT_EQ(OpenMainDialog(&job, m_hCompose), 0);
        EXPECT_TRUE(driver.Done());

        // No question about the time: the refusal of the list, the offer of
        // help and the closing box.
        ASSERT_EQ(m_boxes->Boxes().size(), nBoxesBefore + 3);
        EXPECT_EQ(m_boxes->Boxes()[nBoxesBefore + 2].text.find("Job Not Started"), 0u);
        if (c.pick != Ahead) {
            EXPECT_EQ(Units(job.m_ftSendAt), 0u) << "at once";
            continue;
        }
        EXPECT_EQ(Units(job.m_ftSendAt) % (60 * 10000000ULL), 0u) << "whole minutes";
        // Back to local time by the computer's own zone: the minute picked.
        SYSTEMTIME stUtc, stLocal;
        ASSERT_TRUE(FileTimeToSystemTime(&job.m_ftSendAt, &stUtc));
        ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(NULL, &stUtc, &stLocal));
        SYSTEMTIME stExpected = stPicked;
        stExpected.wSecond = 0;
        EXPECT_EQ(Shown(stLocal), Shown(stExpected));
    }
}

TEST_F(MainDialogTest, APastTimeAsksAndNoLeavesTheDialogReady)
{
    PrepareJob(2);
    JobOptions.Pause = 0;
    m_boxes->Answer(IDNO);
    m_boxes->Answer(IDYES);
    SendJob job(m_pMail);
    job.m_ftSendAt.dwLowDateTime = job.m_ftSendAt.dwHighDateTime = 1;
    // A Thursday.
    SYSTEMTIME stPast = { 2020, 1, 0, 2, 9, 5, 0, 0 };
    const char kQuestion[] = "The time to send at, Thu 2 January 2020 09:05, has passed. Send now?";
    UiDriver driver;
    HWND hShown = NULL;
    driver.When(kMainTitle, [&](HWND hDlg) {
        hShown = hDlg;
        SendDlgItemMessageA(hDlg, IDC_MAIN_SEND_AT, DTM_SETSYSTEMTIME, GDT_VALID, (LPARAM)&stPast);
        Click(hDlg, IDC_MAIN_SEND_PAUSE);
    });
    // Once the question has been answered No.
    driver.When(kMainTitle, [&](HWND hDlg) {
        ASSERT_EQ(m_boxes->Boxes().size(), 1u);
        const RecordedBox& box = m_boxes->Boxes()[0];
        EXPECT_EQ(box.text, kQuestion);
        EXPECT_EQ(box.caption, "Lettercast");
        EXPECT_EQ(box.uStyle, (UINT)(MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2));
        EXPECT_EQ(box.hWndOwner, hDlg);
        EXPECT_EQ(JobProgress.jobState, JobIdle);
        EXPECT_EQ(ControlText(hDlg, IDC_MAIN_SEND_PAUSE), "&Send");
        EXPECT_TRUE(IsControlEnabled(hDlg, IDC_MAIN_LIST_PATH));
        EXPECT_TRUE(IsControlEnabled(hDlg, IDC_MAIN_BROWSE));
        EXPECT_TRUE(IsControlEnabled(hDlg, IDC_MAIN_PREVIEW));
        EXPECT_TRUE(IsControlEnabled(hDlg, IDC_MAIN_SEND_AT));
        EXPECT_TRUE(IsControlEnabled(hDlg, IDC_MAIN_SEND_PAUSE));
        EXPECT_FALSE(IsShown(hDlg, IDC_MAIN_PROGRESS));
        EXPECT_EQ(FocusedControl(), GetDlgItem(hDlg, IDC_MAIN_SEND_AT));
        SYSTEMTIME stKept = {};
        EXPECT_EQ(SendDlgItemMessageA(hDlg, IDC_MAIN_SEND_AT, DTM_GETSYSTEMTIME, 0, (LPARAM)&stKept), GDT_VALID);
        EXPECT_EQ(stKept.wYear, 2020) << "the time stays for the user to change";
        EXPECT_EQ(Units(job.m_ftSendAt), ((ULONGLONG)1 << 32) | 1) << "the job was not touched";
        EXPECT_TRUE(Delivered().empty());
        EXPECT_FALSE(LogExists());
        // Again, and Yes: the job goes at once.
        Click(hDlg, IDC_MAIN_SEND_PAUSE);
    });
    EXPECT_EQ(OpenMainDialog(&job, m_hCompose), 1);
    EXPECT_TRUE(driver.Done());

    ASSERT_EQ(m_boxes->Boxes().size(), 3u);
    EXPECT_EQ(m_boxes->Boxes()[1].text, kQuestion);
    EXPECT_EQ(m_boxes->Boxes()[1].nAnswer, IDYES);
    EXPECT_EQ(m_boxes->Boxes()[2].text, "Job Completed Successfully\n\nSent: 2");
    EXPECT_EQ(Units(job.m_ftSendAt), 0u) << "at once";
    EXPECT_EQ(Delivered().size(), 2u);
}

TEST_F(MainDialogTest, AWholeJobEndsWithTheClosingBoxAndSavesTheOptions)
{
    PrepareJob(3);
    std::string list = JobOptions.ToList;
    JobOptions.ToList[0] = '\0';
    JobOptions.Pause = 0;
    JobOptions.SendRecvCount = 7;
    std::string statusAtEnd;
    int nPosAtEnd = -1;
    HWND hShown = NULL;
    BoxWatcher watcher([&](HWND hBox) {
        if (hShown) {
            statusAtEnd = ControlText(hShown, IDC_MAIN_STATUS);
            nPosAtEnd = ProgressPos(hShown);
        }
    });
    UiDriver driver;
    std::string from;
    driver.When(kMainTitle, [&](HWND hDlg) {
        hShown = hDlg;
        from = ControlText(hDlg, IDC_MAIN_FROM);
        SetControlText(hDlg, IDC_MAIN_LIST_PATH, list.c_str());
        Click(hDlg, IDC_MAIN_SEND_PAUSE);
    });
    SendJob job(m_pMail);
    EXPECT_EQ(OpenMainDialog(&job, m_hCompose), 1);
    EXPECT_EQ(from, "From: user@standin.example") << "the account of a profile of one";
    EXPECT_TRUE(driver.Done());

    ASSERT_EQ(m_boxes->Boxes().size(), 1u);
    const RecordedBox& box = m_boxes->Boxes()[0];
    EXPECT_EQ(box.text, "Job Completed Successfully\n\nSent: 3");
    EXPECT_EQ(box.caption, "Lettercast");
    EXPECT_EQ(box.uStyle, kPlainBox);
    EXPECT_EQ(box.hWndOwner, hShown);
    EXPECT_EQ(statusAtEnd, "Completed Successfully");
    EXPECT_EQ(nPosAtEnd, 100);

    EXPECT_EQ(Delivered().size(), 3u);
    EXPECT_EQ(JobProgress.jobState, JobIdle);
    EXPECT_STREQ(JobProgress.statusText, "");
    EXPECT_EQ(JobProgress.dialogWnd, hShown);
    EXPECT_EQ(ghOpenMainDialog, nullptr);
    EXPECT_EQ(SavedOption("ToList"), list);
    EXPECT_EQ(SavedOption("SendRecvCount"), "7");
    EXPECT_EQ(SavedOption("Pause"), "0");
    // The message itself is the Announce command's business.
    EXPECT_TRUE(MessageKept());
    EXPECT_EQ(InspectorCount(), 1);
}

TEST_F(MainDialogTest, AJobThatEndsBeforeItsLogsKeepsTheLastJobsAndNamesItsReason)
{
    ComposeInWindow("Hello", "Body");
    WriteList("Name,Phone\r\nAnn,123\r\n");
    for (const char* pszName : { "CurrentJob.txt", "tosent.txt" }) {
        FILE* pOld = fopen(m_data.File(pszName).c_str(), "wb");
        ASSERT_TRUE(pOld != NULL);
        fputs("from the last job\r\n", pOld);
        fclose(pOld);
    }
    m_boxes->Answer(IDOK);
    m_boxes->Answer(IDNO);
    UiDriver driver;
    driver.When(kMainTitle, [&](HWND hDlg) { Click(hDlg, IDC_MAIN_SEND_PAUSE); });
    SendJob job(m_pMail);
    EXPECT_EQ(OpenMainDialog(&job, m_hCompose), 0);

    // The job stops at the missing address column, before any log is opened:
    // the record of the last job stands, and the box does not point to it.
    ASSERT_EQ(BoxTexts().size(), 3u);
    EXPECT_EQ(BoxTexts()[2], "Job Not Started (\"E-Mail\" field could not be found in the mailing list.)\n\nSent: 0");
    EXPECT_EQ(ReadWholeFile(m_data.File("CurrentJob.txt")), "from the last job\r\n");
    EXPECT_EQ(ReadWholeFile(m_data.File("tosent.txt")), "from the last job\r\n");
}

TEST_F(MainDialogTest, TheClosingBoxCountsTheSkippedRecords)
{
    ComposeInWindow("Hello", "Body");
    WriteList("Name,Email\r\nAnn,ann@example.com\r\nBob,no address\r\nCid\r\n");
    for (const char* pszName : { "CurrentJob.txt", "tosent.txt" }) {
        FILE* pOld = fopen(m_data.File(pszName).c_str(), "wb");
        ASSERT_TRUE(pOld != NULL);
        fputs("from the last job\r\n", pOld);
        fclose(pOld);
    }
    UiDriver driver;
    driver.When(kMainTitle, [&](HWND hDlg) { Click(hDlg, IDC_MAIN_SEND_PAUSE); });
    SendJob job(m_pMail);
    EXPECT_EQ(OpenMainDialog(&job, m_hCompose), 1);
    ASSERT_EQ(BoxTexts().size(), 2u);
    EXPECT_EQ(BoxTexts()[0], "The mailing list was checked before sending:\n\n2 records will be skipped: line 3 (no "
                             "address: the address holds no @), line 4 (too few fields to reach the address column)."
                             "\n\nSend anyway?");
    EXPECT_EQ(BoxTexts()[1], "Job Completed Successfully\n\nSent: 1\nSkipped: 2 (see the Current Job Log)");
    EXPECT_EQ(ReadWholeFile(m_data.File("tosent.txt")), "Name,Email\r\nAnn,ann@example.com\r\n");
    EXPECT_EQ(ReadWholeFile(m_data.File("CurrentJob.txt")).find("from the last job"), std::string::npos);
}

TEST_F(MainDialogTest, PauseThenSendResumesTheSameJob)
{
    PrepareJob(3);
    // A record skipped after the resume keeps its own line number.
    WriteList(NumberedList(3) + "No address,\r\n");
    JobOptions.Pause = 1;
    UiDriver driver;
    HWND hDlg = NULL;
    int nSentWhenPaused = -1;
    driver.When(kMainTitle, [&](HWND h) {
        hDlg = h;
        Click(hDlg, IDC_MAIN_SEND_PAUSE);
    });
    // Into the pause before the second message, once the timer has shown it.
    WhenTrue(driver,
             [&]() { return JobProgress.sentCount == 1 && ControlText(hDlg, IDC_MAIN_STATUS).find("2 of 3") == 0; },
             [&]() {
                 EXPECT_EQ(ControlText(hDlg, IDC_MAIN_SEND_PAUSE), "&Pause");
                 EXPECT_EQ(TooltipText(hDlg, IDC_MAIN_SEND_PAUSE), "Pause Sending");
                 EXPECT_FALSE(IsControlEnabled(hDlg, IDC_MAIN_LIST_PATH));
                 EXPECT_FALSE(IsControlEnabled(hDlg, IDC_MAIN_BROWSE));
                 EXPECT_FALSE(IsControlEnabled(hDlg, IDC_MAIN_SEND_AT));
                 EXPECT_TRUE(IsShown(hDlg, IDC_MAIN_PROGRESS));
                 EXPECT_EQ(ProgressPos(hDlg), 33);
                 std::string status = ControlText(hDlg, IDC_MAIN_STATUS);
                 EXPECT_EQ(status.find("2 of 3: Pausing Between Mails  (Remaining Time: 0:0"), 0u) << status;
                 Click(hDlg, IDC_MAIN_SEND_PAUSE);
                 driver.After(300, [&]() {
                     EXPECT_EQ(JobProgress.jobState, JobPaused);
                     // Held by the user, not pausing between mails.
                     EXPECT_EQ(ControlText(hDlg, IDC_MAIN_STATUS).find("2 of 3: Paused"), 0u)
                         << ControlText(hDlg, IDC_MAIN_STATUS);
                     EXPECT_EQ(ControlText(hDlg, IDC_MAIN_SEND_PAUSE), "&Send");
                     EXPECT_EQ(TooltipText(hDlg, IDC_MAIN_SEND_PAUSE), "Start Sending Emails");
                     nSentWhenPaused = JobProgress.sentCount;
                 });
                 // Well past the pause between mails: nothing may have moved.
                 driver.After(1500, [&]() {
                     EXPECT_EQ(JobProgress.sentCount, nSentWhenPaused);
                     EXPECT_EQ(JobProgress.jobState, JobPaused);
                     EXPECT_TRUE(LogExists());
                     Click(hDlg, IDC_MAIN_SEND_PAUSE);
                 });
                 driver.After(100, [&]() {
                     EXPECT_EQ(JobProgress.jobState, JobRunning);
                     EXPECT_EQ(ControlText(hDlg, IDC_MAIN_SEND_PAUSE), "&Pause");
                     EXPECT_EQ(TooltipText(hDlg, IDC_MAIN_SEND_PAUSE), "Pause Sending");
                 });
             });
    SendJob job(m_pMail);
    EXPECT_EQ(OpenMainDialog(&job, m_hCompose), 1);
    EXPECT_TRUE(driver.Done());
    EXPECT_EQ(nSentWhenPaused, 1);

    EXPECT_EQ(BoxTexts(), std::vector<std::string>({ "The mailing list was checked before sending:\n\n1 record will "
                                                     "be skipped: line 5 (the address is empty).\n\nSend anyway?",
                                                     "Job Completed Successfully\n\nSent: 3\nSkipped: 1 (see the "
                                                     "Current Job Log)" }));
    std::vector<DeliveredView> delivered = Delivered();
    ASSERT_EQ(delivered.size(), 3u);
    EXPECT_EQ(delivered[0].to, "r1@example.com");
    EXPECT_EQ(delivered[1].to, "r2@example.com");
    EXPECT_EQ(delivered[2].to, "r3@example.com");
    // One job: one start block, the first message's line kept, no stop.
    std::string log = CurrentLog();
    EXPECT_EQ(CountOf(log, "Job Started:"), 1u);
    EXPECT_EQ(CountOf(History(), "Job Started:"), 1u);
    EXPECT_NE(log.find("# 1, To: r1@example.com. Sent Successfully"), std::string::npos);
    EXPECT_NE(log.find("# 3, To: r3@example.com. Sent Successfully"), std::string::npos);
    EXPECT_EQ(log.find("Job Stopped"), std::string::npos);
    EXPECT_NE(log.find("Skipped line 5 of the mailing list: the address is empty\r\n"), std::string::npos) << log;
    EXPECT_NE(SentList().find("r3@example.com"), std::string::npos);
}

TEST_F(MainDialogTest, CancelWhileRunningStopsTheJobAndClosesWithZero)
{
    PrepareJob(3);
    JobOptions.Pause = 2;
    UiDriver driver;
    HWND hDlg = NULL;
    std::string statusAtEnd;
    bool bSendDisabled = false, bCancelDisabled = false;
    BoxWatcher watcher([&](HWND) {
        if (hDlg) {
            statusAtEnd = ControlText(hDlg, IDC_MAIN_STATUS);
            bSendDisabled = !IsControlEnabled(hDlg, IDC_MAIN_SEND_PAUSE);
            bCancelDisabled = !IsControlEnabled(hDlg, IDCANCEL);
        }
    });
    SendThenAfterFirst(driver, &hDlg, [&]() {
        EXPECT_EQ(JobProgress.jobState, JobRunning);
        Click(hDlg, IDCANCEL);
    });
    m_boxes->Answer(IDYES);
    SendJob job(m_pMail);
    EXPECT_EQ(OpenMainDialog(&job, m_hCompose), 0);
    EXPECT_TRUE(driver.Done());

    ASSERT_EQ(m_boxes->Boxes().size(), 2u);
    EXPECT_EQ(m_boxes->Boxes()[0].text, "Stop sending? 1 of 3 have been sent; the rest can be sent later");
    EXPECT_EQ(m_boxes->Boxes()[0].uStyle, (UINT)(MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2));
    EXPECT_EQ(m_boxes->Boxes()[0].hWndOwner, hDlg);
    EXPECT_EQ(m_boxes->Boxes()[1].text, "Job Not Complete (See Current Job Log)\n\nSent: 1");
    EXPECT_EQ(m_boxes->Boxes()[1].uStyle, kWarningBox);
    EXPECT_EQ(statusAtEnd, "Not Complete (See Current Job Log)");
    EXPECT_TRUE(bSendDisabled);
    EXPECT_TRUE(bCancelDisabled);
    EXPECT_EQ(Delivered().size(), 1u);
    std::string log = CurrentLog();
    EXPECT_NE(log.find("Job Stopped"), std::string::npos);
    EXPECT_NE(log.find("Result: Incomplete (See Current Job Log)"), std::string::npos);
    EXPECT_EQ(JobProgress.jobState, JobIdle);
    EXPECT_EQ(ghOpenMainDialog, nullptr);
    // Saved at the end of a job, cancelled or not.
    EXPECT_EQ(SavedOption("Pause"), "2");
}

TEST_F(MainDialogTest, CancelWhilePausedStopsTheJob)
{
    PrepareJob(3);
    JobOptions.Pause = 1;
    UiDriver driver;
    HWND hDlg = NULL;
    SendThenAfterFirst(driver, &hDlg, [&]() {
        Click(hDlg, IDC_MAIN_SEND_PAUSE);
        driver.After(300, [&]() {
            EXPECT_EQ(JobProgress.jobState, JobPaused);
            Click(hDlg, IDCANCEL);
        });
    });
    m_boxes->Answer(IDYES);
    SendJob job(m_pMail);
    EXPECT_EQ(OpenMainDialog(&job, m_hCompose), 0);
    EXPECT_TRUE(driver.Done());

    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{ "Stop sending? 1 of 3 have been sent; the rest can be sent later",
                                                     "Job Not Complete (See Current Job Log)\n\nSent: 1" }));
    EXPECT_EQ(Delivered().size(), 1u);
    std::string log = CurrentLog();
    EXPECT_NE(log.find("Job Stopped"), std::string::npos);
    EXPECT_NE(log.find("E-Mails Sent: 1"), std::string::npos);
    EXPECT_EQ(JobProgress.jobState, JobIdle);
}

// Esc and the close box reach a running job as Cancel does: they ask first,
// and the default, No, keeps the job going.
TEST_F(MainDialogTest, EscAndTheCloseBoxDuringAJobAskAndNoKeepsItGoing)
{
    PrepareJob(3);
    JobOptions.Pause = 2;
    UiDriver driver;
    HWND hDlg = NULL;
    SendThenAfterFirst(driver, &hDlg, [&]() {
        // A key pressed in the dialog, as the user presses it.
        PostMessageA(GetDlgItem(hDlg, IDC_MAIN_SEND_PAUSE), WM_KEYDOWN, VK_ESCAPE, 0);
        driver.After(300, [&]() {
            EXPECT_EQ(JobProgress.jobState, JobRunning);
            PostMessageA(hDlg, WM_SYSCOMMAND, SC_CLOSE, 0);
        });
    });
    m_boxes->Answer(IDNO);
    SendJob job(m_pMail);
    EXPECT_EQ(OpenMainDialog(&job, m_hCompose), 1);
    EXPECT_TRUE(driver.Done());

    const char kQuestion[] = "Stop sending? 1 of 3 have been sent; the rest can be sent later";
    ASSERT_EQ(m_boxes->Boxes().size(), 3u);
    for (int i : { 0, 1 }) {
        EXPECT_EQ(m_boxes->Boxes()[i].text, kQuestion);
        EXPECT_EQ(m_boxes->Boxes()[i].uStyle, (UINT)(MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2));
        EXPECT_EQ(m_boxes->Boxes()[i].nAnswer, IDNO);
    }
    EXPECT_EQ(m_boxes->Boxes()[2].text, "Job Completed Successfully\n\nSent: 3");
    EXPECT_EQ(m_boxes->Boxes()[2].uStyle, kPlainBox);
    EXPECT_EQ(Delivered().size(), 3u);
    EXPECT_EQ(CurrentLog().find("Job Stopped"), std::string::npos);
}

TEST_F(MainDialogTest, TheCloseBoxAnsweredYesStopsTheJobWithAWarning)
{
    PrepareJob(3);
    JobOptions.Pause = 2;
    UiDriver driver;
    HWND hDlg = NULL;
    SendThenAfterFirst(driver, &hDlg, [&]() { PostMessageA(hDlg, WM_SYSCOMMAND, SC_CLOSE, 0); });
    m_boxes->Answer(IDYES);
    SendJob job(m_pMail);
    EXPECT_EQ(OpenMainDialog(&job, m_hCompose), 0);
    EXPECT_TRUE(driver.Done());

    ASSERT_EQ(m_boxes->Boxes().size(), 2u);
    EXPECT_EQ(m_boxes->Boxes()[0].text, "Stop sending? 1 of 3 have been sent; the rest can be sent later");
    EXPECT_EQ(m_boxes->Boxes()[1].text, "Job Not Complete (See Current Job Log)\n\nSent: 1");
    EXPECT_EQ(m_boxes->Boxes()[1].uStyle, kWarningBox);
    EXPECT_EQ(Delivered().size(), 1u);
    EXPECT_NE(CurrentLog().find("Job Stopped"), std::string::npos);
}

// Sent, not sent and skipped add up to the list; each recipient has one
// number in the log.
TEST_F(MainDialogTest, TheClosingBoxCountsTheRefusedCopyAndWarns)
{
    ComposeInWindow("Hello", "Body");
    WriteList("Name,Email\r\nAnn,ann@example.com\r\nBob,no address\r\nCid,cid@example.com\r\nDee,dee@example.com\r\n");
    ASSERT_TRUE(SetFaultPlan("IMessage.SubmitMessage=raise@2"));
    UiDriver driver;
    driver.When(kMainTitle, [&](HWND hDlg) { Click(hDlg, IDC_MAIN_SEND_PAUSE); });
    SendJob job(m_pMail);
    EXPECT_EQ(OpenMainDialog(&job, m_hCompose), 0);
    EXPECT_TRUE(driver.Done());

    ASSERT_EQ(m_boxes->Boxes().size(), 2u);
    EXPECT_EQ(m_boxes->Boxes()[0].text, "The mailing list was checked before sending:\n\n1 record will be skipped: "
                                        "line 3 (no address: the address holds no @).\n\nSend anyway?");
    EXPECT_EQ(m_boxes->Boxes()[1].text, "Job Not Complete (See Current Job Log)\n\nSent: 2\nNot sent: 1 (see the Current "
                                        "Job Log)\nSkipped: 1 (see the Current Job Log)");
    EXPECT_EQ(m_boxes->Boxes()[1].uStyle, kWarningBox);
    std::string log = CurrentLog();
    EXPECT_NE(log.find("# 1, To: ann@example.com. Sent Successfully"), std::string::npos) << log;
    EXPECT_NE(log.find("# 2, To: cid@example.com. Not Sent: "), std::string::npos) << log;
    EXPECT_NE(log.find("# 3, To: dee@example.com. Sending"), std::string::npos) << log;
    EXPECT_NE(log.find("# 3, To: dee@example.com. Sent Successfully"), std::string::npos) << log;
    EXPECT_EQ(CountOf(log, "# 2, "), 2u) << log;
    EXPECT_EQ(Delivered().size(), 2u);
}

TEST_F(MainDialogTest, ASecondMainDialogIsRefusedWhileTheFirstRuns)
{
    PrepareJob(3);
    IDispatch* pFirstMail = m_pMail;
    IDispatch* pFirstInspector = m_pInspector;
    HWND hFirstCompose = m_hCompose;
    // A second compose window, whose Announce comes while the job runs.
    m_pMail = NULL;
    m_pInspector = NULL;
    ComposeInWindow("Other", "Other body");
    IDispatch* pSecondMail = m_pMail;
    HWND hSecondCompose = m_hCompose;

    JobOptions.Pause = 1;
    JobOptions.SaveOrig = 0;
    HWND hRefusalOwnersOwner = NULL;
    BoxWatcher watcher([&](HWND hBox) {
        if (ghOpenMainDialog && GetWindow(hBox, GW_OWNER) != ghOpenMainDialog)
            hRefusalOwnersOwner = GetWindow(GetWindow(hBox, GW_OWNER), GW_OWNER);
    });
    UiDriver driver;
    HWND hDlg = NULL;
    SendThenAfterFirst(driver, &hDlg, [&]() {
        Click(hDlg, IDC_MAIN_SEND_PAUSE);
        driver.After(200, [&]() {
            int nInspectors = InspectorCount();
            {
                SendJob second(pSecondMail);
                second.Announce(hSecondCompose);
            }
            EXPECT_EQ(ghOpenMainDialog, hDlg);
            EXPECT_EQ(JobProgress.jobState, JobPaused);
            EXPECT_EQ(JobProgress.dialogWnd, hDlg);
            EXPECT_EQ(InspectorCount(), nInspectors);
            Click(hDlg, IDC_MAIN_SEND_PAUSE);
        });
    });
    SendJob job(pFirstMail);
    EXPECT_EQ(OpenMainDialog(&job, hFirstCompose), 1);
    EXPECT_TRUE(driver.Done());

    ASSERT_EQ(m_boxes->Boxes().size(), 2u);
    const RecordedBox& refusal = m_boxes->Boxes()[0];
    EXPECT_EQ(refusal.text,
              "Only one mailing can happen at a time.  Currently, there is already another mailing job in progress.");
    EXPECT_EQ(refusal.uStyle, kPlainBox);
    // Over the refused dialog, which belongs to the second compose window.
    EXPECT_NE(refusal.hWndOwner, hDlg);
    EXPECT_EQ(hRefusalOwnersOwner, hSecondCompose);
    EXPECT_EQ(m_boxes->Boxes()[1].text, "Job Completed Successfully\n\nSent: 3");
    EXPECT_EQ(Delivered().size(), 3u);

    // The second message stays as it was, in its window.
    char szPath[MAX_PATH];
    EXPECT_TRUE(StandinItemPath(pSecondMail, szPath, sizeof(szPath)));
    EXPECT_TRUE(IsWindow(hSecondCompose));

    m_pMail->Release();
    m_pMail = pFirstMail;
    m_pInspector->Release();
    m_pInspector = pFirstInspector;
}

class MainDialogHelpTest : public MainDialogTest {
protected:
    void SetUp() override
    {
        MainDialogTest::SetUp();
        strcpy(gszDllDir, ProductDir().c_str());
        ResetHelpBinding();
        m_location.reset(
            new ScopedRegValue(HKEY_CLASSES_ROOT, gszHtmlHelpClsidKey, NULL, REG_SZ, TestProgramDir() + "hhspy.dll"));
    }
    void TearDown() override
    {
        MainDialogTest::TearDown();
        m_location.reset();
    }
    std::unique_ptr<ScopedRegValue> m_location;
};

TEST_F(MainDialogHelpTest, HelpAndF1OpenTheMailingListsTopic)
{
    UiDriver driver;
    HWND hDlg = NULL;
    int nAfterHelp = -1;
    driver.When(kMainTitle, [&](HWND h) {
        hDlg = h;
        Click(hDlg, IDC_MAIN_HELP);
        driver.After(200, [&]() {
            nAfterHelp = SpyCalls().Count();
            HELPINFO info = { sizeof(info), HELPINFO_WINDOW, IDC_MAIN_LIST_PATH,
                              GetDlgItem(hDlg, IDC_MAIN_LIST_PATH), 0, { 0, 0 } };
            SendMessageA(hDlg, WM_HELP, 0, (LPARAM)&info);
            Click(hDlg, IDCANCEL);
        });
    });
    EXPECT_EQ(OpenMainDialog(NULL, NULL), 0);
    EXPECT_TRUE(driver.Done());

    SpyCalls calls;
    ASSERT_EQ(nAfterHelp, 2);
    ASSERT_EQ(calls.Count(), 4);
    for (int i : { 1, 3 }) {
        EXPECT_TRUE(calls[i].bHasLink);
        EXPECT_STREQ(calls[i].szKeywords, "mailing lists");
        EXPECT_EQ(calls[i].hWndCaller, hDlg);
    }
}

// The preview says whatever Send would refuse or ask about the list, and shows
// no recipient of a list that Send refuses.
TEST_F(MainDialogTest, ThePreviewSaysWhatSendWouldRefuseOrAskAbout)
{
    const struct {
        const char* pszName;
        std::string list;
        const char* pszSays;
        bool bRefused;
    } cases[] = {
        { "invalid text", "\xEF\xBB\xBFName,Email\r\nAnn,ann@example.com\r\nB\xC3(,b@example.com\r\n",
          "Send refuses this list: line 3 of the mailing list is not valid text in UTF-8. Nothing would be sent.\n",
          true },
        { "control character", "Name,Email\r\nAnn,ann@example.com\r\nBj\x1Arn,b@example.com\r\n",
          "Send refuses this list: line 3 of the mailing list holds the control character 0x1A where text belongs. "
          "Nothing would be sent.\n",
          true },
        { "unclosed quote", "Name,Email\r\nAnn,ann@example.com\r\n\"Bob,b@example.com\r\n",
          "Send refuses this list: the record at line 3 opens a double quote that is never closed. Nothing would be "
          "sent.\n",
          true },
        { "no address column", "Name,Phone\r\nAnn,1\r\n",
          "Send refuses this list: no column is named for the e-mail address. Nothing would be sent.\n", true },
        { "no usable recipient", "Name,Email\r\nAnn,ann at example.com\r\n",
          "Send refuses this list: the mailing list has no usable recipient. Nothing would be sent.\n", true },
        { "too long before the first", "Name,Email\r\n" + std::string(33000, 'n') + ",long@example.com\r\n",
          "Send refuses this list: the mailing list holds a record longer than 32,767 characters before its first "
          "recipient. Nothing would be sent.\n",
          true },
        { "too long after one", "Name,Email\r\nAnn,ann@example.com\r\n" + std::string(33000, 'n') + ",l@example.com\r\n",
          "Send asks first: the mailing list holds a record longer than 32,767 characters after its recipient 1, and "
          "is read only up to it.\n",
          false },
        { "several address columns", "Name,Manager Email,Email\r\nAnn,boss@example.com,ann@example.com\r\n",
          "Send asks first: the mailing list has 2 columns that could hold the e-mail address; each copy goes to the "
          "address in the column \"Email\".\n",
          false },
    };
    PreviewMessage message;
    message.subject = "Hello";
    message.body = "Body";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        WriteList(c.list);
        int nTotal = -1;
        std::string position, text;
        EXPECT_TRUE(BuildPreviewText(JobOptions.ToList, message, 1, &nTotal, &position, &text));
        EXPECT_NE(text.find(c.pszSays), std::string::npos) << text;
        EXPECT_EQ(text.find("511"), std::string::npos);
        if (c.bRefused) {
            EXPECT_EQ(nTotal, 0);
            EXPECT_EQ(position, "No recipient");
        } else {
            EXPECT_EQ(nTotal, 1);
            EXPECT_EQ(position.find("Recipient 1 of 1: "), 0u) << position;
        }
    }
}

TEST_F(MainDialogHelpTest, PreviewStepsThroughTheRecipientsAndOpensItsOwnTopic)
{
    WriteList("Name,Email\nAnn,ann@example.com\nNo address,\nBob,bob@example.com\n");
    ComposeInWindow("Hello [[Name]] [[Nmae]]", "Dear [[Name|friend]],[[IF Name]] you");
    SendJob job(m_pMail);
    UiDriver driver;
    HWND hPreview = NULL;
    std::vector<std::string> positions, texts;
    std::vector<bool> previousEnabled, nextEnabled;
    auto record = [&](HWND h) {
        positions.push_back(ControlText(h, IDC_PREVIEW_POSITION));
        texts.push_back(ControlText(h, IDC_PREVIEW_TEXT));
        previousEnabled.push_back(IsWindowEnabled(GetDlgItem(h, IDC_PREVIEW_PREVIOUS)) != FALSE);
        nextEnabled.push_back(IsWindowEnabled(GetDlgItem(h, IDC_PREVIEW_NEXT)) != FALSE);
    };
    driver.When(kMainTitle, [&](HWND hDlg) { Click(hDlg, IDC_MAIN_PREVIEW); });
    driver.When("Lettercast Preview", [&](HWND h) {
        hPreview = h;
        record(h);
        Click(h, IDC_PREVIEW_NEXT);
        driver.After(100, [&, h]() {
            record(h);
            Click(h, IDC_PREVIEW_PREVIOUS);
            driver.After(100, [&, h]() {
                record(h);
                Click(h, IDC_PREVIEW_HELP);
                HELPINFO info = { sizeof(info), HELPINFO_WINDOW, IDC_PREVIEW_TEXT, GetDlgItem(h, IDC_PREVIEW_TEXT), 0,
                                  { 0, 0 } };
                SendMessageA(h, WM_HELP, 0, (LPARAM)&info);
                Click(h, IDCANCEL);
                driver.After(200, [&]() { Click(ghOpenMainDialog, IDCANCEL); });
            });
        });
    });
    EXPECT_EQ(OpenMainDialog(&job, m_hCompose), 0);
    EXPECT_TRUE(driver.Done());

    ASSERT_EQ(positions.size(), 3u);
    EXPECT_EQ(positions[0], "Recipient 1 of 2: ann@example.com");
    EXPECT_EQ(positions[1], "Recipient 2 of 2: bob@example.com");
    EXPECT_EQ(positions[2], positions[0]);
    EXPECT_EQ(previousEnabled, std::vector<bool>({ false, true, false }));
    EXPECT_EQ(nextEnabled, std::vector<bool>({ true, false, true }));
    EXPECT_NE(texts[1].find("Subject: Hello Bob [[Nmae]]\r\n\r\nDear Bob,"), std::string::npos) << texts[1];
    EXPECT_NE(texts[0].find("Address column: Email\r\nUsable recipients: 2\r\nSkipped records: 1\r\n"
                            "  Line 3: the address is empty\r\n"),
              std::string::npos)
        << texts[0];
    EXPECT_NE(texts[0].find("Warning: [[Nmae]] names no field of the mailing list"), std::string::npos);
    EXPECT_NE(texts[0].find("Warning: [[IF Name]] has no [[END IF]] and will be sent as it stands.\r\n"),
              std::string::npos)
        << texts[0];
    EXPECT_NE(texts[1].find("Dear Bob,[[IF Name]] you"), std::string::npos) << texts[1];
    EXPECT_EQ(texts[2], texts[0]);

    SpyCalls calls;
    ASSERT_EQ(calls.Count(), 4);
    for (int i : { 1, 3 }) {
        EXPECT_STREQ(calls[i].szKeywords, "preview");
        EXPECT_EQ(calls[i].hWndCaller, hPreview);
    }
}

// A long list: the first recipient shows at once and the rest is counted on
// while the window answers; the totals and Send Test to Me come at the end.
TEST_F(MainDialogTest, APreviewOfALongListCountsOnWhileItShows)
{
    const int kRecipients = 400000;
    WriteList(NumberedList(kRecipients) + "No address,\r\n");
    ComposeInWindow("Hello [[Name]]", "Dear [[Name]],");
    SendJob job(m_pMail);
    UiDriver driver;
    std::string firstPosition, firstText, lastPosition, lastText;
    bool bTestAtFirst = true, bNextAtFirst = false, bTestAtLast = false;
    int nTicks = 0;
    std::function<void(HWND)> waitForTheEnd = [&](HWND h) {
        lastPosition = ControlText(h, IDC_PREVIEW_POSITION);
        if (lastPosition.find("so far") != std::string::npos && ++nTicks < 600) {
            driver.After(100, [&, h]() { waitForTheEnd(h); });
            return;
        }
        lastText = ControlText(h, IDC_PREVIEW_TEXT);
        bTestAtLast = IsWindowEnabled(GetDlgItem(h, IDC_PREVIEW_TEST)) != FALSE;
        Click(h, IDCANCEL);
        driver.After(200, [&]() { Click(ghOpenMainDialog, IDCANCEL); });
    };
    // The window as it first shows, before its counting goes on: however fast
    // the machine counts, only the first slice of the list is read by then.
    BoxWatcher shown([&](HWND h) {
        if (!firstPosition.empty())
            return;
        firstPosition = ControlText(h, IDC_PREVIEW_POSITION);
        firstText = ControlText(h, IDC_PREVIEW_TEXT);
        bTestAtFirst = IsWindowEnabled(GetDlgItem(h, IDC_PREVIEW_TEST)) != FALSE;
        bNextAtFirst = IsWindowEnabled(GetDlgItem(h, IDC_PREVIEW_NEXT)) != FALSE;
    }, "Lettercast Preview");
    driver.When(kMainTitle, [&](HWND hDlg) { Click(hDlg, IDC_MAIN_PREVIEW); });
    driver.When("Lettercast Preview", [&](HWND h) { waitForTheEnd(h); });
    EXPECT_EQ(OpenMainDialog(&job, m_hCompose), 0);
    EXPECT_TRUE(driver.Done());

    EXPECT_EQ(firstPosition.find("Recipient 1 of "), 0u) << firstPosition;
    EXPECT_NE(firstPosition.find(" so far: r1@example.com"), std::string::npos) << firstPosition;
    EXPECT_NE(firstText.find("Usable recipients: still being counted\r\n"), std::string::npos) << firstText;
    EXPECT_NE(firstText.find("Subject: Hello Person 1\r\n\r\nDear Person 1,"), std::string::npos);
    EXPECT_FALSE(bTestAtFirst) << "a test copy waits for the whole list";
    EXPECT_TRUE(bNextAtFirst);
    EXPECT_EQ(lastPosition, "Recipient 1 of " + std::to_string(kRecipients) + ": r1@example.com");
    EXPECT_NE(lastText.find("Usable recipients: " + std::to_string(kRecipients) + "\r\nSkipped records: 1\r\n  Line " +
                            std::to_string(kRecipients + 2) + ": the address is empty\r\n"),
              std::string::npos)
        << lastText.substr(0, 400);
    EXPECT_TRUE(bTestAtLast);
}

TEST_F(MainDialogTest, BrowseChoosesAListFromTheRememberedFolder)
{
    WriteList(NumberedList(1), "chosen.csv");
    // "Pelates", in Greek.
    const char kszGreekSheet[] = "\xce\xa0\xce\xb5\xce\xbb\xce\xac\xcf\x84\xce\xb5\xcf\x82";
    XlsxWriter workbook;
    workbook.AddSheet("Customers", { { "Name", "Email" }, { "Ann", "ann@example.com" } });
    workbook.AddSheet(kszGreekSheet, { { "Name", "Email" }, { "Eleni", "eleni@example.com" } });
    std::string book = m_lists.File("book.xlsx");
    ASSERT_TRUE(workbook.WriteFile(book));
    JobOptions.ToList[0] = '\0';
    std::string folder = m_lists.Path() + "\\";
    strcpy(JobOptions.LastToFolder, folder.c_str());
    HWND hCompose = CreateWindowA("STATIC", "compose", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, NULL, NULL, NULL, NULL);

    UiDriver driver;
    HWND hDlg = NULL;
    driver.When(kMainTitle, [&](HWND h) {
        hDlg = h;
        Click(hDlg, IDC_MAIN_BROWSE);
    });
    driver.When("Select Mailing List", [&](HWND hFiles) {
        EXPECT_EQ(GetWindow(hFiles, GW_OWNER), hCompose);
        HWND hTypes = GetDlgItem(hFiles, cmb1);
        ASSERT_NE(hTypes, nullptr);
        const char* kTypes[] = { "Excel Workbooks and Text Lists (*.xlsx, *.xlsm, *.csv, *.txt)",
                                 "Excel Workbooks (*.xlsx, *.xlsm)",
                                 "Tab Delimited or Comma Separated (*.txt, *.csv)", "Tab Delimited Text (*.txt)",
                                 "Comma Separated Values (*.csv)", "All (*.*)" };
        ASSERT_EQ(SendMessageA(hTypes, CB_GETCOUNT, 0, 0), 6);
        for (int i = 0; i < 6; ++i) {
            char szType[128] = "";
            SendMessageA(hTypes, CB_GETLBTEXT, i, (LPARAM)szType);
            EXPECT_STREQ(szType, kTypes[i]);
        }
        EXPECT_EQ(SendMessageA(hTypes, CB_GETCURSEL, 0, 0), 0);
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(hFiles, chx1)));
        // A bare name: found only in the folder that the dialog starts in.
        HWND hName = GetDlgItem(hFiles, cmb13) ? GetDlgItem(hFiles, cmb13) : GetDlgItem(hFiles, edt1);
        ASSERT_NE(hName, nullptr);
        SetWindowTextA(hName, "chosen.csv");
        Click(hFiles, IDOK);
    });
    driver.When(kMainTitle, [&](HWND) {
        EXPECT_EQ(ControlText(hDlg, IDC_MAIN_LIST_PATH), m_lists.File("chosen.csv"));
        EXPECT_EQ(std::string(JobOptions.ToList), m_lists.File("chosen.csv"));
        EXPECT_EQ(std::string(JobOptions.LastToFolder), folder);
        EXPECT_TRUE(IsControlEnabled(hDlg, IDC_MAIN_OPEN));
        // Again, but cancelled: nothing changes.
        strcpy(JobOptions.LastToFolder, "C:\\");
        Click(hDlg, IDC_MAIN_BROWSE);
    });
    driver.WhenNew("Select Mailing List", [&](HWND hFiles) { Click(hFiles, IDCANCEL); });
    driver.When(kMainTitle, [&](HWND) {
        EXPECT_EQ(ControlText(hDlg, IDC_MAIN_LIST_PATH), m_lists.File("chosen.csv"));
        EXPECT_STREQ(JobOptions.LastToFolder, "C:\\");
        EXPECT_FALSE(IsShown(hDlg, IDC_MAIN_SHEET)) << "a text list has no sheets";
        // A workbook of two sheets shows them, the first chosen; a choice is
        // the job's sheet, in any script.
        SetControlText(hDlg, IDC_MAIN_LIST_PATH, book.c_str());
        EXPECT_TRUE(IsShown(hDlg, IDC_MAIN_SHEET));
        EXPECT_TRUE(IsShown(hDlg, IDC_MAIN_SHEET_LABEL));
        HWND hSheet = GetDlgItem(hDlg, IDC_MAIN_SHEET);
        EXPECT_EQ(SendMessageW(hSheet, CB_GETCOUNT, 0, 0), 2);
        EXPECT_EQ(SendMessageW(hSheet, CB_GETCURSEL, 0, 0), 0);
        EXPECT_STREQ(JobOptions.ToSheet, "Customers");
        wchar_t wszSecond[32] = L"";
        SendMessageW(hSheet, CB_GETLBTEXT, 1, (LPARAM)wszSecond);
        EXPECT_STREQ(wszSecond, L"\u03a0\u03b5\u03bb\u03ac\u03c4\u03b5\u03c2");
        SendMessageW(hSheet, CB_SETCURSEL, 1, 0);
        SendMessageA(hDlg, WM_COMMAND, MAKEWPARAM(IDC_MAIN_SHEET, CBN_SELCHANGE), (LPARAM)hSheet);
        EXPECT_STREQ(JobOptions.ToSheet, kszGreekSheet);
        // Another list hides the box and keeps the choice for the workbook.
        SetControlText(hDlg, IDC_MAIN_LIST_PATH, m_lists.File("chosen.csv").c_str());
        EXPECT_FALSE(IsShown(hDlg, IDC_MAIN_SHEET));
        EXPECT_STREQ(JobOptions.ToSheet, kszGreekSheet);
        SetControlText(hDlg, IDC_MAIN_LIST_PATH, book.c_str());
        EXPECT_EQ(SendMessageW(hSheet, CB_GETCURSEL, 0, 0), 1);
        Click(hDlg, IDCANCEL);
    });
    EXPECT_EQ(OpenMainDialog(NULL, hCompose), 0);
    EXPECT_TRUE(driver.Done());
    DestroyWindow(hCompose);
}

TEST_F(MainDialogTest, OpenViewsTheTypedListOverTheComposeWindow)
{
    JobOptions.ToList[0] = '\0';
    std::string missing = m_lists.File("missing.csv");
    HWND hCompose = CreateWindowA("STATIC", "compose", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, NULL, NULL, NULL, NULL);
    UiDriver driver;
    driver.When(kMainTitle, [&](HWND hDlg) {
        SetControlText(hDlg, IDC_MAIN_LIST_PATH, missing.c_str());
        Click(hDlg, IDC_MAIN_OPEN);
        driver.After(300, [&, hDlg]() { Click(hDlg, IDCANCEL); });
    });
    EXPECT_EQ(OpenMainDialog(NULL, hCompose), 0);
    EXPECT_TRUE(driver.Done());
    ASSERT_EQ(m_boxes->Boxes().size(), 1u);
    EXPECT_EQ(m_boxes->Boxes()[0].text, "The specified file was not found:\n" + missing);
    EXPECT_EQ(m_boxes->Boxes()[0].hWndOwner, hCompose);
    DestroyWindow(hCompose);
}

TEST_F(MainDialogTest, OptionsOpenOverTheComposeWindowDuringAJob)
{
    PrepareJob(2);
    JobOptions.Pause = 1;
    UiDriver driver;
    HWND hDlg = NULL;
    SendThenAfterFirst(driver, &hDlg, [&]() {
        Click(hDlg, IDC_MAIN_SEND_PAUSE);
        driver.After(200, [&]() { Click(hDlg, IDC_MAIN_OPTIONS); });
        driver.When("Lettercast 4.3 Options", [&](HWND hOptions) {
            EXPECT_EQ(GetWindow(hOptions, GW_OWNER), m_hCompose);
            Click(hOptions, IDCANCEL);
            driver.After(200, [&]() { Click(hDlg, IDC_MAIN_SEND_PAUSE); });
        });
    });
    SendJob job(m_pMail);
    EXPECT_EQ(OpenMainDialog(&job, m_hCompose), 1);
    EXPECT_TRUE(driver.Done());
    EXPECT_EQ(Delivered().size(), 2u);
}

}  // namespace
