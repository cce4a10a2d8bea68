// Every failure of a job, driven through the stand-ins' fault plans: what
// the user is shown, what the logs keep, and how the dialog hears the end.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/job_progress.h"
#include "engine/send_job.h"
#include "settings/data_paths.h"
#include "settings/settings_store.h"
#include "standin/common/fault_plan.h"
#include "tests/engine/engine_fixture.h"

namespace {

enum MailKind {
    PlainMail,
    HtmlMail,        // stored ASCII HTML, format 2
    HtmlBodyMail,    // format 2, HTML only through HTMLBody
    UnicodeOnlyMail, // no PR_BODY_A
    NoBodyMail,
};

struct FailureCase {
    const char* pszName;
    const char* pszPlan;
    MailKind kind;
    int nRecipients;
    std::vector<int> answers;
    std::vector<std::string> boxes;       // every box, in order
    std::vector<std::string> logParts;    // in the current job log, in order; empty: no log at all
    int nDone;                            // wParam of WM_JOBDONE
    int nSent;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.pszName; }

class EngineFailureTest : public EngineJobTest, public ::testing::WithParamInterface<FailureCase> {};

const char kR1[] = "r1@example.com";

std::string ComReport(const char* pszSource, const char* pszDescription, const std::string& location)
{
    return std::string("from ") + pszSource + ":\r\n\tError Desc: " + pszDescription + "\r\n\tLocation: " + location +
           "\r\n";
}

std::string Raised(const char* pszOperation, const std::string& location)
{
    return ComReport("Lettercast stand-in", (std::string("Injected fault in ") + pszOperation).c_str(), location);
}

const char kIncomplete[] = "\tResult: Incomplete (See Current Job Log)\r\n";
const char kComplete[] = "\tResult: Completed Successfully\r\n";

TEST_P(EngineFailureTest, IsShownLoggedAndEndsAsLaidDown)
{
    const FailureCase& c = GetParam();
    StandinComposedMail mail = {};
    mail.pszSubject = "Subject [[Name]]";
    mail.pszBody = "Body [[Name]]";
    mail.nBodyFormat = 1;
    switch (c.kind) {
    case PlainMail:
        break;
    case HtmlMail:
        mail.pszHtml = "<p>[[Name]]</p>";
        mail.nBodyFormat = 2;
        break;
    case HtmlBodyMail:
        mail.pszHtmlBody = L"<p>[[Name]]</p>";
        mail.nBodyFormat = 2;
        break;
    case UnicodeOnlyMail:
        mail.pszBody = NULL;
        mail.pszBodyW = L"Body [[Name]]";
        break;
    case NoBodyMail:
        mail.pszBody = NULL;
        break;
    }
    Compose(mail);
    WriteList(NumberedList(c.nRecipients));
    for (int nAnswer : c.answers)
        m_boxes->Answer(nAnswer);
    ASSERT_TRUE(SetFaultPlan(c.pszPlan)) << c.pszPlan;
    RunJob();

    EXPECT_EQ(BoxTexts(), c.boxes);
    EXPECT_EQ(m_nJobDone, 1);
    EXPECT_EQ((int)m_wJobDone, c.nDone);
    EXPECT_EQ(JobProgress.sentCount, c.nSent);
    if (c.logParts.empty()) {
        EXPECT_FALSE(LogExists());
        return;
    }
    std::string log = CurrentLog();
    size_t pos = 0;
    for (const std::string& part : c.logParts) {
        size_t found = log.find(part, pos);
        EXPECT_NE(found, std::string::npos) << "missing in order: " << part << "\nlog:\n" << log;
        if (found != std::string::npos)
            pos = found + part.size();
    }
    EXPECT_NE(log.find("\tE-Mails Sent: " + std::to_string(c.nSent) + "\r\nJob Ended : ("), std::string::npos);
}

const FailureCase kCases[] = {
    // Reading the original.
    { "SaveOfTheOriginalRaises", "MailItem.Save=raise@1", PlainMail, 2, {},
      { "Failed saving original message. (caught)" }, {}, 0, 0 },
    { "SubjectReadRaises", "IMessage.GetProps=raise@1", PlainMail, 2, {},
      { "Failed getting subject and bext body. (caught)" }, {}, 0, 0 },
    { "BodyReadRaises", "IMessage.OpenProperty=raise@1", PlainMail, 2, {}, { "Failed getting body. (caught)" }, {}, 0, 0 },
    { "UnicodeBodyCannotBeOpened", "IMessage.OpenProperty=fail:0x80004005@2", UnicodeOnlyMail, 2, {},
      { "OpenProperty 2 Failed for PR_BODY_W: 80004005", "Failed to find message body" }, {}, 0, 0 },
    { "UnicodeBodyStatFails", "IStream.Stat=fail:0x80030005@1", UnicodeOnlyMail, 2, {},
      { "Stat Failed for PR_BODY_W: 80030005", "Failed to find message body" }, {}, 0, 0 },
    { "UnicodeBodyReadFails", "IStream.Read=fail:0x80030005@1", UnicodeOnlyMail, 2, {},
      { "Read Failed for PR_BODY_W: 80030005", "Failed to find message body" }, {}, 0, 0 },
    { "NoBodyAtAll", "", NoBodyMail, 2, {},
      { "OpenProperty 2 Failed for PR_BODY_W: 8004010F", "Failed to find message body" }, {}, 0, 0 },
    { "BodyFormatFails", "MailItem.BodyFormat.get=fail@1", PlainMail, 2, {}, { "Failed getting body format" }, {}, 0, 0 },
    { "StoredHtmlReadRaises", "IMessage.OpenProperty=raise@2", HtmlMail, 2, {}, { "Failed getting HTML body" }, {}, 0, 0 },
    { "BodyFormatThrows", "MailItem.BodyFormat.get=throw@1", PlainMail, 2, {}, { "Caught failure getting body format" },
      {}, 0, 0 },
    { "HtmlBodyReadThrows", "MailItem.HTMLBody.get=throw@1", HtmlBodyMail, 2, {}, { "Failed getting HTML body (3)" },
      {}, 0, 0 },
    { "HtmlBodyReadFails", "MailItem.HTMLBody.get=fail@1", HtmlBodyMail, 2, {}, { "Failed getting HTMLBody (1)" }, {},
      0, 0 },

    // MAPI: a failed initialization is survived, and not undone at the end.
    { "MapiInitializeFails", "MAPIInitialize=fail@1", PlainMail, 2, {}, { "Error: Failed to initialize MAPI" },
      { "Sent Successfully", "Sent Successfully", kComplete }, 1, 2 },

    // The copy.
    { "CopyRaisesOnceAndIsRetried", "MailItem.Copy=raise@1", PlainMail, 1, {}, {},
      { Raised("MailItem.Copy", "Caught exception during message copy A: 1 (1)"), "# 1, To: r1@example.com. Sent",
        kComplete },
      1, 1 },
    { "CopyThrowsOnceAndIsRetried", "MailItem.Copy=throw@1", PlainMail, 1, {}, {},
      { "Caught exception during message copy B: 1 (1)\r\n", "# 1, To: r1@example.com. Sent", kComplete }, 1, 1 },
    { "CopyFailsWithoutErrorInformation", "MailItem.Copy=fail@1", PlainMail, 1, {}, {},
      { "***** Exception 0x80004005 " + ComReport("(null)", "(null)", "Caught exception during message copy A: 1 (1)"),
        kComplete },
      1, 1 },

    // Addressing.
    { "RecipientListCannotBeAllocated", "MAPIAllocateBuffer=fail:0x8007000E@1", PlainMail, 2, {},
      { "Failed to allocate ADRLIST: r1@example.com, 8007000E, 16" },
      { "Failed to allocate ADRLIST: r1@example.com, 8007000E, 16\r\n", kIncomplete }, 0, 0 },
    { "RecipientValuesCannotBeAllocated", "MAPIAllocateBuffer=fail@2", PlainMail, 2, {},
      { "Failed to allocate SPropValue: r1@example.com" },
      { "Failed to allocate SPropValue: r1@example.com\r\n", kIncomplete }, 0, 0 },
    { "AddressCannotBeAllocated", "MAPIAllocateMore=fail@1", PlainMail, 2, {}, { "Failed to allocate more MAPI memory" },
      { kIncomplete }, 0, 0 },
    { "DisplayNameCannotBeAllocated", "MAPIAllocateMore=fail@2", PlainMail, 2, {},
      { "Failed (2) to allocate more MAPI memory" }, { kIncomplete }, 0, 0 },
    { "AddressTypeCannotBeAllocated", "MAPIAllocateMore=fail@3", PlainMail, 2, {},
      { "Failed (3) to allocate more MAPI memory" }, { kIncomplete }, 0, 0 },
    { "RecipientCannotBeAdded", "IMessage.ModifyRecipients=fail@1", PlainMail, 2, {},
      { "Failed to add recipient: r1@example.com" }, { "Failed to add recipient: r1@example.com\r\n", kIncomplete }, 0,
      0 },
    { "SecondRecipientCannotBeAdded", "IMessage.ModifyRecipients=fail@2", PlainMail, 3, {},
      { "Failed to add recipient: r2@example.com" },
      { "# 1, To: r1@example.com. Sent Successfully\r\nFailed to add recipient: r2@example.com\r\n", kIncomplete }, 0,
      1 },

    // Properties of the copy.
    { "EditorFormatValueCannotBeAllocated", "MAPIAllocateBuffer=fail@3", PlainMail, 2, {},
      { "Failed to allocate SPropValue for SetProps" }, { kIncomplete }, 0, 0 },
    { "NamedPropertyCannotBeResolved", "IMessage.GetIDsFromNames=fail@1", PlainMail, 2, {},
      { "Failed on GetIDsFromNames" }, { kIncomplete }, 0, 0 },
    { "TagArrayFreeFailsAndTheJobGoesOn", "MAPIFreeBuffer=fail@3", PlainMail, 2, {}, { "Failed on PF_MAPIFreeBuffer" },
      { "# 2, To: r2@example.com. Sent Successfully", kComplete }, 1, 2 },
    { "TransportValueCannotBeAllocated", "MAPIAllocateBuffer=fail@4", PlainMail, 2, {},
      { "Failed to allocate SPropValue for SetProps 2" }, { kIncomplete }, 0, 0 },

    // Outbox and Sent Mail.
    { "SentMailFolderMissing", "NameSpace.GetDefaultFolder=fail@2", PlainMail, 2, {},
      { "Failed to find default Sent Mail folder" }, { kIncomplete }, 0, 0 },
    { "SentCopyFolderCannotBeSet", "MailItem.SaveSentMessageFolder.putref=fail@1", PlainMail, 2, {},
      { "Failed to direct sent message to Sent Items folder" }, { kIncomplete }, 0, 0 },
    { "MoveRaisesAndTheCopyIsSubmittedWhereItIs", "MailItem.Move=raise@1", PlainMail, 1, {}, {},
      { Raised("MailItem.Move", "Error caught moving message to Outbox during message 1"),
        "# 1, To: r1@example.com. Sent Successfully", kComplete },
      1, 1 },

    { "MoveThrows", "MailItem.Move=throw@1", PlainMail, 1, {}, {},
      { "Error caught moving message to Outbox during message 1\r\n", "# 1, To: r1@example.com. Sent Successfully",
        kComplete },
      1, 1 },

    // Submission and flush.
    { "SubmissionFailsAndTheUserStops", "IMessage.SubmitMessage=fail@1", PlainMail, 2, { IDOK, IDNO },
      { "Failed to submit message to: r1@example.com", "Continue Sending Anyway?" },
      { "Failed to submit message to: r1@example.com\r\n", kIncomplete }, 0, 0 },
    { "SubmissionFailsAndTheUserGoesOn", "IMessage.SubmitMessage=fail@1", PlainMail, 2, { IDOK, IDYES },
      { "Failed to submit message to: r1@example.com", "Continue Sending Anyway?" },
      { "Failed to submit message to: r1@example.com\r\n(", "# 1, To: r1@example.com. Sent Successfully",
        "# 2, To: r2@example.com. Sent Successfully", kComplete },
      1, 2 },
    { "SubmissionRaises", "IMessage.SubmitMessage=raise@1", PlainMail, 1, {}, {},
      { Raised("IMessage.SubmitMessage", "SubmitMessage error caught during message 1"),
        "# 1, To: r1@example.com. Sent Successfully", kComplete },
      1, 1 },
    { "FlushRaises", "IMAPISession.GetStatusTable=raise@1", PlainMail, 1, {}, {},
      { Raised("IMAPISession.GetStatusTable", "MAPIFlushQueues error caught during message 1"),
        "# 1, To: r1@example.com. Sent Successfully", kComplete },
      1, 1 },
    { "SubmissionThrows", "IMessage.SubmitMessage=throw@1", PlainMail, 1, {}, {},
      { "SubmitMessage error caught during message 1\r\n", "# 1, To: r1@example.com. Sent Successfully", kComplete },
      1, 1 },
    { "FlushThrows", "IMAPISession.GetStatusTable=throw@1", PlainMail, 1, {}, {},
      { "MAPIFlushQueues error caught during message 1\r\n", "# 1, To: r1@example.com. Sent Successfully", kComplete },
      1, 1 },
    { "FlushFailsQuietly", "IMAPIStatus.FlushQueues=fail@*", PlainMail, 2, {}, {},
      { "# 2, To: r2@example.com. Sent Successfully", kComplete }, 1, 2 },

    // Anything else inside the loop.
    { "SavingTheCopyRaises", "MailItem.Save=raise@2", PlainMail, 2, {},
      { "Unknown error caught during message 1 at line 7" },
      { Raised("MailItem.Save", "Unknown error caught during message 1 at line 7"), kIncomplete }, 0, 0 },
    { "SecondSaveOfTheCopyRaises", "MailItem.Save=raise@3", PlainMail, 2, {},
      { "Unknown error caught during message 1 at line 11" },
      { Raised("MailItem.Save", "Unknown error caught during message 1 at line 11"), kIncomplete }, 0, 0 },
    { "SavingTheCopyThrows", "MailItem.Save=throw@2", PlainMail, 2, {},
      { "Unknown error caught during message 1 at line 7" },
      { "Unknown error caught during message 1 at line 7\r\n", kIncomplete }, 0, 0 },
};

INSTANTIATE_TEST_SUITE_P(Jobs, EngineFailureTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.pszName); });

class EngineEdgeTest : public EngineJobTest {};

TEST_F(EngineEdgeTest, SendReceiveThatThrowsIsIgnored)
{
    ComposePlain("S", "B");
    JobOptions.DoSendRecv = 1;
    JobOptions.SendRecvCount = 1;
    WriteList(NumberedList(3));
    SetFaultPlan("Explorer.CommandBars.get=throw@*");
    RunJob();
    EXPECT_EQ(m_wJobDone, 1u);
    EXPECT_EQ(DeliveredFiles().size(), 3u);
    EXPECT_EQ(FaultCallCount("Explorer.CommandBars.get"), 3);
    EXPECT_TRUE(BoxTexts().empty());
}

TEST_F(EngineEdgeTest, JobWithoutItemOrMapiObjectRefusesToRun)
{
    StartHost();
    JobProgress.dialogWnd = m_hDialog;
    {
        SendJob job(NULL);
        job.Run();
    }
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, m_hDialog, WM_JOBDONE, WM_JOBDONE, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 0u);
    EXPECT_FALSE(PeekMessageA(&msg, m_hDialog, WM_JOBDONE, WM_JOBDONE, PM_REMOVE));
    ASSERT_EQ(BoxTexts().size(), 2u);
    EXPECT_EQ(BoxTexts()[0], "Error: m_pParent == NULL");
    EXPECT_EQ(BoxTexts()[1], "Error: m_pMAPIMessage == NULL");
    EXPECT_EQ(m_boxes->Boxes()[0].hWndOwner, GetDesktopWindow());
}

TEST_F(EngineEdgeTest, ItemWithoutMapiObjectRefusesToRun)
{
    ComposePlain("S", "B");
    WriteList(NumberedList(1));
    SetFaultPlan("MailItem.MAPIOBJECT.get=fail@1");
    RunJob();
    EXPECT_EQ(m_wJobDone, 0u);
    ASSERT_EQ(BoxTexts().size(), 1u);
    EXPECT_EQ(BoxTexts()[0], "Error: m_pMAPIMessage == NULL");
    EXPECT_EQ(FaultCallCount("MAPIInitialize"), 0);
}

TEST_F(EngineEdgeTest, MapiLibraryWithoutAnEntryPointEndsTheJobBeforeAnyLog)
{
    StartHost("standin-nofreepadrlist");
    ComposePlain("S", "B");
    WriteList(NumberedList(2));
    RunJob();
    EXPECT_EQ(m_nJobDone, 1);
    EXPECT_EQ(m_wJobDone, 0u);
    ASSERT_EQ(BoxTexts().size(), 1u);
    EXPECT_EQ(BoxTexts()[0], "Error: Failed to load MAPI functions");
    EXPECT_EQ(m_boxes->Boxes()[0].hWndOwner, GetDesktopWindow());
    EXPECT_FALSE(LogExists());
    EXPECT_EQ(FaultCallCount("MAPIInitialize"), 0);
}

TEST_F(EngineEdgeTest, FailedInitializationIsNotUndone)
{
    ComposePlain("S", "B");
    WriteList(NumberedList(1));
    SetFaultPlan("MAPIInitialize=fail@1");
    RunJob();
    EXPECT_EQ(m_wJobDone, 1u);
    EXPECT_EQ(FaultCallCount("MAPIInitialize"), 1);
    EXPECT_EQ(FaultCallCount("MAPIUninitialize"), 0);

    SetFaultPlan("");
    RunJob();
    EXPECT_EQ(FaultCallCount("MAPIInitialize"), 1);
    EXPECT_EQ(FaultCallCount("MAPIUninitialize"), 1);
}

TEST_F(EngineEdgeTest, CopyRaisingEveryTimeIsTriedElevenTimes)
{
    ComposePlain("S", "B");
    WriteList(NumberedList(2));
    SetFaultPlan("MailItem.Copy=raise@*");
    RunJob();
    EXPECT_EQ(m_wJobDone, 0u);
    EXPECT_EQ(FaultCallCount("MailItem.Copy"), 11);
    EXPECT_GE(m_dwElapsed, 9500u);
    ASSERT_EQ(BoxTexts().size(), 1u);
    EXPECT_EQ(BoxTexts()[0], "Caught exception during message copy A: 1 (11)");
    std::string log = CurrentLog();
    for (int i = 1; i <= 11; ++i)
        EXPECT_NE(log.find("Location: Caught exception during message copy A: 1 (" + std::to_string(i) + ")\r\n"),
                  std::string::npos)
            << i;
    EXPECT_EQ(log.find("(12)"), std::string::npos);
}

TEST_F(EngineEdgeTest, OverlongRecordEndsTheListAndTheRecordsBeforeItGoOut)
{
    ComposePlain("S", "B");
    WriteList("Name,Email,Note\r\nAnn,ann@example.com,short\r\nBob,bob@example.com," + std::string(600, 'n') +
              "\r\nCid,cid@example.com\r\n");
    RunJob();
    EXPECT_EQ(m_wJobDone, 1u);
    EXPECT_EQ(JobProgress.sentCount, 1);
    EXPECT_TRUE(BoxTexts().empty());
    ASSERT_EQ(DeliveredFiles().size(), 1u);
    EXPECT_NE(CurrentLog().find("\t\tEmails In File: 1\r\n"), std::string::npos);
}

TEST_F(EngineEdgeTest, OverlongFieldNameFailsTheMergeAndStopsTheJob)
{
    // A one-column list: that column is the address whatever its name, and a
    // name of 507 characters still fits a record but not a placeholder.
    ComposePlain("S", "B");
    WriteList(std::string(507, 'e') + "\r\nann@example.com\r\nbob@example.com\r\n");
    RunJob();
    EXPECT_EQ(m_wJobDone, 0u);
    EXPECT_EQ(JobProgress.sentCount, 0);
    ASSERT_EQ(BoxTexts().size(), 1u);
    EXPECT_EQ(BoxTexts()[0], "Mail merge failed.\nMake sure no fields are greater than 511 characters.");
    EXPECT_NE(CurrentLog().find("\t\tEmails In File: 2\r\n"), std::string::npos);
    EXPECT_NE(CurrentLog().find("Mail merge error\r\n\tResult: Incomplete"), std::string::npos);
    EXPECT_TRUE(DeliveredFiles().empty());
}

TEST_F(EngineEdgeTest, LogsThatCannotBeOpenedStopTheJobWithTheirEndBlocks)
{
    ComposePlain("S", "B");
    WriteList(NumberedList(1));
    std::string missing = m_data.File("no such folder\\x.txt");

    strcpy(gszCurrentJobPath, missing.c_str());
    RunJob();
    ASSERT_EQ(BoxTexts().size(), 1u);
    EXPECT_EQ(BoxTexts()[0], "Failed to open current job log for writing.");
    EXPECT_FALSE(FileExists(m_data.File("JobHistory.txt")));

    strcpy(gszCurrentJobPath, m_data.File("CurrentJob.txt").c_str());
    strcpy(gszJobHistoryPath, missing.c_str());
    RunJob();
    ASSERT_EQ(BoxTexts().size(), 2u);
    EXPECT_EQ(BoxTexts()[1], "Failed to open historical job log for appending.");
    EXPECT_NE(CurrentLog().find("\tResult: Incomplete (See Current Job Log)\r\n\tE-Mails Sent: 0\r\n"),
              std::string::npos);

    strcpy(gszJobHistoryPath, m_data.File("JobHistory.txt").c_str());
    strcpy(gszSentListPath, missing.c_str());
    RunJob();
    ASSERT_EQ(BoxTexts().size(), 3u);
    EXPECT_EQ(BoxTexts()[2], "Failed to open log file for sent e-mails.");
    EXPECT_NE(History().find("\tResult: Incomplete (See Current Job Log)\r\n"), std::string::npos);
    EXPECT_NE(CurrentLog().find("\tResult: Incomplete (See Current Job Log)\r\n"), std::string::npos);
    EXPECT_TRUE(DeliveredFiles().empty());
    EXPECT_EQ(m_wJobDone, 0u);
}

}  // namespace
