// The built DLL as a COM server: its exports, what registration writes and
// unregistration removes (called directly and through the system's
// regsvr32), the class object and the module's lifetime.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "addin/Pigeonflight_ATL.h"
#include "addin/host_interfaces.h"
#include "tests/support/registry_fixtures.h"
#include "tests/support/test_files.h"

namespace {

typedef HRESULT(STDAPICALLTYPE* NoArgumentEntry)();
typedef HRESULT(STDAPICALLTYPE* GetClassObjectEntry)(REFCLSID, REFIID, void**);

const char kClsidKey[] = "CLSID\\{2BF6E8F5-8037-4654-A520-6CC436A37AA9}";
const char kAppIdKey[] = "AppID\\{24E867AF-C5C8-4349-ADB3-DF78975C06BF}";
const char kAppIdDllKey[] = "AppID\\Pigeonflight_ATL.DLL";
const char kProgIdKey[] = "Pigeonflight_ATL.Connect.1";
const char kIndependentProgIdKey[] = "Pigeonflight_ATL.Connect";
const char kTypeLibKey[] = "TypeLib\\{6EB38DB3-97C4-4446-A085-9C590A97C559}";
// The type library's entry for the platform of this build.
#ifdef _WIN64
const char kTypeLibPlatform[] = "win64";
#else
const char kTypeLibPlatform[] = "win32";
#endif
const char kCallbackInterfaceKey[] = "Interface\\{CE895442-9981-4315-AA85-4B9A5C7739D8}";
const char kAddinsKey[] = "Software\\Microsoft\\Office\\Outlook\\Addins";
const char kAddinKey[] = "Software\\Microsoft\\Office\\Outlook\\Addins\\Pigeonflight_ATL.Connect";
const char kAppId[] = "{24E867AF-C5C8-4349-ADB3-DF78975C06BF}";

bool KeyExists(HKEY hRoot, const std::string& subKey)
{
    HKEY hKey;
    if (RegOpenKeyExA(hRoot, subKey.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return false;
    RegCloseKey(hKey);
    return true;
}

std::string Text(HKEY hRoot, const std::string& subKey, const char* pszName)
{
    std::string data;
    DWORD dwType = 0;
    if (!ReadRegString(hRoot, subKey, pszName, &data, &dwType))
        return "<missing>";
    if (dwType != REG_SZ)
        return "<not a text>";
    if (!data.empty() && data.back() == '\0')
        data.pop_back();
    return data;
}

// The names of a key's subkeys (bValues false) or values, sorted.
std::vector<std::string> EnumeratedNames(HKEY hRoot, const std::string& subKey, bool bValues)
{
    std::vector<std::string> names;
    HKEY hKey;
    if (RegOpenKeyExA(hRoot, subKey.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return names;
    char szName[256];
    for (DWORD i = 0;; i++) {
        DWORD cch = sizeof(szName);
        LONG lResult = bValues ? RegEnumValueA(hKey, i, szName, &cch, NULL, NULL, NULL, NULL)
                               : RegEnumKeyExA(hKey, i, szName, &cch, NULL, NULL, NULL, NULL);
        if (lResult != ERROR_SUCCESS)
            break;
        names.push_back(szName);
    }
    RegCloseKey(hKey);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> SubKeys(HKEY hRoot, const std::string& subKey)
{
    return EnumeratedNames(hRoot, subKey, false);
}

std::vector<std::string> ValueNames(HKEY hRoot, const std::string& subKey)
{
    return EnumeratedNames(hRoot, subKey, true);
}

// A copy of the DLL in a folder of its own, loaded, with every key that it
// may write removed before and after the test.
class RegistrationTest : public testing::Test {
protected:
    RegistrationTest()
        : m_cleanClsid(HKEY_CLASSES_ROOT, kClsidKey), m_cleanAppId(HKEY_CLASSES_ROOT, kAppIdKey),
          m_cleanAppIdDll(HKEY_CLASSES_ROOT, kAppIdDllKey), m_cleanProgId(HKEY_CLASSES_ROOT, kProgIdKey),
          m_cleanIndependent(HKEY_CLASSES_ROOT, kIndependentProgIdKey),
          m_cleanTypeLib(HKEY_CLASSES_ROOT, kTypeLibKey), m_cleanInterface(HKEY_CLASSES_ROOT, kCallbackInterfaceKey),
          m_cleanAddin(HKEY_CURRENT_USER, kAddinKey), m_cleanSettings(HKEY_CURRENT_USER, "Software\\Vostel Software")
    {
        // An apostrophe in the path, as registry scripts quote with it.
        m_dllDir = m_root.File("Add-in's Folder");
        CreateDirectoryA(m_dllDir.c_str(), NULL);
        m_dllPath = m_dllDir + "\\Pigeonflight_ATL.dll";
        EXPECT_TRUE(CopyTo(ProductDir() + "Pigeonflight_ATL.dll", m_dllPath));
        CreateDirectoryA(m_root.File("Roaming").c_str(), NULL);
    }

    void SetUp() override
    {
        ScopedAppDataFolder appData(m_root.File("Roaming"));
        m_hDll = LoadLibraryA(m_dllPath.c_str());
        ASSERT_NE(m_hDll, nullptr);
        m_pfnCanUnloadNow = (NoArgumentEntry)(void*)GetProcAddress(m_hDll, "DllCanUnloadNow");
        m_pfnGetClassObject = (GetClassObjectEntry)(void*)GetProcAddress(m_hDll, "DllGetClassObject");
        m_pfnRegister = (NoArgumentEntry)(void*)GetProcAddress(m_hDll, "DllRegisterServer");
        m_pfnUnregister = (NoArgumentEntry)(void*)GetProcAddress(m_hDll, "DllUnregisterServer");
        ASSERT_TRUE(m_pfnCanUnloadNow && m_pfnGetClassObject && m_pfnRegister && m_pfnUnregister);
    }

    void TearDown() override
    {
        if (m_hDll)
            FreeLibrary(m_hDll);
    }

    void ExpectRegistered()
    {
        EXPECT_EQ(Text(HKEY_CLASSES_ROOT, kAppIdKey, NULL), "Pigeonflight_ATL");
        EXPECT_EQ(Text(HKEY_CLASSES_ROOT, kAppIdDllKey, "AppID"), kAppId);
        EXPECT_EQ(Text(HKEY_CLASSES_ROOT, kProgIdKey, NULL), "Connect Class");
        EXPECT_EQ(Text(HKEY_CLASSES_ROOT, std::string(kProgIdKey) + "\\CLSID", NULL),
                  "{2BF6E8F5-8037-4654-A520-6CC436A37AA9}");
        EXPECT_EQ(Text(HKEY_CLASSES_ROOT, kIndependentProgIdKey, NULL), "Connect Class");
        EXPECT_EQ(Text(HKEY_CLASSES_ROOT, std::string(kIndependentProgIdKey) + "\\CLSID", NULL),
                  "{2BF6E8F5-8037-4654-A520-6CC436A37AA9}");
        EXPECT_EQ(Text(HKEY_CLASSES_ROOT, std::string(kIndependentProgIdKey) + "\\CurVer", NULL),
                  "Pigeonflight_ATL.Connect.1");

        std::string clsid = kClsidKey;
        EXPECT_EQ(Text(HKEY_CLASSES_ROOT, clsid, NULL), "Connect Class");
        EXPECT_EQ(Text(HKEY_CLASSES_ROOT, clsid, "AppID"), kAppId);
        EXPECT_EQ(ValueNames(HKEY_CLASSES_ROOT, clsid), (std::vector<std::string>{ "", "AppID" }));
        EXPECT_EQ(SubKeys(HKEY_CLASSES_ROOT, clsid),
                  (std::vector<std::string>{ "InprocServer32", "ProgID", "Programmable", "TypeLib",
                                             "VersionIndependentProgID" }));
        EXPECT_EQ(Text(HKEY_CLASSES_ROOT, clsid + "\\ProgID", NULL), "Pigeonflight_ATL.Connect.1");
        EXPECT_EQ(Text(HKEY_CLASSES_ROOT, clsid + "\\VersionIndependentProgID", NULL), "Pigeonflight_ATL.Connect");
        EXPECT_TRUE(ValueNames(HKEY_CLASSES_ROOT, clsid + "\\Programmable").empty());
        EXPECT_EQ(Text(HKEY_CLASSES_ROOT, clsid + "\\InprocServer32", NULL), m_dllPath);
        EXPECT_EQ(Text(HKEY_CLASSES_ROOT, clsid + "\\InprocServer32", "ThreadingModel"), "Apartment");
        EXPECT_EQ(Text(HKEY_CLASSES_ROOT, clsid + "\\TypeLib", NULL), "{6EB38DB3-97C4-4446-A085-9C590A97C559}");

        EXPECT_EQ(Text(HKEY_CURRENT_USER, kAddinKey, "Description"), "Lettercast Add-In");
        EXPECT_EQ(Text(HKEY_CURRENT_USER, kAddinKey, "FriendlyName"), "Lettercast");
        std::string data;
        DWORD dwType = 0;
        ASSERT_TRUE(ReadRegString(HKEY_CURRENT_USER, kAddinKey, "LoadBehavior", &data, &dwType));
        EXPECT_EQ(dwType, (DWORD)REG_DWORD);
        ASSERT_EQ(data.size(), 4u);
        EXPECT_EQ(*(const DWORD*)data.data(), 3u);

        EXPECT_EQ(Text(HKEY_CLASSES_ROOT, std::string(kTypeLibKey) + "\\1.0\\409\\" + kTypeLibPlatform, NULL), m_dllPath);
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kCallbackInterfaceKey)) << "the dual interface is registered";
    }

    void ExpectUnregistered()
    {
        for (const char* pszKey : { kClsidKey, kAppIdKey, kAppIdDllKey, kProgIdKey, kIndependentProgIdKey, kTypeLibKey,
                                    kCallbackInterfaceKey })
            EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, pszKey)) << pszKey;
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kAddinKey));
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "AppID"));
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "CLSID"));
        EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kAddinsKey));
    }

    TempFolder m_root;
    ScopedKeyRemoval m_cleanClsid, m_cleanAppId, m_cleanAppIdDll, m_cleanProgId, m_cleanIndependent, m_cleanTypeLib,
        m_cleanInterface, m_cleanAddin, m_cleanSettings;
    std::string m_dllDir, m_dllPath;
    HMODULE m_hDll = NULL;
    NoArgumentEntry m_pfnCanUnloadNow = NULL;
    GetClassObjectEntry m_pfnGetClassObject = NULL;
    NoArgumentEntry m_pfnRegister = NULL;
    NoArgumentEntry m_pfnUnregister = NULL;
};

TEST_F(RegistrationTest, TheEntryPointsAreOrdinalsOneToFour)
{
    EXPECT_EQ((void*)GetProcAddress(m_hDll, MAKEINTRESOURCEA(1)), (void*)m_pfnCanUnloadNow);
    EXPECT_EQ((void*)GetProcAddress(m_hDll, MAKEINTRESOURCEA(2)), (void*)m_pfnGetClassObject);
    EXPECT_EQ((void*)GetProcAddress(m_hDll, MAKEINTRESOURCEA(3)), (void*)m_pfnRegister);
    EXPECT_EQ((void*)GetProcAddress(m_hDll, MAKEINTRESOURCEA(4)), (void*)m_pfnUnregister);
}

TEST_F(RegistrationTest, RegisteringWritesEveryEntryAndUnregisteringRemovesThem)
{
    ASSERT_EQ(S_OK, m_pfnRegister());
    ExpectRegistered();
    ASSERT_EQ(S_OK, m_pfnUnregister());
    ExpectUnregistered();
}

TEST_F(RegistrationTest, RegisteringTwiceLeavesOneCleanClassKey)
{
    ASSERT_EQ(S_OK, m_pfnRegister());
    ScopedRegValue stray(HKEY_CLASSES_ROOT, kClsidKey, "Stray", REG_SZ, "left from before");
    ScopedRegValue strayKey(HKEY_CLASSES_ROOT, std::string(kClsidKey) + "\\Stray Key", NULL, REG_SZ, "old");
    ScopedRegValue strayProgrammable(HKEY_CLASSES_ROOT, std::string(kClsidKey) + "\\Programmable", "Stray", REG_SZ,
                                     "old");
    ASSERT_EQ(S_OK, m_pfnRegister());
    ExpectRegistered();
    ASSERT_EQ(S_OK, m_pfnUnregister());
    ExpectUnregistered();
}

TEST_F(RegistrationTest, TheCallersThreadLocaleIsRestored)
{
    const LCID lcidGerman = MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT);
    ASSERT_TRUE(SetThreadLocale(lcidGerman));
    EXPECT_EQ(S_OK, m_pfnRegister());
    EXPECT_EQ(GetThreadLocale(), lcidGerman);
    EXPECT_EQ(S_OK, m_pfnUnregister());
    EXPECT_EQ(GetThreadLocale(), lcidGerman);
}

TEST_F(RegistrationTest, TheSystemToolRegistersAndUnregisters)
{
    FreeLibrary(m_hDll);
    m_hDll = NULL;
    ScopedAppDataFolder appData(m_root.File("Roaming"));
    auto runTool = [&](const char* pszSwitches) {
        std::string command = "regsvr32.exe " + std::string(pszSwitches) + " \"" + m_dllPath + "\"";
        STARTUPINFOA startup = { sizeof(startup) };
        PROCESS_INFORMATION process = {};
        if (!CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
            return (DWORD)-1;
        WaitForSingleObject(process.hProcess, 30000);
        DWORD dwExit = (DWORD)-2;
        GetExitCodeProcess(process.hProcess, &dwExit);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return dwExit;
    };
    ASSERT_EQ(runTool("/s"), 0u);
    ExpectRegistered();
    ASSERT_EQ(runTool("/u /s"), 0u);
    ExpectUnregistered();
}

TEST_F(RegistrationTest, TheRegisteredClassIsCreatedThroughCom)
{
    ASSERT_TRUE(SUCCEEDED(CoInitialize(NULL)));
    ASSERT_EQ(S_OK, m_pfnRegister());
    CLSID clsid = {};
    EXPECT_EQ(S_OK, CLSIDFromProgID(L"Pigeonflight_ATL.Connect", &clsid));
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_Connect));
    IUnknown* pObject = NULL;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_Connect, NULL, CLSCTX_INPROC_SERVER, IID__IDTExtensibility2,
                                     (void**)&pObject));
    EXPECT_EQ(S_FALSE, m_pfnCanUnloadNow()) << "the object lives in this copy of the DLL";
    pObject->Release();
    CoFreeUnusedLibraries();
    EXPECT_EQ(S_OK, m_pfnUnregister());
    CoUninitialize();
}

TEST_F(RegistrationTest, TheClassObjectFollowsTheObjectsLifetime)
{
    void* pv = (void*)0x1234;
    const CLSID kOther = { 0x00000000, 0x0000, 0x0000, { 0xC0, 0, 0, 0, 0, 0, 0, 0x46 } };
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, m_pfnGetClassObject(kOther, IID_IClassFactory, &pv));
    EXPECT_EQ(pv, nullptr);

    EXPECT_EQ(S_OK, m_pfnCanUnloadNow());
    IClassFactory* pFactory = NULL;
    ASSERT_EQ(S_OK, m_pfnGetClassObject(CLSID_Connect, IID_IClassFactory, (void**)&pFactory));
    EXPECT_EQ(S_FALSE, m_pfnCanUnloadNow());
    IUnknown* pObject = NULL;
    ASSERT_EQ(S_OK, pFactory->CreateInstance(NULL, IID_IRibbonExtensibility, (void**)&pObject));
    pFactory->Release();
    EXPECT_EQ(S_FALSE, m_pfnCanUnloadNow());
    pObject->Release();
    EXPECT_EQ(S_OK, m_pfnCanUnloadNow());
}

TEST_F(RegistrationTest, TheResourcesAreEnglishUnitedStates)
{
    const WORD wLanguage = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    struct {
        const char* pszType;
        int nId;
    } kResources[] = { { "REGISTRY", 101 }, { "REGISTRY", 102 }, { "TYPELIB", 1 }, { "XML", 201 }, { "XML", 202 } };
    for (const auto& resource : kResources)
        EXPECT_NE(FindResourceExA(m_hDll, resource.pszType, MAKEINTRESOURCEA(resource.nId), wLanguage), nullptr)
            << resource.pszType << " " << resource.nId;
}

}  // namespace
