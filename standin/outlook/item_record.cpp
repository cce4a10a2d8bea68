#include "standin/outlook/item_record.h"

#include <stdio.h>
#include <stdlib.h>

#include <utility>

#include "standin/outlook/delivery.h"
#include "standin/outlook/standin_text.h"

ItemRecord::ItemRecord()
    : m_nNumber(0),
      m_nFolder(-1),
      m_bSaved(false),
      m_bDeleted(false),
      m_bFiled(false),
      m_nFiledStore(0),
      m_bFileCurrent(false),
      m_bHasSubject(false),
      m_bHasBodyA(false),
      m_bHasBodyW(false),
      m_bHasHtml(false),
      m_bHasHtmlBody(false),
      m_nHtmlSource(HtmlNone),
      m_nBodyFormat(BodyFormatUnspecified),
      m_bBodyAOfW(false),
      m_bBodyWOfA(false),
      m_bBodyOfHtml(false),
      m_bHtmlOfText(false),
      m_nHtmlCodePage(CP_ACP),
      m_nNextRowId(1),
      m_nSubmitOrder(0),
      m_nSentFolder(-1),
      m_nAccount(-1),
      m_bSent(false),
      m_nRefs(1)
{
    m_ftSent.dwLowDateTime = 0;
    m_ftSent.dwHighDateTime = 0;
}

void ItemRecord::AddRef()
{
    InterlockedIncrement(&m_nRefs);
}

void ItemRecord::Release()
{
    if (InterlockedDecrement(&m_nRefs) == 0)
        delete this;
}

ItemRecord* ItemRecord::CopyContent() const
{
    ItemRecord* pCopy = new ItemRecord;
    pCopy->AssignContent(*this);
    return pCopy;
}

void ItemRecord::AssignContent(const ItemRecord& source)
{
    m_bHasSubject = source.m_bHasSubject;
    m_wstrSubject = source.m_wstrSubject;
    m_bHasBodyA = source.m_bHasBodyA;
    m_strBodyA = source.m_strBodyA;
    m_bHasBodyW = source.m_bHasBodyW;
    m_wstrBodyW = source.m_wstrBodyW;
    m_bHasHtml = source.m_bHasHtml;
    m_strHtml = source.m_strHtml;
    m_bHasHtmlBody = source.m_bHasHtmlBody;
    m_wstrHtmlBody = source.m_wstrHtmlBody;
    m_nHtmlSource = source.m_nHtmlSource;
    m_nBodyFormat = source.m_nBodyFormat;
    m_bBodyAOfW = source.m_bBodyAOfW;
    m_bBodyWOfA = source.m_bBodyWOfA;
    m_bBodyOfHtml = source.m_bBodyOfHtml;
    m_bHtmlOfText = source.m_bHtmlOfText;
    m_nHtmlCodePage = source.m_nHtmlCodePage;
    m_props = source.m_props;
    m_vecRecipients = source.m_vecRecipients;
    m_nNextRowId = source.m_nNextRowId;
    m_vecAttachments = source.m_vecAttachments;
    m_nSentFolder = source.m_nSentFolder;
    m_nAccount = source.m_nAccount;
    m_wstrOnBehalfOf = source.m_wstrOnBehalfOf;
    m_vecReplyTo = source.m_vecReplyTo;
}

void ItemRecord::SwapContent(ItemRecord& other)
{
    std::swap(m_bHasSubject, other.m_bHasSubject);
    m_wstrSubject.swap(other.m_wstrSubject);
    std::swap(m_bHasBodyA, other.m_bHasBodyA);
    m_strBodyA.swap(other.m_strBodyA);
    std::swap(m_bHasBodyW, other.m_bHasBodyW);
    m_wstrBodyW.swap(other.m_wstrBodyW);
    std::swap(m_bHasHtml, other.m_bHasHtml);
    m_strHtml.swap(other.m_strHtml);
    std::swap(m_bHasHtmlBody, other.m_bHasHtmlBody);
    m_wstrHtmlBody.swap(other.m_wstrHtmlBody);
    std::swap(m_nHtmlSource, other.m_nHtmlSource);
    std::swap(m_nBodyFormat, other.m_nBodyFormat);
    std::swap(m_bBodyAOfW, other.m_bBodyAOfW);
    std::swap(m_bBodyWOfA, other.m_bBodyWOfA);
    std::swap(m_bBodyOfHtml, other.m_bBodyOfHtml);
    std::swap(m_bHtmlOfText, other.m_bHtmlOfText);
    std::swap(m_nHtmlCodePage, other.m_nHtmlCodePage);
    m_props.swap(other.m_props);
    m_vecRecipients.swap(other.m_vecRecipients);
    std::swap(m_nNextRowId, other.m_nNextRowId);
    m_vecAttachments.swap(other.m_vecAttachments);
    std::swap(m_nSentFolder, other.m_nSentFolder);
    std::swap(m_nAccount, other.m_nAccount);
    m_wstrOnBehalfOf.swap(other.m_wstrOnBehalfOf);
    m_vecReplyTo.swap(other.m_vecReplyTo);
}

std::wstring ItemRecord::RecipientsText(LONG nType) const
{
    std::wstring text;
    for (const PropList& recipient : m_vecRecipients) {
        const PropValue* pType = FindProp(recipient, PROP_ID(PR_RECIPIENT_TYPE));
        if (pType ? pType->m_nValue != nType : nType != MAPI_TO)
            continue;
        std::wstring name;
        const PropValue* pName = FindProp(recipient, PROP_ID(PR_DISPLAY_NAME_A));
        if (!pName || !PropWideText(*pName, &name) || name.empty()) {
            const PropValue* pAddress = FindProp(recipient, PROP_ID(PR_EMAIL_ADDRESS_A));
            if (pAddress)
                PropWideText(*pAddress, &name);
        }
        if (!text.empty())
            text += L"; ";
        text += name;
    }
    return text;
}

std::wstring ItemRecord::SubjectText() const
{
    return m_bHasSubject ? m_wstrSubject : std::wstring();
}

std::wstring ItemRecord::BodyText() const
{
    if (m_bHasBodyW)
        return m_wstrBodyW;
    if (m_bHasBodyA)
        return AnsiToWideText(m_strBodyA);
    return std::wstring();
}

std::wstring ItemRecord::HtmlBodyText() const
{
    if (m_bHasHtmlBody)
        return m_wstrHtmlBody;
    if (!m_bHasHtml)
        return std::wstring();
    // Stored HTML ends at its first zero byte, as a reader of the stream sees it.
    size_t cb = 0;
    while (cb < m_strHtml.size() && m_strHtml[cb] != '\0')
        ++cb;
    UINT nCodePage = CP_ACP;
    std::string charset = FindHtmlMetaCharset((const unsigned char*)m_strHtml.data(), cb);
    if (!charset.empty()) {
        UINT nNamed = CodePageForCharsetName(charset.c_str());
        if (nNamed)
            nCodePage = nNamed;
    }
    return CodePageToWide(nCodePage, m_strHtml.data(), cb);
}

void ItemRecord::PutSubject(const std::wstring& text)
{
    m_bHasSubject = true;
    m_wstrSubject = text;
}

void ItemRecord::PutBodyText(const std::wstring& text)
{
    m_bHasBodyW = true;
    m_wstrBodyW = text;
    m_bHasBodyA = true;
    m_strBodyA = WideToAnsiText(text);
    m_bBodyAOfW = true;
    m_bBodyWOfA = false;
    m_bBodyOfHtml = false;
}

void ItemRecord::PutNarrowBody(const std::string& bytes)
{
    m_bHasBodyA = true;
    m_strBodyA = bytes;
    m_bHasBodyW = true;
    m_wstrBodyW = AnsiToWideText(bytes);
    m_bBodyAOfW = false;
    m_bBodyWOfA = true;
    m_bBodyOfHtml = false;
}

void ItemRecord::PutWideBody(const std::wstring& text)
{
    PutBodyText(text);
}

// The HTML goes in both forms; the plain body stays, now a text of its own.
void ItemRecord::DropHtml()
{
    m_bHasHtml = false;
    m_strHtml.clear();
    m_bHasHtmlBody = false;
    m_wstrHtmlBody.clear();
    m_nHtmlSource = HtmlNone;
    m_bHtmlOfText = false;
    m_bBodyOfHtml = false;
}

void ItemRecord::PutBody(const std::wstring& text)
{
    PutBodyText(text);
    DropHtml();
}

void ItemRecord::PutHtmlBody(const std::wstring& text)
{
    m_bHasHtmlBody = true;
    m_wstrHtmlBody = text;
    // The stored HTML is kept in the charset the page declares (the system's
    // code page without a declaration), so that it reads back as it was put.
    if (m_bHasHtml) {
        std::string utf8 = WideToUtf8Text(text);
        std::string charset = FindHtmlMetaCharset((const unsigned char*)utf8.data(), utf8.size());
        UINT nCodePage = charset.empty() ? 0 : CodePageForCharsetName(charset.c_str());
        m_nHtmlCodePage = nCodePage ? nCodePage : CP_ACP;
        m_strHtml = WideToCodePage(m_nHtmlCodePage, text.data(), text.size());
        m_bHtmlOfText = true;
    }
    m_nHtmlSource = HtmlFromText;
    m_nBodyFormat = BodyFormatHtml;
    PutBodyText(HtmlToPlainText(text));
    m_bBodyOfHtml = true;
}

void ItemRecord::PutHtmlBytes(const std::string& bytes)
{
    m_bHasHtml = true;
    m_strHtml = bytes;
    m_bHtmlOfText = false;
    m_bHasHtmlBody = false;
    m_wstrHtmlBody.clear();
    // The plain body stays as it was, no longer the text of an HTMLBody.
    m_bBodyOfHtml = false;
    m_nHtmlSource = HtmlFromBytes;
}

void ItemRecord::PutBodyFormat(int nFormat)
{
    m_nBodyFormat = nFormat;
    if (nFormat == BodyFormatPlain)
        DropHtml();
}

bool ItemRecord::OutgoingHtml(const std::string** ppBytes, const std::wstring** ppText) const
{
    *ppBytes = NULL;
    *ppText = NULL;
    if (m_nBodyFormat == BodyFormatPlain)
        return false;
    if (m_nHtmlSource == HtmlFromText && m_bHasHtmlBody) {
        *ppText = &m_wstrHtmlBody;
        return true;
    }
    if (m_bHasHtml) {
        *ppBytes = &m_strHtml;
        return true;
    }
    if (m_bHasHtmlBody && !m_wstrHtmlBody.empty()) {
        *ppText = &m_wstrHtmlBody;
        return true;
    }
    return false;
}

namespace {

const char kBodyA[] = "Body.A";
const char kBodyW[] = "Body.W";
const char kHtml[] = "HTML";
const char kHtmlBody[] = "HTMLBody";
const char kBodyWOfA[] = "Body.A read in the ANSI code page";
const char kBodyOfHtml[] = "the text of HTMLBody";
const char kBodyAOfW[] = "Body.W in the ANSI code page";
const char kHtmlOfTextFormat[] = "HTMLBody in code page %u";

void AddLine(std::string* pText, const char* pszName, const std::string& value)
{
    *pText += pszName;
    *pText += ": ";
    *pText += value;
    *pText += "\r\n";
}

// A body as its own bytes: "Name: N bytes", a line end, the bytes, a line end.
void AddBytes(std::string* pText, const char* pszName, const void* pBytes, size_t cb)
{
    char szLine[64];
    snprintf(szLine, sizeof(szLine), "%s: %lu bytes\r\n", pszName, (unsigned long)cb);
    *pText += szLine;
    pText->append((const char*)pBytes, cb);
    *pText += "\r\n";
}

}  // namespace

std::string ItemRecord::FileText(const char* pszSentFolder, const char* pszAccount) const
{
    char szLine[64];
    std::string text;
    text.reserve(1024 + m_strBodyA.size() + m_strHtml.size() +
                 (m_wstrBodyW.size() + m_wstrHtmlBody.size()) * sizeof(wchar_t));
    text += "Stand-in Outlook item\r\n";
    AddLine(&text, "To", EscapeWide(RecipientsText(MAPI_TO)));
    AddLine(&text, "Class", "IPM.Note");
    snprintf(szLine, sizeof(szLine), "%d", m_nBodyFormat);
    AddLine(&text, "BodyFormat", szLine);
    if (m_bHasSubject)
        AddLine(&text, "Subject", EscapeWide(m_wstrSubject));
    // The wide body first, the form the others are made from.
    bool bBodyOfHtml = m_bBodyOfHtml && m_bHasHtmlBody && m_bHasBodyW;
    bool bBodyWOfA = !bBodyOfHtml && m_bBodyWOfA && m_bHasBodyA;
    if (m_bHasBodyW) {
        if (bBodyOfHtml)
            AddLine(&text, kBodyW, kBodyOfHtml);
        else if (bBodyWOfA)
            AddLine(&text, kBodyW, kBodyWOfA);
        else
            AddBytes(&text, kBodyW, m_wstrBodyW.data(), m_wstrBodyW.size() * sizeof(wchar_t));
    }
    if (m_bHasBodyA) {
        if (m_bBodyAOfW && m_bHasBodyW && !bBodyWOfA)
            AddLine(&text, kBodyA, kBodyAOfW);
        else
            AddBytes(&text, kBodyA, m_strBodyA.data(), m_strBodyA.size());
    }
    if (m_bHasHtmlBody)
        AddBytes(&text, kHtmlBody, m_wstrHtmlBody.data(), m_wstrHtmlBody.size() * sizeof(wchar_t));
    if (m_bHasHtml) {
        if (m_bHtmlOfText && m_bHasHtmlBody) {
            snprintf(szLine, sizeof(szLine), kHtmlOfTextFormat, (unsigned)m_nHtmlCodePage);
            AddLine(&text, kHtml, szLine);
        } else {
            AddBytes(&text, kHtml, m_strHtml.data(), m_strHtml.size());
        }
    }
    if (m_nHtmlSource != HtmlNone)
        AddLine(&text, "HTMLSource", m_nHtmlSource == HtmlFromBytes ? "HTML" : "HTMLBody");
    if (pszSentFolder)
        AddLine(&text, "SaveSentMessageFolder", pszSentFolder);
    if (pszAccount)
        AddLine(&text, "SendUsingAccount", pszAccount);
    if (!m_wstrOnBehalfOf.empty())
        AddLine(&text, "SentOnBehalfOfName", EscapeWide(m_wstrOnBehalfOf));
    for (const std::wstring& replyTo : m_vecReplyTo)
        AddLine(&text, "ReplyRecipient", EscapeWide(replyTo));
    if (m_nSubmitOrder) {
        snprintf(szLine, sizeof(szLine), "%ld", (long)m_nSubmitOrder);
        AddLine(&text, "Submitted", szLine);
    }
    if (m_bSent) {
        SYSTEMTIME st;
        FileTimeToSystemTime(&m_ftSent, &st);
        snprintf(szLine, sizeof(szLine), "%04u-%02u-%02u %02u:%02u:%02u UTC", st.wYear, st.wMonth, st.wDay, st.wHour,
                 st.wMinute, st.wSecond);
        AddLine(&text, "Sent", szLine);
    }
    for (const PropValue& value : m_props)
        AddLine(&text, "Property", FormatPropLine(value));
    for (size_t i = 0; i < m_vecRecipients.size(); ++i) {
        snprintf(szLine, sizeof(szLine), "Recipient %u", (unsigned)(i + 1));
        for (const PropValue& value : m_vecRecipients[i])
            AddLine(&text, szLine, FormatPropLine(value));
    }
    for (const ItemAttachment& attachment : m_vecAttachments) {
        snprintf(szLine, sizeof(szLine), " (%u bytes)", (unsigned)attachment.bytes.size());
        AddLine(&text, "Attachment", EscapeWide(attachment.wstrName) + szLine);
    }
    return text;
}

namespace {

// One "Name: value" line of an item file at *pnAt, which moves past it (and
// past the bytes that follow a body's "N bytes" line, into *pBytes).
bool NextFileLine(const std::string& text, size_t* pnAt, std::string* pName, std::string* pValue,
                  bool* pbBytes, std::string* pBytes)
{
    size_t nEnd = text.find("\r\n", *pnAt);
    if (nEnd == std::string::npos)
        return false;
    std::string line = text.substr(*pnAt, nEnd - *pnAt);
    *pnAt = nEnd + 2;
    size_t nColon = line.find(": ");
    pName->assign(line, 0, nColon == std::string::npos ? line.size() : nColon);
    pValue->assign(nColon == std::string::npos ? std::string() : line.substr(nColon + 2));
    *pbBytes = false;
    if (*pName != kBodyA && *pName != kBodyW && *pName != kHtml && *pName != kHtmlBody)
        return true;
    unsigned long cb = 0;
    char chAfter = 0;
    if (sscanf(pValue->c_str(), "%lu bytes%c", &cb, &chAfter) != 1 || pValue->find(" bytes") == std::string::npos)
        return true;
    if (cb > text.size() - *pnAt || text.compare(*pnAt + cb, 2, "\r\n") != 0)
        return false;
    pBytes->assign(text, *pnAt, cb);
    *pnAt += cb + 2;
    *pbBytes = true;
    return true;
}

std::wstring WideOfBytes(const std::string& bytes)
{
    return std::wstring((const wchar_t*)bytes.data(), bytes.size() / sizeof(wchar_t));
}

}  // namespace

bool ItemRecord::ReadFileBodies(const std::string& text, ItemRecord* pRecord)
{
    const char kHeader[] = "Stand-in Outlook item\r\n";
    if (text.compare(0, sizeof(kHeader) - 1, kHeader) != 0)
        return false;
    size_t nAt = sizeof(kHeader) - 1;
    std::string name, value, bytes;
    std::string bodyWNote, bodyANote, htmlNote;
    bool bBytes = false;
    pRecord->m_bHasBodyA = pRecord->m_bHasBodyW = pRecord->m_bHasHtml = pRecord->m_bHasHtmlBody = false;
    pRecord->m_bBodyAOfW = pRecord->m_bBodyWOfA = pRecord->m_bBodyOfHtml = pRecord->m_bHtmlOfText = false;
    while (nAt < text.size()) {
        if (!NextFileLine(text, &nAt, &name, &value, &bBytes, &bytes))
            return false;
        if (name == kBodyW) {
            pRecord->m_bHasBodyW = true;
            if (bBytes)
                pRecord->m_wstrBodyW = WideOfBytes(bytes);
            else
                bodyWNote = value;
        } else if (name == kBodyA) {
            pRecord->m_bHasBodyA = true;
            if (bBytes)
                pRecord->m_strBodyA = bytes;
            else
                bodyANote = value;
        } else if (name == kHtmlBody) {
            if (!bBytes)
                return false;
            pRecord->m_bHasHtmlBody = true;
            pRecord->m_wstrHtmlBody = WideOfBytes(bytes);
        } else if (name == kHtml) {
            pRecord->m_bHasHtml = true;
            if (bBytes)
                pRecord->m_strHtml = bytes;
            else
                htmlNote = value;
        } else if (name == "BodyFormat") {
            pRecord->m_nBodyFormat = atoi(value.c_str());
        }
    }
    // The made texts made again, in the order they were made.
    if (!htmlNote.empty()) {
        unsigned nCodePage = 0;
        if (!pRecord->m_bHasHtmlBody || sscanf(htmlNote.c_str(), kHtmlOfTextFormat, &nCodePage) != 1)
            return false;
        pRecord->m_nHtmlCodePage = nCodePage;
        pRecord->m_strHtml = WideToCodePage(nCodePage, pRecord->m_wstrHtmlBody.data(), pRecord->m_wstrHtmlBody.size());
        pRecord->m_bHtmlOfText = true;
    }
    if (bodyWNote == kBodyOfHtml && pRecord->m_bHasHtmlBody) {
        pRecord->m_wstrBodyW = HtmlToPlainText(pRecord->m_wstrHtmlBody);
        pRecord->m_bBodyOfHtml = true;
    } else if (bodyWNote == kBodyWOfA && bodyANote.empty() && pRecord->m_bHasBodyA) {
        pRecord->m_wstrBodyW = AnsiToWideText(pRecord->m_strBodyA);
        pRecord->m_bBodyWOfA = true;
    } else if (!bodyWNote.empty()) {
        return false;
    }
    if (bodyANote == kBodyAOfW && pRecord->m_bHasBodyW) {
        pRecord->m_strBodyA = WideToAnsiText(pRecord->m_wstrBodyW);
        pRecord->m_bBodyAOfW = true;
    } else if (!bodyANote.empty()) {
        return false;
    }
    return true;
}
