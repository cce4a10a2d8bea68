#include "engine/job_questions.h"

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "addin/host_state.h"
#include "engine/engine_report.h"
#include "engine/host_dispatch.h"
#include "engine/job_progress.h"
#include "engine/recipient_merge.h"
#include "engine/send_job_state.h"
#include "mailing/html_text.h"
#include "mailing/list_reader.h"
#include "mailing/mail_merge.h"
#include "mailing/placeholder_check.h"
#include "mailing/text_conversion.h"
#include "resources/product.h"
#include "settings/data_paths.h"
#include "ui/message_box.h"

int ShowListMessage(HWND hWndOwner, UINT uId, UINT uType)
{
    char szText[LC_STATUS_CAPACITY];
    if ((uType & MB_TYPEMASK) == MB_OK && LoadStringA(ghInstance, uId, szText, sizeof(szText)) > 0)
        NoteJobEndReason(szText);
    return ShowStringMessage(hWndOwner, uId, LC_PRODUCT_NAME, uType);
}

void NoteStopBeforeLogs(const char* pszReason)
{
    NoteJobEndReason(pszReason);
}

namespace {

// The composed message's own To, Cc and Bcc, as the host shows them.
void ReadOwnRecipients(SendJobState* pState)
{
    static const struct {
        LPCOLESTR pszMember;
        const char* pszLabel;
    } kFields[] = { { L"To", "To" }, { L"CC", "Cc" }, { L"BCC", "Bcc" } };
    pState->szOwnRecipients[0] = '\0';
    size_t cchUsed = 0;
    for (const auto& field : kFields) {
        char szNames[LC_OWN_RECIPIENTS_CAPACITY] = "";
        try {
            ScopedVariant value;
            if (FAILED(DispTryGetProperty(pState->pParent, field.pszMember, &value)) ||
                V_VT(&value.Get()) != VT_BSTR || V_BSTR(&value.Get()) == NULL)
                continue;
            WideToAnsi(V_BSTR(&value.Get()), szNames, sizeof(szNames));
        } catch (...) {
            continue;
        }
        if (szNames[0] == '\0')
            continue;
        int cch = snprintf(pState->szOwnRecipients + cchUsed, sizeof(pState->szOwnRecipients) - cchUsed, "%s%s: %s",
                           cchUsed ? "; " : "", field.pszLabel, szNames);
        if (cch < 0 || cchUsed + cch >= sizeof(pState->szOwnRecipients))
            break;
        cchUsed += cch;
    }
}

}  // namespace

// Before anything goes: the user hears that the composed message's own
// recipients are not written to.
void TellOfOwnRecipients(SendJobState* pState)
{
    ReadOwnRecipients(pState);
    if (pState->szOwnRecipients[0] == '\0')
        return;
    char szText[LC_OWN_RECIPIENTS_CAPACITY + 256];
    snprintf(szText, sizeof(szText),
             "The composed message has recipients of its own (%s).\n\nThey will not receive the copies; each copy "
             "goes to its list recipient only.",
             pState->szOwnRecipients);
    MessageBoxA(pState->hWndOwner, szText, LC_PRODUCT_NAME, MB_ICONINFORMATION | MB_OK);
}

// Before anything goes: the user hears once when the copies cannot go
// from the message's own account, or their sent copies not where its sent
// mail goes.
void TellOfSender(SendJobState* pState)
{
    std::wstring notice = SenderNotice(pState->sender);
    if (notice.empty())
        return;
    MessageBoxW(pState->hWndOwner, notice.c_str(), L"" LC_PRODUCT_NAME, MB_ICONINFORMATION | MB_OK);
}

// More than one column could hold the address: the user confirms the one
// chosen before anything goes.
bool ConfirmAddressColumn(SendJobState* pState)
{
    int nCandidates = CountAddressColumns(&pState->header);
    if (nCandidates <= 1)
        return true;
    char szText[LC_FIELD_NAME_CAPACITY * 2 + 256];
    snprintf(szText, sizeof(szText),
             "The mailing list has %d columns that could hold the e-mail address. Each copy will go to the address "
             "in the column \"%s\".\n\nSend to the addresses in \"%s\"?",
             nCandidates, pState->szAddressColumn, pState->szAddressColumn);
    if (AskJobQuestion(pState->hWndOwner, szText) == IDYES)
        return true;
    NoteStopBeforeLogs("the address column was not confirmed");
    return false;
}

// Placeholders and markers the merge would leave as they stand: one question
// for all of them, before anything goes.
bool ConfirmUnknownPlaceholders(SendJobState* pState)
{
    std::vector<std::string> names, blocks;
    // Each text is checked against the names it is merged with: "[[HTML:Name]]"
    // is known in the plain texts too (Outlook's plain body of HTML holds it).
    if (MakeMergeHeaders(pState)) {
        const struct {
            const char* pszText;
            bool bHtml;
            const ListRecord* pHeader;
        } texts[] = { { pState->pszOriginalSubject, false, &pState->plainHeader },
                      { pState->pszOriginalBody, false, &pState->plainHeader },
                      { pState->pszOriginalHTMLBody, true, &pState->htmlHeader } };
        for (const auto& text : texts) {
            FindUnknownPlaceholders(text.pszText, text.bHtml, text.pHeader, &names);
            FindBrokenBlocks(text.pszText, text.bHtml, text.pHeader, &blocks);
        }
    }
    std::string question = PlaceholderQuestion(names, blocks);
    if (question.empty() || AskJobQuestion(pState->hWndOwner, question.c_str()) == IDYES)
        return true;
    NoteStopBeforeLogs(blocks.empty() ? "placeholders name no field of the mailing list"
                                      : "markers of conditional text make no block");
    return false;
}

// What the counting pass found that would go wrong, in one question before
// anything goes; with repeated addresses the user also chooses who of them
// gets a copy.
bool ConfirmListCheck(SendJobState* pState)
{
    std::string question = pState->listCheck.Question();
    if (question.empty())
        return true;
    // Shown in the ANSI code page, as every box of the job.
    std::vector<char> text(question.begin(), question.end());
    text.push_back('\0');
    Utf8ToAnsiInPlace(text.data());
    UINT uButtons = pState->listCheck.RepeatedAddresses() > 0 ? MB_YESNOCANCEL : MB_YESNO;
    int nAnswer = MessageBoxA(pState->hWndOwner, text.data(), LC_PRODUCT_NAME, MB_ICONQUESTION | uButtons);
    if (nAnswer == IDYES)
        return true;
    if (nAnswer == IDNO && uButtons == MB_YESNOCANCEL) {
        int nRepeats = pState->listCheck.Repeats();
        pState->bFirstOfEachAddress = true;
        pState->nTotal -= nRepeats;
        pState->nSkipped += nRepeats;
        JobProgress.totalCount = pState->nTotal;
        JobProgress.skippedCount = pState->nSkipped;
        return true;
    }
    NoteStopBeforeLogs("the mailing list's check was not confirmed");
    return false;
}

// A quote opened and never closed makes one field of the rest of the file.
bool RefuseUnclosedQuote(const SendJobState* pState, int nLine)
{
    char szText[LC_CAUGHT_TEXT_CAPACITY * 3];
    snprintf(szText, sizeof(szText),
             "The record at line %d of the mailing list opens a double quote that is never closed, so the rest "
             "of the file would be read as one field.\n\nClose or remove the quote and send again. No message "
             "was sent.",
             nLine);
    ShowJobText(pState->hWndOwner, szText);
    return false;
}

// Bytes that are no text in the list's encoding, or a control character
// where text belongs (an exporter's stand-in for a character it could not
// write): nothing of the list is sent, since the records after them could
// not be read as they stand.
bool RefuseBadText(const SendJobState* pState, int nLine, int nEncoding, int nControlChar)
{
    char szText[LC_CAUGHT_TEXT_CAPACITY * 3];
    if (nControlChar != 0)
        snprintf(szText, sizeof(szText),
                 "Line %d of the mailing list holds the control character 0x%02X where text belongs. Correct the "
                 "line, or save the list again as CSV UTF-8, Unicode Text or CSV, and send again.\n\nNo message "
                 "was sent.",
                 nLine, (unsigned)nControlChar);
    else
        snprintf(szText, sizeof(szText),
                 "Line %d of the mailing list is not valid text in %s. Save the list again as CSV UTF-8, "
                 "Unicode Text or CSV and send again.\n\nNo message was sent.",
                 nLine, ListEncodingName(nEncoding));
    ShowJobText(pState->hWndOwner, szText);
    return false;
}

// No record is usable: the job ends before it opens its logs, and says why.
bool RefuseEmptyList(SendJobState* pState)
{
    char szText[LC_FIELD_NAME_CAPACITY + 512];
    if (pState->nSkipped == 1)
        snprintf(szText, sizeof(szText),
                 "The mailing list has no usable recipient: its one record was skipped, because the column \"%s\" "
                 "holds no e-mail address in it or it has too few fields. Check the list's delimiter, its line ends "
                 "and which column holds the addresses.\n\nNo message was sent.",
                 pState->szAddressColumn);
    else if (pState->nSkipped > 0)
        snprintf(szText, sizeof(szText),
                 "The mailing list has no usable recipient: all %d of its records were skipped, because the "
                 "column \"%s\" holds no e-mail address in them or they have too few fields. Check the list's "
                 "delimiter, its line ends and which column holds the addresses.\n\nNo message was sent.",
                 pState->nSkipped, pState->szAddressColumn);
    else
        snprintf(szText, sizeof(szText), "The mailing list has no recipient after its header.\n\nNo message was sent.");
    ShowJobText(pState->hWndOwner, szText);
    return false;
}

// A record too long to read ends the list early. Sending the recipients
// before it without a word would report the job a success while the rest of
// the list never got the message, so the user decides, before anything goes.
bool ConfirmListCutShort(const SendJobState* pState, int nBefore)
{
    char szText[LC_CAUGHT_TEXT_CAPACITY * 3];
    if (nBefore == 0) {
        ShowJobText(pState->hWndOwner, "The mailing list holds a record longer than 32,767 characters before its first "
                                       "recipient, and Lettercast reads a list only up to such a record.\n\n"
                                       "No message was sent.");
        return false;
    }
    snprintf(szText, sizeof(szText),
             "The mailing list holds a record longer than 32,767 characters after its recipient %d, and Lettercast "
             "reads a list only up to such a record.\n\nSend to the %d recipient%s before it?",
             nBefore, nBefore, nBefore == 1 ? "" : "s");
    if (AskJobQuestion(pState->hWndOwner, szText) == IDYES)
        return true;
    NoteStopBeforeLogs("the mailing list is cut short by a record longer than 32,767 characters");
    return false;
}
