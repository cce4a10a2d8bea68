// _Application, and the entry points of the stand-in.
#include <string.h>

#include "standin/outlook/outlook_ids.h"
#include "standin/outlook/outlook_objects.h"
#include "standin/outlook/standin_outlook.h"
#include "standin/outlook/standin_text.h"

namespace {

enum {
    kVersion = 1,
    kSession,
    kGetNamespace,
    kActiveExplorer,
    kInspectors,
    kActiveWindow,
    kName,
    kClass,
};

const DispMember kMembers[] = {
    { L"Version", kVersion, AccessGet },
    { L"Session", kSession, AccessGet },
    { L"GetNamespace", kGetNamespace, AccessCall },
    { L"ActiveExplorer", kActiveExplorer, AccessCall },
    { L"Inspectors", kInspectors, AccessGet },
    { L"ActiveWindow", kActiveWindow, AccessCall },
    { L"Name", kName, AccessGet },
    { L"Class", kClass, AccessGet },
};

const LONG kClassApplication = 0;

class ApplicationObject : public DispatchObject {
public:
    explicit ApplicationObject(OutlookHost* pHost)
        : DispatchObject(KindApplication, "Application", IID_OlApplication, kMembers,
                         sizeof(kMembers) / sizeof(kMembers[0]), pHost)
    {
    }

protected:
    ~ApplicationObject() override
    {
        // Whatever the application held for the process goes with it.
        Host()->Shutdown();
    }

    HRESULT InvokeMember(DISPID id, int nAccess, const DispArgs& args, VARIANT* pResult, DispError* pError) override
    {
        switch (id) {
        case kVersion:
            ReturnText(pResult, Host()->Version());
            return S_OK;
        case kSession:
            ReturnObject(pResult, NewNameSpace(Host()));
            return S_OK;
        case kGetNamespace: {
            std::wstring type;
            HRESULT hr = args.GetText(0, &type);
            if (FAILED(hr))
                return hr;
            if (lstrcmpiW(type.c_str(), L"MAPI") != 0)
                return RaiseError(pError, E_INVALIDARG, L"The only namespace is \"MAPI\".");
            ReturnObject(pResult, NewNameSpace(Host()));
            return S_OK;
        }
        case kActiveExplorer:
            ReturnObject(pResult, Host()->HasExplorer() ? NewExplorer(Host()) : NULL);
            return S_OK;
        case kInspectors:
            ReturnObject(pResult, NewInspectors(Host()));
            return S_OK;
        case kActiveWindow: {
            OpenInspector* pInspector = Host()->LastInspector();
            if (pInspector) {
                pInspector->InspectorDispatch()->AddRef();
                ReturnObject(pResult, pInspector->InspectorDispatch());
            } else {
                ReturnObject(pResult, Host()->HasExplorer() ? NewExplorer(Host()) : NULL);
            }
            return S_OK;
        }
        case kName:
            ReturnText(pResult, L"Outlook");
            return S_OK;
        case kClass:
            ReturnLong(pResult, kClassApplication);
            return S_OK;
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }
};

// The host of an application of this stand-in, with a reference.
OutlookHost* HostOfApplication(IDispatch* pApplication)
{
    DispatchObject* pObject = DispatchObject::FromDispatch(pApplication, KindApplication);
    if (!pObject)
        return NULL;
    OutlookHost* pHost = pObject->Host();
    pHost->AddRef();
    pObject->Release();
    return pHost;
}

}  // namespace

HRESULT CreateStandinOutlook(const StandinOutlookOptions* pOptions, IDispatch** ppApplication)
{
    if (!ppApplication)
        return E_POINTER;
    *ppApplication = NULL;
    if (!pOptions)
        return E_INVALIDARG;
    gbStandinCallersInOtherModules = pOptions->bCallersInOtherModules;
    OutlookHost* pHost = NULL;
    HRESULT hr = OutlookHost::Create(pOptions, &pHost);
    if (FAILED(hr))
        return hr;
    *ppApplication = new ApplicationObject(pHost);
    pHost->Release();
    return S_OK;
}

// The addresses of a ';'-separated list as SMTP recipients of one kind,
// each row as the address book would resolve it.
static void AddComposedRecipients(ItemRecord* pRecord, const char* pszList, LONG nType)
{
    if (!pszList)
        return;
    for (const std::string& address : SplitAddressList(pszList)) {
        PropList row;
        StoreProp(&row, NarrowProp(PR_EMAIL_ADDRESS_A, address));
        StoreProp(&row, NarrowProp(PR_DISPLAY_NAME_A, address));
        StoreProp(&row, NarrowProp(PR_ADDRTYPE_A, "SMTP"));
        StoreProp(&row, LongProp(PR_RECIPIENT_TYPE, nType));
        row.push_back(LongProp(PR_ROWID, pRecord->m_nNextRowId++));
        pRecord->m_vecRecipients.push_back(row);
    }
}

HRESULT StandinComposeMail(IDispatch* pApplication, const StandinComposedMail* pMail, IDispatch** ppMailItem,
                           IDispatch** ppInspector)
{
    if (ppMailItem)
        *ppMailItem = NULL;
    if (ppInspector)
        *ppInspector = NULL;
    if (!pMail || !ppMailItem)
        return E_INVALIDARG;
    Ref<OutlookHost> host(HostOfApplication(pApplication));
    if (!host)
        return E_INVALIDARG;
    if (host->IsShutDown())
        return E_UNEXPECTED;

    Ref<ItemRecord> record(new ItemRecord);
    if (pMail->pszSubject)
        record->PutSubject(AnsiToWideText(pMail->pszSubject));
    else if (pMail->pszSubjectW)
        record->PutSubject(pMail->pszSubjectW);
    if (pMail->pszBody) {
        record->m_bHasBodyA = true;
        record->m_strBodyA = pMail->pszBody;
        record->m_bHasBodyW = true;
        record->m_wstrBodyW = pMail->pszBodyW ? std::wstring(pMail->pszBodyW) : AnsiToWideText(pMail->pszBody);
        record->m_bBodyWOfA = !pMail->pszBodyW;
    } else if (pMail->pszBodyW) {
        record->m_bHasBodyW = true;
        record->m_wstrBodyW = pMail->pszBodyW;
    }
    if (pMail->pszHtml) {
        record->m_bHasHtml = true;
        record->m_strHtml = pMail->pszHtml;
        record->m_nHtmlSource = HtmlFromBytes;
    }
    if (pMail->pszHtmlBody) {
        record->m_bHasHtmlBody = true;
        record->m_wstrHtmlBody = pMail->pszHtmlBody;
        if (!pMail->pszHtml)
            record->m_nHtmlSource = HtmlFromText;
    }
    record->m_nBodyFormat = pMail->nBodyFormat;
    AddComposedRecipients(record.Get(), pMail->pszTo, MAPI_TO);
    AddComposedRecipients(record.Get(), pMail->pszCc, MAPI_CC);
    AddComposedRecipients(record.Get(), pMail->pszBcc, MAPI_BCC);
    if (pMail->pszFromAccount && pMail->pszFromAccount[0] != '\0') {
        record->m_nAccount = host->FindAccount(pMail->pszFromAccount);
        if (record->m_nAccount < 0)
            return E_INVALIDARG;
    }
    if (pMail->pszOnBehalfOf)
        record->PutOnBehalfOf(pMail->pszOnBehalfOf);

    HRESULT hr = host->AddItem(record.Get(), FolderDrafts);
    if (FAILED(hr))
        return hr;
    Ref<IDispatch> mailItem(NewMailItem(host.Get(), record.Get()));
    Ref<IDispatch> inspector(OpenNewInspector(host.Get(), mailItem.Get(), record.Get()));
    if (!inspector)
        return E_FAIL;
    host->FireNewInspector(inspector.Get());
    *ppMailItem = mailItem.Detach();
    if (ppInspector)
        *ppInspector = inspector.Detach();
    return S_OK;
}

int StandinSendReceiveRuns(IDispatch* pApplication)
{
    Ref<OutlookHost> host(HostOfApplication(pApplication));
    return host ? host->SendReceiveRuns() : -1;
}

LONG StandinLiveObjects()
{
    return gnStandinLiveObjects;
}

bool StandinItemPath(IDispatch* pMailItem, char* pszPath, int cchPath)
{
    if (!pszPath || cchPath <= 0)
        return false;
    pszPath[0] = '\0';
    DispatchObject* pObject = DispatchObject::FromDispatch(pMailItem, KindMailItem);
    if (!pObject)
        return false;
    Ref<ItemRecord> record(RecordOfMailItem(pMailItem));
    bool bOk = record && pObject->Host()->ItemPath(record.Get(), pszPath, cchPath);
    pObject->Release();
    return bOk;
}

int StandinItemFileWrites(IDispatch* pApplication)
{
    Ref<OutlookHost> host(HostOfApplication(pApplication));
    return host ? host->ItemFileWrites() : -1;
}

bool StandinReadItemBodies(const char* pszPath, StandinItemBodies* pBodies)
{
    if (!pszPath || !pBodies)
        return false;
    HANDLE hFile = CreateFileA(pszPath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    std::string text;
    char buffer[65536];
    DWORD cbRead = 0;
    bool bRead = true;
    while ((bRead = ReadFile(hFile, buffer, sizeof(buffer), &cbRead, NULL) != FALSE) && cbRead > 0)
        text.append(buffer, cbRead);
    CloseHandle(hFile);
    Ref<ItemRecord> record(new ItemRecord);
    if (!bRead || !ItemRecord::ReadFileBodies(text, record.Get()))
        return false;
    pBodies->bHasBodyA = record->m_bHasBodyA;
    pBodies->bodyA = record->m_strBodyA;
    pBodies->bHasBodyW = record->m_bHasBodyW;
    pBodies->bodyW = record->m_wstrBodyW;
    pBodies->bHasHtml = record->m_bHasHtml;
    pBodies->html = record->m_strHtml;
    pBodies->bHasHtmlBody = record->m_bHasHtmlBody;
    pBodies->htmlBody = record->m_wstrHtmlBody;
    return true;
}

int StandinFolderItemCount(IDispatch* pApplication, const char* pszFolderName)
{
    return StandinAccountFolderItemCount(pApplication, 0, pszFolderName);
}

int StandinAccountFolderItemCount(IDispatch* pApplication, int nAccount, const char* pszFolderName)
{
    Ref<OutlookHost> host(HostOfApplication(pApplication));
    if (!host || !pszFolderName || nAccount < 0 || nAccount >= host->StoreCount())
        return -1;
    for (int nKind = 0; nKind < FolderCount; ++nKind) {
        if (strcmp(StandinFolderName(nKind), pszFolderName) == 0)
            return host->CountItems(FolderOfStore(nAccount, nKind));
    }
    return -1;
}
