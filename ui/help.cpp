#include "ui/help.h"

#include <htmlhelp.h>
#include <stdio.h>
#include <string.h>

#include "resources/product.h"
#include "settings/data_paths.h"

#define LC_KEYWORD_CAPACITY 255
#define LC_HELP_PATH_CAPACITY 520
#define LC_HTMLHELP_ORDINAL 14    // the ANSI HtmlHelp entry of hhctrl.ocx

HtmlHelpBinding gHtmlHelp = { NULL, NULL, false };

const char gszHtmlHelpClsidKey[] = "CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32";

// The control's registered location, expanded when it is stored with
// environment variables. Returns 0 when there is none that fits.
static int ReadHtmlHelpLocation(char* pszLocation)
{
    HKEY hKey = NULL;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, gszHtmlHelpClsidKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return 0;

    char szValue[MAX_PATH];
    DWORD dwType = 0;
    DWORD cbValue = sizeof(szValue);
    int nFound = 0;
    if (RegQueryValueExA(hKey, NULL, NULL, &dwType, (BYTE*)szValue, &cbValue) == ERROR_SUCCESS) {
        szValue[sizeof(szValue) - 1] = '\0';
        if (cbValue < sizeof(szValue))
            szValue[cbValue] = '\0';
        if (dwType == REG_EXPAND_SZ) {
            DWORD cchExpanded = ExpandEnvironmentStringsA(szValue, pszLocation, MAX_PATH);
            nFound = cchExpanded != 0 && cchExpanded <= MAX_PATH;
        } else {
            memcpy(pszLocation, szValue, sizeof(szValue));
            nFound = 1;
        }
    }
    RegCloseKey(hKey);
    return nFound && pszLocation[0] != '\0';
}

static int BindHtmlHelp(HtmlHelpBinding* pBinding)
{
    if (pBinding->hModule == NULL) {
        char szLocation[MAX_PATH];
        if (ReadHtmlHelpLocation(szLocation))
            pBinding->hModule = LoadLibraryA(szLocation);
        if (pBinding->hModule == NULL)
            pBinding->hModule = LoadLibraryA("hhctrl.ocx");
        if (pBinding->hModule == NULL) {
            pBinding->bFailed = true;
            return 0;
        }
    }
    if (pBinding->pfnHtmlHelpA == NULL) {
        pBinding->pfnHtmlHelpA = (HtmlHelpAProc)(void*)GetProcAddress(pBinding->hModule,
                                                                       MAKEINTRESOURCEA(LC_HTMLHELP_ORDINAL));
        if (pBinding->pfnHtmlHelpA == NULL) {
            pBinding->bFailed = true;
            return 0;
        }
    }
    return 1;
}

HWND CallHtmlHelpA(HtmlHelpBinding* pBinding, HWND hWndCaller, LPCSTR pszFile, UINT uCommand, DWORD_PTR dwData)
{
    if (pBinding->bFailed || !BindHtmlHelp(pBinding))
        return NULL;
    return pBinding->pfnHtmlHelpA(hWndCaller, pszFile, uCommand, dwData);
}

int ShowHelpTopic(HWND hWndOwner, UINT uTopicId)
{
    if (gszDllDir[0] == '\0')
        return 0;

    char szFolder[LC_PATH_CAPACITY];
    snprintf(szFolder, sizeof(szFolder), "%s", gszDllDir);

    char szKeyword[LC_KEYWORD_CAPACITY + 1];
    if (LoadStringA(ghInstance, uTopicId, szKeyword, LC_KEYWORD_CAPACITY) <= 0)
        szKeyword[0] = '\0';

    char szPath[LC_HELP_PATH_CAPACITY];
    snprintf(szPath, sizeof(szPath), "%s%s>mywin", szFolder, LC_HELP_FILE_NAME);
    CallHtmlHelpA(&gHtmlHelp, hWndOwner, szPath, HH_DISPLAY_TOPIC, 0);

    HH_AKLINK link;
    memset(&link, 0, sizeof(link));
    link.cbStruct = sizeof(link);
    link.fReserved = FALSE;
    link.pszKeywords = szKeyword;
    link.fIndexOnFail = TRUE;
    snprintf(szPath, sizeof(szPath), "%s%s", szFolder, LC_HELP_FILE_NAME);
    CallHtmlHelpA(&gHtmlHelp, hWndOwner, szPath, HH_KEYWORD_LOOKUP, (DWORD_PTR)&link);
    return 1;
}
