// Whole jobs over mailing lists that no careful user would write: each ends
// with its message or its skips, never a crash or a hang, and the logs name
// exactly the messages that went out.
#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "engine/job_progress.h"
#include "mailing/list_reader.h"
#include "settings/settings_store.h"
#include "tests/engine/engine_fixture.h"

namespace {

const char kNoAddressColumn[] =
    "\"E-Mail\" field could not be found in the mailing list.\nThis is a required field.\n"
    "See the online help for mailing lists.";

// The addresses of the lines "(h:mm.ss) # n, To: <address>. Sent Successfully".
std::vector<std::string> SentLines(const std::string& log)
{
    std::vector<std::string> addresses;
    std::regex sentLine("^\\(\\d{1,2}:\\d{2}\\.\\d{2}\\) # \\d+, To: (.*)\\. Sent Successfully\r$");
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        if (end == std::string::npos)
            end = log.size();
        std::smatch match;
        std::string line = log.substr(start, end - start);
        if (std::regex_match(line, match, sentLine))
            addresses.push_back(match[1].str());
        start = end + 1;
    }
    return addresses;
}

// The question of a list without the Name column the message refers to.
const char kNameNamesNoField[] =
    "[[Name]] names no field of the mailing list and will be sent as it stands. Send anyway?";

class HostileListTest : public EngineJobTest {
protected:
    void SetUp() override
    {
        EngineJobTest::SetUp();
        JobOptions.Pause = 0;
        JobOptions.DoSendRecv = 0;
        ComposePlain("Hello [[Name]]", "Dear [[Name]]");
    }

    // A job ran to its end once; its logs, when it opened them, agree with
    // the store on what was delivered.
    void ExpectEndedWithDelivered(const std::vector<std::string>& expected)
    {
        EXPECT_EQ(m_nJobDone, 1);
        std::vector<std::string> delivered;
        for (const DeliveredView& view : Delivered())
            delivered.push_back(view.to);
        EXPECT_EQ(delivered, expected);
        if (!LogExists())
            return;
        std::string log = CurrentLog();
        EXPECT_EQ(SentLines(log), delivered);
        EXPECT_NE(log.find("\r\nJob Ended : ("), std::string::npos);
        EXPECT_NE(History().find("\r\nJob Ended : ("), std::string::npos);
        std::string sentList = SentList();
        for (const std::string& address : delivered)
            EXPECT_NE(sentList.find(address), std::string::npos) << address;
    }

    void ExpectNoAddressColumn()
    {
        ExpectEndedWithDelivered({});
        EXPECT_EQ(m_wJobDone, 0u);
        ASSERT_EQ(BoxTexts().size(), 2u);
        EXPECT_EQ(BoxTexts()[0], kNoAddressColumn);
        EXPECT_FALSE(LogExists());
    }

    void AnswerTheHelpQuestionNo()
    {
        m_boxes->Answer(IDOK);
        m_boxes->Answer(IDNO);
    }
};

TEST_F(HostileListTest, AnEmptyFileHasNoAddressColumn)
{
    WriteList("");
    AnswerTheHelpQuestionNo();
    RunJob();
    ExpectNoAddressColumn();
}

TEST_F(HostileListTest, ABinaryFileSendsNothing)
{
    // Every byte value but '@', NUL and line ends included, in a fixed order.
    std::string bytes;
    unsigned nState = 12345;
    while (bytes.size() < 16384) {
        nState = nState * 1103515245u + 12345u;
        char ch = (char)(nState >> 16);
        if (ch != '@')
            bytes += ch;
    }
    WriteList(bytes, "binary.csv");
    AnswerTheHelpQuestionNo();
    RunJob();
    ExpectEndedWithDelivered({});
}

TEST_F(HostileListTest, OneHugeLineHasNoHeader)
{
    std::string line;
    while (line.size() < 300000)
        line += "Email,";
    WriteList(line);
    AnswerTheHelpQuestionNo();
    RunJob();
    ExpectNoAddressColumn();
}

TEST_F(HostileListTest, HeaderOnlyIsToldAndSendsNothing)
{
    WriteList("Name,Email\r\n");
    RunJob();
    ExpectEndedWithDelivered({});
    EXPECT_EQ(m_wJobDone, 0u);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{ "The mailing list has no recipient after its header.\n\nNo message "
                                                    "was sent." });
    EXPECT_FALSE(LogExists());
}

TEST_F(HostileListTest, ListWithCarriageReturnLineEndsIsOneHeaderAndSendsNothing)
{
    // Read in text mode, CR alone ends no line: the header takes the whole
    // file and "Email" is its fourth column, which no record reaches.
    WriteList("Name,Email\rAnn,ann@example.com\rBob,bob@example.com\r");
    RunJob();
    ExpectEndedWithDelivered({});
    EXPECT_EQ(m_wJobDone, 0u);
    ASSERT_EQ(BoxTexts().size(), 1u);
    EXPECT_EQ(BoxTexts()[0], "The mailing list has no recipient after its header: its lines end with a carriage "
                             "return alone, so the whole file reads as one line. Save it with Windows line ends and "
                             "send again.\n\nNo message was sent.");
    EXPECT_FALSE(LogExists());
}

TEST_F(HostileListTest, SkippedRecordsAreCountedAndLoggedWithTheirLines)
{
    WriteList("Name,Email\n// a comment\nAnn,ann@example.com\nBob,bob at example.com\nCid\nDee,d@" +
              std::string(260, 'x') + ".com\nEve,eve@example.com\nFay,\nGus,\"gus@example.com, hal@example.com\"\n");
    RunJob();
    ExpectEndedWithDelivered({ "ann@example.com", "eve@example.com" });
    EXPECT_EQ(m_wJobDone, 1u);
    EXPECT_EQ(JobProgress.skippedCount, 5);
    std::string log = CurrentLog();
    EXPECT_NE(log.find("\t\tEmails In File: 2\r\n"), std::string::npos);
    EXPECT_NE(log.find("Skipped line 4 of the mailing list: the address holds no @: bob at example.com\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Skipped line 5 of the mailing list: too few fields to reach the address column\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("Skipped line 6 of the mailing list: the address is longer than 255 characters: d@xxx"),
              std::string::npos);
    EXPECT_NE(log.find("Skipped line 8 of the mailing list: the address is empty\r\n"), std::string::npos);
    EXPECT_NE(log.find("Skipped line 9 of the mailing list: the address is not one e-mail address: gus@example.com, "
                       "hal@example.com\r\n"),
              std::string::npos);
}

TEST_F(HostileListTest, AQuoteInsideAFieldKeepsEveryoneToTheirOwnRecord)
{
    ComposePlain("Hello [[Name]]", "[[Name]] is [[Height]] tall");
    WriteList("Name,Email,Height\nBen,ben@example.com,6'1\"\nCara,cara@example.com,5'9\"\nDan,dan@example.com,6'0\"\n");
    RunJob();
    ExpectEndedWithDelivered({ "ben@example.com", "cara@example.com", "dan@example.com" });
    EXPECT_EQ(m_wJobDone, 1u);
    std::vector<DeliveredView> views = Delivered();
    ASSERT_EQ(views.size(), 3u);
    EXPECT_EQ(views[0].body, "Ben is 6'1\" tall");
    EXPECT_EQ(views[1].body, "Cara is 5'9\" tall");
    EXPECT_EQ(views[2].body, "Dan is 6'0\" tall");
    EXPECT_EQ(SentList(), "Name,Email,Height\r\nBen,ben@example.com,6'1\"\r\nCara,cara@example.com,5'9\"\r\n"
                          "Dan,dan@example.com,6'0\"\r\n");
}

TEST_F(HostileListTest, SeveralAddressColumnsAreAskedAboutAndAListSavedMeanwhileChangesNothing)
{
    const std::string list = "Name,Manager Email,Email\nAnn,boss@example.com,ann@example.com\n"
                             "Bob,boss@example.com,bob@example.com\n";
    WriteList(list);
    // While the question waits, another program saves the list with its
    // records swapped and one more: the job sends to the list as it was.
    std::string path = JobOptions.ToList;
    m_boxes->onBox = [&](const RecordedBox&) {
        FILE* pFile = fopen(path.c_str(), "wb");
        ASSERT_TRUE(pFile != NULL);
        std::string edited = "Name,Manager Email,Email\nBob,boss@example.com,ann@example.com\n"
                             "Ann,boss@example.com,bob@example.com\nCid,boss@example.com,cid@example.com\n";
        fwrite(edited.data(), 1, edited.size(), pFile);
        fclose(pFile);
    };
    m_boxes->Answer(IDYES);
    RunJob();
    m_listContent = list;
    ExpectEndedWithDelivered({ "ann@example.com", "bob@example.com" });
    EXPECT_EQ(m_wJobDone, 1u);
    ASSERT_EQ(BoxTexts().size(), 1u);
    EXPECT_EQ(BoxTexts()[0], "The mailing list has 2 columns that could hold the e-mail address. Each copy will go to "
                             "the address in the column \"Email\".\n\nSend to the addresses in \"Email\"?");
    EXPECT_EQ(m_boxes->Boxes()[0].uStyle & (MB_ICONMASK | MB_TYPEMASK), (UINT)(MB_ICONQUESTION | MB_YESNO));
    std::vector<DeliveredView> views = Delivered();
    ASSERT_EQ(views.size(), 2u);
    EXPECT_EQ(views[0].subject, "Hello Ann");
    EXPECT_EQ(views[1].subject, "Hello Bob");
    EXPECT_NE(CurrentLog().find("\t\tEmails In File: 2\r\n\t\tAddress Column: Email\r\n"), std::string::npos);
}

TEST_F(HostileListTest, SeveralAddressColumnsAnsweredNoSendNothing)
{
    WriteList("Name,Work Email,Email Opt-In\nAnn,ann@example.com,yes\n");
    m_boxes->Answer(IDNO);
    RunJob();
    ExpectEndedWithDelivered({});
    EXPECT_EQ(m_wJobDone, 0u);
    ASSERT_EQ(BoxTexts().size(), 1u);
    EXPECT_NE(BoxTexts()[0].find("in the column \"Work Email\""), std::string::npos);
    EXPECT_FALSE(LogExists());
}

TEST_F(HostileListTest, LineBreaksInAnAddressCannotForgeALogLine)
{
    // The field is no one address: it is skipped, and its text, line breaks
    // and all, stays on one log line.
    WriteList("Name,Email\nEve,\"eve@example.com\n(9:00.00) # 2, To: mallory@example.com. Sent Successfully\"\n"
              "Ann,ann@example.com\n");
    RunJob();
    ExpectEndedWithDelivered({ "ann@example.com" });
    EXPECT_EQ(m_wJobDone, 1u);
    EXPECT_TRUE(BoxTexts().empty());
    std::string log = CurrentLog();
    EXPECT_EQ(log.find("\n(9:00.00)"), std::string::npos) << log;
    EXPECT_NE(log.find("Skipped line 2 of the mailing list: the address is not one e-mail address: eve@example.com  "
                       "(9:00.00) # 2, To: mallory@example.com. Sent Successfully\r\n"),
              std::string::npos)
        << log;
}

// A record whose raw text, its line end included, is nLength characters.
std::string RecordOfLength(size_t nLength)
{
    std::string tail = ",long@example.com\n";
    return std::string(nLength - tail.size(), 'n') + tail;
}

TEST_F(HostileListTest, ARecordOf511IsSent)
{
    WriteList("Name,Email\nA,a@example.com\n" + RecordOfLength(511) + "B,b@example.com\n");
    RunJob();
    ExpectEndedWithDelivered({ "a@example.com", "long@example.com", "b@example.com" });
    EXPECT_EQ(m_wJobDone, 1u);
}

const char kCutShortQuestion[] =
    "The mailing list holds a record longer than 511 characters after its recipient 1, and Lettercast reads a list "
    "only up to such a record.\n\nSend to the 1 recipients before it?";

class LongRecordTest : public HostileListTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(LongRecordTest, EndsTheListAndTheUserMaySendTheRecordsBeforeIt)
{
    WriteList("Name,Email\nA,a@example.com\n" + RecordOfLength(GetParam()) + "B,b@example.com\n");
    m_boxes->Answer(IDYES);
    RunJob();
    ExpectEndedWithDelivered({ "a@example.com" });
    EXPECT_EQ(m_wJobDone, 0u) << "the records after the long one never got the message";
    ASSERT_EQ(BoxTexts().size(), 1u);
    EXPECT_EQ(BoxTexts()[0], kCutShortQuestion);
    EXPECT_EQ(m_boxes->Boxes()[0].uStyle & (MB_ICONMASK | MB_TYPEMASK), (UINT)(MB_ICONQUESTION | MB_YESNO));
    std::string log = CurrentLog();
    EXPECT_NE(log.find("\t\tEmails In File: 1\r\n"), std::string::npos);
    EXPECT_NE(log.find("\tMailing list read up to a record longer than 511 characters\r\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Records, LongRecordTest, ::testing::Values(512u, 600u, 1100u));

TEST_F(HostileListTest, ARecordTooLongToReadLetsTheUserStopBeforeAnythingGoes)
{
    WriteList("Name,Email\nA,a@example.com\n" + RecordOfLength(600) + "B,b@example.com\n");
    m_boxes->Answer(IDNO);
    RunJob();
    ExpectEndedWithDelivered({});
    EXPECT_EQ(m_wJobDone, 0u);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{ kCutShortQuestion });
    EXPECT_FALSE(LogExists());
}

TEST_F(HostileListTest, ARecordTooLongToReadBeforeTheFirstRecipientSendsNothing)
{
    WriteList("Name,Email\n" + RecordOfLength(600) + "B,b@example.com\n");
    RunJob();
    ExpectEndedWithDelivered({});
    EXPECT_EQ(m_wJobDone, 0u);
    ASSERT_EQ(BoxTexts().size(), 1u);
    EXPECT_EQ(BoxTexts()[0], "The mailing list holds a record longer than 511 characters before its first recipient, "
                             "and Lettercast reads a list only up to such a record.\n\nNo message was sent.");
    EXPECT_EQ(m_boxes->Boxes()[0].uStyle & MB_ICONMASK, (UINT)MB_ICONWARNING);
    EXPECT_FALSE(LogExists());
}

TEST_F(HostileListTest, AnAddressFieldOf511IsSkippedNotCut)
{
    // Only a last line without its line end holds a field this long. Cut to
    // the 255 characters an address holds it would name someone else.
    std::string address = "c@" + std::string(509, 'x');
    WriteList("Email\na@example.com\n" + address);
    m_boxes->Answer(IDYES);
    RunJob();
    ExpectEndedWithDelivered({ "a@example.com" });
    EXPECT_EQ(m_wJobDone, 1u);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{ kNameNamesNoField });
    std::string log = CurrentLog();
    EXPECT_NE(log.find("\t\tEmails In File: 1\r\n"), std::string::npos);
    EXPECT_NE(log.find("Skipped line 3 of the mailing list: the address is longer than 255 characters: " +
                       address.substr(0, 255) + "\r\n"),
              std::string::npos);
}

TEST_F(HostileListTest, AnAddressFieldOf512EndsTheList)
{
    WriteList("Email\na@example.com\nc@" + std::string(510, 'x') + "\nd@example.com\n");
    m_boxes->Answer(IDYES);
    m_boxes->Answer(IDYES);
    RunJob();
    ExpectEndedWithDelivered({ "a@example.com" });
}

TEST_F(HostileListTest, AQuoteLeftOpenIsToldWithItsLineAndNothingIsSent)
{
    WriteList("Name,Email\nA,a@example.com\n\"B,b@example.com\nC,c@example.com\n");
    RunJob();
    ExpectEndedWithDelivered({});
    EXPECT_EQ(m_wJobDone, 0u);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{ "The record at line 3 of the mailing list opens a double quote that is "
                                                    "never closed, so the rest of the file would be read as one field."
                                                    "\n\nClose or remove the quote and send again. No message was "
                                                    "sent." });
    EXPECT_FALSE(LogExists());
}

TEST_F(HostileListTest, AListHeldOpenByAProgramThatDeniesWritingIsRead)
{
    WriteList("Name,Email\nA,a@example.com\nB,b@example.com\n");
    HANDLE hHeld = CreateFileA(JobOptions.ToList, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(hHeld, INVALID_HANDLE_VALUE);
    RunJob();
    CloseHandle(hHeld);
    ExpectEndedWithDelivered({ "a@example.com", "b@example.com" });
    EXPECT_EQ(m_wJobDone, 1u);
}

TEST_F(HostileListTest, APathOf259CharactersIsRead)
{
    std::string path = m_lists.Path();
    while (259 - path.size() > 110) {
        path += "\\" + std::string(100, 'd');
        ASSERT_TRUE(CreateDirectoryA(path.c_str(), NULL)) << path;
    }
    path += "\\";
    path += std::string(259 - path.size() - 4, 'l') + ".csv";
    ASSERT_EQ(path.size(), 259u);
    FILE* pFile = fopen(path.c_str(), "wb");
    ASSERT_TRUE(pFile != NULL) << path;
    fputs("Name,Email\nA,a@example.com\n", pFile);
    fclose(pFile);
    strcpy(JobOptions.ToList, path.c_str());
    DetectDelimiter();
    RunJob();
    ExpectEndedWithDelivered({ "a@example.com" });
    EXPECT_EQ(m_wJobDone, 1u);
}

TEST_F(HostileListTest, AByteOrderMarkIsPartOfTheFirstFieldName)
{
    WriteList("\xEF\xBB\xBF" "Email,Name\na@example.com,Ann\n");
    RunJob();
    ExpectEndedWithDelivered({ "a@example.com" });
    ASSERT_EQ(Delivered().size(), 1u);
    EXPECT_EQ(Delivered()[0].subject, "Hello Ann");
}

TEST_F(HostileListTest, AByteOrderMarkKeepsTheFirstNameFromItsPlaceholder)
{
    WriteList("\xEF\xBB\xBF" "Name,Email\nAnn,a@example.com\n");
    m_boxes->Answer(IDYES);
    RunJob();
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{ kNameNamesNoField });
    ExpectEndedWithDelivered({ "a@example.com" });
    ASSERT_EQ(Delivered().size(), 1u);
    EXPECT_EQ(Delivered()[0].subject, "Hello [[Name]]");
}

}  // namespace
