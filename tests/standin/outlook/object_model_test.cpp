// The application and what hangs off it: NameSpace and default folders,
// explorer and command bars, inspectors and their events, lifetime.
#include <ocidl.h>
#include <olectl.h>
#include <oleidl.h>

#include "standin/outlook/outlook_ids.h"
#include "tests/standin/outlook/outlook_fixture.h"

namespace {

// An InspectorsEvents sink as an add-in has one: it records NewInspector.
class InspectorsSink : public IDispatch {
public:
    InspectorsSink() : m_nRefs(1), m_nNewInspectors(0), m_bArgWasInspector(false) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = NULL;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
            IsEqualIID(riid, DIID_OlInspectorsEvents)) {
            AddRef();
            *ppv = static_cast<IDispatch*>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_nRefs; }
    STDMETHODIMP_(ULONG) Release() override { return --m_nRefs; }
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override
    {
        *pctinfo = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD wFlags, DISPPARAMS* pParams, VARIANT*, EXCEPINFO*,
                        UINT*) override
    {
        if (id != 0xF001)
            return DISP_E_MEMBERNOTFOUND;
        ++m_nNewInspectors;
        m_bArgWasInspector = false;
        if (pParams->cArgs == 1 && V_VT(&pParams->rgvarg[0]) == VT_DISPATCH && V_DISPATCH(&pParams->rgvarg[0])) {
            IUnknown* pInspector = NULL;
            if (SUCCEEDED(V_DISPATCH(&pParams->rgvarg[0])->QueryInterface(IID_OlInspector, (void**)&pInspector))) {
                m_bArgWasInspector = true;
                pInspector->Release();
            }
        }
        return S_OK;
    }

    LONG m_nRefs;
    int m_nNewInspectors;
    bool m_bArgWasInspector;
};

HWND WindowOf(IUnknown* pObject)
{
    Ref<IOleWindow> window;
    if (FAILED(pObject->QueryInterface(IID_IOleWindow, (void**)window.Receive())))
        return NULL;
    HWND hWnd = NULL;
    return SUCCEEDED(window->GetWindow(&hWnd)) ? hWnd : NULL;
}

class ObjectModelTest : public OutlookTest {};

TEST_F(ObjectModelTest, ApplicationAnswersOutlookInterfaceAndVersion)
{
    Start();
    Ref<IUnknown> application;
    EXPECT_EQ(S_OK, App()->QueryInterface(IID_OlApplication, (void**)application.Receive()));
    EXPECT_EQ(L"12.0.0.6423", GetText(App(), L"Version"));

    m_options.pszVersion = L"11.0.8217";
    Start();
    EXPECT_EQ(L"11.0.8217", GetText(App(), L"Version"));
    EXPECT_COM_ERROR(GetText(App(), L"NoSuchMember"), DISP_E_UNKNOWNNAME);
}

TEST_F(ObjectModelTest, StoreFoldersAreMadeWhenMissing)
{
    Start();
    EXPECT_TRUE(FolderExists(StorePath("Drafts")));
    EXPECT_TRUE(FolderExists(StorePath("Outbox")));
    EXPECT_TRUE(FolderExists(StorePath("Sent Mail")));
    EXPECT_TRUE(FolderExists(StorePath("Delivered")));
}

TEST_F(ObjectModelTest, DefaultFoldersByNumberAndOthersRaise)
{
    Start();
    Ref<IDispatch> outbox(DefaultFolder(4));
    Ref<IDispatch> sentMail(DefaultFolder(5));
    Ref<IDispatch> drafts(DefaultFolder(16));
    EXPECT_EQ(L"Outbox", GetText(outbox.Get(), L"Name"));
    EXPECT_EQ(L"Sent Mail", GetText(sentMail.Get(), L"Name"));
    EXPECT_EQ(L"Drafts", GetText(drafts.Get(), L"Name"));

    Ref<IDispatch> nameSpace(GetObjectProp(App(), L"Session"));
    try {
        Ref<IDispatch> inbox(CallLong(nameSpace.Get(), L"GetDefaultFolder", 6));
        ADD_FAILURE() << "no error for folder 6";
    } catch (const _com_error& error) {
        EXPECT_EQ(MAPI_E_NOT_FOUND, error.Error());
        EXPECT_TRUE(error.Description().length() > 0);
    }
}

// Folder.Items.Count is the folder as it is at each read: a collection held
// across a submission and a flush sees the items arrive and go.
TEST_F(ObjectModelTest, FolderItemsCountsTheItemsInThatFolderAtEachRead)
{
    Start();
    Ref<IDispatch> outbox(DefaultFolder(4));
    Ref<IDispatch> outboxItems(GetObjectProp(outbox.Get(), L"Items"));
    ASSERT_TRUE(outboxItems);
    Ref<IUnknown> asItems;
    EXPECT_EQ(S_OK, outboxItems->QueryInterface(IID_OlItems, (void**)asItems.Receive()));
    EXPECT_EQ(16, GetLong(outboxItems.Get(), L"Class"));
    Ref<IDispatch> parent(GetObjectProp(outboxItems.Get(), L"Parent"));
    EXPECT_EQ(L"Outbox", GetText(parent.Get(), L"Name"));
    EXPECT_EQ(0, GetLong(outboxItems.Get(), L"Count"));

    Ref<IDispatch> original(ComposeSimple("Plain [[Name]]"));
    Ref<IDispatch> drafts(DefaultFolder(16));
    Ref<IDispatch> draftItems(GetObjectProp(drafts.Get(), L"Items"));
    EXPECT_EQ(1, GetLong(draftItems.Get(), L"Count"));
    EXPECT_EQ(S_OK, SendCopy(original.Get(), L"For Ann", "ann@example.org"));
    EXPECT_EQ(S_OK, SendCopy(original.Get(), L"For Bob", "bob@example.org"));
    EXPECT_EQ(2, GetLong(outboxItems.Get(), L"Count"));
    EXPECT_EQ(1, GetLong(draftItems.Get(), L"Count"));

    EXPECT_EQ(S_OK, FlushOutgoingQueue());
    EXPECT_EQ(0, GetLong(outboxItems.Get(), L"Count"));
    Ref<IDispatch> sentMail(DefaultFolder(5));
    Ref<IDispatch> sentItems(GetObjectProp(sentMail.Get(), L"Items"));
    EXPECT_EQ(2, GetLong(sentItems.Get(), L"Count"));
    // A fresh collection counts the same.
    Ref<IDispatch> again(GetObjectProp(outbox.Get(), L"Items"));
    EXPECT_EQ(0, GetLong(again.Get(), L"Count"));
}

TEST_F(ObjectModelTest, NameSpaceMapiObjectIsTheSession)
{
    Start();
    Ref<IMAPISession> session(Session());
    EXPECT_TRUE(session);
}

TEST_F(ObjectModelTest, ActiveWindowIsTheLastInspectorElseTheExplorer)
{
    Start();
    Ref<IDispatch> explorer(Call(App(), L"ActiveExplorer"));
    ASSERT_TRUE(explorer);
    HWND hExplorer = WindowOf(explorer.Get());
    EXPECT_TRUE(IsWindow(hExplorer));

    Ref<IDispatch> before(Call(App(), L"ActiveWindow"));
    ASSERT_TRUE(before);
    EXPECT_EQ(hExplorer, WindowOf(before.Get()));

    Ref<IDispatch> inspector;
    Ref<IDispatch> item(ComposeSimple("Hello", inspector.Receive()));
    Ref<IDispatch> after(Call(App(), L"ActiveWindow"));
    ASSERT_TRUE(after);
    HWND hInspector = WindowOf(after.Get());
    EXPECT_TRUE(IsWindow(hInspector));
    EXPECT_NE(hExplorer, hInspector);
    EXPECT_EQ(WindowOf(inspector.Get()), hInspector);
}

TEST_F(ObjectModelTest, WithoutExplorerActiveExplorerIsNothing)
{
    m_options.bNoExplorer = true;
    Start();
    Ref<IDispatch> explorer(Call(App(), L"ActiveExplorer"));
    EXPECT_FALSE(explorer);
    Ref<IDispatch> window(Call(App(), L"ActiveWindow"));
    EXPECT_FALSE(window);
}

TEST_F(ObjectModelTest, InspectorShowsTheComposedItemInAWindow)
{
    Start();
    Ref<IDispatch> inspector;
    Ref<IDispatch> item(ComposeSimple("Greetings", inspector.Receive()));
    ASSERT_TRUE(inspector);
    Ref<IUnknown> asInspector;
    EXPECT_EQ(S_OK, inspector->QueryInterface(IID_OlInspector, (void**)asInspector.Receive()));
    Ref<IDispatch> current(GetObjectProp(inspector.Get(), L"CurrentItem"));
    ASSERT_TRUE(current);
    EXPECT_EQ(43, GetLong(current.Get(), L"Class"));
    EXPECT_EQ(L"Greetings", GetText(current.Get(), L"Subject"));
    HWND hWnd = WindowOf(inspector.Get());
    EXPECT_TRUE(IsWindow(hWnd));

    Ref<IDispatch> inspectors(GetObjectProp(App(), L"Inspectors"));
    EXPECT_EQ(1, GetLong(inspectors.Get(), L"Count"));
    Ref<IDispatch> closed(CallLong(inspector.Get(), L"Close", 0));
    EXPECT_FALSE(IsWindow(hWnd));
    EXPECT_EQ(0, GetLong(inspectors.Get(), L"Count"));
    EXPECT_COM_ERROR(GetObjectProp(inspector.Get(), L"CurrentItem"), E_ABORT);
}

TEST_F(ObjectModelTest, NewInspectorReachesAdvisedSinksUntilUnadvised)
{
    Start();
    InspectorsSink sink;
    Ref<IDispatch> inspectors(GetObjectProp(App(), L"Inspectors"));
    Ref<IConnectionPointContainer> container;
    ASSERT_EQ(S_OK, inspectors->QueryInterface(IID_IConnectionPointContainer, (void**)container.Receive()));
    Ref<IConnectionPoint> point;
    ASSERT_EQ(S_OK, container->FindConnectionPoint(DIID_OlInspectorsEvents, point.Receive()));
    Ref<IConnectionPoint> otherPoint;
    EXPECT_EQ(CONNECT_E_NOCONNECTION, container->FindConnectionPoint(IID_IDispatch, otherPoint.Receive()));
    DWORD dwCookie = 0;
    ASSERT_EQ(S_OK, point->Advise(&sink, &dwCookie));

    { Ref<IDispatch> item(ComposeSimple("One")); }
    EXPECT_EQ(1, sink.m_nNewInspectors);
    EXPECT_TRUE(sink.m_bArgWasInspector);

    EXPECT_EQ(S_OK, point->Unadvise(dwCookie));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(dwCookie));
    { Ref<IDispatch> item(ComposeSimple("Two")); }
    EXPECT_EQ(1, sink.m_nNewInspectors);
    EXPECT_EQ(1, sink.m_nRefs);
}

TEST_F(ObjectModelTest, ReleasingTheApplicationReleasesSinksInspectorsAndWindows)
{
    Start();
    InspectorsSink sink;
    HWND hWnd = NULL;
    {
        Ref<IDispatch> inspectors(GetObjectProp(App(), L"Inspectors"));
        Ref<IConnectionPointContainer> container;
        inspectors->QueryInterface(IID_IConnectionPointContainer, (void**)container.Receive());
        Ref<IConnectionPoint> point;
        container->FindConnectionPoint(DIID_OlInspectorsEvents, point.Receive());
        DWORD dwCookie = 0;
        point->Advise(&sink, &dwCookie);
        Ref<IDispatch> inspector;
        Ref<IDispatch> item(ComposeSimple("Kept", inspector.Receive()));
        hWnd = WindowOf(inspector.Get());
        EXPECT_GT(sink.m_nRefs, 1);
    }
    ReleaseApp();
    EXPECT_EQ(1, sink.m_nRefs);
    EXPECT_FALSE(IsWindow(hWnd));
    // The fixture checks that no stand-in object is left alive.
}

TEST_F(ObjectModelTest, SendReceiveControlIsFoundByIdAndCountsRuns)
{
    Start();
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
    Ref<IDispatch> control(Call(bars.Get(), L"FindControl", args, 4));
    ASSERT_TRUE(control);
    EXPECT_EQ(0, StandinSendReceiveRuns(App()));
    Ref<IDispatch> none(Call(control.Get(), L"Execute"));
    Call(control.Get(), L"Execute");
    EXPECT_EQ(2, StandinSendReceiveRuns(App()));

    V_VT(&args[1]) = VT_I4;
    V_I4(&args[1]) = 7095;
    Ref<IDispatch> again(Call(bars.Get(), L"FindControl", args, 4));
    EXPECT_TRUE(again);
    V_I4(&args[1]) = 1234;
    Ref<IDispatch> other(Call(bars.Get(), L"FindControl", args, 4));
    EXPECT_FALSE(other);
}

}  // namespace

namespace {

HRESULT IdOfName(IDispatch* pObject, const wchar_t* pszName)
{
    LPOLESTR pszNames = const_cast<LPOLESTR>(pszName);
    DISPID id = DISPID_UNKNOWN;
    return pObject->GetIDsOfNames(IID_NULL, &pszNames, 1, LOCALE_USER_DEFAULT, &id);
}

}  // namespace

TEST_F(ObjectModelTest, AccountsAreTheProfilesInOrderByNumberOrName)
{
    m_options.pszAccounts = " work@example.com ; home@example.org";
    m_options.pszVersion = L"14.0.7268.5000";
    Start();
    Ref<IDispatch> nameSpace(GetObjectProp(App(), L"Session"));
    Ref<IDispatch> accounts(GetObjectProp(nameSpace.Get(), L"Accounts"));
    EXPECT_EQ(2, GetLong(accounts.Get(), L"Count"));
    EXPECT_EQ(106, GetLong(accounts.Get(), L"Class"));
    Ref<IDispatch> work(CallLong(accounts.Get(), L"Item", 1));
    EXPECT_EQ(L"work@example.com", GetText(work.Get(), L"SmtpAddress"));
    EXPECT_EQ(L"work@example.com", GetText(work.Get(), L"DisplayName"));
    EXPECT_EQ(L"Stand-in User", GetText(work.Get(), L"UserName"));
    EXPECT_EQ(2, GetLong(work.Get(), L"AccountType"));   // olPop3
    EXPECT_EQ(105, GetLong(work.Get(), L"Class"));

    VARIANT index;
    VariantInit(&index);
    V_VT(&index) = VT_I2;
    V_I2(&index) = 2;
    Ref<IDispatch> home(Call(accounts.Get(), L"Item", &index, 1));
    EXPECT_EQ(L"home@example.org", GetText(home.Get(), L"SmtpAddress"));
    ScopedVariant name;
    V_VT(&name.Get()) = VT_BSTR;
    V_BSTR(&name.Get()) = SysAllocString(L"HOME@example.org");
    Ref<IDispatch> byName(Call(accounts.Get(), L"Item", &name.Get(), 1));
    EXPECT_EQ(L"home@example.org", GetText(byName.Get(), L"SmtpAddress"));
    EXPECT_COM_ERROR(CallLong(accounts.Get(), L"Item", 3), MAPI_E_NOT_FOUND);
    EXPECT_COM_ERROR(CallLong(accounts.Get(), L"Item", 0), MAPI_E_NOT_FOUND);

    // The first account's delivery store is the default store; the second
    // has folders of its own.
    Ref<IDispatch> workStore(GetObjectProp(work.Get(), L"DeliveryStore"));
    Ref<IDispatch> homeStore(GetObjectProp(home.Get(), L"DeliveryStore"));
    EXPECT_EQ(L"work@example.com", GetText(workStore.Get(), L"DisplayName"));
    EXPECT_EQ(L"home@example.org", GetText(homeStore.Get(), L"DisplayName"));
    Ref<IDispatch> homeSent(CallLong(homeStore.Get(), L"GetDefaultFolder", 5));
    Ref<IDispatch> homeOutbox(CallLong(homeStore.Get(), L"GetDefaultFolder", 4));
    EXPECT_EQ(L"Sent Mail", GetText(homeSent.Get(), L"Name"));
    EXPECT_EQ(L"Outbox", GetText(homeOutbox.Get(), L"Name"));
    Ref<IDispatch> homeItems(GetObjectProp(homeSent.Get(), L"Items"));
    EXPECT_EQ(0, GetLong(homeItems.Get(), L"Count"));
    EXPECT_COM_ERROR(CallLong(homeStore.Get(), L"GetDefaultFolder", 6), MAPI_E_NOT_FOUND);
    EXPECT_TRUE(FolderExists(StorePath("Accounts\\2\\Sent Mail")));
    EXPECT_TRUE(FolderExists(StorePath("Accounts\\2\\Outbox")));
    EXPECT_FALSE(FolderExists(StorePath("Accounts\\1")));

    // The store's Drafts is its own: an item composed into the default
    // store's counts there, not in the second account's.
    Ref<IDispatch> item(ComposeSimple());
    Ref<IDispatch> homeDrafts(CallLong(homeStore.Get(), L"GetDefaultFolder", 16));
    Ref<IDispatch> homeDraftItems(GetObjectProp(homeDrafts.Get(), L"Items"));
    EXPECT_EQ(0, GetLong(homeDraftItems.Get(), L"Count"));
    Ref<IDispatch> workDrafts(CallLong(workStore.Get(), L"GetDefaultFolder", 16));
    Ref<IDispatch> workDraftItems(GetObjectProp(workDrafts.Get(), L"Items"));
    EXPECT_EQ(1, GetLong(workDraftItems.Get(), L"Count"));
}

TEST_F(ObjectModelTest, WithoutAccountsGivenTheProfileHasTheUsersAndEmptyGivesNone)
{
    Start();
    Ref<IDispatch> nameSpace(GetObjectProp(App(), L"Session"));
    Ref<IDispatch> accounts(GetObjectProp(nameSpace.Get(), L"Accounts"));
    ASSERT_EQ(1, GetLong(accounts.Get(), L"Count"));
    Ref<IDispatch> only(CallLong(accounts.Get(), L"Item", 1));
    EXPECT_EQ(L"user@standin.example", GetText(only.Get(), L"SmtpAddress"));

    m_options.pszAccounts = "";
    Start();
    nameSpace.Reset(GetObjectProp(App(), L"Session"));
    accounts.Reset(GetObjectProp(nameSpace.Get(), L"Accounts"));
    EXPECT_EQ(0, GetLong(accounts.Get(), L"Count"));
    EXPECT_COM_ERROR(CallLong(accounts.Get(), L"Item", 1), MAPI_E_NOT_FOUND);
}

TEST_F(ObjectModelTest, AccountsThatCannotBeAreRefused)
{
    for (const char* pszAccounts : { "not-an-address", "a@example.com;A@example.com" }) {
        m_options.pszAccounts = pszAccounts;
        IDispatch* pApplication = NULL;
        EXPECT_EQ(E_INVALIDARG, CreateStandinOutlook(&m_options, &pApplication)) << pszAccounts;
        EXPECT_EQ(NULL, pApplication);
    }
}

// Outlook 2007 has the accounts and SendUsingAccount, but Account.DeliveryStore
// and Store.GetDefaultFolder came with Outlook 2010; before 2007 there are no
// accounts at all.
TEST_F(ObjectModelTest, EachVersionHasTheAccountMembersItCameWith)
{
    Start();   // 12.0.0.6423
    Ref<IDispatch> nameSpace(GetObjectProp(App(), L"Session"));
    EXPECT_EQ(S_OK, IdOfName(nameSpace.Get(), L"Accounts"));
    Ref<IDispatch> accounts(GetObjectProp(nameSpace.Get(), L"Accounts"));
    Ref<IDispatch> account(CallLong(accounts.Get(), L"Item", 1));
    EXPECT_EQ(S_OK, IdOfName(account.Get(), L"SmtpAddress"));
    EXPECT_EQ(DISP_E_UNKNOWNNAME, IdOfName(account.Get(), L"DeliveryStore"));
    EXPECT_COM_ERROR(GetObjectProp(account.Get(), L"DeliveryStore"), DISP_E_UNKNOWNNAME);
    Ref<IDispatch> item(ComposeSimple());
    EXPECT_EQ(S_OK, IdOfName(item.Get(), L"SendUsingAccount"));

    m_options.pszVersion = L"14.0.7268.5000";
    Start();
    nameSpace.Reset(GetObjectProp(App(), L"Session"));
    accounts.Reset(GetObjectProp(nameSpace.Get(), L"Accounts"));
    account.Reset(CallLong(accounts.Get(), L"Item", 1));
    EXPECT_EQ(S_OK, IdOfName(account.Get(), L"DeliveryStore"));
    Ref<IDispatch> store(GetObjectProp(account.Get(), L"DeliveryStore"));
    EXPECT_EQ(S_OK, IdOfName(store.Get(), L"GetDefaultFolder"));

    m_options.pszVersion = L"11.0.8217";
    Start();
    nameSpace.Reset(GetObjectProp(App(), L"Session"));
    EXPECT_EQ(DISP_E_UNKNOWNNAME, IdOfName(nameSpace.Get(), L"Accounts"));
    item.Reset(ComposeSimple());
    EXPECT_EQ(DISP_E_UNKNOWNNAME, IdOfName(item.Get(), L"SendUsingAccount"));
    EXPECT_EQ(S_OK, IdOfName(item.Get(), L"SentOnBehalfOfName"));
}
