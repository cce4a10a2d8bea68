#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "logs/job_log.h"
#include "mailing/list_reader.h"
#include "settings/data_paths.h"
#include "settings/settings_store.h"
#include "tests/support/test_files.h"

namespace {

SYSTEMTIME At(int nYear, int nMonth, int nDay, int nHour, int nMinute, int nSecond)
{
    SYSTEMTIME time = {};
    time.wYear = (WORD)nYear;
    time.wMonth = (WORD)nMonth;
    time.wDay = (WORD)nDay;
    time.wHour = (WORD)nHour;
    time.wMinute = (WORD)nMinute;
    time.wSecond = (WORD)nSecond;
    return time;
}

// Writes through a text-mode stream, as the engine does, and reads the bytes
// that reached the disk.
class JobLogTest : public testing::Test {
protected:
    JobLogTest()
    {
        ghInstance = GetModuleHandleA(NULL);   // carries the version resource
        JobOptions = BuiltInJobOptions();
        strcpy(JobOptions.ToList, "C:\\Lists\\members.csv");
        ListDelimiter = ListDelimiterComma;
        m_path = m_folder.File("CurrentJob.txt");
        m_pFile = fopen(m_path.c_str(), "w");
    }
    ~JobLogTest()
    {
        if (m_pFile)
            fclose(m_pFile);
    }

    std::string Written()
    {
        fclose(m_pFile);
        m_pFile = NULL;
        return ReadWholeFile(m_path);
    }

    TempFolder m_folder;
    std::string m_path;
    FILE* m_pFile;
};

TEST_F(JobLogTest, StartBlockBytes)
{
    JobOptions.Pause = 5;
    JobOptions.DoSendRecv = 1;
    JobOptions.SendRecvCount = 100;
    JobOptions.SaveOrig = 0;
    SYSTEMTIME time = At(2026, 3, 7, 9, 5, 7);
    WriteJobStartAt(m_pFile, "Spring meeting, [[First Name]]", 42, &time, "Work\r\nEmail");

    EXPECT_EQ(Written(),
              "Job Started: (3/7/2026 9:05.07)\r\n"
              "\tLettercast version: 4.3\r\n"
              "\tSubject: Spring meeting, [[First Name]]\r\n"
              "\tMailing List: C:\\Lists\\members.csv\r\n"
              "\t\tDelimiter: Comma\r\n"
              "\t\tEmails In File: 42\r\n"
              "\t\tAddress Column: Work  Email\r\n"
              "\tOptions:\r\n"
              "\t\tPause: 5\r\n"
              "\t\tSend/Receive every 100 messages\r\n"
              "\t\tSave Original: 0\r\n");
}

TEST_F(JobLogTest, StartBlockWithSendReceiveOffAndOtherDelimiters)
{
    JobOptions.DoSendRecv = 0;
    const struct { int nDelimiter; const char* pszName; } cases[] = {
        { ListDelimiterTab, "Tab" }, { ListDelimiterUnknown, "Unknown" }, { 7, "Unknown" },
    };
    SYSTEMTIME time = At(2026, 12, 31, 23, 59, 0);
    for (const auto& c : cases) {
        ListDelimiter = c.nDelimiter;
        WriteJobStartAt(m_pFile, "", 0, &time);
    }
    std::string text = Written();
    EXPECT_NE(text.find("Job Started: (12/31/2026 23:59.00)\r\n"), std::string::npos);
    EXPECT_NE(text.find("\t\tPause: 0\r\n\t\tSend/Receive off\r\n\t\tSave Original: 1\r\n"), std::string::npos);
    EXPECT_NE(text.find("\t\tDelimiter: Tab\r\n"), std::string::npos);
    size_t nUnknown = 0;
    for (size_t at = text.find("\t\tDelimiter: Unknown\r\n"); at != std::string::npos;
         at = text.find("\t\tDelimiter: Unknown\r\n", at + 1))
        ++nUnknown;
    EXPECT_EQ(nUnknown, 2u);
}

TEST_F(JobLogTest, SendReceiveIsLoggedOnForAnyNonZeroValue)
{
    JobOptions.DoSendRecv = 7;   // logged as on, though only 1 makes the engine run it
    JobOptions.SendRecvCount = 3;
    SYSTEMTIME time = At(2026, 1, 2, 0, 0, 9);
    WriteJobStartAt(m_pFile, "s", 1, &time);
    EXPECT_NE(Written().find("\t\tSend/Receive every 3 messages\r\n"), std::string::npos);
}

TEST_F(JobLogTest, EndBlockBytesForBothResults)
{
    SYSTEMTIME time = At(2026, 3, 7, 10, 0, 59);
    WriteJobEndAt(m_pFile, true, 42, &time);
    WriteJobEndAt(m_pFile, false, 0, &time);
    EXPECT_EQ(Written(),
              "\tResult: Completed Successfully\r\n"
              "\tE-Mails Sent: 42\r\n"
              "Job Ended : (3/7/2026 10:00.59)\r\n"
              "\tResult: Incomplete (See Current Job Log)\r\n"
              "\tE-Mails Sent: 0\r\n"
              "Job Ended : (3/7/2026 10:00.59)\r\n");
}

TEST_F(JobLogTest, LinesBetweenTheBlocks)
{
    SYSTEMTIME time = At(2026, 3, 7, 9, 5, 7);
    LogMessageSentAt(m_pFile, 1, "jane@example.com", &time);
    LogMessageSentAt(m_pFile, 2, "x@y.z\n(9:05.08) # 3, To: mallory@y.z", &time);
    LogMessageSentAt(m_pFile, 3, "ann@example.com", &time, 1);
    LogMessageSentAt(m_pFile, 4, "bob@example.com", &time, 2);
    LogMessageSentAt(m_pFile, 5, "cara@example.com", &time, 1, 2, 0);
    LogMessageSentAt(m_pFile, 6, "dan@example.com", &time, 0, 0, 1);
    LogCopyAddressColumn(m_pFile, "Reply-To", "Reply\r\nTo");
    LogSender(m_pFile, "work@example.com");
    LogRecordSkipped(m_pFile, 12, "the address holds no @", "Ann\r\nat home");
    LogRecordSkipped(m_pFile, 13, "too few fields to reach the address column", "");
    LogMergeError(m_pFile);
    LogJobStopped(m_pFile);
    LogComError(m_pFile, (long)0x80004005, "Outlook", "The operation failed.", "Copying the message");
    LogOriginalFailure(m_pFile, "close", -2147467259L);
    LogOriginalError(m_pFile, "delete");
    EXPECT_EQ(Written(),
              "(9:05.07) # 1, To: jane@example.com. Sent Successfully\r\n"
              "(9:05.07) # 2, To: x@y.z (9:05.08) # 3, To: mallory@y.z. Sent Successfully\r\n"
              "(9:05.07) # 3, To: ann@example.com. Sent Successfully (1 attachment)\r\n"
              "(9:05.07) # 4, To: bob@example.com. Sent Successfully (2 attachments)\r\n"
              "(9:05.07) # 5, To: cara@example.com. Sent Successfully (Cc: 2, Bcc: 0) (1 attachment)\r\n"
              "(9:05.07) # 6, To: dan@example.com. Sent Successfully (Cc: 0, Bcc: 1)\r\n"
              "\tReply-To: column Reply  To\r\n"
              "\tFrom: work@example.com\r\n"
              "Skipped line 12 of the mailing list: the address holds no @: Ann  at home\r\n"
              "Skipped line 13 of the mailing list: too few fields to reach the address column\r\n"
              "Mail merge error\r\n"
              "Job Stopped\r\n"
              "***** Exception 0x80004005 from Outlook:\r\n"
              "\tError Desc: The operation failed.\r\n"
              "\tLocation: Copying the message\r\n"
              "Failed to close original message. Return code: -2147467259\r\n"
              "Error attempting to delete original message.\r\n");
}

TEST_F(JobLogTest, NotSentLineHoldsTheTimeTheNumberTheAddressOnOneLineAndTheReason)
{
    LogMessageNotSent(m_pFile, 2, "eve@x.y\r\n(9:00.00) # 1, To: a@b.c", "the submission failed (0x80004005)");
    std::string text = Written();
    std::regex line("^\\(\\d{1,2}:\\d{2}\\.\\d{2}\\) # 2, To: eve@x\\.y  \\(9:00\\.00\\) # 1, To: a@b\\.c\\. Not Sent: "
                    "the submission failed \\(0x80004005\\)\r\n$");
    EXPECT_TRUE(std::regex_match(text, line)) << text;
}

TEST_F(JobLogTest, LinesReachTheDiskAsTheyAreWritten)
{
    SYSTEMTIME time = At(2026, 3, 7, 9, 5, 7);
    LogMessageSentAt(m_pFile, 3, "x@y.z", &time);
    // Still open: what is on disk already holds the line.
    EXPECT_EQ(ReadWholeFile(m_path), "(9:05.07) # 3, To: x@y.z. Sent Successfully\r\n");
}

TEST_F(JobLogTest, StartBlockUsesTheCurrentTime)
{
    SYSTEMTIME before;
    GetLocalTime(&before);
    WriteJobStart(m_pFile, "s", 0);
    std::string text = Written();
    char szYear[16];
    snprintf(szYear, sizeof(szYear), "/%d ", before.wYear);
    EXPECT_EQ(text.rfind("Job Started: (", 0), 0u);
    EXPECT_NE(text.find(szYear), std::string::npos);
}

TEST_F(JobLogTest, SentListIsAMailingListThatKeepsTheLastRecordsLineEnd)
{
    SentListFile sent;
    StartSentList(m_pFile, ListEncodingAnsi, &sent);
    WriteSentListRecord(&sent, "Name,E-Mail\n");
    WriteSentListRecord(&sent, "\"Doe, Jane\",jane@example.com\n");
    WriteSentListRecord(&sent, "Bob,<bob@example.com>");
    EXPECT_EQ(Written(), "Name,E-Mail\r\n\"Doe, Jane\",jane@example.com\r\nBob,<bob@example.com>");
}

// The recipient in flight is written again for every recipient: each time the
// file holds exactly the new records, however long the ones before were.
TEST_F(JobLogTest, ARewrittenSentListHoldsOnlyItsNewRecords)
{
    std::string flight = m_folder.File("flight.txt");
    const char* ppszLong[] = { "Name,E-Mail\n", "\"Doe, Jane Elizabeth\",jane.elizabeth.doe@example.com\n" };
    const char* ppszShort[] = { "Name,E-Mail\n", "Bob,bob@example.com" };
    ASSERT_TRUE(RewriteSentList(flight.c_str(), ListEncodingUtf8Mark, ppszLong, 2));
    ASSERT_TRUE(RewriteSentList(flight.c_str(), ListEncodingUtf8Mark, ppszShort, 2));
    EXPECT_EQ(ReadWholeFile(flight), "\xEF\xBB\xBFName,E-Mail\r\nBob,bob@example.com");
    const char* ppszWide[] = { "N\n", "b@example.com\n" };
    ASSERT_TRUE(RewriteSentList(flight.c_str(), ListEncodingUtf16Le, ppszWide, 2));
    static const char kWide[] = "\xFF\xFEN\0\r\0\n\0b\0@\0e\0x\0a\0m\0p\0l\0e\0.\0c\0o\0m\0\r\0\n\0";
    EXPECT_EQ(ReadWholeFile(flight), std::string(kWide, sizeof(kWide) - 1));
    EXPECT_FALSE(RewriteSentList(m_folder.File("missing\\flight.txt").c_str(), ListEncodingUtf8Mark, ppszShort, 2));
}

}  // namespace
