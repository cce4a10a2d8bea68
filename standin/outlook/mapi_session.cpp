// IMAPISession of the profile, and IMAPIStatus of its status rows: the spooler,
// whose FlushQueues sends the Outbox, and the transport.
#include <stdio.h>
#include <string.h>

#include "standin/outlook/last_error.h"
#include "standin/outlook/mapi_prop_base.h"
#include "standin/outlook/outlook_objects.h"

namespace {

struct StatusRow {
    ULONG ulResourceType;
    const char* pszEntryId;
    const char* pszDisplayName;
    ULONG ulMethods;
};

const StatusRow kStatusRows[] = {
    { MAPI_SUBSYSTEM, "LCSTANDIN:STATUS:SUBSYSTEM", "MAPI Subsystem", 0 },
    { MAPI_SPOOLER, "LCSTANDIN:STATUS:SPOOLER", "MAPI Spooler", STATUS_FLUSH_QUEUES },
    { MAPI_TRANSPORT_PROVIDER, "LCSTANDIN:STATUS:TRANSPORT", "Stand-in SMTP Transport", STATUS_FLUSH_QUEUES },
};

bool RowPresent(OutlookHost* pHost, const StatusRow& row)
{
    return row.ulResourceType != MAPI_SPOOLER || pHost->HasSpoolerRow();
}

class StatusObject final : public MapiPropBase<IMAPIStatus> {
public:
    StatusObject(OutlookHost* pHost, ULONG ulResourceType)
        : m_pHost(pHost), m_ulResourceType(ulResourceType)
    {
        m_pHost->AddRef();
    }

    STDMETHODIMP GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) override
    {
        return m_lastError.Report(hResult, ulFlags, lppMAPIError);
    }
    STDMETHODIMP SaveChanges(ULONG) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP GetProps(LPSPropTagArray, ULONG, ULONG* lpcValues, LPSPropValue* lppPropArray) override
    {
        if (lpcValues)
            *lpcValues = 0;
        if (lppPropArray)
            *lppPropArray = NULL;
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP GetPropList(ULONG, LPSPropTagArray* lppPropTagArray) override
    {
        if (lppPropTagArray)
            *lppPropTagArray = NULL;
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN* lppUnk) override
    {
        if (lppUnk)
            *lppUnk = NULL;
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP SetProps(ULONG, LPSPropValue, LPSPropProblemArray* lppProblems) override
    {
        if (lppProblems)
            *lppProblems = NULL;
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG, LPSPropTagArray* lppPropTags) override
    {
        if (lppPropTags)
            *lppPropTags = NULL;
        return MAPI_E_NO_SUPPORT;
    }

    STDMETHODIMP ValidateState(ULONG, ULONG) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP SettingsDialog(ULONG, ULONG) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP ChangePassword(LPTSTR, LPTSTR, ULONG) override { return MAPI_E_NO_SUPPORT; }

    STDMETHODIMP FlushQueues(ULONG ulUIParam, ULONG cbTargetTransport, LPENTRYID lpTargetTransport,
                             ULONG ulFlags) override
    {
        HRESULT hr = S_OK;
        if (m_lastError.Faulted("IMAPIStatus.FlushQueues", &hr))
            return hr;
        if (m_ulResourceType == MAPI_SUBSYSTEM)
            return m_lastError.Set(MAPI_E_NO_SUPPORT, "The MAPI subsystem has no queues to flush.");
        if (!(ulFlags & FLUSH_UPLOAD))
            return S_OK;
        hr = m_pHost->FlushOutbox();
        if (FAILED(hr))
            return m_lastError.Set(hr, "A message of the Outbox could not be delivered; it stays queued.");
        return S_OK;
    }

private:
    bool Answers(REFIID riid) const override
    {
        return IsEqualIID(riid, IID_IMAPIProp) || IsEqualIID(riid, IID_IMAPIStatus);
    }

    ~StatusObject() { m_pHost->Release(); }

    OutlookHost* m_pHost;
    ULONG m_ulResourceType;
    LastError m_lastError;
};

class SessionObject final : public UnknownObject<IMAPISession> {
public:
    explicit SessionObject(OutlookHost* pHost) : m_pHost(pHost) { m_pHost->AddRef(); }

    STDMETHODIMP GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) override
    {
        return m_lastError.Report(hResult, ulFlags, lppMAPIError);
    }
    STDMETHODIMP GetMsgStoresTable(ULONG, LPMAPITABLE* lppTable) override { return NoTable(lppTable); }
    STDMETHODIMP OpenMsgStore(ULONG_PTR, ULONG, LPENTRYID, LPCIID, ULONG, LPMDB* lppMDB) override
    {
        if (lppMDB)
            *lppMDB = NULL;
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP OpenAddressBook(ULONG_PTR, LPCIID, ULONG, LPADRBOOK* lppAdrBook) override
    {
        if (lppAdrBook)
            *lppAdrBook = NULL;
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP OpenProfileSection(LPMAPIUID, LPCIID, ULONG, LPPROFSECT* lppProfSect) override
    {
        if (lppProfSect)
            *lppProfSect = NULL;
        return MAPI_E_NO_SUPPORT;
    }

    STDMETHODIMP GetStatusTable(ULONG ulFlags, LPMAPITABLE* lppTable) override
    {
        if (!lppTable)
            return MAPI_E_INVALID_PARAMETER;
        *lppTable = NULL;
        HRESULT hr = S_OK;
        if (m_lastError.Faulted("IMAPISession.GetStatusTable", &hr))
            return hr;
        std::vector<PropList> vecRows;
        for (const StatusRow& row : kStatusRows) {
            if (!RowPresent(m_pHost, row))
                continue;
            PropList props;
            props.push_back(LongProp(PR_RESOURCE_TYPE, (LONG)row.ulResourceType));
            props.push_back(BinaryProp(PR_ENTRYID, row.pszEntryId, strlen(row.pszEntryId)));
            props.push_back(NarrowProp(PR_DISPLAY_NAME_A, row.pszDisplayName));
            props.push_back(LongProp(PR_STATUS_CODE, STATUS_AVAILABLE));
            props.push_back(LongProp(PR_RESOURCE_METHODS, (LONG)row.ulMethods));
            props.push_back(LongProp(PR_OBJECT_TYPE, MAPI_STATUS));
            vecRows.push_back(props);
        }
        *lppTable = NewRowTable(m_pHost, vecRows);
        return S_OK;
    }

    STDMETHODIMP OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                           ULONG* lpulObjType, LPUNKNOWN* lppUnk) override
    {
        if (lpulObjType)
            *lpulObjType = 0;
        if (!lppUnk)
            return MAPI_E_INVALID_PARAMETER;
        *lppUnk = NULL;
        HRESULT hr = S_OK;
        if (m_lastError.Faulted("IMAPISession.OpenEntry", &hr))
            return hr;
        if (!lpEntryID || cbEntryID == 0)
            return m_lastError.Set(MAPI_E_INVALID_ENTRYID, "No entry identifier was given.");
        const StatusRow* pFound = NULL;
        for (const StatusRow& row : kStatusRows) {
            if (RowPresent(m_pHost, row) && cbEntryID == strlen(row.pszEntryId) &&
                memcmp(lpEntryID, row.pszEntryId, cbEntryID) == 0)
                pFound = &row;
        }
        if (!pFound)
            return m_lastError.Set(MAPI_E_NOT_FOUND, "No object of this session has that entry identifier.");
        if (lpInterface && !IsEqualIID(*lpInterface, IID_IMAPIStatus) && !IsEqualIID(*lpInterface, IID_IMAPIProp) &&
            !IsEqualIID(*lpInterface, IID_IUnknown))
            return m_lastError.Set(MAPI_E_INTERFACE_NOT_SUPPORTED, "A status object answers IMAPIStatus only.");
        if (lpulObjType)
            *lpulObjType = MAPI_STATUS;
        *lppUnk = NewStatus(m_pHost, pFound->ulResourceType);
        return S_OK;
    }

    STDMETHODIMP CompareEntryIDs(ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG, ULONG* lpulResult) override
    {
        if (lpulResult)
            *lpulResult = 0;
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG* lpulConnection) override
    {
        if (lpulConnection)
            *lpulConnection = 0;
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP Unadvise(ULONG) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP MessageOptions(ULONG_PTR, ULONG, LPTSTR, LPMESSAGE) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP QueryDefaultMessageOpt(LPTSTR, ULONG, ULONG* lpcValues, LPSPropValue* lppOptions) override
    {
        if (lpcValues)
            *lpcValues = 0;
        if (lppOptions)
            *lppOptions = NULL;
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP EnumAdrTypes(ULONG, ULONG* lpcAdrTypes, LPTSTR** lpppszAdrTypes) override
    {
        if (lpcAdrTypes)
            *lpcAdrTypes = 0;
        if (lpppszAdrTypes)
            *lpppszAdrTypes = NULL;
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP QueryIdentity(ULONG* lpcbEntryID, LPENTRYID* lppEntryID) override
    {
        if (lpcbEntryID)
            *lpcbEntryID = 0;
        if (lppEntryID)
            *lppEntryID = NULL;
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP Logoff(ULONG_PTR, ULONG, ULONG) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP SetDefaultStore(ULONG, ULONG, LPENTRYID) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP AdminServices(ULONG, LPSERVICEADMIN* lppServiceAdmin) override
    {
        if (lppServiceAdmin)
            *lppServiceAdmin = NULL;
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP ShowForm(ULONG_PTR, LPMDB, LPMAPIFOLDER, LPCIID, ULONG, LPMESSAGE, ULONG, ULONG, ULONG, ULONG,
                          LPSTR) override
    {
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP PrepareForm(LPCIID, LPMESSAGE, ULONG* lpulMessageToken) override
    {
        if (lpulMessageToken)
            *lpulMessageToken = 0;
        return MAPI_E_NO_SUPPORT;
    }

private:
    bool Answers(REFIID riid) const override { return IsEqualIID(riid, IID_IMAPISession); }

    ~SessionObject() { m_pHost->Release(); }

    static HRESULT NoTable(LPMAPITABLE* lppTable)
    {
        if (lppTable)
            *lppTable = NULL;
        return MAPI_E_NO_SUPPORT;
    }

    OutlookHost* m_pHost;
    LastError m_lastError;
};

}  // namespace

IMAPISession* NewSession(OutlookHost* pHost)
{
    return new SessionObject(pHost);
}

IMAPIStatus* NewStatus(OutlookHost* pHost, ULONG ulResourceType)
{
    return new StatusObject(pHost, ulResourceType);
}
