#include "ui/version_info.h"

#include <windows.h>
#include <stdlib.h>

#include "settings/data_paths.h"

void GetModuleVersion(int* pnMajor, int* pnMinor)
{
    *pnMajor = 0;
    *pnMinor = 0;

    char szModule[MAX_PATH];
    DWORD cchModule = GetModuleFileNameA(ghInstance, szModule, MAX_PATH);
    if (cchModule == 0 || cchModule >= MAX_PATH)
        return;

    DWORD dwHandle = 0;
    DWORD cbInfo = GetFileVersionInfoSizeA(szModule, &dwHandle);
    if (cbInfo == 0)
        return;

    void* pInfo = malloc(cbInfo);
    if (pInfo == NULL)
        return;

    VS_FIXEDFILEINFO* pFixed = NULL;
    UINT cbFixed = 0;
    if (GetFileVersionInfoA(szModule, 0, cbInfo, pInfo) &&
        VerQueryValueA(pInfo, "\\", (void**)&pFixed, &cbFixed) && pFixed != NULL && cbFixed >= sizeof(*pFixed)) {
        *pnMajor = HIWORD(pFixed->dwFileVersionMS);
        *pnMinor = LOWORD(pFixed->dwFileVersionMS);
    }
    free(pInfo);
}
