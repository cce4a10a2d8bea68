#include <initguid.h>
#define USES_IID_IMAPITable
#include <mapiguid.h>

#include <gtest/gtest.h>

#include <mapicode.h>
#include <mapitags.h>
#include <string.h>

#include <string>
#include <vector>

#include "standin/common/fault_plan.h"
#include "standin/common/mapi_blocks.h"
#include "tests/standin/mapi/mapi_library.h"

namespace {

struct TableRow {
    const char* pszName;
    LONG nKind;
};

// A table over fixed rows that answers at most m_nPerCall rows per QueryRows,
// whatever was asked, honours SetColumns and a RES_PROPERTY equality
// restriction on a long, and records what reached it.
class TestTable final : public IMAPITable {
public:
    explicit TestTable(MapiLibrary& mapi, std::vector<TableRow> rows) : m_mapi(mapi), m_rows(std::move(rows)) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IMAPITable) {
            *ppv = static_cast<IMAPITable*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = NULL;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_nRefs; }
    STDMETHODIMP_(ULONG) Release() override { return --m_nRefs; }

    STDMETHODIMP GetLastError(HRESULT, ULONG, LPMAPIERROR*) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP Advise(ULONG, LPMAPIADVISESINK, ULONG*) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP Unadvise(ULONG) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP GetStatus(ULONG*, ULONG*) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP SetColumns(LPSPropTagArray pTags, ULONG) override
    {
        m_calls += "SetColumns ";
        m_pColumns = pTags;
        return m_hrSetColumns;
    }
    STDMETHODIMP QueryColumns(ULONG, LPSPropTagArray*) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP GetRowCount(ULONG, ULONG*) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP SeekRow(BOOKMARK bkOrigin, LONG lRowCount, LONG* plSought) override
    {
        m_calls += "SeekRow ";
        if (FAILED(m_hrSeekRow))
            return m_hrSeekRow;
        if (bkOrigin != BOOKMARK_BEGINNING || lRowCount != 0)
            return MAPI_E_NO_SUPPORT;
        m_nPosition = 0;
        if (plSought)
            *plSought = 0;
        return S_OK;
    }
    STDMETHODIMP SeekRowApprox(ULONG, ULONG) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP QueryPosition(ULONG*, ULONG*, ULONG*) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP FindRow(LPSRestriction, BOOKMARK, ULONG) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP Restrict(LPSRestriction pRestriction, ULONG) override
    {
        m_calls += "Restrict ";
        if (FAILED(m_hrRestrict))
            return m_hrRestrict;
        m_pRestriction = pRestriction;
        m_nPosition = 0;
        return S_OK;
    }
    STDMETHODIMP CreateBookmark(BOOKMARK*) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP FreeBookmark(BOOKMARK) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP SortTable(LPSSortOrderSet pSort, ULONG) override
    {
        m_calls += "SortTable ";
        m_pSort = pSort;
        return m_hrSortTable;
    }
    STDMETHODIMP QuerySortOrder(LPSSortOrderSet*) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP QueryRows(LONG lRowCount, ULONG, LPSRowSet* ppRows) override
    {
        m_calls += "QueryRows ";
        *ppRows = NULL;
        if (++m_nQueryRowsCalls == m_nFailQueryRowsOnCall)
            return MAPI_E_CALL_FAILED;
        if (lRowCount <= 0)
            return MAPI_E_INVALID_PARAMETER;
        std::vector<const TableRow*> visible;
        for (const TableRow& row : m_rows) {
            if (Matches(row))
                visible.push_back(&row);
        }
        ULONG cRows = 0;
        while (cRows < (ULONG)lRowCount && cRows < m_nPerCall && m_nPosition + cRows < visible.size())
            ++cRows;
        LPSRowSet pRows = NULL;
        if (m_mapi.m_pfnAllocateBuffer(CbNewSRowSet(cRows), (void**)&pRows) != S_OK)
            return MAPI_E_NOT_ENOUGH_MEMORY;
        pRows->cRows = cRows;
        for (ULONG i = 0; i < cRows; ++i) {
            SRow& row = pRows->aRow[i];
            row.ulAdrEntryPad = 0;
            MakeProps(*visible[m_nPosition + i], &row);
            m_handedOut.push_back(row.lpProps);
        }
        m_nPosition += cRows;
        *ppRows = pRows;
        return S_OK;
    }
    STDMETHODIMP Abort() override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP ExpandRow(ULONG, LPBYTE, ULONG, ULONG, LPSRowSet*, ULONG*) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP CollapseRow(ULONG, LPBYTE, ULONG, ULONG*) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP WaitForCompletion(ULONG, ULONG, ULONG*) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP GetCollapseState(ULONG, ULONG, LPBYTE, ULONG*, LPBYTE*) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP SetCollapseState(ULONG, ULONG, LPBYTE, BOOKMARK*) override { return MAPI_E_NO_SUPPORT; }

    ULONG m_nPerCall = 3;
    int m_nFailQueryRowsOnCall = 0;
    HRESULT m_hrSetColumns = S_OK;
    HRESULT m_hrRestrict = S_OK;
    HRESULT m_hrSortTable = S_OK;
    HRESULT m_hrSeekRow = S_OK;

    std::string m_calls;
    int m_nQueryRowsCalls = 0;
    LPSPropTagArray m_pColumns = NULL;
    LPSRestriction m_pRestriction = NULL;
    LPSSortOrderSet m_pSort = NULL;
    std::vector<LPSPropValue> m_handedOut;
    ULONG m_nPosition = 0;

private:
    bool Matches(const TableRow& row) const
    {
        if (!m_pRestriction)
            return true;
        const SPropertyRestriction& res = m_pRestriction->res.resProperty;
        return m_pRestriction->rt == RES_PROPERTY && res.relop == RELOP_EQ && res.ulPropTag == PR_RECIPIENT_TYPE &&
               res.lpProp->Value.l == row.nKind;
    }

    void MakeProps(const TableRow& source, SRow* pRow)
    {
        static const SizedSPropTagArray(2, s_defaultColumns) = { 2, { PR_DISPLAY_NAME_A, PR_RECIPIENT_TYPE } };
        LPSPropTagArray pColumns = m_pColumns ? m_pColumns : (LPSPropTagArray)&s_defaultColumns;
        LPSPropValue pProps = NULL;
        m_mapi.m_pfnAllocateBuffer(pColumns->cValues * sizeof(SPropValue), (void**)&pProps);
        for (ULONG i = 0; i < pColumns->cValues; ++i) {
            pProps[i].ulPropTag = pColumns->aulPropTag[i];
            if (pColumns->aulPropTag[i] == PR_DISPLAY_NAME_A) {
                size_t cb = strlen(source.pszName) + 1;
                m_mapi.m_pfnAllocateMore((ULONG)cb, pProps, (void**)&pProps[i].Value.lpszA);
                memcpy(pProps[i].Value.lpszA, source.pszName, cb);
            } else if (pColumns->aulPropTag[i] == PR_RECIPIENT_TYPE) {
                pProps[i].Value.l = source.nKind;
            } else {
                pProps[i].ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(pColumns->aulPropTag[i]));
                pProps[i].Value.err = MAPI_E_NOT_FOUND;
            }
        }
        pRow->cValues = pColumns->cValues;
        pRow->lpProps = pProps;
    }

    MapiLibrary& m_mapi;
    std::vector<TableRow> m_rows;
    ULONG m_nRefs = 1;
};

std::vector<TableRow> SevenRows()
{
    return { { "one", 1 }, { "two", 2 }, { "three", 1 }, { "four", 2 }, { "five", 2 }, { "six", 1 }, { "seven", 1 } };
}

class HrQueryAllRowsTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_mapi.Complete());
        m_nLiveBefore = LiveMapiBlocks();
    }

    MapiLibrary m_mapi;
    LONG m_nLiveBefore = 0;
};

TEST_F(HrQueryAllRowsTest, GathersEveryChunkInOrderWithTheTablesProperties)
{
    TestTable table(m_mapi, SevenRows());
    // Left part-way through, so that only a rewind gives all rows.
    LPSRowSet pEarly = NULL;
    ASSERT_EQ(S_OK, table.QueryRows(2, 0, &pEarly));
    m_mapi.m_pfnFreeProws(pEarly);
    table.m_calls.clear();
    table.m_nQueryRowsCalls = 0;
    table.m_handedOut.clear();

    SizedSPropTagArray(2, columns) = { 2, { PR_RECIPIENT_TYPE, PR_DISPLAY_NAME_A } };
    LPSRowSet pRows = NULL;
    ASSERT_EQ(S_OK, m_mapi.m_pfnHrQueryAllRows(&table, (LPSPropTagArray)&columns, NULL, NULL, 0, &pRows));
    ASSERT_TRUE(pRows != NULL);
    EXPECT_EQ("SetColumns SeekRow QueryRows QueryRows QueryRows QueryRows ", table.m_calls);
    EXPECT_EQ((LPSPropTagArray)&columns, table.m_pColumns);
    ASSERT_EQ(7u, pRows->cRows);
    const std::vector<TableRow> expected = SevenRows();
    for (ULONG i = 0; i < 7; ++i) {
        ASSERT_EQ(2u, pRows->aRow[i].cValues);
        EXPECT_EQ((ULONG)PR_RECIPIENT_TYPE, pRows->aRow[i].lpProps[0].ulPropTag);
        EXPECT_EQ(expected[i].nKind, pRows->aRow[i].lpProps[0].Value.l);
        EXPECT_STREQ(expected[i].pszName, pRows->aRow[i].lpProps[1].Value.lpszA);
        EXPECT_EQ(table.m_handedOut[i], pRows->aRow[i].lpProps);
    }
    m_mapi.m_pfnFreeProws(pRows);
    EXPECT_EQ(m_nLiveBefore, LiveMapiBlocks());
}

TEST_F(HrQueryAllRowsTest, PassesRestrictionAndSortThrough)
{
    TestTable table(m_mapi, SevenRows());
    SPropValue value;
    value.ulPropTag = PR_RECIPIENT_TYPE;
    value.Value.l = 2;
    SRestriction restriction;
    restriction.rt = RES_PROPERTY;
    restriction.res.resProperty.relop = RELOP_EQ;
    restriction.res.resProperty.ulPropTag = PR_RECIPIENT_TYPE;
    restriction.res.resProperty.lpProp = &value;
    SizedSSortOrderSet(1, sort) = { 1, 0, 0, { { PR_DISPLAY_NAME_A, TABLE_SORT_ASCEND } } };

    LPSRowSet pRows = NULL;
    ASSERT_EQ(S_OK, m_mapi.m_pfnHrQueryAllRows(&table, NULL, &restriction, (LPSSortOrderSet)&sort, 0, &pRows));
    EXPECT_EQ("Restrict SortTable SeekRow QueryRows QueryRows ", table.m_calls);
    EXPECT_EQ(&restriction, table.m_pRestriction);
    EXPECT_EQ((LPSSortOrderSet)&sort, table.m_pSort);
    ASSERT_TRUE(pRows != NULL);
    ASSERT_EQ(3u, pRows->cRows);
    EXPECT_STREQ("two", pRows->aRow[0].lpProps[0].Value.lpszA);
    EXPECT_STREQ("four", pRows->aRow[1].lpProps[0].Value.lpszA);
    EXPECT_STREQ("five", pRows->aRow[2].lpProps[0].Value.lpszA);
    m_mapi.m_pfnFreeProws(pRows);
    EXPECT_EQ(m_nLiveBefore, LiveMapiBlocks());
}

TEST_F(HrQueryAllRowsTest, EmptyTableGivesAnEmptyRowSet)
{
    TestTable table(m_mapi, {});
    LPSRowSet pRows = NULL;
    ASSERT_EQ(S_OK, m_mapi.m_pfnHrQueryAllRows(&table, NULL, NULL, NULL, 0, &pRows));
    ASSERT_TRUE(pRows != NULL);
    EXPECT_EQ(0u, pRows->cRows);
    m_mapi.m_pfnFreeProws(pRows);
    EXPECT_EQ(m_nLiveBefore, LiveMapiBlocks());
}

TEST_F(HrQueryAllRowsTest, FailingQueryRowsLeaksNothing)
{
    TestTable table(m_mapi, SevenRows());
    table.m_nFailQueryRowsOnCall = 2;
    LPSRowSet pRows = (LPSRowSet)1;
    EXPECT_EQ(MAPI_E_CALL_FAILED, m_mapi.m_pfnHrQueryAllRows(&table, NULL, NULL, NULL, 0, &pRows));
    EXPECT_TRUE(pRows == NULL);
    EXPECT_EQ(2, table.m_nQueryRowsCalls);
    EXPECT_EQ(m_nLiveBefore, LiveMapiBlocks());
}

TEST_F(HrQueryAllRowsTest, FailingTableSetUpStopsBeforeAnyRow)
{
    struct Case {
        HRESULT TestTable::*pMember;
        HRESULT hr;
        const char* pszCalls;
    };
    const Case cases[] = {
        { &TestTable::m_hrSetColumns, MAPI_E_BUSY, "SetColumns " },
        { &TestTable::m_hrRestrict, MAPI_E_TOO_COMPLEX, "SetColumns Restrict " },
        { &TestTable::m_hrSortTable, MAPI_E_NO_SUPPORT, "SetColumns Restrict SortTable " },
        { &TestTable::m_hrSeekRow, MAPI_E_UNABLE_TO_COMPLETE, "SetColumns Restrict SortTable SeekRow " },
    };
    SizedSPropTagArray(1, columns) = { 1, { PR_DISPLAY_NAME_A } };
    SPropValue value;
    value.ulPropTag = PR_RECIPIENT_TYPE;
    value.Value.l = 1;
    SRestriction restriction;
    restriction.rt = RES_PROPERTY;
    restriction.res.resProperty.relop = RELOP_EQ;
    restriction.res.resProperty.ulPropTag = PR_RECIPIENT_TYPE;
    restriction.res.resProperty.lpProp = &value;
    SizedSSortOrderSet(1, sort) = { 1, 0, 0, { { PR_DISPLAY_NAME_A, TABLE_SORT_ASCEND } } };
    for (const Case& c : cases) {
        TestTable table(m_mapi, SevenRows());
        table.*c.pMember = c.hr;
        LPSRowSet pRows = (LPSRowSet)1;
        EXPECT_EQ(c.hr, m_mapi.m_pfnHrQueryAllRows(&table, (LPSPropTagArray)&columns, &restriction,
                                                   (LPSSortOrderSet)&sort, 0, &pRows));
        EXPECT_TRUE(pRows == NULL);
        EXPECT_EQ(c.pszCalls, table.m_calls);
    }
    EXPECT_EQ(m_nLiveBefore, LiveMapiBlocks());
}

TEST_F(HrQueryAllRowsTest, RowLimit)
{
    {
        TestTable table(m_mapi, SevenRows());
        LPSRowSet pRows = (LPSRowSet)1;
        EXPECT_EQ(MAPI_E_TABLE_TOO_BIG, m_mapi.m_pfnHrQueryAllRows(&table, NULL, NULL, NULL, 5, &pRows));
        EXPECT_TRUE(pRows == NULL);
        EXPECT_EQ(m_nLiveBefore, LiveMapiBlocks());
    }
    {
        TestTable table(m_mapi, SevenRows());
        table.m_nPerCall = 50;
        LPSRowSet pRows = NULL;
        ASSERT_EQ(S_OK, m_mapi.m_pfnHrQueryAllRows(&table, NULL, NULL, NULL, 7, &pRows));
        ASSERT_TRUE(pRows != NULL);
        EXPECT_EQ(7u, pRows->cRows);
        m_mapi.m_pfnFreeProws(pRows);
    }
    {
        TestTable table(m_mapi, SevenRows());
        table.m_nPerCall = 50;
        LPSRowSet pRows = (LPSRowSet)1;
        EXPECT_EQ(MAPI_E_TABLE_TOO_BIG, m_mapi.m_pfnHrQueryAllRows(&table, NULL, NULL, NULL, 6, &pRows));
        EXPECT_TRUE(pRows == NULL);
    }
    EXPECT_EQ(m_nLiveBefore, LiveMapiBlocks());
}

TEST_F(HrQueryAllRowsTest, ManyRowsAcrossManyChunks)
{
    std::vector<std::string> names;
    for (int i = 0; i < 500; ++i)
        names.push_back("row" + std::to_string(i));
    std::vector<TableRow> rows;
    for (int i = 0; i < 500; ++i)
        rows.push_back({ names[i].c_str(), i });
    TestTable table(m_mapi, rows);
    table.m_nPerCall = 7;
    LPSRowSet pRows = NULL;
    ASSERT_EQ(S_OK, m_mapi.m_pfnHrQueryAllRows(&table, NULL, NULL, NULL, 0, &pRows));
    ASSERT_TRUE(pRows != NULL);
    ASSERT_EQ(500u, pRows->cRows);
    for (ULONG i = 0; i < 500; ++i)
        EXPECT_EQ((LONG)i, pRows->aRow[i].lpProps[1].Value.l);
    m_mapi.m_pfnFreeProws(pRows);
    EXPECT_EQ(m_nLiveBefore, LiveMapiBlocks());
}

TEST_F(HrQueryAllRowsTest, InjectedFaultAndBadArgumentsLeaveTheTableAlone)
{
    TestTable table(m_mapi, SevenRows());
    LPSRowSet pRows = (LPSRowSet)1;
    ASSERT_TRUE(SetFaultPlan("HrQueryAllRows=fail:0x80040115@1"));
    EXPECT_EQ(MAPI_E_NETWORK_ERROR, m_mapi.m_pfnHrQueryAllRows(&table, NULL, NULL, NULL, 0, &pRows));
    EXPECT_TRUE(pRows == NULL);
    EXPECT_EQ("", table.m_calls);
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, m_mapi.m_pfnHrQueryAllRows(NULL, NULL, NULL, NULL, 0, &pRows));
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, m_mapi.m_pfnHrQueryAllRows(&table, NULL, NULL, NULL, 0, NULL));
    EXPECT_EQ("", table.m_calls);
    EXPECT_EQ(3, FaultCallCount("HrQueryAllRows"));
    SetFaultPlan(NULL);
}

}  // namespace
