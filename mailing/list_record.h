// One parsed mailing-list record, owned by its user and reused from record to
// record. Plain C++ over the C runtime, so it also builds natively.
#ifndef LETTERCAST_LIST_RECORD_H
#define LETTERCAST_LIST_RECORD_H

#include <stddef.h>

#define LC_RECORD_RAW_CAPACITY 512   // a record's raw text holds at most 511 characters
#define LC_FIELD_TABLE_STEP 100      // the field table grows by this many slots

struct ListRecord {
    int nCount;                           // fields in the record
    int nCapacity;                        // slots allocated in the field table
    char** ppszFields;                    // owned heap texts, in column order
    char szRaw[LC_RECORD_RAW_CAPACITY];   // the record's text as read
};

// A fresh record: no fields, no table, empty raw text.
void InitListRecord(ListRecord* pRecord);
// Count 0 and raw text empty. The table stays, and so do the field texts
// beyond the count, emptied, for later fields to be copied into when they fit.
void ClearListRecord(ListRecord* pRecord);
// Frees every field text and the table (count and capacity 0).
void FreeListRecord(ListRecord* pRecord);

// Adds a field holding a copy of cchText characters of pszText, in the text
// the slot keeps from an earlier record when that is large enough, else in a
// new block. When the new count reaches the capacity the table first grows by
// LC_FIELD_TABLE_STEP; slots beyond the count are NULL or such kept texts.
// Out of memory for the table drops the whole table (count and capacity 0);
// out of memory for the text drops only this field. Both return false and
// leave the reporting to the caller.
bool AddListField(ListRecord* pRecord, const char* pszText, size_t cchText);
// Appends cchText characters of pszText to the last field. Out of memory drops
// that field (the count steps back). Returns false then, and when the record
// has no field to append to.
bool AppendToLastField(ListRecord* pRecord, const char* pszText, size_t cchText);

// Every allocation of field tables and field texts goes through this pointer,
// which starts as the C runtime's realloc; tests point it elsewhere to run out
// of memory on purpose. Whatever it hands out is released with free.
typedef void* (*ListReallocFunction)(void* pBlock, size_t cbSize);
extern ListReallocFunction gpfnListRealloc;

#endif
