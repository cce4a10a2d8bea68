// The host window that owns a dialog opened from the ribbon.
#ifndef LETTERCAST_OWNER_WINDOW_H
#define LETTERCAST_OWNER_WINDOW_H

#include <windows.h>

// The host's active explorer or inspector window; the desktop window when
// there is none or the host cannot say. Never NULL.
HWND GetOwnerWindow();

#endif
