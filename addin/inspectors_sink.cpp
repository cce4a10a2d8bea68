#include "addin/inspectors_sink.h"

#include "addin/host_interfaces.h"

HRESULT STDMETHODCALLTYPE InspectorsEventSink::SinkQueryInterface(REFIID riid, void** ppv)
{
    if (ppv == NULL)
        return E_POINTER;
    *ppv = NULL;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) &&
        !IsEqualIID(riid, DIID_InspectorsEvents))
        return E_NOINTERFACE;
    *ppv = this;
    AddRef();
    return S_OK;
}

// The host reads the events' arguments from the event interface it knows,
// never from the sink.
HRESULT STDMETHODCALLTYPE InspectorsEventSink::GetTypeInfoCount(UINT* pctinfo)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE InspectorsEventSink::GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE InspectorsEventSink::GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames,
                                                             LCID lcid, DISPID* rgDispId)
{
    return E_NOTIMPL;
}
