// The list reader's line layer: opening the list, telling its encoding and
// reading its physical lines as UTF-8. The records are read from these lines
// in mailing/list_reader.cpp.
#include "mailing/list_reader.h"

#include <stdlib.h>
#include <string.h>

#include "mailing/html_text.h"

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

// The reader's blocks grow through realloc itself: the field tables and
// texts alone go through gpfnListRealloc.
bool ReserveGrowBuffer(GrowBuffer* pBuffer, size_t cbNeeded)
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
    if (!ReserveGrowBuffer(pBuffer, pBuffer->cb + cb + 1))
        return false;
    memcpy(pBuffer->p + pBuffer->cb, pBytes, cb);
    pBuffer->cb += cb;
    pBuffer->p[pBuffer->cb] = '\0';
    return true;
}

// Looks for a whole UTF-8 sequence a byte at a time: shortest forms only, no
// surrogates, nothing beyond U+10FFFF; a broken sequence starts afresh.
struct Utf8Check {
    int nNeed;
    unsigned char chLow, chHigh;
    bool bSequence;      // a whole sequence of two bytes or more was met
    bool bInSequence;    // the sequence under way has been valid so far
};

static void StartUtf8Check(Utf8Check* pCheck)
{
    pCheck->nNeed = 0;
    pCheck->chLow = 0x80;
    pCheck->chHigh = 0xBF;
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
        pCheck->bInSequence = false;
    }
}

// The file comes through a block the reader fills itself, LC_LIST_BLOCK_BYTES
// at a time: lines are found and copied a span at a time, never a call into
// the C runtime per byte. The few bytes after it take the look ahead that
// decides an open encoding.
#define LC_LIST_BLOCK_BYTES 65536
#define LC_LIST_BLOCK_LOOK_AHEAD 4

ListReader::ListReader()
    : m_pFile(NULL), m_nEncoding(ListEncodingAnsi), m_bEncodingOpen(false), m_nDelimiter(ListDelimiterUnknown),
      m_nLinesRead(0), m_nLastControlChar(0), m_cchLine(0), m_nRecordLine(0), m_nBadTextLine(0), m_nBadTextChar(0),
      m_nUnclosedQuoteLine(0), m_bCutShort(false), m_skipWatch{ NULL, NULL }, m_pRowOfLine(NULL), m_line{ NULL, 0, 0 },
      m_piece{ NULL, 0, 0 }, m_pBlock(NULL), m_cbBlock(0), m_nBlockPos(0)
{
}

ListReader::~ListReader()
{
    Close();
    free(m_line.p);
    free(m_piece.p);
    free(m_pBlock);
}

void ListReader::Close()
{
    if (m_pFile)
        fclose(m_pFile);
    m_pFile = NULL;
}

// The first byte past ASCII at or after p, pEnd when none: a word at a time,
// for while the encoding is open every block of the file is looked through.
static const unsigned char* FirstHighByte(const unsigned char* p, const unsigned char* pEnd)
{
    const size_t kHighBits = (size_t)-1 / 0xFF * 0x80;
    while ((size_t)(pEnd - p) >= sizeof(size_t)) {
        size_t word;
        memcpy(&word, p, sizeof(word));
        if (word & kHighBits)
            break;
        p += sizeof(word);
    }
    while (p < pEnd && *p < 0x80)
        ++p;
    return p;
}

// A list without a byte-order mark reads the same in UTF-8 and ANSI while it
// is ASCII. Its first byte past ASCII decides, with the bytes after it to the
// end of the block: a whole UTF-8 sequence among them tells a UTF-8 list (a
// stray byte in it is then refused with its line rather than turning every
// name into ANSI), else the list is ANSI. The block is first extended to
// hold LC_LIST_BLOCK_LOOK_AHEAD bytes after that byte unless the file ends,
// so that no sequence is cut by where a block happens to end. Nothing is
// read for the decision that the reading would not read anyway.
void ListReader::DecideEncoding()
{
    const unsigned char* pHigh = FirstHighByte(m_pBlock + m_nBlockPos, m_pBlock + m_cbBlock);
    size_t nHigh = (size_t)(pHigh - m_pBlock);
    if (nHigh == m_cbBlock)
        return;
    while (m_cbBlock - nHigh <= LC_LIST_BLOCK_LOOK_AHEAD) {
        size_t cbMore = fread(m_pBlock + m_cbBlock, 1, nHigh + LC_LIST_BLOCK_LOOK_AHEAD + 1 - m_cbBlock, m_pFile);
        if (cbMore == 0)
            break;
        m_cbBlock += cbMore;
    }
    Utf8Check check;
    StartUtf8Check(&check);
    for (size_t i = nHigh; i < m_cbBlock && !check.bSequence; ++i)
        CheckUtf8Byte(&check, m_pBlock[i]);
    m_nEncoding = check.bSequence ? ListEncodingUtf8 : ListEncodingAnsi;
    m_bEncodingOpen = false;
}

bool ListReader::Open(const char* pszPath, int nDelimiter)
{
    Close();
    m_nEncoding = ListEncodingAnsi;
    m_bEncodingOpen = false;
    m_nDelimiter = nDelimiter;
    m_nLinesRead = 0;
    m_nLastControlChar = 0;
    m_cchLine = 0;
    m_nRecordLine = 0;
    m_nUnclosedQuoteLine = 0;
    m_nBadTextLine = 0;
    m_nBadTextChar = 0;
    m_bCutShort = false;
    m_cbBlock = 0;
    m_nBlockPos = 0;
    if (!pszPath || !pszPath[0])
        return false;
    FILE* pFile = fopen(pszPath, kszListRead);
    if (!pFile)
        pFile = OpenListFileShared(pszPath);
    if (!pFile)
        return false;
    // The block is had before anything is read, so that no want of memory
    // can look like the end of the list.
    if (!m_pBlock)
        m_pBlock = (unsigned char*)malloc(LC_LIST_BLOCK_BYTES + LC_LIST_BLOCK_LOOK_AHEAD);
    if (!m_pBlock) {
        fclose(pFile);
        return false;
    }
    m_pFile = pFile;
    // The first block holds the byte-order mark, and the text after it.
    m_cbBlock = fread(m_pBlock, 1, LC_LIST_BLOCK_BYTES, pFile);
    const unsigned char* pMark = m_pBlock;
    if (m_cbBlock >= 3 && pMark[0] == 0xEF && pMark[1] == 0xBB && pMark[2] == 0xBF) {
        m_nEncoding = ListEncodingUtf8Mark;
        m_nBlockPos = 3;
    } else if (m_cbBlock >= 2 && ((pMark[0] == 0xFF && pMark[1] == 0xFE) || (pMark[0] == 0xFE && pMark[1] == 0xFF))) {
        m_nEncoding = pMark[0] == 0xFF ? ListEncodingUtf16Le : ListEncodingUtf16Be;
        m_nBlockPos = 2;
    } else {
        m_bEncodingOpen = true;
        DecideEncoding();
    }
    return true;
}

void ListReader::WatchSkipped(void (*pfnSkipped)(void* pContext, int nLine, int nReason, const char* pszAddress),
                              void* pContext)
{
    m_skipWatch.pfnSkipped = pfnSkipped;
    m_skipWatch.pContext = pfnSkipped ? pContext : NULL;
}

// Makes the block hold at least cbWanted bytes from where the reading is,
// unless the file ends first (or a read fails, which ends the list as the
// end of the file would): the bytes left move to the block's start and the
// file's next ones are read after them. Returns the bytes held from there.
size_t ListReader::TopUpBlock(size_t cbWanted)
{
    size_t cbLeft = m_cbBlock - m_nBlockPos;
    if (cbLeft >= cbWanted || !m_pFile)
        return cbLeft;
    memmove(m_pBlock, m_pBlock + m_nBlockPos, cbLeft);
    m_nBlockPos = 0;
    m_cbBlock = cbLeft;
    while (m_cbBlock < cbWanted) {
        size_t cbRead = fread(m_pBlock + m_cbBlock, 1, LC_LIST_BLOCK_BYTES - m_cbBlock, m_pFile);
        if (cbRead == 0)
            break;
        m_cbBlock += cbRead;
    }
    if (m_bEncodingOpen)
        DecideEncoding();
    return m_cbBlock;
}

// The next UTF-16 unit: 1 with the unit, 0 at the end, -1 for half a unit.
inline int ListReader::ReadUtf16Unit(unsigned* puUnit)
{
    if (m_cbBlock - m_nBlockPos < 2 && TopUpBlock(2) < 2) {
        if (m_nBlockPos == m_cbBlock)
            return 0;
        m_nBlockPos = m_cbBlock;   // the file's last byte, half a unit
        return -1;
    }
    const unsigned char* p = m_pBlock + m_nBlockPos;
    m_nBlockPos += 2;
    *puUnit = m_nEncoding == ListEncodingUtf16Le ? (unsigned)(p[0] | (p[1] << 8)) : (unsigned)((p[0] << 8) | p[1]);
    return 1;
}

// The next character of a UTF-16 list: 1, 0 at the end, -1 when not text.
inline int ListReader::ReadUtf16Char(unsigned* puChar)
{
    unsigned uUnit;
    int nRead = ReadUtf16Unit(&uUnit);
    if (nRead <= 0)
        return nRead;
    if (uUnit >= 0xDC00 && uUnit <= 0xDFFF)
        return -1;
    if (uUnit >= 0xD800 && uUnit <= 0xDBFF) {
        unsigned uLow;
        if (ReadUtf16Unit(&uLow) != 1 || uLow < 0xDC00 || uLow > 0xDFFF)
            return -1;
        uUnit = JoinSurrogates(uUnit, uLow);
    }
    *puChar = uUnit;
    return 1;
}

// A line of a UTF-16 list, as UTF-8 in m_line, with its characters counted
// and its first control character (C0 but tab and line ends, DEL, C1) found
// on the way. A NUL, a lone surrogate or half a unit ends it at once, -1.
int ListReader::ReadUtf16Line(int* pnControl)
{
    m_line.cb = 0;
    size_t cch = 0;
    int nControl = 0;
    for (;;) {
        unsigned uChar;
        int nRead = ReadUtf16Char(&uChar);
        if (nRead < 0)
            return -1;
        if (nRead == 0) {
            if (cch == 0)
                return 0;
            break;
        }
        if (uChar == 0)
            return -1;
        if (uChar == '\r') {
            // CR LF ends a line as CR alone does; the unit after a CR alone
            // stays in the block for the next line.
            if (m_cbBlock - m_nBlockPos < 2 && TopUpBlock(2) < 2) {
                if (m_nBlockPos < m_cbBlock) {
                    m_nBlockPos = m_cbBlock;
                    return -1;
                }
            } else {
                const unsigned char* p = m_pBlock + m_nBlockPos;
                unsigned uNext = m_nEncoding == ListEncodingUtf16Le ? (unsigned)(p[0] | (p[1] << 8))
                                                                    : (unsigned)((p[0] << 8) | p[1]);
                if (uNext == '\n')
                    m_nBlockPos += 2;
            }
            uChar = '\n';
        } else if (nControl == 0 && ((uChar < 0x20 && uChar != '\t' && uChar != '\n') || (uChar >= 0x7F && uChar <= 0x9F))) {
            nControl = (int)uChar;
        }
        if (m_line.cb + 5 > m_line.cbCap && !ReserveGrowBuffer(&m_line, m_line.cb + 5))
            return -2;
        m_line.cb += PutUtf8(m_line.p + m_line.cb, uChar);
        ++cch;
        if (uChar == '\n')
            break;
    }
    m_line.p[m_line.cb] = '\0';
    m_cchLine = cch;
    *pnControl = nControl;
    return 1;
}

// The first byte at or after p that ends a line (LF or CR) or is a NUL, pEnd
// when none does. On the way it notes whether a byte past ASCII was met and
// the first C0 control character but tab, or DEL.
static unsigned char* ScanLine(unsigned char* p, unsigned char* pEnd, bool* pbHigh, int* pnControl)
{
    const size_t kOnes = (size_t)-1 / 0xFF;
    const size_t kHighBits = kOnes * 0x80;
    for (;;) {
        // Printable ASCII, the bulk of any list, a word at a time: a word
        // passes when none of its bytes is below 0x20 or above 0x7E.
        while ((size_t)(pEnd - p) >= sizeof(size_t)) {
            size_t word;
            memcpy(&word, p, sizeof(word));
            size_t below = (word - kOnes * 0x20) & ~word;
            size_t above = (word + kOnes * (0x7F - 0x7E)) | word;
            if ((below | above) & kHighBits)
                break;
            p += sizeof(word);
        }
        while (p < pEnd && (unsigned char)(*p - 0x20) < 0x5F)
            ++p;
        if (p == pEnd)
            return p;
        unsigned char ch = *p;
        if (ch == '\n' || ch == '\r' || ch == 0)
            return p;
        if (ch >= 0x80)
            *pbHigh = true;
        else if (ch != '\t' && *pnControl == 0)
            *pnControl = ch;
        ++p;
    }
}

// A line of a byte encoding, as its bytes; CR LF and CR end it like LF and
// arrive as one LF. A line held whole by the block is handed out where it
// lies, its CR rewritten as the LF; one that runs past the block's end is
// gathered in m_line a span at a time. A NUL ends it at once, -1.
int ListReader::ReadByteLine(const char** ppLine, size_t* pcbLine, bool* pbHigh, int* pnControl)
{
    m_line.cb = 0;
    for (;;) {
        if (m_nBlockPos == m_cbBlock && TopUpBlock(1) == 0) {
            if (m_line.cb == 0)
                return 0;
            *ppLine = m_line.p;
            *pcbLine = m_line.cb;
            return 1;
        }
        unsigned char* pFrom = m_pBlock + m_nBlockPos;
        unsigned char* pEnd = m_pBlock + m_cbBlock;
        unsigned char* p = ScanLine(pFrom, pEnd, pbHigh, pnControl);
        if (p == pEnd) {
            if (!PutBytes(&m_line, (const char*)pFrom, (size_t)(pEnd - pFrom)))
                return -2;
            m_nBlockPos = m_cbBlock;
            continue;
        }
        m_nBlockPos = (size_t)(p - m_pBlock) + 1;
        if (*p == 0)
            return -1;
        bool bCr = *p == '\r';
        *p = '\n';
        // The block is about to be refilled to see past a CR at its end:
        // the line goes to m_line first.
        bool bGather = m_line.cb > 0 || (bCr && m_nBlockPos == m_cbBlock);
        if (bGather && !PutBytes(&m_line, (const char*)pFrom, (size_t)(p + 1 - pFrom)))
            return -2;
        if (bCr && (m_nBlockPos < m_cbBlock || TopUpBlock(1) > 0) && m_pBlock[m_nBlockPos] == '\n')
            ++m_nBlockPos;
        if (bGather) {
            *ppLine = m_line.p;
            *pcbLine = m_line.cb;
        } else {
            *ppLine = (const char*)pFrom;
            *pcbLine = (size_t)(p + 1 - pFrom);
        }
        return 1;
    }
}

// Checks a line of UTF-8 as IsValidUtf8 would (shortest forms only, no
// surrogates, nothing beyond U+10FFFF, no sequence cut short), counting its
// characters and finding its first control character (C0 but tab and LF,
// DEL, C1) in one pass. False when it is not UTF-8.
static bool CheckUtf8Line(const unsigned char* p, size_t cb, size_t* pcch, int* pnControl)
{
    size_t cch = 0;
    int nControl = 0;
    size_t i = 0;
    while (i < cb) {
        unsigned char ch = p[i];
        ++cch;
        if (ch < 0x80) {
            if (nControl == 0 && ((ch < 0x20 && ch != '\t' && ch != '\n') || ch == 0x7F))
                nControl = ch;
            ++i;
            continue;
        }
        size_t nNeed;
        unsigned char chLow = 0x80, chHigh = 0xBF;
        if (ch >= 0xC2 && ch <= 0xDF) {
            nNeed = 1;
        } else if (ch >= 0xE0 && ch <= 0xEF) {
            nNeed = 2;
            if (ch == 0xE0)
                chLow = 0xA0;
            else if (ch == 0xED)
                chHigh = 0x9F;
        } else if (ch >= 0xF0 && ch <= 0xF4) {
            nNeed = 3;
            if (ch == 0xF0)
                chLow = 0x90;
            else if (ch == 0xF4)
                chHigh = 0x8F;
        } else {
            return false;
        }
        if (cb - i <= nNeed)
            return false;
        if (p[i + 1] < chLow || p[i + 1] > chHigh)
            return false;
        for (size_t j = 2; j <= nNeed; ++j) {
            if (p[i + j] < 0x80 || p[i + j] > 0xBF)
                return false;
        }
        if (nControl == 0 && ch == 0xC2 && p[i + 1] <= 0x9F)
            nControl = p[i + 1];
        i += nNeed + 1;
    }
    *pcch = cch;
    *pnControl = nControl;
    return true;
}

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

// ReadLine without the copy: the line may lie in the block, is not
// terminated, and holds m_cchLine characters.
int ListReader::ReadLineText(const char** ppLine, size_t* pcbLine)
{
    m_nLastControlChar = 0;
    if (!m_pFile)
        return 0;
    int nControl = 0;
    if (m_nEncoding == ListEncodingUtf16Le || m_nEncoding == ListEncodingUtf16Be) {
        int nRead = ReadUtf16Line(&nControl);
        if (nRead != 1)
            return nRead;
        *ppLine = m_line.p;
        *pcbLine = m_line.cb;
    } else {
        const char* pLine = NULL;
        size_t cbLine = 0;
        bool bHigh = false;
        int nRead = ReadByteLine(&pLine, &cbLine, &bHigh, &nControl);
        if (nRead != 1)
            return nRead;
        m_cchLine = cbLine;
        // The encoding may have been decided in the block that ended the
        // line; its bytes before were ASCII, which reads the same in both.
        if (bHigh && (m_nEncoding == ListEncodingUtf8 || m_nEncoding == ListEncodingUtf8Mark)) {
            if (!CheckUtf8Line((const unsigned char*)pLine, cbLine, &m_cchLine, &nControl))
                return -1;
        } else if (bHigh) {
            // ANSI text becomes UTF-8 only where it is not ASCII.
            size_t cbUtf8 = 0;
            bool bNoMemory = false;
            char* pszUtf8 = AnsiToUtf8(pLine, cbLine, &cbUtf8, &bNoMemory);
            if (!pszUtf8)
                return bNoMemory ? -2 : -1;
            m_line.cb = 0;
            bool bPut = PutBytes(&m_line, pszUtf8, cbUtf8);
            free(pszUtf8);
            if (!bPut)
                return -2;
            pLine = m_line.p;
            cbLine = m_line.cb;
            nControl = FirstControlChar(pLine, cbLine);
            m_cchLine = CountChars(pLine, cbLine);
        }
        *ppLine = pLine;
        *pcbLine = cbLine;
    }
    if (nControl != 0) {
        m_nLastControlChar = nControl;
        return -1;
    }
    return 1;
}

int ListReader::ReadLine(const char** ppszLine, size_t* pcbLine)
{
    const char* pLine = NULL;
    size_t cbLine = 0;
    int nRead = ReadLineText(&pLine, &cbLine);
    if (nRead != 1)
        return nRead;
    if (pLine != m_line.p) {
        m_line.cb = 0;
        if (!PutBytes(&m_line, pLine, cbLine))
            return -2;
    }
    *ppszLine = m_line.p;
    *pcbLine = m_line.cb;
    return 1;
}
