// The spooler of the stand-in session: what a flush of the outgoing queue
// does with the submitted items of the store, in whichever folder they lie.
#include "standin/outlook/outlook_host.h"

#include <stdio.h>

#include <algorithm>

#include "standin/outlook/delivery.h"
#include "standin/outlook/standin_text.h"

namespace {

bool RecipientText(const PropList& recipient, ULONG ulPropId, std::string* pText)
{
    const PropValue* pValue = FindProp(recipient, ulPropId);
    return pValue && PropNarrowText(*pValue, pText);
}

}  // namespace

HRESULT OutlookHost::DeliverItem(ItemRecord* pRecord)
{
    char szDelivered[MAX_PATH];
    if (!FolderPath("Delivered", szDelivered, sizeof(szDelivered)))
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    char szBlock[MAX_PATH];

    FILETIME ftNow;
    GetSystemTimeAsFileTime(&ftNow);
    std::wstring wstrBody = pRecord->BodyText();
    bool bHasBody = pRecord->m_bHasBodyA || pRecord->m_bHasBodyW;
    const std::string* pHtmlBytes = NULL;
    const std::wstring* pHtmlText = NULL;
    pRecord->OutgoingHtml(&pHtmlBytes, &pHtmlText);
    // Stored HTML often ends with the zero byte its writer counted in; that
    // zero is no part of the page.
    size_t cbHtml = pHtmlBytes ? pHtmlBytes->size() : 0;
    while (cbHtml > 0 && (*pHtmlBytes)[cbHtml - 1] == '\0')
        --cbHtml;

    // One file per message, naming every recipient it went to.
    std::vector<std::string> addresses, names;
    std::vector<OutgoingRecipient> recipients;
    addresses.reserve(pRecord->m_vecRecipients.size());
    names.reserve(pRecord->m_vecRecipients.size());
    for (const PropList& recipient : pRecord->m_vecRecipients) {
        addresses.emplace_back();
        names.emplace_back();
        RecipientText(recipient, PROP_ID(PR_EMAIL_ADDRESS_A), &addresses.back());
        RecipientText(recipient, PROP_ID(PR_DISPLAY_NAME_A), &names.back());
        const PropValue* pType = FindProp(recipient, PROP_ID(PR_RECIPIENT_TYPE));
        OutgoingRecipient row;
        row.pszAddress = addresses.back().c_str();
        row.pszDisplayName = names.back().c_str();
        row.nType = pType ? pType->m_nValue : MAPI_TO;
        recipients.push_back(row);
    }
    OutgoingMessage message;
    message.pszTo = NULL;
    message.pszDisplayName = NULL;
    message.pRecipients = recipients.data();
    message.cRecipients = recipients.size();
    message.pszSubject = pRecord->m_bHasSubject ? pRecord->m_wstrSubject.c_str() : NULL;
    message.pszBody = bHasBody ? wstrBody.c_str() : NULL;
    message.pbHtml = pHtmlBytes ? (const unsigned char*)pHtmlBytes->data() : NULL;
    message.cbHtml = cbHtml;
    message.pszHtml = pHtmlText ? pHtmlText->c_str() : NULL;
    // From the item's account, else the default account, else (a profile
    // without accounts) the profile's user; on behalf of someone, From is
    // that someone and Sender the account.
    int nAccount = pRecord->m_nAccount >= 0 && pRecord->m_nAccount < AccountCount() ? pRecord->m_nAccount
                   : AccountCount() > 0                                            ? 0
                                                                                   : -1;
    std::string accountAddress = nAccount >= 0 ? AccountAddress(nAccount) : std::string(kStandinUserAddress);
    std::string sender = WideToAnsiText(kStandinUserName) + " <" + accountAddress + ">";
    std::string onBehalfOf = WideToAnsiText(pRecord->m_wstrOnBehalfOf);
    if (onBehalfOf.empty()) {
        message.pszFrom = sender.c_str();
    } else {
        message.pszFrom = onBehalfOf.c_str();
        message.pszSender = sender.c_str();
    }
    message.pszEnvelopeFrom = accountAddress.c_str();
    std::vector<const wchar_t*> replyTo;
    for (const std::wstring& name : pRecord->m_vecReplyTo)
        replyTo.push_back(name.c_str());
    message.ppszReplyTo = replyTo.data();
    message.cReplyTo = replyTo.size();
    message.ftSent = ftNow;
    std::vector<OutgoingAttachment> attachments;
    for (const ItemAttachment& attachment : pRecord->m_vecAttachments) {
        OutgoingAttachment file;
        file.pszName = attachment.wstrName.c_str();
        file.pb = (const unsigned char*)attachment.bytes.data();
        file.cb = attachment.bytes.size();
        attachments.push_back(file);
    }
    message.pAttachments = attachments.data();
    message.cAttachments = attachments.size();
    // A block's folder is made once, with the first message going into it.
    // Nothing half sent: the item stays queued for the next flush.
    bool bBlock = StandinBlockFolder(szDelivered, m_nNextDelivery, szBlock, sizeof(szBlock));
    if (bBlock && m_nNextDelivery / STANDIN_BLOCK_SIZE != m_nDeliveryBlock) {
        CreateDirectoryA(szBlock, NULL);
        m_nDeliveryBlock = m_nNextDelivery / STANDIN_BLOCK_SIZE;
    }
    if (!bBlock || !WriteDeliveredMessage(szBlock, m_nNextDelivery, &message))
        return MAPI_E_CALL_FAILED;
    ++m_nNextDelivery;
    ++m_nDeliveredHere;
    // The delivered file is whole; nothing else of this process gets a say,
    // the add-in's logs included.
    if (m_nKillAfterDeliveries > 0 && m_nDeliveredHere >= m_nKillAfterDeliveries)
        TerminateProcess(GetCurrentProcess(), 137);

    // Sent: the record changes, and its file is written where it goes.
    pRecord->m_bFileCurrent = false;
    pRecord->m_bSent = true;
    pRecord->m_ftSent = ftNow;
    pRecord->m_nSubmitOrder = 0;
    // Filed in its SaveSentMessageFolder (a folder of any of the session's
    // stores), else in the Sent Mail of the delivery store of the account it
    // went from, which is the default store's without accounts.
    int nSentFolder = pRecord->m_nSentFolder;
    if (!IsFolder(nSentFolder))
        nSentFolder = FolderOfStore(nAccount >= 0 ? nAccount : 0, FolderSentMail);
    if (SUCCEEDED(MoveItem(pRecord, nSentFolder)))
        return S_OK;
    return SaveItem(pRecord);
}

// The outgoing queue is the store's, not the Outbox folder's: SubmitMessage
// puts a message in it wherever the message lies, and the spooler takes it
// from there (the Outbox is only where messages are usually submitted from).
HRESULT OutlookHost::FlushOutbox()
{
    std::vector<ItemRecord*> vecQueue;
    for (ItemRecord* pRecord : m_vecItems) {
        if (pRecord->m_nSubmitOrder > 0 && !pRecord->m_bDeleted) {
            pRecord->AddRef();
            vecQueue.push_back(pRecord);
        }
    }
    std::sort(vecQueue.begin(), vecQueue.end(),
              [](const ItemRecord* pA, const ItemRecord* pB) { return pA->m_nSubmitOrder < pB->m_nSubmitOrder; });
    HRESULT hrResult = S_OK;
    for (ItemRecord* pRecord : vecQueue) {
        // A server that no longer accepts leaves the message queued in its
        // folder, and the flush, which did all it could, succeeds.
        bool bHeld = m_bOutboxHolds && m_nDeliveredHere >= m_nOutboxHoldsAfter;
        HRESULT hr = bHeld ? S_OK : DeliverItem(pRecord);
        if (FAILED(hr) && SUCCEEDED(hrResult))
            hrResult = hr;
        pRecord->Release();
    }
    return hrResult;
}
