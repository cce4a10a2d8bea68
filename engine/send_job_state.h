// The working state of one run of a job, owned by SendJob::Run and shared by
// the pieces of the engine it calls.
#ifndef LETTERCAST_SEND_JOB_STATE_H
#define LETTERCAST_SEND_JOB_STATE_H

#include <stdio.h>

#include <windows.h>

#include "engine/engine_report.h"
#include "engine/mapi_defs.h"
#include "logs/job_log.h"
#include "mailing/attachment_column.h"
#include "mailing/list_reader.h"
#include "mailing/list_record.h"

// A record of LC_RECORD_MAX_CHARS characters, each up to 4 bytes of UTF-8.
#define LC_RAW_RECORD_CAPACITY (4 * LC_RECORD_MAX_CHARS + 1)
#define LC_OWN_RECIPIENTS_CAPACITY 1024
#define LC_NOT_SENT_REASON_CAPACITY (LC_CAUGHT_TEXT_CAPACITY + 2 * MAX_PATH)   // a file's path and the host's error

struct SendJobState {
    // The composed message's texts, read once; the HTML is NULL when there is none.
    char* pszOriginalSubject;
    char* pszOriginalBody;
    char* pszOriginalHTMLBody;
    // Working copies, merged for each recipient.
    char* pszSubjectCopy;
    char* pszBodyCopy;
    char* pszHTMLCopy;
    bool bNonAsciiHtml;
    // The code page of the HTML text: CP_UTF8 (read as Unicode, or stored
    // bytes declaring UTF-8), CP_ACP, or 0 for stored bytes in a charset the
    // engine does not write, where values go as character references.
    UINT uHtmlCodePage;
    // The header and the recipient's fields the HTML is merged with: as HTML
    // text in the HTML's code page, then as markup for "[[HTML:Name]]".
    ListRecord htmlRecord;
    ListRecord htmlHeader;

    ListRecord header;
    ListRecord record;
    char szAddress[LC_ADDRESS_CAPACITY];
    char szHeaderRaw[LC_RAW_RECORD_CAPACITY];
    char szRecordRaw[LC_RAW_RECORD_CAPACITY];
    char szDisplayName[LC_ADDRESS_CAPACITY];
    char szRecipientAddress[LC_ADDRESS_CAPACITY];

    int nTotal;               // recipients found by the counting pass
    bool bListCutShort;       // the counting pass ended at a record too long to read
    int nSkipped;             // records the counting pass passed over
    int nListEncoding;        // the list's encoding, for the sent list
    char szListCopy[MAX_PATH];   // the list as it was at Send, read by both passes; deleted at the end
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
    int nJobStep;             // where the current recipient is; reported with unexpected errors
    DWORD dwLastTick;

    FILE* pCurrentLog;
    FILE* pHistory;
    SentListFile sentList;
    ListReader* pList;        // the sending pass's reading of the list's copy; deleted at the end

    bool bSuccess;
    bool bSubmitLogged;       // the current recipient's "Sending" line is written, its result not yet

    struct ResumePlan* pResume;   // which recipients already have their copy; never NULL while a job runs

    SPropValue useTnef;       // PidLidUseTnef = FALSE, its tag resolved once per job
    bool bUseTnefResolved;

    // Objects of the current recipient, released when it is done.
    IDispatch* pCopy;
    IDispatch* pMovedItem;
    IMessage* pCurrentMessage;
};

void InitSendJobState(SendJobState* pState);
void ReleaseRecipientObjects(SendJobState* pState);

#endif
