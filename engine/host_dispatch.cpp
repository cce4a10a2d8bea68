#include "engine/host_dispatch.h"

#include <stdlib.h>
#include <string.h>

void WideToAnsi(const wchar_t* pszWide, char* pszOut, int cchOut)
{
    if (cchOut <= 0)
        return;
    pszOut[0] = '\0';
    if (pszWide == NULL)
        return;
    if (WideCharToMultiByte(CP_ACP, 0, pszWide, -1, pszOut, cchOut, NULL, NULL) != 0)
        return;
    // Too long for the buffer: keep what fits.
    char* pszAll = WideToAnsiHeap(pszWide);
    if (pszAll) {
        lstrcpynA(pszOut, pszAll, cchOut);
        free(pszAll);
    }
}

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

void DispPutProperty(IDispatch* pObject, LPCOLESTR pszName, const VARIANT& value)
{
    ThrowIfFailed(DispTryPutProperty(pObject, pszName, value));
}

void DispPutRefProperty(IDispatch* pObject, LPCOLESTR pszName, IDispatch* pValue)
{
    ThrowIfFailed(DispTryPutRefProperty(pObject, pszName, pValue));
}

void DispCallMethod(IDispatch* pObject, LPCOLESTR pszName, const VARIANT* pArgs, int nArgs, VARIANT* pResult)
{
    ThrowIfFailed(DispTryCallMethod(pObject, pszName, pArgs, nArgs, pResult));
}

char* WideToCodePageHeap(const wchar_t* pszWide, UINT uCodePage)
{
    if (pszWide == NULL)
        return NULL;
    int cch = WideCharToMultiByte(uCodePage, 0, pszWide, -1, NULL, 0, NULL, NULL);
    if (cch <= 0)
        return NULL;
    char* psz = (char*)malloc((size_t)cch);
    if (psz == NULL)
        return NULL;
    if (WideCharToMultiByte(uCodePage, 0, pszWide, -1, psz, cch, NULL, NULL) != cch) {
        free(psz);
        return NULL;
    }
    return psz;
}

char* WideToAnsiHeap(const wchar_t* pszWide)
{
    return WideToCodePageHeap(pszWide, CP_ACP);
}

BSTR CodePageToBstr(const char* pszText, UINT uCodePage)
{
    if (pszText == NULL)
        pszText = "";
    int cch = MultiByteToWideChar(uCodePage, 0, pszText, -1, NULL, 0);
    if (cch <= 0)
        return NULL;
    BSTR bstr = SysAllocStringLen(NULL, (UINT)(cch - 1));
    if (bstr == NULL)
        return NULL;
    MultiByteToWideChar(uCodePage, 0, pszText, -1, bstr, cch);
    return bstr;
}

BSTR AnsiToBstr(const char* pszAnsi)
{
    return CodePageToBstr(pszAnsi, CP_ACP);
}

char* AnsiToUtf8Heap(const char* pszAnsi)
{
    BSTR bstr = AnsiToBstr(pszAnsi);
    if (bstr == NULL)
        return NULL;
    char* psz = WideToCodePageHeap(bstr, CP_UTF8);
    SysFreeString(bstr);
    return psz;
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

void Utf8ToAnsiInPlace(char* pszText)
{
    if (pszText == NULL)
        return;
    const unsigned char* p = (const unsigned char*)pszText;
    while (*p && *p < 0x80)
        ++p;
    if (*p == '\0')
        return;
    int cchWide = MultiByteToWideChar(CP_UTF8, 0, pszText, -1, NULL, 0);
    if (cchWide <= 0)
        return;
    wchar_t* pszWide = (wchar_t*)malloc(cchWide * sizeof(wchar_t));
    if (pszWide == NULL)
        return;
    MultiByteToWideChar(CP_UTF8, 0, pszText, -1, pszWide, cchWide);
    int cbAnsi = WideCharToMultiByte(CP_ACP, 0, pszWide, -1, NULL, 0, NULL, NULL);
    if (cbAnsi > 0 && (size_t)cbAnsi <= strlen(pszText) + 1)
        WideCharToMultiByte(CP_ACP, 0, pszWide, -1, pszText, cbAnsi, NULL, NULL);
    free(pszWide);
}
