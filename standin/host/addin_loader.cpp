#include "standin/host/addin_loader.h"

#include <stdio.h>

namespace {

const char kAddinsKey[] = "Software\\Microsoft\\Office\\Outlook\\Addins";

bool LoadsAtStartup(HKEY hAddins, const char* pszProgId)
{
    HKEY hKey = NULL;
    if (RegOpenKeyExA(hAddins, pszProgId, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return false;
    DWORD dwBehavior = 0, dwType = 0, cb = sizeof(dwBehavior);
    bool bLoads = RegQueryValueExA(hKey, "LoadBehavior", NULL, &dwType, (BYTE*)&dwBehavior, &cb) == ERROR_SUCCESS &&
                  dwType == REG_DWORD && dwBehavior == 3;
    RegCloseKey(hKey);
    return bLoads;
}

// An empty custom array, as the host passes one to every event.
SAFEARRAY* EmptyCustom()
{
    SAFEARRAYBOUND bound = { 0, 0 };
    return SafeArrayCreate(VT_VARIANT, 1, &bound);
}

bool Connect(IDispatch* pApplication, const char* pszProgId, LoadedAddin* pAddin)
{
    wchar_t szProgId[256];
    MultiByteToWideChar(CP_ACP, 0, pszProgId, -1, szProgId, 256);
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(szProgId, &clsid);
    if (FAILED(hr)) {
        fprintf(stderr, "outlook-standin: %s: no class for this ProgID (0x%08lx)\n", pszProgId, (unsigned long)hr);
        return false;
    }
    IUnknown* pUnknown = NULL;
    hr = CoCreateInstance(clsid, NULL, CLSCTX_INPROC_SERVER, IID_IUnknown, (void**)&pUnknown);
    if (FAILED(hr)) {
        fprintf(stderr, "outlook-standin: %s: cannot be created (0x%08lx)\n", pszProgId, (unsigned long)hr);
        return false;
    }
    pAddin->progId = pszProgId;
    pAddin->pExtensibility = NULL;
    pAddin->pRibbon = NULL;
    pAddin->pDispatch = NULL;
    pAddin->bConnected = false;
    hr = pUnknown->QueryInterface(IID__IDTExtensibility2, (void**)&pAddin->pExtensibility);
    if (FAILED(hr) || !pAddin->pExtensibility) {
        fprintf(stderr, "outlook-standin: %s: no _IDTExtensibility2\n", pszProgId);
        pUnknown->Release();
        return false;
    }
    if (FAILED(pUnknown->QueryInterface(IID_IRibbonExtensibility, (void**)&pAddin->pRibbon)))
        pAddin->pRibbon = NULL;
    if (FAILED(pUnknown->QueryInterface(IID_IDispatch, (void**)&pAddin->pDispatch)))
        pAddin->pDispatch = NULL;
    pUnknown->Release();

    SAFEARRAY* pCustom = EmptyCustom();
    hr = pAddin->pExtensibility->OnConnection(pApplication, ext_cm_Startup, NULL, &pCustom);
    if (SUCCEEDED(hr)) {
        pAddin->bConnected = true;
        pAddin->pExtensibility->OnStartupComplete(&pCustom);
    } else {
        fprintf(stderr, "outlook-standin: %s: refused the connection (0x%08lx)\n", pszProgId, (unsigned long)hr);
    }
    SafeArrayDestroy(pCustom);
    return true;
}

}  // namespace

void LoadAddins(IDispatch* pApplication, std::vector<LoadedAddin>* pAddins)
{
    HKEY hAddins = NULL;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kAddinsKey, 0, KEY_READ, &hAddins) != ERROR_SUCCESS)
        return;
    char szProgId[256];
    for (DWORD i = 0;; ++i) {
        DWORD cch = sizeof(szProgId);
        if (RegEnumKeyExA(hAddins, i, szProgId, &cch, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        if (!LoadsAtStartup(hAddins, szProgId))
            continue;
        LoadedAddin addin;
        if (Connect(pApplication, szProgId, &addin))
            pAddins->push_back(addin);
    }
    RegCloseKey(hAddins);
}

void UnloadAddins(std::vector<LoadedAddin>* pAddins)
{
    for (LoadedAddin& addin : *pAddins) {
        SAFEARRAY* pCustom = EmptyCustom();
        if (addin.bConnected) {
            addin.pExtensibility->OnBeginShutdown(&pCustom);
            addin.pExtensibility->OnDisconnection(ext_dm_HostShutdown, &pCustom);
        }
        SafeArrayDestroy(pCustom);
        if (addin.pRibbon)
            addin.pRibbon->Release();
        if (addin.pDispatch)
            addin.pDispatch->Release();
        addin.pExtensibility->Release();
    }
    pAddins->clear();
}
