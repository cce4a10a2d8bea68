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
