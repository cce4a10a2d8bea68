#include "engine/host_dispatch.h"

#include <string.h>

void WideToAnsi(const wchar_t* pszWide, char* pszOut, int cchOut)
{
    if (cchOut <= 0)
        return;
    pszOut[0] = '\0';
    if (pszWide == NULL)
        return;
    int cch = WideCharToMultiByte(CP_ACP, 0, pszWide, -1, pszOut, cchOut, NULL, NULL);
    if (cch == 0) {
        // Too long for the buffer: keep what fits.
        int cchNeeded = WideCharToMultiByte(CP_ACP, 0, pszWide, -1, NULL, 0, NULL, NULL);
        char* pszAll = cchNeeded > 0 ? new char[cchNeeded] : NULL;
        if (pszAll && WideCharToMultiByte(CP_ACP, 0, pszWide, -1, pszAll, cchNeeded, NULL, NULL)) {
            strncpy(pszOut, pszAll, cchOut - 1);
            pszOut[cchOut - 1] = '\0';
        }
        delete[] pszAll;
    }
}

void ThrowComError(HRESULT hr)
{
    IErrorInfo* pErrorInfo = NULL;
    if (GetErrorInfo(0, &pErrorInfo) != S_OK)
        pErrorInfo = NULL;
    throw _com_error(hr, pErrorInfo, false);
}

// The error information that an Invoke reported in its EXCEPINFO, as an
// error object the way the host's wrappers hand it on.
static void ThrowFromExcepInfo(EXCEPINFO* pInfo)
{
    if (pInfo->pfnDeferredFillIn)
        pInfo->pfnDeferredFillIn(pInfo);
    HRESULT hr = pInfo->scode ? pInfo->scode : (pInfo->wCode ? MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, pInfo->wCode)
                                                              : DISP_E_EXCEPTION);
    IErrorInfo* pErrorInfo = NULL;
    ICreateErrorInfo* pCreate = NULL;
    if (SUCCEEDED(CreateErrorInfo(&pCreate))) {
        pCreate->SetSource(pInfo->bstrSource);
        pCreate->SetDescription(pInfo->bstrDescription);
        pCreate->SetHelpFile(pInfo->bstrHelpFile);
        pCreate->SetHelpContext(pInfo->dwHelpContext);
        if (FAILED(pCreate->QueryInterface(IID_IErrorInfo, (void**)&pErrorInfo)))
            pErrorInfo = NULL;
        pCreate->Release();
    }
    SysFreeString(pInfo->bstrSource);
    SysFreeString(pInfo->bstrDescription);
    SysFreeString(pInfo->bstrHelpFile);
    throw _com_error(hr, pErrorInfo, false);
}

static DISPID FindMember(IDispatch* pObject, LPCOLESTR pszName)
{
    if (pObject == NULL)
        throw _com_error(E_POINTER);
    DISPID dispId = DISPID_UNKNOWN;
    LPOLESTR pszMember = const_cast<LPOLESTR>(pszName);
    HRESULT hr = pObject->GetIDsOfNames(IID_NULL, &pszMember, 1, LOCALE_USER_DEFAULT, &dispId);
    if (FAILED(hr))
        ThrowComError(hr);
    return dispId;
}

static void Invoke(IDispatch* pObject, LPCOLESTR pszName, WORD wFlags, DISPPARAMS* pParams, VARIANT* pResult)
{
    DISPID dispId = FindMember(pObject, pszName);
    EXCEPINFO info;
    memset(&info, 0, sizeof(info));
    UINT uArgError = 0;
    HRESULT hr = pObject->Invoke(dispId, IID_NULL, LOCALE_USER_DEFAULT, wFlags, pParams, pResult, &info, &uArgError);
    if (hr == DISP_E_EXCEPTION)
        ThrowFromExcepInfo(&info);
    if (FAILED(hr))
        ThrowComError(hr);
}

void DispGetProperty(IDispatch* pObject, LPCOLESTR pszName, VARIANT* pResult)
{
    if (pObject == NULL || pResult == NULL)
        throw _com_error(E_POINTER);
    DISPPARAMS params = { NULL, NULL, 0, 0 };
    VariantClear(pResult);
    Invoke(pObject, pszName, DISPATCH_PROPERTYGET | DISPATCH_METHOD, &params, pResult);
}

static void Put(IDispatch* pObject, LPCOLESTR pszName, WORD wFlags, VARIANT* pValue)
{
    DISPID dispIdNamed = DISPID_PROPERTYPUT;
    DISPPARAMS params = { pValue, &dispIdNamed, 1, 1 };
    Invoke(pObject, pszName, wFlags, &params, NULL);
}

void DispPutProperty(IDispatch* pObject, LPCOLESTR pszName, const VARIANT& value)
{
    VARIANT arg = value;   // Invoke does not change its arguments
    Put(pObject, pszName, DISPATCH_PROPERTYPUT, &arg);
}

void DispPutRefProperty(IDispatch* pObject, LPCOLESTR pszName, IDispatch* pValue)
{
    VARIANT arg;
    VariantInit(&arg);
    V_VT(&arg) = VT_DISPATCH;
    V_DISPATCH(&arg) = pValue;
    Put(pObject, pszName, DISPATCH_PROPERTYPUTREF, &arg);
}

#define LC_MAX_DISPATCH_ARGS 8

void DispCallMethod(IDispatch* pObject, LPCOLESTR pszName, const VARIANT* pArgs, int nArgs, VARIANT* pResult)
{
    if (nArgs < 0 || nArgs > LC_MAX_DISPATCH_ARGS)
        throw _com_error(E_INVALIDARG);
    // IDispatch takes its arguments last first.
    VARIANT args[LC_MAX_DISPATCH_ARGS];
    for (int i = 0; i < nArgs; ++i)
        args[nArgs - 1 - i] = pArgs[i];
    DISPPARAMS params = { nArgs ? args : NULL, NULL, (UINT)nArgs, 0 };
    if (pResult)
        VariantClear(pResult);
    Invoke(pObject, pszName, DISPATCH_METHOD, &params, pResult);
}
