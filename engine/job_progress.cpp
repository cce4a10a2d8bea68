#include "engine/job_progress.h"

#include "logs/job_log.h"

JobProgressRecord JobProgress = { "Not Running", 0.0, 0, 0, 0, JobIdle, NULL, false, "", 0, 0, 0, 0, 0.0, -1, 0 };

void ResetJobReport()
{
    JobProgress.logsOpened = false;
    JobProgress.endReason[0] = '\0';
    JobProgress.skippedCount = 0;
    JobProgress.alreadySentCount = 0;
    JobProgress.notSentCount = 0;
    JobProgress.totalCount = 0;
    JobProgress.alreadySentPercent = 0.0;
    JobProgress.limitedRemainingMs = -1;
    JobProgress.limitedEstimateTick = 0;
}

void NoteJobEndReason(const char* pszText)
{
    if (JobProgress.logsOpened || pszText == NULL)
        return;
    snprintf(JobProgress.endReason, LC_STATUS_CAPACITY, "%s", pszText);
}

void SetJobStatus(const char* pszText, int n, int nTotal)
{
    n += JobProgress.alreadySentCount;
    snprintf(JobProgress.statusText, LC_STATUS_CAPACITY, "%d of %d: %s", n, nTotal, pszText);
    if (nTotal > 0) {
        JobProgress.alreadySentPercent = JobProgress.alreadySentCount * 100.0 / nTotal;
        JobProgress.percentDone = (n - 1) * 100.0 / nTotal;
        JobProgress.progressPos = (int)JobProgress.percentDone;
    }
}

double JobOwnPercentDone()
{
    double dBefore = JobProgress.alreadySentPercent;
    if (dBefore <= 0.0 || dBefore >= 100.0)
        return JobProgress.percentDone;
    return (JobProgress.percentDone - dBefore) * 100.0 / (100.0 - dBefore);
}

void SetJobPhase(const char* pszText)
{
    snprintf(JobProgress.statusText, LC_STATUS_CAPACITY, "%s", pszText);
}

void AccumulateRunTime(DWORD* pdwLastTick, DWORD* pdwRunTimeMs)
{
    DWORD dwNow = GetTickCount();
    if (dwNow >= *pdwLastTick)
        *pdwRunTimeMs += dwNow - *pdwLastTick;
    *pdwLastTick = GetTickCount();
}

static void DispatchPendingMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
        // A WM_QUIT belongs to the host's own loop further out.
        if (msg.message == WM_QUIT) {
            PostQuitMessage((int)msg.wParam);
            break;
        }
        // The dialog's own keys (Tab, Enter, Esc, its mnemonics) work during
        // a job as they do before it: this loop stands in for its own.
        HWND hDialog = JobProgress.dialogWnd;
        if (hDialog && IsWindow(hDialog) && IsDialogMessageA(hDialog, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void PausedStatus(const char* pszStatus, char* pszOut, size_t cchOut)
{
    // "n of total: " stays, so that the user sees where the job holds.
    int nNumber = 0, nTotal = 0, cchPrefix = 0;
    if (sscanf(pszStatus, "%d of %d: %n", &nNumber, &nTotal, &cchPrefix) == 2 && cchPrefix > 0)
        snprintf(pszOut, cchOut, "%.*sPaused", cchPrefix, pszStatus);
    else
        snprintf(pszOut, cchOut, "Paused");
}

bool PumpAndCheckJob(FILE* pLog)
{
    // The step's own text while the user holds the job, given back on resume.
    char szStepStatus[LC_STATUS_CAPACITY];
    bool bPausedShown = false;
    for (;;) {
        DispatchPendingMessages();
        if (JobProgress.jobState == JobRunning) {
            if (bPausedShown)
                snprintf(JobProgress.statusText, LC_STATUS_CAPACITY, "%s", szStepStatus);
            return true;
        }
        if (JobProgress.jobState == JobIdle) {
            if (pLog)
                LogJobStopped(pLog);
            return false;
        }
        if (!bPausedShown) {
            snprintf(szStepStatus, sizeof(szStepStatus), "%s", JobProgress.statusText);
            PausedStatus(szStepStatus, JobProgress.statusText, LC_STATUS_CAPACITY);
            bPausedShown = true;
        }
        Sleep(100);
    }
}
