// The working state of one run of a job or of one test copy: constructed
// when it starts, destroyed when it ends, owner of every text, record,
// stream and object it holds. Shared by the pieces of the engine it runs
// through, each of which takes it alone.
#ifndef LETTERCAST_SEND_JOB_STATE_H
#define LETTERCAST_SEND_JOB_STATE_H

#include <stdio.h>

#include <windows.h>
#include <oaidl.h>

#include "engine/com_holder.h"
#include "engine/engine_report.h"
#include "engine/job_resume.h"
#include "engine/list_snapshot.h"
#include "engine/mapi_defs.h"
#include "engine/send_limits.h"
#include "engine/sender_account.h"
#include "logs/job_log.h"
#include "mailing/attachment_column.h"
#include "mailing/list_check.h"
#include "mailing/list_reader.h"
#include "mailing/list_record.h"
#include "mailing/mail_merge.h"
#include "settings/settings_store.h"

#define LC_OWN_RECIPIENTS_CAPACITY 1024
#define LC_OUTBOX_UNCOUNTED (-2)
#define LC_PAUSE_STRATA 10   // the varied pause takes each tenth of its range once in ten messages
#define LC_NOT_SENT_REASON_CAPACITY (LC_CAUGHT_TEXT_CAPACITY + 2 * MAX_PATH)   // a file's path and the host's error

// Where the job is with the current recipient: an unexpected error names
// the step by its number ("Unknown error caught during message 3 at line 15").
// The numbers are those the reports have always printed; new steps take new
// numbers.
enum JobStep {
    StepStarting = 0,              // before the working copies exist
    StepWorkingCopies = 2,         // the working copies are allocated
    StepPause = 3,                 // the pause between messages
    StepSendReceive = 4,           // the Send/Receive every so many messages
    StepMerge = 5,                 // subject, body and HTML merged for the recipient
    StepCopy = 6,                  // the composed message copied
    StepFirstSave = 7,             // the copy saved, so that it has a MAPI object
    StepMapiObject = 8,            // the copy's MAPI object fetched
    StepSubjectAndBody = 9,        // the merged subject put
    StepBody = 10,                 // the merged body put, then the recipient's files attached
    StepSecondSave = 11,           // the filled copy saved
    StepRecipientAllocated = 12,   // the recipient's address list allocated and filled
    StepModifyRecipients = 13,     // the copy's recipients replaced by the one
    StepCopyProperties = 14,       // plain-text format and the transport property set
    StepSubmit = 15,               // the copy submitted
    StepFlush = 16,                // the outgoing queue flushed
    StepSentLogged = 17,           // the recipient logged as sent
    StepEndOfList = 18,            // the list's end reached
    StepHtmlStreamOpen = 100,      // the HTML written through its stream (WriteHtmlProperty)
    StepHtmlStreamWrite = 101,
    StepHtmlStreamCommit = 102,
    StepPlainStreamOpen = 103,     // the plain body written through its stream before it
    StepPlainStreamWrite = 104,
    StepPlainStreamCommit = 105,
    StepSaveChanges = 106,         // the copy's MAPI changes saved, then the move to the Outbox
};

struct SendJobState {
    // For the composed message pParent with its MAPI object, both borrowed
    // from the job, whose boxes belong to hWndOwner.
    SendJobState(IDispatch* pParentItem, IMessage* pParentMessage, HWND hWndBoxOwner);
    ~SendJobState();
    SendJobState(const SendJobState&) = delete;
    SendJobState& operator=(const SendJobState&) = delete;

    IDispatch* const pParent;
    IMessage* const pMAPIMessage;
    const HWND hWndOwner;

    // The composed message's texts, read once; the HTML is NULL when there is none.
    HeapText pszOriginalSubject;
    HeapText pszOriginalBody;
    HeapText pszOriginalHTMLBody;
    // The account every copy goes from, read with the texts.
    SenderAccount sender;
    // Working copies, merged for each recipient.
    HeapText pszSubjectCopy;
    HeapText pszBodyCopy;
    HeapText pszHTMLCopy;
    bool bNonAsciiHtml;
    // The code page of the HTML text: CP_UTF8 (read as Unicode, or stored
    // bytes declaring UTF-8), CP_ACP (the system's, or no charset declared),
    // or LC_HTML_CP_REFERENCES for a charset the engine does not write, where
    // values go as character references.
    UINT uHtmlCodePage;
    // The names each text is merged with, made once per job with their
    // lookups (MakeMergeHeaders): the HTML's as HTML text in its code page,
    // then its "HTML:" names; the subject's and the plain body's, the list's
    // and then their "HTML:" names. The recipient's values as HTML text
    // (htmlEscaped), and, where the HTML's code page changes them, every
    // value in it (htmlRecord), made again for each recipient in the blocks
    // of the last.
    ListRecord htmlRecord;
    ListRecord htmlHeader;
    ListRecord htmlEscaped;
    ListRecord plainHeader;
    MergeNames htmlNames;
    MergeNames plainNames;
    bool bMergeHeadersMade;

    ListRecord header;
    ListRecord record;
    int nEmailColumn;         // the list's address column, -1 while none is known
    char szAddress[LC_ADDRESS_CAPACITY];
    char szHeaderRaw[LC_RAW_RECORD_CAPACITY];
    char szRecordRaw[LC_RAW_RECORD_CAPACITY];
    char szDisplayName[LC_ADDRESS_CAPACITY];
    char szRecipientAddress[LC_ADDRESS_CAPACITY];

    int nTotal;               // recipients the job sends to: those the counting pass found, less
                              // the repeats of an address when only the first record of each goes
    int nPlaces;              // recipients the counting pass found, the sending pass's places
    ListCheck listCheck;      // what the counting pass found that would go wrong
    bool bFirstOfEachAddress; // a record whose address an earlier one holds gets no copy
    bool bListCutShort;       // the counting pass ended at a record too long to read
    int nSkipped;             // records the counting pass passed over
    int nListEncoding;        // the list's encoding, for the sent list
    char szListCopy[MAX_PATH];   // the list as it was at Send, read by both passes; deleted at the end
    bool bWorkbook;           // the list is a workbook, its sheet written out by source
    ListSource source;        // what both passes read: szListCopy, or the sheet written out
    char szSheet[LC_SHEET_CAPACITY];      // that sheet's name as the logs write it (ANSI); "" for a text list
    char szSentListPath[MAX_PATH];        // this job's sent list (FormSentListPath)
    char szAddressColumn[LC_FIELD_NAME_CAPACITY];
    char szOwnRecipients[LC_OWN_RECIPIENTS_CAPACITY];   // the composed message's To/Cc/Bcc, or empty
    char szNotSentReason[LC_NOT_SENT_REASON_CAPACITY];  // why the current recipient's copy did not go
    int nAttachmentColumn;    // the list's column of per-recipient files; -1: none
    char szAttachmentColumn[LC_FIELD_NAME_CAPACITY];
    char szListFolder[LC_ATTACHMENT_PATH_CAPACITY];   // relative paths in that column start here (UTF-8)
    int nAttachmentFiles;     // files the column names in all
    int nAttachedFiles;       // files added to the current copy
    int nCalls;               // calls of the sending pass
    int nSinceSendReceive;
    int nCopyRetries;         // for the current recipient
    JobStep nJobStep;         // where the current recipient is; reported with unexpected errors
    DWORD dwLastTick;

    FileHolder pCurrentLog;
    FileHolder pHistory;
    SentListFile sentList;
    // The sending pass's reading of the list's copy; its CopyAddresses()
    // are the current recipient's Cc, Bcc and Reply-To (none for a test
    // copy, whose reading is its own).
    ListReader list;

    bool bSuccess;
    bool bSubmitLogged;       // the current recipient's "Sending" line is written, its result not yet

    ResumePlan resume;        // which recipients already have their copy

    // The sending limits and the waits (job_waits): what went in the last
    // 24 hours, when the first copy may go (0: at once), when the last copy
    // went and how long making it took, the varied pause's generator, and
    // when the dialog's estimate was last worked out.
    SentTimes sentTimes;
    LimitTime tSendAt;
    bool bCopySubmitted;
    DWORD dwLastSubmitTick;
    DWORD dwCopyStartTick;
    DWORD dwLastCopyMs;
    unsigned uPauseRandom;
    int anPauseStrata[LC_PAUSE_STRATA];   // the tenths of the pause's range, in the order drawn
    int nPauseStratum;                    // the next of them; LC_PAUSE_STRATA: draw a new order
    DWORD dwEstimateTick;
    bool bEstimateMade;
    // The server's push back: the Outbox's items before the first copy went
    // into it (LC_OUTBOX_UNCOUNTED before then, -1 when they could not be
    // counted), and why the job stops before the next copy (empty: it goes on).
    int nOutboxBefore;
    char szPushBack[LC_NOT_SENT_REASON_CAPACITY];

    SPropValue useTnef;       // PidLidUseTnef = FALSE, its tag resolved once per job
    bool bUseTnefResolved;

    // Objects of the current recipient, released when it is done.
    ComHolder<IDispatch> pCopy;
    ComHolder<IDispatch> pMovedItem;
    ComHolder<IDispatch> pOutbox;   // the Outbox the copy was moved to
    ComHolder<IMessage> pCurrentMessage;
};

void ReleaseRecipientObjects(SendJobState* pState);

#endif
