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

    // Types the pause, its variation and the two limits into the dialog.
    static void TypeLimits(HWND hDlg, const char* pszPause, const char* pszVariation, const char* pszPerMinute,
                           const char* pszPerDay)
    {
        SetControlText(hDlg, IDC_OPT_PAUSE, pszPause);
        SetControlText(hDlg, IDC_OPT_PAUSE_VARIATION, pszVariation);
        SetControlText(hDlg, IDC_OPT_PER_MINUTE, pszPerMinute);
        SetControlText(hDlg, IDC_OPT_PER_DAY, pszPerDay);
    }

    // Opens the dialog, types the limits and presses OK.
    INT_PTR EnterLimits(const char* pszPause, const char* pszVariation, const char* pszPerMinute,
                        const char* pszPerDay)
    {
        UiDriver driver;
        driver.When(kOptionsTitle, [=](HWND hDlg) {
            TypeLimits(hDlg, pszPause, pszVariation, pszPerMinute, pszPerDay);
            Click(hDlg, IDOK);
        });
        INT_PTR nResult = OpenOptions();
        EXPECT_TRUE(driver.Done());
        return nResult;
    }
};

// The text of the item the limits' list shows.
std::string ChosenPreset(HWND hDlg)
{
    HWND hCombo = GetDlgItem(hDlg, IDC_OPT_PRESET);
    int nItem = (int)SendMessageA(hCombo, CB_GETCURSEL, 0, 0);
    if (nItem < 0)
        return "(none)";
    char szItem[128] = "";
    SendMessageA(hCombo, CB_GETLBTEXT, nItem, (LPARAM)szItem);
    return szItem;
}

// A choice in the limits' list as a user's click makes it: the selection,
// then the list's notification to the dialog. An index of -1 selects by text.
void ChoosePreset(HWND hDlg, const char* pszItem, int nIndex = -1)
{
    HWND hCombo = GetDlgItem(hDlg, IDC_OPT_PRESET);
    if (nIndex < 0)
        SendMessageA(hCombo, CB_SELECTSTRING, (WPARAM)-1, (LPARAM)pszItem);
    else
        SendMessageA(hCombo, CB_SETCURSEL, nIndex, 0);
    SendMessageA(hDlg, WM_COMMAND, MAKEWPARAM(IDC_OPT_PRESET, CBN_SELCHANGE), (LPARAM)hCombo);
}

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

TEST_F(OptionsDialogTest, ShowsTheStoredLimitsWithTheirPreset)
{
    struct Case { int nPerMinute; int nPerDay; int nVariation; const char* pszPreset; };
    const Case cases[] = {
        { 0, 0, 0, "No limit" },
        { 30, 10000, 2, "Exchange Online / Microsoft 365" },
        { 0, 5000, 0, "Outlook.com" },
        { 0, 500, 3, "Gmail" },
        { 0, 2000, 0, "Google Workspace" },
        { 30, 500, 1, "Limits of my own" },
        { 0, 1000000, 9999, "Limits of my own" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszPreset + std::string(" ") + std::to_string(c.nPerMinute) + "/" + std::to_string(c.nPerDay));
        JobOptions.PerMinute = c.nPerMinute;
        JobOptions.PerDay = c.nPerDay;
        JobOptions.PauseVariation = c.nVariation;
        UiDriver driver;
        driver.When(kOptionsTitle, [&](HWND hDlg) {
            EXPECT_EQ(ControlText(hDlg, IDC_OPT_PER_MINUTE), std::to_string(c.nPerMinute));
            EXPECT_EQ(ControlText(hDlg, IDC_OPT_PER_DAY), std::to_string(c.nPerDay));
            EXPECT_EQ(ControlText(hDlg, IDC_OPT_PAUSE_VARIATION), std::to_string(c.nVariation));
            EXPECT_EQ(ChosenPreset(hDlg), c.pszPreset);
            EXPECT_EQ(ControlText(hDlg, IDC_OPT_PAUSE), "5") << "the pause is where it was";

            // The presets in their table's order, the user's own last.
            const char* kItems[] = { "No limit", "Exchange Online / Microsoft 365", "Outlook.com", "Gmail",
                                     "Google Workspace", "Limits of my own" };
            HWND hCombo = GetDlgItem(hDlg, IDC_OPT_PRESET);
            ASSERT_EQ(SendMessageA(hCombo, CB_GETCOUNT, 0, 0), 6);
            for (int i = 0; i < 6; ++i) {
                char szItem[128] = "";
                SendMessageA(hCombo, CB_GETLBTEXT, i, (LPARAM)szItem);
                EXPECT_STREQ(szItem, kItems[i]) << i;
            }

            struct Range { int nSpin; int nBuddy; int nHigh; };
            const Range ranges[] = { { IDC_OPT_PAUSE_VARIATION_SPIN, IDC_OPT_PAUSE_VARIATION, 9999 },
                                     { IDC_OPT_PER_MINUTE_SPIN, IDC_OPT_PER_MINUTE, 9999 },
                                     { IDC_OPT_PER_DAY_SPIN, IDC_OPT_PER_DAY, 1000000 } };
            for (const Range& r : ranges) {
                int nLow = -1, nHigh = -1;
                SendDlgItemMessageA(hDlg, r.nSpin, UDM_GETRANGE32, (WPARAM)&nLow, (LPARAM)&nHigh);
                EXPECT_EQ(nLow, 0) << r.nSpin;
                EXPECT_EQ(nHigh, r.nHigh) << r.nSpin;
                EXPECT_EQ((HWND)SendDlgItemMessageA(hDlg, r.nSpin, UDM_GETBUDDY, 0, 0), GetDlgItem(hDlg, r.nBuddy))
                    << r.nSpin;
            }
            Click(hDlg, IDCANCEL);
        });
        EXPECT_EQ(OpenOptions(), 0);
        EXPECT_TRUE(driver.Done());
    }
}

TEST_F(OptionsDialogTest, APresetFillsTheLimitBoxesAndOkStoresThem)
{
    struct Case { const char* pszItem; int nIndex; const char* pszPerMinute; const char* pszPerDay; };
    const Case cases[] = {
        { "Exchange Online / Microsoft 365", -1, "30", "10000" },
        { "Outlook.com", -1, "0", "5000" },
        { "Gmail", -1, "0", "500" },
        { "Google Workspace", -1, "0", "2000" },
        { "No limit", -1, "0", "0" },
        { "Gmail", 3, "0", "500" },
        // The user's own limits keep what the boxes say.
        { "Limits of my own", -1, "12", "345" },
        { "Limits of my own", 5, "12", "345" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszItem + std::string(" at ") + std::to_string(c.nIndex));
        JobOptions.PerMinute = 12;
        JobOptions.PerDay = 345;
        UiDriver driver;
        driver.When(kOptionsTitle, [&](HWND hDlg) {
            EXPECT_EQ(ChosenPreset(hDlg), "Limits of my own");
            ChoosePreset(hDlg, c.pszItem, c.nIndex);
            EXPECT_EQ(ControlText(hDlg, IDC_OPT_PER_MINUTE), c.pszPerMinute);
            EXPECT_EQ(ControlText(hDlg, IDC_OPT_PER_DAY), c.pszPerDay);
            EXPECT_EQ(ChosenPreset(hDlg), c.pszItem) << "the choice stands once both boxes are filled";
            Click(hDlg, IDOK);
        });
        EXPECT_EQ(OpenOptions(), 1);
        EXPECT_TRUE(driver.Done());
        EXPECT_EQ(std::to_string(JobOptions.PerMinute), c.pszPerMinute);
        EXPECT_EQ(std::to_string(JobOptions.PerDay), c.pszPerDay);
        EXPECT_EQ(StoredOption("PerMinute"), c.pszPerMinute);
        EXPECT_EQ(StoredOption("PerDay"), c.pszPerDay);
    }
}

TEST_F(OptionsDialogTest, EditingALimitSelectsWhatTheBoxesMatch)
{
    JobOptions.PerMinute = 30;
    JobOptions.PerDay = 10000;
    const JobOptionsRecord before = JobOptions;
    // Each row is typed over the one before it.
    struct Case { int nId; const char* pszText; const char* pszPreset; };
    const Case cases[] = {
        { IDC_OPT_PER_MINUTE, "31", "Limits of my own" },
        { IDC_OPT_PER_MINUTE, "30", "Exchange Online / Microsoft 365" },
        { IDC_OPT_PER_DAY, "500", "Limits of my own" },
        { IDC_OPT_PER_MINUTE, "0", "Gmail" },
        { IDC_OPT_PER_DAY, "5000", "Outlook.com" },
        { IDC_OPT_PER_DAY, "2000", "Google Workspace" },
        { IDC_OPT_PER_DAY, "", "No limit" },
        { IDC_OPT_PER_MINUTE, "1", "Limits of my own" },
        // Only the limits choose: the variation and the pause do not.
        { IDC_OPT_PAUSE_VARIATION, "0", "Limits of my own" },
        { IDC_OPT_PER_MINUTE, "0", "No limit" },
        { IDC_OPT_PAUSE, "30", "No limit" },
    };
    UiDriver driver;
    driver.When(kOptionsTitle, [&](HWND hDlg) {
        EXPECT_EQ(ChosenPreset(hDlg), "Exchange Online / Microsoft 365");
        for (const Case& c : cases) {
            SetControlText(hDlg, c.nId, c.pszText);
            EXPECT_EQ(ChosenPreset(hDlg), c.pszPreset) << c.nId << " \"" << c.pszText << "\"";
        }
        Click(hDlg, IDCANCEL);
    });
    EXPECT_EQ(OpenOptions(), 0);
    EXPECT_TRUE(driver.Done());
    EXPECT_EQ(JobOptions.PerMinute, before.PerMinute);
    EXPECT_EQ(JobOptions.PerDay, before.PerDay);
    EXPECT_EQ(StoredOption("PerMinute"), "");
}

TEST_F(OptionsDialogTest, OkStoresTheLimitsAndTheVariation)
{
    struct Case {
        const char* pszPause; const char* pszVariation; const char* pszPerMinute; const char* pszPerDay;
        int nPause; int nVariation; int nPerMinute; int nPerDay;
    };
    const Case cases[] = {
        { "5", "5", "30", "10000", 5, 5, 30, 10000 },
        { "10", "0", "0", "0", 10, 0, 0, 0 },
        { "9999", "9999", "9999", "1000000", 9999, 9999, 9999, 1000000 },
        { "3", " +2", "12abc", "", 3, 2, 12, 0 },
        { "0", "", "1", "1", 0, 0, 1, 1 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pszPause) + " " + c.pszVariation + " " + c.pszPerMinute + " " + c.pszPerDay);
        MessageBoxRecorder recorder;
        EXPECT_EQ(EnterLimits(c.pszPause, c.pszVariation, c.pszPerMinute, c.pszPerDay), 1);
        EXPECT_TRUE(recorder.Boxes().empty());
        EXPECT_EQ(JobOptions.Pause, c.nPause);
        EXPECT_EQ(JobOptions.PauseVariation, c.nVariation);
        EXPECT_EQ(JobOptions.PerMinute, c.nPerMinute);
        EXPECT_EQ(JobOptions.PerDay, c.nPerDay);
        EXPECT_EQ(StoredOption("PauseVariation"), std::to_string(c.nVariation));
        EXPECT_EQ(StoredOption("PerMinute"), std::to_string(c.nPerMinute));
        EXPECT_EQ(StoredOption("PerDay"), std::to_string(c.nPerDay));
    }
}

TEST_F(OptionsDialogTest, ALimitOrVariationOutOfRangeIsRefusedWithTheFocusBackOnIt)
{
    const char kPerMinute[] = "Please enter a number of messages a minute between 0 and 9999 (0 means no limit).";
    const char kPerDay[] = "Please enter a number of recipients in 24 hours between 0 and 1000000 (0 means no limit).";
    struct Case {
        const char* pszPause; const char* pszVariation; const char* pszPerMinute; const char* pszPerDay;
        int nFocus; std::string message;
    };
    auto variation = [](const char* pszMost) {
        return std::string("Please enter a variation between 0 and ") + pszMost +
               " seconds: the pause cannot be varied by more than its own length.";
    };
    const Case cases[] = {
        { "5", "6", "0", "0", IDC_OPT_PAUSE_VARIATION, variation("5") },
        { "0", "1", "0", "0", IDC_OPT_PAUSE_VARIATION, variation("0") },
        { "9999", "10000", "0", "0", IDC_OPT_PAUSE_VARIATION, variation("9999") },
        { "5", "-1", "0", "0", IDC_OPT_PAUSE_VARIATION, variation("5") },
        { "5", "1", "10000", "0", IDC_OPT_PER_MINUTE, kPerMinute },
        { "5", "1", "-1", "0", IDC_OPT_PER_MINUTE, kPerMinute },
        { "5", "1", "30", "1000001", IDC_OPT_PER_DAY, kPerDay },
        { "5", "1", "30", "99999999999", IDC_OPT_PER_DAY, kPerDay },
        { "5", "1", "30", "-5", IDC_OPT_PER_DAY, kPerDay },
        // The first box in the dialog's order is the one named.
        { "5", "9", "10000", "1000001", IDC_OPT_PAUSE_VARIATION, variation("5") },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pszPause) + " " + c.pszVariation + " " + c.pszPerMinute + " " + c.pszPerDay);
        MessageBoxRecorder recorder;
        UiDriver driver;
        HWND hShown = NULL;
        driver.When(kOptionsTitle, [&](HWND hDlg) {
            hShown = hDlg;
            TypeLimits(hDlg, c.pszPause, c.pszVariation, c.pszPerMinute, c.pszPerDay);
            Click(hDlg, IDC_OPT_SAVE_ORIG);
            Click(hDlg, IDOK);
        });
        driver.After(100, [&] {});
        driver.When(kOptionsTitle, [&](HWND hDlg) {
            EXPECT_EQ(hDlg, hShown) << "the dialog stayed open";
            EXPECT_EQ(FocusedControl(), GetDlgItem(hDlg, c.nFocus));
            Click(hDlg, IDCANCEL);
        });
        EXPECT_EQ(OpenOptions(), 0);
        EXPECT_TRUE(driver.Done());
        ASSERT_EQ(recorder.Boxes().size(), 1u);
        const RecordedBox& box = recorder.Boxes()[0];
        EXPECT_EQ(box.text, c.message);
        EXPECT_EQ(box.caption, "Lettercast");
        EXPECT_EQ(box.uStyle, (UINT)MB_OK);
        EXPECT_EQ(box.hWndOwner, hShown);
        EXPECT_EQ(JobOptions.Pause, 5);
        EXPECT_EQ(JobOptions.SaveOrig, 1);
        EXPECT_EQ(JobOptions.PauseVariation, 0);
        EXPECT_EQ(JobOptions.PerMinute, 0);
        EXPECT_EQ(JobOptions.PerDay, 0);
        EXPECT_EQ(StoredOption("Pause"), "") << "nothing reached the registry";
        EXPECT_EQ(StoredOption("PerDay"), "");
    }
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
            SetControlText(hDlg, IDC_OPT_PAUSE_VARIATION, "4");
            ChoosePreset(hDlg, "Exchange Online / Microsoft 365");
            SetControlText(hDlg, IDC_OPT_PER_DAY, "900");
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
        EXPECT_EQ(JobOptions.PauseVariation, before.PauseVariation);
        EXPECT_EQ(JobOptions.PerMinute, before.PerMinute);
        EXPECT_EQ(JobOptions.PerDay, before.PerDay);
        EXPECT_EQ(StoredOption("Pause"), "");
        EXPECT_EQ(StoredOption("SaveOrig"), "");
        EXPECT_EQ(StoredOption("PerMinute"), "");
        EXPECT_EQ(StoredOption("PerDay"), "");
        EXPECT_EQ(StoredOption("PauseVariation"), "");
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
