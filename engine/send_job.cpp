#include "engine/send_job.h"

#include <stdio.h>

#include <memory>
#include <new>

#include "engine/engine_report.h"
#include "engine/host_dispatch.h"
#include "engine/job_progress.h"
#include "engine/job_questions.h"
#include "engine/job_resume.h"
#include "engine/job_waits.h"
#include "engine/list_snapshot.h"
#include "engine/mapi_binding.h"
#include "engine/message_send.h"
#include "engine/open_logs.h"
#include "engine/original_capture.h"
#include "engine/recipient_files.h"
#include "engine/recipient_merge.h"
#include "engine/send_limits.h"
#include "engine/server_pushback.h"
#include "engine/send_job_state.h"
#include "logs/job_log.h"
#include "mailing/bounded_copy.h"
#include "mailing/list_reader.h"
#include "mailing/text_conversion.h"
#include "resources/product.h"
#include "resources/resource.h"
#include "settings/settings_store.h"
#include "ui/help.h"
#include "ui/message_box.h"

SendJob::SendJob(IDispatch* pMailItem) : m_pParent(pMailItem), m_hWndOwner(NULL), m_ftSendAt()
{
    if (pMailItem == NULL)
        return;
    try {
        ScopedVariant object;
        if (SUCCEEDED(DispTryGetProperty(pMailItem, L"MAPIOBJECT", &object)))
            m_pMAPIMessage.Reset((IMessage*)QueryVariantInterface(object.Get(), IID_IMessage));
    } catch (...) {
        m_pMAPIMessage.Reset();
    }
}

namespace {

void CountSkipped(void* pContext, int nLine, int nReason, const char* pszAddress)
{
    SendJobState* pState = (SendJobState*)pContext;
    ++pState->nSkipped;
    pState->listCheck.AddSkipped(nLine, nReason, pszAddress);
}

// Once the header is read: the check merges each text as the job will.
void BeginListCheck(SendJobState* pState)
{
    pState->listCheck.Begin(&pState->header);
    if (!MakeMergeHeaders(pState))
        return;
    pState->listCheck.AddText(pState->pszOriginalSubject, false, &pState->plainHeader);
    pState->listCheck.AddText(pState->pszOriginalBody, false, &pState->plainHeader);
    if (pState->pszOriginalHTMLBody)
        pState->listCheck.AddText(pState->pszOriginalHTMLBody, true, &pState->htmlHeader);
}

void LogSkipped(void* pContext, int nLine, int nReason, const char* pszAddress)
{
    SendJobState* pState = (SendJobState*)pContext;
    if (pState->pCurrentLog)
    {
        // The logs are written in the ANSI code page.
        char szAddress[LC_ADDRESS_CAPACITY];
        CopyBounded(szAddress, sizeof(szAddress), pszAddress);
        SpaceEveryLineBreak(szAddress);
        Utf8ToAnsiInPlace(szAddress);
        LogRecordSkipped(pState->pCurrentLog, nLine, SkippedRecordReason(nReason, pszAddress), szAddress);
    }
}

// The counting pass over the list's copy, which also finds the address
// column and the header's raw text for the sent list; then every question
// and refusal, before anything goes.
bool CountRecipients(SendJobState* pState)
{
    SetJobPhase("Reading Mailing List");
    if (!TakeListSnapshot(pState))
        return false;
    ListReader list;
    if (!pState->source.Open(&list)) {
        ShowListMessage(pState->hWndOwner, IDS_LIST_OPEN_FAILED, MB_ICONWARNING | MB_OK);
        return false;
    }
    pState->nEmailColumn = -1;
    JobProgress.sentCount = 0;
    pState->szHeaderRaw[0] = '\0';
    pState->nTotal = 0;
    pState->nSkipped = 0;
    bool bHeaderDone = false;
    RecipientFilesCheck files = {};
    // A resume is found in this pass too, so that the list is not read again.
    ResumeFinder resume;
    resume.Begin(JobOptions.ToList, pState->szSheet, TextAsLogged(pState->pszOriginalSubject).c_str());
    char* pszRaw = resume.Active() ? pState->szRecordRaw : NULL;
    list.WatchSkipped(CountSkipped, pState);
    while (list.ReadNextRecipient(&pState->nEmailColumn, bHeaderDone, pState->szAddress, LC_ADDRESS_CAPACITY,
                                  bHeaderDone ? NULL : pState->szHeaderRaw, LC_RAW_RECORD_CAPACITY, pszRaw,
                                  pszRaw ? LC_RAW_RECORD_CAPACITY : 0, &pState->header, &pState->record)) {
        if (!bHeaderDone) {
            BeginRecipientFiles(pState, &files);
            BeginListCheck(pState);
        }
        resume.Add(&pState->header, &pState->record, pState->szAddress, pszRaw);
        CheckRecipientFiles(pState, &files, list.RecordLine());
        ++pState->nTotal;
        pState->listCheck.AddRecipient(pState->nTotal, list.RecordLine(), pState->szAddress, &pState->record);
        bHeaderDone = true;
    }
    pState->nPlaces = pState->nTotal;
    list.Close();
    pState->bListCutShort = list.CutShort();
    JobProgress.skippedCount = pState->nSkipped;
    JobProgress.totalCount = pState->nTotal;

    pState->nListEncoding = list.Encoding();
    if (list.BadTextLine() > 0)
        return RefuseBadText(pState, list.BadTextLine(), list.Encoding(), list.BadTextChar());
    if (list.UnclosedQuoteLine() > 0)
        return RefuseUnclosedQuote(pState, list.UnclosedQuoteLine());
    if (pState->nEmailColumn == -1) {
        ShowListMessage(pState->hWndOwner, IDS_NO_EMAIL_FIELD, MB_ICONWARNING | MB_OK);
        if (ShowListMessage(pState->hWndOwner, IDS_ASK_MAILING_LIST_HELP, MB_ICONQUESTION | MB_YESNO) == IDYES)
            ShowHelpTopic(pState->hWndOwner, IDS_TOPIC_MAILING_LISTS);
        return false;
    }
    if (pState->nEmailColumn < pState->header.nCount)
    {
        CopyBounded(pState->szAddressColumn, sizeof(pState->szAddressColumn),
                    pState->header.ppszFields[pState->nEmailColumn]);
        SpaceEveryLineBreak(pState->szAddressColumn);
        // Shown in boxes and logs, both in the ANSI code page.
        Utf8ToAnsiInPlace(pState->szAddressColumn);
    }
    if (pState->bListCutShort && !ConfirmListCutShort(pState, pState->nTotal))
        return false;
    if (pState->nTotal == 0)
        return RefuseEmptyList(pState);
    if (!ConfirmAddressColumn(pState))
        return false;
    if (!ConfirmRecipientFiles(pState, &files))
        return false;
    if (!ConfirmUnknownPlaceholders(pState))
        return false;
    if (!ConfirmListCheck(pState))
        return false;
    TellOfOwnRecipients(pState);
    TellOfSender(pState);
    OfferResume(pState, &resume);
    return true;
}

bool SendReceiveDue(const SendJobState* pState)
{
    return JobOptions.DoSendRecv == 1 && pState->nSinceSendReceive >= JobOptions.SendRecvCount;
}

void SendReceiveIgnoringErrors()
{
    try {
        IssueSendReceive();
    } catch (...) {
    }
}

// The server takes no more mail for now: the job stops before the next copy,
// and says so in its log and in a box; what is left of the list can be
// resumed once the server takes mail again.
void StopForPushBack(SendJobState* pState)
{
    char szText[LC_NOT_SENT_REASON_CAPACITY + 256];
    snprintf(szText, sizeof(szText), "Stopped: the mail server takes no more mail for now (%s)", pState->szPushBack);
    if (pState->pCurrentLog)
        LogTimedText(pState->pCurrentLog, szText);
    snprintf(szText, sizeof(szText),
             "The mail server takes no more mail for now: %s.\n\nIt may have reached a sending limit. The job stops "
             "here; the rest of the list can be resumed later with the same list, once the server takes mail again.",
             pState->szPushBack);
    ShowJobText(pState->hWndOwner, szText);
}

// The sending pass: false when the job ends before the list does.
bool SendToEveryRecipient(SendJobState* pState)
{
    pState->list.WatchSkipped(LogSkipped, pState);
    for (;;) {
        bool bHeaderDone = pState->nCalls > 0;
        if (!pState->list.ReadNextRecipient(&pState->nEmailColumn, bHeaderDone, pState->szAddress,
                                            LC_ADDRESS_CAPACITY, NULL, 0, pState->szRecordRaw,
                                            LC_RAW_RECORD_CAPACITY, NULL, &pState->record))
            return true;
        if (++pState->nCalls > pState->nPlaces)
            return true;
        // Its address went to an earlier record, and the user chose the
        // first record of each.
        if (pState->bFirstOfEachAddress && pState->listCheck.IsRepeat(pState->nCalls)) {
            LogSkipped(pState, pState->list.RecordLine(), ListSkipRepeatedAddress, pState->szAddress);
            continue;
        }
        // Its record is in the sent list already.
        if (AlreadySent(&pState->resume, pState->nCalls)) {
            ++pState->resume.nPassedOver;
            continue;
        }

        AccumulateRunTime(&pState->dwLastTick, &JobProgress.runTimeMs);
        if (!PumpAndCheckJob(pState->pCurrentLog))
            return false;
        pState->dwLastTick = GetTickCount();

        pState->nJobStep = StepPause;
        UpdateLimitedEstimate(pState, false);
        if (!PauseBetweenMessages(pState) || !WaitForSendingLimits(pState, CopyRecipientCount(pState)))
            return false;

        pState->nJobStep = StepSendReceive;
        if (SendReceiveDue(pState)) {
            SetJobStatus("Issuing a Send/Receive", JobProgress.sentCount + 1, pState->nTotal);
            SendReceiveIgnoringErrors();
            pState->nSinceSendReceive = 0;
        }

        pState->nJobStep = StepMerge;
        SetJobStatus("Creating Message", JobProgress.sentCount + 1, pState->nTotal);
        if (!MergeRecipient(pState))
            return false;

        CopyBounded(pState->szDisplayName, LC_ADDRESS_CAPACITY, pState->szAddress);
        CopyBounded(pState->szRecipientAddress, LC_ADDRESS_CAPACITY, pState->szAddress);

        pState->nJobStep = StepCopy;
        pState->nCopyRetries = 0;
        pState->bSubmitLogged = false;
        NoteRecordInFlight(&pState->resume, pState->szHeaderRaw, pState->szRecordRaw);
        RecipientOutcome outcome = SendRecipientCopy(pState);
        if (outcome == RecipientEndsJob) {
            // Submitted and failed, and the user stopped: the "Sending" line
            // gets its result, so that no resume takes the copy for in flight.
            if (pState->bSubmitLogged) {
                LogMessageNotSent(pState->pCurrentLog, RecipientNumber(), pState->szAddress, pState->szNotSentReason);
                ++JobProgress.notSentCount;
            }
            return false;
        }
        if (outcome == RecipientNotSent) {
            // Not counted and not in the sent list: the job cannot complete.
            LogMessageNotSent(pState->pCurrentLog, RecipientNumber(), pState->szAddress, pState->szNotSentReason);
            ++JobProgress.notSentCount;
            ReleaseRecipientObjects(pState);
        } else {
            NoteCopySubmitted(pState, CopyRecipientCount(pState));
            ++pState->nSinceSendReceive;
            pState->nJobStep = StepSentLogged;
            const CopyAddressCheck& copyAddresses = pState->list.CopyAddresses();
            LogMessageSent(pState->pCurrentLog, RecipientNumber(), pState->szAddress, pState->nAttachedFiles,
                           (int)copyAddresses.Addresses(CopyCc).size(), (int)copyAddresses.Addresses(CopyBcc).size());
            ++JobProgress.sentCount;
            WriteSentListRecord(&pState->sentList, pState->szRecordRaw);
            ReleaseRecipientObjects(pState);
        }
        if (pState->szPushBack[0]) {
            StopForPushBack(pState);
            return false;
        }
    }
}

// Every counted recipient sent, from a list read to its end: a list cut
// short left recipients after the long record without the message.
bool JobCompleted(const SendJobState* pState)
{
    return JobProgress.sentCount + pState->resume.nPassedOver == pState->nTotal && !pState->bListCutShort;
}

// After the last record: the closing Send/Receive when one is due.
void EndOfList(SendJobState* pState)
{
    pState->nJobStep = StepEndOfList;
    if (SendReceiveDue(pState)) {
        SetJobStatus("Issuing a Send/Receive", JobProgress.sentCount, pState->nTotal);
        SendReceiveIgnoringErrors();
    }
    ReleaseRecipientObjects(pState);
    pState->bSuccess = JobCompleted(pState);
}

void ReportUnknownError(SendJobState* pState, const _com_error* pError)
{
    char szText[LC_CAUGHT_TEXT_CAPACITY];
    snprintf(szText, sizeof(szText), "Unknown error caught during message %d at line %d",
             RecipientNumber(), (int)pState->nJobStep);
    if (pError)
        ReportComError(*pError, pState->pCurrentLog, szText);
    else
        LogJobText(pState->pCurrentLog, szText);
    ShowJobText(pState->hWndOwner, szText);
}

// The sending steps, from the working copies to the end of the list, with
// the handlers for whatever their own stretches did not catch.
void SendSteps(SendJobState* pState)
{
    try {
        if (!AllocateWorkingCopies(pState))
            return;
        BeginSendingLimits(pState);
        if (!WaitForStartTime(pState))
            return;
        if (!SendToEveryRecipient(pState))
            return;
        EndOfList(pState);
        return;
    } catch (const _com_error& error) {
        ReportUnknownError(pState, &error);
    } catch (...) {
        ReportUnknownError(pState, NULL);
    }
    pState->bSuccess = JobCompleted(pState);
}

// Every way out once the job has begun, in this order: the list and the
// sent list closed, the record of an incomplete job dropped after a
// completed one, both logs' end blocks, the list's copy deleted, the dialog
// told, the MAPI binding released.
void FinishJob(SendJobState* pState, bool bMapiTried)
{
    ReleaseRecipientObjects(pState);
    pState->list.Close();
    CloseSentList(&pState->sentList);
    // The list is done with: no resume is offered for it any more.
    if (pState->bSuccess)
        ForgetIncompleteJob(JobOptions.ToList, pState->szSheet);
    if (pState->pHistory) {
        WriteJobEnd(pState->pHistory, pState->bSuccess, JobProgress.sentCount);
        pState->pHistory.Reset();
    }
    if (pState->pCurrentLog) {
        WriteJobEnd(pState->pCurrentLog, pState->bSuccess, JobProgress.sentCount);
        pState->pCurrentLog.Reset();
    }
    if (pState->szListCopy[0])
        DeleteFileA(pState->szListCopy);
    PostMessageA(JobProgress.dialogWnd, WM_JOBDONE, pState->bSuccess ? 1 : 0, 0);
    if (bMapiTried)
        UnbindMapi();
}

}  // namespace

void SendJob::Run()
{
    bool bRunnable = m_pParent != NULL && m_pMAPIMessage != NULL;
    if (bRunnable && m_hWndOwner == NULL)
        m_hWndOwner = GetDesktopWindow();
    // Two raw records of the longest kind: too much for the host's stack.
    std::unique_ptr<SendJobState> pState(new (std::nothrow) SendJobState(m_pParent, m_pMAPIMessage, m_hWndOwner));
    if (!pState) {
        ShowStringMessage(GetDesktopWindow(), IDS_OUT_OF_MEMORY, LC_PRODUCT_NAME, MB_ICONWARNING | MB_OK);
        PostMessageA(JobProgress.dialogWnd, WM_JOBDONE, 0, 0);
        return;
    }
    SendJobState& state = *pState;
    if (m_ftSendAt.dwLowDateTime || m_ftSendAt.dwHighDateTime)
        state.tSendAt = LimitTimeOfFileTime(m_ftSendAt);
    bool bMapiTried = false;
    ResetJobReport();

    if (m_pParent == NULL)
        ShowJobText(GetDesktopWindow(), "Error: m_pParent == NULL");
    if (m_pMAPIMessage == NULL)
        ShowJobText(GetDesktopWindow(), "Error: m_pMAPIMessage == NULL");
    if (bRunnable) {
        bMapiTried = true;
        if (BindMapi()) {
            state.dwLastTick = GetTickCount();
            JobProgress.runTimeMs = 0;
            if (CaptureOriginal(&state) && CountRecipients(&state) && OpenLogs(&state))
                SendSteps(&state);
        }
    }
    FinishJob(&state, bMapiTried);
}
