// Message boxes whose text is a string-table entry.
#ifndef LETTERCAST_MESSAGE_BOX_H
#define LETTERCAST_MESSAGE_BOX_H

#include <windows.h>

#define LC_STRING_MESSAGE_CAPACITY 256   // an entry is shown with at most 254 characters

// Styles in use: 0 plain, MB_ICONWARNING | MB_OK, MB_ICONQUESTION | MB_YESNO.
// Only the low 16 bits of uType reach the box. Returns the button pressed.
int ShowStringMessage(HWND hWndOwner, UINT uStringId, const char* pszCaption, UINT uType);

// As ShowStringMessage, for an entry that holds one "%s": pszInsert takes
// its place (a number or a time the message names).
int ShowStringMessageWith(HWND hWndOwner, UINT uStringId, const char* pszInsert, const char* pszCaption, UINT uType);

#endif
