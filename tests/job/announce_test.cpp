#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "addin/host_state.h"
#include "engine/job_progress.h"
#include "engine/send_job.h"
#include "job/main_dialog.h"
#include "resources/resource.h"
#include "settings/data_paths.h"
#include "settings/settings_store.h"
#include "standin/common/fault_plan.h"
#include "standin/outlook/standin_outlook.h"
#include "tests/job/job_dialog_fixture.h"

namespace {

size_t CountOf(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t pos = text.find(part); pos != std::string::npos; pos = text.find(part, pos + part.size()))
        ++n;
    return n;
}

const char kCompleted[] = "Job Completed Successfully\n\nSent: 2";

class AnnounceCommandTest : public JobDialogTest {
protected:
    void SetUp() override
    {
        JobDialogTest::SetUp();
        ComposeInWindow("News for [[Name]]", "Dear [[Name]]");
        WriteList(NumberedList(2));
    }

    // Announce over the compose window; Send is pressed once the dialog is up.
    void AnnounceAndSend()
    {
        UiDriver driver;
        driver.When(kMainTitle, [&](HWND hDlg) {
            m_hDialogOwner = GetWindow(hDlg, GW_OWNER);
            Click(hDlg, IDC_MAIN_SEND_PAUSE);
        });
        SendJob job(m_pMail);
        job.Announce(m_hCompose);
        m_hJobOwner = job.m_hWndOwner;
        EXPECT_TRUE(driver.Done());
    }

    HWND m_hDialogOwner = NULL;
    HWND m_hJobOwner = NULL;
};

TEST_F(AnnounceCommandTest, ACompletedJobWithSaveOrigClosesTheComposeWindowAndKeepsTheMessage)
{
    JobOptions.SaveOrig = 1;
    ASSERT_EQ(InspectorCount(), 1);
    AnnounceAndSend();

    EXPECT_EQ(m_hDialogOwner, m_hCompose);
    EXPECT_EQ(m_hJobOwner, m_hCompose);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{ kCompleted });
    EXPECT_EQ(InspectorCount(), 0);
    EXPECT_TRUE(MessageKept());
    EXPECT_EQ(StandinFolderItemCount(gpApplication, "Drafts"), 1);
    EXPECT_EQ(FaultCallCount("MailItem.Delete"), 0);
    EXPECT_EQ(CurrentLog().find("original message"), std::string::npos);
    EXPECT_EQ(Delivered().size(), 2u);
}

TEST_F(AnnounceCommandTest, ACompletedJobWithoutSaveOrigDeletesTheMessage)
{
    JobOptions.SaveOrig = 0;
    AnnounceAndSend();

    EXPECT_EQ(BoxTexts(), std::vector<std::string>{ kCompleted });
    EXPECT_FALSE(MessageKept());
    EXPECT_EQ(StandinFolderItemCount(gpApplication, "Drafts"), 0);
    EXPECT_EQ(InspectorCount(), 0);
    EXPECT_EQ(FaultCallCount("MailItem.Close"), 0);
    EXPECT_EQ(CurrentLog().find("original message"), std::string::npos);
}

TEST_F(AnnounceCommandTest, WithoutAnOwnerTheDesktopOwnsTheDialog)
{
    JobOptions.SaveOrig = 1;
    UiDriver driver;
    driver.When(kMainTitle, [&](HWND hDlg) { Click(hDlg, IDCANCEL); });
    SendJob job(m_pMail);
    job.Announce(NULL);
    EXPECT_TRUE(driver.Done());
    EXPECT_EQ(job.m_hWndOwner, GetDesktopWindow());
}

TEST_F(AnnounceCommandTest, ADialogCancelledBeforeAJobLeavesTheMessageAlone)
{
    JobOptions.SaveOrig = 0;
    UiDriver driver;
    driver.When(kMainTitle, [&](HWND hDlg) { Click(hDlg, IDCANCEL); });
    SendJob job(m_pMail);
    job.Announce(m_hCompose);
    EXPECT_TRUE(driver.Done());

    EXPECT_TRUE(m_boxes->Boxes().empty());
    EXPECT_EQ(InspectorCount(), 1);
    EXPECT_TRUE(MessageKept());
    EXPECT_EQ(FaultCallCount("MailItem.Delete"), 0);
    EXPECT_EQ(FaultCallCount("MailItem.Close"), 0);
    EXPECT_FALSE(LogExists());
}

TEST_F(AnnounceCommandTest, AJobCancelledOnTheWayLeavesTheMessageAlone)
{
    JobOptions.SaveOrig = 0;
    JobOptions.Pause = 1;
    UiDriver driver;
    HWND hDlg = NULL;
    driver.When(kMainTitle, [&](HWND h) {
        hDlg = h;
        Click(hDlg, IDC_MAIN_SEND_PAUSE);
    });
    WhenTrue(driver, [&]() { return JobProgress.sentCount == 1; }, [&]() { Click(hDlg, IDCANCEL); });
    m_boxes->Answer(IDYES);
    SendJob job(m_pMail);
    job.Announce(m_hCompose);
    EXPECT_TRUE(driver.Done());

    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{ "Stop sending? 1 of 2 have been sent; the rest can be sent later",
                                                     "Job Not Complete (See Current Job Log)\n\nSent: 1" }));
    EXPECT_EQ(InspectorCount(), 1);
    EXPECT_TRUE(MessageKept());
    EXPECT_EQ(FaultCallCount("MailItem.Delete"), 0);
    EXPECT_EQ(CurrentLog().find("original message"), std::string::npos);
}

TEST_F(AnnounceCommandTest, AFailingDeleteAddsOneLineAfterTheEndBlockAndShowsNothing)
{
    JobOptions.SaveOrig = 0;
    ASSERT_TRUE(SetFaultPlan("MailItem.Delete=fail@1"));
    AnnounceAndSend();

    EXPECT_EQ(BoxTexts(), std::vector<std::string>{ kCompleted });
    EXPECT_EQ(FaultCallCount("MailItem.Delete"), 1);
    EXPECT_TRUE(MessageKept());
    std::string tail = LastLogLines(2);
    EXPECT_EQ(tail.find("Job Ended :"), 0u) << tail;
    EXPECT_NE(tail.find("\nFailed to delete original message. Return code: -2147467259\n"), std::string::npos)
        << tail;
    EXPECT_EQ(CountOf(CurrentLog(), "original message"), 1u);
}

TEST_F(AnnounceCommandTest, AFailingCloseIsLoggedWithItsVerb)
{
    JobOptions.SaveOrig = 1;
    ASSERT_TRUE(SetFaultPlan("MailItem.Close=fail:0x80070005@1"));
    AnnounceAndSend();

    EXPECT_EQ(BoxTexts(), std::vector<std::string>{ kCompleted });
    EXPECT_EQ(InspectorCount(), 1);
    EXPECT_EQ(LastLogLines(1), "Failed to close original message. Return code: -2147024891\n");
}

TEST_F(AnnounceCommandTest, ARaisedErrorIsLoggedAsItsReport)
{
    JobOptions.SaveOrig = 1;
    ASSERT_TRUE(SetFaultPlan("MailItem.Close=raise@1"));
    AnnounceAndSend();

    EXPECT_EQ(BoxTexts(), std::vector<std::string>{ kCompleted });
    EXPECT_EQ(InspectorCount(), 1);
    std::string tail = LastLogLines(4);
    EXPECT_EQ(tail.find("Job Ended :"), 0u) << tail;
    EXPECT_NE(tail.find("\n***** Exception 0x80004005 from Lettercast stand-in:\n"
                        "\tError Desc: Injected fault in MailItem.Close\n"
                        "\tLocation: Error attempting to close original message.\n"),
              std::string::npos)
        << tail;
}

TEST_F(AnnounceCommandTest, AnyOtherExceptionIsLoggedAsItsLocationAlone)
{
    JobOptions.SaveOrig = 0;
    ASSERT_TRUE(SetFaultPlan("MailItem.Delete=throw@1"));
    AnnounceAndSend();

    EXPECT_EQ(BoxTexts(), std::vector<std::string>{ kCompleted });
    EXPECT_EQ(FaultCallCount("MailItem.Delete"), 1);
    EXPECT_TRUE(MessageKept());
    std::string tail = LastLogLines(2);
    EXPECT_EQ(tail.find("Job Ended :"), 0u) << tail;
    EXPECT_NE(tail.find("\nError attempting to delete original message.\n"), std::string::npos) << tail;
}

TEST_F(AnnounceCommandTest, ALogThatCannotBeOpenedShowsString12OverTheOwner)
{
    JobOptions.SaveOrig = 0;
    ASSERT_TRUE(SetFaultPlan("MailItem.Delete=fail@1"));
    std::string logPath = gszCurrentJobPath;
    std::string unreachable = m_data.File("no such folder\\CurrentJob.txt");
    // The job has written and closed its log when it tells its result.
    BoxWatcher watcher([&](HWND hBox) {
        char szText[128] = "";
        GetDlgItemTextA(hBox, 0xFFFF, szText, sizeof(szText));
        if (strncmp(szText, "Job ", 4) == 0)
            strcpy(gszCurrentJobPath, unreachable.c_str());
    });
    AnnounceAndSend();

    ASSERT_EQ(m_boxes->Boxes().size(), 2u);
    EXPECT_EQ(m_boxes->Boxes()[0].text, kCompleted);
    const RecordedBox& box = m_boxes->Boxes()[1];
    EXPECT_EQ(box.text, "Failed to open current job log for writing.");
    EXPECT_EQ(box.uStyle, (UINT)(MB_OK | MB_ICONWARNING));
    EXPECT_EQ(box.hWndOwner, m_hCompose);
    EXPECT_EQ(ReadWholeFile(logPath).find("original message"), std::string::npos);
}

}  // namespace
