// The Announce command after the ribbon: the main dialog for the composed
// message and, once a job has completed, what becomes of that message.
#include "engine/send_job.h"

#include <commctrl.h>
#include <stdio.h>

#include "engine/engine_report.h"
#include "engine/host_dispatch.h"
#include "job/main_dialog.h"
#include "logs/job_log.h"
#include "resources/product.h"
#include "resources/resource.h"
#include "settings/data_paths.h"
#include "settings/settings_store.h"
#include "ui/message_box.h"

namespace {

const LONG olSave = 0;

#define LC_DISPOSAL_TEXT_CAPACITY 128

// The current job log opened for one more entry; NULL after telling the user
// that it cannot be opened.
FILE* OpenLogForAppending(HWND hWndOwner)
{
    FILE* pLog = gszCurrentJobPath[0] ? fopen(gszCurrentJobPath, "a+") : NULL;
    if (pLog == NULL)
        ShowStringMessage(hWndOwner, IDS_CURRENT_LOG_FAILED, LC_PRODUCT_NAME, MB_ICONWARNING | MB_OK);
    return pLog;
}

// Close with olSave or Delete on the message. A failure that came with
// error information is the host raising an error, and goes out as the
// _com_error the host's own wrappers would raise; a bare failure code is
// returned.
HRESULT DisposeOfMessage(IDispatch* pMessage, bool bKeep)
{
    HRESULT hr;
    if (bKeep) {
        VARIANT saveMode;
        VariantInit(&saveMode);
        V_VT(&saveMode) = VT_I4;
        V_I4(&saveMode) = olSave;
        hr = DispTryCallMethod(pMessage, L"Close", &saveMode, 1, NULL);
    } else {
        hr = DispTryCallMethod(pMessage, L"Delete", NULL, 0, NULL);
    }
    if (FAILED(hr)) {
        IErrorInfo* pErrorInfo = NULL;
        if (GetErrorInfo(0, &pErrorInfo) == S_OK && pErrorInfo)
            throw _com_error(hr, pErrorInfo, false);
    }
    return hr;
}

}  // namespace

void SendJob::Announce(HWND hWndOwner)
{
    m_hWndOwner = hWndOwner ? hWndOwner : GetDesktopWindow();

    // The dialog's template holds a progress bar and a date and time picker,
    // whose classes must exist before the dialog is made.
    INITCOMMONCONTROLSEX init = { sizeof(init), ICC_WIN95_CLASSES | ICC_DATE_CLASSES };
    InitCommonControlsEx(&init);
    INT_PTR nResult = DialogBoxParamA(ghInstance, MAKEINTRESOURCEA(IDD_MAIN_DIALOG), m_hWndOwner, MainDialog,
                                      (LPARAM)this);
    // Closed without a job, refused, or the job did not complete (or the
    // dialog could not be made at all): the message stays as the user left it.
    if (nResult != 1)
        return;

    bool bKeep = JobOptions.SaveOrig != 0;
    const char* pszVerb = bKeep ? "close" : "delete";
    try {
        HRESULT hr = DisposeOfMessage(m_pParent, bKeep);
        if (FAILED(hr)) {
            FILE* pLog = OpenLogForAppending(m_hWndOwner);
            if (pLog) {
                LogOriginalFailure(pLog, pszVerb, (long)hr);
                fclose(pLog);
            }
        }
    } catch (const _com_error& error) {
        char szLocation[LC_DISPOSAL_TEXT_CAPACITY];
        snprintf(szLocation, sizeof(szLocation), "Error attempting to %s original message.", pszVerb);
        FILE* pLog = OpenLogForAppending(m_hWndOwner);
        if (pLog) {
            ReportComError(error, pLog, szLocation);
            fclose(pLog);
        }
    } catch (...) {
        FILE* pLog = OpenLogForAppending(m_hWndOwner);
        if (pLog) {
            LogOriginalError(pLog, pszVerb);
            fclose(pLog);
        }
    }
}
