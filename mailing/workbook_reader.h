// An Excel workbook (.xlsx, .xlsm: Office Open XML) read as a mailing list:
// its worksheets by name, and one worksheet's rows with every cell as Excel
// shows it. The workbook is a zip of XML parts: mailing/workbook_zip.cpp walks
// its central directory and inflates a part with zlib as it is read, and the
// XML is read through mailing/workbook_xml.h (Windows' XmlLite, loaded at run
// time; libxml2's reader in the native build).
#ifndef LETTERCAST_WORKBOOK_READER_H
#define LETTERCAST_WORKBOOK_READER_H

#include <stddef.h>

#include <memory>
#include <string>
#include <vector>

#include "mailing/number_format.h"

// What opening or reading a workbook came to.
enum {
    WorkbookOk = 0,
    WorkbookCannotOpen = 1,    // the file cannot be read
    WorkbookNotZip = 2,        // neither a zip nor a compound file: not a workbook
    WorkbookOldFormat = 3,     // an Excel 97-2003 workbook (.xls), a compound file
    WorkbookEncrypted = 4,     // a compound file holding an encrypted package (or encrypted zip entries): a password
    WorkbookDamaged = 5,       // a zip or XML part that cannot be read, or a part missing
    WorkbookPartTooLarge = 6,  // a part inflates past its limit (below)
    WorkbookNoXmlReader = 7,   // XmlLite cannot be loaded
    WorkbookNoSheet = 8,       // no worksheet at all
    WorkbookNoMemory = 9,
    WorkbookTooLarge = 10,     // the file itself is past LC_WORKBOOK_FILE_MAX_BYTES
    WorkbookStopped = 11,      // the row sink asked to stop
};

// A part that inflates past its limit is refused (a zip bomb), however the
// zip says it is sized. A worksheet is streamed through, never held: a full
// sheet of Excel's 1,048,576 rows and twenty columns comes to some 650 MB of
// XML. The other parts (shared strings, styles, relationships) are kept or
// held in memory while the workbook is read.
#define LC_WORKBOOK_SHEET_MAX_BYTES (1024u << 20)
#define LC_WORKBOOK_PART_MAX_BYTES (256u << 20)
// A workbook file is read whole into memory; past this it is refused.
#define LC_WORKBOOK_FILE_MAX_BYTES (512u << 20)

struct WorkbookSheet {
    std::string strName;   // as the workbook names it, UTF-8
    std::string strPart;   // its part in the zip: "xl/worksheets/sheet1.xml"
};

// Told each row of a worksheet that holds a value, in the sheet's order:
// nRow is the row's number in the sheet (1 for the first), cells the row's
// values from column A on (a cell without a value ""; no empty cells after
// the last value). False stops the reading (WorkbookStopped).
class WorkbookRowSink {
public:
    virtual ~WorkbookRowSink() {}
    virtual bool Row(int nRow, const std::vector<std::string>& cells) = 0;
};

class Workbook {
public:
    Workbook();
    ~Workbook();
    Workbook(const Workbook&) = delete;
    Workbook& operator=(const Workbook&) = delete;

    // Reads the file at pszPath (ANSI; another program may hold it open)
    // whole, then its central directory, workbook part, relationships,
    // styles and shared strings. A WorkbookXxx result.
    int Open(const char* pszPath);
    // The same from bytes in memory, which the workbook copies.
    int OpenBytes(const void* pBytes, size_t cb);

    // The worksheets in the workbook's order (chart sheets left out).
    const std::vector<WorkbookSheet>& Sheets() const;
    // The index of the sheet named strName (exactly, else A-Z folded), -1.
    int FindSheet(const std::string& strName) const;
    // Whether dates count from 1904 (workbookPr date1904).
    bool Uses1904() const;

    // Reads sheet nSheet row by row into pSink, each cell as Excel shows it
    // in locale: shared and inline strings as their plain text, numbers and
    // dates through their cell's number format, booleans as TRUE and FALSE,
    // a formula by its cached value, an error by its text (#N/A). A
    // WorkbookXxx result; rows told before a fault was met stay told.
    int ReadSheet(int nSheet, const NumberLocale& locale, WorkbookRowSink* pSink);

    // The format codes the last ReadSheet could not render (their numbers
    // shown as General), each once, in the order met.
    const std::vector<std::string>& UnrenderedFormats() const;
    // For WorkbookDamaged from the last Open or ReadSheet: the part and what
    // is wrong with it, for the message ("xl/worksheets/sheet1.xml: not
    // well-formed XML"; what is not UTF-8 in a part's name as '?'), else "".
    const std::string& Problem() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

#endif
