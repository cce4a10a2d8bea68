// What the mailing code needs from the rest of the add-in, for the native
// fuzz build: the options record that names the list, and the pieces that
// only exist on Windows. The fuzz targets write their lists as ordinary files,
// so the shared-access way in is never needed; an out-of-memory report has no
// one to show it to and is only counted.
#include <stdlib.h>

#include "fuzz/native_shim.h"

#include "mailing/html_text.h"
#include "mailing/list_reader.h"
#include "settings/settings_store.h"

JobOptionsRecord JobOptions;

int gnFuzzOutOfMemoryReports = 0;

FILE* OpenListFileShared(const char* pszPath)
{
    return NULL;
}

void ReportListOutOfMemory()
{
    ++gnFuzzOutOfMemoryReports;
}

void SetListFileBinary(FILE* pFile)
{
}

// The ANSI code page taken as Latin-1, which maps every byte.
char* AnsiToUtf8(const char* pszAnsi, size_t cb, size_t* pcbOut, bool* pbNoMemory)
{
    *pbNoMemory = false;
    char* pszOut = (char*)malloc(2 * cb + 1);
    if (!pszOut) {
        *pbNoMemory = true;
        return NULL;
    }
    size_t cbOut = 0;
    for (size_t i = 0; i < cb; ++i) {
        unsigned char ch = (unsigned char)pszAnsi[i];
        if (ch < 0x80) {
            pszOut[cbOut++] = (char)ch;
        } else {
            pszOut[cbOut++] = (char)(0xC0 | (ch >> 6));
            pszOut[cbOut++] = (char)(0x80 | (ch & 0x3F));
        }
    }
    pszOut[cbOut] = '\0';
    *pcbOut = cbOut;
    return pszOut;
}

// The same Latin-1: the characters up to U+00FF are its bytes.
size_t AnsiBytesOf(unsigned uChar, char* pszOut)
{
    if (uChar > 0xFF)
        return 0;
    pszOut[0] = (char)uChar;
    return 1;
}
