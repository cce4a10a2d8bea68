// IMAPITable over a fixed set of rows: the session's status table and a
// message's recipient table.
#include <stdio.h>
#include <string.h>

#include "standin/common/mapi_blocks.h"
#include "standin/outlook/last_error.h"
#include "standin/outlook/outlook_objects.h"

namespace {

int CompareValues(const PropValue& row, const SPropValue* pWanted, HRESULT* phr)
{
    *phr = S_OK;
    switch (PROP_TYPE(pWanted->ulPropTag)) {
    case PT_I2:
    case PT_LONG: {
        LONG nWanted = PROP_TYPE(pWanted->ulPropTag) == PT_I2 ? pWanted->Value.i : pWanted->Value.l;
        return row.m_nValue < nWanted ? -1 : row.m_nValue > nWanted ? 1 : 0;
    }
    case PT_BOOLEAN: {
        LONG nWanted = pWanted->Value.b ? 1 : 0;
        return row.m_nValue < nWanted ? -1 : row.m_nValue > nWanted ? 1 : 0;
    }
    case PT_I8:
        return row.m_nLarge < pWanted->Value.li.QuadPart ? -1 : row.m_nLarge > pWanted->Value.li.QuadPart ? 1 : 0;
    case PT_STRING8: {
        std::string text;
        PropNarrowText(row, &text);
        return lstrcmpiA(text.c_str(), pWanted->Value.lpszA ? pWanted->Value.lpszA : "");
    }
    case PT_UNICODE: {
        std::wstring text;
        PropWideText(row, &text);
        return lstrcmpiW(text.c_str(), pWanted->Value.lpszW ? pWanted->Value.lpszW : L"");
    }
    case PT_BINARY: {
        size_t cbWanted = pWanted->Value.bin.cb;
        size_t cbCommon = row.m_strBytes.size() < cbWanted ? row.m_strBytes.size() : cbWanted;
        int nOrder = cbCommon ? memcmp(row.m_strBytes.data(), pWanted->Value.bin.lpb, cbCommon) : 0;
        if (nOrder)
            return nOrder;
        return row.m_strBytes.size() < cbWanted ? -1 : row.m_strBytes.size() > cbWanted ? 1 : 0;
    }
    default:
        *phr = MAPI_E_TOO_COMPLEX;
        return 0;
    }
}

// Whether the row passes; *phr says MAPI_E_TOO_COMPLEX for what is not understood.
bool Matches(const SRestriction* pRes, const PropList& row, HRESULT* phr)
{
    *phr = S_OK;
    switch (pRes->rt) {
    case RES_AND:
    case RES_OR: {
        bool bAnd = pRes->rt == RES_AND;
        for (ULONG i = 0; i < pRes->res.resAnd.cRes; ++i) {
            bool bMatch = Matches(&pRes->res.resAnd.lpRes[i], row, phr);
            if (FAILED(*phr))
                return false;
            if (bMatch != bAnd)
                return !bAnd;
        }
        return bAnd;
    }
    case RES_NOT: {
        bool bMatch = Matches(pRes->res.resNot.lpRes, row, phr);
        return SUCCEEDED(*phr) && !bMatch;
    }
    case RES_EXIST:
        return FindProp(row, PROP_ID(pRes->res.resExist.ulPropTag)) != NULL;
    case RES_BITMASK: {
        const PropValue* pValue = FindProp(row, PROP_ID(pRes->res.resBitMask.ulPropTag));
        if (!pValue || PROP_TYPE(pValue->m_ulTag) != PT_LONG)
            return false;
        bool bSet = (pValue->m_nValue & pRes->res.resBitMask.ulMask) != 0;
        return pRes->res.resBitMask.relBMR == BMR_NEZ ? bSet : !bSet;
    }
    case RES_PROPERTY: {
        const SPropertyRestriction& prop = pRes->res.resProperty;
        if (!prop.lpProp) {
            *phr = MAPI_E_INVALID_PARAMETER;
            return false;
        }
        const PropValue* pValue = FindProp(row, PROP_ID(prop.ulPropTag));
        if (!pValue)
            return false;
        ULONG ulRowType = PROP_TYPE(pValue->m_ulTag);
        ULONG ulWantedType = PROP_TYPE(prop.lpProp->ulPropTag);
        bool bStrings = (ulRowType == PT_STRING8 || ulRowType == PT_UNICODE) &&
                        (ulWantedType == PT_STRING8 || ulWantedType == PT_UNICODE);
        if (ulRowType != ulWantedType && !bStrings)
            return false;
        int nOrder = CompareValues(*pValue, prop.lpProp, phr);
        if (FAILED(*phr))
            return false;
        switch (prop.relop) {
        case RELOP_LT:
            return nOrder < 0;
        case RELOP_LE:
            return nOrder <= 0;
        case RELOP_GT:
            return nOrder > 0;
        case RELOP_GE:
            return nOrder >= 0;
        case RELOP_EQ:
            return nOrder == 0;
        case RELOP_NE:
            return nOrder != 0;
        default:
            *phr = MAPI_E_TOO_COMPLEX;
            return false;
        }
    }
    default:
        *phr = MAPI_E_TOO_COMPLEX;
        return false;
    }
}

class RowTable final : public UnknownObject<IMAPITable> {
public:
    RowTable(OutlookHost* pHost, const std::vector<PropList>& vecRows)
        : m_pHost(pHost), m_vecRows(vecRows), m_nCursor(0)
    {
        m_pHost->AddRef();
        for (size_t i = 0; i < m_vecRows.size(); ++i) {
            m_vecVisible.push_back(i);
            for (const PropValue& value : m_vecRows[i]) {
                bool bKnown = false;
                for (ULONG ulTag : m_vecColumns)
                    bKnown = bKnown || PROP_ID(ulTag) == PROP_ID(value.m_ulTag);
                if (!bKnown)
                    m_vecColumns.push_back(value.m_ulTag);
            }
        }
    }

    STDMETHODIMP GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) override
    {
        return m_lastError.Report(hResult, ulFlags, lppMAPIError, "The table operation failed (0x%08lX).");
    }
    STDMETHODIMP Advise(ULONG, LPMAPIADVISESINK, ULONG*) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP Unadvise(ULONG) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP GetStatus(ULONG* lpulTableStatus, ULONG* lpulTableType) override
    {
        if (!lpulTableStatus || !lpulTableType)
            return MAPI_E_INVALID_PARAMETER;
        *lpulTableStatus = TBLSTAT_COMPLETE;
        *lpulTableType = TBLTYPE_SNAPSHOT;
        return S_OK;
    }

    STDMETHODIMP SetColumns(LPSPropTagArray lpPropTagArray, ULONG ulFlags) override
    {
        HRESULT hr = S_OK;
        if (m_lastError.Faulted("IMAPITable.SetColumns", &hr))
            return hr;
        if (!lpPropTagArray)
            return m_lastError.Set(MAPI_E_INVALID_PARAMETER, "No column set was given.");
        m_vecColumns.assign(lpPropTagArray->aulPropTag, lpPropTagArray->aulPropTag + lpPropTagArray->cValues);
        return S_OK;
    }

    STDMETHODIMP QueryColumns(ULONG ulFlags, LPSPropTagArray* lpPropTagArray) override
    {
        if (!lpPropTagArray)
            return MAPI_E_INVALID_PARAMETER;
        *lpPropTagArray = NULL;
        HRESULT hr = S_OK;
        if (m_lastError.Faulted("IMAPITable.QueryColumns", &hr))
            return hr;
        SPropTagArray* pTags = NULL;
        hr = AllocateTagArray((ULONG)m_vecColumns.size(), &pTags);
        if (FAILED(hr))
            return hr;
        for (size_t i = 0; i < m_vecColumns.size(); ++i)
            pTags->aulPropTag[i] = m_vecColumns[i];
        *lpPropTagArray = pTags;
        return S_OK;
    }

    STDMETHODIMP GetRowCount(ULONG ulFlags, ULONG* lpulCount) override
    {
        if (!lpulCount)
            return MAPI_E_INVALID_PARAMETER;
        *lpulCount = 0;
        HRESULT hr = S_OK;
        if (m_lastError.Faulted("IMAPITable.GetRowCount", &hr))
            return hr;
        *lpulCount = (ULONG)m_vecVisible.size();
        return S_OK;
    }

    STDMETHODIMP SeekRow(BOOKMARK bkOrigin, LONG lRowCount, LONG* lplRowsSought) override
    {
        if (lplRowsSought)
            *lplRowsSought = 0;
        HRESULT hr = S_OK;
        if (m_lastError.Faulted("IMAPITable.SeekRow", &hr))
            return hr;
        LONGLONG nStart;
        if (bkOrigin == BOOKMARK_BEGINNING)
            nStart = 0;
        else if (bkOrigin == BOOKMARK_CURRENT)
            nStart = (LONGLONG)m_nCursor;
        else if (bkOrigin == BOOKMARK_END)
            nStart = (LONGLONG)m_vecVisible.size();
        else
            return m_lastError.Set(MAPI_E_INVALID_BOOKMARK, "The bookmark is not known.");
        LONGLONG nTarget = nStart + lRowCount;
        if (nTarget < 0)
            nTarget = 0;
        if (nTarget > (LONGLONG)m_vecVisible.size())
            nTarget = (LONGLONG)m_vecVisible.size();
        m_nCursor = (size_t)nTarget;
        if (lplRowsSought)
            *lplRowsSought = (LONG)(nTarget - nStart);
        return S_OK;
    }
    STDMETHODIMP SeekRowApprox(ULONG, ULONG) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP QueryPosition(ULONG* lpulRow, ULONG* lpulNumerator, ULONG* lpulDenominator) override
    {
        if (!lpulRow || !lpulNumerator || !lpulDenominator)
            return MAPI_E_INVALID_PARAMETER;
        *lpulRow = (ULONG)m_nCursor;
        *lpulNumerator = (ULONG)m_nCursor;
        *lpulDenominator = (ULONG)m_vecVisible.size();
        return S_OK;
    }
    STDMETHODIMP FindRow(LPSRestriction, BOOKMARK, ULONG) override { return MAPI_E_NO_SUPPORT; }

    STDMETHODIMP Restrict(LPSRestriction lpRestriction, ULONG ulFlags) override
    {
        HRESULT hr = S_OK;
        if (m_lastError.Faulted("IMAPITable.Restrict", &hr))
            return hr;
        std::vector<size_t> vecVisible;
        for (size_t i = 0; i < m_vecRows.size(); ++i) {
            bool bMatch = !lpRestriction || Matches(lpRestriction, m_vecRows[i], &hr);
            if (FAILED(hr))
                return m_lastError.Set(hr, "The restriction is not one this table understands.");
            if (bMatch)
                vecVisible.push_back(i);
        }
        m_vecVisible.swap(vecVisible);
        m_nCursor = 0;
        return S_OK;
    }
    STDMETHODIMP CreateBookmark(BOOKMARK*) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP FreeBookmark(BOOKMARK) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP SortTable(LPSSortOrderSet lpSortCriteria, ULONG ulFlags) override
    {
        HRESULT hr = S_OK;
        if (m_lastError.Faulted("IMAPITable.SortTable", &hr))
            return hr;
        // The rows have one natural order; a sort leaves it.
        return S_OK;
    }
    STDMETHODIMP QuerySortOrder(LPSSortOrderSet*) override { return MAPI_E_NO_SUPPORT; }

    STDMETHODIMP QueryRows(LONG lRowCount, ULONG ulFlags, LPSRowSet* lppRows) override
    {
        if (!lppRows)
            return MAPI_E_INVALID_PARAMETER;
        *lppRows = NULL;
        HRESULT hr = S_OK;
        if (m_lastError.Faulted("IMAPITable.QueryRows", &hr))
            return hr;
        if (lRowCount == 0)
            return m_lastError.Set(MAPI_E_INVALID_PARAMETER, "QueryRows needs a row count.");
        size_t nFirst = m_nCursor;
        size_t nCount;
        if (lRowCount > 0) {
            size_t nLeft = m_vecVisible.size() - m_nCursor;
            nCount = (size_t)lRowCount < nLeft ? (size_t)lRowCount : nLeft;
        } else {
            size_t nBack = (size_t)(-(LONGLONG)lRowCount);
            nCount = nBack < m_nCursor ? nBack : m_nCursor;
            nFirst = m_nCursor - nCount;
        }
        void* pBlock = NULL;
        hr = AllocateMapiBlock(CbNewSRowSet(nCount ? nCount : 1), &pBlock);
        if (FAILED(hr))
            return hr;
        SRowSet* pRows = (SRowSet*)pBlock;
        memset(pRows, 0, CbNewSRowSet(nCount ? nCount : 1));
        for (size_t r = 0; r < nCount; ++r) {
            hr = BuildRow(m_vecRows[m_vecVisible[nFirst + r]], &pRows->aRow[r]);
            if (FAILED(hr)) {
                for (size_t done = 0; done < r; ++done)
                    FreeMapiBlock(pRows->aRow[done].lpProps);
                FreeMapiBlock(pRows);
                return hr;
            }
            pRows->cRows = (ULONG)(r + 1);
        }
        if (!(ulFlags & TBL_NOADVANCE))
            m_nCursor = lRowCount > 0 ? nFirst + nCount : nFirst;
        *lppRows = pRows;
        return S_OK;
    }

    STDMETHODIMP Abort() override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP ExpandRow(ULONG, LPBYTE, ULONG, ULONG, LPSRowSet*, ULONG*) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP CollapseRow(ULONG, LPBYTE, ULONG, ULONG*) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP WaitForCompletion(ULONG, ULONG, ULONG*) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP GetCollapseState(ULONG, ULONG, LPBYTE, ULONG*, LPBYTE*) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP SetCollapseState(ULONG, ULONG, LPBYTE, BOOKMARK*) override { return MAPI_E_NO_SUPPORT; }

private:
    bool Answers(REFIID riid) const override { return IsEqualIID(riid, IID_IMAPITable); }

    ~RowTable() { m_pHost->Release(); }

    // One row in the current columns; each row is a parent block of its own,
    // which is what FreeProws frees.
    HRESULT BuildRow(const PropList& row, SRow* pRow)
    {
        SPropValue* pValues = NULL;
        HRESULT hr = AllocatePropArray((ULONG)m_vecColumns.size(), &pValues);
        if (FAILED(hr))
            return hr;
        for (size_t c = 0; c < m_vecColumns.size(); ++c) {
            const PropValue* pValue = FindProp(row, PROP_ID(m_vecColumns[c]));
            if (!pValue) {
                SetErrorValue(m_vecColumns[c], MAPI_E_NOT_FOUND, &pValues[c]);
                continue;
            }
            hr = PropValueToMapi(*pValue, m_vecColumns[c], pValues, &pValues[c]);
            if (hr == MAPI_E_NOT_ENOUGH_MEMORY) {
                FreeMapiBlock(pValues);
                return hr;
            }
        }
        pRow->ulAdrEntryPad = 0;
        pRow->cValues = (ULONG)m_vecColumns.size();
        pRow->lpProps = pValues;
        return S_OK;
    }

    OutlookHost* m_pHost;
    std::vector<PropList> m_vecRows;
    std::vector<ULONG> m_vecColumns;
    std::vector<size_t> m_vecVisible;
    size_t m_nCursor;
    LastError m_lastError;
};

}  // namespace

IMAPITable* NewRowTable(OutlookHost* pHost, const std::vector<PropList>& vecRows)
{
    return new RowTable(pHost, vecRows);
}
