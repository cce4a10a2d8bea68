// What reached the ANSI entry of the recording HTML Help control.
#ifndef LETTERCAST_TESTS_HHSPY_H
#define LETTERCAST_TESTS_HHSPY_H

#include <windows.h>

#include "ui/help.h"

struct HhSpyCall {
    HWND hWndCaller;
    char szFile[600];
    UINT uCommand;
    DWORD_PTR dwData;
    // The HH_AKLINK record of a keyword look-up, copied field by field.
    bool bHasLink;
    int cbStruct;
    BOOL fReserved;
    char szKeywords[300];
    bool bUrlNull, bMsgTextNull, bMsgTitleNull, bWindowNull;
    BOOL fIndexOnFail;
    HWND hWndResult;   // what the system's control answered
};

typedef int (*HhSpyCallCountProc)();
typedef const HhSpyCall* (*HhSpyGetCallProc)(int);

// The calls that reached the recording control, or none when it is not loaded.
class SpyCalls {
public:
    SpyCalls()
    {
        HMODULE hSpy = GetModuleHandleA("hhspy.dll");
        if (hSpy) {
            m_pfnCount = (HhSpyCallCountProc)(void*)GetProcAddress(hSpy, "HhSpyCallCount");
            m_pfnGet = (HhSpyGetCallProc)(void*)GetProcAddress(hSpy, "HhSpyGetCall");
        }
    }
    int Count() const { return m_pfnCount ? m_pfnCount() : 0; }
    const HhSpyCall& operator[](int i) const { return *m_pfnGet(i); }

private:
    HhSpyCallCountProc m_pfnCount = NULL;
    HhSpyGetCallProc m_pfnGet = NULL;
};

// Forgets the help binding of an earlier test. A recording control it loaded
// is unloaded too, so that its record starts empty for the next test of the
// same program; the system's control stays, as its windows may still be open.
inline void ResetHelpBinding()
{
    if (gHtmlHelp.hModule != NULL &&
        (gHtmlHelp.hModule == GetModuleHandleA("hhspy.dll") || gHtmlHelp.hModule == GetModuleHandleA("hhnoentry.dll")))
        FreeLibrary(gHtmlHelp.hModule);
    gHtmlHelp = HtmlHelpBinding{ NULL, NULL, false };
}

#endif
