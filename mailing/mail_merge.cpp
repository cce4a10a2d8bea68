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

// The length of the placeholder of pszField at pszAt, which holds "[[", or 0.
// An editor's formatting can split a placeholder with tags
// ("[[<span>First</span> Name]]"): where the name does not follow as it
// stands, the tags between its characters are passed over, and go with it.
int PlaceholderLength(const char* pszAt, const char* pszField)
{
    const char* pszName = pszAt + 2;
    int j = 0;
    // The text's terminator never equals a name's character, so the
    // comparison stops there too.
    while (pszField[j] != '\0' && FoldCase(pszName[j]) == FoldCase(pszField[j]))
        ++j;
    if (pszField[j] == '\0' && pszName[j] == ']' && pszName[j + 1] == ']')
        return j + 4;
    const char* psz = pszName;
    for (j = 0;; ++j) {
        while (psz != NULL && *psz == '<')
            psz = SkipTag(psz);
        if (psz == NULL)
            return 0;
        if (pszField[j] == '\0')
            break;
        // Split, a placeholder still ends at its first "]]".
        if ((psz[0] == ']' && psz[1] == ']') || FoldCase(*psz) != FoldCase(pszField[j]))
            return 0;
        ++psz;
    }
    if (psz[0] != ']' || psz[1] != ']')
        return 0;
    return (int)(psz + 2 - pszAt);
}

// The column whose placeholder begins at pszAt, which holds "[[", and the
// placeholder's length; -1 when no header field's name follows. When several
// names would fit, the leftmost column wins. Every name in turn: what the
// lookup below stands in for, and what it falls back on.
int MatchColumn(const char* pszAt, const ListRecord* pHeader, int* pnPlaceholder)
{
    int nColumns = FieldCount(pHeader);
    for (int i = 0; i < nColumns; ++i) {
        int nLength = PlaceholderLength(pszAt, FieldText(pHeader, i));
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

// Whether a name holds "]]": such a name can only be found by trying it.
bool HoldsClosing(const char* pszName)
{
    for (; *pszName; ++pszName) {
        if (pszName[0] == ']' && pszName[1] == ']')
            return true;
    }
    return false;
}

}  // namespace

// The columns of one header by their folded names, so that a placeholder is
// found by what follows its "[[" rather than by trying every name. What can
// follow is narrow: a name without "]]" placed as it stands ends at the first
// "]]" after the "[[", or one character later when that is "]]]" (the name
// then ends in ']'); split by tags, its characters are those outside the tags
// up to the first "]]". Those two or three texts are looked up, and the
// leftmost column among what they find, confirmed by PlaceholderLength, is
// the one that trying every name in turn would take. The few names that hold
// "]]" are tried in turn.
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
                if (HoldsClosing(pszName)) {
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
    int Find(const char* pszAt, const ListRecord* pHeader, int* pnPlaceholder) const
    {
        const char* pszName = pszAt + 2;
        int nBest = INT_MAX;
        // As it stands: up to the first "]]" (and one character on), hashed
        // on the way; a '<' on the way means a split reading may differ.
        unsigned uHash = kHashStart;
        bool bTag = false;
        size_t i = 0;
        for (; i <= m_cchLongest && pszName[i] != '\0'; ++i) {
            if (pszName[i] == ']' && pszName[i + 1] == ']')
                break;
            bTag = bTag || pszName[i] == '<';
            uHash = HashStep(uHash, pszName[i]);
        }
        if (i <= m_cchLongest && pszName[i] == ']') {
            Consider(pszAt, pHeader, uHash, i, &nBest);
            if (pszName[i + 2] == ']' && i + 1 <= m_cchLongest)
                Consider(pszAt, pHeader, HashStep(uHash, ']'), i + 1, &nBest);
        }
        if (bTag)
            ConsiderSplit(pszAt, pHeader, &nBest);
        for (int nColumn : m_tried) {
            if (nColumn >= nBest)
                break;
            if (PlaceholderLength(pszAt, FieldText(pHeader, nColumn)) > 0)
                nBest = nColumn;
        }
        if (nBest == INT_MAX)
            return -1;
        *pnPlaceholder = PlaceholderLength(pszAt, FieldText(pHeader, nBest));
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
            if (slot.uHash == uHash && slot.cchName == cchName && slot.nColumn < *pnBest &&
                PlaceholderLength(pszAt, FieldText(pHeader, slot.nColumn)) > 0)
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
            while (psz != NULL && *psz == '<')
                psz = SkipTag(psz);
            if (psz == NULL)
                return;
            if (psz[0] == ']' && psz[1] == ']') {
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

    int Find(const char* pszAt, int* pnPlaceholder) const
    {
        return m_pLookup ? m_pLookup->Find(pszAt, m_pHeader, pnPlaceholder)
                         : MatchColumn(pszAt, m_pHeader, pnPlaceholder);
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

// One placeholder of a text: where it begins, its length, and the value that
// replaces it.
struct FoundPlaceholder {
    size_t nAt;
    int nPlaceholder;
    const char* pszValue;
    size_t cchValue;
};

// A text's placeholders, found in its one pass from left to right (the
// search goes on behind each one, so no value is ever searched), with the
// text's length, which the same pass finds, and what the sizing and the
// in-place merge judge. The first few are kept without a heap block.
struct MergePlan {
    static const size_t knInline = 32;
    FoundPlaceholder inlineFound[knInline];
    size_t nFound = 0;
    std::vector<FoundPlaceholder> moreFound;
    size_t cchText = 0;
    long long nGrowth = 0;   // what the longer values add, the shorter ones not taken off
    long long nRise = 0;     // the most the text is ever longer than it was, replacing left to right

    void Add(const FoundPlaceholder& found)
    {
        if (nFound < knInline)
            inlineFound[nFound] = found;
        else
            moreFound.push_back(found);
        ++nFound;
    }
    const FoundPlaceholder& At(size_t n) const { return n < knInline ? inlineFound[n] : moreFound[n - knInline]; }
    long long Peak() const { return (long long)cchText + nRise; }
};

// The one pass over a text: its placeholders and its length. False when
// memory runs out.
bool PlanMerge(const char* pszText, const ListRecord* pHeader, const MergeValues& values, const MergeNames* pNames,
               MergePlan* pPlan)
{
    HeldLookup lookup(pHeader, pNames);
    long long nDelta = 0;
    const char* psz = pszText;
    try {
        for (;;) {
            psz = NextBracketOrEnd(psz);
            if (*psz == '\0')
                break;
            int nPlaceholder = 0;
            int nColumn = psz[1] == '[' ? lookup.Find(psz, &nPlaceholder) : -1;
            if (nColumn < 0) {
                // "[[[Name]]" holds its placeholder one character further on.
                ++psz;
                continue;
            }
            const char* pszValue = ValueText(values, nColumn);
            size_t cchValue = strlen(pszValue);
            pPlan->Add({ (size_t)(psz - pszText), nPlaceholder, pszValue, cchValue });
            long long nStep = (long long)cchValue - nPlaceholder;
            if (nStep > 0)
                pPlan->nGrowth += nStep;
            nDelta += nStep;
            if (nDelta > pPlan->nRise)
                pPlan->nRise = nDelta;
            psz += nPlaceholder;
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    pPlan->cchText = (size_t)(psz - pszText);
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
// from pszWrite on, the values in place of the planned placeholders. pszWrite
// may lie before pszRead in the same block: it never overtakes what is still
// to be read, as long as pszRead lies as far on as the text ever grows.
void WriteMerged(const char* pszRead, const MergePlan& plan, char* pszWrite)
{
    size_t nRead = 0;
    for (size_t n = 0; n < plan.nFound; ++n) {
        const FoundPlaceholder& found = plan.At(n);
        size_t cchBefore = found.nAt - nRead;
        memmove(pszWrite, pszRead + nRead, cchBefore);
        pszWrite += cchBefore;
        memcpy(pszWrite, found.pszValue, found.cchValue);
        pszWrite += found.cchValue;
        nRead = found.nAt + (size_t)found.nPlaceholder;
    }
    memmove(pszWrite, pszRead + nRead, plan.cchText - nRead + 1);
}

bool SizeMerge(const char* pszText, const ListRecord* pHeader, const ListRecord* pRecord,
               int* pnNeeded)
{
    MergePlan plan;
    return PlanMerge(pszText, pHeader, AllFrom(pRecord), NULL, &plan) && (long long)plan.cchText + 1 <= knMaxNeeded &&
           NeededSize(plan, pnNeeded);
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
    if (!PlanMerge(pszText, pHeader, AllFrom(pRecord), NULL, &plan) || plan.Peak() >= cchCapacity)
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
    return MatchColumn(pszAt, pHeader, pnLength);
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
// placeholders replaced from pHeader's names and the values.
MergeResult MergeCopyOf(const char* pszOriginal, const ListRecord* pHeader, const MergeValues& values,
                        const MergeNames* pNames, char** ppszCopy)
{
    if (pszOriginal == NULL || ppszCopy == NULL || pHeader == NULL || values.pFirst == NULL)
        return MergeFailed;
    // One pass over the original finds its placeholders and its length; the
    // copy is then written from them.
    MergePlan plan;
    if (!PlanMerge(pszOriginal, pHeader, values, pNames, &plan))
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

}  // namespace

MergeResult MergeIntoCopy(const char* pszOriginal, const ListRecord* pHeader,
                          const ListRecord* pRecord, char** ppszCopy)
{
    return MergeHtmlIntoCopy(pszOriginal, pHeader, pRecord, pHeader, pRecord, ppszCopy);
}

MergeResult MergeHtmlIntoCopy(const char* pszOriginal, const ListRecord* pHeader, const ListRecord* pRecord,
                              const ListRecord* pHtmlHeader, const ListRecord* pHtmlRecord, char** ppszCopy)
{
    if (pHeader == NULL || pRecord == NULL || !MergeFieldsWithinLimits(pHeader, pRecord))
        return MergeFailed;
    return MergeCopyOf(pszOriginal, pHtmlHeader, AllFrom(pHtmlRecord), NULL, ppszCopy);
}

MergeResult MergeValuesIntoCopy(const char* pszOriginal, const ListRecord* pTextHeader, const MergeValues& values,
                                char** ppszCopy, const MergeNames* pNames)
{
    return MergeCopyOf(pszOriginal, pTextHeader, values, pNames, ppszCopy);
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
static char* MergeWithFields(const char* pszOriginal, const ListRecord* pHeader, const ListRecord* pRecord,
                             bool (*pfnMakeHeader)(const ListRecord*, ListRecord*),
                             bool (*pfnMakeRecord)(const ListRecord*, int, ListRecord*))
{
    ListRecord fieldHeader, fieldRecord;
    char* pszCopy = NULL;
    bool bMerged = pHeader != NULL && pfnMakeHeader(pHeader, &fieldHeader) &&
                   pfnMakeRecord(pRecord, FieldCount(pHeader), &fieldRecord) &&
                   MergeHtmlIntoCopy(pszOriginal, pHeader, pRecord, &fieldHeader, &fieldRecord, &pszCopy) == MergeDone;
    if (!bMerged) {
        free(pszCopy);
        pszCopy = NULL;
    }
    return pszCopy;
}

char* MergePlainText(const char* pszOriginal, const ListRecord* pHeader, const ListRecord* pRecord)
{
    return MergeWithFields(pszOriginal, pHeader, pRecord, MakePlainHeader, MakePlainRecord);
}

char* MergeHtmlText(const char* pszOriginal, const ListRecord* pHeader, const ListRecord* pRecord)
{
    return MergeWithFields(pszOriginal, pHeader, pRecord, MakeHtmlHeader, MakeHtmlRecord);
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
