// The mailing-list reader: opening the list, choosing its delimiter, reading
// its records and handing out one usable recipient at a time. Plain C++ over
// the C runtime, so it also builds natively: mailing/list_lines.cpp reads the
// lines, mailing/list_reader.cpp the records; the Windows-only pieces live in
// mailing/list_file_win.cpp and, for AnsiToUtf8, mailing/text_conversion.cpp.
#ifndef LETTERCAST_LIST_READER_H
#define LETTERCAST_LIST_READER_H

#include <stdio.h>

#include <vector>

#include "mailing/copy_addresses.h"
#include "mailing/list_record.h"

enum {
    ListDelimiterUnknown = -1,   // not yet detected
    ListDelimiterComma = 0,
    ListDelimiterTab = 1,
    ListDelimiterSemicolon = 2,
};

// How a list file's bytes are read. Every text the reader hands out is UTF-8,
// whatever the file holds.
enum {
    ListEncodingAnsi = 0,      // the system's ANSI code page
    ListEncodingUtf8 = 1,      // UTF-8 without a byte-order mark
    ListEncodingUtf8Mark = 2,  // UTF-8 after its byte-order mark
    ListEncodingUtf16Le = 3,   // after the mark FF FE
    ListEncodingUtf16Be = 4,   // after the mark FE FF
};

// How messages name an encoding: "UTF-8", "UTF-16" or "the system's ANSI
// code page".
const char* ListEncodingName(int nEncoding);

// The delimiter detected for the job's list (DetectDelimiter): the readings
// of that list are opened with it, and the logs print it. No reader writes it.
extern int ListDelimiter;

// Why ReadNextRecipient passed over a record.
enum {
    ListSkipTooFewFields = 1,    // no field in the address column
    ListSkipNoAt = 2,            // the address holds no '@'
    ListSkipAddressTooLong = 3,  // longer than an address buffer holds
    ListSkipNotOneAddress = 4,   // names more than one address, or holds a blank, ',', ';', '<' or '>' besides its '@'
    // A cell of the Cc, Bcc or Reply-To column (mailing/copy_addresses.h)
    // holds something that is not an e-mail address: ListSkipBadCc + its kind.
    ListSkipBadCc = 5,
    ListSkipBadBcc = 6,
    ListSkipBadReplyTo = 7,
    // One address, but not in a form a mail server takes (ReadOneAddress).
    ListSkipNothingAroundAt = 8,   // nothing before or after its '@'
    ListSkipDomainWithoutDot = 9,  // "anna@example"
    ListSkipMisplacedDot = 10,     // a dot at the start or end of either part, or two dots together
    ListSkipBadCharacter = 11,     // a character no address may hold
    // Not the reader's: the sending pass passes over a record whose address
    // an earlier one holds, when the user chose the first record of each.
    ListSkipRepeatedAddress = 12,
};

// Told of every record that ReadNextRecipient passes over, with the record's
// line, the reason and the address as far as it was read ("" for too few
// fields). No one is told while pfnSkipped is NULL.
struct ListSkipWatch {
    void (*pfnSkipped)(void* pContext, int nLine, int nReason, const char* pszAddress);
    void* pContext;
};

#define LC_ADDRESS_CAPACITY 256        // an address holds at most 255 characters
#define LC_FIELD_NAME_CAPACITY 256     // header names are compared on their first 255

// The shared-access way in alone (Windows only).
FILE* OpenListFileShared(const char* pszPath);
// Puts an open list into binary mode (Windows only; nothing elsewhere).
void SetListFileBinary(FILE* pFile);
// cb bytes of ANSI text as UTF-8, in a new block to be released with free,
// its length in *pcbOut. NULL when the bytes are not text in the ANSI code
// page, or, with *pbNoMemory set, when memory ran out.
char* AnsiToUtf8(const char* pszAnsi, size_t cb, size_t* pcbOut, bool* pbNoMemory);

// Tells the user that memory ran out while a record was read (Windows only).
void ReportListOutOfMemory();

// A block that grows as needed and is kept for the next use.
struct GrowBuffer {
    char* p;
    size_t cb;      // bytes in use
    size_t cbCap;   // bytes allocated
};
// Makes room for cbNeeded bytes in the block, keeping what it holds; false
// when memory ran out, the block as it was.
bool ReserveGrowBuffer(GrowBuffer* pBuffer, size_t cbNeeded);

// One reading of a mailing list: its file, its encoding, the delimiter it
// reads with, where it is and what it met. Each reading has its own, so that
// another one meanwhile (the Preview, a test copy, a resume click's delimiter
// detection, the job's other pass) leaves it alone. Closes its file when it
// goes.
class ListReader {
public:
    ListReader();
    ~ListReader();
    ListReader(const ListReader&) = delete;
    ListReader& operator=(const ListReader&) = delete;

    // Opens the list for reading in binary mode, every byte of it data (text
    // mode would end it at a byte 1A); when that fails (another program
    // holding the file), opens it again with shared read and write access.
    // False when neither works. Its encoding is told by its byte-order mark;
    // without one, the first byte past ASCII tells it from the bytes from
    // there to the end of the block the reader holds (at least four after
    // it unless the file ends first): UTF-8 when they hold a whole UTF-8
    // sequence of two bytes or more (a stray byte in it is then refused with
    // its line), else ANSI. The file is never read ahead for it; until then
    // the text is ASCII, the same in both. The first block is read here, the
    // mark passed over. Its records are read with nDelimiter. A list open
    // before is closed, and what its reading met is forgotten; the skip
    // watch stays.
    bool Open(const char* pszPath, int nDelimiter);
    // Closes the file; what the reading met can still be asked.
    void Close();
    bool IsOpen() const { return m_pFile != NULL; }

    // Reads one physical line as UTF-8 into a block that stays the reader's
    // until its next line: LF, CR LF and CR alone each end a line, and arrive
    // as one LF. 1 for a line, 0 at the end of the file (or with no file
    // open), -1 for bytes that are not text in the list's encoding or a
    // control character (C0 but tab and line ends, DEL, C1), -2 out of memory.
    int ReadLine(const char** ppszLine, size_t* pcbLine);

    // Reads the next record with at least one non-empty field. A first line
    // "sep=X" sets the reader's delimiter and is part of the first record's
    // raw text, not of its fields; a line beginning "//" is a comment only
    // where a record begins; text after a closing quote up to the delimiter
    // belongs to the field ("Dee"x is Deex). False at the end of the list,
    // when the delimiter is none of comma, tab and semicolon, when the
    // record's raw text would pass LC_RECORD_MAX_CHARS characters or memory
    // ran out (CutShort: the list ends there), and at bytes that are not text
    // (BadTextLine).
    bool ReadRecord(ListRecord* pRecord);

    // Finds the next recipient with an address. *pnEmailColumn is the address
    // column, -1 while none is known. Unless bHeaderDone, the header is read
    // first: into pHeader, which then also sets *pnEmailColumn, or, without
    // pHeader, read and discarded so that *pnEmailColumn keeps its value. Its
    // raw text goes to pszHeaderRaw when given. Records too short for the
    // address column, whose address field names more than one address (two
    // '@', two angle brackets, an address beside or after the brackets),
    // whose address holds no '@', holds a blank, ',', ';', '<' or '>' (not one
    // address), or is longer than LC_ADDRESS_CAPACITY - 1 characters are
    // skipped, and so are records whose Cc, Bcc or Reply-To cell holds
    // anything but addresses (CopyAddresses); the skip watch is told of
    // each. On true pRecord holds the
    // recipient (its address field reduced to the bare address when it was
    // given in angle brackets), pszAddress the trimmed address and
    // pszRecordRaw, when given, the record's raw text. Every copy is cut to
    // its buffer's capacity.
    bool ReadNextRecipient(int* pnEmailColumn, bool bHeaderDone, char* pszAddress, int cchAddress,
                           char* pszHeaderRaw, int cchHeaderRaw, char* pszRecordRaw, int cchRecordRaw,
                           ListRecord* pHeader, ListRecord* pRecord);

    // The lines of a list written from a workbook's sheet are told as the
    // sheet's rows: pRowOfLine[n - 1] is the row of line n (mailing/
    // workbook_list.h). Kept, not owned, across Open; NULL for the lines.
    void NumberLinesBy(const std::vector<int>* pRowOfLine) { m_pRowOfLine = pRowOfLine; }

    // Who is told of the records ReadNextRecipient passes over; NULL to stop.
    void WatchSkipped(void (*pfnSkipped)(void* pContext, int nLine, int nReason, const char* pszAddress),
                      void* pContext);

    // The encoding of the list opened last, as far as it is decided: ANSI
    // while no byte past ASCII has been met, and for a list of ASCII alone.
    int Encoding() const { return m_nEncoding; }
    // The delimiter the records are read with: the one the list was opened
    // with, or the one its first line "sep=X" names.
    int Delimiter() const { return m_nDelimiter; }
    // The line in the list (1 for the first, comment lines counted) where the
    // record read last began, 0 before any.
    int RecordLine() const { return m_nRecordLine; }
    // The first line that is not text in the list's encoding (an invalid
    // sequence, a NUL) or holds a control character, 0 while none was met.
    // Reading ends there.
    int BadTextLine() const { return m_nBadTextLine; }
    // The control character (C0 but tab and line ends, DEL, C1) that made
    // BadTextLine, 0 when that line is no text in the encoding.
    int BadTextChar() const { return m_nBadTextChar; }
    // The first line of a record whose quoted field was still open at the
    // end of the file (everything after its opening quote became one field),
    // 0 when none.
    int UnclosedQuoteLine() const { return m_nUnclosedQuoteLine; }
    // Whether the last ReadRecord ended the list at a record too long to read
    // (or out of memory) rather than at the end of the file: the records
    // after it are never reached, and the engine must say so.
    bool CutShort() const { return m_bCutShort; }
    // The Cc, Bcc and Reply-To columns of the header read last, and the
    // addresses of the recipient handed out last.
    const CopyAddressCheck& CopyAddresses() const { return m_copyAddresses; }

private:
    int ReadRecordLines(ListRecord* pRecord, char chDelimiter);
    void ReportSkipped(int nReason, const char* pszAddress);
    int SourceLine(int nLine) const;
    // The file's bytes come through a block the reader fills itself: a call
    // into the C runtime per byte was a third of a pass.
    size_t TopUpBlock(size_t cbWanted);
    void DecideEncoding();
    int ReadUtf16Unit(unsigned* puUnit);
    int ReadUtf16Char(unsigned* puChar);
    int ReadUtf16Line(int* pnControl);
    int ReadByteLine(const char** ppLine, size_t* pcbLine, bool* pbHigh, int* pnControl);
    int ReadLineText(const char** ppLine, size_t* pcbLine);

    FILE* m_pFile;
    int m_nEncoding;
    bool m_bEncodingOpen;   // no mark, and no byte past ASCII met yet
    int m_nDelimiter;
    int m_nLinesRead;       // physical lines read, comment lines included
    int m_nLastControlChar; // the one that made ReadLine refuse its last line, 0 for none
    size_t m_cchLine;       // characters in the last line read
    int m_nRecordLine;
    int m_nBadTextLine;
    int m_nBadTextChar;
    int m_nUnclosedQuoteLine;
    bool m_bCutShort;
    ListSkipWatch m_skipWatch;
    const std::vector<int>* m_pRowOfLine;
    CopyAddressCheck m_copyAddresses;
    // The line when the block cannot hand it out as it lies, one piece of
    // field text when it must be rewritten.
    GrowBuffer m_line, m_piece;
    unsigned char* m_pBlock;   // LC_LIST_BLOCK_BYTES of the file read ahead, and a few for a decision
    size_t m_cbBlock;          // bytes in the block
    size_t m_nBlockPos;        // the next of them
};

// The delimiter of the list at pszPath: the one that a first line "sep=,"
// "sep=;" or "sep=" and a tab names, else semicolon when its header line
// holds semicolons and neither commas nor tabs, else the one of comma and tab
// that the header line holds alone, else comma exactly when the lower-cased
// path contains ".csv". Reads no further than the header line.
int DetectListDelimiter(const char* pszPath);
// Whether pszPath names a workbook rather than delimited text: it ends in
// .xlsx, .xlsm or .xls (any case), or its first bytes are those of a zip or
// of a compound file (an Excel 97-2003 workbook, an encrypted one), which no
// text list begins with.
// Whether the name alone says so.
bool IsWorkbookName(const char* pszPath);
bool IsWorkbookFile(const char* pszPath);

// Sets ListDelimiter for the list named by JobOptions.ToList (its first 259
// characters), through DetectListDelimiter.
void DetectDelimiter();

// The index of the address column that a header names, or -1: its only column,
// else the first whose whole name (trimmed, any case) is "E-mail", "Email",
// "E-mail Address" or "Email Address", else the first whose name contains
// "e-mail" or "email" in any case.
int FindAddressColumn(const ListRecord* pHeader);
// Reads the one e-mail address pszField names, bare or in angle brackets
// after a display name (pszField is then reduced to the bare address): 0
// with the trimmed address in pszAddress, else the ListSkip reason, with
// pszAddress holding the text as far as read. The rule for every address a
// record gives, its recipient's and its Cc, Bcc and Reply-To alike.
int ReadOneAddress(char* pszField, char* pszAddress, int cchAddress);
// How many columns of the header could hold the address: 1 for a single
// column, else those whose name contains "e-mail" or "email".
int CountAddressColumns(const ListRecord* pHeader);

#endif
