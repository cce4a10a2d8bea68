// The waits of a running job, each keeping the dialog answering and Pause
// and Cancel working: the pause between messages, the sending limits and
// the time the job was set to start at. Waits for a limit or a start time
// are not running time; the remaining time the dialog shows takes them in.
#ifndef LETTERCAST_JOB_WAITS_H
#define LETTERCAST_JOB_WAITS_H

struct SendJobState;

// Whether any limit applies (the options as they are now).
bool SendingLimitsOn();

// Reads the record of what went in the last 24 hours, and writes what the
// job found of it and of its limits to the current job log.
void BeginSendingLimits(SendJobState* pState);

// Until the job's start time, when it has one; false when the user stopped.
bool WaitForStartTime(SendJobState* pState);
// The pause before every message but the first, varied when the options say so.
bool PauseBetweenMessages(SendJobState* pState);
// Until the next copy, to nRecipients, passes the limits.
bool WaitForSendingLimits(SendJobState* pState, int nRecipients);
// A copy to nRecipients has gone: counted against the limits, and the
// time from which the next pause runs.
void NoteCopySubmitted(SendJobState* pState, int nRecipients);
// The remaining time with the waits ahead, for the dialog, at most once a
// second; nothing while no limit or start time applies.
void UpdateLimitedEstimate(SendJobState* pState, bool bNow);

#endif
