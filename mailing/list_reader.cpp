// The list reader's record layer: the delimiter detection, the records read
// from the lines of mailing/list_lines.cpp, the address column and the
// recipients handed out one at a time.
#include "mailing/list_reader.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include "mailing/bounded_copy.h"
#include "settings/settings_store.h"

int ListDelimiter = ListDelimiterUnknown;

#define LC_ADDRESS_MAX_CHARS (LC_ADDRESS_CAPACITY - 1)

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

// Whether the path holds ".csv" in any case.
static bool NamesCsv(const char* pszPath)
{
    static const char kszCsv[] = ".csv";
    for (const char* p = pszPath; *p; ++p) {
        size_t i = 0;
        while (kszCsv[i] && tolower((unsigned char)p[i]) == kszCsv[i])
            ++i;
        if (!kszCsv[i])
            return true;
    }
    return false;
}

namespace {

bool EndsWithNoCase(const char* pszText, const char* pszEnd)
{
    size_t cchText = strlen(pszText), cchEnd = strlen(pszEnd);
    if (cchText < cchEnd)
        return false;
    for (size_t i = 0; i < cchEnd; ++i) {
        char ch = pszText[cchText - cchEnd + i];
        if (ch >= 'A' && ch <= 'Z')
            ch = (char)(ch - 'A' + 'a');
        if (ch != pszEnd[i])
            return false;
    }
    return true;
}

}  // namespace

bool IsWorkbookName(const char* pszPath)
{
    return pszPath != NULL &&
           (EndsWithNoCase(pszPath, ".xlsx") || EndsWithNoCase(pszPath, ".xlsm") || EndsWithNoCase(pszPath, ".xls"));
}

bool IsWorkbookFile(const char* pszPath)
{
    if (pszPath == NULL || pszPath[0] == '\0')
        return false;
    if (IsWorkbookName(pszPath))
        return true;
    FILE* pFile = fopen(pszPath, "rb");
    if (pFile == NULL)
        return false;
    unsigned char ab[4] = { 0, 0, 0, 0 };
    size_t cb = fread(ab, 1, sizeof(ab), pFile);
    fclose(pFile);
    static const unsigned char kZip[4] = { 'P', 'K', 3, 4 };
    static const unsigned char kCompound[4] = { 0xD0, 0xCF, 0x11, 0xE0 };
    return cb == 4 && (memcmp(ab, kZip, 4) == 0 || memcmp(ab, kCompound, 4) == 0);
}

int DetectListDelimiter(const char* pszPath)
{
    if (!pszPath)
        pszPath = "";
    // A workbook's sheet is written out comma-separated for its readings.
    if (IsWorkbookFile(pszPath))
        return ListDelimiterComma;
    // Only the lines up to the header are read: the header names the columns
    // every record follows, and a list of a million records must not hold
    // the window while it is read to its end.
    ListReader reader;
    if (reader.Open(pszPath, ListDelimiterUnknown)) {
        const char* pszLine;
        size_t cbLine;
        bool bFirstLine = true;
        while (reader.ReadLine(&pszLine, &cbLine) == 1) {
            int nNamed = bFirstLine ? SepLineDelimiter(pszLine) : ListDelimiterUnknown;
            bFirstLine = false;
            if (nNamed != ListDelimiterUnknown)
                return nNamed;
            bool bComment = cbLine >= 2 && pszLine[0] == '/' && pszLine[1] == '/';
            if (bComment || IsBlankLine(pszLine))
                continue;
            if (IsSemicolonHeader(pszLine))
                return ListDelimiterSemicolon;
            bool bComma = strchr(pszLine, ',') != NULL;
            bool bTab = strchr(pszLine, '\t') != NULL;
            if (bComma != bTab)
                return bComma ? ListDelimiterComma : ListDelimiterTab;
            break;
        }
    }
    return NamesCsv(pszPath) ? ListDelimiterComma : ListDelimiterTab;
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
    ListDelimiter = DetectListDelimiter(szPath);
}

// The first double quote at or after pszFrom that is not followed by another;
// a pair stands for one quote character inside the field. NULL when none.
static const char* FindClosingQuote(const char* pszFrom, const char* pszEnd)
{
    const char* p = pszFrom;
    while ((p = (const char*)memchr(p, '"', (size_t)(pszEnd - p))) != NULL) {
        if (p + 1 < pszEnd && p[1] == '"') {
            p += 2;
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
    size_t cchOut = 0;
    for (size_t i = 0; i < cchText; ++i) {
        pszOut[cchOut++] = pszText[i];
        if (pszText[i] == '"' && i + 1 < cchText && pszText[i + 1] == '"')
            ++i;
    }
    return cchOut;
}

// A record's fields are cut from its lines as they lie: a line ends in one LF
// (or in nothing at the end of the file), and in a field text a line end is
// CR LF. No field ends in a line end: the one a piece of text reaches is kept
// pending, written only when more text of the field follows it, and dropped
// when the field ends.
struct RecordScan {
    char chDelimiter;
    bool bInQuote;        // a quoted field is open at the end of the last line
    bool bOpenFieldLost;  // that field was dropped for want of memory
    bool bLineEndPending; // the last field's text ends in a line end not yet written
    bool bLineEnd;        // the line being cut ends in its LF
    const char* pszEnd;   // the end of the line being cut, after its LF
    GrowBuffer* pPiece;   // the reader's block for a piece of field text that must be rewritten
};

// The text of one piece, [pszFrom, *ppszTo), with its quote pairs collapsed
// and the pending line end before it when bWithLineEnd: where it lies when it
// needs neither, else in the scan's piece block. NULL when memory ran out.
static const char* PieceText(RecordScan* pScan, const char* pszFrom, const char* pszTo, bool bMayHoldQuotes,
                             bool bWithLineEnd, size_t* pcchPiece)
{
    size_t cchFrom = (size_t)(pszTo - pszFrom);
    bool bQuotes = bMayHoldQuotes && memchr(pszFrom, '"', cchFrom) != NULL;
    if (!bQuotes && !bWithLineEnd) {
        *pcchPiece = cchFrom;
        return pszFrom;
    }
    GrowBuffer* pPiece = pScan->pPiece;
    pPiece->cb = 0;
    if (!ReserveGrowBuffer(pPiece, cchFrom + 3))
        return NULL;
    size_t cchEnd = 0;
    if (bWithLineEnd) {
        pPiece->p[0] = '\r';
        pPiece->p[1] = '\n';
        cchEnd = 2;
    }
    if (bQuotes) {
        *pcchPiece = cchEnd + CollapseQuotePairs(pszFrom, cchFrom, pPiece->p + cchEnd);
    } else {
        memcpy(pPiece->p + cchEnd, pszFrom, cchFrom);
        *pcchPiece = cchEnd + cchFrom;
    }
    return pPiece->p;
}

// Whether a piece ending at pszTo reaches the line's LF, which it then leaves
// out (*ppszTo stepping back over it).
static bool ReachesLineEnd(const RecordScan* pScan, const char** ppszTo)
{
    if (*ppszTo != pScan->pszEnd || !pScan->bLineEnd)
        return false;
    --*ppszTo;
    return true;
}

static bool AddPiece(ListRecord* pRecord, RecordScan* pScan, const char* pszFrom, const char* pszTo,
                     bool bOpensQuote, bool bMayHoldQuotes = true)
{
    bool bLineEnd = ReachesLineEnd(pScan, &pszTo);
    size_t cchPiece = 0;
    const char* pszPiece = PieceText(pScan, pszFrom, pszTo, bMayHoldQuotes, false, &cchPiece);
    bool bAdded = pszPiece && AddListField(pRecord, pszPiece, cchPiece);
    if (!bAdded)
        ReportListOutOfMemory();
    pScan->bLineEndPending = bAdded && bLineEnd;
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
    bool bLineEnd = ReachesLineEnd(pScan, &pszTo);
    if (pszTo == pszFrom && !bLineEnd)
        return;
    // The pending line end is written only before more of the field.
    bool bWithLineEnd = pScan->bLineEndPending;
    pScan->bLineEndPending = bLineEnd;
    if (pszTo == pszFrom && !bWithLineEnd)
        return;
    size_t cchPiece = 0;
    const char* pszPiece = PieceText(pScan, pszFrom, pszTo, true, bWithLineEnd, &cchPiece);
    if (!pszPiece || !AppendToLastField(pRecord, pszPiece, cchPiece)) {
        pScan->bOpenFieldLost = true;
        pScan->bLineEndPending = false;
        ReportListOutOfMemory();
    }
}

// After the closing quote at pszClose: the text up to the next delimiter
// still belongs to the field, as spreadsheet programs read it ("Dee"x is
// Deex). Returns where the next field begins.
static const char* EndQuotedField(ListRecord* pRecord, RecordScan* pScan, const char* pszClose)
{
    const char* pszEnd = pScan->pszEnd;
    const char* pszTextEnd = NextDelimiterOrEnd(pszClose + 1, pszEnd, pScan->chDelimiter);
    if (pszTextEnd > pszClose + 1)
        AppendPiece(pRecord, pScan, pszClose + 1, pszTextEnd);
    pScan->bInQuote = false;
    pScan->bOpenFieldLost = false;
    return pszTextEnd < pszEnd ? pszTextEnd + 1 : pszEnd;
}

static void TokeniseLine(ListRecord* pRecord, RecordScan* pScan, const char* pszLine)
{
    const char* pszEnd = pScan->pszEnd;
    const char chDelimiter = pScan->chDelimiter;
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
            pszCursor = EndQuotedField(pRecord, pScan, pszClose);
            continue;
        }

        // A double quote opens a quoted field only where the field begins
        // (after blanks at most); inside a field it is an ordinary character,
        // so 6'1" cannot swallow the records after it.
        const char* pszStart = pszCursor;
        while (pszStart < pszEnd && *pszStart == ' ')
            ++pszStart;
        if (pszStart < pszEnd && *pszStart == '"') {
            const char* pszQuote = pszStart;
            const char* pszClose = FindClosingQuote(pszQuote + 1, pszEnd);
            if (!pszClose) {
                AddPiece(pRecord, pScan, pszQuote + 1, pszEnd, true);
                pszCursor = pszEnd;
            } else {
                pScan->bOpenFieldLost = !AddPiece(pRecord, pScan, pszQuote + 1, pszClose, false);
                pszCursor = EndQuotedField(pRecord, pScan, pszClose);
            }
            continue;
        }
        // An unquoted field runs to the next delimiter; its quotes, if any,
        // are seen on the way.
        const char* p = pszStart;
        bool bQuotes = false;
        while (p < pszEnd && *p != chDelimiter) {
            bQuotes |= *p == '"';
            ++p;
        }
        AddPiece(pRecord, pScan, pszCursor, p, false, bQuotes);
        pszCursor = p < pszEnd ? p + 1 : pszEnd;
    }
}

enum LineOutcome { RecordComplete, RecordNone, RecordTooLong, RecordQuoteOpenAtEnd, RecordBadText, RecordNoMemory };

// Reads physical lines into the cleared record until it is complete.
int ListReader::SourceLine(int nLine) const
{
    if (m_pRowOfLine && nLine >= 1 && (size_t)nLine <= m_pRowOfLine->size())
        return (*m_pRowOfLine)[nLine - 1];
    return nLine;
}

// Returns a LineOutcome.
int ListReader::ReadRecordLines(ListRecord* pRecord, char chDelimiter)
{
    RecordScan scan = { chDelimiter, false, false, false, false, NULL, &m_piece };
    bool bAnyLine = false;
    size_t cchRaw = 0;
    for (;;) {
        const char* pszLine = NULL;
        size_t cbLine = 0;
        int nRead = ReadLineText(&pszLine, &cbLine);
        int nLine = m_nLinesRead + 1;
        if (nRead == -1) {
            if (m_nBadTextLine == 0) {
                m_nBadTextLine = SourceLine(nLine);
                m_nBadTextChar = m_nLastControlChar;
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
        ++m_nLinesRead;
        // A comment is a whole record: inside a quoted value the line is text.
        if (!scan.bInQuote && cbLine >= 2 && pszLine[0] == '/' && pszLine[1] == '/')
            continue;
        cchRaw += m_cchLine;
        if (cchRaw > LC_RECORD_MAX_CHARS)
            return RecordTooLong;
        if (!AppendListRaw(pRecord, pszLine, cbLine))
            return RecordNoMemory;
        // Excel's first line "sep=;" names the delimiter; the header follows.
        // It stays in the header's raw text, so that the sent list says it too.
        if (m_nLinesRead == 1 && cbLine <= 6) {
            char szLine[8];
            memcpy(szLine, pszLine, cbLine);
            szLine[cbLine] = '\0';
            int nNamed = SepLineDelimiter(szLine);
            if (nNamed != ListDelimiterUnknown) {
                m_nDelimiter = nNamed;
                scan.chDelimiter = DelimiterChar(nNamed);
                continue;
            }
        }
        if (!bAnyLine)
            m_nRecordLine = SourceLine(nLine);
        bAnyLine = true;

        scan.bLineEnd = pszLine[cbLine - 1] == '\n';
        scan.pszEnd = pszLine + cbLine;
        TokeniseLine(pRecord, &scan, pszLine);
        if (scan.bLineEnd && !scan.bInQuote)
            return RecordComplete;
    }
}

bool ListReader::ReadRecord(ListRecord* pRecord)
{
    m_bCutShort = false;
    if (!m_pFile || !pRecord)
        return false;
    for (;;) {
        ClearListRecord(pRecord);
        char chDelimiter = DelimiterChar(m_nDelimiter);
        if (chDelimiter == '\0')
            return false;

        int nOutcome = ReadRecordLines(pRecord, chDelimiter);
        if (nOutcome == RecordNoMemory)
            ReportListOutOfMemory();
        m_bCutShort = nOutcome == RecordTooLong || nOutcome == RecordNoMemory;
        if (nOutcome == RecordQuoteOpenAtEnd && m_nUnclosedQuoteLine == 0)
            m_nUnclosedQuoteLine = m_nRecordLine;
        if (nOutcome != RecordComplete && nOutcome != RecordQuoteOpenAtEnd)
            return false;

        for (int i = 0; i < pRecord->nCount; ++i) {
            if (pRecord->ppszFields[i][0])
                return true;
        }
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

// The characters of an address's local part besides letters and digits,
// as RFC 5322's dot-atom has them.
static bool IsLocalPartCharacter(unsigned char ch)
{
    return isalnum(ch) || strchr("!#$%&'*+-/=?^_`{|}~", ch) != NULL || ch >= 0x80;
}

static bool IsDomainCharacter(unsigned char ch)
{
    return isalnum(ch) || ch == '-' || ch >= 0x80;
}

// Dots only between characters: none at either end, never two together.
static bool DotsInPlace(const char* pch, size_t cch)
{
    if (cch == 0 || pch[0] == '.' || pch[cch - 1] == '.')
        return false;
    for (size_t i = 1; i < cch; ++i) {
        if (pch[i] == '.' && pch[i - 1] == '.')
            return false;
    }
    return true;
}

// The form of one address with one '@' and no blanks: a local part of the
// characters an address may hold, and a domain of at least two labels of
// letters, digits and inner hyphens, or an address literal in brackets.
// Characters beyond ASCII stand as they are: internationalised addresses
// hold them, and the server is the judge of those.
static int AddressFormReason(const char* pszAddress)
{
    const char* pAt = strchr(pszAddress, '@');
    size_t cchLocal = (size_t)(pAt - pszAddress);
    const char* pDomain = pAt + 1;
    size_t cchDomain = strlen(pDomain);
    if (cchLocal == 0 || cchDomain == 0)
        return ListSkipNothingAroundAt;
    for (size_t i = 0; i < cchLocal; ++i) {
        if (pszAddress[i] != '.' && !IsLocalPartCharacter((unsigned char)pszAddress[i]))
            return ListSkipBadCharacter;
    }
    if (pDomain[0] == '[' && pDomain[cchDomain - 1] == ']') {
        for (size_t i = 1; i + 1 < cchDomain; ++i) {
            if (!isalnum((unsigned char)pDomain[i]) && !strchr(".:", pDomain[i]))
                return ListSkipBadCharacter;
        }
        return DotsInPlace(pszAddress, cchLocal) ? 0 : ListSkipMisplacedDot;
    }
    for (size_t i = 0; i < cchDomain; ++i) {
        if (pDomain[i] != '.' && !IsDomainCharacter((unsigned char)pDomain[i]))
            return ListSkipBadCharacter;
    }
    if (!DotsInPlace(pszAddress, cchLocal) || !DotsInPlace(pDomain, cchDomain))
        return ListSkipMisplacedDot;
    if (!strchr(pDomain, '.'))
        return ListSkipDomainWithoutDot;
    return 0;
}

int ReadOneAddress(char* pszField, char* pszAddress, int cchAddress)
{
    pszAddress[0] = '\0';
    if (NamesSeveralAddresses(pszField)) {
        // Jane's copy must not go to the one of them whose brackets
        // come last.
        const char* pszFrom = pszField;
        while (IsAddressBlank(*pszFrom))
            ++pszFrom;
        CopyBounded(pszAddress, cchAddress, pszFrom, LC_ADDRESS_MAX_CHARS);
        TrimBlanks(pszAddress);
        return ListSkipNotOneAddress;
    }
    ExtractBracketedAddress(pszField);
    // Cut to its buffer, a longer address would go to someone else.
    const char* pszFrom = pszField;
    while (IsAddressBlank(*pszFrom))
        ++pszFrom;
    size_t cchField = strlen(pszFrom);
    while (cchField > 0 && IsAddressBlank(pszFrom[cchField - 1]))
        --cchField;
    CopyBounded(pszAddress, cchAddress, pszFrom, cchField);
    if (cchField > LC_ADDRESS_MAX_CHARS || cchField >= (size_t)cchAddress)
        return ListSkipAddressTooLong;
    if (!strchr(pszAddress, '@'))
        return ListSkipNoAt;
    // Two addresses in one field, or one with its name around it: a
    // personal copy must not go to a list of people.
    if (strpbrk(pszAddress, " \t\r\n,;<>"))
        return ListSkipNotOneAddress;
    return AddressFormReason(pszAddress);
}

void ListReader::ReportSkipped(int nReason, const char* pszAddress)
{
    if (m_skipWatch.pfnSkipped)
        m_skipWatch.pfnSkipped(m_skipWatch.pContext, m_nRecordLine, nReason, pszAddress ? pszAddress : "");
}

bool ListReader::ReadNextRecipient(int* pnEmailColumn, bool bHeaderDone, char* pszAddress, int cchAddress,
                                   char* pszHeaderRaw, int cchHeaderRaw, char* pszRecordRaw, int cchRecordRaw,
                                   ListRecord* pHeader, ListRecord* pRecord)
{
    if (!pnEmailColumn || !m_pFile || !pszAddress || cchAddress <= 0 || !pRecord)
        return false;
    pszAddress[0] = '\0';

    if (!bHeaderDone) {
        if (pHeader) {
            if (!ReadRecord(pHeader))
                return false;
            int nColumn = FindAddressColumn(pHeader);
            if (nColumn >= 0)
                *pnEmailColumn = nColumn;
            CopyBounded(pszHeaderRaw, cchHeaderRaw, pHeader->pszRaw, (size_t)-1);
            m_copyAddresses.Begin(pHeader);
        } else {
            ListRecord header;
            bool bRead = ReadRecord(&header);
            if (bRead)
                CopyBounded(pszHeaderRaw, cchHeaderRaw, header.pszRaw, (size_t)-1);
            if (!bRead)
                return false;
            m_copyAddresses.Begin(&header);
        }
    }

    // Any negative column would index before the field table.
    int nColumn = *pnEmailColumn;
    if (nColumn < 0)
        return false;

    for (;;) {
        if (!ReadRecord(pRecord))
            return false;
        if (pRecord->nCount <= nColumn) {
            ReportSkipped(ListSkipTooFewFields, NULL);
            continue;
        }
        CopyBounded(pszRecordRaw, cchRecordRaw, pRecord->pszRaw, (size_t)-1);

        int nReason = ReadOneAddress(pRecord->ppszFields[nColumn], pszAddress, cchAddress);
        if (nReason == 0) {
            // The copy's other addresses are checked as its own is.
            std::string bad;
            nReason = m_copyAddresses.Read(pRecord, &bad);
            if (nReason == 0)
                return true;
            ReportSkipped(nReason, bad.c_str());
        } else {
            ReportSkipped(nReason, pszAddress);
        }
        pszAddress[0] = '\0';
    }
}
