// One recipient's copy: made from the composed message, filled with the
// merged texts, addressed, moved to the Outbox and submitted; and the two
// operations that push mail out.
#ifndef LETTERCAST_MESSAGE_SEND_H
#define LETTERCAST_MESSAGE_SEND_H

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

// Asks the spooler, through the session's status table, to upload the
// outgoing queue. False when any step fails; raises nothing of its own.
bool FlushOutgoingQueue();

// Runs the host's Send/Receive command (control 7095 of the active
// explorer's command bars). False when it could not; never raises.
bool IssueSendReceive();

#endif
