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

#define LC_LIST_BLOCK_BYTES 65536

ListReader::ListReader()
    : m_pFile(NULL), m_nEncoding(ListEncodingAnsi), m_nDelimiter(ListDelimiterUnknown), m_nPendingUnit(-1),
      m_nLinesRead(0), m_nLastControlChar(0), m_nRecordLine(0), m_nBadTextLine(0), m_nBadTextChar(0),
      m_nUnclosedQuoteLine(0), m_bCutShort(false), m_skipWatch{ NULL, NULL }, m_line{ NULL, 0, 0 },
      m_normal{ NULL, 0, 0 }, m_piece{ NULL, 0, 0 }, m_pBlock(NULL), m_cbBlock(0), m_nBlockPos(0)
{
}

ListReader::~ListReader()
{
    Close();
    free(m_line.p);
    free(m_normal.p);
    free(m_piece.p);
    free(m_pBlock);
}

void ListReader::Close()
{
    if (m_pFile)
        fclose(m_pFile);
    m_pFile = NULL;
}

bool ListReader::Open(const char* pszPath, int nDelimiter)
{
    Close();
    m_nEncoding = ListEncodingAnsi;
    m_nDelimiter = nDelimiter;
    m_nPendingUnit = -1;
    m_nLinesRead = 0;
    m_nLastControlChar = 0;
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
        m_pBlock = (unsigned char*)malloc(LC_LIST_BLOCK_BYTES);
    if (!m_pBlock) {
        fclose(pFile);
        return false;
    }
    m_nEncoding = SniffEncoding(pFile);
    m_pFile = pFile;
    return true;
}

void ListReader::WatchSkipped(void (*pfnSkipped)(void* pContext, int nLine, int nReason, const char* pszAddress),
                              void* pContext)
{
    m_skipWatch.pfnSkipped = pfnSkipped;
    m_skipWatch.pContext = pfnSkipped ? pContext : NULL;
}

// The next block of the file; false at its end (or a read that failed,
// which ends the list as the end of the file would).
bool ListReader::FillBlock()
{
    if (!m_pFile)
        return false;
    m_cbBlock = fread(m_pBlock, 1, LC_LIST_BLOCK_BYTES, m_pFile);
    m_nBlockPos = 0;
    return m_cbBlock > 0;
}

// The next byte of the file, EOF at its end.
inline int ListReader::NextByte()
{
    if (m_nBlockPos == m_cbBlock && !FillBlock())
        return EOF;
    return m_pBlock[m_nBlockPos++];
}

// The next UTF-16 unit: 1 with the unit, 0 at the end, -1 for half a unit.
int ListReader::ReadUtf16Unit(unsigned* puUnit)
{
    if (m_nPendingUnit >= 0) {
        *puUnit = (unsigned)m_nPendingUnit;
        m_nPendingUnit = -1;
        return 1;
    }
    int b0 = NextByte();
    if (b0 == EOF)
        return 0;
    int b1 = NextByte();
    if (b1 == EOF)
        return -1;
    *puUnit = m_nEncoding == ListEncodingUtf16Le ? (unsigned)(b0 | (b1 << 8)) : (unsigned)((b0 << 8) | b1);
    return 1;
}

// The next character of a UTF-16 list: 1, 0 at the end, -1 when not text.
int ListReader::ReadUtf16Char(unsigned* puChar)
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

int ListReader::ReadUtf16Line()
{
    bool bAny = false;
    for (;;) {
        unsigned uChar;
        int nRead = ReadUtf16Char(&uChar);
        if (nRead < 0)
            return -1;
        if (nRead == 0)
            return bAny ? 1 : 0;
        bAny = true;
        if (uChar == 0)
            return -1;
        if (uChar == '\r') {
            unsigned uNext;
            int nNext = ReadUtf16Unit(&uNext);
            if (nNext < 0)
                return -1;
            if (nNext == 1 && uNext != '\n')
                m_nPendingUnit = (int)uNext;
            uChar = '\n';
        }
        char bytes[4];
        if (!PutBytes(&m_line, bytes, PutUtf8(bytes, uChar)))
            return -2;
        if (uChar == '\n')
            return 1;
    }
}

// A line of a byte encoding, as its bytes; CR LF and CR end it like LF. The
// bytes up to the next CR, LF or NUL go in as one piece.
int ListReader::ReadByteLine()
{
    bool bAny = false;
    for (;;) {
        if (m_nBlockPos == m_cbBlock && !FillBlock())
            return bAny ? 1 : 0;
        bAny = true;
        const unsigned char* pFrom = m_pBlock + m_nBlockPos;
        const unsigned char* pEnd = m_pBlock + m_cbBlock;
        const unsigned char* p = pFrom;
        while (p < pEnd && *p != '\n' && *p != '\r' && *p != 0)
            ++p;
        if (p > pFrom && !PutBytes(&m_line, (const char*)pFrom, (size_t)(p - pFrom)))
            return -2;
        m_nBlockPos = (size_t)(p - m_pBlock);
        if (p == pEnd)
            continue;
        int ch = m_pBlock[m_nBlockPos++];
        if (ch == 0)
            return -1;
        if (ch == '\r') {
            int chNext = NextByte();
            if (chNext != '\n' && chNext != EOF)
                --m_nBlockPos;   // NextByte left it in the block
        }
        if (!PutBytes(&m_line, "\n", 1))
            return -2;
        return 1;
    }
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

int ListReader::ReadLine(const char** ppszLine, size_t* pcbLine)
{
    m_nLastControlChar = 0;
    if (!m_pFile)
        return 0;
    int nEncoding = m_nEncoding;
    m_line.cb = 0;
    if (!ReserveGrowBuffer(&m_line, 1))
        return -2;
    m_line.p[0] = '\0';
    int nRead;
    if (nEncoding == ListEncodingUtf16Le || nEncoding == ListEncodingUtf16Be)
        nRead = ReadUtf16Line();
    else
        nRead = ReadByteLine();
    if (nRead != 1)
        return nRead;
    if (nEncoding == ListEncodingUtf8 || nEncoding == ListEncodingUtf8Mark) {
        if (!IsValidUtf8(m_line.p, m_line.cb))
            return -1;
    } else if (nEncoding == ListEncodingAnsi) {
        bool bHigh = false;
        for (size_t i = 0; i < m_line.cb && !bHigh; ++i)
            bHigh = (unsigned char)m_line.p[i] >= 0x80;
        if (bHigh) {
            size_t cbUtf8 = 0;
            bool bNoMemory = false;
            char* pszUtf8 = AnsiToUtf8(m_line.p, m_line.cb, &cbUtf8, &bNoMemory);
            if (!pszUtf8)
                return bNoMemory ? -2 : -1;
            m_line.cb = 0;
            bool bPut = PutBytes(&m_line, pszUtf8, cbUtf8);
            free(pszUtf8);
            if (!bPut)
                return -2;
        }
    }
    m_nLastControlChar = FirstControlChar(m_line.p, m_line.cb);
    if (m_nLastControlChar != 0)
        return -1;
    *ppszLine = m_line.p;
    *pcbLine = m_line.cb;
    return 1;
}
