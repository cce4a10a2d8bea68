// Delivery files of the stand-in Outlook: the e-mail file that a flushed
// message becomes (RFC 5322 with MIME headers), the address check that a
// transport applies at submission, and a reader for tests that check what
// went out. Test and demo equipment only.
#ifndef LETTERCAST_STANDIN_DELIVERY_H
#define LETTERCAST_STANDIN_DELIVERY_H

#include <windows.h>

#include <stddef.h>

#include <string>
#include <vector>

// One more recipient of a message, beside or instead of pszTo.
struct OutgoingRecipient {
    const char* pszAddress;      // SMTP address
    const char* pszDisplayName;  // may equal the address; NULL or empty: the address alone
    LONG nType;                  // MAPI_TO 1, MAPI_CC 2, MAPI_BCC 3
};

// A file that goes with a message, under its own name.
struct OutgoingAttachment {
    const wchar_t* pszName;
    const unsigned char* pb;
    size_t cb;
};

// One submitted message. Narrow texts are in the system ANSI code page.
// Every recipient is named in the file: To and Cc as sent, and Bcc as the
// sender's copy keeps them, so that a reader sees everyone the message went
// to. With HTML and a plain body it goes as multipart/alternative: the plain
// body as text/plain, then the HTML. With attachments, that body is the
// first part of a multipart/mixed message and each file follows as a base64
// part of its own, named by Content-Disposition's filename.
struct OutgoingMessage {
    const char* pszTo;           // the SMTP address of the one recipient; NULL when pRecipients names them
    const char* pszDisplayName;  // may equal the address; NULL or empty: the address alone
    const OutgoingRecipient* pRecipients = NULL;   // used when pszTo is NULL, in this order
    size_t cRecipients = 0;
    const wchar_t* pszSubject;   // the subject as the item holds it; NULL: no Subject header
    const wchar_t* pszBody;      // plain body, or NULL
    const unsigned char* pbHtml; // HTML as stored bytes (PR_HTML), else NULL; a terminating zero is not part of it
    size_t cbHtml;
    const wchar_t* pszHtml;      // HTML as wide text (set through HTMLBody), used when pbHtml is NULL; NULL: no HTML
    const char* pszFrom;         // the sender, e.g. "Stand-in User <user@standin.example>"; NULL: no From header
    FILETIME ftSent;             // for the Date header (UTC)
    const OutgoingAttachment* pAttachments = NULL;   // in this order
    size_t cAttachments = 0;
};

// The domain of every Message-ID the stand-in writes.
#define STANDIN_MESSAGE_ID_DOMAIN "standin.example"

// True for an address a transport would accept: a dot-atom local part of at
// most 64 characters, one '@', and a domain of at least two dot-separated
// labels (letters, digits, inner hyphens; 63 characters each) or an IPv4
// literal in brackets; 254 characters in all, ASCII only.
bool IsDeliverableAddress(const char* pszAddress);

// Writes <pszFolder>\<nNumber as %04d>.eml. False, with nothing left behind
// and nothing overwritten, when the folder is missing, the file exists
// already, a recipient's address is not deliverable, there is no recipient
// at all or any write fails.
bool WriteDeliveredMessage(const char* pszFolder, int nNumber, const OutgoingMessage* pMessage);

// The MIME charset name of a Windows code page: "windows-1252", "shift_jis",
// "utf-8", ...; "windows-<cp>" for the ones without a name of their own.
void CharsetNameForCodePage(UINT nCodePage, char* pszName, size_t cchName);

// The code page for a MIME charset name (any case); 0 when unknown.
UINT CodePageForCharsetName(const char* pszCharset);

// The charset that a <meta> element of the HTML names, either as
// charset="..." or inside content="text/html; charset=..."; empty when none.
std::string FindHtmlMetaCharset(const unsigned char* pbHtml, size_t cbHtml);

// One delivered file read back. Header values are unfolded, trimmed and
// decoded (RFC 2047 encoded words, to UTF-8); contentType is the media type
// alone in lower case ("text/plain"), charset its charset parameter as
// written; bodyBytes is the body after its transfer encoding is undone and
// body the same converted from its charset to UTF-8. Of a
// multipart/alternative message these describe its last part (the HTML),
// and plainBody holds its text/plain part; of a plain message, plainBody is
// the body again. Of a multipart/mixed message they describe its first part
// and attachments lists the others.
struct DeliveredAttachment {
    std::string name;    // the filename parameter, UTF-8
    std::string contentType;
    std::string bytes;   // after base64 is undone
};

struct DeliveredView {
    std::string to, cc, bcc, from, subject, date, contentType, charset, body;
    bool bHtml;
    bool bAlternative;   // multipart/alternative
    bool bHasPlain;      // a text/plain body or part, in plainBody (UTF-8)
    std::string plainBody;
    std::vector<std::string> headerNames;   // in file order, as written
    std::string messageId, mimeVersion, transferEncoding;
    std::string bodyBytes;
    std::vector<DeliveredAttachment> attachments;
};

// False when the file cannot be read, its header section is malformed, its
// transfer encoding is unknown or broken, or its charset cannot be converted.
bool ReadDeliveredMessage(const char* pszPath, DeliveredView* pView);

#endif
