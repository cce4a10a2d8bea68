#include <windows.h>

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "standin/outlook/delivery.h"
#include "tests/support/test_files.h"

namespace {

const char kszSender[] = "Stand-in User <user@standin.example>";
const char kszAddress[] = "jane@example.com";

FILETIME FileTimeAt(int nYear, int nMonth, int nDay, int nHour, int nMinute, int nSecond)
{
    SYSTEMTIME st = {};
    st.wYear = (WORD)nYear;
    st.wMonth = (WORD)nMonth;
    st.wDay = (WORD)nDay;
    st.wHour = (WORD)nHour;
    st.wMinute = (WORD)nMinute;
    st.wSecond = (WORD)nSecond;
    FILETIME ft = {};
    SystemTimeToFileTime(&st, &ft);
    return ft;
}

OutgoingMessage PlainMessage()
{
    OutgoingMessage message = {};
    message.pszTo = kszAddress;
    message.pszDisplayName = kszAddress;
    message.pszSubject = L"Monthly news";
    message.pszBody = L"Line one\r\nLine two\r\n";
    message.pszFrom = kszSender;
    message.ftSent = FileTimeAt(2024, 3, 5, 14, 7, 9);
    return message;
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t nPos = 0;
    while (nPos < text.size()) {
        size_t nEnd = text.find("\r\n", nPos);
        if (nEnd == std::string::npos)
            nEnd = text.size();
        lines.push_back(text.substr(nPos, nEnd - nPos));
        nPos = nEnd + 2;
    }
    return lines;
}

// What every delivered file must be: CR LF line ends only, a header section
// of printable ASCII in lines of at most 78 characters, body lines of at most
// 76, and a final line end.
testing::AssertionResult IsWellFormed(const std::string& file)
{
    for (size_t i = 0; i < file.size(); ++i) {
        if (file[i] == '\r' && (i + 1 == file.size() || file[i + 1] != '\n'))
            return testing::AssertionFailure() << "bare CR at " << i;
        if (file[i] == '\n' && (i == 0 || file[i - 1] != '\r'))
            return testing::AssertionFailure() << "bare LF at " << i;
    }
    size_t nHeaderEnd = file.find("\r\n\r\n");
    if (nHeaderEnd == std::string::npos)
        return testing::AssertionFailure() << "no blank line after the headers";
    std::string headers = file.substr(0, nHeaderEnd + 2);
    std::string body = file.substr(nHeaderEnd + 4);
    for (const std::string& line : SplitLines(headers)) {
        if (line.size() > 78)
            return testing::AssertionFailure() << "header line of " << line.size() << ": " << line;
        if (line.find_first_not_of(" \t") == std::string::npos)
            return testing::AssertionFailure() << "empty header line";
        for (char c : line) {
            if ((unsigned char)c < 0x20 || (unsigned char)c > 0x7E)
                return testing::AssertionFailure() << "raw byte " << (int)(unsigned char)c << " in: " << line;
        }
    }
    for (const std::string& line : SplitLines(body)) {
        if (line.size() > 76)
            return testing::AssertionFailure() << "body line of " << line.size() << ": " << line;
    }
    if (!body.empty() && body.compare(body.size() - 2, 2, "\r\n") != 0)
        return testing::AssertionFailure() << "no final line end";
    return testing::AssertionSuccess();
}

std::string Utf8(const wchar_t* psz)
{
    int cb = WideCharToMultiByte(CP_UTF8, 0, psz, -1, NULL, 0, NULL, NULL);
    std::string text((size_t)cb, '\0');
    WideCharToMultiByte(CP_UTF8, 0, psz, -1, &text[0], cb, NULL, NULL);
    text.resize((size_t)cb - 1);
    return text;
}

std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string name = data.cFileName;
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileA(hFind, &data));
    FindClose(hFind);
    return names;
}

std::vector<std::string> SortedFilesIn(const std::string& folder)
{
    std::vector<std::string> names = FilesIn(folder);
    std::sort(names.begin(), names.end());
    return names;
}

// Writes one message as number 1 and reads it back; the raw file as well.
class DeliveryTest : public testing::Test {
protected:
    bool Deliver(const OutgoingMessage& message, int nNumber = 1)
    {
        char szName[16];
        snprintf(szName, sizeof(szName), "%04d.eml", nNumber);
        m_path = m_folder.File(szName);
        if (!WriteDeliveredMessage(m_folder.Path().c_str(), nNumber, &message))
            return false;
        m_raw = ReadWholeFile(m_path);
        return ReadDeliveredMessage(m_path.c_str(), &m_view);
    }

    TempFolder m_folder{"delivery"};
    std::string m_path;
    std::string m_raw;
    DeliveredView m_view;
};

const std::vector<std::string> kFullHeaderNames = {"From", "To", "Subject", "Date", "Message-ID",
                                                   "MIME-Version", "Content-Type", "Content-Transfer-Encoding"};

TEST(DeliverableAddress, AcceptsWhatTransportsAccept)
{
    const char* const kpszGood[] = {
        "jane@example.com",
        "Jane.Doe@Example.COM",
        "jane.doe+newsletter@mail.example.co.uk",
        "o'brien_x-y=z{1}@sub-domain.example.org",
        "x@[192.0.2.17]",
        "a@b.cd",
    };
    for (const char* psz : kpszGood)
        EXPECT_TRUE(IsDeliverableAddress(psz)) << psz;
}

TEST(DeliverableAddress, RefusesMalformedAddresses)
{
    std::string longLocal(65, 'a');
    longLocal += "@example.com";
    std::string longLabel = "a@" + std::string(64, 'b') + ".com";
    const char* const kpszBad[] = {
        "no-at-sign", "a@b@c", "a b@c.d", "<a@b.c>", "a@b.c\r\nBcc: d@e.f", "", "@x.y", "x@",
        "a@b.c\n", "\"a\"@b.c", "a,b@c.d", "a;b@c.d", "a@b", "a@b.c.", "a@.b.c", "a@b..c", ".a@b.c",
        "a.@b.c", "a..b@c.d", "a@-b.c", "a@b-.c", "a@b_c.d", "a@1.2.3.4", "a@[1.2.3]", "a@[1.2.3.256]",
        "j\xE9@example.com", "a\t@b.c", "a@b.c ", longLocal.c_str(), longLabel.c_str(),
    };
    for (const char* psz : kpszBad)
        EXPECT_FALSE(IsDeliverableAddress(psz)) << psz;
    EXPECT_FALSE(IsDeliverableAddress(NULL));
}

TEST_F(DeliveryTest, PlainMessageHasEveryHeaderDerivedFromIt)
{
    ASSERT_TRUE(Deliver(PlainMessage()));
    EXPECT_TRUE(IsWellFormed(m_raw));
    EXPECT_EQ(kFullHeaderNames, m_view.headerNames);
    EXPECT_EQ(kszSender, m_view.from);
    EXPECT_EQ(kszAddress, m_view.to);
    EXPECT_NE(std::string::npos, m_raw.find("\r\nTo: jane@example.com\r\n"));
    EXPECT_EQ("Monthly news", m_view.subject);
    EXPECT_EQ("Tue, 05 Mar 2024 14:07:09 +0000", m_view.date);
    EXPECT_EQ("1.0", m_view.mimeVersion);
    EXPECT_EQ("text/plain", m_view.contentType);
    EXPECT_EQ("utf-8", m_view.charset);
    EXPECT_FALSE(m_view.bHtml);
    EXPECT_EQ("quoted-printable", m_view.transferEncoding);
    EXPECT_EQ("Line one\r\nLine two\r\n", m_view.body);
}

TEST_F(DeliveryTest, DatesAreUtcWithTheirWeekday)
{
    struct Case {
        FILETIME ft;
        const char* pszDate;
    } const kCases[] = {
        {FileTimeAt(2000, 1, 1, 0, 0, 0), "Sat, 01 Jan 2000 00:00:00 +0000"},
        {FileTimeAt(2031, 12, 31, 23, 59, 58), "Wed, 31 Dec 2031 23:59:58 +0000"},
    };
    int nNumber = 0;
    for (const Case& c : kCases) {
        OutgoingMessage message = PlainMessage();
        message.ftSent = c.ft;
        ASSERT_TRUE(Deliver(message, ++nNumber));
        EXPECT_EQ(c.pszDate, m_view.date);
    }
}

TEST_F(DeliveryTest, MessageIdsCarryNumberTimeAndTheStandinDomain)
{
    OutgoingMessage message = PlainMessage();
    ASSERT_TRUE(Deliver(message, 1));
    std::string first = m_view.messageId;
    ASSERT_TRUE(Deliver(message, 2));
    std::string second = m_view.messageId;
    message.ftSent = FileTimeAt(2024, 3, 5, 14, 7, 10);
    ASSERT_TRUE(Deliver(message, 3));
    std::string third = m_view.messageId;

    for (const std::string& id : {first, second, third}) {
        EXPECT_EQ('<', id.front()) << id;
        EXPECT_EQ(">", id.substr(id.size() - 1)) << id;
        EXPECT_NE(std::string::npos, id.find("@" STANDIN_MESSAGE_ID_DOMAIN ">")) << id;
    }
    EXPECT_EQ(0u, first.find("<0001."));
    EXPECT_EQ(0u, second.find("<0002."));
    EXPECT_NE(first.substr(6), third.substr(6));   // same number place, other time
    EXPECT_NE(first, second);
}

TEST_F(DeliveryTest, FilesAreNumberedInDeliveryOrder)
{
    OutgoingMessage message = PlainMessage();
    for (int nNumber : {1, 2, 12})
        ASSERT_TRUE(WriteDeliveredMessage(m_folder.Path().c_str(), nNumber, &message));
    std::vector<std::string> names = FilesIn(m_folder.Path());
    std::sort(names.begin(), names.end());
    // Each message with its envelope beside it.
    EXPECT_EQ((std::vector<std::string>{"0001.eml", "0001.envelope", "0002.eml", "0002.envelope", "0012.eml",
                                        "0012.envelope"}),
              names);
}

TEST_F(DeliveryTest, SubjectsRoundTrip)
{
    const wchar_t* const kpszSubjects[] = {
        L"Caf\u00e9 au lait",
        L"\u65e5\u672c\u8a9e",
        L"Price: 5 \u20ac; smile \U0001F600",
        L"  leading and trailing  ",
        L"tab\there",
        L"looks =?utf-8?B?encoded?= but is not",
        L"",
    };
    int nNumber = 0;
    for (const wchar_t* psz : kpszSubjects) {
        OutgoingMessage message = PlainMessage();
        message.pszSubject = psz;
        ASSERT_TRUE(Deliver(message, ++nNumber));
        EXPECT_TRUE(IsWellFormed(m_raw));
        EXPECT_EQ(Utf8(psz), m_view.subject);
        EXPECT_EQ(kFullHeaderNames, m_view.headerNames);
    }
}

TEST_F(DeliveryTest, NonAsciiSubjectIsEncodedAsUtf8Words)
{
    OutgoingMessage message = PlainMessage();
    message.pszSubject = L"\u65e5\u672c\u8a9e";
    ASSERT_TRUE(Deliver(message));
    EXPECT_NE(std::string::npos, m_raw.find("\r\nSubject: =?utf-8?B?5pel5pys6Kqe?=\r\n"));
}

TEST_F(DeliveryTest, LongSubjectsFoldWithinTheLineLength)
{
    std::wstring words;
    for (int i = 0; i < 30; ++i)
        words += L"word" + std::to_wstring(i) + L" ";
    words += L"end";
    std::wstring accents(120, L'\u00e9');
    std::wstring mixed = L"Tr\u00e8s " + words;
    std::wstring oneLongWord(150, L'x');
    std::wstring japanese;
    for (int i = 0; i < 40; ++i)
        japanese += L"\u65e5\u672c\u8a9e";

    int nNumber = 0;
    for (const std::wstring& subject : {words, accents, mixed, oneLongWord, japanese}) {
        OutgoingMessage message = PlainMessage();
        message.pszSubject = subject.c_str();
        ASSERT_TRUE(Deliver(message, ++nNumber));
        EXPECT_TRUE(IsWellFormed(m_raw));
        EXPECT_EQ(Utf8(subject.c_str()), m_view.subject);
        size_t nSubject = m_raw.find("\r\nSubject:");
        ASSERT_NE(std::string::npos, nSubject);
        EXPECT_EQ(' ', m_raw[m_raw.find("\r\n", nSubject + 2) + 2]) << "the subject is not folded";
    }
}

TEST_F(DeliveryTest, HtmlWinsOverPlainText)
{
    OutgoingMessage message = PlainMessage();
    message.pszHtml = L"<html><body><p>Gr\u00fc\u00dfe</p></body></html>";
    ASSERT_TRUE(Deliver(message));
    EXPECT_TRUE(IsWellFormed(m_raw));
    EXPECT_TRUE(m_view.bHtml);
    EXPECT_EQ("text/html", m_view.contentType);
    EXPECT_EQ("utf-8", m_view.charset);
    EXPECT_EQ(Utf8(message.pszHtml), m_view.body);
    // The plain body goes with it as the text/plain alternative.
    EXPECT_NE(std::string::npos, m_raw.find("Content-Type: multipart/alternative; boundary="));
    EXPECT_TRUE(m_view.bAlternative);
    EXPECT_TRUE(m_view.bHasPlain);
    EXPECT_EQ("Line one\r\nLine two\r\n", m_view.plainBody);
    EXPECT_LT(m_raw.find("Content-Type: text/plain"), m_raw.find("Content-Type: text/html"));

    // HTML alone goes alone; an empty plain body is still an alternative.
    message.pszBody = NULL;
    ASSERT_TRUE(Deliver(message, 2));
    EXPECT_FALSE(m_view.bAlternative);
    EXPECT_FALSE(m_view.bHasPlain);
    EXPECT_EQ(Utf8(message.pszHtml), m_view.body);
    message.pszBody = L"";
    ASSERT_TRUE(Deliver(message, 3));
    EXPECT_TRUE(IsWellFormed(m_raw));
    EXPECT_TRUE(m_view.bAlternative);
    EXPECT_TRUE(m_view.bHasPlain);
    EXPECT_EQ("", m_view.plainBody);
    EXPECT_EQ(Utf8(message.pszHtml), m_view.body);
}

TEST_F(DeliveryTest, EmptyHtmlLeavesThePlainBody)
{
    OutgoingMessage message = PlainMessage();
    message.pszHtml = L"";
    ASSERT_TRUE(Deliver(message));
    EXPECT_FALSE(m_view.bHtml);
    EXPECT_EQ("Line one\r\nLine two\r\n", m_view.body);
}

TEST_F(DeliveryTest, MessageWithoutTextsGetsNoHeadersForThem)
{
    OutgoingMessage message = PlainMessage();
    message.pszSubject = NULL;
    message.pszBody = NULL;
    message.pszFrom = NULL;
    ASSERT_TRUE(Deliver(message));
    EXPECT_TRUE(IsWellFormed(m_raw));
    EXPECT_EQ((std::vector<std::string>{"To", "Date", "Message-ID", "MIME-Version"}), m_view.headerNames);
    EXPECT_EQ("", m_view.body);
}

TEST_F(DeliveryTest, StoredHtmlBytesComeBackUnchangedWithTheirMetaCharset)
{
    std::string html =
        "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1250\"></head>\r\n"
        "<body>P\xF8\xEDli\x9A \x9Elu\x9Dou\xE8k\xFD k\xF9\xF2 = 100%   \r\n"
        "bare LF\nbare CR\r tab\t\r\n" +
        std::string(200, 'z') + "\r\n</body></html>  ";
    OutgoingMessage message = PlainMessage();
    message.pbHtml = (const unsigned char*)html.c_str();
    message.cbHtml = html.size() + 1;   // the terminating zero, as the property holds it
    message.pszHtml = L"<p>not this one</p>";
    ASSERT_TRUE(Deliver(message));
    EXPECT_TRUE(IsWellFormed(m_raw));
    EXPECT_TRUE(m_view.bHtml);
    EXPECT_EQ("windows-1250", m_view.charset);
    EXPECT_EQ(html, m_view.bodyBytes);
    EXPECT_NE(std::string::npos, m_view.body.find(Utf8(L"P\u0159\u00edli\u0161 \u017elu\u0165ou\u010dk\u00fd")));
}

TEST_F(DeliveryTest, StoredHtmlWithoutMetaNamesTheAnsiCharset)
{
    std::string html = "<html><body>R\xE9sum\xE9 na\xEFve</body></html>";
    OutgoingMessage message = PlainMessage();
    message.pbHtml = (const unsigned char*)html.data();
    message.cbHtml = html.size();
    ASSERT_TRUE(Deliver(message));
    EXPECT_TRUE(IsWellFormed(m_raw));
    char szExpected[32];
    CharsetNameForCodePage(GetACP(), szExpected, sizeof(szExpected));
    EXPECT_EQ(szExpected, m_view.charset);
    EXPECT_EQ(html, m_view.bodyBytes);
}

TEST_F(DeliveryTest, PlainBodyBytesSurviveQuotedPrintable)
{
    const wchar_t* const kpszBodies[] = {
        L"trailing spaces   \r\ntrailing tab\t\r\nend without line end ",
        L"= signs == and =3D already\r\n",
        L"\r\n\r\nblank lines first\r\n\r\n",
        L"lone\nline\rends\n",
        L"",
    };
    std::wstring longLine(300, L'q');
    std::wstring longAccents(100, L'\u00e9');
    int nNumber = 0;
    auto Check = [&](const wchar_t* pszBody) {
        OutgoingMessage message = PlainMessage();
        message.pszBody = pszBody;
        ASSERT_TRUE(Deliver(message, ++nNumber));
        EXPECT_TRUE(IsWellFormed(m_raw));
        EXPECT_EQ(Utf8(pszBody), m_view.body);
    };
    for (const wchar_t* psz : kpszBodies)
        Check(psz);
    Check(longLine.c_str());
    Check(longAccents.c_str());
}

TEST_F(DeliveryTest, DisplayNamesAreQuotedOrEncoded)
{
    struct Case {
        const char* pszName;
        const char* pszTo;
    } const kCases[] = {
        {"Jane Doe", "\"Jane Doe\" <jane@example.com>"},
        {"Doe, Jane", "\"Doe, Jane\" <jane@example.com>"},
        {"Say \"hi\" \\o/", "\"Say \\\"hi\\\" \\\\o/\" <jane@example.com>"},
        {"", "jane@example.com"},
        {NULL, "jane@example.com"},
    };
    int nNumber = 0;
    for (const Case& c : kCases) {
        OutgoingMessage message = PlainMessage();
        message.pszDisplayName = c.pszName;
        ASSERT_TRUE(Deliver(message, ++nNumber));
        EXPECT_TRUE(IsWellFormed(m_raw));
        EXPECT_EQ(c.pszTo, m_view.to);
    }
}

TEST_F(DeliveryTest, AnsiDisplayNameIsEncodedAsUtf8)
{
    char szName[64];
    BOOL bDefaulted = FALSE;
    int cb = WideCharToMultiByte(CP_ACP, 0, L"Ren\u00e9 M\u00fcller", -1, szName, sizeof(szName), NULL, &bDefaulted);
    if (cb <= 0 || bDefaulted)
        GTEST_SKIP() << "the ANSI code page has no e acute";
    OutgoingMessage message = PlainMessage();
    message.pszDisplayName = szName;
    ASSERT_TRUE(Deliver(message));
    EXPECT_TRUE(IsWellFormed(m_raw));
    EXPECT_EQ(Utf8(L"Ren\u00e9 M\u00fcller <jane@example.com>"), m_view.to);
}

TEST_F(DeliveryTest, HostileTextsNeverStartAHeaderLine)
{
    OutgoingMessage message = PlainMessage();
    message.pszSubject = L"Hi\r\nBcc: x@y.z";
    message.pszDisplayName = "Jane\r\nBcc: x@y.z";
    message.pszFrom = "Evil\r\nBcc: x@y.z\n <user@standin.example>";
    message.pszBody = L"\r\nBcc: body@y.z\r\n";
    ASSERT_TRUE(Deliver(message));
    EXPECT_TRUE(IsWellFormed(m_raw));
    EXPECT_EQ(kFullHeaderNames, m_view.headerNames);
    EXPECT_EQ("Hi\r\nBcc: x@y.z", m_view.subject);
    EXPECT_EQ("Jane\r\nBcc: x@y.z <jane@example.com>", m_view.to);
    EXPECT_NE(std::string::npos, m_view.from.find("<user@standin.example>")) << m_view.from;
    std::string headers = m_raw.substr(0, m_raw.find("\r\n\r\n") + 2);
    EXPECT_EQ(std::string::npos, headers.find("\nBcc:"));
    EXPECT_EQ("\r\nBcc: body@y.z\r\n", m_view.body);

    message = PlainMessage();
    message.pszTo = "a@b.c\r\nBcc: d@e.f";
    EXPECT_FALSE(WriteDeliveredMessage(m_folder.Path().c_str(), 2, &message));
    EXPECT_TRUE(SortedFilesIn(m_folder.Path()) == std::vector<std::string>({"0001.eml", "0001.envelope"}));
}

// Bcc recipients are in no header of the file, and only in its envelope,
// which names To, then Cc, then Bcc, each kind in its order.
TEST_F(DeliveryTest, BccIsInTheEnvelopeOnlyAfterToAndCc)
{
    const OutgoingRecipient recipients[] = {
        {"hidden1@example.com", "hidden1@example.com", 3}, {"cc@example.com", "Cy", 2},
        {"jane@example.com", "Jane", 1},                    {"hidden2@example.com", "", 3},
        {"joe@example.com", "joe@example.com", 1},
    };
    OutgoingMessage message = PlainMessage();
    message.pszTo = NULL;
    message.pRecipients = recipients;
    message.cRecipients = sizeof(recipients) / sizeof(recipients[0]);
    ASSERT_TRUE(Deliver(message));
    EXPECT_TRUE(IsWellFormed(m_raw));
    EXPECT_EQ(std::string::npos, m_raw.find("hidden"));
    for (const std::string& name : m_view.headerNames)
        EXPECT_NE("Bcc", name);
    EXPECT_EQ("", m_view.bcc);
    EXPECT_EQ("\"Jane\" <jane@example.com>, joe@example.com", m_view.to);
    EXPECT_EQ("\"Cy\" <cc@example.com>", m_view.cc);
    ASSERT_TRUE(m_view.bHasEnvelope);
    EXPECT_EQ("user@standin.example", m_view.envelopeFrom);
    EXPECT_EQ((std::vector<std::string>{"jane@example.com", "joe@example.com", "cc@example.com", "hidden1@example.com",
                                        "hidden2@example.com"}),
              m_view.envelopeTo);
    EXPECT_EQ("MAIL FROM:<user@standin.example>\r\nRCPT TO:<jane@example.com>\r\nRCPT TO:<joe@example.com>\r\n"
              "RCPT TO:<cc@example.com>\r\nRCPT TO:<hidden1@example.com>\r\nRCPT TO:<hidden2@example.com>\r\n",
              ReadWholeFile(m_folder.File("0001.envelope")));

    // The envelope's sender is the sending account's when it is given.
    message.pszEnvelopeFrom = "work@example.com";
    ASSERT_TRUE(Deliver(message, 2));
    EXPECT_EQ("work@example.com", m_view.envelopeFrom);
    EXPECT_EQ(5u, m_view.envelopeTo.size());
}

TEST_F(DeliveryTest, SenderAndReplyToNameWhoSentAndWhereRepliesGo)
{
    const wchar_t* const replyTo[] = {L"replies@example.com", L"", L"Desk <desk@example.com>",
                                      L"B\u00FCro <buero@example.com>"};
    OutgoingMessage message = PlainMessage();
    message.pszFrom = "boss@example.com";
    message.pszSender = "Stand-in User <work@example.com>";
    message.ppszReplyTo = replyTo;
    message.cReplyTo = sizeof(replyTo) / sizeof(replyTo[0]);
    ASSERT_TRUE(Deliver(message));
    EXPECT_TRUE(IsWellFormed(m_raw));
    EXPECT_EQ((std::vector<std::string>{"From", "Sender", "Reply-To", "To", "Subject", "Date", "Message-ID",
                                        "MIME-Version", "Content-Type", "Content-Transfer-Encoding"}),
              m_view.headerNames);
    EXPECT_EQ("boss@example.com", m_view.from);
    EXPECT_EQ("Stand-in User <work@example.com>", m_view.sender);
    EXPECT_EQ("replies@example.com, Desk <desk@example.com>, " + Utf8(L"B\u00FCro") + " <buero@example.com>",
              m_view.replyTo);
    EXPECT_EQ("work@example.com", m_view.envelopeFrom);   // MAIL FROM is the sender's, not From's

    // Without reply recipients there is no Reply-To, without a Sender none.
    ASSERT_TRUE(Deliver(PlainMessage(), 2));
    EXPECT_EQ(kFullHeaderNames, m_view.headerNames);
    EXPECT_EQ("", m_view.replyTo);
    EXPECT_EQ("", m_view.sender);
}

TEST_F(DeliveryTest, FailedWritesLeaveNothingAndOverwriteNothing)
{
    OutgoingMessage message = PlainMessage();
    std::string missing = m_folder.File("missing");
    EXPECT_FALSE(WriteDeliveredMessage(missing.c_str(), 1, &message));
    EXPECT_FALSE(FolderExists(missing));
    EXPECT_TRUE(FilesIn(m_folder.Path()).empty());

    ASSERT_TRUE(WriteDeliveredMessage(m_folder.Path().c_str(), 1, &message));
    std::string first = ReadWholeFile(m_folder.File("0001.eml"));
    message.pszSubject = L"Second";
    std::string firstEnvelope = ReadWholeFile(m_folder.File("0001.envelope"));
    message.pszTo = "other@example.com";
    EXPECT_FALSE(WriteDeliveredMessage(m_folder.Path().c_str(), 1, &message));
    EXPECT_EQ(first, ReadWholeFile(m_folder.File("0001.eml")));
    EXPECT_EQ(firstEnvelope, ReadWholeFile(m_folder.File("0001.envelope")));
    message.pszTo = kszAddress;

    EXPECT_FALSE(WriteDeliveredMessage(m_folder.Path().c_str(), 0, &message));
    message.pszTo = "no-at-sign";
    EXPECT_FALSE(WriteDeliveredMessage(m_folder.Path().c_str(), 2, &message));
    EXPECT_FALSE(WriteDeliveredMessage(m_folder.Path().c_str(), 3, NULL));
    EXPECT_TRUE(SortedFilesIn(m_folder.Path()) == std::vector<std::string>({"0001.eml", "0001.envelope"}));
}

TEST(DeliveryCharsets, CodePagesHaveTheirMimeNames)
{
    struct Case {
        UINT nCodePage;
        const char* pszName;
    } const kCases[] = {
        {1252, "windows-1252"}, {1250, "windows-1250"}, {932, "shift_jis"}, {65001, "utf-8"}, {1257, "windows-1257"},
    };
    for (const Case& c : kCases) {
        char szName[32];
        CharsetNameForCodePage(c.nCodePage, szName, sizeof(szName));
        EXPECT_STREQ(c.pszName, szName);
        EXPECT_EQ(c.nCodePage, CodePageForCharsetName(c.pszName));
    }
    char szSmall[8] = "x";
    CharsetNameForCodePage(1252, szSmall, sizeof(szSmall));
    EXPECT_STREQ("", szSmall);
    EXPECT_EQ(1252u, CodePageForCharsetName("Windows-1252"));
    EXPECT_EQ(0u, CodePageForCharsetName("no-such-charset"));
}

TEST(DeliveryCharsets, MetaCharsetIsFoundInEitherForm)
{
    struct Case {
        const char* pszHtml;
        const char* pszCharset;
    } const kCases[] = {
        {"<HTML><HEAD><META charset=\"Shift_JIS\"></HEAD>", "Shift_JIS"},
        {"<meta http-equiv='Content-Type' content='text/html; charset=iso-8859-2'>", "iso-8859-2"},
        {"<meta name=\"x\"><p>charset=utf-8 in the text</p>", ""},
        {"<html><body>none</body></html>", ""},
    };
    for (const Case& c : kCases)
        EXPECT_EQ(c.pszCharset, FindHtmlMetaCharset((const unsigned char*)c.pszHtml, strlen(c.pszHtml))) << c.pszHtml;
}

TEST_F(DeliveryTest, ReaderRefusesBrokenFiles)
{
    DeliveredView view;
    EXPECT_FALSE(ReadDeliveredMessage(m_folder.File("none.eml").c_str(), &view));

    const char* const kpszBroken[] = {
        "To: a@b.c\nSubject: bare line end\r\n\r\nbody\r\n",
        "To: a@b.c\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\nbad =ZZ escape\r\n",
        "To: a@b.c\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n\xC3\r\n",
        "To: a@b.c\r\nContent-Transfer-Encoding: x-unknown\r\n\r\nbody\r\n",
        " continued: first\r\n\r\nbody\r\n",
        "no blank line\r\n",
        "To: a@b.c\r\nContent-Type: multipart/alternative; boundary=\"b\"\r\n\r\n--b\r\n\r\nno closing line\r\n",
        "To: a@b.c\r\nContent-Type: multipart/alternative\r\n\r\n--b\r\n\r\nno boundary named\r\n--b--\r\n",
        "To: a@b.c\r\nContent-Type: multipart/alternative; boundary=b\r\n\r\n--b\r\nbad header\r\n\r\nx\r\n--b--\r\n",
    };
    int nFile = 0;
    for (const char* psz : kpszBroken) {
        std::string path = m_folder.File("broken" + std::to_string(++nFile) + ".eml");
        FILE* pFile = fopen(path.c_str(), "wb");
        ASSERT_TRUE(pFile);
        fputs(psz, pFile);
        fclose(pFile);
        EXPECT_FALSE(ReadDeliveredMessage(path.c_str(), &view)) << psz;
    }

    // A whole message whose envelope beside it is not as written.
    const char* const kpszBrokenEnvelopes[] = {
        "", "RCPT TO:<a@b.c>\r\n", "MAIL FROM:<a@b.c>\r\n", "MAIL FROM:<a@b.c>\r\nRCPT TO:<d@e.f>",
        "MAIL FROM:<a@b.c>\r\nRCPT TO: d@e.f\r\n",
    };
    for (const char* psz : kpszBrokenEnvelopes) {
        ASSERT_TRUE(Deliver(PlainMessage(), 7));
        FILE* pFile = fopen(m_folder.File("0007.envelope").c_str(), "wb");
        ASSERT_TRUE(pFile);
        fputs(psz, pFile);
        fclose(pFile);
        EXPECT_FALSE(ReadDeliveredMessage(m_path.c_str(), &view)) << psz;
        DeleteFileA(m_path.c_str());
        DeleteFileA(m_folder.File("0007.envelope").c_str());
    }
}

}  // namespace
