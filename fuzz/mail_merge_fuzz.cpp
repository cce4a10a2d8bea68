// Feeds arbitrary texts, header names and record values to the mail merge and
// holds every result against a plain std::string replacement written here;
// the values and the text also go into an HTML's code page, each checked
// character by character.
//
// Input layout, sections separated by NUL bytes:
//   text NUL header-fields NUL record-fields NUL slack
// Fields within a section are separated by 0x01; an empty or missing section
// has no fields. The first byte of the slack section, when there is one, is
// how many characters beyond the text's own size a second in-place call gets;
// its parity picks which of the two copying forms is checked.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

// The reference is left out of the coverage guidance: its comparisons would
// only steer the fuzzer towards itself and slow every run down.
#define REFERENCE_CODE __attribute__((no_sanitize("coverage")))

#include "fuzz/fuzz_check.h"
#include "fuzz/merge_reference.h"
#include "mailing/html_text.h"
#include "mailing/list_record.h"
#include "mailing/mail_merge.h"

namespace {

typedef std::vector<std::string> Strings;

// ---- The reference --------------------------------------------------------


const size_t knNameLimit = LC_MERGE_NAME_LIMIT;       // a name this long cannot make a placeholder
const size_t knValueLimit = LC_MERGE_FIELD_CAPACITY;  // a value holds fewer characters than this
const long long knMinimumSize = 10;

// Every name and every value counts, whether the text refers to it or not.
REFERENCE_CODE bool WithinLimits(const Strings& names, const Strings& values)
{
    for (const std::string& name : names)
        if (ReferenceCharacters(name) >= knNameLimit)
            return false;
    for (const std::string& value : values)
        if (ReferenceCharacters(value) >= knValueLimit)
            return false;
    return true;
}

struct ReferenceMerge {
    bool bMerged;
    std::string text;
};

// One pass from the left over the original text (merge_reference.h): the
// size is the text's own size plus the growth of every longer value, never
// less than the minimum.
REFERENCE_CODE ReferencePass ReferenceOnePass(const std::string& original, const Strings& names, const Strings& values)
{
    return ReferenceMergePass(original, names, values, false);
}

REFERENCE_CODE bool ReferenceSize(const std::string& text, const Strings& names, const Strings& values, long long* pnSize)
{
    if (!WithinLimits(names, values))
        return false;
    *pnSize = ReferenceOnePass(text, names, values).nSize;
    return true;
}

// The merge fits when the text, after every replacement, leaves room for the
// terminator within the capacity; otherwise the text is left as it was.
REFERENCE_CODE ReferenceMerge ReferenceInPlace(const std::string& original, long long nCapacity, const Strings& names,
                                const Strings& values)
{
    ReferenceMerge result = {false, original};
    if (!WithinLimits(names, values))
        return result;
    ReferencePass pass = ReferenceOnePass(original, names, values);
    if (pass.nPeak >= nCapacity)
        return result;
    result.bMerged = true;
    result.text = pass.text;
    return result;
}

// ---- The HTML's code page -------------------------------------------------

// The UTF-8 sequence at nAt of text: its length with its character in
// *puChar, or 0 when the bytes there are not one (a stray or missing
// continuation byte, an overlong form, a surrogate, beyond U+10FFFF).
REFERENCE_CODE size_t ReferenceUtf8At(const std::string& text, size_t nAt, unsigned* puChar)
{
    static const unsigned kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    unsigned char ch = (unsigned char)text[nAt];
    size_t cb = ch < 0x80 ? 1 : ch >= 0xF8 ? 0 : ch >= 0xF0 ? 4 : ch >= 0xE0 ? 3 : ch >= 0xC0 ? 2 : 0;
    if (cb == 0 || nAt + cb > text.size())
        return 0;
    unsigned uChar = cb == 1 ? ch : ch & (0x7Fu >> cb);
    for (size_t i = 1; i < cb; ++i) {
        unsigned char chMore = (unsigned char)text[nAt + i];
        if ((chMore & 0xC0) != 0x80)
            return 0;
        uChar = (uChar << 6) | (chMore & 0x3F);
    }
    if (uChar < kMinimum[cb] || uChar > 0x10FFFF || (uChar >= 0xD800 && uChar <= 0xDFFF))
        return 0;
    *puChar = uChar;
    return cb;
}

// How many bytes at nAt, where no UTF-8 sequence is, read as one U+FFFD:
// the longest start of a sequence that some continuation would make whole,
// else the one byte.
REFERENCE_CODE size_t ReferenceBrokenLength(const std::string& text, size_t nAt)
{
    unsigned char ch = (unsigned char)text[nAt];
    size_t cbWhole = ch >= 0xF0 ? 4 : ch >= 0xE0 ? 3 : 2;
    if (ch < 0xC2 || ch > 0xF4)
        return 1;
    size_t cbStart = 1;
    for (size_t cb = 2; cb < cbWhole && nAt + cb <= text.size(); ++cb) {
        // Completed with the smallest continuation bytes, which every place
        // after the second takes.
        std::string whole = text.substr(nAt, cb) + std::string(cbWhole - cb, (char)0x80);
        unsigned uChar = 0;
        if (ReferenceUtf8At(whole, 0, &uChar) != cbWhole)
            break;
        cbStart = cb;
    }
    return cbStart;
}

// A value (already HTML text in UTF-8) in the HTML's code page: as it is for
// UTF-8. For the ANSI code page (Latin-1 in this build) and for any other,
// ASCII stays, a character the code page holds becomes its byte, every other
// one exactly "&#N;" with N its number, which HTML reads back as that very
// character (but for 0x80 to 0x9F, which HTML reads as windows-1252 does),
// and bytes that are not UTF-8 become U+FFFD's reference.
void CheckHtmlCodePage(const std::string& value)
{
    char* pszSame = Utf8ToHtmlCodePage(value.c_str(), LC_HTML_CP_UTF8);
    FUZZ_CHECK(pszSame != NULL);
    FUZZ_CHECK(value == pszSame);
    free(pszSame);
    static const char kszReplacement[] = "&#65533;";
    const unsigned kCodePages[] = {LC_HTML_CP_ANSI, 1251};
    for (unsigned uCodePage : kCodePages) {
        char* pszOut = Utf8ToHtmlCodePage(value.c_str(), uCodePage);
        FUZZ_CHECK(pszOut != NULL);
        std::string out = pszOut;
        free(pszOut);
        size_t nOut = 0;
        for (size_t nAt = 0; nAt < value.size();) {
            unsigned uChar = 0;
            size_t cb = ReferenceUtf8At(value, nAt, &uChar);
            if (cb == 0) {
                // One replacement for the longest start of a sequence that
                // breaks off, or for the one byte that starts none.
                FUZZ_CHECK(out.compare(nOut, sizeof(kszReplacement) - 1, kszReplacement) == 0);
                nOut += sizeof(kszReplacement) - 1;
                nAt += ReferenceBrokenLength(value, nAt);
                continue;
            }
            nAt += cb;
            FUZZ_CHECK(nOut < out.size());
            if (uChar < 0x80 || (uCodePage == LC_HTML_CP_ANSI && uChar <= 0xFF)) {
                FUZZ_CHECK((unsigned char)out[nOut] == uChar);
                ++nOut;
                continue;
            }
            std::string reference = "&#" + std::to_string(uChar) + ";";
            FUZZ_CHECK(out.compare(nOut, reference.size(), reference) == 0);
            unsigned uFirst = 0, uSecond = 0;
            size_t cchRead = ReadHtmlReference(out.c_str() + nOut, out.size() - nOut, &uFirst, &uSecond);
            FUZZ_CHECK(cchRead == reference.size());
            FUZZ_CHECK(uSecond == 0);
            FUZZ_CHECK(uFirst == uChar || (uChar >= 0x80 && uChar <= 0x9F));
            nOut += cchRead;
        }
        FUZZ_CHECK(nOut == out.size());
    }
}

// ---- Driving the merge ----------------------------------------------------

// A record owning its heap texts, built without the list reader.
class FuzzRecord {
public:
    explicit FuzzRecord(const Strings& fields)
    {
        InitListRecord(&m_record);
        if (fields.empty())
            return;
        m_record.nCapacity = (int)fields.size() + 1;
        m_record.ppszFields = (char**)calloc((size_t)m_record.nCapacity, sizeof(char*));
        FUZZ_CHECK(m_record.ppszFields != NULL);
        for (const std::string& field : fields) {
            char* psz = (char*)malloc(field.size() + 1);
            FUZZ_CHECK(psz != NULL);
            memcpy(psz, field.c_str(), field.size() + 1);
            m_record.ppszFields[m_record.nCount++] = psz;
        }
    }
    ~FuzzRecord() { FreeListRecord(&m_record); }
    FuzzRecord(const FuzzRecord&) = delete;
    FuzzRecord& operator=(const FuzzRecord&) = delete;

    const ListRecord* Get() const { return &m_record; }

private:
    ListRecord m_record;
};

Strings SplitSections(const uint8_t* pData, size_t cbData)
{
    Strings sections(1);
    for (size_t i = 0; i < cbData; ++i) {
        if (pData[i] == '\0')
            sections.emplace_back();
        else
            sections.back().push_back((char)pData[i]);
    }
    return sections;
}

Strings SplitFields(const std::string& section)
{
    Strings fields;
    if (section.empty())
        return fields;
    fields.emplace_back();
    for (char ch : section) {
        if (ch == '\x01')
            fields.emplace_back();
        else
            fields.back().push_back(ch);
    }
    return fields;
}

const char kGuard = (char)0xA5;
const size_t knGuardSize = 32;

// How an in-place call gets its buffer: followed by guard bytes that must
// stay untouched, or as an exactly sized heap block, so that the sanitizer
// sees any read or write beyond the capacity.
enum BufferKind { GuardedBuffer, ExactBuffer };

void CheckInPlace(const std::string& text, int nCapacity, BufferKind nKind, const Strings& names,
                  const Strings& values, const FuzzRecord& header, const FuzzRecord& record)
{
    FUZZ_CHECK(text.size() + 1 <= (size_t)nCapacity);
    ReferenceMerge expected = ReferenceInPlace(text, nCapacity, names, values);

    size_t cbBuffer = (size_t)nCapacity + (nKind == GuardedBuffer ? knGuardSize : 0);
    char* pszBuffer = (char*)malloc(cbBuffer);
    FUZZ_CHECK(pszBuffer != NULL);
    memset(pszBuffer, kGuard, cbBuffer);
    memcpy(pszBuffer, text.c_str(), text.size() + 1);
    bool bMerged = MergeFields(pszBuffer, nCapacity, header.Get(), record.Get(), NULL);
    for (size_t i = (size_t)nCapacity; i < cbBuffer; ++i)
        FUZZ_CHECK(pszBuffer[i] == kGuard);
    FUZZ_CHECK(bMerged == expected.bMerged);
    // Merged or not, the buffer holds the expected text: a merge that does
    // not fit leaves the original.
    FUZZ_CHECK(strnlen(pszBuffer, (size_t)nCapacity) < (size_t)nCapacity);
    FUZZ_CHECK(expected.text == pszBuffer);
    free(pszBuffer);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cbData)
{
    Strings sections = SplitSections(pData, cbData);
    const std::string& text = sections[0];
    Strings names = SplitFields(sections.size() > 1 ? sections[1] : std::string());
    Strings values = SplitFields(sections.size() > 2 ? sections[2] : std::string());
    int nSlack = (sections.size() > 3 && !sections[3].empty()) ? (uint8_t)sections[3][0] : 0;
    FuzzRecord header(names);
    FuzzRecord record(values);

    // Sizing on an exactly sized copy, which must come back unchanged.
    long long nExpectedSize = 0;
    bool bSizable = ReferenceSize(text, names, values, &nExpectedSize);
    char* pszSized = (char*)malloc(text.size() + 1);
    FUZZ_CHECK(pszSized != NULL);
    memcpy(pszSized, text.c_str(), text.size() + 1);
    int nNeeded = -1;
    bool bSized = MergeFields(pszSized, 0, header.Get(), record.Get(), &nNeeded);
    FUZZ_CHECK(text == pszSized);
    free(pszSized);
    FUZZ_CHECK(bSized == bSizable);
    if (bSized) {
        FUZZ_CHECK((size_t)nNeeded >= text.size() + 1);
        FUZZ_CHECK(nNeeded >= knMinimumSize);
        FUZZ_CHECK(nNeeded == nExpectedSize);
        CheckInPlace(text, nNeeded + 1, GuardedBuffer, names, values, header, record);
    }
    CheckInPlace(text, (int)text.size() + 1 + nSlack, ExactBuffer, names, values, header, record);

    // The calling protocol: with a copy left over as from the recipient
    // before, or from no copy at all; the slack picks one.
    ReferenceMerge expected = bSized ? ReferenceInPlace(text, (long long)nNeeded + 1, names, values)
                                     : ReferenceMerge{false, std::string()};
    if (nSlack % 2 == 0) {
        char* pszCopy = (char*)malloc(1);
        FUZZ_CHECK(pszCopy != NULL);
        pszCopy[0] = '\0';
        MergeResult result = MergeIntoCopy(text.c_str(), header.Get(), record.Get(), &pszCopy);
        FUZZ_CHECK(pszCopy != NULL);
        FUZZ_CHECK(result == (expected.bMerged ? MergeDone : MergeFailed));
        if (result == MergeDone)
            FUZZ_CHECK(expected.text == pszCopy);
        free(pszCopy);
    } else {
        char* pszMerged = NULL;
        MergeResult result = MergeIntoCopy(text.c_str(), header.Get(), record.Get(), &pszMerged);
        FUZZ_CHECK(result == (expected.bMerged ? MergeDone : MergeFailed));
        FUZZ_CHECK(result != MergeDone || pszMerged != NULL);
        if (result == MergeDone)
            FUZZ_CHECK(expected.text == pszMerged);
        free(pszMerged);
    }

    // The same text as HTML: values as HTML text, "[[HTML:Name]]" as markup,
    // blocks keeping the tags that elements around them need, the limits
    // judged on the list's own fields.
    Strings htmlNames, htmlValues;
    ReferenceHtmlFields(names, values, &htmlNames, &htmlValues);
    char* pszHtml = MergeHtmlText(text.c_str(), header.Get(), record.Get());
    FUZZ_CHECK((pszHtml != NULL) == WithinLimits(names, values));
    if (pszHtml)
        FUZZ_CHECK(ReferenceMergePass(text, htmlNames, htmlValues, true).text == pszHtml);
    free(pszHtml);

    // Each value of the record, and the text itself, in the HTML's code page;
    // the record's values all at once as the engine encodes them.
    CheckHtmlCodePage(text);
    for (const std::string& value : values)
        CheckHtmlCodePage(value);
    ListRecord encoded;
    InitListRecord(&encoded);
    FUZZ_CHECK(EncodeFieldsForHtml(record.Get(), &encoded, 1251));
    FUZZ_CHECK(encoded.nCount == (int)values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        char* pszOne = Utf8ToHtmlCodePage(values[i].c_str(), 1251);
        FUZZ_CHECK(pszOne != NULL);
        FUZZ_CHECK(strcmp(pszOne, encoded.ppszFields[i]) == 0);
        free(pszOne);
    }
    FreeListRecord(&encoded);
    return 0;
}
