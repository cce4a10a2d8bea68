#include "mailing/mail_merge.h"

#include <ctype.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

// The caller adds the slack to the needed size and passes it + 1 as capacity,
// so a larger size could not be allocated or passed as an int.
const long long knMaxNeeded = INT_MAX - LC_MERGE_SLACK;

int UpperChar(char ch)
{
    // toupper takes an unsigned char value: bytes of 0x80 and above would
    // otherwise arrive negative.
    return toupper((unsigned char)ch);
}

int FieldCount(const ListRecord* pRecord)
{
    // A record whose table was dropped for want of memory keeps no fields.
    if (pRecord->ppszFields == NULL || pRecord->nCount < 0)
        return 0;
    return pRecord->nCount;
}

// A column the record lacks reads as the empty value.
const char* FieldText(const ListRecord* pRecord, int nColumn)
{
    if (nColumn >= FieldCount(pRecord) || pRecord->ppszFields[nColumn] == NULL)
        return "";
    return pRecord->ppszFields[nColumn];
}

// Stops counting at nLimit, so an overlong field is judged without reading
// all of it.
size_t BoundedLength(const char* psz, size_t nLimit)
{
    size_t n = 0;
    while (n < nLimit && psz[n] != '\0')
        ++n;
    return n;
}

// Every name and every value is checked before any text changes, used or
// not, so that one recipient fails for all of its texts alike.
bool FieldsWithinLimits(const ListRecord* pHeader, const ListRecord* pRecord)
{
    int nNames = FieldCount(pHeader);
    for (int i = 0; i < nNames; ++i) {
        if (BoundedLength(FieldText(pHeader, i), LC_MERGE_NAME_LIMIT) >= LC_MERGE_NAME_LIMIT)
            return false;
    }
    int nValues = FieldCount(pRecord);
    for (int i = 0; i < nValues; ++i) {
        if (BoundedLength(FieldText(pRecord, i), LC_MERGE_FIELD_CAPACITY) >= LC_MERGE_FIELD_CAPACITY)
            return false;
    }
    return true;
}

// Placeholder and value of one column in their fixed buffers. The limits have
// been checked, so both fit; false all the same rather than merge a cut text.
bool PrepareColumn(const ListRecord* pHeader, const ListRecord* pRecord, int nColumn,
                   char* pszPlaceholder, int* pnPlaceholder, char* pszValue, int* pnValue)
{
    int n = snprintf(pszPlaceholder, LC_MERGE_FIELD_CAPACITY, "[[%s]]", FieldText(pHeader, nColumn));
    if (n < 0 || n >= LC_MERGE_FIELD_CAPACITY)
        return false;
    *pnPlaceholder = n;

    const char* pszField = FieldText(pRecord, nColumn);
    size_t cchValue = strlen(pszField);
    if (cchValue >= LC_MERGE_FIELD_CAPACITY)
        return false;
    memcpy(pszValue, pszField, cchValue + 1);
    *pnValue = (int)cchValue;
    return true;
}

bool SizeMerge(const char* pszText, const ListRecord* pHeader, const ListRecord* pRecord,
               int* pnNeeded)
{
    size_t cchText = strlen(pszText);
    if ((long long)cchText + 1 > knMaxNeeded)
        return false;
    long long nNeeded = (long long)cchText + 1;

    char szPlaceholder[LC_MERGE_FIELD_CAPACITY];
    char szValue[LC_MERGE_FIELD_CAPACITY];
    int nColumns = FieldCount(pHeader);
    for (int i = 0; i < nColumns; ++i) {
        int nPlaceholder = 0;
        int nValue = 0;
        if (!PrepareColumn(pHeader, pRecord, i, szPlaceholder, &nPlaceholder, szValue, &nValue))
            return false;
        // Shorter values never lower the size: the in-place call may still
        // meet the longer text before they shrink it.
        if (nValue <= nPlaceholder)
            continue;
        int nPos = FindNoCase(pszText, 0, szPlaceholder);
        while (nPos >= 0) {
            nNeeded += nValue - nPlaceholder;
            // A wrapped int would hand the caller a small buffer for a large text.
            if (nNeeded > knMaxNeeded)
                return false;
            nPos = FindNoCase(pszText, nPos + nPlaceholder, szPlaceholder);
        }
    }

    *pnNeeded = nNeeded < LC_MERGE_MIN_SIZE ? LC_MERGE_MIN_SIZE : (int)nNeeded;
    return true;
}

bool MergeInPlace(char* pszText, int cchCapacity, const ListRecord* pHeader,
                  const ListRecord* pRecord)
{
    if (cchCapacity <= 0)
        return false;
    // A text with no terminator inside the buffer cannot be shifted safely.
    size_t cchFound = BoundedLength(pszText, (size_t)cchCapacity);
    if (cchFound >= (size_t)cchCapacity)
        return false;
    int cchText = (int)cchFound;

    char szPlaceholder[LC_MERGE_FIELD_CAPACITY];
    char szValue[LC_MERGE_FIELD_CAPACITY];
    int nColumns = FieldCount(pHeader);
    for (int i = 0; i < nColumns; ++i) {
        int nPlaceholder = 0;
        int nValue = 0;
        if (!PrepareColumn(pHeader, pRecord, i, szPlaceholder, &nPlaceholder, szValue, &nValue))
            return false;
        // An earlier column's value may hold this placeholder, so the whole
        // current text is searched again.
        int nPos = FindNoCase(pszText, 0, szPlaceholder);
        while (nPos >= 0) {
            int cchRest = cchText - nPlaceholder;
            // The sizing cannot foresee placeholders that earlier values
            // brought in; the result and its terminator must stay inside the
            // capacity before anything moves.
            if ((long long)cchRest + nValue >= cchCapacity)
                return false;
            memmove(pszText + nPos + nValue, pszText + nPos + nPlaceholder,
                    (size_t)(cchText - nPos - nPlaceholder) + 1);
            memcpy(pszText + nPos, szValue, (size_t)nValue);
            cchText = cchRest + nValue;
            // Behind the value, so a value holding its own placeholder is not
            // expanded again.
            nPos = FindNoCase(pszText, nPos + nValue, szPlaceholder);
        }
    }
    return true;
}

}  // namespace

int FindNoCase(const char* pszText, int nStart, const char* pszPlaceholder)
{
    if (pszText == NULL || pszPlaceholder == NULL || nStart < 0)
        return -1;
    if (pszPlaceholder[0] == '\0')
        return nStart;
    for (int i = nStart; pszText[i] != '\0'; ++i) {
        int j = 0;
        while (pszPlaceholder[j] != '\0' && pszText[i + j] != '\0' &&
               UpperChar(pszText[i + j]) == UpperChar(pszPlaceholder[j]))
            ++j;
        if (pszPlaceholder[j] == '\0')
            return i;
        // The text ran out first: no later start has more room.
        if (pszText[i + j] == '\0')
            return -1;
    }
    return -1;
}

bool MergeFields(char* pszText, int cchCapacity, const ListRecord* pHeader,
                 const ListRecord* pRecord, int* pnNeeded)
{
    if (pszText == NULL || pHeader == NULL || pRecord == NULL)
        return false;
    if (!FieldsWithinLimits(pHeader, pRecord))
        return false;
    if (pnNeeded != NULL)
        return SizeMerge(pszText, pHeader, pRecord, pnNeeded);
    return MergeInPlace(pszText, cchCapacity, pHeader, pRecord);
}

MergeResult MergeIntoCopy(const char* pszOriginal, const ListRecord* pHeader,
                          const ListRecord* pRecord, char** ppszCopy)
{
    if (pszOriginal == NULL || ppszCopy == NULL)
        return MergeFailed;
    int nNeeded = 0;
    // The sizing call only reads the text.
    if (!MergeFields(const_cast<char*>(pszOriginal), 0, pHeader, pRecord, &nNeeded))
        return MergeFailed;

    char* pszCopy = (char*)realloc(*ppszCopy, (size_t)nNeeded + LC_MERGE_SLACK);
    if (pszCopy == NULL)
        return MergeNoMemory;
    *ppszCopy = pszCopy;
    // The needed size is never below the original's own size.
    memcpy(pszCopy, pszOriginal, strlen(pszOriginal) + 1);

    if (!MergeFields(pszCopy, nNeeded + 1, pHeader, pRecord, NULL))
        return MergeFailed;
    return MergeDone;
}

char* MergeText(const char* pszOriginal, const ListRecord* pHeader, const ListRecord* pRecord)
{
    char* pszCopy = NULL;
    if (MergeIntoCopy(pszOriginal, pHeader, pRecord, &pszCopy) != MergeDone) {
        free(pszCopy);
        return NULL;
    }
    return pszCopy;
}
