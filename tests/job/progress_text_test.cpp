#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "job/progress_text.h"

namespace {

std::string Line(const char* pszStatus, int nSeconds, int nJobState)
{
    char szLine[LC_STATUS_LINE_CAPACITY];
    FormatStatusLine(pszStatus, nSeconds, nJobState, szLine, sizeof(szLine));
    return szLine;
}

// Memory as left by a rewrite of pszStatus with nSeconds at dwTick.
StatusDisplayMemory Shown(const char* pszStatus, int nSeconds, DWORD dwTick)
{
    StatusDisplayMemory memory;
    ResetStatusDisplay(&memory);
    char szLine[LC_STATUS_LINE_CAPACITY];
    EXPECT_TRUE(NextStatusLine(&memory, pszStatus, 0.0, 0, JobRunning, dwTick, szLine, sizeof(szLine)));
    memory.nLastSeconds = nSeconds;
    return memory;
}

TEST(RemainingTime, ScalesTheRunningTimeToTheWholeJob)
{
    // Ten messages, the fourth being worked on after a minute: 30 percent done.
    EXPECT_EQ(RemainingSeconds(30.0, 60000), 140);
    EXPECT_EQ(Line("4 of 10: Creating Message", 140, JobRunning),
              "4 of 10: Creating Message  (Remaining Time: 0:02:20)");
    // The fifth after a minute: 40 percent.
    EXPECT_EQ(RemainingSeconds(40.0, 60000), 90);
    EXPECT_EQ(Line("5 of 10: Sending Message", 90, JobPaused), "5 of 10: Sending Message  (Remaining Time: 0:01:30)");
    // Hours: 1 percent after a minute leaves 99 minutes.
    EXPECT_EQ(RemainingSeconds(1.0, 60000), 5940);
    EXPECT_EQ(Line("x", 5940, JobRunning), "x  (Remaining Time: 1:39:00)");
    EXPECT_EQ(Line("x", 3600 * 12 + 61, JobRunning), "x  (Remaining Time: 12:01:01)");
}

TEST(RemainingTime, TruncatesTowardZero)
{
    // 1.5 x 60999 - 60999 = 30499.5 ms.
    EXPECT_EQ(RemainingSeconds(40.0, 60999), 91);
    // 100 percent: nothing left.
    EXPECT_EQ(RemainingSeconds(100.0, 60000), 0);
    EXPECT_EQ(Line("done", 0, JobRunning), "done  (Remaining Time: 0:00:00)");
}

TEST(RemainingTime, NoneBelowATenthOfAPercent)
{
    EXPECT_EQ(RemainingSeconds(0.0, 60000), LC_NO_ESTIMATE);
    EXPECT_EQ(RemainingSeconds(0.09, 60000), LC_NO_ESTIMATE);
    EXPECT_NE(RemainingSeconds(0.1, 60000), LC_NO_ESTIMATE);
    EXPECT_EQ(Line("Reading Mailing List", LC_NO_ESTIMATE, JobRunning), "Reading Mailing List");

    StatusDisplayMemory memory;
    ResetStatusDisplay(&memory);
    char szLine[LC_STATUS_LINE_CAPACITY];
    ASSERT_TRUE(NextStatusLine(&memory, "1 of 10: Creating Message", 0.05, 60000, JobRunning, 5000, szLine,
                               sizeof(szLine)));
    EXPECT_STREQ(szLine, "1 of 10: Creating Message");
}

TEST(RemainingTime, HugeEstimatesStayPositive)
{
    EXPECT_EQ(RemainingSeconds(0.1, 0xFFFFFFFFu), INT_MAX);
}

// While the limits or a start time hold the job back, the engine's own
// estimate, less the time since it was taken; without one, the scaled
// running time as ever.
TEST(RemainingTime, TheEnginesEstimateStandsWhileTheJobWaits)
{
    struct Case {
        LONGLONG llRemainingMs;
        DWORD dwEstimateTick;
        DWORD dwNow;
        int nSeconds;
    };
    const Case cases[] = {
        { -1, 0, 50000, 140 },                     // none: 30 percent after 60 s
        { -1, 1000, 1000, 140 },
        { 90000, 1000, 1000, 90 },
        { 90000, 1000, 31000, 60 },
        { 90000, 1000, 31001, 59 },                // truncated toward zero
        { 3723000, 500, 500, 3723 },               // 1:02:03
        { 90000, 0xFFFFF000u, 0x00000FA0u, 81 },   // 8096 ms later, across the wrap
        { 5000, 1000, 10000, 0 },                  // the estimate has run out
        { 0, 1000, 1000, 0 },
        { 0x7FFFFFFFFFFFLL, 0, 0, INT_MAX },       // beyond any int
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.llRemainingMs) + " ms at " + std::to_string(c.dwEstimateTick) + ", now " +
                     std::to_string(c.dwNow));
        EXPECT_EQ(JobRemainingSeconds(30.0, 60000, c.llRemainingMs, c.dwEstimateTick, c.dwNow), c.nSeconds);
        if (c.llRemainingMs < 0)
            EXPECT_EQ(LimitedRemainingSeconds(c.llRemainingMs, c.dwEstimateTick, c.dwNow), LC_NO_ESTIMATE);
        else
            EXPECT_EQ(LimitedRemainingSeconds(c.llRemainingMs, c.dwEstimateTick, c.dwNow), c.nSeconds);
    }
    // Without an estimate of its own, below a tenth of a percent there is none.
    EXPECT_EQ(JobRemainingSeconds(0.05, 60000, -1, 0, 0), LC_NO_ESTIMATE);
    // With one, the share done does not matter.
    EXPECT_EQ(JobRemainingSeconds(0.0, 0, 120000, 0, 0), 120);

    StatusDisplayMemory memory;
    ResetStatusDisplay(&memory);
    char szLine[LC_STATUS_LINE_CAPACITY];
    int nSeconds = JobRemainingSeconds(0.0, 0, 3723000, 1000, 1000);
    ASSERT_TRUE(NextStatusLineWith(&memory, "31 of 100: Waiting", nSeconds, JobRunning, 5000,
                                   szLine, sizeof(szLine)));
    EXPECT_STREQ(szLine, "31 of 100: Waiting  (Remaining Time: 1:02:03)");
    EXPECT_EQ(memory.nLastSeconds, 3723);
    // The same rule for rewriting: 3 s later the line stands, 5 s later it moves.
    EXPECT_FALSE(NextStatusLineWith(&memory, "31 of 100: Waiting",
                                    JobRemainingSeconds(0.0, 0, 3723000, 1000, 4000), JobRunning, 8000, szLine,
                                    sizeof(szLine)));
    ASSERT_TRUE(NextStatusLineWith(&memory, "31 of 100: Waiting",
                                   JobRemainingSeconds(0.0, 0, 3723000, 1000, 6000), JobRunning, 10000, szLine,
                                   sizeof(szLine)));
    EXPECT_STREQ(szLine, "31 of 100: Waiting  (Remaining Time: 1:01:58)");
}

TEST(StatusLine, WithoutAJobTheTextStandsAlone)
{
    EXPECT_EQ(Line("Cancelling Gracefully...", 140, JobIdle), "Cancelling Gracefully...");
}

TEST(StatusLine, AChangedStatusIsRewrittenAtOnce)
{
    StatusDisplayMemory memory = Shown("1 of 10: Creating Message", 100, 10000);
    EXPECT_TRUE(StatusLineNeedsRewrite(&memory, "1 of 10: Sending Message", 100, 10100));
    EXPECT_TRUE(StatusLineNeedsRewrite(&memory, "1 of 10: Sending Message", LC_NO_ESTIMATE, 10001));
    EXPECT_FALSE(StatusLineNeedsRewrite(&memory, "1 of 10: Creating Message", 100, 10100));
}

TEST(StatusLine, ANewEstimateAloneNeedsFiveSecondsAndTwoThousandMilliseconds)
{
    StatusDisplayMemory memory = Shown("3 of 10: Pausing Between Mails", 100, 10000);
    const char* pszSame = "3 of 10: Pausing Between Mails";
    // Within 4 seconds: never, however long ago.
    EXPECT_FALSE(StatusLineNeedsRewrite(&memory, pszSame, 104, 60000));
    EXPECT_FALSE(StatusLineNeedsRewrite(&memory, pszSame, 96, 60000));
    // Moved by 5, in either direction, once 2000 ms have passed.
    EXPECT_FALSE(StatusLineNeedsRewrite(&memory, pszSame, 105, 11999));
    EXPECT_TRUE(StatusLineNeedsRewrite(&memory, pszSame, 105, 12000));
    EXPECT_TRUE(StatusLineNeedsRewrite(&memory, pszSame, 95, 12000));
    // No estimate now: the line stays.
    EXPECT_FALSE(StatusLineNeedsRewrite(&memory, pszSame, LC_NO_ESTIMATE, 60000));
}

TEST(StatusLine, TheFirstEstimateStillWaitsTwoThousandMilliseconds)
{
    StatusDisplayMemory memory = Shown("2 of 10: Creating Message", LC_NO_ESTIMATE, 10000);
    EXPECT_FALSE(StatusLineNeedsRewrite(&memory, "2 of 10: Creating Message", 1, 11999));
    EXPECT_TRUE(StatusLineNeedsRewrite(&memory, "2 of 10: Creating Message", 1, 12000));
}

TEST(StatusLine, TheIntervalHoldsAcrossTheTickCountsWrap)
{
    StatusDisplayMemory memory = Shown("x", 100, 0xFFFFFC00u);
    EXPECT_FALSE(StatusLineNeedsRewrite(&memory, "x", 200, 0x00000100u));   // 1280 ms later
    EXPECT_TRUE(StatusLineNeedsRewrite(&memory, "x", 200, 0x00000500u));    // 2304 ms later
}

TEST(StatusLine, ARewriteIsRememberedAndALeftLineIsNot)
{
    StatusDisplayMemory memory;
    ResetStatusDisplay(&memory);
    char szLine[LC_STATUS_LINE_CAPACITY] = "untouched";

    // 30 percent after 60 s: 140 s to go.
    ASSERT_TRUE(NextStatusLine(&memory, "4 of 10: Creating Message", 30.0, 60000, JobRunning, 50000, szLine,
                               sizeof(szLine)));
    EXPECT_STREQ(szLine, "4 of 10: Creating Message  (Remaining Time: 0:02:20)");
    EXPECT_STREQ(memory.szLastStatus, "4 of 10: Creating Message");
    EXPECT_EQ(memory.nLastSeconds, 140);
    EXPECT_EQ(memory.dwLastRewriteTick, 50000u);

    // 3 s later the estimate reads 143 (within 4): the line stays, the memory too.
    strcpy(szLine, "untouched");
    EXPECT_FALSE(NextStatusLine(&memory, "4 of 10: Creating Message", 30.0, 61286, JobRunning, 53000, szLine,
                                sizeof(szLine)));
    EXPECT_STREQ(szLine, "untouched");
    EXPECT_EQ(memory.nLastSeconds, 140);
    EXPECT_EQ(memory.dwLastRewriteTick, 50000u);

    // 40 percent: a new status, rewritten at once with its estimate.
    ASSERT_TRUE(NextStatusLine(&memory, "5 of 10: Creating Message", 40.0, 60000, JobRunning, 53100, szLine,
                               sizeof(szLine)));
    EXPECT_STREQ(szLine, "5 of 10: Creating Message  (Remaining Time: 0:01:30)");
    EXPECT_EQ(memory.nLastSeconds, 90);
    EXPECT_EQ(memory.dwLastRewriteTick, 53100u);
}

TEST(StatusLine, ResetForgetsWhatWasShown)
{
    StatusDisplayMemory memory = Shown("x", 100, 10000);
    ResetStatusDisplay(&memory);
    EXPECT_STREQ(memory.szLastStatus, "");
    EXPECT_EQ(memory.nLastSeconds, LC_NO_ESTIMATE);
    EXPECT_EQ(memory.dwLastRewriteTick, 0u);
    // The empty status after a reset counts as shown: nothing to rewrite.
    EXPECT_FALSE(StatusLineNeedsRewrite(&memory, "", LC_NO_ESTIMATE, 10000));
}

}  // namespace
