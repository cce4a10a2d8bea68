#include "standin/mapi/mapi_standin.h"

#include <mapicode.h>
#include <string.h>

#include "standin/common/mapi_blocks.h"

namespace {

// Rows asked of the table per QueryRows; the table may answer fewer.
const LONG kRowsPerChunk = 50;

// Rows gathered from the chunks so far, each row still owning its lpProps.
// Lives on the process heap until the final row set is built.
class RowGather {
public:
    RowGather() : m_pRows(NULL), m_cRows(0), m_cCapacity(0) {}
    ~RowGather()
    {
        for (ULONG i = 0; i < m_cRows; ++i)
            FreeMapiBlock(m_pRows[i].lpProps);
        if (m_pRows)
            HeapFree(GetProcessHeap(), 0, m_pRows);
    }
    RowGather(const RowGather&) = delete;
    RowGather& operator=(const RowGather&) = delete;

    ULONG Count() const { return m_cRows; }

    // Takes the rows of pChunk over; the chunk's own block stays the caller's.
    HRESULT Take(LPSRowSet pChunk)
    {
        if (pChunk->cRows > 0x00FFFFFFu - m_cRows)
            return MAPI_E_NOT_ENOUGH_MEMORY;
        ULONG cNeeded = m_cRows + pChunk->cRows;
        if (cNeeded > m_cCapacity) {
            ULONG cCapacity = m_cCapacity ? m_cCapacity * 2 : 64;
            while (cCapacity < cNeeded)
                cCapacity *= 2;
            SRow* pRows = m_pRows ? (SRow*)HeapReAlloc(GetProcessHeap(), 0, m_pRows, cCapacity * sizeof(SRow))
                                  : (SRow*)HeapAlloc(GetProcessHeap(), 0, cCapacity * sizeof(SRow));
            if (!pRows)
                return MAPI_E_NOT_ENOUGH_MEMORY;
            m_pRows = pRows;
            m_cCapacity = cCapacity;
        }
        memcpy(m_pRows + m_cRows, pChunk->aRow, pChunk->cRows * sizeof(SRow));
        m_cRows = cNeeded;
        pChunk->cRows = 0;
        return S_OK;
    }

    // The gathered rows as one row set; the rows then belong to it.
    HRESULT Finish(LPSRowSet* ppRows)
    {
        void* pBlock = NULL;
        HRESULT hr = AllocateMapiBlock(CbNewSRowSet(m_cRows), &pBlock);
        if (FAILED(hr))
            return hr;
        LPSRowSet pRows = (LPSRowSet)pBlock;
        pRows->cRows = m_cRows;
        if (m_cRows)
            memcpy(pRows->aRow, m_pRows, m_cRows * sizeof(SRow));
        m_cRows = 0;
        *ppRows = pRows;
        return S_OK;
    }

private:
    SRow* m_pRows;
    ULONG m_cRows;
    ULONG m_cCapacity;
};

// The row set a table answered, with whatever rows it still holds.
void FreeRowSet(LPSRowSet pRows)
{
    if (!pRows)
        return;
    for (ULONG i = 0; i < pRows->cRows; ++i)
        FreeMapiBlock(pRows->aRow[i].lpProps);
    FreeMapiBlock(pRows);
}

}  // namespace

extern "C" void WINAPI FreeProws(LPSRowSet lpRows)
{
    if (FAILED(InjectedFault("FreeProws")))
        return;
    FreeRowSet(lpRows);
}

extern "C" void WINAPI FreePadrlist(LPADRLIST lpAdrlist)
{
    if (FAILED(InjectedFault("FreePadrlist")))
        return;
    if (!lpAdrlist)
        return;
    for (ULONG i = 0; i < lpAdrlist->cEntries; ++i)
        FreeMapiBlock(lpAdrlist->aEntries[i].rgPropVals);
    FreeMapiBlock(lpAdrlist);
}

extern "C" HRESULT WINAPI HrQueryAllRows(LPMAPITABLE lpTable, LPSPropTagArray lpPropTags, LPSRestriction lpRestriction,
                                         LPSSortOrderSet lpSortOrderSet, LONG crowsMax, LPSRowSet* lppRows)
{
    HRESULT hr = InjectedFault("HrQueryAllRows");
    if (lppRows)
        *lppRows = NULL;
    if (FAILED(hr))
        return hr;
    if (!lpTable || !lppRows || crowsMax < 0)
        return MAPI_E_INVALID_PARAMETER;

    if (lpPropTags) {
        hr = lpTable->SetColumns(lpPropTags, TBL_BATCH);
        if (FAILED(hr))
            return hr;
    }
    if (lpRestriction) {
        hr = lpTable->Restrict(lpRestriction, TBL_BATCH);
        if (FAILED(hr))
            return hr;
    }
    if (lpSortOrderSet) {
        hr = lpTable->SortTable(lpSortOrderSet, TBL_BATCH);
        if (FAILED(hr))
            return hr;
    }
    hr = lpTable->SeekRow(BOOKMARK_BEGINNING, 0, NULL);
    if (FAILED(hr))
        return hr;

    RowGather gather;
    for (;;) {
        LPSRowSet pChunk = NULL;
        hr = lpTable->QueryRows(kRowsPerChunk, 0, &pChunk);
        // A failed call hands out nothing, so there is no chunk to free.
        if (FAILED(hr))
            return hr;
        if (!pChunk)
            break;
        bool bDone = pChunk->cRows == 0;
        hr = gather.Take(pChunk);
        FreeRowSet(pChunk);
        if (FAILED(hr))
            return hr;
        if (bDone)
            break;
        if (crowsMax > 0 && gather.Count() > (ULONG)crowsMax)
            return MAPI_E_TABLE_TOO_BIG;
    }
    return gather.Finish(lppRows);
}
