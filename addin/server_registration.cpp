// What DllRegisterServer and DllUnregisterServer do: the AppID script, each
// class's script and the type library embedded in the DLL.
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
    for (int i = 0; i < gnClassObjects && SUCCEEDED(hr); i++)
        hr = RunClassScript(this, gaClassObjects[i].nRegistryResource, false);
    if (SUCCEEDED(hr))
        hr = UnregisterTypeLibrary();
    if (SUCCEEDED(hr))
        hr = RunAppIdScript(this, false);
    return FAILED(hr) ? hr : S_OK;
}
