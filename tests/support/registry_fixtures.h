// Registry state for tests: keys removed before and after a test, values
// restored to what they were.
#ifndef LETTERCAST_TESTS_REGISTRY_FIXTURES_H
#define LETTERCAST_TESTS_REGISTRY_FIXTURES_H

#include <windows.h>

#include <string>

// Deletes a key tree now and again when the object goes.
class ScopedKeyRemoval {
public:
    ScopedKeyRemoval(HKEY hRoot, const std::string& subKey);
    ~ScopedKeyRemoval();

private:
    HKEY m_hRoot;
    std::string m_subKey;
};

// Sets one value for the life of the object and then puts back what was there
// (or removes it when there was nothing).
class ScopedRegValue {
public:
    ScopedRegValue(HKEY hRoot, const std::string& subKey, const char* pszName, DWORD dwType, const std::string& data);
    ~ScopedRegValue();

private:
    HKEY m_hRoot;
    std::string m_subKey;
    std::string m_name;
    bool m_bNamed;
    bool m_bHadValue;
    DWORD m_dwOldType;
    std::string m_oldData;
};

// Points the user's roaming application-data folder at a chosen path.
class ScopedAppDataFolder {
public:
    explicit ScopedAppDataFolder(const std::string& path);

private:
    ScopedRegValue m_userShellFolder;
    ScopedRegValue m_shellFolder;
};

bool ReadRegString(HKEY hRoot, const std::string& subKey, const char* pszName, std::string* pData, DWORD* pdwType);
void DeleteRegTree(HKEY hRoot, const std::string& subKey);

extern const char kszOptionsKey[];   // the options section of the settings

#endif
