// The DLL entry point: process attach sets up the data paths and the options,
// and the DLL refuses to load when its own folder cannot be found or the
// module's static objects could not be made.
#include <windows.h>

#include "addin/module.h"
#include "settings/data_paths.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID pvReserved)
{
    if (dwReason == DLL_PROCESS_ATTACH) {
        if (!InitDataPaths(hInstance))
            return FALSE;
        return gbModuleInitFailed ? FALSE : TRUE;
    }
    return TRUE;
}
