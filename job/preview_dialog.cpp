#include "job/preview_dialog.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "engine/host_dispatch.h"
#include "engine/job_resume.h"
#include "engine/send_job.h"
#include "logs/job_log.h"
#include "mailing/bounded_copy.h"
#include "mailing/html_text.h"
#include "mailing/list_reader.h"
#include "mailing/mail_merge.h"
#include "mailing/placeholder_check.h"
#include "mailing/text_conversion.h"
#include "resources/product.h"
#include "resources/resource.h"
#include "settings/data_paths.h"
#include "ui/dialog_placement.h"
#include "ui/help.h"

namespace {

struct SkippedLines {
    std::vector<std::string> lines;
};

void CollectSkipped(void* pContext, int nLine, int nReason, const char* pszAddress)
{
    char szLine[LC_ADDRESS_CAPACITY + 128];
    char szAddress[LC_ADDRESS_CAPACITY];
    CopyBounded(szAddress, sizeof(szAddress), pszAddress);
    SpaceEveryLineBreak(szAddress);
    snprintf(szLine, sizeof(szLine), "  Line %d: %s%s%s", nLine, SkippedRecordReason(nReason, pszAddress),
             szAddress[0] ? ": " : "", szAddress);
    ((SkippedLines*)pContext)->lines.push_back(szLine);
}

// The merged text, merged as the job merges it (HTML with its values as
// HTML text), or what the job would say of a merge that fails.
std::string Merged(const std::string& text, bool bHtml, const ListRecord* pHeader, const ListRecord* pRecord)
{
    char* pszMerged =
        bHtml ? MergeHtmlText(text.c_str(), pHeader, pRecord) : MergePlainText(text.c_str(), pHeader, pRecord);
    if (pszMerged == NULL)
        return "(Mail merge failed: make sure no fields are greater than 32,767 characters.)";
    std::string merged(pszMerged);
    free(pszMerged);
    return merged;
}

// A text of the add-in's boxes (ANSI) as the preview shows it (UTF-8).
std::string AnsiAsUtf8(const std::string& text)
{
    char* pszUtf8 = AnsiToUtf8Heap(text.c_str());
    if (pszUtf8 == NULL)
        return text;
    std::string utf8(pszUtf8);
    free(pszUtf8);
    return utf8;
}

// What Send would offer of a resume, as it would ask it.
bool AlreadySentByLastJob(const ResumePlan& plan, int nIndex)
{
    return plan.bFound && nIndex >= 1 && nIndex <= (int)plan.passOver.size() && plan.passOver[nIndex - 1] != 0;
}

std::string ResumeLines(const ResumePlan& plan)
{
    if (!plan.bFound)
        return std::string();
    std::string text = "Resume: Send will ask: " + ResumeQuestionText(&plan) + "\n";
    if (plan.nInFlight > 0) {
        // The question's two paragraphs on one line.
        std::string question = InFlightQuestionText(&plan);
        size_t nBreak = question.find("\n\n");
        if (nBreak != std::string::npos)
            question.replace(nBreak, 2, " ");
        text += "Resume: then: " + question + "\n";
    }
    return AnsiAsUtf8(text);
}

// An edit control breaks lines at CR LF only.
std::string WithWindowsLineEnds(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            out += '\r';
        out += text[i];
    }
    return out;
}

std::string FromBstrMember(IDispatch* pItem, LPCOLESTR pszMember)
{
    try {
        ScopedVariant value;
        if (FAILED(DispTryGetProperty(pItem, pszMember, &value)) || V_VT(&value.Get()) != VT_BSTR ||
            V_BSTR(&value.Get()) == NULL)
            return std::string();
        // The merge works in UTF-8, as a job's does.
        char* pszText = WideToCodePageHeap(V_BSTR(&value.Get()), CP_UTF8);
        if (pszText == NULL)
            return std::string();
        std::string text(pszText);
        free(pszText);
        return text;
    } catch (...) {
        return std::string();
    }
}

// Texts of the list and the message are UTF-8; the controls take them wide,
// so that every character shows.
void SetDlgItemUtf8(HWND hDlg, int nId, const std::string& text)
{
    BSTR bstrText = CodePageToBstr(text.c_str(), CP_UTF8);
    if (bstrText != NULL)
        SetDlgItemTextW(hDlg, nId, bstrText);
    else
        SetDlgItemTextA(hDlg, nId, text.c_str());
    SysFreeString(bstrText);
}

struct PreviewState {
    PreviewRequest* pRequest;
    int nTotal;
};

void ShowRecipient(HWND hDlg, PreviewState* pState)
{
    std::string position, text;
    BuildPreviewText(pState->pRequest->pszListPath, pState->pRequest->message, pState->pRequest->nIndex,
                     &pState->nTotal, &position, &text);
    if (pState->pRequest->nIndex > pState->nTotal && pState->nTotal > 0) {
        pState->pRequest->nIndex = pState->nTotal;
        BuildPreviewText(pState->pRequest->pszListPath, pState->pRequest->message, pState->pRequest->nIndex,
                         &pState->nTotal, &position, &text);
    }
    SetDlgItemUtf8(hDlg, IDC_PREVIEW_POSITION, position);
    SetDlgItemUtf8(hDlg, IDC_PREVIEW_TEXT, WithWindowsLineEnds(text));
    SendDlgItemMessageA(hDlg, IDC_PREVIEW_TEXT, EM_SETSEL, 0, 0);
    EnableWindow(GetDlgItem(hDlg, IDC_PREVIEW_PREVIOUS), pState->pRequest->nIndex > 1);
    EnableWindow(GetDlgItem(hDlg, IDC_PREVIEW_NEXT), pState->pRequest->nIndex < pState->nTotal);
    EnableWindow(GetDlgItem(hDlg, IDC_PREVIEW_TEST), pState->pRequest->pJob != NULL && pState->nTotal > 0);
}

BOOL OnInitDialog(HWND hDlg, LPARAM lParam)
{
    PreviewState* pState = new PreviewState{ (PreviewRequest*)lParam, 0 };
    if (pState->pRequest->nIndex < 1)
        pState->pRequest->nIndex = 1;
    SetWindowLongPtrA(hDlg, GWLP_USERDATA, (LONG_PTR)pState);
    CenterOnScreen(hDlg);
    ShowRecipient(hDlg, pState);
    // The focus on Next, not in the text, which would show it all selected.
    SetFocus(GetDlgItem(hDlg, IsWindowEnabled(GetDlgItem(hDlg, IDC_PREVIEW_NEXT)) ? IDC_PREVIEW_NEXT : IDCANCEL));
    return FALSE;
}

void OnCommand(HWND hDlg, int nId)
{
    PreviewState* pState = (PreviewState*)GetWindowLongPtrA(hDlg, GWLP_USERDATA);
    if (pState == NULL)
        return;
    switch (nId) {
    case IDC_PREVIEW_PREVIOUS:
        if (pState->pRequest->nIndex > 1) {
            --pState->pRequest->nIndex;
            ShowRecipient(hDlg, pState);
        }
        break;
    case IDC_PREVIEW_NEXT:
        if (pState->pRequest->nIndex < pState->nTotal) {
            ++pState->pRequest->nIndex;
            ShowRecipient(hDlg, pState);
        }
        break;
    case IDC_PREVIEW_TEST: {
        char szResult[LC_ADDRESS_CAPACITY + 128] = "No message to send.";
        bool bSent = pState->pRequest->pJob &&
                     pState->pRequest->pJob->SendTestCopy(hDlg, pState->pRequest->pszListPath,
                                                          pState->pRequest->nIndex, szResult, sizeof(szResult));
        MessageBoxA(hDlg, szResult, LC_PRODUCT_NAME, MB_OK | (bSent ? MB_ICONINFORMATION : MB_ICONWARNING));
        break;
    }
    case IDC_PREVIEW_HELP:
        ShowHelpTopic(hDlg, IDS_TOPIC_PREVIEW);
        break;
    case IDOK:
    case IDCANCEL:
        EndDialog(hDlg, 0);
        break;
    default:
        break;
    }
}

}  // namespace

std::string HtmlAsText(const std::string& html)
{
    static const char* const kLineEnds[] = { "<br", "</p", "</div", "</tr", "</li", "</h" };
    std::string text;
    size_t i = 0;
    bool bInHead = false;
    while (i < html.size()) {
        if (html[i] == '<') {
            size_t nEnd = html.find('>', i);
            if (nEnd == std::string::npos)
                break;
            std::string tag = html.substr(i, nEnd - i);
            for (char& ch : tag)
                ch = (ch >= 'A' && ch <= 'Z') ? (char)(ch - 'A' + 'a') : ch;
            if (tag.compare(0, 5, "<head") == 0 || tag.compare(0, 6, "<style") == 0)
                bInHead = true;
            else if (tag.compare(0, 6, "</head") == 0 || tag.compare(0, 7, "</style") == 0)
                bInHead = false;
            for (const char* pszEnd : kLineEnds) {
                if (tag.compare(0, strlen(pszEnd), pszEnd) == 0) {
                    text += '\n';
                    break;
                }
            }
            i = nEnd + 1;
            continue;
        }
        if (bInHead) {
            ++i;
            continue;
        }
        // Every reference HTML defines, as the recipient's reader shows it;
        // a no-break space shows as a space.
        unsigned uFirst = 0, uSecond = 0;
        size_t cchReference = html[i] == '&' ? ReadHtmlReference(html.c_str() + i, html.size() - i, &uFirst, &uSecond) : 0;
        if (cchReference > 0) {
            for (unsigned uChar : { uFirst, uSecond }) {
                char szChar[4];
                if (uChar != 0)
                    text.append(szChar, uChar == 0xA0 ? PutUtf8(szChar, ' ') : PutUtf8(szChar, uChar));
            }
            i += cchReference;
            continue;
        }
        // Line ends of the source are no line ends of the page.
        if (html[i] == '\r' || html[i] == '\n') {
            if (!text.empty() && text.back() != ' ' && text.back() != '\n')
                text += ' ';
            ++i;
            continue;
        }
        text += html[i++];
    }
    return text;
}

void ReadPreviewMessage(IDispatch* pItem, PreviewMessage* pMessage)
{
    *pMessage = PreviewMessage();
    if (pItem == NULL)
        return;
    pMessage->subject = FromBstrMember(pItem, L"Subject");
    pMessage->body = FromBstrMember(pItem, L"Body");
    try {
        ScopedVariant format;
        // olFormatHTML
        if (SUCCEEDED(DispTryGetProperty(pItem, L"BodyFormat", &format)) && V_VT(&format.Get()) == VT_I4 &&
            V_I4(&format.Get()) == 2)
            pMessage->html = FromBstrMember(pItem, L"HTMLBody");
    } catch (...) {
        pMessage->html.clear();
    }
}

bool BuildPreviewText(const char* pszListPath, const PreviewMessage& message, int nIndex, int* pnTotal,
                      std::string* pPosition, std::string* pText)
{
    *pnTotal = 0;
    pPosition->clear();
    pText->clear();
    ListReader list;
    if (!list.Open(pszListPath, ListDelimiter)) {
        *pPosition = "No recipient";
        *pText = "Could not open the mailing list file for reading.";
        return false;
    }
    ListRecord header, record;
    SkippedLines skipped;
    list.WatchSkipped(CollectSkipped, &skipped);
    int nColumn = -1;
    bool bHeaderDone = false;
    char szAddress[LC_ADDRESS_CAPACITY];
    std::string address, subject, body;
    std::vector<std::string> unknown;
    while (list.ReadNextRecipient(&nColumn, bHeaderDone, szAddress, sizeof(szAddress), NULL, 0, NULL, 0, &header,
                                  &record)) {
        if (!bHeaderDone) {
            ListRecord plainHeader, htmlHeader;
            if (MakePlainHeader(&header, &plainHeader)) {
                FindUnknownPlaceholders(message.subject.c_str(), false, &plainHeader, &unknown);
                FindUnknownPlaceholders(message.body.c_str(), false, &plainHeader, &unknown);
            }
            if (MakeHtmlHeader(&header, &htmlHeader))
                FindUnknownPlaceholders(message.html.c_str(), true, &htmlHeader, &unknown);
        }
        bHeaderDone = true;
        if (++*pnTotal != nIndex)
            continue;
        address = szAddress;
        // One line, as the job makes the subject.
        subject = Merged(message.subject, false, &header, &record);
        MakeOneLine(&subject[0]);
        subject.resize(strlen(subject.c_str()));
        body = message.html.empty() ? Merged(message.body, false, &header, &record)
                                    : HtmlAsText(Merged(message.html, true, &header, &record));
    }
    list.WatchSkipped(NULL, NULL);
    list.Close();

    std::string text = "Mailing list: " + std::string(pszListPath) + "\n";
    text += "Delimiter: " + std::string(DelimiterName(list.Delimiter())) + "\n";
    if (nColumn >= 0 && nColumn < header.nCount) {
        char szColumn[LC_FIELD_NAME_CAPACITY];
        CopyBounded(szColumn, sizeof(szColumn), header.ppszFields[nColumn]);
        SpaceEveryLineBreak(szColumn);
        text += "Address column: " + std::string(szColumn) + "\n";
    } else {
        text += "Address column: none (no column is named for the e-mail address)\n";
    }
    text += "Usable recipients: " + std::to_string(*pnTotal) + "\n";
    text += "Skipped records: " + std::to_string(skipped.lines.size()) + "\n";
    for (const std::string& line : skipped.lines)
        text += line + "\n";
    // What Send would refuse, in the order it checks, or ask before anything
    // goes: the preview never shows a list as usable that Send refuses.
    char szRefusal[LC_FIELD_NAME_CAPACITY + 256] = "";
    if (list.BadTextLine() > 0 && list.BadTextChar() != 0)
        snprintf(szRefusal, sizeof(szRefusal), "line %d of the mailing list holds the control character 0x%02X where "
                 "text belongs", list.BadTextLine(), (unsigned)list.BadTextChar());
    else if (list.BadTextLine() > 0)
        snprintf(szRefusal, sizeof(szRefusal), "line %d of the mailing list is not valid text in %s",
                 list.BadTextLine(), ListEncodingName(list.Encoding()));
    else if (list.UnclosedQuoteLine() > 0)
        snprintf(szRefusal, sizeof(szRefusal), "the record at line %d opens a double quote that is never closed",
                 list.UnclosedQuoteLine());
    else if (nColumn < 0)
        snprintf(szRefusal, sizeof(szRefusal), "no column is named for the e-mail address");
    else if (list.CutShort() && *pnTotal == 0)
        snprintf(szRefusal, sizeof(szRefusal), "the mailing list holds a record longer than 32,767 characters "
                 "before its first recipient");
    else if (*pnTotal == 0)
        snprintf(szRefusal, sizeof(szRefusal), "the mailing list has no usable recipient");
    if (szRefusal[0]) {
        text += "Send refuses this list: " + std::string(szRefusal) + ". Nothing would be sent.\n";
        // No recipient to step to or to test: none would get the message.
        address.clear();
        *pnTotal = 0;
    } else {
        if (list.CutShort())
            text += "Send asks first: the mailing list holds a record longer than 32,767 characters after its "
                    "recipient " + std::to_string(*pnTotal) + ", and is read only up to it.\n";
        int nCandidates = CountAddressColumns(&header);
        if (nCandidates > 1 && nColumn < header.nCount) {
            char szColumn[LC_FIELD_NAME_CAPACITY];
            CopyBounded(szColumn, sizeof(szColumn), header.ppszFields[nColumn]);
            SpaceEveryLineBreak(szColumn);
            text += "Send asks first: the mailing list has " + std::to_string(nCandidates) +
                    " columns that could hold the e-mail address; each copy goes to the address in the column \"" +
                    szColumn + "\".\n";
        }
    }
    if (!unknown.empty()) {
        std::string question = UnknownPlaceholderQuestion(unknown);
        text += "Warning: " + question.substr(0, question.find(" Send anyway?")) + "\n";
    }
    // Read after the list's own warnings: the reading of the last job's
    // sent list sets the reader's state anew.
    ResumePlan resume;
    FindResume(pszListPath, pszListPath, SubjectAsLogged(message.subject.c_str()).c_str(), &resume);
    text += ResumeLines(resume);

    if (address.empty()) {
        *pPosition = "No recipient";
        *pText = text;
        return true;
    }
    *pPosition = "Recipient " + std::to_string(nIndex) + " of " + std::to_string(*pnTotal) + ": " + address;
    text += "\nRecipient " + std::to_string(nIndex) + " of " + std::to_string(*pnTotal) + "\n";
    text += "To: " + address + "\n";
    if (resume.bFound && resume.nInFlight == nIndex)
        text += "In flight when the last job stopped: Send asks whether to send to this recipient as well.\n";
    else if (AlreadySentByLastJob(resume, nIndex))
        text += "Already sent by the last job: a resumed job passes this recipient over.\n";
    text += "Subject: " + subject + "\n\n";
    text += body;
    *pText = text;
    return true;
}

INT_PTR CALLBACK PreviewDialog(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_INITDIALOG:
        return OnInitDialog(hDlg, lParam);
    case WM_COMMAND:
        OnCommand(hDlg, LOWORD(wParam));
        return TRUE;
    case WM_HELP:
        ShowHelpTopic(hDlg, IDS_TOPIC_PREVIEW);
        return TRUE;
    case WM_DESTROY:
        delete (PreviewState*)GetWindowLongPtrA(hDlg, GWLP_USERDATA);
        SetWindowLongPtrA(hDlg, GWLP_USERDATA, 0);
        return FALSE;
    default:
        return FALSE;
    }
}
