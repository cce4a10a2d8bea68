// The MAPI stand-in DLL as the tests load it: by full path from the build's
// product folder, with its nine entry points resolved.
#ifndef LETTERCAST_TESTS_STANDIN_MAPI_LIBRARY_H
#define LETTERCAST_TESTS_STANDIN_MAPI_LIBRARY_H

#include <windows.h>
#include <mapix.h>
#include <mapiutil.h>

#include <string>

// "standin" or "standin-nofreepadrlist": the folder under the product folder.
std::string StandinMapiPath(const char* pszFolder = "standin");

class MapiLibrary {
public:
    explicit MapiLibrary(const char* pszFolder = "standin");
    ~MapiLibrary();
    MapiLibrary(const MapiLibrary&) = delete;
    MapiLibrary& operator=(const MapiLibrary&) = delete;

    HMODULE Module() const { return m_hModule; }
    // Every entry point resolved.
    bool Complete() const;

    LPMAPIINITIALIZE m_pfnInitialize;
    LPMAPIUNINITIALIZE m_pfnUninitialize;
    LPMAPIALLOCATEBUFFER m_pfnAllocateBuffer;
    LPMAPIALLOCATEMORE m_pfnAllocateMore;
    LPMAPIFREEBUFFER m_pfnFreeBuffer;
    void(WINAPI* m_pfnFreeProws)(LPSRowSet);
    void(WINAPI* m_pfnFreePadrlist)(LPADRLIST);
    HRESULT(WINAPI* m_pfnHrQueryAllRows)(LPMAPITABLE, LPSPropTagArray, LPSRestriction, LPSSortOrderSet, LONG,
                                         LPSRowSet*);
    LPOPENSTREAMONFILE m_pfnOpenStreamOnFile;

private:
    HMODULE m_hModule;
};

// The names in the module's export directory, in the order stored there.
std::string ExportedNames(HMODULE hModule);

#endif
