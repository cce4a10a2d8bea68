// CConnect's connection to its host: the version check, the MAPI session of
// the profile, and the InspectorsEvents subscription.
#include "addin/connect.h"

#include <ocidl.h>
#include <stdio.h>
#include <wchar.h>

#include "addin/host_state.h"
#include "engine/host_dispatch.h"
#include "engine/mapi_defs.h"
#include "resources/product.h"

#define LC_OLDEST_SUPPORTED_VERSION 12.0   // Outlook 2007

namespace {

// Takes a reference on the new value before the old one goes, so that
// storing the value already held never frees it.
void ReplaceHeld(ComHolder<IDispatch>* pHolder, IDispatch* pNew)
{
    if (pHolder->Get() == pNew)
        return;
    if (pNew)
        pNew->AddRef();
    pHolder->Reset(pNew);
}

void ShowHostMessage(const char* pszText)
{
    MessageBoxA(NULL, pszText, LC_PRODUCT_NAME, MB_OK);
}

void ShowHostFailure(const char* pszFormat, HRESULT hr)
{
    char szText[LC_HOST_MESSAGE_CAPACITY];
    snprintf(szText, sizeof(szText), pszFormat, (unsigned)hr);
    ShowHostMessage(szText);
}

// A version that cannot be read counts as text without a number.
double ReadHostVersion(IDispatch* pApplication)
{
    ScopedVariant version;
    if (FAILED(DispTryGetProperty(pApplication, L"Version", &version)) || V_VT(&version.Get()) != VT_BSTR ||
        V_BSTR(&version.Get()) == NULL)
        return 0.0;
    return wcstod(V_BSTR(&version.Get()), NULL);
}

HRESULT FindInspectorsConnectionPoint(IDispatch* pInspectors, IConnectionPoint** ppPoint)
{
    *ppPoint = NULL;
    if (pInspectors == NULL)
        return E_INVALIDARG;
    ComHolder<IConnectionPointContainer> container;
    HRESULT hr = pInspectors->QueryInterface(IID_IConnectionPointContainer, (void**)container.Receive());
    if (FAILED(hr))
        return hr;
    return container->FindConnectionPoint(DIID_InspectorsEvents, ppPoint);
}

}  // namespace

bool IsSupportedHost()
{
    // Written so that a NaN version is refused too.
    return gdOutlookVersion >= LC_OLDEST_SUPPORTED_VERSION;
}

void FetchMapiSession()
{
    gpMAPISession = NULL;
    if (gpApplication == NULL)
        return;
    ScopedVariant session;
    if (FAILED(DispTryGetProperty(gpApplication, L"Session", &session)))
        return;
    ComHolder<IDispatch> nameSpace(VariantDispatch(session.Get()));
    if (nameSpace.Get() == NULL)
        return;

    ComHolder<IUnknown> mapiObject;
    LPOLESTR pszName = (LPOLESTR)L"MAPIOBJECT";
    DISPID dispId = DISPID_UNKNOWN;
    if (SUCCEEDED(nameSpace->GetIDsOfNames(IID_NULL, &pszName, 1, LOCALE_SYSTEM_DEFAULT, &dispId))) {
        DISPPARAMS noArguments = { NULL, NULL, 0, 0 };
        ScopedVariant result;
        if (SUCCEEDED(nameSpace->Invoke(dispId, IID_NULL, 0, DISPATCH_PROPERTYGET, &noArguments, &result, NULL,
                                        NULL)) &&
            V_VT(&result.Get()) == VT_UNKNOWN && V_UNKNOWN(&result.Get()) != NULL) {
            mapiObject.Reset(V_UNKNOWN(&result.Get()));
            mapiObject->AddRef();
        }
    }
    nameSpace.Reset();

    if (mapiObject.Get() == NULL)
        return;
    IMAPISession* pSession = NULL;
    if (SUCCEEDED(mapiObject->QueryInterface(IID_IMAPISession, (void**)&pSession)))
        gpMAPISession = pSession;
}

HRESULT CConnect::AdviseInspectorsSink()
{
    ComHolder<IConnectionPoint> point;
    HRESULT hr = FindInspectorsConnectionPoint(m_pInspectors, point.Receive());
    if (FAILED(hr))
        return hr;
    DWORD dwCookie = 0;
    hr = point->Advise(SinkUnknown(), &dwCookie);
    if (SUCCEEDED(hr))
        m_dwAdviseCookie = dwCookie;
    return hr;
}

HRESULT CConnect::UnadviseInspectorsSink()
{
    ComHolder<IConnectionPoint> point;
    HRESULT hr = FindInspectorsConnectionPoint(m_pInspectors, point.Receive());
    if (FAILED(hr))
        return hr;
    return point->Unadvise(m_dwAdviseCookie);
}

STDMETHODIMP CConnect::OnConnection(IDispatch* Application, ext_ConnectMode ConnectMode, IDispatch* AddInInst,
                                    SAFEARRAY** custom)
{
    if (Application == NULL)
        return E_POINTER;
    ComHolder<IDispatch> application;
    HRESULT hr = Application->QueryInterface(IID__Application, (void**)application.Receive());
    if (FAILED(hr))
        return hr;
    ReplaceHeld(&m_pApplication, application);
    gpApplication = m_pApplication;

    gdOutlookVersion = ReadHostVersion(m_pApplication);
    if (!IsSupportedHost()) {
        char szText[LC_HOST_MESSAGE_CAPACITY];
        snprintf(szText, sizeof(szText),
                 "This version of Lettercast is designed for Outlook 2007 or later.\n\n"
                 "A different version of Lettercast is available for older versions of Outlook.\n\n"
                 "Please visit our website (" LC_WEB_ADDRESS_TEXT ") to install that version instead.\n\n"
                 "(%0.2lf)",
                 gdOutlookVersion);
        ShowHostMessage(szText);
        return E_NOTIMPL;
    }

    FetchMapiSession();

    ScopedVariant inspectorsValue;
    hr = DispTryGetProperty(m_pApplication, L"Inspectors", &inspectorsValue);
    ComHolder<IDispatch> inspectors(SUCCEEDED(hr) ? VariantDispatch(inspectorsValue.Get()) : NULL);
    if (SUCCEEDED(hr) && inspectors.Get() == NULL)
        hr = E_NOINTERFACE;
    if (FAILED(hr)) {
        ShowHostFailure("Failed to get_Inspectors: %x", hr);
        return hr;
    }
    ReplaceHeld(&m_pInspectors, inspectors);

    if (m_dwAdviseCookie != LC_COOKIE_NOT_ADVISED)
        return E_FAIL;
    hr = AdviseInspectorsSink();
    if (FAILED(hr)) {
        ShowHostFailure("Failed to DispEventAdvise: %x", hr);
        return hr;
    }
    return S_OK;
}

STDMETHODIMP CConnect::OnDisconnection(ext_DisconnectMode RemoveMode, SAFEARRAY** custom)
{
    HRESULT hr = UnadviseInspectorsSink();
    m_dwAdviseCookie = LC_COOKIE_NOT_ADVISED;
    return FAILED(hr) ? hr : S_OK;
}

STDMETHODIMP CConnect::OnAddInsUpdate(SAFEARRAY** custom)
{
    return S_OK;
}

STDMETHODIMP CConnect::OnStartupComplete(SAFEARRAY** custom)
{
    return S_OK;
}

STDMETHODIMP CConnect::OnBeginShutdown(SAFEARRAY** custom)
{
    return S_OK;
}
