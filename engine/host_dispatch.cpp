#include "engine/host_dispatch.h"

#include <stdlib.h>
#include <string.h>

void ThrowComError(HRESULT hr)
{
    IErrorInfo* pErrorInfo = NULL;
    if (GetErrorInfo(0, &pErrorInfo) != S_OK)
        pErrorInfo = NULL;
    throw _com_error(hr, pErrorInfo, false);
}

// The error information that an Invoke reported in its EXCEPINFO becomes the
// thread's error object, where a raised _com_error picks it up.
static HRESULT TakeExcepInfo(EXCEPINFO* pInfo)
{
    if (pInfo->pfnDeferredFillIn)
        pInfo->pfnDeferredFillIn(pInfo);
    HRESULT hr = pInfo->scode ? pInfo->scode : (pInfo->wCode ? MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, pInfo->wCode)
                                                              : DISP_E_EXCEPTION);
    ICreateErrorInfo* pCreate = NULL;
    if (SUCCEEDED(CreateErrorInfo(&pCreate))) {
        pCreate->SetSource(pInfo->bstrSource);
        pCreate->SetDescription(pInfo->bstrDescription);
        pCreate->SetHelpFile(pInfo->bstrHelpFile);
        pCreate->SetHelpContext(pInfo->dwHelpContext);
        IErrorInfo* pErrorInfo = NULL;
        if (SUCCEEDED(pCreate->QueryInterface(IID_IErrorInfo, (void**)&pErrorInfo))) {
            SetErrorInfo(0, pErrorInfo);
            pErrorInfo->Release();
        }
        pCreate->Release();
    }
    SysFreeString(pInfo->bstrSource);
    SysFreeString(pInfo->bstrDescription);
    SysFreeString(pInfo->bstrHelpFile);
    return hr;
}

static HRESULT Invoke(IDispatch* pObject, LPCOLESTR pszName, WORD wFlags, DISPPARAMS* pParams, VARIANT* pResult)
{
    if (pObject == NULL)
        return E_POINTER;
    // A stale error object must not be taken for this call's.
    SetErrorInfo(0, NULL);
    DISPID dispId = DISPID_UNKNOWN;
    LPOLESTR pszMember = const_cast<LPOLESTR>(pszName);
    HRESULT hr = pObject->GetIDsOfNames(IID_NULL, &pszMember, 1, LOCALE_USER_DEFAULT, &dispId);
    if (FAILED(hr))
        return hr;
    EXCEPINFO info;
    memset(&info, 0, sizeof(info));
    UINT uArgError = 0;
    hr = pObject->Invoke(dispId, IID_NULL, LOCALE_USER_DEFAULT, wFlags, pParams, pResult, &info, &uArgError);
    if (hr == DISP_E_EXCEPTION)
        hr = TakeExcepInfo(&info);
    return hr;
}

HRESULT DispTryGetProperty(IDispatch* pObject, LPCOLESTR pszName, VARIANT* pResult)
{
    if (pResult == NULL)
        return E_POINTER;
    DISPPARAMS params = { NULL, NULL, 0, 0 };
    VariantClear(pResult);
    return Invoke(pObject, pszName, DISPATCH_PROPERTYGET | DISPATCH_METHOD, &params, pResult);
}

static HRESULT Put(IDispatch* pObject, LPCOLESTR pszName, WORD wFlags, VARIANT* pValue)
{
    DISPID dispIdNamed = DISPID_PROPERTYPUT;
    DISPPARAMS params = { pValue, &dispIdNamed, 1, 1 };
    return Invoke(pObject, pszName, wFlags, &params, NULL);
}

HRESULT DispTryPutProperty(IDispatch* pObject, LPCOLESTR pszName, const VARIANT& value)
{
    VARIANT arg = value;   // Invoke does not change its arguments
    return Put(pObject, pszName, DISPATCH_PROPERTYPUT, &arg);
}

HRESULT DispTryPutRefProperty(IDispatch* pObject, LPCOLESTR pszName, IDispatch* pValue)
{
    VARIANT arg;
    VariantInit(&arg);
    V_VT(&arg) = VT_DISPATCH;
    V_DISPATCH(&arg) = pValue;
    return Put(pObject, pszName, DISPATCH_PROPERTYPUTREF, &arg);
}

#define LC_MAX_DISPATCH_ARGS 8

HRESULT DispTryCallMethod(IDispatch* pObject, LPCOLESTR pszName, const VARIANT* pArgs, int nArgs, VARIANT* pResult)
{
    if (nArgs < 0 || nArgs > LC_MAX_DISPATCH_ARGS)
        return E_INVALIDARG;
    // IDispatch takes its arguments last first.
    VARIANT args[LC_MAX_DISPATCH_ARGS];
    for (int i = 0; i < nArgs; ++i)
        args[nArgs - 1 - i] = pArgs[i];
    DISPPARAMS params = { nArgs ? args : NULL, NULL, (UINT)nArgs, 0 };
    if (pResult)
        VariantClear(pResult);
    return Invoke(pObject, pszName, DISPATCH_METHOD, &params, pResult);
}

static void ThrowIfFailed(HRESULT hr)
{
    if (FAILED(hr))
        ThrowComError(hr);
}

void DispGetProperty(IDispatch* pObject, LPCOLESTR pszName, VARIANT* pResult)
{
    ThrowIfFailed(DispTryGetProperty(pObject, pszName, pResult));
}

void DispCallMethod(IDispatch* pObject, LPCOLESTR pszName, const VARIANT* pArgs, int nArgs, VARIANT* pResult)
{
    ThrowIfFailed(DispTryCallMethod(pObject, pszName, pArgs, nArgs, pResult));
}

void* QueryVariantInterface(const VARIANT& value, REFIID riid)
{
    IUnknown* pUnknown = NULL;
    if (V_VT(&value) == VT_UNKNOWN)
        pUnknown = V_UNKNOWN(&value);
    else if (V_VT(&value) == VT_DISPATCH)
        pUnknown = V_DISPATCH(&value);
    void* pInterface = NULL;
    if (pUnknown == NULL || FAILED(pUnknown->QueryInterface(riid, &pInterface)))
        return NULL;
    return pInterface;
}

IDispatch* VariantDispatch(const VARIANT& value)
{
    if (V_VT(&value) != VT_DISPATCH || V_DISPATCH(&value) == NULL)
        return NULL;
    V_DISPATCH(&value)->AddRef();
    return V_DISPATCH(&value);
}

IDispatch* DefaultFolder(IDispatch* pFolders, int nFolder, HRESULT* phr)
{
    VARIANT arg;
    VariantInit(&arg);
    V_VT(&arg) = VT_I4;
    V_I4(&arg) = nFolder;
    ScopedVariant folder;
    *phr = DispTryCallMethod(pFolders, L"GetDefaultFolder", &arg, 1, &folder);
    return SUCCEEDED(*phr) ? VariantDispatch(folder.Get()) : NULL;
}
