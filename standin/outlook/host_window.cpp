#include "standin/outlook/host_window.h"

namespace {

const wchar_t kWindowClass[] = L"LettercastStandinWindow";

struct CloseTarget {
    WindowCloseHandler pfnClose;
    void* pContext;
};

HINSTANCE ThisModule()
{
    HMODULE hModule = NULL;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       (LPCWSTR)&ThisModule, &hModule);
    return hModule;
}

LRESULT CALLBACK HostWindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    CloseTarget* pTarget = (CloseTarget*)GetWindowLongPtrW(hWnd, GWLP_USERDATA);
    switch (uMsg) {
    case WM_CLOSE:
        if (pTarget && pTarget->pfnClose) {
            pTarget->pfnClose(pTarget->pContext);
            return 0;
        }
        break;
    case WM_NCDESTROY:
        SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
        delete pTarget;
        break;
    default:
        break;
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

bool RegisterHostClass()
{
    static bool s_bRegistered = false;
    if (s_bRegistered)
        return true;
    WNDCLASSEXW wc;
    ZeroMemory(&wc, sizeof(wc));
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = HostWindowProc;
    wc.hInstance = ThisModule();
    wc.hCursor = LoadCursor(NULL, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    wc.lpszClassName = kWindowClass;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return false;
    s_bRegistered = true;
    return true;
}

}  // namespace

HWND CreateHostWindow(const wchar_t* pszTitle, WindowCloseHandler pfnClose, void* pContext)
{
    if (!RegisterHostClass())
        return NULL;
    HWND hWnd = CreateWindowExW(0, kWindowClass, pszTitle, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 640, 480,
                                NULL, NULL, ThisModule(), NULL);
    if (!hWnd)
        return NULL;
    CloseTarget* pTarget = new CloseTarget;
    pTarget->pfnClose = pfnClose;
    pTarget->pContext = pContext;
    SetWindowLongPtrW(hWnd, GWLP_USERDATA, (LONG_PTR)pTarget);
    return hWnd;
}

void DestroyHostWindow(HWND hWnd)
{
    if (!hWnd || !IsWindow(hWnd))
        return;
    CloseTarget* pTarget = (CloseTarget*)GetWindowLongPtrW(hWnd, GWLP_USERDATA);
    if (pTarget)
        pTarget->pfnClose = NULL;
    DestroyWindow(hWnd);
}
