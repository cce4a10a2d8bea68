// One recipient's copy: made from the composed message, filled with the
// merged texts, addressed, moved to the Outbox and submitted; and the two
// operations that push mail out.
#ifndef LETTERCAST_MESSAGE_SEND_H
#define LETTERCAST_MESSAGE_SEND_H

#include <windows.h>

struct SendJobState;

enum RecipientOutcome {
    RecipientCompleted,   // count and log the recipient as sent
    RecipientEndsJob,     // the job ends; the message has been shown
    RecipientNotSent,     // nothing went; log why (szNotSentReason) and go on with the next
};

RecipientOutcome SendRecipientCopy(SendJobState* pState);

// The number of the recipient being worked on in this job, 1 for the first:
// every recipient gets its own, sent or not, on each of its log lines.
int RecipientNumber();

// The recipients one copy goes to (To, Cc and Bcc), as the sending limits count them.
int CopyRecipientCount(const SendJobState* pState);

// Asks the spooler, through the session's status table, to upload the
// outgoing queue. False when any step fails, with the spooler's own result
// in *phrFlush when it was asked (S_OK otherwise); raises nothing of its own.
bool FlushOutgoingQueue(HRESULT* phrFlush = NULL);

// Runs the host's Send/Receive command (control 7095 of the active
// explorer's command bars). False when it could not; never raises.
bool IssueSendReceive();

#endif
