// What DllRegisterServer and DllUnregisterServer do: the AppID script, each
// class's script and the type library embedded in the DLL.
//
// On 64-bit Windows the 32-bit and the 64-bit build each register their
// classes in their own registry view (HKCR\CLSID is redirected for 32-bit
// programs), while the ProgIDs, the AppID, the type library's key and
// Outlook's add-in entry are one key for both. So a build unregistering while
// the other build's class is still registered removes only its own: its class
// key and its platform's entry of the type library.
#include "addin/module.h"

#include <oleauto.h>
#include <string.h>
#include <wchar.h>

#include "addin/system_locale.h"
#include "settings/data_paths.h"

namespace {

// The full path of the DLL, for %MODULE%.
HRESULT ModulePathA(char* pszPath, DWORD cchPath)
{
    DWORD cch = GetModuleFileNameA(ghInstance, pszPath, cchPath);
    if (cch == 0)
        return HRESULT_FROM_WIN32(GetLastError());
    if (cch >= cchPath)
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    return S_OK;
}

HRESULT RunClassScript(CPigeonflight_ATLModule* pModule, UINT nResource, bool bRegister)
{
    RegistryReplacements replacements;
    InitReplacements(&replacements);
    HRESULT hr = pModule->AddCommonRGSReplacements(&replacements);
    if (FAILED(hr))
        return hr;
    char szModule[MAX_PATH];
    hr = ModulePathA(szModule, MAX_PATH);
    if (FAILED(hr))
        return hr;
    if (!AddReplacement(&replacements, "MODULE", szModule))
        return E_OUTOFMEMORY;
    return RunRegistryScriptResource(ghInstance, nResource, bRegister, &replacements);
}

// HKCR\CLSID\{clsid}, the class's key in this build's registry view.
bool ClassKeyName(REFCLSID clsid, char* pszKey, size_t cchKey)
{
    wchar_t szClsid[40];
    if (StringFromGUID2(clsid, szClsid, 40) == 0 || cchKey < 6 + 40)
        return false;
    memcpy(pszKey, "CLSID\\", 6);
    return WideCharToMultiByte(CP_ACP, 0, szClsid, -1, pszKey + 6, (int)(cchKey - 6), NULL, NULL) != 0;
}

// Whether the other build serves the class: its key is in the other registry
// view of 64-bit Windows. 32-bit Windows has one view, and no other build.
bool OtherBuildRegistered(REFCLSID clsid)
{
#ifdef _WIN64
    REGSAM samOtherView = KEY_WOW64_32KEY;
#else
    BOOL bWow64 = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &bWow64) || !bWow64)
        return false;
    REGSAM samOtherView = KEY_WOW64_64KEY;
#endif
    char szKey[64];
    if (!ClassKeyName(clsid, szKey, sizeof(szKey)) || strlen(szKey) + 16 > sizeof(szKey))
        return false;
    strcat(szKey, "\\InprocServer32");
    HKEY hKey = NULL;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, szKey, 0, KEY_QUERY_VALUE | samOtherView, &hKey) != ERROR_SUCCESS)
        return false;
    RegCloseKey(hKey);
    return true;
}

// Unregistering while the other build serves the class: only the class key of
// this build's view goes; the keys both builds share stay for the other.
HRESULT RemoveOwnClassKey(REFCLSID clsid)
{
    char szKey[64];
    if (!ClassKeyName(clsid, szKey, sizeof(szKey)))
        return E_UNEXPECTED;
    LONG lResult = DeleteRegistryTree(HKEY_CLASSES_ROOT, szKey);
    return lResult == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32((DWORD)lResult);
}

HRESULT RunAppIdScript(CPigeonflight_ATLModule* pModule, bool bRegister)
{
    RegistryReplacements replacements;
    InitReplacements(&replacements);
    HRESULT hr = pModule->AddCommonRGSReplacements(&replacements);
    if (FAILED(hr))
        return hr;
    return RunRegistryScriptResource(ghInstance, pModule->m_nAppIdResource, bRegister, &replacements);
}

}  // namespace

// The type library embedded in the DLL, or failing that the .tlb file beside
// it of the same name; pszPath says where it came from.
HRESULT LoadOwnTypeLibrary(ITypeLib** ppLib, wchar_t* pszPath, DWORD cchPath)
{
    *ppLib = NULL;
    DWORD cch = GetModuleFileNameW(ghInstance, pszPath, cchPath);
    if (cch == 0)
        return HRESULT_FROM_WIN32(GetLastError());
    if (cch >= cchPath)
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    HRESULT hr = LoadTypeLibEx(pszPath, REGKIND_NONE, ppLib);
    if (SUCCEEDED(hr))
        return hr;

    wchar_t* pszName = wcsrchr(pszPath, L'\\');
    wchar_t* pszDot = wcsrchr(pszName ? pszName : pszPath, L'.');
    size_t cchStem = pszDot ? (size_t)(pszDot - pszPath) : cch;
    if (cchStem + 5 > cchPath)
        return hr;
    wcscpy(pszPath + cchStem, L".tlb");
    HRESULT hrFile = LoadTypeLibEx(pszPath, REGKIND_NONE, ppLib);
    return SUCCEEDED(hrFile) ? hrFile : hr;
}

HRESULT CPigeonflight_ATLModule::RegisterTypeLibrary()
{
    wchar_t szPath[MAX_PATH];
    ITypeLib* pLib = NULL;
    HRESULT hr = LoadOwnTypeLibrary(&pLib, szPath, MAX_PATH);
    if (FAILED(hr))
        return hr;
    hr = RegisterTypeLib(pLib, szPath, NULL);
    pLib->Release();
    return hr;
}

HRESULT CPigeonflight_ATLModule::UnregisterTypeLibrary()
{
    wchar_t szPath[MAX_PATH];
    ITypeLib* pLib = NULL;
    HRESULT hr = LoadOwnTypeLibrary(&pLib, szPath, MAX_PATH);
    if (FAILED(hr))
        return hr;
    TLIBATTR* pAttr = NULL;
    hr = pLib->GetLibAttr(&pAttr);
    if (SUCCEEDED(hr)) {
        hr = UnRegisterTypeLib(pAttr->guid, pAttr->wMajorVerNum, pAttr->wMinorVerNum, pAttr->lcid, pAttr->syskind);
        pLib->ReleaseTLibAttr(pAttr);
    }
    pLib->Release();
    return hr;
}

HRESULT CPigeonflight_ATLModule::DllRegisterServer()
{
    ScopedSystemLocale locale;
    HRESULT hr = RunAppIdScript(this, true);
    for (int i = 0; i < gnClassObjects && SUCCEEDED(hr); i++)
        hr = RunClassScript(this, gaClassObjects[i].nRegistryResource, true);
    if (SUCCEEDED(hr))
        hr = RegisterTypeLibrary();
    return FAILED(hr) ? hr : S_OK;
}

HRESULT CPigeonflight_ATLModule::DllUnregisterServer()
{
    ScopedSystemLocale locale;
    HRESULT hr = S_OK;
    bool bShared = false;
    for (int i = 0; i < gnClassObjects && SUCCEEDED(hr); i++) {
        if (OtherBuildRegistered(*gaClassObjects[i].pClsid)) {
            bShared = true;
            hr = RemoveOwnClassKey(*gaClassObjects[i].pClsid);
        } else {
            hr = RunClassScript(this, gaClassObjects[i].nRegistryResource, false);
        }
    }
    // The type library's entry for this build's platform; its key goes with
    // the last platform's entry.
    if (SUCCEEDED(hr))
        hr = UnregisterTypeLibrary();
    if (SUCCEEDED(hr) && !bShared)
        hr = RunAppIdScript(this, false);
    return FAILED(hr) ? hr : S_OK;
}
