#include "mailing/list_check.h"

#include <limits.h>
#include <string.h>

#include <algorithm>

#include "mailing/bounded_copy.h"
#include "mailing/list_reader.h"

namespace {

#define LC_CHECK_LISTED 10   // findings name this many of each kind, then count the rest

// "line 5", "lines 5 and 8", "lines 5, 8, 9 and 2 more" for nCount lines of
// which the first few are given.
std::string LinesText(const std::vector<int>& lines, int nCount)
{
    std::string text = nCount == 1 ? "line " : "lines ";
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i > 0)
            text += i + 1 == lines.size() && (int)lines.size() == nCount ? " and " : ", ";
        text += std::to_string(lines[i]);
    }
    if (nCount > (int)lines.size())
        text += " and " + std::to_string(nCount - (int)lines.size()) + " more";
    return text;
}

// A name or an address on one line, as a box shows it.
std::string OneLine(const char* psz)
{
    std::string text(psz);
    SpaceEveryLineBreak(&text[0]);
    return text;
}

}  // namespace

const char* SkippedRecordReason(int nReason, const char* pszAddress)
{
    switch (nReason) {
    case ListSkipTooFewFields:
        return "too few fields to reach the address column";
    case ListSkipAddressTooLong:
        return "the address is longer than 255 characters";
    case ListSkipNotOneAddress:
        return "the address is not one e-mail address";
    case ListSkipBadCc:
        return "the Cc column holds something that is not an e-mail address";
    case ListSkipBadBcc:
        return "the Bcc column holds something that is not an e-mail address";
    case ListSkipBadReplyTo:
        return "the Reply-To column holds something that is not an e-mail address";
    case ListSkipNothingAroundAt:
        return "the address has nothing before or after its @";
    case ListSkipDomainWithoutDot:
        return "the address has no dot in its domain";
    case ListSkipMisplacedDot:
        return "the address has a dot at the start or end of a part, or two dots together";
    case ListSkipBadCharacter:
        return "the address holds a character no e-mail address may hold";
    case ListSkipRepeatedAddress:
        return "an earlier record has the same address, and only the first record of each address gets a copy";
    default:
        return pszAddress[0] ? "the address holds no @" : "the address is empty";
    }
}

std::string AddressKey(const char* pszAddress)
{
    const char* pszStart = pszAddress;
    while (*pszStart == ' ' || *pszStart == '\t')
        ++pszStart;
    size_t cch = strlen(pszStart);
    while (cch > 0 && (pszStart[cch - 1] == ' ' || pszStart[cch - 1] == '\t'))
        --cch;
    std::string key(pszStart, cch);
    for (char& ch : key) {
        if (ch >= 'A' && ch <= 'Z')
            ch = (char)(ch - 'A' + 'a');
    }
    return key;
}

ListCheck::ListCheck() : m_pHeader(NULL), m_nColumns(0), m_nRepeated(0), m_nRepeats(0), m_nSkipped(0)
{
}

void ListCheck::Begin(const ListRecord* pHeader)
{
    m_pHeader = pHeader;
    m_nColumns = pHeader != NULL && pHeader->ppszFields != NULL ? pHeader->nCount : 0;
    m_empty.assign((size_t)m_nColumns, Empty{ 0, {} });
}

void ListCheck::AddText(const char* pszText, bool bHtml, const ListRecord* pTextHeader)
{
    if (pszText == NULL || pTextHeader == NULL)
        return;
    std::unique_ptr<MergeNames> pNames(new MergeNames);
    // Without memory for the lookup the merge finds the names itself.
    pNames->Build(pTextHeader);
    m_texts.push_back(Text{ pszText, bHtml, pTextHeader, std::move(pNames) });
}

void ListCheck::AddRecipient(int nPlace, int nLine, const char* pszAddress, const ListRecord* pRecord)
{
    if (nPlace < 1)
        return;
    if ((size_t)nPlace > m_repeat.size())
        m_repeat.resize((size_t)nPlace, 0);
    std::string key = AddressKey(pszAddress);
    auto found = m_byKey.find(key);
    if (found == m_byKey.end()) {
        m_byKey.emplace(key, m_addresses.size());
        m_addresses.push_back(Address{ OneLine(pszAddress), { nLine }, 1 });
    } else {
        Address& address = m_addresses[found->second];
        if (address.nRecords == 1)
            ++m_nRepeated;
        ++address.nRecords;
        ++m_nRepeats;
        if (address.lines.size() < LC_CHECK_LISTED)
            address.lines.push_back(nLine);
        m_repeat[(size_t)nPlace - 1] = 1;
    }

    // The texts' placeholders its blank values fill, each field once a
    // record: the list's names and their "HTML:" names are one field.
    m_columns.clear();
    MergeValues values = { pRecord, m_nColumns, pRecord };
    for (const Text& text : m_texts)
        FindEmptyPlaceholders(text.pszText, text.bHtml, text.pHeader, values, text.pNames.get(), &m_columns);
    for (int& nColumn : m_columns)
        nColumn = m_nColumns > 0 ? nColumn % m_nColumns : 0;
    std::sort(m_columns.begin(), m_columns.end());
    m_columns.erase(std::unique(m_columns.begin(), m_columns.end()), m_columns.end());
    for (int nColumn : m_columns) {
        if (nColumn >= (int)m_empty.size())
            continue;
        Empty& empty = m_empty[(size_t)nColumn];
        ++empty.nRecords;
        if (empty.lines.size() < LC_CHECK_LISTED)
            empty.lines.push_back(nLine);
    }
}

void ListCheck::AddSkipped(int nLine, int nReason, const char* pszAddress)
{
    ++m_nSkipped;
    if (m_skipped.size() >= LC_CHECK_LISTED)
        return;
    std::string address = OneLine(pszAddress);
    m_skipped.push_back("line " + std::to_string(nLine) + " (" + (address.empty() ? "" : address + ": ") +
                        SkippedRecordReason(nReason, pszAddress) + ")");
}

bool ListCheck::IsRepeat(int nPlace) const
{
    return nPlace >= 1 && (size_t)nPlace <= m_repeat.size() && m_repeat[(size_t)nPlace - 1] != 0;
}

std::vector<std::string> ListCheck::Findings(bool bSkipped) const
{
    std::vector<std::string> findings;
    if (bSkipped && m_nSkipped > 0) {
        std::string text = m_nSkipped == 1 ? "1 record will be skipped: "
                                           : std::to_string(m_nSkipped) + " records will be skipped: ";
        for (size_t i = 0; i < m_skipped.size(); ++i)
            text += (i ? ", " : "") + m_skipped[i];
        if (m_nSkipped > (int)m_skipped.size())
            text += " and " + std::to_string(m_nSkipped - (int)m_skipped.size()) + " more";
        findings.push_back(text + ".");
    }
    if (m_nRepeated > 0) {
        std::string text = m_nRepeated == 1 ? "1 address appears more than once: "
                                            : std::to_string(m_nRepeated) + " addresses appear more than once: ";
        int nListed = 0;
        for (const Address& address : m_addresses) {
            if (address.nRecords < 2)
                continue;
            if (nListed == LC_CHECK_LISTED) {
                text += " and " + std::to_string(m_nRepeated - nListed) + " more";
                break;
            }
            text += (nListed ? ", " : "") + address.shown + " on " + LinesText(address.lines, address.nRecords);
            ++nListed;
        }
        findings.push_back(text + ".");
    }
    for (size_t i = 0; i < m_empty.size(); ++i) {
        const Empty& empty = m_empty[i];
        if (empty.nRecords == 0)
            continue;
        std::string name = OneLine(m_pHeader->ppszFields[i] ? m_pHeader->ppszFields[i] : "");
        findings.push_back("[[" + name + "]] is empty on " + std::to_string(empty.nRecords) +
                           (empty.nRecords == 1 ? " record: " : " records: ") + LinesText(empty.lines, empty.nRecords) +
                           ".");
    }
    return findings;
}

std::string ListCheck::Question() const
{
    std::vector<std::string> findings = Findings();
    if (findings.empty())
        return std::string();
    std::string text = "The mailing list was checked before sending:\n\n";
    for (const std::string& finding : findings)
        text += finding + "\n";
    if (m_nRepeated > 0)
        return text + "\nSend one copy to every record (Yes), only to the first record of each address (No), or "
                      "nothing (Cancel)?";
    return text + "\nSend anyway?";
}
