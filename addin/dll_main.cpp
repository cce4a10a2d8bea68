// The DLL entry point: process attach sets up the data paths and the options,
// and the DLL refuses to load when its own folder cannot be found.
#include <windows.h>

#include "settings/data_paths.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID pvReserved)
{
    if (dwReason == DLL_PROCESS_ATTACH)
        return InitDataPaths(hInstance) ? TRUE : FALSE;
    return TRUE;
}
