// The spooler of the stand-in session: what a flush of the outgoing queue
// does with the submitted items of the Outbox.
#include "standin/outlook/outlook_host.h"

#include <stdio.h>

#include <algorithm>

#include "standin/outlook/delivery.h"

namespace {

const char kSender[] = "Stand-in User <user@standin.example>";

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

    // A message for several recipients goes out once for each of them.
    int nFirstNumber = m_nNextDelivery;
    for (const PropList& recipient : pRecord->m_vecRecipients) {
        std::string address;
        std::string displayName;
        RecipientText(recipient, PROP_ID(PR_EMAIL_ADDRESS_A), &address);
        RecipientText(recipient, PROP_ID(PR_DISPLAY_NAME_A), &displayName);
        OutgoingMessage message;
        message.pszTo = address.c_str();
        message.pszDisplayName = displayName.c_str();
        message.pszSubject = pRecord->m_bHasSubject ? pRecord->m_wstrSubject.c_str() : NULL;
        message.pszBody = bHasBody ? wstrBody.c_str() : NULL;
        message.pbHtml = pHtmlBytes ? (const unsigned char*)pHtmlBytes->data() : NULL;
        message.cbHtml = cbHtml;
        message.pszHtml = pHtmlText ? pHtmlText->c_str() : NULL;
        message.pszFrom = kSender;
        message.ftSent = ftNow;
        // A block's folder is made once, with the first message going into it.
        bool bBlock = StandinBlockFolder(szDelivered, m_nNextDelivery, szBlock, sizeof(szBlock));
        if (bBlock && m_nNextDelivery / STANDIN_BLOCK_SIZE != m_nDeliveryBlock) {
            CreateDirectoryA(szBlock, NULL);
            m_nDeliveryBlock = m_nNextDelivery / STANDIN_BLOCK_SIZE;
        }
        if (!bBlock || !WriteDeliveredMessage(szBlock, m_nNextDelivery, &message)) {
            // Nothing half sent: the files of this item written so far go,
            // and the item stays queued for the next flush.
            char szPath[MAX_PATH];
            for (int nNumber = nFirstNumber; nNumber < m_nNextDelivery; ++nNumber) {
                if (StandinDeliveredPath(m_szStoreDir, nNumber, szPath, sizeof(szPath)))
                    DeleteFileA(szPath);
            }
            m_nNextDelivery = nFirstNumber;
            return MAPI_E_CALL_FAILED;
        }
        ++m_nNextDelivery;
    }

    pRecord->m_bSent = true;
    pRecord->m_ftSent = ftNow;
    pRecord->m_nSubmitOrder = 0;
    if (pRecord->m_nSentFolder >= 0 && SUCCEEDED(MoveItem(pRecord, pRecord->m_nSentFolder)))
        return S_OK;
    // Without a folder for the sent copy, the sent item is not kept.
    if (pRecord->m_nSentFolder < 0)
        return DeleteItem(pRecord);
    return SaveItem(pRecord);
}

HRESULT OutlookHost::FlushOutbox()
{
    std::vector<ItemRecord*> vecQueue;
    for (ItemRecord* pRecord : m_vecItems) {
        if (pRecord->m_nFolder == FolderOutbox && pRecord->m_nSubmitOrder > 0 && !pRecord->m_bDeleted) {
            pRecord->AddRef();
            vecQueue.push_back(pRecord);
        }
    }
    std::sort(vecQueue.begin(), vecQueue.end(),
              [](const ItemRecord* pA, const ItemRecord* pB) { return pA->m_nSubmitOrder < pB->m_nSubmitOrder; });
    HRESULT hrResult = S_OK;
    for (ItemRecord* pRecord : vecQueue) {
        HRESULT hr = DeliverItem(pRecord);
        if (FAILED(hr) && SUCCEEDED(hrResult))
            hrResult = hr;
        pRecord->Release();
    }
    return hrResult;
}
