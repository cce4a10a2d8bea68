#include "standin/outlook/item_record.h"

#include <stdio.h>

#include "standin/outlook/delivery.h"
#include "standin/outlook/standin_text.h"

ItemRecord::ItemRecord()
    : m_nNumber(0),
      m_nFolder(-1),
      m_bSaved(false),
      m_bDeleted(false),
      m_bFiled(false),
      m_bHasSubject(false),
      m_bHasBodyA(false),
      m_bHasBodyW(false),
      m_bHasHtml(false),
      m_bHasHtmlBody(false),
      m_nHtmlSource(HtmlNone),
      m_nBodyFormat(BodyFormatUnspecified),
      m_nNextRowId(1),
      m_nSubmitOrder(0),
      m_nSentFolder(-1),
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
    m_props = source.m_props;
    m_vecRecipients = source.m_vecRecipients;
    m_nNextRowId = source.m_nNextRowId;
    m_vecAttachments = source.m_vecAttachments;
    m_nSentFolder = source.m_nSentFolder;
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
}

void ItemRecord::PutBody(const std::wstring& text)
{
    PutBodyText(text);
    m_bHasHtml = false;
    m_strHtml.clear();
    m_bHasHtmlBody = false;
    m_wstrHtmlBody.clear();
    m_nHtmlSource = HtmlNone;
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
        m_strHtml = WideToCodePage(nCodePage ? nCodePage : CP_ACP, text.data(), text.size());
    }
    m_nHtmlSource = HtmlFromText;
    m_nBodyFormat = BodyFormatHtml;
    PutBodyText(HtmlToPlainText(text));
}

void ItemRecord::PutHtmlBytes(const std::string& bytes)
{
    m_bHasHtml = true;
    m_strHtml = bytes;
    m_bHasHtmlBody = false;
    m_wstrHtmlBody.clear();
    m_nHtmlSource = HtmlFromBytes;
}

void ItemRecord::PutBodyFormat(int nFormat)
{
    m_nBodyFormat = nFormat;
    if (nFormat == BodyFormatPlain) {
        m_bHasHtml = false;
        m_strHtml.clear();
        m_bHasHtmlBody = false;
        m_wstrHtmlBody.clear();
        m_nHtmlSource = HtmlNone;
    }
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

static void AddLine(std::string* pText, const char* pszName, const std::string& value)
{
    *pText += pszName;
    *pText += ": ";
    *pText += value;
    *pText += "\r\n";
}

std::string ItemRecord::FileText(const char* pszFolderName, const char* pszSentFolderName) const
{
    char szLine[64];
    std::string text;
    snprintf(szLine, sizeof(szLine), "Stand-in Outlook item %05d\r\n", m_nNumber);
    text += szLine;
    AddLine(&text, "Folder", pszFolderName ? pszFolderName : "");
    AddLine(&text, "Class", "IPM.Note");
    snprintf(szLine, sizeof(szLine), "%d", m_nBodyFormat);
    AddLine(&text, "BodyFormat", szLine);
    if (m_bHasSubject)
        AddLine(&text, "Subject", EscapeWide(m_wstrSubject));
    if (m_bHasBodyA)
        AddLine(&text, "Body.A", EscapeNarrow(m_strBodyA));
    if (m_bHasBodyW)
        AddLine(&text, "Body.W", EscapeWide(m_wstrBodyW));
    if (m_bHasHtml)
        AddLine(&text, "HTML", HexBytes(m_strHtml));
    if (m_bHasHtmlBody)
        AddLine(&text, "HTMLBody", EscapeWide(m_wstrHtmlBody));
    if (m_nHtmlSource != HtmlNone)
        AddLine(&text, "HTMLSource", m_nHtmlSource == HtmlFromBytes ? "HTML" : "HTMLBody");
    if (pszSentFolderName)
        AddLine(&text, "SaveSentMessageFolder", pszSentFolderName);
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
