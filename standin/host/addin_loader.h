// Loading COM add-ins the way Outlook does: every subkey of
// HKCU\Software\Microsoft\Office\Outlook\Addins with LoadBehavior 3 names a
// ProgID, created in-process and connected through _IDTExtensibility2.
#ifndef LETTERCAST_STANDIN_ADDIN_LOADER_H
#define LETTERCAST_STANDIN_ADDIN_LOADER_H

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

#include "addin/host_interfaces.h"

struct LoadedAddin {
    std::string progId;
    _IDTExtensibility2* pExtensibility;
    IRibbonExtensibility* pRibbon;     // NULL when the add-in has no ribbon
    IDispatch* pDispatch;              // where ribbon callbacks go by name
    bool bConnected;
};

// Connects every add-in that loads at start-up; a line on stderr for each
// one that cannot be created or refuses the connection.
void LoadAddins(IDispatch* pApplication, std::vector<LoadedAddin>* pAddins);

// OnBeginShutdown and OnDisconnection for each, then releases them.
void UnloadAddins(std::vector<LoadedAddin>* pAddins);

#endif
