// The session: its status table, the spooler's status object and what a
// flush of the Outbox delivers; and the whole sequence of one recipient.
#include "standin/common/fault_plan.h"
#include "standin/outlook/delivery.h"
#include "tests/standin/outlook/outlook_fixture.h"

namespace {

class SessionTest : public OutlookTest {
protected:
    IDispatch* ComposeHtmlOriginal()
    {
        StandinComposedMail mail;
        memset(&mail, 0, sizeof(mail));
        mail.pszSubject = "Offer for [[Name]]";
        mail.pszBody = "Plain offer";
        mail.pszHtml = "<html><body>Offer</body></html>";
        mail.nBodyFormat = 2;
        return Compose(mail);
    }

    std::string Delivered(int nNumber)
    {
        char szPath[MAX_PATH];
        EXPECT_TRUE(StandinDeliveredPath(m_options.szStoreDir, nNumber, szPath, sizeof(szPath)));
        return szPath;
    }
};

TEST_F(SessionTest, StatusTableHasTheSpoolerRowThatOpensAsStatus)
{
    Start();
    Ref<IMAPISession> session(Session());
    Ref<IMAPITable> table;
    ASSERT_EQ(S_OK, session->GetStatusTable(0, table.Receive()));
    ULONG cRows = 0;
    EXPECT_EQ(S_OK, table->GetRowCount(0, &cRows));
    EXPECT_GE(cRows, 2u);

    SizedSPropTagArray(2, columns) = { 2, { PR_ENTRYID, PR_RESOURCE_TYPE } };
    ResourceTypeRestriction spooler(MAPI_SPOOLER);
    SRowSet* pRows = NULL;
    ASSERT_EQ(S_OK, m_mapi.pfnHrQueryAllRows(table.Get(), (LPSPropTagArray)&columns, &spooler.restriction, NULL, 0,
                                             &pRows));
    ASSERT_EQ(1u, pRows->cRows);
    EXPECT_EQ(PR_ENTRYID, pRows->aRow[0].lpProps[0].ulPropTag);
    EXPECT_EQ(MAPI_SPOOLER, pRows->aRow[0].lpProps[1].Value.ul);

    ULONG ulType = 0;
    Ref<IUnknown> status;
    EXPECT_EQ(S_OK, session->OpenEntry(pRows->aRow[0].lpProps[0].Value.bin.cb,
                                       (LPENTRYID)pRows->aRow[0].lpProps[0].Value.bin.lpb, &IID_IMAPIStatus,
                                       MAPI_BEST_ACCESS, &ulType, status.Receive()));
    EXPECT_EQ(MAPI_STATUS, ulType);
    Ref<IMAPIStatus> asStatus;
    EXPECT_EQ(S_OK, status->QueryInterface(IID_IMAPIStatus, (void**)asStatus.Receive()));
    m_mapi.pfnFreeProws(pRows);

    BYTE bogus[4] = { 1, 2, 3, 4 };
    EXPECT_EQ(MAPI_E_NOT_FOUND,
              session->OpenEntry(4, (LPENTRYID)bogus, &IID_IMAPIStatus, MAPI_BEST_ACCESS, &ulType, status.Receive()));
}

TEST_F(SessionTest, WithoutSpoolerRowTheQueryFindsNothing)
{
    m_options.bNoSpoolerRow = true;
    Start();
    EXPECT_EQ(MAPI_E_NOT_FOUND, FlushOutgoingQueue());
}

TEST_F(SessionTest, QueryRowsPagesFromTheCursor)
{
    Start();
    Ref<IMAPISession> session(Session());
    Ref<IMAPITable> table;
    ASSERT_EQ(S_OK, session->GetStatusTable(0, table.Receive()));
    ULONG cRows = 0;
    table->GetRowCount(0, &cRows);
    SizedSPropTagArray(1, columns) = { 1, { PR_RESOURCE_TYPE } };
    EXPECT_EQ(S_OK, table->SetColumns((LPSPropTagArray)&columns, 0));
    LONG nSought = 0;
    EXPECT_EQ(S_OK, table->SeekRow(BOOKMARK_BEGINNING, 0, &nSought));

    std::vector<ULONG> vecTypes;
    for (ULONG i = 0; i <= cRows; ++i) {
        SRowSet* pRows = NULL;
        ASSERT_EQ(S_OK, table->QueryRows(1, 0, &pRows));
        if (i == cRows) {
            EXPECT_EQ(0u, pRows->cRows);
        } else {
            ASSERT_EQ(1u, pRows->cRows);
            ASSERT_EQ(1u, pRows->aRow[0].cValues);
            vecTypes.push_back(pRows->aRow[0].lpProps[0].Value.ul);
        }
        m_mapi.pfnFreeProws(pRows);
    }
    EXPECT_NE(vecTypes.end(), std::find(vecTypes.begin(), vecTypes.end(), (ULONG)MAPI_SPOOLER));
    EXPECT_NE(vecTypes.end(), std::find(vecTypes.begin(), vecTypes.end(), (ULONG)MAPI_TRANSPORT_PROVIDER));

    EXPECT_EQ(S_OK, table->SeekRow(BOOKMARK_BEGINNING, 1, &nSought));
    EXPECT_EQ(1, nSought);
    SRowSet* pRest = NULL;
    ASSERT_EQ(S_OK, table->QueryRows(100, 0, &pRest));
    EXPECT_EQ(cRows - 1, pRest->cRows);
    m_mapi.pfnFreeProws(pRest);
}

TEST_F(SessionTest, OneRecipientAsTheEngineSendsItIsDeliveredAndFiledInSentMail)
{
    Start();
    Ref<IDispatch> original(ComposeHtmlOriginal());
    Ref<IDispatch> copy(Call(original.Get(), L"Copy"));
    Call(copy.Get(), L"Save");
    Ref<IMessage> message(MessageOf(copy.Get()));
    PutText(copy.Get(), L"Subject", L"Offer for Ann");
    EXPECT_EQ(S_OK, WriteStream(message.Get(), PR_HTML, std::string("<html><body>Offer for Ann</body></html>", 40)));
    Call(copy.Get(), L"Save");
    EXPECT_EQ(S_OK, AddRecipient(message.Get(), "ann@example.org"));
    EXPECT_EQ(S_OK, SetUseTnef(message.Get()));
    EXPECT_EQ(S_OK, message->SaveChanges(KEEP_OPEN_READWRITE));

    Ref<IDispatch> moved(MoveToOutbox(copy.Get()));
    // The moved item is another message; the copy's is gone.
    EXPECT_EQ(MAPI_E_OBJECT_DELETED, message->SubmitMessage(FORCE_SUBMIT));
    Ref<IDispatch> sentMail(DefaultFolder(5));
    EXPECT_EQ(S_OK, DispTryPutRefProperty(moved.Get(), L"SaveSentMessageFolder", sentMail.Get()));
    Call(moved.Get(), L"Save");
    message.Reset(MessageOf(moved.Get()));
    EXPECT_EQ(S_OK, message->SubmitMessage(FORCE_SUBMIT));
    // Submitted, the message takes no more calls.
    std::string subject;
    EXPECT_EQ(MAPI_E_INVALID_OBJECT, SubjectOf(message.Get(), &subject));
    EXPECT_EQ(MAPI_E_INVALID_OBJECT, message->SubmitMessage(FORCE_SUBMIT));
    EXPECT_NE(std::string::npos, ReadWholeFile(ItemPath(moved.Get())).find("Submitted: 1\r\n"));
    EXPECT_FALSE(FileExists(Delivered(1)));

    EXPECT_EQ(S_OK, FlushOutgoingQueue());
    DeliveredView view;
    ASSERT_TRUE(ReadDeliveredMessage(Delivered(1).c_str(), &view));
    EXPECT_EQ("ann@example.org", view.to);
    EXPECT_EQ("Offer for Ann", view.subject);
    EXPECT_TRUE(view.bHtml);
    EXPECT_EQ("<html><body>Offer for Ann</body></html>", view.bodyBytes);
    // HTML written through its stream leaves the plain body as it was, and
    // that goes out as the text/plain alternative.
    EXPECT_TRUE(view.bAlternative);
    EXPECT_EQ("Plain offer", view.plainBody);

    EXPECT_EQ(0, StandinFolderItemCount(App(), "Outbox"));
    EXPECT_EQ(1, StandinFolderItemCount(App(), "Sent Mail"));
    EXPECT_EQ(1, StandinFolderItemCount(App(), "Drafts"));
    std::string sentPath = ItemPath(moved.Get());
    EXPECT_EQ(StorePath("Sent Mail\\"), sentPath.substr(0, StorePath("Sent Mail\\").size()));
    ScopedVariant sent;
    DispGetProperty(moved.Get(), L"Sent", &sent);
    EXPECT_EQ(VARIANT_TRUE, V_BOOL(&sent.Get()));

    // Nothing is sent twice.
    EXPECT_EQ(S_OK, FlushOutgoingQueue());
    EXPECT_FALSE(FileExists(Delivered(2)));
}

TEST_F(SessionTest, ChangesNotSavedStayBehindWhenTheItemMoves)
{
    Start();
    Ref<IDispatch> original(ComposeSimple("Plain [[Name]]"));
    Ref<IDispatch> copy(Call(original.Get(), L"Copy"));
    Ref<IMessage> message(MessageOf(copy.Get()));
    EXPECT_EQ(S_OK, AddRecipient(message.Get(), "ann@example.org"));
    EXPECT_EQ(S_OK, SetUseTnef(message.Get()));
    // Seen at once through the same object and its item, not yet stored.
    EXPECT_EQ(L"ann@example.org", GetText(copy.Get(), L"To"));
    EXPECT_EQ(std::string::npos, ReadWholeFile(ItemPath(copy.Get())).find("Recipient 1"));

    Ref<IDispatch> moved(MoveToOutbox(copy.Get()));
    ASSERT_TRUE(moved);
    EXPECT_EQ(L"", GetText(moved.Get(), L"To"));
    EXPECT_COM_ERROR(GetText(copy.Get(), L"Subject"), MAPI_E_OBJECT_DELETED);
    EXPECT_EQ(MAPI_E_OBJECT_DELETED, AddRecipient(message.Get(), "ann@example.org"));

    // The moved message goes without its recipient and is refused, and stays
    // open to be mended.
    Ref<IMessage> movedMessage(MessageOf(moved.Get()));
    HRESULT hr = movedMessage->SubmitMessage(FORCE_SUBMIT);
    EXPECT_EQ(MAPI_E_NO_RECIPIENTS, hr);
    EXPECT_EQ("The message has no recipients.", LastErrorText(movedMessage.Get(), hr));
    EXPECT_EQ(S_OK, AddRecipient(movedMessage.Get(), "ann@example.org"));
    EXPECT_EQ(S_OK, movedMessage->SubmitMessage(FORCE_SUBMIT));
    EXPECT_NE(std::string::npos, ReadWholeFile(ItemPath(moved.Get())).find("Recipient 1"));
}

TEST_F(SessionTest, ACopyKeepsTheOriginalsRecipientsAndItsFileNamesThemAll)
{
    Start();
    StandinComposedMail mail = {};
    mail.pszSubject = "Hello";
    mail.pszBody = "Body";
    mail.nBodyFormat = 1;
    mail.pszTo = "boss@example.com";
    mail.pszCc = " cc1@example.com ;cc2@example.com";
    mail.pszBcc = "hidden@example.com";
    Ref<IDispatch> original(Compose(mail));
    Ref<IDispatch> copy(Call(original.Get(), L"Copy"));
    const struct {
        LPCOLESTR pszMember;
        const wchar_t* pszNames;
    } kKinds[] = { { L"To", L"boss@example.com" }, { L"CC", L"cc1@example.com; cc2@example.com" },
                   { L"BCC", L"hidden@example.com" } };
    for (const auto& kind : kKinds) {
        ScopedVariant names;
        DispGetProperty(copy.Get(), kind.pszMember, &names);
        ASSERT_EQ(VT_BSTR, V_VT(&names.Get()));
        EXPECT_STREQ(kind.pszNames, V_BSTR(&names.Get())) << kind.pszNames;
    }

    // Added to, the copy goes to everyone: one file names them all.
    EXPECT_EQ(S_OK, SendCopy(original.Get(), L"For Bob", "bob@example.org"));
    EXPECT_EQ(S_OK, FlushOutgoingQueue());
    DeliveredView view;
    ASSERT_TRUE(ReadDeliveredMessage(Delivered(1).c_str(), &view));
    EXPECT_EQ("boss@example.com, bob@example.org", view.to);
    EXPECT_EQ("cc1@example.com, cc2@example.com", view.cc);
    // Bcc as a transport delivers it: in no header, in the envelope only,
    // after To and Cc.
    EXPECT_EQ("", view.bcc);
    for (const std::string& name : view.headerNames)
        EXPECT_NE("Bcc", name);
    ASSERT_TRUE(view.bHasEnvelope);
    EXPECT_EQ("user@standin.example", view.envelopeFrom);
    EXPECT_EQ((std::vector<std::string>{ "boss@example.com", "bob@example.org", "cc1@example.com", "cc2@example.com",
                                         "hidden@example.com" }),
              view.envelopeTo);
    EXPECT_FALSE(FileExists(Delivered(2)));
}

TEST_F(SessionTest, AttachmentsAreKeptByCopyAndMoveAndDeliveredByteForByte)
{
    Start();
    std::string binary;
    for (int i = 0; i < 700; ++i)
        binary += (char)(i * 7 % 256);
    const std::string text = "Invoice 17\r\n";
    const std::string binaryPath = StorePath("scan 1.bin");
    const std::string textPath = StorePath("invoice.txt");
    FILE* pFile = fopen(binaryPath.c_str(), "wb");
    ASSERT_TRUE(pFile);
    fwrite(binary.data(), 1, binary.size(), pFile);
    fclose(pFile);
    pFile = fopen(textPath.c_str(), "wb");
    ASSERT_TRUE(pFile);
    fwrite(text.data(), 1, text.size(), pFile);
    fclose(pFile);

    Ref<IDispatch> original(ComposeSimple("Files"));
    Ref<IDispatch> attachments(GetObjectProp(original.Get(), L"Attachments"));
    ASSERT_TRUE(attachments);
    EXPECT_EQ(0, GetLong(attachments.Get(), L"Count"));
    ScopedVariant path;
    V_VT(&path.Get()) = VT_BSTR;
    V_BSTR(&path.Get()) = SysAllocString(std::wstring(binaryPath.begin(), binaryPath.end()).c_str());
    Ref<IDispatch> first(Call(attachments.Get(), L"Add", &path.Get(), 1));
    ASSERT_TRUE(first);
    EXPECT_EQ(L"scan 1.bin", GetText(first.Get(), L"FileName"));
    EXPECT_EQ(700, GetLong(first.Get(), L"Size"));
    ScopedVariant second;
    V_VT(&second.Get()) = VT_BSTR;
    V_BSTR(&second.Get()) = SysAllocString(std::wstring(textPath.begin(), textPath.end()).c_str());
    Ref<IDispatch>(Call(attachments.Get(), L"Add", &second.Get(), 1));
    // A file that is not there is refused and adds nothing.
    ScopedVariant missing;
    V_VT(&missing.Get()) = VT_BSTR;
    V_BSTR(&missing.Get()) = SysAllocString(L"C:\\no such folder\\none.pdf");
    EXPECT_COM_ERROR(Call(attachments.Get(), L"Add", &missing.Get(), 1), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    // The fault plan reaches Add too.
    ASSERT_TRUE(SetFaultPlan("Attachments.Add=raise:0x80070020@1"));
    EXPECT_COM_ERROR(Call(attachments.Get(), L"Add", &second.Get(), 1), HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION));
    ASSERT_TRUE(SetFaultPlan(""));
    EXPECT_EQ(2, GetLong(attachments.Get(), L"Count"));
    Ref<IDispatch> item(CallLong(attachments.Get(), L"Item", 2));
    EXPECT_EQ(L"invoice.txt", GetText(item.Get(), L"FileName"));
    Call(original.Get(), L"Save");
    EXPECT_NE(std::string::npos, ReadWholeFile(ItemPath(original.Get())).find("Attachment: scan 1.bin (700 bytes)"));

    // The file gone, the item keeps its bytes; the copy, the moved item and
    // the delivered message carry them.
    DeleteFileA(binaryPath.c_str());
    EXPECT_EQ(S_OK, SendCopy(original.Get(), L"Files for Ann", "ann@example.org"));
    EXPECT_EQ(S_OK, SendCopy(original.Get(), L"Files for Bob", "bob@example.org"));
    EXPECT_EQ(S_OK, FlushOutgoingQueue());
    for (int nNumber = 1; nNumber <= 2; ++nNumber) {
        DeliveredView view;
        ASSERT_TRUE(ReadDeliveredMessage(Delivered(nNumber).c_str(), &view));
        EXPECT_EQ("text/plain", view.contentType);
        ASSERT_EQ(2u, view.attachments.size());
        EXPECT_EQ("scan 1.bin", view.attachments[0].name);
        EXPECT_EQ(binary, view.attachments[0].bytes);
        EXPECT_EQ("invoice.txt", view.attachments[1].name);
        EXPECT_EQ(text, view.attachments[1].bytes);
    }
}

TEST_F(SessionTest, FlushDeliversInSubmissionOrderAndFilesItemsWithoutSentFolderInSentMail)
{
    Start();
    Ref<IDispatch> original(ComposeSimple("Plain [[Name]]"));
    EXPECT_EQ(S_OK, SendCopy(original.Get(), L"For Bob", "bob@example.org"));
    EXPECT_EQ(S_OK, SendCopy(original.Get(), L"For Ann", "ann@example.org"));

    // A third one, submitted from the Outbox without a folder for its sent
    // copy: it is filed in the Sent Mail of its account's delivery store,
    // here the default store's.
    Ref<IDispatch> copy(Call(original.Get(), L"Copy"));
    Ref<IDispatch> moved(MoveToOutbox(copy.Get()));
    Ref<IMessage> message(MessageOf(moved.Get()));
    EXPECT_EQ(S_OK, AddRecipient(message.Get(), "cy@example.org"));
    EXPECT_EQ(S_OK, message->SubmitMessage(FORCE_SUBMIT));
    std::string unfiledPath = ItemPath(moved.Get());

    EXPECT_EQ(3, StandinFolderItemCount(App(), "Outbox"));
    EXPECT_EQ(S_OK, FlushOutgoingQueue());
    DeliveredView first, second, third;
    ASSERT_TRUE(ReadDeliveredMessage(Delivered(1).c_str(), &first));
    ASSERT_TRUE(ReadDeliveredMessage(Delivered(2).c_str(), &second));
    ASSERT_TRUE(ReadDeliveredMessage(Delivered(3).c_str(), &third));
    EXPECT_EQ("bob@example.org", first.to);
    EXPECT_EQ("For Bob", first.subject);
    EXPECT_FALSE(first.bHtml);
    EXPECT_EQ("ann@example.org", second.to);
    EXPECT_EQ("cy@example.org", third.to);
    EXPECT_EQ(0, StandinFolderItemCount(App(), "Outbox"));
    EXPECT_EQ(3, StandinFolderItemCount(App(), "Sent Mail"));
    EXPECT_FALSE(FileExists(unfiledPath));
    std::string filedPath = ItemPath(moved.Get());
    EXPECT_NE(std::string::npos, filedPath.find("\\Sent Mail\\")) << filedPath;
}

// A server that stops accepting after two messages of the process: the flush
// that reaches the limit delivers up to it, and it and every later one leave
// the rest queued in the Outbox and succeed, Send/Receive as well.
TEST_F(SessionTest, AHoldingServerDeliversTheFirstMessagesAndLeavesTheRestQueued)
{
    m_options.bOutboxHolds = true;
    m_options.nOutboxHoldsAfter = 2;
    Start();
    {
        Ref<IDispatch> original(ComposeSimple("Plain [[Name]]"));
        Ref<IDispatch> outbox(DefaultFolder(4));
        Ref<IDispatch> outboxItems(GetObjectProp(outbox.Get(), L"Items"));
        EXPECT_EQ(S_OK, SendCopy(original.Get(), L"For Ann", "ann@example.org"));
        EXPECT_EQ(S_OK, FlushOutgoingQueue());
        EXPECT_TRUE(FileExists(Delivered(1)));
        EXPECT_EQ(0, GetLong(outboxItems.Get(), L"Count"));

        EXPECT_EQ(S_OK, SendCopy(original.Get(), L"For Bob", "bob@example.org"));
        EXPECT_EQ(S_OK, SendCopy(original.Get(), L"For Cy", "cy@example.org"));
        EXPECT_EQ(S_OK, FlushOutgoingQueue());
        DeliveredView second;
        ASSERT_TRUE(ReadDeliveredMessage(Delivered(2).c_str(), &second));
        EXPECT_EQ("bob@example.org", second.to);
        EXPECT_FALSE(FileExists(Delivered(3)));
        EXPECT_EQ(1, GetLong(outboxItems.Get(), L"Count"));
        EXPECT_EQ(2, StandinFolderItemCount(App(), "Sent Mail"));

        EXPECT_EQ(S_OK, SendCopy(original.Get(), L"For Dee", "dee@example.org"));
        EXPECT_EQ(S_OK, FlushOutgoingQueue());
        EXPECT_EQ(S_OK, FlushOutgoingQueue());
        Ref<IDispatch> control(SendReceiveControl());
        ASSERT_TRUE(control);
        Call(control.Get(), L"Execute");
        EXPECT_FALSE(FileExists(Delivered(3)));
        EXPECT_EQ(2, GetLong(outboxItems.Get(), L"Count"));
        EXPECT_EQ(2, StandinFolderItemCount(App(), "Sent Mail"));
    }

    // Holding from the start, nothing goes at all.
    m_options.nOutboxHoldsAfter = 0;
    Start();
    Ref<IDispatch> next(ComposeSimple("Plain [[Name]]"));
    EXPECT_EQ(S_OK, SendCopy(next.Get(), L"For Eve", "eve@example.org"));
    EXPECT_EQ(S_OK, FlushOutgoingQueue());
    EXPECT_FALSE(FileExists(Delivered(3)));
    EXPECT_EQ(1, StandinFolderItemCount(App(), "Outbox"));
}

TEST_F(SessionTest, SendReceiveAlsoSendsTheOutbox)
{
    Start();
    Ref<IDispatch> original(ComposeSimple("Plain"));
    EXPECT_EQ(S_OK, SendCopy(original.Get(), L"Queued", "dee@example.org"));
    Ref<IDispatch> control(SendReceiveControl());
    ASSERT_TRUE(control);
    Call(control.Get(), L"Execute");
    EXPECT_EQ(1, StandinSendReceiveRuns(App()));
    EXPECT_TRUE(FileExists(Delivered(1)));
    EXPECT_EQ(1, StandinFolderItemCount(App(), "Sent Mail"));
}

// A recipient's copy goes the engine's way: its item file is written once
// for each Copy, Save, SaveChanges and SubmitMessage that has something to
// keep, and once where the sent item is filed; it moves with the item.
TEST_F(SessionTest, EachSaveThatKeepsSomethingWritesTheItemOnce)
{
    Start();
    Ref<IDispatch> original(ComposeHtmlOriginal());
    const int nBefore = StandinItemFileWrites(App());
    Ref<IDispatch> copy(Call(original.Get(), L"Copy"));
    EXPECT_EQ(nBefore + 1, StandinItemFileWrites(App()));
    Call(copy.Get(), L"Save");
    EXPECT_EQ(nBefore + 1, StandinItemFileWrites(App()));
    std::string draftPath = ItemPath(copy.Get());
    Ref<IMessage> message(MessageOf(copy.Get()));
    PutText(copy.Get(), L"Subject", L"Offer for Ann");
    EXPECT_EQ(std::string::npos, ReadWholeFile(draftPath).find("Subject: Offer for Ann\r\n"));
    Call(copy.Get(), L"Save");
    EXPECT_EQ(nBefore + 2, StandinItemFileWrites(App()));
    EXPECT_NE(std::string::npos, ReadWholeFile(draftPath).find("Subject: Offer for Ann\r\n"));
    EXPECT_EQ(S_OK, AddRecipient(message.Get(), "ann@example.org"));
    EXPECT_EQ(S_OK, SetUseTnef(message.Get()));
    EXPECT_EQ(nBefore + 2, StandinItemFileWrites(App()));
    EXPECT_EQ(S_OK, message->SaveChanges(KEEP_OPEN_READWRITE));
    EXPECT_EQ(nBefore + 3, StandinItemFileWrites(App()));
    EXPECT_EQ(S_OK, message->SaveChanges(KEEP_OPEN_READWRITE));
    EXPECT_EQ(nBefore + 3, StandinItemFileWrites(App()));

    std::string draft = ReadWholeFile(draftPath);
    Ref<IDispatch> moved(MoveToOutbox(copy.Get()));
    EXPECT_EQ(nBefore + 3, StandinItemFileWrites(App()));
    EXPECT_FALSE(FileExists(draftPath));
    std::string outboxPath = ItemPath(moved.Get());
    EXPECT_EQ(draft, ReadWholeFile(outboxPath));
    Ref<IDispatch> sentMail(DefaultFolder(5));
    EXPECT_EQ(S_OK, DispTryPutRefProperty(moved.Get(), L"SaveSentMessageFolder", sentMail.Get()));
    Call(moved.Get(), L"Save");
    EXPECT_EQ(nBefore + 4, StandinItemFileWrites(App()));
    message.Reset(MessageOf(moved.Get()));
    EXPECT_EQ(S_OK, message->SubmitMessage(FORCE_SUBMIT));
    EXPECT_EQ(nBefore + 5, StandinItemFileWrites(App()));
    EXPECT_NE(std::string::npos, ReadWholeFile(outboxPath).find("Submitted: 1\r\n"));

    // A queued item moved is no longer queued: its file is written anew.
    Ref<IDispatch> drafts(DefaultFolder(16));
    VARIANT folderArg;
    VariantInit(&folderArg);
    V_VT(&folderArg) = VT_DISPATCH;
    V_DISPATCH(&folderArg) = drafts.Get();
    Ref<IDispatch> back(Call(moved.Get(), L"Move", &folderArg, 1));
    EXPECT_EQ(nBefore + 6, StandinItemFileWrites(App()));
    EXPECT_FALSE(FileExists(outboxPath));
    EXPECT_EQ(std::string::npos, ReadWholeFile(ItemPath(back.Get())).find("Submitted: "));
    EXPECT_EQ(S_OK, FlushOutgoingQueue());
    EXPECT_FALSE(FileExists(Delivered(1)));

    // The next recipient's copy costs the same, and its flush one more.
    EXPECT_EQ(S_OK, SendCopy(original.Get(), L"Offer for Bo", "bo@example.org"));
    EXPECT_EQ(nBefore + 11, StandinItemFileWrites(App()));
    EXPECT_EQ(S_OK, FlushOutgoingQueue());
    EXPECT_EQ(nBefore + 12, StandinItemFileWrites(App()));
    EXPECT_TRUE(FileExists(Delivered(1)));
    EXPECT_EQ(1, StandinFolderItemCount(App(), "Sent Mail"));
    EXPECT_EQ(0, StandinFolderItemCount(App(), "Outbox"));
}

TEST_F(SessionTest, DeliveryNumbersContinueAfterAnEarlierRun)
{
    Start();
    {
        Ref<IDispatch> original(ComposeSimple("Run one"));
        EXPECT_EQ(S_OK, SendCopy(original.Get(), L"One", "one@example.org"));
        EXPECT_EQ(S_OK, FlushOutgoingQueue());
    }
    Start();
    Ref<IDispatch> original(ComposeSimple("Run two"));
    EXPECT_EQ(S_OK, SendCopy(original.Get(), L"Two", "two@example.org"));
    EXPECT_EQ(S_OK, FlushOutgoingQueue());
    DeliveredView first, second;
    ASSERT_TRUE(ReadDeliveredMessage(Delivered(1).c_str(), &first));
    ASSERT_TRUE(ReadDeliveredMessage(Delivered(2).c_str(), &second));
    EXPECT_EQ("One", first.subject);
    EXPECT_EQ("Two", second.subject);
}

}  // namespace

namespace {

// A profile with two accounts, in Outlook 2010: each copy is made as a job
// makes one, from an account, and submitted from the default Outbox.
class AccountSessionTest : public SessionTest {
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        UseTwoAccounts();
    }

    // The account's delivery store's folder of that number.
    IDispatch* StoreFolder(LONG nAccount, LONG nFolder)
    {
        Ref<IDispatch> account(Account(nAccount));
        Ref<IDispatch> store(GetObjectProp(account.Get(), L"DeliveryStore"));
        return CallLong(store.Get(), L"GetDefaultFolder", nFolder);
    }

    // A copy to pszAddress from the account (NULL: none set), its sent copy
    // for pSentFolder (NULL: none set), submitted; the moved item back.
    IDispatch* Submit(IDispatch* pOriginal, const char* pszAddress, IDispatch* pAccount, IDispatch* pSentFolder)
    {
        Ref<IDispatch> copy(Call(pOriginal, L"Copy"));
        if (pAccount) {
            EXPECT_EQ(S_OK, DispTryPutRefProperty(copy.Get(), L"SendUsingAccount", pAccount));
        }
        Call(copy.Get(), L"Save");
        Ref<IDispatch> moved(MoveToOutbox(copy.Get()));
        if (pSentFolder) {
            EXPECT_EQ(S_OK, DispTryPutRefProperty(moved.Get(), L"SaveSentMessageFolder", pSentFolder));
        }
        Call(moved.Get(), L"Save");
        Ref<IMessage> message(MessageOf(moved.Get()));
        EXPECT_EQ(S_OK, AddRecipient(message.Get(), pszAddress));
        EXPECT_EQ(S_OK, message->SubmitMessage(FORCE_SUBMIT));
        return moved.Detach();
    }
};

}  // namespace

TEST_F(AccountSessionTest, EachMessageGoesFromItsAccountAndIsFiledInItsDeliveryStore)
{
    Start();
    Ref<IDispatch> original(ComposeSimple("News"));
    Ref<IDispatch> home(Account(2));
    Ref<IDispatch> fromHome(Submit(original.Get(), "ann@example.org", home.Get(), NULL));
    Ref<IDispatch> fromDefault(Submit(original.Get(), "bob@example.org", NULL, NULL));
    EXPECT_EQ(S_OK, FlushOutgoingQueue());

    DeliveredView first, second;
    ASSERT_TRUE(ReadDeliveredMessage(Delivered(1).c_str(), &first));
    ASSERT_TRUE(ReadDeliveredMessage(Delivered(2).c_str(), &second));
    EXPECT_EQ("Stand-in User <home@example.org>", first.from);
    EXPECT_EQ("home@example.org", first.envelopeFrom);
    EXPECT_EQ(std::vector<std::string>{ "ann@example.org" }, first.envelopeTo);
    EXPECT_EQ("", first.sender);
    EXPECT_EQ("Stand-in User <work@example.com>", second.from);
    EXPECT_EQ("work@example.com", second.envelopeFrom);
    for (const DeliveredView* pView : { &first, &second }) {
        for (const std::string& name : pView->headerNames) {
            EXPECT_NE("Reply-To", name);
            EXPECT_NE("Sender", name);
        }
    }

    // Without a SaveSentMessageFolder, each sent item lies in its account's Sent Mail.
    EXPECT_EQ(1, StandinAccountFolderItemCount(App(), 1, "Sent Mail"));
    EXPECT_EQ(1, StandinAccountFolderItemCount(App(), 0, "Sent Mail"));
    EXPECT_NE(std::string::npos, ItemPath(fromHome.Get()).find("\\Accounts\\2\\Sent Mail\\"));
    EXPECT_EQ(std::string::npos, ItemPath(fromDefault.Get()).find("\\Accounts\\"));
    Ref<IDispatch> homeSent(StoreFolder(2, 5));
    Ref<IDispatch> homeItems(GetObjectProp(homeSent.Get(), L"Items"));
    EXPECT_EQ(1, GetLong(homeItems.Get(), L"Count"));
    Ref<IDispatch> parent(GetObjectProp(fromHome.Get(), L"Parent"));
    EXPECT_EQ(L"Sent Mail", GetText(parent.Get(), L"Name"));
    Ref<IDispatch> account(GetObjectProp(fromHome.Get(), L"SendUsingAccount"));
    EXPECT_EQ(L"home@example.org", GetText(account.Get(), L"SmtpAddress"));
}

TEST_F(AccountSessionTest, OnBehalfOfSomeoneFromIsThemSenderTheAccountAndRepliesGoWhereAsked)
{
    Start();
    Ref<IDispatch> original(ComposeSimple("News"));
    PutText(original.Get(), L"SentOnBehalfOfName", L"boss@example.com");
    Ref<IDispatch> recipients(GetObjectProp(original.Get(), L"ReplyRecipients"));
    for (const wchar_t* pszName : { L"replies@example.com", L"Help Desk <desk@example.com>" }) {
        ScopedVariant name;
        V_VT(&name.Get()) = VT_BSTR;
        V_BSTR(&name.Get()) = SysAllocString(pszName);
        Ref<IDispatch> recipient(Call(recipients.Get(), L"Add", &name.Get(), 1));
    }
    Ref<IDispatch> home(Account(2));
    Ref<IDispatch> sent(Submit(original.Get(), "ann@example.org", home.Get(), NULL));
    // Not an address: From is the name as it stands.
    PutText(original.Get(), L"SentOnBehalfOfName", L"The Board");
    Ref<IDispatch> second(Submit(original.Get(), "bob@example.org", NULL, NULL));
    EXPECT_EQ(S_OK, FlushOutgoingQueue());

    DeliveredView view, board;
    ASSERT_TRUE(ReadDeliveredMessage(Delivered(1).c_str(), &view));
    ASSERT_TRUE(ReadDeliveredMessage(Delivered(2).c_str(), &board));
    EXPECT_EQ("boss@example.com", view.from);
    EXPECT_EQ("Stand-in User <home@example.org>", view.sender);
    EXPECT_EQ("home@example.org", view.envelopeFrom);
    EXPECT_EQ("replies@example.com, Help Desk <desk@example.com>", view.replyTo);
    EXPECT_EQ("The Board", board.from);
    EXPECT_EQ("Stand-in User <work@example.com>", board.sender);
    EXPECT_EQ("work@example.com", board.envelopeFrom);
}

TEST_F(AccountSessionTest, TheSentCopyMayGoToAFolderOfAnotherStore)
{
    Start();
    Ref<IDispatch> original(ComposeSimple("News"));
    Ref<IDispatch> homeSent(StoreFolder(2, 5));
    Ref<IDispatch> sent(Submit(original.Get(), "ann@example.org", NULL, homeSent.Get()));
    Ref<IDispatch> folder(GetObjectProp(sent.Get(), L"SaveSentMessageFolder"));
    EXPECT_EQ(L"Sent Mail", GetText(folder.Get(), L"Name"));
    EXPECT_NE(std::string::npos, ReadWholeFile(ItemPath(sent.Get())).find("\r\nSaveSentMessageFolder: Accounts\\2\\Sent Mail\r\n"));
    // The Outbox stays the default store's: the spooler sends from there.
    EXPECT_EQ(1, StandinFolderItemCount(App(), "Outbox"));
    EXPECT_EQ(S_OK, FlushOutgoingQueue());
    DeliveredView view;
    ASSERT_TRUE(ReadDeliveredMessage(Delivered(1).c_str(), &view));
    EXPECT_EQ("Stand-in User <work@example.com>", view.from);
    EXPECT_EQ(1, StandinAccountFolderItemCount(App(), 1, "Sent Mail"));
    EXPECT_EQ(0, StandinFolderItemCount(App(), "Sent Mail"));
    EXPECT_EQ(0, StandinFolderItemCount(App(), "Outbox"));
    EXPECT_NE(std::string::npos, ItemPath(sent.Get()).find("\\Accounts\\2\\Sent Mail\\"));
}

TEST_F(AccountSessionTest, WithoutAccountsTheMessageGoesFromTheProfilesUser)
{
    m_options.pszAccounts = "";
    Start();
    Ref<IDispatch> original(ComposeSimple("News"));
    Ref<IDispatch> sent(Submit(original.Get(), "ann@example.org", NULL, NULL));
    EXPECT_EQ(S_OK, FlushOutgoingQueue());
    DeliveredView view;
    ASSERT_TRUE(ReadDeliveredMessage(Delivered(1).c_str(), &view));
    EXPECT_EQ("Stand-in User <user@standin.example>", view.from);
    EXPECT_EQ("user@standin.example", view.envelopeFrom);
    EXPECT_EQ(1, StandinFolderItemCount(App(), "Sent Mail"));
}
