#include "job/preview_dialog.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <vector>

#include "engine/host_dispatch.h"
#include "engine/send_job.h"
#include "engine/sender_account.h"
#include "job/preview_reading.h"
#include "mailing/html_text.h"
#include "mailing/text_conversion.h"
#include "resources/product.h"
#include "resources/resource.h"
#include "settings/data_paths.h"
#include "ui/dialog_placement.h"
#include "ui/help.h"

namespace {

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

// How long the preview reads on in one go, and how soon it goes on: the
// window answers between the slices while a long list is counted.
const int kReadSliceMs = 40;
const UINT_PTR kReadTimer = 1;
const UINT kReadTimerMs = 10;

struct PreviewState {
    PreviewRequest* pRequest;
    std::unique_ptr<PreviewReading> reading;
    std::string address;   // the recipient shown; "" for none
};

void ShowButtons(HWND hDlg, const PreviewState* pState)
{
    int nCounted = pState->reading->Counted();
    EnableWindow(GetDlgItem(hDlg, IDC_PREVIEW_PREVIOUS), pState->pRequest->nIndex > 1);
    EnableWindow(GetDlgItem(hDlg, IDC_PREVIEW_NEXT), pState->pRequest->nIndex < nCounted);
    // A test copy waits for the whole list: Send may yet refuse it.
    EnableWindow(GetDlgItem(hDlg, IDC_PREVIEW_TEST),
                 pState->pRequest->pJob != NULL && pState->reading->Done() && nCounted > 0);
}

void ShowRecipient(HWND hDlg, PreviewState* pState)
{
    const PreviewReading& reading = *pState->reading;
    if (reading.Done() && pState->pRequest->nIndex > reading.Counted() && reading.Counted() > 0)
        pState->pRequest->nIndex = reading.Counted();
    std::string position, text;
    reading.Show(pState->pRequest->nIndex, &position, &text, &pState->address);
    SetDlgItemUtf8(hDlg, IDC_PREVIEW_POSITION, position);
    // The reader keeps the place in the text when the counting ends under it.
    HWND hText = GetDlgItem(hDlg, IDC_PREVIEW_TEXT);
    LRESULT nFirstLine = SendMessageA(hText, EM_GETFIRSTVISIBLELINE, 0, 0);
    SetDlgItemUtf8(hDlg, IDC_PREVIEW_TEXT, WithWindowsLineEnds(text));
    SendMessageA(hText, EM_SETSEL, 0, 0);
    SendMessageA(hText, EM_LINESCROLL, 0, nFirstLine);
    ShowButtons(hDlg, pState);
}

// Shows recipient nIndex from its first line.
void ShowRecipientFromTop(HWND hDlg, PreviewState* pState)
{
    SendDlgItemMessageA(hDlg, IDC_PREVIEW_TEXT, EM_LINESCROLL, 0,
                        -SendDlgItemMessageA(hDlg, IDC_PREVIEW_TEXT, EM_GETFIRSTVISIBLELINE, 0, 0));
    ShowRecipient(hDlg, pState);
}

void OnReadTimer(HWND hDlg, PreviewState* pState)
{
    if (!pState->reading->ReadOn(kReadSliceMs)) {
        SetDlgItemUtf8(hDlg, IDC_PREVIEW_POSITION, pState->reading->Position(pState->pRequest->nIndex, pState->address));
        ShowButtons(hDlg, pState);
        return;
    }
    KillTimer(hDlg, kReadTimer);
    ShowRecipient(hDlg, pState);
}

BOOL OnInitDialog(HWND hDlg, LPARAM lParam)
{
    PreviewRequest* pRequest = (PreviewRequest*)lParam;
    PreviewState* pState = new PreviewState{ pRequest, std::unique_ptr<PreviewReading>(), std::string() };
    pState->reading.reset(new PreviewReading(pRequest->pszListPath, pRequest->message));
    if (pRequest->nIndex < 1)
        pRequest->nIndex = 1;
    SetWindowLongPtrA(hDlg, GWLP_USERDATA, (LONG_PTR)pState);
    CenterOnScreen(hDlg);
    // A list that is read in one slice shows whole at once; a longer one is
    // counted on while the first recipient shows.
    if (!pState->reading->ReadOn(kReadSliceMs))
        SetTimer(hDlg, kReadTimer, kReadTimerMs, NULL);
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
            ShowRecipientFromTop(hDlg, pState);
        }
        break;
    case IDC_PREVIEW_NEXT:
        if (pState->pRequest->nIndex < pState->reading->Counted()) {
            ++pState->pRequest->nIndex;
            ShowRecipientFromTop(hDlg, pState);
        }
        break;
    case IDC_PREVIEW_TEST: {
        // As its button: a test copy waits for the whole list.
        if (!pState->reading->Done())
            break;
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
    pMessage->sender = SenderTextOfItem(pItem);
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
    PreviewReading reading(pszListPath, message);
    reading.ReadOn(-1);
    *pnTotal = reading.Counted();
    std::string address;
    reading.Show(nIndex, pPosition, pText, &address);
    return reading.Opened();
}

INT_PTR CALLBACK PreviewDialog(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_INITDIALOG:
        return OnInitDialog(hDlg, lParam);
    case WM_COMMAND:
        OnCommand(hDlg, LOWORD(wParam));
        return TRUE;
    case WM_TIMER:
        if (wParam == kReadTimer && GetWindowLongPtrA(hDlg, GWLP_USERDATA) != 0)
            OnReadTimer(hDlg, (PreviewState*)GetWindowLongPtrA(hDlg, GWLP_USERDATA));
        return TRUE;
    case WM_HELP:
        ShowHelpTopic(hDlg, IDS_TOPIC_PREVIEW);
        return TRUE;
    case WM_DESTROY:
        KillTimer(hDlg, kReadTimer);
        delete (PreviewState*)GetWindowLongPtrA(hDlg, GWLP_USERDATA);
        SetWindowLongPtrA(hDlg, GWLP_USERDATA, 0);
        return FALSE;
    default:
        return FALSE;
    }
}
