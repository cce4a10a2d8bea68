#include <windows.h>

#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "engine/job_progress.h"
#include "tests/support/test_files.h"

namespace {

// Stands in for the main dialog: posted commands change the job state the way
// its Pause, Resume and Cancel buttons do.
enum {
    WM_TEST_PAUSE = WM_APP + 1,     // pause, and resume after wParam ms
    WM_TEST_CANCEL = WM_APP + 2,
};

const UINT_PTR kResumeTimer = 7;
int gnDispatched = 0;

LRESULT CALLBACK DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_TEST_PAUSE:
        ++gnDispatched;
        JobProgress.jobState = JobPaused;
        SetTimer(hWnd, kResumeTimer, (UINT)wParam, NULL);
        return 0;
    case WM_TEST_CANCEL:
        ++gnDispatched;
        JobProgress.jobState = JobIdle;
        return 0;
    case WM_TIMER:
        KillTimer(hWnd, wParam);
        JobProgress.jobState = JobRunning;
        return 0;
    }
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

void CALLBACK CancelTimerProc(HWND, UINT, UINT_PTR idTimer, DWORD)
{
    KillTimer(NULL, idTimer);
    JobProgress.jobState = JobIdle;
}

class JobProgressTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DialogProc;
        wc.hInstance = GetModuleHandleA(NULL);
        wc.lpszClassName = "LettercastTestDialog";
        RegisterClassA(&wc);
        m_hWnd = CreateWindowA("LettercastTestDialog", "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, wc.hInstance, NULL);
        ASSERT_TRUE(m_hWnd != NULL);
        JobProgress.jobState = JobRunning;
        gnDispatched = 0;
        m_logPath = m_folder.Path() + "\\CurrentJob.txt";
    }
    void TearDown() override { DestroyWindow(m_hWnd); }

    TempFolder m_folder;
    HWND m_hWnd = NULL;
    std::string m_logPath;
};

TEST_F(JobProgressTest, StatusCarriesTheCounterAndTheShareDone)
{
    JobProgress.percentDone = 12.5;
    JobProgress.progressPos = 12;
    SetJobStatus("Creating Message", 3, 8);
    EXPECT_STREQ(JobProgress.statusText, "3 of 8: Creating Message");
    EXPECT_DOUBLE_EQ(JobProgress.percentDone, 25.0);
    EXPECT_EQ(JobProgress.progressPos, 25);

    SetJobStatus("Sending Message", 2, 3);
    EXPECT_DOUBLE_EQ(JobProgress.percentDone, 100.0 / 3);
    EXPECT_EQ(JobProgress.progressPos, 33);

    // Without a total the share done is left as it was.
    SetJobStatus("Issuing a Send/Receive", 0, 0);
    EXPECT_STREQ(JobProgress.statusText, "0 of 0: Issuing a Send/Receive");
    EXPECT_EQ(JobProgress.progressPos, 33);

    SetJobPhase("Opening Logs");
    EXPECT_STREQ(JobProgress.statusText, "Opening Logs");
    EXPECT_EQ(JobProgress.progressPos, 33);
}

TEST_F(JobProgressTest, StatusTextIsCutToItsBuffer)
{
    std::string longText(700, 'x');
    SetJobStatus(longText.c_str(), 1, 2);
    EXPECT_EQ(strlen(JobProgress.statusText), (size_t)LC_STATUS_CAPACITY - 1);
    EXPECT_EQ(std::string(JobProgress.statusText, 8), "1 of 2: ");
}

TEST_F(JobProgressTest, RunTimeGrowsWithTheTickCountButNotAcrossAWrap)
{
    DWORD dwRunTime = 1000;
    DWORD dwLastTick = GetTickCount() - 250;
    AccumulateRunTime(&dwLastTick, &dwRunTime);
    EXPECT_GE(dwRunTime, 1250u);
    EXPECT_LT(dwRunTime, 1250u + 1000u);
    EXPECT_LE(GetTickCount() - dwLastTick, 1000u);

    // A last tick "in the future" is what a wrapped counter looks like.
    dwRunTime = 500;
    dwLastTick = GetTickCount() + 100000;
    AccumulateRunTime(&dwLastTick, &dwRunTime);
    EXPECT_EQ(dwRunTime, 500u);
    EXPECT_LE(GetTickCount() - dwLastTick, 1000u);
}

TEST_F(JobProgressTest, RunningJobDispatchesPendingMessagesAndGoesOn)
{
    PostMessageA(m_hWnd, WM_NULL, 0, 0);
    FILE* pLog = fopen(m_logPath.c_str(), "w");
    EXPECT_TRUE(PumpAndCheckJob(pLog));
    fclose(pLog);
    EXPECT_EQ(ReadWholeFile(m_logPath), "");
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE));
}

TEST_F(JobProgressTest, PausedJobStaysInsideUntilResumed)
{
    PostMessageA(m_hWnd, WM_TEST_PAUSE, 400, 0);
    FILE* pLog = fopen(m_logPath.c_str(), "w");
    DWORD dwStart = GetTickCount();
    EXPECT_TRUE(PumpAndCheckJob(pLog));
    DWORD dwElapsed = GetTickCount() - dwStart;
    fclose(pLog);
    EXPECT_EQ(gnDispatched, 1);
    EXPECT_GE(dwElapsed, 350u);
    EXPECT_EQ(JobProgress.jobState, JobRunning);
    EXPECT_EQ(ReadWholeFile(m_logPath), "");
}

TEST_F(JobProgressTest, CancelStopsAndLogsIt)
{
    PostMessageA(m_hWnd, WM_TEST_CANCEL, 0, 0);
    FILE* pLog = fopen(m_logPath.c_str(), "w");
    EXPECT_FALSE(PumpAndCheckJob(pLog));
    fclose(pLog);
    EXPECT_EQ(ReadWholeFile(m_logPath), "Job Stopped\r\n");
}

TEST_F(JobProgressTest, CancelWhilePausedStopsAtTheNextStep)
{
    // Paused for far longer than the test waits; the cancel posted by a
    // timer in between must end the wait.
    PostMessageA(m_hWnd, WM_TEST_PAUSE, 60000, 0);
    SetTimer(NULL, 0, 300, CancelTimerProc);
    FILE* pLog = fopen(m_logPath.c_str(), "w");
    DWORD dwStart = GetTickCount();
    EXPECT_FALSE(PumpAndCheckJob(pLog));
    DWORD dwElapsed = GetTickCount() - dwStart;
    fclose(pLog);
    EXPECT_LT(dwElapsed, 5000u);
    EXPECT_EQ(ReadWholeFile(m_logPath), "Job Stopped\r\n");
}

}  // namespace
