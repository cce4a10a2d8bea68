#include "ui/owner_window.h"

#include <oleidl.h>

#include "addin/host_state.h"
#include "engine/com_holder.h"
#include "engine/host_dispatch.h"

HWND GetOwnerWindow()
{
    if (gpApplication == NULL)
        return GetDesktopWindow();
    HWND hWnd = NULL;
    try {
        ScopedVariant active;
        DispCallMethod(gpApplication, L"ActiveWindow", NULL, 0, &active);
        ComHolder<IOleWindow> window((IOleWindow*)QueryVariantInterface(active.Get(), IID_IOleWindow));
        if (window.Get() == NULL || FAILED(window->GetWindow(&hWnd)))
            hWnd = NULL;
    } catch (...) {
        hWnd = NULL;
    }
    return hWnd ? hWnd : GetDesktopWindow();
}
