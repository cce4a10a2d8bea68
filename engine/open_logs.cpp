#include "engine/open_logs.h"

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "engine/engine_report.h"
#include "engine/host_dispatch.h"
#include "engine/job_progress.h"
#include "engine/job_questions.h"
#include "engine/job_resume.h"
#include "engine/recipient_files.h"
#include "engine/send_job_state.h"
#include "logs/job_log.h"
#include "mailing/bounded_copy.h"
#include "mailing/copy_addresses.h"
#include "mailing/list_reader.h"
#include "mailing/text_conversion.h"
#include "resources/resource.h"
#include "settings/data_paths.h"
#include "settings/settings_store.h"

namespace {

// The start block's lines of the list's Cc, Bcc and Reply-To columns and of
// the account the copies go from, in the ANSI code page of the logs.
void LogCopyAddressesAndSender(FILE* pLog, const SendJobState* pState)
{
    CopyAddressColumns columns;
    FindCopyAddressColumns(&pState->header, &columns);
    for (int nKind = 0; nKind < CopyAddressKinds; ++nKind) {
        int nColumn = columns.anColumn[nKind];
        if (nColumn < 0)
            continue;
        char szColumn[LC_FIELD_NAME_CAPACITY];
        CopyBounded(szColumn, sizeof(szColumn), pState->header.ppszFields[nColumn]);
        Utf8ToAnsiInPlace(szColumn);
        LogCopyAddressColumn(pLog, CopyAddressKindName(nKind), szColumn);
    }
    char szSender[LC_ADDRESS_CAPACITY * 2];
    WideToAnsi(SenderText(pState->sender).c_str(), szSender, sizeof(szSender));
    LogSender(pLog, szSender);
    std::wstring notice = SenderNotice(pState->sender);
    if (!notice.empty()) {
        char szNotice[1024];
        WideToAnsi(notice.c_str(), szNotice, sizeof(szNotice));
        LogJobText(pLog, (std::string("\t") + szNotice).c_str());
    }
}

}  // namespace

bool OpenLogs(SendJobState* pState)
{
    SetJobPhase("Opening Logs");
    AccumulateRunTime(&pState->dwLastTick, &JobProgress.runTimeMs);

    // The last job's log and sent list, when it did not complete, are kept
    // as the record of its list before they are replaced: another job in
    // between must not make it lose its resume.
    KeepIncompleteJob(JobOptions.ToList, pState->szSheet, &pState->resume);
    pState->pCurrentLog.Reset(gszCurrentJobPath[0] ? fopen(gszCurrentJobPath, "w") : NULL);
    if (pState->pCurrentLog == NULL) {
        ShowListMessage(pState->hWndOwner, IDS_CURRENT_LOG_FAILED, MB_ICONWARNING | MB_OK);
        return false;
    }
    // From here on the last job's record is replaced, the sent list with it.
    JobProgress.logsOpened = true;
    if (gszSentListPath[0])
        DeleteFileA(gszSentListPath);
    if (strcmp(pState->szSentListPath, gszSentListPath) != 0)
        DeleteFileA(pState->szSentListPath);
    // The logs are in the ANSI code page; what it cannot hold shows as '?'.
    BSTR bstrSubject = CodePageToBstr(pState->pszOriginalSubject, CP_UTF8);
    char* pszLogSubject = bstrSubject ? WideToAnsiHeap(bstrSubject) : NULL;
    SysFreeString(bstrSubject);
    const char* pszSubjectForLogs = pszLogSubject ? pszLogSubject : pState->pszOriginalSubject;
    WriteJobStart(pState->pCurrentLog, pszSubjectForLogs, pState->nTotal, pState->szAddressColumn, pState->szSheet);
    // Named once, in the current job's log: which of the sheet's formats
    // showed their numbers as General.
    for (const std::string& code : pState->source.Sheet().UnrenderedFormats()) {
        std::string line = "\tNumber format shown as General: " + TextAsLogged(code.c_str());
        LogJobText(pState->pCurrentLog, line.c_str());
    }
    LogRecipientFilesStart(pState->pCurrentLog, pState);
    LogCopyAddressesAndSender(pState->pCurrentLog, pState);
    if (pState->bListCutShort)
        LogJobText(pState->pCurrentLog, "\tMailing list read up to a record longer than 32,767 characters");
    if (pState->szOwnRecipients[0]) {
        char szLine[LC_OWN_RECIPIENTS_CAPACITY + 96];
        snprintf(szLine, sizeof(szLine), "\tThe composed message's own recipients get no copy: %s",
                 pState->szOwnRecipients);
        LogJobText(pState->pCurrentLog, szLine);
    }
    const ResumePlan* pResume = &pState->resume;
    char szResumed[LC_RESUME_DATE_CAPACITY + 96] = "";
    if (pResume->bResumed) {
        snprintf(szResumed, sizeof(szResumed), "\tResumed: %d recipient%s already sent on (%s)", pResume->nEarlier,
                 pResume->nEarlier == 1 ? "" : "s", pResume->szStarted);
        LogJobText(pState->pCurrentLog, szResumed);
    }

    pState->pHistory.Reset(gszJobHistoryPath[0] ? fopen(gszJobHistoryPath, "a+") : NULL);
    if (pState->pHistory == NULL) {
        free(pszLogSubject);
        ShowListMessage(pState->hWndOwner, IDS_HISTORY_LOG_FAILED, MB_ICONWARNING | MB_OK);
        return false;
    }
    WriteJobStart(pState->pHistory, pszSubjectForLogs, pState->nTotal, pState->szAddressColumn, pState->szSheet);
    LogRecipientFilesStart(pState->pHistory, pState);
    LogCopyAddressesAndSender(pState->pHistory, pState);
    free(pszLogSubject);
    if (szResumed[0])
        LogJobText(pState->pHistory, szResumed);

    if (!OpenSentList(pState->szSentListPath, pState->nListEncoding, &pState->sentList)) {
        ShowListMessage(pState->hWndOwner, IDS_SENT_LOG_FAILED, MB_ICONWARNING | MB_OK);
        return false;
    }
    WriteSentListRecord(&pState->sentList, pState->szHeaderRaw);
    // A resumed job's sent list starts with the records the last one sent
    // and the one in flight answered No, before any copy goes, so that
    // another interruption, wherever it comes, resumes from here.
    if (pResume->bResumed) {
        for (const std::string& record : pResume->sentRecords)
            WriteSentListRecord(&pState->sentList, record.c_str());
    }

    if (!pState->source.Open(&pState->list)) {
        ShowListMessage(pState->hWndOwner, IDS_LIST_OPEN_FAILED, MB_ICONWARNING | MB_OK);
        return false;
    }
    return true;
}
