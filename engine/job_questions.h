// What a job asks, tells and refuses after the counting pass and before its
// logs open: every question comes before the first copy goes, and a No ends
// the job with the reason the closing box names.
#ifndef LETTERCAST_JOB_QUESTIONS_H
#define LETTERCAST_JOB_QUESTIONS_H

#include <windows.h>

struct SendJobState;

// A string-table message of the job; an OK box names its text as the
// reason the job ended.
int ShowListMessage(HWND hWndOwner, UINT uId, UINT uType);
// Ends the job before any log is opened with a question answered No: the
// closing box names this as the reason.
void NoteStopBeforeLogs(const char* pszReason);

// Tells the user that the composed message's own To, Cc and Bcc get no copy;
// reads them into szOwnRecipients for the logs.
void TellOfOwnRecipients(SendJobState* pState);
// Why the copies go from Outlook's default account, or where their sent
// copies are kept, when the message's own account cannot serve; once.
void TellOfSender(SendJobState* pState);
// More than one column could hold the address: the user confirms the one chosen.
bool ConfirmAddressColumn(SendJobState* pState);
// Placeholders the merge would leave as they stand: one question for all of them.
bool ConfirmUnknownPlaceholders(SendJobState* pState);
// What the list holds that would go wrong (skipped records, repeated
// addresses, empty fields): one question; No with repeated addresses sends
// to the first record of each.
bool ConfirmListCheck(SendJobState* pState);
// The list ends early at a record too long to read, after nBefore
// recipients: none, and nothing goes; some, and the user decides.
bool ConfirmListCutShort(const SendJobState* pState, int nBefore);

// The refusals: each shows why nothing of the list is sent, and is false.
bool RefuseUnclosedQuote(const SendJobState* pState, int nLine);
bool RefuseBadText(const SendJobState* pState, int nLine, int nEncoding, int nControlChar);
bool RefuseEmptyList(SendJobState* pState);

#endif
