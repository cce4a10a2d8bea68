// Feeds arbitrary texts, header names and record values to the mail merge and
// holds every result against a plain std::string replacement written here.
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
#include "mailing/list_record.h"
#include "mailing/mail_merge.h"

namespace {

typedef std::vector<std::string> Strings;

// ---- The reference --------------------------------------------------------


const size_t knNameLimit = LC_MERGE_NAME_LIMIT;       // a name this long cannot make a placeholder
const size_t knValueLimit = LC_MERGE_FIELD_CAPACITY;  // a value holds fewer characters than this
const long long knMinimumSize = 10;

REFERENCE_CODE size_t FindFolded(const std::string& text, size_t nFrom, const std::string& pattern)
{
    if (pattern.size() > text.size())
        return std::string::npos;
    for (size_t i = nFrom; i + pattern.size() <= text.size(); ++i) {
        size_t j = 0;
        while (j < pattern.size() && ReferenceFoldCase(text[i + j]) == ReferenceFoldCase(pattern[j]))
            ++j;
        if (j == pattern.size())
            return i;
    }
    return std::string::npos;
}

REFERENCE_CODE std::string PlaceholderOf(const std::string& name)
{
    return "[[" + name + "]]";
}

// A column the record lacks reads as the empty value.
REFERENCE_CODE std::string ValueOf(const Strings& values, size_t nColumn)
{
    return nColumn < values.size() ? values[nColumn] : std::string();
}

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

struct ReferencePass {
    std::string text;     // the merged text
    long long nSize;      // what the sizing call must report
    long long nPeak;      // the longest the text becomes, replacing left to right
};

// One pass from the left over the original text: at every place the leftmost
// column whose placeholder fits there is replaced, and the search goes on
// behind it, so no value is searched again. The size is the text's own size
// plus the growth of every longer value, never less than the minimum.
REFERENCE_CODE ReferencePass ReferenceOnePass(const std::string& original, const Strings& names, const Strings& values)
{
    ReferencePass pass = {std::string(), (long long)original.size() + 1, (long long)original.size()};
    size_t nAt = 0;
    while (nAt < original.size()) {
        size_t nColumn = 0;
        size_t nPlaceholder = 0;
        for (; nColumn < names.size(); ++nColumn) {
            nPlaceholder = MatchesAt(original, nAt, PlaceholderOf(names[nColumn]))
                               ? names[nColumn].size() + 4
                               : SplitPlaceholderLength(original, nAt, names[nColumn]);
            if (nPlaceholder > 0)
                break;
        }
        if (nColumn == names.size()) {
            pass.text += original[nAt++];
            continue;
        }
        std::string value = ValueOf(values, nColumn);
        pass.text += value;
        nAt += nPlaceholder;
        long long nLength = (long long)(pass.text.size() + original.size() - nAt);
        if (nLength > pass.nPeak)
            pass.nPeak = nLength;
        if (value.size() > nPlaceholder)
            pass.nSize += (long long)(value.size() - nPlaceholder);
    }
    if (pass.nSize < knMinimumSize)
        pass.nSize = knMinimumSize;
    return pass;
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

    // The search for each column's placeholder, from the start and from a
    // position inside the text.
    for (const std::string& name : names) {
        std::string placeholder = PlaceholderOf(name);
        size_t nFrom = text.empty() ? 0 : (size_t)nSlack % (text.size() + 1);
        size_t nExpected = FindFolded(text, nFrom, placeholder);
        int nFound = FindNoCase(text.c_str(), (int)nFrom, placeholder.c_str());
        FUZZ_CHECK(nExpected == std::string::npos ? nFound == -1 : nFound == (int)nExpected);
    }

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
    // before, or in the fresh-copy form, which wraps it; the slack picks one.
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
        char* pszMerged = MergeText(text.c_str(), header.Get(), record.Get());
        FUZZ_CHECK((pszMerged != NULL) == expected.bMerged);
        if (pszMerged)
            FUZZ_CHECK(expected.text == pszMerged);
        free(pszMerged);
    }

    // The same text as HTML: values as HTML text, "[[HTML:Name]]" as markup,
    // the limits judged on the list's own fields.
    Strings htmlNames, htmlValues;
    ReferenceHtmlFields(names, values, &htmlNames, &htmlValues);
    char* pszHtml = MergeHtmlText(text.c_str(), header.Get(), record.Get());
    FUZZ_CHECK((pszHtml != NULL) == WithinLimits(names, values));
    if (pszHtml)
        FUZZ_CHECK(ReferenceOnePass(text, htmlNames, htmlValues).text == pszHtml);
    free(pszHtml);
    return 0;
}
