// The Preview dialog: what each recipient of the list in the Mailing List box
// will get, before anything is sent, with what the job would tell of the list.
#ifndef LETTERCAST_PREVIEW_DIALOG_H
#define LETTERCAST_PREVIEW_DIALOG_H

#include <windows.h>
#include <oaidl.h>

#include <string>

// The composed message's texts; html is empty for a plain message. sender
// names the account the copies go from.
struct PreviewMessage {
    std::string subject;
    std::string body;
    std::string html;
    std::string sender;
};

// What the preview shows of the list and of its recipient nIndex (1 on):
// *pnTotal is the number of usable recipients, *pPosition the line above the
// text. False when the list cannot be read; the text then says why.
bool BuildPreviewText(const char* pszListPath, const PreviewMessage& message, int nIndex, int* pnTotal,
                      std::string* pPosition, std::string* pText);

// The composed message's subject and bodies, read through its members.
void ReadPreviewMessage(IDispatch* pItem, PreviewMessage* pMessage);

// The text of an HTML body as a reader sees it: tags out, lines where
// paragraphs and breaks end, the common entities read.
std::string HtmlAsText(const std::string& html);

class SendJob;

struct PreviewRequest {
    SendJob* pJob;   // sends the test copy; NULL: no test can be sent
    const char* pszListPath;
    PreviewMessage message;
    int nIndex;   // the recipient shown first
};

// lParam is a PreviewRequest, read while the dialog is open.
INT_PTR CALLBACK PreviewDialog(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);

#endif
