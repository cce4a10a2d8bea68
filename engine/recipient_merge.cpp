#include "engine/recipient_merge.h"

#include <limits.h>
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

bool MakeMergeHeaders(SendJobState* pState)
{
    if (pState->bMergeHeadersMade)
        return true;
    // In the subject and the plain body "[[HTML:Name]]" is the value as it
    // stands; HTML is merged with names and values as HTML text, then the
    // "HTML:" names with the values as markup, in the HTML's code page.
    if (!MakePlainHeader(&pState->header, &pState->plainHeader))
        return false;
    if (pState->pszOriginalHTMLBody &&
        !(MakeHtmlHeader(&pState->header, &pState->htmlEscaped) &&
          EncodeFieldsForHtml(&pState->htmlEscaped, &pState->htmlHeader, pState->uHtmlCodePage)))
        return false;
    // Without memory for them the merge finds the names each time itself.
    pState->plainNames.Build(&pState->plainHeader);
    if (pState->pszOriginalHTMLBody)
        pState->htmlNames.Build(&pState->htmlHeader);
    pState->bMergeHeadersMade = true;
    return true;
}

namespace {

bool MergeFailedFor(SendJobState* pState)
{
    LogMergeError(pState->pCurrentLog);
    ShowListMessage(pState->hWndOwner, IDS_MERGE_FAILED, MB_ICONWARNING | MB_OK);
    return false;
}

// The three texts, each merged with its own names and values.
bool MergeTexts(SendJobState* pState, const MergeValues& plainValues, const MergeValues& htmlValues)
{
    struct Text {
        const char* pszOriginal;
        char** ppszCopy;
        const ListRecord* pHeader;
        const MergeValues& values;
        const MergeNames* pNames;
        bool bHtml;
    } texts[] = {
        { pState->pszOriginalSubject, pState->pszSubjectCopy.Slot(), &pState->plainHeader, plainValues,
          &pState->plainNames, false },
        { pState->pszOriginalBody, pState->pszBodyCopy.Slot(), &pState->plainHeader, plainValues,
          &pState->plainNames, false },
        { pState->pszOriginalHTMLBody, pState->pszHTMLCopy.Slot(), &pState->htmlHeader, htmlValues,
          &pState->htmlNames, true },
    };
    for (const Text& text : texts) {
        if (text.pszOriginal == NULL)
            continue;
        MergeResult result = MergeValuesIntoCopy(text.pszOriginal, text.bHtml, text.pHeader, text.values,
                                                 text.ppszCopy, text.pNames);
        if (result == MergeNoMemory)
            return false;
        if (result == MergeFailed)
            return MergeFailedFor(pState);
    }
    // A subject is one line: a multi-line value's line breaks become spaces.
    MakeOneLine(pState->pszSubjectCopy);
    return true;
}

}  // namespace

bool MergeRecipient(SendJobState* pState)
{
    int nColumns = pState->header.nCount;
    if (!MakeMergeHeaders(pState))
        return false;
    if (!MergeFieldsWithinLimits(&pState->header, &pState->record))
        return MergeFailedFor(pState);
    // The plain names are the list's and then their "HTML:" names, both
    // taking the values as they stand: the record's own, twice over.
    MergeValues plainValues = { &pState->record, nColumns, &pState->record };
    // In HTML the list's names take the values as HTML text that shows them,
    // the "HTML:" names the values as markup; both in the HTML's code page,
    // which leaves the record's own values as they are for ASCII or UTF-8.
    MergeValues htmlValues = { &pState->htmlEscaped, nColumns, &pState->record };
    if (pState->pszOriginalHTMLBody) {
        if (FieldsStandInHtmlCodePage(&pState->record, pState->uHtmlCodePage)) {
            if (!MakeHtmlValues(&pState->record, nColumns, &pState->htmlEscaped))
                return false;
        } else {
            if (!MakeHtmlRecord(&pState->record, nColumns, &pState->htmlEscaped) ||
                !EncodeFieldsForHtml(&pState->htmlEscaped, &pState->htmlRecord, pState->uHtmlCodePage))
                return false;
            htmlValues = MergeValues{ &pState->htmlRecord, INT_MAX, NULL };
        }
    }
    return MergeTexts(pState, plainValues, htmlValues);
}
