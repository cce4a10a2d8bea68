#include "ui/hyperlink_static.h"

#include <shellapi.h>
#include <windowsx.h>

#include "resources/product.h"

const char WebAddress[] = LC_WEB_ADDRESS;

const char gszHyperlinkOriginalProc[] = "_Hyperlink_Original_Proc_";
const char gszHyperlinkOriginalFont[] = "_Hyperlink_Original_Font_";
const char gszHyperlinkUnderlineFont[] = "_Hyperlink_Underline_Font_";
const char gszHyperlinkFromStatic[] = "_Hyperlink_From_Static_";

static WNDPROC PreviousProc(HWND hWnd)
{
    return reinterpret_cast<WNDPROC>(GetPropA(hWnd, gszHyperlinkOriginalProc));
}

// A window whose previous procedure is gone (the property removed by someone
// else) still gets default handling rather than a call through null.
static LRESULT CallPrevious(WNDPROC pfnPrevious, HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (!pfnPrevious)
        return DefWindowProcA(hWnd, uMsg, wParam, lParam);
    return CallWindowProcA(pfnPrevious, hWnd, uMsg, wParam, lParam);
}

int AttachHyperlink(HWND hWndStatic)
{
    HWND hParent = GetParent(hWndStatic);
    if (hParent) {
        WNDPROC pfnParent = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(hParent, GWLP_WNDPROC));
        if (pfnParent != HyperlinkParentProc) {
            SetPropA(hParent, gszHyperlinkOriginalProc, reinterpret_cast<HANDLE>(pfnParent));
            SetWindowLongPtrA(hParent, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(HyperlinkParentProc));
        }
    }

    // Without the notify style a static is transparent to the mouse: no
    // moves, no cursor request and no click would reach it.
    SetWindowLongA(hWndStatic, GWL_STYLE, GetWindowLongA(hWndStatic, GWL_STYLE) | SS_NOTIFY);

    WNDPROC pfnStatic = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(hWndStatic, GWLP_WNDPROC));
    SetPropA(hWndStatic, gszHyperlinkOriginalProc, reinterpret_cast<HANDLE>(pfnStatic));
    SetWindowLongPtrA(hWndStatic, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(HyperlinkProc));

    HFONT hFont = reinterpret_cast<HFONT>(SendMessageA(hWndStatic, WM_GETFONT, 0, 0));
    SetPropA(hWndStatic, gszHyperlinkOriginalFont, hFont);
    // A control without a font of its own draws with the system font.
    HGDIOBJ hDescribed = hFont ? static_cast<HGDIOBJ>(hFont) : GetStockObject(SYSTEM_FONT);
    LOGFONTA lf = {};
    GetObjectA(hDescribed, sizeof(lf), &lf);
    lf.lfUnderline = TRUE;
    SetPropA(hWndStatic, gszHyperlinkUnderlineFont, CreateFontIndirectA(&lf));

    SetPropA(hWndStatic, gszHyperlinkFromStatic, reinterpret_cast<HANDLE>(1));
    return 1;
}

int AttachHyperlinkItem(HWND hDlg, int nControlId)
{
    return AttachHyperlink(GetDlgItem(hDlg, nControlId));
}

LRESULT CALLBACK HyperlinkParentProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    WNDPROC pfnPrevious = PreviousProc(hWnd);
    switch (uMsg) {
    case WM_DESTROY:
        if (pfnPrevious)
            SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(pfnPrevious));
        RemovePropA(hWnd, gszHyperlinkOriginalProc);
        return CallPrevious(pfnPrevious, hWnd, uMsg, wParam, lParam);

    case WM_CTLCOLORSTATIC:
        if (GetPropA(reinterpret_cast<HWND>(lParam), gszHyperlinkFromStatic)) {
            // The dialog picks the background; only the text colour is ours.
            LRESULT lBrush = CallPrevious(pfnPrevious, hWnd, uMsg, wParam, lParam);
            SetTextColor(reinterpret_cast<HDC>(wParam), LC_HYPERLINK_COLOUR);
            return lBrush;
        }
        break;
    }
    return CallPrevious(pfnPrevious, hWnd, uMsg, wParam, lParam);
}

static void ShowFont(HWND hWnd, const char* pszProperty)
{
    SendMessageA(hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(GetPropA(hWnd, pszProperty)), FALSE);
    InvalidateRect(hWnd, NULL, FALSE);
}

LRESULT CALLBACK HyperlinkProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    WNDPROC pfnPrevious = PreviousProc(hWnd);
    switch (uMsg) {
    case WM_DESTROY: {
        if (pfnPrevious)
            SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(pfnPrevious));
        RemovePropA(hWnd, gszHyperlinkOriginalProc);
        SendMessageA(hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(GetPropA(hWnd, gszHyperlinkOriginalFont)), FALSE);
        RemovePropA(hWnd, gszHyperlinkOriginalFont);
        HGDIOBJ hUnderline = GetPropA(hWnd, gszHyperlinkUnderlineFont);
        if (hUnderline)
            DeleteObject(hUnderline);
        RemovePropA(hWnd, gszHyperlinkUnderlineFont);
        RemovePropA(hWnd, gszHyperlinkFromStatic);
        return CallPrevious(pfnPrevious, hWnd, uMsg, wParam, lParam);
    }

    case WM_SETCURSOR: {
        HCURSOR hCursor = LoadCursor(NULL, IDC_HAND);
        if (!hCursor)
            hCursor = LoadCursor(NULL, IDC_ARROW);
        SetCursor(hCursor);
        return TRUE;
    }

    case WM_MOUSEMOVE:
        // Hover works by capture: every move reaches the link until one
        // lies outside it.
        if (GetCapture() != hWnd) {
            ShowFont(hWnd, gszHyperlinkUnderlineFont);
            SetCapture(hWnd);
        } else {
            POINT pt = { GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam) };
            ClientToScreen(hWnd, &pt);
            RECT rc;
            GetWindowRect(hWnd, &rc);
            if (!PtInRect(&rc, pt)) {
                ShowFont(hWnd, gszHyperlinkOriginalFont);
                ReleaseCapture();
            }
        }
        break;
    }
    return CallPrevious(pfnPrevious, hWnd, uMsg, wParam, lParam);
}

void OpenWebAddress(HWND hWndOwner)
{
    ShellExecuteA(hWndOwner, "open", WebAddress, NULL, NULL, SW_SHOWNORMAL);
}
