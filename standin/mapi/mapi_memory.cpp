#include "standin/mapi/mapi_standin.h"

#include <mapicode.h>

#include "standin/common/fault_plan.h"
#include "standin/common/mapi_blocks.h"

LONG gnMapiInitializations = 0;

HRESULT InjectedFault(const char* pszOperation)
{
    HRESULT hr = S_OK;
    if (CheckFault(pszOperation, &hr) == FaultNone)
        return S_OK;
    return hr;
}

extern "C" HRESULT WINAPI MAPIInitialize(LPVOID lpMapiInit)
{
    HRESULT hr = InjectedFault("MAPIInitialize");
    if (FAILED(hr))
        return hr;
    InterlockedIncrement(&gnMapiInitializations);
    return S_OK;
}

extern "C" void WINAPI MAPIUninitialize(void)
{
    if (FAILED(InjectedFault("MAPIUninitialize")))
        return;
    // An unbalanced call is ignored, as MAPI ignores it.
    for (;;) {
        LONG nNow = gnMapiInitializations;
        if (nNow <= 0)
            return;
        if (InterlockedCompareExchange(&gnMapiInitializations, nNow - 1, nNow) == nNow)
            return;
    }
}

extern "C" SCODE WINAPI MAPIAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer)
{
    HRESULT hr = InjectedFault("MAPIAllocateBuffer");
    if (FAILED(hr)) {
        if (lppBuffer)
            *lppBuffer = NULL;
        return hr;
    }
    return AllocateMapiBlock(cbSize, lppBuffer);
}

extern "C" SCODE WINAPI MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer)
{
    HRESULT hr = InjectedFault("MAPIAllocateMore");
    if (FAILED(hr)) {
        if (lppBuffer)
            *lppBuffer = NULL;
        return hr;
    }
    return AllocateMoreMapi(cbSize, lpObject, lppBuffer);
}

extern "C" ULONG WINAPI MAPIFreeBuffer(LPVOID lpBuffer)
{
    HRESULT hr = InjectedFault("MAPIFreeBuffer");
    if (FAILED(hr))
        return (ULONG)hr;
    return (ULONG)FreeMapiBlock(lpBuffer);
}
