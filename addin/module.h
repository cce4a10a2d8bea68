// The COM server module of the DLL: its lock count, its critical section,
// the class-object table and the four entry points that the DLL exports.
#ifndef LETTERCAST_MODULE_H
#define LETTERCAST_MODULE_H

#include <windows.h>
#include <objidl.h>

#include "addin/registry_script.h"

// Makes an object of a class: the plain form answering riid, or with pOuter
// the aggregated form, whose own IUnknown goes out.
typedef HRESULT (*ObjectCreator)(IUnknown* pOuter, REFIID riid, void** ppv);
// Makes the class factory of a class over its object creator.
typedef HRESULT (*FactoryCreator)(ObjectCreator pfnCreateObject, REFIID riid, void** ppv);

struct ClassObjectEntry {
    const CLSID* pClsid;
    UINT nRegistryResource;          // the class's "REGISTRY" script
    FactoryCreator pfnCreateFactory;
    ObjectCreator pfnCreateObject;
    void* pEncodedFactory;           // EncodePointer of the cached factory's IUnknown; NULL until made
};

class CPigeonflight_ATLModule {
public:
    CPigeonflight_ATLModule();
    virtual ~CPigeonflight_ATLModule();
    CPigeonflight_ATLModule(const CPigeonflight_ATLModule&) = delete;
    CPigeonflight_ATLModule& operator=(const CPigeonflight_ATLModule&) = delete;

    // The new count.
    virtual LONG Lock();
    virtual LONG Unlock();
    virtual LONG GetLockCount();
    // What every registry script of the module may refer to: %APPID%.
    virtual HRESULT AddCommonRGSReplacements(RegistryReplacements* pReplacements);

    HRESULT DllCanUnloadNow();
    HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
    HRESULT DllRegisterServer();
    HRESULT DllUnregisterServer();

    GUID m_libid;
    UINT m_nAppIdResource;
    const char* m_pszAppId;

private:
    HRESULT RegisterTypeLibrary();
    HRESULT UnregisterTypeLibrary();

    LONG m_nLockCount;
    CRITICAL_SECTION m_csModule;
    bool m_bCriticalSectionReady;
};

// The one module object of the DLL.
extern CPigeonflight_ATLModule gAtlModule;
// Set while the static objects are made when a critical section cannot be
// initialised; the DLL then refuses to load.
extern bool gbModuleInitFailed;
// One line per creatable class.
extern ClassObjectEntry gaClassObjects[];
extern const int gnClassObjects;

// The type library embedded in the DLL, or failing that the .tlb file beside
// it of the same name; pszPath says where it came from.
HRESULT LoadOwnTypeLibrary(ITypeLib** ppLib, wchar_t* pszPath, DWORD cchPath);

#endif
