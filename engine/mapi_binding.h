// The MAPI library that the host has loaded, bound for one job at a time:
// the add-in links no MAPI library.
#ifndef LETTERCAST_MAPI_BINDING_H
#define LETTERCAST_MAPI_BINDING_H

#include "engine/mapi_defs.h"

typedef void (STDAPICALLTYPE* MapiUninitializeProc)();
typedef SCODE (STDMETHODCALLTYPE* MapiAllocateBufferProc)(ULONG cbSize, LPVOID* ppBuffer);
typedef void (STDAPICALLTYPE* FreeProwsProc)(LPSRowSet pRows);
typedef HRESULT (STDAPICALLTYPE* HrQueryAllRowsProc)(LPMAPITABLE pTable, LPSPropTagArray pColumns,
                                                     LPSRestriction pRestriction, LPSSortOrderSet pSortOrder,
                                                     LONG nRowsMax, LPSRowSet* ppRows);
typedef void (STDAPICALLTYPE* FreePadrlistProc)(LPADRLIST pList);
typedef HRESULT (STDMETHODCALLTYPE* OpenStreamOnFileProc)(LPALLOCATEBUFFER pfnAllocate, LPFREEBUFFER pfnFree,
                                                          ULONG ulFlags, LPSTR pszFileName, LPSTR pszPrefix,
                                                          LPSTREAM* ppStream);
typedef SCODE (STDMETHODCALLTYPE* MapiAllocateMoreProc)(ULONG cbSize, LPVOID pParent, LPVOID* ppBuffer);
typedef ULONG (STDAPICALLTYPE* MapiFreeBufferProc)(LPVOID pBuffer);
typedef HRESULT (STDAPICALLTYPE* MapiInitializeProc)(LPVOID pInit);

// The entry points in the order they are resolved.
struct MapiBindingRecord {
    HMODULE hModule;   // NULL when no library is loaded
    MapiUninitializeProc MAPIUninitialize;
    MapiAllocateBufferProc MAPIAllocateBuffer;
    FreeProwsProc FreeProws;
    HrQueryAllRowsProc HrQueryAllRows;
    FreePadrlistProc FreePadrlist;
    OpenStreamOnFileProc OpenStreamOnFile;
    MapiAllocateMoreProc MAPIAllocateMore;
    MapiFreeBufferProc MAPIFreeBuffer;
    MapiInitializeProc MAPIInitialize;
    HRESULT hrInit;    // E_FAIL until MAPIInitialize has been called
};

extern MapiBindingRecord MapiBinding;

// Loads the host's MAPI library, resolves the entry points and initializes
// MAPI. False, after its message, when the library or an entry point is
// missing; a failed initialization is reported and still returns true.
bool BindMapi();

// Uninitializes MAPI when it was initialized and frees the library.
void UnbindMapi();

#endif
