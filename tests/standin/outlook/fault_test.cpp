// Injected faults: dispatch members and MAPI methods ask the fault plan and
// fail or raise on the planned call.
#include "standin/common/fault_plan.h"
#include "tests/standin/outlook/outlook_fixture.h"

namespace {

class FaultTest : public OutlookTest {};

TEST_F(FaultTest, DispatchMemberFailsOnThePlannedCallOnly)
{
    Start();
    Ref<IDispatch> original(ComposeSimple());
    ASSERT_TRUE(SetFaultPlan("MailItem.Copy=fail:0x80004005@2"));
    { Ref<IDispatch> copy(Call(original.Get(), L"Copy")); EXPECT_TRUE(copy); }
    EXPECT_COM_ERROR(Call(original.Get(), L"Copy"), E_FAIL);
    { Ref<IDispatch> copy(Call(original.Get(), L"Copy")); EXPECT_TRUE(copy); }
    EXPECT_EQ(3, FaultCallCount("MailItem.Copy"));
    // Two copies and the original: the failed call made nothing.
    EXPECT_EQ(3, StandinFolderItemCount(App(), "Drafts"));
}

TEST_F(FaultTest, DispatchRaiseCarriesErrorInformation)
{
    Start();
    Ref<IDispatch> item(ComposeSimple("Kept"));
    ASSERT_TRUE(SetFaultPlan("MailItem.Subject.put=raise:0x80070005@*"));
    try {
        PutText(item.Get(), L"Subject", L"Changed");
        ADD_FAILURE() << "no error raised";
    } catch (const _com_error& error) {
        EXPECT_EQ(E_ACCESSDENIED, error.Error());
        EXPECT_EQ(std::wstring(L"Injected fault in MailItem.Subject.put"), (const wchar_t*)error.Description());
        EXPECT_EQ(std::wstring(L"Lettercast stand-in"), (const wchar_t*)error.Source());
    }
    // Reading is another operation, and the put did nothing.
    EXPECT_EQ(L"Kept", GetText(item.Get(), L"Subject"));
    EXPECT_EQ(1, FaultCallCount("MailItem.Subject.get"));
    EXPECT_EQ(1, FaultCallCount("MailItem.Subject.put"));
}

TEST_F(FaultTest, ApplicationAndNameSpaceMembersAskByTheirNames)
{
    Start();
    ASSERT_TRUE(SetFaultPlan("NameSpace.GetDefaultFolder=fail:0x80040111@1;Application.ActiveExplorer=fail@1"));
    EXPECT_COM_ERROR(DefaultFolder(4), (HRESULT)0x80040111);
    { Ref<IDispatch> folder(DefaultFolder(4)); EXPECT_TRUE(folder); }
    EXPECT_COM_ERROR(Call(App(), L"ActiveExplorer"), E_FAIL);
    EXPECT_EQ(2, FaultCallCount("Application.Session.get"));
}

TEST_F(FaultTest, MapiMethodFailsWithItsCodeAndLastErrorText)
{
    Start();
    Ref<IDispatch> item(ComposeSimple());
    Ref<IMessage> message(MessageOf(item.Get()));
    ASSERT_EQ(S_OK, AddRecipient(message.Get(), "ann@example.org"));
    ASSERT_TRUE(SetFaultPlan("IMessage.SubmitMessage=fail:0x80040115@1"));
    HRESULT hr = message->SubmitMessage(FORCE_SUBMIT);
    EXPECT_EQ((HRESULT)0x80040115, hr);
    EXPECT_EQ("Injected fault in IMessage.SubmitMessage", LastErrorText(message.Get(), hr));
    EXPECT_EQ(S_OK, message->SubmitMessage(FORCE_SUBMIT));
}

TEST_F(FaultTest, MapiMethodRaiseThrowsComError)
{
    Start();
    Ref<IDispatch> item(ComposeSimple());
    Ref<IMessage> message(MessageOf(item.Get()));
    ASSERT_TRUE(SetFaultPlan("IStream.Write=raise@1"));
    HRESULT hrCaught = S_OK;
    std::wstring description;
    try {
        WriteStream(message.Get(), PR_HTML, "<p>x</p>");
    } catch (const _com_error& error) {
        hrCaught = error.Error();
        _bstr_t text = error.Description();
        description = text.length() ? (const wchar_t*)text : L"";
    }
    EXPECT_EQ(E_FAIL, hrCaught);
    EXPECT_EQ(L"Injected fault in IStream.Write", description);
}

TEST_F(FaultTest, FlushAndStatusTableFaultsReachTheCaller)
{
    Start();
    ASSERT_TRUE(SetFaultPlan("IMAPISession.GetStatusTable=fail:0x8004010F@1;IMAPIStatus.FlushQueues=fail@1;"
                             "IMAPITable.QueryRows=fail:0x80040108@3"));
    EXPECT_EQ(MAPI_E_NOT_FOUND, FlushOutgoingQueue());
    EXPECT_EQ(E_FAIL, FlushOutgoingQueue());
    EXPECT_EQ((HRESULT)0x80040108, FlushOutgoingQueue());
    EXPECT_EQ(S_OK, FlushOutgoingQueue());
}

TEST_F(FaultTest, InspectorWindowAndAdviseAskTheirFaults)
{
    Start();
    Ref<IDispatch> inspector;
    Ref<IDispatch> item(ComposeSimple("Hi", inspector.Receive()));
    ASSERT_TRUE(SetFaultPlan("Inspector.GetWindow=fail:0x80004001@1;Inspector.CurrentItem.get=fail@1"));
    Ref<IOleWindow> window;
    ASSERT_EQ(S_OK, inspector->QueryInterface(IID_IOleWindow, (void**)window.Receive()));
    HWND hWnd = NULL;
    EXPECT_EQ(E_NOTIMPL, window->GetWindow(&hWnd));
    EXPECT_EQ(S_OK, window->GetWindow(&hWnd));
    EXPECT_TRUE(IsWindow(hWnd));
    EXPECT_COM_ERROR(GetObjectProp(inspector.Get(), L"CurrentItem"), E_FAIL);
}

}  // namespace

namespace {

TEST_F(FaultTest, AccountMembersAskByTheirNames)
{
    UseTwoAccounts();
    Start();
    Ref<IDispatch> item(ComposeSimple());
    Ref<IDispatch> nameSpace(GetObjectProp(App(), L"Session"));
    Ref<IDispatch> accounts(GetObjectProp(nameSpace.Get(), L"Accounts"));
    Ref<IDispatch> home(CallLong(accounts.Get(), L"Item", 2));
    ASSERT_TRUE(SetFaultPlan("MailItem.SendUsingAccount.get=fail:0x80004005@1;"
                             "MailItem.SendUsingAccount.put=fail:0x80070005@1;"
                             "MailItem.SendUsingAccount.putref=raise:0x8007000E@1;"
                             "MailItem.ReplyRecipients.get=fail:0x80004005@1;Accounts.Item=fail:0x80040111@1;"
                             "Account.DeliveryStore.get=fail@1"));
    EXPECT_COM_ERROR(GetObjectProp(item.Get(), L"SendUsingAccount"), E_FAIL);
    { Ref<IDispatch> none(GetObjectProp(item.Get(), L"SendUsingAccount")); EXPECT_FALSE(none); }
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_DISPATCH;
    V_DISPATCH(&value) = home.Get();
    EXPECT_EQ(E_ACCESSDENIED, DispTryPutProperty(item.Get(), L"SendUsingAccount", value));
    EXPECT_EQ(E_OUTOFMEMORY, DispTryPutRefProperty(item.Get(), L"SendUsingAccount", home.Get()));
    // Neither failed put set anything.
    { Ref<IDispatch> none(GetObjectProp(item.Get(), L"SendUsingAccount")); EXPECT_FALSE(none); }
    EXPECT_EQ(S_OK, DispTryPutRefProperty(item.Get(), L"SendUsingAccount", home.Get()));
    EXPECT_COM_ERROR(GetObjectProp(item.Get(), L"ReplyRecipients"), E_FAIL);
    { Ref<IDispatch> recipients(GetObjectProp(item.Get(), L"ReplyRecipients")); EXPECT_TRUE(recipients); }
    EXPECT_COM_ERROR(CallLong(accounts.Get(), L"Item", 1), (HRESULT)0x80040111);
    EXPECT_COM_ERROR(GetObjectProp(home.Get(), L"DeliveryStore"), E_FAIL);
    EXPECT_EQ(3, FaultCallCount("MailItem.SendUsingAccount.get"));
    EXPECT_EQ(1, FaultCallCount("MailItem.SendUsingAccount.put"));
    EXPECT_EQ(2, FaultCallCount("MailItem.SendUsingAccount.putref"));
}

}  // namespace
