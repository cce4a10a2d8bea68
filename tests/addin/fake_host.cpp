#include "tests/addin/fake_host.h"

FakeObject::FakeObject() : m_nRefs(1), m_bHasWindow(false), m_hWnd(NULL)
{
}

FakeObject::~FakeObject()
{
    for (Property& property : m_properties)
        VariantClear(&property.value);
}

void FakeObject::GiveWindow(HWND hWnd)
{
    m_bHasWindow = true;
    m_hWnd = hWnd;
}

FakeObject::Property* FakeObject::Find(const wchar_t* pszName, bool bCreate)
{
    for (Property& property : m_properties)
        if (property.name == pszName)
            return &property;
    if (!bCreate)
        return NULL;
    Property property;
    property.name = pszName;
    property.hr = S_OK;
    VariantInit(&property.value);
    m_properties.push_back(property);
    return &m_properties.back();
}

void FakeObject::SetLong(const wchar_t* pszName, LONG nValue)
{
    Property* pProperty = Find(pszName, true);
    VariantClear(&pProperty->value);
    V_VT(&pProperty->value) = VT_I4;
    V_I4(&pProperty->value) = nValue;
    pProperty->hr = S_OK;
}

void FakeObject::SetText(const wchar_t* pszName, const wchar_t* pszValue)
{
    Property* pProperty = Find(pszName, true);
    VariantClear(&pProperty->value);
    V_VT(&pProperty->value) = VT_BSTR;
    V_BSTR(&pProperty->value) = SysAllocString(pszValue);
    pProperty->hr = S_OK;
}

void FakeObject::SetObject(const wchar_t* pszName, IDispatch* pValue)
{
    Property* pProperty = Find(pszName, true);
    VariantClear(&pProperty->value);
    V_VT(&pProperty->value) = VT_DISPATCH;
    V_DISPATCH(&pProperty->value) = pValue;
    if (pValue)
        pValue->AddRef();
    pProperty->hr = S_OK;
}

void FakeObject::SetFailure(const wchar_t* pszName, HRESULT hr)
{
    Find(pszName, true)->hr = hr;
}

STDMETHODIMP FakeObject::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = NULL;
    bool bDispatch = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch);
    for (const IID& iid : m_iids)
        bDispatch = bDispatch || IsEqualIID(riid, iid);
    if (bDispatch)
        *ppv = static_cast<IDispatch*>(this);
    else if (m_bHasWindow && IsEqualIID(riid, IID_IOleWindow))
        *ppv = static_cast<IOleWindow*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) FakeObject::AddRef()
{
    return InterlockedIncrement(&m_nRefs);
}

STDMETHODIMP_(ULONG) FakeObject::Release()
{
    LONG nRefs = InterlockedDecrement(&m_nRefs);
    if (nRefs == 0)
        delete this;
    return nRefs;
}

STDMETHODIMP FakeObject::GetTypeInfoCount(UINT* pctinfo)
{
    *pctinfo = 0;
    return S_OK;
}

STDMETHODIMP FakeObject::GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo)
{
    return E_NOTIMPL;
}

STDMETHODIMP FakeObject::GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId)
{
    for (size_t i = 0; i < m_properties.size(); i++) {
        if (_wcsicmp(m_properties[i].name.c_str(), rgszNames[0]) == 0) {
            rgDispId[0] = (DISPID)(i + 1);
            return S_OK;
        }
    }
    rgDispId[0] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
}

STDMETHODIMP FakeObject::Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                                VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr)
{
    if (dispIdMember < 1 || (size_t)dispIdMember > m_properties.size())
        return DISP_E_MEMBERNOTFOUND;
    if (!(wFlags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)))
        return DISP_E_MEMBERNOTFOUND;
    Property& property = m_properties[dispIdMember - 1];
    if (FAILED(property.hr))
        return property.hr;
    if (pVarResult)
        return VariantCopy(pVarResult, &property.value);
    return S_OK;
}

STDMETHODIMP FakeObject::GetWindow(HWND* phwnd)
{
    *phwnd = m_hWnd;
    return m_hWnd ? S_OK : E_FAIL;
}

STDMETHODIMP FakeObject::ContextSensitiveHelp(BOOL fEnterMode)
{
    return E_NOTIMPL;
}

FakeRibbonControl::FakeRibbonControl(const wchar_t* pszId)
    : m_nRefs(1), m_id(pszId ? pszId : L""), m_hrId(S_OK), m_pContext(NULL), m_hrContext(S_OK), m_nIdReads(0)
{
}

FakeRibbonControl::~FakeRibbonControl()
{
    if (m_pContext)
        m_pContext->Release();
}

void FakeRibbonControl::SetContext(IDispatch* pContext)
{
    if (pContext)
        pContext->AddRef();
    if (m_pContext)
        m_pContext->Release();
    m_pContext = pContext;
}

STDMETHODIMP FakeRibbonControl::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = NULL;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) && !IsEqualIID(riid, IID_IRibbonControl))
        return E_NOINTERFACE;
    *ppv = static_cast<IRibbonControl*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) FakeRibbonControl::AddRef()
{
    return InterlockedIncrement(&m_nRefs);
}

STDMETHODIMP_(ULONG) FakeRibbonControl::Release()
{
    LONG nRefs = InterlockedDecrement(&m_nRefs);
    if (nRefs == 0)
        delete this;
    return nRefs;
}

STDMETHODIMP FakeRibbonControl::get_Id(BSTR* Id)
{
    m_nIdReads++;
    *Id = NULL;
    if (FAILED(m_hrId))
        return m_hrId;
    *Id = SysAllocString(m_id.c_str());
    return S_OK;
}

STDMETHODIMP FakeRibbonControl::get_Context(IDispatch** Context)
{
    *Context = NULL;
    if (FAILED(m_hrContext))
        return m_hrContext;
    *Context = m_pContext;
    if (m_pContext)
        m_pContext->AddRef();
    return S_OK;
}

STDMETHODIMP FakeRibbonControl::get_Tag(BSTR* Tag)
{
    *Tag = SysAllocString(L"");
    return S_OK;
}
