// Calls on the host's objects by member name through IDispatch, made as the
// host type library's wrappers make them: a failed call raises _com_error
// carrying the error information of the call. This reaches every host
// version alike.
#ifndef LETTERCAST_HOST_DISPATCH_H
#define LETTERCAST_HOST_DISPATCH_H

#include <windows.h>
#include <oaidl.h>
#include <comdef.h>

// A VARIANT that clears itself.
class ScopedVariant {
public:
    ScopedVariant() { VariantInit(&m_value); }
    ~ScopedVariant() { VariantClear(&m_value); }
    ScopedVariant(const ScopedVariant&) = delete;
    ScopedVariant& operator=(const ScopedVariant&) = delete;

    VARIANT* operator&() { return &m_value; }
    VARIANT& Get() { return m_value; }
    const VARIANT& Get() const { return m_value; }
    // Hands the value over; this one is left empty.
    VARIANT Detach()
    {
        VARIANT value = m_value;
        VariantInit(&m_value);
        return value;
    }

private:
    VARIANT m_value;
};

// Raises _com_error for a failed HRESULT with the thread's current error
// information, if any.
void ThrowComError(HRESULT hr);

// Each raises _com_error when the member is unknown or the call fails.
void DispGetProperty(IDispatch* pObject, LPCOLESTR pszName, VARIANT* pResult);
void DispPutProperty(IDispatch* pObject, LPCOLESTR pszName, const VARIANT& value);
void DispPutRefProperty(IDispatch* pObject, LPCOLESTR pszName, IDispatch* pValue);
// Arguments in their natural order, first argument first.
void DispCallMethod(IDispatch* pObject, LPCOLESTR pszName, const VARIANT* pArgs, int nArgs, VARIANT* pResult);

// Narrows a wide text into the ANSI code page, cut to the buffer; NULL gives "".
void WideToAnsi(const wchar_t* pszWide, char* pszOut, int cchOut);

#endif
