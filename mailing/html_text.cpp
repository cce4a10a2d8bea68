#include "mailing/html_text.h"

#include <stdlib.h>
#include <string.h>

namespace {

bool AddEscaped(ListRecord* pTo, const char* pszText, bool bQuotes)
{
    size_t cch = 0;
    for (const char* p = pszText; *p; ++p)
        cch += (*p == '&' || *p == '<' || *p == '>' || (bQuotes && (*p == '"' || *p == '\''))) ? 6 : 1;
    char* pszOut = (char*)malloc(cch + 1);
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

char* EscapeHtmlText(const char* pszText)
{
    if (pszText == NULL)
        return NULL;
    ListRecord one;
    InitListRecord(&one);
    char* pszOut = NULL;
    if (AddEscaped(&one, pszText, true) && one.nCount == 1) {
        pszOut = one.ppszFields[0];
        one.ppszFields[0] = NULL;
    }
    FreeListRecord(&one);
    return pszOut;
}

// Appends each of the first nColumns names of pNames after "HTML:", the
// names of "[[HTML:Name]]".
static bool AddMarkupNames(const ListRecord* pNames, int nColumns, ListRecord* pOut)
{
    size_t cchPrefix = strlen(LC_HTML_MARKUP_PREFIX);
    for (int i = 0; i < nColumns; ++i) {
        const char* pszName = FieldOf(pNames, i);
        size_t cchName = strlen(pszName);
        char* pszMarkup = (char*)malloc(cchPrefix + cchName + 1);
        if (pszMarkup == NULL)
            return false;
        memcpy(pszMarkup, LC_HTML_MARKUP_PREFIX, cchPrefix);
        memcpy(pszMarkup + cchPrefix, pszName, cchName + 1);
        bool bAdded = AddListField(pOut, pszMarkup, cchPrefix + cchName);
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

bool MakeHtmlRecord(const ListRecord* pRecord, int nColumns, ListRecord* pHtmlRecord)
{
    ClearListRecord(pHtmlRecord);
    for (int i = 0; i < nColumns; ++i) {
        if (!AddEscaped(pHtmlRecord, FieldOf(pRecord, i), true))
            return false;
    }
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
