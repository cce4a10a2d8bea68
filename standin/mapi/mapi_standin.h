// The stand-in for the MAPI library that Outlook loads: its entry points
// over the shared MAPI blocks and real files, with every entry point asking
// the fault plan first.
#ifndef LETTERCAST_STANDIN_MAPI_STANDIN_H
#define LETTERCAST_STANDIN_MAPI_STANDIN_H

#include <windows.h>
#include <mapix.h>
#include <mapiutil.h>

// Balance of MAPIInitialize over MAPIUninitialize in this process.
extern LONG gnMapiInitializations;

// S_OK, or the code that the fault plan injects into the operation. An
// injected raise answers like a failure here: an exception must never leave
// this module.
HRESULT InjectedFault(const char* pszOperation);

// The stream behind OpenStreamOnFile, on a file that is already open; it
// takes over hFile and, when bDeleteOnRelease, deletes pszPath when the last
// reference goes.
HRESULT CreateFileStream(HANDLE hFile, const char* pszPath, DWORD grfMode, bool bDeleteOnRelease, IStream** ppStream);

#endif
