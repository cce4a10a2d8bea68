// The main dialog's status line: when the timer rewrites it, and the
// remaining-time estimate that follows the engine's status text.
#ifndef LETTERCAST_PROGRESS_TEXT_H
#define LETTERCAST_PROGRESS_TEXT_H

#include <windows.h>

#include "engine/job_progress.h"

#define LC_STATUS_LINE_CAPACITY 648        // the shown line: at most 647 characters
#define LC_REWRITE_MIN_INTERVAL_MS 2000    // a new estimate alone waits this long
#define LC_REWRITE_MIN_SECONDS_MOVE 5      // ...and must have moved this much
#define LC_NO_ESTIMATE (-1)

// What the status line last showed.
struct StatusDisplayMemory {
    char szLastStatus[LC_STATUS_CAPACITY];
    int nLastSeconds;        // LC_NO_ESTIMATE when none was shown
    DWORD dwLastRewriteTick;
};

void ResetStatusDisplay(StatusDisplayMemory* pMemory);

// Seconds still to go, scaled from the running time so far, truncated toward
// zero; LC_NO_ESTIMATE while less than 0.1 percent is done.
int RemainingSeconds(double dPercentDone, DWORD dwRunTimeMs);

// Seconds still to go as the engine worked them out when the sending limits
// or a start time make the job wait: llRemainingMs taken at the tick count
// dwEstimateTick, less the time since, truncated toward zero and never below
// zero; LC_NO_ESTIMATE when the engine gives none (llRemainingMs below 0).
int LimitedRemainingSeconds(LONGLONG llRemainingMs, DWORD dwEstimateTick, DWORD dwNow);

// The seconds the status line shows: the engine's own estimate while it has
// one, else the running time scaled (RemainingSeconds).
int JobRemainingSeconds(double dPercentDone, DWORD dwRunTimeMs, LONGLONG llLimitedRemainingMs,
                        DWORD dwLimitedEstimateTick, DWORD dwNow);

// True when the line is to be rewritten: the status text changed, or a new
// estimate moved far enough and the last rewrite is old enough.
bool StatusLineNeedsRewrite(const StatusDisplayMemory* pMemory, const char* pszStatus, int nSeconds, DWORD dwNow);

// The status text, followed by the remaining time when there is an estimate
// and a job is on.
void FormatStatusLine(const char* pszStatus, int nSeconds, int nJobState, char* pszLine, int cchLine);

// One timer tick: false leaves the line as it is; true fills pszLine with the
// new line and remembers it as shown at dwNow.
bool NextStatusLine(StatusDisplayMemory* pMemory, const char* pszStatus, double dPercentDone, DWORD dwRunTimeMs,
                    int nJobState, DWORD dwNow, char* pszLine, int cchLine);
// The same for an estimate already worked out (LC_NO_ESTIMATE for none).
bool NextStatusLineWith(StatusDisplayMemory* pMemory, const char* pszStatus, int nSeconds, int nJobState,
                        DWORD dwNow, char* pszLine, int cchLine);

#endif
