// Feeds arbitrary bytes to the workbook reader the way a job does: the bytes
// are opened as the workbook, then every worksheet is read through, and what
// reaches the row sink is held against what the reader promises.
//
// The first input byte picks how the rest is taken:
//   even: the rest is the workbook file itself (zip, compound file, anything);
//   odd:  the rest is the text of the package's parts, separated by 0x1E
//         (a byte XML cannot hold), in the order of kapszParts; this target
//         packs them into a zip with their right CRC-32s, so that changes to
//         the XML reach the XML and are not stopped by the zip's checks.
//         Bit 1 of the first byte stores the parts rather than deflating them.
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include <zlib.h>

#include "fuzz/fuzz_check.h"
#include "mailing/number_format.h"
#include "mailing/workbook_reader.h"

namespace {

const char* const kapszParts[] = {
    "_rels/.rels",
    "xl/workbook.xml",
    "xl/_rels/workbook.xml.rels",
    "xl/styles.xml",
    "xl/sharedStrings.xml",
    "xl/worksheets/sheet1.xml",
    "xl/worksheets/sheet2.xml",
};
const size_t knParts = sizeof(kapszParts) / sizeof(kapszParts[0]);
const char kchPartSeparator = '\x1e';

void Put16(std::string* pOut, uint32_t n)
{
    *pOut += (char)(n & 0xFF);
    *pOut += (char)((n >> 8) & 0xFF);
}

void Put32(std::string* pOut, uint32_t n)
{
    Put16(pOut, n & 0xFFFF);
    Put16(pOut, n >> 16);
}

std::string Deflated(const std::string& text)
{
    z_stream stream;
    memset(&stream, 0, sizeof(stream));
    FUZZ_CHECK(deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK);
    std::string out(deflateBound(&stream, (uLong)text.size()), '\0');
    stream.next_in = (Bytef*)text.data();
    stream.avail_in = (uInt)text.size();
    stream.next_out = (Bytef*)&out[0];
    stream.avail_out = (uInt)out.size();
    FUZZ_CHECK(deflate(&stream, Z_FINISH) == Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// The parts as a zip: each one's local header and data, the central
// directory, its end.
std::string PackParts(const std::vector<std::string>& parts, bool bStored)
{
    std::string zip, directory;
    for (size_t i = 0; i < parts.size() && i < knParts; ++i) {
        std::string name = kapszParts[i];
        std::string data = bStored ? parts[i] : Deflated(parts[i]);
        uint32_t nCrc = (uint32_t)crc32(crc32(0L, Z_NULL, 0), (const Bytef*)parts[i].data(), (uInt)parts[i].size());
        uint32_t offLocal = (uint32_t)zip.size();
        std::string common;
        Put16(&common, 0);                  // flags
        Put16(&common, bStored ? 0 : 8);    // method
        Put32(&common, 0);                  // time and date
        Put32(&common, nCrc);
        Put32(&common, (uint32_t)data.size());
        Put32(&common, (uint32_t)parts[i].size());
        Put16(&common, (uint32_t)name.size());
        Put16(&common, 0);                  // extra
        Put32(&zip, 0x04034b50u);
        Put16(&zip, 20);
        zip += common + name + data;
        Put32(&directory, 0x02014b50u);
        Put16(&directory, 20);
        Put16(&directory, 20);
        directory += common;
        Put16(&directory, 0);   // comment
        Put16(&directory, 0);   // disk
        Put16(&directory, 0);   // internal attributes
        Put32(&directory, 0);   // external attributes
        Put32(&directory, offLocal);
        directory += name;
    }
    uint32_t offDirectory = (uint32_t)zip.size();
    zip += directory;
    size_t nEntries = parts.size() < knParts ? parts.size() : knParts;
    Put32(&zip, 0x06054b50u);
    Put32(&zip, 0);
    Put16(&zip, (uint32_t)nEntries);
    Put16(&zip, (uint32_t)nEntries);
    Put32(&zip, (uint32_t)directory.size());
    Put32(&zip, offDirectory);
    Put16(&zip, 0);
    return zip;
}

bool IsUtf8(const std::string& text)
{
    const unsigned char* p = (const unsigned char*)text.data();
    const unsigned char* pEnd = p + text.size();
    while (p < pEnd) {
        unsigned char ch = *p++;
        int nMore = ch < 0x80 ? 0 : (ch & 0xE0) == 0xC0 ? 1 : (ch & 0xF0) == 0xE0 ? 2 : (ch & 0xF8) == 0xF0 ? 3 : -1;
        if (nMore < 0 || (nMore == 1 && ch < 0xC2) || pEnd - p < nMore)
            return false;
        for (int i = 0; i < nMore; ++i, ++p) {
            if ((*p & 0xC0) != 0x80)
                return false;
        }
    }
    return true;
}

// Every row as the reader promises it: a row number of Excel's, at least one
// cell, the last one holding a value, no more columns than Excel has, text
// as UTF-8 without NUL. A digest of the rows, to compare two readings.
class CheckingSink : public WorkbookRowSink {
public:
    CheckingSink() : m_nDigest(0), m_nRows(0) {}
    bool Row(int nRow, const std::vector<std::string>& cells) override
    {
        FUZZ_CHECK(nRow >= 1 && nRow <= 1048576);
        FUZZ_CHECK(!cells.empty());
        FUZZ_CHECK(cells.size() <= 16384);
        FUZZ_CHECK(!cells.back().empty());
        m_nDigest = (uint32_t)crc32(m_nDigest, (const Bytef*)&nRow, sizeof(nRow));
        for (const std::string& cell : cells) {
            FUZZ_CHECK(IsUtf8(cell));
            FUZZ_CHECK(cell.find('\0') == std::string::npos);
            uint32_t cb = (uint32_t)cell.size();
            m_nDigest = (uint32_t)crc32(m_nDigest, (const Bytef*)&cb, sizeof(cb));
            m_nDigest = (uint32_t)crc32(m_nDigest, (const Bytef*)cell.data(), (uInt)cell.size());
        }
        ++m_nRows;
        return true;
    }
    uint32_t Digest() const { return m_nDigest; }
    size_t Rows() const { return m_nRows; }

private:
    uint32_t m_nDigest;
    size_t m_nRows;
};

bool IsResult(int nResult)
{
    return nResult >= WorkbookOk && nResult <= WorkbookStopped;
}

void CheckProblem(int nResult, const Workbook& workbook)
{
    FUZZ_CHECK(IsResult(nResult));
    FUZZ_CHECK(nResult != WorkbookNoXmlReader && nResult != WorkbookTooLarge && nResult != WorkbookStopped);
    FUZZ_CHECK((nResult == WorkbookDamaged) == !workbook.Problem().empty());
    FUZZ_CHECK(IsUtf8(workbook.Problem()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cbData)
{
    if (cbData < 1)
        return 0;
    std::string bytes((const char*)pData + 1, cbData - 1);
    if (pData[0] & 1) {
        std::vector<std::string> parts(1);
        for (char ch : bytes) {
            if (ch == kchPartSeparator)
                parts.emplace_back();
            else
                parts.back() += ch;
        }
        bytes = PackParts(parts, (pData[0] & 2) != 0);
    }

    Workbook workbook;
    int nOpen = workbook.OpenBytes(bytes.data(), bytes.size());
    CheckProblem(nOpen, workbook);
    const std::vector<WorkbookSheet>& sheets = workbook.Sheets();
    FUZZ_CHECK((nOpen == WorkbookOk) == !sheets.empty());
    if (nOpen != WorkbookOk)
        return 0;

    NumberLocale locale = EnglishNumberLocale();
    for (size_t i = 0; i < sheets.size(); ++i) {
        FUZZ_CHECK(IsUtf8(sheets[i].strName));
        FUZZ_CHECK(!sheets[i].strPart.empty());
        int nFound = workbook.FindSheet(sheets[i].strName);
        FUZZ_CHECK(nFound >= 0 && nFound <= (int)i && sheets[nFound].strName == sheets[i].strName);

        // A sheet reads the same every time: nothing of one reading is
        // left over for the next.
        CheckingSink first, second;
        int nRead = workbook.ReadSheet((int)i, locale, &first);
        CheckProblem(nRead, workbook);
        FUZZ_CHECK(nRead != WorkbookNoSheet);
        for (const std::string& code : workbook.UnrenderedFormats())
            FUZZ_CHECK(IsUtf8(code));
        int nAgain = workbook.ReadSheet((int)i, locale, &second);
        FUZZ_CHECK(nAgain == nRead);
        FUZZ_CHECK(first.Rows() == second.Rows() && first.Digest() == second.Digest());
    }
    FUZZ_CHECK(workbook.FindSheet(std::string("\x01no such sheet")) == -1);
    return 0;
}
