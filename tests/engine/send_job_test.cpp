#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "addin/host_state.h"
#include "engine/job_progress.h"
#include "settings/settings_store.h"
#include "standin/common/fault_plan.h"
#include "settings/data_paths.h"
#include "tests/engine/engine_fixture.h"
#include "tests/support/hhspy.h"
#include "tests/support/registry_fixtures.h"
#include "tests/support/workbook_writer.h"
#include "ui/help.h"

namespace {

std::string AnsiToUtf8(const char* pszAnsi)
{
    wchar_t szWide[2048];
    int cch = MultiByteToWideChar(CP_ACP, 0, pszAnsi, -1, szWide, 2048);
    char szUtf8[4096];
    WideCharToMultiByte(CP_UTF8, 0, szWide, cch, szUtf8, sizeof(szUtf8), NULL, NULL);
    return szUtf8;
}

size_t CountOf(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t pos = text.find(part); pos != std::string::npos; pos = text.find(part, pos + part.size()))
        ++n;
    return n;
}

class SendJobTest : public EngineJobTest {};

TEST_F(SendJobTest, EveryRecipientGetsOneMergedMessageAndTheLogsTellIt)
{
    ComposePlain("Hello [[name]]", "Dear [[Name]],\r\nyour address is [[E-Mail Address]].\r\n");
    WriteList("Name,E-Mail Address\r\nAnn,ann@example.com\r\n// a comment\r\nBob,\"Bob B <bob@example.org>\"\r\n"
              "No Address,\r\nCid,cid@example.net");
    RunJob();

    EXPECT_EQ(m_nJobDone, 1);
    EXPECT_EQ(m_wJobDone, 1u);
    EXPECT_EQ(JobProgress.sentCount, 3);
    // The record without an address is told of before anything goes.
    EXPECT_EQ(BoxTexts(), std::vector<std::string>({ "The mailing list was checked before sending:\n\n1 record will "
                                                     "be skipped: line 5 (the address is empty).\n\nSend anyway?" }));

    std::vector<DeliveredView> delivered = Delivered();
    ASSERT_EQ(delivered.size(), 3u);
    EXPECT_EQ(delivered[0].to, "ann@example.com");
    EXPECT_EQ(delivered[0].subject, "Hello Ann");
    EXPECT_EQ(delivered[0].body, "Dear Ann,\r\nyour address is ann@example.com.\r\n");
    EXPECT_FALSE(delivered[0].bHtml);
    EXPECT_EQ(delivered[1].to, "bob@example.org");
    EXPECT_EQ(delivered[1].body, "Dear Bob,\r\nyour address is bob@example.org.\r\n");
    EXPECT_EQ(delivered[2].to, "cid@example.net");
    EXPECT_EQ(delivered[2].subject, "Hello Cid");

    // The sent copies went to Sent Mail; the composed message stays a draft.
    EXPECT_EQ(ItemsIn("Sent Mail"), 3);
    EXPECT_EQ(ItemsIn("Outbox"), 0);
    EXPECT_EQ(ItemsIn("Drafts"), 1);

    std::string log = CurrentLog();
    EXPECT_EQ(log.find("Job Started: ("), 0u);
    EXPECT_NE(log.find("\tSubject: Hello [[name]]\r\n"), std::string::npos);
    EXPECT_NE(log.find("\t\tDelimiter: Comma\r\n"), std::string::npos);
    EXPECT_NE(log.find("\t\tEmails In File: 3\r\n"), std::string::npos);
    EXPECT_NE(log.find(") # 1, To: ann@example.com. Sent Successfully\r\n"), std::string::npos);
    EXPECT_NE(log.find(") # 2, To: bob@example.org. Sent Successfully\r\n"), std::string::npos);
    EXPECT_NE(log.find(") # 3, To: cid@example.net. Sent Successfully\r\n"), std::string::npos);
    EXPECT_NE(log.find("\tResult: Completed Successfully\r\n\tE-Mails Sent: 3\r\nJob Ended : ("), std::string::npos);

    std::string history = History();
    EXPECT_EQ(CountOf(history, "Job Started: ("), 1u);
    EXPECT_EQ(history.find("Sent Successfully"), std::string::npos);
    EXPECT_NE(history.find("\tResult: Completed Successfully\r\n\tE-Mails Sent: 3\r\n"), std::string::npos);

    // Only the records that were sent, as read, the last without a line end.
    EXPECT_EQ(SentList(), "Name,E-Mail Address\r\nAnn,ann@example.com\r\nBob,\"Bob B <bob@example.org>\"\r\n"
                          "Cid,cid@example.net");
}

TEST_F(SendJobTest, SecondJobAppendsToTheHistoryOnly)
{
    ComposePlain("Hi", "Body");
    WriteList(NumberedList(2));
    RunJob();
    WriteList(NumberedList(1));
    m_nJobDone = 0;
    RunJob();
    EXPECT_EQ(m_nJobDone, 1);
    EXPECT_EQ(CountOf(History(), "Job Started: ("), 2u);
    EXPECT_EQ(CountOf(History(), "Job Ended : ("), 2u);
    EXPECT_EQ(CountOf(CurrentLog(), "Job Started: ("), 1u);
    EXPECT_EQ(CountOf(CurrentLog(), "Sent Successfully"), 1u);
    EXPECT_EQ(DeliveredFiles().size(), 3u);
}

TEST_F(SendJobTest, NonAsciiHtmlGoesAsStoredBytesWhereTheStoreTakesThem)
{
    m_options.bHtmlOk = true;
    ComposeHtml("Caf\xe9 for [[Name]]", "plain [[Name]]", "<html><body>Caf\xe9 [[Name]]</body></html>");
    WriteList(NumberedList(2));
    RunJob();

    ASSERT_EQ(m_wJobDone, 1u);
    std::vector<DeliveredView> delivered = Delivered();
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_TRUE(delivered[0].bHtml);
    EXPECT_EQ(delivered[0].bodyBytes.substr(0, 41), std::string("<html><body>Caf\xe9 Person 1</body></html>"));
    EXPECT_EQ(delivered[1].subject, AnsiToUtf8("Caf\xe9 for Person 2"));
    // The stream leaves the plain body alone: the merged one goes in beside
    // the HTML, for the text/plain alternative.
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(delivered[i].bAlternative);
        EXPECT_EQ(delivered[i].plainBody, "plain Person " + std::to_string(i + 1));
    }
    EXPECT_EQ(FaultCallCount("MailItem.HTMLBody.put"), 0);
    // Two reads of the original; the plain body and the HTML of each copy.
    EXPECT_EQ(FaultCallCount("IMessage.OpenProperty"), 2 + 2 * 2);
    EXPECT_EQ(FaultCallCount("IStream.Commit"), 2 * 2);
}

TEST_F(SendJobTest, PlaceholdersOfNoFieldAreAskedAboutOnceAndSplitOnesMerge)
{
    m_options.bHtmlOk = true;
    ComposeHtml("Hi [[Nmae]]", "plain [[Name]] [[Town]] [[nmae]]",
                "<p>[[<span>Na</span>me]] [[T<b>own</b>]] [[Ci&nbsp;ty]]</p>");
    WriteList(NumberedList(2));
    const std::string question = "[[Nmae]], [[Town]] and [[Ci ty]] name no field of the mailing list and will be "
                                 "sent as they stand. Send anyway?";
    m_boxes->Answer(IDNO);
    RunJob();
    ExpectJobEnded({ { Question(question) }, 0, 0, NoLog });
    EXPECT_TRUE(Delivered().empty());

    m_boxes->Answer(IDYES);
    RunJob();
    ExpectJobEnded({ { Question(question) }, 1, 2, EveryLog });
    std::vector<DeliveredView> delivered = Delivered();
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_EQ(delivered[1].subject, "Hi [[Nmae]]");
    EXPECT_EQ(delivered[1].bodyBytes.find("<p>Person 2 [[T<b>own</b>]] [[Ci&nbsp;ty]]</p>"), 0u);
    // The plain alternative comes from the merged HTML.
    EXPECT_EQ(delivered[1].plainBody.find("Person 2 [[Town]] [[Ci"), 0u);
}

TEST_F(SendJobTest, FallbacksAndConditionsMergeInEveryTextAndBrokenBlocksAreAskedAbout)
{
    m_options.bHtmlOk = true;
    ComposeHtml("News[[IF Town]] for [[Town]][[END IF]], [[Name|friend]]",
                "Dear [[Name|friend]],\r\n[[IF NOT Town]]\r\nWhere are you?\r\n[[ELSE]]\r\nHello [[Town]].\r\n"
                "[[END IF]]\r\nBye",
                "<p>Dear [[Name|friend &amp; co]],</p>\r\n<p class=MsoNormal>[[IF Town]]<o:p></o:p></p>\r\n"
                "<p>In [[Town]] [[IF <b>Name</b>]]and yours[[END IF]]</p>\r\n<p>[[END IF]]</p>\r\n<p>Bye</p>");
    WriteList("Name,Email,Town\r\nAnn,ann@example.com,Oslo\r\n,bob@example.com,\r\n");
    RunJob();
    ExpectJobEnded({ {}, 1, 2, EveryLog });
    std::vector<DeliveredView> delivered = Delivered();
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_EQ(delivered[0].subject, "News for Oslo, Ann");
    EXPECT_EQ(delivered[1].subject, "News, friend");
    EXPECT_EQ(delivered[0].body, "<p>Dear Ann,</p>\r\n\r\n<p>In Oslo and yours</p>\r\n\r\n<p>Bye</p>");
    EXPECT_EQ(delivered[1].body, "<p>Dear friend &amp; co,</p>\r\n\r\n<p>Bye</p>");

    // A condition naming no field, a block left open and a stray END IF are
    // named before anything goes.
    ComposePlain("Hi [[IF Town]][[Town]] [[IF Twn]]x[[END IF]]", "Dear [[Name|friend]],\r\n[[END IF]]\r\n");
    const std::string question = "[[IF Twn]] names no field of the mailing list and will be sent as it stands.\n"
                                 "[[IF Town]] has no [[END IF]] and will be sent as it stands.\n[[END IF]] has no "
                                 "[[IF]] before it and will be sent as it stands.\n\nSend anyway?";
    m_boxes->Answer(IDNO);
    RunJob();
    ExpectJobEnded({ { Question(question) }, 0, 0, NoLog });
    EXPECT_EQ(Delivered().size(), 2u);
    // Then the list check: outside any block that works, Bob's [[Town]] is empty.
    m_boxes->Answer(IDYES);
    RunJob();
    ExpectJobEnded({ { Question(question), ListCheckQuestion("[[Town]] is empty on 1 record: line 3.") }, 1, 2,
                     EveryLog });
    ASSERT_EQ(Delivered().size(), 4u);
    EXPECT_EQ(Delivered()[3].subject, "Hi [[IF Town]] [[IF Twn]]x[[END IF]]");
    EXPECT_EQ(Delivered()[3].body, "Dear friend,\r\n[[END IF]]\r\n");
}

TEST_F(SendJobTest, TheListCheckAsksOnceAndEachAnswerToARepeatedAddressDeliversWhatItSays)
{
    ComposePlain("Hello", "Dear [[Name]], [[Town|]]");
    WriteList("Name,Email,Town\r\nAnn,anna@example.com,Oslo\r\nBen,ben@example\r\n,cara@example.com,Rome\r\n"
              "Anne,Anna@Example.com,Bergen\r\nDan,dan@example.com,Paris\r\nBen,ben @example.com,x\r\n"
              "Annie,anna@example.com,Oslo\r\n");
    ExpectedBox box = ListCheckQuestion("2 records will be skipped: line 3 (ben@example: the address has no dot in "
                                        "its domain), line 7 (ben @example.com: the address is not one e-mail "
                                        "address).\n1 address appears more than once: anna@example.com on lines 2, "
                                        "5 and 8.\n[[Name]] is empty on 1 record: line 4.",
                                        true);

    m_boxes->Answer(IDYES);
    RunJob();
    ExpectJobEnded({ { box }, 1, 5, EveryLog });
    std::vector<DeliveredView> delivered = Delivered();
    ASSERT_EQ(delivered.size(), 5u);
    EXPECT_EQ(delivered[2].to, "Anna@Example.com");
    EXPECT_EQ(delivered[4].body, "Dear Annie, Oslo");
    EXPECT_EQ(JobProgress.skippedCount, 2);

    m_boxes->Answer(IDNO);
    RunJob();
    ExpectJobEnded({ { box }, 1, 3, EveryLog });
    delivered = Delivered();
    ASSERT_EQ(delivered.size(), 5u + 3u);
    EXPECT_EQ(delivered[5].body, "Dear Ann, Oslo");
    EXPECT_EQ(delivered[6].to, "cara@example.com");
    EXPECT_EQ(delivered[7].to, "dan@example.com");
    // The repeats are skipped records, in the box's count and in the log.
    EXPECT_EQ(JobProgress.skippedCount, 4);
    EXPECT_EQ(JobProgress.totalCount, 3);
    std::string log = CurrentLog();
    EXPECT_NE(log.find("\t\tEmails In File: 3\r\n"), std::string::npos) << log;
    EXPECT_EQ(CountOf(log, "an earlier record has the same address"), 2u) << log;
    EXPECT_NE(log.find("line 8"), std::string::npos) << log;
}

TEST_F(SendJobTest, NonAsciiHtmlGoesThroughHtmlBodyWithoutStoreSupport)
{
    m_options.bHtmlOk = false;
    ComposeHtml("News", "plain", "<p>Gr\xfc\xdf [[Name]]</p>");
    WriteList(NumberedList(2));
    RunJob();

    ASSERT_EQ(m_wJobDone, 1u);
    std::vector<DeliveredView> delivered = Delivered();
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_TRUE(delivered[1].bHtml);
    EXPECT_EQ(delivered[1].body, AnsiToUtf8("<p>Gr\xfc\xdf Person 2</p>"));
    EXPECT_EQ(FaultCallCount("MailItem.HTMLBody.put"), 2);
}

TEST_F(SendJobTest, AsciiHtmlGoesThroughHtmlBodyAndNeverGetsTheEditorFormat)
{
    ComposeHtml("News", "plain", "<p>Hi [[Name]]</p>");
    WriteList(NumberedList(3));
    RunJob();

    ASSERT_EQ(m_wJobDone, 1u);
    EXPECT_EQ(FaultCallCount("MailItem.HTMLBody.put"), 3);
    EXPECT_EQ(Delivered()[2].body, "<p>Hi Person 3</p>");
    EXPECT_TRUE(Delivered()[2].bAlternative);
    EXPECT_EQ(Delivered()[2].plainBody, "Hi Person 3");
    // Only the transport property, once per recipient; its tag resolved once.
    EXPECT_EQ(FaultCallCount("IMessage.SetProps"), 3);
    EXPECT_EQ(FaultCallCount("IMessage.GetIDsFromNames"), 1);
}

TEST_F(SendJobTest, PlainTextCopiesGetTheEditorFormatAndTheTransportPropertyEach)
{
    ComposePlain("S", "B [[Name]]");
    WriteList(NumberedList(3));
    RunJob();
    ASSERT_EQ(m_wJobDone, 1u);
    EXPECT_EQ(FaultCallCount("IMessage.GetIDsFromNames"), 1);
    EXPECT_EQ(FaultCallCount("IMessage.SetProps"), 6);
    EXPECT_EQ(FaultCallCount("MailItem.Body.put"), 3);
    EXPECT_EQ(FaultCallCount("MailItem.HTMLBody.put"), 0);
    // Saved before the move, the recipient and the properties set through
    // MAPI are on every sent item.
    EXPECT_EQ(FaultCallCount("IMessage.SaveChanges"), 3);
    std::vector<std::string> sent = ItemTexts("Sent Mail");
    ASSERT_EQ(sent.size(), 3u);
    for (size_t i = 0; i < sent.size(); ++i) {
        EXPECT_NE(sent[i].find("Property: 59090003 1\r\n"), std::string::npos) << sent[i];
        EXPECT_NE(sent[i].find("000B false\r\n"), std::string::npos) << sent[i];
        EXPECT_NE(sent[i].find("Recipient 1: 3003001E r" + std::to_string(i + 1) + "@example.com\r\n"),
                  std::string::npos)
            << sent[i];
    }
}

TEST_F(SendJobTest, HtmlMessageWithoutStoredHtmlIsReadFromHtmlBody)
{
    StandinComposedMail mail = {};
    mail.pszSubject = "S";
    mail.pszBody = "plain";
    mail.pszHtmlBody = L"<b>[[Name]]</b>";
    mail.nBodyFormat = 2;
    Compose(mail);
    WriteList(NumberedList(1));
    RunJob();
    ASSERT_EQ(m_wJobDone, 1u);
    ASSERT_EQ(Delivered().size(), 1u);
    EXPECT_TRUE(Delivered()[0].bHtml);
    EXPECT_EQ(Delivered()[0].body, "<b>Person 1</b>");
}

TEST_F(SendJobTest, RichTextWithoutStoredHtmlGoesAsPlainText)
{
    StandinComposedMail mail = {};
    mail.pszSubject = "S";
    mail.pszBody = "plain [[Name]]";
    mail.nBodyFormat = 3;
    Compose(mail);
    WriteList(NumberedList(1));
    RunJob();
    ASSERT_EQ(m_wJobDone, 1u);
    EXPECT_TRUE(BoxTexts().empty());
    ASSERT_EQ(Delivered().size(), 1u);
    EXPECT_FALSE(Delivered()[0].bHtml);
    EXPECT_EQ(Delivered()[0].body, "plain Person 1");
}

TEST_F(SendJobTest, UnicodeBodyIsConvertedWhenTheStoreHasNoAnsiBody)
{
    StandinComposedMail mail = {};
    mail.pszSubject = "S";
    mail.pszBody = NULL;
    mail.pszBodyW = L"Gr\u00fc\u00dfe [[Name]]";
    mail.nBodyFormat = 1;
    Compose(mail);
    WriteList(NumberedList(1));
    RunJob();
    ASSERT_EQ(m_wJobDone, 1u);
    ASSERT_EQ(Delivered().size(), 1u);
    EXPECT_EQ(Delivered()[0].body, AnsiToUtf8("Gr\xfc\xdf" "e Person 1"));
}

TEST_F(SendJobTest, MessageWithoutSubjectPropertyCannotBeSent)
{
    ComposePlain(NULL, "Body");
    WriteList(NumberedList(2));
    RunJob();
    EXPECT_EQ(m_nJobDone, 1);
    EXPECT_EQ(m_wJobDone, 0u);
    ASSERT_EQ(BoxTexts().size(), 1u);
    EXPECT_EQ(BoxTexts()[0], "Failed to find message subject");
    EXPECT_FALSE(LogExists());
    EXPECT_TRUE(DeliveredFiles().empty());
}

TEST_F(SendJobTest, EmptySubjectIsASubject)
{
    ComposePlain("", "Body");
    WriteList(NumberedList(1));
    RunJob();
    EXPECT_EQ(m_wJobDone, 1u);
    ASSERT_EQ(Delivered().size(), 1u);
    EXPECT_EQ(Delivered()[0].subject, "");
}

TEST_F(SendJobTest, ListWithoutUsableRecipientsIsToldAndNothingIsOpened)
{
    ComposePlain("S", "B");
    WriteList("Name,Email\r\n,\r\nNobody,no-address\r\n");
    RunJob();
    EXPECT_EQ(m_nJobDone, 1);
    EXPECT_EQ(m_wJobDone, 0u);
    EXPECT_TRUE(DeliveredFiles().empty());
    ASSERT_EQ(BoxTexts().size(), 1u);
    EXPECT_EQ(BoxTexts()[0].find("The mailing list has no usable recipient: its one record was skipped"), 0u)
        << BoxTexts()[0];
    EXPECT_FALSE(LogExists());
    EXPECT_FALSE(FileExists(m_data.File("tosent.txt")));
    EXPECT_FALSE(JobProgress.logsOpened);
    EXPECT_EQ(JobProgress.endReason, BoxTexts()[0]);
}

TEST_F(SendJobTest, ListWithoutAddressColumnAsksAboutTheHelpAndOpensIt)
{
    ComposePlain("S", "B");
    WriteList("Name,Phone\r\nAnn,123\r\n");
    m_boxes->Answer(IDOK);
    m_boxes->Answer(IDNO);
    RunJob();
    EXPECT_EQ(m_wJobDone, 0u);
    ASSERT_EQ(BoxTexts().size(), 2u);
    EXPECT_EQ(BoxTexts()[0], "\"E-Mail\" field could not be found in the mailing list.\nThis is a required field.\n"
                             "See the online help for mailing lists.");
    EXPECT_EQ(m_boxes->Boxes()[0].uStyle & MB_ICONMASK, (UINT)MB_ICONWARNING);
    EXPECT_EQ(BoxTexts()[1], "Would you like to read about Mailing Lists in the online help?");
    EXPECT_EQ(m_boxes->Boxes()[1].uStyle & (MB_ICONMASK | MB_TYPEMASK), (UINT)(MB_ICONQUESTION | MB_YESNO));
    EXPECT_FALSE(LogExists());
}

TEST_F(SendJobTest, YesOpensTheHelpAtMailingLists)
{
    strcpy(gszDllDir, ProductDir().c_str());
    ResetHelpBinding();
    ScopedRegValue location(HKEY_CLASSES_ROOT, gszHtmlHelpClsidKey, NULL, REG_SZ, TestProgramDir() + "hhspy.dll");
    ComposePlain("S", "B");
    WriteList("Name,Phone\r\nAnn,123\r\n");
    m_boxes->Answer(IDOK);
    m_boxes->Answer(IDYES);
    RunJob();
    EXPECT_EQ(m_wJobDone, 0u);
    SpyCalls calls;
    ASSERT_GE(calls.Count(), 2);
    EXPECT_STREQ(calls[1].szKeywords, "mailing lists");
    EXPECT_FALSE(LogExists());
}

TEST_F(SendJobTest, UnreadableListStopsTheJobBeforeAnyLog)
{
    ComposePlain("S", "B");
    strcpy(JobOptions.ToList, m_lists.File("missing.csv").c_str());
    RunJob();
    EXPECT_EQ(m_wJobDone, 0u);
    ASSERT_EQ(BoxTexts().size(), 1u);
    EXPECT_EQ(BoxTexts()[0], "Could not open the mailing list file for reading.");
    EXPECT_FALSE(LogExists());
}

TEST_F(SendJobTest, SendReceiveBeforeEachFullBatchAndAtTheEndOnlyAfterAFullOne)
{
    ComposePlain("S", "B");
    JobOptions.DoSendRecv = 1;
    JobOptions.SendRecvCount = 100;
    WriteList(NumberedList(250));
    RunJob();
    ASSERT_EQ(m_wJobDone, 1u);
    EXPECT_EQ(DeliveredFiles().size(), 250u);
    EXPECT_EQ(StandinSendReceiveRuns(gpApplication), 2);   // before 101 and 201

    WriteList(NumberedList(200));
    RunJob();
    EXPECT_EQ(StandinSendReceiveRuns(gpApplication), 2 + 2);   // before 101 and at the end
}

TEST_F(SendJobTest, SendReceiveEveryMessageButTheFirstAndAtTheEnd)
{
    ComposePlain("S", "B");
    JobOptions.DoSendRecv = 1;
    JobOptions.SendRecvCount = 1;
    WriteList(NumberedList(4));
    RunJob();
    ASSERT_EQ(m_wJobDone, 1u);
    EXPECT_EQ(StandinSendReceiveRuns(gpApplication), 4);

    // Any value but 1 turns it off, as the start block's wording does not.
    JobOptions.DoSendRecv = 2;
    RunJob();
    EXPECT_EQ(StandinSendReceiveRuns(gpApplication), 4);
    EXPECT_NE(CurrentLog().find("\t\tSend/Receive every 1 message\r\n"), std::string::npos);
}

TEST_F(SendJobTest, SendReceiveWithoutExplorerIsSkippedQuietly)
{
    m_options.bNoExplorer = true;
    ComposePlain("S", "B");
    JobOptions.DoSendRecv = 1;
    JobOptions.SendRecvCount = 1;
    WriteList(NumberedList(2));
    RunJob();
    EXPECT_EQ(m_wJobDone, 1u);
    EXPECT_EQ(DeliveredFiles().size(), 2u);
    EXPECT_TRUE(BoxTexts().empty());
}

TEST_F(SendJobTest, PauseComesBeforeEveryMessageButTheFirst)
{
    ComposePlain("S", "B");
    JobOptions.Pause = 1;
    WriteList(NumberedList(4));
    RunJob();
    ASSERT_EQ(m_wJobDone, 1u);
    EXPECT_GE(m_dwElapsed, 3000u);
    EXPECT_LT(m_dwElapsed, 3000u + 2500u);
    // The time spent dispatching between the steps is not run time.
    EXPECT_GE(JobProgress.runTimeMs, 2500u);
}

TEST_F(SendJobTest, NoPauseAtZero)
{
    ComposePlain("S", "B");
    JobOptions.Pause = 0;
    WriteList(NumberedList(4));
    RunJob();
    ASSERT_EQ(m_wJobDone, 1u);
    EXPECT_LT(m_dwElapsed, 2500u);
}

TEST_F(SendJobTest, PausedTimeIsNotRunTimeAndTheJobResumesWhereItStopped)
{
    ComposePlain("S", "B");
    JobOptions.Pause = 1;
    WriteList(NumberedList(3));
    // Paused 0.3 s in, resumed at 1.8 s, as the dialog's buttons would.
    SetTimer(m_hDialog, JobPaused + 1, 300, NULL);
    SetTimer(m_hDialog, JobRunning + 1, 1800, NULL);
    RunJob();
    ASSERT_EQ(m_wJobDone, 1u);
    EXPECT_EQ(DeliveredFiles().size(), 3u);
    EXPECT_GE(m_dwElapsed, 2000u + 1400u);
    EXPECT_LT(JobProgress.runTimeMs + 1200u, m_dwElapsed);
}

TEST_F(SendJobTest, CancelDuringAPauseStopsAtTheNextStep)
{
    ComposePlain("S", "B");
    JobOptions.Pause = 30;
    WriteList(NumberedList(3));
    SetTimer(m_hDialog, JobIdle + 1, 500, NULL);
    RunJob();
    EXPECT_EQ(m_nJobDone, 1);
    EXPECT_EQ(m_wJobDone, 0u);
    EXPECT_LT(m_dwElapsed, 5000u);
    EXPECT_EQ(DeliveredFiles().size(), 1u);
    std::string log = CurrentLog();
    EXPECT_NE(log.find("Sent Successfully\r\nJob Stopped\r\n\tResult: Incomplete (See Current Job Log)\r\n"
                       "\tE-Mails Sent: 1\r\n"),
              std::string::npos);
}

// The sheet is written out with the job's window live: a Cancel then ends the
// job before its first pass, with no message and no log.
TEST_F(SendJobTest, CancelWhileAWorkbookIsWrittenOutEndsTheJobBeforeItsLogs)
{
    ComposePlain("S", "B");
    XlsxWriter writer;
    writer.AddGeneratedSheet("Members", 5000, [](int i) {
        return XlsxRow({ XlsxCell(i == 0 ? std::string("Email") : "p" + std::to_string(i) + "@example.com") });
    });
    WriteList(writer.Bytes(), "list.xlsx");
    PostMessageA(m_hDialog, WM_TIMER, JobIdle + 1, 0);
    RunJob();
    ExpectJobEnded({ {}, 0, 0, NoLog });
    EXPECT_TRUE(DeliveredFiles().empty());
}

}  // namespace
