#include "standin/common/fault_plan.h"

#include <comdef.h>

void RaiseFault(const char* pszOperation, HRESULT hr)
{
    wchar_t szSource[64];
    wchar_t szDescription[128];
    FaultErrorTexts(pszOperation, szSource, 64, szDescription, 128);

    IErrorInfo* pErrorInfo = NULL;
    ICreateErrorInfo* pCreate = NULL;
    if (SUCCEEDED(CreateErrorInfo(&pCreate))) {
        pCreate->SetSource(szSource);
        pCreate->SetDescription(szDescription);
        if (FAILED(pCreate->QueryInterface(IID_IErrorInfo, (void**)&pErrorInfo)))
            pErrorInfo = NULL;
        pCreate->Release();
    }
    // The error takes over the reference.
    throw _com_error(hr, pErrorInfo, false);
}

void ThrowFault(const char* pszOperation, HRESULT hr)
{
    InjectedFaultException fault;
    lstrcpynA(fault.szOperation, pszOperation ? pszOperation : "", sizeof(fault.szOperation));
    fault.hr = hr;
    throw fault;
}
