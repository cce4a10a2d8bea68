#include "mailing/html_text.h"

#include <string.h>

// The character references of HTML: no list records here, so that the
// stand-in Outlook reads HTML with the very same table.

namespace {

struct HtmlEntity {
    const char* pszName;   // without the '&'; with the ';' where HTML has it
    unsigned uFirst;
    unsigned uSecond;
};

#include "mailing/html_entity_table.inc"

const size_t knEntities = sizeof(kHtmlEntities) / sizeof(kHtmlEntities[0]);
const size_t knLongestName = 32;

// The entity named exactly by the cch bytes at psz, or NULL.
const HtmlEntity* FindEntity(const char* psz, size_t cch)
{
    size_t nLow = 0, nHigh = knEntities;
    while (nLow < nHigh) {
        size_t nMid = (nLow + nHigh) / 2;
        const char* pszName = kHtmlEntities[nMid].pszName;
        int nOrder = strncmp(pszName, psz, cch);
        if (nOrder == 0 && pszName[cch] != '\0')
            nOrder = 1;   // a longer name sorts after its prefix
        if (nOrder == 0)
            return &kHtmlEntities[nMid];
        if (nOrder < 0)
            nLow = nMid + 1;
        else
            nHigh = nMid;
    }
    return NULL;
}

bool IsAsciiAlnum(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

int DigitValue(char c, bool bHex)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (bHex && c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (bHex && c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

size_t ReadNumericReference(const char* psz, size_t cch, unsigned* puFirst)
{
    size_t i = 2;
    bool bHex = i < cch && (psz[i] == 'x' || psz[i] == 'X');
    if (bHex)
        ++i;
    size_t nFirstDigit = i;
    unsigned long long nValue = 0;
    for (; i < cch && DigitValue(psz[i], bHex) >= 0; ++i) {
        // Past U+10FFFF it only matters that it is too large.
        if (nValue <= 0x10FFFF)
            nValue = nValue * (bHex ? 16 : 10) + (unsigned)DigitValue(psz[i], bHex);
    }
    if (i == nFirstDigit)
        return 0;
    if (i < cch && psz[i] == ';')
        ++i;
    if (nValue == 0 || nValue > 0x10FFFF || (nValue >= 0xD800 && nValue <= 0xDFFF))
        *puFirst = 0xFFFD;
    else if (nValue >= 0x80 && nValue <= 0x9F)
        *puFirst = kC1References[nValue - 0x80];
    else
        *puFirst = (unsigned)nValue;
    return i;
}

}  // namespace

size_t ReadHtmlReference(const char* psz, size_t cch, unsigned* puFirst, unsigned* puSecond)
{
    *puFirst = 0;
    *puSecond = 0;
    if (psz == NULL || cch < 2 || psz[0] != '&')
        return 0;
    if (psz[1] == '#')
        return ReadNumericReference(psz, cch, puFirst);
    // The longest name that fits: "&notin;" is one reference, "&notit;" is
    // "&not" and "it;".
    size_t cchName = 0;
    while (1 + cchName < cch && cchName < knLongestName && IsAsciiAlnum(psz[1 + cchName]))
        ++cchName;
    bool bSemicolon = 1 + cchName < cch && psz[1 + cchName] == ';';
    for (size_t n = cchName + (bSemicolon ? 1 : 0); n > 0; --n) {
        const HtmlEntity* pEntity = FindEntity(psz + 1, n);
        if (pEntity) {
            *puFirst = pEntity->uFirst;
            *puSecond = pEntity->uSecond;
            return n + 1;
        }
    }
    return 0;
}

size_t PutUtf8(char* pszOut, unsigned uChar)
{
    if (uChar < 0x80) {
        pszOut[0] = (char)uChar;
        return 1;
    }
    if (uChar < 0x800) {
        pszOut[0] = (char)(0xC0 | (uChar >> 6));
        pszOut[1] = (char)(0x80 | (uChar & 0x3F));
        return 2;
    }
    if (uChar < 0x10000) {
        pszOut[0] = (char)(0xE0 | (uChar >> 12));
        pszOut[1] = (char)(0x80 | ((uChar >> 6) & 0x3F));
        pszOut[2] = (char)(0x80 | (uChar & 0x3F));
        return 3;
    }
    pszOut[0] = (char)(0xF0 | (uChar >> 18));
    pszOut[1] = (char)(0x80 | ((uChar >> 12) & 0x3F));
    pszOut[2] = (char)(0x80 | ((uChar >> 6) & 0x3F));
    pszOut[3] = (char)(0x80 | (uChar & 0x3F));
    return 4;
}

unsigned JoinSurrogates(unsigned uHigh, unsigned uLow)
{
    return 0x10000 + ((uHigh - 0xD800) << 10) + (uLow - 0xDC00);
}
