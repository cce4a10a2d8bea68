#include <gtest/gtest.h>

#include "tests/standin/mapi/mapi_library.h"

namespace {

const char kAllNames[] =
    "FreePadrlist@4 FreeProws@4 HrQueryAllRows@24 MAPIAllocateBuffer@8 MAPIAllocateMore@12 MAPIFreeBuffer@4 "
    "MAPIInitialize@4 MAPIUninitialize@0 OpenStreamOnFile@24";

TEST(StandinMapiExports, ExactlyTheNineDecoratedNames)
{
    MapiLibrary mapi;
    ASSERT_TRUE(mapi.Module() != NULL) << StandinMapiPath();
    EXPECT_TRUE(mapi.Complete());
    EXPECT_EQ(kAllNames, ExportedNames(mapi.Module()));
    // Undecorated names would mean the decoration was stripped at link time.
    EXPECT_TRUE(GetProcAddress(mapi.Module(), "MAPIInitialize") == NULL);
    EXPECT_TRUE(GetProcAddress(mapi.Module(), "OpenStreamOnFile") == NULL);
}

TEST(StandinMapiExports, VariantLacksFreePadrlistOnly)
{
    MapiLibrary mapi("standin-nofreepadrlist");
    ASSERT_TRUE(mapi.Module() != NULL) << StandinMapiPath("standin-nofreepadrlist");
    EXPECT_FALSE(mapi.Complete());
    EXPECT_TRUE(mapi.m_pfnFreePadrlist == NULL);
    EXPECT_TRUE(mapi.m_pfnInitialize && mapi.m_pfnUninitialize && mapi.m_pfnAllocateBuffer && mapi.m_pfnAllocateMore &&
                mapi.m_pfnFreeBuffer && mapi.m_pfnFreeProws && mapi.m_pfnHrQueryAllRows && mapi.m_pfnOpenStreamOnFile);
    EXPECT_EQ(
        "FreeProws@4 HrQueryAllRows@24 MAPIAllocateBuffer@8 MAPIAllocateMore@12 MAPIFreeBuffer@4 "
        "MAPIInitialize@4 MAPIUninitialize@0 OpenStreamOnFile@24",
        ExportedNames(mapi.Module()));
}

TEST(StandinMapiExports, ImportsOnlySystemLibraries)
{
    MapiLibrary mapi;
    ASSERT_TRUE(mapi.Module() != NULL);
    const BYTE* pBase = (const BYTE*)mapi.Module();
    const IMAGE_NT_HEADERS* pNt = (const IMAGE_NT_HEADERS*)(pBase + ((const IMAGE_DOS_HEADER*)pBase)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = pNt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    ASSERT_NE(0u, dir.VirtualAddress);
    int nImports = 0;
    for (const IMAGE_IMPORT_DESCRIPTOR* pImport = (const IMAGE_IMPORT_DESCRIPTOR*)(pBase + dir.VirtualAddress);
         pImport->Name; ++pImport, ++nImports) {
        std::string name = (const char*)(pBase + pImport->Name);
        for (char& ch : name)
            ch = (char)tolower((unsigned char)ch);
        EXPECT_TRUE(name == "kernel32.dll" || name == "msvcrt.dll" || name == "ole32.dll" || name == "oleaut32.dll" ||
                    name == "user32.dll" || name == "advapi32.dll")
            << name;
    }
    EXPECT_GT(nImports, 0);
}

TEST(StandinMapiInitialize, SucceedsWithoutInitStructure)
{
    MapiLibrary mapi;
    ASSERT_TRUE(mapi.Complete());
    EXPECT_EQ(S_OK, mapi.m_pfnInitialize(NULL));
    mapi.m_pfnUninitialize();
    // Uninitializing more often than initializing is harmless, and a later
    // initialization still succeeds.
    mapi.m_pfnUninitialize();
    EXPECT_EQ(S_OK, mapi.m_pfnInitialize(NULL));
    mapi.m_pfnUninitialize();
}

}  // namespace
