// One item of the store: the single record behind both the _MailItem view
// and the IMessage view of it, so that a change made through one is what the
// other reads.
#ifndef LETTERCAST_STANDIN_ITEM_RECORD_H
#define LETTERCAST_STANDIN_ITEM_RECORD_H

#include <windows.h>

#include <string>
#include <vector>

#include "standin/outlook/mapi_values.h"

// Which form of the HTML was written last, and so is the one that goes out.
enum HtmlSource {
    HtmlNone = 0,
    HtmlFromBytes = 1,   // PR_HTML
    HtmlFromText = 2,    // HTMLBody
};

// BodyFormat values of the object model.
enum {
    BodyFormatUnspecified = 0,
    BodyFormatPlain = 1,
    BodyFormatHtml = 2,
    BodyFormatRichText = 3,
};

// A file attached to an item: its bytes as they were when it was added, so
// that the item no longer depends on the file.
struct ItemAttachment {
    std::wstring wstrName;   // FileName and DisplayName: the file's own name
    std::wstring wstrSource; // the path it was added from
    std::string bytes;
};

class ItemRecord {
public:
    ItemRecord();
    ItemRecord(const ItemRecord&) = delete;
    ItemRecord& operator=(const ItemRecord&) = delete;

    void AddRef();
    void Release();

    // A new record with the same content, in no folder, never saved, not
    // submitted and not sent.
    ItemRecord* CopyContent() const;
    // Takes the content of another record (texts, properties, recipients,
    // attachments, the folder for the sent copy, the account it goes from,
    // whom it goes on behalf of, where replies go); where the item lies and
    // how far it went stay as they are.
    void AssignContent(const ItemRecord& source);
    // Exchanges the content of the two records, as AssignContent names it,
    // without copying it.
    void SwapContent(ItemRecord& other);

    // The texts as the object model shows them ("" when missing).
    std::wstring SubjectText() const;
    std::wstring BodyText() const;
    std::wstring HtmlBodyText() const;

    std::wstring OnBehalfOfText() const { return m_wstrOnBehalfOf; }
    void PutOnBehalfOf(const std::wstring& text) { m_wstrOnBehalfOf = text; }

    void PutSubject(const std::wstring& text);
    // Replaces the body; the HTML goes, so that what is sent is this text.
    void PutBody(const std::wstring& text);
    // Sets the HTML as text and makes the item HTML; where the store keeps
    // PR_HTML, it follows in the ANSI code page, and the plain body becomes
    // the text of the page at once, as the object model does.
    void PutHtmlBody(const std::wstring& text);
    void PutHtmlBytes(const std::string& bytes);
    void PutBodyFormat(int nFormat);
    // The plain body alone, as PR_BODY_A or PR_BODY_W sets it: the other form
    // follows in the ANSI code page; the HTML stays as it was.
    void PutNarrowBody(const std::string& bytes);
    void PutWideBody(const std::wstring& text);

    // The HTML that goes out, if any: bytes (pbHtml) or text.
    bool OutgoingHtml(const std::string** ppBytes, const std::wstring** ppText) const;

    // The display names of one kind of recipient (MAPI_TO, MAPI_CC,
    // MAPI_BCC), "; " between them, as the object model's To, CC and BCC
    // read them; a row without a type counts as To.
    std::wstring RecipientsText(LONG nType) const;

    // The item file: a header line, then one "Name: value" line per field;
    // the second line is always "To: " and the item's To, so that a reader
    // of many files finds it without reading further.
    // Each body is kept once, as its own bytes ("Body.W: 24 bytes", a line
    // end, the bytes, a line end; UTF-16LE for the wide texts); a text made
    // from another is a note of how it is made ("Body.A: Body.W in the ANSI
    // code page"). The folder is the one the file lies in, the item number
    // the one of its name, so that a file moves with its item unchanged.
    // pszSentFolder names the folder of SaveSentMessageFolder and
    // pszAccount the address of SendUsingAccount (NULL: none).
    std::string FileText(const char* pszSentFolder, const char* pszAccount) const;
    // The bodies of an item file back, exactly as FileText wrote them, made
    // texts made again: subject to nothing else of the record; false for a
    // text that is not such a file.
    static bool ReadFileBodies(const std::string& text, ItemRecord* pRecord);

    int m_nNumber;          // names the file; 0 until first saved
    int m_nFolder;          // StandinFolder of outlook_host.h
    bool m_bSaved;          // the file exists
    bool m_bDeleted;
    bool m_bFiled;          // counted among the host's Sent Mail items
    int m_nFiledStore;      // of the store whose Sent Mail counts it
    bool m_bFileCurrent;    // the file holds the record as it is now

    bool m_bHasSubject;
    std::wstring m_wstrSubject;
    bool m_bHasBodyA;       // PR_BODY_A
    std::string m_strBodyA;
    bool m_bHasBodyW;       // PR_BODY_W
    std::wstring m_wstrBodyW;
    bool m_bHasHtml;        // PR_HTML bytes
    std::string m_strHtml;
    bool m_bHasHtmlBody;    // HTMLBody as set; otherwise derived from PR_HTML
    std::wstring m_wstrHtmlBody;
    HtmlSource m_nHtmlSource;
    int m_nBodyFormat;
    // Which of the texts above are made from another rather than set, so
    // that the file keeps a made text as a note rather than a second copy.
    bool m_bBodyAOfW;       // m_strBodyA is m_wstrBodyW in the ANSI code page
    bool m_bBodyWOfA;       // m_wstrBodyW is m_strBodyA read in the ANSI code page
    bool m_bBodyOfHtml;     // m_wstrBodyW is HtmlToPlainText(m_wstrHtmlBody)
    bool m_bHtmlOfText;     // m_strHtml is m_wstrHtmlBody in code page m_nHtmlCodePage
    UINT m_nHtmlCodePage;

    PropList m_props;                     // every other property, by id
    std::vector<PropList> m_vecRecipients;
    LONG m_nNextRowId;
    std::vector<ItemAttachment> m_vecAttachments;   // in the order added

    LONG m_nSubmitOrder;    // 0: not submitted
    int m_nSentFolder;      // SaveSentMessageFolder; -1: none
    int m_nAccount;         // SendUsingAccount, an index of the host's accounts; -1: none
    std::wstring m_wstrOnBehalfOf;          // SentOnBehalfOfName; empty: none
    std::vector<std::wstring> m_vecReplyTo; // ReplyRecipients, each as given to Add
    bool m_bSent;
    FILETIME m_ftSent;

private:
    ~ItemRecord() {}
    void PutBodyText(const std::wstring& text);
    void DropHtml();
    LONG m_nRefs;
};

#endif
