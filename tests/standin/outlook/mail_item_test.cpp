// _MailItem: texts, the record it shares with its IMessage, and the item
// files that Save, Copy, Move, Close and Delete write, move and remove.
#include "standin/outlook/outlook_ids.h"
#include "tests/standin/outlook/outlook_fixture.h"

namespace {

class MailItemTest : public OutlookTest {
protected:
    IDispatch* ComposeHtml()
    {
        StandinComposedMail mail;
        memset(&mail, 0, sizeof(mail));
        mail.pszSubject = "News for [[Name]]";
        mail.pszBody = "Plain news";
        mail.pszHtml = "<html><body>HTML news</body></html>";
        mail.pszHtmlBody = L"<html><body>HTML news</body></html>";
        mail.nBodyFormat = 2;
        return Compose(mail);
    }

    VARIANT FolderArg(IDispatch* pFolder)
    {
        VARIANT arg;
        VariantInit(&arg);
        V_VT(&arg) = VT_DISPATCH;
        V_DISPATCH(&arg) = pFolder;
        return arg;
    }
};

TEST_F(MailItemTest, ComposedMailShowsItsTextsAndIsSavedInDrafts)
{
    Start();
    Ref<IDispatch> item(ComposeHtml());
    Ref<IUnknown> asMailItem;
    EXPECT_EQ(S_OK, item->QueryInterface(IID_OlMailItem, (void**)asMailItem.Receive()));
    EXPECT_EQ(43, GetLong(item.Get(), L"Class"));
    EXPECT_EQ(L"News for [[Name]]", GetText(item.Get(), L"Subject"));
    EXPECT_EQ(L"Plain news", GetText(item.Get(), L"Body"));
    EXPECT_EQ(L"<html><body>HTML news</body></html>", GetText(item.Get(), L"HTMLBody"));
    EXPECT_EQ(2, GetLong(item.Get(), L"BodyFormat"));

    std::string path = ItemPath(item.Get());
    EXPECT_EQ(StorePath("Drafts\\"), path.substr(0, StorePath("Drafts\\").size()));
    std::string file = ReadWholeFile(path);
    EXPECT_NE(std::string::npos, file.find("Subject: News for [[Name]]\r\n"));
    EXPECT_NE(std::string::npos, file.find("BodyFormat: 2\r\n"));
    EXPECT_EQ(1, StandinFolderItemCount(App(), "Drafts"));
}

TEST_F(MailItemTest, PutTextsAreWhatTheMessageReads)
{
    Start();
    Ref<IDispatch> item(ComposeSimple());
    Ref<IMessage> message(MessageOf(item.Get()));
    ASSERT_TRUE(message);

    PutText(item.Get(), L"Subject", L"Caf\u00e9 for Ann");
    std::string subject;
    EXPECT_EQ(S_OK, SubjectOf(message.Get(), &subject));
    EXPECT_EQ("Caf\xe9 for Ann", subject);

    PutText(item.Get(), L"Body", L"Hello Ann");
    std::string bytes;
    EXPECT_EQ(S_OK, ReadStream(message.Get(), PR_BODY_A, &bytes));
    EXPECT_EQ("Hello Ann", bytes);
    EXPECT_EQ(S_OK, ReadStream(message.Get(), PR_BODY_W, &bytes));
    EXPECT_EQ(std::string((const char*)L"Hello Ann", 9 * sizeof(wchar_t)), bytes);

    // Putting HTMLBody makes the item HTML and its text the body at once,
    // as in Outlook.
    EXPECT_EQ(1, GetLong(item.Get(), L"BodyFormat"));
    PutText(item.Get(), L"HTMLBody",
            L"<html><head><style>p{}</style></head><body><b>Hi&nbsp;Ann</b>,<br>see &lt;you&gt;"
            L"<p>Bye &amp; &#233;</p></body></html>");
    EXPECT_EQ(2, GetLong(item.Get(), L"BodyFormat"));
    EXPECT_EQ(L"Hi\u00a0Ann,\r\nsee <you>\r\nBye & \u00e9", GetText(item.Get(), L"Body"));
    EXPECT_EQ(S_OK, ReadStream(message.Get(), PR_BODY_A, &bytes));
    EXPECT_EQ(std::string::npos, bytes.find("Hello Ann"));
}

TEST_F(MailItemTest, HtmlWrittenThroughTheMessageIsWhatHtmlBodyShows)
{
    Start();
    Ref<IDispatch> item(ComposeHtml());
    Ref<IMessage> message(MessageOf(item.Get()));
    std::string html("<p>Merged</p>", 14);   // with its terminating zero, as the engine writes it
    EXPECT_EQ(S_OK, WriteStream(message.Get(), PR_HTML, html));
    EXPECT_EQ(L"<p>Merged</p>", GetText(item.Get(), L"HTMLBody"));
    // The plain body is left as it was.
    EXPECT_EQ(L"Plain news", GetText(item.Get(), L"Body"));
    std::string bytes;
    EXPECT_EQ(S_OK, ReadStream(message.Get(), PR_HTML, &bytes));
    EXPECT_EQ(html, bytes);
}

TEST_F(MailItemTest, BodyFormatOutOfRangeRaisesAndChangesNothing)
{
    Start();
    Ref<IDispatch> item(ComposeHtml());
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_I4;
    V_I4(&value) = 7;
    EXPECT_EQ(E_INVALIDARG, DispTryPutProperty(item.Get(), L"BodyFormat", value));
    EXPECT_EQ(2, GetLong(item.Get(), L"BodyFormat"));
    V_I4(&value) = 1;
    EXPECT_EQ(S_OK, DispTryPutProperty(item.Get(), L"BodyFormat", value));
    EXPECT_EQ(1, GetLong(item.Get(), L"BodyFormat"));
    EXPECT_EQ(L"", GetText(item.Get(), L"HTMLBody"));
}

TEST_F(MailItemTest, CopyIsANewSavedItemInTheSameFolder)
{
    Start();
    Ref<IDispatch> original(ComposeHtml());
    Ref<IDispatch> copy(Call(original.Get(), L"Copy"));
    ASSERT_TRUE(copy);
    std::string originalPath = ItemPath(original.Get());
    std::string copyPath = ItemPath(copy.Get());
    EXPECT_NE(originalPath, copyPath);
    EXPECT_TRUE(FileExists(copyPath));
    EXPECT_EQ(2, StandinFolderItemCount(App(), "Drafts"));
    EXPECT_EQ(L"News for [[Name]]", GetText(copy.Get(), L"Subject"));

    PutText(copy.Get(), L"Subject", L"Changed");
    EXPECT_EQ(L"News for [[Name]]", GetText(original.Get(), L"Subject"));
    Call(copy.Get(), L"Save");
    EXPECT_NE(std::string::npos, ReadWholeFile(copyPath).find("Subject: Changed\r\n"));
    EXPECT_EQ(std::string::npos, ReadWholeFile(originalPath).find("Changed"));
}

TEST_F(MailItemTest, MoveTakesTheItemAndItsFileToTheFolder)
{
    Start();
    Ref<IDispatch> original(ComposeSimple());
    Ref<IDispatch> copy(Call(original.Get(), L"Copy"));
    std::string draftPath = ItemPath(copy.Get());
    Ref<IDispatch> outbox(DefaultFolder(4));
    VARIANT arg = FolderArg(outbox.Get());
    Ref<IMessage> copyMessage(MessageOf(copy.Get()));
    Ref<IDispatch> moved(Call(copy.Get(), L"Move", &arg, 1));
    ASSERT_TRUE(moved);
    // A new item with a message of its own; the one moved from is gone.
    EXPECT_NE(copy.Get(), moved.Get());
    Ref<IMessage> movedMessage(MessageOf(moved.Get()));
    EXPECT_NE(copyMessage.Get(), movedMessage.Get());
    EXPECT_COM_ERROR(GetText(copy.Get(), L"Subject"), MAPI_E_OBJECT_DELETED);
    EXPECT_COM_ERROR(GetLong(copy.Get(), L"Class"), MAPI_E_OBJECT_DELETED);
    EXPECT_COM_ERROR(Call(copy.Get(), L"Save"), MAPI_E_OBJECT_DELETED);
    std::string subject;
    EXPECT_EQ(MAPI_E_OBJECT_DELETED, SubjectOf(copyMessage.Get(), &subject));
    EXPECT_EQ(S_OK, SubjectOf(movedMessage.Get(), &subject));
    EXPECT_EQ("Hello", subject);
    Ref<IDispatch> parent(GetObjectProp(moved.Get(), L"Parent"));
    EXPECT_EQ(L"Outbox", GetText(parent.Get(), L"Name"));
    EXPECT_FALSE(FileExists(draftPath));
    std::string outboxPath = ItemPath(moved.Get());
    EXPECT_EQ(StorePath("Outbox\\"), outboxPath.substr(0, StorePath("Outbox\\").size()));
    EXPECT_TRUE(FileExists(outboxPath));
    EXPECT_EQ(1, StandinFolderItemCount(App(), "Outbox"));
    EXPECT_EQ(1, StandinFolderItemCount(App(), "Drafts"));

    // Anything but a folder of this store is refused.
    VARIANT bad = FolderArg(App());
    EXPECT_COM_ERROR(Call(moved.Get(), L"Move", &bad, 1), E_INVALIDARG);
}

TEST_F(MailItemTest, SaveSentMessageFolderIsSetByReference)
{
    Start();
    Ref<IDispatch> item(ComposeSimple());
    Ref<IDispatch> none(GetObjectProp(item.Get(), L"SaveSentMessageFolder"));
    EXPECT_FALSE(none);
    Ref<IDispatch> sentMail(DefaultFolder(5));
    EXPECT_EQ(S_OK, DispTryPutRefProperty(item.Get(), L"SaveSentMessageFolder", sentMail.Get()));
    Ref<IDispatch> folder(GetObjectProp(item.Get(), L"SaveSentMessageFolder"));
    ASSERT_TRUE(folder);
    EXPECT_EQ(L"Sent Mail", GetText(folder.Get(), L"Name"));
    EXPECT_EQ(E_INVALIDARG, DispTryPutRefProperty(item.Get(), L"SaveSentMessageFolder", item.Get()));
}

TEST_F(MailItemTest, CloseWithSaveWritesTheItemAndClosesItsInspector)
{
    Start();
    Ref<IDispatch> inspector;
    Ref<IDispatch> item(ComposeSimple("Before", inspector.Receive()));
    PutText(item.Get(), L"Subject", L"After");
    std::string path = ItemPath(item.Get());
    EXPECT_EQ(std::string::npos, ReadWholeFile(path).find("Subject: After"));
    Ref<IDispatch> inspectors(GetObjectProp(App(), L"Inspectors"));
    EXPECT_EQ(1, GetLong(inspectors.Get(), L"Count"));
    CallLong(item.Get(), L"Close", 0);
    EXPECT_NE(std::string::npos, ReadWholeFile(path).find("Subject: After\r\n"));
    EXPECT_EQ(0, GetLong(inspectors.Get(), L"Count"));
    EXPECT_COM_ERROR(CallLong(item.Get(), L"Close", 5), E_INVALIDARG);
}

TEST_F(MailItemTest, DeleteRemovesTheFileAndTheItemIsGone)
{
    Start();
    Ref<IDispatch> inspector;
    Ref<IDispatch> item(ComposeSimple("Doomed", inspector.Receive()));
    std::string path = ItemPath(item.Get());
    Ref<IMessage> message(MessageOf(item.Get()));
    Call(item.Get(), L"Delete");
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(0, StandinFolderItemCount(App(), "Drafts"));
    EXPECT_EQ("", ItemPath(item.Get()));
    EXPECT_COM_ERROR(GetText(item.Get(), L"Subject"), MAPI_E_OBJECT_DELETED);
    EXPECT_COM_ERROR(Call(item.Get(), L"Save"), MAPI_E_OBJECT_DELETED);
    std::string subject;
    EXPECT_EQ(MAPI_E_OBJECT_DELETED, SubjectOf(message.Get(), &subject));
    Ref<IDispatch> inspectors(GetObjectProp(App(), L"Inspectors"));
    EXPECT_EQ(0, GetLong(inspectors.Get(), L"Count"));
}

TEST_F(MailItemTest, NewItemsNeverOverwriteTheFilesOfAnEarlierRun)
{
    Start();
    std::string firstPath;
    {
        Ref<IDispatch> item(ComposeSimple("First run"));
        firstPath = ItemPath(item.Get());
    }
    Start();
    Ref<IDispatch> item(ComposeSimple("Second run"));
    EXPECT_NE(firstPath, ItemPath(item.Get()));
    EXPECT_NE(std::string::npos, ReadWholeFile(firstPath).find("Subject: First run"));
}

}  // namespace

namespace {

// An item of a profile with two accounts, in Outlook 2010.
class AccountMailItemTest : public MailItemTest {
protected:
    void SetUp() override
    {
        MailItemTest::SetUp();
        UseTwoAccounts();
    }

    // A message from the home account, on behalf of boss@example.com,
    // replies to replies@example.com.
    IDispatch* ComposeFromHome()
    {
        IDispatch* pOriginal = ComposeSimple();
        Ref<IDispatch> home(Account(2));
        EXPECT_EQ(S_OK, DispTryPutRefProperty(pOriginal, L"SendUsingAccount", home.Get()));
        PutText(pOriginal, L"SentOnBehalfOfName", L"boss@example.com");
        AddReplyRecipient(pOriginal, L"replies@example.com");
        return pOriginal;
    }

    // The SMTP address of the item's SendUsingAccount; "Nothing" for none.
    std::wstring AccountOf(IDispatch* pItem)
    {
        Ref<IDispatch> account(GetObjectProp(pItem, L"SendUsingAccount"));
        return account ? GetText(account.Get(), L"SmtpAddress") : std::wstring(L"Nothing");
    }

    void AddReplyRecipient(IDispatch* pItem, const wchar_t* pszName)
    {
        Ref<IDispatch> recipients(GetObjectProp(pItem, L"ReplyRecipients"));
        ScopedVariant name;
        V_VT(&name.Get()) = VT_BSTR;
        V_BSTR(&name.Get()) = SysAllocString(pszName);
        Ref<IDispatch> recipient(Call(recipients.Get(), L"Add", &name.Get(), 1));
        EXPECT_EQ(pszName, GetText(recipient.Get(), L"Name"));
    }

    std::vector<std::wstring> ReplyNames(IDispatch* pItem)
    {
        Ref<IDispatch> recipients(GetObjectProp(pItem, L"ReplyRecipients"));
        std::vector<std::wstring> names;
        LONG nCount = GetLong(recipients.Get(), L"Count");
        for (LONG i = 1; i <= nCount; ++i) {
            Ref<IDispatch> recipient(CallLong(recipients.Get(), L"Item", i));
            names.push_back(GetText(recipient.Get(), L"Address"));
        }
        return names;
    }
};

}  // namespace

TEST_F(AccountMailItemTest, SendUsingAccountIsNothingUntilSetAndTakesOnlyTheSessionsAccounts)
{
    Start();
    Ref<IDispatch> item(ComposeSimple());
    EXPECT_EQ(L"Nothing", AccountOf(item.Get()));

    // Set as VBA's Set does it, and as a plain assignment of the object.
    Ref<IDispatch> home(Account(2));
    EXPECT_EQ(S_OK, DispTryPutRefProperty(item.Get(), L"SendUsingAccount", home.Get()));
    EXPECT_EQ(L"home@example.org", AccountOf(item.Get()));
    Ref<IDispatch> work(Account(1));
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_DISPATCH;
    V_DISPATCH(&value) = work.Get();
    EXPECT_EQ(S_OK, DispTryPutProperty(item.Get(), L"SendUsingAccount", value));
    EXPECT_EQ(L"work@example.com", AccountOf(item.Get()));

    // Anything but one of the session's accounts is refused, with a reason.
    Ref<IDispatch> drafts(DefaultFolder(16));
    EXPECT_EQ(E_INVALIDARG, DispTryPutRefProperty(item.Get(), L"SendUsingAccount", drafts.Get()));
    LPOLESTR pszName = const_cast<LPOLESTR>(L"SendUsingAccount");
    DISPID id = DISPID_UNKNOWN;
    ASSERT_EQ(S_OK, item->GetIDsOfNames(IID_NULL, &pszName, 1, LOCALE_USER_DEFAULT, &id));
    VARIANT wrong;
    VariantInit(&wrong);
    V_VT(&wrong) = VT_DISPATCH;
    V_DISPATCH(&wrong) = item.Get();
    DISPID idPut = DISPID_PROPERTYPUT;
    DISPPARAMS params = { &wrong, &idPut, 1, 1 };
    EXCEPINFO info = {};
    EXPECT_EQ(DISP_E_EXCEPTION,
              item->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUTREF, &params, NULL, &info, NULL));
    EXPECT_EQ(E_INVALIDARG, info.scode);
    EXPECT_TRUE(info.bstrDescription && SysStringLen(info.bstrDescription) > 0);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    EXPECT_EQ(L"work@example.com", AccountOf(item.Get()));

    // Kept by Save in the item's file; Nothing unsets it.
    Call(item.Get(), L"Save");
    EXPECT_NE(std::string::npos, ReadWholeFile(ItemPath(item.Get())).find("\r\nSendUsingAccount: work@example.com\r\n"));
    EXPECT_EQ(S_OK, DispTryPutRefProperty(item.Get(), L"SendUsingAccount", NULL));
    EXPECT_EQ(L"Nothing", AccountOf(item.Get()));
}

TEST_F(AccountMailItemTest, ComposedFromAnAccountOnBehalfOfSomeone)
{
    Start();
    StandinComposedMail mail = {};
    mail.pszSubject = "Hello";
    mail.pszBody = "Body";
    mail.nBodyFormat = 1;
    mail.pszFromAccount = "HOME@example.org";
    mail.pszOnBehalfOf = L"Office <office@example.com>";
    Ref<IDispatch> item(Compose(mail));
    EXPECT_EQ(L"home@example.org", AccountOf(item.Get()));
    EXPECT_EQ(L"Office <office@example.com>", GetText(item.Get(), L"SentOnBehalfOfName"));

    mail.pszFromAccount = "nobody@example.com";
    IDispatch* pItem = NULL;
    EXPECT_EQ(E_INVALIDARG, StandinComposeMail(App(), &mail, &pItem, NULL));
    EXPECT_EQ(NULL, pItem);
}

TEST_F(AccountMailItemTest, SentOnBehalfOfNameIsEmptyUntilPutAndKeptBySave)
{
    Start();
    Ref<IDispatch> item(ComposeSimple());
    EXPECT_EQ(L"", GetText(item.Get(), L"SentOnBehalfOfName"));
    PutText(item.Get(), L"SentOnBehalfOfName", L"boss@example.com");
    EXPECT_EQ(L"boss@example.com", GetText(item.Get(), L"SentOnBehalfOfName"));
    EXPECT_EQ(std::string::npos, ReadWholeFile(ItemPath(item.Get())).find("SentOnBehalfOfName"));
    Call(item.Get(), L"Save");
    EXPECT_NE(std::string::npos, ReadWholeFile(ItemPath(item.Get())).find("\r\nSentOnBehalfOfName: boss@example.com\r\n"));
}

TEST_F(AccountMailItemTest, ReplyRecipientsAreAddedRemovedAndKeptBySave)
{
    Start();
    Ref<IDispatch> item(ComposeSimple());
    Ref<IDispatch> recipients(GetObjectProp(item.Get(), L"ReplyRecipients"));
    EXPECT_EQ(0, GetLong(recipients.Get(), L"Count"));
    AddReplyRecipient(item.Get(), L"first@example.com");
    AddReplyRecipient(item.Get(), L"replies@example.com");
    AddReplyRecipient(item.Get(), L"Desk <desk@example.com>");
    EXPECT_EQ(3, GetLong(recipients.Get(), L"Count"));
    Ref<IDispatch> first(CallLong(recipients.Get(), L"Item", 1));
    EXPECT_EQ(1, GetLong(first.Get(), L"Type"));
    Ref<IDispatch> removed(CallLong(recipients.Get(), L"Remove", 1));
    EXPECT_FALSE(removed);
    EXPECT_COM_ERROR(CallLong(recipients.Get(), L"Item", 3), DISP_E_BADINDEX);
    EXPECT_EQ((std::vector<std::wstring>{ L"replies@example.com", L"Desk <desk@example.com>" }), ReplyNames(item.Get()));

    // Pending until saved, then in the item's file.
    std::string before = ReadWholeFile(ItemPath(item.Get()));
    EXPECT_EQ(std::string::npos, before.find("ReplyRecipient"));
    Call(item.Get(), L"Save");
    std::string after = ReadWholeFile(ItemPath(item.Get()));
    EXPECT_NE(std::string::npos, after.find("\r\nReplyRecipient: replies@example.com\r\n"));
    EXPECT_NE(std::string::npos, after.find("\r\nReplyRecipient: Desk <desk@example.com>\r\n"));
    EXPECT_EQ(std::string::npos, after.find("first@example.com"));
}

TEST_F(AccountMailItemTest, CopyAndMoveKeepTheAccountWhomItGoesForAndWhereRepliesGo)
{
    Start();
    Ref<IDispatch> original(ComposeFromHome());

    // Copy takes the item as it shows, before any Save.
    Ref<IDispatch> copy(Call(original.Get(), L"Copy"));
    EXPECT_EQ(L"home@example.org", AccountOf(copy.Get()));
    EXPECT_EQ(L"boss@example.com", GetText(copy.Get(), L"SentOnBehalfOfName"));
    EXPECT_EQ(std::vector<std::wstring>{ L"replies@example.com" }, ReplyNames(copy.Get()));
    // The copy's are its own.
    AddReplyRecipient(copy.Get(), L"more@example.com");
    EXPECT_EQ(1u, ReplyNames(original.Get()).size());

    // Move takes the stored item: saved first, it keeps all three.
    Call(copy.Get(), L"Save");
    Ref<IDispatch> moved(MoveToOutbox(copy.Get()));
    EXPECT_EQ(L"home@example.org", AccountOf(moved.Get()));
    EXPECT_EQ(L"boss@example.com", GetText(moved.Get(), L"SentOnBehalfOfName"));
    EXPECT_EQ((std::vector<std::wstring>{ L"replies@example.com", L"more@example.com" }), ReplyNames(moved.Get()));
}

TEST_F(AccountMailItemTest, WithCopyDroppingTheAccountTheCopyHasNoneAndKeepsTheRest)
{
    m_options.bCopyDropsAccount = true;
    Start();
    Ref<IDispatch> original(ComposeFromHome());
    Ref<IDispatch> copy(Call(original.Get(), L"Copy"));
    EXPECT_EQ(L"Nothing", AccountOf(copy.Get()));
    EXPECT_EQ(L"home@example.org", AccountOf(original.Get()));
    EXPECT_EQ(L"boss@example.com", GetText(copy.Get(), L"SentOnBehalfOfName"));
    EXPECT_EQ(std::vector<std::wstring>{ L"replies@example.com" }, ReplyNames(copy.Get()));
    // Move is no copy: the account stays.
    Call(original.Get(), L"Save");
    Ref<IDispatch> moved(MoveToOutbox(original.Get()));
    EXPECT_EQ(L"home@example.org", AccountOf(moved.Get()));
}
