#include "engine/mapi_binding.h"

#include "engine/engine_report.h"

// Nothing loaded, nothing initialized.
static const MapiBindingRecord kUnbound = { NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, E_FAIL };

MapiBindingRecord MapiBinding = kUnbound;

namespace {

HMODULE LoadQuietly(const char* pszPath)
{
    UINT uPrevious = SetErrorMode(SEM_NOOPENFILEERRORBOX);
    HMODULE hModule = LoadLibraryA(pszPath);
    SetErrorMode(uPrevious);
    return hModule;
}

bool LoadMapiLibrary()
{
    HMODULE hLoaded = GetModuleHandleA("olmapi32.dll");
    if (hLoaded == NULL)
        hLoaded = GetModuleHandleA("msmapi32.dll");
    if (hLoaded != NULL) {
        char szPath[MAX_PATH];
        DWORD cch = GetModuleFileNameA(hLoaded, szPath, MAX_PATH);
        if (cch == 0 || cch >= MAX_PATH) {
            ShowJobText(GetDesktopWindow(), "Error: Failed to obtain path to MAPI DLL");
            return false;
        }
        MapiBinding.hModule = LoadQuietly(szPath);
    } else {
        MapiBinding.hModule = LoadQuietly("mapi32.dll");
    }
    if (MapiBinding.hModule == NULL) {
        ShowJobText(GetDesktopWindow(), "Error: Failed to load MAPI DLL");
        return false;
    }
    return true;
}

}  // namespace

bool BindMapi()
{
    MapiBinding = kUnbound;
    if (!LoadMapiLibrary())
        return false;

    FARPROC* const pSlots[] = {
        reinterpret_cast<FARPROC*>(&MapiBinding.MAPIUninitialize),
        reinterpret_cast<FARPROC*>(&MapiBinding.MAPIAllocateBuffer),
        reinterpret_cast<FARPROC*>(&MapiBinding.FreeProws),
        reinterpret_cast<FARPROC*>(&MapiBinding.HrQueryAllRows),
        reinterpret_cast<FARPROC*>(&MapiBinding.FreePadrlist),
        reinterpret_cast<FARPROC*>(&MapiBinding.OpenStreamOnFile),
        reinterpret_cast<FARPROC*>(&MapiBinding.MAPIAllocateMore),
        reinterpret_cast<FARPROC*>(&MapiBinding.MAPIFreeBuffer),
        reinterpret_cast<FARPROC*>(&MapiBinding.MAPIInitialize),
    };
    // 32-bit MAPI exports its stdcall functions decorated with their argument
    // bytes; 64-bit Windows has one calling convention and no decoration.
#ifdef _WIN64
    static const char* const kExports[] = {
        "MAPIUninitialize", "MAPIAllocateBuffer", "FreeProws", "HrQueryAllRows", "FreePadrlist",
        "OpenStreamOnFile", "MAPIAllocateMore", "MAPIFreeBuffer", "MAPIInitialize",
    };
#else
    static const char* const kExports[] = {
        "MAPIUninitialize@0", "MAPIAllocateBuffer@8", "FreeProws@4", "HrQueryAllRows@24", "FreePadrlist@4",
        "OpenStreamOnFile@24", "MAPIAllocateMore@12", "MAPIFreeBuffer@4", "MAPIInitialize@4",
    };
#endif
    for (int i = 0; i < (int)(sizeof(kExports) / sizeof(kExports[0])); ++i) {
        *pSlots[i] = GetProcAddress(MapiBinding.hModule, kExports[i]);
        if (*pSlots[i] == NULL) {
            ShowJobText(GetDesktopWindow(), "Error: Failed to load MAPI functions");
            return false;
        }
    }

    MapiBinding.hrInit = MapiBinding.MAPIInitialize(NULL);
    if (FAILED(MapiBinding.hrInit))
        ShowJobText(GetDesktopWindow(), "Error: Failed to initialize MAPI");
    return true;
}

void UnbindMapi()
{
    if (SUCCEEDED(MapiBinding.hrInit) && MapiBinding.MAPIUninitialize)
        MapiBinding.MAPIUninitialize();
    if (MapiBinding.hModule)
        FreeLibrary(MapiBinding.hModule);
    MapiBinding = kUnbound;
}
