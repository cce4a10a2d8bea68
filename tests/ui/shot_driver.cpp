// Steers a running job of the stand-in host for the screenshots:
// shot_driver.exe <folder>. It waits for the main dialog, presses Pause once
// the progress bar is at 40 percent, and writes <folder>\main.rect ("left top
// right bottom" on the screen) for the picture; when <folder>\main.done
// appears it opens Options over the job and writes options.rect (both
// dialogs); after options.done it closes Options and resumes the job.
// Exits 0 when every step was reached, 1 when one timed out.
#include <windows.h>
#include <commctrl.h>

#include <stdio.h>

#include "resources/product.h"
#include "resources/resource.h"

static char gszFolder[MAX_PATH];

static bool WaitFor(bool (*pfnReady)(void*), void* pContext, DWORD dwTimeoutMs)
{
    DWORD dwStart = GetTickCount();
    while (!pfnReady(pContext)) {
        if (GetTickCount() - dwStart > dwTimeoutMs)
            return false;
        Sleep(100);
    }
    return true;
}

static bool FileExists(void* pName)
{
    char szPath[MAX_PATH];
    snprintf(szPath, sizeof(szPath), "%s\\%s", gszFolder, (const char*)pName);
    return GetFileAttributesA(szPath) != INVALID_FILE_ATTRIBUTES;
}

static bool WindowFound(void* pTitle)
{
    return FindWindowA("#32770", (const char*)pTitle) != NULL;
}

static bool ProgressPast40(void* pDialog)
{
    HWND hProgress = GetDlgItem((HWND)pDialog, IDC_MAIN_PROGRESS);
    return SendMessageA(hProgress, PBM_GETPOS, 0, 0) >= 40;
}

// The rectangle around the given windows, for the script to cut out.
static bool WriteRect(const char* pszName, HWND hFirst, HWND hSecond)
{
    RECT rc, rcSecond;
    GetWindowRect(hFirst, &rc);
    if (hSecond && GetWindowRect(hSecond, &rcSecond))
        UnionRect(&rc, &rc, &rcSecond);
    char szPath[MAX_PATH], szTemp[MAX_PATH];
    snprintf(szPath, sizeof(szPath), "%s\\%s", gszFolder, pszName);
    snprintf(szTemp, sizeof(szTemp), "%s.tmp", szPath);
    FILE* pFile = fopen(szTemp, "w");
    if (!pFile)
        return false;
    fprintf(pFile, "%ld %ld %ld %ld\n", rc.left, rc.top, rc.right, rc.bottom);
    fclose(pFile);
    return MoveFileA(szTemp, szPath) != FALSE;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR pszCmdLine, int)
{
    snprintf(gszFolder, sizeof(gszFolder), "%s", pszCmdLine);
    char szMainTitle[64], szOptionsTitle[64];
    snprintf(szMainTitle, sizeof(szMainTitle), "%s %d.%d", LC_PRODUCT_NAME, LC_VERSION_MAJOR, LC_VERSION_MINOR);
    snprintf(szOptionsTitle, sizeof(szOptionsTitle), "%s Options", szMainTitle);

    if (!WaitFor(WindowFound, szMainTitle, 60000))
        return 1;
    HWND hMain = FindWindowA("#32770", szMainTitle);
    if (!WaitFor(ProgressPast40, hMain, 120000))
        return 1;
    PostMessageA(GetDlgItem(hMain, IDC_MAIN_SEND_PAUSE), BM_CLICK, 0, 0);
    // The status line shows the remaining time from its next rewrite on.
    Sleep(3000);
    if (!WriteRect("main.rect", hMain, NULL) || !WaitFor(FileExists, (void*)"main.done", 60000))
        return 1;

    PostMessageA(hMain, WM_COMMAND, MAKEWPARAM(IDC_MAIN_OPTIONS, BN_CLICKED), (LPARAM)GetDlgItem(hMain, IDC_MAIN_OPTIONS));
    if (!WaitFor(WindowFound, szOptionsTitle, 30000))
        return 1;
    HWND hOptions = FindWindowA("#32770", szOptionsTitle);
    Sleep(1000);
    if (!WriteRect("options.rect", hMain, hOptions) || !WaitFor(FileExists, (void*)"options.done", 60000))
        return 1;

    PostMessageA(hOptions, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), (LPARAM)GetDlgItem(hOptions, IDCANCEL));
    Sleep(500);
    PostMessageA(GetDlgItem(hMain, IDC_MAIN_SEND_PAUSE), BM_CLICK, 0, 0);
    return 0;
}
