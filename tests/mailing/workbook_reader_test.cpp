// The workbook reader over workbooks that tests/support/workbook_writer.h
// writes: texts, sheets, cell types, number formats as they reach the
// renderer, sparse rows, and the inputs it must refuse.
#include <gtest/gtest.h>

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "mailing/workbook_reader.h"
#include "mailing/workbook_zip.h"
#include "tests/support/workbook_writer.h"

#ifdef _WIN32
#include "tests/support/test_files.h"
#endif

namespace {

typedef std::vector<std::string> Cells;

struct RowsSeen : public WorkbookRowSink {
    explicit RowsSeen(size_t nStopAfter = (size_t)-1) : nStopAfter(nStopAfter) {}
    bool Row(int nRow, const std::vector<std::string>& cells) override
    {
        rows.emplace_back(nRow, cells);
        return rows.size() < nStopAfter;
    }
    std::vector<std::pair<int, Cells>> rows;
    size_t nStopAfter;
};

// What opening the bytes and reading one sheet came to.
struct Reading {
    int nOpen = -1;
    int nRead = -1;   // -1 when the opening failed
    std::vector<std::pair<int, Cells>> rows;
    std::string problem;
    std::vector<std::string> unrendered;
};

Reading Read(const std::string& bytes, int nSheet = 0)
{
    Reading reading;
    Workbook workbook;
    reading.nOpen = workbook.OpenBytes(bytes.data(), bytes.size());
    if (reading.nOpen == WorkbookOk) {
        RowsSeen seen;
        reading.nRead = workbook.ReadSheet(nSheet, EnglishNumberLocale(), &seen);
        reading.rows = seen.rows;
        reading.unrendered = workbook.UnrenderedFormats();
    }
    reading.problem = workbook.Problem();
    return reading;
}

// The cells of the sheet's first row, after checking that it reads well.
Cells FirstRow(const XlsxWriter& writer)
{
    Reading reading = Read(writer.Bytes());
    EXPECT_EQ(reading.nOpen, WorkbookOk) << reading.problem;
    EXPECT_EQ(reading.nRead, WorkbookOk) << reading.problem;
    EXPECT_EQ(reading.rows.size(), 1u);
    return reading.rows.empty() ? Cells() : reading.rows[0].second;
}

struct TextCase {
    const char* pszWhat;
    std::string text;
};

const TextCase kaScripts[] = {
    { "Greek", "\xCE\x9A\xCE\xB1\xCE\xBB\xCE\xB7\xCE\xBC\xCE\xAD\xCF\x81\xCE\xB1" },
    { "Cyrillic", "\xD0\x97\xD0\xB4\xD1\x80\xD0\xB0\xD0\xB2\xD1\x81\xD1\x82\xD0\xB2\xD1\x83\xD0\xB9\xD1\x82\xD0\xB5" },
    { "CJK", "\xE4\xBD\xA0\xE5\xA5\xBD\xE3\x80\x81\xE4\xB8\x96\xE7\x95\x8C" },
    { "Arabic", "\xD9\x85\xD8\xB1\xD8\xAD\xD8\xA8\xD8\xA7" },
    { "emoji beyond the BMP", "Hi \xF0\x9F\x98\x80 \xF0\x9F\x8E\x89" },
    { "markup characters", "Smith & <Sons> \"Ltd\"" },
};

TEST(WorkbookReaderTest, TextsInEveryScriptComeOutAsUtf8)
{
    for (const TextCase& c : kaScripts) {
        XlsxWriter writer;
        writer.AddSheet("Sheet1",
                        { { c.text, XlsxCell(XlsxInline, c.text), XlsxCell(XlsxFormulaText, c.text, -1, "", "A1") } });
        EXPECT_EQ(FirstRow(writer), (Cells{ c.text, c.text, c.text })) << c.pszWhat;
    }
}

TEST(WorkbookReaderTest, RichTextJoinsItsRunsAndLeavesPhoneticRunsOut)
{
    XlsxWriter writer;
    int nRich = writer.AddSharedStringXml("<r><rPr><b/></rPr><t xml:space=\"preserve\">Hello </t></r><r><t>World</t></r>");
    int nPhonetic = writer.AddSharedStringXml(
        "<t>\xE6\x9D\xB1\xE4\xBA\xAC</t><rPh sb=\"0\" eb=\"2\">"
        "<t>\xE3\x83\x88\xE3\x82\xA6\xE3\x82\xAD\xE3\x83\xA7\xE3\x82\xA6</t>"
        "</rPh><phoneticPr fontId=\"1\"/>");
    int nEmpty = writer.AddSharedStringXml("<t/>");
    writer.AddSheet("Sheet1", { { XlsxCell(XlsxSharedIndex, std::to_string(nRich)),
                                  XlsxCell(XlsxSharedIndex, std::to_string(nPhonetic)),
                                  XlsxCell(XlsxSharedIndex, std::to_string(nEmpty)), "after" } });
    EXPECT_EQ(FirstRow(writer), (Cells{ "Hello World", "\xE6\x9D\xB1\xE4\xBA\xAC", "", "after" }));
}

TEST(WorkbookReaderTest, EscapesStandForTheCharactersXmlCannotHold)
{
    const struct {
        const char* pszStored;
        const char* pszShown;
    } kaCases[] = {
        { "Line one_x000D_\nLine two", "Line one\r\nLine two" },
        { "a_x005F_x000D_b", "a_x000D_b" },
        { "_x0041__x0062_", "Ab" },
        { "smile _xD83D__xDE00_", "smile \xF0\x9F\x98\x80" },
        { "lone _xD83D_ half", "lone \xEF\xBF\xBD half" },
        { "not_x12_one_x00zz_", "not_x12_one_x00zz_" },
        { "nul_x0000_gone", "nulgone" },
    };
    for (const auto& c : kaCases) {
        XlsxWriter writer;
        writer.AddSheet("Sheet1",
                        { { c.pszStored, XlsxCell(XlsxInline, c.pszStored), XlsxCell(XlsxFormulaText, c.pszStored) } });
        EXPECT_EQ(FirstRow(writer), (Cells{ c.pszShown, c.pszShown, c.pszShown })) << c.pszStored;
    }
}

TEST(WorkbookReaderTest, SpacesAndLineBreaksAreKeptAsTheyStand)
{
    XlsxWriter writer;
    writer.AddSheet("Sheet1", { { "  two before", "two after  ", "one\ntwo", XlsxCell(XlsxInline, "\tand tab ") } });
    EXPECT_EQ(FirstRow(writer), (Cells{ "  two before", "two after  ", "one\ntwo", "\tand tab " }));
}

TEST(WorkbookReaderTest, CellsShowAsExcelShowsThem)
{
    const struct {
        XlsxCell cell;
        const char* pszShown;
    } kaCases[] = {
        { XlsxCell(XlsxNumber, "42"), "42" },
        { XlsxCell(XlsxNumber, "1234.5"), "1234.5" },
        { XlsxCell(XlsxNumber, "-3E-2"), "-0.03" },
        { XlsxCell(XlsxBoolean, "1"), "TRUE" },
        { XlsxCell(XlsxBoolean, "0"), "FALSE" },
        { XlsxCell(XlsxError, "#N/A"), "#N/A" },
        { XlsxCell(XlsxError, "#DIV/0!", -1, "", "1/0"), "#DIV/0!" },
        { XlsxCell(XlsxNumber, "84", -1, "", "A1*2"), "84" },
        { XlsxCell(XlsxFormulaText, "ab", -1, "", "\"a\"&\"b\""), "ab" },
        { XlsxCell(XlsxNumber, "not a number"), "not a number" },
    };
    for (const auto& c : kaCases) {
        XlsxWriter writer;
        writer.AddSheet("Sheet1", { { c.cell, "next" } });
        EXPECT_EQ(FirstRow(writer), (Cells{ c.pszShown, "next" })) << c.cell.value;
    }
}

TEST(WorkbookReaderTest, EachCellsFormatReachesTheRenderer)
{
    XlsxWriter writer;
    int nZeros = writer.AddNumberFormat("00000");
    int nWhole = writer.AddCellFormat(1);   // built-in "0"
    int nDate = writer.AddNumberFormat("yyyy-mm-dd");
    int nText = writer.AddCellFormat(49);   // built-in "@"
    int nTitle = writer.AddNumberFormat("\"Mr. \"@");
    writer.AddSheet("Sheet1", { {
        XlsxCell(XlsxNumber, "1234", nZeros),
        XlsxCell(XlsxNumber, "42.4", nWhole),
        XlsxCell(XlsxNumber, "45000", nDate),
        XlsxCell(XlsxDate, "2023-03-15T00:00:00", nDate),
        XlsxCell(XlsxShared, "00123", nText),
        XlsxCell(XlsxShared, "Smith", nTitle),
        XlsxCell(XlsxInline, "Jones", nTitle),
        XlsxCell(XlsxNumber, "1234.5", 99),   // no such format: General
        XlsxCell(XlsxNumber, "1234.5"),
    } });
    EXPECT_EQ(FirstRow(writer),
              (Cells{ "01234", "42", "2023-03-15", "2023-03-15", "00123", "Mr. Smith", "Mr. Jones", "1234.5", "1234.5" }));
}

TEST(WorkbookReaderTest, Date1904CountsSerialsFrom1904)
{
    for (bool b1904 : { false, true }) {
        XlsxWriter writer;
        writer.SetDate1904(b1904);
        int nDate = writer.AddNumberFormat("yyyy-mm-dd");
        writer.AddSheet("Sheet1", { { XlsxCell(XlsxNumber, "45000", nDate), XlsxCell(XlsxDate, "2023-03-15", nDate) } });
        Workbook workbook;
        std::string bytes = writer.Bytes();
        ASSERT_EQ(workbook.OpenBytes(bytes.data(), bytes.size()), WorkbookOk);
        EXPECT_EQ(workbook.Uses1904(), b1904);
        // An ISO date is the same day in either system; a serial is not.
        EXPECT_EQ(FirstRow(writer), (Cells{ b1904 ? "2027-03-16" : "2023-03-15", "2023-03-15" }));
    }
}

TEST(WorkbookReaderTest, IsoDatesBecomeTheSerialsExcelKeeps)
{
    const struct {
        const char* pszStored;
        bool b1904;
        const char* pszShown;   // in General
    } kaCases[] = {
        { "2023-03-15", false, "45000" },
        { "2023-03-15T12:00:00", false, "45000.5" },
        { "2023-03-15T12:00:00Z", false, "45000.5" },
        { "2023-03-15T12:00:00.000+02:00", false, "45000.5" },
        { "06:00:00", false, "0.25" },
        { "T18:00", false, "0.75" },
        // Excel's 1900 counts a 29 February that never was.
        { "1900-01-01", false, "1" },
        { "1900-02-28", false, "59" },
        { "1900-03-01", false, "61" },
        { "1904-01-02", true, "1" },
        { "2023-03-15", true, "43538" },
        { "2023-13-01", false, "2023-13-01" },
        { "yesterday", false, "yesterday" },
    };
    for (const auto& c : kaCases) {
        XlsxWriter writer;
        writer.SetDate1904(c.b1904);
        writer.AddSheet("Sheet1", { { XlsxCell(XlsxDate, c.pszStored) } });
        EXPECT_EQ(FirstRow(writer), Cells{ c.pszShown }) << c.pszStored << (c.b1904 ? " in 1904" : "");
    }
}

TEST(WorkbookReaderTest, RelationshipTargetsAreResolvedAgainstTheirSource)
{
    const std::string type = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    XlsxWriter writer;
    int nZeros = writer.AddNumberFormat("00000");
    writer.AddSheet("Sheet1", { { "text", XlsxCell(XlsxNumber, "12", nZeros) } });
    writer.SetPart("xl/_rels/workbook.xml.rels",
                   "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                   "<Relationship Id=\"rId9\" Type=\"" + type + "hyperlink\" Target=\"http://example.com/\" "
                   "TargetMode=\"External\"/>"
                   "<Relationship Id=\"rId1\" Type=\"" + type + "worksheet\" Target=\"../xl/./worksheets/sheet%31.xml\"/>"
                   "<Relationship Id=\"rId2\" Type=\"" + type + "styles\" Target=\"/xl/styles.xml\"/>"
                   "<Relationship Id=\"rId3\" Type=\"" + type + "sharedStrings\" Target=\"sharedStrings.xml#top\"/>"
                   "</Relationships>");
    EXPECT_EQ(FirstRow(writer), (Cells{ "text", "00012" }));
}

TEST(WorkbookReaderTest, FormatsTheRendererCannotShowAreListedOnce)
{
    XlsxWriter writer;
    int nFirst = writer.AddNumberFormat("0;0;0;@;0");
    int nSecond = writer.AddNumberFormat("[");
    int nWhole = writer.AddCellFormat(1);
    writer.AddSheet("Sheet1", { { XlsxCell(XlsxNumber, "7", nFirst), XlsxCell(XlsxNumber, "8", nSecond),
                                  XlsxCell(XlsxNumber, "9", nFirst), XlsxCell(XlsxNumber, "10", nWhole) } });
    Reading reading = Read(writer.Bytes());
    ASSERT_EQ(reading.nRead, WorkbookOk) << reading.problem;
    ASSERT_EQ(reading.rows.size(), 1u);
    EXPECT_EQ(reading.rows[0].second, (Cells{ "7", "8", "9", "10" }));
    EXPECT_EQ(reading.unrendered, (std::vector<std::string>{ "0;0;0;@;0", "[" }));
}

TEST(WorkbookReaderTest, EmptyRowsAreLeftOutAndGapsAreEmptyCells)
{
    XlsxWriter writer;
    int nWhole = writer.AddCellFormat(1);
    writer.AddSheet("Sheet1", {
        XlsxRow(1, { "A1", XlsxCell(XlsxShared, "C1", -1, "C1") }),
        XlsxRow(3, { XlsxCell(XlsxNoValue, "", nWhole, "A3"), XlsxCell(XlsxNoValue, "", nWhole, "B3") }),
        XlsxRow(4, { XlsxCell(XlsxShared, "B4", -1, "B4"), XlsxCell(XlsxInline, "", -1, "C4"),
                     XlsxCell(XlsxShared, "D4", -1, "D4"), XlsxCell(XlsxNoValue, "", nWhole, "F4") }),
        // Without r: the column after the last, the row after the last.
        XlsxRow(0, { XlsxCell(XlsxShared, "C5", -1, "C5"), "D5" }),
        XlsxRow(0, { XlsxCell(XlsxShared, "AA6", -1, "AA6") }),
    });
    Reading reading = Read(writer.Bytes());
    ASSERT_EQ(reading.nRead, WorkbookOk) << reading.problem;
    Cells wide(27);
    wide[26] = "AA6";
    std::vector<std::pair<int, Cells>> expected = {
        { 1, { "A1", "", "C1" } },
        { 4, { "", "B4", "", "D4" } },
        { 5, { "", "", "C5", "D5" } },
        { 6, wide },
    };
    EXPECT_EQ(reading.rows, expected);
}

TEST(WorkbookReaderTest, WorksheetsInOrderWithChartSheetsLeftOut)
{
    XlsxWriter writer;
    const std::string names[] = { "First sheet", "Donn\xC3\xA9" "es 2024", "\xD0\x9B\xD0\xB8\xD1\x81\xD1\x82 3" };
    writer.AddSheet(names[0], { { "one" } });
    writer.AddChartSheet("Chart1");
    writer.AddSheet(names[1], { { "two" } });
    writer.AddSheet(names[2], { { "three" } });
    std::string bytes = writer.Bytes();
    Workbook workbook;
    ASSERT_EQ(workbook.OpenBytes(bytes.data(), bytes.size()), WorkbookOk) << workbook.Problem();
    ASSERT_EQ(workbook.Sheets().size(), 3u);
    const char* const apszShown[] = { "one", "two", "three" };
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(workbook.Sheets()[i].strName, names[i]);
        EXPECT_EQ(workbook.FindSheet(names[i]), i);
        RowsSeen seen;
        EXPECT_EQ(workbook.ReadSheet(i, EnglishNumberLocale(), &seen), WorkbookOk);
        ASSERT_EQ(seen.rows.size(), 1u);
        EXPECT_EQ(seen.rows[0].second, Cells{ apszShown[i] });
    }
    EXPECT_EQ(workbook.Sheets()[1].strPart, "xl/worksheets/sheet2.xml");
    EXPECT_EQ(workbook.FindSheet("FIRST SHEET"), 0);
    EXPECT_EQ(workbook.FindSheet("Chart1"), -1);
    EXPECT_EQ(workbook.FindSheet("First"), -1);
    RowsSeen seen;
    EXPECT_EQ(workbook.ReadSheet(3, EnglishNumberLocale(), &seen), WorkbookNoSheet);
}

TEST(WorkbookReaderTest, PartsAreFoundThroughTheirRelationships)
{
    const struct {
        const char* pszWorkbookPart;
        bool bAbsolute;
        bool bStored;
        bool bZip64;
    } kaCases[] = {
        { "xl/workbook.xml", false, false, false },
        { "xl/workbook.xml", true, false, false },
        { "book/main.xml", false, false, false },
        { "book/main.xml", true, true, false },
        { "xl/workbook.xml", false, true, true },
        { "xl/workbook.xml", false, false, true },
    };
    for (const auto& c : kaCases) {
        XlsxWriter writer;
        writer.SetWorkbookPart(c.pszWorkbookPart);
        writer.SetAbsoluteTargets(c.bAbsolute);
        writer.SetStored(c.bStored);
        writer.SetZip64(c.bZip64);
        int nZeros = writer.AddNumberFormat("00000");
        writer.AddSheet("Sheet1", { { "text", XlsxCell(XlsxNumber, "12", nZeros) } });
        EXPECT_EQ(FirstRow(writer), (Cells{ "text", "00012" }))
            << c.pszWorkbookPart << (c.bAbsolute ? " absolute" : "") << (c.bStored ? " stored" : "")
            << (c.bZip64 ? " zip64" : "");
    }
}

TEST(WorkbookReaderTest, TheSinkCanStopTheReading)
{
    XlsxWriter writer;
    writer.AddSheet("Sheet1", { { "1" }, { "2" }, { "3" } });
    std::string bytes = writer.Bytes();
    Workbook workbook;
    ASSERT_EQ(workbook.OpenBytes(bytes.data(), bytes.size()), WorkbookOk);
    RowsSeen seen(2);
    EXPECT_EQ(workbook.ReadSheet(0, EnglishNumberLocale(), &seen), WorkbookStopped);
    EXPECT_EQ(seen.rows.size(), 2u);
}

TEST(WorkbookReaderTest, AMillionRowsAreStreamedThrough)
{
    const int knRows = 1000000;
    XlsxWriter writer;
    writer.AddGeneratedSheet("Big", knRows, [](int i) { return XlsxRow({ XlsxCell(XlsxNumber, std::to_string(i + 1)) }); });
    std::string bytes = writer.Bytes();
    Workbook workbook;
    ASSERT_EQ(workbook.OpenBytes(bytes.data(), bytes.size()), WorkbookOk);
    struct Counter : public WorkbookRowSink {
        bool Row(int nRow, const std::vector<std::string>& cells) override
        {
            if (nCount == 0)
                first = cells;
            last = cells;
            nLastRow = nRow;
            bInOrder = bInOrder && nRow == nCount + 1;
            ++nCount;
            return true;
        }
        int nCount = 0, nLastRow = 0;
        bool bInOrder = true;
        Cells first, last;
    } counter;
    ASSERT_EQ(workbook.ReadSheet(0, EnglishNumberLocale(), &counter), WorkbookOk) << workbook.Problem();
    EXPECT_EQ(counter.nCount, knRows);
    EXPECT_TRUE(counter.bInOrder);
    EXPECT_EQ(counter.first, Cells{ "1" });
    EXPECT_EQ(counter.last, Cells{ "1000000" });
    EXPECT_EQ(counter.nLastRow, knRows);
}

XlsxWriter OneSheet()
{
    XlsxWriter writer;
    writer.AddSheet("Sheet1", { { "Name", "Email" }, { "Ann", "ann@example.com" } });
    return writer;
}

const char kszSheet[] = "xl/worksheets/sheet1.xml";

// OneSheet with its sheet part's sheetData holding these rows.
std::string WithRows(const char* pszRows)
{
    XlsxWriter writer = OneSheet();
    writer.SetPart(kszSheet, std::string("<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
                                         "<sheetData>") + pszRows + "</sheetData></worksheet>");
    return writer.Bytes();
}

// OneSheet as a knob leaves it.
std::string Changed(void (*pfnKnob)(XlsxWriter*))
{
    XlsxWriter writer = OneSheet();
    pfnKnob(&writer);
    return writer.Bytes();
}

struct BadCase {
    const char* pszWhat;
    std::string (*pfnBytes)();
    int nExpected;           // from the opening, or from reading the sheet once opened
    const char* pszProblem;  // part of Problem(), for WorkbookDamaged
};

const BadCase kaBadCases[] = {
    { "no bytes", [] { return std::string(); }, WorkbookNotZip, "" },
    { "a text file", [] { return std::string("Name,Email\r\nAnn,ann@example.com\r\n"); }, WorkbookNotZip, "" },
    { "an Excel 97-2003 workbook", [] { return XlsxWriter::CompoundFile(false); }, WorkbookOldFormat, "" },
    { "a workbook with a password", [] { return XlsxWriter::CompoundFile(true); }, WorkbookEncrypted, "" },
    { "cut short", [] { std::string b = OneSheet().Bytes(); return b.substr(0, b.size() / 2); },
      WorkbookDamaged, "cut short" },
    { "its directory's end only", [] { std::string b = OneSheet().Bytes(); return b.substr(b.size() - 22); },
      WorkbookDamaged, "the zip's directory" },
    { "no workbook part", [] { return Changed([](XlsxWriter* w) { w->RemovePart("xl/workbook.xml"); }); },
      WorkbookDamaged, "xl/workbook.xml: missing" },
    { "no sheet part", [] { return Changed([](XlsxWriter* w) { w->RemovePart(kszSheet); }); },
      WorkbookDamaged, "xl/worksheets/sheet1.xml: missing" },
    { "no styles part", [] { return Changed([](XlsxWriter* w) { w->RemovePart("xl/styles.xml"); }); },
      WorkbookDamaged, "xl/styles.xml: missing" },
    { "broken workbook XML", [] { return Changed([](XlsxWriter* w) { w->SetPart("xl/workbook.xml", "<workbook>"); }); },
      WorkbookDamaged, "xl/workbook.xml: not well-formed XML" },
    { "broken sheet XML", [] { return WithRows("<row><c><v>1</v></row>"); },
      WorkbookDamaged, "xl/worksheets/sheet1.xml: not well-formed XML" },
    { "an empty sheet part", [] { return Changed([](XlsxWriter* w) { w->SetPart(kszSheet, ""); }); },
      WorkbookDamaged, "xl/worksheets/sheet1.xml: not well-formed XML" },
    { "a DTD", [] {
          return Changed([](XlsxWriter* w) {
              w->SetPart(kszSheet, "<?xml version=\"1.0\"?><!DOCTYPE worksheet [<!ENTITY a \"aaaaaaaaaa\">"
                                   "<!ENTITY b \"&a;&a;&a;\">]><worksheet><sheetData><row><c t=\"inlineStr\">"
                                   "<is><t>&b;</t></is></c></row></sheetData></worksheet>");
          });
      }, WorkbookDamaged, "xl/worksheets/sheet1.xml: not well-formed XML" },
    { "damaged deflate data", [] { return Changed([](XlsxWriter* w) { w->DamagePart(kszSheet); }); },
      WorkbookDamaged, "xl/worksheets/sheet1.xml: its compressed data is damaged" },
    { "a CRC-32 that does not match", [] {
          return Changed([](XlsxWriter* w) {
              w->SetStored(true);
              w->DamagePart(kszSheet);
          });
      }, WorkbookDamaged, "xl/worksheets/sheet1.xml: its CRC-32 does not match" },
    { "a size the directory lies about", [] { return Changed([](XlsxWriter* w) { w->SetClaimedSize(kszSheet, 100); }); },
      WorkbookDamaged, "xl/worksheets/sheet1.xml: its size" },
    { "a shared string index past the table", [] {
          XlsxWriter w;
          w.AddSheet("Sheet1", { { "only", XlsxCell(XlsxSharedIndex, "1") } });
          return w.Bytes();
      }, WorkbookDamaged, "xl/worksheets/sheet1.xml: a shared string index past the 1 strings" },
    { "a row past Excel's last", [] { return WithRows("<row r=\"1048577\"><c t=\"b\"><v>1</v></c></row>"); },
      WorkbookDamaged, "a row number" },
    { "a column past XFD", [] { return WithRows("<row><c r=\"XFE1\" t=\"b\"><v>1</v></c></row>"); },
      WorkbookDamaged, "past Excel's columns" },
    { "an encrypted entry", [] { return Changed([](XlsxWriter* w) { w->SetEncryptedFlag("xl/workbook.xml"); }); },
      WorkbookEncrypted, "" },
    { "chart sheets only", [] { XlsxWriter w; w.AddChartSheet("Chart1"); return w.Bytes(); }, WorkbookNoSheet, "" },
    { "a sheet part that says it is past the limit", [] {
          return Changed([](XlsxWriter* w) { w->SetClaimedSize(kszSheet, (uint64_t)LC_WORKBOOK_SHEET_MAX_BYTES + 1); });
      }, WorkbookPartTooLarge, "" },
    { "a shared strings part that says it is past the limit", [] {
          return Changed([](XlsxWriter* w) {
              w->SetClaimedSize("xl/sharedStrings.xml", (uint64_t)LC_WORKBOOK_PART_MAX_BYTES + 1);
          });
      }, WorkbookPartTooLarge, "" },
};

TEST(WorkbookReaderTest, BadInputIsRefusedWithItsReason)
{
    for (const BadCase& c : kaBadCases) {
        Reading reading = Read(c.pfnBytes());
        int nResult = reading.nOpen == WorkbookOk ? reading.nRead : reading.nOpen;
        EXPECT_EQ(nResult, c.nExpected) << c.pszWhat << ": " << reading.problem;
        if (c.nExpected == WorkbookDamaged)
            EXPECT_NE(reading.problem.find(c.pszProblem), std::string::npos) << c.pszWhat << ": " << reading.problem;
        else
            EXPECT_EQ(reading.problem, "") << c.pszWhat;
    }
}

// Zeros that the zip says are 1000 bytes: neither the writer nor the reader
// holds them, and the reader stops at the part's limit. A worksheet, which is
// streamed, may come to more than the other parts: past theirs it is still
// read to its end, where its size tells the fault. (A part the zip says is
// too large is refused with the bad inputs, without inflating it.)
TEST(WorkbookReaderTest, APartThatInflatesPastItsLimitIsRefused)
{
    const uint64_t kcbUnit = 1 << 16;
    const struct {
        const char* pszPart;
        uint64_t cbZeros;
        int nExpected;
    } aCases[] = {
        { "xl/sharedStrings.xml", LC_WORKBOOK_PART_MAX_BYTES + (16u << 20), WorkbookPartTooLarge },
        { "xl/worksheets/sheet1.xml", LC_WORKBOOK_PART_MAX_BYTES + (16u << 20), WorkbookDamaged },
        { "xl/worksheets/sheet1.xml", LC_WORKBOOK_SHEET_MAX_BYTES + (16u << 20), WorkbookPartTooLarge },
    };
    for (const auto& c : aCases) {
        XlsxWriter writer = OneSheet();
        writer.SetRepeatedPart(c.pszPart, "", std::string(kcbUnit, '\0'), c.cbZeros / kcbUnit, "");
        writer.SetClaimedSize(c.pszPart, 1000);
        std::string bytes = writer.Bytes();
        EXPECT_LT(bytes.size(), c.cbZeros / 200);   // a bomb: a small file
        Reading reading = Read(bytes);
        int nResult = reading.nOpen == WorkbookOk ? reading.nRead : reading.nOpen;
        EXPECT_EQ(nResult, c.nExpected) << c.pszPart << " " << c.cbZeros << ": " << reading.problem;
    }
}

// The zip layer alone: what reaches the XML reader is the part's exact bytes.
TEST(WorkbookReaderTest, AZipEntryReadsBackAsItWasWritten)
{
    std::string text;
    for (int i = 0; i < 20000; ++i)
        text += "<row r=\"" + std::to_string(i) + "\"/>";
    for (bool bStored : { false, true }) {
        XlsxWriter writer = OneSheet();
        writer.SetStored(bStored);
        writer.SetPart("xl/worksheets/sheet1.xml", text);
        std::string bytes = writer.Bytes();
        WorkbookZip zip;
        std::string problem;
        ASSERT_EQ(zip.Open(std::vector<unsigned char>(bytes.begin(), bytes.end()), &problem), WorkbookOk) << problem;
        const WorkbookZipEntry* pEntry = zip.Find("XL/Worksheets/Sheet1.xml");
        ASSERT_NE(pEntry, nullptr);
        WorkbookPartSource source;
        ASSERT_EQ(source.Open(zip, *pEntry, LC_WORKBOOK_PART_MAX_BYTES), WorkbookOk);
        std::string read;
        char buffer[777];
        size_t cbRead;
        while (source.Read(buffer, sizeof(buffer), &cbRead) && cbRead > 0)
            read.append(buffer, cbRead);
        EXPECT_EQ(source.Result(), WorkbookOk) << source.Problem();
        EXPECT_EQ(read, text) << (bStored ? "stored" : "deflated");
    }
}

TEST(WorkbookReaderTest, OpeningAgainForgetsTheLastWorkbook)
{
    XlsxWriter writer = OneSheet();
    writer.SetDate1904(true);
    std::string bytes = writer.Bytes();
    Workbook workbook;
    ASSERT_EQ(workbook.OpenBytes(bytes.data(), bytes.size()), WorkbookOk);
    ASSERT_EQ(workbook.Sheets().size(), 1u);
    // Past the limit, the bytes are not even looked at.
    EXPECT_EQ(workbook.OpenBytes("PK", (size_t)LC_WORKBOOK_FILE_MAX_BYTES + 1), WorkbookTooLarge);
    EXPECT_TRUE(workbook.Sheets().empty());
    ASSERT_EQ(workbook.OpenBytes(bytes.data(), bytes.size()), WorkbookOk);
    EXPECT_EQ(workbook.OpenBytes("PK", 2), WorkbookNotZip);
    EXPECT_TRUE(workbook.Sheets().empty());
    EXPECT_FALSE(workbook.Uses1904());
    RowsSeen seen;
    EXPECT_EQ(workbook.ReadSheet(0, EnglishNumberLocale(), &seen), WorkbookNoSheet);
}

#ifdef _WIN32
TEST(WorkbookReaderTest, OpensAWorkbookFile)
{
    TempFolder folder("wb");
    std::string path = folder.File("Recipients.xlsx");
    ASSERT_TRUE(OneSheet().WriteFile(path));
    Workbook workbook;
    ASSERT_EQ(workbook.Open(path.c_str()), WorkbookOk) << workbook.Problem();
    RowsSeen seen;
    ASSERT_EQ(workbook.ReadSheet(0, EnglishNumberLocale(), &seen), WorkbookOk);
    ASSERT_EQ(seen.rows.size(), 2u);
    EXPECT_EQ(seen.rows[1].second, (Cells{ "Ann", "ann@example.com" }));
    EXPECT_EQ(workbook.Open(folder.File("missing.xlsx").c_str()), WorkbookCannotOpen);
}
#endif

}  // namespace
