// What a press of a ribbon button hands to the add-in: an IRibbonControl
// with the button's Id and, as Context, the window that shows the ribbon.
#ifndef LETTERCAST_STANDIN_RIBBON_CONTROL_H
#define LETTERCAST_STANDIN_RIBBON_CONTROL_H

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

struct RibbonButton {
    std::string id;
    std::string label;
    std::string onAction;
};

// The buttons of a customUI document, in document order.
std::vector<RibbonButton> ParseRibbonButtons(const wchar_t* pszXml);

// Calls the button's onAction callback on the add-in by name, as the
// ribbon does: GetIDsOfNames, then Invoke with the control as the one
// argument. The callback's HRESULT.
HRESULT PressRibbonButton(IDispatch* pAddin, const RibbonButton& button, IDispatch* pContext);

#endif
