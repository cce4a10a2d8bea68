// A static text control of a dialog made into a web link by subclassing the
// control and its dialog; all its state lives in window properties.
#ifndef LETTERCAST_HYPERLINK_STATIC_H
#define LETTERCAST_HYPERLINK_STATIC_H

#include <windows.h>

// The maker's web site, opened with the shell's "open" verb.
extern const char WebAddress[];

// Property names: on the dialog and on the control the procedure that was
// there before; on the control its own font, the underlined copy (deleted
// when the control goes) and the mark that the dialog's colour handler reads.
extern const char gszHyperlinkOriginalProc[];   // "_Hyperlink_Original_Proc_"
extern const char gszHyperlinkOriginalFont[];   // "_Hyperlink_Original_Font_"
extern const char gszHyperlinkUnderlineFont[];  // "_Hyperlink_Underline_Font_"
extern const char gszHyperlinkFromStatic[];     // "_Hyperlink_From_Static_"

#define LC_HYPERLINK_COLOUR RGB(0, 0, 192)

// Returns 1. Attach a control once; the dialog is subclassed only for the
// first of its links.
int AttachHyperlink(HWND hWndStatic);
int AttachHyperlinkItem(HWND hDlg, int nControlId);

LRESULT CALLBACK HyperlinkParentProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK HyperlinkProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

// Opens WebAddress in the user's browser, owned by hWndOwner; what the shell
// answers is not reported.
void OpenWebAddress(HWND hWndOwner);

#endif
