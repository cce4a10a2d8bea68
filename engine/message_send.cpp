#include "engine/message_send.h"

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "addin/host_state.h"
#include "engine/com_holder.h"
#include "engine/engine_report.h"
#include "engine/host_dispatch.h"
#include "engine/job_progress.h"
#include "engine/mapi_binding.h"
#include "engine/recipient_files.h"
#include "logs/job_log.h"
#include "engine/send_job_state.h"
#include "engine/server_pushback.h"
#include "mailing/text_conversion.h"
#include "resources/product.h"

namespace {

#define LC_COPY_RETRY_LIMIT 10

void FreeMapiBuffer(SPropValue* pValue)
{
    MapiBinding.MAPIFreeBuffer(pValue);
}

void FreeAddressList(ADRLIST* pList)
{
    MapiBinding.FreePadrlist(pList);
}

void FreeRowSet(SRowSet* pRows)
{
    MapiBinding.FreeProws(pRows);
}

// MAPI memory given back on every way out, including an exception raised by
// the store while it is held.
template <class T, void (*pfnFree)(T*)>
using MapiHeld = Held<T, pfnFree>;


void LogAndShowRecipientText(SendJobState* pState, const char* pszFormat, const char* pszAddress)
{
    char szText[LC_RECIPIENT_TEXT_CAPACITY];
    snprintf(szText, sizeof(szText), pszFormat, pszAddress);
    LogJobText(pState->pCurrentLog, szText);
    ShowJobText(pState->hWndOwner, szText);
}

// The store's own text for a failure of pMessage, or empty.
std::string MessageErrorText(IMessage* pMessage, HRESULT hr)
{
    std::string text;
    LPMAPIERROR pError = NULL;
    if (pMessage && SUCCEEDED(pMessage->GetLastError(hr, 0, &pError)) && pError) {
        if (pError->lpszError)
            text = (const char*)pError->lpszError;
        MapiBinding.MAPIFreeBuffer(pError);
    }
    return text;
}

// The server refuses more mail for now: the job stops after this recipient.
void NotePushBack(SendJobState* pState, const char* pszWhat, HRESULT hr, const std::string& text)
{
    if (text.empty())
        snprintf(pState->szPushBack, sizeof(pState->szPushBack), "%s (0x%08lX)", pszWhat, (unsigned long)hr);
    else
        snprintf(pState->szPushBack, sizeof(pState->szPushBack), "%s (0x%08lX: %s)", pszWhat, (unsigned long)hr,
                 text.c_str());
}

// "... during message %d" texts of the caught stretches.
void FormatCaught(char* pszText, const char* pszFormat, int nMessage)
{
    snprintf(pszText, LC_CAUGHT_TEXT_CAPACITY, pszFormat, nMessage);
}

int MessageNumber()
{
    return RecipientNumber();
}

IMessage* MessageOfItem(IDispatch* pItem)
{
    ScopedVariant object;
    DispGetProperty(pItem, L"MAPIOBJECT", &object);
    return (IMessage*)QueryVariantInterface(object.Get(), IID_IMessage);
}

// StepCopy: Copy, with an exception retried after a second, 11 attempts in all.
bool MakeCopy(SendJobState* pState)
{
    for (;;) {
        char szText[LC_CAUGHT_TEXT_CAPACITY];
        try {
            ReleaseRecipientObjects(pState);
            ScopedVariant copy;
            DispCallMethod(pState->pParent, L"Copy", NULL, 0, &copy);
            pState->pCopy.Reset(VariantDispatch(copy.Get()));
            if (pState->pCopy == NULL) {
                ShowJobText(pState->hWndOwner, "Failed to make a copy of message");
                return false;
            }
            return true;
        } catch (const _com_error& error) {
            ++pState->nCopyRetries;
            snprintf(szText, sizeof(szText), "Caught exception during message copy A: %d (%d)", MessageNumber(),
                     pState->nCopyRetries);
            ReportComError(error, pState->pCurrentLog, szText);
        } catch (...) {
            ++pState->nCopyRetries;
            snprintf(szText, sizeof(szText), "Caught exception during message copy B: %d (%d)", MessageNumber(),
                     pState->nCopyRetries);
            LogJobText(pState->pCurrentLog, szText);
        }
        if (pState->nCopyRetries > LC_COPY_RETRY_LIMIT) {
            ShowJobText(pState->hWndOwner, szText);
            return false;
        }
        Sleep(1000);
    }
}

// The job's texts are UTF-8; stored HTML bytes are in their own code page.
void PutText(IDispatch* pItem, LPCOLESTR pszMember, const char* pszText, UINT uCodePage = CP_UTF8)
{
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = CodePageToBstr(pszText, uCodePage);
    DispTryPutProperty(pItem, pszMember, value);
    VariantClear(&value);
}

bool StoreTakesHtml(IMessage* pMessage)
{
    SizedSPropTagArray(1, tags) = { 1, { PR_STORE_SUPPORT_MASK } };
    ULONG cValues = 0;
    LPSPropValue pValues = NULL;
    ULONG ulMask = 0;
    if (pMessage->GetProps((LPSPropTagArray)&tags, 0, &cValues, &pValues) == S_OK && pValues && cValues >= 1)
        ulMask = pValues[0].Value.l;
    if (pValues)
        MapiBinding.MAPIFreeBuffer(pValues);
    return (ulMask & STORE_HTML_OK) != 0;
}

// The three steps of writing one property through its stream.
struct StreamSteps {
    JobStep open, write, commit;
};
const StreamSteps kHtmlStreamSteps = { StepHtmlStreamOpen, StepHtmlStreamWrite, StepHtmlStreamCommit };
const StreamSteps kPlainStreamSteps = { StepPlainStreamOpen, StepPlainStreamWrite, StepPlainStreamCommit };

// Writes a property through its stream: open, write the bytes, then commit,
// for a message keeps a stream's writes only once committed. True when every
// call said exactly S_OK.
bool WritePropertyStream(SendJobState* pState, ULONG ulTag, const char* pszText, const StreamSteps& steps,
                         ULONG cbText = 0)
{
    pState->nJobStep = steps.open;
    ComHolder<IStream> stream;
    if (FAILED(pState->pCurrentMessage->OpenProperty(ulTag, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY,
                                                     (LPUNKNOWN*)stream.Receive())) ||
        stream.Get() == NULL)
        return false;
    pState->nJobStep = steps.write;
    ULONG cbWritten = 0;
    if (cbText == 0)
        cbText = (ULONG)strlen(pszText) + 1;
    if (stream->Write(pszText, cbText, &cbWritten) != S_OK)
        return false;
    pState->nJobStep = steps.commit;
    return stream->Commit(STGC_DEFAULT) == S_OK;
}

// The stream steps, within StepBody: non-ASCII HTML written as the stored
// bytes, where the store takes them. Written so, the HTML leaves the copy's plain body as the original's,
// placeholders and all, and a transport sends that body as the text/plain
// alternative: the merged plain body goes in first, and the HTML, the body
// the message is read in, last.
bool WriteHtmlProperty(SendJobState* pState)
{
    if (!StoreTakesHtml(pState->pCurrentMessage))
        return false;
    // The plain body as Unicode: the merged values may be beyond the ANSI code page.
    BSTR bstrBody = CodePageToBstr(pState->pszBodyCopy, CP_UTF8);
    if (bstrBody == NULL)
        return false;
    bool bWritten = WritePropertyStream(pState, PR_BODY_W, (const char*)bstrBody, kPlainStreamSteps,
                                        (SysStringLen(bstrBody) + 1) * sizeof(wchar_t));
    SysFreeString(bstrBody);
    return bWritten && WritePropertyStream(pState, PR_HTML, pState->pszHTMLCopy, kHtmlStreamSteps);
}

// StepBody: HTMLBody, when it is put, makes the plain body from the merged HTML.
void FillBody(SendJobState* pState)
{
    pState->nJobStep = StepBody;
    if (pState->pszOriginalHTMLBody) {
        bool bWritten = pState->bNonAsciiHtml && WriteHtmlProperty(pState);
        if (!bWritten)
            PutText(pState->pCopy, L"HTMLBody", pState->pszHTMLCopy,
                    pState->uHtmlCodePage == CP_UTF8 ? CP_UTF8 : CP_ACP);
    } else {
        PutText(pState->pCopy, L"Body", pState->pszBodyCopy);
    }
}

bool AllocateString(LPVOID pParent, const char* pszText, LPSTR* ppszOut)
{
    size_t cb = strlen(pszText) + 1;
    if (FAILED(MapiBinding.MAPIAllocateMore((ULONG)cb, pParent, (LPVOID*)ppszOut)) || *ppszOut == NULL)
        return false;
    memcpy(*ppszOut, pszText, cb);
    return true;
}

// One entry of the copy's recipient list.
struct CopyRecipient {
    const char* pszAddress;
    const char* pszDisplayName;
    LONG nType;
};

// Every recipient of the copy: its list recipient, then the record's Cc and
// Bcc, nobody else.
std::vector<CopyRecipient> CopyRecipients(const SendJobState* pState)
{
    std::vector<CopyRecipient> recipients;
    recipients.push_back({ pState->szRecipientAddress, pState->szDisplayName, MAPI_TO });
    static const struct {
        int nKind;
        LONG nType;
    } kKinds[] = { { CopyCc, MAPI_CC }, { CopyBcc, MAPI_BCC } };
    for (const auto& kind : kKinds) {
        for (const std::string& address : pState->list.CopyAddresses().Addresses(kind.nKind))
            recipients.push_back({ address.c_str(), address.c_str(), kind.nType });
    }
    return recipients;
}

// StepRecipientAllocated: one entry's five SMTP values, in a block of their own.
bool FillRecipientEntry(SendJobState* pState, LPADRLIST pList, ADRENTRY* pEntry, const CopyRecipient& recipient)
{
    LPSPropValue pValues = NULL;
    HRESULT hr = MapiBinding.MAPIAllocateBuffer(5 * sizeof(SPropValue), (LPVOID*)&pValues);
    if (FAILED(hr) || pValues == NULL) {
        LogAndShowRecipientText(pState, "Failed to allocate SPropValue: %s", pState->szRecipientAddress);
        return false;
    }
    memset(pValues, 0, 5 * sizeof(SPropValue));
    pEntry->rgPropVals = pValues;
    pEntry->cValues = 5;

    static const char* const kStringFailures[] = {
        "Failed to allocate more MAPI memory",
        "Failed (2) to allocate more MAPI memory",
        "Failed (3) to allocate more MAPI memory",
    };
    const char* pszStrings[] = { recipient.pszAddress, recipient.pszDisplayName, "SMTP" };
    LPSTR pszCopies[3] = { NULL, NULL, NULL };
    for (int i = 0; i < 3; ++i) {
        if (!AllocateString(pList, pszStrings[i], &pszCopies[i])) {
            ShowJobText(pState->hWndOwner, kStringFailures[i]);
            return false;
        }
    }
    pValues[0].ulPropTag = PR_EMAIL_ADDRESS_A;
    pValues[0].Value.lpszA = pszCopies[0];
    pValues[1].ulPropTag = PR_DISPLAY_NAME_A;
    pValues[1].Value.lpszA = pszCopies[1];
    pValues[2].ulPropTag = PR_RECIPIENT_TYPE;
    pValues[2].Value.l = recipient.nType;
    pValues[3].ulPropTag = PR_ADDRTYPE_A;
    pValues[3].Value.lpszA = pszCopies[2];
    pValues[4].ulPropTag = PR_SEND_RICH_INFO;
    pValues[4].Value.b = FALSE;
    return true;
}

// StepRecipientAllocated and StepModifyRecipients: the copy's SMTP
// recipients, its list recipient first.
bool AddRecipient(SendJobState* pState)
{
    pState->nJobStep = StepRecipientAllocated;
    std::vector<CopyRecipient> recipients = CopyRecipients(pState);
    ULONG cEntries = (ULONG)recipients.size();
    MapiHeld<ADRLIST, FreeAddressList> list;
    HRESULT hr = MapiBinding.MAPIAllocateBuffer(CbNewADRLIST(cEntries), (LPVOID*)list.Receive());
    LPADRLIST pList = list.Get();
    if (FAILED(hr) || pList == NULL) {
        char szText[LC_RECIPIENT_TEXT_CAPACITY];
        snprintf(szText, sizeof(szText), "Failed to allocate ADRLIST: %s, %X, %d", pState->szRecipientAddress,
                 (unsigned)hr, (int)CbNewADRLIST(cEntries));
        LogJobText(pState->pCurrentLog, szText);
        ShowJobText(pState->hWndOwner, szText);
        return false;
    }
    // Entries not yet filled hold nothing for the list's release to free.
    pList->cEntries = cEntries;
    for (ULONG i = 0; i < cEntries; ++i) {
        pList->aEntries[i].ulReserved1 = 0;
        pList->aEntries[i].cValues = 0;
        pList->aEntries[i].rgPropVals = NULL;
    }
    for (ULONG i = 0; i < cEntries; ++i) {
        if (!FillRecipientEntry(pState, pList, &pList->aEntries[i], recipients[i]))
            return false;
    }

    pState->nJobStep = StepModifyRecipients;
    // The copy comes with the composed message's own To, Cc and Bcc; without
    // MODRECIP_ADD the list replaces them all, so the copy goes to these
    // recipients alone.
    hr = pState->pCurrentMessage->ModifyRecipients(0, pList);
    list.Reset();
    if (FAILED(hr)) {
        LogAndShowRecipientText(pState, "Failed to add recipient: %s", pState->szRecipientAddress);
        return false;
    }
    return true;
}

// Still StepSubjectAndBody: the copy goes from the composed message's
// account. When Outlook will not take it on the job's first copy, the user
// is told once and every copy goes from Outlook's default account; once
// copies have gone from the account, the job stops rather than send the
// rest from another.
bool PutSender(SendJobState* pState)
{
    std::string reason;
    if (PutSenderOnCopy(pState->sender, pState->pCopy, &reason))
        return true;
    char szText[LC_NOT_SENT_REASON_CAPACITY + 256];
    if (!pState->bCopySubmitted) {
        char szAccount[LC_ADDRESS_CAPACITY];
        WideToAnsi(pState->sender.address.c_str(), szAccount, sizeof(szAccount));
        snprintf(szText, sizeof(szText), "\tFrom: Outlook's default account: Outlook would not send the copies from %s (%s)",
                 szAccount, reason.c_str());
        LogJobText(pState->pCurrentLog, szText);
        snprintf(szText, sizeof(szText),
                 "Outlook would not send the copies from %s: %s.\n\nEvery copy goes from Outlook's default account.",
                 szAccount, reason.c_str());
        MessageBoxA(pState->hWndOwner, szText, LC_PRODUCT_NAME, MB_ICONINFORMATION | MB_OK);
        FallBackToDefaultAccount(&pState->sender);
        return true;
    }
    snprintf(szText, sizeof(szText), "The copy for %s could not be sent from the message's account: %s.",
             pState->szRecipientAddress, reason.c_str());
    LogJobText(pState->pCurrentLog, szText);
    snprintf(szText + strlen(szText), sizeof(szText) - strlen(szText),
             "\n\nThe job stops here, so that no copy goes from another account.");
    ShowJobText(pState->hWndOwner, szText);
    return false;
}

// Still StepSubjectAndBody: the record's Reply-To takes the place of the
// reply addresses the copy brought from the composed message. False, with
// the reason, when they cannot all be put.
bool PutReplyAddresses(SendJobState* pState)
{
    const std::vector<std::string>& addresses = pState->list.CopyAddresses().Addresses(CopyReplyTo);
    if (addresses.empty())
        return true;
    ScopedVariant result;
    HRESULT hr = DispTryGetProperty(pState->pCopy, L"ReplyRecipients", &result);
    ComHolder<IDispatch> replies(SUCCEEDED(hr) ? VariantDispatch(result.Get()) : NULL);
    if (replies.Get() == NULL) {
        snprintf(pState->szNotSentReason, sizeof(pState->szNotSentReason),
                 "the reply address could not be set (0x%08lX)", (unsigned long)(FAILED(hr) ? hr : E_POINTER));
        return false;
    }
    // Removed from the last, so that each index still names an entry.
    ScopedVariant count;
    hr = DispTryGetProperty(replies, L"Count", &count);
    if (SUCCEEDED(hr))
        hr = VariantChangeType(&count.Get(), &count.Get(), 0, VT_I4);
    for (LONG nIndex = SUCCEEDED(hr) ? V_I4(&count.Get()) : 0; nIndex >= 1 && SUCCEEDED(hr); --nIndex) {
        VARIANT index;
        VariantInit(&index);
        V_VT(&index) = VT_I4;
        V_I4(&index) = nIndex;
        hr = DispTryCallMethod(replies, L"Remove", &index, 1, NULL);
    }
    for (const std::string& address : addresses) {
        if (FAILED(hr))
            break;
        VARIANT name;
        VariantInit(&name);
        V_VT(&name) = VT_BSTR;
        V_BSTR(&name) = CodePageToBstr(address.c_str(), CP_UTF8);
        ScopedVariant added;
        hr = V_BSTR(&name) ? DispTryCallMethod(replies, L"Add", &name, 1, &added) : E_OUTOFMEMORY;
        VariantClear(&name);
    }
    if (FAILED(hr)) {
        snprintf(pState->szNotSentReason, sizeof(pState->szNotSentReason),
                 "the reply address could not be set (0x%08lX)", (unsigned long)hr);
        return false;
    }
    return true;
}

// SetProps of one value; a failure shows the store's own error text.
bool SetOneProp(HWND hWndOwner, IMessage* pMessage, LPSPropValue pValue)
{
    HRESULT hr = pMessage->SetProps(1, pValue, NULL);
    if (SUCCEEDED(hr))
        return true;
    LPMAPIERROR pError = NULL;
    if (SUCCEEDED(pMessage->GetLastError(hr, 0, &pError)) && pError) {
        if (pError->lpszError)
            ShowJobText(hWndOwner, (const char*)pError->lpszError);
        MapiBinding.MAPIFreeBuffer(pError);
    }
    return false;
}

// StepCopyProperties: a plain-text copy is marked as such for the editor.
bool SetPlainTextFormat(SendJobState* pState)
{
    MapiHeld<SPropValue, FreeMapiBuffer> value;
    HRESULT hr = MapiBinding.MAPIAllocateBuffer(sizeof(SPropValue), (LPVOID*)value.Receive());
    LPSPropValue pValue = value.Get();
    if (FAILED(hr)) {
        ShowJobText(pState->hWndOwner, "Failed to allocate SPropValue for SetProps");
        return false;
    }
    if (pValue == NULL) {
        ShowJobText(pState->hWndOwner, "Failed (2) to allocate SPropValue for SetProps");
        return false;
    }
    memset(pValue, 0, sizeof(SPropValue));
    pValue->ulPropTag = PR_MSG_EDITOR_FORMAT;
    pValue->Value.l = EDITOR_FORMAT_PLAINTEXT;
    return SetOneProp(pState->hWndOwner, pState->pCurrentMessage, pValue);
}

// StepCopyProperties: the transport property's tag, once per job.
bool ResolveUseTnef(SendJobState* pState)
{
    if (pState->bUseTnefResolved)
        return true;
    MAPINAMEID name;
    memset(&name, 0, sizeof(name));
    name.lpguid = const_cast<LPGUID>(&LC_PSETID_Common);
    name.ulKind = MNID_ID;
    name.Kind.lID = LC_USE_TNEF_ID;
    LPMAPINAMEID pName = &name;
    LPSPropTagArray pTags = NULL;
    HRESULT hr = pState->pCurrentMessage->GetIDsFromNames(1, &pName, MAPI_CREATE, &pTags);
    if (FAILED(hr) || pTags == NULL || pTags->cValues < 1) {
        if (pTags)
            MapiBinding.MAPIFreeBuffer(pTags);
        ShowJobText(pState->hWndOwner, "Failed on GetIDsFromNames");
        return false;
    }
    memset(&pState->useTnef, 0, sizeof(pState->useTnef));
    pState->useTnef.ulPropTag = (pTags->aulPropTag[0] & 0xFFFF000B) | 0x000B;
    pState->useTnef.Value.b = FALSE;
    if (MapiBinding.MAPIFreeBuffer(pTags) != 0)
        ShowJobText(pState->hWndOwner, "Failed on PF_MAPIFreeBuffer");
    pState->bUseTnefResolved = true;
    return true;
}

// StepCopyProperties: the transport property set on the copy.
bool SetUseTnef(SendJobState* pState)
{
    MapiHeld<SPropValue, FreeMapiBuffer> value;
    HRESULT hr = MapiBinding.MAPIAllocateBuffer(sizeof(SPropValue), (LPVOID*)value.Receive());
    LPSPropValue pValue = value.Get();
    if (FAILED(hr)) {
        ShowJobText(pState->hWndOwner, "Failed to allocate SPropValue for SetProps 2");
        return false;
    }
    if (pValue == NULL)
        return false;
    *pValue = pState->useTnef;
    return SetOneProp(pState->hWndOwner, pState->pCurrentMessage, pValue);
}

// The recipient and the properties set through MAPI are changes of the open
// message only: a move takes the stored message, so they are saved first,
// and the message kept open for the submission.
bool SaveCopyChanges(SendJobState* pState)
{
    pState->nJobStep = StepSaveChanges;
    if (SUCCEEDED(pState->pCurrentMessage->SaveChanges(KEEP_OPEN_READWRITE)))
        return true;
    LogAndShowRecipientText(pState, "Failed to save message to: %s", pState->szRecipientAddress);
    return false;
}

// The sent copy goes where the sending account's sent mail goes, else to
// the profile's Sent Mail; with its own reference.
IDispatch* SentFolderFor(SendJobState* pState, IDispatch* pNameSpace, HRESULT* phr)
{
    IDispatch* pFolder = pState->sender.pSentFolder.Get();
    if (pFolder == NULL)
        return DefaultFolder(pNameSpace, olFolderSentMail, phr);
    pFolder->AddRef();
    return pFolder;
}

enum OutboxResult {
    OutboxDone,         // moved, or left where it was; submit the current message
    OutboxEndsJob,
};

// Still StepSaveChanges: into the Outbox, with Sent Mail for the sent copy;
// pszCaught is the line logged when the copy stays where it is. Exceptions
// are the caller's; what can only fail quietly leaves the copy where it is.
OutboxResult MoveToOutbox(SendJobState* pState, const char* pszCaught)
{
    ScopedVariant session;
    if (gpApplication == NULL || FAILED(DispTryGetProperty(gpApplication, L"Session", &session)))
        return OutboxDone;
    ComHolder<IDispatch> nameSpace(VariantDispatch(session.Get()));
    if (nameSpace.Get() == NULL)
        return OutboxDone;

    VARIANT arg;
    VariantInit(&arg);
    V_VT(&arg) = VT_I4;
    V_I4(&arg) = olFolderOutbox;
    ScopedVariant outboxResult;
    DispCallMethod(nameSpace, L"GetDefaultFolder", &arg, 1, &outboxResult);
    ComHolder<IDispatch> outbox(VariantDispatch(outboxResult.Get()));
    if (outbox.Get() == NULL) {
        // Without an Outbox the copy is submitted where it lies.
        LogJobText(pState->pCurrentLog, pszCaught);
        return OutboxDone;
    }

    // What the Outbox held before the job's first copy: the measure of what
    // a server holding mail back leaves there.
    if (pState->nOutboxBefore == LC_OUTBOX_UNCOUNTED)
        pState->nOutboxBefore = CountFolderItems(outbox);

    VARIANT folderArg;
    VariantInit(&folderArg);
    V_VT(&folderArg) = VT_DISPATCH;
    V_DISPATCH(&folderArg) = outbox;
    ScopedVariant moved;
    DispCallMethod(pState->pCopy, L"Move", &folderArg, 1, &moved);
    pState->pMovedItem.Reset(VariantDispatch(moved.Get()));
    pState->pOutbox.Reset(outbox.Detach());
    if (pState->pMovedItem == NULL) {
        LogJobText(pState->pCurrentLog, pszCaught);
        return OutboxDone;
    }
    // The moved item is a new message: the copy's IMessage now points at
    // one that no longer exists, so it goes at once, before anything below
    // can fail and leave it to the submission.
    pState->pCurrentMessage.Reset();
    pState->pCurrentMessage.Reset(MessageOfItem(pState->pMovedItem));
    if (pState->pCurrentMessage == NULL)
        return OutboxEndsJob;

    HRESULT hr = S_OK;
    ComHolder<IDispatch> sentMail(SentFolderFor(pState, nameSpace, &hr));
    if (sentMail.Get() == NULL) {
        ShowJobText(pState->hWndOwner, "Failed to find default Sent Mail folder");
        return OutboxEndsJob;
    }
    if (FAILED(DispTryPutRefProperty(pState->pMovedItem, L"SaveSentMessageFolder", sentMail))) {
        ShowJobText(pState->hWndOwner, "Failed to direct sent message to Sent Items folder");
        return OutboxEndsJob;
    }
    DispCallMethod(pState->pMovedItem, L"Save", NULL, 0, NULL);
    return OutboxDone;
}

OutboxResult GuardedMoveToOutbox(SendJobState* pState)
{
    char szText[LC_CAUGHT_TEXT_CAPACITY];
    FormatCaught(szText, "Error caught moving message to Outbox during message %d", MessageNumber());
    try {
        return MoveToOutbox(pState, szText);
    } catch (const _com_error& error) {
        ReportComError(error, pState->pCurrentLog, szText);
    } catch (...) {
        LogJobText(pState->pCurrentLog, szText);
    }
    // A message lost on the way has nothing left to submit.
    return pState->pCurrentMessage ? OutboxDone : OutboxEndsJob;
}

enum SubmitResult {
    Submitted,
    NotSubmitted,     // the user goes on without this recipient
    SubmitEndsJob,    // the user chose to stop
};

// StepSubmit: a submission that failed or raised sent nothing, whatever the
// user answers; the reason is left in szNotSentReason.
SubmitResult Submit(SendJobState* pState)
{
    pState->nJobStep = StepSubmit;
    SetJobStatus("Sending Message", MessageNumber(), pState->nTotal);
    char szText[LC_CAUGHT_TEXT_CAPACITY];
    FormatCaught(szText, "SubmitMessage error caught during message %d", MessageNumber());
    HRESULT hr = S_OK;
    if (pState->pCurrentLog) {
        LogMessageSending(pState->pCurrentLog, MessageNumber(), pState->szRecipientAddress);
        pState->bSubmitLogged = true;
    }
    try {
        hr = pState->pCurrentMessage->SubmitMessage(FORCE_SUBMIT);
        if (FAILED(hr)) {
            snprintf(pState->szNotSentReason, sizeof(pState->szNotSentReason),
                     "the submission failed (0x%08lX)", (unsigned long)hr);
            std::string errorText = MessageErrorText(pState->pCurrentMessage, hr);
            // Every copy after it would be refused too: no question, the job stops.
            if (IsServerPushBack(hr, errorText.c_str())) {
                NotePushBack(pState, "the submission was refused", hr, errorText);
                return NotSubmitted;
            }
            LogAndShowRecipientText(pState, "Failed to submit message to: %s", pState->szRecipientAddress);
            if (AskJobQuestion(pState->hWndOwner, "Continue Sending Anyway?") != IDYES)
                return SubmitEndsJob;
            return NotSubmitted;
        }
        return Submitted;
    } catch (const _com_error& error) {
        hr = error.Error();
        ReportComError(error, pState->pCurrentLog, szText);
        std::string errorText = ComErrorDescription(error);
        if (IsServerPushBack(hr, errorText.c_str()))
            NotePushBack(pState, "the submission was refused", hr, errorText);
    } catch (...) {
        hr = E_UNEXPECTED;
        LogJobText(pState->pCurrentLog, szText);
    }
    snprintf(pState->szNotSentReason, sizeof(pState->szNotSentReason),
             "the submission raised an error (0x%08lX)", (unsigned long)hr);
    return NotSubmitted;
}

// StepFlush: true when the spooler took the outgoing queue: a submitted copy
// only waits in the store until then, and can still be withdrawn.
bool Flush(SendJobState* pState)
{
    pState->nJobStep = StepFlush;
    SetJobStatus("Flushing Message", MessageNumber(), pState->nTotal);
    char szText[LC_CAUGHT_TEXT_CAPACITY];
    FormatCaught(szText, "MAPIFlushQueues error caught during message %d", MessageNumber());
    try {
        HRESULT hrFlush = S_OK;
        if (FlushOutgoingQueue(&hrFlush))
            return true;
        if (IsServerPushBack(hrFlush, NULL))
            NotePushBack(pState, "the outgoing queue was refused", hrFlush, std::string());
        return false;
    } catch (const _com_error& error) {
        ReportComError(error, pState->pCurrentLog, szText);
        std::string errorText = ComErrorDescription(error);
        if (IsServerPushBack(error.Error(), errorText.c_str()))
            NotePushBack(pState, "the outgoing queue was refused", error.Error(), errorText);
    } catch (...) {
        LogJobText(pState->pCurrentLog, szText);
    }
    return false;
}

// After a flush: copies of this job that stay in the Outbox, beyond a few on
// their way, are held back by the server.
void CheckOutboxHeld(SendJobState* pState)
{
    if (pState->nOutboxBefore < 0 || pState->pOutbox == NULL)
        return;
    int nItems = CountFolderItems(pState->pOutbox);
    int nHeld = nItems - pState->nOutboxBefore;
    if (nItems < 0 || nHeld <= LC_OUTBOX_HELD_LIMIT)
        return;
    snprintf(pState->szPushBack, sizeof(pState->szPushBack),
             "%d copies stay in the Outbox after a flush; they go when the server takes them", nHeld);
}

// The item that was submitted: the moved one, or the copy where it lay.
IDispatch* SubmittedItem(SendJobState* pState)
{
    return pState->pMovedItem ? pState->pMovedItem : pState->pCopy;
}

// The host has sent the copy after all (its Sent flag), though the flush
// did not say so.
bool CopyHasGone(SendJobState* pState)
{
    IDispatch* pItem = SubmittedItem(pState);
    if (pItem == NULL)
        return false;
    try {
        ScopedVariant sent;
        return SUCCEEDED(DispTryGetProperty(pItem, L"Sent", &sent)) && V_VT(&sent.Get()) == VT_BOOL &&
               V_BOOL(&sent.Get()) != VARIANT_FALSE;
    } catch (...) {
        return false;
    }
}

// A copy left in the outgoing queue would go at the next flush or
// Send/Receive, uncounted: deleting it takes it out of the queue, so that
// the recipient is exactly as the log says, not sent.
bool WithdrawCopy(SendJobState* pState)
{
    IDispatch* pItem = SubmittedItem(pState);
    if (pItem == NULL)
        return false;
    try {
        return SUCCEEDED(DispTryCallMethod(pItem, L"Delete", NULL, 0, NULL));
    } catch (...) {
        return false;
    }
}

}  // namespace

RecipientOutcome SendRecipientCopy(SendJobState* pState)
{
    pState->nJobStep = StepCopy;
    if (!MakeCopy(pState))
        return RecipientEndsJob;

    pState->nJobStep = StepFirstSave;
    DispCallMethod(pState->pCopy, L"Save", NULL, 0, NULL);

    pState->nJobStep = StepMapiObject;
    pState->pCurrentMessage.Reset(MessageOfItem(pState->pCopy));
    if (pState->pCurrentMessage == NULL) {
        ShowJobText(pState->hWndOwner, "Failed to get MAPI object from copied message");
        return RecipientEndsJob;
    }

    pState->nJobStep = StepSubjectAndBody;
    PutText(pState->pCopy, L"Subject", pState->pszSubjectCopy);
    if (!PutSender(pState))
        return RecipientEndsJob;
    // A copy that cannot reply where its row says is not left behind.
    if (!PutReplyAddresses(pState)) {
        WithdrawCopy(pState);
        return RecipientNotSent;
    }
    FillBody(pState);
    // The recipient's own files join the copy before its second Save; a
    // copy never goes without one of them.
    if (!AttachRecipientFiles(pState))
        return RecipientNotSent;

    pState->nJobStep = StepSecondSave;
    DispCallMethod(pState->pCopy, L"Save", NULL, 0, NULL);

    if (!AddRecipient(pState))
        return RecipientEndsJob;

    pState->nJobStep = StepCopyProperties;
    if (pState->pszOriginalHTMLBody == NULL && !SetPlainTextFormat(pState))
        return RecipientEndsJob;
    if (!ResolveUseTnef(pState) || !SetUseTnef(pState))
        return RecipientEndsJob;
    if (!SaveCopyChanges(pState))
        return RecipientEndsJob;
    if (GuardedMoveToOutbox(pState) == OutboxEndsJob)
        return RecipientEndsJob;

    SubmitResult submitted = Submit(pState);
    if (submitted == SubmitEndsJob)
        return RecipientEndsJob;
    if (submitted == NotSubmitted)
        return RecipientNotSent;
    // Sent is what the host has taken for delivery, not what waits in its queue.
    if (Flush(pState) || CopyHasGone(pState)) {
        CheckOutboxHeld(pState);
        return RecipientCompleted;
    }
    if (WithdrawCopy(pState))
        snprintf(pState->szNotSentReason, sizeof(pState->szNotSentReason),
                 "the outgoing queue could not be flushed; the copy was taken back out of it");
    else
        snprintf(pState->szNotSentReason, sizeof(pState->szNotSentReason),
                 "the outgoing queue could not be flushed, and the copy could not be taken back: Outlook may still "
                 "send it from the Outbox");
    return RecipientNotSent;
}

int CopyRecipientCount(const SendJobState* pState)
{
    const CopyAddressCheck& copyAddresses = pState->list.CopyAddresses();
    return 1 + (int)copyAddresses.Addresses(CopyCc).size() + (int)copyAddresses.Addresses(CopyBcc).size();
}

int RecipientNumber()
{
    return JobProgress.sentCount + JobProgress.notSentCount + 1;
}

bool FlushOutgoingQueue(HRESULT* phrFlush)
{
    if (phrFlush)
        *phrFlush = S_OK;
    if (gpMAPISession == NULL)
        return false;
    ComHolder<IMAPITable> table;
    if (FAILED(gpMAPISession->GetStatusTable(0, table.Receive())) || table.Get() == NULL)
        return false;

    SizedSPropTagArray(1, columns) = { 1, { PR_ENTRYID } };
    SPropValue spooler;
    memset(&spooler, 0, sizeof(spooler));
    spooler.ulPropTag = PR_RESOURCE_TYPE;
    spooler.Value.l = MAPI_SPOOLER;
    SRestriction restriction;
    memset(&restriction, 0, sizeof(restriction));
    restriction.rt = RES_PROPERTY;
    restriction.res.resProperty.relop = RELOP_EQ;
    restriction.res.resProperty.ulPropTag = PR_RESOURCE_TYPE;
    restriction.res.resProperty.lpProp = &spooler;

    MapiHeld<SRowSet, FreeRowSet> rows;
    if (FAILED(MapiBinding.HrQueryAllRows(table, (LPSPropTagArray)&columns, &restriction, NULL, 0, rows.Receive())) ||
        rows.Get() == NULL) {
        return false;
    }
    LPSRowSet pRows = rows.Get();
    bool bFlushed = false;
    if (pRows->cRows > 0 && pRows->aRow[0].cValues > 0 && pRows->aRow[0].lpProps &&
        pRows->aRow[0].lpProps[0].ulPropTag == PR_ENTRYID) {
        const SBinary& entry = pRows->aRow[0].lpProps[0].Value.bin;
        ULONG ulType = 0;
        ComHolder<IMAPIStatus> status;
        if (SUCCEEDED(gpMAPISession->OpenEntry(entry.cb, (LPENTRYID)entry.lpb, &IID_IMAPIStatus, MAPI_BEST_ACCESS,
                                               &ulType, (LPUNKNOWN*)status.Receive())) &&
            status.Get() != NULL) {
            HRESULT hr = status->FlushQueues(0, 0, NULL, FLUSH_UPLOAD);
            if (phrFlush)
                *phrFlush = hr;
            bFlushed = SUCCEEDED(hr);
        }
    }
    return bFlushed;
}

bool IssueSendReceive()
{
    if (gpApplication == NULL)
        return false;
    try {
        ScopedVariant explorerResult;
        DispCallMethod(gpApplication, L"ActiveExplorer", NULL, 0, &explorerResult);
        ComHolder<IDispatch> explorer(VariantDispatch(explorerResult.Get()));
        if (explorer.Get() == NULL)
            return false;
        ScopedVariant barsResult;
        DispGetProperty(explorer, L"CommandBars", &barsResult);
        ComHolder<IDispatch> bars(VariantDispatch(barsResult.Get()));
        if (bars.Get() == NULL)
            return false;

        VARIANT args[4];
        for (VARIANT& arg : args) {
            VariantInit(&arg);
            V_VT(&arg) = VT_ERROR;
            V_ERROR(&arg) = DISP_E_PARAMNOTFOUND;
        }
        V_VT(&args[1]) = VT_INT;
        V_INT(&args[1]) = 7095;
        ScopedVariant controlResult;
        DispCallMethod(bars, L"FindControl", args, 4, &controlResult);
        ComHolder<IDispatch> control(VariantDispatch(controlResult.Get()));
        if (control.Get() == NULL)
            return false;
        return SUCCEEDED(DispTryCallMethod(control, L"Execute", NULL, 0, NULL));
    } catch (...) {
        return false;
    }
}
