// The built DLL itself, loaded from folders the tests choose.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "settings/data_paths.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/registry_fixtures.h"
#include "tests/support/test_files.h"
#include "ui/version_info.h"

namespace {

const char kDllName[] = "Pigeonflight_ATL.dll";

class DllLoadTest : public testing::Test {
protected:
    DllLoadTest() : m_settings(HKEY_CURRENT_USER, "Software\\Vostel Software\\Lettercast")
    {
        m_dllDir = m_root.File("Chosen Folder");
        CreateDirectoryA(m_dllDir.c_str(), NULL);
        m_dllPath = m_dllDir + "\\" + kDllName;
        EXPECT_TRUE(CopyTo(ProductDir() + kDllName, m_dllPath));
        m_roaming = m_root.File("Roaming");
        CreateDirectoryA(m_roaming.c_str(), NULL);
    }

    TempFolder m_root;
    ScopedKeyRemoval m_settings;
    std::string m_dllDir, m_dllPath, m_roaming;
};

TEST_F(DllLoadTest, LoadsAndMakesTheDataFolder)
{
    ScopedAppDataFolder appData(m_roaming);
    MessageBoxRecorder boxes;
    HMODULE hDll = LoadLibraryA(m_dllPath.c_str());
    ASSERT_NE(hDll, nullptr);
    EXPECT_TRUE(FolderExists(m_roaming + "\\Lettercast"));
    EXPECT_TRUE(boxes.Boxes().empty());
    FreeLibrary(hDll);
}

TEST_F(DllLoadTest, MakesTheDataFolderBesideItselfWithoutApplicationData)
{
    ScopedAppDataFolder appData(m_root.File("Missing"));
    MessageBoxRecorder boxes;
    HMODULE hDll = LoadLibraryA(m_dllPath.c_str());
    ASSERT_NE(hDll, nullptr);
    EXPECT_TRUE(FolderExists(m_dllDir + "\\Lettercast"));
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, "Failed to find application data directory.");
    EXPECT_EQ(boxes.Boxes()[0].caption, "Lettercast");
    EXPECT_EQ(boxes.Boxes()[0].uStyle, (UINT)(MB_OK | MB_ICONWARNING));
    EXPECT_EQ(boxes.Boxes()[0].hWndOwner, GetDesktopWindow());
    FreeLibrary(hDll);
}

TEST_F(DllLoadTest, RefusesToLoadWhenItsFolderCannotBeFound)
{
    // A module path longer than the 260-character buffer cannot be read whole.
    // The ANSI file calls stop at 260 characters, so this path is made wide.
    std::wstring deep = L"\\\\?\\" + std::wstring(m_root.Path().begin(), m_root.Path().end());
    while (deep.size() < 290) {
        deep += L"\\" + std::wstring(60, L'f');
        CreateDirectoryW(deep.c_str(), NULL);
    }
    std::wstring deepDll = deep + L"\\Pigeonflight_ATL.dll";
    std::wstring source(m_dllPath.begin(), m_dllPath.end());
    ASSERT_TRUE(CopyFileW(source.c_str(), deepDll.c_str(), FALSE));

    ScopedAppDataFolder appData(m_roaming);
    MessageBoxRecorder boxes;
    HMODULE hDll = LoadLibraryW(deepDll.c_str());
    EXPECT_EQ(hDll, nullptr);
    ASSERT_EQ(boxes.Boxes().size(), 1u) << "the DLL's entry point did not run";
    EXPECT_EQ(boxes.Boxes()[0].text, "Failed to find DLL directory.");
    EXPECT_EQ(boxes.Boxes()[0].uStyle, (UINT)(MB_OK | MB_ICONWARNING));
    EXPECT_EQ(boxes.Boxes()[0].hWndOwner, GetDesktopWindow());
    EXPECT_FALSE(FolderExists(m_roaming + "\\Lettercast"));
    if (hDll)
        FreeLibrary(hDll);
}

TEST_F(DllLoadTest, GetModuleVersionReadsFourThree)
{
    HMODULE hDll = LoadLibraryA(m_dllPath.c_str());
    ASSERT_NE(hDll, nullptr);
    ghInstance = hDll;
    int nMajor = -1, nMinor = -1;
    GetModuleVersion(&nMajor, &nMinor);
    EXPECT_EQ(nMajor, 4);
    EXPECT_EQ(nMinor, 3);
    FreeLibrary(hDll);
}

TEST_F(DllLoadTest, GetModuleVersionIsZeroWithoutAVersionResource)
{
    HMODULE hModule = LoadLibraryA((TestProgramDir() + "hhnoentry.dll").c_str());
    ASSERT_NE(hModule, nullptr);
    ghInstance = hModule;
    int nMajor = -1, nMinor = -1;
    GetModuleVersion(&nMajor, &nMinor);
    EXPECT_EQ(nMajor, 0);
    EXPECT_EQ(nMinor, 0);
    FreeLibrary(hModule);
}

std::string VersionString(const std::string& info, const char* pszName)
{
    char szPath[128];
    snprintf(szPath, sizeof(szPath), "\\StringFileInfo\\040904b0\\%s", pszName);
    char* pszValue = NULL;
    UINT cch = 0;
    if (!VerQueryValueA(info.data(), szPath, (void**)&pszValue, &cch) || pszValue == NULL)
        return "<missing>";
    return pszValue;
}

TEST_F(DllLoadTest, VersionResourceHoldsItsFields)
{
    DWORD dwHandle = 0;
    DWORD cb = GetFileVersionInfoSizeA(m_dllPath.c_str(), &dwHandle);
    ASSERT_GT(cb, 0u);
    std::string info(cb, '\0');
    ASSERT_TRUE(GetFileVersionInfoA(m_dllPath.c_str(), 0, cb, &info[0]));

    VS_FIXEDFILEINFO* pFixed = NULL;
    UINT cbFixed = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", (void**)&pFixed, &cbFixed));
    EXPECT_EQ(pFixed->dwFileVersionMS, 0x00040003u);
    EXPECT_EQ(pFixed->dwFileVersionLS, 0u);
    EXPECT_EQ(pFixed->dwProductVersionMS, 0x00040003u);
    EXPECT_EQ(pFixed->dwProductVersionLS, 0u);
    EXPECT_EQ(pFixed->dwFileFlagsMask, 0x3Fu);
    EXPECT_EQ(pFixed->dwFileFlags, 0u);
    EXPECT_EQ(pFixed->dwFileOS, 0x40004u);
    EXPECT_EQ(pFixed->dwFileType, 2u);

    EXPECT_EQ(VersionString(info, "FileDescription"), "Lettercast");
    EXPECT_EQ(VersionString(info, "FileVersion"), "4.3.0.0");
    EXPECT_EQ(VersionString(info, "InternalName"), "Lettercast");
    EXPECT_EQ(VersionString(info, "OriginalFilename"), "Pigeonflight_ATL.dll");
    EXPECT_EQ(VersionString(info, "ProductName"), "Lettercast");
    EXPECT_EQ(VersionString(info, "ProductVersion"), "4.3.0.0");

    WORD* pTranslation = NULL;
    UINT cbTranslation = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", (void**)&pTranslation, &cbTranslation));
    ASSERT_GE(cbTranslation, 4u);
    EXPECT_EQ(pTranslation[0], 0x0409);
    EXPECT_EQ(pTranslation[1], 1200);
}

TEST_F(DllLoadTest, StringTableIsEnglishUnitedStates)
{
    HMODULE hDll = LoadLibraryExA(m_dllPath.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(hDll, nullptr);
    // Strings live in blocks of sixteen; entry 2 is in block 1.
    HRSRC hRes = FindResourceExA(hDll, (LPCSTR)RT_STRING, MAKEINTRESOURCEA(1),
                                 MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    EXPECT_NE(hRes, nullptr);
    FreeLibrary(hDll);
}

}  // namespace
