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

// The raw calls: the call's HRESULT, with the error information of a failed
// call left current on the thread (GetErrorInfo) as the host leaves it. They
// raise nothing.
HRESULT DispTryGetProperty(IDispatch* pObject, LPCOLESTR pszName, VARIANT* pResult);
HRESULT DispTryPutProperty(IDispatch* pObject, LPCOLESTR pszName, const VARIANT& value);
HRESULT DispTryPutRefProperty(IDispatch* pObject, LPCOLESTR pszName, IDispatch* pValue);
HRESULT DispTryCallMethod(IDispatch* pObject, LPCOLESTR pszName, const VARIANT* pArgs, int nArgs, VARIANT* pResult);

// The wrapped calls: each raises _com_error when the member is unknown or the
// call fails.
void DispGetProperty(IDispatch* pObject, LPCOLESTR pszName, VARIANT* pResult);
// Arguments in their natural order, first argument first.
void DispCallMethod(IDispatch* pObject, LPCOLESTR pszName, const VARIANT* pArgs, int nArgs, VARIANT* pResult);

// Outlook's numbers of the default folders the engine uses (OlDefaultFolders).
enum {
    olFolderOutbox = 4,
    olFolderSentMail = 5,
};

// GetDefaultFolder(nFolder) of a NameSpace, or of a Store for its own
// folders: the folder with its own reference, NULL with the call's result in
// *phr when it fails. Raises nothing.
IDispatch* DefaultFolder(IDispatch* pFolders, int nFolder, HRESULT* phr);

// The interface that a VT_UNKNOWN or VT_DISPATCH result answers for riid,
// with its own reference; NULL for an empty result or a refusal.
void* QueryVariantInterface(const VARIANT& value, REFIID riid);
// The object of a VT_DISPATCH result with its own reference, else NULL.
IDispatch* VariantDispatch(const VARIANT& value);

#endif
