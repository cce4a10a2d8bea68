// Whole jobs over mailing lists that no careful user would write: each ends
// with its message or its skips, never a crash or a hang, and the logs name
// exactly the messages that went out.
#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "mailing/list_reader.h"
#include "settings/settings_store.h"
#include "tests/engine/engine_fixture.h"

namespace {

const char kNoAddressColumn[] =
    "\"E-Mail\" field could not be found in the mailing list.\nThis is a required field.\n"
    "See the online help for mailing lists.";

// The addresses of the lines "# n, To: <address>. Sent Successfully".
std::vector<std::string> SentLines(const std::string& log)
{
    std::vector<std::string> addresses;
    const std::string to = ", To: ", sent = ". Sent Successfully\r\n";
    for (size_t pos = log.find(sent); pos != std::string::npos; pos = log.find(sent, pos + 1)) {
        size_t start = log.rfind(to, pos);
        if (start == std::string::npos)
            break;
        addresses.push_back(log.substr(start + to.size(), pos - start - to.size()));
    }
    return addresses;
}

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

TEST_F(HostileListTest, HeaderOnlyCompletesWithNothingSent)
{
    WriteList("Name,Email\r\n");
    RunJob();
    ExpectEndedWithDelivered({});
    EXPECT_EQ(m_wJobDone, 1u);
    EXPECT_NE(CurrentLog().find("\tE-Mails Sent: 0\r\n"), std::string::npos);
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
    EXPECT_EQ(m_wJobDone, 1u);
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

TEST_F(HostileListTest, AnAddressFieldOf511IsRefusedByTheTransportAndTheUserAsked)
{
    // Only a last line without its line end holds a field this long. No
    // address is that long: the transport refuses the copy, cut to the 255
    // characters an address holds, and no other address gets it.
    std::string address = "c@" + std::string(509, 'x');
    WriteList("Email\na@example.com\n" + address);
    m_boxes->Answer(IDOK);
    m_boxes->Answer(IDNO);
    RunJob();
    ExpectEndedWithDelivered({ "a@example.com" });
    EXPECT_EQ(m_wJobDone, 0u);
    ASSERT_EQ(BoxTexts().size(), 2u);
    EXPECT_EQ(BoxTexts()[0], "Failed to submit message to: " + address.substr(0, 255));
    EXPECT_EQ(BoxTexts()[1], "Continue Sending Anyway?");
    EXPECT_NE(CurrentLog().find("\t\tEmails In File: 2\r\n"), std::string::npos);
}

TEST_F(HostileListTest, AnAddressFieldOf512EndsTheList)
{
    WriteList("Email\na@example.com\nc@" + std::string(510, 'x') + "\nd@example.com\n");
    m_boxes->Answer(IDYES);
    RunJob();
    ExpectEndedWithDelivered({ "a@example.com" });
}

TEST_F(HostileListTest, AQuoteLeftOpenSwallowsTheRestOfTheFile)
{
    WriteList("Name,Email\nA,a@example.com\n\"B,b@example.com\nC,c@example.com\n");
    RunJob();
    ExpectEndedWithDelivered({ "a@example.com" });
    EXPECT_EQ(m_wJobDone, 1u);
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
    RunJob();
    ExpectEndedWithDelivered({ "a@example.com" });
    ASSERT_EQ(Delivered().size(), 1u);
    EXPECT_EQ(Delivered()[0].subject, "Hello [[Name]]");
}

}  // namespace
