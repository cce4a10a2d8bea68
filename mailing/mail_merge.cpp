#include "mailing/mail_merge.h"

#include "mailing/html_text.h"

#include <limits.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <new>
#include <vector>

#if defined(_WIN32) && (defined(__i386__) || defined(__x86_64__))
#include <emmintrin.h>
#endif

namespace {

// The caller adds the slack to the needed size and passes it + 1 as capacity,
// so a larger size could not be allocated or passed as an int.
const long long knMaxNeeded = INT_MAX - LC_MERGE_SLACK;

// Only the letters a to z have another case: every other byte, those of 0x80
// and above included, must match exactly, whatever the C runtime's locale.
inline char FoldCase(char ch)
{
    return (ch >= 'a' && ch <= 'z') ? (char)(ch - 'a' + 'A') : ch;
}

int FieldCount(const ListRecord* pRecord)
{
    // A record whose table was dropped for want of memory keeps no fields.
    if (pRecord->ppszFields == NULL || pRecord->nCount < 0)
        return 0;
    return pRecord->nCount;
}

// A column the record lacks reads as the empty value.
const char* FieldText(const ListRecord* pRecord, int nColumn)
{
    if (nColumn >= FieldCount(pRecord) || pRecord->ppszFields[nColumn] == NULL)
        return "";
    return pRecord->ppszFields[nColumn];
}

// The value of a column as the values hand it out.
const char* ValueText(const MergeValues& values, int nColumn)
{
    if (values.pThen == NULL || nColumn < values.nFirst)
        return FieldText(values.pFirst, nColumn);
    return FieldText(values.pThen, nColumn - values.nFirst);
}

// Every column from one record.
MergeValues AllFrom(const ListRecord* pRecord)
{
    return MergeValues{ pRecord, INT_MAX, NULL };
}

// Stops counting at nLimit, so an overlong field is judged without reading
// all of it.
size_t BoundedLength(const char* psz, size_t nLimit)
{
    size_t n = 0;
    while (n < nLimit && psz[n] != '\0')
        ++n;
    return n;
}

// The characters of a UTF-8 text (every byte that begins a sequence), counted
// up to nLimit: the limits are the user's characters, not their bytes.
size_t BoundedCharacters(const char* psz, size_t nLimit)
{
    size_t n = 0;
    for (const unsigned char* p = (const unsigned char*)psz; *p && n < nLimit; ++p) {
        if ((*p & 0xC0) != 0x80)
            ++n;
    }
    return n;
}

// The end of the HTML tag that begins at psz, which holds '<': the character
// after its '>'; NULL when the tag is not closed before "]]" or the text ends.
const char* SkipTag(const char* psz)
{
    for (++psz; *psz != '>'; ++psz) {
        if (*psz == '\0' || (psz[0] == ']' && psz[1] == ']'))
            return NULL;
    }
    return psz + 1;
}

// The tags at psz passed over; NULL when one is not closed before "]]".
const char* PastTags(const char* psz)
{
    while (psz != NULL && *psz == '<')
        psz = SkipTag(psz);
    return psz;
}

// The end of a placeholder whose name ends just before psz: "]]", or a
// fallback "|text" that reaches to the first "]]" after it. Its length from
// pszAt, and in *pnFallback where the fallback's text begins (0 for none);
// 0 when neither follows.
int PlaceholderEnd(const char* pszAt, const char* psz, int* pnFallback)
{
    *pnFallback = 0;
    if (psz[0] == ']' && psz[1] == ']')
        return (int)(psz + 2 - pszAt);
    if (psz[0] != '|')
        return 0;
    const char* pszClose = strstr(psz + 1, "]]");
    if (pszClose == NULL)
        return 0;
    *pnFallback = (int)(psz + 1 - pszAt);
    return (int)(pszClose + 2 - pszAt);
}

// The length of the placeholder of pszField whose name begins two characters
// after pszAt (the "[[" of a placeholder, the "IF" of a condition), or 0;
// *pnFallback as PlaceholderEnd gives it. An editor's formatting can split a
// placeholder with tags ("[[<span>First</span> Name]]"): where the name does
// not follow as it stands, the tags between its characters are passed over,
// and go with it.
int PlaceholderLength(const char* pszAt, const char* pszField, int* pnFallback)
{
    const char* pszName = pszAt + 2;
    int j = 0;
    // The text's terminator never equals a name's character, so the
    // comparison stops there too.
    while (pszField[j] != '\0' && FoldCase(pszName[j]) == FoldCase(pszField[j]))
        ++j;
    if (pszField[j] == '\0') {
        int nLength = PlaceholderEnd(pszAt, pszName + j, pnFallback);
        if (nLength > 0)
            return nLength;
    }
    const char* psz = pszName;
    for (j = 0;; ++j) {
        psz = PastTags(psz);
        if (psz == NULL)
            return 0;
        if (pszField[j] == '\0')
            break;
        // Split, a placeholder still ends at its first "]]".
        if ((psz[0] == ']' && psz[1] == ']') || FoldCase(*psz) != FoldCase(pszField[j]))
            return 0;
        ++psz;
    }
    return PlaceholderEnd(pszAt, psz, pnFallback);
}

// The column whose placeholder begins at pszAt, which holds "[[", and the
// placeholder's length; -1 when no header field's name follows. When several
// names would fit, the leftmost column wins. Every name in turn: what the
// lookup below stands in for, and what it falls back on.
int MatchColumn(const char* pszAt, const ListRecord* pHeader, int* pnPlaceholder, int* pnFallback)
{
    int nColumns = FieldCount(pHeader);
    for (int i = 0; i < nColumns; ++i) {
        int nLength = PlaceholderLength(pszAt, FieldText(pHeader, i), pnFallback);
        if (nLength > 0) {
            *pnPlaceholder = nLength;
            return i;
        }
    }
    return -1;
}

// The hash of a name as the merge compares it: its letters folded.
inline unsigned HashStep(unsigned uHash, char ch)
{
    return (uHash ^ (unsigned char)FoldCase(ch)) * 16777619u;
}
const unsigned kHashStart = 2166136261u;

// Whether a name holds "]]" or '|': such a name can only be found by trying
// it, since the lookup reads a name as ending at either.
bool HoldsClosingOrBar(const char* pszName)
{
    for (; *pszName; ++pszName) {
        if ((pszName[0] == ']' && pszName[1] == ']') || pszName[0] == '|')
            return true;
    }
    return false;
}

}  // namespace

// The columns of one header by their folded names, so that a placeholder is
// found by what follows its "[[" rather than by trying every name. What can
// follow is narrow: a name without "]]" or '|' placed as it stands ends at
// the first "]]" or '|' (its fallback) after the "[[", or one character later
// when that is "]]]" (the name then ends in ']'); split by tags, its
// characters are those outside the tags up to the first "]]" or '|'. Those
// two or three texts are looked up, and the leftmost column among what they
// find, confirmed by PlaceholderLength, is the one that trying every name in
// turn would take. The few names that hold "]]" or '|' are tried in turn.
class NameLookup {
public:
    // False when memory ran out: the lookup is then empty and unusable.
    bool Build(const ListRecord* pHeader)
    {
        Reset();
        try {
            int nNames = FieldCount(pHeader);
            size_t nSlots = 16;
            while (nSlots < (size_t)nNames * 2)
                nSlots *= 2;
            m_slots.assign(nSlots, Slot{ 0, -1, 0 });
            m_offsets.reserve((size_t)nNames);
            for (int i = 0; i < nNames; ++i) {
                const char* pszName = FieldText(pHeader, i);
                size_t cchName = strlen(pszName);
                m_offsets.push_back(m_names.size());
                m_names.insert(m_names.end(), pszName, pszName + cchName + 1);
                if (HoldsClosingOrBar(pszName)) {
                    m_tried.push_back(i);
                    continue;
                }
                unsigned uHash = kHashStart;
                for (size_t j = 0; j < cchName; ++j)
                    uHash = HashStep(uHash, pszName[j]);
                Insert(pHeader, i, uHash, cchName);
                if (cchName > m_cchLongest)
                    m_cchLongest = cchName;
            }
        } catch (const std::bad_alloc&) {
            Reset();
            return false;
        }
        m_bBuilt = true;
        return true;
    }

    // MatchColumn's answer for pHeader, the header this was made from.
    int Find(const char* pszAt, const ListRecord* pHeader, int* pnPlaceholder, int* pnFallback) const
    {
        const char* pszName = pszAt + 2;
        int nBest = INT_MAX;
        // As it stands: up to the first "]]" or '|' (and one character on
        // for "]]]"), hashed on the way; a '<' on the way means a split
        // reading may differ.
        unsigned uHash = kHashStart;
        bool bTag = false;
        size_t i = 0;
        for (; i <= m_cchLongest && pszName[i] != '\0'; ++i) {
            if ((pszName[i] == ']' && pszName[i + 1] == ']') || pszName[i] == '|')
                break;
            bTag = bTag || pszName[i] == '<';
            uHash = HashStep(uHash, pszName[i]);
        }
        if (i <= m_cchLongest && (pszName[i] == ']' || pszName[i] == '|')) {
            Consider(pszAt, pHeader, uHash, i, &nBest);
            if (pszName[i] == ']' && pszName[i + 2] == ']' && i + 1 <= m_cchLongest)
                Consider(pszAt, pHeader, HashStep(uHash, ']'), i + 1, &nBest);
        }
        if (bTag)
            ConsiderSplit(pszAt, pHeader, &nBest);
        int nFallback = 0;
        for (int nColumn : m_tried) {
            if (nColumn >= nBest)
                break;
            if (PlaceholderLength(pszAt, FieldText(pHeader, nColumn), &nFallback) > 0)
                nBest = nColumn;
        }
        if (nBest == INT_MAX)
            return -1;
        *pnPlaceholder = PlaceholderLength(pszAt, FieldText(pHeader, nBest), pnFallback);
        return nBest;
    }

private:
    struct Slot {
        unsigned uHash;
        int nColumn;   // -1 while the slot is free
        size_t cchName;
    };

    void Reset()
    {
        m_bBuilt = false;
        m_slots.clear();
        m_names.clear();
        m_offsets.clear();
        m_tried.clear();
        m_cchLongest = 0;
    }

    // A name that folds like one already held is never taken: the earlier
    // column always fits where it does.
    void Insert(const ListRecord* pHeader, int nColumn, unsigned uHash, size_t cchName)
    {
        const char* pszName = FieldText(pHeader, nColumn);
        size_t nMask = m_slots.size() - 1;
        for (size_t n = uHash & nMask;; n = (n + 1) & nMask) {
            Slot& slot = m_slots[n];
            if (slot.nColumn < 0) {
                slot = Slot{ uHash, nColumn, cchName };
                return;
            }
            if (slot.uHash == uHash && slot.cchName == cchName &&
                FoldsAlike(FieldText(pHeader, slot.nColumn), pszName, cchName))
                return;
        }
    }

    static bool FoldsAlike(const char* pszA, const char* pszB, size_t cch)
    {
        for (size_t i = 0; i < cch; ++i) {
            if (FoldCase(pszA[i]) != FoldCase(pszB[i]))
                return false;
        }
        return true;
    }

    // Every held column of that hash and length whose placeholder fits at
    // pszAt, the leftmost kept in *pnBest.
    void Consider(const char* pszAt, const ListRecord* pHeader, unsigned uHash, size_t cchName, int* pnBest) const
    {
        size_t nMask = m_slots.size() - 1;
        for (size_t n = uHash & nMask; m_slots[n].nColumn >= 0; n = (n + 1) & nMask) {
            const Slot& slot = m_slots[n];
            int nFallback = 0;
            if (slot.uHash == uHash && slot.cchName == cchName && slot.nColumn < *pnBest &&
                PlaceholderLength(pszAt, FieldText(pHeader, slot.nColumn), &nFallback) > 0)
                *pnBest = slot.nColumn;
        }
    }

    // The name's characters outside the tags, as PlaceholderLength reads a
    // split placeholder.
    void ConsiderSplit(const char* pszAt, const ListRecord* pHeader, int* pnBest) const
    {
        const char* psz = pszAt + 2;
        unsigned uHash = kHashStart;
        for (size_t n = 0;; ++n) {
            psz = PastTags(psz);
            if (psz == NULL)
                return;
            if ((psz[0] == ']' && psz[1] == ']') || psz[0] == '|') {
                Consider(pszAt, pHeader, uHash, n, pnBest);
                return;
            }
            if (*psz == '\0' || n >= m_cchLongest)
                return;
            uHash = HashStep(uHash, *psz++);
        }
    }

    bool m_bBuilt = false;
    std::vector<Slot> m_slots;       // open addressing, a power of two long
    std::vector<char> m_names;       // the names it was made from, each with its terminator
    std::vector<size_t> m_offsets;   // where each name begins in m_names
    std::vector<int> m_tried;        // the columns whose names hold "]]", in order
    size_t m_cchLongest = 0;         // the longest held name, in bytes
};

namespace {

// The lookup for one header while one text is merged with it: the caller's,
// made once for that header, or one made for this text; every name in turn
// when memory for it runs out.
class HeldLookup {
public:
    HeldLookup(const ListRecord* pHeader, const MergeNames* pNames) : m_pHeader(pHeader)
    {
        if (pNames != NULL && pNames->Header() == pHeader && pNames->Lookup() != NULL)
            m_pLookup = pNames->Lookup();
        else if (m_own.Build(pHeader))
            m_pLookup = &m_own;
    }
    HeldLookup(const HeldLookup&) = delete;
    HeldLookup& operator=(const HeldLookup&) = delete;

    int Find(const char* pszAt, int* pnPlaceholder, int* pnFallback) const
    {
        return m_pLookup ? m_pLookup->Find(pszAt, m_pHeader, pnPlaceholder, pnFallback)
                         : MatchColumn(pszAt, m_pHeader, pnPlaceholder, pnFallback);
    }

private:
    const ListRecord* m_pHeader;
    NameLookup m_own;
    const NameLookup* m_pLookup = NULL;
};

#if defined(_WIN32) && (defined(__i386__) || defined(__x86_64__))
// The C runtime's string functions go a byte at a time under Wine: a text is
// searched here sixteen bytes at a time where the processor has SSE2 (every
// one since the Pentium 4), else a word at a time. Both read whole blocks
// only where aligned, and an aligned block never reaches into the next page,
// so the bytes it holds beyond the terminator are read without harm.
bool HasSse2()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse2");
}
const bool kbSse2 = HasSse2();

__attribute__((target("sse2"))) const char* NextBracketOrEndSse2(const char* psz)
{
    while ((uintptr_t)psz % 16 != 0) {
        if (*psz == '[' || *psz == '\0')
            return psz;
        ++psz;
    }
    const __m128i kZeros = _mm_setzero_si128();
    const __m128i kBrackets = _mm_set1_epi8('[');
    for (;; psz += 16) {
        __m128i block = _mm_load_si128((const __m128i*)psz);
        int nFound = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(block, kZeros), _mm_cmpeq_epi8(block, kBrackets)));
        if (nFound != 0)
            return psz + __builtin_ctz((unsigned)nFound);
    }
}
#endif

// The first '[' or the terminator at or after psz.
inline const char* NextBracketOrEnd(const char* psz)
{
#ifdef _WIN32
#if defined(__i386__) || defined(__x86_64__)
    if (kbSse2)
        return NextBracketOrEndSse2(psz);
#endif
    while ((uintptr_t)psz % sizeof(size_t) != 0) {
        if (*psz == '[' || *psz == '\0')
            return psz;
        ++psz;
    }
    const size_t kOnes = (size_t)-1 / 0xFF;
    const size_t kHighs = kOnes * 0x80;
    const size_t kBrackets = kOnes * (unsigned char)'[';
    for (;; psz += sizeof(size_t)) {
        size_t nWord;
        memcpy(&nWord, psz, sizeof(nWord));
        size_t nBrackets = nWord ^ kBrackets;
        if (((nWord - kOnes) & ~nWord & kHighs) != 0 || ((nBrackets - kOnes) & ~nBrackets & kHighs) != 0)
            break;
    }
    while (*psz != '[' && *psz != '\0')
        ++psz;
    return psz;
#elif defined(__GLIBC__)
    return strchrnul(psz, '[');
#else
    const char* pszBracket = strchr(psz, '[');
    return pszBracket != NULL ? pszBracket : psz + strlen(psz);
#endif
}

// A list whose first few items are kept without a heap block: most texts
// hold few placeholders and no conditions.
template <class T>
class ShortList {
public:
    static const size_t knInline = 32;
    void Add(const T& item)
    {
        if (m_nCount < knInline)
            m_inline[m_nCount] = item;
        else
            m_more.push_back(item);
        ++m_nCount;
    }
    T& operator[](size_t n) { return n < knInline ? m_inline[n] : m_more[n - knInline]; }
    const T& operator[](size_t n) const { return n < knInline ? m_inline[n] : m_more[n - knInline]; }
    size_t Size() const { return m_nCount; }

private:
    T m_inline[knInline];
    std::vector<T> m_more;
    size_t m_nCount = 0;
};

// ---- Conditions ------------------------------------------------------------

inline bool IsBlank(char ch)
{
    return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n';
}

// A value that is empty or only blanks takes its placeholder's fallback and
// makes its condition false.
bool IsBlankValue(const char* psz)
{
    for (; *psz; ++psz) {
        if (!IsBlank(*psz))
            return false;
    }
    return true;
}

// The text after pszKeyword (capitals) at psz, its letters in either case and
// tags before each of them passed over, and the tags after it; NULL when the
// keyword does not stand there.
const char* AfterKeyword(const char* psz, const char* pszKeyword)
{
    for (; psz != NULL && *pszKeyword; ++pszKeyword) {
        psz = PastTags(psz);
        if (psz == NULL || FoldCase(*psz) != *pszKeyword)
            return NULL;
        ++psz;
    }
    return PastTags(psz);
}

// The text after one blank at psz, a space or the "&nbsp;" an editor writes
// for one, and the tags after it; NULL when none stands there.
const char* AfterBlank(const char* psz)
{
    if (psz == NULL)
        return NULL;
    if (*psz == ' ')
        return PastTags(psz + 1);
    if (strncmp(psz, "&nbsp;", 6) == 0)
        return PastTags(psz + 6);
    return NULL;
}

inline bool AtClose(const char* psz)
{
    return psz != NULL && psz[0] == ']' && psz[1] == ']';
}

// The marker at pszAt, which holds "[[": "[[IF Name]]", "[[IF NOT Name]]",
// "[[ELSE]]", "[[END IF]]" (keywords in either case), its length in
// *pnLength and, for an IF, the column it names (-1 when it names none);
// MergeMarkerNone when none begins there. find(pszBefore, &nLength,
// &nFallback) finds the column whose name begins two characters after
// pszBefore, as a placeholder's does.
template <class Find>
int ReadMarker(const char* pszAt, const Find& find, int* pnColumn, int* pnLength)
{
    const char* psz = pszAt + 2;
    *pnColumn = -1;
    const char* pszEnd = AfterKeyword(psz, "ELSE");
    if (AtClose(pszEnd)) {
        *pnLength = (int)(pszEnd + 2 - pszAt);
        return MergeMarkerElse;
    }
    pszEnd = AfterKeyword(AfterBlank(AfterKeyword(psz, "END")), "IF");
    if (AtClose(pszEnd)) {
        *pnLength = (int)(pszEnd + 2 - pszAt);
        return MergeMarkerEndIf;
    }
    const char* pszIf = AfterKeyword(psz, "IF");
    if (AtClose(pszIf)) {
        *pnLength = (int)(pszIf + 2 - pszAt);
        return MergeMarkerIf;
    }
    const char* pszName = AfterBlank(pszIf);
    if (pszName == NULL)
        return MergeMarkerNone;
    // A field named like "NOT Company" is that field; a fallback has no place
    // in a condition.
    int nLength = 0, nFallback = 0;
    int nColumn = find(pszName - 2, &nLength, &nFallback);
    if (nColumn >= 0 && nFallback == 0) {
        *pnColumn = nColumn;
        *pnLength = (int)(pszName - 2 + nLength - pszAt);
        return MergeMarkerIf;
    }
    const char* pszNot = AfterBlank(AfterKeyword(pszName, "NOT"));
    if (pszNot != NULL) {
        nColumn = find(pszNot - 2, &nLength, &nFallback);
        if (nColumn >= 0 && nFallback == 0) {
            *pnColumn = nColumn;
            *pnLength = (int)(pszNot - 2 + nLength - pszAt);
            return MergeMarkerIfNot;
        }
    }
    // An IF naming no field reaches to the first "]]".
    const char* pszClose = strstr(pszName, "]]");
    if (pszClose == NULL)
        return MergeMarkerNone;
    *pnLength = (int)(pszClose + 2 - pszAt);
    return pszNot != NULL ? MergeMarkerIfNot : MergeMarkerIf;
}

inline bool IsHtmlSpace(char ch)
{
    return IsBlank(ch) || ch == '\f';
}

inline bool IsNameChar(char ch)
{
    return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == ':' ||
           ch == '-' || ch == '_' || ch == '.';
}

// An HTML tag as the merge reads one around and inside a block.
struct HtmlTag {
    size_t nAt, nEnd;
    const char* pszName;
    size_t cchName;
    bool bClosing;
    bool bSelfContained;   // "<br>", "<img ...>", "<x/>", "<!-- -->": opens nothing
};

// The tag that begins at nAt of pszText, which holds '<', no further than
// nLimit: its end (after its '>'), its name and whether it closes; false
// when no tag begins there, or it holds a '[' (what it holds may be merged)
// or another '<'.
bool ReadTag(const char* pszText, size_t nAt, size_t nLimit, HtmlTag* pTag)
{
    static const char* const kVoid[] = { "area", "base", "br", "col", "embed", "hr", "img", "input",
                                         "link", "meta", "param", "source", "track", "wbr" };
    size_t n = nAt + 1;
    pTag->nAt = nAt;
    pTag->bClosing = n < nLimit && pszText[n] == '/';
    if (pTag->bClosing)
        ++n;
    bool bName = n < nLimit && ((pszText[n] >= 'a' && pszText[n] <= 'z') || (pszText[n] >= 'A' && pszText[n] <= 'Z'));
    bool bOther = n < nLimit && !pTag->bClosing && (pszText[n] == '!' || pszText[n] == '?');
    if (!bName && !bOther)
        return false;
    pTag->pszName = pszText + n;
    while (n < nLimit && IsNameChar(pszText[n]))
        ++n;
    pTag->cchName = (size_t)(pszText + n - pTag->pszName);
    for (; n < nLimit && pszText[n] != '>'; ++n) {
        if (pszText[n] == '[' || pszText[n] == '<' || pszText[n] == '\0')
            return false;
    }
    if (n >= nLimit)
        return false;
    pTag->nEnd = n + 1;
    pTag->bSelfContained = bOther || (!pTag->bClosing && pszText[n - 1] == '/');
    for (const char* pszVoid : kVoid) {
        if (pTag->cchName == strlen(pszVoid)) {
            bool bSame = true;
            for (size_t i = 0; i < pTag->cchName && bSame; ++i)
                bSame = (char)(pTag->pszName[i] | 0x20) == pszVoid[i];
            pTag->bSelfContained = pTag->bSelfContained || bSame;
        }
    }
    return true;
}

bool SameTagName(const HtmlTag& a, const HtmlTag& b)
{
    if (a.cchName != b.cchName)
        return false;
    for (size_t i = 0; i < a.cchName; ++i) {
        if ((a.pszName[i] | 0x20) != (b.pszName[i] | 0x20))
            return false;
    }
    return true;
}

// The position after the blanks and the empty elements ("<o:p></o:p>", as
// Outlook's editor ends each paragraph with one) from n on.
size_t PastBlanksAndEmptyElements(const char* pszText, size_t n)
{
    for (;;) {
        while (IsHtmlSpace(pszText[n]))
            ++n;
        HtmlTag open, close;
        const size_t nLimit = (size_t)-1;   // ReadTag stops at the terminator
        if (pszText[n] != '<' || !ReadTag(pszText, n, nLimit, &open) || open.bClosing || open.bSelfContained ||
            pszText[open.nEnd] != '<' || !ReadTag(pszText, open.nEnd, nLimit, &close) || !close.bClosing ||
            !SameTagName(open, close))
            return n;
        n = close.nEnd;
    }
}

// What a marker standing alone takes with it, so that no empty line or
// empty paragraph is left where it was: in plain text the blanks before it
// and the line break after it when nothing else is on its line; in HTML each
// element around it that holds nothing else. Never before nFloor, where the
// text before is another's.
void TakeAlong(const char* pszText, bool bHtml, size_t nFloor, size_t* pnAt, size_t* pnEnd)
{
    if (!bHtml) {
        size_t nAt = *pnAt, nEnd = *pnEnd;
        while (nAt > nFloor && (pszText[nAt - 1] == ' ' || pszText[nAt - 1] == '\t'))
            --nAt;
        if (nAt > 0 && pszText[nAt - 1] != '\n' && pszText[nAt - 1] != '\r')
            return;
        while (pszText[nEnd] == ' ' || pszText[nEnd] == '\t')
            ++nEnd;
        if (pszText[nEnd] == '\r' && pszText[nEnd + 1] == '\n')
            nEnd += 2;
        else if (pszText[nEnd] == '\r' || pszText[nEnd] == '\n')
            ++nEnd;
        else if (pszText[nEnd] != '\0')
            return;
        *pnAt = nAt;
        *pnEnd = nEnd;
        return;
    }
    for (;;) {
        size_t nAt = *pnAt;
        while (nAt > nFloor && IsHtmlSpace(pszText[nAt - 1]))
            --nAt;
        if (nAt == nFloor || pszText[nAt - 1] != '>')
            return;
        size_t nOpen = nAt - 1;
        while (nOpen > nFloor && pszText[nOpen] != '<')
            --nOpen;
        HtmlTag open, close;
        if (pszText[nOpen] != '<' || !ReadTag(pszText, nOpen, nAt, &open) || open.nEnd != nAt || open.bClosing ||
            open.bSelfContained)
            return;
        size_t nClose = PastBlanksAndEmptyElements(pszText, *pnEnd);
        if (pszText[nClose] != '<' || !ReadTag(pszText, nClose, (size_t)-1, &close) ||
            !close.bClosing || !SameTagName(open, close))
            return;
        *pnAt = nOpen;
        *pnEnd = close.nEnd;
    }
}

// ---- The plan of a text's merge ---------------------------------------------

// One piece of a text the merge replaces: where it begins, its length, and
// what replaces it: pszValue, or with pszValue NULL the text's own cchValue
// characters from nValueAt (a fallback).
struct FoundPlaceholder {
    size_t nAt;
    size_t nLength;
    const char* pszValue;
    size_t nValueAt;
    size_t cchValue;
};

// A placeholder or a marker of a text, as its pass finds it.
struct MergeToken {
    size_t nAt, nEnd;    // what it covers, what a marker takes along included
    size_t nMarkAt, nMarkEnd;   // the placeholder or marker itself, "[[" to "]]"
    int nKind;           // MergeMarkerNone for a placeholder
    int nColumn;         // the placeholder's, the IF's; -1 for an IF naming no field
    size_t nFallbackAt;  // where a placeholder's fallback begins, 0 for none
    int nIf;             // ELSE, END IF: the index of its IF; -1 when it has none
    int nElse, nEndIf;   // IF: the indices of its ELSE and END IF; -1 for none
};

// What the merge does to a text: its placeholders' replacements and the
// pieces its conditions drop, found in one pass from left to right (the
// search goes on behind each placeholder, so no value is ever searched),
// with the text's length, which the same pass finds, and what the sizing
// and the in-place merge judge.
struct MergePlan {
    ShortList<FoundPlaceholder> found;
    size_t cchText = 0;
    long long nGrowth = 0;   // what the longer values add, the shorter ones not taken off
    long long nRise = 0;     // the most the text is ever longer than it was, replacing left to right
    long long nDelta = 0;
    ShortList<int>* pEmpty = NULL;   // when given: the columns of kept placeholders without fallback whose value is blank

    void Add(const FoundPlaceholder& piece)
    {
        found.Add(piece);
        long long nStep = (long long)piece.cchValue - (long long)piece.nLength;
        if (nStep > 0)
            nGrowth += nStep;
        nDelta += nStep;
        if (nDelta > nRise)
            nRise = nDelta;
    }
    void Drop(size_t nAt, size_t nEnd)
    {
        if (nEnd > nAt)
            Add({ nAt, nEnd - nAt, "", 0, 0 });
    }
    long long Peak() const { return (long long)cchText + nRise; }
};

// Drops the text from nAt to nEnd. In HTML the tags there that close an
// element begun before it, or begin one that ends after it, stay, so that
// what is kept is as well-formed as the text was.
void DropPiece(const char* pszText, bool bHtml, size_t nAt, size_t nEnd, MergePlan* pPlan)
{
    if (!bHtml) {
        pPlan->Drop(nAt, nEnd);
        return;
    }
    std::vector<HtmlTag> tags;
    std::vector<size_t> open;   // indices into tags of the elements begun in the piece and not yet ended
    std::vector<char> kept;
    for (size_t n = nAt; n < nEnd; ++n) {
        HtmlTag tag;
        if (pszText[n] != '<' || !ReadTag(pszText, n, nEnd, &tag))
            continue;
        n = tag.nEnd - 1;
        if (tag.bSelfContained)
            continue;
        tags.push_back(tag);
        kept.push_back(0);
        if (!tag.bClosing) {
            open.push_back(tags.size() - 1);
            continue;
        }
        size_t nDepth = open.size();
        while (nDepth > 0 && !SameTagName(tags[open[nDepth - 1]], tag))
            --nDepth;
        if (nDepth == 0)
            kept.back() = 1;   // ends an element begun before the piece
        else
            open.resize(nDepth - 1);   // with whatever the piece left open inside it
    }
    for (size_t nOpen : open)
        kept[nOpen] = 1;       // begins an element that ends after the piece
    size_t nFrom = nAt;
    for (size_t i = 0; i < tags.size(); ++i) {
        if (!kept[i])
            continue;
        pPlan->Drop(nFrom, tags[i].nAt);
        nFrom = tags[i].nEnd;
    }
    pPlan->Drop(nFrom, nEnd);
}

// Pairs each END IF with the nearest IF before it that is still open, and
// each ELSE with that IF (one ELSE to an IF); an IF never closed pairs with
// nothing, nor does its ELSE.
void PairMarkers(ShortList<MergeToken>* pTokens)
{
    std::vector<int> open;
    ShortList<MergeToken>& tokens = *pTokens;
    for (size_t i = 0; i < tokens.Size(); ++i) {
        MergeToken& token = tokens[i];
        if (token.nKind == MergeMarkerIf || token.nKind == MergeMarkerIfNot) {
            open.push_back((int)i);
        } else if (token.nKind == MergeMarkerElse) {
            if (!open.empty() && tokens[open.back()].nElse < 0) {
                token.nIf = open.back();
                tokens[open.back()].nElse = (int)i;
            }
        } else if (token.nKind == MergeMarkerEndIf && !open.empty()) {
            token.nIf = open.back();
            tokens[open.back()].nEndIf = (int)i;
            open.pop_back();
        }
    }
    for (int nIf : open) {
        if (tokens[nIf].nElse >= 0)
            tokens[tokens[nIf].nElse].nIf = -1;
        tokens[nIf].nElse = -1;
    }
}

// A block the merge works: an IF that names a field and has its END IF.
// Any other marker stays as it stands.
bool WorksBlock(const ShortList<MergeToken>& tokens, int nIf)
{
    return nIf >= 0 && tokens[nIf].nColumn >= 0 && tokens[nIf].nEndIf >= 0;
}

// The text's placeholders and markers, in one pass, and its length in
// *pcchText; throws std::bad_alloc when memory runs out.
void FindTokens(const char* pszText, bool bHtml, const HeldLookup& lookup, ShortList<MergeToken>* pTokens,
                bool* pbMarkers, size_t* pcchText)
{
    auto find = [&lookup](const char* pszBefore, int* pnLength, int* pnFallback) {
        return lookup.Find(pszBefore, pnLength, pnFallback);
    };
    const char* psz = pszText;
    size_t nFloor = 0;
    for (;;) {
        psz = NextBracketOrEnd(psz);
        if (*psz == '\0')
            break;
        if (psz[1] != '[') {
            ++psz;
            continue;
        }
        size_t nAt = (size_t)(psz - pszText);
        int nLength = 0, nFallback = 0;
        int nColumn = lookup.Find(psz, &nLength, &nFallback);
        if (nColumn >= 0) {
            pTokens->Add({ nAt, nAt + (size_t)nLength, nAt, nAt + (size_t)nLength, MergeMarkerNone, nColumn,
                           nFallback > 0 ? nAt + (size_t)nFallback : 0, -1, -1, -1 });
            psz += nLength;
            nFloor = nAt + (size_t)nLength;
            continue;
        }
        int nKind = ReadMarker(psz, find, &nColumn, &nLength);
        if (nKind == MergeMarkerNone) {
            // "[[[Name]]" holds its placeholder one character further on.
            ++psz;
            continue;
        }
        size_t nMarkAt = nAt, nEnd = nAt + (size_t)nLength;
        TakeAlong(pszText, bHtml, nFloor, &nAt, &nEnd);
        pTokens->Add({ nAt, nEnd, nMarkAt, nMarkAt + (size_t)nLength, nKind, nColumn, 0, -1, -1, -1 });
        *pbMarkers = true;
        psz = pszText + nEnd;
        nFloor = nEnd;
    }
    *pcchText = (size_t)(psz - pszText);
}

// The replacement of one placeholder: its value, or its fallback when the
// value is blank.
void AddPlaceholder(const MergeToken& token, const MergeValues& values, MergePlan* pPlan)
{
    const char* pszValue = ValueText(values, token.nColumn);
    bool bBlank = IsBlankValue(pszValue);
    if (token.nFallbackAt > 0 && bBlank) {
        pPlan->Add({ token.nAt, token.nEnd - token.nAt, NULL, token.nFallbackAt, token.nEnd - 2 - token.nFallbackAt });
        return;
    }
    if (bBlank && token.nFallbackAt == 0 && pPlan->pEmpty != NULL)
        pPlan->pEmpty->Add(token.nColumn);
    pPlan->Add({ token.nAt, token.nEnd - token.nAt, pszValue, 0, strlen(pszValue) });
}

// The one pass over a text and what its conditions keep. False when memory
// runs out.
bool PlanMerge(const char* pszText, bool bHtml, const ListRecord* pHeader, const MergeValues& values,
               const MergeNames* pNames, MergePlan* pPlan)
{
    HeldLookup lookup(pHeader, pNames);
    try {
        ShortList<MergeToken> tokens;
        bool bMarkers = false;
        FindTokens(pszText, bHtml, lookup, &tokens, &bMarkers, &pPlan->cchText);
        if (bMarkers)
            PairMarkers(&tokens);
        for (size_t i = 0; i < tokens.Size();) {
            const MergeToken& token = tokens[i];
            if (token.nKind == MergeMarkerNone) {
                AddPlaceholder(token, values, pPlan);
                ++i;
                continue;
            }
            bool bIf = token.nKind == MergeMarkerIf || token.nKind == MergeMarkerIfNot;
            int nIf = bIf ? (int)i : token.nIf;
            if (!WorksBlock(tokens, nIf)) {
                ++i;
                continue;
            }
            const MergeToken& block = tokens[nIf];
            if (bIf) {
                bool bTrue = !IsBlankValue(ValueText(values, block.nColumn)) != (block.nKind == MergeMarkerIfNot);
                // True: the IF goes and what follows it is kept; false: all
                // up to its ELSE (kept after it) or its END IF goes.
                int nTo = bTrue ? (int)i : (block.nElse >= 0 ? block.nElse : block.nEndIf);
                DropPiece(pszText, bHtml, token.nAt, tokens[nTo].nEnd, pPlan);
                i = (size_t)nTo + 1;
            } else if (token.nKind == MergeMarkerElse) {
                // Reached from a true IF: what it holds goes with its END IF.
                DropPiece(pszText, bHtml, token.nAt, tokens[block.nEndIf].nEnd, pPlan);
                i = (size_t)block.nEndIf + 1;
            } else {
                DropPiece(pszText, bHtml, token.nAt, token.nEnd, pPlan);
                ++i;
            }
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// The size the merge needs, terminator included and at least
// LC_MERGE_MIN_SIZE; false when it is beyond what an int holds with the slack.
bool NeededSize(const MergePlan& plan, int* pnNeeded)
{
    // Shorter values never lower the size, so it is never below the text's
    // own, and a wrapped int would hand the caller a small buffer.
    long long nNeeded = (long long)plan.cchText + 1 + plan.nGrowth;
    if (nNeeded > knMaxNeeded)
        return false;
    *pnNeeded = nNeeded < LC_MERGE_MIN_SIZE ? LC_MERGE_MIN_SIZE : (int)nNeeded;
    return true;
}

// The merged text of pszRead (the planned text and its terminator) written
// from pszWrite on, the replacements in place of the planned pieces. pszWrite
// may lie before pszRead in the same block: it never overtakes what is still
// to be read, as long as pszRead lies as far on as the text ever grows; a
// fallback, read from within its own placeholder, lies ahead of it too.
void WriteMerged(const char* pszRead, const MergePlan& plan, char* pszWrite)
{
    size_t nRead = 0;
    for (size_t n = 0; n < plan.found.Size(); ++n) {
        const FoundPlaceholder& found = plan.found[n];
        size_t cchBefore = found.nAt - nRead;
        memmove(pszWrite, pszRead + nRead, cchBefore);
        pszWrite += cchBefore;
        if (found.pszValue != NULL)
            memcpy(pszWrite, found.pszValue, found.cchValue);
        else
            memmove(pszWrite, pszRead + found.nValueAt, found.cchValue);
        pszWrite += found.cchValue;
        nRead = found.nAt + found.nLength;
    }
    memmove(pszWrite, pszRead + nRead, plan.cchText - nRead + 1);
}

bool SizeMerge(const char* pszText, const ListRecord* pHeader, const ListRecord* pRecord,
               int* pnNeeded)
{
    MergePlan plan;
    return PlanMerge(pszText, false, pHeader, AllFrom(pRecord), NULL, &plan) &&
           (long long)plan.cchText + 1 <= knMaxNeeded && NeededSize(plan, pnNeeded);
}

bool MergeInPlace(char* pszText, int cchCapacity, const ListRecord* pHeader,
                  const ListRecord* pRecord)
{
    if (cchCapacity <= 0)
        return false;
    // A text with no terminator inside the buffer cannot be searched or
    // shifted safely: the one check that reads the text before its pass.
    if (BoundedLength(pszText, (size_t)cchCapacity) >= (size_t)cchCapacity)
        return false;

    // The text after every replacement, terminator included, must fit the
    // capacity; judged before anything moves, so a failure leaves it as it was.
    MergePlan plan;
    if (!PlanMerge(pszText, false, pHeader, AllFrom(pRecord), NULL, &plan) || plan.Peak() >= cchCapacity)
        return false;

    // The text moves right once by as much as it ever grows; the merged text
    // is then written from the front, never overtaking what is still to be read.
    size_t nShift = (size_t)plan.nRise;
    if (nShift > 0)
        memmove(pszText + nShift, pszText, plan.cchText + 1);
    WriteMerged(pszText + nShift, plan, pszText);
    return true;
}

}  // namespace

bool MergeFieldsWithinLimits(const ListRecord* pHeader, const ListRecord* pRecord)
{
    int nNames = FieldCount(pHeader);
    for (int i = 0; i < nNames; ++i) {
        if (BoundedCharacters(FieldText(pHeader, i), LC_MERGE_NAME_LIMIT) >= LC_MERGE_NAME_LIMIT)
            return false;
    }
    int nValues = FieldCount(pRecord);
    for (int i = 0; i < nValues; ++i) {
        if (BoundedCharacters(FieldText(pRecord, i), LC_MERGE_FIELD_CAPACITY) >= LC_MERGE_FIELD_CAPACITY)
            return false;
    }
    return true;
}

int PlaceholderColumnAt(const char* pszAt, const ListRecord* pHeader, int* pnLength)
{
    if (pszAt == NULL || pHeader == NULL || pszAt[0] != '[' || pszAt[1] != '[')
        return -1;
    // One place: the names in turn find what a lookup would.
    int nFallback = 0;
    return MatchColumn(pszAt, pHeader, pnLength, &nFallback);
}

int MergeMarkerAt(const char* pszAt, const ListRecord* pHeader, int* pnColumn, int* pnLength)
{
    if (pszAt == NULL || pHeader == NULL || pszAt[0] != '[' || pszAt[1] != '[')
        return MergeMarkerNone;
    auto find = [pHeader](const char* pszBefore, int* pnFound, int* pnFallback) {
        return MatchColumn(pszBefore, pHeader, pnFound, pnFallback);
    };
    return ReadMarker(pszAt, find, pnColumn, pnLength);
}

bool FindBlockProblems(const char* pszText, bool bHtml, const ListRecord* pHeader,
                       std::vector<MergeBlockProblem>* pProblems)
{
    if (pszText == NULL || pHeader == NULL)
        return true;
    try {
        HeldLookup lookup(pHeader, NULL);
        ShortList<MergeToken> tokens;
        bool bMarkers = false;
        size_t cchText = 0;
        FindTokens(pszText, bHtml, lookup, &tokens, &bMarkers, &cchText);
        if (!bMarkers)
            return true;
        PairMarkers(&tokens);
        for (size_t i = 0; i < tokens.Size(); ++i) {
            const MergeToken& token = tokens[i];
            int nProblem = MergeBlockFine;
            if ((token.nKind == MergeMarkerIf || token.nKind == MergeMarkerIfNot) && token.nEndIf < 0)
                nProblem = MergeBlockIfWithoutEnd;
            else if (token.nKind == MergeMarkerElse && token.nIf < 0)
                nProblem = MergeBlockElseOutside;
            else if (token.nKind == MergeMarkerEndIf && token.nIf < 0)
                nProblem = MergeBlockEndWithoutIf;
            if (nProblem != MergeBlockFine)
                pProblems->push_back({ nProblem, token.nMarkAt, token.nMarkEnd - token.nMarkAt });
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool FindEmptyPlaceholders(const char* pszText, bool bHtml, const ListRecord* pTextHeader,
                           const MergeValues& values, const MergeNames* pNames, std::vector<int>* pColumns)
{
    if (pszText == NULL || pTextHeader == NULL || values.pFirst == NULL)
        return true;
    try {
        ShortList<int> empty;
        MergePlan plan;
        plan.pEmpty = &empty;
        if (!PlanMerge(pszText, bHtml, pTextHeader, values, pNames, &plan))
            return false;
        for (size_t i = 0; i < empty.Size(); ++i)
            pColumns->push_back(empty[i]);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool MergeFields(char* pszText, int cchCapacity, const ListRecord* pHeader,
                 const ListRecord* pRecord, int* pnNeeded)
{
    if (pszText == NULL || pHeader == NULL || pRecord == NULL)
        return false;
    if (!MergeFieldsWithinLimits(pHeader, pRecord))
        return false;
    if (pnNeeded != NULL)
        return SizeMerge(pszText, pHeader, pRecord, pnNeeded);
    return MergeInPlace(pszText, cchCapacity, pHeader, pRecord);
}

namespace {

// The protocol over one text whose fields' limits the caller has judged: the
// placeholders replaced from pHeader's names and the values, the conditions
// kept or dropped, read as HTML when bHtml.
MergeResult MergeCopyOf(const char* pszOriginal, bool bHtml, const ListRecord* pHeader, const MergeValues& values,
                        const MergeNames* pNames, char** ppszCopy)
{
    if (pszOriginal == NULL || ppszCopy == NULL || pHeader == NULL || values.pFirst == NULL)
        return MergeFailed;
    // One pass over the original finds its placeholders and its length; the
    // copy is then written from them.
    MergePlan plan;
    if (!PlanMerge(pszOriginal, bHtml, pHeader, values, pNames, &plan))
        return MergeNoMemory;
    int nNeeded = 0;
    if ((long long)plan.cchText + 1 > knMaxNeeded || !NeededSize(plan, &nNeeded))
        return MergeFailed;

    char* pszCopy = (char*)realloc(*ppszCopy, (size_t)nNeeded + LC_MERGE_SLACK);
    if (pszCopy == NULL)
        return MergeNoMemory;
    *ppszCopy = pszCopy;
    // The needed size holds the longest the text ever becomes.
    WriteMerged(pszOriginal, plan, pszCopy);
    return MergeDone;
}

// The list's limits judged on pHeader and pRecord, the text merged with the
// names and values of pTextHeader and pTextRecord.
MergeResult MergeJudgedCopy(const char* pszOriginal, bool bHtml, const ListRecord* pHeader,
                            const ListRecord* pRecord, const ListRecord* pTextHeader,
                            const ListRecord* pTextRecord, char** ppszCopy)
{
    if (pHeader == NULL || pRecord == NULL || !MergeFieldsWithinLimits(pHeader, pRecord))
        return MergeFailed;
    return MergeCopyOf(pszOriginal, bHtml, pTextHeader, AllFrom(pTextRecord), NULL, ppszCopy);
}

}  // namespace

MergeResult MergeIntoCopy(const char* pszOriginal, const ListRecord* pHeader,
                          const ListRecord* pRecord, char** ppszCopy)
{
    return MergeJudgedCopy(pszOriginal, false, pHeader, pRecord, pHeader, pRecord, ppszCopy);
}

MergeResult MergeHtmlIntoCopy(const char* pszOriginal, const ListRecord* pHeader, const ListRecord* pRecord,
                              const ListRecord* pHtmlHeader, const ListRecord* pHtmlRecord, char** ppszCopy)
{
    return MergeJudgedCopy(pszOriginal, true, pHeader, pRecord, pHtmlHeader, pHtmlRecord, ppszCopy);
}

MergeResult MergeValuesIntoCopy(const char* pszOriginal, bool bHtml, const ListRecord* pTextHeader,
                                const MergeValues& values, char** ppszCopy, const MergeNames* pNames)
{
    return MergeCopyOf(pszOriginal, bHtml, pTextHeader, values, pNames, ppszCopy);
}

MergeNames::MergeNames() : m_pHeader(NULL), m_pLookup(NULL)
{
}

MergeNames::~MergeNames()
{
    delete m_pLookup;
}

bool MergeNames::Build(const ListRecord* pHeader)
{
    delete m_pLookup;
    m_pHeader = NULL;
    m_pLookup = pHeader != NULL ? new (std::nothrow) NameLookup : NULL;
    if (m_pLookup == NULL || !m_pLookup->Build(pHeader)) {
        delete m_pLookup;
        m_pLookup = NULL;
        return false;
    }
    m_pHeader = pHeader;
    return true;
}

// The text merged with the fields that pfnMakeHeader and pfnMakeRecord make of the
// list's header and the recipient's record; NULL when that fails.
static char* MergeWithFields(const char* pszOriginal, bool bHtml, const ListRecord* pHeader,
                             const ListRecord* pRecord, bool (*pfnMakeHeader)(const ListRecord*, ListRecord*),
                             bool (*pfnMakeRecord)(const ListRecord*, int, ListRecord*))
{
    ListRecord fieldHeader, fieldRecord;
    char* pszCopy = NULL;
    bool bMerged = pHeader != NULL && pfnMakeHeader(pHeader, &fieldHeader) &&
                   pfnMakeRecord(pRecord, FieldCount(pHeader), &fieldRecord) &&
                   MergeJudgedCopy(pszOriginal, bHtml, pHeader, pRecord, &fieldHeader, &fieldRecord, &pszCopy) ==
                       MergeDone;
    if (!bMerged) {
        free(pszCopy);
        pszCopy = NULL;
    }
    return pszCopy;
}

char* MergePlainText(const char* pszOriginal, const ListRecord* pHeader, const ListRecord* pRecord)
{
    return MergeWithFields(pszOriginal, false, pHeader, pRecord, MakePlainHeader, MakePlainRecord);
}

char* MergeHtmlText(const char* pszOriginal, const ListRecord* pHeader, const ListRecord* pRecord)
{
    return MergeWithFields(pszOriginal, true, pHeader, pRecord, MakeHtmlHeader, MakeHtmlRecord);
}

void MakeOneLine(char* pszText)
{
    if (pszText == NULL)
        return;
    char* pszWrite = pszText;
    for (const char* p = pszText; *p; ++p) {
        if (*p == '\r' && p[1] == '\n')
            ++p;
        *pszWrite++ = (*p == '\r' || *p == '\n') ? ' ' : *p;
    }
    *pszWrite = '\0';
}
