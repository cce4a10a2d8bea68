// The add-in object: Outlook creates it through the class factory, connects
// it through _IDTExtensibility2, asks it for the ribbon and calls its buttons
// back through IDispatch.
#ifndef LETTERCAST_CONNECT_H
#define LETTERCAST_CONNECT_H

#include <windows.h>
#include <oaidl.h>

#include "addin/Pigeonflight_ATL.h"
#include "addin/dual_dispatch.h"
#include "addin/host_interfaces.h"
#include "addin/inspectors_sink.h"
#include "engine/com_holder.h"

#define DISPID_BUTTON_CLICKED 42   // IRibbonCallback.ButtonClicked

#define LC_HOST_MESSAGE_CAPACITY 512
#define LC_DEBUG_LINE_CAPACITY 512

typedef DualDispatch<IConnect, &IID_IConnect, &LIBID_Pigeonflight_ATLLib, 1, 0> ConnectDispatch;
typedef DualDispatch<_IDTExtensibility2, &IID__IDTExtensibility2, &LIBID_AddInDesignerObjects,
                     LC_ADDIN_DESIGNER_MAJOR, LC_ADDIN_DESIGNER_MINOR> ExtensibilityDispatch;
typedef DualDispatch<IRibbonExtensibility, &IID_IRibbonExtensibility, &LIBID_Office, LC_OFFICE_MAJOR,
                     LC_OFFICE_MINOR> RibbonExtensibilityDispatch;
typedef DualDispatch<IRibbonCallback, &IID_IRibbonCallback, &LIBID_Pigeonflight_ATLLib, 1, 0>
    RibbonCallbackDispatch;

class CConnect final : public RibbonCallbackDispatch,
                 public ConnectDispatch,
                 public ExtensibilityDispatch,
                 public RibbonExtensibilityDispatch,
                 public InspectorsEventSink {
public:
    // An ObjectCreator: without pOuter the plain object answering riid; with
    // one the aggregated object, whose own IUnknown goes out (riid must then
    // be IID_IUnknown).
    static HRESULT CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv);

    // IUnknown of every interface and of the sink; an aggregated object
    // passes them on to its outer object.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // The one Invoke of every dual interface and of the sink.
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                        VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

    // _IDTExtensibility2
    STDMETHODIMP OnConnection(IDispatch* Application, ext_ConnectMode ConnectMode, IDispatch* AddInInst,
                              SAFEARRAY** custom) override;
    STDMETHODIMP OnDisconnection(ext_DisconnectMode RemoveMode, SAFEARRAY** custom) override;
    STDMETHODIMP OnAddInsUpdate(SAFEARRAY** custom) override;
    STDMETHODIMP OnStartupComplete(SAFEARRAY** custom) override;
    STDMETHODIMP OnBeginShutdown(SAFEARRAY** custom) override;

    // IRibbonExtensibility
    STDMETHODIMP GetCustomUI(BSTR RibbonID, BSTR* RibbonXml) override;

    // IRibbonCallback
    STDMETHODIMP ButtonClicked(IDispatch* ribbonControl) override;

    // InspectorsEvents.NewInspector: nothing is kept of the new inspector.
    void OnNewInspector(IDispatch* Inspector);

    // The interface map: IUnknown, IDispatch, IConnect, _IDTExtensibility2,
    // IRibbonExtensibility, IRibbonCallback.
    HRESULT InternalQueryInterface(REFIID riid, void** ppv);

    ComHolder<IDispatch> m_pApplication;   // the host's _Application
    ComHolder<IDispatch> m_pInspectors;    // the host's _Inspectors
    DWORD m_dwAdviseCookie;                // LC_COOKIE_NOT_ADVISED while the sink is not advised
    ULONG m_nCustomUICalls;

private:
    // The aggregated object's own IUnknown, which the outer object holds.
    class InnerUnknown : public IUnknown {
    public:
        explicit InnerUnknown(CConnect* pOwner) : m_pOwner(pOwner) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;

    private:
        CConnect* m_pOwner;
    };

    explicit CConnect(IUnknown* pOuter);
    ~CConnect();
    CConnect(const CConnect&) = delete;
    CConnect& operator=(const CConnect&) = delete;

    ULONG InternalAddRef();
    ULONG InternalRelease();

    HRESULT InvokeSinkEvent(DISPID dispIdMember, DISPPARAMS* pDispParams);
    HRESULT AdviseInspectorsSink();
    HRESULT UnadviseInspectorsSink();

    LONG m_nRefs;
    IUnknown* m_pOuter;   // not counted: the outer object owns this one
    InnerUnknown m_inner;
};

// True when gdOutlookVersion is 12.0 (Outlook 2007) or more.
bool IsSupportedHost();
// Sets gpMAPISession from gpApplication's NameSpace; NULL when the host gives none.
void FetchMapiSession();

// The "XML" resource, converted from the ANSI code page; NULL when missing.
// The caller frees it.
BSTR LoadXmlResource(UINT nResource);

#endif
