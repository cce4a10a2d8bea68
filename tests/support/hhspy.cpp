// A recording HTML Help control: its ANSI entry (ordinal 14) notes each call
// and passes it on to the system's hhctrl.ocx, so the viewer really opens.
#include <windows.h>
#include <htmlhelp.h>

#include <stdio.h>
#include <string.h>

#include "tests/support/hhspy.h"

#define SPY_MAX_CALLS 16

static HhSpyCall gCalls[SPY_MAX_CALLS];
static int gnCalls = 0;

typedef HWND (WINAPI* HtmlHelpAProc)(HWND, LPCSTR, UINT, DWORD_PTR);

static HtmlHelpAProc SystemHtmlHelpA()
{
    static HtmlHelpAProc s_pfn = NULL;
    if (s_pfn == NULL) {
        char szPath[MAX_PATH];
        UINT cch = GetSystemDirectoryA(szPath, MAX_PATH);
        snprintf(szPath + cch, MAX_PATH - cch, "\\hhctrl.ocx");
        HMODULE h = LoadLibraryA(szPath);
        if (h)
            s_pfn = (HtmlHelpAProc)(void*)GetProcAddress(h, MAKEINTRESOURCEA(14));
    }
    return s_pfn;
}

extern "C" HWND WINAPI SpyHtmlHelpA(HWND hWndCaller, LPCSTR pszFile, UINT uCommand, DWORD_PTR dwData)
{
    HhSpyCall* pCall = gnCalls < SPY_MAX_CALLS ? &gCalls[gnCalls++] : NULL;
    if (pCall) {
        memset(pCall, 0, sizeof(*pCall));
        pCall->hWndCaller = hWndCaller;
        snprintf(pCall->szFile, sizeof(pCall->szFile), "%s", pszFile ? pszFile : "");
        pCall->uCommand = uCommand;
        pCall->dwData = dwData;
        if (uCommand == HH_KEYWORD_LOOKUP && dwData) {
            const HH_AKLINK* pLink = (const HH_AKLINK*)dwData;
            pCall->bHasLink = true;
            pCall->cbStruct = pLink->cbStruct;
            pCall->fReserved = pLink->fReserved;
            snprintf(pCall->szKeywords, sizeof(pCall->szKeywords), "%s", pLink->pszKeywords ? pLink->pszKeywords : "");
            pCall->bUrlNull = pLink->pszUrl == NULL;
            pCall->bMsgTextNull = pLink->pszMsgText == NULL;
            pCall->bMsgTitleNull = pLink->pszMsgTitle == NULL;
            pCall->bWindowNull = pLink->pszWindow == NULL;
            pCall->fIndexOnFail = pLink->fIndexOnFail;
        }
    }
    HtmlHelpAProc pfn = SystemHtmlHelpA();
    HWND hResult = pfn ? pfn(hWndCaller, pszFile, uCommand, dwData) : NULL;
    if (pCall)
        pCall->hWndResult = hResult;
    return hResult;
}

extern "C" int HhSpyCallCount()
{
    return gnCalls;
}

extern "C" const HhSpyCall* HhSpyGetCall(int i)
{
    return i >= 0 && i < gnCalls ? &gCalls[i] : NULL;
}
