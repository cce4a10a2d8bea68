// IMessage over an item: properties that are there and properties that are
// not, property streams, named properties, recipients and submission.
#include <functional>

#include "tests/standin/outlook/outlook_fixture.h"

namespace {

class MessageTest : public OutlookTest {
protected:
    ULONG PropLong(IMessage* pMessage, ULONG ulTag, HRESULT* phr)
    {
        SizedSPropTagArray(1, tags) = { 1, { ulTag } };
        ULONG cValues = 0;
        SPropValue* pValues = NULL;
        *phr = pMessage->GetProps((LPSPropTagArray)&tags, 0, &cValues, &pValues);
        ULONG ulValue = 0;
        if (pValues && cValues == 1)
            ulValue = PROP_TYPE(pValues[0].ulPropTag) == PT_ERROR ? (ULONG)pValues[0].Value.err : pValues[0].Value.ul;
        if (pValues && PROP_TYPE(pValues[0].ulPropTag) == PT_ERROR)
            *phr = MAPI_W_ERRORS_RETURNED;
        m_mapi.pfnFreeBuffer(pValues);
        return ulValue;
    }

    ULONG TnefTag(IMessage* pMessage, ULONG ulFlags, HRESULT* phr)
    {
        MAPINAMEID name;
        name.lpguid = const_cast<GUID*>(&kPsetidCommon);
        name.ulKind = MNID_ID;
        name.Kind.lID = kPidLidUseTnef;
        MAPINAMEID* pName = &name;
        SPropTagArray* pTags = NULL;
        *phr = pMessage->GetIDsFromNames(1, &pName, ulFlags, &pTags);
        ULONG ulTag = pTags ? pTags->aulPropTag[0] : 0;
        m_mapi.pfnFreeBuffer(pTags);
        return ulTag;
    }
};

TEST_F(MessageTest, MissingPropertiesAreAbsentAsMapiSaysSo)
{
    Start();
    StandinComposedMail mail;
    memset(&mail, 0, sizeof(mail));
    mail.nBodyFormat = 3;
    Ref<IDispatch> item(Compose(mail));
    Ref<IMessage> message(MessageOf(item.Get()));

    SizedSPropTagArray(1, tags) = { 1, { PR_SUBJECT_A } };
    ULONG cValues = 0;
    SPropValue* pValues = NULL;
    EXPECT_EQ(MAPI_W_ERRORS_RETURNED, message->GetProps((LPSPropTagArray)&tags, 0, &cValues, &pValues));
    ASSERT_TRUE(pValues != NULL);
    EXPECT_EQ(1u, cValues);
    EXPECT_EQ(PROP_TAG(PT_ERROR, 0x0037), pValues[0].ulPropTag);
    EXPECT_EQ(MAPI_E_NOT_FOUND, pValues[0].Value.err);
    m_mapi.pfnFreeBuffer(pValues);

    std::string bytes;
    EXPECT_EQ(MAPI_E_NOT_FOUND, ReadStream(message.Get(), PR_BODY_A, &bytes));
    EXPECT_EQ(MAPI_E_NOT_FOUND, ReadStream(message.Get(), PR_BODY_W, &bytes));
    EXPECT_EQ(MAPI_E_NOT_FOUND, ReadStream(message.Get(), PR_HTML, &bytes));
    EXPECT_EQ(L"", GetText(item.Get(), L"Subject"));
    EXPECT_EQ(3, GetLong(item.Get(), L"BodyFormat"));
}

TEST_F(MessageTest, UnicodeBodyAloneHasNoNarrowBody)
{
    Start();
    StandinComposedMail mail;
    memset(&mail, 0, sizeof(mail));
    mail.pszSubject = "";
    mail.pszBodyW = L"Gr\u00fc\u00dfe \u65e5\u672c";
    mail.nBodyFormat = 1;
    Ref<IDispatch> item(Compose(mail));
    Ref<IMessage> message(MessageOf(item.Get()));

    std::string bytes;
    EXPECT_EQ(MAPI_E_NOT_FOUND, ReadStream(message.Get(), PR_BODY_A, &bytes));
    EXPECT_EQ(S_OK, ReadStream(message.Get(), PR_BODY_W, &bytes));
    EXPECT_EQ(std::string((const char*)mail.pszBodyW, wcslen(mail.pszBodyW) * sizeof(wchar_t)), bytes);

    // An empty subject is a subject.
    std::string subject = "x";
    EXPECT_EQ(S_OK, SubjectOf(message.Get(), &subject));
    EXPECT_EQ("", subject);
}

TEST_F(MessageTest, StreamsGiveTheStoredBytesToCopyToAndStat)
{
    Start();
    StandinComposedMail mail;
    memset(&mail, 0, sizeof(mail));
    mail.pszSubject = "S";
    mail.pszBody = "Body \xe9";
    mail.pszHtml = "<p>\xe9t\xe9</p>";
    mail.nBodyFormat = 2;
    Ref<IDispatch> item(Compose(mail));
    Ref<IMessage> message(MessageOf(item.Get()));

    Ref<IUnknown> unknown;
    ASSERT_EQ(S_OK, message->OpenProperty(PR_HTML, &IID_IStream, 0, 0, unknown.Receive()));
    Ref<IStream> stream;
    ASSERT_EQ(S_OK, unknown->QueryInterface(IID_IStream, (void**)stream.Receive()));
    STATSTG stat;
    ASSERT_EQ(S_OK, stream->Stat(&stat, STATFLAG_NONAME));
    EXPECT_EQ(strlen(mail.pszHtml), stat.cbSize.QuadPart);

    Ref<IStream> target;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(NULL, TRUE, target.Receive()));
    ULARGE_INTEGER cbLimit, cbRead, cbWritten;
    cbLimit.QuadPart = 0x7FFFFFFFFFFFFFFFull;
    EXPECT_EQ(S_OK, stream->CopyTo(target.Get(), cbLimit, &cbRead, &cbWritten));
    EXPECT_EQ(strlen(mail.pszHtml), cbRead.QuadPart);
    EXPECT_EQ(strlen(mail.pszHtml), cbWritten.QuadPart);
    // A read stream takes no writes.
    ULONG cb = 0;
    EXPECT_EQ(STG_E_ACCESSDENIED, stream->Write("x", 1, &cb));

    std::string bytes;
    EXPECT_EQ(S_OK, ReadStream(message.Get(), PR_BODY_A, &bytes));
    EXPECT_EQ("Body \xe9", bytes);
    EXPECT_EQ(MAPI_E_INTERFACE_NOT_SUPPORTED,
              message->OpenProperty(PR_HTML, &IID_IMAPITable, 0, 0, unknown.Receive()));
}

TEST_F(MessageTest, WrittenBytesCountOnlyOnceCommitted)
{
    Start();
    Ref<IDispatch> item(ComposeSimple());
    Ref<IMessage> message(MessageOf(item.Get()));
    std::string bytes;
    EXPECT_EQ(MAPI_E_NOT_FOUND, ReadStream(message.Get(), PR_HTML, &bytes));

    Ref<IUnknown> unknown;
    ASSERT_EQ(S_OK, message->OpenProperty(PR_HTML, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY, unknown.Receive()));
    Ref<IStream> stream;
    unknown->QueryInterface(IID_IStream, (void**)stream.Receive());
    unknown.Reset();
    ULONG cb = 0;
    EXPECT_EQ(S_OK, stream->Write("<i>one</i>", 10, &cb));
    EXPECT_EQ(10u, cb);
    EXPECT_EQ(MAPI_E_NOT_FOUND, ReadStream(message.Get(), PR_HTML, &bytes));
    EXPECT_EQ(S_OK, stream->Commit(STGC_DEFAULT));
    EXPECT_EQ(S_OK, ReadStream(message.Get(), PR_HTML, &bytes));
    EXPECT_EQ("<i>one</i>", bytes);

    // Written after the last commit and let go: lost.
    EXPECT_EQ(S_OK, stream->Write("<i>two</i>", 10, &cb));
    stream.Reset();
    EXPECT_EQ(S_OK, ReadStream(message.Get(), PR_HTML, &bytes));
    EXPECT_EQ("<i>one</i>", bytes);
    // Committed to the message, not yet to the store.
    EXPECT_EQ(std::string::npos, ReadWholeFile(ItemPath(item.Get())).find("HTML: "));
    EXPECT_EQ(S_OK, message->SaveChanges(KEEP_OPEN_READWRITE));
    EXPECT_NE(std::string::npos, ReadWholeFile(ItemPath(item.Get())).find("HTML: "));
}

// The item file keeps each body once; read back, every body is what the
// message shows, however it was set and whichever texts were made from it.
TEST_F(MessageTest, ItemFileReadsBackEveryBodyExactly)
{
    Start();
    const std::wstring htmlText = L"<html><head><meta charset=\"utf-8\"></head><body><p>Caf\u00e9 \U0001F600 "
                                  L"&amp; &eacute;</p>\r\nHTML: 3 bytes\r\n</body></html>";
    auto composeHtml = [&]() {
        StandinComposedMail mail;
        memset(&mail, 0, sizeof(mail));
        mail.pszSubject = "S";
        mail.pszBody = "Plain \xe9\r\nBody.W: 2 bytes\r\n";
        mail.pszHtml = "<html><body>HTML \xe9</body></html>";
        mail.pszHtmlBody = L"<html><body>HTML \u00e9</body></html>";
        mail.nBodyFormat = 2;
        return Compose(mail);
    };
    auto setNarrowBody = [&](IMessage* pMessage, const char* pszBytes) {
        SPropValue value;
        memset(&value, 0, sizeof(value));
        value.ulPropTag = PR_BODY_A;
        value.Value.lpszA = const_cast<char*>(pszBytes);
        EXPECT_EQ(S_OK, pMessage->SetProps(1, &value, NULL));
    };
    struct Case {
        const char* pszName;
        std::function<IDispatch*()> make;
    };
    const Case cases[] = {
        { "composed with both bodies in both forms", composeHtml },
        { "composed with an ANSI body alone", [&]() { return ComposeSimple(); } },
        { "HTMLBody put over stored HTML",
          [&]() {
              IDispatch* pItem = composeHtml();
              PutText(pItem, L"HTMLBody", htmlText.c_str());
              return pItem;
          } },
        { "HTMLBody put where no HTML is stored",
          [&]() {
              IDispatch* pItem = ComposeSimple();
              PutText(pItem, L"HTMLBody", htmlText.c_str());
              return pItem;
          } },
        { "Body put after HTMLBody",
          [&]() {
              IDispatch* pItem = composeHtml();
              PutText(pItem, L"HTMLBody", htmlText.c_str());
              PutText(pItem, L"Body", L"Only \u20ac\r\nHTMLBody: 9 bytes");
              return pItem;
          } },
        { "PR_HTML written after HTMLBody: the body it made stays",
          [&]() {
              IDispatch* pItem = ComposeSimple();
              PutText(pItem, L"HTMLBody", htmlText.c_str());
              Ref<IMessage> message(MessageOf(pItem));
              EXPECT_EQ(S_OK, WriteStream(message.Get(), PR_HTML, std::string("<p>\0\xff bytes</p>\0", 16)));
              return pItem;
          } },
        { "PR_BODY_A set, PR_BODY_W read from it",
          [&]() {
              IDispatch* pItem = composeHtml();
              Ref<IMessage> message(MessageOf(pItem));
              setNarrowBody(message.Get(), "\x80 line\r\nBody.A: 99 bytes\r\n\xff");
              return pItem;
          } },
        { "PR_BODY_W streamed, with lines that look like fields",
          [&]() {
              IDispatch* pItem = ComposeSimple();
              Ref<IMessage> message(MessageOf(pItem));
              std::wstring text = L"a\r\nHTML: 3 bytes\r\nxyz\r\n\u20ac\U0001F600";
              EXPECT_EQ(S_OK, WriteStream(message.Get(), PR_BODY_W,
                                          std::string((const char*)text.data(), text.size() * sizeof(wchar_t))));
              return pItem;
          } },
        { "plain after HTML",
          [&]() {
              IDispatch* pItem = composeHtml();
              PutText(pItem, L"HTMLBody", htmlText.c_str());
              VARIANT plain;
              VariantInit(&plain);
              V_VT(&plain) = VT_I4;
              V_I4(&plain) = 1;
              EXPECT_EQ(S_OK, DispTryPutProperty(pItem, L"BodyFormat", plain));
              return pItem;
          } },
    };
    for (const Case& c : cases) {
        Ref<IDispatch> item(c.make());
        Call(item.Get(), L"Save");
        Ref<IMessage> message(MessageOf(item.Get()));
        StandinItemBodies bodies;
        ASSERT_TRUE(StandinReadItemBodies(ItemPath(item.Get()).c_str(), &bodies)) << c.pszName;
        std::string bodyW, bodyA, html;
        EXPECT_EQ(bodies.bHasBodyW ? S_OK : MAPI_E_NOT_FOUND, ReadStream(message.Get(), PR_BODY_W, &bodyW)) << c.pszName;
        EXPECT_EQ(bodyW, std::string((const char*)bodies.bodyW.data(), bodies.bodyW.size() * sizeof(wchar_t)))
            << c.pszName;
        EXPECT_EQ(bodies.bHasBodyA ? S_OK : MAPI_E_NOT_FOUND, ReadStream(message.Get(), PR_BODY_A, &bodyA)) << c.pszName;
        EXPECT_EQ(bodyA, bodies.bodyA) << c.pszName;
        EXPECT_EQ(bodies.bHasHtml ? S_OK : MAPI_E_NOT_FOUND, ReadStream(message.Get(), PR_HTML, &html)) << c.pszName;
        EXPECT_EQ(html, bodies.html) << c.pszName;
        if (bodies.bHasHtmlBody) {
            EXPECT_EQ(GetText(item.Get(), L"HTMLBody"), bodies.htmlBody) << c.pszName;
        }
        // Each body once: no text is in the file twice.
        std::string file = ReadWholeFile(ItemPath(item.Get()));
        if (bodies.bodyW.size() > 8) {
            std::string wide((const char*)bodies.bodyW.data(), bodies.bodyW.size() * sizeof(wchar_t));
            size_t nFirst = file.find(wide);
            if (nFirst != std::string::npos) {
                EXPECT_EQ(std::string::npos, file.find(wide, nFirst + 1)) << c.pszName;
            }
        }
    }
    // One that has been set through HTMLBody keeps the page once, as text.
    Ref<IDispatch> item(cases[2].make());
    Call(item.Get(), L"Save");
    std::string file = ReadWholeFile(ItemPath(item.Get()));
    EXPECT_NE(std::string::npos, file.find("\r\nHTML: HTMLBody in code page 65001\r\n")) << file;
    EXPECT_NE(std::string::npos, file.find("\r\nBody.W: the text of HTMLBody\r\n")) << file;
    EXPECT_NE(std::string::npos, file.find("\r\nBody.A: Body.W in the ANSI code page\r\n")) << file;
    EXPECT_EQ(std::string::npos, file.find("<html>")) << file;
}

// A save or a submission whose file cannot be written changes nothing: the
// file stays as it was, the changes stay pending, and a later save keeps them.
TEST_F(MessageTest, AFailedWriteLeavesTheFileAndThePendingChanges)
{
    Start();
    Ref<IDispatch> item(ComposeSimple());
    Ref<IMessage> message(MessageOf(item.Get()));
    std::string path = ItemPath(item.Get());
    const std::string stored = ReadWholeFile(path);
    SPropValue value;
    memset(&value, 0, sizeof(value));
    value.ulPropTag = PR_MSG_EDITOR_FORMAT;
    value.Value.l = 1;
    EXPECT_EQ(S_OK, message->SetProps(1, &value, NULL));
    HANDLE hLock = CreateFileA(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, hLock);
    EXPECT_TRUE(FAILED(message->SaveChanges(KEEP_OPEN_READWRITE)));
    HRESULT hr = S_OK;
    EXPECT_EQ(1u, PropLong(message.Get(), PR_MSG_EDITOR_FORMAT, &hr));
    EXPECT_EQ(S_OK, AddRecipient(message.Get(), "ann@example.org"));
    EXPECT_TRUE(FAILED(message->SubmitMessage(FORCE_SUBMIT)));
    CloseHandle(hLock);
    EXPECT_EQ(stored, ReadWholeFile(path));
    EXPECT_EQ(1u, PropLong(message.Get(), PR_MSG_EDITOR_FORMAT, &hr));

    EXPECT_EQ(S_OK, message->SubmitMessage(FORCE_SUBMIT));
    std::string file = ReadWholeFile(path);
    EXPECT_NE(std::string::npos, file.find("Property: 59090003 1\r\n")) << file;
    EXPECT_NE(std::string::npos, file.find("\r\nSubmitted: ")) << file;
    EXPECT_NE(std::string::npos, file.find("\r\nRecipient 1: ")) << file;
}

TEST_F(MessageTest, ChangesAreKeptBySaveChangesAndTheItemsSaveOnly)
{
    Start();
    Ref<IDispatch> item(ComposeSimple());
    Ref<IMessage> message(MessageOf(item.Get()));
    std::string path = ItemPath(item.Get());
    SPropValue value;
    memset(&value, 0, sizeof(value));
    value.ulPropTag = PR_MSG_EDITOR_FORMAT;
    value.Value.l = 1;
    EXPECT_EQ(S_OK, message->SetProps(1, &value, NULL));
    HRESULT hr = S_OK;
    EXPECT_EQ(1u, PropLong(message.Get(), PR_MSG_EDITOR_FORMAT, &hr));
    EXPECT_EQ(std::string::npos, ReadWholeFile(path).find("Property: 59090003"));

    // The item's MAPIOBJECT is one message: its Save keeps the changes.
    Ref<IMessage> again(MessageOf(item.Get()));
    EXPECT_EQ(message.Get(), again.Get());
    Call(item.Get(), L"Save");
    EXPECT_NE(std::string::npos, ReadWholeFile(path).find("Property: 59090003 1\r\n"));

    // Kept open for reading only, it takes no more changes.
    EXPECT_EQ(S_OK, message->SaveChanges(KEEP_OPEN_READONLY));
    EXPECT_EQ(1u, PropLong(message.Get(), PR_MSG_EDITOR_FORMAT, &hr));
    EXPECT_EQ(MAPI_E_NO_ACCESS, message->SetProps(1, &value, NULL));
    // Saved without a flag to keep it open, it is closed.
    EXPECT_EQ(S_OK, message->SaveChanges(0));
    EXPECT_EQ(MAPI_E_INVALID_OBJECT, message->SaveChanges(KEEP_OPEN_READWRITE));

    // Changes of an item closed without saving are dropped.
    Ref<IDispatch> other(ComposeSimple("Other"));
    Ref<IMessage> otherMessage(MessageOf(other.Get()));
    EXPECT_EQ(S_OK, otherMessage->SetProps(1, &value, NULL));
    CallLong(other.Get(), L"Close", 1);
    PropLong(otherMessage.Get(), PR_MSG_EDITOR_FORMAT, &hr);
    EXPECT_EQ(MAPI_W_ERRORS_RETURNED, hr);
    CallLong(other.Get(), L"Close", 0);
    EXPECT_EQ(std::string::npos, ReadWholeFile(ItemPath(other.Get())).find("Property: 59090003"));

    // Its inspector's Close with olSave keeps them.
    Ref<IDispatch> inspector;
    Ref<IDispatch> third(ComposeSimple("Third", inspector.Receive()));
    Ref<IMessage> thirdMessage(MessageOf(third.Get()));
    EXPECT_EQ(S_OK, thirdMessage->SetProps(1, &value, NULL));
    CallLong(inspector.Get(), L"Close", 0);
    EXPECT_NE(std::string::npos, ReadWholeFile(ItemPath(third.Get())).find("Property: 59090003 1\r\n"));
}

TEST_F(MessageTest, StoreSupportMaskTellsWhetherHtmlIsKept)
{
    Start();
    HRESULT hr = S_OK;
    {
        Ref<IDispatch> item(ComposeSimple());
        Ref<IMessage> message(MessageOf(item.Get()));
        EXPECT_EQ(STORE_HTML_OK, PropLong(message.Get(), PR_STORE_SUPPORT_MASK, &hr) & STORE_HTML_OK);
        EXPECT_EQ(S_OK, hr);
    }
    m_options.bHtmlOk = false;
    Start();
    Ref<IDispatch> item(ComposeSimple());
    Ref<IMessage> message(MessageOf(item.Get()));
    EXPECT_EQ(0u, PropLong(message.Get(), PR_STORE_SUPPORT_MASK, &hr) & STORE_HTML_OK);
    EXPECT_EQ(S_OK, hr);
}

TEST_F(MessageTest, EditorFormatIsStoredAndComputedValuesRefused)
{
    Start();
    Ref<IDispatch> item(ComposeSimple());
    Ref<IMessage> message(MessageOf(item.Get()));
    SPropValue values[2];
    memset(values, 0, sizeof(values));
    values[0].ulPropTag = PR_MSG_EDITOR_FORMAT;
    values[0].Value.l = 1;
    values[1].ulPropTag = PR_STORE_SUPPORT_MASK;
    values[1].Value.l = 0;
    SPropProblemArray* pProblems = NULL;
    EXPECT_EQ(S_OK, message->SetProps(2, values, &pProblems));
    ASSERT_TRUE(pProblems != NULL);
    ASSERT_EQ(1u, pProblems->cProblem);
    EXPECT_EQ(1u, pProblems->aProblem[0].ulIndex);
    EXPECT_EQ(MAPI_E_COMPUTED, pProblems->aProblem[0].scode);
    m_mapi.pfnFreeBuffer(pProblems);
    HRESULT hr = S_OK;
    EXPECT_EQ(1u, PropLong(message.Get(), PR_MSG_EDITOR_FORMAT, &hr));
    EXPECT_EQ(S_OK, hr);
    Call(item.Get(), L"Save");
    EXPECT_NE(std::string::npos, ReadWholeFile(ItemPath(item.Get())).find("Property: 59090003 1\r\n"));
}

TEST_F(MessageTest, NamedPropertyTagIsStableAndOnlyMappedIdsAreSet)
{
    Start();
    Ref<IDispatch> first(ComposeSimple("One"));
    Ref<IDispatch> second(ComposeSimple("Two"));
    Ref<IMessage> one(MessageOf(first.Get()));
    Ref<IMessage> two(MessageOf(second.Get()));

    HRESULT hr = S_OK;
    EXPECT_EQ(PROP_TAG(PT_ERROR, 0), TnefTag(one.Get(), 0, &hr));
    EXPECT_EQ(MAPI_W_ERRORS_RETURNED, hr);
    ULONG ulTag = TnefTag(one.Get(), MAPI_CREATE, &hr);
    EXPECT_EQ(S_OK, hr);
    EXPECT_GE(PROP_ID(ulTag), 0x8000u);
    EXPECT_EQ((ULONG)PT_BOOLEAN, PROP_TYPE(ulTag));
    EXPECT_EQ(ulTag, TnefTag(two.Get(), MAPI_CREATE, &hr));
    EXPECT_EQ(ulTag, TnefTag(two.Get(), 0, &hr));

    EXPECT_EQ(S_OK, SetUseTnef(one.Get()));
    HRESULT hrGet = S_OK;
    EXPECT_EQ(0u, PropLong(one.Get(), ulTag, &hrGet) & 0xFFFF);
    EXPECT_EQ(S_OK, hrGet);

    SPropValue unmapped;
    memset(&unmapped, 0, sizeof(unmapped));
    unmapped.ulPropTag = PROP_TAG(PT_BOOLEAN, 0x9ABC);
    SPropProblemArray* pProblems = NULL;
    EXPECT_EQ(S_OK, one->SetProps(1, &unmapped, &pProblems));
    ASSERT_TRUE(pProblems != NULL);
    EXPECT_EQ(MAPI_E_UNEXPECTED_ID, pProblems->aProblem[0].scode);
    m_mapi.pfnFreeBuffer(pProblems);
}

TEST_F(MessageTest, ModifyRecipientsKeepsItsOwnCopyOfTheRows)
{
    Start();
    Ref<IDispatch> item(ComposeSimple());
    Ref<IMessage> message(MessageOf(item.Get()));
    // The list is freed right after the call, as the engine does.
    EXPECT_EQ(S_OK, AddRecipient(message.Get(), "ann@example.org"));
    EXPECT_EQ(L"ann@example.org", GetText(item.Get(), L"To"));

    Ref<IMAPITable> table;
    ASSERT_EQ(S_OK, message->GetRecipientTable(0, table.Receive()));
    SizedSPropTagArray(2, columns) = { 2, { PR_EMAIL_ADDRESS_A, PR_ADDRTYPE_A } };
    SRowSet* pRows = NULL;
    ASSERT_EQ(S_OK, m_mapi.pfnHrQueryAllRows(table.Get(), (LPSPropTagArray)&columns, NULL, NULL, 0, &pRows));
    ASSERT_EQ(1u, pRows->cRows);
    EXPECT_STREQ("ann@example.org", pRows->aRow[0].lpProps[0].Value.lpszA);
    EXPECT_STREQ("SMTP", pRows->aRow[0].lpProps[1].Value.lpszA);
    m_mapi.pfnFreeProws(pRows);

    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, message->ModifyRecipients(MODRECIP_ADD, NULL));
}

TEST_F(MessageTest, ModifyRecipientsReplacesAddsModifiesAndRemovesByRowId)
{
    Start();
    Ref<IDispatch> item(ComposeSimple());
    Ref<IMessage> message(MessageOf(item.Get()));
    EXPECT_EQ(S_OK, AddRecipient(message.Get(), "ann@example.org"));
    EXPECT_EQ(S_OK, AddRecipient(message.Get(), "bob@example.org"));
    EXPECT_EQ(L"ann@example.org; bob@example.org", GetText(item.Get(), L"To"));

    // One row of the table as ModifyRecipients takes it back.
    auto rowOf = [](LONG nRowId, const char* pszAddress, SPropValue* pValues) {
        memset(pValues, 0, 3 * sizeof(SPropValue));
        pValues[0].ulPropTag = PR_ROWID;
        pValues[0].Value.l = nRowId;
        pValues[1].ulPropTag = PR_EMAIL_ADDRESS_A;
        pValues[1].Value.lpszA = const_cast<char*>(pszAddress);
        pValues[2].ulPropTag = PR_RECIPIENT_TYPE;
        pValues[2].Value.l = MAPI_TO;
    };
    SizedADRLIST(1, one);
    SPropValue values[3];
    one.cEntries = 1;
    one.aEntries[0].ulReserved1 = 0;
    one.aEntries[0].cValues = 3;
    one.aEntries[0].rgPropVals = values;

    // Modify: the row with that id takes the new values.
    rowOf(2, "cy@example.org", values);
    EXPECT_EQ(S_OK, message->ModifyRecipients(MODRECIP_MODIFY, (LPADRLIST)&one));
    EXPECT_EQ(L"ann@example.org; cy@example.org", GetText(item.Get(), L"To"));
    // A row id the table does not have changes nothing.
    rowOf(9, "dan@example.org", values);
    EXPECT_EQ(MAPI_E_NOT_FOUND, message->ModifyRecipients(MODRECIP_MODIFY, (LPADRLIST)&one));
    EXPECT_EQ(MAPI_E_NOT_FOUND, message->ModifyRecipients(MODRECIP_REMOVE, (LPADRLIST)&one));
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, message->ModifyRecipients(MODRECIP_ADD | MODRECIP_REMOVE, (LPADRLIST)&one));
    EXPECT_EQ(L"ann@example.org; cy@example.org", GetText(item.Get(), L"To"));
    // Remove by row id.
    rowOf(1, "", values);
    EXPECT_EQ(S_OK, message->ModifyRecipients(MODRECIP_REMOVE, (LPADRLIST)&one));
    EXPECT_EQ(L"cy@example.org", GetText(item.Get(), L"To"));
    // No flag: the list replaces every recipient.
    rowOf(0, "eve@example.org", values);
    EXPECT_EQ(S_OK, message->ModifyRecipients(0, (LPADRLIST)&one));
    EXPECT_EQ(L"eve@example.org", GetText(item.Get(), L"To"));
    Ref<IMAPITable> table;
    ASSERT_EQ(S_OK, message->GetRecipientTable(0, table.Receive()));
    ULONG cRows = 0;
    EXPECT_EQ(S_OK, table->GetRowCount(0, &cRows));
    EXPECT_EQ(1u, cRows);
}

TEST_F(MessageTest, SubmissionIsRefusedWithoutUsableRecipient)
{
    Start();
    Ref<IDispatch> item(ComposeSimple());
    Ref<IMessage> message(MessageOf(item.Get()));
    HRESULT hr = message->SubmitMessage(FORCE_SUBMIT);
    EXPECT_EQ(MAPI_E_NO_RECIPIENTS, hr);
    EXPECT_EQ("The message has no recipients.", LastErrorText(message.Get(), hr));

    EXPECT_EQ(S_OK, AddRecipient(message.Get(), "not an address@example.org"));
    hr = message->SubmitMessage(FORCE_SUBMIT);
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, hr);
    EXPECT_NE(std::string::npos, LastErrorText(message.Get(), hr).find("\"not an address@example.org\""));

    HRESULT hrFlags = S_OK;
    SizedSPropTagArray(1, tags) = { 1, { PR_MESSAGE_FLAGS } };
    ULONG cValues = 0;
    SPropValue* pValues = NULL;
    hrFlags = message->GetProps((LPSPropTagArray)&tags, 0, &cValues, &pValues);
    EXPECT_EQ(S_OK, hrFlags);
    EXPECT_EQ(0u, pValues[0].Value.ul & MSGFLAG_SUBMIT);
    m_mapi.pfnFreeBuffer(pValues);
}

}  // namespace
