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
