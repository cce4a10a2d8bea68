#include "engine/job_waits.h"

#include <string>

#include "engine/job_progress.h"
#include "engine/message_send.h"
#include "engine/send_job_state.h"
#include "logs/job_log.h"
#include "settings/data_paths.h"
#include "settings/settings_store.h"

#define LC_WAIT_STEP_MS 100           // the dialog is answered at least this often
#define LC_ESTIMATE_PERIOD_MS 1000    // the remaining time is worked out again after this

namespace {

LimitValues CurrentLimits()
{
    LimitValues limits = { JobOptions.PerMinute, JobOptions.PerDay };
    return limits;
}

// Copies the job has still to make, the current one among them.
int CopiesLeft(const SendJobState* pState)
{
    int nLeft = pState->nTotal - JobProgress.alreadySentCount - JobProgress.sentCount - JobProgress.notSentCount;
    return nLeft > 0 ? nLeft : 0;
}

// The varied pause's own generator (xorshift), seeded once per job: nothing
// here is secret, the pauses only must not repeat from job to job.
unsigned NextRandom(SendJobState* pState)
{
    if (pState->uPauseRandom == 0) {
        LARGE_INTEGER counter;
        QueryPerformanceCounter(&counter);
        pState->uPauseRandom = (unsigned)counter.LowPart ^ GetTickCount() ^ (GetCurrentProcessId() << 16) ^ 0x9E3779B9u;
        if (pState->uPauseRandom == 0)
            pState->uPauseRandom = 1;
    }
    unsigned x = pState->uPauseRandom;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    pState->uPauseRandom = x;
    return x;
}

// A pause from dwLow to dwHigh ms. Each ten pauses take each tenth of the
// range once, in an order drawn anew, somewhere in it: every pause is as
// random as another, and the pauses of any ten messages average the pause
// set, so the job's pace is the one the user chose.
DWORD DrawPause(SendJobState* pState, DWORD dwLow, DWORD dwHigh)
{
    if (pState->nPauseStratum >= LC_PAUSE_STRATA) {
        for (int i = 0; i < LC_PAUSE_STRATA; ++i)
            pState->anPauseStrata[i] = i;
        for (int i = LC_PAUSE_STRATA - 1; i > 0; --i) {
            int j = (int)(NextRandom(pState) % (unsigned)(i + 1));
            int n = pState->anPauseStrata[i];
            pState->anPauseStrata[i] = pState->anPauseStrata[j];
            pState->anPauseStrata[j] = n;
        }
        pState->nPauseStratum = 0;
    }
    int nStratum = pState->anPauseStrata[pState->nPauseStratum++];
    double dWidth = (double)(dwHigh - dwLow) / LC_PAUSE_STRATA;
    double dWithin = (NextRandom(pState) % 100000) / 100000.0;
    return dwLow + (DWORD)((nStratum + dWithin) * dWidth);
}

// Sleeps one step of a wait that ends at the tick dwUntil (or, for the
// limits, at the next step) and dispatches the dialog's messages; false when
// the user stopped the job.
bool WaitStep(SendJobState* pState, DWORD dwStepMs)
{
    Sleep(dwStepMs < LC_WAIT_STEP_MS ? dwStepMs : LC_WAIT_STEP_MS);
    return PumpAndCheckJob(pState->pCurrentLog);
}

// The pause as every job without a varied pause has it: Pause seconds in
// steps of 100 ms after the previous message's work, counted as running time.
bool FixedPause(SendJobState* pState)
{
    int nSteps = JobOptions.Pause * 10;
    for (int i = 0; i < nSteps; ++i) {
        Sleep(100);
        AccumulateRunTime(&pState->dwLastTick, &JobProgress.runTimeMs);
        if (!PumpAndCheckJob(pState->pCurrentLog))
            return false;
        pState->dwLastTick = GetTickCount();
    }
    return true;
}

// The varied pause is the time between two submissions: drawn from the
// pause less and more the variation, and ended early by as long as the last
// copy took to make, so that the gap the recipients' servers see is the one
// drawn.
bool VariedPause(SendJobState* pState)
{
    int nVariation = JobOptions.PauseVariation < JobOptions.Pause ? JobOptions.PauseVariation : JobOptions.Pause;
    DWORD dwLow = (DWORD)(JobOptions.Pause - nVariation) * 1000;
    DWORD dwHigh = (DWORD)(JobOptions.Pause + nVariation) * 1000;
    // A margin inside the range: making a copy takes a little more or less
    // each time, and the gap must stay within the range all the same.
    DWORD dwMargin = (dwHigh - dwLow) / 20 < 100 ? (dwHigh - dwLow) / 20 : 100;
    DWORD dwGap = DrawPause(pState, dwLow + dwMargin, dwHigh - dwMargin);
    DWORD dwLead = pState->dwLastCopyMs < dwGap ? pState->dwLastCopyMs : dwGap;
    DWORD dwUntil = pState->dwLastSubmitTick + dwGap - dwLead;
    for (;;) {
        DWORD dwNow = GetTickCount();
        if ((LONG)(dwUntil - dwNow) <= 0)
            break;
        if (!WaitStep(pState, dwUntil - dwNow))
            return false;
    }
    pState->dwLastTick = GetTickCount();
    return true;
}

}  // namespace

bool SendingLimitsOn()
{
    return JobOptions.PerMinute > 0 || JobOptions.PerDay > 0;
}

void BeginSendingLimits(SendJobState* pState)
{
    LimitTime tNow = LimitClockNow();
    pState->sentTimes.Load(gszSentTimesPath, tNow);
    if (!pState->pCurrentLog || !SendingLimitsOn())
        return;
    SentTimesState state = pState->sentTimes.State();
    LogSentTimesRecord(pState->pCurrentLog, state == SentTimesMissing,
                       state == SentTimesDamaged ? pState->sentTimes.BadLine() : 0,
                       state == SentTimesCutShort ? pState->sentTimes.BadLine() : 0,
                       pState->sentTimes.MessagesSince(tNow - LC_LIMIT_DAY_MS),
                       pState->sentTimes.RecipientsSince(tNow - LC_LIMIT_DAY_MS));
}

bool WaitForStartTime(SendJobState* pState)
{
    LimitTime tNow = LimitClockNow();
    if (pState->tSendAt == 0 || pState->tSendAt <= tNow)
        return true;
    std::string text = "Waiting to start: the first message goes at " + LocalTimeText(pState->tSendAt, tNow, false);
    SetJobStatus(text.c_str(), JobProgress.sentCount + 1, pState->nTotal);
    if (pState->pCurrentLog)
        LogTimedText(pState->pCurrentLog, text.c_str());
    UpdateLimitedEstimate(pState, true);
    for (;;) {
        tNow = LimitClockNow();
        if (tNow >= pState->tSendAt)
            break;
        UpdateLimitedEstimate(pState, false);
        if (!WaitStep(pState, (DWORD)(pState->tSendAt - tNow)))
            return false;
    }
    pState->dwLastTick = GetTickCount();
    return true;
}

bool PauseBetweenMessages(SendJobState* pState)
{
    if (JobProgress.sentCount <= 0 || JobOptions.Pause <= 0)
        return true;
    SetJobStatus("Pausing Between Mails", JobProgress.sentCount + 1, pState->nTotal);
    if (JobOptions.PauseVariation > 0 && pState->bCopySubmitted)
        return VariedPause(pState);
    return FixedPause(pState);
}

bool WaitForSendingLimits(SendJobState* pState, int nRecipients)
{
    std::string shown;
    bool bLogged = false;
    for (;;) {
        // The options as they are now: a limit changed during the wait
        // takes effect at once.
        if (!SendingLimitsOn())
            break;
        LimitValues limits = CurrentLimits();
        LimitTime tNow = LimitClockNow();
        LimitTime tNext = pState->sentTimes.NextAllowed(tNow, nRecipients, limits);
        if (tNext <= tNow)
            break;
        LimitValues daily = { 0, limits.nPerDay };
        bool bDaily = limits.nPerDay > 0 && pState->sentTimes.NextAllowed(tNow, nRecipients, daily) >= tNext;
        std::string text = bDaily ? "Waiting for the daily limit: the next message goes at " + LocalTimeText(tNext, tNow, false)
                                  : "Waiting for the limit per minute: the next message goes at " +
                                        LocalTimeText(tNext, tNow, true);
        if (text != shown) {
            SetJobStatus(text.c_str(), JobProgress.sentCount + 1, pState->nTotal);
            shown = text;
        }
        // A wait of hours belongs in the log; the short waits of a limit per
        // minute would only fill it.
        if (bDaily && !bLogged && pState->pCurrentLog) {
            LogTimedText(pState->pCurrentLog, text.c_str());
            bLogged = true;
        }
        UpdateLimitedEstimate(pState, false);
        if (!WaitStep(pState, (DWORD)(tNext - tNow)))
            return false;
    }
    pState->dwLastTick = GetTickCount();
    pState->dwCopyStartTick = pState->dwLastTick;
    return true;
}

void NoteCopySubmitted(SendJobState* pState, int nRecipients)
{
    pState->sentTimes.Add(LimitClockNow(), nRecipients);
    pState->bCopySubmitted = true;
    pState->dwLastSubmitTick = GetTickCount();
    pState->dwLastCopyMs = pState->dwLastSubmitTick - pState->dwCopyStartTick;
}

void UpdateLimitedEstimate(SendJobState* pState, bool bNow)
{
    LimitTime tNow = LimitClockNow();
    bool bStartAhead = pState->tSendAt > tNow;
    if (!SendingLimitsOn() && !bStartAhead) {
        JobProgress.limitedRemainingMs = -1;
        return;
    }
    DWORD dwTick = GetTickCount();
    if (!bNow && pState->bEstimateMade && dwTick - pState->dwEstimateTick < LC_ESTIMATE_PERIOD_MS)
        return;
    pState->bEstimateMade = true;
    pState->dwEstimateTick = dwTick;
    // Each copy takes what the copies so far took on average (the fixed
    // pause among it); a varied pause is a wait of its own.
    int nDone = JobProgress.sentCount + JobProgress.notSentCount;
    DWORD dwWorkMs = nDone > 0 ? JobProgress.runTimeMs / nDone : 0;
    DWORD dwPauseMs = JobOptions.PauseVariation > 0 ? (DWORD)JobOptions.Pause * 1000 : 0;
    LimitTime tStart = bStartAhead ? pState->tSendAt : tNow;
    LimitTime tEnd = pState->sentTimes.FinishTime(tStart, CopiesLeft(pState), CopyRecipientCount(pState), dwWorkMs,
                                                  dwPauseMs, CurrentLimits());
    JobProgress.limitedRemainingMs = tEnd > tNow ? (LONGLONG)(tEnd - tNow) : 0;
    JobProgress.limitedEstimateTick = dwTick;
}
