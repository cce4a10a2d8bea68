#include "standin/host/addin_loader.h"

#include <stdio.h>

#include <string>

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

// The default value of HKCU\Software\Classes\SUBKEY, empty when missing.
std::string UserClassesValue(const std::string& subkey)
{
    std::string key = "Software\\Classes\\" + subkey;
    char szValue[MAX_PATH];
    LONG cb = sizeof(szValue);
    if (RegQueryValueA(HKEY_CURRENT_USER, key.c_str(), szValue, &cb) != ERROR_SUCCESS || cb <= 0 ||
        cb > (LONG)sizeof(szValue))
        return std::string();
    szValue[cb - 1] = '\0';
    return szValue;
}

// Windows finds a class in the user's own classes (HKCU\Software\Classes, a
// per-user installation's) before the machine's, through the merged view
// HKEY_CLASSES_ROOT. Wine's COM reads only the machine's, so the host looks in
// the user's first itself and loads the server there as COM would.
HRESULT CreateFromUserClasses(const char* pszProgId, IUnknown** ppUnknown)
{
    *ppUnknown = NULL;
    std::string clsidText = UserClassesValue(std::string(pszProgId) + "\\CLSID");
    if (clsidText.empty())
        return REGDB_E_CLASSNOTREG;
    std::string path = UserClassesValue("CLSID\\" + clsidText + "\\InprocServer32");
    wchar_t szClsid[64];
    CLSID clsid;
    if (path.empty() || MultiByteToWideChar(CP_ACP, 0, clsidText.c_str(), -1, szClsid, 64) == 0 ||
        FAILED(CLSIDFromString(szClsid, &clsid)))
        return REGDB_E_CLASSNOTREG;
    HMODULE hServer = LoadLibraryA(path.c_str());
    if (!hServer)
        return HRESULT_FROM_WIN32(GetLastError());
    typedef HRESULT(STDAPICALLTYPE * GetClassObjectFn)(REFCLSID, REFIID, void**);
    GetClassObjectFn pfnGetClassObject = (GetClassObjectFn)(void*)GetProcAddress(hServer, "DllGetClassObject");
    if (!pfnGetClassObject)
        return CO_E_ERRORINDLL;
    IClassFactory* pFactory = NULL;
    HRESULT hr = pfnGetClassObject(clsid, IID_IClassFactory, (void**)&pFactory);
    if (FAILED(hr))
        return hr;
    hr = pFactory->CreateInstance(NULL, IID_IUnknown, (void**)ppUnknown);
    pFactory->Release();
    return hr;
}

// The module whose code serves the object: which build of the add-in this is.
std::string ServingModule(IUnknown* pUnknown)
{
    HMODULE hModule = NULL;
    char szPath[MAX_PATH];
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            *(const char**)pUnknown, &hModule))
        return "an unknown module";
    DWORD cch = GetModuleFileNameA(hModule, szPath, MAX_PATH);
    return cch == 0 || cch >= MAX_PATH ? std::string("an unknown module") : std::string(szPath, cch);
}

bool Connect(IDispatch* pApplication, const char* pszProgId, LoadedAddin* pAddin)
{
    IUnknown* pUnknown = NULL;
    HRESULT hr = CreateFromUserClasses(pszProgId, &pUnknown);
    if (FAILED(hr)) {
        wchar_t szProgId[256];
        MultiByteToWideChar(CP_ACP, 0, pszProgId, -1, szProgId, 256);
        CLSID clsid;
        hr = CLSIDFromProgID(szProgId, &clsid);
        if (FAILED(hr)) {
            fprintf(stderr, "outlook-standin: %s: no class for this ProgID (0x%08lx)\n", pszProgId, (unsigned long)hr);
            return false;
        }
        hr = CoCreateInstance(clsid, NULL, CLSCTX_INPROC_SERVER, IID_IUnknown, (void**)&pUnknown);
        if (FAILED(hr)) {
            fprintf(stderr, "outlook-standin: %s: cannot be created (0x%08lx)\n", pszProgId, (unsigned long)hr);
            return false;
        }
    }
    fprintf(stderr, "outlook-standin: %s is served by %s\n", pszProgId, ServingModule(pUnknown).c_str());
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
