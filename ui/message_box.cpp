#include "ui/message_box.h"

#include "settings/data_paths.h"

int ShowStringMessage(HWND hWndOwner, UINT uStringId, const char* pszCaption, UINT uType)
{
    char szText[LC_STRING_MESSAGE_CAPACITY];
    if (LoadStringA(ghInstance, uStringId, szText, LC_STRING_MESSAGE_CAPACITY - 1) <= 0)
        szText[0] = '\0';
    return MessageBoxA(hWndOwner, szText, pszCaption, uType & 0xFFFF);
}
