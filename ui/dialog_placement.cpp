#include "ui/dialog_placement.h"

// A coordinate past the screen's far edge is pulled back so the dialog ends at
// that edge; one more than half the dialog off the near edge goes to 0. A dialog
// larger than the screen keeps its centre on the screen's centre.
static int ClampToScreen(int nPos, int nSize, int nScreen)
{
    if (nPos > nScreen)
        nPos = nScreen - nSize;
    if ((double)nPos < -(double)nSize * 0.5)
        nPos = 0;
    return nPos;
}

void CenterOnScreen(HWND hDlg)
{
    RECT rcDlg;
    GetWindowRect(hDlg, &rcDlg);
    int w = rcDlg.right - rcDlg.left;
    int h = rcDlg.bottom - rcDlg.top;

    HWND hDesktop = GetDesktopWindow();
    RECT rcDesktop;
    GetClientRect(hDesktop, &rcDesktop);
    POINT ptCentre = { rcDesktop.right / 2, rcDesktop.bottom / 2 };
    ClientToScreen(hDesktop, &ptCentre);

    int x = ptCentre.x - w / 2;
    int y = ptCentre.y - h / 2;

    HDC hdc = GetDC(hDlg);
    int nScreenWidth = GetDeviceCaps(hdc, HORZRES);
    int nScreenHeight = GetDeviceCaps(hdc, VERTRES);
    ReleaseDC(hDlg, hdc);

    x = ClampToScreen(x, w, nScreenWidth);
    y = ClampToScreen(y, h, nScreenHeight);
    MoveWindow(hDlg, x, y, w, h, FALSE);
}
