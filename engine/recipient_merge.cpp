#include "engine/recipient_merge.h"

#include <stdlib.h>
#include <string.h>

#include "engine/engine_report.h"
#include "engine/job_questions.h"
#include "engine/send_job_state.h"
#include "logs/job_log.h"
#include "mailing/html_text.h"
#include "mailing/list_reader.h"
#include "mailing/mail_merge.h"
#include "resources/resource.h"

namespace {

char* AllocateCopy(const char* pszOriginal)
{
    return (char*)calloc(strlen(pszOriginal) + 1, 1);
}

}  // namespace

bool AllocateWorkingCopies(SendJobState* pState)
{
    pState->pszSubjectCopy.Reset(AllocateCopy(pState->pszOriginalSubject));
    if (pState->pszSubjectCopy == NULL) {
        ShowJobText(pState->hWndOwner, "Failed to allocate subject copy memory");
        return false;
    }
    pState->pszBodyCopy.Reset(AllocateCopy(pState->pszOriginalBody));
    if (pState->pszBodyCopy == NULL) {
        ShowJobText(pState->hWndOwner, "Failed to allocate body copy memory");
        return false;
    }
    if (pState->pszOriginalHTMLBody) {
        pState->pszHTMLCopy.Reset(AllocateCopy(pState->pszOriginalHTMLBody));
        if (pState->pszHTMLCopy == NULL) {
            ShowJobText(pState->hWndOwner, "Failed to allocate HTML body copy memory");
            return false;
        }
        for (const unsigned char* p = (const unsigned char*)pState->pszOriginalHTMLBody.Get(); *p; ++p) {
            if (*p & 0x80) {
                pState->bNonAsciiHtml = true;
                break;
            }
        }
    }
    pState->nJobStep = StepWorkingCopies;
    pState->nCalls = 0;
    pState->nSinceSendReceive = 0;
    return true;
}

// The header (and, with pRecord, the recipient's fields) as a text of HTML is
// merged with them: names and values as HTML text, then the "HTML:" names
// with the values as markup (mailing/html_text.h), in the HTML's code page.
bool MakeHtmlFieldsFor(SendJobState* pState, const ListRecord* pRecord)
{
    ListRecord escaped;
    bool bMade = MakeHtmlHeader(&pState->header, &escaped) &&
                 EncodeFieldsForHtml(&escaped, &pState->htmlHeader, pState->uHtmlCodePage);
    if (bMade && pRecord)
        bMade = MakeHtmlRecord(pRecord, pState->header.nCount, &escaped) &&
                EncodeFieldsForHtml(&escaped, &pState->htmlRecord, pState->uHtmlCodePage);
    return bMade;
}

namespace {

// The three texts, each merged with its own fields, the limits judged on the
// list's own.
bool MergeTexts(SendJobState* pState, const ListRecord* pPlainHeader, const ListRecord* pPlainRecord)
{
    struct Text {
        const char* pszOriginal;
        char** ppszCopy;
        const ListRecord* pHeader;
        const ListRecord* pRecord;
    } texts[] = {
        { pState->pszOriginalSubject, pState->pszSubjectCopy.Slot(), pPlainHeader, pPlainRecord },
        { pState->pszOriginalBody, pState->pszBodyCopy.Slot(), pPlainHeader, pPlainRecord },
        { pState->pszOriginalHTMLBody, pState->pszHTMLCopy.Slot(), &pState->htmlHeader, &pState->htmlRecord },
    };
    for (const Text& text : texts) {
        if (text.pszOriginal == NULL)
            continue;
        MergeResult result = MergeHtmlIntoCopy(text.pszOriginal, &pState->header, &pState->record, text.pHeader,
                                               text.pRecord, text.ppszCopy);
        if (result == MergeNoMemory)
            return false;
        if (result == MergeFailed) {
            LogMergeError(pState->pCurrentLog);
            ShowListMessage(pState->hWndOwner, IDS_MERGE_FAILED, MB_ICONWARNING | MB_OK);
            return false;
        }
    }
    // A subject is one line: a multi-line value's line breaks become spaces.
    MakeOneLine(pState->pszSubjectCopy);
    return true;
}

}  // namespace

bool MergeRecipient(SendJobState* pState)
{
    // Values land in HTML as text that shows them, "[[HTML:Name]]" as markup.
    if (pState->pszOriginalHTMLBody && !MakeHtmlFieldsFor(pState, &pState->record))
        return false;
    // In the subject and the plain body "[[HTML:Name]]" is the value as it stands.
    ListRecord plainHeader, plainRecord;
    bool bMerged = MakePlainHeader(&pState->header, &plainHeader) &&
                   MakePlainRecord(&pState->record, pState->header.nCount, &plainRecord) &&
                   MergeTexts(pState, &plainHeader, &plainRecord);
    return bMerged;
}
