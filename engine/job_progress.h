// What the main dialog and the running job share: the dialog steers through
// jobState, the engine reports back through the rest.
#ifndef LETTERCAST_JOB_PROGRESS_H
#define LETTERCAST_JOB_PROGRESS_H

#include <windows.h>
#include <stdio.h>

// Posted once to dialogWnd when a job ends; wParam 1 when every counted
// recipient was sent.
#define WM_JOBDONE (WM_USER + 4)

enum {
    JobIdle = 0,      // no job, or stop
    JobRunning = 1,
    JobPaused = 2,
};

#define LC_STATUS_CAPACITY 512

struct JobProgressRecord {
    char statusText[LC_STATUS_CAPACITY];
    double percentDone;   // 0 to 100
    int progressPos;      // percentDone truncated
    DWORD runTimeMs;      // without message dispatch and pauses
    int sentCount;
    int jobState;         // written by the dialog
    HWND dialogWnd;       // written by the dialog
    // For the closing box: whether the job got as far as opening its logs
    // (before that the last job's logs stand, and the box must not point to
    // them), the last warning the job showed before then, and the records
    // of the list passed over.
    bool logsOpened;
    char endReason[LC_STATUS_CAPACITY];
    int skippedCount;
    int alreadySentCount;   // passed over by a resumed job: the last job sent them
    int notSentCount;       // recipients whose copy did not go, each with its "Not Sent" line
    int totalCount;         // recipients the counting pass found
    double alreadySentPercent;   // their share of the list, part of percentDone
    // The remaining time as the engine works it out when the sending limits
    // or a start time make the job wait (-1: none; the dialog then scales
    // the running time), taken at the tick count limitedEstimateTick.
    LONGLONG limitedRemainingMs;
    DWORD limitedEstimateTick;
};

extern JobProgressRecord JobProgress;

// Clears what the closing box reads of a job; called as a job begins.
void ResetJobReport();
// Keeps the last warning a job shows before it opens its logs: why it ended
// (a warning it survives is followed by the one that ends it).
void NoteJobEndReason(const char* pszText);

// "n of total: text" as the status; the share done follows when total > 0.
// n counts this job's messages; the recipients a resumed job passes over
// (alreadySentCount) are added, as done.
void SetJobStatus(const char* pszText, int n, int nTotal);
// The share done of what this job itself has to send, 0 to 100: the
// remaining time is this job's own, whatever a resume passed over.
double JobOwnPercentDone();
// A phase text before the loop, as it is; the share done stays.
void SetJobPhase(const char* pszText);

// Adds the milliseconds since *pdwLastTick (nothing when the tick count has
// wrapped) and takes a fresh reading.
void AccumulateRunTime(DWORD* pdwLastTick, DWORD* pdwRunTimeMs);

// The status of a job the user paused: "n of total: Paused", the counter
// taken from pszStatus, or "Paused" when it has none.
void PausedStatus(const char* pszStatus, char* pszOut, size_t cchOut);

// Dispatches the thread's pending messages and reads jobState: true to go
// on, false to stop (after logging "Job Stopped" to pLog). While paused it
// keeps dispatching every 100 ms.
bool PumpAndCheckJob(FILE* pLog);

#endif
