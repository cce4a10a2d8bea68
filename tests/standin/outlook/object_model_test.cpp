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
