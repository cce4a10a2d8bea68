#include "mailing/mail_merge.h"

#include "mailing/html_text.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include <new>
#include <vector>

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

// Every name and every value is checked before any text changes, used or
// not, so that one recipient fails for all of its texts alike.
bool FieldsWithinLimits(const ListRecord* pHeader, const ListRecord* pRecord)
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
// names would fit, the leftmost column wins.
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

// The next placeholder of a header field at or after psz: its position (NULL
// when there is none), column and length.
const char* NextPlaceholder(const char* psz, const ListRecord* pHeader, int* pnColumn, int* pnPlaceholder)
{
    for (;;) {
        psz = strchr(psz, '[');
        if (psz == NULL)
            return NULL;
        if (psz[1] == '[') {
            *pnColumn = MatchColumn(psz, pHeader, pnPlaceholder);
            if (*pnColumn >= 0)
                return psz;
        }
        // "[[[Name]]" holds its placeholder one character further on.
        ++psz;
    }
}

// One placeholder of a text: where it begins, its length, and the length of
// the value that replaces it.
struct FoundPlaceholder {
    size_t nAt;
    int nPlaceholder;
    const char* pszValue;
    size_t cchValue;
};

// A text's placeholders, found in one pass from left to right: the search
// goes on behind each one, so no value is ever searched for placeholders.
// What the sizing and the writing both take, so that each is one pass over
// the list of them rather than over the text. False when memory runs out.
struct MergePlan {
    std::vector<FoundPlaceholder> found;
    long long nGrowth;   // what the longer values add, the shorter ones not taken off
    long long nPeak;     // the longest the text becomes, replacing left to right
};

bool PlanMerge(const char* pszText, long long cchText, const ListRecord* pHeader, const ListRecord* pRecord,
               MergePlan* pPlan)
{
    pPlan->nGrowth = 0;
    pPlan->nPeak = cchText;
    long long nLength = cchText;
    int nColumn = 0;
    int nPlaceholder = 0;
    try {
        const char* psz = NextPlaceholder(pszText, pHeader, &nColumn, &nPlaceholder);
        while (psz != NULL) {
            const char* pszValue = FieldText(pRecord, nColumn);
            size_t cchValue = strlen(pszValue);
            pPlan->found.push_back({ (size_t)(psz - pszText), nPlaceholder, pszValue, cchValue });
            long long nDelta = (long long)cchValue - nPlaceholder;
            if (nDelta > 0)
                pPlan->nGrowth += nDelta;
            nLength += nDelta;
            if (nLength > pPlan->nPeak)
                pPlan->nPeak = nLength;
            psz = NextPlaceholder(psz + nPlaceholder, pHeader, &nColumn, &nPlaceholder);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// The size the merge needs, terminator included and at least
// LC_MERGE_MIN_SIZE; false when it is beyond what an int holds with the slack.
bool NeededSize(long long cchText, const MergePlan& plan, int* pnNeeded)
{
    // Shorter values never lower the size, so it is never below the text's
    // own, and a wrapped int would hand the caller a small buffer.
    long long nNeeded = cchText + 1 + plan.nGrowth;
    if (nNeeded > knMaxNeeded)
        return false;
    *pnNeeded = nNeeded < LC_MERGE_MIN_SIZE ? LC_MERGE_MIN_SIZE : (int)nNeeded;
    return true;
}

// The merged text of pszRead (cchRead characters and its terminator) written
// from pszWrite on, the values in place of the planned placeholders. pszWrite
// may lie before pszRead in the same block: it never overtakes what is still
// to be read, as long as pszRead lies as far on as the text ever grows.
void WriteMerged(const char* pszRead, size_t cchRead, const MergePlan& plan, char* pszWrite)
{
    size_t nRead = 0;
    for (const FoundPlaceholder& found : plan.found) {
        size_t cchBefore = found.nAt - nRead;
        memmove(pszWrite, pszRead + nRead, cchBefore);
        pszWrite += cchBefore;
        memcpy(pszWrite, found.pszValue, found.cchValue);
        pszWrite += found.cchValue;
        nRead = found.nAt + (size_t)found.nPlaceholder;
    }
    memmove(pszWrite, pszRead + nRead, cchRead - nRead + 1);
}

bool SizeMerge(const char* pszText, const ListRecord* pHeader, const ListRecord* pRecord,
               int* pnNeeded)
{
    size_t cchText = strlen(pszText);
    if ((long long)cchText + 1 > knMaxNeeded)
        return false;
    MergePlan plan;
    return PlanMerge(pszText, (long long)cchText, pHeader, pRecord, &plan) &&
           NeededSize((long long)cchText, plan, pnNeeded);
}

bool MergeInPlace(char* pszText, int cchCapacity, const ListRecord* pHeader,
                  const ListRecord* pRecord)
{
    if (cchCapacity <= 0)
        return false;
    // A text with no terminator inside the buffer cannot be shifted safely.
    size_t cchFound = BoundedLength(pszText, (size_t)cchCapacity);
    if (cchFound >= (size_t)cchCapacity)
        return false;
    long long cchText = (long long)cchFound;

    // The text after every replacement, terminator included, must fit the
    // capacity; judged before anything moves, so a failure leaves it as it was.
    MergePlan plan;
    if (!PlanMerge(pszText, cchText, pHeader, pRecord, &plan) || plan.nPeak >= cchCapacity)
        return false;

    // The text moves right once by as much as it ever grows; the merged text
    // is then written from the front, never overtaking what is still to be read.
    size_t nShift = (size_t)(plan.nPeak - cchText);
    if (nShift > 0)
        memmove(pszText + nShift, pszText, (size_t)cchText + 1);
    WriteMerged(pszText + nShift, cchFound, plan, pszText);
    return true;
}

}  // namespace

int PlaceholderColumnAt(const char* pszAt, const ListRecord* pHeader, int* pnLength)
{
    if (pszAt == NULL || pHeader == NULL || pszAt[0] != '[' || pszAt[1] != '[')
        return -1;
    return MatchColumn(pszAt, pHeader, pnLength);
}

bool MergeFields(char* pszText, int cchCapacity, const ListRecord* pHeader,
                 const ListRecord* pRecord, int* pnNeeded)
{
    if (pszText == NULL || pHeader == NULL || pRecord == NULL)
        return false;
    if (!FieldsWithinLimits(pHeader, pRecord))
        return false;
    if (pnNeeded != NULL)
        return SizeMerge(pszText, pHeader, pRecord, pnNeeded);
    return MergeInPlace(pszText, cchCapacity, pHeader, pRecord);
}

namespace {

// The protocol over one text, the limits judged on pLimitHeader and
// pLimitRecord (the list's own fields), the placeholders replaced from
// pHeader and pRecord.
MergeResult MergeCopyOf(const char* pszOriginal, const ListRecord* pLimitHeader, const ListRecord* pLimitRecord,
                        const ListRecord* pHeader, const ListRecord* pRecord, char** ppszCopy)
{
    if (pszOriginal == NULL || ppszCopy == NULL || pLimitHeader == NULL || pLimitRecord == NULL || pHeader == NULL ||
        pRecord == NULL)
        return MergeFailed;
    if (!FieldsWithinLimits(pLimitHeader, pLimitRecord))
        return MergeFailed;
    // One pass over the original finds its placeholders; the copy is then
    // written from them, the original read once more.
    size_t cchText = strlen(pszOriginal);
    if ((long long)cchText + 1 > knMaxNeeded)
        return MergeFailed;
    MergePlan plan;
    if (!PlanMerge(pszOriginal, (long long)cchText, pHeader, pRecord, &plan))
        return MergeNoMemory;
    int nNeeded = 0;
    if (!NeededSize((long long)cchText, plan, &nNeeded))
        return MergeFailed;

    char* pszCopy = (char*)realloc(*ppszCopy, (size_t)nNeeded + LC_MERGE_SLACK);
    if (pszCopy == NULL)
        return MergeNoMemory;
    *ppszCopy = pszCopy;
    // The needed size holds the longest the text ever becomes.
    WriteMerged(pszOriginal, cchText, plan, pszCopy);
    return MergeDone;
}

}  // namespace

MergeResult MergeIntoCopy(const char* pszOriginal, const ListRecord* pHeader,
                          const ListRecord* pRecord, char** ppszCopy)
{
    return MergeCopyOf(pszOriginal, pHeader, pRecord, pHeader, pRecord, ppszCopy);
}

MergeResult MergeHtmlIntoCopy(const char* pszOriginal, const ListRecord* pHeader, const ListRecord* pRecord,
                              const ListRecord* pHtmlHeader, const ListRecord* pHtmlRecord, char** ppszCopy)
{
    return MergeCopyOf(pszOriginal, pHeader, pRecord, pHtmlHeader, pHtmlRecord, ppszCopy);
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
