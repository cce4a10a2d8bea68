#include "addin/registry_script.h"

#include <stdlib.h>
#include <string.h>

void InitReplacements(RegistryReplacements* pReplacements)
{
    memset(pReplacements, 0, sizeof(*pReplacements));
}

bool AddReplacement(RegistryReplacements* pReplacements, const char* pszName, const char* pszValue)
{
    size_t cchName = strlen(pszName);
    size_t cchValue = strlen(pszValue);
    if (cchName == 0 || cchName >= LC_REPLACEMENT_NAME_CAPACITY || cchValue >= LC_REPLACEMENT_VALUE_CAPACITY)
        return false;
    RegistryReplacement* pEntry = NULL;
    for (int i = 0; i < pReplacements->nCount; i++)
        if (lstrcmpiA(pReplacements->entries[i].szName, pszName) == 0)
            pEntry = &pReplacements->entries[i];
    if (pEntry == NULL) {
        if (pReplacements->nCount >= LC_REPLACEMENT_MAX)
            return false;
        pEntry = &pReplacements->entries[pReplacements->nCount++];
    }
    memcpy(pEntry->szName, pszName, cchName + 1);
    memcpy(pEntry->szValue, pszValue, cchValue + 1);
    return true;
}

namespace {

#define LC_SCRIPT_MAX_DEPTH 32

enum TokenKind {
    TokenEnd,
    TokenWord,     // a bare word
    TokenText,     // a quoted text
    TokenOpen,
    TokenClose,
    TokenEquals,
};

enum RunMode {
    ModeCheck,     // syntax only, the registry untouched
    ModeRegister,
    ModeUnregister,
};

struct Token {
    TokenKind kind;
    int cch;
    char szText[LC_SCRIPT_TOKEN_CAPACITY];
};

struct ScriptData {
    DWORD dwType;
    DWORD dwNumber;
    char szText[LC_SCRIPT_TOKEN_CAPACITY];
};

HRESULT FromRegistryError(LONG lResult)
{
    return HRESULT_FROM_WIN32((DWORD)lResult);
}

// Deletes a key with everything below it, deepest first, with the calls
// Windows XP has (it lacks the one-call tree delete); a key that is not there
// is no failure. Always deleting the first subkey left keeps the enumeration
// index valid while the key shrinks.
LONG DeleteKeyTree(HKEY hParent, const char* pszName, int nDepth = 0)
{
    // The registry nests at most 512 levels; deeper is a loop of links.
    if (nDepth > 512)
        return ERROR_INVALID_PARAMETER;
    HKEY hKey = NULL;
    LONG lResult = RegOpenKeyExA(hParent, pszName, 0, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | DELETE, &hKey);
    if (lResult == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (lResult != ERROR_SUCCESS)
        return lResult;
    for (;;) {
        char szSubKey[256];   // key names hold at most 255 characters
        DWORD cchSubKey = sizeof(szSubKey);
        lResult = RegEnumKeyExA(hKey, 0, szSubKey, &cchSubKey, NULL, NULL, NULL, NULL);
        if (lResult != ERROR_SUCCESS)
            break;
        lResult = DeleteKeyTree(hKey, szSubKey, nDepth + 1);
        if (lResult != ERROR_SUCCESS)
            break;
    }
    RegCloseKey(hKey);
    if (lResult != ERROR_NO_MORE_ITEMS)
        return lResult;
    lResult = RegDeleteKeyA(hParent, pszName);
    return lResult == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : lResult;
}

bool ParseRoot(const char* pszName, HKEY* phRoot)
{
    static const struct {
        const char* pszShort;
        const char* pszLong;
        HKEY hKey;
    } kRoots[] = {
        { "HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT },
        { "HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER },
        { "HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE },
        { "HKU", "HKEY_USERS", HKEY_USERS },
    };
    for (const auto& root : kRoots) {
        if (lstrcmpiA(pszName, root.pszShort) == 0 || lstrcmpiA(pszName, root.pszLong) == 0) {
            *phRoot = root.hKey;
            return true;
        }
    }
    return false;
}

class ScriptRunner {
public:
    ScriptRunner(const char* pszScript, int cchScript, const RegistryReplacements* pReplacements, RunMode nMode)
        : m_p(pszScript), m_pEnd(pszScript + cchScript), m_pReplacements(pReplacements), m_nMode(nMode),
          m_nDepth(0)
    {
        m_token.kind = TokenEnd;
        m_token.cch = 0;
        m_token.szText[0] = '\0';
    }

    HRESULT Run();

private:
    HRESULT Advance();
    bool Append(char c);
    bool AppendReplacement();
    bool IsKeyword(const char* pszKeyword) const
    {
        return m_token.kind == TokenWord && lstrcmpiA(m_token.szText, pszKeyword) == 0;
    }
    bool IsName() const { return m_token.kind == TokenWord || m_token.kind == TokenText; }

    HRESULT RunKeys(HKEY hParent, bool bLive);
    HRESULT RunKey(HKEY hParent, bool bLive);
    HRESULT RunValue(HKEY hParent, bool bLive);
    HRESULT ReadData(ScriptData* pData);
    LONG SetValue(HKEY hKey, const char* pszName, const ScriptData& data);

    const char* m_p;
    const char* m_pEnd;
    const RegistryReplacements* m_pReplacements;
    RunMode m_nMode;
    int m_nDepth;
    Token m_token;
};

bool ScriptRunner::Append(char c)
{
    if (m_token.cch + 1 >= LC_SCRIPT_TOKEN_CAPACITY)
        return false;
    m_token.szText[m_token.cch++] = c;
    m_token.szText[m_token.cch] = '\0';
    return true;
}

// At a '%': the replacement's value, or a lone '%' for "%%".
bool ScriptRunner::AppendReplacement()
{
    const char* pClose = (const char*)memchr(m_p + 1, '%', m_pEnd - (m_p + 1));
    if (pClose == NULL)
        return false;
    int cchName = (int)(pClose - (m_p + 1));
    m_p = pClose + 1;
    if (cchName == 0)
        return Append('%');
    if (cchName >= LC_REPLACEMENT_NAME_CAPACITY || m_pReplacements == NULL)
        return false;
    char szName[LC_REPLACEMENT_NAME_CAPACITY];
    memcpy(szName, pClose - cchName, cchName);
    szName[cchName] = '\0';
    for (int i = 0; i < m_pReplacements->nCount; i++) {
        const RegistryReplacement& entry = m_pReplacements->entries[i];
        if (lstrcmpiA(entry.szName, szName) != 0)
            continue;
        for (const char* pszValue = entry.szValue; *pszValue; pszValue++)
            if (!Append(*pszValue))
                return false;
        return true;
    }
    return false;
}

HRESULT ScriptRunner::Advance()
{
    m_token.cch = 0;
    m_token.szText[0] = '\0';
    while (m_p < m_pEnd && (*m_p == ' ' || *m_p == '\t' || *m_p == '\r' || *m_p == '\n'))
        m_p++;
    if (m_p >= m_pEnd) {
        m_token.kind = TokenEnd;
        return S_OK;
    }

    if (*m_p == '\'') {
        m_token.kind = TokenText;
        m_p++;
        for (;;) {
            if (m_p >= m_pEnd)
                return LC_E_SCRIPT_SYNTAX;   // unterminated text
            if (*m_p == '\'') {
                if (m_p + 1 < m_pEnd && m_p[1] == '\'') {
                    if (!Append('\''))
                        return LC_E_SCRIPT_SYNTAX;
                    m_p += 2;
                    continue;
                }
                m_p++;
                return S_OK;
            }
            if (*m_p == '%') {
                if (!AppendReplacement())
                    return LC_E_SCRIPT_SYNTAX;
                continue;
            }
            if (!Append(*m_p++))
                return LC_E_SCRIPT_SYNTAX;
        }
    }

    while (m_p < m_pEnd && *m_p != ' ' && *m_p != '\t' && *m_p != '\r' && *m_p != '\n') {
        if (*m_p == '%') {
            if (!AppendReplacement())
                return LC_E_SCRIPT_SYNTAX;
            continue;
        }
        if (!Append(*m_p++))
            return LC_E_SCRIPT_SYNTAX;
    }
    if (strcmp(m_token.szText, "{") == 0)
        m_token.kind = TokenOpen;
    else if (strcmp(m_token.szText, "}") == 0)
        m_token.kind = TokenClose;
    else if (strcmp(m_token.szText, "=") == 0)
        m_token.kind = TokenEquals;
    else
        m_token.kind = TokenWord;
    return S_OK;
}

// The current token is the type letter; leaves the token after the data.
HRESULT ScriptRunner::ReadData(ScriptData* pData)
{
    if (m_token.kind != TokenWord)
        return LC_E_SCRIPT_SYNTAX;
    char cType = (char)(m_token.szText[0] | 0x20);
    if (m_token.cch != 1 || (cType != 's' && cType != 'e' && cType != 'd'))
        return LC_E_SCRIPT_SYNTAX;
    HRESULT hr = Advance();
    if (FAILED(hr))
        return hr;
    if (!IsName())
        return LC_E_SCRIPT_SYNTAX;
    if (cType == 'd') {
        char* pszEnd = NULL;
        unsigned long long nValue = strtoull(m_token.szText, &pszEnd, 0);
        if (m_token.cch == 0 || *pszEnd != '\0' || m_token.szText[0] == '-' || nValue > 0xFFFFFFFFull)
            return LC_E_SCRIPT_SYNTAX;
        pData->dwType = REG_DWORD;
        pData->dwNumber = (DWORD)nValue;
        pData->szText[0] = '\0';
    } else {
        pData->dwType = cType == 's' ? REG_SZ : REG_EXPAND_SZ;
        pData->dwNumber = 0;
        memcpy(pData->szText, m_token.szText, m_token.cch + 1);
    }
    return Advance();
}

LONG ScriptRunner::SetValue(HKEY hKey, const char* pszName, const ScriptData& data)
{
    if (data.dwType == REG_DWORD)
        return RegSetValueExA(hKey, pszName, 0, REG_DWORD, (const BYTE*)&data.dwNumber, sizeof(DWORD));
    return RegSetValueExA(hKey, pszName, 0, data.dwType, (const BYTE*)data.szText, (DWORD)strlen(data.szText) + 1);
}

// At "val"; leaves the token after the value.
HRESULT ScriptRunner::RunValue(HKEY hParent, bool bLive)
{
    HRESULT hr = Advance();
    if (FAILED(hr))
        return hr;
    if (!IsName())
        return LC_E_SCRIPT_SYNTAX;
    char szName[LC_SCRIPT_TOKEN_CAPACITY];
    memcpy(szName, m_token.szText, m_token.cch + 1);
    hr = Advance();
    if (FAILED(hr))
        return hr;
    if (m_token.kind != TokenEquals)
        return LC_E_SCRIPT_SYNTAX;
    hr = Advance();
    if (FAILED(hr))
        return hr;
    ScriptData data;
    hr = ReadData(&data);
    if (FAILED(hr) || !bLive)
        return hr;

    LONG lResult = ERROR_SUCCESS;
    if (m_nMode == ModeRegister) {
        lResult = SetValue(hParent, szName, data);
    } else if (m_nMode == ModeUnregister) {
        lResult = RegDeleteValueA(hParent, szName);
        if (lResult == ERROR_FILE_NOT_FOUND)
            lResult = ERROR_SUCCESS;
    }
    return lResult == ERROR_SUCCESS ? S_OK : FromRegistryError(lResult);
}

// At the key's first word; leaves the token after the key and its block.
HRESULT ScriptRunner::RunKey(HKEY hParent, bool bLive)
{
    bool bNoRemove = false;
    bool bForceRemove = false;
    HRESULT hr = S_OK;
    for (;;) {
        if (IsKeyword("NoRemove"))
            bNoRemove = true;
        else if (IsKeyword("ForceRemove"))
            bForceRemove = true;
        else
            break;
        hr = Advance();
        if (FAILED(hr))
            return hr;
    }
    if (!IsName() || m_token.cch == 0 || strchr(m_token.szText, '\\') != NULL)
        return LC_E_SCRIPT_SYNTAX;
    char szName[LC_SCRIPT_TOKEN_CAPACITY];
    memcpy(szName, m_token.szText, m_token.cch + 1);

    hr = Advance();
    if (FAILED(hr))
        return hr;
    bool bHasDefault = false;
    ScriptData data;
    if (m_token.kind == TokenEquals) {
        hr = Advance();
        if (FAILED(hr))
            return hr;
        hr = ReadData(&data);
        if (FAILED(hr))
            return hr;
        bHasDefault = true;
    }

    HKEY hKey = NULL;
    bool bKeyLive = false;
    LONG lResult = ERROR_SUCCESS;
    if (bLive && m_nMode == ModeRegister) {
        if (bForceRemove)
            lResult = DeleteKeyTree(hParent, szName);
        if (lResult == ERROR_SUCCESS)
            lResult = RegCreateKeyExA(hParent, szName, 0, NULL, 0, KEY_READ | KEY_WRITE, NULL, &hKey, NULL);
        if (lResult == ERROR_SUCCESS && bHasDefault)
            lResult = SetValue(hKey, NULL, data);
        if (lResult != ERROR_SUCCESS) {
            if (hKey)
                RegCloseKey(hKey);
            return FromRegistryError(lResult);
        }
        bKeyLive = true;
    } else if (bLive && m_nMode == ModeUnregister) {
        bKeyLive = RegOpenKeyExA(hParent, szName, 0, KEY_READ | KEY_WRITE, &hKey) == ERROR_SUCCESS;
    }

    if (m_token.kind == TokenOpen) {
        hr = RunKeys(hKey, bKeyLive);
        if (SUCCEEDED(hr))
            hr = Advance();
    }
    if (hKey)
        RegCloseKey(hKey);
    if (FAILED(hr))
        return hr;

    if (bKeyLive && m_nMode == ModeUnregister && !bNoRemove) {
        lResult = DeleteKeyTree(hParent, szName);
        if (lResult != ERROR_SUCCESS)
            return FromRegistryError(lResult);
    }
    return S_OK;
}

// After a '{'; returns at the matching '}', which stays the current token.
HRESULT ScriptRunner::RunKeys(HKEY hParent, bool bLive)
{
    if (++m_nDepth > LC_SCRIPT_MAX_DEPTH)
        return LC_E_SCRIPT_SYNTAX;
    HRESULT hr = Advance();
    while (SUCCEEDED(hr)) {
        if (m_token.kind == TokenClose)
            break;
        if (m_token.kind == TokenEnd) {
            hr = LC_E_SCRIPT_SYNTAX;
            break;
        }
        hr = IsKeyword("val") ? RunValue(hParent, bLive) : RunKey(hParent, bLive);
    }
    m_nDepth--;
    return hr;
}

HRESULT ScriptRunner::Run()
{
    HRESULT hr = Advance();
    while (SUCCEEDED(hr) && m_token.kind != TokenEnd) {
        HKEY hRoot = NULL;
        if (m_token.kind != TokenWord || !ParseRoot(m_token.szText, &hRoot))
            return LC_E_SCRIPT_SYNTAX;
        hr = Advance();
        if (FAILED(hr))
            return hr;
        if (m_token.kind != TokenOpen)
            return LC_E_SCRIPT_SYNTAX;
        hr = RunKeys(hRoot, m_nMode != ModeCheck);
        if (SUCCEEDED(hr))
            hr = Advance();
    }
    return hr;
}

}  // namespace

LONG DeleteRegistryTree(HKEY hParent, const char* pszName)
{
    return DeleteKeyTree(hParent, pszName);
}

HRESULT RunRegistryScript(const char* pszScript, int cchScript, bool bRegister,
                          const RegistryReplacements* pReplacements)
{
    if (pszScript == NULL || cchScript < 0)
        return E_INVALIDARG;
    ScriptRunner check(pszScript, cchScript, pReplacements, ModeCheck);
    HRESULT hr = check.Run();
    if (FAILED(hr))
        return hr;
    ScriptRunner runner(pszScript, cchScript, pReplacements, bRegister ? ModeRegister : ModeUnregister);
    return runner.Run();
}

HRESULT RunRegistryScriptResource(HINSTANCE hModule, UINT nId, bool bRegister,
                                  const RegistryReplacements* pReplacements)
{
    HRSRC hResource = FindResourceA(hModule, MAKEINTRESOURCEA(nId), "REGISTRY");
    HGLOBAL hData = hResource ? LoadResource(hModule, hResource) : NULL;
    const char* pszScript = hData ? (const char*)LockResource(hData) : NULL;
    if (pszScript == NULL) {
        DWORD dwError = GetLastError();
        return dwError ? HRESULT_FROM_WIN32(dwError) : E_FAIL;
    }
    return RunRegistryScript(pszScript, (int)SizeofResource(hModule, hResource), bRegister, pReplacements);
}
