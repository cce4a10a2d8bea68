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
// To and Cc recipients are named in the headers as sent; Bcc recipients are
// in no header at all, as a transport delivers them: they are only in the
// envelope, the file NNNN.envelope written beside NNNN.eml (see
// WriteDeliveredMessage). With HTML and a plain body it goes as multipart/alternative: the plain
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
    // The account that sends a message from someone else (From): the Sender
    // header, e.g. "Stand-in User <work@example.com>"; NULL: none.
    const char* pszSender = NULL;
    // Where replies go: the Reply-To header, each entry an address as given
    // ("a@b.c" or "Name <a@b.c>"), comma-separated; none: no Reply-To.
    const wchar_t* const* ppszReplyTo = NULL;
    size_t cReplyTo = 0;
    // The envelope's sender (MAIL FROM); NULL: the address of pszSender,
    // else of pszFrom.
    const char* pszEnvelopeFrom = NULL;
};

// The domain of every Message-ID the stand-in writes.
#define STANDIN_MESSAGE_ID_DOMAIN "standin.example"

// True for an address a transport would accept: a dot-atom local part of at
// most 64 characters, one '@', and a domain of at least two dot-separated
// labels (letters, digits, inner hyphens; 63 characters each) or an IPv4
// literal in brackets; 254 characters in all, ASCII only.
bool IsDeliverableAddress(const char* pszAddress);

// Writes <pszFolder>\<nNumber as %04d>.eml and, beside it, its SMTP
// envelope <nNumber as %04d>.envelope: the line "MAIL FROM:<address>", then
// one line "RCPT TO:<address>" per recipient (To first, then Cc, then Bcc,
// each in the order given), every line ending in CR LF. The envelope is put
// in place first, so that a .eml that exists always has its whole envelope
// beside it. False, with nothing left behind and nothing overwritten, when
// the folder is missing, the file exists already, a recipient's address is
// not deliverable, there is no recipient at all or any write fails.
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

// replyTo and sender are the Reply-To and Sender headers, decoded; bcc is
// the Bcc header, which the stand-in no longer writes (empty). The envelope
// is read from the .envelope file beside the .eml when there is one
// (bHasEnvelope): envelopeFrom the MAIL FROM address, envelopeTo every
// RCPT TO address in order.
struct DeliveredView {
    std::string to, cc, bcc, from, subject, date, contentType, charset, body;
    std::string replyTo, sender;
    bool bHasEnvelope = false;
    std::string envelopeFrom;
    std::vector<std::string> envelopeTo;
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
// transfer encoding is unknown or broken, its charset cannot be converted,
// or an envelope beside it is not made of the lines WriteDeliveredMessage
// writes.
bool ReadDeliveredMessage(const char* pszPath, DeliveredView* pView);

#endif
