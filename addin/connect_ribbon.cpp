// CConnect's ribbon: which definition goes to which window, and the one
// callback of every button.
#include "addin/connect.h"

#include <oleidl.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "engine/host_dispatch.h"
#include "engine/send_job.h"
#include "resources/ids_addin.h"
#include "resources/ids_logs_dialog.h"
#include "resources/ids_options_dialog.h"
#include "settings/data_paths.h"
#include "ui/logs_dialog.h"
#include "ui/options_dialog.h"
#include "ui/owner_window.h"

namespace {

const wchar_t kszComposeRibbon[] = L"Microsoft.Outlook.Mail.Compose";
const wchar_t kszSendButton[] = L"LettercastSend";
const wchar_t kszOptionsButton[] = L"LettercastOptions";
const wchar_t kszLogButton[] = L"LettercastLog";

// "<prefix><counter>-<ribbon id>\n", the id cut to what the line holds.
void FormatDebugLine(wchar_t* pszLine, int cchLine, const wchar_t* pszPrefix, ULONG nCounter,
                     const wchar_t* pszRibbonId)
{
    int cch = swprintf(pszLine, cchLine, L"%ls%lx-", pszPrefix, (unsigned long)nCounter);
    if (cch < 0 || cch >= cchLine - 1) {
        pszLine[0] = L'\0';
        cch = 0;
    }
    int cchId = (int)wcslen(pszRibbonId);
    if (cchId > cchLine - 2 - cch)
        cchId = cchLine - 2 - cch;
    wmemcpy(pszLine + cch, pszRibbonId, cchId);
    cch += cchId;
    pszLine[cch++] = L'\n';
    pszLine[cch] = L'\0';
}

// The Announce command on the window that holds the ribbon: S_FALSE when it
// is no compose window of a mail item.
HRESULT AnnounceFromRibbon(IRibbonControl* pControl)
{
    ComHolder<IDispatch> context;
    HRESULT hr = pControl->get_Context(context.Receive());
    if (FAILED(hr))
        return hr;
    ComHolder<IDispatch> inspector;
    if (context.Get() == NULL || FAILED(context->QueryInterface(IID__Inspector, (void**)inspector.Receive())))
        return S_FALSE;

    ComHolder<IOleWindow> window;
    hr = inspector->QueryInterface(IID_IOleWindow, (void**)window.Receive());
    if (FAILED(hr))
        return hr;
    HWND hWndCompose = NULL;
    if (FAILED(window->GetWindow(&hWndCompose)))
        hWndCompose = NULL;
    window.Reset();

    ScopedVariant item;
    hr = DispTryGetProperty(inspector, L"CurrentItem", &item);
    if (FAILED(hr))
        return hr;
    ComHolder<IDispatch> mailItem((IDispatch*)QueryVariantInterface(item.Get(), IID__MailItem));
    if (mailItem.Get() == NULL)
        return S_FALSE;

    ScopedVariant itemClass;
    hr = DispTryGetProperty(mailItem, L"Class", &itemClass);
    if (FAILED(hr))
        return hr;
    if (FAILED(VariantChangeType(&itemClass.Get(), &itemClass.Get(), 0, VT_I4)) ||
        V_I4(&itemClass.Get()) != LC_OL_CLASS_MAIL)
        return S_FALSE;

    SendJob job(mailItem);
    job.Announce(hWndCompose);
    return S_OK;
}

}  // namespace

BSTR LoadXmlResource(UINT nResource)
{
    HRSRC hResource = FindResourceA(ghInstance, MAKEINTRESOURCEA(nResource), "XML");
    HGLOBAL hData = hResource ? LoadResource(ghInstance, hResource) : NULL;
    const char* pszXml = hData ? (const char*)LockResource(hData) : NULL;
    if (pszXml == NULL)
        return NULL;
    int cbXml = (int)SizeofResource(ghInstance, hResource);
    if (cbXml == 0)
        return SysAllocStringLen(NULL, 0);
    int cchWide = MultiByteToWideChar(CP_THREAD_ACP, 0, pszXml, cbXml, NULL, 0);
    if (cchWide <= 0)
        return NULL;
    BSTR bstrXml = SysAllocStringLen(NULL, cchWide);
    if (bstrXml == NULL)
        return NULL;
    MultiByteToWideChar(CP_THREAD_ACP, 0, pszXml, cbXml, bstrXml, cchWide);
    return bstrXml;
}

STDMETHODIMP CConnect::GetCustomUI(BSTR RibbonID, BSTR* RibbonXml)
{
    if (RibbonXml == NULL)
        return E_POINTER;
    const wchar_t* pszRibbonId = RibbonID ? RibbonID : L"";
    bool bCompose = wcsstr(pszRibbonId, kszComposeRibbon) != NULL;
    *RibbonXml = LoadXmlResource(bCompose ? IDR_RIBBON_MAIL_COMPOSE : IDR_RIBBON_EXPLORER);

    wchar_t szLine[LC_DEBUG_LINE_CAPACITY];
    FormatDebugLine(szLine, LC_DEBUG_LINE_CAPACITY, bCompose ? L"GetCustomUI-MAILITEM: " : L"GetCustomUI-EXPLORER: ",
                    m_nCustomUICalls, pszRibbonId);
    m_nCustomUICalls++;
    OutputDebugStringW(szLine);
    return S_OK;
}

STDMETHODIMP CConnect::ButtonClicked(IDispatch* ribbonControl)
{
    if (ribbonControl == NULL)
        return S_FALSE;
    ComHolder<IRibbonControl> control;
    if (FAILED(ribbonControl->QueryInterface(IID_IRibbonControl, (void**)control.Receive())))
        return S_FALSE;
    BSTR bstrId = NULL;
    HRESULT hr = control->get_Id(&bstrId);
    if (FAILED(hr))
        return hr;
    const wchar_t* pszId = bstrId ? bstrId : L"";

    // The host's calls may raise; none of that may leave a COM method.
    try {
        if (wcsstr(pszId, kszSendButton)) {
            hr = AnnounceFromRibbon(control);
        } else if (wcsstr(pszId, kszOptionsButton)) {
            DialogBoxParamA(ghInstance, MAKEINTRESOURCEA(IDD_OPTIONS), GetOwnerWindow(), OptionsDialog, 0);
            hr = S_OK;
        } else if (wcsstr(pszId, kszLogButton)) {
            DialogBoxParamA(ghInstance, MAKEINTRESOURCEA(IDD_LOGS), GetOwnerWindow(), LogsDialog, 0);
            hr = S_OK;
        } else {
            hr = S_OK;
        }
    } catch (const _com_error& error) {
        hr = error.Error();
    } catch (...) {
        hr = E_UNEXPECTED;
    }
    SysFreeString(bstrId);
    return hr;
}
