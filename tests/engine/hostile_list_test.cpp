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
#include "mailing/html_text.h"
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
        if (sentList.compare(0, 2, "\xFF\xFE") == 0) {
            // A UTF-16 list's sent list is UTF-16 too; its ASCII is every other byte.
            std::string ascii;
            for (size_t i = 2; i + 1 < sentList.size(); i += 2)
                ascii += sentList[i + 1] == 0 ? sentList[i] : '?';
            sentList = ascii;
        }
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

TEST_F(HostileListTest, ListWithCarriageReturnLineEndsIsRead)
{
    // Old Mac line ends: a CR alone ends a record like LF and CR LF.
    WriteList("Name,Email\rAnn,ann@example.com\rBob,bob@example.com\r");
    RunJob();
    ExpectEndedWithDelivered({ "ann@example.com", "bob@example.com" });
    EXPECT_EQ(m_wJobDone, 1u);
}

TEST_F(HostileListTest, TextInvalidInItsEncodingNamesTheLineAndSendsNothing)
{
    WriteList("\xEF\xBB\xBFName,Email\r\nAnn,ann@example.com\r\nB\xC3" "(b,bob@example.com\r\n");
    RunJob();
    ExpectEndedWithDelivered({});
    EXPECT_EQ(m_wJobDone, 0u);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{ "Line 3 of the mailing list is not valid text in UTF-8. Save the "
                                                    "list again as CSV UTF-8, Unicode Text or CSV and send again.\n\n"
                                                    "No message was sent." });
    EXPECT_FALSE(LogExists());
}

// An exporter's 1A for a character it could not write: the C runtime's text
// mode would have ended the list there and reported success for the records
// before it. Every byte is data, and the line is told before anything goes.
TEST_F(HostileListTest, AControlCharacterIsToldWithItsLineAndNothingIsSent)
{
    WriteList("Name,Email\r\nAnn,ann@example.com\r\nBj\x1Arn,bjorn@example.com\r\nCid,cid@example.com\r\n");
    RunJob();
    ExpectEndedWithDelivered({});
    EXPECT_EQ(m_wJobDone, 0u);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{ "Line 3 of the mailing list holds the control character 0x1A where "
                                                    "text belongs. Correct the line, or save the list again as CSV "
                                                    "UTF-8, Unicode Text or CSV, and send again.\n\nNo message was "
                                                    "sent." });
    EXPECT_FALSE(LogExists());
}

// A list of UTF-8 names with one stray byte is a UTF-8 list, refused with the
// line as if it had its mark, not read as ANSI with every name garbled.
TEST_F(HostileListTest, OneStrayByteInAUtf8ListWithoutAMarkIsToldWithItsLine)
{
    WriteList("Name,Email\r\nJos\xC3\xA9,jose@example.com\r\nZo\xC3\xAB,zoe@example.com\r\nB\xE9" "a,bea@example.com\r\n");
    RunJob();
    ExpectEndedWithDelivered({});
    EXPECT_EQ(m_wJobDone, 0u);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{ "Line 4 of the mailing list is not valid text in UTF-8. Save the "
                                                    "list again as CSV UTF-8, Unicode Text or CSV and send again.\n\n"
                                                    "No message was sent." });
    EXPECT_FALSE(LogExists());
}

// Jane's personal copy must not go to Bob: a field naming several people is
// skipped in every shape, with its line, and the others are sent.
TEST_F(HostileListTest, AFieldNamingSeveralPeopleIsSkippedInEveryShape)
{
    WriteList("Name,Email\n"
              "Jane,\"Jane <jane@x.example>, Bob <bob@y.example>\"\n"
              "Lena,<lena@x.example>;<bob@y.example>\n"
              "Ann,Ann Lee <ann@example.com>\n"
              "Mia,Bob <bob@y.example> mia@x.example\n"
              "Eve,eve@x.example <bob@y.example>\n"
              "Cid,cid@example.com\n");
    RunJob();
    ExpectEndedWithDelivered({ "ann@example.com", "cid@example.com" });
    EXPECT_EQ(m_wJobDone, 1u);
    EXPECT_EQ(JobProgress.skippedCount, 4);
    std::string log = CurrentLog();
    for (const char* pszLine : {
             "Skipped line 2 of the mailing list: the address is not one e-mail address: Jane <jane@x.example>, "
             "Bob <bob@y.example>\r\n",
             "Skipped line 3 of the mailing list: the address is not one e-mail address: "
             "<lena@x.example>;<bob@y.example>\r\n",
             "Skipped line 5 of the mailing list: the address is not one e-mail address: Bob <bob@y.example> "
             "mia@x.example\r\n",
             "Skipped line 6 of the mailing list: the address is not one e-mail address: eve@x.example "
             "<bob@y.example>\r\n" })
        EXPECT_NE(log.find(pszLine), std::string::npos) << pszLine << log;
    EXPECT_EQ(log.find("bob@y.example. Sent"), std::string::npos);
}

// Values as spreadsheet programs read them: text after a closing quote is
// part of the value, and a line of a quoted value that begins with "//" is
// text, in the message and in the sent list.
TEST_F(HostileListTest, QuotedValuesAreReadAsSpreadsheetsReadThem)
{
    ComposePlain("Hello [[Name]]", "[[Note]]");
    const std::string list = "Name,Email,Note\r\n\"Dee\"x,dee@example.com,\"Call first\r\n//then write\"\r\n"
                             "// a comment\r\nAnn,ann@example.com,\"\"\r\n";
    WriteList(list);
    RunJob();
    ExpectEndedWithDelivered({ "dee@example.com", "ann@example.com" });
    EXPECT_EQ(m_wJobDone, 1u);
    std::vector<DeliveredView> views = Delivered();
    ASSERT_EQ(views.size(), 2u);
    EXPECT_EQ(views[0].subject, "Hello Deex");
    EXPECT_EQ(views[0].body, "Call first\r\n//then write");
    EXPECT_EQ(SentList(), "Name,Email,Note\r\n\"Dee\"x,dee@example.com,\"Call first\r\n//then write\"\r\n"
                          "Ann,ann@example.com,\"\"\r\n");
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
    // The check before sending names it on one line too.
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{ "The mailing list was checked before sending:\n\n1 record will be "
                                                    "skipped: line 2 (eve@example.com  (9:00.00) # 2, To: "
                                                    "mallory@example.com. Sent Successfully: the address is not one "
                                                    "e-mail address).\n\nSend anyway?" });
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

TEST_F(HostileListTest, ARecordOf32767IsSent)
{
    WriteList("Name,Email\nA,a@example.com\n" + RecordOfLength(32767) + "B,b@example.com\n");
    RunJob();
    ExpectEndedWithDelivered({ "a@example.com", "long@example.com", "b@example.com" });
    EXPECT_EQ(m_wJobDone, 1u);
}

const char kCutShortQuestion[] =
    "The mailing list holds a record longer than 32,767 characters after its recipient 1, and Lettercast reads a list "
    "only up to such a record.\n\nSend to the 1 recipient before it?";

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
    EXPECT_NE(log.find("\tMailing list read up to a record longer than 32,767 characters\r\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Records, LongRecordTest, ::testing::Values(32768u, 33000u, 70000u));

TEST_F(HostileListTest, ARecordTooLongToReadLetsTheUserStopBeforeAnythingGoes)
{
    WriteList("Name,Email\nA,a@example.com\n" + RecordOfLength(33000) + "B,b@example.com\n");
    m_boxes->Answer(IDNO);
    RunJob();
    ExpectEndedWithDelivered({});
    EXPECT_EQ(m_wJobDone, 0u);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{ kCutShortQuestion });
    EXPECT_FALSE(LogExists());
}

TEST_F(HostileListTest, ARecordTooLongToReadBeforeTheFirstRecipientSendsNothing)
{
    WriteList("Name,Email\n" + RecordOfLength(33000) + "B,b@example.com\n");
    RunJob();
    ExpectEndedWithDelivered({});
    EXPECT_EQ(m_wJobDone, 0u);
    ASSERT_EQ(BoxTexts().size(), 1u);
    EXPECT_EQ(BoxTexts()[0], "The mailing list holds a record longer than 32,767 characters before its first recipient, "
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
    EXPECT_EQ(BoxTexts(), std::vector<std::string>({ kNameNamesNoField,
                                                     "The mailing list was checked before sending:\n\n1 record will "
                                                     "be skipped: line 3 (" + address.substr(0, 255) + ": the address "
                                                     "is longer than 255 characters).\n\nSend anyway?" }));
    std::string log = CurrentLog();
    EXPECT_NE(log.find("\t\tEmails In File: 1\r\n"), std::string::npos);
    EXPECT_NE(log.find("Skipped line 3 of the mailing list: the address is longer than 255 characters: " +
                       address.substr(0, 255) + "\r\n"),
              std::string::npos);
}

TEST_F(HostileListTest, AnAddressFieldOf512IsSkipped)
{
    WriteList("Email\na@example.com\nc@" + std::string(510, 'x') + "\nd@example.com\n");
    m_boxes->Answer(IDYES);
    RunJob();
    ExpectEndedWithDelivered({ "a@example.com", "d@example.com" });
    EXPECT_NE(CurrentLog().find("Skipped line 3 of the mailing list: the address is longer than 255 characters"),
              std::string::npos);
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

TEST_F(HostileListTest, AByteOrderMarkIsNoPartOfTheFirstName)
{
    WriteList("\xEF\xBB\xBF" "Name,Email\nAnn,a@example.com\n");
    RunJob();
    EXPECT_TRUE(BoxTexts().empty());
    ExpectEndedWithDelivered({ "a@example.com" });
    ASSERT_EQ(Delivered().size(), 1u);
    EXPECT_EQ(Delivered()[0].subject, "Hello Ann");
}

// UTF-8 text as UTF-16 LE bytes after their mark: Excel's "Unicode Text".
std::string Utf16LeWithMark(const std::string& utf8)
{
    std::string bytes = "\xFF\xFE";
    int cch = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), NULL, 0);
    std::wstring wide(cch, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), &wide[0], cch);
    for (wchar_t ch : wide) {
        bytes += (char)(ch & 0xFF);
        bytes += (char)((ch >> 8) & 0xFF);
    }
    return bytes;
}

struct ExportCase {
    const char* pszName;
    std::string content;
    const char* pszDelimiter;
};

class ListExportTest : public HostileListTest, public ::testing::WithParamInterface<ExportCase> {};

// The lists people have: every recipient gets their own name, the start block
// names the delimiter, and the sent list is a list of the same kind, byte for
// byte the list read when everyone got the message.
TEST_P(ListExportTest, EveryoneGetsTheirOwnNameAndTheSentListKeepsTheEncoding)
{
    WriteList(GetParam().content);
    RunJob();
    ExpectEndedWithDelivered({ "a@example.com", "b@example.com", "c@example.com" });
    std::vector<DeliveredView> views = Delivered();
    ASSERT_EQ(views.size(), 3u);
    EXPECT_EQ(views[0].subject, "Hello Jos\xC3\xA9");
    EXPECT_EQ(views[1].subject, "Hello Zo\xC3\xAB");
    EXPECT_EQ(views[2].subject, "Hello \xE2\x82\xAC" "uro");
    EXPECT_EQ(SentList(), GetParam().content);
    EXPECT_NE(CurrentLog().find(std::string("\t\tDelimiter: ") + GetParam().pszDelimiter + "\r\n"),
              std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, ListExportTest,
    ::testing::Values(
        ExportCase{ "CsvUtf8", "\xEF\xBB\xBF" "Name,Email\r\nJos\xC3\xA9,a@example.com\r\nZo\xC3\xAB,b@example.com\r\n"
                               "\xE2\x82\xAC" "uro,c@example.com\r\n", "Comma" },
        ExportCase{ "Utf8WithoutMark", "Name,Email\r\nJos\xC3\xA9,a@example.com\r\nZo\xC3\xAB,b@example.com\r\n"
                                       "\xE2\x82\xAC" "uro,c@example.com\r\n", "Comma" },
        ExportCase{ "UnicodeText", Utf16LeWithMark("Name\tEmail\r\nJos\xC3\xA9\ta@example.com\r\nZo\xC3\xAB\tb@example.com"
                                                   "\r\n\xE2\x82\xAC" "uro\tc@example.com\r\n"), "Tab" },
        ExportCase{ "Semicolon", "Name;Email;Amount\r\nJos\xC3\xA9;a@example.com;1,5\r\nZo\xC3\xAB;b@example.com;2,25\r\n"
                                 "\xE2\x82\xAC" "uro;c@example.com;3\r\n", "Semicolon" },
        ExportCase{ "Ansi", "Name,Email\r\nJos\xE9,a@example.com\r\nZo\xEB,b@example.com\r\n\x80uro,c@example.com\r\n",
                    "Comma" },
        // Excel's first line naming the delimiter, before a header that
        // would otherwise read as comma-delimited.
        ExportCase{ "ExcelSepLine", "sep=;\r\nName;Email;Amount, EUR\r\nJos\xC3\xA9;a@example.com;1,5\r\n"
                                    "Zo\xC3\xAB;b@example.com;2,25\r\n\xE2\x82\xAC" "uro;c@example.com;3\r\n", "Semicolon" },
        ExportCase{ "ExcelSepLineTab", "\xEF\xBB\xBFsep=\t\r\nName\tEmail,Work\r\nJos\xC3\xA9\ta@example.com\r\n"
                                       "Zo\xC3\xAB\tb@example.com\r\n\xE2\x82\xAC" "uro\tc@example.com\r\n", "Tab" }),
    [](const ::testing::TestParamInfo<ExportCase>& info) { return std::string(info.param.pszName); });

// Outlook's own File > Export > CSV of contacts: 90 quoted columns, the
// address in "E-mail Address" with "E-mail Display Name" after it, a header
// of over 1,200 characters and records of over 511.
TEST_F(HostileListTest, AnOutlookContactsExportIsSentToItsEmailAddressColumn)
{
    std::vector<std::string> names = { "Title", "First Name", "Middle Name", "Last Name", "Suffix", "Company",
                                       "Department", "Job Title", "Business Street", "Business Street 2" };
    while (names.size() < 56)
        names.push_back("Business Detail " + std::to_string(names.size()));
    names.push_back("E-mail Address");
    names.push_back("E-mail Type");
    names.push_back("E-mail Display Name");
    while (names.size() < 90)
        names.push_back("Home Detail " + std::to_string(names.size()));
    auto quotedLine = [](const std::vector<std::string>& fields) {
        std::string line;
        for (size_t i = 0; i < fields.size(); ++i)
            line += (i ? ",\"" : "\"") + fields[i] + "\"";
        return line + "\r\n";
    };
    std::string list = quotedLine(names);
    ASSERT_GT(list.size(), 1200u);
    for (const char* pszWho : { "ann", "bob" }) {
        std::vector<std::string> fields(90, std::string(8, 'x'));
        fields[1] = pszWho;
        fields[8] = "1 Long Street, \"Suite\" " + std::string(400, 's');
        fields[56] = std::string(pszWho) + "@example.com";
        fields[57] = "SMTP";
        fields[58] = std::string(pszWho) + " (" + pszWho + "@example.com)";
        std::string line = quotedLine(fields);
        ASSERT_GT(line.size(), 511u);
        list += line;
    }
    WriteList(list);
    m_boxes->Answer(IDYES);   // two columns could hold the address: the user confirms "E-mail Address"
    m_boxes->Answer(IDYES);   // and sends the message's [[Name]], no column of this list, as it stands
    RunJob();
    ExpectEndedWithDelivered({ "ann@example.com", "bob@example.com" });
    EXPECT_NE(CurrentLog().find("\t\tAddress Column: E-mail Address\r\n"), std::string::npos);
    EXPECT_EQ(SentList(), list);
}

// HTML as a reader sees it: numeric character references as their characters.
std::string HtmlShown(const std::string& html)
{
    std::string shown;
    for (size_t i = 0; i < html.size(); ++i) {
        size_t end = html.compare(i, 2, "&#") == 0 ? html.find(';', i) : std::string::npos;
        if (end == std::string::npos || end - i > 10) {
            shown += html[i];
            continue;
        }
        unsigned long uChar = strtoul(html.substr(i + 2, end - i - 2).c_str(), NULL, 10);
        char szUtf8[4];
        shown.append(szUtf8, PutUtf8(szUtf8, (unsigned)uChar));
        i = end;
    }
    return shown;
}

struct CharacterCase {
    const char* pszName;
    bool bUtf16;
    const char* pszHtml;   // NULL: a plain message
};

class EveryCharacterTest : public HostileListTest, public ::testing::WithParamInterface<CharacterCase> {};

// Names beyond the ANSI code page (1252 here) arrive exactly in the subject
// and in the plain or HTML body, whatever charset the HTML declares.
TEST_P(EveryCharacterTest, ArrivesExactlyInSubjectAndBody)
{
    const std::vector<std::string> names = { "Jos\xC3\xA9", "Zo\xC3\xAB", "\xC5\x81ukasz", "\xCE\x95\xCE\xBB\xCE\xAD\xCE\xBD\xCE\xB7",
                                             "\xE6\x97\xA5\xE6\x9C\xAC", "\xE2\x82\xAC", "Smile \xF0\x9F\x98\x80" };
    std::string list = "Name,Email\r\n";
    std::vector<std::string> addresses;
    for (size_t i = 0; i < names.size(); ++i) {
        addresses.push_back("p" + std::to_string(i) + "@example.com");
        list += names[i] + "," + addresses.back() + "\r\n";
    }
    WriteList(GetParam().bUtf16 ? Utf16LeWithMark(list) : list);
    if (GetParam().pszHtml)
        ComposeHtml("Hello [[Name]]", "Dear [[Name]],", GetParam().pszHtml);
    else
        ComposePlain("Hello [[Name]]", "Dear [[Name]],");
    RunJob();
    ExpectEndedWithDelivered(addresses);
    std::vector<DeliveredView> views = Delivered();
    ASSERT_EQ(views.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(views[i].subject, "Hello " + names[i]);
        if (GetParam().pszHtml)
            EXPECT_NE(HtmlShown(views[i].body).find("<p>Dear " + names[i] + "</p>"), std::string::npos)
                << views[i].body;
        else
            EXPECT_EQ(views[i].body.substr(0, 7 + names[i].size()), "Dear " + names[i] + ",");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, EveryCharacterTest,
    ::testing::Values(
        CharacterCase{ "Utf8ListPlain", false, NULL }, CharacterCase{ "Utf16ListPlain", true, NULL },
        CharacterCase{ "Utf8ListHtmlUtf8", false,
                       "<html><head><meta charset=\"utf-8\"></head><body><p>Dear [[Name]]</p></body></html>" },
        CharacterCase{ "Utf16ListHtml1252", true,
                       "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\">"
                       "</head><body><p>Dear [[Name]]</p> caf\xE9</body></html>" },
        CharacterCase{ "Utf8ListHtmlNoCharset", false, "<html><body><p>Dear [[Name]]</p></body></html>" },
        CharacterCase{ "Utf8ListHtml1251", false,
                       "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1251\">"
                       "</head><body><p>Dear [[Name]]</p> \xC6</body></html>" }),
    [](const ::testing::TestParamInfo<CharacterCase>& info) { return std::string(info.param.pszName); });

}  // namespace
