#include "engine/original_capture.h"

#include <stdlib.h>
#include <string.h>

#include "engine/com_holder.h"
#include "engine/engine_report.h"
#include "engine/host_dispatch.h"
#include "engine/job_progress.h"
#include "engine/mapi_binding.h"
#include "engine/send_job.h"
#include "engine/send_job_state.h"

char* ReadWholeProperty(IMessage* pMessage, ULONG ulTag, bool* pbNoMemory)
{
    *pbNoMemory = false;
    ComHolder<IStream> property;
    if (FAILED(pMessage->OpenProperty(ulTag, &IID_IStream, 0, 0, (LPUNKNOWN*)property.Receive())) ||
        property.Get() == NULL)
        return NULL;

    char szTempDir[MAX_PATH];
    DWORD cchTemp = GetTempPathA(MAX_PATH, szTempDir);
    if (cchTemp == 0 || cchTemp >= MAX_PATH)
        return NULL;
    ComHolder<IStream> temp;
    if (FAILED(MapiBinding.OpenStreamOnFile(MapiBinding.MAPIAllocateBuffer, MapiBinding.MAPIFreeBuffer,
                                            LC_TEMP_STREAM_FLAGS, szTempDir, (LPSTR)LC_TEMP_STREAM_PREFIX,
                                            temp.Receive())) ||
        temp.Get() == NULL)
        return NULL;

    ULARGE_INTEGER cbLimit, cbRead, cbWritten;
    cbLimit.QuadPart = 0x7FFFFFFFFFFFFFFFull;
    cbRead.QuadPart = 0;
    cbWritten.QuadPart = 0;
    // A failed copy leaves the counts at what was copied: an empty text at worst.
    property->CopyTo(temp, cbLimit, &cbRead, &cbWritten);

    ULONG cbText = cbWritten.LowPart;
    if (cbText == 0xFFFFFFFFu) {
        *pbNoMemory = true;
        return NULL;
    }
    char* pszText = (char*)calloc((size_t)cbText + 1, 1);
    if (pszText == NULL) {
        *pbNoMemory = true;
        return NULL;
    }
    LARGE_INTEGER start;
    start.QuadPart = 0;
    temp->Seek(start, STREAM_SEEK_SET, NULL);
    ULONG cbGot = 0;
    if (FAILED(temp->Read(pszText, cbText, &cbGot)) || cbGot > cbText)
        cbGot = 0;
    pszText[cbGot] = '\0';
    return pszText;
}

namespace {

void ShowCodeText(HWND hWndOwner, const char* pszFormat, HRESULT hr)
{
    char szText[LC_CAUGHT_TEXT_CAPACITY];
    snprintf(szText, sizeof(szText), pszFormat, (unsigned)hr);
    ShowJobText(hWndOwner, szText);
}

char* ReadSubject(IMessage* pMessage)
{
    SizedSPropTagArray(1, tags) = { 1, { PR_SUBJECT_A } };
    ULONG cValues = 0;
    LPSPropValue pValues = NULL;
    char* pszSubject = NULL;
    HRESULT hr = pMessage->GetProps((LPSPropTagArray)&tags, 0, &cValues, &pValues);
    if (SUCCEEDED(hr) && pValues && cValues >= 1 && PROP_TYPE(pValues[0].ulPropTag) != PT_ERROR &&
        pValues[0].Value.lpszA)
        pszSubject = strdup(pValues[0].Value.lpszA);
    if (pValues)
        MapiBinding.MAPIFreeBuffer(pValues);
    return pszSubject;
}

// The Unicode body, for stores without PR_BODY_A. *pbEndJob is set when the
// job must end silently (out of memory).
char* ReadUnicodeBody(IMessage* pMessage, HWND hWndOwner, bool* pbEndJob)
{
    ComHolder<IStream> stream;
    HRESULT hr = pMessage->OpenProperty(PR_BODY_W, &IID_IStream, 0, 0, (LPUNKNOWN*)stream.Receive());
    if (FAILED(hr) || stream.Get() == NULL) {
        ShowCodeText(hWndOwner, "OpenProperty 2 Failed for PR_BODY_W: %X", hr);
        return NULL;
    }
    STATSTG stat;
    memset(&stat, 0, sizeof(stat));
    hr = stream->Stat(&stat, STATFLAG_NONAME);
    if (FAILED(hr)) {
        ShowCodeText(hWndOwner, "Stat Failed for PR_BODY_W: %X", hr);
        return NULL;
    }
    ULONG cbBody = stat.cbSize.LowPart;
    // Room for the bytes and a terminator, in whole wide characters.
    size_t cchWide = (size_t)cbBody / sizeof(wchar_t) + 2;
    wchar_t* pszWide = (wchar_t*)calloc(cchWide, sizeof(wchar_t));
    if (pszWide == NULL) {
        *pbEndJob = true;
        return NULL;
    }
    ULONG cbGot = 0;
    hr = stream->Read(pszWide, cbBody, &cbGot);
    if (FAILED(hr)) {
        ShowCodeText(hWndOwner, "Read Failed for PR_BODY_W: %X", hr);
        free(pszWide);
        return NULL;
    }
    char* pszBody = WideToAnsiHeap(pszWide);
    free(pszWide);
    if (pszBody == NULL)
        *pbEndJob = true;
    return pszBody;
}

bool ReadBody(SendJob* pJob, SendJobState* pState)
{
    bool bNoMemory = false;
    pState->pszOriginalBody = ReadWholeProperty(pJob->m_pMAPIMessage, PR_BODY_A, &bNoMemory);
    if (bNoMemory)
        return false;
    if (pState->pszOriginalBody == NULL) {
        bool bEndJob = false;
        pState->pszOriginalBody = ReadUnicodeBody(pJob->m_pMAPIMessage, pJob->m_hWndOwner, &bEndJob);
        if (bEndJob)
            return false;
    }
    if (pState->pszOriginalBody == NULL) {
        ShowJobText(pJob->m_hWndOwner, "Failed to find message body");
        return false;
    }
    return true;
}

bool ReadHtmlBodyProperty(SendJob* pJob, SendJobState* pState, int nBodyFormat)
{
    if (nBodyFormat != 2 || pState->pszOriginalHTMLBody)
        return true;
    ScopedVariant html;
    HRESULT hr = DispTryGetProperty(pJob->m_pParent, L"HTMLBody", &html);
    if (FAILED(hr)) {
        ShowJobText(pJob->m_hWndOwner, "Failed getting HTMLBody (1)");
        return false;
    }
    if (V_VT(&html.Get()) != VT_BSTR || V_BSTR(&html.Get()) == NULL) {
        ShowJobText(pJob->m_hWndOwner, "Failed getting HTMLBody (2)");
        return false;
    }
    int cch = WideCharToMultiByte(CP_ACP, 0, V_BSTR(&html.Get()), -1, NULL, 0, NULL, NULL);
    if (cch <= 0) {
        ShowJobText(pJob->m_hWndOwner, "Failed getting HTMLBody (2)");
        return false;
    }
    pState->pszOriginalHTMLBody = WideToAnsiHeap(V_BSTR(&html.Get()));
    if (pState->pszOriginalHTMLBody == NULL) {
        ShowJobText(pJob->m_hWndOwner, "Failed (2) to allocate HTML body memory");
        return false;
    }
    return true;
}

}  // namespace

bool CaptureOriginal(SendJob* pJob, SendJobState* pState)
{
    HWND hWndOwner = pJob->m_hWndOwner;

    SetJobPhase("Saving Original Message");
    try {
        DispCallMethod(pJob->m_pParent, L"Save", NULL, 0, NULL);
    } catch (...) {
        ShowJobText(hWndOwner, "Failed saving original message. (caught)");
        return false;
    }

    SetJobPhase("Getting Original Subject");
    try {
        pState->pszOriginalSubject = ReadSubject(pJob->m_pMAPIMessage);
    } catch (...) {
        ShowJobText(hWndOwner, "Failed getting subject and bext body. (caught)");
        return false;
    }
    if (pState->pszOriginalSubject == NULL) {
        ShowJobText(hWndOwner, "Failed to find message subject");
        return false;
    }

    SetJobPhase("Getting Original Body");
    try {
        if (!ReadBody(pJob, pState))
            return false;
    } catch (...) {
        ShowJobText(hWndOwner, "Failed getting body. (caught)");
        return false;
    }

    int nBodyFormat = 0;
    try {
        ScopedVariant format;
        if (FAILED(DispTryGetProperty(pJob->m_pParent, L"BodyFormat", &format)) ||
            FAILED(VariantChangeType(&format.Get(), &format.Get(), 0, VT_I4))) {
            ShowJobText(hWndOwner, "Failed getting body format");
            return false;
        }
        nBodyFormat = V_I4(&format.Get());
    } catch (...) {
        ShowJobText(hWndOwner, "Caught failure getting body format");
        return false;
    }

    if (nBodyFormat != 1) {
        SetJobPhase("Getting Original HTML Body");
        try {
            bool bNoMemory = false;
            pState->pszOriginalHTMLBody = ReadWholeProperty(pJob->m_pMAPIMessage, PR_HTML, &bNoMemory);
            if (bNoMemory) {
                ShowJobText(hWndOwner, "Error allocating memory for original HTML body");
                return false;
            }
        } catch (...) {
            ShowJobText(hWndOwner, "Failed getting HTML body");
            return false;
        }
    }

    try {
        if (!ReadHtmlBodyProperty(pJob, pState, nBodyFormat))
            return false;
    } catch (...) {
        ShowJobText(hWndOwner, "Failed getting HTML body (3)");
        return false;
    }
    return true;
}
