// The Logs dialog and the opening of a file in its viewer: which logs can be
// opened, what the shell's answers tell the user, help, and ownership.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include "resources/resource.h"
#include "settings/data_paths.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/ui_driver.h"
#include "tests/ui/dialog_fixture.h"
#include "ui/logs_dialog.h"

namespace {

const int kLogButtons[] = { IDC_LOGS_JOB_HISTORY, IDC_LOGS_LAST_JOB_LOG, IDC_LOGS_SENT_LIST };

class LogsDialogTest : public DialogTest {
protected:
    // The enabled state of the three log buttons as the dialog opens.
    std::vector<bool> ButtonStates()
    {
        std::vector<bool> states;
        UiDriver driver;
        driver.When(kLogsTitle, [&](HWND hDlg) {
            for (int nId : kLogButtons)
                states.push_back(IsControlEnabled(hDlg, nId));
            Click(hDlg, IDCANCEL);
        });
        EXPECT_EQ(OpenLogs(), 0);
        EXPECT_TRUE(driver.Done());
        return states;
    }

    // Presses one log button and returns the boxes shown.
    std::vector<RecordedBox> PressLogButton(int nId)
    {
        MessageBoxRecorder recorder;
        UiDriver driver;
        driver.When(kLogsTitle, [&](HWND hDlg) { Click(hDlg, nId); });
        driver.After(100, [] {});
        driver.When(kLogsTitle, [&](HWND hDlg) { Click(hDlg, IDOK); });
        EXPECT_EQ(OpenLogs(), 1);
        EXPECT_TRUE(driver.Done());
        return recorder.Boxes();
    }
};

TEST_F(LogsDialogTest, LogButtonsAreEnabledOnlyForLogsThatExist)
{
    EXPECT_EQ(ButtonStates(), std::vector<bool>({ false, false, false })) << "before any job";
    CreateLogs();
    EXPECT_EQ(ButtonStates(), std::vector<bool>({ true, true, true })) << "after a job";
    DeleteFileA(gszCurrentJobPath);
    EXPECT_EQ(ButtonStates(), std::vector<bool>({ true, false, true }));
}

TEST_F(LogsDialogTest, ALogOpenForWritingCanStillBeOpened)
{
    CreateLogs();
    // As a running job holds it: writing, others may read.
    HANDLE hLog = CreateFileA(gszJobHistoryPath, GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(hLog, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ButtonStates(), std::vector<bool>({ true, true, true }));
    CloseHandle(hLog);
}

TEST_F(LogsDialogTest, TitleFocusAndPlacement)
{
    UiDriver driver;
    driver.When(kLogsTitle, [&](HWND hDlg) {
        EXPECT_EQ(GetWindow(hDlg, GW_OWNER), m_hOwner);
        RECT rc;
        GetWindowRect(hDlg, &rc);
        EXPECT_NEAR((rc.left + rc.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 2);
        EXPECT_NEAR((rc.top + rc.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 2);
        // The log buttons are disabled, so the default focus goes to OK.
        EXPECT_EQ(FocusedControl(), GetDlgItem(hDlg, IDOK));
        PostMessageA(hDlg, WM_SYSCOMMAND, SC_CLOSE, 0);
    });
    EXPECT_EQ(OpenLogs(), 0);
    EXPECT_TRUE(driver.Done());
}

TEST_F(LogsDialogTest, ALogDeletedAfterOpeningIsReportedWithItsPath)
{
    CreateLogs();
    MessageBoxRecorder recorder;
    UiDriver driver;
    driver.When(kLogsTitle, [&](HWND hDlg) {
        DeleteFileA(gszSentListPath);
        Click(hDlg, IDC_LOGS_SENT_LIST);
    });
    driver.After(100, [] {});
    driver.When(kLogsTitle, [&](HWND hDlg) {
        EXPECT_TRUE(IsControlEnabled(hDlg, IDC_LOGS_SENT_LIST)) << "states are fixed when the dialog opens";
        Click(hDlg, IDOK);
    });
    EXPECT_EQ(OpenLogs(), 1);
    EXPECT_TRUE(driver.Done());
    ASSERT_EQ(recorder.Boxes().size(), 1u);
    const RecordedBox& box = recorder.Boxes()[0];
    EXPECT_EQ(box.text, std::string("The specified file was not found:\n") + gszSentListPath);
    EXPECT_EQ(box.caption, "Lettercast");
    EXPECT_EQ(box.uStyle, (UINT)MB_OK);
    EXPECT_EQ(box.hWndOwner, m_hOwner) << "owned by the Logs dialog's owner";
}

TEST_F(LogsDialogTest, EachLogOpensInItsViewerMaximisedFromTheRootFolder)
{
    CreateLogs();
    ViewWithSpy(".txt");
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        DeleteFileA((m_folder.File("viewer.txt")).c_str());
        EXPECT_TRUE(PressLogButton(kLogButtons[i]).empty());
        ViewerRecord record;
        ASSERT_TRUE(WaitForViewer(&record));
        const char* pszPath = i == 0 ? gszJobHistoryPath : i == 1 ? gszCurrentJobPath : gszSentListPath;
        EXPECT_NE(record.commandLine.find(pszPath), std::string::npos) << record.commandLine;
        EXPECT_EQ(_stricmp(record.folder.c_str(), "c:\\"), 0) << record.folder;
        EXPECT_EQ(record.nShow, SW_SHOWMAXIMIZED);
    }
}

TEST_F(LogsDialogTest, OpenForViewingReportsWhatTheShellAnswers)
{
    // A file type the shell knows nothing of.
    std::string unknown = m_folder.File("list.lcnoassoc");
    FILE* pFile = fopen(unknown.c_str(), "w");
    ASSERT_NE(pFile, nullptr);
    fclose(pFile);
    std::string missing = m_folder.File("gone.txt");
    std::string inMissingFolder = m_folder.File("no-such-folder\\gone.txt");

    MessageBoxRecorder recorder;
    EXPECT_EQ(OpenForViewing(m_hOwner, unknown.c_str()), 0);
    EXPECT_EQ(OpenForViewing(m_hOwner, missing.c_str()), 0);
    EXPECT_EQ(OpenForViewing(m_hOwner, inMissingFolder.c_str()), 0);
    // No file at all is a failure without a text of its own.
    EXPECT_EQ(OpenForViewing(m_hOwner, ""), 0);
    ASSERT_EQ(recorder.Boxes().size(), 4u);
    EXPECT_EQ(recorder.Boxes()[0].text, "There is no application associated with the given file name extension.");
    EXPECT_EQ(recorder.Boxes()[1].text, "The specified file was not found:\n" + missing);
    // Windows answers "path not found" here, which has no text of its own.
    EXPECT_TRUE(recorder.Boxes()[2].text == "The specified file was not found:\n" + inMissingFolder ||
                recorder.Boxes()[2].text == "Other ShellExecute Error") << recorder.Boxes()[2].text;
    EXPECT_EQ(recorder.Boxes()[3].text, "Other ShellExecute Error");
    for (const RecordedBox& box : recorder.Boxes()) {
        EXPECT_EQ(box.caption, "Lettercast");
        EXPECT_EQ(box.uStyle, (UINT)MB_OK);
        EXPECT_EQ(box.hWndOwner, m_hOwner);
    }

    ViewWithSpy(".txt");
    std::string present = m_folder.File("present.txt");
    pFile = fopen(present.c_str(), "w");
    ASSERT_NE(pFile, nullptr);
    fclose(pFile);
    EXPECT_EQ(OpenForViewing(m_hOwner, present.c_str()), 1);
    EXPECT_EQ(recorder.Boxes().size(), 4u) << "success shows nothing";
    ViewerRecord record;
    EXPECT_TRUE(WaitForViewer(&record));
}

TEST_F(LogsDialogTest, EveryShellFailureHasItsText)
{
    struct Case { INT_PTR nResult; const char* pszText; };
    const Case cases[] = {
        { SE_ERR_FNF, "The specified file was not found:\nC:\\x\\JobHistory.txt" },
        { SE_ERR_ASSOCINCOMPLETE, "The file name association is incomplete or invalid." },
        { SE_ERR_NOASSOC, "There is no application associated with the given file name extension." },
        { SE_ERR_OOM, "There was not enough memory to complete the operation." },
        { 0, "Other ShellExecute Error" },
        { ERROR_PATH_NOT_FOUND, "Other ShellExecute Error" },
        { SE_ERR_ACCESSDENIED, "Other ShellExecute Error" },
        { 32, "Other ShellExecute Error" },
    };
    for (const Case& c : cases) {
        char szMessage[LC_VIEW_MESSAGE_CAPACITY] = "unset";
        ShellFailureMessage(c.nResult, "C:\\x\\JobHistory.txt", szMessage, sizeof(szMessage));
        EXPECT_STREQ(szMessage, c.pszText) << c.nResult;
    }

    // The longest path still fits with the text before it.
    std::string longPath = "C:\\" + std::string(255, 'p');
    char szMessage[LC_VIEW_MESSAGE_CAPACITY];
    ShellFailureMessage(SE_ERR_FNF, longPath.c_str(), szMessage, sizeof(szMessage));
    EXPECT_EQ(std::string(szMessage), "The specified file was not found:\n" + longPath);
}

TEST_F(LogsDialogTest, HelpAndF1OpenTheJobLogsTopic)
{
    UiDriver driver;
    HWND hShown = NULL;
    driver.When(kLogsTitle, [&](HWND hDlg) {
        hShown = hDlg;
        Click(hDlg, IDC_LOGS_HELP);
    });
    driver.When(kLogsTitle, [&](HWND hDlg) {
        HWND hFocus = GetDlgItem(hDlg, IDOK);
        HELPINFO hi = { sizeof(hi), HELPINFO_WINDOW, IDOK, hFocus, 0, { 0, 0 } };
        SendMessageA(hFocus, WM_HELP, 0, (LPARAM)&hi);
        Click(hDlg, IDOK);
    });
    EXPECT_EQ(OpenLogs(), 1);
    EXPECT_TRUE(driver.Done());
    std::vector<HWND> callers;
    EXPECT_EQ(HelpKeywords(&callers), std::vector<std::string>({ "job logs", "job logs" }));
    for (HWND hCaller : callers)
        EXPECT_EQ(hCaller, hShown);
}

TEST_F(LogsDialogTest, TheLinkOpensTheWebAddress)
{
    ViewWithSpy("https");
    UiDriver driver;
    driver.When(kLogsTitle, [&](HWND hDlg) {
        PostCommand(hDlg, IDC_LOGS_WEB_ADDRESS, STN_DBLCLK);   // any notification
        Click(hDlg, IDCANCEL);
    });
    EXPECT_EQ(OpenLogs(), 0);
    ViewerRecord record;
    ASSERT_TRUE(WaitForViewer(&record));
    EXPECT_NE(record.commandLine.find("https://vostel.example/lettercast/"), std::string::npos);
}

TEST_F(LogsDialogTest, FromTheOptionsDialogItsViewerAndBoxesBelongToTheOptionsOwner)
{
    CreateLogs();
    MessageBoxRecorder recorder;
    UiDriver driver;
    driver.When(kOptionsTitle, [&](HWND hDlg) { Click(hDlg, IDC_OPT_LOGS); });
    driver.When(kLogsTitle, [&](HWND hLogs) {
        EXPECT_EQ(GetWindow(hLogs, GW_OWNER), m_hOwner);
        DeleteFileA(gszJobHistoryPath);
        Click(hLogs, IDC_LOGS_JOB_HISTORY);
    });
    driver.After(100, [] {});
    driver.When(kLogsTitle, [&](HWND hLogs) { Click(hLogs, IDCANCEL); });
    driver.When(kOptionsTitle, [&](HWND hDlg) { Click(hDlg, IDCANCEL); });
    EXPECT_EQ(OpenOptions(), 0);
    EXPECT_TRUE(driver.Done());
    ASSERT_EQ(recorder.Boxes().size(), 1u);
    EXPECT_EQ(recorder.Boxes()[0].hWndOwner, m_hOwner);
}

}  // namespace
