#include "mailing/html_text.h"

#include <stdlib.h>
#include <string.h>

namespace {

// A field's text made in a block of the stack when it fits, so that making a
// field costs no heap block beyond the one the record keeps: the engine makes
// these fields again for every recipient.
const size_t kcchOnStack = 512;

bool AddEscaped(ListRecord* pTo, const char* pszText, bool bQuotes)
{
    size_t cchText = 0;
    size_t cch = 0;
    for (const char* p = pszText; *p; ++p, ++cchText)
        cch += (*p == '&' || *p == '<' || *p == '>' || (bQuotes && (*p == '"' || *p == '\''))) ? 6 : 1;
    // Nothing to replace: the text goes in as it is.
    if (cch == cchText)
        return AddListField(pTo, pszText, cchText);
    char szOnStack[kcchOnStack];
    char* pszOut = cch < kcchOnStack ? szOnStack : (char*)malloc(cch + 1);
    if (pszOut == NULL)
        return false;
    size_t n = 0;
    for (const char* p = pszText; *p; ++p) {
        const char* pszReference = NULL;
        switch (*p) {
        case '&': pszReference = "&amp;"; break;
        case '<': pszReference = "&lt;"; break;
        case '>': pszReference = "&gt;"; break;
        case '"': pszReference = bQuotes ? "&quot;" : NULL; break;
        case '\'': pszReference = bQuotes ? "&#39;" : NULL; break;
        default: break;
        }
        if (pszReference == NULL) {
            pszOut[n++] = *p;
            continue;
        }
        size_t cchReference = strlen(pszReference);
        memcpy(pszOut + n, pszReference, cchReference);
        n += cchReference;
    }
    pszOut[n] = '\0';
    bool bAdded = AddListField(pTo, pszOut, n);
    if (pszOut != szOnStack)
        free(pszOut);
    return bAdded;
}

const char* FieldOf(const ListRecord* pRecord, int nColumn)
{
    if (pRecord->ppszFields == NULL || nColumn >= pRecord->nCount || pRecord->ppszFields[nColumn] == NULL)
        return "";
    return pRecord->ppszFields[nColumn];
}

int CountOf(const ListRecord* pRecord)
{
    return (pRecord->ppszFields == NULL || pRecord->nCount < 0) ? 0 : pRecord->nCount;
}

}  // namespace

// Appends each of the first nColumns names of pNames after "HTML:", the
// names of "[[HTML:Name]]".
static bool AddMarkupNames(const ListRecord* pNames, int nColumns, ListRecord* pOut)
{
    size_t cchPrefix = strlen(LC_HTML_MARKUP_PREFIX);
    for (int i = 0; i < nColumns; ++i) {
        const char* pszName = FieldOf(pNames, i);
        size_t cchName = strlen(pszName);
        char szOnStack[kcchOnStack];
        bool bOnStack = cchPrefix + cchName < kcchOnStack;
        char* pszMarkup = bOnStack ? szOnStack : (char*)malloc(cchPrefix + cchName + 1);
        if (pszMarkup == NULL)
            return false;
        memcpy(pszMarkup, LC_HTML_MARKUP_PREFIX, cchPrefix);
        memcpy(pszMarkup + cchPrefix, pszName, cchName + 1);
        bool bAdded = AddListField(pOut, pszMarkup, cchPrefix + cchName);
        if (!bOnStack)
            free(pszMarkup);
        if (!bAdded)
            return false;
    }
    return true;
}

bool MakeHtmlHeader(const ListRecord* pHeader, ListRecord* pHtmlHeader)
{
    ClearListRecord(pHtmlHeader);
    int nColumns = CountOf(pHeader);
    for (int i = 0; i < nColumns; ++i) {
        if (!AddEscaped(pHtmlHeader, FieldOf(pHeader, i), false))
            return false;
    }
    return AddMarkupNames(pHtmlHeader, nColumns, pHtmlHeader);
}

bool MakeHtmlValues(const ListRecord* pRecord, int nColumns, ListRecord* pHtmlValues)
{
    ClearListRecord(pHtmlValues);
    for (int i = 0; i < nColumns; ++i) {
        if (!AddEscaped(pHtmlValues, FieldOf(pRecord, i), true))
            return false;
    }
    return true;
}

bool MakeHtmlRecord(const ListRecord* pRecord, int nColumns, ListRecord* pHtmlRecord)
{
    if (!MakeHtmlValues(pRecord, nColumns, pHtmlRecord))
        return false;
    for (int i = 0; i < nColumns; ++i) {
        const char* pszValue = FieldOf(pRecord, i);
        if (!AddListField(pHtmlRecord, pszValue, strlen(pszValue)))
            return false;
    }
    return true;
}

bool MakePlainHeader(const ListRecord* pHeader, ListRecord* pPlainHeader)
{
    ClearListRecord(pPlainHeader);
    int nColumns = CountOf(pHeader);
    for (int i = 0; i < nColumns; ++i) {
        const char* pszName = FieldOf(pHeader, i);
        if (!AddListField(pPlainHeader, pszName, strlen(pszName)))
            return false;
    }
    return AddMarkupNames(pHeader, nColumns, pPlainHeader);
}

bool MakePlainRecord(const ListRecord* pRecord, int nColumns, ListRecord* pPlainRecord)
{
    ClearListRecord(pPlainRecord);
    for (int nPass = 0; nPass < 2; ++nPass) {
        for (int i = 0; i < nColumns; ++i) {
            const char* pszValue = FieldOf(pRecord, i);
            if (!AddListField(pPlainRecord, pszValue, strlen(pszValue)))
                return false;
        }
    }
    return true;
}

// The character that begins at p (not at its end) and how many bytes it
// takes; a byte that begins no UTF-8 sequence, or the longest start of one
// that breaks off, reads as U+FFFD. The engine hands over only UTF-8 (the
// list reader checks every line, the HTML is made from UTF-16), so that never
// reaches a message; it only keeps the bytes from being read as anything else.
static size_t ReadUtf8Char(const unsigned char* p, unsigned* puChar)
{
    unsigned ch = p[0];
    if (ch < 0x80) {
        *puChar = ch;
        return 1;
    }
    size_t cbMore = 0;
    unsigned uChar = 0;
    if (ch >= 0xC2 && ch <= 0xDF) {
        cbMore = 1;
        uChar = ch & 0x1F;
    } else if (ch >= 0xE0 && ch <= 0xEF) {
        cbMore = 2;
        uChar = ch & 0x0F;
    } else if (ch >= 0xF0 && ch <= 0xF4) {
        cbMore = 3;
        uChar = ch & 0x07;
    } else {
        *puChar = 0xFFFD;
        return 1;
    }
    for (size_t i = 1; i <= cbMore; ++i) {
        // The second byte also rules out overlong forms, surrogates and
        // numbers past U+10FFFF; the terminator is outside every range.
        unsigned uLow = 0x80, uHigh = 0xBF;
        if (i == 1) {
            if (ch == 0xE0)
                uLow = 0xA0;
            else if (ch == 0xED)
                uHigh = 0x9F;
            else if (ch == 0xF0)
                uLow = 0x90;
            else if (ch == 0xF4)
                uHigh = 0x8F;
        }
        if (p[i] < uLow || p[i] > uHigh) {
            *puChar = 0xFFFD;
            return i;
        }
        uChar = (uChar << 6) | (p[i] & 0x3F);
    }
    *puChar = uChar;
    return cbMore + 1;
}

char* Utf8ToHtmlCodePage(const char* pszUtf8, unsigned uCodePage)
{
    if (pszUtf8 == NULL)
        pszUtf8 = "";
    size_t cb = strlen(pszUtf8);
    if (uCodePage == LC_HTML_CP_UTF8) {
        char* pszCopy = (char*)malloc(cb + 1);
        if (pszCopy)
            memcpy(pszCopy, pszUtf8, cb + 1);
        return pszCopy;
    }
    // Every byte as at most "&#65533;" (8 bytes); a character of two bytes
    // or more needs at most four per byte ("&#1114111;" for four).
    if (cb > ((size_t)-1 - 1) / 8)
        return NULL;
    char* pszOut = (char*)malloc(cb * 8 + 1);
    if (pszOut == NULL)
        return NULL;
    const unsigned char* p = (const unsigned char*)pszUtf8;
    size_t cbOut = 0;
    while (*p) {
        unsigned uChar = 0;
        p += ReadUtf8Char(p, &uChar);
        if (uChar < 0x80) {
            pszOut[cbOut++] = (char)uChar;
            continue;
        }
        size_t cbBytes = uCodePage == LC_HTML_CP_ANSI ? AnsiBytesOf(uChar, pszOut + cbOut) : 0;
        if (cbBytes > 0) {
            cbOut += cbBytes;
            continue;
        }
        // Decimal, as the engine has always written them.
        char szDigits[8];
        size_t nDigits = 0;
        do {
            szDigits[nDigits++] = (char)('0' + uChar % 10);
            uChar /= 10;
        } while (uChar);
        pszOut[cbOut++] = '&';
        pszOut[cbOut++] = '#';
        while (nDigits)
            pszOut[cbOut++] = szDigits[--nDigits];
        pszOut[cbOut++] = ';';
    }
    pszOut[cbOut] = '\0';
    return pszOut;
}

bool FieldsStandInHtmlCodePage(const ListRecord* pFrom, unsigned uCodePage)
{
    if (uCodePage == LC_HTML_CP_UTF8)
        return true;
    for (int i = 0; i < CountOf(pFrom); ++i) {
        for (const char* psz = pFrom->ppszFields[i] ? pFrom->ppszFields[i] : ""; *psz; ++psz) {
            if ((unsigned char)*psz >= 0x80)
                return false;
        }
    }
    return true;
}

bool EncodeFieldsForHtml(const ListRecord* pFrom, ListRecord* pTo, unsigned uCodePage)
{
    ClearListRecord(pTo);
    for (int i = 0; i < CountOf(pFrom); ++i) {
        const char* pszField = pFrom->ppszFields[i] ? pFrom->ppszFields[i] : "";
        // UTF-8 goes as it is, and so does ASCII into every code page: no
        // converted copy to make and free for the common field.
        size_t cch = 0;
        bool bAscii = true;
        for (; pszField[cch]; ++cch)
            bAscii = bAscii && (unsigned char)pszField[cch] < 0x80;
        if (bAscii || uCodePage == LC_HTML_CP_UTF8) {
            if (!AddListField(pTo, pszField, cch))
                return false;
            continue;
        }
        char* pszOut = Utf8ToHtmlCodePage(pszField, uCodePage);
        bool bAdded = pszOut && AddListField(pTo, pszOut, strlen(pszOut));
        free(pszOut);
        if (!bAdded)
            return false;
    }
    return true;
}
