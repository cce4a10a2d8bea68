// The workbook reader: the package's relationships to the workbook part,
// its sheets, styles and shared strings at Open, then one worksheet streamed
// row by row through the cells' number formats.
#include "mailing/workbook_reader.h"

#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <new>
#include <unordered_map>

#include "mailing/workbook_xml.h"
#include "mailing/workbook_zip.h"

#ifdef _WIN32
#include "mailing/list_reader.h"
#endif

// Excel's own limits: a reference past them is none Excel wrote.
#define LC_SHEET_MAX_ROWS 1048576
#define LC_SHEET_MAX_COLUMNS 16384

namespace {

const char kszFallbackWorkbookPart[] = "xl/workbook.xml";
const char kszPackageRelationships[] = "_rels/.rels";

struct Relationship {
    std::string strId;
    std::string strType;
    std::string strTarget;   // the part it names, resolved against its source
};

bool EndsWith(const std::string& text, const char* pszEnd)
{
    size_t cch = strlen(pszEnd);
    return text.size() >= cch && text.compare(text.size() - cch, cch, pszEnd) == 0;
}

bool EqualsFolded(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char chA = a[i], chB = b[i];
        if (chA >= 'A' && chA <= 'Z')
            chA = (char)(chA - 'A' + 'a');
        if (chB >= 'A' && chB <= 'Z')
            chB = (char)(chB - 'A' + 'a');
        if (chA != chB)
            return false;
    }
    return true;
}

// The folder of a part name, with its slash: "xl/" for "xl/workbook.xml".
std::string FolderOf(const std::string& strPart)
{
    size_t nSlash = strPart.rfind('/');
    return nSlash == std::string::npos ? std::string() : strPart.substr(0, nSlash + 1);
}

// The relationships part of a part: "xl/_rels/workbook.xml.rels".
std::string RelationshipsOf(const std::string& strPart)
{
    std::string folder = FolderOf(strPart);
    return folder + "_rels/" + strPart.substr(folder.size()) + ".rels";
}

// A relationship's target as a part name: relative to the source's folder,
// or from the package's root when it starts with a slash; "." and ".."
// taken away, a fragment dropped.
std::string ResolveTarget(const std::string& strFolder, const std::string& strTarget)
{
    std::string path = strTarget.substr(0, strTarget.find('#'));
    std::replace(path.begin(), path.end(), '\\', '/');
    if (path.empty() || path[0] != '/')
        path = strFolder + path;
    std::vector<std::string> segments;
    size_t nStart = 0;
    while (nStart <= path.size()) {
        size_t nEnd = path.find('/', nStart);
        if (nEnd == std::string::npos)
            nEnd = path.size();
        std::string segment = path.substr(nStart, nEnd - nStart);
        if (segment == "..") {
            if (!segments.empty())
                segments.pop_back();
        } else if (!segment.empty() && segment != ".") {
            segments.push_back(segment);
        }
        nStart = nEnd + 1;
    }
    std::string resolved;
    for (const std::string& segment : segments) {
        if (!resolved.empty())
            resolved += '/';
        resolved += segment;
    }
    return resolved;
}

int HexDigit(char ch)
{
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return -1;
}

// A target's %XX escapes decoded, for a part name stored unescaped.
std::string PercentDecoded(const std::string& text)
{
    std::string decoded;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
            decoded += (char)(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

void PutUtf8(unsigned long nCode, std::string* pOut)
{
    if (nCode < 0x80) {
        *pOut += (char)nCode;
    } else if (nCode < 0x800) {
        *pOut += (char)(0xC0 | (nCode >> 6));
        *pOut += (char)(0x80 | (nCode & 0x3F));
    } else if (nCode < 0x10000) {
        *pOut += (char)(0xE0 | (nCode >> 12));
        *pOut += (char)(0x80 | ((nCode >> 6) & 0x3F));
        *pOut += (char)(0x80 | (nCode & 0x3F));
    } else {
        *pOut += (char)(0xF0 | (nCode >> 18));
        *pOut += (char)(0x80 | ((nCode >> 12) & 0x3F));
        *pOut += (char)(0x80 | ((nCode >> 6) & 0x3F));
        *pOut += (char)(0x80 | (nCode & 0x3F));
    }
}

// The UTF-16 code unit of an escape "_xHHHH_" at text[i], -1 if none is there.
long EscapeAt(const std::string& text, size_t i)
{
    if (i + 7 > text.size() || text[i] != '_' || text[i + 1] != 'x' || text[i + 6] != '_')
        return -1;
    long nCode = 0;
    for (size_t j = i + 2; j < i + 6; ++j) {
        int nDigit = HexDigit(text[j]);
        if (nDigit < 0)
            return -1;
        nCode = nCode * 16 + nDigit;
    }
    return nCode;
}

// A string's "_xHHHH_" escapes, through which a workbook stores characters
// XML cannot hold (_x000D_ a CR, which XML would turn into a LF) and a
// literal "_x" (_x005F_ the underscore before it), as the characters they
// stand for; a surrogate pair as two escapes, U+0000 dropped.
void DecodeEscapes(std::string* pText)
{
    if (pText->find("_x") == std::string::npos)
        return;
    const std::string& text = *pText;
    std::string decoded;
    decoded.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        long nCode = EscapeAt(text, i);
        if (nCode < 0) {
            decoded += text[i++];
            continue;
        }
        i += 7;
        if (nCode >= 0xD800 && nCode <= 0xDBFF) {
            long nLow = EscapeAt(text, i);
            if (nLow >= 0xDC00 && nLow <= 0xDFFF) {
                i += 7;
                PutUtf8(0x10000 + ((unsigned long)(nCode - 0xD800) << 10) + (unsigned long)(nLow - 0xDC00), &decoded);
            } else {
                PutUtf8(0xFFFD, &decoded);
            }
        } else if (nCode >= 0xDC00 && nCode <= 0xDFFF) {
            PutUtf8(0xFFFD, &decoded);
        } else if (nCode != 0) {
            PutUtf8((unsigned long)nCode, &decoded);
        }
    }
    pText->swap(decoded);
}

// The problem as a message can show it: part names come from the zip as
// bytes, in no known encoding, so whatever is not UTF-8 text, and any
// control character, becomes '?'.
void MakeReadable(std::string* pText)
{
    std::string& text = *pText;
    for (size_t i = 0; i < text.size();) {
        unsigned char ch = (unsigned char)text[i];
        size_t cb = ch < 0x80 ? 1 : (ch & 0xE0) == 0xC0 && ch >= 0xC2 ? 2 : (ch & 0xF0) == 0xE0 ? 3
                  : (ch & 0xF8) == 0xF0 && ch <= 0xF4 ? 4 : 0;
        bool bValid = cb > 0 && i + cb <= text.size();
        for (size_t j = 1; bValid && j < cb; ++j)
            bValid = ((unsigned char)text[i + j] & 0xC0) == 0x80;
        if (bValid && cb == 3) {
            unsigned char chNext = (unsigned char)text[i + 1];
            bValid = !(ch == 0xE0 && chNext < 0xA0) && !(ch == 0xED && chNext >= 0xA0);
        } else if (bValid && cb == 4) {
            unsigned char chNext = (unsigned char)text[i + 1];
            bValid = !(ch == 0xF0 && chNext < 0x90) && !(ch == 0xF4 && chNext >= 0x90);
        }
        if (!bValid || ch < 0x20 || ch == 0x7F) {
            text[i++] = '?';
            continue;
        }
        i += cb;
    }
}

// A whole number of decimal digits alone, at most nMax; -1 otherwise.
long ParseIndex(const std::string& text, long nMax)
{
    if (text.empty())
        return -1;
    long n = 0;
    for (char ch : text) {
        if (ch < '0' || ch > '9' || n > (nMax - (ch - '0')) / 10)
            return -1;
        n = n * 10 + (ch - '0');
    }
    return n;
}

bool IsXmlBlank(char ch)
{
    return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n';
}

// A cell's number as XML writes it ("1234.5", "-1E-3"), read whatever
// decimal sign the C runtime's locale has; false for any other text.
bool ParseNumber(const std::string& text, char chDecimal, double* pValue)
{
    size_t nStart = 0, nEnd = text.size();
    while (nStart < nEnd && IsXmlBlank(text[nStart]))
        ++nStart;
    while (nEnd > nStart && IsXmlBlank(text[nEnd - 1]))
        --nEnd;
    if (nStart == nEnd || nEnd - nStart > 64)
        return false;
    char szNumber[72];
    bool bDigit = false;
    for (size_t i = nStart; i < nEnd; ++i) {
        char ch = text[i];
        if (ch >= '0' && ch <= '9')
            bDigit = true;
        else if (ch != '.' && ch != '-' && ch != '+' && ch != 'e' && ch != 'E')
            return false;
        szNumber[i - nStart] = ch == '.' ? chDecimal : ch;
    }
    szNumber[nEnd - nStart] = '\0';
    if (!bDigit)
        return false;
    char* pszEnd;
    double dValue = strtod(szNumber, &pszEnd);
    if (*pszEnd != '\0' || dValue != dValue || dValue - dValue != 0)
        return false;
    *pValue = dValue;
    return true;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
long DaysFromCivil(long nYear, long nMonth, long nDay)
{
    nYear -= nMonth <= 2;
    long nEra = (nYear >= 0 ? nYear : nYear - 399) / 400;
    long nYearOfEra = nYear - nEra * 400;
    long nDayOfYear = (153 * (nMonth + (nMonth > 2 ? -3 : 9)) + 2) / 5 + nDay - 1;
    long nDayOfEra = nYearOfEra * 365 + nYearOfEra / 4 - nYearOfEra / 100 + nDayOfYear;
    return nEra * 146097 + nDayOfEra - 719468;
}

bool ReadDigits(const char*& p, int nCount, long* pValue)
{
    long n = 0;
    for (int i = 0; i < nCount; ++i, ++p) {
        if (*p < '0' || *p > '9')
            return false;
        n = n * 10 + (*p - '0');
    }
    *pValue = n;
    return true;
}

// An ISO 8601 date, date and time or time ("2023-03-15", "2023-03-15T08:30:00Z",
// "08:30:00") as the serial Excel keeps it: days since the date system's
// start, the time as the day's fraction. In the 1900 system Excel counts
// 1900 as a leap year, so from March 1900 on each day is one more.
bool ParseIsoDate(const std::string& text, bool b1904, double* pSerial)
{
    const char* p = text.c_str();
    double dSerial = 0;
    long nYear, nMonth, nDay;
    if (ReadDigits(p, 4, &nYear) && *p == '-') {
        ++p;
        if (!ReadDigits(p, 2, &nMonth) || *p++ != '-' || !ReadDigits(p, 2, &nDay))
            return false;
        if (nMonth < 1 || nMonth > 12 || nDay < 1 || nDay > 31)
            return false;
        long nDays = DaysFromCivil(nYear, nMonth, nDay);
        if (b1904) {
            dSerial = (double)(nDays - DaysFromCivil(1904, 1, 1));
        } else {
            dSerial = (double)(nDays - DaysFromCivil(1899, 12, 30));
            if (nDays < DaysFromCivil(1900, 3, 1))
                dSerial -= 1;
        }
        if (*p == 'T')
            ++p;
        else if (*p == '\0')
            return *pSerial = dSerial, true;
    } else {
        p = text.c_str();
        if (*p == 'T')
            ++p;
    }
    long nHour, nMinute, nSecond = 0;
    if (!ReadDigits(p, 2, &nHour) || *p++ != ':' || !ReadDigits(p, 2, &nMinute))
        return false;
    double dFraction = 0;
    if (*p == ':') {
        ++p;
        if (!ReadDigits(p, 2, &nSecond))
            return false;
        if (*p == '.' || *p == ',') {
            double dScale = 0.1;
            for (++p; *p >= '0' && *p <= '9'; ++p, dScale /= 10)
                dFraction += (*p - '0') * dScale;
        }
    }
    // A zone is left as it stands: Excel shows the time as written.
    if (*p == 'Z')
        ++p;
    else if (*p == '+' || *p == '-')
        p += strlen(p) >= 6 && p[3] == ':' ? 6 : strlen(p);
    if (*p != '\0' || nHour > 24 || nMinute > 59 || nSecond > 60)
        return false;
    dSerial += (nHour * 3600.0 + nMinute * 60.0 + nSecond + dFraction) / 86400.0;
    *pSerial = dSerial;
    return true;
}

// A cell reference's column ("B7" 2, "XFD1" 16384): 0 when it starts with
// no letter, -1 past Excel's last column.
int ColumnOf(const std::string& ref)
{
    int nColumn = 0;
    for (char ch : ref) {
        if (ch >= 'a' && ch <= 'z')
            ch = (char)(ch - 'a' + 'A');
        if (ch < 'A' || ch > 'Z')
            break;
        nColumn = nColumn * 26 + (ch - 'A' + 1);
        if (nColumn > LC_SHEET_MAX_COLUMNS)
            return -1;
    }
    return nColumn;
}

bool IsGeneral(const std::string& strCode)
{
    return strCode.empty() || EqualsFolded(strCode, "General");
}

// The cell types of a worksheet's c elements.
enum CellType { CellNumber, CellShared, CellInline, CellFormulaText, CellBoolean, CellError, CellDate };

CellType CellTypeOf(const std::string* pType)
{
    if (!pType || pType->empty() || *pType == "n")
        return CellNumber;
    if (*pType == "s")
        return CellShared;
    if (*pType == "inlineStr")
        return CellInline;
    if (*pType == "str")
        return CellFormulaText;
    if (*pType == "b")
        return CellBoolean;
    if (*pType == "e")
        return CellError;
    if (*pType == "d")
        return CellDate;
    return CellNumber;
}

}  // namespace

// A part read through the XML library: its inflating source and its reader,
// and the result once the reading ends.
class PartReading {
public:
    PartReading() {}
    PartReading(const PartReading&) = delete;
    PartReading& operator=(const PartReading&) = delete;

    int Start(const WorkbookZip& zip, const WorkbookZipEntry& entry, uint64_t cbLimit, WorkbookXmlLibrary* pLibrary,
              std::string* pProblem)
    {
        m_strPart = entry.strName;
        int nResult = m_source.Open(zip, entry, cbLimit);
        if (nResult != WorkbookOk) {
            *pProblem = m_source.Problem();
            return nResult;
        }
        m_pReader = pLibrary->Read(&m_source);
        return m_pReader ? WorkbookOk : WorkbookNoMemory;
    }

    WorkbookXmlReader* Reader() const { return m_pReader.get(); }

    // The result once the reader gave nNode, Done or Error. The rest of the
    // bytes is read either way: damaged data, or a part past the limit,
    // reads as broken XML first, and its CRC-32 or its size tells the real
    // fault, which is told before the XML's.
    int End(int nNode, std::string* pProblem)
    {
        if (m_source.Finish() == WorkbookOk && nNode == WorkbookXmlDone)
            return WorkbookOk;
        if (m_source.Result() != WorkbookOk) {
            *pProblem = m_source.Problem();
            return m_source.Result();
        }
        *pProblem = m_strPart + ": not well-formed XML";
        return WorkbookDamaged;
    }

private:
    std::string m_strPart;
    WorkbookPartSource m_source;
    std::unique_ptr<WorkbookXmlReader> m_pReader;
};

struct Workbook::Impl {
    Impl() : b1904(false) {}

    void Clear();
    int Opened(int nResult);
    int OpenFileBytes(std::vector<unsigned char>&& bytes);
    int StartPart(const std::string& strPart, PartReading* pReading,
                  uint64_t cbLimit = LC_WORKBOOK_PART_MAX_BYTES);
    int ReadRelationships(const std::string& strSource, bool* pbFound, std::vector<Relationship>* pRelationships);
    int ReadWorkbookPart(const std::string& strPart, std::vector<std::pair<std::string, std::string>>* pSheetIds);
    int ReadStyles(const std::string& strPart);
    int ReadSharedStrings(const std::string& strPart);
    int ReadSheetRows(int nSheet, const NumberLocale& locale, WorkbookRowSink* pSink);
    int MissingPart(const std::string& strPart);

    WorkbookZip zip;
    std::unique_ptr<WorkbookXmlLibrary> pXml;
    std::vector<WorkbookSheet> sheets;
    bool b1904;
    std::string strSharedStringsPart;
    // The shared strings end to end, each ending where sharedEnds says:
    // one block rather than a string object for each.
    std::string sharedText;
    std::vector<size_t> sharedEnds;
    std::vector<int> xfFormatIds;                       // cellXfs' numFmtId by index
    std::unordered_map<int, std::string> customFormats;  // numFmts by numFmtId
    std::vector<std::string> unrendered;
    std::string strProblem;
};

void Workbook::Impl::Clear()
{
    zip.Close();
    sheets.clear();
    b1904 = false;
    strSharedStringsPart.clear();
    sharedText.clear();
    sharedEnds.clear();
    xfFormatIds.clear();
    customFormats.clear();
    unrendered.clear();
    strProblem.clear();
}

// What an opening came to: a workbook that did not open has no sheets, and
// a problem only when it is damaged.
int Workbook::Impl::Opened(int nResult)
{
    if (nResult != WorkbookOk) {
        sheets.clear();
        b1904 = false;
    }
    if (nResult != WorkbookDamaged)
        strProblem.clear();
    MakeReadable(&strProblem);
    return nResult;
}

int Workbook::Impl::MissingPart(const std::string& strPart)
{
    strProblem = strPart + ": missing from the workbook";
    return WorkbookDamaged;
}

int Workbook::Impl::StartPart(const std::string& strPart, PartReading* pReading, uint64_t cbLimit)
{
    const WorkbookZipEntry* pEntry = zip.Find(strPart);
    if (!pEntry)
        return MissingPart(strPart);
    return pReading->Start(zip, *pEntry, cbLimit, pXml.get(), &strProblem);
}

// The relationships of part strSource ("" for the package's own), their
// targets resolved; *pbFound false, and none, when it has no relationships part.
int Workbook::Impl::ReadRelationships(const std::string& strSource, bool* pbFound,
                                      std::vector<Relationship>* pRelationships)
{
    pRelationships->clear();
    std::string strPart = strSource.empty() ? std::string(kszPackageRelationships) : RelationshipsOf(strSource);
    *pbFound = zip.Find(strPart) != NULL;
    if (!*pbFound)
        return WorkbookOk;
    PartReading reading;
    int nResult = StartPart(strPart, &reading);
    if (nResult != WorkbookOk)
        return nResult;
    WorkbookXmlReader* pReader = reading.Reader();
    std::string strFolder = FolderOf(strSource);
    int nNode;
    while ((nNode = pReader->Next()) != WorkbookXmlDone && nNode != WorkbookXmlError) {
        if (nNode != WorkbookXmlStart || pReader->Name() != "Relationship")
            continue;
        const std::string* pTarget = pReader->Attribute("Target");
        const std::string* pMode = pReader->Attribute("TargetMode");
        if (!pTarget || (pMode && *pMode == "External"))
            continue;
        const std::string* pId = pReader->Attribute("Id");
        const std::string* pType = pReader->Attribute("Type");
        Relationship relationship;
        relationship.strId = pId ? *pId : std::string();
        relationship.strType = pType ? *pType : std::string();
        relationship.strTarget = ResolveTarget(strFolder, *pTarget);
        pRelationships->push_back(std::move(relationship));
    }
    return reading.End(nNode, &strProblem);
}

// The zip's entry name for a relationship's target: as it stands, else
// with its %XX escapes decoded; "" when neither is there.
static std::string FindTargetPart(const WorkbookZip& zip, const std::string& strTarget)
{
    const WorkbookZipEntry* pEntry = zip.Find(strTarget);
    if (!pEntry)
        pEntry = zip.Find(PercentDecoded(strTarget));
    return pEntry ? pEntry->strName : std::string();
}

// workbookPr's date system and the sheets as (name, relationship id).
int Workbook::Impl::ReadWorkbookPart(const std::string& strPart,
                                     std::vector<std::pair<std::string, std::string>>* pSheetIds)
{
    PartReading reading;
    int nResult = StartPart(strPart, &reading);
    if (nResult != WorkbookOk)
        return nResult;
    WorkbookXmlReader* pReader = reading.Reader();
    bool bInSheets = false;
    int nNode;
    while ((nNode = pReader->Next()) != WorkbookXmlDone && nNode != WorkbookXmlError) {
        if (nNode == WorkbookXmlEnd && pReader->Name() == "sheets")
            bInSheets = false;
        if (nNode != WorkbookXmlStart)
            continue;
        if (pReader->Name() == "workbookPr") {
            const std::string* p1904 = pReader->Attribute("date1904");
            b1904 = p1904 && (*p1904 == "1" || *p1904 == "true" || *p1904 == "on");
        } else if (pReader->Name() == "sheets") {
            bInSheets = true;
        } else if (bInSheets && pReader->Name() == "sheet") {
            const std::string* pName = pReader->Attribute("name");
            const std::string* pId = pReader->Attribute("id");
            pSheetIds->emplace_back(pName ? *pName : std::string(), pId ? *pId : std::string());
        }
    }
    return reading.End(nNode, &strProblem);
}

int Workbook::Impl::ReadStyles(const std::string& strPart)
{
    PartReading reading;
    int nResult = StartPart(strPart, &reading);
    if (nResult != WorkbookOk)
        return nResult;
    WorkbookXmlReader* pReader = reading.Reader();
    // Only the numFmts and cellXfs lists count: the cell style formats and
    // the conditional formats hold xf and numFmt elements of their own.
    bool bInNumFmts = false, bInCellXfs = false;
    int nNode;
    while ((nNode = pReader->Next()) != WorkbookXmlDone && nNode != WorkbookXmlError) {
        const std::string& name = pReader->Name();
        if (nNode == WorkbookXmlEnd) {
            if (name == "numFmts")
                bInNumFmts = false;
            else if (name == "cellXfs")
                bInCellXfs = false;
            continue;
        }
        if (nNode != WorkbookXmlStart)
            continue;
        if (name == "numFmts") {
            bInNumFmts = true;
        } else if (name == "cellXfs") {
            bInCellXfs = true;
        } else if (bInNumFmts && name == "numFmt") {
            const std::string* pId = pReader->Attribute("numFmtId");
            const std::string* pCode = pReader->Attribute("formatCode");
            long nId = pId ? ParseIndex(*pId, 0x7FFFFFFF) : -1;
            if (nId >= 0 && pCode)
                customFormats[(int)nId] = *pCode;
        } else if (bInCellXfs && name == "xf") {
            const std::string* pId = pReader->Attribute("numFmtId");
            long nId = pId ? ParseIndex(*pId, 0x7FFFFFFF) : 0;
            xfFormatIds.push_back(nId < 0 ? 0 : (int)nId);
        }
    }
    return reading.End(nNode, &strProblem);
}

int Workbook::Impl::ReadSharedStrings(const std::string& strPart)
{
    PartReading reading;
    int nResult = StartPart(strPart, &reading);
    if (nResult != WorkbookOk)
        return nResult;
    WorkbookXmlReader* pReader = reading.Reader();
    // Depths of the elements the text is in (0: not in one). A string's text
    // is that of its t elements, of its runs' too, but not of its phonetic
    // runs (rPh), which only show how to read it.
    int nDepth = 0, nSiDepth = 0, nTDepth = 0, nPhoneticDepth = 0;
    std::string text;
    int nNode;
    while ((nNode = pReader->Next()) != WorkbookXmlDone && nNode != WorkbookXmlError) {
        if (nNode == WorkbookXmlStart) {
            ++nDepth;
            const std::string& name = pReader->Name();
            if (!nSiDepth) {
                if (name == "si") {
                    nSiDepth = nDepth;
                    text.clear();
                }
            } else if (name == "rPh") {
                if (!nPhoneticDepth)
                    nPhoneticDepth = nDepth;
            } else if (name == "t" && !nPhoneticDepth && !nTDepth) {
                nTDepth = nDepth;
            }
        } else if (nNode == WorkbookXmlEnd) {
            if (nDepth == nTDepth)
                nTDepth = 0;
            else if (nDepth == nPhoneticDepth)
                nPhoneticDepth = 0;
            else if (nDepth == nSiDepth) {
                nSiDepth = 0;
                DecodeEscapes(&text);
                sharedText += text;
                sharedEnds.push_back(sharedText.size());
            }
            --nDepth;
        } else if (nNode == WorkbookXmlText && nTDepth) {
            text += pReader->Text();
        }
    }
    return reading.End(nNode, &strProblem);
}

int Workbook::Impl::OpenFileBytes(std::vector<unsigned char>&& bytes)
{
    // An Excel 97-2003 workbook, and a workbook saved with a password, are
    // compound files; the latter holds its package in a stream of that name.
    static const unsigned char kabCompoundFile[8] = { 0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1 };
    if (bytes.size() >= sizeof(kabCompoundFile) && memcmp(bytes.data(), kabCompoundFile, 8) == 0) {
        static const char kszStream[] = "EncryptedPackage";
        unsigned char abStream[2 * (sizeof(kszStream) - 1)];
        for (size_t i = 0; i + 1 < sizeof(kszStream); ++i) {
            abStream[2 * i] = (unsigned char)kszStream[i];
            abStream[2 * i + 1] = 0;
        }
        bool bEncrypted = std::search(bytes.begin(), bytes.end(), abStream, abStream + sizeof(abStream)) != bytes.end();
        return bEncrypted ? WorkbookEncrypted : WorkbookOldFormat;
    }
    int nResult = zip.Open(std::move(bytes), &strProblem);
    if (nResult != WorkbookOk)
        return nResult;
    nResult = LoadWorkbookXmlLibrary(&pXml);
    if (nResult != WorkbookOk)
        return nResult;

    // The package's relationships name the workbook part; a package without
    // them, or without that one, has it where Excel puts it.
    bool bFound;
    std::vector<Relationship> relationships;
    nResult = ReadRelationships("", &bFound, &relationships);
    if (nResult != WorkbookOk)
        return nResult;
    std::string strWorkbookPart;
    for (const Relationship& relationship : relationships) {
        if (EndsWith(relationship.strType, "/officeDocument")) {
            strWorkbookPart = FindTargetPart(zip, relationship.strTarget);
            if (strWorkbookPart.empty())
                return MissingPart(relationship.strTarget);
            break;
        }
    }
    if (strWorkbookPart.empty())
        strWorkbookPart = kszFallbackWorkbookPart;

    std::vector<std::pair<std::string, std::string>> sheetIds;
    nResult = ReadWorkbookPart(strWorkbookPart, &sheetIds);
    if (nResult != WorkbookOk)
        return nResult;
    nResult = ReadRelationships(strWorkbookPart, &bFound, &relationships);
    if (nResult != WorkbookOk)
        return nResult;
    if (!bFound && !sheetIds.empty())
        return MissingPart(RelationshipsOf(strWorkbookPart));

    std::string strStylesPart;
    for (const Relationship& relationship : relationships) {
        if (EndsWith(relationship.strType, "/styles") && strStylesPart.empty())
            strStylesPart = relationship.strTarget;
        else if (EndsWith(relationship.strType, "/sharedStrings") && strSharedStringsPart.empty())
            strSharedStringsPart = relationship.strTarget;
    }
    // Only worksheets hold cells: chart sheets, dialog sheets and macro
    // sheets are left out.
    for (const std::pair<std::string, std::string>& sheetId : sheetIds) {
        const Relationship* pFound = NULL;
        for (const Relationship& relationship : relationships) {
            if (relationship.strId == sheetId.second) {
                pFound = &relationship;
                break;
            }
        }
        if (!pFound) {
            strProblem = strWorkbookPart + ": the sheet \"" + sheetId.first + "\" has no part";
            return WorkbookDamaged;
        }
        if (!EndsWith(pFound->strType, "/worksheet"))
            continue;
        WorkbookSheet sheet;
        sheet.strName = sheetId.first;
        sheet.strPart = FindTargetPart(zip, pFound->strTarget);
        if (sheet.strPart.empty())
            return MissingPart(pFound->strTarget);
        sheets.push_back(std::move(sheet));
    }
    if (sheets.empty())
        return WorkbookNoSheet;

    // Styles and shared strings may be left out of a workbook that needs
    // none; one that is named must be there.
    if (!strStylesPart.empty()) {
        std::string strPart = FindTargetPart(zip, strStylesPart);
        if (strPart.empty())
            return MissingPart(strStylesPart);
        nResult = ReadStyles(strPart);
        if (nResult != WorkbookOk)
            return nResult;
    }
    if (!strSharedStringsPart.empty()) {
        std::string strPart = FindTargetPart(zip, strSharedStringsPart);
        if (strPart.empty())
            return MissingPart(strSharedStringsPart);
        strSharedStringsPart = strPart;
        nResult = ReadSharedStrings(strPart);
        if (nResult != WorkbookOk)
            return nResult;
    }
    return WorkbookOk;
}

// The worksheet's sheetData streamed: each row's cells as Excel shows them,
// told to the sink as the row ends.
int Workbook::Impl::ReadSheetRows(int nSheet, const NumberLocale& locale, WorkbookRowSink* pSink)
{
    const WorkbookSheet& sheet = sheets[nSheet];
    // Every cell format's code, for this locale, by cellXfs index; a cell
    // without a format, or with one past the list, is General.
    std::vector<std::string> codes;
    codes.reserve(xfFormatIds.size());
    for (int nId : xfFormatIds) {
        auto it = customFormats.find(nId);
        codes.push_back(it != customFormats.end() ? it->second : BuiltInFormatCode(nId, locale));
    }
    std::vector<char> reported(codes.size(), 0);
    const std::string general = "General";
    char chDecimal = localeconv()->decimal_point[0];
    if (!chDecimal)
        chDecimal = '.';

    PartReading reading;
    int nResult = StartPart(sheet.strPart, &reading, LC_WORKBOOK_SHEET_MAX_BYTES);
    if (nResult != WorkbookOk)
        return nResult;
    WorkbookXmlReader* pReader = reading.Reader();

    std::vector<std::string> cells;
    std::string value, inlineText, shown;
    int nDepth = 0;
    int nSheetDataDepth = 0, nRowDepth = 0, nCellDepth = 0, nValueDepth = 0, nInlineDepth = 0, nTDepth = 0,
        nPhoneticDepth = 0;
    int nRow = 0, nColumn = 0;
    CellType type = CellNumber;
    long nStyle = 0;
    int nNode;
    while ((nNode = pReader->Next()) != WorkbookXmlDone && nNode != WorkbookXmlError) {
        if (nNode == WorkbookXmlText) {
            if (nValueDepth)
                value += pReader->Text();
            else if (nTDepth)
                inlineText += pReader->Text();
            continue;
        }
        if (nNode == WorkbookXmlStart) {
            ++nDepth;
            const std::string& name = pReader->Name();
            if (!nSheetDataDepth) {
                if (name == "sheetData")
                    nSheetDataDepth = nDepth;
            } else if (!nRowDepth) {
                if (name != "row")
                    continue;
                nRowDepth = nDepth;
                const std::string* pRef = pReader->Attribute("r");
                if (pRef) {
                    long n = ParseIndex(*pRef, LC_SHEET_MAX_ROWS);
                    if (n < 1) {
                        strProblem = sheet.strPart + ": a row number that is none of Excel's rows";
                        return WorkbookDamaged;
                    }
                    nRow = (int)n;
                } else if (++nRow > LC_SHEET_MAX_ROWS) {
                    strProblem = sheet.strPart + ": more rows than Excel's";
                    return WorkbookDamaged;
                }
                nColumn = 0;
                cells.clear();
            } else if (!nCellDepth) {
                if (name != "c")
                    continue;
                nCellDepth = nDepth;
                const std::string* pRef = pReader->Attribute("r");
                int n = pRef ? ColumnOf(*pRef) : nColumn + 1;
                if (n < 1 || n > LC_SHEET_MAX_COLUMNS) {
                    strProblem = sheet.strPart + ": a cell reference past Excel's columns";
                    return WorkbookDamaged;
                }
                nColumn = n;
                type = CellTypeOf(pReader->Attribute("t"));
                const std::string* pStyle = pReader->Attribute("s");
                nStyle = pStyle ? ParseIndex(*pStyle, 0x7FFFFFFF) : 0;
                value.clear();
                inlineText.clear();
            } else if (nDepth == nCellDepth + 1) {
                if (name == "v")
                    nValueDepth = nDepth;
                else if (name == "is")
                    nInlineDepth = nDepth;
            } else if (nInlineDepth) {
                if (name == "rPh") {
                    if (!nPhoneticDepth)
                        nPhoneticDepth = nDepth;
                } else if (name == "t" && !nPhoneticDepth && !nTDepth) {
                    nTDepth = nDepth;
                }
            }
            continue;
        }
        // An element's end: the innermost one open at this depth closes.
        if (nDepth == nTDepth) {
            nTDepth = 0;
        } else if (nDepth == nPhoneticDepth) {
            nPhoneticDepth = 0;
        } else if (nDepth == nValueDepth) {
            nValueDepth = 0;
        } else if (nDepth == nInlineDepth) {
            nInlineDepth = 0;
        } else if (nDepth == nCellDepth) {
            nCellDepth = 0;
            const std::string& code = nStyle >= 0 && (size_t)nStyle < codes.size() ? codes[nStyle] : general;
            shown.clear();
            double dValue;
            switch (type) {
            case CellShared: {
                long nIndex = ParseIndex(value, 0x7FFFFFFF);
                if (nIndex < 0 && !value.empty()) {
                    strProblem = sheet.strPart + ": a shared string index that is no number";
                    return WorkbookDamaged;
                }
                if (nIndex >= 0 && (size_t)nIndex >= sharedEnds.size()) {
                    strProblem = sheet.strPart + ": a shared string index past the " +
                                 std::to_string(sharedEnds.size()) + " strings the workbook has";
                    return WorkbookDamaged;
                }
                if (nIndex >= 0) {
                    size_t nStart = nIndex ? sharedEnds[nIndex - 1] : 0;
                    shown.assign(sharedText, nStart, sharedEnds[nIndex] - nStart);
                }
                break;
            }
            case CellInline:
                DecodeEscapes(&inlineText);
                shown.swap(inlineText);
                break;
            case CellFormulaText:
                DecodeEscapes(&value);
                shown.swap(value);
                break;
            case CellBoolean:
                if (value == "1" || value == "true")
                    shown = "TRUE";
                else if (value == "0" || value == "false")
                    shown = "FALSE";
                else
                    shown.swap(value);
                break;
            case CellError:
                shown.swap(value);
                break;
            case CellDate:
            case CellNumber: {
                bool bNumber = type == CellDate ? ParseIsoDate(value, b1904, &dValue)
                                                : ParseNumber(value, chDecimal, &dValue);
                if (!bNumber) {
                    shown.swap(value);
                } else if (IsGeneral(code)) {
                    shown = FormatGeneral(dValue, locale);
                } else if (!FormatCellNumber(dValue, code, b1904, locale, &shown)) {
                    // Once for each format: the codes are the same for every
                    // cell of that format.
                    if (!reported[nStyle]) {
                        reported[nStyle] = 1;
                        if (std::find(unrendered.begin(), unrendered.end(), code) == unrendered.end())
                            unrendered.push_back(code);
                    }
                }
                break;
            }
            }
            if (type == CellShared || type == CellInline || type == CellFormulaText) {
                if (!shown.empty() && !IsGeneral(code) && code != "@")
                    shown = FormatCellText(shown, code);
            }
            if (!shown.empty()) {
                if (cells.size() < (size_t)nColumn)
                    cells.resize(nColumn);
                cells[nColumn - 1].swap(shown);
            }
        } else if (nDepth == nRowDepth) {
            nRowDepth = 0;
            if (!cells.empty() && !pSink->Row(nRow, cells))
                return WorkbookStopped;
        } else if (nDepth == nSheetDataDepth) {
            nSheetDataDepth = 0;
        }
        --nDepth;
    }
    return reading.End(nNode, &strProblem);
}

Workbook::Workbook() : m_pImpl(new Impl) {}

Workbook::~Workbook() {}

int Workbook::OpenBytes(const void* pBytes, size_t cb)
{
    try {
        m_pImpl->Clear();
        if (cb > LC_WORKBOOK_FILE_MAX_BYTES)
            return WorkbookTooLarge;
        const unsigned char* p = (const unsigned char*)pBytes;
        std::vector<unsigned char> bytes(p, p + cb);
        return m_pImpl->Opened(m_pImpl->OpenFileBytes(std::move(bytes)));
    } catch (const std::bad_alloc&) {
        m_pImpl->Clear();
        return WorkbookNoMemory;
    }
}

// The whole file, or why it cannot be had.
static int ReadWholeFile(const char* pszPath, std::vector<unsigned char>* pBytes)
{
    FILE* pFile = pszPath && pszPath[0] ? fopen(pszPath, "rb") : NULL;
#ifdef _WIN32
    // A workbook open in Excel is read through the way in that shares it.
    if (!pFile && pszPath && pszPath[0]) {
        pFile = OpenListFileShared(pszPath);
        // Opened for text: every byte of a workbook is data.
        if (pFile)
            SetListFileBinary(pFile);
    }
#endif
    if (!pFile)
        return WorkbookCannotOpen;
    int nResult = WorkbookOk;
    size_t cbRead;
    do {
        size_t cbHave = pBytes->size();
        if (cbHave > LC_WORKBOOK_FILE_MAX_BYTES) {
            nResult = WorkbookTooLarge;
            break;
        }
        pBytes->resize(cbHave + (1u << 20));
        cbRead = fread(pBytes->data() + cbHave, 1, 1u << 20, pFile);
        pBytes->resize(cbHave + cbRead);
    } while (cbRead > 0);
    if (nResult == WorkbookOk && ferror(pFile))
        nResult = WorkbookCannotOpen;
    fclose(pFile);
    return nResult;
}

int Workbook::Open(const char* pszPath)
{
    try {
        m_pImpl->Clear();
        std::vector<unsigned char> bytes;
        int nResult = ReadWholeFile(pszPath, &bytes);
        return m_pImpl->Opened(nResult == WorkbookOk ? m_pImpl->OpenFileBytes(std::move(bytes)) : nResult);
    } catch (const std::bad_alloc&) {
        m_pImpl->Clear();
        return WorkbookNoMemory;
    }
}

const std::vector<WorkbookSheet>& Workbook::Sheets() const
{
    return m_pImpl->sheets;
}

int Workbook::FindSheet(const std::string& strName) const
{
    const std::vector<WorkbookSheet>& sheets = m_pImpl->sheets;
    for (size_t i = 0; i < sheets.size(); ++i) {
        if (sheets[i].strName == strName)
            return (int)i;
    }
    for (size_t i = 0; i < sheets.size(); ++i) {
        if (EqualsFolded(sheets[i].strName, strName))
            return (int)i;
    }
    return -1;
}

bool Workbook::Uses1904() const
{
    return m_pImpl->b1904;
}

int Workbook::ReadSheet(int nSheet, const NumberLocale& locale, WorkbookRowSink* pSink)
{
    m_pImpl->unrendered.clear();
    m_pImpl->strProblem.clear();
    if (nSheet < 0 || (size_t)nSheet >= m_pImpl->sheets.size() || !pSink)
        return WorkbookNoSheet;
    try {
        int nResult = m_pImpl->ReadSheetRows(nSheet, locale, pSink);
        if (nResult != WorkbookDamaged)
            m_pImpl->strProblem.clear();
        MakeReadable(&m_pImpl->strProblem);
        return nResult;
    } catch (const std::bad_alloc&) {
        m_pImpl->strProblem.clear();
        return WorkbookNoMemory;
    }
}

const std::vector<std::string>& Workbook::UnrenderedFormats() const
{
    return m_pImpl->unrendered;
}

const std::string& Workbook::Problem() const
{
    return m_pImpl->strProblem;
}
