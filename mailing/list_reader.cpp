#include "mailing/list_reader.h"

#include <ctype.h>
#include <string.h>

#include "settings/settings_store.h"

int ListDelimiter = ListDelimiterUnknown;
bool gbListCutShort = false;
int gnListRecordLine = 0;
int gnListUnclosedQuoteLine = 0;
ListSkipWatch gListSkipWatch = { NULL, NULL };

// Physical lines read from the list opened last, comment lines included.
static int snListLinesRead = 0;

#ifdef _WIN32
static const char kszTextRead[] = "rt";   // text mode even if the runtime's default is binary
#else
static const char kszTextRead[] = "r";
#endif

#define LC_ADDRESS_MAX_CHARS (LC_ADDRESS_CAPACITY - 1)

// Room for a line of LC_LIST_LINE_CAPACITY - 1 characters once its LF has
// become CR LF.
#define LC_NORMAL_LINE_CAPACITY (2 * LC_LIST_LINE_CAPACITY)

FILE* OpenListFile(const char* pszPath)
{
    if (!pszPath || !pszPath[0])
        return NULL;
    snListLinesRead = 0;
    gnListRecordLine = 0;
    gnListUnclosedQuoteLine = 0;
    FILE* pFile = fopen(pszPath, kszTextRead);
    if (pFile)
        return pFile;
    return OpenListFileShared(pszPath);
}

// Copies at most cchCapacity - 1 characters and always terminates.
static void CopyBounded(char* pszTo, int cchCapacity, const char* pszFrom, size_t cchMax)
{
    if (!pszTo || cchCapacity <= 0)
        return;
    size_t cchCopy = strlen(pszFrom);
    if (cchCopy > cchMax)
        cchCopy = cchMax;
    if (cchCopy > (size_t)cchCapacity - 1)
        cchCopy = (size_t)cchCapacity - 1;
    memcpy(pszTo, pszFrom, cchCopy);
    pszTo[cchCopy] = '\0';
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
        char szPiece[LC_DETECT_PIECE_CAPACITY];
        while (!(bComma && bTab) && fgets(szPiece, sizeof(szPiece), pFile)) {
            if (strchr(szPiece, ','))
                bComma = true;
            if (strchr(szPiece, '\t'))
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

// Text mode hands over LF line ends; field texts carry CR LF instead, and a CR
// already standing before the LF is not doubled.
static size_t NormaliseLineEnds(const char* pszLine, size_t cchLine, char* pszOut)
{
    // A line read whole holds its one LF at the end; without a CR nothing
    // else changes, and most lines are like that.
    if (!memchr(pszLine, '\r', cchLine)) {
        size_t cchBody = cchLine > 0 && pszLine[cchLine - 1] == '\n' ? cchLine - 1 : cchLine;
        if (!memchr(pszLine, '\n', cchBody)) {
            memcpy(pszOut, pszLine, cchBody);
            if (cchBody < cchLine) {
                pszOut[cchBody] = '\r';
                pszOut[cchBody + 1] = '\n';
                cchBody += 2;
            }
            pszOut[cchBody] = '\0';
            return cchBody;
        }
    }
    char szWide[LC_NORMAL_LINE_CAPACITY];
    size_t cchWide = 0;
    for (size_t i = 0; i < cchLine; ++i) {
        if (pszLine[i] == '\n')
            szWide[cchWide++] = '\r';
        szWide[cchWide++] = pszLine[i];
    }
    size_t cchOut = 0;
    for (size_t i = 0; i < cchWide; ++i) {
        pszOut[cchOut++] = szWide[i];
        if (szWide[i] == '\r' && i + 1 < cchWide && szWide[i + 1] == '\r')
            ++i;
    }
    pszOut[cchOut] = '\0';
    return cchOut;
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

// Where the cursor goes after a closing quote: past the next delimiter, or to
// the end of the line; what lies before that delimiter is not field text.
static const char* PastNextDelimiter(const char* pszFrom, const char* pszEnd, char chDelimiter)
{
    const char* pDelimiter = (const char*)memchr(pszFrom, chDelimiter, pszEnd - pszFrom);
    return pDelimiter ? pDelimiter + 1 : pszEnd;
}

static size_t CollapseQuotePairs(const char* pszText, size_t cchText, char* pszOut)
{
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

static void AddPiece(ListRecord* pRecord, RecordScan* pScan, const char* pszFrom, const char* pszTo,
                     bool bOpensQuote)
{
    char szPiece[LC_NORMAL_LINE_CAPACITY];
    size_t cchPiece = CollapseQuotePairs(pszFrom, pszTo - pszFrom, szPiece);
    bool bAdded = AddListField(pRecord, szPiece, cchPiece);
    if (!bAdded)
        ReportListOutOfMemory();
    if (bOpensQuote) {
        pScan->bInQuote = true;
        pScan->bOpenFieldLost = !bAdded;
    }
}

static void AppendPiece(ListRecord* pRecord, RecordScan* pScan, const char* pszFrom, const char* pszTo)
{
    // The rest of a dropped field must not land in the field before it.
    if (pScan->bOpenFieldLost)
        return;
    char szPiece[LC_NORMAL_LINE_CAPACITY];
    size_t cchPiece = CollapseQuotePairs(pszFrom, pszTo - pszFrom, szPiece);
    if (!AppendToLastField(pRecord, szPiece, cchPiece)) {
        pScan->bOpenFieldLost = true;
        ReportListOutOfMemory();
    }
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
            pScan->bInQuote = false;
            pScan->bOpenFieldLost = false;
            pszCursor = PastNextDelimiter(pszClose + 1, pszEnd, pScan->chDelimiter);
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
                AddPiece(pRecord, pScan, pszQuote + 1, pszClose, false);
                pszCursor = PastNextDelimiter(pszClose + 1, pszEnd, pScan->chDelimiter);
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

enum LineOutcome { RecordComplete, RecordNone, RecordTooLong, RecordQuoteOpenAtEnd };

// Reads physical lines into the cleared record until it is complete.
static LineOutcome ReadRecordLines(FILE* pFile, ListRecord* pRecord, char chDelimiter)
{
    RecordScan scan = { chDelimiter, false, false };
    bool bAnyLine = false;
    size_t cchRaw = 0;
    char szLine[LC_LIST_LINE_CAPACITY];
    char szNormal[LC_NORMAL_LINE_CAPACITY];
    for (;;) {
        if (!fgets(szLine, sizeof(szLine), pFile)) {
            if (!bAnyLine)
                return RecordNone;
            return scan.bInQuote ? RecordQuoteOpenAtEnd : RecordComplete;
        }
        size_t cchLine = strlen(szLine);
        int nLine = snListLinesRead + 1;   // a line longer than the buffer arrives in pieces
        if (cchLine > 0 && szLine[cchLine - 1] == '\n')
            ++snListLinesRead;
        if (cchLine >= 2 && szLine[0] == '/' && szLine[1] == '/')
            continue;
        if (cchRaw + cchLine >= LC_RECORD_RAW_CAPACITY)
            return RecordTooLong;
        memcpy(pRecord->szRaw + cchRaw, szLine, cchLine + 1);
        cchRaw += cchLine;
        if (!bAnyLine)
            gnListRecordLine = nLine;
        bAnyLine = true;

        size_t cchNormal = NormaliseLineEnds(szLine, cchLine, szNormal);
        char chLast = cchNormal > 0 ? szNormal[cchNormal - 1] : '\0';
        if (cchNormal > 0)
            TokeniseLine(pRecord, &scan, szNormal, cchNormal);
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
        char chDelimiter;
        if (ListDelimiter == ListDelimiterComma)
            chDelimiter = ',';
        else if (ListDelimiter == ListDelimiterTab)
            chDelimiter = '\t';
        else
            return false;

        LineOutcome outcome = ReadRecordLines(pFile, pRecord, chDelimiter);
        gbListCutShort = outcome == RecordTooLong;
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
            CopyBounded(pszHeaderRaw, cchHeaderRaw, pHeader->szRaw, LC_RECORD_RAW_CAPACITY);
        } else {
            ListRecord header;
            InitListRecord(&header);
            bool bRead = ReadRecord(pFile, &header);
            if (bRead)
                CopyBounded(pszHeaderRaw, cchHeaderRaw, header.szRaw, LC_RECORD_RAW_CAPACITY);
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
        CopyBounded(pszRecordRaw, cchRecordRaw, pRecord->szRaw, LC_RECORD_RAW_CAPACITY);

        char* pszField = pRecord->ppszFields[nColumn];
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
