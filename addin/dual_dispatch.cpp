#include "addin/dual_dispatch.h"

#include "addin/module.h"

// The language of the add-in's own library, tried when the caller's has no
// registration of its own.
#define LC_TYPELIB_LCID 0x0409

TypeInfoHolder::TypeInfoHolder(const GUID* pLibid, const IID* pIid, WORD wMajor, WORD wMinor)
    : m_pLibid(pLibid), m_pIid(pIid), m_wMajor(wMajor), m_wMinor(wMinor), m_pInfo(NULL)
{
}

HRESULT TypeInfoHolder::LoadModuleLibrary(ITypeLib** ppLib)
{
    wchar_t szPath[MAX_PATH];
    HRESULT hr = LoadOwnTypeLibrary(ppLib, szPath, MAX_PATH);
    if (FAILED(hr))
        return hr;
    TLIBATTR* pAttr = NULL;
    hr = (*ppLib)->GetLibAttr(&pAttr);
    if (SUCCEEDED(hr)) {
        bool bAsked = IsEqualGUID(pAttr->guid, *m_pLibid) && pAttr->wMajorVerNum == m_wMajor &&
                      pAttr->wMinorVerNum == m_wMinor;
        (*ppLib)->ReleaseTLibAttr(pAttr);
        hr = bAsked ? S_OK : TYPE_E_LIBNOTREGISTERED;
    }
    if (FAILED(hr)) {
        (*ppLib)->Release();
        *ppLib = NULL;
    }
    return hr;
}

HRESULT TypeInfoHolder::Load(LCID lcid)
{
    if (m_pInfo)
        return S_OK;
    // The library in the DLL itself first: both builds of the add-in register
    // the one type library, and the registration may name the other build's
    // file, whose library describes the interfaces for the other pointer size.
    ITypeLib* pLib = NULL;
    HRESULT hr = LoadModuleLibrary(&pLib);
    if (FAILED(hr))
        hr = LoadRegTypeLib(*m_pLibid, m_wMajor, m_wMinor, lcid, &pLib);
    if (FAILED(hr) && lcid != LC_TYPELIB_LCID)
        hr = LoadRegTypeLib(*m_pLibid, m_wMajor, m_wMinor, LC_TYPELIB_LCID, &pLib);
    if (FAILED(hr))
        return hr;
    ITypeInfo* pInfo = NULL;
    hr = pLib->GetTypeInfoOfGuid(*m_pIid, &pInfo);
    pLib->Release();
    if (FAILED(hr))
        return hr;
    m_pInfo = pInfo;
    return S_OK;
}

HRESULT TypeInfoHolder::GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo)
{
    if (iTInfo != 0)
        return DISP_E_BADINDEX;
    if (ppTInfo == NULL)
        return E_POINTER;
    *ppTInfo = NULL;
    HRESULT hr = Load(lcid);
    if (FAILED(hr))
        return hr;
    m_pInfo->AddRef();
    *ppTInfo = m_pInfo;
    return S_OK;
}

HRESULT TypeInfoHolder::GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId)
{
    HRESULT hr = Load(lcid);
    if (FAILED(hr))
        return hr;
    return m_pInfo->GetIDsOfNames(rgszNames, cNames, rgDispId);
}

HRESULT TypeInfoHolder::Invoke(IDispatch* pInterface, DISPID dispIdMember, LCID lcid, WORD wFlags,
                               DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr)
{
    HRESULT hr = Load(lcid);
    if (FAILED(hr))
        return hr;
    return m_pInfo->Invoke(pInterface, dispIdMember, wFlags, pDispParams, pVarResult, pExcepInfo, puArgErr);
}
