// The three job logs: the current job log, the job history and the sent list.
// Every line format of the logs lives here; the files are opened by the engine.
#ifndef LETTERCAST_JOB_LOG_H
#define LETTERCAST_JOB_LOG_H

#include <windows.h>
#include <stdio.h>

// The start block's line that names a workbook's sheet, before the name.
#define LC_LOG_SHEET_LINE "\t\tSheet: "

// Start block: date, version, subject, list, the workbook's sheet when one
// is given (ANSI), delimiter, count, the address column when one is given,
// options; flushed.
void WriteJobStart(FILE* pLog, const char* pszSubject, int nEmailsInFile, const char* pszAddressColumn = NULL,
                   const char* pszSheet = NULL);
void WriteJobStartAt(FILE* pLog, const char* pszSubject, int nEmailsInFile, const SYSTEMTIME* pTime,
                     const char* pszAddressColumn = NULL, const char* pszSheet = NULL);

// Start block lines after WriteJobStart: the list's column of one kind of
// the copies' other addresses ("Cc", "Bcc", "Reply-To"), and the account
// the copies go from.
void LogCopyAddressColumn(FILE* pLog, const char* pszKind, const char* pszColumn);
void LogSender(FILE* pLog, const char* pszSender);

// End block: result, messages sent, date.
void WriteJobEnd(FILE* pLog, bool bCompleted, int nSent);
void WriteJobEndAt(FILE* pLog, bool bCompleted, int nSent, const SYSTEMTIME* pTime);

// Lines between the blocks of the current job log. Each is flushed as it is
// written, so that a job cut short leaves a log that agrees with what went out.
// Every recipient the job works on has its own number, 1 for the first, on
// its "Sending" line and on its result line, whether it was sent or not.
// A copy that also went to the record's Cc or Bcc says how many:
// "(Cc: 1, Bcc: 2)"; with nAttachments > 0 the line then ends
// "(2 attachments)": the recipient's own files.
void LogMessageSent(FILE* pLog, int nSent, const char* pszAddress, int nAttachments = 0, int nCc = 0, int nBcc = 0);
void LogMessageSentAt(FILE* pLog, int nSent, const char* pszAddress, const SYSTEMTIME* pTime, int nAttachments = 0,
                      int nCc = 0, int nBcc = 0);
// Written and flushed just before a copy is submitted: a job that dies before
// its result line leaves the recipient named as in flight.
void LogMessageSending(FILE* pLog, int nNumber, const char* pszAddress);
// A recipient whose copy did not go, with why; neither counted nor in the sent
// list. nNumber is the recipient's number in the job, as on its "Sending" line.
void LogMessageNotSent(FILE* pLog, int nNumber, const char* pszAddress, const char* pszReason);
// A record of the list passed over, with its line in the list and why.
void LogRecordSkipped(FILE* pLog, int nLine, const char* pszReason, const char* pszAddress);
void LogMergeError(FILE* pLog);
// A line of the job's own with the time before it: "(16:40.05) Waiting ...".
void LogTimedText(FILE* pLog, const char* pszText);
// What the job found of the record of copies sent in the last 24 hours:
// none, a damaged line (the count starts from zero) or a last line cut
// short (left out), each 0 when not so; then what it counts.
void LogSentTimesRecord(FILE* pLog, bool bMissing, int nDamagedLine, int nCutShortLine, int nMessages,
                        long long llRecipients);
void LogJobStopped(FILE* pLog);
void LogComError(FILE* pLog, long hr, const char* pszSource, const char* pszDescription, const char* pszLocation);

// Lines of the Announce flow after the job; pszVerb is "close" or "delete".
void LogOriginalFailure(FILE* pLog, const char* pszVerb, long nReturnCode);
void LogOriginalError(FILE* pLog, const char* pszVerb);

// The sent list is itself a mailing list of the same kind as the list read:
// the byte-order mark of its encoding (a ListEncoding value), the header's raw
// text, then each sent recipient's raw text exactly as read, with its own
// line end or none. Raw texts are UTF-8 and are written in the list's
// encoding, which the open sent list carries: no record can be written in
// another. A UTF-16 sent list is written in binary mode with CR LF line ends,
// the others in text mode.
struct SentListFile {
    FILE* pFile;      // NULL while none is open
    int nEncoding;    // the list's, given when it was opened
};

// Creates (or truncates) the sent list at pszPath for a list in nEncoding and
// writes its mark; false when it cannot be opened.
bool OpenSentList(const char* pszPath, int nEncoding, SentListFile* pSentList);
// The same over a stream already open for writing in the mode the encoding
// needs (binary for UTF-16), with the mark written first.
void StartSentList(FILE* pFile, int nEncoding, SentListFile* pSentList);
// One raw text (UTF-8) in the sent list's encoding, flushed; nothing when none is open.
void WriteSentListRecord(SentListFile* pSentList, const char* pszRawRecord);
void CloseSentList(SentListFile* pSentList);
// The whole sent list at pszPath made anew of nRecords raw texts, for a list
// that is written again for every recipient; false when it cannot be written.
bool RewriteSentList(const char* pszPath, int nEncoding, const char* const* ppszRecords, int nRecords);

// The sent list of the job the current job log tells of, named after the
// sheet its start block names (FormSentListPath); false when the log names
// none (the sent list is gszSentListPath then).
bool LastJobSentListPath(char* pszOut, size_t cchOut);

// "Comma", "Tab" or "Unknown" for a delimiter mode.
const char* DelimiterName(int nDelimiter);

#endif
