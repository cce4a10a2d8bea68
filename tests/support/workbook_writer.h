// Excel workbooks (.xlsx) written in memory for tests: a real zip, deflated
// with zlib, of the parts Excel writes (content types, the package's and the
// workbook's relationships, the workbook, styles, shared strings and the
// worksheets), plus knobs that damage it in the ways a reader must refuse.
// Portable C++ over zlib, so it also builds natively.
//
//     XlsxWriter writer;
//     int nDate = writer.AddNumberFormat("yyyy-mm-dd");      // a style index
//     writer.AddSheet("Recipients", {
//         { "Name", "Email", "Joined" },                       // shared strings
//         { "Ann", "ann@example.com", XlsxCell(XlsxNumber, "45000", nDate) },
//     });
//     std::string bytes = writer.Bytes();                      // or WriteFile(path)
#ifndef LETTERCAST_TESTS_WORKBOOK_WRITER_H
#define LETTERCAST_TESTS_WORKBOOK_WRITER_H

#include <stdint.h>

#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

// How a cell is written.
enum XlsxCellType {
    XlsxShared,        // t="s": the value goes into the shared strings
    XlsxSharedIndex,   // t="s" with the value written as the index itself ("0", or one past the table)
    XlsxInline,        // t="inlineStr": <is><t>value</t></is>
    XlsxNumber,        // no t: <v>value</v>, the value as XML holds it ("1234.5")
    XlsxFormulaText,   // t="str": a formula's text result in <v>
    XlsxBoolean,       // t="b": "1" or "0"
    XlsxError,         // t="e": "#N/A", "#DIV/0!"
    XlsxDate,          // t="d": an ISO 8601 date, "2023-03-15T00:00:00"
    XlsxNoValue,       // a cell without a value (a formatted empty cell)
};

struct XlsxCell {
    // A text cell, through the shared strings.
    XlsxCell(const char* pszText) : type(XlsxShared), value(pszText), style(-1) {}
    XlsxCell(const std::string& text) : type(XlsxShared), value(text), style(-1) {}
    // style: an index AddCellFormat or AddNumberFormat gave, -1 for no s;
    // ref: "B7", "" for no r (the next column); formula: written as <f>.
    XlsxCell(XlsxCellType cellType, const std::string& cellValue, int cellStyle = -1,
             const std::string& cellRef = std::string(), const std::string& cellFormula = std::string())
        : type(cellType), value(cellValue), ref(cellRef), style(cellStyle), formula(cellFormula)
    {
    }

    XlsxCellType type;
    std::string value;     // written escaped for XML; "_x000D_" and the like go through as they are
    std::string ref;
    int style;
    std::string formula;
};

struct XlsxRow {
    // A row without r: the one after the last.
    XlsxRow(std::initializer_list<XlsxCell> rowCells) : number(0), cells(rowCells) {}
    XlsxRow(std::vector<XlsxCell> rowCells) : number(0), cells(std::move(rowCells)) {}
    // A row with r="number" (0 for none).
    XlsxRow(int rowNumber, std::vector<XlsxCell> rowCells) : number(rowNumber), cells(std::move(rowCells)) {}

    int number;
    std::vector<XlsxCell> cells;
};

class XlsxWriter {
public:
    XlsxWriter();

    // A worksheet, in the workbook's order after those before it.
    void AddSheet(const std::string& name, const std::vector<XlsxRow>& rows);
    // A worksheet of nRows rows, row i (from 0) made by makeRow(i) while the
    // zip is written, so that a sheet of a million rows is never held whole.
    void AddGeneratedSheet(const std::string& name, int nRows, std::function<XlsxRow(int)> makeRow);
    // A chart sheet (no cells), in the same order as the worksheets.
    void AddChartSheet(const std::string& name);

    // workbookPr date1904="1".
    void SetDate1904(bool b1904) { m_b1904 = b1904; }
    // A cellXfs entry with a built-in number format: its style index.
    int AddCellFormat(int nNumFmtId);
    // A custom number format (numFmtId 164 on) and a cellXfs entry with it:
    // the entry's style index.
    int AddNumberFormat(const std::string& code);
    // A shared string written as the given XML inside its <si> (rich text
    // "<r><t>a</t></r><r><t>b</t></r>", phonetic runs): its index, for
    // XlsxCell(XlsxSharedIndex, std::to_string(index)).
    int AddSharedStringXml(const std::string& siXml);

    // Where the workbook part lies ("xl/workbook.xml" unless set); the
    // package's relationships name it.
    void SetWorkbookPart(const std::string& name) { m_workbookPart = name; }
    // Relationship targets from the package's root ("/xl/worksheets/...")
    // rather than relative to their source.
    void SetAbsoluteTargets(bool bAbsolute) { m_bAbsoluteTargets = bAbsolute; }

    // Knobs for bad input. The part name is as it lies in the zip.
    // A part of exactly these bytes, in place of what the writer would make
    // for it (or added).
    void SetPart(const std::string& name, const std::string& bytes);
    // A part left out of the zip.
    void RemovePart(const std::string& name);
    // A part of head, nRepeats times unit, then tail, deflated as it is made:
    // 300 MB of zeros costs the test under 2 MB.
    void SetRepeatedPart(const std::string& name, const std::string& head, const std::string& unit,
                         uint64_t nRepeats, const std::string& tail);
    // The uncompressed size the zip's headers give for the part, whatever it is.
    void SetClaimedSize(const std::string& name, uint64_t cbClaimed);
    // The first byte of the part's data in the zip set to 0xFF: deflated
    // data then has a block type that does not exist, stored data a CRC-32
    // that does not match.
    void DamagePart(const std::string& name);
    // The general-purpose flag of encryption set on the part's headers.
    void SetEncryptedFlag(const std::string& name);
    // Every part stored rather than deflated.
    void SetStored(bool bStored) { m_bStored = bStored; }
    // Zip64 headers and end records throughout, as a writer that streams does.
    void SetZip64(bool bZip64) { m_bZip64 = bZip64; }

    // The .xlsx file's bytes.
    std::string Bytes() const;
    // False when the file cannot be written.
    bool WriteFile(const std::string& path) const;

    // A compound file (an Excel 97-2003 workbook's container): its
    // signature and, bEncrypted, the stream name "EncryptedPackage" in UTF-16LE.
    static std::string CompoundFile(bool bEncrypted);

private:
    struct Sheet {
        std::string name;
        bool bChart;
        int nRows;
        std::function<XlsxRow(int)> makeRow;
    };
    struct Repeated {
        std::string head, unit, tail;
        uint64_t nRepeats;
    };
    class Zip;

    void WriteParts(Zip* pZip) const;
    std::string SheetPart(size_t nSheet) const;
    std::string Target(const std::string& sourceFolder, const std::string& part) const;

    std::vector<Sheet> m_sheets;
    std::vector<std::string> m_customFormats;   // numFmtId 164 on
    std::vector<int> m_cellFormats;             // cellXfs after the first (General)
    std::vector<std::string> m_rawSharedStrings;
    std::string m_workbookPart;
    bool m_b1904;
    bool m_bAbsoluteTargets;
    bool m_bStored;
    bool m_bZip64;
    std::map<std::string, std::string> m_setParts;
    std::map<std::string, Repeated> m_repeatedParts;
    std::vector<std::string> m_removedParts;
    std::map<std::string, uint64_t> m_claimedSizes;
    std::vector<std::string> m_damagedParts;
    std::vector<std::string> m_encryptedParts;
};

#endif
