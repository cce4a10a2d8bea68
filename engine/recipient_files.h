// Each recipient's own files, named in the mailing list's attachment column:
// checked by the counting pass before anything is sent, and added to the
// recipient's copy while it is filled.
#ifndef LETTERCAST_RECIPIENT_FILES_H
#define LETTERCAST_RECIPIENT_FILES_H

#include <stdio.h>

#include "mailing/attachment_column.h"

struct SendJobState;

#define LC_FILE_PROBLEMS_SHOWN 5       // unreadable files named in the box; the rest are counted
#define LC_LARGE_COPIES_SHOWN 5        // oversized copies named in the warning
#define LC_LARGE_COPY_BYTES (20ULL * 1024 * 1024)   // most servers refuse messages of 25 MB

// What the counting pass found over the whole list.
struct RecipientFilesCheck {
    int nProblems;            // files missing or unreadable
    int nLargeCopies;         // copies whose files exceed LC_LARGE_COPY_BYTES
    char szProblems[LC_FILE_PROBLEMS_SHOWN * (LC_ATTACHMENT_PATH_CAPACITY + 48)];
    char szLargeCopies[LC_LARGE_COPIES_SHOWN * 320];
};

// Finds the column in the header the counting pass has read; resets the counts.
void BeginRecipientFiles(SendJobState* pState, RecipientFilesCheck* pCheck);
// The same for one recipient's test copy, its relative paths taken from the
// folder of pszListPath (ANSI, as the dialog gives it).
void BeginTestCopyFiles(SendJobState* pState, const char* pszListPath);
// The files of the record just counted, at line nLine of the list.
void CheckRecipientFiles(SendJobState* pState, RecipientFilesCheck* pCheck, int nLine);
// After the counting pass: false, with the user told, when a file cannot be
// read or the user does not send copies that large.
bool ConfirmRecipientFiles(SendJobState* pState, const RecipientFilesCheck* pCheck);

// The start block's line naming the column and the files in all; nothing
// without the column.
void LogRecipientFilesStart(FILE* pLog, const SendJobState* pState);

// Adds the current recipient's files to its copy, each under its own name,
// counting them in pState->nAttachedFiles. False when the host refuses one:
// szNotSentReason names the file and the host's error, and the copy, which
// must not go without it, is deleted.
bool AttachRecipientFiles(SendJobState* pState);

#endif
