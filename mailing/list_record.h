// One parsed mailing-list record, owned by its user and reused from record to
// record. Plain C++ over the C runtime, so it also builds natively.
#ifndef LETTERCAST_LIST_RECORD_H
#define LETTERCAST_LIST_RECORD_H

#include <stddef.h>

// A record's raw text holds at most this many characters (UTF-8 sequences,
// not bytes); its block grows as the record is read.
#define LC_RECORD_MAX_CHARS 32767
#define LC_FIELD_TABLE_STEP 100      // the field table grows by this many slots
// A buffer that holds any record's raw text: LC_RECORD_MAX_CHARS
// characters, each up to 4 bytes of UTF-8.
#define LC_RAW_RECORD_CAPACITY (4 * LC_RECORD_MAX_CHARS + 1)

struct ListRecord;
// A fresh record: no fields, no table, empty raw text.
void InitListRecord(ListRecord* pRecord);
// Frees every field text and the table (count and capacity 0); the record
// is fresh again.
void FreeListRecord(ListRecord* pRecord);

// Starts fresh and frees what it holds when it goes; not copyable, for its
// texts are its own.
struct ListRecord {
    ListRecord() { InitListRecord(this); }
    ~ListRecord() { FreeListRecord(this); }
    ListRecord(const ListRecord&) = delete;
    ListRecord& operator=(const ListRecord&) = delete;

    int nCount;                           // fields in the record
    int nCapacity;                        // slots allocated in the field table
    // Owned heap texts, in column order; the table's block holds each text's
    // block size after them.
    char** ppszFields;
    char* pszRaw;                         // the record's text as read, UTF-8; never NULL
    size_t cbRawCapacity;                 // bytes of pszRaw's own block, 0 while it has none
};

// Count 0 and raw text empty. The table stays, and so do the field texts
// beyond the count, emptied, for later fields to be copied into when they fit.
void ClearListRecord(ListRecord* pRecord);

// Adds a field holding a copy of cchText characters of pszText, in the text
// the slot keeps from an earlier record when that is large enough, else in a
// new block. When the new count reaches the capacity the table first grows by
// LC_FIELD_TABLE_STEP; slots beyond the count are NULL or such kept texts.
// Out of memory for the table drops the whole table (count and capacity 0);
// out of memory for the text drops only this field. Both return false and
// leave the reporting to the caller.
bool AddListField(ListRecord* pRecord, const char* pszText, size_t cchText);
// Appends cbText bytes to the raw text, growing its block as needed. Out of
// memory leaves the raw text as it was and returns false.
bool AppendListRaw(ListRecord* pRecord, const char* pszText, size_t cbText);
// Appends cchText characters of pszText to the last field. Out of memory drops
// that field (the count steps back). Returns false then, and when the record
// has no field to append to.
bool AppendToLastField(ListRecord* pRecord, const char* pszText, size_t cchText);

// Every allocation of field tables and field texts (not of the raw text) goes
// through this pointer,
// which starts as the C runtime's realloc; tests point it elsewhere to run out
// of memory on purpose. Whatever it hands out is released with free.
typedef void* (*ListReallocFunction)(void* pBlock, size_t cbSize);
extern ListReallocFunction gpfnListRealloc;

#endif
