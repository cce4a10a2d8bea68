// Holds the prefix's desktop open while the tests run: Wine closes a desktop
// (and ends its explorer process) as soon as no program uses it, and every
// test that opens a window would otherwise start a new one first, about a
// second each. Its window is never shown; it runs until the Wine server ends.
#include <windows.h>

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = hInstance;
    wc.lpszClassName = "LettercastDesktopKeeper";
    if (!RegisterClassA(&wc))
        return 1;
    HWND hWnd = CreateWindowA(wc.lpszClassName, "", WS_POPUP, 0, 0, 0, 0, NULL, NULL, hInstance, NULL);
    if (hWnd == NULL)
        return 1;
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        DispatchMessageA(&msg);
    return 0;
}
