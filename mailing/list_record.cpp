#include "mailing/list_record.h"

#include <stdlib.h>
#include <string.h>
#include <malloc.h>

ListReallocFunction gpfnListRealloc = realloc;

// What pszRaw points to while a record has no block of its own; only ever
// holds its terminator.
static char sszNoRaw[1];

void InitListRecord(ListRecord* pRecord)
{
    pRecord->nCount = 0;
    pRecord->nCapacity = 0;
    pRecord->ppszFields = NULL;
    pRecord->pszRaw = sszNoRaw;
    pRecord->cbRawCapacity = 0;
}

// How many characters a field's block holds, terminator included.
static size_t BlockSize(const char* pszField)
{
#ifdef _WIN32
    return _msize((void*)pszField);
#else
    return malloc_usable_size((void*)pszField);
#endif
}

// The table's block holds the slots' texts and, after them, how large each
// text's block is: asking the heap for a block's size on every field of every
// record was a fifth of a pass under Wine. A slot's size is taken from the
// heap once, when its block is made.
static size_t* SlotSizes(ListRecord* pRecord)
{
    return (size_t*)(pRecord->ppszFields + pRecord->nCapacity);
}

void ClearListRecord(ListRecord* pRecord)
{
    // The texts stay allocated in their slots, empty, for the next record's
    // fields to be copied into: a list is read record after record with one
    // record, and a heap block per field per record was most of the reading.
    for (int i = 0; i < pRecord->nCount; ++i) {
        if (pRecord->ppszFields[i])
            pRecord->ppszFields[i][0] = '\0';
    }
    pRecord->nCount = 0;
    pRecord->pszRaw[0] = '\0';
}

// The raw text is kept: it belongs to the record being read, not to its table.
static void DropFieldTable(ListRecord* pRecord)
{
    if (pRecord->ppszFields) {
        for (int i = 0; i < pRecord->nCapacity; ++i)
            free(pRecord->ppszFields[i]);
    }
    free(pRecord->ppszFields);
    pRecord->ppszFields = NULL;
    pRecord->nCount = 0;
    pRecord->nCapacity = 0;
}

void FreeListRecord(ListRecord* pRecord)
{
    DropFieldTable(pRecord);
    if (pRecord->cbRawCapacity > 0)
        free(pRecord->pszRaw);
    pRecord->pszRaw = sszNoRaw;
    pRecord->cbRawCapacity = 0;
}

bool AppendListRaw(ListRecord* pRecord, const char* pszText, size_t cbText)
{
    size_t cbUsed = strlen(pRecord->pszRaw);
    if (cbUsed + cbText + 1 > pRecord->cbRawCapacity) {
        size_t cbNew = pRecord->cbRawCapacity < 256 ? 256 : pRecord->cbRawCapacity;
        while (cbNew < cbUsed + cbText + 1)
            cbNew *= 2;
        char* pszOld = pRecord->cbRawCapacity > 0 ? pRecord->pszRaw : NULL;
        char* pszGrown = (char*)realloc(pszOld, cbNew);
        if (!pszGrown)
            return false;
        if (!pszOld)
            pszGrown[0] = '\0';
        pRecord->pszRaw = pszGrown;
        pRecord->cbRawCapacity = cbNew;
    }
    memcpy(pRecord->pszRaw + cbUsed, pszText, cbText);
    pRecord->pszRaw[cbUsed + cbText] = '\0';
    return true;
}

bool AddListField(ListRecord* pRecord, const char* pszText, size_t cchText)
{
    // Growing before the slot is needed keeps one spare slot at all times.
    if (pRecord->nCount + 1 >= pRecord->nCapacity) {
        int nOldCapacity = pRecord->nCapacity;
        int nNewCapacity = nOldCapacity + LC_FIELD_TABLE_STEP;
        char** ppszGrown =
            (char**)gpfnListRealloc(pRecord->ppszFields, nNewCapacity * (sizeof(char*) + sizeof(size_t)));
        if (!ppszGrown) {
            DropFieldTable(pRecord);
            return false;
        }
        // The sizes move behind the longer row of texts.
        size_t* pcbOld = (size_t*)(ppszGrown + nOldCapacity);
        size_t* pcbNew = (size_t*)(ppszGrown + nNewCapacity);
        memmove(pcbNew, pcbOld, nOldCapacity * sizeof(size_t));
        for (int i = nOldCapacity; i < nNewCapacity; ++i) {
            ppszGrown[i] = NULL;
            pcbNew[i] = 0;
        }
        pRecord->ppszFields = ppszGrown;
        pRecord->nCapacity = nNewCapacity;
    }

    // A text left in the slot by an earlier record takes the field when it
    // is large enough; otherwise a block of the field's own size replaces it.
    size_t* pcbSlots = SlotSizes(pRecord);
    char* pszField = pRecord->ppszFields[pRecord->nCount];
    if (!pszField || pcbSlots[pRecord->nCount] < cchText + 1) {
        free(pszField);
        pRecord->ppszFields[pRecord->nCount] = NULL;
        pcbSlots[pRecord->nCount] = 0;
        pszField = (char*)gpfnListRealloc(NULL, cchText + 1);
        if (!pszField)
            return false;
        pcbSlots[pRecord->nCount] = BlockSize(pszField);
    }
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
        SlotSizes(pRecord)[pRecord->nCount - 1] = 0;
        pRecord->ppszFields[--pRecord->nCount] = NULL;
        return false;
    }
    SlotSizes(pRecord)[pRecord->nCount - 1] = BlockSize(pszGrown);
    memcpy(pszGrown + cchLast, pszText, cchText);
    pszGrown[cchLast + cchText] = '\0';
    pRecord->ppszFields[pRecord->nCount - 1] = pszGrown;
    return true;
}
