#include "settings/settings_store.h"

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "resources/product.h"
#include "settings/data_paths.h"

#define LC_KEY_PATH_CAPACITY 300   // a section's key path holds at most 299 characters
#define LC_NUMBER_CAPACITY 49
#define LC_VALUE_SCRATCH 1024      // largest value text a query hands back

static const char kszKeyPathFormat[] = "Software\\Vostel Software\\%s\\CurrentVersion\\";
static const char kszKeyClass[] = "Application Per-User Data";

const char gszOptionsSection[] = "options";

JobOptionsRecord BuiltInJobOptions()
{
    JobOptionsRecord options = {};
    strcpy(options.LastToFolder, "c:\\");
    options.Pause = 0;
    options.SaveOrig = 1;
    options.DoSendRecv = 0;
    options.SendRecvCount = 100;
    options.PerMinute = 0;
    options.PerDay = 0;
    options.PauseVariation = 0;
    return options;
}

JobOptionsRecord JobOptions = BuiltInJobOptions();

static int BuildKeyPath(const char* pszSection, char* pszPath)
{
    int nPrefix = snprintf(pszPath, LC_KEY_PATH_CAPACITY, kszKeyPathFormat, LC_PRODUCT_NAME);
    if (nPrefix < 0 || nPrefix >= LC_KEY_PATH_CAPACITY)
        return 0;
    size_t cchSection = strlen(pszSection);
    if (nPrefix + cchSection >= LC_KEY_PATH_CAPACITY)
        return 0;
    memcpy(pszPath + nPrefix, pszSection, cchSection + 1);
    return 1;
}

// Queries one value as text. The query goes to a scratch buffer so that a value
// too long for the caller leaves the caller's buffer untouched.
static int QueryValueText(const char* pszKeyPath, const char* pszName, char* pszOut, unsigned cbCapacity)
{
    HKEY hKey = NULL;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, pszKeyPath, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return 0;

    char szValue[LC_VALUE_SCRATCH];
    DWORD cbLimit = cbCapacity < sizeof(szValue) ? cbCapacity : (DWORD)sizeof(szValue);
    DWORD cbData = cbLimit;
    LONG lResult = RegQueryValueExA(hKey, pszName, NULL, NULL, (BYTE*)szValue, &cbData);
    RegCloseKey(hKey);
    if (lResult != ERROR_SUCCESS)
        return 0;

    // Stored text need not carry its terminator; one that fills the whole
    // capacity without one does not fit.
    if (cbData > 0 && szValue[cbData - 1] == '\0') {
        // terminated as stored
    } else if (cbData < cbLimit) {
        szValue[cbData] = '\0';
    } else {
        return 0;
    }
    memcpy(pszOut, szValue, strlen(szValue) + 1);
    return 1;
}

int ReadString(const char* pszSection, const char* pszName, char* pszOut,
               const char* pszDefault, unsigned cbCapacity)
{
    char szKeyPath[LC_KEY_PATH_CAPACITY];
    if (BuildKeyPath(pszSection, szKeyPath) && QueryValueText(szKeyPath, pszName, pszOut, cbCapacity))
        return 1;

    size_t cchDefault = strlen(pszDefault);
    if (cchDefault >= cbCapacity)
        return 0;
    memcpy(pszOut, pszDefault, cchDefault + 1);
    return 1;
}

// The section's key, made when it is not there yet: NULL when it cannot be.
static HKEY CreateSectionKey(const char* pszKeyPath)
{
    HKEY hKey = NULL;
    DWORD dwDisposition = 0;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, pszKeyPath, 0, (LPSTR)kszKeyClass, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, NULL, &hKey, &dwDisposition) != ERROR_SUCCESS)
        return NULL;
    return hKey;
}

int WriteString(const char* pszSection, const char* pszName, const char* pszText)
{
    char szKeyPath[LC_KEY_PATH_CAPACITY];
    if (!BuildKeyPath(pszSection, szKeyPath))
        return 0;

    HKEY hKey = CreateSectionKey(szKeyPath);
    if (hKey == NULL)
        return 0;

    LONG lResult = RegSetValueExA(hKey, pszName, 0, REG_SZ, (const BYTE*)pszText, (DWORD)strlen(pszText) + 1);
    RegCloseKey(hKey);
    return lResult == ERROR_SUCCESS ? 1 : 0;
}

int ReadStringUtf8(const char* pszSection, const char* pszName, char* pszOut, unsigned cbCapacity)
{
    char szKeyPath[LC_KEY_PATH_CAPACITY];
    wchar_t wszName[64];
    if (!BuildKeyPath(pszSection, szKeyPath) ||
        MultiByteToWideChar(CP_ACP, 0, pszName, -1, wszName, sizeof(wszName) / sizeof(wszName[0])) == 0)
        return 0;
    HKEY hKey = NULL;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, szKeyPath, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return 0;
    wchar_t wszValue[LC_VALUE_SCRATCH];
    DWORD cbData = sizeof(wszValue) - sizeof(wchar_t);
    DWORD dwType = 0;
    LONG lResult = RegQueryValueExW(hKey, wszName, NULL, &dwType, (BYTE*)wszValue, &cbData);
    RegCloseKey(hKey);
    if (lResult != ERROR_SUCCESS || dwType != REG_SZ)
        return 0;
    wszValue[cbData / sizeof(wchar_t)] = L'\0';
    char szValue[LC_VALUE_SCRATCH * 3];
    if (WideCharToMultiByte(CP_UTF8, 0, wszValue, -1, szValue, sizeof(szValue), NULL, NULL) == 0 ||
        strlen(szValue) >= cbCapacity)
        return 0;
    memcpy(pszOut, szValue, strlen(szValue) + 1);
    return 1;
}

int WriteStringUtf8(const char* pszSection, const char* pszName, const char* pszText)
{
    char szKeyPath[LC_KEY_PATH_CAPACITY];
    wchar_t wszName[64], wszValue[LC_VALUE_SCRATCH];
    if (!BuildKeyPath(pszSection, szKeyPath) ||
        MultiByteToWideChar(CP_ACP, 0, pszName, -1, wszName, sizeof(wszName) / sizeof(wszName[0])) == 0 ||
        MultiByteToWideChar(CP_UTF8, 0, pszText, -1, wszValue, sizeof(wszValue) / sizeof(wszValue[0])) == 0)
        return 0;
    HKEY hKey = CreateSectionKey(szKeyPath);
    if (hKey == NULL)
        return 0;
    LONG lResult = RegSetValueExW(hKey, wszName, 0, REG_SZ, (const BYTE*)wszValue,
                                  (DWORD)((wcslen(wszValue) + 1) * sizeof(wchar_t)));
    RegCloseKey(hKey);
    return lResult == ERROR_SUCCESS ? 1 : 0;
}

// Reads a leading signed decimal integer as "%d" does (white space skipped,
// optional sign). Text that does not begin with a number gives the default;
// a number beyond the 32-bit range saturates rather than wrapping.
static int ParseLeadingNumber(const char* pszText, int nDefault)
{
    char* pszEnd = NULL;
    long lValue = strtol(pszText, &pszEnd, 10);
    if (pszEnd == pszText)
        return nDefault;
    return (int)lValue;
}

int ReadNumber(const char* pszSection, const char* pszName, int nDefault)
{
    char szDefault[LC_NUMBER_CAPACITY + 1];
    char szValue[LC_NUMBER_CAPACITY + 1];
    snprintf(szDefault, sizeof(szDefault), "%d", nDefault);
    ReadString(pszSection, pszName, szValue, szDefault, LC_NUMBER_CAPACITY);
    return ParseLeadingNumber(szValue, nDefault);
}

int WriteNumber(const char* pszSection, const char* pszName, int nValue)
{
    char szValue[LC_NUMBER_CAPACITY + 1];
    snprintf(szValue, sizeof(szValue), "%d", nValue);
    return WriteString(pszSection, pszName, szValue);
}

static int ClampInt(int nValue, int nMin, int nMax)
{
    if (nValue < nMin)
        return nMin;
    if (nValue > nMax)
        return nMax;
    return nValue;
}

void LoadOptions()
{
    // A default cut short by the buffer is 259 characters long and so never fits
    // the capacity of 259: the field then keeps its value.
    char szDefaultToList[LC_PATH_CAPACITY];
    snprintf(szDefaultToList, sizeof(szDefaultToList), "%sSampleTo.txt", gszDllDir);
    ReadString(gszOptionsSection, "ToList", JobOptions.ToList, szDefaultToList, LC_PATH_CAPACITY - 1);

    if (!ReadStringUtf8(gszOptionsSection, "ToSheet", JobOptions.ToSheet, LC_SHEET_CAPACITY))
        JobOptions.ToSheet[0] = '\0';
    ReadString(gszOptionsSection, "LastToFolder", JobOptions.LastToFolder, gszDllDir, LC_PATH_CAPACITY - 1);

    JobOptions.Pause = ClampInt(ReadNumber(gszOptionsSection, "Pause", JobOptions.Pause),
                                LC_PAUSE_MIN, LC_PAUSE_MAX);
    JobOptions.SaveOrig = ReadNumber(gszOptionsSection, "SaveOrig", JobOptions.SaveOrig);
    JobOptions.DoSendRecv = ReadNumber(gszOptionsSection, "DoSendRecv", JobOptions.DoSendRecv);
    JobOptions.SendRecvCount = ClampInt(ReadNumber(gszOptionsSection, "SendRecvCount", JobOptions.SendRecvCount),
                                        LC_SENDRECV_COUNT_MIN, LC_SENDRECV_COUNT_MAX);
    JobOptions.PerMinute = ClampInt(ReadNumber(gszOptionsSection, "PerMinute", JobOptions.PerMinute),
                                    0, LC_PER_MINUTE_MAX);
    JobOptions.PerDay = ClampInt(ReadNumber(gszOptionsSection, "PerDay", JobOptions.PerDay), 0, LC_PER_DAY_MAX);
    JobOptions.PauseVariation = ClampInt(ReadNumber(gszOptionsSection, "PauseVariation", JobOptions.PauseVariation),
                                         0, LC_PAUSE_VARIATION_MAX);
}

int SaveOptions()
{
    WriteString(gszOptionsSection, "ToList", JobOptions.ToList);
    WriteStringUtf8(gszOptionsSection, "ToSheet", JobOptions.ToSheet);
    WriteString(gszOptionsSection, "LastToFolder", JobOptions.LastToFolder);
    WriteNumber(gszOptionsSection, "Pause", JobOptions.Pause);
    WriteNumber(gszOptionsSection, "SaveOrig", JobOptions.SaveOrig);
    WriteNumber(gszOptionsSection, "DoSendRecv", JobOptions.DoSendRecv);
    int nResult = WriteNumber(gszOptionsSection, "SendRecvCount", JobOptions.SendRecvCount);
    // The limits after the values every earlier version wrote: the result
    // stays that of the count.
    WriteNumber(gszOptionsSection, "PerMinute", JobOptions.PerMinute);
    WriteNumber(gszOptionsSection, "PerDay", JobOptions.PerDay);
    WriteNumber(gszOptionsSection, "PauseVariation", JobOptions.PauseVariation);
    return nResult;
}
