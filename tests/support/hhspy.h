// What reached the ANSI entry of the recording HTML Help control.
#ifndef LETTERCAST_TESTS_HHSPY_H
#define LETTERCAST_TESTS_HHSPY_H

#include <windows.h>

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

#endif
