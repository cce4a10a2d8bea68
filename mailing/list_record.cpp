#include "mailing/list_record.h"

#include <stdlib.h>
#include <string.h>

ListReallocFunction gpfnListRealloc = realloc;

void InitListRecord(ListRecord* pRecord)
{
    pRecord->nCount = 0;
    pRecord->nCapacity = 0;
    pRecord->ppszFields = NULL;
    pRecord->szRaw[0] = '\0';
}

void ClearListRecord(ListRecord* pRecord)
{
    for (int i = 0; i < pRecord->nCount; ++i) {
        free(pRecord->ppszFields[i]);
        pRecord->ppszFields[i] = NULL;
    }
    pRecord->nCount = 0;
    pRecord->szRaw[0] = '\0';
}

void FreeListRecord(ListRecord* pRecord)
{
    ClearListRecord(pRecord);
    free(pRecord->ppszFields);
    pRecord->ppszFields = NULL;
    pRecord->nCapacity = 0;
}

// The raw text is kept: it belongs to the record being read, not to its table.
static void DropFieldTable(ListRecord* pRecord)
{
    for (int i = 0; i < pRecord->nCount; ++i)
        free(pRecord->ppszFields[i]);
    free(pRecord->ppszFields);
    pRecord->ppszFields = NULL;
    pRecord->nCount = 0;
    pRecord->nCapacity = 0;
}

bool AddListField(ListRecord* pRecord, const char* pszText, size_t cchText)
{
    // Growing before the slot is needed keeps one spare slot at all times.
    if (pRecord->nCount + 1 >= pRecord->nCapacity) {
        int nNewCapacity = pRecord->nCapacity + LC_FIELD_TABLE_STEP;
        char** ppszGrown = (char**)gpfnListRealloc(pRecord->ppszFields, nNewCapacity * sizeof(char*));
        if (!ppszGrown) {
            DropFieldTable(pRecord);
            return false;
        }
        pRecord->ppszFields = ppszGrown;
        pRecord->nCapacity = nNewCapacity;
    }

    char* pszField = (char*)gpfnListRealloc(NULL, cchText + 1);
    if (!pszField)
        return false;
    memcpy(pszField, pszText, cchText);
    pszField[cchText] = '\0';
    pRecord->ppszFields[pRecord->nCount++] = pszField;
    return true;
}

bool AppendToLastField(ListRecord* pRecord, const char* pszText, size_t cchText)
{
    if (pRecord->nCount <= 0 || !pRecord->ppszFields)
        return false;
    char* pszLast = pRecord->ppszFields[pRecord->nCount - 1];
    size_t cchLast = strlen(pszLast);
    char* pszGrown = (char*)gpfnListRealloc(pszLast, cchLast + cchText + 1);
    if (!pszGrown) {
        free(pszLast);
        pRecord->ppszFields[--pRecord->nCount] = NULL;
        return false;
    }
    memcpy(pszGrown + cchLast, pszText, cchText);
    pszGrown[cchLast + cchText] = '\0';
    pRecord->ppszFields[pRecord->nCount - 1] = pszGrown;
    return true;
}
