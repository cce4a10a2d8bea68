#include "engine/send_job.h"

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <memory>
#include <new>
#include <string>

#include "addin/host_state.h"
#include "engine/com_holder.h"
#include "engine/host_dispatch.h"
#include "engine/mapi_binding.h"
#include "engine/job_waits.h"
#include "engine/message_send.h"
#include "engine/original_capture.h"
#include "engine/recipient_files.h"
#include "engine/recipient_merge.h"
#include "engine/send_job_state.h"
#include "settings/settings_store.h"
#include "mailing/bounded_copy.h"
#include "mailing/list_reader.h"
#include "mailing/text_conversion.h"

namespace {

// The profile's own address: an Exchange user's primary SMTP address, else
// the current user's address entry's, else the recipient's own.
bool ReadOwnAddress(char* pszAddress, int cchAddress)
{
    pszAddress[0] = '\0';
    if (gpApplication == NULL)
        return false;
    try {
        ScopedVariant session, user, entry;
        DispGetProperty(gpApplication, L"Session", &session);
        ComHolder<IDispatch> pSession(VariantDispatch(session.Get()));
        if (pSession.Get() == NULL)
            return false;
        DispGetProperty(pSession, L"CurrentUser", &user);
        ComHolder<IDispatch> pUser(VariantDispatch(user.Get()));
        if (pUser.Get() == NULL)
            return false;
        ScopedVariant address;
        if (SUCCEEDED(DispTryGetProperty(pUser, L"AddressEntry", &entry))) {
            ComHolder<IDispatch> pEntry(VariantDispatch(entry.Get()));
            ScopedVariant type;
            if (pEntry.Get() && SUCCEEDED(DispTryGetProperty(pEntry, L"Type", &type)) && V_VT(&type.Get()) == VT_BSTR &&
                V_BSTR(&type.Get()) && wcscmp(V_BSTR(&type.Get()), L"EX") == 0) {
                ScopedVariant exchange;
                if (SUCCEEDED(DispTryCallMethod(pEntry, L"GetExchangeUser", NULL, 0, &exchange))) {
                    ComHolder<IDispatch> pExchange(VariantDispatch(exchange.Get()));
                    if (pExchange.Get())
                        DispTryGetProperty(pExchange, L"PrimarySmtpAddress", &address);
                }
            } else if (pEntry.Get()) {
                DispTryGetProperty(pEntry, L"Address", &address);
            }
        }
        if (V_VT(&address.Get()) != VT_BSTR || V_BSTR(&address.Get()) == NULL || !V_BSTR(&address.Get())[0]) {
            ScopedVariant own;
            if (FAILED(DispTryGetProperty(pUser, L"Address", &own)) || V_VT(&own.Get()) != VT_BSTR ||
                V_BSTR(&own.Get()) == NULL)
                return false;
            WideToAnsi(V_BSTR(&own.Get()), pszAddress, cchAddress);
        } else {
            WideToAnsi(V_BSTR(&address.Get()), pszAddress, cchAddress);
        }
    } catch (...) {
        pszAddress[0] = '\0';
    }
    return strchr(pszAddress, '@') != NULL;
}

// The list (a workbook's sheet written out by the state's source) read up to
// its recipient nIndex, into the state's header and record.
bool ReadTestRecipient(SendJobState* pState, int nIndex)
{
    ListReader list;
    if (!pState->source.Open(&list))
        return false;
    pState->nEmailColumn = -1;
    bool bHeaderDone = false, bFound = false;
    for (int n = 1; list.ReadNextRecipient(&pState->nEmailColumn, bHeaderDone, pState->szAddress,
                                           LC_ADDRESS_CAPACITY, NULL, 0, NULL, 0, &pState->header, &pState->record);
         ++n) {
        bHeaderDone = true;
        if (n == nIndex) {
            bFound = true;
            break;
        }
    }
    return bFound;
}

}  // namespace

bool SendJob::SendTestCopy(HWND hWndOwner, const char* pszListPath, int nIndex, char* pszResult, int cchResult)
{
    snprintf(pszResult, cchResult, "%s", "");
    if (m_pParent == NULL || m_pMAPIMessage == NULL) {
        snprintf(pszResult, cchResult, "The message cannot be read.");
        return false;
    }
    m_hWndOwner = hWndOwner;
    // Two raw records of the longest kind: too much for the host's stack.
    std::unique_ptr<SendJobState> pState(new (std::nothrow) SendJobState(m_pParent, m_pMAPIMessage, m_hWndOwner));
    if (!pState) {
        snprintf(pszResult, cchResult, "Out of memory.");
        return false;
    }
    SendJobState& state = *pState;
    char szOwn[LC_ADDRESS_CAPACITY];
    bool bSent = false;
    // The copy's own failure lines go to a scratch file that is deleted: the
    // test writes no log.
    char szTempDir[MAX_PATH], szScratch[MAX_PATH] = "";
    DWORD cchTemp = GetTempPathA(sizeof(szTempDir), szTempDir);
    if (cchTemp > 0 && cchTemp < sizeof(szTempDir) && GetTempFileNameA(szTempDir, "lct", 0, szScratch) != 0)
        state.pCurrentLog.Reset(fopen(szScratch, "w"));
    if (!ReadOwnAddress(szOwn, sizeof(szOwn))) {
        snprintf(pszResult, cchResult, "Outlook gives no e-mail address of your own.");
    } else if (state.pCurrentLog == NULL) {
        snprintf(pszResult, cchResult, "Could not make a scratch file in the temporary folder.");
    } else if (!state.source.Prepare(pszListPath, JobOptions.ToSheet, IsWorkbookFile(pszListPath))) {
        snprintf(pszResult, cchResult, "%s", state.source.Message().c_str());
    } else if (!ReadTestRecipient(&state, nIndex)) {
        snprintf(pszResult, cchResult, "The mailing list has no recipient %d.", nIndex);
    } else if (BindMapi()) {
        // The recipient's copy, files included.
        BeginTestCopyFiles(&state, pszListPath);
        try {
            if (CaptureOriginal(&state) && AllocateWorkingCopies(&state) && MergeRecipient(&state)) {
                std::string subject = std::string("[Test] ") + state.pszSubjectCopy.Get();
                state.pszSubjectCopy.Reset(_strdup(subject.c_str()));
                CopyBounded(state.szAddress, LC_ADDRESS_CAPACITY, szOwn);
                CopyBounded(state.szDisplayName, LC_ADDRESS_CAPACITY, szOwn);
                CopyBounded(state.szRecipientAddress, LC_ADDRESS_CAPACITY, szOwn);
                if (state.pszSubjectCopy) {
                    RecipientOutcome outcome = SendRecipientCopy(&state);
                    bSent = outcome == RecipientCompleted;
                    // A test copy counts against the sending limits as any other.
                    if (bSent) {
                        BeginSendingLimits(&state);
                        NoteCopySubmitted(&state, CopyRecipientCount(&state));
                    }
                    if (!bSent)
                        snprintf(pszResult, cchResult, "The test copy was not sent%s%s", state.szNotSentReason[0] ? ": " : ".",
                                 state.szNotSentReason);
                }
            }
        } catch (...) {
            bSent = false;
            snprintf(pszResult, cchResult, "The test copy was not sent: an unexpected error was caught.");
        }
        UnbindMapi();
    }
    if (bSent && state.source.IsWorkbook())
        snprintf(pszResult, cchResult, "A test copy for recipient %d of the sheet \"%s\" was sent to %s.", nIndex,
                 state.source.SheetAsLogged().c_str(), szOwn);
    else if (bSent)
        snprintf(pszResult, cchResult, "A test copy for recipient %d was sent to %s.", nIndex, szOwn);
    ReleaseRecipientObjects(&state);
    // The scratch file is closed before it is deleted.
    state.pCurrentLog.Reset();
    if (szScratch[0])
        DeleteFileA(szScratch);
    return bSent;
}
