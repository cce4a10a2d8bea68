#include "standin/outlook/delivery.h"

#include <stdio.h>
#include <string.h>

namespace {

// RFC 5322 recommends 78 characters a header line; RFC 2045 allows 76 an
// encoded body line.
const size_t kcchHeaderLine = 78;
const size_t kcchBodyLine = 76;

// UTF-8 bytes per encoded word: 42 bytes give 56 base64 characters, so that
// "Subject: " and one whole "=?utf-8?B?...?=" stay within a header line.
const size_t kcbEncodedWordText = 42;

// A plain header word this long could not be folded onto a line of its own.
const size_t kcchLongestPlainWord = 60;

const char kszBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kszHex[] = "0123456789ABCDEF";

bool IsAsciiLetterOrDigit(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
}

std::string LowerAscii(const std::string& text)
{
    std::string lower(text);
    for (char& c : lower)
        c = LowerAscii(c);
    return lower;
}

bool IsWsp(char c)
{
    return c == ' ' || c == '\t';
}

std::string TrimWsp(const std::string& text)
{
    size_t nFirst = 0, nEnd = text.size();
    while (nFirst < nEnd && IsWsp(text[nFirst]))
        ++nFirst;
    while (nEnd > nFirst && IsWsp(text[nEnd - 1]))
        --nEnd;
    return text.substr(nFirst, nEnd - nFirst);
}

// ---------------------------------------------------------------- conversions

std::string WideToUtf8(const wchar_t* psz, size_t cch)
{
    if (cch == 0)
        return std::string();
    int cb = WideCharToMultiByte(CP_UTF8, 0, psz, (int)cch, NULL, 0, NULL, NULL);
    if (cb <= 0)
        return std::string();
    std::string utf8((size_t)cb, '\0');
    WideCharToMultiByte(CP_UTF8, 0, psz, (int)cch, &utf8[0], cb, NULL, NULL);
    return utf8;
}

std::string WideToUtf8(const wchar_t* psz)
{
    return WideToUtf8(psz, wcslen(psz));
}

// Bytes of a code page to UTF-8; false when the bytes are not valid there.
bool BytesToUtf8(UINT nCodePage, const std::string& bytes, std::string* pUtf8)
{
    pUtf8->clear();
    if (bytes.empty())
        return true;
    DWORD dwFlags = (nCodePage == CP_UTF8) ? MB_ERR_INVALID_CHARS : 0;
    int cch = MultiByteToWideChar(nCodePage, dwFlags, bytes.data(), (int)bytes.size(), NULL, 0);
    if (cch <= 0)
        return false;
    std::wstring wide((size_t)cch, L'\0');
    MultiByteToWideChar(nCodePage, dwFlags, bytes.data(), (int)bytes.size(), &wide[0], cch);
    *pUtf8 = WideToUtf8(wide.data(), wide.size());
    return true;
}

std::string AnsiToUtf8(const char* psz)
{
    std::string utf8;
    BytesToUtf8(CP_ACP, psz, &utf8);
    return utf8;
}

// ------------------------------------------------------------------- encodings

void AppendBase64(std::string& out, const unsigned char* pb, size_t cb)
{
    for (size_t i = 0; i < cb; i += 3) {
        unsigned nGroup = (unsigned)pb[i] << 16;
        if (i + 1 < cb)
            nGroup |= (unsigned)pb[i + 1] << 8;
        if (i + 2 < cb)
            nGroup |= pb[i + 2];
        out += kszBase64[(nGroup >> 18) & 63];
        out += kszBase64[(nGroup >> 12) & 63];
        out += (i + 1 < cb) ? kszBase64[(nGroup >> 6) & 63] : '=';
        out += (i + 2 < cb) ? kszBase64[nGroup & 63] : '=';
    }
}

int Base64Value(char c)
{
    const char* p = strchr(kszBase64, c);
    return (c != '\0' && p) ? (int)(p - kszBase64) : -1;
}

// Strict: whole groups of four, padding only at the end; line ends between
// groups are skipped.
bool DecodeBase64(const std::string& text, std::string* pBytes)
{
    pBytes->clear();
    std::string clean;
    for (char c : text) {
        if (c == '\r' || c == '\n')
            continue;
        clean += c;
    }
    if (clean.size() % 4 != 0)
        return false;
    for (size_t i = 0; i < clean.size(); i += 4) {
        bool bLast = (i + 4 == clean.size());
        int nValues[4];
        int nPadding = 0;
        for (int k = 0; k < 4; ++k) {
            char c = clean[i + k];
            if (c == '=' && bLast && k >= 2) {
                ++nPadding;
                nValues[k] = 0;
                continue;
            }
            if (nPadding > 0)
                return false;
            nValues[k] = Base64Value(c);
            if (nValues[k] < 0)
                return false;
        }
        unsigned nGroup = (nValues[0] << 18) | (nValues[1] << 12) | (nValues[2] << 6) | nValues[3];
        *pBytes += (char)((nGroup >> 16) & 0xFF);
        if (nPadding < 2)
            *pBytes += (char)((nGroup >> 8) & 0xFF);
        if (nPadding < 1)
            *pBytes += (char)(nGroup & 0xFF);
    }
    return true;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Only CR LF pairs become hard line breaks; a lone CR or LF is encoded like
// any other control, so the bytes come back exactly as they went in.
void AppendQuotedPrintable(std::string& out, const unsigned char* pb, size_t cb)
{
    size_t cchLine = 0;
    for (size_t i = 0; i < cb; ++i) {
        unsigned char c = pb[i];
        if (c == '\r' && i + 1 < cb && pb[i + 1] == '\n') {
            out += "\r\n";
            cchLine = 0;
            ++i;
            continue;
        }
        bool bBeforeHardBreak = (i + 2 < cb && pb[i + 1] == '\r' && pb[i + 2] == '\n');
        bool bLastByte = (i + 1 == cb);
        char szPiece[4];
        bool bLiteral = (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !bBeforeHardBreak && !bLastByte);
        if (bLiteral) {
            szPiece[0] = (char)c;
            szPiece[1] = '\0';
        } else {
            szPiece[0] = '=';
            szPiece[1] = kszHex[c >> 4];
            szPiece[2] = kszHex[c & 15];
            szPiece[3] = '\0';
        }
        size_t cchPiece = strlen(szPiece);
        // A soft break needs its own "=" on the line, a hard break does not.
        size_t cchRoom = bBeforeHardBreak ? kcchBodyLine : kcchBodyLine - 1;
        if (cchLine + cchPiece > cchRoom) {
            out += "=\r\n";
            cchLine = 0;
        }
        out += szPiece;
        cchLine += cchPiece;
    }
    // A body without a final line end ends on a soft break, which adds nothing.
    if (cb > 0 && !(cb >= 2 && pb[cb - 2] == '\r' && pb[cb - 1] == '\n'))
        out += "=\r\n";
}

// Strict, so that a writer fault shows: "=" takes two hex digits or ends the
// line, and no line may hold a bare CR or LF or an unencoded control.
bool DecodeQuotedPrintable(const std::string& text, std::string* pBytes)
{
    pBytes->clear();
    size_t nPos = 0;
    while (nPos < text.size()) {
        size_t nEnd = text.find("\r\n", nPos);
        bool bHardBreak = (nEnd != std::string::npos);
        if (!bHardBreak)
            nEnd = text.size();
        std::string line = text.substr(nPos, nEnd - nPos);
        nPos = bHardBreak ? nEnd + 2 : nEnd;

        while (!line.empty() && IsWsp(line.back()))
            line.pop_back();
        bool bSoftBreak = !line.empty() && line.back() == '=';
        if (bSoftBreak)
            line.pop_back();
        for (size_t i = 0; i < line.size(); ++i) {
            unsigned char c = (unsigned char)line[i];
            if (c == '=') {
                if (i + 2 >= line.size())
                    return false;
                int nHigh = HexValue(line[i + 1]);
                int nLow = HexValue(line[i + 2]);
                if (nHigh < 0 || nLow < 0)
                    return false;
                *pBytes += (char)(nHigh * 16 + nLow);
                i += 2;
                continue;
            }
            if (!((c >= 33 && c <= 126) || c == ' ' || c == '\t'))
                return false;
            *pBytes += (char)c;
        }
        if (bHardBreak && !bSoftBreak)
            *pBytes += "\r\n";
    }
    return true;
}

// ------------------------------------------------------------------ headers

// A value of printable ASCII, folded before spaces so that no line passes
// the recommended length unless a single word is longer than a line.
void AppendHeader(std::string& out, const char* pszName, const std::string& value)
{
    out += pszName;
    out += ':';
    size_t cchLine = strlen(pszName) + 1;
    size_t nPos = 0;
    bool bFirst = true;
    while (nPos <= value.size()) {
        size_t nSpace = value.find(' ', nPos);
        if (nSpace == std::string::npos)
            nSpace = value.size();
        size_t cchWord = nSpace - nPos;
        if (!bFirst && cchWord > 0 && cchLine + 1 + cchWord > kcchHeaderLine) {
            out += "\r\n";
            cchLine = 0;
        }
        if (!(bFirst && value.empty())) {
            out += ' ';
            out.append(value, nPos, cchWord);
            cchLine += 1 + cchWord;
        }
        bFirst = false;
        nPos = nSpace + 1;
    }
    out += "\r\n";
}

// Printable ASCII that survives folding and unfolding unchanged and that no
// reader takes for an encoded word.
bool IsPlainHeaderText(const std::string& text)
{
    if (text.empty())
        return true;
    if (text.front() == ' ' || text.back() == ' ' || text.find("=?") != std::string::npos)
        return false;
    size_t cchWord = 0;
    for (char c : text) {
        unsigned char u = (unsigned char)c;
        if (u < 0x20 || u > 0x7E)
            return false;
        cchWord = (c == ' ') ? 0 : cchWord + 1;
        if (cchWord > kcchLongestPlainWord)
            return false;
    }
    return true;
}

size_t Utf8SequenceLength(unsigned char cLead)
{
    if (cLead < 0x80)
        return 1;
    if ((cLead & 0xE0) == 0xC0)
        return 2;
    if ((cLead & 0xF0) == 0xE0)
        return 3;
    if ((cLead & 0xF8) == 0xF0)
        return 4;
    return 1;
}

// "=?utf-8?B?...?=" words separated by spaces, each whole characters, so
// that folding may break between any two of them.
std::string EncodedWords(const std::string& utf8)
{
    std::string words;
    size_t nPos = 0;
    while (nPos < utf8.size()) {
        size_t nEnd = nPos;
        while (nEnd < utf8.size()) {
            size_t cbChar = Utf8SequenceLength((unsigned char)utf8[nEnd]);
            if (nEnd + cbChar > utf8.size())
                cbChar = utf8.size() - nEnd;
            if (nEnd + cbChar - nPos > kcbEncodedWordText)
                break;
            nEnd += cbChar;
        }
        if (!words.empty())
            words += ' ';
        words += "=?utf-8?B?";
        AppendBase64(words, (const unsigned char*)utf8.data() + nPos, nEnd - nPos);
        words += "?=";
        nPos = nEnd;
    }
    return words;
}

std::string UnstructuredValue(const std::string& utf8)
{
    return IsPlainHeaderText(utf8) ? utf8 : EncodedWords(utf8);
}

// A display name as a quoted string when it is plain text, else as encoded
// words (which carry CR, LF and anything else without letting it reach the
// header raw); nothing when it adds nothing to the address.
std::string MailboxValue(const std::string& nameUtf8, const std::string& address)
{
    if (nameUtf8.empty() || nameUtf8 == address)
        return address;
    std::string value;
    if (IsPlainHeaderText(nameUtf8)) {
        value += '"';
        for (char c : nameUtf8) {
            if (c == '"' || c == '\\')
                value += '\\';
            value += c;
        }
        value += '"';
    } else {
        value = EncodedWords(nameUtf8);
    }
    value += " <";
    value += address;
    value += '>';
    return value;
}

// The sender as given when it is plain text; otherwise its name and address
// taken apart ("Name <address>" or an address alone), the name encoded and
// any control in the address made a space.
std::string MailboxText(const std::string& utf8)
{
    std::string from = TrimWsp(utf8);
    if (IsPlainHeaderText(from))
        return from;
    std::string name, address = from;
    size_t nOpen = from.rfind('<');
    if (nOpen != std::string::npos && from.back() == '>') {
        address = from.substr(nOpen + 1, from.size() - nOpen - 2);
        name = TrimWsp(from.substr(0, nOpen));
        if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
            name = name.substr(1, name.size() - 2);
    }
    for (char& c : address) {
        unsigned char u = (unsigned char)c;
        if (u < 0x20 || u == 0x7F)
            c = ' ';
    }
    return MailboxValue(name, address);
}

std::string SenderValue(const char* pszFrom)
{
    return MailboxText(AnsiToUtf8(pszFrom));
}

// The address of a mailbox text: what lies between its last angle
// brackets, else the text itself, trimmed.
std::string AddressOfMailbox(const std::string& text)
{
    std::string mailbox = TrimWsp(text);
    size_t nOpen = mailbox.rfind('<');
    if (nOpen != std::string::npos && !mailbox.empty() && mailbox.back() == '>')
        return mailbox.substr(nOpen + 1, mailbox.size() - nOpen - 2);
    return mailbox;
}

const char* const kpszDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kpszMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool DateValue(const FILETIME* pft, std::string* pValue)
{
    SYSTEMTIME st;
    if (!FileTimeToSystemTime(pft, &st) || st.wDayOfWeek > 6 || st.wMonth < 1 || st.wMonth > 12)
        return false;
    char szDate[64];
    snprintf(szDate, sizeof(szDate), "%s, %02u %s %04u %02u:%02u:%02u +0000", kpszDays[st.wDayOfWeek],
             (unsigned)st.wDay, kpszMonths[st.wMonth - 1], (unsigned)st.wYear, (unsigned)st.wHour,
             (unsigned)st.wMinute, (unsigned)st.wSecond);
    *pValue = szDate;
    return true;
}

// ------------------------------------------------------------------ addresses

bool IsAtext(unsigned char c)
{
    return IsAsciiLetterOrDigit(c) || (c != '\0' && strchr("!#$%&'*+-/=?^_`{|}~", c) != NULL);
}

bool IsDotAtom(const char* pch, size_t cch)
{
    if (cch == 0 || pch[0] == '.' || pch[cch - 1] == '.')
        return false;
    for (size_t i = 0; i < cch; ++i) {
        unsigned char c = (unsigned char)pch[i];
        if (c == '.') {
            if (pch[i + 1] == '.')
                return false;
            continue;
        }
        if (!IsAtext(c))
            return false;
    }
    return true;
}

bool IsIpv4Literal(const char* pch, size_t cch)
{
    if (cch < 9 || pch[0] != '[' || pch[cch - 1] != ']')
        return false;
    int nParts = 0;
    size_t i = 1;
    while (i < cch - 1) {
        int nValue = 0, nDigits = 0;
        while (i < cch - 1 && pch[i] >= '0' && pch[i] <= '9' && nDigits < 4) {
            nValue = nValue * 10 + (pch[i] - '0');
            ++nDigits;
            ++i;
        }
        if (nDigits == 0 || nDigits > 3 || nValue > 255)
            return false;
        ++nParts;
        if (i < cch - 1) {
            if (pch[i] != '.' || nParts == 4)
                return false;
            ++i;
            if (i == cch - 1)
                return false;
        }
    }
    return nParts == 4;
}

bool IsDomainName(const char* pch, size_t cch)
{
    if (cch == 0 || cch > 253)
        return false;
    int nLabels = 0;
    size_t nStart = 0;
    bool bLastAllDigits = false;
    while (nStart <= cch) {
        size_t nEnd = nStart;
        while (nEnd < cch && pch[nEnd] != '.')
            ++nEnd;
        size_t cchLabel = nEnd - nStart;
        if (cchLabel == 0 || cchLabel > 63 || pch[nStart] == '-' || pch[nEnd - 1] == '-')
            return false;
        bLastAllDigits = true;
        for (size_t i = nStart; i < nEnd; ++i) {
            unsigned char c = (unsigned char)pch[i];
            if (!IsAsciiLetterOrDigit(c) && c != '-')
                return false;
            if (c < '0' || c > '9')
                bLastAllDigits = false;
        }
        ++nLabels;
        nStart = nEnd + 1;
    }
    // A top-level label is never all digits: that would be an IPv4 address
    // without its brackets.
    return nLabels >= 2 && !bLastAllDigits;
}

// ------------------------------------------------------------------ the file

// A message with attachments is multipart/mixed: its body, as it would be
// alone, is the first part and each file a base64 part after it. Base64 and
// quoted-printable never write "=_", so no part can hold the boundary.
void MixedBoundary(int nNumber, char* pszBoundary, size_t cchBoundary)
{
    snprintf(pszBoundary, cchBoundary, "=_mixed_%04d", nNumber);
}

void OpenMixedBody(std::string& out, int nNumber)
{
    char szBoundary[48];
    MixedBoundary(nNumber, szBoundary, sizeof(szBoundary));
    AppendHeader(out, "Content-Type", std::string("multipart/mixed; boundary=\"") + szBoundary + "\"");
    out += "\r\n";
    out += std::string("--") + szBoundary + "\r\n";
}

// A file name as a quoted parameter value: ASCII as it is, anything else as
// encoded words, as mail programs read a filename.
std::string FileNameParameter(const wchar_t* pszName)
{
    std::string utf8 = WideToUtf8(pszName ? pszName : L"");
    std::string value = IsPlainHeaderText(utf8) ? utf8 : EncodedWords(utf8);
    std::string quoted = "\"";
    for (char c : value) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

void CloseMixedBody(std::string& out, const OutgoingMessage* pMessage, int nNumber)
{
    char szBoundary[48];
    MixedBoundary(nNumber, szBoundary, sizeof(szBoundary));
    for (size_t i = 0; i < pMessage->cAttachments; ++i) {
        const OutgoingAttachment& attachment = pMessage->pAttachments[i];
        std::string name = FileNameParameter(attachment.pszName);
        // The line end before a boundary belongs to the boundary.
        out += std::string("\r\n--") + szBoundary + "\r\n";
        AppendHeader(out, "Content-Type", "application/octet-stream; name=" + name);
        AppendHeader(out, "Content-Transfer-Encoding", "base64");
        AppendHeader(out, "Content-Disposition", "attachment; filename=" + name);
        out += "\r\n";
        // In lines of 76 characters, as mail transports require.
        std::string encoded;
        AppendBase64(encoded, attachment.pb, attachment.cb);
        for (size_t nPos = 0; nPos < encoded.size(); nPos += 76) {
            if (nPos > 0)
                out += "\r\n";
            out.append(encoded, nPos, 76);
        }
    }
    out += std::string("\r\n--") + szBoundary + "--\r\n";
}

bool BuildMessage(const OutgoingMessage* pMessage, int nNumber, std::string* pText)
{
    std::string& out = *pText;
    if (pMessage->pszFrom && pMessage->pszFrom[0] != '\0')
        AppendHeader(out, "From", SenderValue(pMessage->pszFrom));
    if (pMessage->pszSender && pMessage->pszSender[0] != '\0')
        AppendHeader(out, "Sender", SenderValue(pMessage->pszSender));
    std::string replyTo;
    for (size_t i = 0; i < pMessage->cReplyTo; ++i) {
        std::string mailbox = MailboxText(WideToUtf8(pMessage->ppszReplyTo[i] ? pMessage->ppszReplyTo[i] : L""));
        if (mailbox.empty())
            continue;
        if (!replyTo.empty())
            replyTo += ", ";
        replyTo += mailbox;
    }
    if (!replyTo.empty())
        AppendHeader(out, "Reply-To", replyTo);

    if (pMessage->pszTo) {
        std::string displayName = pMessage->pszDisplayName ? AnsiToUtf8(pMessage->pszDisplayName) : std::string();
        AppendHeader(out, "To", MailboxValue(displayName, pMessage->pszTo));
    } else {
        static const struct {
            LONG nType;
            const char* pszHeader;
        } kKinds[] = { { 1, "To" }, { 2, "Cc" } };
        // Bcc recipients are named by no header: a transport delivers to
        // them through the envelope alone (see BuildEnvelope).
        for (const auto& kind : kKinds) {
            std::string value;
            for (size_t i = 0; i < pMessage->cRecipients; ++i) {
                const OutgoingRecipient& recipient = pMessage->pRecipients[i];
                if (recipient.nType != kind.nType)
                    continue;
                std::string name = recipient.pszDisplayName ? AnsiToUtf8(recipient.pszDisplayName) : std::string();
                if (!value.empty())
                    value += ", ";
                value += MailboxValue(name, recipient.pszAddress);
            }
            if (!value.empty())
                AppendHeader(out, kind.pszHeader, value);
        }
    }

    if (pMessage->pszSubject)
        AppendHeader(out, "Subject", UnstructuredValue(WideToUtf8(pMessage->pszSubject)));

    std::string date;
    if (!DateValue(&pMessage->ftSent, &date))
        return false;
    AppendHeader(out, "Date", date);

    char szMessageId[96];
    snprintf(szMessageId, sizeof(szMessageId), "<%04d.%08lX%08lX@%s>", nNumber,
             (unsigned long)pMessage->ftSent.dwHighDateTime, (unsigned long)pMessage->ftSent.dwLowDateTime,
             STANDIN_MESSAGE_ID_DOMAIN);
    AppendHeader(out, "Message-ID", szMessageId);
    AppendHeader(out, "MIME-Version", "1.0");
    if (pMessage->cAttachments > 0)
        OpenMixedBody(out, nNumber);

    // Empty texts count as none. HTML goes with the plain body as its
    // text/plain alternative, as a MAPI transport sends it.
    std::string html;
    std::string htmlType;
    size_t cbHtml = pMessage->pbHtml ? pMessage->cbHtml : 0;
    while (cbHtml > 0 && pMessage->pbHtml[cbHtml - 1] == 0)
        --cbHtml;
    if (cbHtml > 0) {
        html.assign((const char*)pMessage->pbHtml, cbHtml);
        std::string charset = FindHtmlMetaCharset(pMessage->pbHtml, cbHtml);
        if (charset.empty()) {
            char szCharset[32];
            CharsetNameForCodePage(GetACP(), szCharset, sizeof(szCharset));
            charset = szCharset;
        }
        htmlType = "text/html; charset=" + charset;
    } else if (pMessage->pszHtml && pMessage->pszHtml[0] != L'\0') {
        html = WideToUtf8(pMessage->pszHtml);
        htmlType = "text/html; charset=utf-8";
    }
    std::string plain;
    bool bPlain = pMessage->pszBody != NULL;
    if (bPlain)
        plain = WideToUtf8(pMessage->pszBody);

    if (!htmlType.empty() && bPlain) {
        // Quoted-printable never writes "=_", so no part can hold the boundary.
        char szBoundary[48];
        snprintf(szBoundary, sizeof(szBoundary), "=_alternative_%04d", nNumber);
        AppendHeader(out, "Content-Type", std::string("multipart/alternative; boundary=\"") + szBoundary + "\"");
        out += "\r\n";
        const std::string* pParts[2] = { &plain, &html };
        const std::string types[2] = { "text/plain; charset=utf-8", htmlType };
        for (int i = 0; i < 2; ++i) {
            out += std::string("--") + szBoundary + "\r\n";
            AppendHeader(out, "Content-Type", types[i]);
            AppendHeader(out, "Content-Transfer-Encoding", "quoted-printable");
            out += "\r\n";
            AppendQuotedPrintable(out, (const unsigned char*)pParts[i]->data(), pParts[i]->size());
            // The line end before a boundary belongs to the boundary.
            out += "\r\n";
        }
        out += std::string("--") + szBoundary + "--\r\n";
        return true;
    }
    const std::string& body = htmlType.empty() ? plain : html;
    if (!htmlType.empty() || bPlain) {
        AppendHeader(out, "Content-Type", htmlType.empty() ? "text/plain; charset=utf-8" : htmlType);
        AppendHeader(out, "Content-Transfer-Encoding", "quoted-printable");
    }
    out += "\r\n";
    AppendQuotedPrintable(out, (const unsigned char*)body.data(), body.size());
    return true;
}

// The SMTP envelope: MAIL FROM the sender's address, then RCPT TO every
// recipient, To first, then Cc, then Bcc, each kind in the order given.
std::string BuildEnvelope(const OutgoingMessage* pMessage)
{
    // The one who sends: the account given, else the Sender, else From.
    const char* pszSender = pMessage->pszSender && pMessage->pszSender[0] ? pMessage->pszSender : pMessage->pszFrom;
    std::string from = pMessage->pszEnvelopeFrom ? std::string(pMessage->pszEnvelopeFrom)
                       : pszSender              ? AddressOfMailbox(pszSender)
                                                : std::string();
    // A control in the address could start another line of the envelope.
    for (char& c : from) {
        if ((unsigned char)c < 0x20 || c == 0x7F)
            c = ' ';
    }
    std::string envelope = "MAIL FROM:<" + from + ">\r\n";
    if (pMessage->pszTo)
        return envelope + "RCPT TO:<" + pMessage->pszTo + ">\r\n";
    // MAPI_TO 1, MAPI_CC 2, MAPI_BCC 3.
    for (LONG nType = 1; nType <= 3; ++nType) {
        for (size_t i = 0; i < pMessage->cRecipients; ++i) {
            if (pMessage->pRecipients[i].nType == nType)
                envelope += std::string("RCPT TO:<") + pMessage->pRecipients[i].pszAddress + ">\r\n";
        }
    }
    return envelope;
}

// The whole text under a temporary name in the folder, made new (one left
// behind by an earlier process of the same name is emptied); the temporary
// name back in *pTemp. False, with nothing left, when a write fails.
bool WriteTemporaryFile(const char* pszTemp, const std::string& text)
{
    // Made new, not emptied: a file system that sees a file emptied and then
    // written (ext4) writes it to disk at once when it is closed.
    HANDLE hFile = CreateFileA(pszTemp, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS)
        hFile = CreateFileA(pszTemp, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    DWORD cbWritten = 0;
    bool bWritten = WriteFile(hFile, text.data(), (DWORD)text.size(), &cbWritten, NULL) && cbWritten == text.size();
    if (!CloseHandle(hFile))
        bWritten = false;
    if (!bWritten)
        DeleteFileA(pszTemp);
    return bWritten;
}

}  // namespace

// ------------------------------------------------------------------ public

bool IsDeliverableAddress(const char* pszAddress)
{
    if (!pszAddress)
        return false;
    size_t cch = strlen(pszAddress);
    if (cch == 0 || cch > 254)
        return false;
    const char* pAt = strchr(pszAddress, '@');
    if (!pAt || strchr(pAt + 1, '@'))
        return false;
    size_t cchLocal = (size_t)(pAt - pszAddress);
    if (cchLocal > 64 || !IsDotAtom(pszAddress, cchLocal))
        return false;
    const char* pDomain = pAt + 1;
    size_t cchDomain = cch - cchLocal - 1;
    return IsDomainName(pDomain, cchDomain) || IsIpv4Literal(pDomain, cchDomain);
}

void CharsetNameForCodePage(UINT nCodePage, char* pszName, size_t cchName)
{
    if (!pszName || cchName == 0)
        return;
    const char* pszKnown = NULL;
    switch (nCodePage) {
    case 65001: pszKnown = "utf-8"; break;
    case 932: pszKnown = "shift_jis"; break;
    case 936: pszKnown = "gbk"; break;
    case 949: pszKnown = "ks_c_5601-1987"; break;
    case 950: pszKnown = "big5"; break;
    case 20127: pszKnown = "us-ascii"; break;
    case 28591: pszKnown = "iso-8859-1"; break;
    }
    char szName[32];
    if (pszKnown)
        snprintf(szName, sizeof(szName), "%s", pszKnown);
    else
        snprintf(szName, sizeof(szName), "windows-%u", nCodePage);
    if (strlen(szName) >= cchName) {
        pszName[0] = '\0';
        return;
    }
    strcpy(pszName, szName);
}

UINT CodePageForCharsetName(const char* pszCharset)
{
    if (!pszCharset)
        return 0;
    std::string name = LowerAscii(std::string(pszCharset));
    struct NamedCodePage {
        const char* pszName;
        UINT nCodePage;
    };
    static const NamedCodePage kNames[] = {
        {"utf-8", 65001},        {"utf8", 65001},         {"us-ascii", 20127},     {"ascii", 20127},
        {"iso-8859-1", 28591},   {"latin1", 28591},       {"iso-8859-2", 28592},   {"iso-8859-15", 28605},
        {"shift_jis", 932},      {"shift-jis", 932},      {"sjis", 932},           {"x-sjis", 932},
        {"euc-jp", 20932},       {"iso-2022-jp", 50220},  {"gbk", 936},            {"gb2312", 936},
        {"big5", 950},           {"ks_c_5601-1987", 949}, {"euc-kr", 949},         {"koi8-r", 20866},
        {"cp1252", 1252},
    };
    for (const NamedCodePage& entry : kNames) {
        if (name == entry.pszName)
            return entry.nCodePage;
    }
    if (name.compare(0, 8, "windows-") == 0 && name.size() > 8 && name.size() <= 13) {
        UINT nCodePage = 0;
        for (size_t i = 8; i < name.size(); ++i) {
            if (name[i] < '0' || name[i] > '9')
                return 0;
            nCodePage = nCodePage * 10 + (UINT)(name[i] - '0');
        }
        return IsValidCodePage(nCodePage) ? nCodePage : 0;
    }
    return 0;
}

std::string FindHtmlMetaCharset(const unsigned char* pbHtml, size_t cbHtml)
{
    if (!pbHtml)
        return std::string();
    std::string lower = LowerAscii(std::string((const char*)pbHtml, cbHtml));
    size_t nPos = 0;
    for (;;) {
        size_t nMeta = lower.find("<meta", nPos);
        if (nMeta == std::string::npos)
            return std::string();
        size_t nClose = lower.find('>', nMeta);
        if (nClose == std::string::npos)
            nClose = lower.size();
        nPos = nMeta + 5;
        size_t nCharset = lower.find("charset", nPos);
        while (nCharset != std::string::npos && nCharset < nClose) {
            size_t i = nCharset + 7;
            while (i < nClose && (lower[i] == ' ' || lower[i] == '\t' || lower[i] == '\r' || lower[i] == '\n'))
                ++i;
            if (i < nClose && lower[i] == '=') {
                ++i;
                while (i < nClose && (lower[i] == ' ' || lower[i] == '\t' || lower[i] == '"' || lower[i] == '\''))
                    ++i;
                size_t nStart = i;
                while (i < nClose && (IsAsciiLetterOrDigit((unsigned char)lower[i]) || lower[i] == '-' ||
                                      lower[i] == '_' || lower[i] == '.' || lower[i] == '+'))
                    ++i;
                if (i > nStart && i - nStart <= 40)
                    return std::string((const char*)pbHtml + nStart, i - nStart);
            }
            nCharset = lower.find("charset", nCharset + 7);
        }
    }
}

bool WriteDeliveredMessage(const char* pszFolder, int nNumber, const OutgoingMessage* pMessage)
{
    if (!pszFolder || !pMessage || nNumber < 1 || nNumber > 99999999)
        return false;
    if (pMessage->pszTo) {
        if (!IsDeliverableAddress(pMessage->pszTo))
            return false;
    } else {
        if (pMessage->cRecipients == 0 || !pMessage->pRecipients)
            return false;
        for (size_t i = 0; i < pMessage->cRecipients; ++i) {
            const OutgoingRecipient& recipient = pMessage->pRecipients[i];
            if (!IsDeliverableAddress(recipient.pszAddress) || recipient.nType < 1 || recipient.nType > 3)
                return false;
        }
    }
    // A missing folder fails the temporary file's creation, and a delivered
    // file already there the move to its name: nothing asks beforehand.
    size_t cchFolder = strlen(pszFolder);
    if (cchFolder == 0)
        return false;
    const char* pszSeparator = (pszFolder[cchFolder - 1] == '\\' || pszFolder[cchFolder - 1] == '/') ? "" : "\\";
    // The longest name is "~99999999-4294967295.tmp".
    if (cchFolder + 1 + 32 >= MAX_PATH)
        return false;

    char szPath[MAX_PATH];
    char szTemp[MAX_PATH];
    char szEnvelope[MAX_PATH];
    char szEnvelopeTemp[MAX_PATH];
    snprintf(szPath, sizeof(szPath), "%s%s%04d.eml", pszFolder, pszSeparator, nNumber);
    snprintf(szTemp, sizeof(szTemp), "%s%s~%04d-%lu.tmp", pszFolder, pszSeparator, nNumber,
             (unsigned long)GetCurrentProcessId());
    snprintf(szEnvelope, sizeof(szEnvelope), "%s%s%04d.envelope", pszFolder, pszSeparator, nNumber);
    snprintf(szEnvelopeTemp, sizeof(szEnvelopeTemp), "%s%s~%04d-%lu.env", pszFolder, pszSeparator, nNumber,
             (unsigned long)GetCurrentProcessId());

    std::string text;
    if (!BuildMessage(pMessage, nNumber, &text))
        return false;
    if (pMessage->cAttachments > 0)
        CloseMixedBody(text, pMessage, nNumber);

    // Each file written in full under a temporary name and only then given
    // its own, so that no reader ever sees half of one and a failure leaves
    // nothing. The envelope takes its name first: a .eml is never without it.
    if (!WriteTemporaryFile(szEnvelopeTemp, BuildEnvelope(pMessage)))
        return false;
    bool bEnvelope = MoveFileExA(szEnvelopeTemp, szEnvelope, MOVEFILE_WRITE_THROUGH) != FALSE;
    // An envelope without its message is one a process left when it died
    // between the two; only then, rarely, is the message's name asked after.
    DWORD dwMoveError = bEnvelope ? 0 : GetLastError();
    if ((dwMoveError == ERROR_ALREADY_EXISTS || dwMoveError == ERROR_FILE_EXISTS) &&
        GetFileAttributesA(szPath) == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_FILE_NOT_FOUND)
        bEnvelope = MoveFileExA(szEnvelopeTemp, szEnvelope, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    if (!bEnvelope) {
        DeleteFileA(szEnvelopeTemp);
        return false;
    }
    bool bDone = WriteTemporaryFile(szTemp, text) && MoveFileExA(szTemp, szPath, MOVEFILE_WRITE_THROUGH) != FALSE;
    if (!bDone) {
        DeleteFileA(szTemp);
        DeleteFileA(szEnvelope);
    }
    return bDone;
}

namespace {

// Encoded words decoded to UTF-8; white space between two of them dropped,
// anything that is not a whole, well-formed encoded word left as it stands.
bool DecodeEncodedWord(const std::string& word, std::string* pUtf8)
{
    if (word.size() < 8 || word.compare(0, 2, "=?") != 0 || word.compare(word.size() - 2, 2, "?=") != 0)
        return false;
    size_t nCharsetEnd = word.find('?', 2);
    if (nCharsetEnd == std::string::npos || nCharsetEnd + 3 > word.size() - 2 || word[nCharsetEnd + 2] != '?')
        return false;
    std::string charset = word.substr(2, nCharsetEnd - 2);
    size_t nLanguage = charset.find('*');
    if (nLanguage != std::string::npos)
        charset.erase(nLanguage);
    char cEncoding = LowerAscii(word[nCharsetEnd + 1]);
    std::string text = word.substr(nCharsetEnd + 3, word.size() - 2 - (nCharsetEnd + 3));
    if (text.find('?') != std::string::npos)
        return false;
    UINT nCodePage = CodePageForCharsetName(charset.c_str());
    if (nCodePage == 0)
        return false;
    std::string bytes;
    if (cEncoding == 'b') {
        if (!DecodeBase64(text, &bytes))
            return false;
    } else if (cEncoding == 'q') {
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '_') {
                bytes += ' ';
            } else if (text[i] == '=') {
                if (i + 2 >= text.size())
                    return false;
                int nHigh = HexValue(text[i + 1]), nLow = HexValue(text[i + 2]);
                if (nHigh < 0 || nLow < 0)
                    return false;
                bytes += (char)(nHigh * 16 + nLow);
                i += 2;
            } else {
                bytes += text[i];
            }
        }
    } else {
        return false;
    }
    return BytesToUtf8(nCodePage, bytes, pUtf8);
}

std::string DecodeHeaderValue(const std::string& value)
{
    std::string decoded;
    std::string space;
    bool bAfterEncoded = false;
    size_t nPos = 0;
    while (nPos < value.size()) {
        if (IsWsp(value[nPos])) {
            space += value[nPos++];
            continue;
        }
        size_t nEnd = nPos;
        while (nEnd < value.size() && !IsWsp(value[nEnd]))
            ++nEnd;
        std::string word = value.substr(nPos, nEnd - nPos);
        std::string text;
        bool bEncoded = DecodeEncodedWord(word, &text);
        if (!(bEncoded && bAfterEncoded))
            decoded += space;
        decoded += bEncoded ? text : word;
        space.clear();
        bAfterEncoded = bEncoded;
        nPos = nEnd;
    }
    return decoded + space;
}

// The value of one parameter of a header value ("boundary", "charset"),
// unquoted; empty when absent.
std::string HeaderParameter(const std::string& value, const char* pszName)
{
    size_t nSemicolon = value.find(';');
    while (nSemicolon != std::string::npos) {
        size_t nNext = value.find(';', nSemicolon + 1);
        std::string parameter = value.substr(nSemicolon + 1, nNext == std::string::npos ? std::string::npos
                                                                                       : nNext - nSemicolon - 1);
        nSemicolon = nNext;
        size_t nEquals = parameter.find('=');
        if (nEquals == std::string::npos || LowerAscii(TrimWsp(parameter.substr(0, nEquals))) != pszName)
            continue;
        std::string text = TrimWsp(parameter.substr(nEquals + 1));
        if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
            text = text.substr(1, text.size() - 2);
        return text;
    }
    return std::string();
}

// The media type in lower case and the charset parameter, unquoted.
void ParseContentType(const std::string& value, std::string* pType, std::string* pCharset)
{
    *pType = LowerAscii(TrimWsp(value.substr(0, value.find(';'))));
    *pCharset = HeaderParameter(value, "charset");
}

bool ReadFileBytes(const char* pszPath, std::string* pBytes)
{
    pBytes->clear();
    HANDLE hFile = CreateFileA(pszPath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    bool bOk = true;
    char buffer[16384];
    for (;;) {
        DWORD cbRead = 0;
        if (!ReadFile(hFile, buffer, sizeof(buffer), &cbRead, NULL)) {
            bOk = false;
            break;
        }
        if (cbRead == 0)
            break;
        pBytes->append(buffer, cbRead);
    }
    CloseHandle(hFile);
    return bOk;
}

}  // namespace

namespace {

typedef std::vector<std::pair<std::string, std::string>> HeaderFields;

// Header lines end in CR LF, nothing else; a line that starts with white
// space continues the one before it.
bool ParseHeaderFields(const std::string& headers, HeaderFields* pFields)
{
    size_t nPos = 0;
    while (nPos < headers.size()) {
        size_t nEnd = headers.find("\r\n", nPos);
        std::string line = headers.substr(nPos, nEnd - nPos);
        nPos = nEnd + 2;
        if (line.find_first_of("\r\n") != std::string::npos)
            return false;
        if (!line.empty() && IsWsp(line[0])) {
            if (pFields->empty())
                return false;
            pFields->back().second += line;
            continue;
        }
        size_t nColon = line.find(':');
        if (nColon == std::string::npos || nColon == 0)
            return false;
        for (size_t i = 0; i < nColon; ++i) {
            unsigned char c = (unsigned char)line[i];
            if (c < 33 || c > 126)
                return false;
        }
        pFields->emplace_back(line.substr(0, nColon), line.substr(nColon + 1));
    }
    return true;
}

// One body with its own type and encoding: bytes undone from the transfer
// encoding, and the same as UTF-8 from the charset.
struct BodyPart {
    std::string contentType, charset, transferEncoding, bytes, utf8;
};

bool DecodeBodyPart(const std::string& contentTypeValue, const std::string& encoding, const std::string& encodedBody,
                    BodyPart* pPart)
{
    ParseContentType(contentTypeValue, &pPart->contentType, &pPart->charset);
    pPart->transferEncoding = encoding;
    if (encoding == "quoted-printable") {
        if (!DecodeQuotedPrintable(encodedBody, &pPart->bytes))
            return false;
    } else if (encoding == "base64") {
        if (!DecodeBase64(encodedBody, &pPart->bytes))
            return false;
    } else if (encoding.empty() || encoding == "7bit" || encoding == "8bit" || encoding == "binary") {
        pPart->bytes = encodedBody;
    } else {
        return false;
    }
    // Without a charset the body is US-ASCII, so any other byte is an error.
    UINT nCodePage = pPart->charset.empty() ? 20127 : CodePageForCharsetName(pPart->charset.c_str());
    if (nCodePage == 0)
        return false;
    if (nCodePage == 20127) {
        for (char c : pPart->bytes) {
            if ((unsigned char)c > 0x7F)
                return false;
        }
        pPart->utf8 = pPart->bytes;
        return true;
    }
    return BytesToUtf8(nCodePage, pPart->bytes, &pPart->utf8);
}

// The parts of a multipart body between "--boundary" lines, up to the closing
// "--boundary--"; false when a delimiter or a part's headers are malformed.
bool ReadAlternatives(const std::string& body, const std::string& boundary, std::vector<BodyPart>* pParts)
{
    if (boundary.empty())
        return false;
    std::string delimiter = "--" + boundary;
    std::string text = "\r\n" + body;
    size_t nPos = text.find("\r\n" + delimiter + "\r\n");
    if (nPos == std::string::npos)
        return false;
    nPos += 2 + delimiter.size() + 2;
    for (;;) {
        size_t nNext = text.find("\r\n" + delimiter, nPos);
        if (nNext == std::string::npos)
            return false;
        std::string part = text.substr(nPos, nNext - nPos);
        size_t nHeaderEnd = part.find("\r\n\r\n");
        std::string headers = nHeaderEnd == std::string::npos ? std::string() : part.substr(0, nHeaderEnd + 2);
        std::string encoded = nHeaderEnd == std::string::npos ? std::string() : part.substr(nHeaderEnd + 4);
        if (part.compare(0, 2, "\r\n") == 0) {
            headers.clear();
            encoded = part.substr(2);
        } else if (nHeaderEnd == std::string::npos) {
            return false;
        }
        HeaderFields fields;
        if (!ParseHeaderFields(headers, &fields))
            return false;
        std::string contentType = "text/plain";
        std::string encoding;
        for (const auto& field : fields) {
            std::string name = LowerAscii(field.first);
            if (name == "content-type")
                contentType = TrimWsp(field.second);
            else if (name == "content-transfer-encoding")
                encoding = LowerAscii(TrimWsp(field.second));
        }
        BodyPart decoded;
        if (!DecodeBodyPart(contentType, encoding, encoded, &decoded))
            return false;
        pParts->push_back(decoded);
        nPos = nNext + 2 + delimiter.size();
        if (text.compare(nPos, 2, "--") == 0)
            return true;
        if (text.compare(nPos, 2, "\r\n") != 0)
            return false;
        nPos += 2;
    }
}

// The raw parts of a multipart body, each its header section and its
// still encoded body; false when a delimiter or a part is malformed.
bool SplitMultipart(const std::string& body, const std::string& boundary,
                    std::vector<std::pair<HeaderFields, std::string>>* pParts)
{
    if (boundary.empty())
        return false;
    std::string delimiter = "\r\n--" + boundary;
    std::string text = "\r\n" + body;
    size_t nPos = text.find(delimiter + "\r\n");
    if (nPos == std::string::npos)
        return false;
    nPos += delimiter.size() + 2;
    for (;;) {
        size_t nNext = text.find(delimiter, nPos);
        if (nNext == std::string::npos)
            return false;
        std::string part = text.substr(nPos, nNext - nPos);
        HeaderFields fields;
        std::string encoded;
        if (part.compare(0, 2, "\r\n") == 0) {
            encoded = part.substr(2);
        } else {
            size_t nHeaderEnd = part.find("\r\n\r\n");
            if (nHeaderEnd == std::string::npos || !ParseHeaderFields(part.substr(0, nHeaderEnd + 2), &fields))
                return false;
            encoded = part.substr(nHeaderEnd + 4);
        }
        pParts->emplace_back(fields, encoded);
        nPos = nNext + delimiter.size();
        if (text.compare(nPos, 2, "--") == 0)
            return true;
        if (text.compare(nPos, 2, "\r\n") != 0)
            return false;
        nPos += 2;
    }
}

// The value of a header of a part, trimmed; empty when it has none.
std::string FieldValue(const HeaderFields& fields, const char* pszName)
{
    for (const auto& field : fields) {
        if (LowerAscii(field.first) == pszName)
            return TrimWsp(field.second);
    }
    return std::string();
}

// Of a multipart/mixed message: the first part becomes the body to read,
// the others its attachments.
bool ReadMixedParts(std::string* pContentTypeValue, std::string* pEncoding, std::string* pEncodedBody,
                    std::vector<DeliveredAttachment>* pAttachments)
{
    std::vector<std::pair<HeaderFields, std::string>> parts;
    if (!SplitMultipart(*pEncodedBody, HeaderParameter(*pContentTypeValue, "boundary"), &parts) || parts.empty())
        return false;
    for (size_t i = 1; i < parts.size(); ++i) {
        const HeaderFields& fields = parts[i].first;
        DeliveredAttachment attachment;
        std::string contentType = FieldValue(fields, "content-type");
        std::string charset;
        ParseContentType(contentType, &attachment.contentType, &charset);
        std::string name = HeaderParameter(FieldValue(fields, "content-disposition"), "filename");
        if (name.empty())
            name = HeaderParameter(contentType, "name");
        attachment.name = DecodeHeaderValue(name);
        if (LowerAscii(FieldValue(fields, "content-transfer-encoding")) != "base64" ||
            !DecodeBase64(parts[i].second, &attachment.bytes))
            return false;
        pAttachments->push_back(attachment);
    }
    *pContentTypeValue = FieldValue(parts[0].first, "content-type");
    *pEncoding = LowerAscii(FieldValue(parts[0].first, "content-transfer-encoding"));
    *pEncodedBody = parts[0].second;
    return true;
}

// The envelope beside a delivered file (NNNN.envelope for NNNN.eml), when
// there is one: false only for one that is there and not as written.
bool ReadEnvelope(const char* pszPath, DeliveredView* pView)
{
    std::string path(pszPath);
    if (path.size() < 4 || LowerAscii(path.substr(path.size() - 4)) != ".eml")
        return true;
    path.replace(path.size() - 4, 4, ".envelope");
    std::string text;
    if (!ReadFileBytes(path.c_str(), &text))
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
    const std::string kFrom = "MAIL FROM:<";
    const std::string kTo = "RCPT TO:<";
    size_t nPos = 0;
    bool bFirst = true;
    while (nPos < text.size()) {
        size_t nEnd = text.find("\r\n", nPos);
        if (nEnd == std::string::npos)
            return false;
        std::string line = text.substr(nPos, nEnd - nPos);
        nPos = nEnd + 2;
        const std::string& command = bFirst ? kFrom : kTo;
        if (line.compare(0, command.size(), command) != 0 || line.back() != '>')
            return false;
        std::string address = line.substr(command.size(), line.size() - command.size() - 1);
        if (bFirst)
            pView->envelopeFrom = address;
        else
            pView->envelopeTo.push_back(address);
        bFirst = false;
    }
    if (bFirst || pView->envelopeTo.empty())
        return false;
    pView->bHasEnvelope = true;
    return true;
}

}  // namespace

bool ReadDeliveredMessage(const char* pszPath, DeliveredView* pView)
{
    if (!pszPath || !pView)
        return false;
    *pView = DeliveredView();
    pView->bHtml = false;
    pView->bAlternative = false;
    pView->bHasPlain = false;
    std::string file;
    if (!ReadFileBytes(pszPath, &file))
        return false;

    size_t nHeaderEnd = file.find("\r\n\r\n");
    if (nHeaderEnd == std::string::npos)
        return false;
    std::string headers = file.substr(0, nHeaderEnd + 2);
    std::string encodedBody = file.substr(nHeaderEnd + 4);
    HeaderFields fields;
    if (!ParseHeaderFields(headers, &fields))
        return false;

    std::string contentTypeValue;
    std::string encoding;
    for (const auto& field : fields) {
        pView->headerNames.push_back(field.first);
        std::string name = LowerAscii(field.first);
        std::string value = TrimWsp(field.second);
        if (name == "from")
            pView->from = DecodeHeaderValue(value);
        else if (name == "to")
            pView->to = DecodeHeaderValue(value);
        else if (name == "cc")
            pView->cc = DecodeHeaderValue(value);
        else if (name == "bcc")
            pView->bcc = DecodeHeaderValue(value);
        else if (name == "reply-to")
            pView->replyTo = DecodeHeaderValue(value);
        else if (name == "sender")
            pView->sender = DecodeHeaderValue(value);
        else if (name == "subject")
            pView->subject = DecodeHeaderValue(value);
        else if (name == "date")
            pView->date = value;
        else if (name == "message-id")
            pView->messageId = value;
        else if (name == "mime-version")
            pView->mimeVersion = value;
        else if (name == "content-type")
            contentTypeValue = value;
        else if (name == "content-transfer-encoding")
            encoding = LowerAscii(value);
    }

    if (!ReadEnvelope(pszPath, pView))
        return false;

    std::vector<BodyPart> parts;
    std::string topType, topCharset;
    ParseContentType(contentTypeValue, &topType, &topCharset);
    if (topType == "multipart/mixed") {
        if (!ReadMixedParts(&contentTypeValue, &encoding, &encodedBody, &pView->attachments))
            return false;
        ParseContentType(contentTypeValue, &topType, &topCharset);
    }
    if (topType == "multipart/alternative") {
        if (!ReadAlternatives(encodedBody, HeaderParameter(contentTypeValue, "boundary"), &parts) || parts.empty())
            return false;
        pView->bAlternative = true;
    } else {
        parts.resize(1);
        if (!DecodeBodyPart(contentTypeValue, encoding, encodedBody, &parts[0]))
            return false;
    }
    // The view shows the last, richest alternative; the plain one apart.
    const BodyPart& shown = parts.back();
    pView->contentType = shown.contentType;
    pView->charset = shown.charset;
    pView->transferEncoding = shown.transferEncoding;
    pView->bodyBytes = shown.bytes;
    pView->body = shown.utf8;
    pView->bHtml = (shown.contentType == "text/html");
    for (const BodyPart& part : parts) {
        if (part.contentType == "text/plain") {
            pView->bHasPlain = true;
            pView->plainBody = part.utf8;
        }
    }
    return true;
}
