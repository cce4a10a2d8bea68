// IDispatch for one dual interface of the add-in object, described by the
// type library in the add-in's own DLL (or, failing that, the one the
// registry locates). GetTypeInfoCount, GetTypeInfo and
// GetIDsOfNames stay per interface; Invoke is left to the object, which
// decides which dispatch ids go through the type information.
#ifndef LETTERCAST_DUAL_DISPATCH_H
#define LETTERCAST_DUAL_DISPATCH_H

#include <windows.h>
#include <oaidl.h>

// The type information of one interface, loaded on the first call that
// needs it and kept for the life of the process. A load that fails is tried
// again on the next call, so a library registered later is still found.
class TypeInfoHolder {
public:
    TypeInfoHolder(const GUID* pLibid, const IID* pIid, WORD wMajor, WORD wMinor);
    TypeInfoHolder(const TypeInfoHolder&) = delete;
    TypeInfoHolder& operator=(const TypeInfoHolder&) = delete;

    HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo);
    HRESULT GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId);
    // Calls the member on pInterface, a pointer to the described interface.
    HRESULT Invoke(IDispatch* pInterface, DISPID dispIdMember, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                   VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr);

private:
    HRESULT Load(LCID lcid);
    HRESULT LoadModuleLibrary(ITypeLib** ppLib);

    const GUID* m_pLibid;
    const IID* m_pIid;
    WORD m_wMajor;
    WORD m_wMinor;
    ITypeInfo* m_pInfo;   // deliberately never released: it lives as long as the process
};

template <class Interface, const IID* piid, const GUID* pLibid, WORD wMajor, WORD wMinor>
class DualDispatch : public Interface {
public:
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override
    {
        if (pctinfo == NULL)
            return E_POINTER;
        *pctinfo = 1;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override
    {
        return Holder().GetTypeInfo(iTInfo, lcid, ppTInfo);
    }
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override
    {
        return Holder().GetIDsOfNames(rgszNames, cNames, lcid, rgDispId);
    }

protected:
    HRESULT InvokeThroughTypeInfo(DISPID dispIdMember, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                                  VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr)
    {
        return Holder().Invoke(static_cast<Interface*>(this), dispIdMember, lcid, wFlags, pDispParams, pVarResult,
                               pExcepInfo, puArgErr);
    }

private:
    static TypeInfoHolder& Holder()
    {
        static TypeInfoHolder s_holder(pLibid, piid, wMajor, wMinor);
        return s_holder;
    }
};

#endif
