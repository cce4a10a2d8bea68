#include "mailing/list_reader.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdlib.h>

#include "resources/product.h"
#include "resources/resource.h"
#include "ui/message_box.h"

FILE* OpenListFileShared(const char* pszPath)
{
    HANDLE hFile = CreateFileA(pszPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        return NULL;
    // Binary, as ListReader::Open reads: text mode would end the list at a byte 1A.
    int nFd = _open_osfhandle((intptr_t)hFile, _O_RDONLY | _O_BINARY);
    if (nFd == -1) {
        CloseHandle(hFile);
        return NULL;
    }
    FILE* pFile = _fdopen(nFd, "rb");
    if (!pFile) {
        // The descriptor owns the handle now; closing it closes both.
        _close(nFd);
        return NULL;
    }
    return pFile;
}

void ReportListOutOfMemory()
{
    ShowStringMessage(GetDesktopWindow(), IDS_OUT_OF_MEMORY, LC_PRODUCT_NAME, MB_ICONWARNING | MB_OK);
}

void SetListFileBinary(FILE* pFile)
{
    _setmode(_fileno(pFile), _O_BINARY);
}
