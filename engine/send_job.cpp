#include "engine/send_job.h"

#include <stdlib.h>
#include <string.h>

#include <new>
#include <string>

#include "addin/host_state.h"
#include "engine/com_holder.h"
#include "engine/engine_report.h"
#include "engine/host_dispatch.h"
#include "engine/job_progress.h"
#include "engine/job_resume.h"
#include "engine/mapi_binding.h"
#include "engine/message_send.h"
#include "engine/original_capture.h"
#include "engine/recipient_files.h"
#include "engine/send_job_state.h"
#include "logs/job_log.h"
#include "mailing/html_text.h"
#include "mailing/list_reader.h"
#include "mailing/mail_merge.h"
#include "mailing/placeholder_check.h"
#include "resources/product.h"
#include "resources/resource.h"
#include "settings/data_paths.h"
#include "settings/settings_store.h"
#include "ui/help.h"
#include "ui/message_box.h"

SendJob::SendJob(IDispatch* pMailItem)
    : m_pParent(pMailItem), m_pMAPIMessage(NULL), m_hWndOwner(NULL), m_nEmailColumn(-1)
{
    if (pMailItem == NULL)
        return;
    try {
        ScopedVariant object;
        if (SUCCEEDED(DispTryGetProperty(pMailItem, L"MAPIOBJECT", &object)))
            m_pMAPIMessage = (IMessage*)QueryVariantInterface(object.Get(), IID_IMessage);
    } catch (...) {
        m_pMAPIMessage = NULL;
    }
}

SendJob::~SendJob()
{
    if (m_pMAPIMessage)
        m_pMAPIMessage->Release();
}

bool SendJob::NextRecipient(ListReader* pList, bool bHeaderDone, char* pszAddress, int cchAddress,
                            char* pszHeaderRaw, int cchHeaderRaw, char* pszRecordRaw, int cchRecordRaw,
                            ListRecord* pHeader, ListRecord* pRecord)
{
    return pList && pList->ReadNextRecipient(&m_nEmailColumn, bHeaderDone, pszAddress, cchAddress, pszHeaderRaw,
                                             cchHeaderRaw, pszRecordRaw, cchRecordRaw, pHeader, pRecord);
}

const char* SkippedRecordReason(int nReason, const char* pszAddress)
{
    switch (nReason) {
    case ListSkipTooFewFields:
        return "too few fields to reach the address column";
    case ListSkipAddressTooLong:
        return "the address is longer than 255 characters";
    case ListSkipNotOneAddress:
        return "the address is not one e-mail address";
    default:
        return pszAddress[0] ? "the address holds no @" : "the address is empty";
    }
}

void InitSendJobState(SendJobState* pState)
{
    memset(pState, 0, sizeof(*pState));
    InitListRecord(&pState->header);
    InitListRecord(&pState->record);
    pState->nAttachmentColumn = -1;
    InitListRecord(&pState->htmlHeader);
    InitListRecord(&pState->htmlRecord);
}

void ReleaseRecipientObjects(SendJobState* pState)
{
    if (pState->pCurrentMessage) {
        pState->pCurrentMessage->Release();
        pState->pCurrentMessage = NULL;
    }
    if (pState->pMovedItem) {
        pState->pMovedItem->Release();
        pState->pMovedItem = NULL;
    }
    if (pState->pCopy) {
        pState->pCopy->Release();
        pState->pCopy = NULL;
    }
}

namespace {

int ShowListMessage(HWND hWndOwner, UINT uId, UINT uType)
{
    char szText[LC_STATUS_CAPACITY];
    if ((uType & MB_TYPEMASK) == MB_OK && LoadStringA(ghInstance, uId, szText, sizeof(szText)) > 0)
        NoteJobEndReason(szText);
    return ShowStringMessage(hWndOwner, uId, LC_PRODUCT_NAME, uType);
}

// Ends the job before any log is opened with a question answered No: the
// closing box names this as the reason.
void NoteStopBeforeLogs(const char* pszReason)
{
    NoteJobEndReason(pszReason);
}

void CountSkipped(void* pContext, int, int, const char*)
{
    ++((SendJobState*)pContext)->nSkipped;
}

void LogSkipped(void* pContext, int nLine, int nReason, const char* pszAddress)
{
    SendJobState* pState = (SendJobState*)pContext;
    if (pState->pCurrentLog)
    {
        // The logs are written in the ANSI code page.
        char szAddress[LC_ADDRESS_CAPACITY];
        CopyOneLine(szAddress, sizeof(szAddress), pszAddress);
        Utf8ToAnsiInPlace(szAddress);
        LogRecordSkipped(pState->pCurrentLog, nLine, SkippedRecordReason(nReason, pszAddress), szAddress);
    }
}

// Watches the records the reader passes over while it is alive.
class SkipWatch {
public:
    SkipWatch(ListReader* pList, void (*pfnSkipped)(void*, int, int, const char*), SendJobState* pState)
        : m_pList(pList)
    {
        if (m_pList)
            m_pList->WatchSkipped(pfnSkipped, pState);
    }
    ~SkipWatch()
    {
        if (m_pList)
            m_pList->WatchSkipped(NULL, NULL);
    }
    SkipWatch(const SkipWatch&) = delete;
    SkipWatch& operator=(const SkipWatch&) = delete;

private:
    ListReader* m_pList;
};

// The list as it is now, copied to a private file that both passes read: a
// list saved again during the job (an editor, a sync client) cannot make the
// sending pass read other records than the counting pass counted. The list
// itself is read once, through the shared-read opening.
bool TakeListSnapshot(SendJob* pJob, SendJobState* pState)
{
    // Byte for byte, its mark included: the copy is read as the list would be.
    FILE* pList = JobOptions.ToList[0] ? fopen(JobOptions.ToList, "rb") : NULL;
    if (pList == NULL && JobOptions.ToList[0]) {
        pList = OpenListFileShared(JobOptions.ToList);
        if (pList)
            SetListFileBinary(pList);
    }
    if (pList == NULL) {
        ShowListMessage(pJob->m_hWndOwner, IDS_LIST_OPEN_FAILED, MB_ICONWARNING | MB_OK);
        return false;
    }
    char szTempDir[MAX_PATH];
    DWORD cchTemp = GetTempPathA(sizeof(szTempDir), szTempDir);
    bool bCopied = false;
    if (cchTemp > 0 && cchTemp < sizeof(szTempDir) &&
        GetTempFileNameA(szTempDir, "lcl", 0, pState->szListCopy) == 0)
        pState->szListCopy[0] = '\0';
    if (pState->szListCopy[0]) {
        FILE* pCopy = fopen(pState->szListCopy, "wb");
        if (pCopy) {
            char buffer[4096];
            size_t cb;
            bCopied = true;
            while ((cb = fread(buffer, 1, sizeof(buffer), pList)) > 0) {
                if (fwrite(buffer, 1, cb, pCopy) != cb) {
                    bCopied = false;
                    break;
                }
            }
            if (ferror(pList))
                bCopied = false;
            if (fclose(pCopy) != 0)
                bCopied = false;
        }
    }
    fclose(pList);
    if (!bCopied) {
        ShowJobText(pJob->m_hWndOwner, "Could not make a working copy of the mailing list in the temporary folder.");
        return false;
    }
    return true;
}

// The composed message's own To, Cc and Bcc, as the host shows them.
void ReadOwnRecipients(SendJob* pJob, SendJobState* pState)
{
    static const struct {
        LPCOLESTR pszMember;
        const char* pszLabel;
    } kFields[] = { { L"To", "To" }, { L"CC", "Cc" }, { L"BCC", "Bcc" } };
    pState->szOwnRecipients[0] = '\0';
    size_t cchUsed = 0;
    for (const auto& field : kFields) {
        char szNames[LC_OWN_RECIPIENTS_CAPACITY] = "";
        try {
            ScopedVariant value;
            if (FAILED(DispTryGetProperty(pJob->m_pParent, field.pszMember, &value)) ||
                V_VT(&value.Get()) != VT_BSTR || V_BSTR(&value.Get()) == NULL)
                continue;
            WideToAnsi(V_BSTR(&value.Get()), szNames, sizeof(szNames));
        } catch (...) {
            continue;
        }
        if (szNames[0] == '\0')
            continue;
        int cch = snprintf(pState->szOwnRecipients + cchUsed, sizeof(pState->szOwnRecipients) - cchUsed, "%s%s: %s",
                           cchUsed ? "; " : "", field.pszLabel, szNames);
        if (cch < 0 || cchUsed + cch >= sizeof(pState->szOwnRecipients))
            break;
        cchUsed += cch;
    }
}

// Before anything goes: the user hears that the composed message's own
// recipients are not written to.
void TellOfOwnRecipients(SendJob* pJob, SendJobState* pState)
{
    ReadOwnRecipients(pJob, pState);
    if (pState->szOwnRecipients[0] == '\0')
        return;
    char szText[LC_OWN_RECIPIENTS_CAPACITY + 256];
    snprintf(szText, sizeof(szText),
             "The composed message has recipients of its own (%s).\n\nThey will not receive the copies; each copy "
             "goes to its list recipient only.",
             pState->szOwnRecipients);
    MessageBoxA(pJob->m_hWndOwner, szText, LC_PRODUCT_NAME, MB_ICONINFORMATION | MB_OK);
}

// More than one column could hold the address: the user confirms the one
// chosen before anything goes.
bool ConfirmAddressColumn(SendJob* pJob, SendJobState* pState)
{
    int nCandidates = CountAddressColumns(&pState->header);
    if (nCandidates <= 1)
        return true;
    char szText[LC_FIELD_NAME_CAPACITY * 2 + 256];
    snprintf(szText, sizeof(szText),
             "The mailing list has %d columns that could hold the e-mail address. Each copy will go to the address "
             "in the column \"%s\".\n\nSend to the addresses in \"%s\"?",
             nCandidates, pState->szAddressColumn, pState->szAddressColumn);
    if (AskJobQuestion(pJob->m_hWndOwner, szText) == IDYES)
        return true;
    NoteStopBeforeLogs("the address column was not confirmed");
    return false;
}

bool MakeHtmlFieldsFor(SendJobState* pState, const ListRecord* pRecord);
bool MergeTexts(SendJob* pJob, SendJobState* pState, const ListRecord* pPlainHeader, const ListRecord* pPlainRecord);

// Placeholders the merge would leave as they stand: one question for all of
// them, before anything goes.
bool ConfirmUnknownPlaceholders(SendJob* pJob, SendJobState* pState)
{
    std::vector<std::string> names;
    // "[[HTML:Name]]" is known in the plain texts too (Outlook's plain body of HTML holds it).
    ListRecord plainHeader;
    InitListRecord(&plainHeader);
    if (MakePlainHeader(&pState->header, &plainHeader)) {
        FindUnknownPlaceholders(pState->pszOriginalSubject, false, &plainHeader, &names);
        FindUnknownPlaceholders(pState->pszOriginalBody, false, &plainHeader, &names);
    }
    FreeListRecord(&plainHeader);
    // HTML is checked against the names it is merged with.
    if (pState->pszOriginalHTMLBody && MakeHtmlFieldsFor(pState, NULL))
        FindUnknownPlaceholders(pState->pszOriginalHTMLBody, true, &pState->htmlHeader, &names);
    std::string question = UnknownPlaceholderQuestion(names);
    if (question.empty() || AskJobQuestion(pJob->m_hWndOwner, question.c_str()) == IDYES)
        return true;
    NoteStopBeforeLogs("placeholders name no field of the mailing list");
    return false;
}

// A quote opened and never closed makes one field of the rest of the file.
bool RefuseUnclosedQuote(SendJob* pJob, int nLine)
{
    char szText[LC_CAUGHT_TEXT_CAPACITY * 3];
    snprintf(szText, sizeof(szText),
             "The record at line %d of the mailing list opens a double quote that is never closed, so the rest "
             "of the file would be read as one field.\n\nClose or remove the quote and send again. No message "
             "was sent.",
             nLine);
    ShowJobText(pJob->m_hWndOwner, szText);
    return false;
}

// Bytes that are no text in the list's encoding, or a control character
// where text belongs (an exporter's stand-in for a character it could not
// write): nothing of the list is sent, since the records after them could
// not be read as they stand.
bool RefuseBadText(SendJob* pJob, int nLine, int nEncoding, int nControlChar)
{
    char szText[LC_CAUGHT_TEXT_CAPACITY * 3];
    if (nControlChar != 0)
        snprintf(szText, sizeof(szText),
                 "Line %d of the mailing list holds the control character 0x%02X where text belongs. Correct the "
                 "line, or save the list again as CSV UTF-8, Unicode Text or CSV, and send again.\n\nNo message "
                 "was sent.",
                 nLine, (unsigned)nControlChar);
    else
        snprintf(szText, sizeof(szText),
                 "Line %d of the mailing list is not valid text in %s. Save the list again as CSV UTF-8, "
                 "Unicode Text or CSV and send again.\n\nNo message was sent.",
                 nLine, ListEncodingName(nEncoding));
    ShowJobText(pJob->m_hWndOwner, szText);
    return false;
}

// No record is usable: the job ends before it opens its logs, and says why.
bool RefuseEmptyList(SendJob* pJob, SendJobState* pState)
{
    char szText[LC_FIELD_NAME_CAPACITY + 512];
    if (pState->nSkipped == 1)
        snprintf(szText, sizeof(szText),
                 "The mailing list has no usable recipient: its one record was skipped, because the column \"%s\" "
                 "holds no e-mail address in it or it has too few fields. Check the list's delimiter, its line ends "
                 "and which column holds the addresses.\n\nNo message was sent.",
                 pState->szAddressColumn);
    else if (pState->nSkipped > 0)
        snprintf(szText, sizeof(szText),
                 "The mailing list has no usable recipient: all %d of its records were skipped, because the "
                 "column \"%s\" holds no e-mail address in them or they have too few fields. Check the list's "
                 "delimiter, its line ends and which column holds the addresses.\n\nNo message was sent.",
                 pState->nSkipped, pState->szAddressColumn);
    else
        snprintf(szText, sizeof(szText), "The mailing list has no recipient after its header.\n\nNo message was sent.");
    ShowJobText(pJob->m_hWndOwner, szText);
    return false;
}

// A record too long to read ends the list early. Sending the recipients
// before it without a word would report the job a success while the rest of
// the list never got the message, so the user decides, before anything goes.
bool ConfirmListCutShort(SendJob* pJob, int nBefore)
{
    char szText[LC_CAUGHT_TEXT_CAPACITY * 3];
    if (nBefore == 0) {
        ShowJobText(pJob->m_hWndOwner, "The mailing list holds a record longer than 32,767 characters before its first "
                                       "recipient, and Lettercast reads a list only up to such a record.\n\n"
                                       "No message was sent.");
        return false;
    }
    snprintf(szText, sizeof(szText),
             "The mailing list holds a record longer than 32,767 characters after its recipient %d, and Lettercast "
             "reads a list only up to such a record.\n\nSend to the %d recipient%s before it?",
             nBefore, nBefore, nBefore == 1 ? "" : "s");
    if (AskJobQuestion(pJob->m_hWndOwner, szText) == IDYES)
        return true;
    NoteStopBeforeLogs("the mailing list is cut short by a record longer than 32,767 characters");
    return false;
}

// Phase D: the counting pass, which also finds the address column and the
// header's raw text for the sent list.
bool CountRecipients(SendJob* pJob, SendJobState* pState)
{
    SetJobPhase("Reading Mailing List");
    if (!TakeListSnapshot(pJob, pState))
        return false;
    ListReader list;
    if (!list.Open(pState->szListCopy, ListDelimiter)) {
        ShowListMessage(pJob->m_hWndOwner, IDS_LIST_OPEN_FAILED, MB_ICONWARNING | MB_OK);
        return false;
    }
    pJob->m_nEmailColumn = -1;
    JobProgress.sentCount = 0;
    pState->szHeaderRaw[0] = '\0';
    pState->nTotal = 0;
    pState->nSkipped = 0;
    bool bHeaderDone = false;
    RecipientFilesCheck files = {};
    {
        SkipWatch watch(&list, CountSkipped, pState);
        while (pJob->NextRecipient(&list, bHeaderDone, pState->szAddress, LC_ADDRESS_CAPACITY,
                                   bHeaderDone ? NULL : pState->szHeaderRaw, LC_RAW_RECORD_CAPACITY, NULL, 0,
                                   &pState->header, &pState->record)) {
            if (!bHeaderDone)
                BeginRecipientFiles(pState, &files);
            CheckRecipientFiles(pState, &files, list.RecordLine());
            ++pState->nTotal;
            bHeaderDone = true;
        }
    }
    list.Close();
    pState->bListCutShort = list.CutShort();
    JobProgress.skippedCount = pState->nSkipped;
    JobProgress.totalCount = pState->nTotal;

    pState->nListEncoding = list.Encoding();
    if (list.BadTextLine() > 0)
        return RefuseBadText(pJob, list.BadTextLine(), list.Encoding(), list.BadTextChar());
    if (list.UnclosedQuoteLine() > 0)
        return RefuseUnclosedQuote(pJob, list.UnclosedQuoteLine());
    if (pJob->m_nEmailColumn == -1) {
        ShowListMessage(pJob->m_hWndOwner, IDS_NO_EMAIL_FIELD, MB_ICONWARNING | MB_OK);
        if (ShowListMessage(pJob->m_hWndOwner, IDS_ASK_MAILING_LIST_HELP, MB_ICONQUESTION | MB_YESNO) == IDYES)
            ShowHelpTopic(pJob->m_hWndOwner, IDS_TOPIC_MAILING_LISTS);
        return false;
    }
    if (pJob->m_nEmailColumn < pState->header.nCount)
    {
        CopyOneLine(pState->szAddressColumn, sizeof(pState->szAddressColumn),
                    pState->header.ppszFields[pJob->m_nEmailColumn]);
        // Shown in boxes and logs, both in the ANSI code page.
        Utf8ToAnsiInPlace(pState->szAddressColumn);
    }
    if (pState->bListCutShort && !ConfirmListCutShort(pJob, pState->nTotal))
        return false;
    if (pState->nTotal == 0)
        return RefuseEmptyList(pJob, pState);
    if (!ConfirmAddressColumn(pJob, pState))
        return false;
    if (!ConfirmRecipientFiles(pJob, pState, &files))
        return false;
    if (!ConfirmUnknownPlaceholders(pJob, pState))
        return false;
    TellOfOwnRecipients(pJob, pState);
    OfferResume(pJob, pState, pState->pResume);
    return true;
}

// Phase E: the three logs with their start blocks, and the list again for
// the sending pass.
bool OpenLogs(SendJob* pJob, SendJobState* pState)
{
    SetJobPhase("Opening Logs");
    AccumulateRunTime(&pState->dwLastTick, &JobProgress.runTimeMs);

    // The last job's log and sent list, when it did not complete, are kept
    // as the record of its list before they are replaced: another job in
    // between must not make it lose its resume.
    KeepIncompleteJob(JobOptions.ToList, pState->pResume);
    pState->pCurrentLog = gszCurrentJobPath[0] ? fopen(gszCurrentJobPath, "w") : NULL;
    if (pState->pCurrentLog == NULL) {
        ShowListMessage(pJob->m_hWndOwner, IDS_CURRENT_LOG_FAILED, MB_ICONWARNING | MB_OK);
        return false;
    }
    // From here on the last job's record is replaced, the sent list with it.
    JobProgress.logsOpened = true;
    if (gszSentListPath[0])
        DeleteFileA(gszSentListPath);
    // The logs are in the ANSI code page; what it cannot hold shows as '?'.
    BSTR bstrSubject = CodePageToBstr(pState->pszOriginalSubject, CP_UTF8);
    char* pszLogSubject = bstrSubject ? WideToAnsiHeap(bstrSubject) : NULL;
    SysFreeString(bstrSubject);
    const char* pszSubjectForLogs = pszLogSubject ? pszLogSubject : pState->pszOriginalSubject;
    WriteJobStart(pState->pCurrentLog, pszSubjectForLogs, pState->nTotal, pState->szAddressColumn);
    LogRecipientFilesStart(pState->pCurrentLog, pState);
    if (pState->bListCutShort)
        LogJobText(pState->pCurrentLog, "\tMailing list read up to a record longer than 32,767 characters");
    if (pState->szOwnRecipients[0]) {
        char szLine[LC_OWN_RECIPIENTS_CAPACITY + 96];
        snprintf(szLine, sizeof(szLine), "\tThe composed message's own recipients get no copy: %s",
                 pState->szOwnRecipients);
        LogJobText(pState->pCurrentLog, szLine);
    }
    const ResumePlan* pResume = pState->pResume;
    char szResumed[LC_RESUME_DATE_CAPACITY + 96] = "";
    if (pResume->bResumed) {
        snprintf(szResumed, sizeof(szResumed), "\tResumed: %d recipient%s already sent on (%s)", pResume->nEarlier,
                 pResume->nEarlier == 1 ? "" : "s", pResume->szStarted);
        LogJobText(pState->pCurrentLog, szResumed);
    }

    pState->pHistory = gszJobHistoryPath[0] ? fopen(gszJobHistoryPath, "a+") : NULL;
    if (pState->pHistory == NULL) {
        free(pszLogSubject);
        ShowListMessage(pJob->m_hWndOwner, IDS_HISTORY_LOG_FAILED, MB_ICONWARNING | MB_OK);
        return false;
    }
    WriteJobStart(pState->pHistory, pszSubjectForLogs, pState->nTotal, pState->szAddressColumn);
    LogRecipientFilesStart(pState->pHistory, pState);
    free(pszLogSubject);
    if (szResumed[0])
        LogJobText(pState->pHistory, szResumed);

    if (!OpenSentList(gszSentListPath, pState->nListEncoding, &pState->sentList)) {
        ShowListMessage(pJob->m_hWndOwner, IDS_SENT_LOG_FAILED, MB_ICONWARNING | MB_OK);
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

    pState->pList = new (std::nothrow) ListReader;
    if (pState->pList == NULL || !pState->pList->Open(pState->szListCopy, ListDelimiter)) {
        ShowListMessage(pJob->m_hWndOwner, IDS_LIST_OPEN_FAILED, MB_ICONWARNING | MB_OK);
        return false;
    }
    return true;
}

char* AllocateCopy(const char* pszOriginal)
{
    return (char*)calloc(strlen(pszOriginal) + 1, 1);
}

// Phase F.
bool AllocateWorkingCopies(SendJob* pJob, SendJobState* pState)
{
    pState->pszSubjectCopy = AllocateCopy(pState->pszOriginalSubject);
    if (pState->pszSubjectCopy == NULL) {
        ShowJobText(pJob->m_hWndOwner, "Failed to allocate subject copy memory");
        return false;
    }
    pState->pszBodyCopy = AllocateCopy(pState->pszOriginalBody);
    if (pState->pszBodyCopy == NULL) {
        ShowJobText(pJob->m_hWndOwner, "Failed to allocate body copy memory");
        return false;
    }
    if (pState->pszOriginalHTMLBody) {
        pState->pszHTMLCopy = AllocateCopy(pState->pszOriginalHTMLBody);
        if (pState->pszHTMLCopy == NULL) {
            ShowJobText(pJob->m_hWndOwner, "Failed to allocate HTML body copy memory");
            return false;
        }
        for (const unsigned char* p = (const unsigned char*)pState->pszOriginalHTMLBody; *p; ++p) {
            if (*p & 0x80) {
                pState->bNonAsciiHtml = true;
                break;
            }
        }
    }
    pState->nJobStep = 2;
    pState->nCalls = 0;
    pState->nSinceSendReceive = 0;
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

// G.3: the pause before every message but the first, in steps of 100 ms.
bool PauseBetweenMessages(SendJobState* pState)
{
    if (JobProgress.sentCount <= 0 || JobOptions.Pause <= 0)
        return true;
    SetJobStatus("Pausing Between Mails", JobProgress.sentCount + 1, pState->nTotal);
    int nSteps = JobOptions.Pause * 10;
    for (int i = 0; i < nSteps; ++i) {
        Sleep(100);
        AccumulateRunTime(&pState->dwLastTick, &JobProgress.runTimeMs);
        if (!PumpAndCheckJob(pState->pCurrentLog))
            return false;
        pState->dwLastTick = GetTickCount();
    }
    return true;
}

// One field, already HTML text in UTF-8, as HTML of the given code page
// holds it (Utf8ToHtmlCodePage).
bool AddHtmlField(ListRecord* pTo, const char* pszUtf8, UINT uCodePage)
{
    char* pszOut = Utf8ToHtmlCodePage(pszUtf8, uCodePage);
    bool bAdded = pszOut && AddListField(pTo, pszOut, strlen(pszOut));
    free(pszOut);
    return bAdded;
}

bool EncodeFieldsForHtml(const ListRecord* pFrom, ListRecord* pTo, UINT uCodePage)
{
    ClearListRecord(pTo);
    for (int i = 0; i < pFrom->nCount; ++i) {
        if (!AddHtmlField(pTo, pFrom->ppszFields[i], uCodePage))
            return false;
    }
    return true;
}

// The header (and, with pRecord, the recipient's fields) as a text of HTML is
// merged with them: names and values as HTML text, then the "HTML:" names
// with the values as markup (mailing/html_text.h), in the HTML's code page.
bool MakeHtmlFieldsFor(SendJobState* pState, const ListRecord* pRecord)
{
    ListRecord escaped;
    InitListRecord(&escaped);
    bool bMade = MakeHtmlHeader(&pState->header, &escaped) &&
                 EncodeFieldsForHtml(&escaped, &pState->htmlHeader, pState->uHtmlCodePage);
    if (bMade && pRecord)
        bMade = MakeHtmlRecord(pRecord, pState->header.nCount, &escaped) &&
                EncodeFieldsForHtml(&escaped, &pState->htmlRecord, pState->uHtmlCodePage);
    FreeListRecord(&escaped);
    return bMade;
}

// G.5: subject, body and HTML merged for this recipient.
bool MergeRecipient(SendJob* pJob, SendJobState* pState)
{
    // Values land in HTML as text that shows them, "[[HTML:Name]]" as markup.
    if (pState->pszOriginalHTMLBody && !MakeHtmlFieldsFor(pState, &pState->record))
        return false;
    // In the subject and the plain body "[[HTML:Name]]" is the value as it stands.
    ListRecord plainHeader, plainRecord;
    InitListRecord(&plainHeader);
    InitListRecord(&plainRecord);
    bool bMerged = MakePlainHeader(&pState->header, &plainHeader) &&
                   MakePlainRecord(&pState->record, pState->header.nCount, &plainRecord) &&
                   MergeTexts(pJob, pState, &plainHeader, &plainRecord);
    FreeListRecord(&plainHeader);
    FreeListRecord(&plainRecord);
    return bMerged;
}

// The three texts, each merged with its own fields, the limits judged on the
// list's own.
bool MergeTexts(SendJob* pJob, SendJobState* pState, const ListRecord* pPlainHeader, const ListRecord* pPlainRecord)
{
    struct Text {
        const char* pszOriginal;
        char** ppszCopy;
        const ListRecord* pHeader;
        const ListRecord* pRecord;
    } texts[] = {
        { pState->pszOriginalSubject, &pState->pszSubjectCopy, pPlainHeader, pPlainRecord },
        { pState->pszOriginalBody, &pState->pszBodyCopy, pPlainHeader, pPlainRecord },
        { pState->pszOriginalHTMLBody, &pState->pszHTMLCopy, &pState->htmlHeader, &pState->htmlRecord },
    };
    for (const Text& text : texts) {
        if (text.pszOriginal == NULL)
            continue;
        MergeResult result = MergeHtmlIntoCopy(text.pszOriginal, &pState->header, &pState->record, text.pHeader,
                                               text.pRecord, text.ppszCopy);
        if (result == MergeNoMemory)
            return false;
        if (result == MergeFailed) {
            LogMergeError(pState->pCurrentLog);
            ShowListMessage(pJob->m_hWndOwner, IDS_MERGE_FAILED, MB_ICONWARNING | MB_OK);
            return false;
        }
    }
    // A subject is one line: a multi-line value's line breaks become spaces.
    MakeOneLine(pState->pszSubjectCopy);
    return true;
}

void CopyAddress(char* pszOut, const char* pszAddress)
{
    size_t cch = strlen(pszAddress);
    if (cch >= LC_ADDRESS_CAPACITY)
        cch = LC_ADDRESS_CAPACITY - 1;
    memcpy(pszOut, pszAddress, cch);
    pszOut[cch] = '\0';
}

// Phase G; false when the job ends before the list does.
bool SendToEveryRecipient(SendJob* pJob, SendJobState* pState)
{
    SkipWatch watch(pState->pList, LogSkipped, pState);
    for (;;) {
        bool bHeaderDone = pState->nCalls > 0;
        if (!pJob->NextRecipient(pState->pList, bHeaderDone, pState->szAddress, LC_ADDRESS_CAPACITY, NULL, 0,
                                 pState->szRecordRaw, LC_RAW_RECORD_CAPACITY, NULL, &pState->record))
            return true;
        if (++pState->nCalls > pState->nTotal)
            return true;
        // Its record is in the sent list already.
        if (AlreadySent(pState->pResume, pState->nCalls)) {
            ++pState->pResume->nPassedOver;
            continue;
        }

        AccumulateRunTime(&pState->dwLastTick, &JobProgress.runTimeMs);
        if (!PumpAndCheckJob(pState->pCurrentLog))
            return false;
        pState->dwLastTick = GetTickCount();

        pState->nJobStep = 3;
        if (!PauseBetweenMessages(pState))
            return false;

        pState->nJobStep = 4;
        if (SendReceiveDue(pState)) {
            SetJobStatus("Issuing a Send/Receive", JobProgress.sentCount + 1, pState->nTotal);
            SendReceiveIgnoringErrors();
            pState->nSinceSendReceive = 0;
        }

        pState->nJobStep = 5;
        SetJobStatus("Creating Message", JobProgress.sentCount + 1, pState->nTotal);
        if (!MergeRecipient(pJob, pState))
            return false;

        CopyAddress(pState->szDisplayName, pState->szAddress);
        CopyAddress(pState->szRecipientAddress, pState->szAddress);

        pState->nJobStep = 6;
        pState->nCopyRetries = 0;
        pState->bSubmitLogged = false;
        NoteRecordInFlight(pState->pResume, pState->szHeaderRaw, pState->szRecordRaw);
        RecipientOutcome outcome = SendRecipientCopy(pJob, pState);
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
            continue;
        }

        ++pState->nSinceSendReceive;
        pState->nJobStep = 17;
        LogMessageSent(pState->pCurrentLog, RecipientNumber(), pState->szAddress, pState->nAttachedFiles);
        ++JobProgress.sentCount;
        WriteSentListRecord(&pState->sentList, pState->szRecordRaw);
        ReleaseRecipientObjects(pState);
    }
}

// Every counted recipient sent, from a list read to its end: a list cut
// short left recipients after the long record without the message.
bool JobCompleted(const SendJobState* pState)
{
    return JobProgress.sentCount + pState->pResume->nPassedOver == pState->nTotal && !pState->bListCutShort;
}

// Phase H.
void EndOfList(SendJobState* pState)
{
    pState->nJobStep = 18;
    if (SendReceiveDue(pState)) {
        SetJobStatus("Issuing a Send/Receive", JobProgress.sentCount, pState->nTotal);
        SendReceiveIgnoringErrors();
    }
    ReleaseRecipientObjects(pState);
    pState->bSuccess = JobCompleted(pState);
}

void ReportUnknownError(SendJob* pJob, SendJobState* pState, const _com_error* pError)
{
    char szText[LC_CAUGHT_TEXT_CAPACITY];
    snprintf(szText, sizeof(szText), "Unknown error caught during message %d at line %d",
             RecipientNumber(), pState->nJobStep);
    if (pError)
        ReportComError(*pError, pState->pCurrentLog, szText);
    else
        LogJobText(pState->pCurrentLog, szText);
    ShowJobText(pJob->m_hWndOwner, szText);
}

// Phases F to H, with the handlers for whatever their own stretches did not catch.
void SendPhases(SendJob* pJob, SendJobState* pState)
{
    try {
        if (!AllocateWorkingCopies(pJob, pState))
            return;
        if (!SendToEveryRecipient(pJob, pState))
            return;
        EndOfList(pState);
        return;
    } catch (const _com_error& error) {
        ReportUnknownError(pJob, pState, &error);
    } catch (...) {
        ReportUnknownError(pJob, pState, NULL);
    }
    pState->bSuccess = JobCompleted(pState);
}

// Phase I: every way out after the first checks.
void FinishJob(SendJobState* pState, bool bMapiTried)
{
    ReleaseRecipientObjects(pState);
    free(pState->pszOriginalSubject);
    free(pState->pszOriginalBody);
    free(pState->pszOriginalHTMLBody);
    free(pState->pszSubjectCopy);
    free(pState->pszBodyCopy);
    free(pState->pszHTMLCopy);
    delete pState->pList;
    pState->pList = NULL;
    CloseSentList(&pState->sentList);
    // The list is done with: no resume is offered for it any more.
    if (pState->bSuccess)
        ForgetIncompleteJob(JobOptions.ToList);
    if (pState->pHistory) {
        WriteJobEnd(pState->pHistory, pState->bSuccess, JobProgress.sentCount);
        fclose(pState->pHistory);
    }
    if (pState->pCurrentLog) {
        WriteJobEnd(pState->pCurrentLog, pState->bSuccess, JobProgress.sentCount);
        fclose(pState->pCurrentLog);
    }
    if (pState->szListCopy[0])
        DeleteFileA(pState->szListCopy);
    FreeListRecord(&pState->header);
    FreeListRecord(&pState->record);
    FreeListRecord(&pState->htmlHeader);
    FreeListRecord(&pState->htmlRecord);
    PostMessageA(JobProgress.dialogWnd, WM_JOBDONE, pState->bSuccess ? 1 : 0, 0);
    if (bMapiTried)
        UnbindMapi();
}

}  // namespace

namespace {

// The profile's own address: an Exchange user's primary SMTP address, else
// the current user's address entry's, else the recipient's own.
bool ReadOwnAddress(char* pszAddress, int cchAddress)
{
    pszAddress[0] = '\0';
    if (gpApplication == NULL)
        return false;
    try {
        ScopedVariant session, user, entry;
        DispGetProperty(gpApplication, L"Session", &session);
        ComHolder<IDispatch> pSession(VariantDispatch(session.Get()));
        if (pSession.Get() == NULL)
            return false;
        DispGetProperty(pSession, L"CurrentUser", &user);
        ComHolder<IDispatch> pUser(VariantDispatch(user.Get()));
        if (pUser.Get() == NULL)
            return false;
        ScopedVariant address;
        if (SUCCEEDED(DispTryGetProperty(pUser, L"AddressEntry", &entry))) {
            ComHolder<IDispatch> pEntry(VariantDispatch(entry.Get()));
            ScopedVariant type;
            if (pEntry.Get() && SUCCEEDED(DispTryGetProperty(pEntry, L"Type", &type)) && V_VT(&type.Get()) == VT_BSTR &&
                V_BSTR(&type.Get()) && wcscmp(V_BSTR(&type.Get()), L"EX") == 0) {
                ScopedVariant exchange;
                if (SUCCEEDED(DispTryCallMethod(pEntry, L"GetExchangeUser", NULL, 0, &exchange))) {
                    ComHolder<IDispatch> pExchange(VariantDispatch(exchange.Get()));
                    if (pExchange.Get())
                        DispTryGetProperty(pExchange, L"PrimarySmtpAddress", &address);
                }
            } else if (pEntry.Get()) {
                DispTryGetProperty(pEntry, L"Address", &address);
            }
        }
        if (V_VT(&address.Get()) != VT_BSTR || V_BSTR(&address.Get()) == NULL || !V_BSTR(&address.Get())[0]) {
            ScopedVariant own;
            if (FAILED(DispTryGetProperty(pUser, L"Address", &own)) || V_VT(&own.Get()) != VT_BSTR ||
                V_BSTR(&own.Get()) == NULL)
                return false;
            WideToAnsi(V_BSTR(&own.Get()), pszAddress, cchAddress);
        } else {
            WideToAnsi(V_BSTR(&address.Get()), pszAddress, cchAddress);
        }
    } catch (...) {
        pszAddress[0] = '\0';
    }
    return strchr(pszAddress, '@') != NULL;
}

// The list read up to its recipient nIndex, into the state's header and record.
bool ReadTestRecipient(SendJob* pJob, SendJobState* pState, const char* pszListPath, int nIndex)
{
    ListReader list;
    if (!list.Open(pszListPath, ListDelimiter))
        return false;
    pJob->m_nEmailColumn = -1;
    bool bHeaderDone = false, bFound = false;
    for (int n = 1; pJob->NextRecipient(&list, bHeaderDone, pState->szAddress, LC_ADDRESS_CAPACITY, NULL, 0, NULL, 0,
                                         &pState->header, &pState->record);
         ++n) {
        bHeaderDone = true;
        if (n == nIndex) {
            bFound = true;
            break;
        }
    }
    list.Close();
    return bFound;
}

}  // namespace

bool SendJob::SendTestCopy(HWND hWndOwner, const char* pszListPath, int nIndex, char* pszResult, int cchResult)
{
    snprintf(pszResult, cchResult, "%s", "");
    if (m_pParent == NULL || m_pMAPIMessage == NULL) {
        snprintf(pszResult, cchResult, "The message cannot be read.");
        return false;
    }
    m_hWndOwner = hWndOwner;
    // Two raw records of the longest kind: too much for the host's stack.
    SendJobState* pState = (SendJobState*)malloc(sizeof(SendJobState));
    if (pState == NULL) {
        snprintf(pszResult, cchResult, "Out of memory.");
        return false;
    }
    SendJobState& state = *pState;
    InitSendJobState(&state);
    ResumePlan resume = {};
    state.pResume = &resume;
    char szOwn[LC_ADDRESS_CAPACITY];
    bool bSent = false;
    // The copy's own failure lines go to a scratch file that is deleted: the
    // test writes no log.
    char szTempDir[MAX_PATH], szScratch[MAX_PATH] = "";
    DWORD cchTemp = GetTempPathA(sizeof(szTempDir), szTempDir);
    if (cchTemp > 0 && cchTemp < sizeof(szTempDir) && GetTempFileNameA(szTempDir, "lct", 0, szScratch) != 0)
        state.pCurrentLog = fopen(szScratch, "w");
    if (!ReadOwnAddress(szOwn, sizeof(szOwn))) {
        snprintf(pszResult, cchResult, "Outlook gives no e-mail address of your own.");
    } else if (state.pCurrentLog == NULL) {
        snprintf(pszResult, cchResult, "Could not make a scratch file in the temporary folder.");
    } else if (!ReadTestRecipient(this, &state, pszListPath, nIndex)) {
        snprintf(pszResult, cchResult, "The mailing list has no recipient %d.", nIndex);
    } else if (BindMapi()) {
        // The recipient's copy, files included.
        BeginTestCopyFiles(&state, pszListPath);
        try {
            if (CaptureOriginal(this, &state) && AllocateWorkingCopies(this, &state) && MergeRecipient(this, &state)) {
                std::string subject = std::string("[Test] ") + state.pszSubjectCopy;
                free(state.pszSubjectCopy);
                state.pszSubjectCopy = _strdup(subject.c_str());
                CopyAddress(state.szAddress, szOwn);
                CopyAddress(state.szDisplayName, szOwn);
                CopyAddress(state.szRecipientAddress, szOwn);
                if (state.pszSubjectCopy) {
                    RecipientOutcome outcome = SendRecipientCopy(this, &state);
                    bSent = outcome == RecipientCompleted;
                    if (!bSent)
                        snprintf(pszResult, cchResult, "The test copy was not sent%s%s", state.szNotSentReason[0] ? ": " : ".",
                                 state.szNotSentReason);
                }
            }
        } catch (...) {
            bSent = false;
            snprintf(pszResult, cchResult, "The test copy was not sent: an unexpected error was caught.");
        }
        UnbindMapi();
    }
    if (bSent)
        snprintf(pszResult, cchResult, "A test copy for recipient %d was sent to %s.", nIndex, szOwn);
    ReleaseRecipientObjects(&state);
    free(state.pszOriginalSubject);
    free(state.pszOriginalBody);
    free(state.pszOriginalHTMLBody);
    free(state.pszSubjectCopy);
    free(state.pszBodyCopy);
    free(state.pszHTMLCopy);
    if (state.pCurrentLog)
        fclose(state.pCurrentLog);
    if (szScratch[0])
        DeleteFileA(szScratch);
    FreeListRecord(&state.header);
    FreeListRecord(&state.record);
    FreeListRecord(&state.htmlHeader);
    FreeListRecord(&state.htmlRecord);
    free(pState);
    return bSent;
}

void SendJob::Run()
{
    // Two raw records of the longest kind: too much for the host's stack.
    SendJobState* pState = (SendJobState*)malloc(sizeof(SendJobState));
    if (pState == NULL) {
        ShowStringMessage(GetDesktopWindow(), IDS_OUT_OF_MEMORY, LC_PRODUCT_NAME, MB_ICONWARNING | MB_OK);
        PostMessageA(JobProgress.dialogWnd, WM_JOBDONE, 0, 0);
        return;
    }
    SendJobState& state = *pState;
    InitSendJobState(&state);
    ResumePlan resume = {};
    state.pResume = &resume;
    bool bMapiTried = false;
    ResetJobReport();

    if (m_pParent == NULL)
        ShowJobText(GetDesktopWindow(), "Error: m_pParent == NULL");
    if (m_pMAPIMessage == NULL)
        ShowJobText(GetDesktopWindow(), "Error: m_pMAPIMessage == NULL");
    if (m_pParent != NULL && m_pMAPIMessage != NULL) {
        if (m_hWndOwner == NULL)
            m_hWndOwner = GetDesktopWindow();
        bMapiTried = true;
        if (BindMapi()) {
            state.dwLastTick = GetTickCount();
            JobProgress.runTimeMs = 0;
            if (CaptureOriginal(this, &state) && CountRecipients(this, &state) && OpenLogs(this, &state))
                SendPhases(this, &state);
        }
    }
    FinishJob(&state, bMapiTried);
    free(pState);
}
