#include "addin/class_factory.h"

#include <new>

namespace {

class CachedClassFactory final : public IClassFactory {
public:
    explicit CachedClassFactory(ObjectCreator pfnCreateObject) : m_nRefs(0), m_pfnCreateObject(pfnCreateObject) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == NULL)
            return E_POINTER;
        *ppv = NULL;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory))
            return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }

    // The table's own reference is the first; a second one is someone
    // outside the module, who keeps the DLL loaded.
    STDMETHODIMP_(ULONG) AddRef() override
    {
        LONG nRefs = InterlockedIncrement(&m_nRefs);
        if (nRefs == 2)
            gAtlModule.Lock();
        return (ULONG)nRefs;
    }

    STDMETHODIMP_(ULONG) Release() override
    {
        LONG nRefs = InterlockedDecrement(&m_nRefs);
        if (nRefs == 0)
            delete this;
        else if (nRefs == 1)
            gAtlModule.Unlock();
        return (ULONG)nRefs;
    }

    STDMETHODIMP CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) override
    {
        if (ppv == NULL)
            return E_POINTER;
        *ppv = NULL;
        // An aggregated object is only ever handed out as its own IUnknown.
        if (pOuter != NULL && !IsEqualIID(riid, IID_IUnknown))
            return CLASS_E_NOAGGREGATION;
        return m_pfnCreateObject(pOuter, riid, ppv);
    }

    STDMETHODIMP LockServer(BOOL fLock) override
    {
        if (fLock)
            gAtlModule.Lock();
        else
            gAtlModule.Unlock();
        return S_OK;
    }

private:
    ~CachedClassFactory() {}

    LONG m_nRefs;
    ObjectCreator m_pfnCreateObject;
};

}  // namespace

HRESULT CreateCachedClassFactory(ObjectCreator pfnCreateObject, REFIID riid, void** ppv)
{
    if (ppv == NULL)
        return E_POINTER;
    *ppv = NULL;
    CachedClassFactory* pFactory = new (std::nothrow) CachedClassFactory(pfnCreateObject);
    if (pFactory == NULL)
        return E_OUTOFMEMORY;
    // Held by this call while it asks; the asker's reference is the first.
    pFactory->AddRef();
    HRESULT hr = pFactory->QueryInterface(riid, ppv);
    pFactory->Release();
    return hr;
}
