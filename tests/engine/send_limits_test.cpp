#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/send_limits.h"
#include "tests/support/test_files.h"

namespace {

const LimitTime kStart = 13400000000000ULL;   // a moment in 2025, in ms since 1601
const LimitTime kSecond = 1000;

// "2026-12-09 16:40:05.123 1" lines for copies at kStart + each offset.
std::string RecordOf(const std::vector<std::pair<LimitTime, int>>& copies, const char* pszHeader = "Lettercast sent times 1")
{
    SentTimes times;
    std::string text = std::string(pszHeader) + "\n";
    for (const auto& copy : copies) {
        FILETIME ft;
        ULARGE_INTEGER value;
        value.QuadPart = (kStart + copy.first) * 10000;
        ft.dwLowDateTime = value.LowPart;
        ft.dwHighDateTime = value.HighPart;
        SYSTEMTIME st;
        FileTimeToSystemTime(&ft, &st);
        char szLine[64];
        snprintf(szLine, sizeof(szLine), "%04u-%02u-%02u %02u:%02u:%02u.%03u %d\n", st.wYear, st.wMonth, st.wDay,
                 st.wHour, st.wMinute, st.wSecond, st.wMilliseconds, copy.second);
        text += szLine;
    }
    return text;
}

class SendLimitsTest : public ::testing::Test {
protected:
    void SetUp() override { m_path = m_folder.File("SentTimes.dat"); }

    TempFolder m_folder;
    std::string m_path;
};

// When the next copy may go, for copies already sent at offsets from kStart.
TEST_F(SendLimitsTest, TheNextCopyWaitsUntilEachLimitHasRoom)
{
    struct Case {
        const char* pszWhat;
        std::vector<std::pair<LimitTime, int>> sent;   // offset, recipients
        LimitTime tNow;                                // offset
        int nRecipients;
        LimitValues limits;
        LimitTime tExpected;                           // offset
    };
    const LimitTime kDay = LC_LIMIT_DAY_MS;
    const Case cases[] = {
        { "no limit", { { 0, 1 }, { 1, 1 } }, 2, 1, { 0, 0 }, 2 },
        { "room in the minute", { { 0, 1 } }, 10 * kSecond, 1, { 2, 0 }, 10 * kSecond },
        { "a full minute waits for its oldest", { { 0, 1 }, { 5 * kSecond, 1 } }, 10 * kSecond, 1, { 2, 0 },
          60 * kSecond },
        { "the second oldest when three are in it", { { 0, 1 }, { 5 * kSecond, 1 }, { 7 * kSecond, 1 } },
          10 * kSecond, 1, { 2, 0 }, 65 * kSecond },
        { "a copy out of the minute counts no more", { { 0, 1 }, { 61 * kSecond, 1 } }, 62 * kSecond, 1, { 2, 0 },
          62 * kSecond },
        { "room in the day", { { 0, 2 } }, kSecond, 1, { 0, 3 }, kSecond },
        { "a full day waits 24 hours from its oldest", { { 0, 1 }, { kSecond, 1 }, { 2 * kSecond, 1 } },
          3 * kSecond, 1, { 0, 3 }, kDay },
        { "recipients count, not copies", { { 0, 2 }, { kSecond, 2 } }, 2 * kSecond, 2, { 0, 5 }, kDay },
        { "as many go as must to make room", { { 0, 1 }, { kSecond, 1 }, { 2 * kSecond, 3 } }, 3 * kSecond, 3,
          { 0, 5 }, 2 * kSecond + kDay },
        { "a copy bigger than the limit waits for an empty day", { { 0, 1 }, { kSecond, 1 } }, 2 * kSecond, 9,
          { 0, 5 }, kSecond + kDay },
        { "the later of both limits", { { 0, 1 }, { kSecond, 1 } }, 2 * kSecond, 1, { 1, 2 }, kDay },
        { "nothing sent", {}, 0, 1, { 1, 1 }, 0 },
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteWholeFile(m_path, RecordOf(c.sent)));
        SentTimes times;
        times.Load(m_path.c_str(), kStart + c.tNow);
        EXPECT_EQ(times.State(), SentTimesRead) << c.pszWhat;
        EXPECT_EQ(times.NextAllowed(kStart + c.tNow, c.nRecipients, c.limits), kStart + c.tExpected) << c.pszWhat;
    }
}

// A whole job of 7 copies at 2 a minute, 2 s a copy: no minute holds more
// than 2, and the estimate is when the last one goes.
TEST_F(SendLimitsTest, AJobAtTwoAMinuteNeverHasThreeInOneMinute)
{
    SentTimes times;
    times.Load(m_path.c_str(), kStart);
    LimitValues limits = { 2, 0 };
    LimitTime tEstimate = times.FinishTime(kStart, 7, 1, 2000, 0, limits);
    std::vector<LimitTime> sent;
    LimitTime t = kStart;
    for (int i = 0; i < 7; ++i) {
        t = times.NextAllowed(t, 1, limits) + 2000;
        times.Add(t, 1);
        sent.push_back(t);
    }
    for (size_t i = 2; i < sent.size(); ++i)
        EXPECT_GE(sent[i] - sent[i - 2], LC_LIMIT_MINUTE_MS) << "copy " << i + 1;
    EXPECT_EQ(tEstimate, sent.back());
    EXPECT_EQ(times.MessagesSince(kStart), 7);
}

// The record as a crash, an old day or a stranger's hand may leave it.
TEST_F(SendLimitsTest, TheRecordIsReadForWhatItHolds)
{
    const LimitTime kDay = LC_LIMIT_DAY_MS;
    std::string whole = RecordOf({ { 0, 1 }, { kSecond, 2 } });
    struct Case {
        const char* pszWhat;
        bool bWrite;
        std::string text;
        SentTimesState state;
        int nBadLine;
        int nMessages;
        long long llRecipients;
    };
    const Case cases[] = {
        { "missing", false, "", SentTimesMissing, 0, 0, 0 },
        { "whole", true, whole, SentTimesRead, 0, 2, 3 },
        { "with CR LF line ends", true, "Lettercast sent times 1\r\n" + whole.substr(whole.find('\n') + 1), SentTimesRead,
          0, 2, 3 },
        { "a last line cut short", true, whole + "2025-01-01 10:0", SentTimesCutShort, 4, 2, 3 },
        { "a damaged line", true, whole + "nonsense\n" + RecordOf({ { 2 * kSecond, 1 } }).substr(24),
          SentTimesDamaged, 4, 0, 0 },
        { "another file's header", true, RecordOf({ { 0, 1 } }, "Some other file"), SentTimesDamaged, 1, 0, 0 },
        { "empty", true, "", SentTimesDamaged, 0, 0, 0 },
        { "copies older than a day are dropped", true, RecordOf({ { 0, 1 }, { kDay, 4 } }), SentTimesRead, 0, 1, 4 },
    };
    for (const Case& c : cases) {
        DeleteFileA(m_path.c_str());
        if (c.bWrite) {
            ASSERT_TRUE(WriteWholeFile(m_path, c.text));
        }
        LimitTime tNow = kStart + kDay + kSecond / 2;
        if (std::string(c.pszWhat) != "copies older than a day are dropped")
            tNow = kStart + 10 * kSecond;
        SentTimes times;
        times.Load(m_path.c_str(), tNow);
        EXPECT_EQ(times.State(), c.state) << c.pszWhat;
        EXPECT_EQ(times.BadLine(), c.nBadLine) << c.pszWhat;
        EXPECT_EQ(times.MessagesSince(tNow - kDay), c.nMessages) << c.pszWhat;
        EXPECT_EQ(times.RecipientsSince(tNow - kDay), c.llRecipients) << c.pszWhat;

        // What is kept is written back whole, and a copy added after it is
        // read with it by the next job.
        EXPECT_TRUE(times.Add(tNow, 5)) << c.pszWhat;
        SentTimes next;
        next.Load(m_path.c_str(), tNow);
        EXPECT_EQ(next.State(), SentTimesRead) << c.pszWhat;
        EXPECT_EQ(next.MessagesSince(tNow - kDay), c.nMessages + 1) << c.pszWhat;
        EXPECT_EQ(next.RecipientsSince(tNow - kDay), c.llRecipients + 5) << c.pszWhat;
        EXPECT_FALSE(FileExists(m_path + ".new")) << c.pszWhat;
    }
}

TEST_F(SendLimitsTest, WaitsAreToldInLocalTime)
{
    SYSTEMTIME stLocal = { 2026, 12, 3, 9, 9, 5, 7, 0 };
    SYSTEMTIME stUtc;
    ASSERT_TRUE(TzSpecificLocalTimeToSystemTime(NULL, &stLocal, &stUtc));
    FILETIME ft;
    SystemTimeToFileTime(&stUtc, &ft);
    LimitTime tNow = LimitTimeOfFileTime(ft);
    const LimitTime kHour = 3600 * kSecond;
    EXPECT_EQ(LocalTimeText(tNow + kHour, tNow, false), "10:05");
    EXPECT_EQ(LocalTimeText(tNow + 30 * kSecond, tNow, true), "09:05:37");
    EXPECT_EQ(LocalTimeText(tNow + 24 * kHour, tNow, false), "09:05 tomorrow");
    EXPECT_EQ(LocalTimeText(tNow + 72 * kHour, tNow, false), "09:05 on 12/12/2026");
}

}  // namespace
