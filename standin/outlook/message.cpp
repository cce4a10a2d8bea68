// IMessage: the Extended MAPI view of an item record, sharing the record
// with the item's _MailItem.
#include <stdio.h>
#include <string.h>

#include "standin/common/mapi_blocks.h"
#include "standin/outlook/last_error.h"
#include "standin/outlook/mapi_prop_base.h"
#include "standin/outlook/outlook_objects.h"
#include "standin/outlook/standin_text.h"

namespace {

const ULONG kStoreMask = STORE_ENTRYID_UNIQUE | STORE_MODIFY_OK | STORE_CREATE_OK | STORE_SUBMIT_OK |
                         STORE_UNICODE_OK;

// Values the store works out itself and does not let anyone set.
bool IsComputed(ULONG ulPropId)
{
    return ulPropId == PROP_ID(PR_STORE_SUPPORT_MASK) || ulPropId == PROP_ID(PR_OBJECT_TYPE) ||
           ulPropId == PROP_ID(PR_ENTRYID) || ulPropId == PROP_ID(PR_MESSAGE_FLAGS) ||
           ulPropId == PROP_ID(PR_CLIENT_SUBMIT_TIME);
}

bool IsStringType(ULONG ulType)
{
    return ulType == PT_STRING8 || ulType == PT_UNICODE;
}

class MessageObject final : public MapiPropBase<IMessage>, public StreamTarget {
public:
    MessageObject(OutlookHost* pHost, ItemRecord* pRecord) : m_pHost(pHost), m_pRecord(pRecord)
    {
        m_pHost->AddRef();
        m_pRecord->AddRef();
    }

    // StreamTarget
    void KeepTarget() override { AddRef(); }
    void DropTarget() override { Release(); }
    HRESULT StoreStreamBytes(ULONG ulTag, const std::string& bytes) override
    {
        if (m_pRecord->m_bDeleted)
            return m_lastError.Set(MAPI_E_OBJECT_DELETED, "The message has been deleted.");
        ULONG ulPropId = PROP_ID(ulTag);
        ULONG ulType = PROP_TYPE(ulTag);
        PropValue value;
        value.m_ulTag = ulTag;
        if (ulType == PT_UNICODE)
            value.m_wstrText.assign((const wchar_t*)bytes.data(), bytes.size() / sizeof(wchar_t));
        else
            value.m_strBytes = bytes;
        if (IsStringType(ulType)) {
            // A written string ends at its terminator, if the writer sent one.
            size_t nEnd = ulType == PT_UNICODE ? value.m_wstrText.find(L'\0') : value.m_strBytes.find('\0');
            if (nEnd != std::string::npos)
                ulType == PT_UNICODE ? value.m_wstrText.resize(nEnd) : value.m_strBytes.resize(nEnd);
        }
        if (ulPropId == PROP_ID(PR_HTML)) {
            m_pRecord->PutHtmlBytes(bytes);
            return S_OK;
        }
        return StoreValue(value);
    }

    // IMAPIProp
    STDMETHODIMP GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) override
    {
        if (!lppMAPIError)
            return MAPI_E_INVALID_PARAMETER;
        *lppMAPIError = NULL;
        HRESULT hr = S_OK;
        if (VtableFault("IMessage.GetLastError", &hr))
            return hr;
        return m_lastError.Report(hResult, ulFlags, lppMAPIError);
    }

    STDMETHODIMP SaveChanges(ULONG ulFlags) override
    {
        HRESULT hr = S_OK;
        if (m_lastError.Faulted("IMessage.SaveChanges", &hr))
            return hr;
        hr = m_pHost->SaveItem(m_pRecord);
        return FAILED(hr) ? m_lastError.Set(hr, "The message could not be saved.") : S_OK;
    }

    STDMETHODIMP GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                          LPSPropValue* lppPropArray) override
    {
        if (lpcValues)
            *lpcValues = 0;
        if (lppPropArray)
            *lppPropArray = NULL;
        HRESULT hr = S_OK;
        if (m_lastError.Faulted("IMessage.GetProps", &hr))
            return hr;
        if (!lpcValues || !lppPropArray)
            return m_lastError.Set(MAPI_E_INVALID_PARAMETER, "GetProps needs both out-parameters.");
        if (m_pRecord->m_bDeleted)
            return m_lastError.Set(MAPI_E_OBJECT_DELETED, "The message has been deleted.");
        std::vector<ULONG> vecTags;
        if (lpPropTagArray)
            vecTags.assign(lpPropTagArray->aulPropTag, lpPropTagArray->aulPropTag + lpPropTagArray->cValues);
        else
            vecTags = PresentTags();

        SPropValue* pValues = NULL;
        hr = AllocatePropArray((ULONG)vecTags.size(), &pValues);
        if (FAILED(hr))
            return m_lastError.Set(hr, "Out of memory.");
        bool bErrors = false;
        for (size_t i = 0; i < vecTags.size(); ++i) {
            PropValue value;
            if (!ReadValue(vecTags[i], &value)) {
                SetErrorValue(vecTags[i], MAPI_E_NOT_FOUND, &pValues[i]);
                bErrors = true;
                continue;
            }
            hr = PropValueToMapi(value, vecTags[i], pValues, &pValues[i]);
            if (hr == MAPI_E_NOT_ENOUGH_MEMORY) {
                FreeMapiBlock(pValues);
                return m_lastError.Set(hr, "Out of memory.");
            }
            if (FAILED(hr))
                bErrors = true;
        }
        *lpcValues = (ULONG)vecTags.size();
        *lppPropArray = pValues;
        return bErrors ? MAPI_W_ERRORS_RETURNED : S_OK;
    }

    STDMETHODIMP GetPropList(ULONG ulFlags, LPSPropTagArray* lppPropTagArray) override
    {
        if (!lppPropTagArray)
            return MAPI_E_INVALID_PARAMETER;
        *lppPropTagArray = NULL;
        HRESULT hr = S_OK;
        if (m_lastError.Faulted("IMessage.GetPropList", &hr))
            return hr;
        if (m_pRecord->m_bDeleted)
            return m_lastError.Set(MAPI_E_OBJECT_DELETED, "The message has been deleted.");
        std::vector<ULONG> vecTags = PresentTags();
        SPropTagArray* pTags = NULL;
        hr = AllocateTagArray((ULONG)vecTags.size(), &pTags);
        if (FAILED(hr))
            return m_lastError.Set(hr, "Out of memory.");
        for (size_t i = 0; i < vecTags.size(); ++i)
            pTags->aulPropTag[i] = vecTags[i];
        *lppPropTagArray = pTags;
        return S_OK;
    }

    STDMETHODIMP OpenProperty(ULONG ulPropTag, LPCIID lpiid, ULONG ulInterfaceOptions, ULONG ulFlags,
                              LPUNKNOWN* lppUnk) override
    {
        if (lppUnk)
            *lppUnk = NULL;
        HRESULT hr = S_OK;
        if (m_lastError.Faulted("IMessage.OpenProperty", &hr))
            return hr;
        if (!lppUnk || !lpiid)
            return m_lastError.Set(MAPI_E_INVALID_PARAMETER, "OpenProperty needs an interface and an out-parameter.");
        if (m_pRecord->m_bDeleted)
            return m_lastError.Set(MAPI_E_OBJECT_DELETED, "The message has been deleted.");
        if (!IsEqualIID(*lpiid, IID_IStream))
            return m_lastError.Set(MAPI_E_INTERFACE_NOT_SUPPORTED, "Properties open as IStream only.");
        ULONG ulType = PROP_TYPE(ulPropTag);
        if (!IsStringType(ulType) && ulType != PT_BINARY)
            return m_lastError.Set(MAPI_E_INTERFACE_NOT_SUPPORTED, "Only string and binary properties open as streams.");
        if (IsComputed(PROP_ID(ulPropTag)) && (ulFlags & (MAPI_CREATE | MAPI_MODIFY)))
            return m_lastError.Set(MAPI_E_COMPUTED, "The property is computed by the store.");

        bool bWritable = (ulFlags & (MAPI_CREATE | MAPI_MODIFY)) != 0;
        std::string bytes;
        // MAPI_CREATE starts the value afresh; otherwise it must exist.
        if (!(ulFlags & MAPI_CREATE)) {
            PropValue value;
            if (!ReadValue(ulPropTag, &value))
                return m_lastError.Set(MAPI_E_NOT_FOUND, "The message has no such property.");
            bytes = StreamBytes(value, ulType);
        }
        *lppUnk = NewPropertyStream(this, ulPropTag, bytes, bWritable);
        return S_OK;
    }

    STDMETHODIMP SetProps(ULONG cValues, LPSPropValue lpPropArray, LPSPropProblemArray* lppProblems) override
    {
        if (lppProblems)
            *lppProblems = NULL;
        HRESULT hr = S_OK;
        if (m_lastError.Faulted("IMessage.SetProps", &hr))
            return hr;
        if (cValues && !lpPropArray)
            return m_lastError.Set(MAPI_E_INVALID_PARAMETER, "SetProps was given no values.");
        if (m_pRecord->m_bDeleted)
            return m_lastError.Set(MAPI_E_OBJECT_DELETED, "The message has been deleted.");
        std::vector<SPropProblem> vecProblems;
        for (ULONG i = 0; i < cValues; ++i) {
            HRESULT hrValue = SetOne(&lpPropArray[i]);
            if (FAILED(hrValue)) {
                SPropProblem problem = { i, lpPropArray[i].ulPropTag, hrValue };
                vecProblems.push_back(problem);
            }
        }
        if (!vecProblems.empty()) {
            char szText[96];
            snprintf(szText, sizeof(szText), "%u of the values could not be set (first: 0x%08lX).",
                     (unsigned)vecProblems.size(), (unsigned long)vecProblems[0].scode);
            m_lastError.Set(vecProblems[0].scode, szText);
        }
        if (lppProblems && !vecProblems.empty()) {
            void* pBlock = NULL;
            ULONG cb = CbNewSPropProblemArray(vecProblems.size());
            if (SUCCEEDED(AllocateMapiBlock(cb, &pBlock))) {
                SPropProblemArray* pProblems = (SPropProblemArray*)pBlock;
                pProblems->cProblem = (ULONG)vecProblems.size();
                for (size_t i = 0; i < vecProblems.size(); ++i)
                    pProblems->aProblem[i] = vecProblems[i];
                *lppProblems = pProblems;
            }
        }
        return S_OK;
    }

    STDMETHODIMP GetIDsFromNames(ULONG cPropNames, LPMAPINAMEID* lppPropNames, ULONG ulFlags,
                                 LPSPropTagArray* lppPropTags) override
    {
        if (lppPropTags)
            *lppPropTags = NULL;
        HRESULT hr = S_OK;
        if (m_lastError.Faulted("IMessage.GetIDsFromNames", &hr))
            return hr;
        if (!lppPropTags || (cPropNames && !lppPropNames))
            return m_lastError.Set(MAPI_E_INVALID_PARAMETER, "GetIDsFromNames needs names and an out-parameter.");
        if (cPropNames == 0)
            return m_lastError.Set(MAPI_E_NO_SUPPORT, "Listing every named property is not supported.");
        SPropTagArray* pTags = NULL;
        hr = AllocateTagArray(cPropNames, &pTags);
        if (FAILED(hr))
            return m_lastError.Set(hr, "Out of memory.");
        bool bErrors = false;
        for (ULONG i = 0; i < cPropNames; ++i) {
            ULONG ulTag = 0;
            hr = m_pHost->MapName(lppPropNames[i], (ulFlags & MAPI_CREATE) != 0, &ulTag);
            if (hr == MAPI_E_INVALID_PARAMETER || hr == MAPI_E_NOT_ENOUGH_RESOURCES) {
                FreeMapiBlock(pTags);
                return m_lastError.Set(hr, hr == MAPI_E_INVALID_PARAMETER ? "A property name is malformed."
                                                              : "No more named properties can be made.");
            }
            if (FAILED(hr))
                bErrors = true;
            pTags->aulPropTag[i] = ulTag;
        }
        *lppPropTags = pTags;
        return bErrors ? MAPI_W_ERRORS_RETURNED : S_OK;
    }

    // IMessage
    STDMETHODIMP GetAttachmentTable(ULONG, LPMAPITABLE* lppTable) override
    {
        if (lppTable)
            *lppTable = NULL;
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP OpenAttach(ULONG, LPCIID, ULONG, LPATTACH* lppAttach) override
    {
        if (lppAttach)
            *lppAttach = NULL;
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP CreateAttach(LPCIID, ULONG, ULONG* lpulAttachmentNum, LPATTACH* lppAttach) override
    {
        if (lpulAttachmentNum)
            *lpulAttachmentNum = 0;
        if (lppAttach)
            *lppAttach = NULL;
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP DeleteAttach(ULONG, ULONG, LPMAPIPROGRESS, ULONG) override { return MAPI_E_NO_SUPPORT; }

    STDMETHODIMP GetRecipientTable(ULONG ulFlags, LPMAPITABLE* lppTable) override
    {
        if (!lppTable)
            return MAPI_E_INVALID_PARAMETER;
        *lppTable = NULL;
        HRESULT hr = S_OK;
        if (m_lastError.Faulted("IMessage.GetRecipientTable", &hr))
            return hr;
        if (m_pRecord->m_bDeleted)
            return m_lastError.Set(MAPI_E_OBJECT_DELETED, "The message has been deleted.");
        *lppTable = NewRowTable(m_pHost, m_pRecord->m_vecRecipients);
        return S_OK;
    }

    STDMETHODIMP ModifyRecipients(ULONG ulFlags, LPADRLIST lpMods) override
    {
        HRESULT hr = S_OK;
        if (m_lastError.Faulted("IMessage.ModifyRecipients", &hr))
            return hr;
        if (!lpMods)
            return m_lastError.Set(MAPI_E_INVALID_PARAMETER, "ModifyRecipients was given no list.");
        if (m_pRecord->m_bDeleted)
            return m_lastError.Set(MAPI_E_OBJECT_DELETED, "The message has been deleted.");
        if (ulFlags & (MODRECIP_MODIFY | MODRECIP_REMOVE))
            return m_lastError.Set(MAPI_E_NO_SUPPORT, "Recipients can be added or replaced, not modified or removed.");
        if (ulFlags & ~(ULONG)MODRECIP_ADD)
            return m_lastError.Set(MAPI_E_UNKNOWN_FLAGS, "ModifyRecipients was given unknown flags.");
        // Every row is checked before any is taken, so a bad list changes nothing.
        std::vector<PropList> vecRows;
        for (ULONG e = 0; e < lpMods->cEntries; ++e) {
            const ADRENTRY& entry = lpMods->aEntries[e];
            if (entry.cValues && !entry.rgPropVals)
                return m_lastError.Set(MAPI_E_INVALID_PARAMETER, "A recipient row has no values.");
            PropList row;
            for (ULONG v = 0; v < entry.cValues; ++v) {
                const SPropValue* pValue = &entry.rgPropVals[v];
                ULONG ulType = PROP_TYPE(pValue->ulPropTag);
                if (ulType == PT_ERROR || ulType == PT_NULL || PROP_ID(pValue->ulPropTag) == PROP_ID(PR_ROWID))
                    continue;
                PropValue value;
                if (!PropValueFromMapi(pValue, &value)) {
                    char szText[96];
                    snprintf(szText, sizeof(szText), "Recipient %lu has a value of a type the store cannot keep.",
                             (unsigned long)(e + 1));
                    return m_lastError.Set(MAPI_E_INVALID_TYPE, szText);
                }
                StoreProp(&row, value);
            }
            vecRows.push_back(row);
        }
        if (!(ulFlags & MODRECIP_ADD))
            m_pRecord->m_vecRecipients.clear();
        for (PropList& row : vecRows) {
            row.push_back(LongProp(PR_ROWID, m_pRecord->m_nNextRowId++));
            m_pRecord->m_vecRecipients.push_back(row);
        }
        return S_OK;
    }

    STDMETHODIMP SubmitMessage(ULONG ulFlags) override
    {
        HRESULT hr = S_OK;
        if (m_lastError.Faulted("IMessage.SubmitMessage", &hr))
            return hr;
        char szWhy[320];
        hr = m_pHost->SubmitItem(m_pRecord, szWhy, sizeof(szWhy));
        return FAILED(hr) ? m_lastError.Set(hr, szWhy) : S_OK;
    }

    STDMETHODIMP SetReadFlag(ULONG) override { return MAPI_E_NO_SUPPORT; }

private:
    bool Answers(REFIID riid) const override
    {
        return IsEqualIID(riid, IID_IMAPIProp) || IsEqualIID(riid, IID_IMessage);
    }

    ~MessageObject()
    {
        m_pRecord->Release();
        m_pHost->Release();
    }

    // The value stored or computed for the tag's id, in the type it has.
    bool ReadValue(ULONG ulTag, PropValue* pValue) const
    {
        const ItemRecord* pRecord = m_pRecord;
        ULONG ulPropId = PROP_ID(ulTag);
        ULONG ulType = PROP_TYPE(ulTag);
        if (ulPropId == PROP_ID(PR_SUBJECT_W)) {
            if (!pRecord->m_bHasSubject)
                return false;
            *pValue = WideProp(PR_SUBJECT_W, pRecord->m_wstrSubject);
            return true;
        }
        if (ulPropId == PROP_ID(PR_BODY_W)) {
            // The narrow body exists only where the store keeps it.
            if (ulType == PT_STRING8) {
                if (!pRecord->m_bHasBodyA)
                    return false;
                *pValue = NarrowProp(PR_BODY_A, pRecord->m_strBodyA);
                return true;
            }
            if (pRecord->m_bHasBodyW)
                *pValue = WideProp(PR_BODY_W, pRecord->m_wstrBodyW);
            else if (pRecord->m_bHasBodyA)
                *pValue = NarrowProp(PR_BODY_A, pRecord->m_strBodyA);
            else
                return false;
            return true;
        }
        if (ulPropId == PROP_ID(PR_HTML)) {
            if (!pRecord->m_bHasHtml)
                return false;
            *pValue = BinaryProp(PR_HTML, pRecord->m_strHtml.data(), pRecord->m_strHtml.size());
            return true;
        }
        if (ulPropId == PROP_ID(PR_STORE_SUPPORT_MASK)) {
            *pValue = LongProp(PR_STORE_SUPPORT_MASK, (LONG)(kStoreMask | (m_pHost->HtmlOk() ? STORE_HTML_OK : 0)));
            return true;
        }
        if (ulPropId == PROP_ID(PR_OBJECT_TYPE)) {
            *pValue = LongProp(PR_OBJECT_TYPE, MAPI_MESSAGE);
            return true;
        }
        if (ulPropId == PROP_ID(PR_MESSAGE_FLAGS)) {
            LONG nFlags = MSGFLAG_READ;
            if (!pRecord->m_bSent)
                nFlags |= MSGFLAG_UNSENT;
            if (pRecord->m_nSubmitOrder)
                nFlags |= MSGFLAG_SUBMIT;
            *pValue = LongProp(PR_MESSAGE_FLAGS, nFlags);
            return true;
        }
        if (ulPropId == PROP_ID(PR_CLIENT_SUBMIT_TIME)) {
            if (!pRecord->m_bSent)
                return false;
            pValue->m_ulTag = PR_CLIENT_SUBMIT_TIME;
            pValue->m_nLarge = ((LONGLONG)pRecord->m_ftSent.dwHighDateTime << 32) | pRecord->m_ftSent.dwLowDateTime;
            return true;
        }
        const PropValue* pStored = FindProp(pRecord->m_props, ulPropId);
        if (pStored) {
            *pValue = *pStored;
            return true;
        }
        if (ulPropId == PROP_ID(PR_MESSAGE_CLASS_A)) {
            *pValue = NarrowProp(PR_MESSAGE_CLASS_A, "IPM.Note");
            return true;
        }
        return false;
    }

    std::vector<ULONG> PresentTags() const
    {
        std::vector<ULONG> vecTags;
        const ItemRecord* pRecord = m_pRecord;
        if (pRecord->m_bHasSubject)
            vecTags.push_back(PR_SUBJECT_W);
        if (pRecord->m_bHasBodyA)
            vecTags.push_back(PR_BODY_A);
        if (pRecord->m_bHasBodyW)
            vecTags.push_back(PR_BODY_W);
        if (pRecord->m_bHasHtml)
            vecTags.push_back(PR_HTML);
        vecTags.push_back(PR_STORE_SUPPORT_MASK);
        vecTags.push_back(PR_OBJECT_TYPE);
        vecTags.push_back(PR_MESSAGE_FLAGS);
        if (pRecord->m_bSent)
            vecTags.push_back(PR_CLIENT_SUBMIT_TIME);
        if (!FindProp(pRecord->m_props, PROP_ID(PR_MESSAGE_CLASS_A)))
            vecTags.push_back(PR_MESSAGE_CLASS_A);
        for (const PropValue& value : pRecord->m_props)
            vecTags.push_back(value.m_ulTag);
        return vecTags;
    }

    // A value's bytes as a stream gives them: strings without a terminator.
    static std::string StreamBytes(const PropValue& value, ULONG ulType)
    {
        if (ulType == PT_UNICODE) {
            std::wstring text;
            PropWideText(value, &text);
            return std::string((const char*)text.data(), text.size() * sizeof(wchar_t));
        }
        if (ulType == PT_STRING8) {
            std::string text;
            PropNarrowText(value, &text);
            return text;
        }
        return value.m_strBytes;
    }

    HRESULT StoreValue(const PropValue& value)
    {
        ULONG ulPropId = PROP_ID(value.m_ulTag);
        ULONG ulType = PROP_TYPE(value.m_ulTag);
        if (ulPropId == PROP_ID(PR_SUBJECT_W) || ulPropId == PROP_ID(PR_BODY_W)) {
            if (!IsStringType(ulType))
                return MAPI_E_INVALID_TYPE;
            std::wstring text;
            PropWideText(value, &text);
            if (ulPropId == PROP_ID(PR_SUBJECT_W)) {
                m_pRecord->PutSubject(text);
                return S_OK;
            }
            m_pRecord->m_bHasBodyW = true;
            m_pRecord->m_wstrBodyW = text;
            m_pRecord->m_bHasBodyA = true;
            if (ulType == PT_STRING8)
                m_pRecord->m_strBodyA = value.m_strBytes;
            else
                m_pRecord->m_strBodyA = WideToAnsiText(text);
            return S_OK;
        }
        if (ulPropId == PROP_ID(PR_HTML)) {
            if (ulType != PT_BINARY)
                return MAPI_E_INVALID_TYPE;
            m_pRecord->PutHtmlBytes(value.m_strBytes);
            return S_OK;
        }
        if (IsComputed(ulPropId))
            return MAPI_E_COMPUTED;
        if (ulPropId >= STANDIN_FIRST_NAMED_ID && !m_pHost->IsMappedId(ulPropId))
            return MAPI_E_UNEXPECTED_ID;
        StoreProp(&m_pRecord->m_props, value);
        return S_OK;
    }

    HRESULT SetOne(const SPropValue* pValue)
    {
        ULONG ulType = PROP_TYPE(pValue->ulPropTag);
        if (!IsStorableType(ulType))
            return MAPI_E_INVALID_TYPE;
        PropValue value;
        if (!PropValueFromMapi(pValue, &value))
            return MAPI_E_INVALID_TYPE;
        return StoreValue(value);
    }

    OutlookHost* m_pHost;
    ItemRecord* m_pRecord;
    LastError m_lastError;
};

}  // namespace

IMessage* NewMessage(OutlookHost* pHost, ItemRecord* pRecord)
{
    return new MessageObject(pHost, pRecord);
}
