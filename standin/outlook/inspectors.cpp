// _Inspectors with its InspectorsEvents connection point, and _Inspector,
// the compose window of one item.
#include <ocidl.h>
#include <olectl.h>
#include <oleidl.h>

#include "standin/outlook/host_window.h"
#include "standin/outlook/outlook_ids.h"
#include "standin/outlook/outlook_objects.h"

namespace {

enum {
    kCount = 1,
    kItem,
    kInspectorsClass,
};

const DispMember kInspectorsMembers[] = {
    { L"Count", kCount, AccessGet },
    { L"Item", kItem, AccessCall },
    { L"Class", kInspectorsClass, AccessGet },
};

const LONG kClassInspectors = 56;
const LONG kClassInspector = 35;

class InspectorsObject;

class ConnectionPointObject final : public UnknownObject<IConnectionPoint> {
public:
    explicit ConnectionPointObject(OutlookHost* pHost) : m_pHost(pHost) { m_pHost->AddRef(); }

    STDMETHODIMP GetConnectionInterface(IID* pIID) override
    {
        if (!pIID)
            return E_POINTER;
        *pIID = DIID_OlInspectorsEvents;
        return S_OK;
    }
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override;
    STDMETHODIMP Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override
    {
        if (!pdwCookie)
            return E_POINTER;
        *pdwCookie = 0;
        HRESULT hr = S_OK;
        if (VtableFault("Inspectors.Advise", &hr))
            return hr;
        return m_pHost->Advise(pUnkSink, pdwCookie);
    }
    STDMETHODIMP Unadvise(DWORD dwCookie) override
    {
        HRESULT hr = S_OK;
        if (VtableFault("Inspectors.Unadvise", &hr))
            return hr;
        return m_pHost->Unadvise(dwCookie);
    }
    STDMETHODIMP EnumConnections(IEnumConnections** ppEnum) override
    {
        if (ppEnum)
            *ppEnum = NULL;
        return E_NOTIMPL;
    }

private:
    bool Answers(REFIID riid) const override { return IsEqualIID(riid, IID_IConnectionPoint); }

    ~ConnectionPointObject() { m_pHost->Release(); }

    OutlookHost* m_pHost;
};

class InspectorsObject : public DispatchObject, public IConnectionPointContainer {
public:
    explicit InspectorsObject(OutlookHost* pHost)
        : DispatchObject(KindInspectors, "Inspectors", IID_OlInspectors, kInspectorsMembers,
                         sizeof(kInspectorsMembers) / sizeof(kInspectorsMembers[0]), pHost)
    {
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return DispatchObject::QueryInterface(riid, ppv); }
    STDMETHODIMP_(ULONG) AddRef() override { return DispatchObject::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return DispatchObject::Release(); }

    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override
    {
        if (ppEnum)
            *ppEnum = NULL;
        return E_NOTIMPL;
    }
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override
    {
        if (!ppCP)
            return E_POINTER;
        *ppCP = NULL;
        HRESULT hr = S_OK;
        if (VtableFault("Inspectors.FindConnectionPoint", &hr))
            return hr;
        if (!IsEqualIID(riid, DIID_OlInspectorsEvents))
            return CONNECT_E_NOCONNECTION;
        *ppCP = new ConnectionPointObject(Host());
        return S_OK;
    }

protected:
    void* OtherInterface(REFIID riid) override
    {
        if (!IsEqualIID(riid, IID_IConnectionPointContainer))
            return NULL;
        AddRef();
        return static_cast<IConnectionPointContainer*>(this);
    }

    HRESULT InvokeMember(DISPID id, int nAccess, const DispArgs& args, VARIANT* pResult, DispError* pError) override
    {
        switch (id) {
        case kCount:
            ReturnLong(pResult, Host()->InspectorCount());
            return S_OK;
        case kItem: {
            LONG nIndex = 0;
            HRESULT hr = args.GetLong(0, &nIndex);
            if (FAILED(hr))
                return hr;
            OpenInspector* pInspector = Host()->InspectorAt(nIndex - 1);
            if (!pInspector)
                return RaiseError(pError, DISP_E_BADINDEX, L"Array index out of bounds.");
            pInspector->InspectorDispatch()->AddRef();
            ReturnObject(pResult, pInspector->InspectorDispatch());
            return S_OK;
        }
        case kInspectorsClass:
            ReturnLong(pResult, kClassInspectors);
            return S_OK;
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }
};

STDMETHODIMP ConnectionPointObject::GetConnectionPointContainer(IConnectionPointContainer** ppCPC)
{
    if (!ppCPC)
        return E_POINTER;
    *ppCPC = new InspectorsObject(m_pHost);
    return S_OK;
}

enum {
    kCurrentItem = 1,
    kClose,
    kCaption,
    kInspectorClass,
};

const DispMember kInspectorMembers[] = {
    { L"CurrentItem", kCurrentItem, AccessGet },
    { L"Close", kClose, AccessCall },
    { L"Caption", kCaption, AccessGet },
    { L"Class", kInspectorClass, AccessGet },
};

class InspectorObject : public DispatchObject, public IOleWindow, public OpenInspector {
public:
    InspectorObject(OutlookHost* pHost, IDispatch* pMailItem, ItemRecord* pRecord)
        : DispatchObject(KindInspector, "Inspector", IID_OlInspector, kInspectorMembers,
                         sizeof(kInspectorMembers) / sizeof(kInspectorMembers[0]), pHost),
          m_hWnd(NULL)
    {
        m_mailItem.Share(pMailItem);
        m_record.Share(pRecord);
    }

    bool OpenWindow()
    {
        m_hWnd = CreateHostWindow(Caption().c_str(), &InspectorObject::OnUserClose, this);
        return m_hWnd != NULL;
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return DispatchObject::QueryInterface(riid, ppv); }
    STDMETHODIMP_(ULONG) AddRef() override { return DispatchObject::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return DispatchObject::Release(); }

    STDMETHODIMP GetWindow(HWND* phwnd) override
    {
        if (!phwnd)
            return E_POINTER;
        *phwnd = NULL;
        HRESULT hr = S_OK;
        if (VtableFault("Inspector.GetWindow", &hr))
            return hr;
        if (!m_hWnd)
            return E_FAIL;
        *phwnd = m_hWnd;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL fEnterMode) override { return E_NOTIMPL; }

    IDispatch* InspectorDispatch() override { return static_cast<IDispatch*>(this); }
    ItemRecord* ShownRecord() override { return m_record.Get(); }
    HWND InspectorWindow() override { return m_hWnd; }
    void Shut() override
    {
        HWND hWnd = m_hWnd;
        m_hWnd = NULL;
        DestroyHostWindow(hWnd);
        m_mailItem.Reset();
    }

protected:
    void* OtherInterface(REFIID riid) override
    {
        if (!IsEqualIID(riid, IID_IOleWindow))
            return NULL;
        AddRef();
        return static_cast<IOleWindow*>(this);
    }

    HRESULT InvokeMember(DISPID id, int nAccess, const DispArgs& args, VARIANT* pResult, DispError* pError) override
    {
        if (id == kInspectorClass) {
            ReturnLong(pResult, kClassInspector);
            return S_OK;
        }
        if (!m_mailItem)
            return RaiseError(pError, E_ABORT, L"The inspector has been closed.");
        switch (id) {
        case kCurrentItem:
            m_mailItem->AddRef();
            ReturnObject(pResult, m_mailItem.Get());
            return S_OK;
        case kClose: {
            LONG nSaveMode = 0;
            HRESULT hr = args.GetLong(0, &nSaveMode);
            if (FAILED(hr))
                return hr;
            return CloseItem(m_mailItem.Get(), nSaveMode, pError);
        }
        case kCaption:
            ReturnText(pResult, Caption());
            return S_OK;
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }

private:
    std::wstring Caption() const
    {
        std::wstring subject = m_record->SubjectText();
        return (subject.empty() ? std::wstring(L"Untitled") : subject) + L" - Message";
    }

    // The user closed the window: the item is closed without saving.
    static void OnUserClose(void* pContext)
    {
        InspectorObject* pInspector = static_cast<InspectorObject*>(pContext);
        pInspector->AddRef();
        pInspector->Host()->CloseInspector(pInspector);
        pInspector->Release();
    }

    Ref<IDispatch> m_mailItem;
    Ref<ItemRecord> m_record;
    HWND m_hWnd;
};

}  // namespace

IDispatch* NewInspectors(OutlookHost* pHost)
{
    return new InspectorsObject(pHost);
}

IDispatch* OpenNewInspector(OutlookHost* pHost, IDispatch* pMailItem, ItemRecord* pRecord)
{
    InspectorObject* pInspector = new InspectorObject(pHost, pMailItem, pRecord);
    if (!pInspector->OpenWindow()) {
        pInspector->Release();
        return NULL;
    }
    pHost->AddInspector(pInspector);
    return static_cast<IDispatch*>(pInspector);
}
