// OnConnection and OnDisconnection against the stand-in Outlook: the version
// rule and its message, the MAPI session, the InspectorsEvents subscription,
// and the object's one Invoke.
#include <windows.h>
#include <mapix.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "addin/connect.h"
#include "addin/host_state.h"
#include "resources/product.h"
#include "standin/common/fault_plan.h"
#include "standin/outlook/standin_outlook.h"
#include "tests/addin/connect_test_util.h"
#include "tests/addin/fake_host.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/test_files.h"

namespace {

const char kVersionMessageStart[] =
    "This version of Lettercast is designed for Outlook 2007 or later.\n\n"
    "A different version of Lettercast is available for older versions of Outlook.\n\n"
    "Please visit our website (";
const char kVersionMessageMiddle[] = ") to install that version instead.\n\n(";

class ConnectionTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_bOleInitialized = SUCCEEDED(OleInitialize(NULL));
        SetFaultPlan(NULL);
        gpApplication = NULL;
        gpMAPISession = NULL;
        gdOutlookVersion = -1.0;
        m_hMapi = LoadLibraryA((ProductDir() + "standin\\olmapi32.dll").c_str());
        ASSERT_NE(m_hMapi, nullptr);
        m_nLiveObjects = StandinLiveObjects();
        memset(&m_options, 0, sizeof(m_options));
        snprintf(m_options.szStoreDir, sizeof(m_options.szStoreDir), "%s\\store", m_store.Path().c_str());
    }

    void TearDown() override
    {
        m_connect.reset();
        if (m_pApplication)
            m_pApplication->Release();
        // The add-in keeps the session for the life of the process; the test
        // gives it back to see that nothing else is left.
        if (gpMAPISession)
            gpMAPISession->Release();
        gpMAPISession = NULL;
        gpApplication = NULL;
        SetFaultPlan(NULL);
        EXPECT_EQ(m_nLiveObjects, StandinLiveObjects()) << "stand-in objects left alive";
        FreeLibrary(m_hMapi);
        if (m_bOleInitialized)
            OleUninitialize();
    }

    // A fresh stand-in Outlook of that version and a new add-in object.
    void Start(const wchar_t* pszVersion)
    {
        m_options.pszVersion = pszVersion;
        ASSERT_EQ(S_OK, CreateStandinOutlook(&m_options, &m_pApplication));
        m_connect.reset(new ConnectObject);
    }

    HRESULT Connect(IDispatch* pApplication = NULL)
    {
        return (*m_connect)->OnConnection(pApplication ? pApplication : m_pApplication, ext_cm_Startup, NULL, NULL);
    }
    HRESULT Disconnect() { return (*m_connect)->OnDisconnection(ext_dm_HostShutdown, NULL); }
    CConnect* Object() { return m_connect->Get(); }

    void ExpectRefused(const MessageBoxRecorder& boxes, const char* pszVersionText)
    {
        ASSERT_EQ(boxes.Boxes().size(), 1u);
        const RecordedBox& box = boxes.Boxes()[0];
        std::string expected = std::string(kVersionMessageStart) + LC_WEB_ADDRESS_TEXT + kVersionMessageMiddle +
                               pszVersionText + ")";
        EXPECT_EQ(box.text, expected);
        EXPECT_EQ(box.caption, "Lettercast");
        EXPECT_EQ(box.uStyle, (UINT)MB_OK) << "an OK button only, no icon";
        EXPECT_EQ(box.hWndOwner, GetDesktopWindow());
        EXPECT_EQ(Object()->m_dwAdviseCookie, 0xFEFEFEFEu);
        EXPECT_EQ(Object()->m_pInspectors.Get(), nullptr);
        EXPECT_EQ(gpMAPISession, nullptr);
    }

    TempFolder m_store;
    StandinOutlookOptions m_options;
    IDispatch* m_pApplication = NULL;
    std::unique_ptr<ConnectObject> m_connect;
    HMODULE m_hMapi = NULL;
    LONG m_nLiveObjects = 0;
    bool m_bOleInitialized = false;
};

TEST_F(ConnectionTest, Outlook2007ConnectsAndSubscribes)
{
    Start(L"12.0.0.4518");
    MessageBoxRecorder boxes;
    ULONG nRefsBefore = m_connect->Refs();
    EXPECT_EQ(S_OK, Connect());
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_EQ(gdOutlookVersion, 12.0);
    EXPECT_NE(Object()->m_pApplication.Get(), nullptr);
    EXPECT_EQ(gpApplication, Object()->m_pApplication.Get());
    EXPECT_NE(Object()->m_pInspectors.Get(), nullptr);
    EXPECT_NE(Object()->m_dwAdviseCookie, 0xFEFEFEFEu);
    EXPECT_NE(gpMAPISession, nullptr);
    EXPECT_EQ(m_connect->Refs(), nRefsBefore + 1) << "the connection point holds the object";

    EXPECT_EQ(S_OK, Disconnect());
    EXPECT_EQ(Object()->m_dwAdviseCookie, 0xFEFEFEFEu);
    EXPECT_EQ(m_connect->Refs(), nRefsBefore);
    EXPECT_NE(Object()->m_pInspectors.Get(), nullptr) << "kept until the object goes";
    EXPECT_EQ(gpApplication, Object()->m_pApplication.Get());
}

TEST_F(ConnectionTest, LaterVersionsAndABareMajorNumberConnect)
{
    for (const wchar_t* pszVersion : { L"14.0.0.7000", L"12", L" 16.0.4266.1001" }) {
        Start(pszVersion);
        MessageBoxRecorder boxes;
        EXPECT_EQ(S_OK, Connect());
        EXPECT_TRUE(boxes.Boxes().empty());
        EXPECT_EQ(S_OK, Disconnect());
        m_connect.reset();
        m_pApplication->Release();
        m_pApplication = NULL;
        if (gpMAPISession)
            gpMAPISession->Release();
        gpMAPISession = NULL;
    }
    EXPECT_EQ(gdOutlookVersion, 16.0);
}

TEST_F(ConnectionTest, Outlook2003IsRefusedWithTheVersionMessage)
{
    Start(L"11.0.0.8312");
    MessageBoxRecorder boxes;
    ULONG nRefsBefore = m_connect->Refs();
    EXPECT_EQ(E_NOTIMPL, Connect());
    ExpectRefused(boxes, "11.00");
    EXPECT_EQ(gdOutlookVersion, 11.0);
    EXPECT_EQ(gpApplication, Object()->m_pApplication.Get()) << "the application is kept all the same";
    EXPECT_EQ(m_connect->Refs(), nRefsBefore);

    EXPECT_EQ(E_INVALIDARG, Disconnect()) << "there is no collection to unadvise";
    EXPECT_EQ(Object()->m_dwAdviseCookie, 0xFEFEFEFEu);
}

TEST_F(ConnectionTest, AVersionWithoutANumberIsRefused)
{
    Start(L"Outlook 12");
    MessageBoxRecorder boxes;
    EXPECT_EQ(E_NOTIMPL, Connect());
    ExpectRefused(boxes, "0.00");
    EXPECT_EQ(gdOutlookVersion, 0.0);
}

TEST_F(ConnectionTest, AnUnreadableVersionIsRefusedLikeTextWithoutANumber)
{
    m_connect.reset(new ConnectObject);
    FakeObject* pApplication = new FakeObject;
    pApplication->AnswerAs(IID__Application);
    pApplication->SetFailure(L"Version", E_FAIL);
    MessageBoxRecorder boxes;
    EXPECT_EQ(E_NOTIMPL, Connect(pApplication));
    ExpectRefused(boxes, "0.00");
    m_connect.reset();
    EXPECT_EQ(pApplication->Refs(), 1);
    pApplication->Release();
}

TEST_F(ConnectionTest, AnApplicationThatIsNoOutlookIsTurnedAway)
{
    m_connect.reset(new ConnectObject);
    FakeObject* pOther = new FakeObject;
    pOther->SetText(L"Version", L"12.0.0.4518");
    MessageBoxRecorder boxes;
    EXPECT_EQ(E_NOINTERFACE, Connect(pOther));
    EXPECT_EQ(E_POINTER, Object()->OnConnection(NULL, ext_cm_Startup, NULL, NULL));
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_EQ(Object()->m_pApplication.Get(), nullptr);
    EXPECT_EQ(gpApplication, nullptr);
    EXPECT_EQ(pOther->Refs(), 1);
    pOther->Release();
}

TEST_F(ConnectionTest, WithoutAMapiSessionTheConnectionGoesOn)
{
    for (const char* pszPlan : { "NameSpace.MAPIOBJECT.get=fail@*", "Application.Session.get=fail@*" }) {
        Start(L"12.0.0.6423");
        ASSERT_TRUE(SetFaultPlan(pszPlan));
        MessageBoxRecorder boxes;
        EXPECT_EQ(S_OK, Connect()) << pszPlan;
        EXPECT_TRUE(boxes.Boxes().empty());
        EXPECT_EQ(gpMAPISession, nullptr) << pszPlan;
        EXPECT_NE(Object()->m_dwAdviseCookie, 0xFEFEFEFEu);
        EXPECT_EQ(S_OK, Disconnect());
        SetFaultPlan(NULL);
        m_connect.reset();
        m_pApplication->Release();
        m_pApplication = NULL;
    }
}

TEST_F(ConnectionTest, FetchMapiSessionWithoutAnApplicationClearsTheSession)
{
    gpMAPISession = (IMAPISession*)0x1234;
    gpApplication = NULL;
    FetchMapiSession();
    EXPECT_EQ(gpMAPISession, nullptr);
}

TEST_F(ConnectionTest, AFailedInspectorsReadIsShownAndReturned)
{
    Start(L"12.0.0.6423");
    ASSERT_TRUE(SetFaultPlan("Application.Inspectors.get=fail:0x80030005@*"));
    MessageBoxRecorder boxes;
    EXPECT_EQ((HRESULT)0x80030005, Connect());
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, "Failed to get_Inspectors: 80030005");
    EXPECT_EQ(boxes.Boxes()[0].caption, "Lettercast");
    EXPECT_EQ(boxes.Boxes()[0].uStyle, (UINT)MB_OK);
    EXPECT_EQ(boxes.Boxes()[0].hWndOwner, GetDesktopWindow());
    EXPECT_EQ(Object()->m_pInspectors.Get(), nullptr);
    EXPECT_EQ(Object()->m_dwAdviseCookie, 0xFEFEFEFEu);
    EXPECT_NE(gpMAPISession, nullptr) << "fetched before the collection";
}

TEST_F(ConnectionTest, AFailedAdviseIsShownAndReturned)
{
    Start(L"12.0.0.6423");
    ASSERT_TRUE(SetFaultPlan("Inspectors.Advise=fail:0x80040200@*"));
    MessageBoxRecorder boxes;
    ULONG nRefsBefore = m_connect->Refs();
    EXPECT_EQ((HRESULT)0x80040200, Connect());
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, "Failed to DispEventAdvise: 80040200");
    EXPECT_EQ(boxes.Boxes()[0].caption, "Lettercast");
    EXPECT_EQ(boxes.Boxes()[0].uStyle, (UINT)MB_OK);
    EXPECT_EQ(Object()->m_dwAdviseCookie, 0xFEFEFEFEu);
    EXPECT_NE(Object()->m_pInspectors.Get(), nullptr);
    EXPECT_EQ(m_connect->Refs(), nRefsBefore);
}

TEST_F(ConnectionTest, ASecondConnectionWhileSubscribedFails)
{
    Start(L"12.0.0.6423");
    MessageBoxRecorder boxes;
    ASSERT_EQ(S_OK, Connect());
    DWORD dwCookie = Object()->m_dwAdviseCookie;
    // Each connection fetches the session anew and keeps its reference.
    IMAPISession* pFirstSession = gpMAPISession;
    EXPECT_EQ(E_FAIL, Connect());
    if (pFirstSession)
        pFirstSession->Release();
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_EQ(Object()->m_dwAdviseCookie, dwCookie);
    EXPECT_NE(Object()->m_pInspectors.Get(), nullptr);
    EXPECT_EQ(S_OK, Disconnect());
}

TEST_F(ConnectionTest, AFailedUnadviseIsReturnedAndTheCookieResetAllTheSame)
{
    Start(L"12.0.0.6423");
    ASSERT_EQ(S_OK, Connect());
    DWORD dwCookie = Object()->m_dwAdviseCookie;
    ASSERT_TRUE(SetFaultPlan("Inspectors.Unadvise=fail:0x80040201@1"));
    EXPECT_EQ((HRESULT)0x80040201, Disconnect());
    EXPECT_EQ(Object()->m_dwAdviseCookie, 0xFEFEFEFEu);
    // The stand-in still holds the sink; unadvising with the real cookie
    // lets it go.
    SetFaultPlan(NULL);
    Object()->m_dwAdviseCookie = dwCookie;
    EXPECT_EQ(S_OK, Disconnect());
}

TEST_F(ConnectionTest, TheOtherNotificationsSucceedInEveryState)
{
    Start(L"12.0.0.6423");
    for (int nState = 0; nState < 3; nState++) {
        if (nState == 1) {
            ASSERT_EQ(S_OK, Connect());
        }
        if (nState == 2) {
            ASSERT_EQ(S_OK, Disconnect());
        }
        EXPECT_EQ(S_OK, Object()->OnStartupComplete(NULL)) << nState;
        EXPECT_EQ(S_OK, Object()->OnBeginShutdown(NULL)) << nState;
        EXPECT_EQ(S_OK, Object()->OnAddInsUpdate(NULL)) << nState;
    }
}

// What composing one mail leaves alive in the stand-in, all released.
LONG LiveAfterComposing(IDispatch* pApplication)
{
    StandinComposedMail mail;
    memset(&mail, 0, sizeof(mail));
    mail.pszSubject = "Hello";
    mail.pszBody = "Body";
    mail.nBodyFormat = 1;
    IDispatch* pItem = NULL;
    IDispatch* pInspector = NULL;
    LONG nBefore = StandinLiveObjects();
    EXPECT_EQ(S_OK, StandinComposeMail(pApplication, &mail, &pItem, &pInspector));
    if (pInspector)
        pInspector->Release();
    if (pItem)
        pItem->Release();
    return StandinLiveObjects() - nBefore;
}

TEST_F(ConnectionTest, ANewInspectorReachesTheObjectAndIsNotKept)
{
    Start(L"12.0.0.6423");
    LONG nLeftUnconnected = LiveAfterComposing(m_pApplication);
    ASSERT_EQ(S_OK, Connect());
    ULONG nRefs = m_connect->Refs();
    EXPECT_EQ(LiveAfterComposing(m_pApplication), nLeftUnconnected) << "the add-in keeps nothing of the event";
    EXPECT_EQ(m_connect->Refs(), nRefs);
    EXPECT_EQ(S_OK, Disconnect());
}

class InvokeTest : public testing::Test {
protected:
    HRESULT InvokeOn(IDispatch* pDispatch, DISPID dispId, VARIANT* pArgs, UINT nArgs)
    {
        DISPPARAMS params = { pArgs, NULL, nArgs, 0 };
        VARIANT result;
        VariantInit(&result);
        HRESULT hr = pDispatch->Invoke(dispId, IID_NULL, 0x0409, DISPATCH_METHOD, &params, &result, NULL, NULL);
        VariantClear(&result);
        return hr;
    }
    ConnectObject m_connect;
};

TEST_F(InvokeTest, AnyOtherDispatchIdIsAcceptedAndIgnored)
{
    for (IDispatch* pDispatch : { m_connect.Dispatch(), m_connect.Sink(),
                                  static_cast<IDispatch*>(static_cast<_IDTExtensibility2*>(m_connect.Get())) }) {
        for (DISPID dispId : { 0, 1, 41, 43, 0xF002, -1 })
            EXPECT_EQ(S_OK, InvokeOn(pDispatch, dispId, NULL, 0)) << dispId;
    }
    EXPECT_EQ(m_connect.Refs(), 1u);
}

TEST_F(InvokeTest, NewInspectorTakesOneObjectAndKeepsNothing)
{
    FakeObject* pInspector = new FakeObject;
    VARIANT argument;
    VariantInit(&argument);
    V_VT(&argument) = VT_DISPATCH;
    V_DISPATCH(&argument) = pInspector;
    EXPECT_EQ(S_OK, InvokeOn(m_connect.Sink(), 0xF001, &argument, 1));
    EXPECT_EQ(S_OK, InvokeOn(m_connect.Dispatch(), 0xF001, &argument, 1)) << "the object's one Invoke";
    EXPECT_EQ(pInspector->Refs(), 1);

    V_DISPATCH(&argument) = NULL;
    EXPECT_EQ(S_OK, InvokeOn(m_connect.Sink(), 0xF001, &argument, 1)) << "Nothing";
    V_VT(&argument) = VT_BSTR;
    V_BSTR(&argument) = SysAllocString(L"not an inspector");
    EXPECT_EQ(DISP_E_TYPEMISMATCH, InvokeOn(m_connect.Sink(), 0xF001, &argument, 1));
    VariantClear(&argument);
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, InvokeOn(m_connect.Sink(), 0xF001, NULL, 0));
    pInspector->Release();
}

}  // namespace
