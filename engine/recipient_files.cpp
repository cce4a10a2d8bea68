#include "engine/recipient_files.h"

#include <stdlib.h>
#include <string.h>

#include "engine/com_holder.h"
#include "engine/engine_report.h"
#include "engine/host_dispatch.h"
#include "engine/job_progress.h"
#include "engine/send_job_state.h"
#include "logs/job_log.h"
#include "mailing/bounded_copy.h"
#include "mailing/text_conversion.h"
#include "settings/settings_store.h"

namespace {

enum {
    olByValue = 1,
};

// Appends to a fixed buffer while it has room; a line that does not fit is
// left out whole, and the count in the text says how many there were.
void AppendLine(char* pszText, size_t cchText, const char* pszLine)
{
    size_t cchUsed = strlen(pszText);
    size_t cchLine = strlen(pszLine);
    if (cchUsed + cchLine + 1 >= cchText)
        return;
    memcpy(pszText + cchUsed, pszLine, cchLine + 1);
}

const char* RecordCell(const SendJobState* pState)
{
    if (pState->nAttachmentColumn < 0 || pState->nAttachmentColumn >= pState->record.nCount)
        return NULL;
    return pState->record.ppszFields[pState->nAttachmentColumn];
}

void NoteProblem(RecipientFilesCheck* pCheck, int nLine, const char* pszPath, const char* pszWhy)
{
    if (++pCheck->nProblems > LC_FILE_PROBLEMS_SHOWN)
        return;
    char szLine[LC_ATTACHMENT_PATH_CAPACITY + 96];
    char szPath[LC_ATTACHMENT_PATH_CAPACITY];
    CopyBounded(szPath, sizeof(szPath), pszPath);
    SpaceEveryLineBreak(szPath);
    // The box is in the ANSI code page.
    Utf8ToAnsiInPlace(szPath);
    snprintf(szLine, sizeof(szLine), "Line %d: %s (%s)\n", nLine, szPath, pszWhy);
    AppendLine(pCheck->szProblems, sizeof(pCheck->szProblems), szLine);
}

// The host's description of a refusal, or its code when it gave none.
void DescribeComError(const _com_error& error, char* pszText, size_t cchText)
{
    char szDescription[256] = "";
    _bstr_t description = error.Description();
    if (description.length() > 0)
        WideToAnsi((const wchar_t*)description, szDescription, sizeof(szDescription));
    if (szDescription[0])
        snprintf(pszText, cchText, "%s (0x%08lX)", szDescription, (unsigned long)error.Error());
    else
        snprintf(pszText, cchText, "error 0x%08lX", (unsigned long)error.Error());
}

// A copy that stays behind without its files could be sent from Drafts by
// hand; it goes, and a failure to delete it changes nothing for the job.
void DeleteUnsentCopy(SendJobState* pState)
{
    if (pState->pCopy == NULL)
        return;
    try {
        DispTryCallMethod(pState->pCopy, L"Delete", NULL, 0, NULL);
    } catch (...) {
    }
}

// The list's folder, in which relative paths start, as UTF-8 like the paths:
// the list's path is ANSI.
void SetListFolder(SendJobState* pState, const char* pszListPath)
{
    char szFolder[MAX_PATH];
    ListFolderOf(pszListPath, szFolder, sizeof(szFolder));
    char* pszUtf8 = AnsiToUtf8Heap(szFolder);
    pState->szListFolder[0] = '\0';
    if (pszUtf8 && strlen(pszUtf8) < sizeof(pState->szListFolder))
        memcpy(pState->szListFolder, pszUtf8, strlen(pszUtf8) + 1);
    free(pszUtf8);
}

}  // namespace

void BeginTestCopyFiles(SendJobState* pState, const char* pszListPath)
{
    RecipientFilesCheck* pCheck = (RecipientFilesCheck*)malloc(sizeof(RecipientFilesCheck));
    if (pCheck)
        BeginRecipientFiles(pState, pCheck);
    free(pCheck);
    SetListFolder(pState, pszListPath);
}

void BeginRecipientFiles(SendJobState* pState, RecipientFilesCheck* pCheck)
{
    memset(pCheck, 0, sizeof(*pCheck));
    pState->nAttachmentFiles = 0;
    pState->nAttachmentColumn = FindAttachmentColumn(&pState->header);
    pState->szAttachmentColumn[0] = '\0';
    pState->szListFolder[0] = '\0';
    if (pState->nAttachmentColumn < 0)
        return;
    CopyBounded(pState->szAttachmentColumn, sizeof(pState->szAttachmentColumn),
                pState->header.ppszFields[pState->nAttachmentColumn]);
    SpaceEveryLineBreak(pState->szAttachmentColumn);
    // The name as the user wrote it, without the blanks around it.
    char* pszName = pState->szAttachmentColumn;
    size_t cch = strlen(pszName);
    while (cch > 0 && (pszName[cch - 1] == ' ' || pszName[cch - 1] == '\t'))
        pszName[--cch] = '\0';
    size_t nLead = strspn(pszName, " \t");
    memmove(pszName, pszName + nLead, cch - nLead + 1);
    // Shown in boxes and logs, both in the ANSI code page.
    Utf8ToAnsiInPlace(pszName);
    SetListFolder(pState, JobOptions.ToList);
}

void CheckRecipientFiles(SendJobState* pState, RecipientFilesCheck* pCheck, int nLine)
{
    const char* pszCursor = RecordCell(pState);
    if (pszCursor == NULL)
        return;
    unsigned long long cbCopy = 0;
    char szPath[LC_ATTACHMENT_PATH_CAPACITY];
    for (;;) {
        int nResult = NextAttachmentPath(&pszCursor, pState->szListFolder, szPath, sizeof(szPath));
        if (nResult == AttachmentPathNone)
            break;
        ++pState->nAttachmentFiles;
        if (nResult == AttachmentPathTooLong) {
            NoteProblem(pCheck, nLine, szPath, "the path is too long");
            continue;
        }
        unsigned long long cbFile = 0;
        int nState = CheckAttachmentFile(szPath, &cbFile);
        if (nState == AttachmentFileMissing)
            NoteProblem(pCheck, nLine, szPath, "not found");
        else if (nState == AttachmentFileUnreadable)
            NoteProblem(pCheck, nLine, szPath, "cannot be read");
        cbCopy += cbFile;
    }
    if (cbCopy <= LC_LARGE_COPY_BYTES)
        return;
    if (++pCheck->nLargeCopies > LC_LARGE_COPIES_SHOWN)
        return;
    char szAddress[LC_ADDRESS_CAPACITY];
    CopyBounded(szAddress, sizeof(szAddress), pState->szAddress);
    SpaceEveryLineBreak(szAddress);
    char szLine[LC_ADDRESS_CAPACITY + 64];
    snprintf(szLine, sizeof(szLine), "Line %d: %s (%.1f MB)\n", nLine, szAddress,
             (double)cbCopy / (1024.0 * 1024.0));
    AppendLine(pCheck->szLargeCopies, sizeof(pCheck->szLargeCopies), szLine);
}

bool ConfirmRecipientFiles(SendJobState* pState, const RecipientFilesCheck* pCheck)
{
    if (pState->nAttachmentColumn < 0)
        return true;
    if (pCheck->nProblems > 0) {
        char szText[sizeof(pCheck->szProblems) + LC_FIELD_NAME_CAPACITY + 256];
        char szMore[64] = "";
        if (pCheck->nProblems > LC_FILE_PROBLEMS_SHOWN)
            snprintf(szMore, sizeof(szMore), "and %d more\n", pCheck->nProblems - LC_FILE_PROBLEMS_SHOWN);
        snprintf(szText, sizeof(szText),
                 "%d of the files named in the mailing list's column \"%s\" cannot be attached:\n\n%s%s\n"
                 "Correct the paths or the files and send again. No message was sent.",
                 pCheck->nProblems, pState->szAttachmentColumn, pCheck->szProblems, szMore);
        ShowJobText(pState->hWndOwner, szText);
        // The closing box names the reason in a few words, not the list above.
        char szReason[96];
        snprintf(szReason, sizeof(szReason), "%d file%s named in the mailing list cannot be attached",
                 pCheck->nProblems, pCheck->nProblems == 1 ? "" : "s");
        NoteJobEndReason(szReason);
        return false;
    }
    if (pCheck->nLargeCopies > 0) {
        char szText[sizeof(pCheck->szLargeCopies) + 320];
        char szMore[64] = "";
        if (pCheck->nLargeCopies > LC_LARGE_COPIES_SHOWN)
            snprintf(szMore, sizeof(szMore), "and %d more\n", pCheck->nLargeCopies - LC_LARGE_COPIES_SHOWN);
        snprintf(szText, sizeof(szText),
                 "The files of %d recipient%s come to more than 20 MB for one message, and many mail servers "
                 "refuse messages of 25 MB:\n\n%s%s\nSend %s anyway?",
                 pCheck->nLargeCopies, pCheck->nLargeCopies == 1 ? "" : "s", pCheck->szLargeCopies, szMore,
                 pCheck->nLargeCopies == 1 ? "this copy" : "these copies");
        if (AskJobQuestion(pState->hWndOwner, szText) != IDYES) {
            NoteJobEndReason("copies with more than 20 MB of files were not sent");
            return false;
        }
    }
    return true;
}

void LogRecipientFilesStart(FILE* pLog, const SendJobState* pState)
{
    if (pLog == NULL || pState->nAttachmentColumn < 0)
        return;
    char szLine[LC_FIELD_NAME_CAPACITY + 64];
    snprintf(szLine, sizeof(szLine), "\tAttachments: column %s, %d file%s in all", pState->szAttachmentColumn,
             pState->nAttachmentFiles, pState->nAttachmentFiles == 1 ? "" : "s");
    LogJobText(pLog, szLine);
}

bool AttachRecipientFiles(SendJobState* pState)
{
    pState->nAttachedFiles = 0;
    const char* pszCursor = RecordCell(pState);
    if (pszCursor == NULL)
        return true;
    char szPath[LC_ATTACHMENT_PATH_CAPACITY];
    int nResult;
    ScopedVariant collection;
    while ((nResult = NextAttachmentPath(&pszCursor, pState->szListFolder, szPath, sizeof(szPath))) !=
           AttachmentPathNone) {
        char szWhy[LC_CAUGHT_TEXT_CAPACITY + 256];
        if (nResult == AttachmentPathTooLong) {
            snprintf(szWhy, sizeof(szWhy), "the path is too long");
        } else {
            const char* pszName = szPath;
            for (const char* p = szPath; *p; ++p) {
                if (*p == '\\' || *p == '/' || *p == ':')
                    pszName = p + 1;
            }
            VARIANT args[4];
            for (VARIANT& arg : args)
                VariantInit(&arg);
            V_VT(&args[0]) = VT_BSTR;
            V_BSTR(&args[0]) = CodePageToBstr(szPath, CP_UTF8);
            V_VT(&args[1]) = VT_I4;
            V_I4(&args[1]) = olByValue;
            V_VT(&args[2]) = VT_ERROR;
            V_ERROR(&args[2]) = DISP_E_PARAMNOTFOUND;
            V_VT(&args[3]) = VT_BSTR;
            V_BSTR(&args[3]) = CodePageToBstr(pszName, CP_UTF8);
            bool bAdded = false;
            try {
                if (V_VT(&collection.Get()) == VT_EMPTY)
                    DispGetProperty(pState->pCopy, L"Attachments", &collection);
                ComHolder<IDispatch> attachments(VariantDispatch(collection.Get()));
                if (attachments.Get() == NULL) {
                    snprintf(szWhy, sizeof(szWhy), "the copy has no attachments collection");
                } else {
                    ScopedVariant added;
                    DispCallMethod(attachments, L"Add", args, 4, &added);
                    bAdded = true;
                }
            } catch (const _com_error& error) {
                DescribeComError(error, szWhy, sizeof(szWhy));
            } catch (...) {
                snprintf(szWhy, sizeof(szWhy), "an unexpected error");
            }
            VariantClear(&args[0]);
            VariantClear(&args[3]);
            if (bAdded) {
                ++pState->nAttachedFiles;
                continue;
            }
        }
        // The host's text may hold line breaks; a log line must stay one line.
        char szReason[sizeof(pState->szNotSentReason)];
        // The log and the boxes are in the ANSI code page.
        Utf8ToAnsiInPlace(szPath);
        snprintf(szReason, sizeof(szReason), "the file %s could not be attached: %s", szPath, szWhy);
        CopyBounded(pState->szNotSentReason, sizeof(pState->szNotSentReason), szReason);
        SpaceEveryLineBreak(pState->szNotSentReason);
        DeleteUnsentCopy(pState);
        return false;
    }
    return true;
}
