// The real windows of the stand-in: the explorer's main window and one per
// inspector, so that IOleWindow answers a handle that dialogs can be owned by.
#ifndef LETTERCAST_STANDIN_HOST_WINDOW_H
#define LETTERCAST_STANDIN_HOST_WINDOW_H

#include <windows.h>

// Called when the user closes the window; it is expected to destroy it.
typedef void (*WindowCloseHandler)(void* pContext);

// A visible top-level window of the calling thread; NULL on failure.
HWND CreateHostWindow(const wchar_t* pszTitle, WindowCloseHandler pfnClose, void* pContext);
// Forgets the handler, then destroys the window.
void DestroyHostWindow(HWND hWnd);

#endif
