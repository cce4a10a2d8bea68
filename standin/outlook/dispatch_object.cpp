#include "standin/outlook/dispatch_object.h"

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "standin/common/fault_plan.h"
#include "standin/outlook/outlook_ids.h"

LONG gnStandinLiveObjects = 0;

namespace {

const wchar_t kErrorSource[] = L"Stand-in Outlook";

}  // namespace

DispArgs::DispArgs(DISPPARAMS* pParams, bool bPut, UINT* puArgError)
    : m_pParams(pParams), m_nCount(pParams ? (int)pParams->cArgs : 0), m_puArgError(puArgError)
{
    // A put carries its value alone; the caller has checked that.
    if (bPut)
        m_nCount = m_nCount > 0 ? 1 : 0;
}

const VARIANT* DispArgs::At(int nIndex) const
{
    if (nIndex < 0 || nIndex >= m_nCount)
        return NULL;
    // IDispatch passes the arguments last first.
    const VARIANT* pArg = &m_pParams->rgvarg[m_pParams->cArgs - 1 - nIndex];
    while (V_VT(pArg) == (VT_VARIANT | VT_BYREF) && V_VARIANTREF(pArg))
        pArg = V_VARIANTREF(pArg);
    return pArg;
}

HRESULT DispArgs::Mismatch(int nIndex) const
{
    if (m_puArgError)
        *m_puArgError = m_pParams->cArgs - 1 - nIndex;
    return DISP_E_TYPEMISMATCH;
}

bool DispArgs::IsMissing(int nIndex) const
{
    const VARIANT* pArg = At(nIndex);
    return !pArg || (V_VT(pArg) == VT_ERROR && V_ERROR(pArg) == DISP_E_PARAMNOTFOUND);
}

HRESULT DispArgs::GetLong(int nIndex, LONG* pnValue) const
{
    *pnValue = 0;
    if (IsMissing(nIndex))
        return DISP_E_PARAMNOTFOUND;
    VARIANT value;
    VariantInit(&value);
    if (FAILED(VariantChangeType(&value, const_cast<VARIANT*>(At(nIndex)), 0, VT_I4)))
        return Mismatch(nIndex);
    *pnValue = V_I4(&value);
    return S_OK;
}

HRESULT DispArgs::GetText(int nIndex, std::wstring* pText) const
{
    pText->clear();
    if (IsMissing(nIndex))
        return DISP_E_PARAMNOTFOUND;
    VARIANT value;
    VariantInit(&value);
    if (FAILED(VariantChangeType(&value, const_cast<VARIANT*>(At(nIndex)), 0, VT_BSTR)))
        return Mismatch(nIndex);
    // A BSTR may hold zero characters inside; its length counts, not the first zero.
    if (V_BSTR(&value))
        pText->assign(V_BSTR(&value), SysStringLen(V_BSTR(&value)));
    VariantClear(&value);
    return S_OK;
}

bool DispArgs::IsText(int nIndex) const
{
    const VARIANT* pArg = At(nIndex);
    return pArg && (V_VT(pArg) == VT_BSTR || V_VT(pArg) == (VT_BSTR | VT_BYREF));
}

HRESULT DispArgs::GetObject(int nIndex, IDispatch** ppObject) const
{
    *ppObject = NULL;
    if (IsMissing(nIndex))
        return DISP_E_PARAMNOTFOUND;
    const VARIANT* pArg = At(nIndex);
    switch (V_VT(pArg)) {
    case VT_DISPATCH:
        *ppObject = V_DISPATCH(pArg);
        return S_OK;
    case VT_DISPATCH | VT_BYREF:
        *ppObject = V_DISPATCHREF(pArg) ? *V_DISPATCHREF(pArg) : NULL;
        return S_OK;
    case VT_EMPTY:
    case VT_NULL:
        return S_OK;
    default:
        return Mismatch(nIndex);
    }
}

HRESULT RaiseError(DispError* pError, HRESULT hr, const wchar_t* pszDescription)
{
    pError->hr = hr;
    wcsncpy(pError->szDescription, pszDescription, sizeof(pError->szDescription) / sizeof(wchar_t) - 1);
    pError->szDescription[sizeof(pError->szDescription) / sizeof(wchar_t) - 1] = L'\0';
    return DISP_E_EXCEPTION;
}

HRESULT RaiseItemGone(DispError* pError)
{
    return RaiseError(pError, MAPI_E_OBJECT_DELETED, L"The item has been moved or deleted.");
}

HRESULT CollectionIndex(const DispArgs& args, int nArg, size_t cItems, LONG* pnIndex, DispError* pError)
{
    HRESULT hr = args.GetLong(nArg, pnIndex);
    if (FAILED(hr))
        return hr;
    if (*pnIndex < 1 || (size_t)*pnIndex > cItems)
        return RaiseError(pError, DISP_E_BADINDEX, L"Array index out of bounds.");
    return S_OK;
}

void ReturnLong(VARIANT* pResult, LONG nValue)
{
    V_VT(pResult) = VT_I4;
    V_I4(pResult) = nValue;
}

void ReturnBool(VARIANT* pResult, bool bValue)
{
    V_VT(pResult) = VT_BOOL;
    V_BOOL(pResult) = bValue ? VARIANT_TRUE : VARIANT_FALSE;
}

void ReturnText(VARIANT* pResult, const std::wstring& text)
{
    V_VT(pResult) = VT_BSTR;
    V_BSTR(pResult) = SysAllocStringLen(text.data(), (UINT)text.size());
}

void ReturnObject(VARIANT* pResult, IDispatch* pObject)
{
    V_VT(pResult) = VT_DISPATCH;
    V_DISPATCH(pResult) = pObject;
}

DispatchObject::DispatchObject(ObjectKind nKind, const char* pszObjectName, const IID& iidOwn,
                               const DispMember* pMembers, int nMembers, OutlookHost* pHost)
    : m_nRefs(1),
      m_nKind(nKind),
      m_pszObjectName(pszObjectName),
      m_iidOwn(iidOwn),
      m_pMembers(pMembers),
      m_nMembers(nMembers),
      m_pHost(pHost)
{
    m_pHost->AddRef();
}

DispatchObject::~DispatchObject()
{
    m_pHost->Release();
}

STDMETHODIMP DispatchObject::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = NULL;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        (!IsEqualIID(m_iidOwn, IID_NULL) && IsEqualIID(riid, m_iidOwn)) ||
        IsEqualIID(riid, IID_StandinObject)) {
        AddRef();
        *ppv = static_cast<IDispatch*>(this);
        return S_OK;
    }
    *ppv = OtherInterface(riid);
    return *ppv ? S_OK : E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) DispatchObject::AddRef()
{
    return InterlockedIncrement(&m_nRefs);
}

STDMETHODIMP_(ULONG) DispatchObject::Release()
{
    LONG nRefs = InterlockedDecrement(&m_nRefs);
    if (nRefs == 0)
        delete this;
    return nRefs;
}

STDMETHODIMP DispatchObject::GetTypeInfoCount(UINT* pctinfo)
{
    if (!pctinfo)
        return E_POINTER;
    *pctinfo = 0;
    return S_OK;
}

STDMETHODIMP DispatchObject::GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo)
{
    if (ppTInfo)
        *ppTInfo = NULL;
    return DISP_E_BADINDEX;
}

STDMETHODIMP DispatchObject::GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                           DISPID* rgDispId)
{
    if (!rgszNames || !rgDispId || cNames == 0)
        return E_INVALIDARG;
    HRESULT hr = S_OK;
    for (UINT i = 0; i < cNames; ++i) {
        rgDispId[i] = DISPID_UNKNOWN;
        // Named arguments are not taken: every name after the first is unknown.
        for (int m = 0; i == 0 && rgszNames[0] && m < m_nMembers; ++m) {
            if (lstrcmpiW(rgszNames[0], m_pMembers[m].pszName) == 0 && HasMember(m_pMembers[m].id))
                rgDispId[0] = m_pMembers[m].id;
        }
        if (rgDispId[i] == DISPID_UNKNOWN)
            hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

STDMETHODIMP DispatchObject::Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                                    VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr)
{
    const DispMember* pMember = NULL;
    for (int m = 0; m < m_nMembers; ++m) {
        if (m_pMembers[m].id == dispIdMember && HasMember(dispIdMember))
            pMember = &m_pMembers[m];
    }
    if (!pMember)
        return DISP_E_MEMBERNOTFOUND;
    DISPPARAMS noParams = { NULL, NULL, 0, 0 };
    if (!pDispParams)
        pDispParams = &noParams;

    int nAccess = 0;
    const VARIANT* pPutValue = pDispParams->cArgs ? &pDispParams->rgvarg[0] : NULL;
    if (wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        // An object property that takes both (SendUsingAccount) is a put
        // for DISPATCH_PROPERTYPUT and a putref for DISPATCH_PROPERTYPUTREF;
        // one that takes a reference only takes it from a put of an object
        // too, as VBA's assignment without Set makes it.
        bool bObjectValue = pPutValue && (V_VT(pPutValue) == VT_DISPATCH || V_VT(pPutValue) == VT_UNKNOWN);
        bool bPutRef = (wFlags & DISPATCH_PROPERTYPUTREF) || (bObjectValue && !(pMember->nAccess & AccessPut));
        if ((pMember->nAccess & AccessPutRef) && bPutRef)
            nAccess = AccessPutRef;
        else if ((pMember->nAccess & AccessPut) && (wFlags & DISPATCH_PROPERTYPUT))
            nAccess = AccessPut;
        else
            return DISP_E_MEMBERNOTFOUND;
        if (pDispParams->cArgs != 1 || pDispParams->cNamedArgs != 1 ||
            pDispParams->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
            return DISP_E_BADPARAMCOUNT;
    } else {
        if ((wFlags & DISPATCH_PROPERTYGET) && (pMember->nAccess & AccessGet))
            nAccess = AccessGet;
        else if ((wFlags & DISPATCH_METHOD) && (pMember->nAccess & AccessCall))
            nAccess = AccessCall;
        else if ((wFlags & DISPATCH_METHOD) && (pMember->nAccess & AccessGet))
            nAccess = AccessGet;
        else
            return DISP_E_MEMBERNOTFOUND;
        if (pDispParams->cNamedArgs != 0)
            return DISP_E_NONAMEDARGS;
    }

    // "<Object>.<Member>", properties with ".get", ".put" or ".putref".
    char szOperation[96];
    char szMember[48];
    WideCharToMultiByte(CP_ACP, 0, pMember->pszName, -1, szMember, sizeof(szMember), NULL, NULL);
    szMember[sizeof(szMember) - 1] = '\0';
    const char* pszSuffix = "";
    if (!(pMember->nAccess & AccessCall) || nAccess != AccessCall)
        pszSuffix = nAccess == AccessGet ? ".get" : nAccess == AccessPut ? ".put" : nAccess == AccessPutRef ? ".putref" : "";
    snprintf(szOperation, sizeof(szOperation), "%s.%s%s", m_pszObjectName, szMember, pszSuffix);

    HRESULT hrFault = S_OK;
    switch (CheckFault(szOperation, &hrFault)) {
    case FaultFail:
        return hrFault;
    case FaultRaise:
        if (!pExcepInfo)
            return hrFault;
        FillFaultExcepInfo(szOperation, hrFault, pExcepInfo);
        return DISP_E_EXCEPTION;
    case FaultThrow:
        // Across modules the nearest a server comes to an unexpected
        // failure is an exception with error information.
        if (gbStandinCallersInOtherModules) {
            if (!pExcepInfo)
                return hrFault;
            FillFaultExcepInfo(szOperation, hrFault, pExcepInfo);
            return DISP_E_EXCEPTION;
        }
        ThrowFault(szOperation, hrFault);
    default:
        break;
    }

    DispArgs args(pDispParams, nAccess == AccessPut || nAccess == AccessPutRef, puArgErr);
    VARIANT result;
    VariantInit(&result);
    DispError error;
    error.hr = S_OK;
    error.szDescription[0] = L'\0';
    HRESULT hr = InvokeMember(dispIdMember, nAccess, args, &result, &error);
    if (hr == DISP_E_EXCEPTION) {
        VariantClear(&result);
        if (!pExcepInfo)
            return error.hr;
        ZeroMemory(pExcepInfo, sizeof(*pExcepInfo));
        pExcepInfo->bstrSource = SysAllocString(kErrorSource);
        pExcepInfo->bstrDescription = SysAllocString(error.szDescription);
        pExcepInfo->scode = error.hr;
        return DISP_E_EXCEPTION;
    }
    if (FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    if (pVarResult)
        *pVarResult = result;
    else
        VariantClear(&result);
    return hr;
}

DispatchObject* DispatchObject::FromDispatch(IDispatch* pObject, ObjectKind nKind)
{
    if (!pObject)
        return NULL;
    IDispatch* pOwn = NULL;
    if (FAILED(pObject->QueryInterface(IID_StandinObject, (void**)&pOwn)) || !pOwn)
        return NULL;
    DispatchObject* pStandin = static_cast<DispatchObject*>(pOwn);
    if (pStandin->m_nKind != nKind) {
        pOwn->Release();
        return NULL;
    }
    return pStandin;
}

bool gbStandinCallersInOtherModules = false;

namespace {

// What a COM server does for a failure with a description: the code, and an
// error object the caller's GetErrorInfo finds.
void SetFaultErrorInfo(const char* pszOperation)
{
    wchar_t szSource[64];
    wchar_t szDescription[128];
    FaultErrorTexts(pszOperation, szSource, 64, szDescription, 128);
    ICreateErrorInfo* pCreate = NULL;
    if (FAILED(CreateErrorInfo(&pCreate)))
        return;
    pCreate->SetSource(szSource);
    pCreate->SetDescription(szDescription);
    IErrorInfo* pErrorInfo = NULL;
    if (SUCCEEDED(pCreate->QueryInterface(IID_IErrorInfo, (void**)&pErrorInfo))) {
        SetErrorInfo(0, pErrorInfo);
        pErrorInfo->Release();
    }
    pCreate->Release();
}

}  // namespace

bool VtableFault(const char* pszOperation, HRESULT* phr)
{
    FaultAction action = CheckFault(pszOperation, phr);
    // A throw would end the process on its way into the caller's module.
    if (gbStandinCallersInOtherModules && (action == FaultRaise || action == FaultThrow)) {
        SetFaultErrorInfo(pszOperation);
        return true;
    }
    switch (action) {
    case FaultFail:
        return true;
    case FaultRaise:
        RaiseFault(pszOperation, *phr);
    case FaultThrow:
        ThrowFault(pszOperation, *phr);
    default:
        return false;
    }
}
