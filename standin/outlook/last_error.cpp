#include "standin/outlook/last_error.h"

#include <stdio.h>

#include "standin/outlook/dispatch_object.h"
#include "standin/outlook/mapi_values.h"

LastError::LastError() : m_hr(S_OK)
{
    m_szText[0] = '\0';
}

HRESULT LastError::Set(HRESULT hr, const char* pszText)
{
    m_hr = hr;
    snprintf(m_szText, sizeof(m_szText), "%s", pszText);
    return hr;
}

bool LastError::Faulted(const char* pszOperation, HRESULT* phr)
{
    if (!VtableFault(pszOperation, phr))
        return false;
    char szText[160];
    snprintf(szText, sizeof(szText), "Injected fault in %s", pszOperation);
    Set(*phr, szText);
    return true;
}

HRESULT LastError::Report(HRESULT hr, ULONG ulFlags, LPMAPIERROR* lppMAPIError, const char* pszOtherFormat) const
{
    if (!lppMAPIError)
        return MAPI_E_INVALID_PARAMETER;
    *lppMAPIError = NULL;
    char szText[sizeof(m_szText)];
    if (hr == m_hr && m_szText[0])
        snprintf(szText, sizeof(szText), "%s", m_szText);
    else
        snprintf(szText, sizeof(szText), pszOtherFormat, (unsigned long)hr);
    return MakeMapiError(szText, ulFlags, lppMAPIError);
}
