#include "ui/message_box.h"

#include <stdio.h>

#include "settings/data_paths.h"

#define LC_FILLED_MESSAGE_CAPACITY (2 * LC_STRING_MESSAGE_CAPACITY)

int ShowStringMessage(HWND hWndOwner, UINT uStringId, const char* pszCaption, UINT uType)
{
    char szText[LC_STRING_MESSAGE_CAPACITY];
    if (LoadStringA(ghInstance, uStringId, szText, LC_STRING_MESSAGE_CAPACITY - 1) <= 0)
        szText[0] = '\0';
    return MessageBoxA(hWndOwner, szText, pszCaption, uType & 0xFFFF);
}

int ShowStringMessageWith(HWND hWndOwner, UINT uStringId, const char* pszInsert, const char* pszCaption, UINT uType)
{
    char szFormat[LC_STRING_MESSAGE_CAPACITY];
    if (LoadStringA(ghInstance, uStringId, szFormat, LC_STRING_MESSAGE_CAPACITY - 1) <= 0)
        szFormat[0] = '\0';
    // The entries are the add-in's own, each with one %s and no other
    // conversion, so the text is a safe format.
    char szText[LC_FILLED_MESSAGE_CAPACITY];
    snprintf(szText, sizeof(szText), szFormat, pszInsert);
    return MessageBoxA(hWndOwner, szText, pszCaption, uType & 0xFFFF);
}
