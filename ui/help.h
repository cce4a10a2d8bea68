// Online help: the compiled help file beside the DLL, opened at a topic keyword.
#ifndef LETTERCAST_HELP_H
#define LETTERCAST_HELP_H

#include <windows.h>

typedef HWND (WINAPI* HtmlHelpAProc)(HWND, LPCSTR, UINT, DWORD_PTR);

// The HTML Help control, found and loaded on first use since the add-in does
// not link to it. Loaded and failed are both final.
struct HtmlHelpBinding {
    HMODULE hModule;
    HtmlHelpAProc pfnHtmlHelpA;
    bool bFailed;
};

extern HtmlHelpBinding gHtmlHelp;

extern const char gszHtmlHelpClsidKey[];   // where the control's location is registered

// Calls the ANSI HtmlHelp entry through the binding; 0 when the control
// cannot be loaded.
HWND CallHtmlHelpA(HtmlHelpBinding* pBinding, HWND hWndCaller, LPCSTR pszFile, UINT uCommand, DWORD_PTR dwData);

// Opens the help file and jumps to the keyword of string-table entry uTopicId.
// Returns 1 when help was asked for, 0 when the DLL folder is unknown.
int ShowHelpTopic(HWND hWndOwner, UINT uTopicId);

#endif
