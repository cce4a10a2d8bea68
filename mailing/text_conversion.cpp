#include "mailing/text_conversion.h"

#include <stdlib.h>
#include <string.h>

#include "mailing/bounded_copy.h"
#include "mailing/html_text.h"
#include "mailing/list_reader.h"

// The HTML text code (portable) names the two code pages as Windows does.
static_assert(LC_HTML_CP_UTF8 == CP_UTF8 && LC_HTML_CP_ANSI == CP_ACP, "HTML code pages");

void WideToAnsi(const wchar_t* pszWide, char* pszOut, int cchOut)
{
    if (cchOut <= 0)
        return;
    pszOut[0] = '\0';
    if (pszWide == NULL)
        return;
    if (WideCharToMultiByte(CP_ACP, 0, pszWide, -1, pszOut, cchOut, NULL, NULL) != 0)
        return;
    // Too long for the buffer: keep what fits.
    char* pszAll = WideToAnsiHeap(pszWide);
    if (pszAll) {
        CopyBounded(pszOut, cchOut, pszAll);
        free(pszAll);
    }
}

char* WideToCodePageHeap(const wchar_t* pszWide, UINT uCodePage)
{
    if (pszWide == NULL)
        return NULL;
    int cch = WideCharToMultiByte(uCodePage, 0, pszWide, -1, NULL, 0, NULL, NULL);
    if (cch <= 0)
        return NULL;
    char* psz = (char*)malloc((size_t)cch);
    if (psz == NULL)
        return NULL;
    if (WideCharToMultiByte(uCodePage, 0, pszWide, -1, psz, cch, NULL, NULL) != cch) {
        free(psz);
        return NULL;
    }
    return psz;
}

char* WideToAnsiHeap(const wchar_t* pszWide)
{
    return WideToCodePageHeap(pszWide, CP_ACP);
}

BSTR CodePageToBstr(const char* pszText, UINT uCodePage)
{
    if (pszText == NULL)
        pszText = "";
    int cch = MultiByteToWideChar(uCodePage, 0, pszText, -1, NULL, 0);
    if (cch <= 0)
        return NULL;
    BSTR bstr = SysAllocStringLen(NULL, (UINT)(cch - 1));
    if (bstr == NULL)
        return NULL;
    MultiByteToWideChar(uCodePage, 0, pszText, -1, bstr, cch);
    return bstr;
}

BSTR AnsiToBstr(const char* pszAnsi)
{
    return CodePageToBstr(pszAnsi, CP_ACP);
}

char* AnsiToUtf8Heap(const char* pszAnsi)
{
    BSTR bstr = AnsiToBstr(pszAnsi);
    if (bstr == NULL)
        return NULL;
    char* psz = WideToCodePageHeap(bstr, CP_UTF8);
    SysFreeString(bstr);
    return psz;
}

void Utf8ToAnsiInPlace(char* pszText)
{
    if (pszText == NULL)
        return;
    const unsigned char* p = (const unsigned char*)pszText;
    while (*p && *p < 0x80)
        ++p;
    if (*p == '\0')
        return;
    int cchWide = MultiByteToWideChar(CP_UTF8, 0, pszText, -1, NULL, 0);
    if (cchWide <= 0)
        return;
    wchar_t* pszWide = (wchar_t*)malloc(cchWide * sizeof(wchar_t));
    if (pszWide == NULL)
        return;
    MultiByteToWideChar(CP_UTF8, 0, pszText, -1, pszWide, cchWide);
    int cbAnsi = WideCharToMultiByte(CP_ACP, 0, pszWide, -1, NULL, 0, NULL, NULL);
    if (cbAnsi > 0 && (size_t)cbAnsi <= strlen(pszText) + 1)
        WideCharToMultiByte(CP_ACP, 0, pszWide, -1, pszText, cbAnsi, NULL, NULL);
    free(pszWide);
}

char* AnsiToUtf8(const char* pszAnsi, size_t cb, size_t* pcbOut, bool* pbNoMemory)
{
    *pbNoMemory = false;
    *pcbOut = 0;
    if (cb == 0 || cb > 0x3FFFFFFF)
        return NULL;
    int cchWide = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, pszAnsi, (int)cb, NULL, 0);
    if (cchWide <= 0)
        return NULL;
    wchar_t* pszWide = (wchar_t*)malloc(cchWide * sizeof(wchar_t));
    if (!pszWide) {
        *pbNoMemory = true;
        return NULL;
    }
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, pszAnsi, (int)cb, pszWide, cchWide);
    int cbUtf8 = WideCharToMultiByte(CP_UTF8, 0, pszWide, cchWide, NULL, 0, NULL, NULL);
    char* pszUtf8 = cbUtf8 > 0 ? (char*)malloc(cbUtf8 + 1) : NULL;
    if (!pszUtf8) {
        free(pszWide);
        *pbNoMemory = cbUtf8 > 0;
        return NULL;
    }
    WideCharToMultiByte(CP_UTF8, 0, pszWide, cchWide, pszUtf8, cbUtf8, NULL, NULL);
    pszUtf8[cbUtf8] = '\0';
    free(pszWide);
    *pcbOut = (size_t)cbUtf8;
    return pszUtf8;
}

size_t AnsiBytesOf(unsigned uChar, char* pszOut)
{
    wchar_t units[2];
    int cUnits = 1;
    if (uChar >= 0x10000) {
        units[0] = (wchar_t)(0xD800 + ((uChar - 0x10000) >> 10));
        units[1] = (wchar_t)(0xDC00 + ((uChar - 0x10000) & 0x3FF));
        cUnits = 2;
    } else {
        units[0] = (wchar_t)uChar;
    }
    BOOL bDefaultUsed = FALSE;
    int cb = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, units, cUnits, pszOut, 8, NULL, &bDefaultUsed);
    return cb > 0 && !bDefaultUsed ? (size_t)cb : 0;
}
