// What a stand-in MAPI object remembers of its last failure, so that
// GetLastError can tell the text that went with the HRESULT the caller got.
#ifndef LETTERCAST_STANDIN_LAST_ERROR_H
#define LETTERCAST_STANDIN_LAST_ERROR_H

#include "standin/outlook/standin_mapi.h"

class LastError {
public:
    LastError();

    // Remembers the text and hands the HRESULT back, for "return Set(...)".
    HRESULT Set(HRESULT hr, const char* pszText);

    // True when the fault plan makes the operation fail; *phr is the failure
    // and it is remembered as "Injected fault in <operation>".
    bool Faulted(const char* pszOperation, HRESULT* phr);

    // A MAPIERROR for hr: the remembered text when hr was the last failure,
    // otherwise pszOtherFormat with the HRESULT (one %08lX).
    HRESULT Report(HRESULT hr, ULONG ulFlags, LPMAPIERROR* lppMAPIError,
                   const char* pszOtherFormat = "The operation failed (0x%08lX).") const;

private:
    HRESULT m_hr;
    char m_szText[320];
};

#endif
