#include "settings/data_paths.h"

#include <shlobj.h>
#include <stdio.h>
#include <string.h>

#include "resources/product.h"
#include "resources/resource.h"
#include "ui/message_box.h"

HINSTANCE ghInstance = NULL;
char gszDllDir[LC_PATH_CAPACITY];
char gszSentListPath[LC_PATH_CAPACITY];
char gszJobHistoryPath[LC_PATH_CAPACITY];
char gszCurrentJobPath[LC_PATH_CAPACITY];
char gszSentTimesPath[LC_PATH_CAPACITY];

void Trace(const char* pszFormat, ...)
{
}

// The long-name form of the module's folder, with its trailing backslash.
// A module path the buffer cannot hold whole counts as not found.
static int FindDllDir(HINSTANCE hModule)
{
    char szModule[LC_PATH_CAPACITY];
    gszDllDir[0] = '\0';
    DWORD cchModule = GetModuleFileNameA(hModule, szModule, LC_PATH_CAPACITY);
    if (cchModule == 0 || cchModule >= LC_PATH_CAPACITY)
        return 0;
    DWORD cchLong = GetLongPathNameA(szModule, gszDllDir, LC_PATH_CAPACITY);
    if (cchLong == 0 || cchLong >= LC_PATH_CAPACITY) {
        gszDllDir[0] = '\0';
        return 0;
    }
    char* pszSlash = strrchr(gszDllDir, '\\');
    if (pszSlash == NULL) {
        gszDllDir[0] = '\0';
        return 0;
    }
    pszSlash[1] = '\0';
    return 1;
}

// Forms "<base>\Lettercast\<file>"; a path too long for its buffer is left
// empty, so that opening it fails instead of writing to a cut-short name.
static void FormDataPath(char* pszOut, const char* pszBase, const char* pszFile)
{
    int cch = snprintf(pszOut, LC_PATH_CAPACITY, "%s\\%s\\%s", pszBase, LC_PRODUCT_NAME, pszFile);
    if (cch < 0 || cch >= LC_PATH_CAPACITY)
        pszOut[0] = '\0';
}

// Creates the data folder when it is missing. A failure is not reported here:
// it shows when a log cannot be opened.
static void EnsureDataFolder(const char* pszBase)
{
    char szFolder[LC_PATH_CAPACITY];
    int cch = snprintf(szFolder, sizeof(szFolder), "%s\\%s", pszBase, LC_PRODUCT_NAME);
    if (cch < 0 || cch >= (int)sizeof(szFolder))
        return;
    DWORD dwAttributes = GetFileAttributesA(szFolder);
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return;
    CreateDirectoryA(szFolder, NULL);
}

bool FormSentListPath(const char* pszSheet, char* pszOut, size_t cchOut)
{
    const char* pszName = pszSheet && pszSheet[0] ? NULL : gszSentListPath;
    if (pszName) {
        if (strlen(pszName) >= cchOut)
            return false;
        strcpy(pszOut, pszName);
        return true;
    }
    const char* pszSlash = strrchr(gszSentListPath, '\\');
    size_t cchFolder = pszSlash ? (size_t)(pszSlash - gszSentListPath + 1) : 0;
    size_t cchSheet = strlen(pszSheet);
    if (cchFolder + cchSheet + 5 > cchOut)
        return false;
    memcpy(pszOut, gszSentListPath, cchFolder);
    for (size_t i = 0; i < cchSheet; ++i) {
        unsigned char ch = (unsigned char)pszSheet[i];
        pszOut[cchFolder + i] = ch < 32 || strchr("\\/:*?\"<>|", ch) ? '_' : (char)ch;
    }
    strcpy(pszOut + cchFolder + cchSheet, ".csv");
    return true;
}

int InitDataPaths(HINSTANCE hModule)
{
    ghInstance = hModule;

    if (!FindDllDir(hModule)) {
        ShowStringMessage(GetDesktopWindow(), IDS_NO_DLL_DIRECTORY, LC_PRODUCT_NAME, MB_ICONWARNING | MB_OK);
        return 0;
    }

    char szBase[LC_PATH_CAPACITY];
    if (!SHGetSpecialFolderPathA(NULL, szBase, CSIDL_APPDATA, FALSE)) {
        ShowStringMessage(GetDesktopWindow(), IDS_NO_APPDATA_DIRECTORY, LC_PRODUCT_NAME, MB_ICONWARNING | MB_OK);
        size_t cchDir = strlen(gszDllDir);
        memcpy(szBase, gszDllDir, cchDir - 1);
        szBase[cchDir - 1] = '\0';
    }

    EnsureDataFolder(szBase);
    FormDataPath(gszSentListPath, szBase, "tosent.txt");
    FormDataPath(gszJobHistoryPath, szBase, "JobHistory.txt");
    FormDataPath(gszCurrentJobPath, szBase, "CurrentJob.txt");
    FormDataPath(gszSentTimesPath, szBase, "SentTimes.dat");

    LoadOptions();
    Trace("   DllMain DLL_PROCESS_ATTACH\r\n");
    return 1;
}
