// CConnect as a COM object: its forms (plain and aggregated), its interface
// map, and the one Invoke behind every IDispatch it hands out.
#include "addin/connect.h"

#include <new>

#include "addin/module.h"

namespace {

struct SinkEventEntry {
    UINT nSinkId;
    const IID* pEventIid;
    DISPID dispId;
    void (CConnect::*pfnHandler)(IDispatch*);   // one argument, VT_DISPATCH; returns nothing
};

const SinkEventEntry kSinkEvents[] = {
    { LC_INSPECTORS_SINK_ID, &DIID_InspectorsEvents, DISPID_INSPECTORS_NEW_INSPECTOR, &CConnect::OnNewInspector },
};

}  // namespace

CConnect::CConnect(IUnknown* pOuter)
    : m_dwAdviseCookie(LC_COOKIE_NOT_ADVISED), m_nCustomUICalls(0), m_nRefs(0), m_pOuter(pOuter), m_inner(this)
{
    gAtlModule.Lock();
}

CConnect::~CConnect()
{
    m_pInspectors.Reset();
    m_pApplication.Reset();
    gAtlModule.Unlock();
}

HRESULT CConnect::CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv)
{
    if (ppv == NULL)
        return E_POINTER;
    *ppv = NULL;
    if (pOuter != NULL && !IsEqualIID(riid, IID_IUnknown))
        return CLASS_E_NOAGGREGATION;
    CConnect* pObject = new (std::nothrow) CConnect(pOuter);
    if (pObject == NULL)
        return E_OUTOFMEMORY;
    if (pOuter != NULL) {
        pObject->InternalAddRef();
        *ppv = static_cast<IUnknown*>(&pObject->m_inner);
        return S_OK;
    }
    // Held by this call while it asks, so a refused interface frees the object.
    pObject->InternalAddRef();
    HRESULT hr = pObject->InternalQueryInterface(riid, ppv);
    pObject->InternalRelease();
    return hr;
}

HRESULT CConnect::InternalQueryInterface(REFIID riid, void** ppv)
{
    if (ppv == NULL)
        return E_POINTER;
    *ppv = NULL;
    IUnknown* pInterface = NULL;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch))
        pInterface = static_cast<IRibbonCallback*>(this);
    else if (IsEqualIID(riid, IID_IConnect))
        pInterface = static_cast<IConnect*>(this);
    else if (IsEqualIID(riid, IID__IDTExtensibility2))
        pInterface = static_cast<_IDTExtensibility2*>(this);
    else if (IsEqualIID(riid, IID_IRibbonExtensibility))
        pInterface = static_cast<IRibbonExtensibility*>(this);
    else if (IsEqualIID(riid, IID_IRibbonCallback))
        pInterface = static_cast<IRibbonCallback*>(this);
    if (pInterface == NULL)
        return E_NOINTERFACE;
    pInterface->AddRef();
    *ppv = pInterface;
    return S_OK;
}

ULONG CConnect::InternalAddRef()
{
    return (ULONG)InterlockedIncrement(&m_nRefs);
}

ULONG CConnect::InternalRelease()
{
    LONG nRefs = InterlockedDecrement(&m_nRefs);
    if (nRefs == 0)
        delete this;
    return (ULONG)nRefs;
}

STDMETHODIMP CConnect::QueryInterface(REFIID riid, void** ppv)
{
    if (m_pOuter)
        return m_pOuter->QueryInterface(riid, ppv);
    return InternalQueryInterface(riid, ppv);
}

STDMETHODIMP_(ULONG) CConnect::AddRef()
{
    if (m_pOuter)
        return m_pOuter->AddRef();
    return InternalAddRef();
}

STDMETHODIMP_(ULONG) CConnect::Release()
{
    if (m_pOuter)
        return m_pOuter->Release();
    return InternalRelease();
}

STDMETHODIMP CConnect::InnerUnknown::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == NULL)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown)) {
        *ppv = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    return m_pOwner->InternalQueryInterface(riid, ppv);
}

STDMETHODIMP_(ULONG) CConnect::InnerUnknown::AddRef()
{
    return m_pOwner->InternalAddRef();
}

STDMETHODIMP_(ULONG) CConnect::InnerUnknown::Release()
{
    return m_pOwner->InternalRelease();
}

STDMETHODIMP CConnect::Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                              VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr)
{
    if (dispIdMember == DISPID_BUTTON_CLICKED) {
        HRESULT hr = RibbonCallbackDispatch::InvokeThroughTypeInfo(dispIdMember, lcid, wFlags, pDispParams,
                                                                   pVarResult, pExcepInfo, puArgErr);
        if (hr != DISP_E_MEMBERNOTFOUND)
            return hr;
    }
    return InvokeSinkEvent(dispIdMember, pDispParams);
}

// Any dispatch id that is no event of the sink is accepted and ignored, as
// the host may raise events that the add-in does not handle.
HRESULT CConnect::InvokeSinkEvent(DISPID dispIdMember, DISPPARAMS* pDispParams)
{
    const SinkEventEntry* pEntry = NULL;
    for (const SinkEventEntry& entry : kSinkEvents)
        if (entry.nSinkId == LC_INSPECTORS_SINK_ID && IsEqualIID(*entry.pEventIid, DIID_InspectorsEvents) &&
            entry.dispId == dispIdMember)
            pEntry = &entry;
    if (pEntry == NULL)
        return S_OK;

    if (pDispParams == NULL || pDispParams->cArgs != 1 || pDispParams->rgvarg == NULL)
        return DISP_E_BADPARAMCOUNT;
    VARIANT argument;
    VariantInit(&argument);
    HRESULT hr = VariantChangeType(&argument, &pDispParams->rgvarg[0], 0, VT_DISPATCH);
    if (FAILED(hr))
        return DISP_E_TYPEMISMATCH;
    (this->*pEntry->pfnHandler)(V_DISPATCH(&argument));
    VariantClear(&argument);
    return S_OK;
}

void CConnect::OnNewInspector(IDispatch* Inspector)
{
}
