#include "addin/module.h"

#include "addin/class_factory.h"
#include "addin/connect.h"
#include "addin/Pigeonflight_ATL.h"
#include "resources/ids_addin.h"

bool gbModuleInitFailed = false;

ClassObjectEntry gaClassObjects[] = {
    { &CLSID_Connect, IDR_CONNECT, CreateCachedClassFactory, CConnect::CreateInstance, NULL },
};
const int gnClassObjects = sizeof(gaClassObjects) / sizeof(gaClassObjects[0]);

CPigeonflight_ATLModule gAtlModule;

CPigeonflight_ATLModule::CPigeonflight_ATLModule()
    : m_libid(LIBID_Pigeonflight_ATLLib), m_nAppIdResource(IDR_PIGEONFLIGHT_ATL),
      m_pszAppId("{24E867AF-C5C8-4349-ADB3-DF78975C06BF}"), m_nLockCount(0), m_bCriticalSectionReady(false)
{
    m_bCriticalSectionReady = InitializeCriticalSectionAndSpinCount(&m_csModule, 0) != FALSE;
    if (!m_bCriticalSectionReady)
        gbModuleInitFailed = true;
}

CPigeonflight_ATLModule::~CPigeonflight_ATLModule()
{
    for (int i = 0; i < gnClassObjects; i++) {
        if (gaClassObjects[i].pEncodedFactory == NULL)
            continue;
        IUnknown* pFactory = (IUnknown*)DecodePointer(gaClassObjects[i].pEncodedFactory);
        gaClassObjects[i].pEncodedFactory = NULL;
        pFactory->Release();
    }
    if (m_bCriticalSectionReady)
        DeleteCriticalSection(&m_csModule);
}

LONG CPigeonflight_ATLModule::Lock()
{
    return InterlockedIncrement(&m_nLockCount);
}

LONG CPigeonflight_ATLModule::Unlock()
{
    return InterlockedDecrement(&m_nLockCount);
}

LONG CPigeonflight_ATLModule::GetLockCount()
{
    return m_nLockCount;
}

HRESULT CPigeonflight_ATLModule::AddCommonRGSReplacements(RegistryReplacements* pReplacements)
{
    return AddReplacement(pReplacements, "APPID", m_pszAppId) ? S_OK : E_OUTOFMEMORY;
}

HRESULT CPigeonflight_ATLModule::DllCanUnloadNow()
{
    return GetLockCount() == 0 ? S_OK : S_FALSE;
}

HRESULT CPigeonflight_ATLModule::DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
{
    if (ppv == NULL)
        return E_POINTER;
    *ppv = NULL;
    if (gbModuleInitFailed || !m_bCriticalSectionReady)
        return E_UNEXPECTED;

    ClassObjectEntry* pEntry = NULL;
    for (int i = 0; i < gnClassObjects && pEntry == NULL; i++)
        if (IsEqualCLSID(*gaClassObjects[i].pClsid, rclsid))
            pEntry = &gaClassObjects[i];
    if (pEntry == NULL)
        return CLASS_E_CLASSNOTAVAILABLE;

    HRESULT hr = S_OK;
    if (pEntry->pEncodedFactory == NULL) {
        // Two threads asking at once must end up with the same factory.
        EnterCriticalSection(&m_csModule);
        if (pEntry->pEncodedFactory == NULL) {
            IUnknown* pFactory = NULL;
            hr = pEntry->pfnCreateFactory(pEntry->pfnCreateObject, IID_IUnknown, (void**)&pFactory);
            if (SUCCEEDED(hr))
                pEntry->pEncodedFactory = EncodePointer(pFactory);
        }
        LeaveCriticalSection(&m_csModule);
        if (FAILED(hr))
            return hr;
    }

    IUnknown* pFactory = (IUnknown*)DecodePointer(pEntry->pEncodedFactory);
    hr = pFactory->QueryInterface(riid, ppv);
    if (SUCCEEDED(hr) && *ppv == NULL)
        hr = CLASS_E_CLASSNOTAVAILABLE;
    return hr;
}
