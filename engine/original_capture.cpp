#include "engine/original_capture.h"

#include <ctype.h>
#include <stdio.h>

#include <stdlib.h>
#include <string.h>

#include "engine/com_holder.h"
#include "engine/engine_report.h"
#include "engine/host_dispatch.h"
#include "engine/job_progress.h"
#include "engine/mapi_binding.h"
#include "engine/send_job_state.h"
#include "mailing/html_text.h"
#include "mailing/text_conversion.h"

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

// The code page of stored HTML bytes, from the charset its meta element
// declares: CP_UTF8, CP_ACP for the system's own code page or none declared,
// LC_HTML_CP_REFERENCES for any other (then only ASCII is safe to add).
UINT HtmlCodePage(const char* pszHtml)
{
    char szHead[2048];
    size_t cch = 0;
    for (; pszHtml[cch] && cch + 1 < sizeof(szHead); ++cch)
        szHead[cch] = (char)tolower((unsigned char)pszHtml[cch]);
    szHead[cch] = '\0';
    const char* pszCharset = strstr(szHead, "charset=");
    if (pszCharset == NULL)
        return 0;
    pszCharset += 8;
    while (*pszCharset == '"' || *pszCharset == '\'' || *pszCharset == ' ')
        ++pszCharset;
    char szName[32];
    size_t n = 0;
    while (n + 1 < sizeof(szName) && (isalnum((unsigned char)pszCharset[n]) || pszCharset[n] == '-' ||
                                      pszCharset[n] == '_'))
        szName[n] = pszCharset[n], ++n;
    szName[n] = '\0';
    if (strcmp(szName, "utf-8") == 0 || strcmp(szName, "utf8") == 0)
        return CP_UTF8;
    char szAnsi[32];
    snprintf(szAnsi, sizeof(szAnsi), "windows-%u", GetACP());
    if (strcmp(szName, szAnsi) == 0 || (GetACP() == 1252 && (strcmp(szName, "iso-8859-1") == 0 ||
                                                             strcmp(szName, "us-ascii") == 0)))
        return CP_ACP;
    // Bytes of the ANSI code page would read as other letters there.
    return LC_HTML_CP_REFERENCES;
}

void ShowCodeText(HWND hWndOwner, const char* pszFormat, HRESULT hr)
{
    char szText[LC_CAUGHT_TEXT_CAPACITY];
    snprintf(szText, sizeof(szText), pszFormat, (unsigned)hr);
    ShowJobText(hWndOwner, szText);
}

char* ReadSubject(IMessage* pMessage)
{
    // Read as Unicode: the subject may hold what the ANSI code page cannot.
    SizedSPropTagArray(1, tags) = { 1, { PR_SUBJECT_W } };
    ULONG cValues = 0;
    LPSPropValue pValues = NULL;
    char* pszSubject = NULL;
    HRESULT hr = pMessage->GetProps((LPSPropTagArray)&tags, 0, &cValues, &pValues);
    if (SUCCEEDED(hr) && pValues && cValues >= 1 && PROP_TYPE(pValues[0].ulPropTag) != PT_ERROR &&
        pValues[0].Value.lpszW)
        pszSubject = WideToCodePageHeap(pValues[0].Value.lpszW, CP_UTF8);
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
    char* pszBody = WideToCodePageHeap(pszWide, CP_UTF8);
    free(pszWide);
    if (pszBody == NULL)
        *pbEndJob = true;
    return pszBody;
}

// PR_BODY_W as a property value, in UTF-8; NULL when the store does not hand
// it out whole that way. *pbTooLarge tells a body the store keeps but hands
// out only through its stream (MAPI_E_NOT_ENOUGH_MEMORY in the value).
char* ReadUnicodeBodyValue(IMessage* pMessage, bool* pbTooLarge)
{
    *pbTooLarge = false;
    SizedSPropTagArray(1, tags) = { 1, { PR_BODY_W } };
    ULONG cValues = 0;
    LPSPropValue pValues = NULL;
    char* pszBody = NULL;
    HRESULT hr = pMessage->GetProps((LPSPropTagArray)&tags, 0, &cValues, &pValues);
    if (hr == S_OK && pValues && cValues >= 1 && pValues[0].ulPropTag == PR_BODY_W && pValues[0].Value.lpszW)
        pszBody = WideToCodePageHeap(pValues[0].Value.lpszW, CP_UTF8);
    else if (SUCCEEDED(hr) && pValues && cValues >= 1 && PROP_TYPE(pValues[0].ulPropTag) == PT_ERROR &&
             pValues[0].Value.err == MAPI_E_NOT_ENOUGH_MEMORY)
        *pbTooLarge = true;
    if (pValues)
        MapiBinding.MAPIFreeBuffer(pValues);
    return pszBody;
}

bool ReadBody(SendJobState* pState)
{
    bool bNoMemory = false;
    pState->pszOriginalBody.Reset(ReadWholeProperty(pState->pMAPIMessage, PR_BODY_A, &bNoMemory));
    if (bNoMemory)
        return false;
    if (pState->pszOriginalBody) {
        // The ANSI body loses what the code page lacks: the Unicode one
        // takes its place, read through its stream where the store does not
        // hand it out whole as a value (a long body).
        bool bTooLarge = false;
        char* pszUnicode = ReadUnicodeBodyValue(pState->pMAPIMessage, &bTooLarge);
        if (pszUnicode == NULL && bTooLarge) {
            bool bEndJob = false;
            pszUnicode = ReadUnicodeBody(pState->pMAPIMessage, pState->hWndOwner, &bEndJob);
            if (pszUnicode == NULL)
                return false;
        }
        if (pszUnicode) {
            pState->pszOriginalBody.Reset(pszUnicode);
            return true;
        }
        char* pszUtf8 = AnsiToUtf8Heap(pState->pszOriginalBody);
        pState->pszOriginalBody.Reset(pszUtf8);
        if (pszUtf8 == NULL)
            return false;
    }
    if (pState->pszOriginalBody == NULL) {
        bool bEndJob = false;
        pState->pszOriginalBody.Reset(ReadUnicodeBody(pState->pMAPIMessage, pState->hWndOwner, &bEndJob));
        if (bEndJob)
            return false;
    }
    if (pState->pszOriginalBody == NULL) {
        ShowJobText(pState->hWndOwner, "Failed to find message body");
        return false;
    }
    return true;
}

bool ReadHtmlBodyProperty(SendJobState* pState, int nBodyFormat)
{
    if (nBodyFormat != 2 || pState->pszOriginalHTMLBody)
        return true;
    ScopedVariant html;
    HRESULT hr = DispTryGetProperty(pState->pParent, L"HTMLBody", &html);
    if (FAILED(hr)) {
        ShowJobText(pState->hWndOwner, "Failed getting HTMLBody (1)");
        return false;
    }
    if (V_VT(&html.Get()) != VT_BSTR || V_BSTR(&html.Get()) == NULL) {
        ShowJobText(pState->hWndOwner, "Failed getting HTMLBody (2)");
        return false;
    }
    int cch = WideCharToMultiByte(CP_ACP, 0, V_BSTR(&html.Get()), -1, NULL, 0, NULL, NULL);
    if (cch <= 0) {
        ShowJobText(pState->hWndOwner, "Failed getting HTMLBody (2)");
        return false;
    }
    // The HTML goes on every copy in the charset it declares, whichever way
    // it was read: Unicode from HTMLBody is written as stored HTML would be.
    char* pszUtf8 = WideToCodePageHeap(V_BSTR(&html.Get()), CP_UTF8);
    pState->uHtmlCodePage = pszUtf8 ? HtmlCodePage(pszUtf8) : CP_UTF8;
    pState->pszOriginalHTMLBody.Reset(pszUtf8 ? Utf8ToHtmlCodePage(pszUtf8, pState->uHtmlCodePage) : NULL);
    free(pszUtf8);
    if (pState->pszOriginalHTMLBody == NULL) {
        ShowJobText(pState->hWndOwner, "Failed (2) to allocate HTML body memory");
        return false;
    }
    return true;
}

}  // namespace

bool CaptureOriginal(SendJobState* pState)
{
    HWND hWndOwner = pState->hWndOwner;

    SetJobPhase("Saving Original Message");
    try {
        DispCallMethod(pState->pParent, L"Save", NULL, 0, NULL);
    } catch (...) {
        ShowJobText(hWndOwner, "Failed saving original message. (caught)");
        return false;
    }

    SetJobPhase("Getting Original Subject");
    try {
        pState->pszOriginalSubject.Reset(ReadSubject(pState->pMAPIMessage));
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
        if (!ReadBody(pState))
            return false;
    } catch (...) {
        ShowJobText(hWndOwner, "Failed getting body. (caught)");
        return false;
    }

    int nBodyFormat = 0;
    try {
        ScopedVariant format;
        if (FAILED(DispTryGetProperty(pState->pParent, L"BodyFormat", &format)) ||
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
            pState->pszOriginalHTMLBody.Reset(ReadWholeProperty(pState->pMAPIMessage, PR_HTML, &bNoMemory));
            if (pState->pszOriginalHTMLBody)
                pState->uHtmlCodePage = HtmlCodePage(pState->pszOriginalHTMLBody);
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
        if (!ReadHtmlBodyProperty(pState, nBodyFormat))
            return false;
    } catch (...) {
        ShowJobText(hWndOwner, "Failed getting HTML body (3)");
        return false;
    }

    // Before anything is copied: the account every copy goes from.
    SetJobPhase("Getting Original Sender");
    ReadSenderAccount(pState->pParent, &pState->sender);
    return true;
}
