// The COM entry points of the DLL, exported by name at ordinals 1 to 4 (see
// Pigeonflight_ATL.def); only the DLL has them, the test programs reach the
// module object itself.
#include <windows.h>

#include "addin/module.h"

STDAPI DllCanUnloadNow()
{
    return gAtlModule.DllCanUnloadNow();
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
    return gAtlModule.DllGetClassObject(rclsid, riid, ppv);
}

STDAPI DllRegisterServer()
{
    return gAtlModule.DllRegisterServer();
}

STDAPI DllUnregisterServer()
{
    return gAtlModule.DllUnregisterServer();
}
