#include <gtest/gtest.h>

#include <mapicode.h>
#include <mapitags.h>
#include <string.h>

#include "standin/common/fault_plan.h"
#include "standin/common/mapi_blocks.h"
#include "tests/standin/mapi/mapi_library.h"

namespace {

// Bytes in use on the process heap, to see linked blocks go with their parent.
SIZE_T BusyHeapBytes()
{
    HANDLE hHeap = GetProcessHeap();
    SIZE_T cbBusy = 0;
    HeapLock(hHeap);
    PROCESS_HEAP_ENTRY entry;
    entry.lpData = NULL;
    while (HeapWalk(hHeap, &entry)) {
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
            cbBusy += entry.cbData;
    }
    HeapUnlock(hHeap);
    return cbBusy;
}

TEST(MapiBlocks, ParentCountsAndLinkedBlocksGoWithIt)
{
    LONG nBefore = LiveMapiBlocks();
    SIZE_T cbBefore = BusyHeapBytes();
    void* pParent = NULL;
    ASSERT_EQ(S_OK, AllocateMapiBlock(64, &pParent));
    ASSERT_TRUE(pParent != NULL);
    EXPECT_EQ(0u, (UINT_PTR)pParent % 8);
    EXPECT_EQ(nBefore + 1, LiveMapiBlocks());
    for (int i = 0; i < 40; ++i) {
        void* pChild = NULL;
        ASSERT_EQ(S_OK, AllocateMoreMapi(4000, pParent, &pChild));
        ASSERT_TRUE(pChild != NULL);
        EXPECT_EQ(0u, (UINT_PTR)pChild % 8);
        memset(pChild, 0xAB, 4000);
    }
    // Linked blocks are no parents of their own.
    EXPECT_EQ(nBefore + 1, LiveMapiBlocks());
    EXPECT_GE(BusyHeapBytes(), cbBefore + 40 * 4000);
    EXPECT_EQ(S_OK, FreeMapiBlock(pParent));
    EXPECT_EQ(nBefore, LiveMapiBlocks());
    EXPECT_LT(BusyHeapBytes(), cbBefore + 4000);
}

TEST(MapiBlocks, RefusesWhatIsNoParent)
{
    void* pParent = NULL;
    void* pChild = NULL;
    ASSERT_EQ(S_OK, AllocateMapiBlock(16, &pParent));
    ASSERT_EQ(S_OK, AllocateMoreMapi(16, pParent, &pChild));
    LONG nLive = LiveMapiBlocks();

    void* pMore = (void*)1;
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, AllocateMoreMapi(16, pChild, &pMore));
    EXPECT_TRUE(pMore == NULL);
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, AllocateMoreMapi(16, NULL, &pMore));
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, FreeMapiBlock(pChild));
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, AllocateMapiBlock(16, NULL));
    EXPECT_EQ(S_OK, FreeMapiBlock(NULL));

    // Foreign memory with room for a header in front of it.
    BYTE abForeign[64] = {};
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, FreeMapiBlock(abForeign + 32));
    EXPECT_EQ(nLive, LiveMapiBlocks());

    // The refused child is still there and goes with its parent.
    memset(pChild, 0, 16);
    EXPECT_EQ(S_OK, FreeMapiBlock(pParent));
    EXPECT_EQ(nLive - 1, LiveMapiBlocks());
}

TEST(MapiBlocks, TooLargeIsOutOfMemory)
{
    void* pBlock = (void*)1;
    EXPECT_EQ(MAPI_E_NOT_ENOUGH_MEMORY, AllocateMapiBlock(0xFFFFFFF0u, &pBlock));
    EXPECT_TRUE(pBlock == NULL);
    void* pParent = NULL;
    ASSERT_EQ(S_OK, AllocateMapiBlock(8, &pParent));
    EXPECT_EQ(MAPI_E_NOT_ENOUGH_MEMORY, AllocateMoreMapi(0xFFFFFFF0u, pParent, &pBlock));
    EXPECT_EQ(S_OK, FreeMapiBlock(pParent));
}

TEST(StandinMapiMemory, BlocksCrossBetweenTheDllAndTheProgram)
{
    MapiLibrary mapi;
    ASSERT_TRUE(mapi.Complete());
    LONG nBefore = LiveMapiBlocks();

    void* pFromDll = NULL;
    ASSERT_EQ(S_OK, mapi.m_pfnAllocateBuffer(32, &pFromDll));
    EXPECT_EQ(nBefore + 1, LiveMapiBlocks());
    void* pMore = NULL;
    ASSERT_EQ(S_OK, mapi.m_pfnAllocateMore(32, pFromDll, &pMore));
    EXPECT_EQ(S_OK, FreeMapiBlock(pFromDll));
    EXPECT_EQ(nBefore, LiveMapiBlocks());

    void* pFromProgram = NULL;
    ASSERT_EQ(S_OK, AllocateMapiBlock(32, &pFromProgram));
    ASSERT_EQ(S_OK, mapi.m_pfnAllocateMore(32, pFromProgram, &pMore));
    EXPECT_EQ(0u, mapi.m_pfnFreeBuffer(pFromProgram));
    EXPECT_EQ(nBefore, LiveMapiBlocks());
}

TEST(StandinMapiMemory, FreeBufferRefusesLinkedBlocks)
{
    MapiLibrary mapi;
    ASSERT_TRUE(mapi.Complete());
    void* pParent = NULL;
    void* pChild = NULL;
    ASSERT_EQ(S_OK, mapi.m_pfnAllocateBuffer(8, &pParent));
    ASSERT_EQ(S_OK, mapi.m_pfnAllocateMore(8, pParent, &pChild));
    EXPECT_EQ((ULONG)MAPI_E_INVALID_PARAMETER, mapi.m_pfnFreeBuffer(pChild));
    EXPECT_EQ((ULONG)MAPI_E_INVALID_PARAMETER, (ULONG)mapi.m_pfnAllocateMore(8, pChild, &pChild));
    EXPECT_EQ(0u, mapi.m_pfnFreeBuffer(pParent));
    EXPECT_EQ(0u, mapi.m_pfnFreeBuffer(NULL));
}

// A property array as the engine builds recipients and tables build rows:
// one block, the strings linked to it.
LPSPropValue MakeProps(MapiLibrary& mapi, const char* pszName, ULONG ulType)
{
    LPSPropValue pProps = NULL;
    if (mapi.m_pfnAllocateBuffer(2 * sizeof(SPropValue), (void**)&pProps) != S_OK)
        return NULL;
    size_t cb = strlen(pszName) + 1;
    void* pText = NULL;
    if (mapi.m_pfnAllocateMore((ULONG)cb, pProps, &pText) != S_OK)
        return NULL;
    memcpy(pText, pszName, cb);
    pProps[0].ulPropTag = PR_DISPLAY_NAME_A;
    pProps[0].Value.lpszA = (LPSTR)pText;
    pProps[1].ulPropTag = PR_RECIPIENT_TYPE;
    pProps[1].Value.l = (LONG)ulType;
    return pProps;
}

TEST(StandinMapiMemory, FreePadrlistFreesEveryEntryAndTheList)
{
    MapiLibrary mapi;
    ASSERT_TRUE(mapi.Complete());
    LONG nBefore = LiveMapiBlocks();
    LPADRLIST pList = NULL;
    ASSERT_EQ(S_OK, mapi.m_pfnAllocateBuffer(CbNewADRLIST(3), (void**)&pList));
    pList->cEntries = 3;
    const char* apszNames[] = { "ann@example.com", "bob@example.com", "cy@example.com" };
    for (ULONG i = 0; i < 3; ++i) {
        pList->aEntries[i].ulReserved1 = 0;
        pList->aEntries[i].cValues = 2;
        pList->aEntries[i].rgPropVals = MakeProps(mapi, apszNames[i], MAPI_TO);
        ASSERT_TRUE(pList->aEntries[i].rgPropVals != NULL);
    }
    EXPECT_EQ(nBefore + 4, LiveMapiBlocks());
    mapi.m_pfnFreePadrlist(pList);
    EXPECT_EQ(nBefore, LiveMapiBlocks());
    mapi.m_pfnFreePadrlist(NULL);
}

TEST(StandinMapiMemory, FreeProwsFreesEveryRowAndTheSet)
{
    MapiLibrary mapi;
    ASSERT_TRUE(mapi.Complete());
    LONG nBefore = LiveMapiBlocks();
    LPSRowSet pRows = NULL;
    ASSERT_EQ(S_OK, mapi.m_pfnAllocateBuffer(CbNewSRowSet(2), (void**)&pRows));
    pRows->cRows = 2;
    for (ULONG i = 0; i < 2; ++i) {
        pRows->aRow[i].ulAdrEntryPad = 0;
        pRows->aRow[i].cValues = 2;
        pRows->aRow[i].lpProps = MakeProps(mapi, "row", i);
        ASSERT_TRUE(pRows->aRow[i].lpProps != NULL);
    }
    EXPECT_EQ(nBefore + 3, LiveMapiBlocks());
    mapi.m_pfnFreeProws(pRows);
    EXPECT_EQ(nBefore, LiveMapiBlocks());
    mapi.m_pfnFreeProws(NULL);
}

TEST(StandinMapiMemory, InjectedFaultsOnTheFreeFunctionsFreeNothing)
{
    MapiLibrary mapi;
    ASSERT_TRUE(mapi.Complete());
    LONG nBefore = LiveMapiBlocks();
    LPSRowSet pRows = NULL;
    ASSERT_EQ(S_OK, mapi.m_pfnAllocateBuffer(CbNewSRowSet(1), (void**)&pRows));
    pRows->cRows = 1;
    pRows->aRow[0].cValues = 2;
    pRows->aRow[0].lpProps = MakeProps(mapi, "kept", 1);
    LPADRLIST pList = NULL;
    ASSERT_EQ(S_OK, mapi.m_pfnAllocateBuffer(CbNewADRLIST(0), (void**)&pList));
    pList->cEntries = 0;
    void* pBlock = NULL;
    ASSERT_EQ(S_OK, mapi.m_pfnAllocateBuffer(8, &pBlock));
    ASSERT_EQ(nBefore + 4, LiveMapiBlocks());

    ASSERT_TRUE(SetFaultPlan("FreeProws=fail@1;FreePadrlist=fail@*;MAPIFreeBuffer=fail:0x80040102@1"));
    mapi.m_pfnFreeProws(pRows);
    mapi.m_pfnFreePadrlist(pList);
    EXPECT_EQ(0x80040102u, mapi.m_pfnFreeBuffer(pBlock));
    EXPECT_EQ(nBefore + 4, LiveMapiBlocks());

    mapi.m_pfnFreeProws(pRows);
    EXPECT_EQ(0u, mapi.m_pfnFreeBuffer(pBlock));
    ASSERT_TRUE(SetFaultPlan(NULL));
    mapi.m_pfnFreePadrlist(pList);
    EXPECT_EQ(nBefore, LiveMapiBlocks());
}

TEST(StandinMapiMemory, InjectedAllocationFaultsHandOutNothing)
{
    MapiLibrary mapi;
    ASSERT_TRUE(mapi.Complete());
    void* pParent = NULL;
    ASSERT_EQ(S_OK, mapi.m_pfnAllocateBuffer(8, &pParent));
    LONG nLive = LiveMapiBlocks();
    ASSERT_TRUE(SetFaultPlan("MAPIAllocateBuffer=fail:0x8007000E@*;MAPIAllocateMore=raise@1"));
    void* pBlock = (void*)1;
    EXPECT_EQ(E_OUTOFMEMORY, mapi.m_pfnAllocateBuffer(8, &pBlock));
    EXPECT_TRUE(pBlock == NULL);
    pBlock = (void*)1;
    // A raise from this module is a plain failure: no exception crosses into the caller.
    EXPECT_EQ(E_FAIL, mapi.m_pfnAllocateMore(8, pParent, &pBlock));
    EXPECT_TRUE(pBlock == NULL);
    EXPECT_EQ(nLive, LiveMapiBlocks());
    EXPECT_EQ(S_OK, mapi.m_pfnAllocateMore(8, pParent, &pBlock));
    SetFaultPlan(NULL);
    EXPECT_EQ(0u, mapi.m_pfnFreeBuffer(pParent));
}

}  // namespace
