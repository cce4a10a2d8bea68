#include "job/progress_text.h"

#include <limits.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

void ResetStatusDisplay(StatusDisplayMemory* pMemory)
{
    pMemory->szLastStatus[0] = '\0';
    pMemory->nLastSeconds = LC_NO_ESTIMATE;
    pMemory->dwLastRewriteTick = 0;
}

int RemainingSeconds(double dPercentDone, DWORD dwRunTimeMs)
{
    if (fabs(dPercentDone) < 0.1)
        return LC_NO_ESTIMATE;
    double dRunTime = (double)dwRunTimeMs;
    double dSeconds = (100.0 / dPercentDone * dRunTime - dRunTime) / 1000.0;
    // A share done near zero after a long run can exceed any int; the line
    // then shows the largest estimate rather than garbage.
    if (dSeconds >= (double)INT_MAX)
        return INT_MAX;
    if (dSeconds <= (double)INT_MIN)
        return INT_MIN;
    return (int)dSeconds;
}

int LimitedRemainingSeconds(LONGLONG llRemainingMs, DWORD dwEstimateTick, DWORD dwNow)
{
    if (llRemainingMs < 0)
        return LC_NO_ESTIMATE;
    // Unsigned difference: right across the tick count's wrap.
    LONGLONG llLeftMs = llRemainingMs - (LONGLONG)(DWORD)(dwNow - dwEstimateTick);
    if (llLeftMs <= 0)
        return 0;
    LONGLONG llSeconds = llLeftMs / 1000;
    return llSeconds >= (LONGLONG)INT_MAX ? INT_MAX : (int)llSeconds;
}

int JobRemainingSeconds(double dPercentDone, DWORD dwRunTimeMs, LONGLONG llLimitedRemainingMs,
                        DWORD dwLimitedEstimateTick, DWORD dwNow)
{
    // A job held back by its limits or its start time has a running time
    // that says nothing of the wait: the engine knows when it ends.
    if (llLimitedRemainingMs >= 0)
        return LimitedRemainingSeconds(llLimitedRemainingMs, dwLimitedEstimateTick, dwNow);
    return RemainingSeconds(dPercentDone, dwRunTimeMs);
}

bool StatusLineNeedsRewrite(const StatusDisplayMemory* pMemory, const char* pszStatus, int nSeconds, DWORD dwNow)
{
    if (strcmp(pszStatus, pMemory->szLastStatus) != 0)
        return true;
    if (nSeconds == LC_NO_ESTIMATE)
        return false;
    if (pMemory->nLastSeconds != LC_NO_ESTIMATE) {
        // Widened so that estimates at the ends of the int range cannot overflow.
        long long llMove = (long long)nSeconds - (long long)pMemory->nLastSeconds;
        if (llMove < 0)
            llMove = -llMove;
        if (llMove < LC_REWRITE_MIN_SECONDS_MOVE)
            return false;
    }
    // Unsigned difference: right across the tick count's wrap.
    return dwNow - pMemory->dwLastRewriteTick >= LC_REWRITE_MIN_INTERVAL_MS;
}

void FormatStatusLine(const char* pszStatus, int nSeconds, int nJobState, char* pszLine, int cchLine)
{
    if (cchLine <= 0)
        return;
    if (nSeconds == LC_NO_ESTIMATE || nJobState == JobIdle) {
        snprintf(pszLine, cchLine, "%s", pszStatus);
        return;
    }
    snprintf(pszLine, cchLine, "%s  (Remaining Time: %d:%02d:%02d)", pszStatus, nSeconds / 3600,
             (nSeconds % 3600) / 60, (nSeconds % 3600) % 60);
}

bool NextStatusLine(StatusDisplayMemory* pMemory, const char* pszStatus, double dPercentDone, DWORD dwRunTimeMs,
                    int nJobState, DWORD dwNow, char* pszLine, int cchLine)
{
    return NextStatusLineWith(pMemory, pszStatus, RemainingSeconds(dPercentDone, dwRunTimeMs), nJobState, dwNow,
                              pszLine, cchLine);
}

bool NextStatusLineWith(StatusDisplayMemory* pMemory, const char* pszStatus, int nSeconds, int nJobState,
                        DWORD dwNow, char* pszLine, int cchLine)
{
    if (!StatusLineNeedsRewrite(pMemory, pszStatus, nSeconds, dwNow))
        return false;
    snprintf(pMemory->szLastStatus, sizeof(pMemory->szLastStatus), "%s", pszStatus);
    pMemory->nLastSeconds = nSeconds;
    pMemory->dwLastRewriteTick = dwNow;
    FormatStatusLine(pszStatus, nSeconds, nJobState, pszLine, cchLine);
    return true;
}
