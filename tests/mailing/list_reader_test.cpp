#include <windows.h>

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "mailing/attachment_column.h"
#include "mailing/list_reader.h"
#include "mailing/list_record.h"
#include "settings/data_paths.h"
#include "settings/settings_store.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/test_files.h"

namespace {

const char kszOutOfMemoryText[] = "Error: Failed to allocate memory.";

enum WriteMode { TextMode, BinaryMode };   // "w" writes CR LF, "wb" plain LF

void WriteListFile(const std::string& path, const std::string& text, WriteMode mode = TextMode)
{
    FILE* pFile = fopen(path.c_str(), mode == BinaryMode ? "wb" : "w");
    ASSERT_NE(pFile, nullptr) << path;
    ASSERT_EQ(fwrite(text.data(), 1, text.size(), pFile), text.size());
    fclose(pFile);
}

std::vector<std::string> FieldsOf(const ListRecord& record)
{
    std::vector<std::string> fields;
    for (int i = 0; i < record.nCount; ++i)
        fields.push_back(record.ppszFields[i]);
    return fields;
}

typedef std::vector<std::string> Fields;

// UTF-8 text as UTF-16 bytes, little- or big-endian, with its mark.
std::string Utf16Bytes(const std::string& utf8, bool bBigEndian)
{
    std::string bytes = bBigEndian ? "\xFE\xFF" : "\xFF\xFE";
    int cch = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), NULL, 0);
    std::wstring wide(cch, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), &wide[0], cch);
    for (wchar_t ch : wide) {
        char lo = (char)(ch & 0xFF), hi = (char)((ch >> 8) & 0xFF);
        bytes += bBigEndian ? std::string{ hi, lo } : std::string{ lo, hi };
    }
    return bytes;
}


// A list file in a private folder, read record by record. Every box that the
// reader shows is recorded, so that none is left waiting for a user.
class ListReaderTest : public testing::Test {
protected:
    ListReaderTest()
    {
        ghInstance = GetModuleHandleA(NULL);
        InitListRecord(&m_record);
    }

    ~ListReaderTest() override
    {
        CloseList();
        FreeListRecord(&m_record);
        gpfnListRealloc = realloc;
    }

    void OpenList(const std::string& text, WriteMode mode = TextMode)
    {
        CloseList();
        std::string path = m_folder.File("list.txt");
        WriteListFile(path, text, mode);
        ASSERT_TRUE(m_reader.Open(path.c_str(), m_nDelimiter));
    }

    void CloseList() { m_reader.Close(); }

    // Every record of the list, until ReadRecord says no.
    std::vector<Fields> ReadAll()
    {
        std::vector<Fields> records;
        while (m_reader.ReadRecord(&m_record))
            records.push_back(FieldsOf(m_record));
        return records;
    }

    TempFolder m_folder;
    MessageBoxRecorder m_boxes;
    int m_nDelimiter = ListDelimiterComma;   // the one the list is opened with
    ListReader m_reader;
    ListRecord m_record;
};

// ---- Opening the list ------------------------------------------------------

// Every byte is data: the C runtime's text mode would end the list at a
// byte 1A. The reader ends lines itself.
TEST_F(ListReaderTest, OpenListFileReadsEveryByte)
{
    std::string path = m_folder.File("crlf.txt");
    WriteListFile(path, "a,b\r\nc\x1A\r\nd\r\n", BinaryMode);
    ListReader reader;
    ASSERT_TRUE(reader.Open(path.c_str(), ListDelimiterComma));
    EXPECT_TRUE(reader.IsOpen());
    const char* pszLine = NULL;
    size_t cbLine = 0;
    ASSERT_EQ(reader.ReadLine(&pszLine, &cbLine), 1);
    EXPECT_EQ(std::string(pszLine, cbLine), "a,b\n");
    EXPECT_EQ(reader.ReadLine(&pszLine, &cbLine), -1) << "the byte 1A is a character of its line, not the end";
    ASSERT_EQ(reader.ReadLine(&pszLine, &cbLine), 1);
    EXPECT_EQ(std::string(pszLine, cbLine), "d\n");
    EXPECT_EQ(reader.ReadLine(&pszLine, &cbLine), 0);
    reader.Close();
    EXPECT_FALSE(reader.IsOpen());
    EXPECT_EQ(reader.ReadLine(&pszLine, &cbLine), 0) << "a closed reader has no more lines";
}

TEST_F(ListReaderTest, OpenListFileFailsWithoutFileOrPath)
{
    ListReader reader;
    EXPECT_FALSE(reader.Open(m_folder.File("missing.txt").c_str(), ListDelimiterComma));
    EXPECT_FALSE(reader.IsOpen());
    EXPECT_FALSE(reader.Open("", ListDelimiterComma));
    EXPECT_FALSE(reader.Open(NULL, ListDelimiterComma));
    EXPECT_FALSE(reader.ReadRecord(&m_record));
    EXPECT_EQ(OpenListFileShared(m_folder.File("missing.txt").c_str()), nullptr);
}

TEST_F(ListReaderTest, SharedOpenReadsEveryByte)
{
    std::string path = m_folder.File("shared.txt");
    WriteListFile(path, "x,y\r\nz\x1Aw\r\n", BinaryMode);
    FILE* pFile = OpenListFileShared(path.c_str());
    ASSERT_NE(pFile, nullptr);
    char szText[64] = {};
    size_t cchRead = fread(szText, 1, sizeof(szText) - 1, pFile);
    EXPECT_EQ(std::string(szText, cchRead), "x,y\r\nz\x1Aw\r\n");
    fclose(pFile);
}

TEST_F(ListReaderTest, ListHeldOpenForWritingIsStillRead)
{
    std::string path = m_folder.File("busy.txt");
    WriteListFile(path, "Email\na@example.com\n");
    HANDLE hWriter = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(hWriter, INVALID_HANDLE_VALUE);
    ListReader reader;
    ASSERT_TRUE(reader.Open(path.c_str(), ListDelimiterComma));
    EXPECT_TRUE(reader.ReadRecord(&m_record));
    EXPECT_EQ(FieldsOf(m_record), Fields({ "Email" }));
    reader.Close();
    CloseHandle(hWriter);
}

// ---- Delimiter detection ---------------------------------------------------

class DelimiterTest : public testing::Test {
protected:
    DelimiterTest() { ListDelimiter = ListDelimiterUnknown; }
    ~DelimiterTest() override { JobOptions = BuiltInJobOptions(); }

    int DetectFor(const std::string& path)
    {
        snprintf(JobOptions.ToList, sizeof(JobOptions.ToList), "%s", path.c_str());
        DetectDelimiter();
        EXPECT_EQ(DetectListDelimiter(path.c_str()), ListDelimiter) << path;
        return ListDelimiter;
    }

    int DetectWith(const std::string& name, const std::string& text)
    {
        std::string path = m_folder.File(name);
        WriteListFile(path, text);
        return DetectFor(path);
    }

    TempFolder m_folder;
};

TEST_F(DelimiterTest, CommasAloneMeanCommaWhateverTheName)
{
    EXPECT_EQ(DetectWith("list.txt", "Name,Email\nA,a@x\n"), ListDelimiterComma);
}

TEST_F(DelimiterTest, TabsAloneMeanTabWhateverTheName)
{
    EXPECT_EQ(DetectWith("list.csv", "Name\tEmail\nA\ta@x\n"), ListDelimiterTab);
}

TEST_F(DelimiterTest, BothInTheHeaderDecidedByCsvInThePath)
{
    const char kszBoth[] = "Name,Nick\tEmail\nDoe\tj@x\n";
    EXPECT_EQ(DetectWith("both.txt", kszBoth), ListDelimiterTab);
    EXPECT_EQ(DetectWith("both.CSV", kszBoth), ListDelimiterComma);
    EXPECT_EQ(DetectWith("both.csv.txt", kszBoth), ListDelimiterComma);
}

TEST_F(DelimiterTest, NeitherDecidedByCsvInThePath)
{
    EXPECT_EQ(DetectWith("one.txt", "Email\na@x\n"), ListDelimiterTab);
    EXPECT_EQ(DetectWith("one.Csv", "Email\na@x\n"), ListDelimiterComma);
    EXPECT_EQ(DetectWith("empty.csv", ""), ListDelimiterComma);
}

TEST_F(DelimiterTest, FolderNamedCsvCounts)
{
    std::string folder = m_folder.File("Lists.CSV");
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), NULL));
    std::string path = folder + "\\list.txt";
    WriteListFile(path, "Email\tName,First\n");
    EXPECT_EQ(DetectFor(path), ListDelimiterComma);
}

TEST_F(DelimiterTest, NoFileOrEmptyPathDecidedByPath)
{
    EXPECT_EQ(DetectFor(m_folder.File("missing.csv")), ListDelimiterComma);
    EXPECT_EQ(DetectFor(m_folder.File("missing.txt")), ListDelimiterTab);
    ListDelimiter = ListDelimiterComma;
    EXPECT_EQ(DetectFor(""), ListDelimiterTab);
}

TEST_F(DelimiterTest, TheHeaderDecidesNotCommentsOrRecords)
{
    // A comma in a comment before the header, or in the records after it,
    // does not count; quoted text in the header does.
    EXPECT_EQ(DetectWith("c.csv", "// a, comment\nName\tEmail\n"), ListDelimiterTab);
    EXPECT_EQ(DetectWith("r.csv", "Name\tEmail\nDoe, Jane\tj@x\n"), ListDelimiterTab);
    EXPECT_EQ(DetectWith("r.txt", "Email\n\"a@x\",b\n"), ListDelimiterTab);
    EXPECT_EQ(DetectWith("q.csv", "\"Doe\tJane\"\n"), ListDelimiterTab);
    // A header well past the first piece of 254 characters, after blank lines.
    std::string tabs = "\n\n" + std::string(300, 'a');
    tabs += "\tb\nc,d\n";
    EXPECT_EQ(DetectWith("late.csv", tabs), ListDelimiterTab);
}

TEST_F(DelimiterTest, SemicolonHeaderMeansSemicolonAndOtherEncodingsAreRead)
{
    // Where the comma is the decimal sign it fills the records, not the header.
    EXPECT_EQ(DetectWith("semi.csv", "// export\n\nName;Email;Amount\nA;a@x;1,5\n"), ListDelimiterSemicolon);
    EXPECT_EQ(DetectWith("mixed.txt", "Name;Email,Other\nA;a@x,1\n"), ListDelimiterComma);
    EXPECT_EQ(DetectWith("tabs.txt", "Name;Nick\tEmail\nA\ta@x\n"), ListDelimiterTab);
    // Excel's Unicode Text: UTF-16 with tabs.
    std::string path = m_folder.File("unicode.txt");
    WriteListFile(path, Utf16Bytes("Name\tE-mail\r\nA\ta@x\r\n", false), BinaryMode);
    EXPECT_EQ(DetectFor(path), ListDelimiterTab);
    WriteListFile(path, Utf16Bytes("Name;E-mail\r\nA;a@x\r\n", true), BinaryMode);
    EXPECT_EQ(DetectFor(path), ListDelimiterSemicolon);
}

// Excel's first line "sep=;" names the delimiter, whatever the header holds.
TEST_F(DelimiterTest, SepLineNamesTheDelimiter)
{
    const struct {
        const char* pszName;
        const char* pszText;
        int nDelimiter;
    } cases[] = {
        { "s.txt", "sep=;\nName;E-mail\nA;a@x\n", ListDelimiterSemicolon },
        { "sc.txt", "sep=;\r\nName,Nick;E-mail\nA,B;a@x\n", ListDelimiterSemicolon },
        { "c.txt", "sep=,\nName;Nick,E-mail\nA;B,a@x\n", ListDelimiterComma },
        { "t.csv", "sep=\t\nName,Nick\tE-mail\nA,B\ta@x\n", ListDelimiterTab },
        { "u.csv", "SEP=;\nName\tE-mail\n", ListDelimiterSemicolon },
        { "late.txt", "Name\tE-mail\nsep=,\n", ListDelimiterTab },
        { "other.txt", "sep=|\nName\tE-mail\n", ListDelimiterTab },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszText);
        EXPECT_EQ(DetectWith(c.pszName, c.pszText), c.nDelimiter);
    }
    std::string path = m_folder.File("marked.txt");
    WriteListFile(path, "\xEF\xBB\xBFsep=;\r\nName,Nick;E-mail\r\n", BinaryMode);
    EXPECT_EQ(DetectFor(path), ListDelimiterSemicolon);
}

TEST_F(DelimiterTest, UnterminatedPathIsCutAt259)
{
    // 259 characters that end in ".csv" fit; a path buffer filled to the brim
    // is read no further than its 259th character.
    memset(JobOptions.ToList, 'a', sizeof(JobOptions.ToList));
    memcpy(JobOptions.ToList + 255, ".csv", 4);
    DetectDelimiter();
    EXPECT_EQ(ListDelimiter, ListDelimiterComma);
    memcpy(JobOptions.ToList + 255, "a.cs", 4);
    JobOptions.ToList[259] = 'v';
    DetectDelimiter();
    EXPECT_EQ(ListDelimiter, ListDelimiterTab);
}

// ---- Records ---------------------------------------------------------------

TEST_F(ListReaderTest, SemicolonFields)
{
    m_nDelimiter = ListDelimiterSemicolon;
    OpenList("Name;Email;Amount\n\"Doe; Jane\";j@x;1,5\n");
    EXPECT_EQ(ReadAll(), std::vector<Fields>({ { "Name", "Email", "Amount" }, { "Doe; Jane", "j@x", "1,5" } }));
}

TEST_F(ListReaderTest, CommaFieldsInBothLineEnds)
{
    for (WriteMode mode : { TextMode, BinaryMode }) {
        OpenList("Name,Email\nAnn Lee, ann@x.org \n", mode);
        ASSERT_TRUE(m_reader.ReadRecord(&m_record)) << mode;
        EXPECT_EQ(FieldsOf(m_record), Fields({ "Name", "Email" }));
        ASSERT_TRUE(m_reader.ReadRecord(&m_record));
        EXPECT_EQ(FieldsOf(m_record), Fields({ "Ann Lee", " ann@x.org " })) << "fields are never trimmed";
        EXPECT_STREQ(m_record.pszRaw, "Ann Lee, ann@x.org \n");
        EXPECT_FALSE(m_reader.ReadRecord(&m_record));
    }
}

// The sep line is no record: the header follows it, read with the delimiter
// it names, and the header's raw text keeps it for the sent list.
TEST_F(ListReaderTest, SepLineIsNoRecordAndNamesTheDelimiter)
{
    m_nDelimiter = ListDelimiterComma;
    OpenList("sep=;\nName,Nick;E-mail\nAnn;ann@x\n");
    ASSERT_TRUE(m_reader.ReadRecord(&m_record));
    EXPECT_EQ(m_reader.Delimiter(), ListDelimiterSemicolon);
    EXPECT_EQ(FieldsOf(m_record), Fields({ "Name,Nick", "E-mail" }));
    EXPECT_STREQ(m_record.pszRaw, "sep=;\nName,Nick;E-mail\n");
    EXPECT_EQ(m_reader.RecordLine(), 2);
    ASSERT_TRUE(m_reader.ReadRecord(&m_record));
    EXPECT_EQ(FieldsOf(m_record), Fields({ "Ann", "ann@x" }));
    EXPECT_EQ(m_reader.RecordLine(), 3);
    EXPECT_FALSE(m_reader.ReadRecord(&m_record));

    // Only the first line names the delimiter.
    m_nDelimiter = ListDelimiterComma;
    OpenList("Name,Email\nsep=;\n");
    EXPECT_EQ(ReadAll(), std::vector<Fields>({ { "Name", "Email" }, { "sep=;" } }));
}

TEST_F(ListReaderTest, TabFieldsKeepCommas)
{
    m_nDelimiter = ListDelimiterTab;
    OpenList("Name\tEmail\nDoe, Jane\tj@x\n");
    std::vector<Fields> records = ReadAll();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1], Fields({ "Doe, Jane", "j@x" }));
}

TEST_F(ListReaderTest, UndetectedDelimiterFailsWithoutReading)
{
    m_nDelimiter = ListDelimiterUnknown;
    OpenList("a,b\n");
    EXPECT_FALSE(m_reader.ReadRecord(&m_record));
    m_nDelimiter = 7;
    OpenList("a,b\n");
    EXPECT_FALSE(m_reader.ReadRecord(&m_record));
    const char* pszLine = NULL;
    size_t cbLine = 0;
    ASSERT_EQ(m_reader.ReadLine(&pszLine, &cbLine), 1);
    EXPECT_EQ(std::string(pszLine, cbLine), "a,b\n") << "nothing was read";
    m_nDelimiter = ListDelimiterComma;
    OpenList("a,b\n");
    ASSERT_TRUE(m_reader.ReadRecord(&m_record));
    EXPECT_EQ(FieldsOf(m_record), Fields({ "a", "b" }));
}

TEST_F(ListReaderTest, EmptyOrCommentOnlyListHasNoRecord)
{
    OpenList("");
    EXPECT_FALSE(m_reader.ReadRecord(&m_record));
    OpenList("// nothing here\n\n,,\n");
    EXPECT_FALSE(m_reader.ReadRecord(&m_record));
    EXPECT_EQ(m_record.nCount, 0);
}

TEST_F(ListReaderTest, ReusedRecordHoldsOnlyTheNewFields)
{
    OpenList("a,b,c\nd\n");
    ASSERT_TRUE(m_reader.ReadRecord(&m_record));
    ASSERT_TRUE(m_reader.ReadRecord(&m_record));
    EXPECT_EQ(FieldsOf(m_record), Fields({ "d" }));
    EXPECT_STREQ(m_record.pszRaw, "d\n");
}

TEST_F(ListReaderTest, TrailingDelimiterWithAndWithoutLineEnd)
{
    OpenList("a,b,\n");
    ASSERT_TRUE(m_reader.ReadRecord(&m_record));
    EXPECT_EQ(FieldsOf(m_record), Fields({ "a", "b", "" }));

    OpenList("a,b,");
    ASSERT_TRUE(m_reader.ReadRecord(&m_record));
    EXPECT_EQ(FieldsOf(m_record), Fields({ "a", "b" }));
    EXPECT_FALSE(m_reader.ReadRecord(&m_record));
}

TEST_F(ListReaderTest, LastLineWithoutLineEndIsARecord)
{
    OpenList("a,b\nc,d");
    std::vector<Fields> records = ReadAll();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1], Fields({ "c", "d" }));
}

TEST_F(ListReaderTest, CarriageReturnAloneEndsALine)
{
    // CR CR LF is a line and a blank line; a CR alone ends a line as well, so
    // no field keeps a CR.
    OpenList("a,b\r\r\nc\rd,e\r\n", BinaryMode);
    std::vector<Fields> records = ReadAll();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0], Fields({ "a", "b" }));
    EXPECT_EQ(records[1], Fields({ "c" }));
    EXPECT_EQ(records[2], Fields({ "d", "e" }));
}

// ---- Quoting ---------------------------------------------------------------

TEST_F(ListReaderTest, QuotedFieldHoldsTheDelimiter)
{
    OpenList("\"Doe, Jane\",jane@x.org\n");
    ASSERT_TRUE(m_reader.ReadRecord(&m_record));
    EXPECT_EQ(FieldsOf(m_record), Fields({ "Doe, Jane", "jane@x.org" }));
}

TEST_F(ListReaderTest, DoubledQuotesBecomeOne)
{
    OpenList("\"say \"\"hi\"\"\",\"\"\"\",\"\"\"x\"\"\",\"\"\n");
    ASSERT_TRUE(m_reader.ReadRecord(&m_record));
    EXPECT_EQ(FieldsOf(m_record), Fields({ "say \"hi\"", "\"", "\"x\"", "" }));
}

TEST_F(ListReaderTest, QuotedFieldSpansLines)
{
    for (WriteMode mode : { TextMode, BinaryMode }) {
        OpenList("\"Doe\nJane\",j@x\nnext,n@x\n", mode);
        ASSERT_TRUE(m_reader.ReadRecord(&m_record)) << mode;
        EXPECT_EQ(FieldsOf(m_record), Fields({ "Doe\r\nJane", "j@x" }));
        EXPECT_STREQ(m_record.pszRaw, "\"Doe\nJane\",j@x\n");
        ASSERT_TRUE(m_reader.ReadRecord(&m_record));
        EXPECT_EQ(FieldsOf(m_record), Fields({ "next", "n@x" }));
    }
}

TEST_F(ListReaderTest, QuotedFieldOverSeveralLinesAndDelimiters)
{
    OpenList("a,\"one,\n\ntwo\nthree\",b\n");
    ASSERT_TRUE(m_reader.ReadRecord(&m_record));
    EXPECT_EQ(FieldsOf(m_record), Fields({ "a", "one,\r\n\r\ntwo\r\nthree", "b" }));
}

TEST_F(ListReaderTest, QuoteStillOpenAtEndOfList)
{
    OpenList("a,\"open\nmore");
    ASSERT_TRUE(m_reader.ReadRecord(&m_record));
    EXPECT_EQ(FieldsOf(m_record), Fields({ "a", "open\r\nmore" }));
    EXPECT_FALSE(m_reader.ReadRecord(&m_record));
}

TEST_F(ListReaderTest, AQuoteOpensAFieldOnlyWhereTheFieldBegins)
{
    OpenList("ab\"cd\",ef\n\"gh\"xy,ij\nk,\"lm\"\nBen,ben@example.com,6'1\"\nCara,cara@example.com, \"5,9\"\n"
             "\"Dee\"x,\"a\nb\" c\n");
    std::vector<Fields> records = ReadAll();
    ASSERT_EQ(records.size(), 6u);
    EXPECT_EQ(records[0], Fields({ "ab\"cd\"", "ef" })) << "a quote inside a field is an ordinary character";
    EXPECT_EQ(records[1], Fields({ "ghxy", "ij" })) << "text after a closing quote belongs to the field";
    EXPECT_EQ(records[5], Fields({ "Deex", "a\r\nb c" })) << "as spreadsheet programs read it, also after a line break";
    EXPECT_EQ(records[2], Fields({ "k", "lm" })) << "no empty field after a closing quote without delimiter";
    EXPECT_EQ(records[3], Fields({ "Ben", "ben@example.com", "6'1\"" })) << "the next record is not swallowed";
    EXPECT_EQ(records[4], Fields({ "Cara", "cara@example.com", "5,9" })) << "blanks may stand before the opening quote";
}

TEST_F(ListReaderTest, AQuoteLeftOpenAtTheEndIsToldWithTheLineOfItsRecord)
{
    OpenList("// a comment\nName,Email\nAnn,ann@x\n\"Ben,ben@x\nCara,cara@x\n");
    EXPECT_EQ(ReadAll().size(), 3u);
    EXPECT_EQ(m_reader.UnclosedQuoteLine(), 4);
    OpenList("Name,Email\nAnn,ann@x\n");
    EXPECT_EQ(m_reader.UnclosedQuoteLine(), 0) << "opening a list starts afresh";
    EXPECT_EQ(ReadAll().size(), 2u);
    EXPECT_EQ(m_reader.UnclosedQuoteLine(), 0);
}

// ---- Skipped lines ---------------------------------------------------------

TEST_F(ListReaderTest, BlankCommentAndBareDelimiterLinesAreSkipped)
{
    OpenList("// before the header\n\nName,Email\n,,\n//,,\n\n  ,x\n,,\nA,a@x\n\n");
    std::vector<Fields> records = ReadAll();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0], Fields({ "Name", "Email" }));
    EXPECT_EQ(records[1], Fields({ "  ", "x" })) << "spaces are text";
    EXPECT_EQ(records[2], Fields({ "A", "a@x" }));
}

TEST_F(ListReaderTest, SkippedLinesLeaveNoRawText)
{
    OpenList("\n,,\n// note\nA,a@x\n");
    ASSERT_TRUE(m_reader.ReadRecord(&m_record));
    EXPECT_STREQ(m_record.pszRaw, "A,a@x\n");
}

// The comment rule is for whole records: inside a quoted value a line that
// begins with "//" is text, in the fields and in the raw text alike.
TEST_F(ListReaderTest, SlashesInsideAQuotedValueAreText)
{
    OpenList("// a comment\n\"one\n//two, three\nfour\",x@y\n// another\nA,a@x\n");
    ASSERT_TRUE(m_reader.ReadRecord(&m_record));
    EXPECT_EQ(FieldsOf(m_record), Fields({ "one\r\n//two, three\r\nfour", "x@y" }));
    EXPECT_STREQ(m_record.pszRaw, "\"one\n//two, three\nfour\",x@y\n");
    ASSERT_TRUE(m_reader.ReadRecord(&m_record));
    EXPECT_EQ(FieldsOf(m_record), Fields({ "A", "a@x" }));
    EXPECT_EQ(m_reader.RecordLine(), 6);
}

TEST_F(ListReaderTest, OneSlashIsNoComment)
{
    OpenList("/\n/a,b\n");
    std::vector<Fields> records = ReadAll();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0], Fields({ "/" }));
    EXPECT_EQ(records[1], Fields({ "/a", "b" }));
}

// ---- Encodings and line ends -----------------------------------------------

// Every encoding and every line end gives the same fields, in UTF-8, and the
// mark is never part of the first name.
TEST_F(ListReaderTest, EveryEncodingAndLineEndReadsAsUtf8)
{
    const std::string names = "First Name,E-mail\n";
    const std::string people = "Jos\xC3\xA9,a@x\nZo\xC3\xAB,b@x\n\xC5\x81ukasz,c@x\n\xCE\x95\xCE\xBB\xCE\xAD\xCE\xBD\xCE\xB7,d@x\n"
                               "\xE6\x97\xA5\xE6\x9C\xAC \xE2\x82\xAC \xF0\x9F\x98\x80,e@x\n";
    const std::string text = names + people;
    const std::vector<Fields> expected = {
        { "First Name", "E-mail" }, { "Jos\xC3\xA9", "a@x" }, { "Zo\xC3\xAB", "b@x" }, { "\xC5\x81ukasz", "c@x" },
        { "\xCE\x95\xCE\xBB\xCE\xAD\xCE\xBD\xCE\xB7", "d@x" }, { "\xE6\x97\xA5\xE6\x9C\xAC \xE2\x82\xAC \xF0\x9F\x98\x80", "e@x" },
    };
    auto withEnds = [](std::string t, const char* pszEnd) {
        std::string out;
        for (char ch : t)
            out += ch == '\n' ? std::string(pszEnd) : std::string(1, ch);
        return out;
    };
    struct Case {
        const char* pszName;
        std::string bytes;
        int nEncoding;
    };
    std::vector<Case> cases;
    for (const char* pszEnd : { "\n", "\r\n", "\r" }) {
        std::string t = withEnds(text, pszEnd);
        cases.push_back({ "UTF-8 with mark", "\xEF\xBB\xBF" + t, ListEncodingUtf8Mark });
        cases.push_back({ "UTF-8", t, ListEncodingUtf8 });
        cases.push_back({ "UTF-16 LE", Utf16Bytes(t, false), ListEncodingUtf16Le });
        cases.push_back({ "UTF-16 BE", Utf16Bytes(t, true), ListEncodingUtf16Be });
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        OpenList(c.bytes, BinaryMode);
        EXPECT_EQ(m_reader.Encoding(), c.nEncoding);
        EXPECT_EQ(ReadAll(), expected);
        EXPECT_EQ(m_reader.BadTextLine(), 0);
    }

    // ANSI (code page 1252 here) becomes UTF-8 too; a file of ASCII alone is ANSI.
    OpenList("Name,E-mail\nJos\xE9,a@x\r\x80,b@x\n", BinaryMode);
    EXPECT_EQ(m_reader.Encoding(), ListEncodingAnsi);
    EXPECT_EQ(ReadAll(), std::vector<Fields>({ { "Name", "E-mail" }, { "Jos\xC3\xA9", "a@x" }, { "\xE2\x82\xAC", "b@x" } }));
    OpenList("Name,E-mail\nAnn,a@x\n");
    EXPECT_EQ(m_reader.Encoding(), ListEncodingAnsi);
}

// Exactly cch characters of records "A,a@x" (the last one "A,x...x"), each
// ended by pszEnd: text that puts what follows it where a block of the file
// ends.
std::string FillerLines(size_t cch, const std::string& end)
{
    std::string line = "A,a@x" + end;
    std::string text;
    while (text.size() + 2 * line.size() <= cch)
        text += line;
    return text + "A," + std::string(cch - text.size() - 2 - end.size(), 'x') + end;
}

// The lines before the one that begins with pszBad, each ended by LF, CR LF
// or CR alone.
int LinesBefore(const std::string& text, const char* pszBad)
{
    size_t nAt = text.find(pszBad);
    int nLines = 0;
    for (size_t i = 0; i < nAt; ++i) {
        if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')))
            ++nLines;
    }
    return nLines;
}

// Bytes that are no text in the declared encoding, and control characters
// where text belongs, end the list at their line: every byte is data, so a
// byte 1A is one such character, not the end of the file.
TEST_F(ListReaderTest, InvalidTextNamesItsLine)
{
    // The reader takes the file a block of 65,536 bytes at a time: lines,
    // line ends, UTF-8 sequences and UTF-16 pairs run across a block's end,
    // and a list without a mark is decided by its first byte past ASCII and
    // what follows it in its block, never by a look at the whole file.
    const std::string header = "Name,E-mail\n";
    const std::string filler = FillerLines(70000, "\n");
    // UTF-8 first met in the second block: the list is UTF-8 from there.
    const std::string lateUtf8 = header + filler + "Jos\xC3\xA9,a@x\nB\xE9,b@x\n";
    // A stray byte whose block holds no UTF-8 sequence: ANSI, whatever follows.
    const std::string strayFirst = header + "B\xE9,b@x\n" + filler + "Jos\xC3\xA9,a@x\nC\x07,c@x\n";
    // A sequence cut by the first block's end still tells UTF-8: the block
    // is extended past it for the decision.
    const std::string cutSequence =
        header + FillerLines(65532 - header.size(), "\n") + "Jos\xC3\xA9,a@x\nB\xE9,b@x\n";
    // CR at the first block's end, its LF in the next: one line end.
    const std::string crlfHeader = "Name,E-mail\r\n";
    std::string splitCrLf = crlfHeader + FillerLines(65537 - crlfHeader.size(), "\r\n") + "A,a@x\r\n";
    // A CR alone at the second block's end, a line after it in the next.
    splitCrLf += FillerLines(2 * 65536 - splitCrLf.size(), "\r") + "B,b@x\rC\x07,c@x\r\n";
    // UTF-16: a surrogate pair, then a CR LF, each across a block's end
    // (the mark is the first block's first unit).
    const std::string wideHeader = "Name,E-mail\r\n";
    std::string wideText = wideHeader + FillerLines(32766 - wideHeader.size(), "\r\n") + "\xF0\x9F\x98\x80,a@x\r\n";
    wideText += FillerLines(65536 - (wideText.size() - 2), "\r\n") + "B,b@x\r\nC\x07,c@x\r\n";
    struct Case {
        const char* pszName;
        std::string bytes;
        int nLine;
        int nRecords;       // read before it
        int nControlChar;   // 0: no text in the encoding
        int nEncoding;      // after reading to the bad line
        int nEncodingAtOpen = -1;   // -1: nEncoding
    } cases[] = {
        { "UTF-8 first met in the second block", lateUtf8, LinesBefore(lateUtf8, "B\xE9") + 1,
          LinesBefore(lateUtf8, "B\xE9"), 0, ListEncodingUtf8, ListEncodingAnsi },
        { "a stray byte, UTF-8 only in a later block", strayFirst, LinesBefore(strayFirst, "C\x07") + 1,
          LinesBefore(strayFirst, "C\x07"), 0x07, ListEncodingAnsi },
        { "UTF-8 cut by the first block's end", cutSequence, LinesBefore(cutSequence, "B\xE9") + 1,
          LinesBefore(cutSequence, "B\xE9"), 0, ListEncodingUtf8 },
        { "CR LF and CR across blocks", splitCrLf, LinesBefore(splitCrLf, "C\x07") + 1,
          LinesBefore(splitCrLf, "C\x07"), 0x07, ListEncodingAnsi },
        { "UTF-16, a pair and CR LF across blocks", Utf16Bytes(wideText, false), LinesBefore(wideText, "C\x07") + 1,
          LinesBefore(wideText, "C\x07"), 0x07, ListEncodingUtf16Le },
        { "UTF-8 mark, bad byte", "\xEF\xBB\xBFName,E-mail\nA,a@x\nB\xC3,b@x\n", 3, 2, 0, ListEncodingUtf8Mark },
        { "UTF-16, lone surrogate", Utf16Bytes("Name,E-mail\nA,a@x\n", false) + std::string("\x00\xD8,\x00", 4), 3, 2, 0,
          ListEncodingUtf16Le },
        { "UTF-16, half a unit", Utf16Bytes("Name,E-mail\n", true) + std::string("\x00", 1), 2, 1, 0,
          ListEncodingUtf16Be },
        { "NUL in ANSI", std::string("Name,E-mail\n//c\nA\0,a@x\n", 24), 3, 1, 0, ListEncodingAnsi },
        { "UTF-8, one stray byte after", "Name,E-mail\nJos\xC3\xA9,a@x\nB\xE9,b@x\nC,c@x\n", 3, 2, 0, ListEncodingUtf8 },
        { "UTF-8, one stray byte before", "Name,E-mail\nB\xE9,b@x\nJos\xC3\xA9,a@x\n", 2, 1, 0, ListEncodingUtf8 },
        { "UTF-8, a sequence cut short", "Name,E-mail\nZo\xC3\xAB,a@x\nB\xE2\x82,b@x\n", 3, 2, 0, ListEncodingUtf8 },
        { "1A in ANSI", "Name,E-mail\r\nAnn,a@x\r\nBj\x1Arn,b@x\r\nC,c@x\r\n", 3, 2, 0x1A, ListEncodingAnsi },
        { "1A in UTF-8", "Name,E-mail\nJos\xC3\xA9,a@x\nBj\x1Arn,b@x\n", 3, 2, 0x1A, ListEncodingUtf8 },
        { "1A in UTF-16", Utf16Bytes("Name,E-mail\nA,a@x\nB\x1A,b@x\n", false), 3, 2, 0x1A, ListEncodingUtf16Le },
        { "1A in a comment", "// note\x1A\nName,E-mail\n", 1, 0, 0x1A, ListEncodingAnsi },
        { "1A in a quoted value", "Name,E-mail\n\"a\nb\x1A\",a@x\n", 3, 1, 0x1A, ListEncodingAnsi },
        { "bell", "Name,E-mail\nA\x07,a@x\n", 2, 1, 0x07, ListEncodingAnsi },
        { "escape", "Name,E-mail\nA,a@x\x1B\n", 2, 1, 0x1B, ListEncodingAnsi },
        { "vertical tab", "Name,E-mail\nA\x0B" "B,a@x\n", 2, 1, 0x0B, ListEncodingAnsi },
        { "DEL", "Name,E-mail\nA\x7F,a@x\n", 2, 1, 0x7F, ListEncodingAnsi },
        { "C1 in UTF-8", "Name,E-mail\nJos\xC3\xA9,a@x\nB\xC2\x85,b@x\n", 3, 2, 0x85, ListEncodingUtf8 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        OpenList(c.bytes, BinaryMode);
        EXPECT_EQ(m_reader.Encoding(), c.nEncodingAtOpen >= 0 ? c.nEncodingAtOpen : c.nEncoding);
        std::vector<Fields> records = ReadAll();
        EXPECT_EQ(m_reader.Encoding(), c.nEncoding);
        EXPECT_EQ(m_reader.BadTextLine(), c.nLine);
        EXPECT_EQ(m_reader.BadTextChar(), c.nControlChar);
        EXPECT_EQ((int)records.size(), c.nRecords);
    }
    // Tab and the line ends are no such characters.
    OpenList("Name\tE-mail\r\nA\tB\rC\tD\n", BinaryMode);
    EXPECT_EQ(ReadAll().size(), 3u);
    EXPECT_EQ(m_reader.BadTextLine(), 0);
}

// ---- Record length ---------------------------------------------------------

TEST_F(ListReaderTest, RawTextOf32767FitsAnd32768Fails)
{
    std::string fits = std::string(32764, 'a') + ",b";   // 32,766 characters and the LF
    OpenList(fits + "\n");
    ASSERT_TRUE(m_reader.ReadRecord(&m_record));
    EXPECT_EQ(strlen(m_record.pszRaw), 32767u);
    EXPECT_EQ(FieldsOf(m_record), Fields({ std::string(32764, 'a'), "b" }));

    OpenList(std::string(32765, 'a') + ",b\n");
    EXPECT_FALSE(m_reader.ReadRecord(&m_record));
    EXPECT_TRUE(m_reader.CutShort());

    // Characters count, not bytes, in every encoding: 32,766 letters of two,
    // three or four bytes of UTF-8 and the LF fit, one more does not.
    for (const char* pszLetter : { "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80" }) {
        SCOPED_TRACE(pszLetter);
        std::string wide;
        for (int i = 0; i < 32766; ++i)
            wide += pszLetter;
        for (bool bUtf16 : { false, true }) {
            OpenList(bUtf16 ? Utf16Bytes(wide + "\n", false) : wide + "\n", BinaryMode);
            ASSERT_TRUE(m_reader.ReadRecord(&m_record));
            EXPECT_EQ(FieldsOf(m_record), Fields({ wide }));
            OpenList(bUtf16 ? Utf16Bytes(wide + pszLetter + "\n", true) : wide + pszLetter + "\n", BinaryMode);
            EXPECT_FALSE(m_reader.ReadRecord(&m_record));
            EXPECT_TRUE(m_reader.CutShort());
        }
    }
    // ANSI letters count once each too, though they become two bytes.
    OpenList(std::string(32766, '\xE9') + "\n", BinaryMode);
    ASSERT_TRUE(m_reader.ReadRecord(&m_record));
    EXPECT_EQ(strlen(m_record.pszRaw), 2 * 32766u + 1);
    OpenList(std::string(32767, '\xE9') + "\n", BinaryMode);
    EXPECT_FALSE(m_reader.ReadRecord(&m_record));
}

// The line count belongs to the reading: opening the list again in between,
// as a resume click's delimiter detection does, does not restart it.
TEST_F(ListReaderTest, TheLineCountBelongsToEachOpenList)
{
    OpenList("Name,Email\nA,a@x\n\nB,b@x\n// note\nC,c@x\n");
    ASSERT_TRUE(m_reader.ReadRecord(&m_record));
    ASSERT_TRUE(m_reader.ReadRecord(&m_record));
    EXPECT_EQ(m_reader.RecordLine(), 2);
    std::string path = m_folder.File("list.txt");
    snprintf(JobOptions.ToList, sizeof(JobOptions.ToList), "%s", path.c_str());
    DetectDelimiter();
    ListReader otherReader;
    ASSERT_TRUE(otherReader.Open(path.c_str(), ListDelimiter));
    ListRecord other;
    InitListRecord(&other);
    EXPECT_TRUE(otherReader.ReadRecord(&other));
    FreeListRecord(&other);
    otherReader.Close();
    ASSERT_TRUE(m_reader.ReadRecord(&m_record));
    EXPECT_EQ(FieldsOf(m_record), Fields({ "B", "b@x" }));
    EXPECT_EQ(m_reader.RecordLine(), 4);
    ASSERT_TRUE(m_reader.ReadRecord(&m_record));
    EXPECT_EQ(m_reader.RecordLine(), 6);
    JobOptions = BuiltInJobOptions();
}

TEST_F(ListReaderTest, RawTextLimitCountsEveryLineOfTheRecord)
{
    std::string line = std::string(16379, 'a') + "\n";   // two lines: 32,760 characters
    OpenList("\"" + line + line + "\",ok\n");
    ASSERT_TRUE(m_reader.ReadRecord(&m_record));
    EXPECT_EQ(strlen(m_record.pszRaw), 32766u);

    OpenList("\"" + line + line + std::string(8, 'b') + "\",ok\n");
    EXPECT_FALSE(m_reader.ReadRecord(&m_record));
}

TEST_F(ListReaderTest, LongRecordEndsTheList)
{
    OpenList("Name,Email\nA,a@x\n" + std::string(33000, 'z') + ",z@x\nB,b@x\n");
    std::vector<Fields> records = ReadAll();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1], Fields({ "A", "a@x" }));
    EXPECT_TRUE(m_reader.CutShort()) << "the list ended early, not at its end";

    OpenList("Name,Email\nA,a@x\n");
    EXPECT_EQ(ReadAll().size(), 2u);
    EXPECT_FALSE(m_reader.CutShort());
}

TEST_F(ListReaderTest, LinesLongerThanTheLineBufferEndTheList)
{
    OpenList(std::string(40000, 'x') + "\nA,a@x\n");
    EXPECT_FALSE(m_reader.ReadRecord(&m_record));
    EXPECT_TRUE(m_reader.CutShort());
}

// ---- The field table -------------------------------------------------------

std::string FieldLine(int nFields)
{
    std::string line;
    for (int i = 0; i < nFields; ++i)
        line += (i ? "," : "") + std::to_string(i % 10);
    return line + "\n";
}

TEST_F(ListReaderTest, FieldTableGrowsByHundredBeforeItFills)
{
    OpenList(FieldLine(99) + FieldLine(100) + FieldLine(150) + "x\n");
    ASSERT_TRUE(m_reader.ReadRecord(&m_record));
    EXPECT_EQ(m_record.nCount, 99);
    EXPECT_EQ(m_record.nCapacity, 100);

    ASSERT_TRUE(m_reader.ReadRecord(&m_record));
    EXPECT_EQ(m_record.nCount, 100);
    EXPECT_EQ(m_record.nCapacity, 200);

    ASSERT_TRUE(m_reader.ReadRecord(&m_record));
    ASSERT_EQ(m_record.nCount, 150);
    for (int i = 0; i < 150; ++i)
        ASSERT_EQ(m_record.ppszFields[i], std::to_string(i % 10)) << i;

    ASSERT_TRUE(m_reader.ReadRecord(&m_record));
    EXPECT_EQ(m_record.nCount, 1);
    EXPECT_EQ(m_record.nCapacity, 200) << "clearing keeps the table";
}

TEST(ListRecordTest, FreshClearedAndFreedRecords)
{
    ListRecord record;
    memset((void*)&record, 0x5A, sizeof(record));
    InitListRecord(&record);
    EXPECT_EQ(record.nCount, 0);
    EXPECT_EQ(record.nCapacity, 0);
    EXPECT_EQ(record.ppszFields, nullptr);
    EXPECT_STREQ(record.pszRaw, "");

    ASSERT_TRUE(AddListField(&record, "abc", 2));
    ASSERT_TRUE(AppendToLastField(&record, "xyz", 1));
    EXPECT_EQ(FieldsOf(record), Fields({ "abx" }));
    ASSERT_TRUE(AppendListRaw(&record, "raw", 3));
    EXPECT_STREQ(record.pszRaw, "raw");

    ClearListRecord(&record);
    EXPECT_EQ(record.nCount, 0);
    EXPECT_EQ(record.nCapacity, LC_FIELD_TABLE_STEP);
    EXPECT_NE(record.ppszFields, nullptr);
    EXPECT_STREQ(record.pszRaw, "");

    // The next record's fields go into the texts the cleared one kept, or
    // into new ones when longer; nothing of the earlier texts shows.
    std::string longer(300, 'L');
    ASSERT_TRUE(AddListField(&record, "q", 1));
    ASSERT_TRUE(AddListField(&record, longer.c_str(), longer.size()));
    ASSERT_TRUE(AppendToLastField(&record, "!", 1));
    EXPECT_EQ(FieldsOf(record), Fields({ "q", longer + "!" }));
    ClearListRecord(&record);
    ASSERT_TRUE(AddListField(&record, "", 0));
    ASSERT_TRUE(AddListField(&record, "m", 1));
    ASSERT_TRUE(AddListField(&record, "new", 3));
    EXPECT_EQ(FieldsOf(record), Fields({ "", "m", "new" }));

    FreeListRecord(&record);
    EXPECT_EQ(record.nCapacity, 0);
    EXPECT_EQ(record.ppszFields, nullptr);
    EXPECT_FALSE(AppendToLastField(&record, "x", 1)) << "nothing to append to";
}

// ---- Out of memory ---------------------------------------------------------

// Fails exactly the allocation with this number (counted from 1).
int gnAllocation = 0;
int gnFailAllocation = 0;

void* FailingRealloc(void* pBlock, size_t cbSize)
{
    if (++gnAllocation == gnFailAllocation)
        return NULL;
    return realloc(pBlock, cbSize);
}

class ListReaderMemoryTest : public ListReaderTest {
protected:
    void FailAllocation(int nAllocation)
    {
        gnAllocation = 0;
        gnFailAllocation = nAllocation;
        gpfnListRealloc = FailingRealloc;
    }

    void ExpectOneOutOfMemoryBox()
    {
        ASSERT_EQ(m_boxes.Boxes().size(), 1u);
        const RecordedBox& box = m_boxes.Boxes()[0];
        EXPECT_EQ(box.text, kszOutOfMemoryText);
        EXPECT_EQ(box.caption, "Lettercast");
        EXPECT_EQ(box.uStyle, (UINT)(MB_OK | MB_ICONWARNING));
        EXPECT_EQ(box.hWndOwner, GetDesktopWindow());
    }
};

TEST_F(ListReaderMemoryTest, ReportShowsTheWarningOverTheDesktop)
{
    ReportListOutOfMemory();
    ExpectOneOutOfMemoryBox();
}

TEST_F(ListReaderMemoryTest, FailedFieldTextDropsThatFieldOnly)
{
    OpenList("a,b,c\nd,e\n");
    FailAllocation(3);   // the table, "a", then "b"
    ASSERT_TRUE(m_reader.ReadRecord(&m_record));
    EXPECT_EQ(FieldsOf(m_record), Fields({ "a", "c" }));
    ExpectOneOutOfMemoryBox();
    ASSERT_TRUE(m_reader.ReadRecord(&m_record)) << "reading goes on";
    EXPECT_EQ(FieldsOf(m_record), Fields({ "d", "e" }));
}

TEST_F(ListReaderMemoryTest, FailedGrowthDropsTheTable)
{
    OpenList(FieldLine(150) + "x\n");
    FailAllocation(101);   // the first table, 99 texts, then the growth
    ASSERT_TRUE(m_reader.ReadRecord(&m_record));
    ExpectOneOutOfMemoryBox();
    ASSERT_EQ(m_record.nCount, 50) << "the fields before are lost with the table, the one being added too";
    EXPECT_EQ(m_record.nCapacity, 100);
    EXPECT_STREQ(m_record.ppszFields[0], "0");   // field 100
    EXPECT_STREQ(m_record.ppszFields[49], "9");  // field 149
    ASSERT_TRUE(m_reader.ReadRecord(&m_record));
    EXPECT_EQ(FieldsOf(m_record), Fields({ "x" }));
}

TEST_F(ListReaderMemoryTest, DroppedQuotedFieldDoesNotSpillIntoTheFieldBefore)
{
    OpenList("a,\"b\nc\nd\",e\n");
    FailAllocation(4);   // the table, "a", "b", then appending "c"
    ASSERT_TRUE(m_reader.ReadRecord(&m_record));
    EXPECT_EQ(FieldsOf(m_record), Fields({ "a", "e" }));
    ExpectOneOutOfMemoryBox();
}

TEST_F(ListReaderMemoryTest, QuotedFieldLostWithTheTableIsNotAppendedToNothing)
{
    OpenList("\"b\nc\",e\n");
    FailAllocation(1);   // the table for the opening field
    ASSERT_TRUE(m_reader.ReadRecord(&m_record));
    EXPECT_EQ(FieldsOf(m_record), Fields({ "e" }));
    ExpectOneOutOfMemoryBox();
}

// ---- Recipients ------------------------------------------------------------

class ReadNextRecipientTest : public ListReaderTest {
protected:
    ReadNextRecipientTest() { InitListRecord(&m_header); }
    ~ReadNextRecipientTest() override { FreeListRecord(&m_header); }

    // The counting pass: the header, then every recipient.
    std::vector<std::string> CountingPass(const std::string& text)
    {
        OpenList(text);
        std::vector<std::string> addresses;
        if (!m_reader.IsOpen())
            return addresses;
        m_nEmailColumn = -1;
        bool bHeaderDone = false;
        m_szHeaderRaw[0] = '\0';
        while (m_reader.ReadNextRecipient(&m_nEmailColumn, bHeaderDone, m_szAddress, sizeof(m_szAddress),
                                 bHeaderDone ? NULL : m_szHeaderRaw, sizeof(m_szHeaderRaw), NULL, 0,
                                 &m_header, &m_record)) {
            addresses.push_back(m_szAddress);
            bHeaderDone = true;
        }
        return addresses;
    }

    // One call of the counting pass after the header.
    bool Next()
    {
        return m_reader.ReadNextRecipient(&m_nEmailColumn, true, m_szAddress, sizeof(m_szAddress), NULL, 0,
                                 NULL, 0, &m_header, &m_record);
    }

    // What the reader reports it passes over, from here until the test ends
    // the watch.
    struct Skip {
        int nLine, nReason;
        std::string address;
    };
    static void CollectSkip(void* pContext, int nLine, int nReason, const char* pszAddress)
    {
        ((std::vector<Skip>*)pContext)->push_back({ nLine, nReason, pszAddress });
    }
    const std::vector<Skip>& RecordSkips()
    {
        m_skips.clear();
        m_reader.WatchSkipped(CollectSkip, &m_skips);
        return m_skips;
    }

    int m_nEmailColumn = -1;
    ListRecord m_header;
    char m_szAddress[LC_ADDRESS_CAPACITY];
    char m_szHeaderRaw[LC_RECORD_MAX_CHARS + 1];
    char m_szRecordRaw[LC_RECORD_MAX_CHARS + 1];
    std::vector<Skip> m_skips;
};

TEST_F(ReadNextRecipientTest, SingleColumnIsTheAddressWhateverItsName)
{
    EXPECT_EQ(CountingPass("Address\na@x.org\nb@x.org\n"), std::vector<std::string>({ "a@x.org", "b@x.org" }));
    EXPECT_EQ(m_nEmailColumn, 0);
}

TEST_F(ReadNextRecipientTest, FirstColumnNamingEmailIsTheAddress)
{
    EXPECT_EQ(CountingPass("Name,E-Mail Address,Email\nAnn,ann@x.org,other@x.org\n"), std::vector<std::string>({ "ann@x.org" }));
    EXPECT_EQ(m_nEmailColumn, 1);
    EXPECT_EQ(FieldsOf(m_header), Fields({ "Name", "E-Mail Address", "Email" }));
    EXPECT_STREQ(m_szHeaderRaw, "Name,E-Mail Address,Email\n");

    CountingPass("Name,Phone,Work EMAIL\nAnn,1,ann@x.org\n");
    EXPECT_EQ(m_nEmailColumn, 2);
}

TEST_F(ReadNextRecipientTest, AddressColumnNameIsComparedOnItsFirst255Characters)
{
    CountingPass("Name," + std::string(251, 'x') + "email,Work Email\nA,a@x,b@x\n");   // "email" ends at 256
    EXPECT_EQ(m_nEmailColumn, 2);
    CountingPass("Name," + std::string(250, 'x') + "email,Work Email\nA,a@x,b@x\n");   // "email" ends at 255
    EXPECT_EQ(m_nEmailColumn, 1);
}

TEST_F(ReadNextRecipientTest, AColumnNamedForTheAddressWinsOverOneThatOnlyMentionsIt)
{
    struct Case {
        const char* pszHeader;
        int nColumn;
        int nCandidates;
        int nFilesColumn;   // the column of per-recipient files
    } cases[] = {
        { "Name,Manager Email,Email\n", 2, 2, -1 },
        { "Email Opt-In,Name, e-mail ADDRESS \n", 2, 2, -1 },
        { "Name,Email Opt-In,Work Email\n", 1, 2, -1 },
        { "Name,E-Mail\n", 1, 1, -1 },
        { "Address\n", 0, 1, -1 },
        { "Name,Phone\n", -1, 0, -1 },
        { "Email,Attachments\n", 0, 1, 1 },
        { "Attachment note,Email, ATTACHMENT ,Attachments\n", 1, 1, 2 },
        { "Email,My Attachments,Attached\n", 0, 1, -1 },
    };
    for (const Case& c : cases) {
        CountingPass(c.pszHeader);
        EXPECT_EQ(m_nEmailColumn, c.nColumn) << c.pszHeader;
        EXPECT_EQ(CountAddressColumns(&m_header), c.nCandidates) << c.pszHeader;
        EXPECT_EQ(FindAttachmentColumn(&m_header), c.nFilesColumn) << c.pszHeader;
    }
}

TEST(AttachmentCell, PathsAreSplitTrimmedUnquotedAndTakenFromTheListsFolder)
{
    struct Case {
        const char* pszCell;
        std::vector<std::string> paths;
    } cases[] = {
        { "", {} },
        { " ; ;", {} },
        { "a.pdf", { "C:\\lists\\a.pdf" } },
        { " a.pdf ;\t\"b c.pdf\" ; 'd.pdf'", { "C:\\lists\\a.pdf", "C:\\lists\\b c.pdf", "C:\\lists\\d.pdf" } },
        { "sub/x.txt;..\\up.txt;.\\here.txt", { "C:\\lists\\sub\\x.txt", "C:\\up.txt", "C:\\lists\\here.txt" } },
        { "D:\\files\\y.bin; \"\\\\server\\share\\z.bin\"", { "D:\\files\\y.bin", "\\\\server\\share\\z.bin" } },
    };
    for (const Case& c : cases) {
        std::vector<std::string> paths;
        const char* pszCursor = c.pszCell;
        char szPath[LC_ATTACHMENT_PATH_CAPACITY];
        int nResult;
        while ((nResult = NextAttachmentPath(&pszCursor, "C:\\lists", szPath, sizeof(szPath))) != AttachmentPathNone) {
            EXPECT_EQ(nResult, AttachmentPathFound) << c.pszCell;
            paths.push_back(szPath);
        }
        EXPECT_EQ(paths, c.paths) << c.pszCell;
    }
    // A path that cannot be held is told apart, not cut and tried.
    std::string cell = std::string(300, 'x') + ";ok.txt";
    const char* pszCursor = cell.c_str();
    char szPath[LC_ATTACHMENT_PATH_CAPACITY];
    EXPECT_EQ(NextAttachmentPath(&pszCursor, "C:\\lists", szPath, sizeof(szPath)), AttachmentPathTooLong);
    EXPECT_EQ(NextAttachmentPath(&pszCursor, "C:\\lists", szPath, sizeof(szPath)), AttachmentPathFound);
    EXPECT_STREQ(szPath, "C:\\lists\\ok.txt");

    char szFolder[MAX_PATH];
    ListFolderOf("C:\\lists\\people.csv", szFolder, sizeof(szFolder));
    EXPECT_STREQ(szFolder, "C:\\lists");
    ListFolderOf("C:\\people.csv", szFolder, sizeof(szFolder));
    EXPECT_STREQ(szFolder, "C:\\");
    ListFolderOf("people.csv", szFolder, sizeof(szFolder));
    EXPECT_STREQ(szFolder, "");
}

TEST_F(ReadNextRecipientTest, NoAddressColumn)
{
    EXPECT_TRUE(CountingPass("Name,Phone\nAnn,ann@x\n").empty());
    EXPECT_EQ(m_nEmailColumn, -1);
    EXPECT_EQ(FieldsOf(m_header), Fields({ "Name", "Phone" }));
}

TEST_F(ReadNextRecipientTest, NoHeaderAtAll)
{
    m_szAddress[0] = 'x';
    EXPECT_TRUE(CountingPass("// only a comment\n\n").empty());
    EXPECT_EQ(m_nEmailColumn, -1);
    EXPECT_STREQ(m_szAddress, "");
}

TEST_F(ReadNextRecipientTest, OnlyAHeader)
{
    EXPECT_TRUE(CountingPass("Name,Email\n").empty());
    EXPECT_EQ(m_nEmailColumn, 1);
    EXPECT_STREQ(m_szHeaderRaw, "Name,Email\n");
}

TEST_F(ReadNextRecipientTest, DisplayNameWithAddressInAngleBrackets)
{
    EXPECT_EQ(CountingPass("Name,Email\nJane,Jane Doe <jane@x.org>\nJo,\"Doe, Jo <jo@x.org> \"\n"),
              std::vector<std::string>({ "jane@x.org", "jo@x.org" }));

    OpenList("Name,Email\nJane,Doe Jane < jane@x.org >\n");
    m_nEmailColumn = 1;
    ASSERT_TRUE(Next());
    EXPECT_STREQ(m_szAddress, "jane@x.org");
    EXPECT_STREQ(m_record.ppszFields[1], " jane@x.org ") << "the field itself holds the bracketed text";
}

TEST_F(ReadNextRecipientTest, RecordsWithoutUsableAddressAreSkipped)
{
    EXPECT_EQ(CountingPass("Name,Email,City\nShort\nNoAt,nobody,X\nBracket,<nobody>,X\n"
                           "Blank,  ,X\nOk, ok@x.org \t,X\n"),
              std::vector<std::string>({ "ok@x.org" }));

    OpenList("Short\nOk, ok@x.org \t,X\n");
    m_nEmailColumn = 1;
    ASSERT_TRUE(Next());
    EXPECT_EQ(FieldsOf(m_record), Fields({ "Ok", " ok@x.org \t", "X" })) << "only the copy is trimmed";
}

TEST_F(ReadNextRecipientTest, AddressCopiesStopAt255Characters)
{
    // An address cut to its buffer would go to someone else: it is skipped
    // and the reader says so, with the line.
    const std::vector<Skip>& skips = RecordSkips();
    std::string fits = "a@" + std::string(249, 'b') + ".org";
    std::string tooLong = "a@" + std::string(250, 'b') + ".org";
    std::vector<std::string> addresses =
        CountingPass("Name,Email\nA," + tooLong + "\nB, " + fits + " \nC,no-at\nD\nE,a@x.org;b@y.org\n");
    m_reader.WatchSkipped(NULL, NULL);
    EXPECT_EQ(addresses, std::vector<std::string>({ fits }));
    ASSERT_EQ(skips.size(), 4u);
    EXPECT_EQ(skips[0].nLine, 2);
    EXPECT_EQ(skips[0].nReason, ListSkipAddressTooLong);
    EXPECT_EQ(skips[1].nLine, 4);
    EXPECT_EQ(skips[1].nReason, ListSkipNoAt);
    EXPECT_EQ(skips[1].address, "no-at");
    EXPECT_EQ(skips[2].nLine, 5);
    EXPECT_EQ(skips[2].nReason, ListSkipTooFewFields);
    EXPECT_EQ(skips[3].nLine, 6);
    EXPECT_EQ(skips[3].nReason, ListSkipNotOneAddress);
    EXPECT_EQ(skips[3].address, "a@x.org;b@y.org");
}

// A personal copy goes to one person: a field that names more than one
// address, in whatever shape, is skipped with its line, never sent to the
// address in its last angle brackets.
TEST_F(ReadNextRecipientTest, EveryFieldNamingMoreThanOneAddressIsSkipped)
{
    const struct {
        const char* pszField;   // as the list holds it
        const char* pszSent;    // NULL: skipped as not one address
    } cases[] = {
        { "\"Jane <jane@x.example>, Bob <bob@y.example>\"", NULL },
        { "<lena@x.example>;<bob@y.example>", NULL },
        { "Bob <bob@y.example> mia@x.example", NULL },
        { "mia@x.example Bob <bob@y.example>", NULL },
        { "mia@x.example <bob@y.example>", NULL },
        { "<a> b <jo@x.org> rest", NULL },
        { "Jane <jane@x.example>; bob@y.example", NULL },
        { "\"\"\"Jane\"\" <jane@x.example> <bob@y.example>\"", NULL },
        { "Jane <jane@x.example>>", NULL },
        { "jane@x.example bob@y.example", NULL },
        { "\"jane@x.example,bob@y.example\"", NULL },
        { "jane@x.example;bob@y.example", NULL },
        { "\"jane@x.example\nbob@y.example\"", NULL },
        { "jane@bob@y.example", NULL },
        { "Jane Doe <jane@x.example>", "jane@x.example" },
        { "\"\"\"Doe, Jane\"\" <jane2@x.example>\"", "jane2@x.example" },
        { "\"Doe, Jane <jane3@x.example>\"", "jane3@x.example" },
        { "\"\"\"jane4@x.example\"\" <jane4@x.example> \"", "jane4@x.example" },
        { " plain@x.example ", "plain@x.example" },
    };
    const std::vector<Skip>& skips = RecordSkips();
    std::string list = "Name,Email\n";
    std::vector<std::string> expected;
    std::vector<int> skippedLines;
    int nLine = 2;
    for (const auto& c : cases) {
        list += "Someone," + std::string(c.pszField) + "\n";
        if (c.pszSent)
            expected.push_back(c.pszSent);
        else
            skippedLines.push_back(nLine);
        nLine += std::string(c.pszField).find('\n') != std::string::npos ? 2 : 1;
    }
    std::vector<std::string> addresses = CountingPass(list);
    m_reader.WatchSkipped(NULL, NULL);
    EXPECT_EQ(addresses, expected);
    ASSERT_EQ(skips.size(), skippedLines.size());
    for (size_t i = 0; i < skips.size(); ++i) {
        SCOPED_TRACE(skips[i].address);
        EXPECT_EQ(skips[i].nLine, skippedLines[i]);
        EXPECT_EQ(skips[i].nReason, ListSkipNotOneAddress);
    }
    EXPECT_EQ(skips[0].address, "Jane <jane@x.example>, Bob <bob@y.example>") << "the whole field is told";
}
// An address a mail server would refuse is skipped with why: each shape of
// the mistakes real lists hold, beside shapes a server takes.
TEST_F(ReadNextRecipientTest, EveryAddressShapeAServerRefusesIsSkippedWithItsReason)
{
    const struct {
        const char* pszAddress;
        int nReason;   // 0: sent
    } cases[] = {
        { "anna@example", ListSkipDomainWithoutDot },
        { "ben @example.com", ListSkipNotOneAddress },
        { "cara@@example.com", ListSkipNotOneAddress },
        { ".dan@example.com", ListSkipMisplacedDot },
        { "eve.@example.com", ListSkipMisplacedDot },
        { "fay..lee@example.com", ListSkipMisplacedDot },
        { "gus@example.com.", ListSkipMisplacedDot },
        { "hal@.example.com", ListSkipMisplacedDot },
        { "ida@exa_mple.com", ListSkipBadCharacter },
        { "jo(e)@example.com", ListSkipBadCharacter },
        { "kim\"@example.com", ListSkipBadCharacter },
        { "@example.com", ListSkipNothingAroundAt },
        { "lea@", ListSkipNothingAroundAt },
        { "mia+news@example.com", 0 },
        { "o'neil@sub.example.co.uk", 0 },
        { "J\xc3\xb6rg@m\xc3\xbcller.example", 0 },
        { "root@[192.0.2.1]", 0 },
    };
    const std::vector<Skip>& skips = RecordSkips();
    std::string list = "Name,Email\n";
    std::vector<std::string> expected;
    for (const auto& c : cases) {
        list += std::string("Someone,") + c.pszAddress + "\n";
        if (c.nReason == 0)
            expected.push_back(c.pszAddress);
    }
    std::vector<std::string> addresses = CountingPass(list);
    m_reader.WatchSkipped(NULL, NULL);
    EXPECT_EQ(addresses, expected);
    std::vector<std::pair<int, int>> got, want;
    for (const Skip& skip : skips)
        got.push_back({ skip.nLine, skip.nReason });
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        if (cases[i].nReason)
            want.push_back({ (int)i + 2, cases[i].nReason });
    }
    EXPECT_EQ(got, want);
}


// The Cc, Bcc and Reply-To columns: each cell merged with its record's
// values, split at ";" and ",", each piece checked as the address is; a
// record with anything else there is skipped with its line, by every
// reading alike, the one that discards the header included.
TEST_F(ReadNextRecipientTest, CcBccAndReplyToCellsAreMergedSplitAndChecked)
{
    const struct {
        const char* pszCc;
        const char* pszBcc;
        const char* pszReplyTo;
        const char* pszExpected;   // "cc|bcc|reply-to", each "a;b"; NULL: skipped
        int nReason;
    } cases[] = {
        { "", "", "", "||", 0 },
        { "boss@x.example", "crm@y.example", "team@x.example", "boss@x.example|crm@y.example|team@x.example", 0 },
        { " a@x.example ; b@x.example,c@x.example ", "", "", "a@x.example;b@x.example;c@x.example||", 0 },
        { "[[Manager]]@x.example", "", "", "ann.boss@x.example||", 0 },
        { "\"Doe, Jane\" <jane@x.example>", "", "", "jane@x.example||", 0 },
        { "Boss <boss@x.example>;; ", "", "", "boss@x.example||", 0 },
        { "boss", "", "", NULL, ListSkipBadCc },
        { "a@x.example; not an address", "", "", NULL, ListSkipBadCc },
        { "", "crm at y.example", "", NULL, ListSkipBadBcc },
        { "", "", "a@x.example b@x.example", NULL, ListSkipBadReplyTo },
        { "[[Nobody]]", "", "", NULL, ListSkipBadCc },
    };
    // Each cell quoted, as a spreadsheet writes a cell holding commas.
    auto quoted = [](const char* pszCell) {
        std::string cell = "\"";
        for (const char* p = pszCell; *p; ++p)
            cell += *p == '"' ? std::string("\"\"") : std::string(1, *p);
        return cell + "\"";
    };
    std::string list = "Name,Email, cc ,BCC,Reply To,Manager\n";
    for (const auto& c : cases)
        list += "Ann,ann@x.example," + quoted(c.pszCc) + "," + quoted(c.pszBcc) + "," + quoted(c.pszReplyTo) +
                ",ann.boss\n";
    for (bool bHeaderKept : { true, false }) {
        SCOPED_TRACE(bHeaderKept ? "header read into a record" : "header discarded");
        const std::vector<Skip>& skips = RecordSkips();
        OpenList(list);
        m_nEmailColumn = 1;
        std::vector<std::string> got;
        for (bool bHeaderDone = false; m_reader.ReadNextRecipient(&m_nEmailColumn, bHeaderDone, m_szAddress,
                                                                   sizeof(m_szAddress), NULL, 0, NULL, 0,
                                                                   bHeaderKept ? &m_header : NULL, &m_record);
             bHeaderDone = true) {
            std::string kinds;
            for (int nKind = 0; nKind < CopyAddressKinds; ++nKind) {
                std::string joined;
                for (const std::string& address : m_reader.CopyAddresses().Addresses(nKind))
                    joined += (joined.empty() ? "" : ";") + address;
                kinds += (nKind ? "|" : "") + joined;
            }
            got.push_back(kinds);
        }
        m_reader.WatchSkipped(NULL, NULL);
        std::vector<std::string> expected;
        std::vector<Skip> expectedSkips;
        for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
            if (cases[i].pszExpected)
                expected.push_back(cases[i].pszExpected);
            else
                expectedSkips.push_back({ (int)i + 2, cases[i].nReason, "" });
        }
        EXPECT_EQ(got, expected);
        ASSERT_EQ(skips.size(), expectedSkips.size());
        for (size_t i = 0; i < skips.size(); ++i) {
            EXPECT_EQ(skips[i].nLine, expectedSkips[i].nLine);
            EXPECT_EQ(skips[i].nReason, expectedSkips[i].nReason);
        }
        EXPECT_EQ(skips[0].address, "boss") << "the piece that is no address is told";
        EXPECT_EQ(skips[1].address, "not an address");
    }
    CopyAddressColumns columns;
    FindCopyAddressColumns(&m_header, &columns);
    EXPECT_EQ(columns.anColumn[CopyCc], 2);
    EXPECT_EQ(columns.anColumn[CopyBcc], 3);
    EXPECT_EQ(columns.anColumn[CopyReplyTo], 4);
}

TEST_F(ReadNextRecipientTest, CopiesKeepToSmallBuffers)
{
    OpenList("Name,Email\nAnn,a@x.org\n");
    char szAddress[8 + 4];
    char szHeader[6 + 4];
    char szRaw[5 + 4];
    memset(szAddress, '#', sizeof(szAddress));
    memset(szHeader, '#', sizeof(szHeader));
    memset(szRaw, '#', sizeof(szRaw));
    ASSERT_TRUE(m_reader.ReadNextRecipient(&m_nEmailColumn, false, szAddress, 8, szHeader, 6, szRaw, 5,
                                  &m_header, &m_record));
    EXPECT_STREQ(szAddress, "a@x.org");
    EXPECT_STREQ(szHeader, "Name,");
    EXPECT_STREQ(szRaw, "Ann,");
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(szAddress[8 + i], '#');
        EXPECT_EQ(szHeader[6 + i], '#');
        EXPECT_EQ(szRaw[5 + i], '#');
    }
}

TEST_F(ReadNextRecipientTest, BothPassesInTheEnginesOrder)
{
    const std::string list =
        "// customers\n"
        "First,Last,E-mail\n"
        "\n"
        "Ann,Lee,ann@x.org\n"
        "Bob,Short\n"
        ",,\n"
        "\"Doe, Jane\",Doe,\"Jane <jane@x.org>\"\n"
        "Cy,Nobody,cy\n"
        "Di,Dee,di@x.org";
    std::vector<std::string> expected = { "ann@x.org", "jane@x.org", "di@x.org" };

    ASSERT_EQ(CountingPass(list), expected);
    EXPECT_STREQ(m_szHeaderRaw, "First,Last,E-mail\n");
    ASSERT_EQ(m_nEmailColumn, 2);
    size_t nTotal = expected.size();

    // The sending pass: a fresh stream, no header record, the column kept.
    CloseList();
    ASSERT_TRUE(m_reader.Open(m_folder.File("list.txt").c_str(), m_nDelimiter));
    std::vector<std::string> addresses, raws;
    for (bool bHeaderDone = false;; bHeaderDone = true) {
        if (!m_reader.ReadNextRecipient(&m_nEmailColumn, bHeaderDone, m_szAddress, sizeof(m_szAddress),
                               NULL, 0, m_szRecordRaw, sizeof(m_szRecordRaw), NULL, &m_record))
            break;
        addresses.push_back(m_szAddress);
        raws.push_back(m_szRecordRaw);
    }
    EXPECT_EQ(addresses, expected);
    EXPECT_EQ(addresses.size(), nTotal);
    EXPECT_EQ(raws, std::vector<std::string>({ "Ann,Lee,ann@x.org\n",
                                               "\"Doe, Jane\",Doe,\"Jane <jane@x.org>\"\n",
                                               "Di,Dee,di@x.org" }));
    EXPECT_EQ(m_nEmailColumn, 2);
}

TEST_F(ReadNextRecipientTest, SendingPassUsesTheKnownColumnAndCanCopyTheHeader)
{
    // The header would name column 1; the column already known wins.
    OpenList("Name,Email,Other\nA,a@x.org,o@x.org\n");
    m_nEmailColumn = 2;
    char szHeaderRaw[LC_RECORD_MAX_CHARS + 1] = "stale";
    ASSERT_TRUE(m_reader.ReadNextRecipient(&m_nEmailColumn, false, m_szAddress, sizeof(m_szAddress),
                                  szHeaderRaw, sizeof(szHeaderRaw), NULL, 0, NULL, &m_record));
    EXPECT_STREQ(m_szAddress, "o@x.org");
    EXPECT_STREQ(szHeaderRaw, "Name,Email,Other\n");
    EXPECT_EQ(m_nEmailColumn, 2);

    OpenList("Name,Email\nA,a@x.org\n");
    m_nEmailColumn = -1;
    EXPECT_FALSE(m_reader.ReadNextRecipient(&m_nEmailColumn, false, m_szAddress, sizeof(m_szAddress),
                                   NULL, 0, NULL, 0, NULL, &m_record))
        << "without a header record no column is found";
}

TEST_F(ReadNextRecipientTest, LongRecordEndsBothPasses)
{
    const std::string list = "Name,Email\nA,a@x.org\nB,b@x.org\n" + std::string(32800, 'c') + ",c@x.org\nD,d@x.org\n";
    std::vector<std::string> expected = { "a@x.org", "b@x.org" };
    EXPECT_EQ(CountingPass(list), expected);

    CloseList();
    ASSERT_TRUE(m_reader.Open(m_folder.File("list.txt").c_str(), m_nDelimiter));
    std::vector<std::string> sent;
    for (bool bHeaderDone = false;
         m_reader.ReadNextRecipient(&m_nEmailColumn, bHeaderDone, m_szAddress, sizeof(m_szAddress), NULL, 0,
                           m_szRecordRaw, sizeof(m_szRecordRaw), NULL, &m_record);
         bHeaderDone = true)
        sent.push_back(m_szAddress);
    EXPECT_EQ(sent, expected);
}

TEST_F(ReadNextRecipientTest, TabListWithQuotedMultiLineField)
{
    m_nDelimiter = ListDelimiterTab;
    OpenList("Note\tEmail\n\"two\nlines\"\tt@x.org\n");
    ASSERT_TRUE(m_reader.ReadNextRecipient(&m_nEmailColumn, false, m_szAddress, sizeof(m_szAddress), NULL, 0,
                                  NULL, 0, &m_header, &m_record));
    EXPECT_STREQ(m_szAddress, "t@x.org");
    EXPECT_EQ(m_nEmailColumn, 1);
    EXPECT_STREQ(m_record.ppszFields[0], "two\r\nlines");
    EXPECT_FALSE(Next());
}


// Each reading is its own: a second list read while the first is half read
// (the Preview or a test copy during a job, a resume click's delimiter
// detection) leaves the first one's line count, encoding, delimiter, first
// bad line and skip watch alone, and neither writes the job's delimiter.
TEST_F(ReadNextRecipientTest, TwoReadersOpenAtOnceKeepTheirOwnState)
{
    ListDelimiter = ListDelimiterTab;
    std::vector<Skip> firstSkips, secondSkips;
    m_nDelimiter = ListDelimiterComma;
    OpenList(Utf16Bytes("sep=;\nName;Email\nAnn;ann@x.org\nBob;nobody\nCy;cy@x.org\nDi;d\x07i@x.org\nEd;ed@x.org\n", false),
             BinaryMode);
    m_reader.WatchSkipped(CollectSkip, &firstSkips);
    ASSERT_TRUE(m_reader.ReadNextRecipient(&m_nEmailColumn, false, m_szAddress, sizeof(m_szAddress), NULL, 0, NULL, 0,
                                           &m_header, &m_record));
    EXPECT_STREQ(m_szAddress, "ann@x.org");
    EXPECT_EQ(m_reader.RecordLine(), 3);

    std::string firstPath = m_folder.File("list.txt");
    EXPECT_EQ(DetectListDelimiter(firstPath.c_str()), ListDelimiterSemicolon);
    std::string secondPath = m_folder.File("second.csv");
    WriteListFile(secondPath, "Name,Email\n// note\nEve,eve@x.org\nFay\nGus\x7F,gus@x.org\nHal,hal@x.org\n");
    ListReader second;
    ASSERT_TRUE(second.Open(secondPath.c_str(), ListDelimiterComma));
    second.WatchSkipped(CollectSkip, &secondSkips);
    int nSecondColumn = -1;
    ListRecord secondHeader, secondRecord;
    InitListRecord(&secondHeader);
    InitListRecord(&secondRecord);
    std::vector<std::string> secondAddresses;
    char szSecondAddress[LC_ADDRESS_CAPACITY];
    for (bool bHeaderDone = false;
         second.ReadNextRecipient(&nSecondColumn, bHeaderDone, szSecondAddress, sizeof(szSecondAddress), NULL, 0, NULL,
                                  0, &secondHeader, &secondRecord);
         bHeaderDone = true)
        secondAddresses.push_back(szSecondAddress);
    FreeListRecord(&secondHeader);
    FreeListRecord(&secondRecord);
    EXPECT_EQ(secondAddresses, std::vector<std::string>({ "eve@x.org" }));
    EXPECT_EQ(second.Encoding(), ListEncodingAnsi);
    EXPECT_EQ(second.Delimiter(), ListDelimiterComma);
    EXPECT_EQ(second.BadTextLine(), 5);
    EXPECT_EQ(second.BadTextChar(), 0x7F);
    ASSERT_EQ(secondSkips.size(), 1u);
    EXPECT_EQ(secondSkips[0].nLine, 4);
    EXPECT_EQ(secondSkips[0].nReason, ListSkipTooFewFields);

    // The first reading goes on where it was, as it was.
    EXPECT_EQ(m_reader.Encoding(), ListEncodingUtf16Le);
    EXPECT_EQ(m_reader.Delimiter(), ListDelimiterSemicolon);
    EXPECT_EQ(m_reader.RecordLine(), 3);
    EXPECT_EQ(m_reader.BadTextLine(), 0);
    EXPECT_TRUE(firstSkips.empty());
    ASSERT_TRUE(Next());
    EXPECT_STREQ(m_szAddress, "cy@x.org");
    EXPECT_EQ(m_reader.RecordLine(), 5);
    EXPECT_FALSE(Next());
    EXPECT_EQ(m_reader.BadTextLine(), 6);
    EXPECT_EQ(m_reader.BadTextChar(), 0x07);
    ASSERT_EQ(firstSkips.size(), 1u);
    EXPECT_EQ(firstSkips[0].nLine, 4);
    EXPECT_EQ(firstSkips[0].nReason, ListSkipNoAt);
    EXPECT_EQ(firstSkips[0].address, "nobody");

    // And the second one still tells what it met.
    EXPECT_EQ(secondSkips.size(), 1u);
    EXPECT_EQ(second.BadTextLine(), 5);
    EXPECT_EQ(second.Encoding(), ListEncodingAnsi);
    EXPECT_EQ(ListDelimiter, ListDelimiterTab) << "the job's delimiter is the detection's alone";
    m_reader.WatchSkipped(NULL, NULL);
}

}  // namespace
