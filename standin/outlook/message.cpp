// IMessage: the Extended MAPI view of an item record. Like a message of a
// real store it is transacted: SetProps, ModifyRecipients and committed
// property streams change a pending copy of the record, which this object
// (and the _MailItem it belongs to) reads at once; SaveChanges or
// SubmitMessage makes it the stored record, and releasing the object unsaved
// drops it.
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

// GetProps hands out string and binary values of at most this many bytes
// (as the caller asked for them, terminator included); a longer one comes as
// an error value of MAPI_E_NOT_ENOUGH_MEMORY. Stores choose their own limit,
// typically between 4 KB and 16 KB; the stand-in takes the low end.
const size_t kLargestValueBytes = 4096;

size_t HandedOutBytes(const PropValue& value, ULONG ulWantedTag)
{
    ULONG ulType = PROP_TYPE(ulWantedTag) == PT_UNSPECIFIED ? PROP_TYPE(value.m_ulTag) : PROP_TYPE(ulWantedTag);
    std::wstring wide;
    std::string narrow;
    if (ulType == PT_UNICODE && PropWideText(value, &wide))
        return (wide.size() + 1) * sizeof(wchar_t);
    if (ulType == PT_STRING8 && PropNarrowText(value, &narrow))
        return narrow.size() + 1;
    if (ulType == PT_BINARY && PROP_TYPE(value.m_ulTag) == PT_BINARY)
        return value.m_strBytes.size();
    return 0;
}

class MessageObject final : public MapiPropBase<IMessage>, public StreamTarget {
public:
    MessageObject(OutlookHost* pHost, ItemRecord* pRecord) : m_pHost(pHost), m_pRecord(pRecord), m_nState(StateOpen)
    {
        m_pHost->AddRef();
        m_pRecord->AddRef();
    }

    // What the object shows: the pending changes where there are any.
    const ItemRecord* Shown() const { return m_pending ? m_pending.Get() : m_pRecord; }
    // The record to change; the first change starts the pending copy.
    ItemRecord* Changing()
    {
        if (!m_pending)
            m_pending.Reset(m_pRecord->CopyContent());
        return m_pending.Get();
    }
    // False once SubmitMessage or a closing SaveChanges ended the object.
    bool Usable() const { return m_nState != StateEnded; }
    void Discard() { m_pending.Reset(); }

    // The pending changes made the stored record, and the item file written:
    // the one write of a save. Nothing pending and the file as the record
    // is: nothing to commit, nothing written. A failure leaves both the
    // stored record and the pending changes as they were.
    HRESULT Commit()
    {
        if (m_pRecord->m_bDeleted)
            return MAPI_E_OBJECT_DELETED;
        if (!m_pending)
            return m_pRecord->m_bFileCurrent ? S_OK : m_pHost->SaveItem(m_pRecord);
        m_pRecord->SwapContent(*m_pending.Get());
        HRESULT hr = m_pHost->SaveItem(m_pRecord);
        if (FAILED(hr)) {
            m_pRecord->SwapContent(*m_pending.Get());
            m_pHost->RestoreItemFile(m_pRecord);
            return hr;
        }
        m_pending.Reset();
        return S_OK;
    }

    // StreamTarget
    void KeepTarget() override { AddRef(); }
    void DropTarget() override { Release(); }
    HRESULT StoreStreamBytes(ULONG ulTag, const std::string& bytes) override
    {
        HRESULT hr = Refusal(true);
        if (FAILED(hr))
            return hr;
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
            Changing()->PutHtmlBytes(bytes);
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
        if (m_pRecord->m_bDeleted)
            return MAPI_E_OBJECT_DELETED;
        if (!Usable())
            return MAPI_E_INVALID_OBJECT;
        return m_lastError.Report(hResult, ulFlags, lppMAPIError);
    }

    STDMETHODIMP SaveChanges(ULONG ulFlags) override
    {
        HRESULT hr = S_OK;
        if (m_lastError.Faulted("IMessage.SaveChanges", &hr))
            return hr;
        hr = Refusal(false);
        if (FAILED(hr))
            return hr;
        if (ulFlags & ~(ULONG)(KEEP_OPEN_READONLY | KEEP_OPEN_READWRITE | FORCE_SAVE | MAPI_DEFERRED_ERRORS))
            return m_lastError.Set(MAPI_E_UNKNOWN_FLAGS, "SaveChanges was given unknown flags.");
        hr = Commit();
        if (FAILED(hr))
            return m_lastError.Set(hr, "The message could not be saved.");
        // Without a flag to keep it open the object is closed; read-only
        // keeps it for reading.
        if (ulFlags & KEEP_OPEN_READWRITE)
            m_nState = StateOpen;
        else if (ulFlags & KEEP_OPEN_READONLY)
            m_nState = StateReadOnly;
        else
            m_nState = StateEnded;
        return S_OK;
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
        hr = Refusal(false);
        if (FAILED(hr))
            return hr;
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
            // A long string or binary value is not handed out whole: the
            // caller reads it through OpenProperty as a stream.
            if (HandedOutBytes(value, vecTags[i]) > kLargestValueBytes) {
                SetErrorValue(vecTags[i], MAPI_E_NOT_ENOUGH_MEMORY, &pValues[i]);
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
        hr = Refusal(false);
        if (FAILED(hr))
            return hr;
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
        bool bWritable = (ulFlags & (MAPI_CREATE | MAPI_MODIFY)) != 0;
        hr = Refusal(bWritable);
        if (FAILED(hr))
            return hr;
        if (!IsEqualIID(*lpiid, IID_IStream))
            return m_lastError.Set(MAPI_E_INTERFACE_NOT_SUPPORTED, "Properties open as IStream only.");
        ULONG ulType = PROP_TYPE(ulPropTag);
        if (!IsStringType(ulType) && ulType != PT_BINARY)
            return m_lastError.Set(MAPI_E_INTERFACE_NOT_SUPPORTED, "Only string and binary properties open as streams.");
        if (IsComputed(PROP_ID(ulPropTag)) && (ulFlags & (MAPI_CREATE | MAPI_MODIFY)))
            return m_lastError.Set(MAPI_E_COMPUTED, "The property is computed by the store.");

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
        hr = Refusal(true);
        if (FAILED(hr))
            return hr;
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
        hr = Refusal(false);
        if (FAILED(hr))
            return hr;
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
        hr = Refusal(false);
        if (FAILED(hr))
            return hr;
        *lppTable = NewRowTable(m_pHost, Shown()->m_vecRecipients);
        return S_OK;
    }

    STDMETHODIMP ModifyRecipients(ULONG ulFlags, LPADRLIST lpMods) override
    {
        HRESULT hr = S_OK;
        if (m_lastError.Faulted("IMessage.ModifyRecipients", &hr))
            return hr;
        if (!lpMods)
            return m_lastError.Set(MAPI_E_INVALID_PARAMETER, "ModifyRecipients was given no list.");
        hr = Refusal(true);
        if (FAILED(hr))
            return hr;
        const ULONG ulKnown = MODRECIP_ADD | MODRECIP_MODIFY | MODRECIP_REMOVE;
        if (ulFlags & ~ulKnown)
            return m_lastError.Set(MAPI_E_UNKNOWN_FLAGS, "ModifyRecipients was given unknown flags.");
        ULONG ulMode = ulFlags & ulKnown;
        if (ulMode != 0 && ulMode != MODRECIP_ADD && ulMode != MODRECIP_MODIFY && ulMode != MODRECIP_REMOVE)
            return m_lastError.Set(MAPI_E_INVALID_PARAMETER, "ModifyRecipients takes one of add, modify or remove.");
        const std::vector<PropList>& vecCurrent = Shown()->m_vecRecipients;
        // Every row is checked before any is taken, so a bad list changes nothing.
        std::vector<PropList> vecRows;
        std::vector<LONG> vecRowIds;
        for (ULONG e = 0; e < lpMods->cEntries; ++e) {
            const ADRENTRY& entry = lpMods->aEntries[e];
            if (entry.cValues && !entry.rgPropVals)
                return m_lastError.Set(MAPI_E_INVALID_PARAMETER, "A recipient row has no values.");
            PropList row;
            LONG nRowId = -1;
            for (ULONG v = 0; v < entry.cValues; ++v) {
                const SPropValue* pValue = &entry.rgPropVals[v];
                ULONG ulType = PROP_TYPE(pValue->ulPropTag);
                if (pValue->ulPropTag == PR_ROWID) {
                    nRowId = pValue->Value.l;
                    continue;
                }
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
            // Modify and remove name the row they mean by its PR_ROWID.
            if (ulMode == MODRECIP_MODIFY || ulMode == MODRECIP_REMOVE) {
                if (RowIndex(vecCurrent, nRowId) < 0) {
                    char szText[96];
                    snprintf(szText, sizeof(szText), "Recipient %lu names no row of the recipient table.",
                             (unsigned long)(e + 1));
                    return m_lastError.Set(MAPI_E_NOT_FOUND, szText);
                }
            }
            vecRows.push_back(row);
            vecRowIds.push_back(nRowId);
        }
        ItemRecord* pRecord = Changing();
        std::vector<PropList>& vecRecipients = pRecord->m_vecRecipients;
        if (ulMode == MODRECIP_REMOVE) {
            for (LONG nRowId : vecRowIds) {
                int nIndex = RowIndex(vecRecipients, nRowId);
                if (nIndex >= 0)
                    vecRecipients.erase(vecRecipients.begin() + nIndex);
            }
            return S_OK;
        }
        if (ulMode == MODRECIP_MODIFY) {
            for (size_t i = 0; i < vecRows.size(); ++i) {
                int nIndex = RowIndex(vecRecipients, vecRowIds[i]);
                if (nIndex < 0)
                    continue;
                vecRows[i].push_back(LongProp(PR_ROWID, vecRowIds[i]));
                vecRecipients[nIndex] = vecRows[i];
            }
            return S_OK;
        }
        if (ulMode == 0)
            vecRecipients.clear();
        for (PropList& row : vecRows) {
            row.push_back(LongProp(PR_ROWID, pRecord->m_nNextRowId++));
            vecRecipients.push_back(row);
        }
        return S_OK;
    }

    STDMETHODIMP SubmitMessage(ULONG ulFlags) override
    {
        HRESULT hr = S_OK;
        if (m_lastError.Faulted("IMessage.SubmitMessage", &hr))
            return hr;
        hr = Refusal(true);
        if (FAILED(hr))
            return hr;
        // Submission saves every change first; a message refused for what it
        // lacks stays open with its changes, as MAPI leaves it.
        if (m_pending)
            m_pRecord->SwapContent(*m_pending.Get());
        char szWhy[320];
        hr = m_pHost->SubmitItem(m_pRecord, szWhy, sizeof(szWhy));
        if (FAILED(hr)) {
            if (m_pending)
                m_pRecord->SwapContent(*m_pending.Get());
            // A refusal wrote nothing; a failed write is undone.
            m_pHost->RestoreItemFile(m_pRecord);
            return m_lastError.Set(hr, szWhy);
        }
        m_pending.Reset();
        m_nState = StateEnded;
        return S_OK;
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

    enum OpenState {
        StateOpen,
        StateReadOnly,   // saved with KEEP_OPEN_READONLY
        StateEnded,      // submitted, or saved without a flag to keep it open
    };

    // Why a call cannot be made now: the message is gone, ended, or (for a
    // change) open for reading only. S_OK when it can.
    HRESULT Refusal(bool bChange)
    {
        if (m_pRecord->m_bDeleted)
            return m_lastError.Set(MAPI_E_OBJECT_DELETED, "The message has been moved or deleted.");
        if (m_nState == StateEnded)
            return m_lastError.Set(MAPI_E_INVALID_OBJECT, "The message was submitted or closed; only Release is left.");
        if (bChange && m_nState == StateReadOnly)
            return m_lastError.Set(MAPI_E_NO_ACCESS, "The message was saved to be kept open for reading only.");
        return S_OK;
    }

    static int RowIndex(const std::vector<PropList>& vecRows, LONG nRowId)
    {
        for (size_t i = 0; i < vecRows.size(); ++i) {
            const PropValue* pRowId = FindProp(vecRows[i], PROP_ID(PR_ROWID));
            if (pRowId && pRowId->m_nValue == nRowId)
                return (int)i;
        }
        return -1;
    }

    // The value stored or computed for the tag's id, in the type it has.
    bool ReadValue(ULONG ulTag, PropValue* pValue) const
    {
        const ItemRecord* pRecord = Shown();
        const ItemRecord* pStored = m_pRecord;
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
            if (!pStored->m_bSent)
                nFlags |= MSGFLAG_UNSENT;
            if (pStored->m_nSubmitOrder)
                nFlags |= MSGFLAG_SUBMIT;
            *pValue = LongProp(PR_MESSAGE_FLAGS, nFlags);
            return true;
        }
        if (ulPropId == PROP_ID(PR_CLIENT_SUBMIT_TIME)) {
            if (!pStored->m_bSent)
                return false;
            pValue->m_ulTag = PR_CLIENT_SUBMIT_TIME;
            pValue->m_nLarge = ((LONGLONG)pStored->m_ftSent.dwHighDateTime << 32) | pStored->m_ftSent.dwLowDateTime;
            return true;
        }
        const PropValue* pProp = FindProp(pRecord->m_props, ulPropId);
        if (pProp) {
            *pValue = *pProp;
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
        const ItemRecord* pRecord = Shown();
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
        if (m_pRecord->m_bSent)
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
            ItemRecord* pRecord = Changing();
            if (ulPropId == PROP_ID(PR_SUBJECT_W)) {
                pRecord->PutSubject(text);
                return S_OK;
            }
            // The plain body alone: the HTML stays as it was.
            if (ulType == PT_STRING8)
                pRecord->PutNarrowBody(value.m_strBytes);
            else
                pRecord->PutWideBody(text);
            return S_OK;
        }
        if (ulPropId == PROP_ID(PR_HTML)) {
            if (ulType != PT_BINARY)
                return MAPI_E_INVALID_TYPE;
            Changing()->PutHtmlBytes(value.m_strBytes);
            return S_OK;
        }
        if (IsComputed(ulPropId))
            return MAPI_E_COMPUTED;
        if (ulPropId >= STANDIN_FIRST_NAMED_ID && !m_pHost->IsMappedId(ulPropId))
            return MAPI_E_UNEXPECTED_ID;
        StoreProp(&Changing()->m_props, value);
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
    ItemRecord* m_pRecord;      // as stored
    Ref<ItemRecord> m_pending;  // changes not saved yet; empty when none
    OpenState m_nState;
    LastError m_lastError;
};

MessageObject* OfMessage(IMessage* pMessage)
{
    return static_cast<MessageObject*>(pMessage);
}

}  // namespace

IMessage* NewMessage(OutlookHost* pHost, ItemRecord* pRecord)
{
    return new MessageObject(pHost, pRecord);
}

const ItemRecord* ShownRecord(IMessage* pMessage)
{
    return OfMessage(pMessage)->Shown();
}

ItemRecord* ChangingRecord(IMessage* pMessage)
{
    return OfMessage(pMessage)->Changing();
}

HRESULT CommitMessage(IMessage* pMessage)
{
    return OfMessage(pMessage)->Commit();
}

void DiscardMessageChanges(IMessage* pMessage)
{
    OfMessage(pMessage)->Discard();
}

bool MessageUsable(IMessage* pMessage)
{
    return OfMessage(pMessage)->Usable();
}
