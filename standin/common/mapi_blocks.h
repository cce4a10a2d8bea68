// MAPI memory as the stand-ins hand it out: a block from AllocateMapiBlock
// owns every block later linked to it with AllocateMoreMapi, and FreeMapiBlock
// of the parent frees them all. Blocks live on the process heap with a small
// header, so the MAPI stand-in DLL and the object model (a different module)
// can free each other's blocks. No fault checks here: the DLL's entry points
// add those.
#ifndef LETTERCAST_STANDIN_MAPI_BLOCKS_H
#define LETTERCAST_STANDIN_MAPI_BLOCKS_H

#include <windows.h>

// S_OK and the block, or MAPI_E_NOT_ENOUGH_MEMORY.
HRESULT AllocateMapiBlock(ULONG cbSize, void** ppBlock);
// S_OK and a block freed with pParent; MAPI_E_INVALID_PARAMETER when pParent
// is no block of ours.
HRESULT AllocateMoreMapi(ULONG cbSize, void* pParent, void** ppBlock);
// Frees a parent block with its linked blocks; NULL is fine. A block that is
// not a parent of ours (a linked block, or foreign memory) is refused with
// MAPI_E_INVALID_PARAMETER and left alone.
HRESULT FreeMapiBlock(void* pBlock);
// Parent blocks not yet freed, for tests that look for leaks.
LONG LiveMapiBlocks();

#endif
