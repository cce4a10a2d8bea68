#include "tests/standin/mapi/mapi_library.h"

#include "tests/support/test_files.h"

std::string StandinMapiPath(const char* pszFolder)
{
    std::string relative = TestProgramDir() + "..\\bin\\" + pszFolder + "\\olmapi32.dll";
    char szFull[MAX_PATH];
    DWORD cch = GetFullPathNameA(relative.c_str(), MAX_PATH, szFull, NULL);
    return (cch > 0 && cch < MAX_PATH) ? std::string(szFull) : relative;
}

template <typename T>
static void Resolve(HMODULE hModule, const char* pszName, T* ppfn)
{
    *ppfn = hModule ? (T)(void*)GetProcAddress(hModule, pszName) : NULL;
}

MapiLibrary::MapiLibrary(const char* pszFolder)
{
    m_hModule = LoadLibraryA(StandinMapiPath(pszFolder).c_str());
    Resolve(m_hModule, "MAPIInitialize@4", &m_pfnInitialize);
    Resolve(m_hModule, "MAPIUninitialize@0", &m_pfnUninitialize);
    Resolve(m_hModule, "MAPIAllocateBuffer@8", &m_pfnAllocateBuffer);
    Resolve(m_hModule, "MAPIAllocateMore@12", &m_pfnAllocateMore);
    Resolve(m_hModule, "MAPIFreeBuffer@4", &m_pfnFreeBuffer);
    Resolve(m_hModule, "FreeProws@4", &m_pfnFreeProws);
    Resolve(m_hModule, "FreePadrlist@4", &m_pfnFreePadrlist);
    Resolve(m_hModule, "HrQueryAllRows@24", &m_pfnHrQueryAllRows);
    Resolve(m_hModule, "OpenStreamOnFile@24", &m_pfnOpenStreamOnFile);
}

MapiLibrary::~MapiLibrary()
{
    if (m_hModule)
        FreeLibrary(m_hModule);
}

bool MapiLibrary::Complete() const
{
    return m_pfnInitialize && m_pfnUninitialize && m_pfnAllocateBuffer && m_pfnAllocateMore && m_pfnFreeBuffer &&
           m_pfnFreeProws && m_pfnFreePadrlist && m_pfnHrQueryAllRows && m_pfnOpenStreamOnFile;
}

std::string ExportedNames(HMODULE hModule)
{
    std::string names;
    if (!hModule)
        return names;
    const BYTE* pBase = (const BYTE*)hModule;
    const IMAGE_DOS_HEADER* pDos = (const IMAGE_DOS_HEADER*)pBase;
    if (pDos->e_magic != IMAGE_DOS_SIGNATURE)
        return names;
    const IMAGE_NT_HEADERS* pNt = (const IMAGE_NT_HEADERS*)(pBase + pDos->e_lfanew);
    if (pNt->Signature != IMAGE_NT_SIGNATURE)
        return names;
    const IMAGE_DATA_DIRECTORY& dir = pNt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (dir.VirtualAddress == 0 || dir.Size == 0)
        return names;
    const IMAGE_EXPORT_DIRECTORY* pExports = (const IMAGE_EXPORT_DIRECTORY*)(pBase + dir.VirtualAddress);
    const DWORD* pNameRvas = (const DWORD*)(pBase + pExports->AddressOfNames);
    for (DWORD i = 0; i < pExports->NumberOfNames; ++i) {
        if (!names.empty())
            names += ' ';
        names += (const char*)(pBase + pNameRvas[i]);
    }
    return names;
}
