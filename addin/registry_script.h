// The registry scripts of the COM server: the text format of its "REGISTRY"
// resources, run to register or to unregister.
//
//   script   := { root "{" keys "}" }
//   root     := HKCR | HKCU | HKLM | HKU (or the HKEY_... spelling)
//   keys     := { key | value }
//   key      := { "NoRemove" | "ForceRemove" } name [ "=" data ] [ "{" keys "}" ]
//   value    := "val" name "=" data
//   data     := "s" text | "e" text | "d" number
//
// Names and texts are bare words or 'quoted' ('' for a quote inside). Words
// are separated by white space, so a bare {GUID} is a name and only a lone
// brace opens or closes a block. %NAME% inside a name or a text is replaced by
// the value given for NAME (names compared without regard to case); %% is a
// percent sign.
//
// Registering creates every key and sets every value; a ForceRemove key is
// first deleted with everything below it, so it is rebuilt rather than
// merged. Unregistering deletes every key not marked NoRemove with everything
// below it, and from NoRemove keys only the values the script lists; keys
// already missing are passed over.
#ifndef LETTERCAST_REGISTRY_SCRIPT_H
#define LETTERCAST_REGISTRY_SCRIPT_H

#include <windows.h>

#define LC_REPLACEMENT_MAX 4
#define LC_REPLACEMENT_NAME_CAPACITY 16
#define LC_REPLACEMENT_VALUE_CAPACITY 520
#define LC_SCRIPT_TOKEN_CAPACITY 1024

struct RegistryReplacement {
    char szName[LC_REPLACEMENT_NAME_CAPACITY];
    char szValue[LC_REPLACEMENT_VALUE_CAPACITY];
};

struct RegistryReplacements {
    int nCount;
    RegistryReplacement entries[LC_REPLACEMENT_MAX];
};

void InitReplacements(RegistryReplacements* pReplacements);
// Adds or changes one replacement; false when the table is full or a text
// does not fit.
bool AddReplacement(RegistryReplacements* pReplacements, const char* pszName, const char* pszValue);

// A malformed script: nothing of it has been written or removed.
#define LC_E_SCRIPT_SYNTAX HRESULT_FROM_WIN32(ERROR_INVALID_DATA)

// Runs cchScript characters of script text. The whole script is checked
// first; then the registry is changed in script order, stopping at the first
// registry call that fails, whose code is returned (what was done so far
// stays).
HRESULT RunRegistryScript(const char* pszScript, int cchScript, bool bRegister,
                          const RegistryReplacements* pReplacements);

// Deletes a key with everything below it; a key that is not there is no
// failure.
LONG DeleteRegistryTree(HKEY hParent, const char* pszName);

// Runs the "REGISTRY" resource nId of the module.
HRESULT RunRegistryScriptResource(HINSTANCE hModule, UINT nId, bool bRegister,
                                  const RegistryReplacements* pReplacements);

#endif
