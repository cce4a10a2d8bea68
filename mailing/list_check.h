// What a reading of the whole list finds that would go wrong, told before
// anything is sent: the records it skips, the addresses that more than one
// record holds, and the fields the message uses that are empty on a record
// without a fallback. Fed by the counting pass and by the Preview's reading
// alike, so that both say the same. Plain C++ over the C runtime, so it also
// builds natively.
#ifndef LETTERCAST_LIST_CHECK_H
#define LETTERCAST_LIST_CHECK_H

#include <memory>
#include <string>
#include <map>
#include <vector>

#include "mailing/list_record.h"
#include "mailing/mail_merge.h"

// Why a record was passed over, as the logs, the check and the Preview say it.
const char* SkippedRecordReason(int nReason, const char* pszAddress);

// An address as two records are compared on it: blanks around it dropped,
// A-Z made a-z.
std::string AddressKey(const char* pszAddress);

class ListCheck {
public:
    ListCheck();
    ListCheck(const ListCheck&) = delete;
    ListCheck& operator=(const ListCheck&) = delete;

    // The list's header, and each text of the message with the header it is
    // merged with (MakePlainHeader's, MakeHtmlHeader's), once the header is
    // read; each must outlive the check's reading.
    void Begin(const ListRecord* pHeader);
    void AddText(const char* pszText, bool bHtml, const ListRecord* pTextHeader);
    // Every usable recipient in order: its place (1 on), its line, its
    // address and its record.
    void AddRecipient(int nPlace, int nLine, const char* pszAddress, const ListRecord* pRecord);
    // Every record the reading passed over.
    void AddSkipped(int nLine, int nReason, const char* pszAddress);

    // Addresses that more than one record holds, and the records after the
    // first of each.
    int RepeatedAddresses() const { return m_nRepeated; }
    int Repeats() const { return m_nRepeats; }
    // Whether the recipient at nPlace holds an address an earlier one holds.
    bool IsRepeat(int nPlace) const;
    // One sentence for each kind of finding, with the lines it is on (the
    // skipped records' only with bSkipped); none when the list is as the
    // message needs it.
    std::vector<std::string> Findings(bool bSkipped = true) const;
    // The question Send asks of them: Yes, No (with repeated addresses:
    // every record, the first of each address, or nothing); "" for none.
    std::string Question() const;

private:
    struct Address {
        std::string shown;        // as the first record gives it
        std::vector<int> lines;   // the first few
        int nRecords;
    };
    struct Empty {
        int nRecords;
        std::vector<int> lines;   // the first few
    };
    struct Text {
        const char* pszText;
        bool bHtml;
        const ListRecord* pHeader;
        std::unique_ptr<MergeNames> pNames;
    };

    const ListRecord* m_pHeader;
    int m_nColumns;
    std::vector<Text> m_texts;
    std::map<std::string, size_t> m_byKey;     // into m_addresses
    std::vector<Address> m_addresses;
    std::vector<char> m_repeat;   // by place (0 on)
    int m_nRepeated, m_nRepeats;
    std::vector<Empty> m_empty;   // by column
    std::vector<int> m_columns;   // reused for each record
    int m_nSkipped;
    std::vector<std::string> m_skipped;   // the first few, each "line N (address: why)"
};

#endif
