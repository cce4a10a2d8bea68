// The mailing list's column of per-recipient files: which column it is, the
// paths a cell names, and whether a named file can be read.
#ifndef LETTERCAST_ATTACHMENT_COLUMN_H
#define LETTERCAST_ATTACHMENT_COLUMN_H

#include <stddef.h>

#include "mailing/list_record.h"

// Paths are UTF-8, as the list reader hands out its fields, and reach the
// file system as Unicode. A resolved path holds at most 259 characters
// (MAX_PATH), each up to 3 bytes of UTF-8 (a character beyond U+FFFF is two
// of the 259 and 4 bytes).
#define LC_ATTACHMENT_PATH_CHARS 260
#define LC_ATTACHMENT_PATH_CAPACITY (3 * LC_ATTACHMENT_PATH_CHARS)

// The index of the first column whose whole name (trimmed, any case) is
// "Attachment" or "Attachments", or -1.
int FindAttachmentColumn(const ListRecord* pHeader);

// The folder of the list file, without a trailing separator; "" when the
// path names no folder (the current one is meant then). The folder is in the
// text of the path given.
void ListFolderOf(const char* pszListPath, char* pszFolder, size_t cchFolder);

enum AttachmentPathResult {
    AttachmentPathNone = 0,     // the cell holds no more paths
    AttachmentPathFound = 1,    // *pszPath holds the next one
    AttachmentPathTooLong = 2,  // the next one would not fit; *pszPath holds its text as written, cut
};

// The next path of a cell: pieces between ";", blanks and quotes around each
// ignored, empty pieces passed over. A relative path is taken from
// pszListFolder. *ppszCursor starts at the cell and moves past the piece.
int NextAttachmentPath(const char** ppszCursor, const char* pszListFolder, char* pszPath, size_t cchPath);

enum AttachmentFileState {
    AttachmentFileReadable = 0,
    AttachmentFileMissing = 1,
    AttachmentFileUnreadable = 2,   // there, but a folder, locked or not ours to read
};

// Whether the file of the UTF-8 path can be opened for reading now, and its
// size when it can.
int CheckAttachmentFile(const char* pszPath, unsigned long long* pcbSize);

#endif
