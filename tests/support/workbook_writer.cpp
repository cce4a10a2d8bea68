// The test workbooks' writer: the parts as Excel writes them, deflated into
// a zip one part at a time.
#include "tests/support/workbook_writer.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <unordered_map>

#include <zlib.h>

namespace {

const char kszMainNamespace[] = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const char kszRelationshipsNamespace[] = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
const char kszPackageRelationshipsNamespace[] = "http://schemas.openxmlformats.org/package/2006/relationships";
const char kszXmlDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";

std::string Escaped(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        switch (ch) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += ch; break;
        }
    }
    return out;
}

// A <t> element, keeping leading and trailing spaces as Excel does.
std::string TextElement(const std::string& text)
{
    bool bPreserve = !text.empty() && (text.front() == ' ' || text.back() == ' ' || text.front() == '\t' ||
                                       text.back() == '\t' || text.find('\n') != std::string::npos);
    return std::string(bPreserve ? "<t xml:space=\"preserve\">" : "<t>") + Escaped(text) + "</t>";
}

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

void Put64(std::string* pOut, uint64_t n)
{
    Put32(pOut, (uint32_t)n);
    Put32(pOut, (uint32_t)(n >> 32));
}

void Set32(std::string* pOut, size_t off, uint32_t n)
{
    for (int i = 0; i < 4; ++i)
        (*pOut)[off + i] = (char)((n >> (8 * i)) & 0xFF);
}

void Set64(std::string* pOut, size_t off, uint64_t n)
{
    Set32(pOut, off, (uint32_t)n);
    Set32(pOut, off + 4, (uint32_t)(n >> 32));
}

bool Contains(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

const char* CellTypeAttribute(XlsxCellType type)
{
    switch (type) {
    case XlsxShared:
    case XlsxSharedIndex: return " t=\"s\"";
    case XlsxInline: return " t=\"inlineStr\"";
    case XlsxFormulaText: return " t=\"str\"";
    case XlsxBoolean: return " t=\"b\"";
    case XlsxError: return " t=\"e\"";
    case XlsxDate: return " t=\"d\"";
    default: return "";
    }
}

}  // namespace

// The zip as it is written: each part's local header, its data deflated (or
// stored) as it comes, then the central directory and the end records.
class XlsxWriter::Zip {
public:
    explicit Zip(const XlsxWriter& writer) : m_writer(writer), m_bOpen(false) { memset(&m_stream, 0, sizeof(m_stream)); }

    // nLevel: zlib's; the repeated parts take the fastest, which still
    // deflates 300 MB of zeros to under 2 MB.
    void Begin(const std::string& name, int nLevel = Z_DEFAULT_COMPRESSION)
    {
        m_entry = Entry();
        m_entry.name = name;
        m_entry.offset = m_out.size();
        m_entry.bStored = m_writer.m_bStored;
        m_entry.flags = Contains(m_writer.m_encryptedParts, name) ? 0x0001 : 0;
        m_entry.crc = (uint32_t)crc32(0L, Z_NULL, 0);
        // The sizes are filled in at the end.
        Put32(&m_out, 0x04034b50u);
        Put16(&m_out, m_writer.m_bZip64 ? 45 : 20);
        Put16(&m_out, m_entry.flags);
        Put16(&m_out, m_entry.bStored ? 0 : 8);
        Put16(&m_out, 0);        // time
        Put16(&m_out, 0x5921);   // date: 2024-09-01
        m_entry.offHeaderSizes = m_out.size();
        Put32(&m_out, 0);        // CRC-32
        Put32(&m_out, 0);        // compressed size
        Put32(&m_out, 0);        // uncompressed size
        Put16(&m_out, (uint32_t)name.size());
        Put16(&m_out, m_writer.m_bZip64 ? 20 : 0);
        m_out += name;
        if (m_writer.m_bZip64) {
            Put16(&m_out, 0x0001);
            Put16(&m_out, 16);
            m_entry.offExtraSizes = m_out.size();
            Put64(&m_out, 0);
            Put64(&m_out, 0);
        }
        m_entry.offData = m_out.size();
        if (!m_entry.bStored) {
            deflateInit2(&m_stream, nLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
            m_bOpen = true;
        }
        m_pending.clear();
    }

    void Put(const char* p, size_t cb)
    {
        m_pending.append(p, cb);
        if (m_pending.size() >= (1u << 16))
            Flush(false);
    }
    void Put(const std::string& text) { Put(text.data(), text.size()); }

    void End()
    {
        Flush(true);
        if (m_bOpen) {
            deflateEnd(&m_stream);
            m_bOpen = false;
        }
        m_entry.cbCompressed = m_out.size() - m_entry.offData;
        auto claimed = m_writer.m_claimedSizes.find(m_entry.name);
        uint64_t cbClaimed = claimed == m_writer.m_claimedSizes.end() ? m_entry.cbUncompressed : claimed->second;
        m_entry.cbClaimed = cbClaimed;
        if (Contains(m_writer.m_damagedParts, m_entry.name) && m_entry.cbCompressed > 0)
            m_out[m_entry.offData] = (char)0xFF;
        Set32(&m_out, m_entry.offHeaderSizes, m_entry.crc);
        if (m_writer.m_bZip64) {
            Set32(&m_out, m_entry.offHeaderSizes + 4, 0xFFFFFFFFu);
            Set32(&m_out, m_entry.offHeaderSizes + 8, 0xFFFFFFFFu);
            Set64(&m_out, m_entry.offExtraSizes, cbClaimed);
            Set64(&m_out, m_entry.offExtraSizes + 8, m_entry.cbCompressed);
        } else {
            Set32(&m_out, m_entry.offHeaderSizes + 4, (uint32_t)m_entry.cbCompressed);
            Set32(&m_out, m_entry.offHeaderSizes + 8, (uint32_t)cbClaimed);
        }
        m_entries.push_back(m_entry);
    }

    std::string Finish()
    {
        bool bZip64 = m_writer.m_bZip64;
        uint64_t offDirectory = m_out.size();
        for (const Entry& entry : m_entries) {
            Put32(&m_out, 0x02014b50u);
            Put16(&m_out, bZip64 ? 45 : 20);   // made by
            Put16(&m_out, bZip64 ? 45 : 20);   // needed
            Put16(&m_out, entry.flags);
            Put16(&m_out, entry.bStored ? 0 : 8);
            Put16(&m_out, 0);
            Put16(&m_out, 0x5921);
            Put32(&m_out, entry.crc);
            Put32(&m_out, bZip64 ? 0xFFFFFFFFu : (uint32_t)entry.cbCompressed);
            Put32(&m_out, bZip64 ? 0xFFFFFFFFu : (uint32_t)entry.cbClaimed);
            Put16(&m_out, (uint32_t)entry.name.size());
            Put16(&m_out, bZip64 ? 28 : 0);
            Put16(&m_out, 0);   // comment
            Put16(&m_out, 0);   // disk
            Put16(&m_out, 0);   // internal attributes
            Put32(&m_out, 0);   // external attributes
            Put32(&m_out, bZip64 ? 0xFFFFFFFFu : (uint32_t)entry.offset);
            m_out += entry.name;
            if (bZip64) {
                Put16(&m_out, 0x0001);
                Put16(&m_out, 24);
                Put64(&m_out, entry.cbClaimed);
                Put64(&m_out, entry.cbCompressed);
                Put64(&m_out, entry.offset);
            }
        }
        uint64_t cbDirectory = m_out.size() - offDirectory;
        if (bZip64) {
            uint64_t offEnd64 = m_out.size();
            Put32(&m_out, 0x06064b50u);
            Put64(&m_out, 44);   // the record's size after this field
            Put16(&m_out, 45);
            Put16(&m_out, 45);
            Put32(&m_out, 0);
            Put32(&m_out, 0);
            Put64(&m_out, m_entries.size());
            Put64(&m_out, m_entries.size());
            Put64(&m_out, cbDirectory);
            Put64(&m_out, offDirectory);
            Put32(&m_out, 0x07064b50u);
            Put32(&m_out, 0);
            Put64(&m_out, offEnd64);
            Put32(&m_out, 1);
        }
        Put32(&m_out, 0x06054b50u);
        Put16(&m_out, 0);
        Put16(&m_out, 0);
        Put16(&m_out, bZip64 ? 0xFFFF : (uint32_t)m_entries.size());
        Put16(&m_out, bZip64 ? 0xFFFF : (uint32_t)m_entries.size());
        Put32(&m_out, bZip64 ? 0xFFFFFFFFu : (uint32_t)cbDirectory);
        Put32(&m_out, bZip64 ? 0xFFFFFFFFu : (uint32_t)offDirectory);
        Put16(&m_out, 0);
        return std::move(m_out);
    }

private:
    struct Entry {
        std::string name;
        uint32_t flags = 0, crc = 0;
        bool bStored = false;
        uint64_t offset = 0, offHeaderSizes = 0, offExtraSizes = 0, offData = 0;
        uint64_t cbCompressed = 0, cbUncompressed = 0, cbClaimed = 0;
    };

    void Flush(bool bFinish)
    {
        m_entry.crc = (uint32_t)crc32(m_entry.crc, (const Bytef*)m_pending.data(), (uInt)m_pending.size());
        m_entry.cbUncompressed += m_pending.size();
        if (m_entry.bStored) {
            m_out += m_pending;
        } else {
            m_stream.next_in = (Bytef*)m_pending.data();
            m_stream.avail_in = (uInt)m_pending.size();
            unsigned char abOut[1 << 16];
            int nZ;
            do {
                m_stream.next_out = abOut;
                m_stream.avail_out = sizeof(abOut);
                nZ = deflate(&m_stream, bFinish ? Z_FINISH : Z_NO_FLUSH);
                m_out.append((const char*)abOut, sizeof(abOut) - m_stream.avail_out);
            } while (m_stream.avail_out == 0 || (bFinish && nZ != Z_STREAM_END));
        }
        m_pending.clear();
    }

    const XlsxWriter& m_writer;
    std::string m_out;
    std::vector<Entry> m_entries;
    Entry m_entry;
    z_stream m_stream;
    bool m_bOpen;
    std::string m_pending;
};

XlsxWriter::XlsxWriter()
    : m_workbookPart("xl/workbook.xml"), m_b1904(false), m_bAbsoluteTargets(false), m_bStored(false), m_bZip64(false)
{
}

void XlsxWriter::AddSheet(const std::string& name, const std::vector<XlsxRow>& rows)
{
    AddGeneratedSheet(name, (int)rows.size(), [rows](int i) { return rows[i]; });
}

void XlsxWriter::AddGeneratedSheet(const std::string& name, int nRows, std::function<XlsxRow(int)> makeRow)
{
    m_sheets.push_back(Sheet{ name, false, nRows, std::move(makeRow) });
}

void XlsxWriter::AddChartSheet(const std::string& name)
{
    m_sheets.push_back(Sheet{ name, true, 0, nullptr });
}

int XlsxWriter::AddCellFormat(int nNumFmtId)
{
    m_cellFormats.push_back(nNumFmtId);
    return (int)m_cellFormats.size();
}

int XlsxWriter::AddNumberFormat(const std::string& code)
{
    m_customFormats.push_back(code);
    return AddCellFormat(163 + (int)m_customFormats.size());
}

int XlsxWriter::AddSharedStringXml(const std::string& siXml)
{
    m_rawSharedStrings.push_back(siXml);
    return (int)m_rawSharedStrings.size() - 1;
}

void XlsxWriter::SetPart(const std::string& name, const std::string& bytes)
{
    m_setParts[name] = bytes;
}

void XlsxWriter::RemovePart(const std::string& name)
{
    m_removedParts.push_back(name);
}

void XlsxWriter::SetRepeatedPart(const std::string& name, const std::string& head, const std::string& unit,
                                 uint64_t nRepeats, const std::string& tail)
{
    m_repeatedParts[name] = Repeated{ head, unit, tail, nRepeats };
}

void XlsxWriter::SetClaimedSize(const std::string& name, uint64_t cbClaimed)
{
    m_claimedSizes[name] = cbClaimed;
}

void XlsxWriter::DamagePart(const std::string& name)
{
    m_damagedParts.push_back(name);
}

void XlsxWriter::SetEncryptedFlag(const std::string& name)
{
    m_encryptedParts.push_back(name);
}

std::string XlsxWriter::SheetPart(size_t nSheet) const
{
    // Numbered within their kind, as Excel numbers them.
    int nNumber = 0;
    for (size_t i = 0; i <= nSheet; ++i)
        nNumber += m_sheets[i].bChart == m_sheets[nSheet].bChart;
    return std::string(m_sheets[nSheet].bChart ? "xl/chartsheets/sheet" : "xl/worksheets/sheet") +
           std::to_string(nNumber) + ".xml";
}

std::string XlsxWriter::Target(const std::string& sourceFolder, const std::string& part) const
{
    if (m_bAbsoluteTargets || part.compare(0, sourceFolder.size(), sourceFolder) != 0)
        return "/" + part;
    return part.substr(sourceFolder.size());
}

void XlsxWriter::WriteParts(Zip* pZip) const
{
    std::vector<std::string> written;
    // A part the writer makes, unless a knob put other bytes in its place
    // or left it out; the content comes from write().
    auto part = [&](const std::string& name, const std::function<void()>& write) {
        written.push_back(name);
        if (Contains(m_removedParts, name))
            return;
        auto set = m_setParts.find(name);
        auto repeated = m_repeatedParts.find(name);
        pZip->Begin(name, repeated != m_repeatedParts.end() ? Z_BEST_SPEED : Z_DEFAULT_COMPRESSION);
        if (set != m_setParts.end()) {
            pZip->Put(set->second);
        } else if (repeated != m_repeatedParts.end()) {
            const Repeated& r = repeated->second;
            pZip->Put(r.head);
            for (uint64_t i = 0; i < r.nRepeats; ++i)
                pZip->Put(r.unit);
            pZip->Put(r.tail);
        } else {
            write();
        }
        pZip->End();
    };

    std::string workbookFolder = m_workbookPart.substr(0, m_workbookPart.rfind('/') + 1);
    std::string workbookRels =
        workbookFolder + "_rels/" + m_workbookPart.substr(workbookFolder.size()) + ".rels";
    std::string stylesPart = workbookFolder + "styles.xml";
    std::string sharedStringsPart = workbookFolder + "sharedStrings.xml";

    part("[Content_Types].xml", [&] {
        std::string xml = kszXmlDeclaration;
        xml += "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
               "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
               "<Default Extension=\"xml\" ContentType=\"application/xml\"/>";
        xml += "<Override PartName=\"/" + m_workbookPart +
               "\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>";
        for (size_t i = 0; i < m_sheets.size(); ++i) {
            xml += "<Override PartName=\"/" + SheetPart(i) +
                   "\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml." +
                   (m_sheets[i].bChart ? "chartsheet" : "worksheet") + "+xml\"/>";
        }
        xml += "</Types>";
        pZip->Put(xml);
    });
    part("_rels/.rels", [&] {
        std::string xml = kszXmlDeclaration;
        xml += std::string("<Relationships xmlns=\"") + kszPackageRelationshipsNamespace + "\">";
        xml += "<Relationship Id=\"rId2\" Type=\"http://schemas.openxmlformats.org/package/2006/relationships/"
               "metadata/core-properties\" Target=\"docProps/core.xml\"/>";
        xml += "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
               "officeDocument\" Target=\"" + Target("", m_workbookPart) + "\"/>";
        xml += "</Relationships>";
        pZip->Put(xml);
    });
    part("docProps/core.xml", [&] {
        pZip->Put(std::string(kszXmlDeclaration) +
                  "<cp:coreProperties xmlns:cp=\"http://schemas.openxmlformats.org/package/2006/metadata/core-properties\" "
                  "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:creator>Lettercast tests</dc:creator>"
                  "</cp:coreProperties>");
    });
    part(m_workbookPart, [&] {
        std::string xml = kszXmlDeclaration;
        xml += std::string("<workbook xmlns=\"") + kszMainNamespace + "\" xmlns:r=\"" + kszRelationshipsNamespace + "\">";
        xml += m_b1904 ? "<workbookPr date1904=\"1\"/>" : "<workbookPr defaultThemeVersion=\"164011\"/>";
        xml += "<bookViews><workbookView activeTab=\"0\"/></bookViews><sheets>";
        for (size_t i = 0; i < m_sheets.size(); ++i) {
            xml += "<sheet name=\"" + Escaped(m_sheets[i].name) + "\" sheetId=\"" + std::to_string(i + 1) +
                   "\" r:id=\"rId" + std::to_string(i + 1) + "\"/>";
        }
        xml += "</sheets><calcPr calcId=\"191029\"/></workbook>";
        pZip->Put(xml);
    });
    part(workbookRels, [&] {
        std::string xml = kszXmlDeclaration;
        xml += std::string("<Relationships xmlns=\"") + kszPackageRelationshipsNamespace + "\">";
        const std::string type = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
        size_t n = m_sheets.size();
        xml += "<Relationship Id=\"rId" + std::to_string(n + 1) + "\" Type=\"" + type + "styles\" Target=\"" +
               Target(workbookFolder, stylesPart) + "\"/>";
        for (size_t i = 0; i < n; ++i) {
            xml += "<Relationship Id=\"rId" + std::to_string(i + 1) + "\" Type=\"" + type +
                   (m_sheets[i].bChart ? "chartsheet" : "worksheet") + "\" Target=\"" +
                   Target(workbookFolder, SheetPart(i)) + "\"/>";
        }
        xml += "<Relationship Id=\"rId" + std::to_string(n + 2) + "\" Type=\"" + type + "sharedStrings\" Target=\"" +
               Target(workbookFolder, sharedStringsPart) + "\"/>";
        xml += "</Relationships>";
        pZip->Put(xml);
    });
    part(stylesPart, [&] {
        std::string xml = kszXmlDeclaration;
        xml += std::string("<styleSheet xmlns=\"") + kszMainNamespace + "\">";
        if (!m_customFormats.empty()) {
            xml += "<numFmts count=\"" + std::to_string(m_customFormats.size()) + "\">";
            for (size_t i = 0; i < m_customFormats.size(); ++i) {
                xml += "<numFmt numFmtId=\"" + std::to_string(164 + i) + "\" formatCode=\"" +
                       Escaped(m_customFormats[i]) + "\"/>";
            }
            xml += "</numFmts>";
        }
        // Two cell style formats with a date format, and a conditional
        // format's own numFmt 164: none of them is a cell's.
        xml += "<fonts count=\"1\"><font><sz val=\"11\"/><name val=\"Calibri\"/></font></fonts>"
               "<fills count=\"1\"><fill><patternFill patternType=\"none\"/></fill></fills>"
               "<borders count=\"1\"><border/></borders>"
               "<cellStyleXfs count=\"2\"><xf numFmtId=\"14\" fontId=\"0\"/><xf numFmtId=\"14\" fontId=\"0\"/>"
               "</cellStyleXfs>";
        xml += "<cellXfs count=\"" + std::to_string(m_cellFormats.size() + 1) + "\"><xf numFmtId=\"0\" xfId=\"0\"/>";
        for (int nId : m_cellFormats)
            xml += "<xf numFmtId=\"" + std::to_string(nId) + "\" xfId=\"0\" applyNumberFormat=\"1\"/>";
        xml += "</cellXfs><cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"
               "<dxfs count=\"1\"><dxf><numFmt numFmtId=\"164\" formatCode=\"&quot;dxf&quot;0\"/></dxf></dxfs>"
               "</styleSheet>";
        pZip->Put(xml);
    });

    // The shared strings: those given as XML first, then each text of the
    // sheets' cells once, in the order met.
    std::vector<std::string> sharedTexts;
    std::unordered_map<std::string, size_t> sharedIndex;
    for (size_t i = 0; i < m_sheets.size(); ++i) {
        const Sheet& sheet = m_sheets[i];
        part(SheetPart(i), [&] {
            if (sheet.bChart) {
                pZip->Put(std::string(kszXmlDeclaration) + "<chartsheet xmlns=\"" + kszMainNamespace + "\" xmlns:r=\"" +
                          kszRelationshipsNamespace + "\"><sheetPr/><sheetViews><sheetView workbookViewId=\"0\"/>"
                          "</sheetViews></chartsheet>");
                return;
            }
            pZip->Put(std::string(kszXmlDeclaration) + "<worksheet xmlns=\"" + kszMainNamespace + "\" xmlns:r=\"" +
                      kszRelationshipsNamespace + "\"><dimension ref=\"A1\"/><sheetViews><sheetView workbookViewId=\"0\"/>"
                      "</sheetViews><sheetFormatPr defaultRowHeight=\"15\"/><sheetData>");
            std::string xml;
            for (int r = 0; r < sheet.nRows; ++r) {
                XlsxRow row = sheet.makeRow(r);
                xml = row.number ? "<row r=\"" + std::to_string(row.number) + "\">" : std::string("<row>");
                for (const XlsxCell& cell : row.cells) {
                    xml += "<c";
                    if (!cell.ref.empty())
                        xml += " r=\"" + cell.ref + "\"";
                    if (cell.style >= 0)
                        xml += " s=\"" + std::to_string(cell.style) + "\"";
                    if (cell.type != XlsxNoValue)
                        xml += CellTypeAttribute(cell.type);
                    xml += ">";
                    if (!cell.formula.empty())
                        xml += "<f>" + Escaped(cell.formula) + "</f>";
                    if (cell.type == XlsxShared) {
                        auto it = sharedIndex.find(cell.value);
                        if (it == sharedIndex.end()) {
                            it = sharedIndex.emplace(cell.value, m_rawSharedStrings.size() + sharedTexts.size()).first;
                            sharedTexts.push_back(cell.value);
                        }
                        xml += "<v>" + std::to_string(it->second) + "</v>";
                    } else if (cell.type == XlsxInline) {
                        xml += "<is>" + TextElement(cell.value) + "</is>";
                    } else if (cell.type != XlsxNoValue) {
                        xml += "<v>" + Escaped(cell.value) + "</v>";
                    }
                    xml += "</c>";
                }
                xml += "</row>";
                pZip->Put(xml);
            }
            pZip->Put("</sheetData><pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" "
                      "footer=\"0.3\"/></worksheet>");
        });
    }
    part(sharedStringsPart, [&] {
        size_t nCount = m_rawSharedStrings.size() + sharedTexts.size();
        pZip->Put(std::string(kszXmlDeclaration) + "<sst xmlns=\"" + kszMainNamespace + "\" count=\"" +
                  std::to_string(nCount) + "\" uniqueCount=\"" + std::to_string(nCount) + "\">");
        for (const std::string& siXml : m_rawSharedStrings)
            pZip->Put("<si>" + siXml + "</si>");
        for (const std::string& text : sharedTexts)
            pZip->Put("<si>" + TextElement(text) + "</si>");
        pZip->Put("</sst>");
    });

    // Parts the knobs add that the writer does not make itself.
    for (const auto& set : m_setParts) {
        if (!Contains(written, set.first))
            part(set.first, [] {});
    }
    for (const auto& repeated : m_repeatedParts) {
        if (!Contains(written, repeated.first))
            part(repeated.first, [] {});
    }
}

std::string XlsxWriter::Bytes() const
{
    Zip zip(*this);
    WriteParts(&zip);
    return zip.Finish();
}

bool XlsxWriter::WriteFile(const std::string& path) const
{
    std::string bytes = Bytes();
    FILE* pFile = fopen(path.c_str(), "wb");
    if (!pFile)
        return false;
    bool bWritten = fwrite(bytes.data(), 1, bytes.size(), pFile) == bytes.size();
    return fclose(pFile) == 0 && bWritten;
}

std::string XlsxWriter::CompoundFile(bool bEncrypted)
{
    static const unsigned char kabSignature[8] = { 0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1 };
    std::string bytes((const char*)kabSignature, sizeof(kabSignature));
    bytes.resize(512, '\0');
    // A directory entry's name, as the compound file stores it.
    const char* pszName = bEncrypted ? "EncryptedPackage" : "Workbook";
    for (const char* p = pszName; *p; ++p) {
        bytes += *p;
        bytes += '\0';
    }
    bytes.resize(1024, '\0');
    return bytes;
}
