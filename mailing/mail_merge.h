// Mail merge: replaces every placeholder "[[name]]" of a text by the value of
// that header field in one recipient's record ("[[name|text]]": by text when
// the value is empty or only blanks), and keeps or drops what stands between
// "[[IF name]]" (or "[[IF NOT name]]"), an optional "[[ELSE]]" and "[[END IF]]"
// as the value is blank or not, in one pass from left to right: an inserted
// value is never searched again, so the result does not depend on the order
// of the columns. A text's merge is one pass that finds its
// placeholders and its length, then the write of the result; a placeholder's
// name is looked up by what follows its "[[" in a table of the header's
// names (MergeNames), so that it costs the same with 8 columns or 90. Plain
// C++ over the C runtime, so it also builds natively.
#ifndef LETTERCAST_MAIL_MERGE_H
#define LETTERCAST_MAIL_MERGE_H

#include <stddef.h>

#include <vector>

#include "mailing/list_record.h"

// A value holds fewer characters than this (UTF-8 sequences, not bytes): a
// whole record's characters.
#define LC_MERGE_FIELD_CAPACITY (LC_RECORD_MAX_CHARS + 1)
#define LC_MERGE_NAME_LIMIT (LC_MERGE_FIELD_CAPACITY - 5)   // a name this long would make too long a placeholder
#define LC_MERGE_MIN_SIZE 10          // the sizing call never asks for less
#define LC_MERGE_SLACK 10             // the working copy gets this much beyond the needed size

// The column of the placeholder that begins at pszAt, which holds "[[", as
// the merge finds it (a placeholder split by tags, one with a fallback
// included), and its length; -1 when no field's placeholder begins there.
int PlaceholderColumnAt(const char* pszAt, const ListRecord* pHeader, int* pnLength);

// The markers of conditional text. A block is an IF, at most one ELSE and an
// END IF; blocks nest. A marker alone on its line (plain text) or alone in
// its elements (HTML) takes the line's end or those elements with it.
enum MergeMarker {
    MergeMarkerNone = 0,
    MergeMarkerIf,      // "[[IF Name]]": what follows is kept when Name's value is not blank
    MergeMarkerIfNot,   // "[[IF NOT Name]]": kept when it is blank
    MergeMarkerElse,    // "[[ELSE]]": what follows is kept when the IF's is not
    MergeMarkerEndIf,   // "[[END IF]]"
};

// The marker that begins at pszAt, which holds "[[" (keywords in any case),
// with its length and, for an IF, the column it names (-1 when it names no
// field); MergeMarkerNone when none begins there.
int MergeMarkerAt(const char* pszAt, const ListRecord* pHeader, int* pnColumn, int* pnLength);

// A marker the merge leaves as it stands, since it makes no block: an IF
// without END IF, an ELSE outside a block (or a block's second), an END IF
// without IF. An IF naming no field also stands as it is, with its block.
enum MergeBlockProblemKind {
    MergeBlockFine = 0,
    MergeBlockIfWithoutEnd,
    MergeBlockElseOutside,
    MergeBlockEndWithoutIf,
};
struct MergeBlockProblem {
    int nKind;
    size_t nAt;       // the marker's "[[" in the text
    size_t nLength;   // to its "]]"
};
// Adds each such marker of pszText, in order, read as HTML when bHtml, with
// the names of pHeader. False when memory ran out.
bool FindBlockProblems(const char* pszText, bool bHtml, const ListRecord* pHeader,
                       std::vector<MergeBlockProblem>* pProblems);

// With pnNeeded: leaves the text alone, ignores cchCapacity and stores the
// size (terminator included, at least 10) that the in-place call needs.
// Without: replaces every placeholder within the buffer of cchCapacity
// characters, never writing at or beyond cchCapacity; a text that would not
// fit is left as it was. The letters a to z match A to Z; where the names of
// two columns both fit at one place, the leftmost column's value goes in.
// False for a name of 32,762 characters or more, a value of 32,767 or more
// (characters: UTF-8 sequences), a needed size beyond what an int holds with
// the slack, or a result that does not fit.
bool MergeFields(char* pszText, int cchCapacity, const ListRecord* pHeader,
                 const ListRecord* pRecord, int* pnNeeded);

class NameLookup;

// A header's names as the merge looks them up, made once for a header that
// many texts are merged with (a job's, for its every recipient), so that
// each text need not make its own. It serves that header alone, and only
// while its names stay as they were.
class MergeNames {
public:
    MergeNames();
    ~MergeNames();
    MergeNames(const MergeNames&) = delete;
    MergeNames& operator=(const MergeNames&) = delete;

    // False when memory ran out: a merge then makes its own, as without one.
    bool Build(const ListRecord* pHeader);
    const ListRecord* Header() const { return m_pHeader; }
    const NameLookup* Lookup() const { return m_pLookup; }

private:
    const ListRecord* m_pHeader;
    NameLookup* m_pLookup;
};

enum MergeResult {
    MergeNoMemory = -1,   // the working copy could not be reallocated
    MergeFailed = 0,      // a limit was exceeded or the result did not fit
    MergeDone = 1,
};

// The whole protocol for one text and one recipient: sizing, the working copy
// reallocated to the needed size + 10 and filled with pszOriginal, the
// in-place merge with the needed size + 1 as capacity. *ppszCopy is a heap
// block (or NULL) that the caller owns and frees with free(); after
// MergeNoMemory it is the block it was before.
MergeResult MergeIntoCopy(const char* pszOriginal, const ListRecord* pHeader,
                          const ListRecord* pRecord, char** ppszCopy);

// MergeIntoCopy for a text of HTML (its blocks keep the tags that other
// elements need): the limits judged on the list's own
// pHeader and pRecord, the placeholders replaced from pHtmlHeader and
// pHtmlRecord (MakeHtmlHeader and MakeHtmlRecord of mailing/html_text.h, or
// those in the code page of the HTML), so that "[[Name]]" inserts the value
// as HTML text and "[[HTML:Name]]" as markup.
MergeResult MergeHtmlIntoCopy(const char* pszOriginal, const ListRecord* pHeader, const ListRecord* pRecord,
                              const ListRecord* pHtmlHeader, const ListRecord* pHtmlRecord, char** ppszCopy);

// The values a text's placeholders take, by column: the first nFirst from
// pFirst (a column it lacks is the empty value), those after from pThen, or
// every one from pFirst when pThen is NULL. So the values that a text's own
// names add to the list's, those of "[[HTML:Name]]", can be the record's own
// rather than a copy made for each recipient.
struct MergeValues {
    const ListRecord* pFirst;
    int nFirst;
    const ListRecord* pThen;
};

// Every name of the list's pHeader and every value of pRecord within the
// limits, used or not: judged once before any of a recipient's texts changes,
// so that one recipient fails for all of its texts alike.
bool MergeFieldsWithinLimits(const ListRecord* pHeader, const ListRecord* pRecord);

// MergeIntoCopy (or, with bHtml, MergeHtmlIntoCopy) with the values handed
// out as above, for a caller that has judged the list's fields with
// MergeFieldsWithinLimits for all the recipient's texts; pNames, when given
// and made for pTextHeader, finds the names.
MergeResult MergeValuesIntoCopy(const char* pszOriginal, bool bHtml, const ListRecord* pTextHeader,
                                const MergeValues& values, char** ppszCopy, const MergeNames* pNames);

// Adds to *pColumns the column of every placeholder without fallback that
// the merge of pszText with these values keeps (outside dropped blocks) and
// fills with a blank value, once per placeholder. False when memory ran out.
bool FindEmptyPlaceholders(const char* pszText, bool bHtml, const ListRecord* pTextHeader,
                           const MergeValues& values, const MergeNames* pNames, std::vector<int>* pColumns);

// MergeIntoCopy into a fresh block for a subject or a plain body,
// "[[HTML:Name]]" as the value too: the merged text for free(), or NULL when
// the merge failed or memory ran out.
char* MergePlainText(const char* pszOriginal, const ListRecord* pHeader, const ListRecord* pRecord);
// The same for UTF-8 HTML: values as HTML text, "[[HTML:Name]]" as markup.
char* MergeHtmlText(const char* pszOriginal, const ListRecord* pHeader, const ListRecord* pRecord);

// A subject is one line: every line break of the text (CR LF, CR or LF, as a
// multi-line value brings it) becomes one space, in place.
void MakeOneLine(char* pszText);

#endif
