#include "mailing/list_reader.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include "mailing/bounded_copy.h"
#include "mailing/html_text.h"
#include "settings/settings_store.h"

int ListDelimiter = ListDelimiterUnknown;
bool gbListCutShort = false;
int gnListRecordLine = 0;
int gnListUnclosedQuoteLine = 0;
ListSkipWatch gListSkipWatch = { NULL, NULL };

int gnListEncoding = ListEncodingAnsi;
int gnListBadTextLine = 0;
int gnListBadTextChar = 0;

const char* ListEncodingName(int nEncoding)
{
    switch (nEncoding) {
    case ListEncodingUtf8:
    case ListEncodingUtf8Mark:
        return "UTF-8";
    case ListEncodingUtf16Le:
    case ListEncodingUtf16Be:
        return "UTF-16";
    default:
        return "the system's ANSI code page";
    }
}

// Binary: in text mode the C runtime takes a byte 1A for the end of the file
// and the records after it would never be read. Line ends are the reader's
// own business (ReadByteLine).
#ifdef _WIN32
static const char kszListRead[] = "rb";
#else
static const char kszListRead[] = "r";
#endif

#define LC_ADDRESS_MAX_CHARS (LC_ADDRESS_CAPACITY - 1)

// A block that grows as needed and is kept for the next use. The field
// tables and texts alone go through gpfnListRealloc.
struct GrowBuffer {
    char* p;
    size_t cb;      // bytes in use
    size_t cbCap;   // bytes allocated
};

static bool Reserve(GrowBuffer* pBuffer, size_t cbNeeded)
{
    if (cbNeeded <= pBuffer->cbCap)
        return true;
    size_t cbNew = pBuffer->cbCap < 1024 ? 1024 : pBuffer->cbCap;
    while (cbNew < cbNeeded)
        cbNew *= 2;
    char* pGrown = (char*)realloc(pBuffer->p, cbNew);
    if (!pGrown)
        return false;
    pBuffer->p = pGrown;
    pBuffer->cbCap = cbNew;
    return true;
}

static bool PutBytes(GrowBuffer* pBuffer, const char* pBytes, size_t cb)
{
    if (!Reserve(pBuffer, pBuffer->cb + cb + 1))
        return false;
    memcpy(pBuffer->p + pBuffer->cb, pBytes, cb);
    pBuffer->cb += cb;
    pBuffer->p[pBuffer->cb] = '\0';
    return true;
}

// The reader's blocks: the physical line, the line with CR LF ends, one piece
// of field text.
static GrowBuffer sLine, sNormal, sPiece;

// Checks UTF-8 a byte at a time: shortest forms only, no surrogates, nothing
// beyond U+10FFFF.
struct Utf8Check {
    int nNeed;
    unsigned char chLow, chHigh;
    bool bBad;
    bool bNonAscii;
    bool bSequence;      // a whole sequence of two bytes or more was met
    bool bInSequence;    // the sequence under way has been valid so far
};

static void StartUtf8Check(Utf8Check* pCheck)
{
    pCheck->nNeed = 0;
    pCheck->chLow = 0x80;
    pCheck->chHigh = 0xBF;
    pCheck->bBad = false;
    pCheck->bNonAscii = false;
    pCheck->bSequence = false;
    pCheck->bInSequence = false;
}

static void CheckUtf8Byte(Utf8Check* pCheck, unsigned char ch)
{
    if (pCheck->nNeed > 0) {
        bool bFits = ch >= pCheck->chLow && ch <= pCheck->chHigh;
        pCheck->chLow = 0x80;
        pCheck->chHigh = 0xBF;
        if (!bFits) {
            // The sequence is broken; the byte starts afresh.
            pCheck->bBad = true;
            pCheck->nNeed = 0;
            pCheck->bInSequence = false;
            CheckUtf8Byte(pCheck, ch);
            return;
        }
        if (--pCheck->nNeed == 0 && pCheck->bInSequence)
            pCheck->bSequence = true;
        return;
    }
    if (ch < 0x80)
        return;
    pCheck->bNonAscii = true;
    pCheck->bInSequence = true;
    if (ch >= 0xC2 && ch <= 0xDF) {
        pCheck->nNeed = 1;
    } else if (ch >= 0xE0 && ch <= 0xEF) {
        pCheck->nNeed = 2;
        if (ch == 0xE0)
            pCheck->chLow = 0xA0;
        else if (ch == 0xED)
            pCheck->chHigh = 0x9F;
    } else if (ch >= 0xF0 && ch <= 0xF4) {
        pCheck->nNeed = 3;
        if (ch == 0xF0)
            pCheck->chLow = 0x90;
        else if (ch == 0xF4)
            pCheck->chHigh = 0x8F;
    } else {
        pCheck->bBad = true;
        pCheck->bInSequence = false;
    }
}

static bool IsValidUtf8(const char* pText, size_t cb)
{
    Utf8Check check;
    StartUtf8Check(&check);
    for (size_t i = 0; i < cb && !check.bBad; ++i)
        CheckUtf8Byte(&check, (unsigned char)pText[i]);
    return !check.bBad && check.nNeed == 0;
}

// The encoding of every list open through OpenListFile, by stream; a stream
// the table does not know is read as ANSI.
struct OpenList {
    FILE* pFile;
    int nEncoding;
    int nPendingUnit;   // a UTF-16 unit read ahead after a CR, -1 when none
    int nLinesRead;     // physical lines read from it, comment lines included
};
#define LC_OPEN_LIST_SLOTS 8
static OpenList sOpenLists[LC_OPEN_LIST_SLOTS];
static int snNextOpenListSlot = 0;

static OpenList* FindOpenList(FILE* pFile)
{
    for (OpenList& list : sOpenLists) {
        if (list.pFile == pFile)
            return &list;
    }
    return NULL;
}

static void RememberOpenList(FILE* pFile, int nEncoding)
{
    OpenList* pList = FindOpenList(pFile);
    if (!pList) {
        pList = &sOpenLists[snNextOpenListSlot];
        snNextOpenListSlot = (snNextOpenListSlot + 1) % LC_OPEN_LIST_SLOTS;
    }
    pList->pFile = pFile;
    pList->nEncoding = nEncoding;
    pList->nPendingUnit = -1;
    pList->nLinesRead = 0;
}

// The line count of one reading: another opening of a list in between (the
// delimiter detection of a resume click) leaves it alone.
static int* LinesReadOf(FILE* pFile)
{
    static int snUnknownListLines = 0;
    OpenList* pList = FindOpenList(pFile);
    return pList ? &pList->nLinesRead : &snUnknownListLines;
}

// Reads the byte-order mark, or failing one the whole file, and leaves the
// stream where the text begins.
static int SniffEncoding(FILE* pFile)
{
    unsigned char mark[3];
    size_t cbMark = fread(mark, 1, sizeof(mark), pFile);
    if (cbMark == 3 && mark[0] == 0xEF && mark[1] == 0xBB && mark[2] == 0xBF)
        return ListEncodingUtf8Mark;
    if (cbMark >= 2 && ((mark[0] == 0xFF && mark[1] == 0xFE) || (mark[0] == 0xFE && mark[1] == 0xFF))) {
        fseek(pFile, 2, SEEK_SET);
        return mark[0] == 0xFF ? ListEncodingUtf16Le : ListEncodingUtf16Be;
    }
    rewind(pFile);
    Utf8Check check;
    StartUtf8Check(&check);
    unsigned char buffer[4096];
    size_t cb;
    while ((cb = fread(buffer, 1, sizeof(buffer), pFile)) > 0) {
        for (size_t i = 0; i < cb; ++i)
            CheckUtf8Byte(&check, buffer[i]);
    }
    rewind(pFile);
    // A whole UTF-8 sequence tells a UTF-8 list: a stray byte in it is
    // refused with its line rather than turning every name into ANSI.
    if (check.bSequence)
        return ListEncodingUtf8;
    return !check.bBad && check.nNeed == 0 && check.bNonAscii ? ListEncodingUtf8 : ListEncodingAnsi;
}

FILE* OpenListFile(const char* pszPath)
{
    if (!pszPath || !pszPath[0])
        return NULL;
    gnListRecordLine = 0;
    gnListUnclosedQuoteLine = 0;
    gnListBadTextLine = 0;
    gnListBadTextChar = 0;
    FILE* pFile = fopen(pszPath, kszListRead);
    if (!pFile)
        pFile = OpenListFileShared(pszPath);
    if (!pFile)
        return NULL;
    gnListEncoding = SniffEncoding(pFile);
    RememberOpenList(pFile, gnListEncoding);
    return pFile;
}

// The next UTF-16 unit: 1 with the unit, 0 at the end, -1 for half a unit.
static int ReadUtf16Unit(FILE* pFile, OpenList* pList, unsigned* puUnit)
{
    if (pList->nPendingUnit >= 0) {
        *puUnit = (unsigned)pList->nPendingUnit;
        pList->nPendingUnit = -1;
        return 1;
    }
    int b0 = getc(pFile);
    if (b0 == EOF)
        return 0;
    int b1 = getc(pFile);
    if (b1 == EOF)
        return -1;
    *puUnit = pList->nEncoding == ListEncodingUtf16Le ? (unsigned)(b0 | (b1 << 8)) : (unsigned)((b0 << 8) | b1);
    return 1;
}

// The next character of a UTF-16 list: 1, 0 at the end, -1 when not text.
static int ReadUtf16Char(FILE* pFile, OpenList* pList, unsigned* puChar)
{
    unsigned uUnit;
    int nRead = ReadUtf16Unit(pFile, pList, &uUnit);
    if (nRead <= 0)
        return nRead;
    if (uUnit >= 0xDC00 && uUnit <= 0xDFFF)
        return -1;
    if (uUnit >= 0xD800 && uUnit <= 0xDBFF) {
        unsigned uLow;
        if (ReadUtf16Unit(pFile, pList, &uLow) != 1 || uLow < 0xDC00 || uLow > 0xDFFF)
            return -1;
        uUnit = JoinSurrogates(uUnit, uLow);
    }
    *puChar = uUnit;
    return 1;
}

static int ReadUtf16Line(FILE* pFile, OpenList* pList, GrowBuffer* pLine)
{
    bool bAny = false;
    for (;;) {
        unsigned uChar;
        int nRead = ReadUtf16Char(pFile, pList, &uChar);
        if (nRead < 0)
            return -1;
        if (nRead == 0)
            return bAny ? 1 : 0;
        bAny = true;
        if (uChar == 0)
            return -1;
        if (uChar == '\r') {
            unsigned uNext;
            int nNext = ReadUtf16Unit(pFile, pList, &uNext);
            if (nNext < 0)
                return -1;
            if (nNext == 1 && uNext != '\n')
                pList->nPendingUnit = (int)uNext;
            uChar = '\n';
        }
        char bytes[4];
        if (!PutBytes(pLine, bytes, PutUtf8(bytes, uChar)))
            return -2;
        if (uChar == '\n')
            return 1;
    }
}

// A line of a byte encoding, as its bytes; CR LF and CR end it like LF.
static int ReadByteLine(FILE* pFile, GrowBuffer* pLine)
{
    bool bAny = false;
    for (;;) {
        int ch = getc(pFile);
        if (ch == EOF)
            return bAny ? 1 : 0;
        bAny = true;
        if (ch == 0)
            return -1;
        if (ch == '\r') {
            int chNext = getc(pFile);
            if (chNext != '\n' && chNext != EOF)
                ungetc(chNext, pFile);
            ch = '\n';
        }
        char b = (char)ch;
        if (!PutBytes(pLine, &b, 1))
            return -2;
        if (ch == '\n')
            return 1;
    }
}

// The control character that made ReadListLine refuse its last line, 0 when
// that line was refused for bytes that are no text in the encoding.
static int snLastControlChar = 0;

// The first control character of a line of UTF-8 (C0 but tab and LF, DEL,
// C1), 0 when none: no exporter writes one as text, and one written for a
// character it could not map must not reach a message unseen.
static int FirstControlChar(const char* pszText, size_t cb)
{
    for (size_t i = 0; i < cb; ++i) {
        unsigned char ch = (unsigned char)pszText[i];
        if ((ch < 0x20 && ch != '\t' && ch != '\n') || ch == 0x7F)
            return ch;
        if (ch == 0xC2 && i + 1 < cb && (unsigned char)pszText[i + 1] >= 0x80 && (unsigned char)pszText[i + 1] <= 0x9F)
            return (unsigned char)pszText[i + 1];
    }
    return 0;
}

int ReadListLine(FILE* pFile, const char** ppszLine, size_t* pcbLine)
{
    snLastControlChar = 0;
    OpenList* pList = FindOpenList(pFile);
    int nEncoding = pList ? pList->nEncoding : ListEncodingAnsi;
    sLine.cb = 0;
    if (!Reserve(&sLine, 1))
        return -2;
    sLine.p[0] = '\0';
    int nRead;
    if (nEncoding == ListEncodingUtf16Le || nEncoding == ListEncodingUtf16Be)
        nRead = pList ? ReadUtf16Line(pFile, pList, &sLine) : -1;
    else
        nRead = ReadByteLine(pFile, &sLine);
    if (nRead != 1)
        return nRead;
    if (nEncoding == ListEncodingUtf8 || nEncoding == ListEncodingUtf8Mark) {
        if (!IsValidUtf8(sLine.p, sLine.cb))
            return -1;
    } else if (nEncoding == ListEncodingAnsi) {
        bool bHigh = false;
        for (size_t i = 0; i < sLine.cb && !bHigh; ++i)
            bHigh = (unsigned char)sLine.p[i] >= 0x80;
        if (bHigh) {
            size_t cbUtf8 = 0;
            bool bNoMemory = false;
            char* pszUtf8 = AnsiToUtf8(sLine.p, sLine.cb, &cbUtf8, &bNoMemory);
            if (!pszUtf8)
                return bNoMemory ? -2 : -1;
            sLine.cb = 0;
            bool bPut = PutBytes(&sLine, pszUtf8, cbUtf8);
            free(pszUtf8);
            if (!bPut)
                return -2;
        }
    }
    snLastControlChar = FirstControlChar(sLine.p, sLine.cb);
    if (snLastControlChar != 0)
        return -1;
    *ppszLine = sLine.p;
    *pcbLine = sLine.cb;
    return 1;
}

static bool IsAddressBlank(char ch)
{
    return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n';
}

// Leading and trailing spaces, tabs, CRs and LFs removed in place.
static void TrimBlanks(char* pszText)
{
    size_t cch = strlen(pszText);
    while (cch > 0 && IsAddressBlank(pszText[cch - 1]))
        pszText[--cch] = '\0';
    size_t cchLead = 0;
    while (cchLead < cch && IsAddressBlank(pszText[cchLead]))
        ++cchLead;
    memmove(pszText, pszText + cchLead, cch - cchLead + 1);
}

static void LowerCase(char* pszText)
{
    for (; *pszText; ++pszText)
        *pszText = (char)tolower((unsigned char)*pszText);
}

// The delimiter that a line "sep=X" names (any case, X a comma, semicolon
// or tab, nothing after it but the line end), ListDelimiterUnknown for any
// other line.
static int SepLineDelimiter(const char* pszLine)
{
    if (tolower((unsigned char)pszLine[0]) != 's' || tolower((unsigned char)pszLine[1]) != 'e' ||
        tolower((unsigned char)pszLine[2]) != 'p' || pszLine[3] != '=')
        return ListDelimiterUnknown;
    if (pszLine[4] == '\0' || (pszLine[5] != '\0' && pszLine[5] != '\n') || (pszLine[5] == '\n' && pszLine[6] != '\0'))
        return ListDelimiterUnknown;
    switch (pszLine[4]) {
    case ',':
        return ListDelimiterComma;
    case ';':
        return ListDelimiterSemicolon;
    case '\t':
        return ListDelimiterTab;
    default:
        return ListDelimiterUnknown;
    }
}

static char DelimiterChar(int nDelimiter)
{
    switch (nDelimiter) {
    case ListDelimiterComma:
        return ',';
    case ListDelimiterTab:
        return '\t';
    case ListDelimiterSemicolon:
        return ';';
    default:
        return '\0';
    }
}

// Where a semicolon is the list separator, the comma is the decimal sign and
// fills the records: only the header can tell.
static bool IsSemicolonHeader(const char* pszLine)
{
    return strchr(pszLine, ';') && !strchr(pszLine, ',') && !strchr(pszLine, '\t');
}

static bool IsBlankLine(const char* pszLine)
{
    for (; *pszLine; ++pszLine) {
        if (*pszLine != '\n' && *pszLine != ' ')
            return false;
    }
    return true;
}

void DetectDelimiter()
{
    // ToList is a fixed buffer that need not be terminated.
    char szPath[LC_PATH_CAPACITY];
    size_t cchPath = 0;
    while (cchPath < LC_PATH_CAPACITY - 1 && JobOptions.ToList[cchPath])
        ++cchPath;
    memcpy(szPath, JobOptions.ToList, cchPath);
    szPath[cchPath] = '\0';

    FILE* pFile = szPath[0] ? OpenListFile(szPath) : NULL;
    if (pFile) {
        bool bComma = false;
        bool bTab = false;
        bool bHeaderSeen = false;
        const char* pszLine;
        size_t cbLine;
        bool bFirstLine = true;
        while (!(bComma && bTab) && ReadListLine(pFile, &pszLine, &cbLine) == 1) {
            int nNamed = bFirstLine ? SepLineDelimiter(pszLine) : ListDelimiterUnknown;
            bFirstLine = false;
            if (nNamed != ListDelimiterUnknown) {
                fclose(pFile);
                ListDelimiter = nNamed;
                return;
            }
            bool bComment = cbLine >= 2 && pszLine[0] == '/' && pszLine[1] == '/';
            if (!bHeaderSeen && !bComment && !IsBlankLine(pszLine)) {
                bHeaderSeen = true;
                if (IsSemicolonHeader(pszLine)) {
                    fclose(pFile);
                    ListDelimiter = ListDelimiterSemicolon;
                    return;
                }
            }
            if (strchr(pszLine, ','))
                bComma = true;
            if (strchr(pszLine, '\t'))
                bTab = true;
        }
        fclose(pFile);
        if (bComma != bTab) {
            ListDelimiter = bComma ? ListDelimiterComma : ListDelimiterTab;
            return;
        }
    }

    LowerCase(szPath);
    ListDelimiter = strstr(szPath, ".csv") ? ListDelimiterComma : ListDelimiterTab;
}

// Lines end in one LF; field texts carry CR LF instead.
static bool NormaliseLineEnds(const char* pszLine, size_t cchLine, GrowBuffer* pOut)
{
    pOut->cb = 0;
    if (!Reserve(pOut, 2 * cchLine + 1))
        return false;
    char* pszOut = pOut->p;
    size_t cchOut = 0;
    for (size_t i = 0; i < cchLine; ++i) {
        if (pszLine[i] == '\n')
            pszOut[cchOut++] = '\r';
        pszOut[cchOut++] = pszLine[i];
    }
    pszOut[cchOut] = '\0';
    pOut->cb = cchOut;
    return true;
}

// The first double quote at or after pszFrom that is not followed by another;
// a pair stands for one quote character inside the field. NULL when none.
static const char* FindClosingQuote(const char* pszFrom, const char* pszEnd)
{
    for (const char* p = pszFrom; p < pszEnd; ++p) {
        if (*p != '"')
            continue;
        if (p + 1 < pszEnd && p[1] == '"') {
            ++p;
            continue;
        }
        return p;
    }
    return NULL;
}

// The end of the field text after a closing quote: the next delimiter, or
// the end of the line.
static const char* NextDelimiterOrEnd(const char* pszFrom, const char* pszEnd, char chDelimiter)
{
    const char* pDelimiter = (const char*)memchr(pszFrom, chDelimiter, pszEnd - pszFrom);
    return pDelimiter ? pDelimiter : pszEnd;
}

static size_t CollapseQuotePairs(const char* pszText, size_t cchText, char* pszOut)
{
    if (cchText == 0)
        return 0;
    if (!memchr(pszText, '"', cchText)) {
        memcpy(pszOut, pszText, cchText);
        return cchText;
    }
    size_t cchOut = 0;
    for (size_t i = 0; i < cchText; ++i) {
        pszOut[cchOut++] = pszText[i];
        if (pszText[i] == '"' && i + 1 < cchText && pszText[i + 1] == '"')
            ++i;
    }
    return cchOut;
}

struct RecordScan {
    char chDelimiter;
    bool bInQuote;        // a quoted field is open at the end of the last line
    bool bOpenFieldLost;  // that field was dropped for want of memory
};

// The text of one piece with its quote pairs collapsed, in sPiece; NULL when
// memory ran out.
static const char* CollapsedPiece(const char* pszFrom, const char* pszTo, size_t* pcchPiece)
{
    sPiece.cb = 0;
    if (!Reserve(&sPiece, (size_t)(pszTo - pszFrom) + 1))
        return NULL;
    *pcchPiece = CollapseQuotePairs(pszFrom, pszTo - pszFrom, sPiece.p);
    return sPiece.p;
}

static bool AddPiece(ListRecord* pRecord, RecordScan* pScan, const char* pszFrom, const char* pszTo,
                     bool bOpensQuote)
{
    size_t cchPiece = 0;
    const char* pszPiece = CollapsedPiece(pszFrom, pszTo, &cchPiece);
    bool bAdded = pszPiece && AddListField(pRecord, pszPiece, cchPiece);
    if (!bAdded)
        ReportListOutOfMemory();
    if (bOpensQuote) {
        pScan->bInQuote = true;
        pScan->bOpenFieldLost = !bAdded;
    }
    return bAdded;
}

static void AppendPiece(ListRecord* pRecord, RecordScan* pScan, const char* pszFrom, const char* pszTo)
{
    // The rest of a dropped field must not land in the field before it.
    if (pScan->bOpenFieldLost)
        return;
    size_t cchPiece = 0;
    const char* pszPiece = CollapsedPiece(pszFrom, pszTo, &cchPiece);
    if (!pszPiece || !AppendToLastField(pRecord, pszPiece, cchPiece)) {
        pScan->bOpenFieldLost = true;
        ReportListOutOfMemory();
    }
}

// After the closing quote at pszClose: the text up to the next delimiter
// still belongs to the field, as spreadsheet programs read it ("Dee"x is
// Deex). Returns where the next field begins.
static const char* EndQuotedField(ListRecord* pRecord, RecordScan* pScan, const char* pszClose, const char* pszEnd)
{
    const char* pszTextEnd = NextDelimiterOrEnd(pszClose + 1, pszEnd, pScan->chDelimiter);
    if (pszTextEnd > pszClose + 1)
        AppendPiece(pRecord, pScan, pszClose + 1, pszTextEnd);
    pScan->bInQuote = false;
    pScan->bOpenFieldLost = false;
    return pszTextEnd < pszEnd ? pszTextEnd + 1 : pszEnd;
}

static void TokeniseLine(ListRecord* pRecord, RecordScan* pScan, const char* pszLine, size_t cchLine)
{
    const char* pszEnd = pszLine + cchLine;
    const char* pszCursor = pszLine;
    while (pszCursor < pszEnd) {
        if (pScan->bInQuote) {
            const char* pszClose = FindClosingQuote(pszCursor, pszEnd);
            if (!pszClose) {
                AppendPiece(pRecord, pScan, pszCursor, pszEnd);
                pszCursor = pszEnd;
                continue;
            }
            AppendPiece(pRecord, pScan, pszCursor, pszClose);
            pszCursor = EndQuotedField(pRecord, pScan, pszClose, pszEnd);
            continue;
        }

        // A double quote opens a quoted field only where the field begins
        // (after blanks at most); inside a field it is an ordinary character,
        // so 6'1" cannot swallow the records after it.
        const char* pszStart = pszCursor;
        while (pszStart < pszEnd && *pszStart == ' ')
            ++pszStart;
        size_t cchRest = pszEnd - pszCursor;
        const char* pszDelimiter = (const char*)memchr(pszCursor, pScan->chDelimiter, cchRest);
        if (pszStart < pszEnd && *pszStart == '"') {
            const char* pszQuote = pszStart;
            const char* pszClose = FindClosingQuote(pszQuote + 1, pszEnd);
            if (!pszClose) {
                AddPiece(pRecord, pScan, pszQuote + 1, pszEnd, true);
                pszCursor = pszEnd;
            } else {
                pScan->bOpenFieldLost = !AddPiece(pRecord, pScan, pszQuote + 1, pszClose, false);
                pszCursor = EndQuotedField(pRecord, pScan, pszClose, pszEnd);
            }
        } else if (pszDelimiter) {
            AddPiece(pRecord, pScan, pszCursor, pszDelimiter, false);
            pszCursor = pszDelimiter + 1;
        } else {
            AddPiece(pRecord, pScan, pszCursor, pszEnd, false);
            pszCursor = pszEnd;
        }
    }
}

enum LineOutcome { RecordComplete, RecordNone, RecordTooLong, RecordQuoteOpenAtEnd, RecordBadText, RecordNoMemory };

// Characters of UTF-8 text: every byte but the continuation bytes.
static size_t CountChars(const char* pszText, size_t cb)
{
    size_t cch = 0;
    for (size_t i = 0; i < cb; ++i) {
        if (((unsigned char)pszText[i] & 0xC0) != 0x80)
            ++cch;
    }
    return cch;
}

// Reads physical lines into the cleared record until it is complete.
static LineOutcome ReadRecordLines(FILE* pFile, ListRecord* pRecord, char chDelimiter)
{
    RecordScan scan = { chDelimiter, false, false };
    bool bAnyLine = false;
    size_t cchRaw = 0;
    int* pnLinesRead = LinesReadOf(pFile);
    for (;;) {
        const char* pszLine = NULL;
        size_t cbLine = 0;
        int nRead = ReadListLine(pFile, &pszLine, &cbLine);
        int nLine = *pnLinesRead + 1;
        if (nRead == -1) {
            if (gnListBadTextLine == 0) {
                gnListBadTextLine = nLine;
                gnListBadTextChar = snLastControlChar;
            }
            return RecordBadText;
        }
        if (nRead == -2)
            return RecordNoMemory;
        if (nRead == 0) {
            if (!bAnyLine)
                return RecordNone;
            return scan.bInQuote ? RecordQuoteOpenAtEnd : RecordComplete;
        }
        ++*pnLinesRead;
        // A comment is a whole record: inside a quoted value the line is text.
        if (!scan.bInQuote && cbLine >= 2 && pszLine[0] == '/' && pszLine[1] == '/')
            continue;
        cchRaw += CountChars(pszLine, cbLine);
        if (cchRaw > LC_RECORD_MAX_CHARS)
            return RecordTooLong;
        if (!AppendListRaw(pRecord, pszLine, cbLine))
            return RecordNoMemory;
        // Excel's first line "sep=;" names the delimiter; the header follows.
        // It stays in the header's raw text, so that the sent list says it too.
        int nNamed = *pnLinesRead == 1 ? SepLineDelimiter(pszLine) : ListDelimiterUnknown;
        if (nNamed != ListDelimiterUnknown) {
            ListDelimiter = nNamed;
            scan.chDelimiter = DelimiterChar(nNamed);
            continue;
        }
        if (!bAnyLine)
            gnListRecordLine = nLine;
        bAnyLine = true;

        if (!NormaliseLineEnds(pszLine, cbLine, &sNormal))
            return RecordNoMemory;
        size_t cchNormal = sNormal.cb;
        char chLast = cchNormal > 0 ? sNormal.p[cchNormal - 1] : '\0';
        if (cchNormal > 0)
            TokeniseLine(pRecord, &scan, sNormal.p, cchNormal);
        if (chLast == '\n' && !scan.bInQuote)
            return RecordComplete;
    }
}

static void TrimFieldLineEnd(char* pszField)
{
    size_t cch = strlen(pszField);
    if (cch > 0 && pszField[cch - 1] == '\n')
        pszField[--cch] = '\0';
    if (cch > 0 && pszField[cch - 1] == '\r')
        pszField[--cch] = '\0';
}

bool ReadRecord(FILE* pFile, ListRecord* pRecord)
{
    gbListCutShort = false;
    if (!pFile || !pRecord)
        return false;
    for (;;) {
        ClearListRecord(pRecord);
        char chDelimiter = DelimiterChar(ListDelimiter);
        if (chDelimiter == '\0')
            return false;

        LineOutcome outcome = ReadRecordLines(pFile, pRecord, chDelimiter);
        if (outcome == RecordNoMemory)
            ReportListOutOfMemory();
        gbListCutShort = outcome == RecordTooLong || outcome == RecordNoMemory;
        if (outcome == RecordQuoteOpenAtEnd && gnListUnclosedQuoteLine == 0)
            gnListUnclosedQuoteLine = gnListRecordLine;
        if (outcome != RecordComplete && outcome != RecordQuoteOpenAtEnd)
            return false;

        bool bAllEmpty = true;
        for (int i = 0; i < pRecord->nCount; ++i) {
            TrimFieldLineEnd(pRecord->ppszFields[i]);
            if (pRecord->ppszFields[i][0])
                bAllEmpty = false;
        }
        if (!bAllEmpty)
            return true;
    }
}

// The name's first 255 characters, lower-cased, without surrounding blanks.
static void ColumnName(const ListRecord* pHeader, int nColumn, char* pszName)
{
    CopyBounded(pszName, LC_FIELD_NAME_CAPACITY, pHeader->ppszFields[nColumn], LC_FIELD_NAME_CAPACITY - 1);
    LowerCase(pszName);
    TrimBlanks(pszName);
}

static bool MayHoldAddress(const char* pszName)
{
    return strstr(pszName, "e-mail") || strstr(pszName, "email");
}

int FindAddressColumn(const ListRecord* pHeader)
{
    if (pHeader->nCount == 1)
        return 0;
    // A column named for the address itself wins over "Manager Email" or
    // "Email Opt-In" standing before it.
    static const char* const kszAddressNames[] = { "e-mail", "email", "e-mail address", "email address" };
    char szName[LC_FIELD_NAME_CAPACITY];
    for (int i = 0; i < pHeader->nCount; ++i) {
        ColumnName(pHeader, i, szName);
        for (const char* pszExact : kszAddressNames) {
            if (strcmp(szName, pszExact) == 0)
                return i;
        }
    }
    for (int i = 0; i < pHeader->nCount; ++i) {
        ColumnName(pHeader, i, szName);
        if (MayHoldAddress(szName))
            return i;
    }
    return -1;
}

int CountAddressColumns(const ListRecord* pHeader)
{
    if (pHeader->nCount == 1)
        return 1;
    int n = 0;
    char szName[LC_FIELD_NAME_CAPACITY];
    for (int i = 0; i < pHeader->nCount; ++i) {
        ColumnName(pHeader, i, szName);
        if (MayHoldAddress(szName))
            ++n;
    }
    return n;
}

// A display name with the address in angle brackets becomes the bare address.
static void ExtractBracketedAddress(char* pszField)
{
    char* pszOpen = strrchr(pszField, '<');
    if (!pszOpen)
        return;
    char* pszClose = strchr(pszOpen + 1, '>');
    if (!pszClose || !strchr(pszOpen + 1, '@'))
        return;
    size_t cchAddress = pszClose - (pszOpen + 1);
    memmove(pszField, pszOpen + 1, cchAddress);
    pszField[cchAddress] = '\0';
}

// Whether an address field names more than one person, in any shape: two
// '@' ("a@x b@y", "a@x,b@y"), two angle brackets ("Jane <a@x>, Bob <b@y>",
// "<a@x>;<b@y>"), an address beside the brackets ("mia@x Bob <b@y>") or
// text after them ("Bob <b@y> mia@x"). A display name in double quotes may
// hold anything; "Doe, Jane <jane@x>" is one person.
static bool NamesSeveralAddresses(const char* pszField)
{
    size_t nQuotes = 0;
    for (const char* p = pszField; *p; ++p)
        nQuotes += *p == '"';
    // The display name: everything before the first '<' outside its quotes.
    bool bInQuote = false;
    const char* pszOpen = NULL;
    int nNameAt = 0;
    for (const char* p = pszField; *p; ++p) {
        if (*p == '"' && nQuotes % 2 == 0) {
            bInQuote = !bInQuote;
            continue;
        }
        if (bInQuote)
            continue;
        if (*p == '<') {
            pszOpen = p;
            break;
        }
        if (*p == '>')
            return true;
        if (*p == '@')
            ++nNameAt;
    }
    if (!pszOpen) {
        // A bare address: its quotes hide nothing.
        int nAt = 0;
        for (const char* p = pszField; *p; ++p)
            nAt += *p == '@';
        return nAt > 1;
    }
    // One pair of brackets holding at most one '@', and only blanks after it.
    const char* pszClose = strchr(pszOpen + 1, '>');
    if (!pszClose)
        return nNameAt > 0 || strchr(pszOpen + 1, '<') != NULL;
    int nAt = 0;
    for (const char* p = pszOpen + 1; p < pszClose; ++p) {
        if (*p == '<')
            return true;
        nAt += *p == '@';
    }
    if (nAt > 1 || (nAt > 0 && nNameAt > 0))
        return true;
    for (const char* p = pszClose + 1; *p; ++p) {
        if (!IsAddressBlank(*p))
            return true;
    }
    return false;
}

static void ReportSkipped(int nReason, const char* pszAddress)
{
    if (gListSkipWatch.pfnSkipped)
        gListSkipWatch.pfnSkipped(gListSkipWatch.pContext, gnListRecordLine, nReason, pszAddress ? pszAddress : "");
}

bool ReadNextRecipient(int* pnEmailColumn, FILE* pFile, bool bHeaderDone,
                       char* pszAddress, int cchAddress,
                       char* pszHeaderRaw, int cchHeaderRaw,
                       char* pszRecordRaw, int cchRecordRaw,
                       ListRecord* pHeader, ListRecord* pRecord)
{
    if (!pnEmailColumn || !pFile || !pszAddress || cchAddress <= 0 || !pRecord)
        return false;
    pszAddress[0] = '\0';

    if (!bHeaderDone) {
        if (pHeader) {
            if (!ReadRecord(pFile, pHeader))
                return false;
            int nColumn = FindAddressColumn(pHeader);
            if (nColumn >= 0)
                *pnEmailColumn = nColumn;
            CopyBounded(pszHeaderRaw, cchHeaderRaw, pHeader->pszRaw, (size_t)-1);
        } else {
            ListRecord header;
            InitListRecord(&header);
            bool bRead = ReadRecord(pFile, &header);
            if (bRead)
                CopyBounded(pszHeaderRaw, cchHeaderRaw, header.pszRaw, (size_t)-1);
            FreeListRecord(&header);
            if (!bRead)
                return false;
        }
    }

    // Any negative column would index before the field table.
    int nColumn = *pnEmailColumn;
    if (nColumn < 0)
        return false;

    for (;;) {
        if (!ReadRecord(pFile, pRecord))
            return false;
        if (pRecord->nCount <= nColumn) {
            ReportSkipped(ListSkipTooFewFields, NULL);
            continue;
        }
        CopyBounded(pszRecordRaw, cchRecordRaw, pRecord->pszRaw, (size_t)-1);

        char* pszField = pRecord->ppszFields[nColumn];
        if (NamesSeveralAddresses(pszField)) {
            // Jane's copy must not go to the one of them whose brackets
            // come last.
            const char* pszFrom = pszField;
            while (IsAddressBlank(*pszFrom))
                ++pszFrom;
            CopyBounded(pszAddress, cchAddress, pszFrom, LC_ADDRESS_MAX_CHARS);
            TrimBlanks(pszAddress);
            ReportSkipped(ListSkipNotOneAddress, pszAddress);
            pszAddress[0] = '\0';
            continue;
        }
        ExtractBracketedAddress(pszField);
        // Cut to its buffer, a longer address would go to someone else.
        const char* pszFrom = pszField;
        while (IsAddressBlank(*pszFrom))
            ++pszFrom;
        size_t cchField = strlen(pszFrom);
        while (cchField > 0 && IsAddressBlank(pszFrom[cchField - 1]))
            --cchField;
        if (cchField > LC_ADDRESS_MAX_CHARS || cchField >= (size_t)cchAddress) {
            CopyBounded(pszAddress, cchAddress, pszFrom, cchField);
            ReportSkipped(ListSkipAddressTooLong, pszAddress);
            pszAddress[0] = '\0';
            continue;
        }
        CopyBounded(pszAddress, cchAddress, pszFrom, cchField);
        if (!strchr(pszAddress, '@')) {
            ReportSkipped(ListSkipNoAt, pszAddress);
        } else if (strpbrk(pszAddress, " \t\r\n,;<>")) {
            // Two addresses in one field, or one with its name around it: a
            // personal copy must not go to a list of people.
            ReportSkipped(ListSkipNotOneAddress, pszAddress);
        } else {
            return true;
        }
        pszAddress[0] = '\0';
    }
}
