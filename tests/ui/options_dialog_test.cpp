// The Options dialog driven as a user would: what it shows, what OK stores
// and refuses, Cancel, help and the Logs button.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include "resources/resource.h"
#include "settings/settings_store.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/ui_driver.h"
#include "tests/ui/dialog_fixture.h"

namespace {

class OptionsDialogTest : public DialogTest {
protected:
    // Opens the dialog, types the two numbers, presses OK and, when the
    // dialog is still open after a refusal, Cancel.
    INT_PTR EnterNumbers(const char* pszPause, const char* pszCount)
    {
        UiDriver driver;
        driver.When(kOptionsTitle, [=](HWND hDlg) {
            SetControlText(hDlg, IDC_OPT_PAUSE, pszPause);
            SetControlText(hDlg, IDC_OPT_SENDRECV_COUNT, pszCount);
            Click(hDlg, IDOK);
        });
        INT_PTR nResult = OpenOptions();
        EXPECT_TRUE(driver.Done());
        return nResult;
    }
};

TEST_F(OptionsDialogTest, ShowsTheOptionsWithTheVersionInItsTitle)
{
    JobOptions.DoSendRecv = 1;
    JobOptions.SaveOrig = 0;
    UiDriver driver;
    driver.When(kOptionsTitle, [&](HWND hDlg) {
        EXPECT_EQ(ControlText(hDlg, IDC_OPT_PAUSE), "5");
        EXPECT_EQ(ControlText(hDlg, IDC_OPT_SENDRECV_COUNT), "7");
        EXPECT_TRUE(IsChecked(hDlg, IDC_OPT_DO_SENDRECV));
        EXPECT_FALSE(IsChecked(hDlg, IDC_OPT_SAVE_ORIG));
        EXPECT_TRUE(IsControlEnabled(hDlg, IDC_OPT_SENDRECV_COUNT));
        EXPECT_TRUE(IsControlEnabled(hDlg, IDC_OPT_SENDRECV_COUNT_SPIN));
        EXPECT_EQ(FocusedControl(), GetDlgItem(hDlg, IDC_OPT_PAUSE));
        EXPECT_EQ(GetWindow(hDlg, GW_OWNER), m_hOwner);

        int nLow = -1, nHigh = -1;
        SendDlgItemMessageA(hDlg, IDC_OPT_PAUSE_SPIN, UDM_GETRANGE32, (WPARAM)&nLow, (LPARAM)&nHigh);
        EXPECT_EQ(nLow, 0);
        EXPECT_EQ(nHigh, 9999);
        SendDlgItemMessageA(hDlg, IDC_OPT_SENDRECV_COUNT_SPIN, UDM_GETRANGE32, (WPARAM)&nLow, (LPARAM)&nHigh);
        EXPECT_EQ(nLow, 1);
        EXPECT_EQ(nHigh, 9999);
        EXPECT_EQ((HWND)SendDlgItemMessageA(hDlg, IDC_OPT_PAUSE_SPIN, UDM_GETBUDDY, 0, 0),
                  GetDlgItem(hDlg, IDC_OPT_PAUSE));
        EXPECT_EQ((HWND)SendDlgItemMessageA(hDlg, IDC_OPT_SENDRECV_COUNT_SPIN, UDM_GETBUDDY, 0, 0),
                  GetDlgItem(hDlg, IDC_OPT_SENDRECV_COUNT));

        // Centred on the screen, not on the owner in its corner.
        RECT rc;
        GetWindowRect(hDlg, &rc);
        EXPECT_NEAR((rc.left + rc.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 2);
        EXPECT_NEAR((rc.top + rc.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 2);
        Click(hDlg, IDCANCEL);
    });
    EXPECT_EQ(OpenOptions(), 0);
    EXPECT_TRUE(driver.Done());
}

TEST_F(OptionsDialogTest, TheSendReceiveBoxSwitchesTheCountAndItsUpDown)
{
    UiDriver driver;
    driver.When(kOptionsTitle, [&](HWND hDlg) {
        EXPECT_FALSE(IsChecked(hDlg, IDC_OPT_DO_SENDRECV));
        EXPECT_FALSE(IsControlEnabled(hDlg, IDC_OPT_SENDRECV_COUNT));
        EXPECT_FALSE(IsControlEnabled(hDlg, IDC_OPT_SENDRECV_COUNT_SPIN));
        EXPECT_EQ(ControlText(hDlg, IDC_OPT_SENDRECV_COUNT), "7") << "shown although disabled";
        Click(hDlg, IDC_OPT_DO_SENDRECV);
    });
    driver.When(kOptionsTitle, [&](HWND hDlg) {
        EXPECT_TRUE(IsChecked(hDlg, IDC_OPT_DO_SENDRECV));
        EXPECT_TRUE(IsControlEnabled(hDlg, IDC_OPT_SENDRECV_COUNT));
        EXPECT_TRUE(IsControlEnabled(hDlg, IDC_OPT_SENDRECV_COUNT_SPIN));
        Click(hDlg, IDC_OPT_DO_SENDRECV);
    });
    driver.When(kOptionsTitle, [&](HWND hDlg) {
        EXPECT_FALSE(IsControlEnabled(hDlg, IDC_OPT_SENDRECV_COUNT));
        EXPECT_FALSE(IsControlEnabled(hDlg, IDC_OPT_SENDRECV_COUNT_SPIN));
        // Only a click switches: another notification from the box does not.
        CheckDlgButton(hDlg, IDC_OPT_DO_SENDRECV, BST_CHECKED);
        PostCommand(hDlg, IDC_OPT_DO_SENDRECV, BN_SETFOCUS);
    });
    driver.When(kOptionsTitle, [&](HWND hDlg) {
        EXPECT_FALSE(IsControlEnabled(hDlg, IDC_OPT_SENDRECV_COUNT));
        Click(hDlg, IDCANCEL);
    });
    EXPECT_EQ(OpenOptions(), 0);
    EXPECT_TRUE(driver.Done());
}

TEST_F(OptionsDialogTest, APauseOutOfRangeIsRefusedWithTheFocusBackOnIt)
{
    for (const char* pszPause : { "10000", "-1", "99999999999" }) {
        SCOPED_TRACE(pszPause);
        MessageBoxRecorder recorder;
        UiDriver driver;
        HWND hShown = NULL;
        driver.When(kOptionsTitle, [&](HWND hDlg) {
            hShown = hDlg;
            SetControlText(hDlg, IDC_OPT_PAUSE, pszPause);
            Click(hDlg, IDC_OPT_SAVE_ORIG);
            Click(hDlg, IDOK);
        });
        // Runs once the box has been answered and the dialog is usable again.
        driver.After(100, [&] {});
        driver.When(kOptionsTitle, [&](HWND hDlg) {
            EXPECT_EQ(hDlg, hShown) << "the dialog stayed open";
            EXPECT_EQ(FocusedControl(), GetDlgItem(hDlg, IDC_OPT_PAUSE));
            EXPECT_EQ(JobOptions.Pause, 5);
            EXPECT_EQ(JobOptions.SaveOrig, 1);
            Click(hDlg, IDCANCEL);
        });
        EXPECT_EQ(OpenOptions(), 0);
        EXPECT_TRUE(driver.Done());
        ASSERT_EQ(recorder.Boxes().size(), 1u);
        const RecordedBox& box = recorder.Boxes()[0];
        EXPECT_EQ(box.text, "Please enter a delay value between 0 and 9999 seconds.");
        EXPECT_EQ(box.caption, "Lettercast");
        EXPECT_EQ(box.uStyle, (UINT)MB_OK);
        EXPECT_EQ(box.hWndOwner, hShown);
        EXPECT_EQ(JobOptions.Pause, 5);
        EXPECT_EQ(JobOptions.SaveOrig, 1);
        EXPECT_EQ(StoredOption("Pause"), "") << "nothing reached the registry";
    }
}

TEST_F(OptionsDialogTest, OkStoresWhatTheBoxesSay)
{
    struct Case { const char* pszPause; int nPause; };
    const Case cases[] = { { "9999", 9999 }, { "12abc", 12 }, { "", 0 }, { " +8", 8 }, { "0", 0 } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszPause);
        JobOptions.Pause = 5;
        EXPECT_EQ(EnterNumbers(c.pszPause, "7"), 1);
        EXPECT_EQ(JobOptions.Pause, c.nPause);
        EXPECT_EQ(StoredOption("Pause"), std::to_string(c.nPause));
    }
}

TEST_F(OptionsDialogTest, ACountOfZeroIsStoredAndOneAboveTheRangeKeepsThePrevious)
{
    EXPECT_EQ(EnterNumbers("5", "0"), 1);
    EXPECT_EQ(JobOptions.SendRecvCount, 0);
    EXPECT_EQ(StoredOption("SendRecvCount"), "0");

    JobOptions.SendRecvCount = 7;
    {
        UiDriver driver;
        driver.When(kOptionsTitle, [&](HWND hDlg) {
            SetControlText(hDlg, IDC_OPT_PAUSE, "30");
            SetControlText(hDlg, IDC_OPT_SENDRECV_COUNT, "10000");
            Click(hDlg, IDC_OPT_DO_SENDRECV);
            Click(hDlg, IDC_OPT_SAVE_ORIG);
            Click(hDlg, IDOK);
        });
        MessageBoxRecorder recorder;
        EXPECT_EQ(OpenOptions(), 1);
        EXPECT_TRUE(driver.Done());
        EXPECT_TRUE(recorder.Boxes().empty()) << "an unusable count is passed over in silence";
    }
    EXPECT_EQ(JobOptions.SendRecvCount, 7);
    EXPECT_EQ(JobOptions.Pause, 30);
    EXPECT_EQ(JobOptions.DoSendRecv, 1);
    EXPECT_EQ(JobOptions.SaveOrig, 0);
    EXPECT_EQ(StoredOption("SendRecvCount"), "7");
    EXPECT_EQ(StoredOption("Pause"), "30");
    EXPECT_EQ(StoredOption("DoSendRecv"), "1");
    EXPECT_EQ(StoredOption("SaveOrig"), "0");

    EXPECT_EQ(EnterNumbers("5", "-3"), 1);
    EXPECT_EQ(JobOptions.SendRecvCount, 7);
}

TEST_F(OptionsDialogTest, CancelAndCloseStoreNothing)
{
    const JobOptionsRecord before = JobOptions;
    // The Cancel button, the Esc key's command and the title-bar close.
    for (int nWay = 0; nWay < 3; ++nWay) {
        SCOPED_TRACE(nWay);
        UiDriver driver;
        driver.When(kOptionsTitle, [&](HWND hDlg) {
            SetControlText(hDlg, IDC_OPT_PAUSE, "44");
            SetControlText(hDlg, IDC_OPT_SENDRECV_COUNT, "45");
            Click(hDlg, IDC_OPT_DO_SENDRECV);
            Click(hDlg, IDC_OPT_SAVE_ORIG);
        });
        driver.When(kOptionsTitle, [&](HWND hDlg) {
            if (nWay == 0)
                Click(hDlg, IDCANCEL);
            else if (nWay == 1)
                PostCommand(hDlg, IDCANCEL, 0);
            else
                PostMessageA(hDlg, WM_SYSCOMMAND, SC_CLOSE, 0);
        });
        EXPECT_EQ(OpenOptions(), 0);
        EXPECT_TRUE(driver.Done());
        EXPECT_EQ(JobOptions.Pause, before.Pause);
        EXPECT_EQ(JobOptions.DoSendRecv, before.DoSendRecv);
        EXPECT_EQ(JobOptions.SendRecvCount, before.SendRecvCount);
        EXPECT_EQ(JobOptions.SaveOrig, before.SaveOrig);
        EXPECT_EQ(StoredOption("Pause"), "");
        EXPECT_EQ(StoredOption("SaveOrig"), "");
    }
}

TEST_F(OptionsDialogTest, HelpAndF1OpenTheOptionsTopic)
{
    UiDriver driver;
    HWND hShown = NULL;
    driver.When(kOptionsTitle, [&](HWND hDlg) {
        hShown = hDlg;
        Click(hDlg, IDC_OPT_HELP);
    });
    driver.When(kOptionsTitle, [&](HWND hDlg) {
        // F1 reaches the focused control first, which hands it to the dialog.
        HWND hFocus = GetDlgItem(hDlg, IDC_OPT_SENDRECV_COUNT);
        HELPINFO hi = { sizeof(hi), HELPINFO_WINDOW, IDC_OPT_SENDRECV_COUNT, hFocus, 0, { 0, 0 } };
        SendMessageA(hFocus, WM_HELP, 0, (LPARAM)&hi);
        PostCommand(hDlg, IDC_OPT_HELP, BN_SETFOCUS);   // not a click: no help
    });
    driver.When(kOptionsTitle, [&](HWND hDlg) { Click(hDlg, IDCANCEL); });
    EXPECT_EQ(OpenOptions(), 0);
    EXPECT_TRUE(driver.Done());
    std::vector<HWND> callers;
    std::vector<std::string> keywords = HelpKeywords(&callers);
    EXPECT_EQ(keywords, std::vector<std::string>({ "options", "options" }));
    for (HWND hCaller : callers)
        EXPECT_EQ(hCaller, hShown);
}

TEST_F(OptionsDialogTest, LogsOpensBesideItOwnedByTheSameOwner)
{
    UiDriver driver;
    HWND hOptions = NULL;
    driver.When(kOptionsTitle, [&](HWND hDlg) {
        hOptions = hDlg;
        Click(hDlg, IDC_OPT_LOGS);
    });
    driver.When(kLogsTitle, [&](HWND hLogs) {
        EXPECT_EQ(GetWindow(hLogs, GW_OWNER), m_hOwner);
        EXPECT_TRUE(IsWindowEnabled(hOptions)) << "the Logs dialog is not modal to the Options dialog";
        Click(hLogs, IDOK);
    });
    driver.When(kOptionsTitle, [&](HWND hDlg) {
        EXPECT_EQ(hDlg, hOptions);
        Click(hDlg, IDCANCEL);
    });
    EXPECT_EQ(OpenOptions(), 0);
    EXPECT_TRUE(driver.Done());
}

TEST_F(OptionsDialogTest, TheLinkOpensTheWebAddress)
{
    ViewWithSpy("https");
    UiDriver driver;
    driver.When(kOptionsTitle, [&](HWND hDlg) {
        PostCommand(hDlg, IDC_OPT_WEB_ADDRESS, STN_CLICKED);
        Click(hDlg, IDCANCEL);
    });
    EXPECT_EQ(OpenOptions(), 0);
    ViewerRecord record;
    ASSERT_TRUE(WaitForViewer(&record));
    EXPECT_NE(record.commandLine.find("https://vostel.example/lettercast/"), std::string::npos)
        << record.commandLine;
    EXPECT_EQ(record.nShow, SW_SHOWNORMAL);
}

}  // namespace
