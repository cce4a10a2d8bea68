// The add-in object's sink for the host's InspectorsEvents. It is handed to
// the connection point as an IDispatch, but its first slot is a
// QueryInterface of its own, answering only for the sink, while AddRef,
// Release and Invoke are overridden by the object: the connection point's
// reference counts on the object, and the object's one Invoke receives the
// events.
#ifndef LETTERCAST_INSPECTORS_SINK_H
#define LETTERCAST_INSPECTORS_SINK_H

#include <windows.h>
#include <oaidl.h>

#define LC_INSPECTORS_SINK_ID 3
#define LC_COOKIE_NOT_ADVISED 0xFEFEFEFEu

// Laid out slot for slot like IDispatch (no base, no virtual destructor, so
// the declaration order is the vtable order).
class InspectorsEventSink {
public:
    virtual HRESULT STDMETHODCALLTYPE SinkQueryInterface(REFIID riid, void** ppv);
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo);
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo);
    virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                                    DISPID* rgDispId);
    virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                             DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                                             UINT* puArgErr) = 0;

    // The sink as the connection point takes it.
    IUnknown* SinkUnknown() { return reinterpret_cast<IUnknown*>(this); }

protected:
    ~InspectorsEventSink() {}
};

#endif
