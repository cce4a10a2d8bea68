#include "tests/support/registry_fixtures.h"

#include <shlwapi.h>

const char kszOptionsKey[] = "Software\\Vostel Software\\Lettercast\\CurrentVersion\\options";

static const char kszUserShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
static const char kszShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

void DeleteRegTree(HKEY hRoot, const std::string& subKey)
{
    SHDeleteKeyA(hRoot, subKey.c_str());
}

bool ReadRegString(HKEY hRoot, const std::string& subKey, const char* pszName, std::string* pData, DWORD* pdwType)
{
    HKEY hKey;
    if (RegOpenKeyExA(hRoot, subKey.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return false;
    char buf[2048];
    DWORD cb = sizeof(buf);
    DWORD dwType = 0;
    LONG l = RegQueryValueExA(hKey, pszName, NULL, &dwType, (BYTE*)buf, &cb);
    RegCloseKey(hKey);
    if (l != ERROR_SUCCESS)
        return false;
    pData->assign(buf, cb);
    if (pdwType)
        *pdwType = dwType;
    return true;
}

ScopedKeyRemoval::ScopedKeyRemoval(HKEY hRoot, const std::string& subKey) : m_hRoot(hRoot), m_subKey(subKey)
{
    DeleteRegTree(m_hRoot, m_subKey);
}

ScopedKeyRemoval::~ScopedKeyRemoval()
{
    DeleteRegTree(m_hRoot, m_subKey);
}

static void SetValue(HKEY hRoot, const std::string& subKey, const char* pszName, DWORD dwType, const std::string& data)
{
    HKEY hKey;
    if (RegCreateKeyExA(hRoot, subKey.c_str(), 0, NULL, 0, KEY_WRITE, NULL, &hKey, NULL) != ERROR_SUCCESS)
        return;
    RegSetValueExA(hKey, pszName, 0, dwType, (const BYTE*)data.data(), (DWORD)data.size());
    RegCloseKey(hKey);
}

ScopedRegValue::ScopedRegValue(HKEY hRoot, const std::string& subKey, const char* pszName, DWORD dwType,
                               const std::string& data)
    : m_hRoot(hRoot), m_subKey(subKey), m_name(pszName ? pszName : ""), m_bNamed(pszName != NULL),
      m_dwOldType(0)
{
    m_bHadValue = ReadRegString(hRoot, subKey, pszName, &m_oldData, &m_dwOldType);
    // Text values are written with their terminator, as the registry keeps them.
    std::string stored = data;
    if (dwType == REG_SZ || dwType == REG_EXPAND_SZ)
        stored.push_back('\0');
    SetValue(hRoot, subKey, pszName, dwType, stored);
}

ScopedRegValue::~ScopedRegValue()
{
    const char* pszName = m_bNamed ? m_name.c_str() : NULL;
    if (m_bHadValue) {
        SetValue(m_hRoot, m_subKey, pszName, m_dwOldType, m_oldData);
    } else {
        HKEY hKey;
        if (RegOpenKeyExA(m_hRoot, m_subKey.c_str(), 0, KEY_WRITE, &hKey) == ERROR_SUCCESS) {
            RegDeleteValueA(hKey, pszName);
            RegCloseKey(hKey);
        }
    }
}

ScopedAppDataFolder::ScopedAppDataFolder(const std::string& path)
    : m_userShellFolder(HKEY_CURRENT_USER, kszUserShellFolders, "AppData", REG_EXPAND_SZ, path),
      m_shellFolder(HKEY_CURRENT_USER, kszShellFolders, "AppData", REG_SZ, path)
{
}
