#include "standin/common/mapi_blocks.h"

#include <mapicode.h>

namespace {

const DWORD kParentMagic = 0x4B4C4250;   // "PBLK"
const DWORD kChildMagic = 0x4B4C4243;    // "CBLK"

// Sized to keep the caller's part 8-byte aligned, as MAPI's blocks are.
struct BlockHeader {
    DWORD dwMagic;
    BlockHeader* pNextChild;   // parent: first child; child: next sibling
    DWORD dwReserved[2];
};

// The count lives in shared memory so that every module sees the same number.
LONG* LiveCounter()
{
    static LONG* s_pnLive = NULL;
    if (s_pnLive)
        return s_pnLive;
    char szName[64];
    wsprintfA(szName, "LettercastStandinBlocks.%lu", GetCurrentProcessId());
    HANDLE hMapping = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, sizeof(LONG), szName);
    if (hMapping)
        s_pnLive = (LONG*)MapViewOfFile(hMapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(LONG));
    static LONG s_nLocal = 0;
    if (!s_pnLive)
        s_pnLive = &s_nLocal;
    // The mapping stays open for the life of the process on purpose.
    return s_pnLive;
}

BlockHeader* HeaderOf(void* pBlock)
{
    return (BlockHeader*)pBlock - 1;
}

}  // namespace

HRESULT AllocateMapiBlock(ULONG cbSize, void** ppBlock)
{
    if (!ppBlock)
        return MAPI_E_INVALID_PARAMETER;
    *ppBlock = NULL;
    if (cbSize > 0x7FFFFFF0u - sizeof(BlockHeader))
        return MAPI_E_NOT_ENOUGH_MEMORY;
    BlockHeader* pHeader = (BlockHeader*)HeapAlloc(GetProcessHeap(), 0, sizeof(BlockHeader) + cbSize);
    if (!pHeader)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    pHeader->dwMagic = kParentMagic;
    pHeader->pNextChild = NULL;
    InterlockedIncrement(LiveCounter());
    *ppBlock = pHeader + 1;
    return S_OK;
}

HRESULT AllocateMoreMapi(ULONG cbSize, void* pParent, void** ppBlock)
{
    if (!ppBlock)
        return MAPI_E_INVALID_PARAMETER;
    *ppBlock = NULL;
    if (!pParent || HeaderOf(pParent)->dwMagic != kParentMagic)
        return MAPI_E_INVALID_PARAMETER;
    if (cbSize > 0x7FFFFFF0u - sizeof(BlockHeader))
        return MAPI_E_NOT_ENOUGH_MEMORY;
    BlockHeader* pHeader = (BlockHeader*)HeapAlloc(GetProcessHeap(), 0, sizeof(BlockHeader) + cbSize);
    if (!pHeader)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    BlockHeader* pParentHeader = HeaderOf(pParent);
    pHeader->dwMagic = kChildMagic;
    pHeader->pNextChild = pParentHeader->pNextChild;
    pParentHeader->pNextChild = pHeader;
    *ppBlock = pHeader + 1;
    return S_OK;
}

HRESULT FreeMapiBlock(void* pBlock)
{
    if (!pBlock)
        return S_OK;
    BlockHeader* pHeader = HeaderOf(pBlock);
    if (pHeader->dwMagic != kParentMagic)
        return MAPI_E_INVALID_PARAMETER;
    BlockHeader* pChild = pHeader->pNextChild;
    while (pChild) {
        BlockHeader* pNext = pChild->pNextChild;
        pChild->dwMagic = 0;
        HeapFree(GetProcessHeap(), 0, pChild);
        pChild = pNext;
    }
    // A second free of the same block is then refused instead of corrupting the heap.
    pHeader->dwMagic = 0;
    HeapFree(GetProcessHeap(), 0, pHeader);
    InterlockedDecrement(LiveCounter());
    return S_OK;
}

LONG LiveMapiBlocks()
{
    return *LiveCounter();
}
