#include "standin/host/ribbon_control.h"

#include "addin/host_interfaces.h"

namespace {

enum {
    DISPID_RC_ID = 1,
    DISPID_RC_CONTEXT = 2,
    DISPID_RC_TAG = 3,
};

class RibbonControl : public IRibbonControl {
public:
    RibbonControl(const std::string& id, IDispatch* pContext) : m_nRefs(1), m_pContext(pContext)
    {
        wchar_t szId[256];
        MultiByteToWideChar(CP_UTF8, 0, id.c_str(), -1, szId, 256);
        szId[255] = L'\0';
        m_id = szId;
        if (m_pContext)
            m_pContext->AddRef();
    }
    virtual ~RibbonControl()
    {
        if (m_pContext)
            m_pContext->Release();
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IRibbonControl) {
            *ppv = static_cast<IRibbonControl*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = NULL;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_nRefs); }
    STDMETHODIMP_(ULONG) Release() override
    {
        LONG n = InterlockedDecrement(&m_nRefs);
        if (n == 0)
            delete this;
        return n;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* pn) override
    {
        *pn = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* pNames, UINT cNames, LCID, DISPID* pIds) override
    {
        static const struct { const wchar_t* pszName; DISPID id; } kNames[] = {
            { L"Id", DISPID_RC_ID }, { L"Context", DISPID_RC_CONTEXT }, { L"Tag", DISPID_RC_TAG },
        };
        HRESULT hr = S_OK;
        for (UINT i = 0; i < cNames; ++i) {
            pIds[i] = DISPID_UNKNOWN;
            for (const auto& name : kNames)
                if (i == 0 && lstrcmpiW(pNames[i], name.pszName) == 0)
                    pIds[i] = name.id;
            if (pIds[i] == DISPID_UNKNOWN)
                hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD wFlags, DISPPARAMS*, VARIANT* pResult, EXCEPINFO*,
                        UINT*) override
    {
        if (!(wFlags & DISPATCH_PROPERTYGET))
            return DISP_E_MEMBERNOTFOUND;
        if (!pResult)
            return E_POINTER;
        VariantInit(pResult);
        switch (id) {
        case DISPID_RC_ID:
            V_VT(pResult) = VT_BSTR;
            return get_Id(&V_BSTR(pResult));
        case DISPID_RC_CONTEXT:
            V_VT(pResult) = VT_DISPATCH;
            return get_Context(&V_DISPATCH(pResult));
        case DISPID_RC_TAG:
            V_VT(pResult) = VT_BSTR;
            return get_Tag(&V_BSTR(pResult));
        }
        return DISP_E_MEMBERNOTFOUND;
    }
    STDMETHODIMP get_Id(BSTR* pId) override
    {
        *pId = SysAllocString(m_id.c_str());
        return *pId ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP get_Context(IDispatch** ppContext) override
    {
        *ppContext = m_pContext;
        if (m_pContext)
            m_pContext->AddRef();
        return S_OK;
    }
    STDMETHODIMP get_Tag(BSTR* pTag) override
    {
        *pTag = SysAllocString(L"");
        return S_OK;
    }

private:
    LONG m_nRefs;
    std::wstring m_id;
    IDispatch* m_pContext;
};

std::string AttributeOf(const std::wstring& element, const wchar_t* pszName)
{
    std::wstring key = std::wstring(L" ") + pszName + L"=\"";
    size_t pos = element.find(key);
    if (pos == std::wstring::npos)
        return std::string();
    pos += key.size();
    size_t end = element.find(L'"', pos);
    if (end == std::wstring::npos)
        return std::string();
    std::wstring value = element.substr(pos, end - pos);
    char szValue[512];
    WideCharToMultiByte(CP_UTF8, 0, value.c_str(), -1, szValue, sizeof(szValue), NULL, NULL);
    szValue[sizeof(szValue) - 1] = '\0';
    return szValue;
}

}  // namespace

std::vector<RibbonButton> ParseRibbonButtons(const wchar_t* pszXml)
{
    std::vector<RibbonButton> buttons;
    if (!pszXml)
        return buttons;
    std::wstring xml(pszXml);
    for (size_t pos = xml.find(L"<button"); pos != std::wstring::npos; pos = xml.find(L"<button", pos + 1)) {
        size_t end = xml.find(L'>', pos);
        if (end == std::wstring::npos)
            break;
        std::wstring element = xml.substr(pos, end - pos);
        RibbonButton button = { AttributeOf(element, L"id"), AttributeOf(element, L"label"),
                                AttributeOf(element, L"onAction") };
        if (!button.id.empty())
            buttons.push_back(button);
    }
    return buttons;
}

HRESULT PressRibbonButton(IDispatch* pAddin, const RibbonButton& button, IDispatch* pContext)
{
    if (!pAddin || button.onAction.empty())
        return E_INVALIDARG;
    wchar_t szAction[128];
    MultiByteToWideChar(CP_UTF8, 0, button.onAction.c_str(), -1, szAction, 128);
    szAction[127] = L'\0';
    LPOLESTR pszName = szAction;
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = pAddin->GetIDsOfNames(IID_NULL, &pszName, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
        return hr;
    RibbonControl* pControl = new RibbonControl(button.id, pContext);
    VARIANT arg;
    VariantInit(&arg);
    V_VT(&arg) = VT_DISPATCH;
    V_DISPATCH(&arg) = pControl;
    DISPPARAMS params = { &arg, NULL, 1, 0 };
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO info = {};
    UINT uArgError = 0;
    hr = pAddin->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, &info, &uArgError);
    VariantClear(&result);
    pControl->Release();
    return hr;
}
