#include "tests/standin/outlook/outlook_fixture.h"

#include <ole2.h>
#include <stdio.h>
#include <string.h>

#include "standin/common/fault_plan.h"
#include "standin/common/mapi_blocks.h"

const GUID kPsetidCommon = { 0x00062008, 0x0000, 0x0000, { 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46 } };

void OutlookTest::SetUp()
{
    m_bOleInitialized = SUCCEEDED(OleInitialize(NULL));
    SetFaultPlan(NULL);
    memset(&m_mapi, 0, sizeof(m_mapi));
    std::string dll = ProductDir() + "standin\\olmapi32.dll";
    m_mapi.hModule = LoadLibraryA(dll.c_str());
    ASSERT_TRUE(m_mapi.hModule != NULL) << dll;
    m_mapi.pfnAllocateBuffer = (AllocateBufferFn)(void*)GetProcAddress(m_mapi.hModule, "MAPIAllocateBuffer@8");
    m_mapi.pfnAllocateMore = (AllocateMoreFn)(void*)GetProcAddress(m_mapi.hModule, "MAPIAllocateMore@12");
    m_mapi.pfnFreeBuffer = (FreeBufferFn)(void*)GetProcAddress(m_mapi.hModule, "MAPIFreeBuffer@4");
    m_mapi.pfnFreeProws = (FreeProwsFn)(void*)GetProcAddress(m_mapi.hModule, "FreeProws@4");
    m_mapi.pfnFreePadrlist = (FreePadrlistFn)(void*)GetProcAddress(m_mapi.hModule, "FreePadrlist@4");
    m_mapi.pfnHrQueryAllRows = (HrQueryAllRowsFn)(void*)GetProcAddress(m_mapi.hModule, "HrQueryAllRows@24");
    ASSERT_TRUE(m_mapi.pfnAllocateBuffer && m_mapi.pfnAllocateMore && m_mapi.pfnFreeBuffer && m_mapi.pfnFreeProws &&
                m_mapi.pfnFreePadrlist && m_mapi.pfnHrQueryAllRows);

    m_nLiveObjects = StandinLiveObjects();
    m_nLiveBlocks = LiveMapiBlocks();
    memset(&m_options, 0, sizeof(m_options));
    // A store folder that does not exist yet: the stand-in makes it.
    snprintf(m_options.szStoreDir, sizeof(m_options.szStoreDir), "%s\\store", m_store.Path().c_str());
    m_options.bHtmlOk = true;
}

void OutlookTest::TearDown()
{
    m_app.Reset();
    SetFaultPlan(NULL);
    EXPECT_EQ(m_nLiveObjects, StandinLiveObjects()) << "stand-in objects left alive";
    EXPECT_EQ(m_nLiveBlocks, LiveMapiBlocks()) << "MAPI blocks not freed";
    if (m_mapi.hModule)
        FreeLibrary(m_mapi.hModule);
    if (m_bOleInitialized)
        OleUninitialize();
}

void OutlookTest::Start()
{
    m_app.Reset();
    HRESULT hr = CreateStandinOutlook(&m_options, m_app.Receive());
    ASSERT_EQ(S_OK, hr);
    ASSERT_TRUE(m_app);
}

IDispatch* OutlookTest::Compose(const StandinComposedMail& mail, IDispatch** ppInspector)
{
    IDispatch* pItem = NULL;
    HRESULT hr = StandinComposeMail(App(), &mail, &pItem, ppInspector);
    EXPECT_EQ(S_OK, hr);
    return pItem;
}

IDispatch* OutlookTest::ComposeSimple(const char* pszSubject, IDispatch** ppInspector)
{
    StandinComposedMail mail;
    memset(&mail, 0, sizeof(mail));
    mail.pszSubject = pszSubject;
    mail.pszBody = "Dear [[Name]],\r\nhello.";
    mail.nBodyFormat = 1;
    return Compose(mail, ppInspector);
}

std::wstring OutlookTest::GetText(IDispatch* pObject, LPCOLESTR pszName)
{
    ScopedVariant value;
    DispGetProperty(pObject, pszName, &value);
    EXPECT_EQ(VT_BSTR, V_VT(&value.Get())) << pszName;
    if (V_VT(&value.Get()) != VT_BSTR || !V_BSTR(&value.Get()))
        return std::wstring();
    return std::wstring(V_BSTR(&value.Get()), SysStringLen(V_BSTR(&value.Get())));
}

LONG OutlookTest::GetLong(IDispatch* pObject, LPCOLESTR pszName)
{
    ScopedVariant value;
    DispGetProperty(pObject, pszName, &value);
    EXPECT_EQ(VT_I4, V_VT(&value.Get())) << pszName;
    return V_VT(&value.Get()) == VT_I4 ? V_I4(&value.Get()) : -1;
}

static IDispatch* TakeObject(ScopedVariant& value)
{
    if (V_VT(&value.Get()) != VT_DISPATCH)
        return NULL;
    VARIANT detached = value.Detach();
    return V_DISPATCH(&detached);
}

IDispatch* OutlookTest::GetObjectProp(IDispatch* pObject, LPCOLESTR pszName)
{
    ScopedVariant value;
    DispGetProperty(pObject, pszName, &value);
    EXPECT_EQ(VT_DISPATCH, V_VT(&value.Get())) << pszName;
    return TakeObject(value);
}

void OutlookTest::PutText(IDispatch* pObject, LPCOLESTR pszName, const wchar_t* pszValue)
{
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = SysAllocString(pszValue);
    // The add-in's own call, raising as the host type library's wrappers do.
    HRESULT hr = DispTryPutProperty(pObject, pszName, value);
    VariantClear(&value);
    if (FAILED(hr))
        ThrowComError(hr);
}

IDispatch* OutlookTest::Call(IDispatch* pObject, LPCOLESTR pszName, const VARIANT* pArgs, int nArgs)
{
    ScopedVariant result;
    DispCallMethod(pObject, pszName, pArgs, nArgs, &result);
    return TakeObject(result);
}

IDispatch* OutlookTest::CallLong(IDispatch* pObject, LPCOLESTR pszName, LONG nArg)
{
    VARIANT arg;
    VariantInit(&arg);
    V_VT(&arg) = VT_I4;
    V_I4(&arg) = nArg;
    return Call(pObject, pszName, &arg, 1);
}

IDispatch* OutlookTest::DefaultFolder(LONG nFolder)
{
    Ref<IDispatch> nameSpace(GetObjectProp(App(), L"Session"));
    return CallLong(nameSpace.Get(), L"GetDefaultFolder", nFolder);
}

IDispatch* OutlookTest::MoveToOutbox(IDispatch* pMailItem)
{
    Ref<IDispatch> outbox(DefaultFolder(4));
    VARIANT arg;
    VariantInit(&arg);
    V_VT(&arg) = VT_DISPATCH;
    V_DISPATCH(&arg) = outbox.Get();
    return Call(pMailItem, L"Move", &arg, 1);
}

IMessage* OutlookTest::MessageOf(IDispatch* pMailItem)
{
    ScopedVariant value;
    DispGetProperty(pMailItem, L"MAPIOBJECT", &value);
    EXPECT_EQ(VT_UNKNOWN, V_VT(&value.Get()));
    IMessage* pMessage = NULL;
    if (V_VT(&value.Get()) == VT_UNKNOWN && V_UNKNOWN(&value.Get()))
        V_UNKNOWN(&value.Get())->QueryInterface(IID_IMessage, (void**)&pMessage);
    return pMessage;
}

IMAPISession* OutlookTest::Session()
{
    Ref<IDispatch> nameSpace(GetObjectProp(App(), L"Session"));
    ScopedVariant value;
    DispGetProperty(nameSpace.Get(), L"MAPIOBJECT", &value);
    IMAPISession* pSession = NULL;
    if (V_VT(&value.Get()) == VT_UNKNOWN && V_UNKNOWN(&value.Get()))
        V_UNKNOWN(&value.Get())->QueryInterface(IID_IMAPISession, (void**)&pSession);
    return pSession;
}

HRESULT OutlookTest::ReadStream(IMessage* pMessage, ULONG ulTag, std::string* pBytes)
{
    pBytes->clear();
    Ref<IUnknown> unknown;
    HRESULT hr = pMessage->OpenProperty(ulTag, &IID_IStream, 0, 0, unknown.Receive());
    if (FAILED(hr))
        return hr;
    Ref<IStream> stream;
    hr = unknown->QueryInterface(IID_IStream, (void**)stream.Receive());
    if (FAILED(hr))
        return hr;
    char buffer[4096];
    for (;;) {
        ULONG cbRead = 0;
        hr = stream->Read(buffer, sizeof(buffer), &cbRead);
        if (FAILED(hr))
            return hr;
        if (cbRead == 0)
            return S_OK;
        pBytes->append(buffer, cbRead);
    }
}

HRESULT OutlookTest::WriteStream(IMessage* pMessage, ULONG ulTag, const std::string& bytes)
{
    Ref<IUnknown> unknown;
    HRESULT hr = pMessage->OpenProperty(ulTag, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY, unknown.Receive());
    if (FAILED(hr))
        return hr;
    Ref<IStream> stream;
    hr = unknown->QueryInterface(IID_IStream, (void**)stream.Receive());
    if (FAILED(hr))
        return hr;
    ULONG cbWritten = 0;
    hr = stream->Write(bytes.data(), (ULONG)bytes.size(), &cbWritten);
    if (FAILED(hr))
        return hr;
    return stream->Commit(STGC_DEFAULT);
}

HRESULT OutlookTest::SubjectOf(IMessage* pMessage, std::string* pSubject)
{
    pSubject->clear();
    SizedSPropTagArray(1, tags) = { 1, { PR_SUBJECT_A } };
    ULONG cValues = 0;
    SPropValue* pValues = NULL;
    HRESULT hr = pMessage->GetProps((LPSPropTagArray)&tags, 0, &cValues, &pValues);
    if (SUCCEEDED(hr) && pValues && cValues == 1 && PROP_TYPE(pValues[0].ulPropTag) == PT_STRING8)
        *pSubject = pValues[0].Value.lpszA;
    else if (SUCCEEDED(hr) && pValues && PROP_TYPE(pValues[0].ulPropTag) == PT_ERROR)
        hr = pValues[0].Value.err;
    if (pValues)
        m_mapi.pfnFreeBuffer(pValues);
    return hr;
}

HRESULT OutlookTest::AddRecipient(IMessage* pMessage, const char* pszAddress)
{
    // Built as the engine builds it: the list, a separate value array, and
    // the strings linked to the list.
    ADRLIST* pList = NULL;
    SCODE sc = m_mapi.pfnAllocateBuffer(CbNewADRLIST(1), (void**)&pList);
    if (FAILED(sc))
        return sc;
    SPropValue* pValues = NULL;
    sc = m_mapi.pfnAllocateBuffer(5 * sizeof(SPropValue), (void**)&pValues);
    if (FAILED(sc)) {
        m_mapi.pfnFreeBuffer(pList);
        return sc;
    }
    memset(pValues, 0, 5 * sizeof(SPropValue));
    pList->cEntries = 1;
    pList->aEntries[0].ulReserved1 = 0;
    pList->aEntries[0].cValues = 5;
    pList->aEntries[0].rgPropVals = pValues;
    size_t cb = strlen(pszAddress) + 1;
    char* pszEmail = NULL;
    char* pszName = NULL;
    char* pszType = NULL;
    m_mapi.pfnAllocateMore((ULONG)cb, pList, (void**)&pszEmail);
    m_mapi.pfnAllocateMore((ULONG)cb, pList, (void**)&pszName);
    m_mapi.pfnAllocateMore(5, pList, (void**)&pszType);
    memcpy(pszEmail, pszAddress, cb);
    memcpy(pszName, pszAddress, cb);
    memcpy(pszType, "SMTP", 5);
    pValues[0].ulPropTag = PR_EMAIL_ADDRESS_A;
    pValues[0].Value.lpszA = pszEmail;
    pValues[1].ulPropTag = PR_DISPLAY_NAME_A;
    pValues[1].Value.lpszA = pszName;
    pValues[2].ulPropTag = PR_RECIPIENT_TYPE;
    pValues[2].Value.l = MAPI_TO;
    pValues[3].ulPropTag = PR_ADDRTYPE_A;
    pValues[3].Value.lpszA = pszType;
    pValues[4].ulPropTag = PR_SEND_RICH_INFO;
    pValues[4].Value.b = FALSE;
    HRESULT hr = pMessage->ModifyRecipients(MODRECIP_ADD, pList);
    m_mapi.pfnFreePadrlist(pList);
    return hr;
}

HRESULT OutlookTest::SetUseTnef(IMessage* pMessage)
{
    MAPINAMEID name;
    name.lpguid = const_cast<GUID*>(&kPsetidCommon);
    name.ulKind = MNID_ID;
    name.Kind.lID = kPidLidUseTnef;
    MAPINAMEID* pName = &name;
    SPropTagArray* pTags = NULL;
    HRESULT hr = pMessage->GetIDsFromNames(1, &pName, MAPI_CREATE, &pTags);
    if (FAILED(hr))
        return hr;
    SPropValue value;
    memset(&value, 0, sizeof(value));
    value.ulPropTag = (pTags->aulPropTag[0] & 0xFFFF000B) | 0x000B;
    value.Value.b = FALSE;
    m_mapi.pfnFreeBuffer(pTags);
    return pMessage->SetProps(1, &value, NULL);
}

std::string OutlookTest::LastErrorText(IMessage* pMessage, HRESULT hr)
{
    MAPIERROR* pError = NULL;
    std::string text;
    if (SUCCEEDED(pMessage->GetLastError(hr, 0, &pError)) && pError) {
        text = pError->lpszError ? (const char*)pError->lpszError : "";
        m_mapi.pfnFreeBuffer(pError);
    }
    return text;
}

ResourceTypeRestriction::ResourceTypeRestriction(ULONG ulResourceType)
{
    memset(&value, 0, sizeof(value));
    value.ulPropTag = PR_RESOURCE_TYPE;
    value.Value.l = (LONG)ulResourceType;
    memset(&restriction, 0, sizeof(restriction));
    restriction.rt = RES_PROPERTY;
    restriction.res.resProperty.relop = RELOP_EQ;
    restriction.res.resProperty.ulPropTag = PR_RESOURCE_TYPE;
    restriction.res.resProperty.lpProp = &value;
}

void OutlookTest::UseTwoAccounts()
{
    m_options.pszAccounts = "work@example.com;home@example.org";
    m_options.pszVersion = L"14.0.7268.5000";
}

IDispatch* OutlookTest::Account(LONG nIndex)
{
    Ref<IDispatch> nameSpace(GetObjectProp(App(), L"Session"));
    Ref<IDispatch> accounts(GetObjectProp(nameSpace.Get(), L"Accounts"));
    return CallLong(accounts.Get(), L"Item", nIndex);
}

Ref<IDispatch> OutlookTest::SendReceiveControl()
{
    Ref<IDispatch> explorer(Call(App(), L"ActiveExplorer"));
    Ref<IDispatch> bars(GetObjectProp(explorer.Get(), L"CommandBars"));
    VARIANT args[4];
    for (VARIANT& arg : args) {
        VariantInit(&arg);
        V_VT(&arg) = VT_ERROR;
        V_ERROR(&arg) = DISP_E_PARAMNOTFOUND;
    }
    V_VT(&args[1]) = VT_INT;
    V_INT(&args[1]) = 7095;
    return Ref<IDispatch>(Call(bars.Get(), L"FindControl", args, 4));
}

HRESULT OutlookTest::FlushOutgoingQueue()
{
    Ref<IMAPISession> session(Session());
    if (!session)
        return E_NOINTERFACE;
    Ref<IMAPITable> table;
    HRESULT hr = session->GetStatusTable(0, table.Receive());
    if (FAILED(hr))
        return hr;
    SizedSPropTagArray(1, columns) = { 1, { PR_ENTRYID } };
    ResourceTypeRestriction spooler(MAPI_SPOOLER);
    SRowSet* pRows = NULL;
    hr = m_mapi.pfnHrQueryAllRows(table.Get(), (LPSPropTagArray)&columns, &spooler.restriction, NULL, 0, &pRows);
    if (FAILED(hr))
        return hr;
    if (pRows->cRows == 0) {
        m_mapi.pfnFreeProws(pRows);
        return MAPI_E_NOT_FOUND;
    }
    ULONG ulObjectType = 0;
    Ref<IUnknown> unknown;
    hr = session->OpenEntry(pRows->aRow[0].lpProps[0].Value.bin.cb, (LPENTRYID)pRows->aRow[0].lpProps[0].Value.bin.lpb,
                            &IID_IMAPIStatus, MAPI_BEST_ACCESS, &ulObjectType, unknown.Receive());
    m_mapi.pfnFreeProws(pRows);
    if (FAILED(hr))
        return hr;
    Ref<IMAPIStatus> status;
    hr = unknown->QueryInterface(IID_IMAPIStatus, (void**)status.Receive());
    if (FAILED(hr))
        return hr;
    return status->FlushQueues(0, 0, NULL, FLUSH_UPLOAD);
}

HRESULT OutlookTest::SendCopy(IDispatch* pOriginal, const wchar_t* pszSubject, const char* pszAddress)
{
    Ref<IDispatch> copy(Call(pOriginal, L"Copy"));
    Call(copy.Get(), L"Save");
    Ref<IMessage> message(MessageOf(copy.Get()));
    PutText(copy.Get(), L"Subject", pszSubject);
    Call(copy.Get(), L"Save");
    HRESULT hr = AddRecipient(message.Get(), pszAddress);
    if (FAILED(hr))
        return hr;
    hr = SetUseTnef(message.Get());
    if (FAILED(hr))
        return hr;
    hr = message->SaveChanges(KEEP_OPEN_READWRITE);
    if (FAILED(hr))
        return hr;
    Ref<IDispatch> moved(MoveToOutbox(copy.Get()));
    Ref<IDispatch> sentMail(DefaultFolder(5));
    hr = DispTryPutRefProperty(moved.Get(), L"SaveSentMessageFolder", sentMail.Get());
    if (FAILED(hr))
        return hr;
    Call(moved.Get(), L"Save");
    message.Reset(MessageOf(moved.Get()));
    return message->SubmitMessage(FORCE_SUBMIT);
}

std::string OutlookTest::ItemPath(IDispatch* pMailItem)
{
    char szPath[MAX_PATH];
    return StandinItemPath(pMailItem, szPath, sizeof(szPath)) ? std::string(szPath) : std::string();
}
