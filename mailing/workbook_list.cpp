#include "mailing/workbook_list.h"

#include <stdio.h>
#include <string.h>

#include <memory>

namespace {

struct FileCloser {
    void operator()(FILE* pFile) const { fclose(pFile); }
};

// Writes each row as a record of the list, a blank line for each row
// without a value before it.
class ListWriter : public WorkbookRowSink {
public:
    ListWriter(FILE* pFile, std::vector<int>* pRowOfLine, SheetListWatcher* pWatcher)
        : m_pFile(pFile), m_pRowOfLine(pRowOfLine), m_pWatcher(pWatcher), m_nUntilWatch(kSheetListRowsPerWatch),
          m_nWidth(0), m_bRows(false), m_bFailed(false), m_bStopped(false) {}

    bool Row(int nRow, const std::vector<std::string>& cells) override
    {
        // Line n is row n for as long as no cell has broken a line.
        while ((int)m_pRowOfLine->size() + 1 < nRow) {
            m_pRowOfLine->push_back((int)m_pRowOfLine->size() + 1);
            m_text += "\r\n";
        }
        if (!m_bRows)
            m_nWidth = cells.size();
        m_bRows = true;
        m_pRowOfLine->push_back(nRow);
        size_t nFields = cells.size() > m_nWidth ? cells.size() : m_nWidth;
        for (size_t i = 0; i < nFields; ++i) {
            if (i > 0)
                m_text += ',';
            m_text += '"';
            const std::string empty;
            const std::string& cell = i < cells.size() ? cells[i] : empty;
            for (size_t j = 0; j < cell.size(); ++j) {
                char ch = cell[j];
                if (ch == '"')
                    m_text += '"';
                // The reader ends a line at LF, CR LF and CR alone: each is one
                // more line of this row.
                if (ch == '\n' || (ch == '\r' && (j + 1 == cell.size() || cell[j + 1] != '\n')))
                    m_pRowOfLine->push_back(nRow);
                m_text += ch;
            }
            m_text += '"';
        }
        m_text += "\r\n";
        if (m_text.size() >= (1u << 16) && !Flush())
            return false;
        if (m_pWatcher && --m_nUntilWatch == 0) {
            m_nUntilWatch = kSheetListRowsPerWatch;
            m_bStopped = !m_pWatcher->GoOn(nRow);
        }
        return !m_bStopped;
    }

    bool Flush()
    {
        if (!m_text.empty() && fwrite(m_text.data(), 1, m_text.size(), m_pFile) != m_text.size())
            m_bFailed = true;
        m_text.clear();
        return !m_bFailed;
    }

    bool AnyRow() const { return m_bRows; }
    bool Failed() const { return m_bFailed; }
    bool Stopped() const { return m_bStopped; }

private:
    FILE* m_pFile;
    std::vector<int>* m_pRowOfLine;
    SheetListWatcher* m_pWatcher;
    int m_nUntilWatch;   // rows until the watcher is told
    size_t m_nWidth;     // the header's
    bool m_bRows;
    bool m_bFailed;
    bool m_bStopped;
    std::string m_text;  // written a block at a time
};

}  // namespace

bool ReadSheetNames(const char* pszPath, std::vector<std::string>* pNames)
{
    pNames->clear();
    Workbook book;
    if (book.Open(pszPath) != WorkbookOk)
        return false;
    for (const WorkbookSheet& sheet : book.Sheets())
        pNames->push_back(sheet.strName);
    return true;
}

int SheetList::Write(const char* pszWorkbook, const char* pszSheet, const char* pszListPath,
                     const NumberLocale& locale, SheetListWatcher* pWatcher)
{
    m_sheet.clear();
    m_problem.clear();
    m_rowOfLine.clear();
    m_unrendered.clear();
    Workbook book;
    m_nResult = book.Open(pszWorkbook);
    if (m_nResult != WorkbookOk) {
        m_problem = book.Problem();
        return m_nResult;
    }
    int nSheet = pszSheet && pszSheet[0] ? book.FindSheet(pszSheet) : 0;
    if (nSheet < 0 || nSheet >= (int)book.Sheets().size())
        return m_nResult = book.Sheets().empty() ? (int)WorkbookNoSheet : (int)SheetListNoSuchSheet;
    m_sheet = book.Sheets()[nSheet].strName;

    std::unique_ptr<FILE, FileCloser> pFile(fopen(pszListPath, "wb"));
    if (!pFile)
        return m_nResult = SheetListCannotWrite;
    // The mark tells the reader UTF-8 from the first byte, whatever the
    // sheet's first rows hold.
    if (fwrite("\xEF\xBB\xBF", 1, 3, pFile.get()) != 3)
        return m_nResult = SheetListCannotWrite;
    ListWriter writer(pFile.get(), &m_rowOfLine, pWatcher);
    m_nResult = book.ReadSheet(nSheet, locale, &writer);
    m_unrendered = book.UnrenderedFormats();
    if (writer.Stopped())
        return m_nResult = SheetListStopped;
    if (m_nResult == WorkbookStopped || (m_nResult == WorkbookOk && !writer.Flush()) ||
        fclose(pFile.release()) != 0 || writer.Failed())
        return m_nResult = SheetListCannotWrite;
    if (m_nResult != WorkbookOk) {
        m_problem = book.Problem();
        return m_nResult;
    }
    if (!writer.AnyRow())
        return m_nResult = SheetListEmpty;
    return m_nResult;
}

std::string SheetList::Message(const char* pszSheet) const
{
    std::string sheet = !m_sheet.empty() ? m_sheet : (pszSheet ? pszSheet : "");
    switch (m_nResult) {
    case WorkbookCannotOpen:
        return "Could not open the mailing list file for reading.";
    case WorkbookNotZip:
        return "The mailing list is named as an Excel workbook but is not one: it could not be read.\n\n"
               "Open it in Excel and save it as an Excel Workbook (*.xlsx), or pick the workbook itself.";
    case WorkbookOldFormat:
        return "The mailing list is an Excel 97-2003 workbook (.xls), which cannot be read.\n\n"
               "Open it in Excel and save it as an Excel Workbook (*.xlsx).";
    case WorkbookEncrypted:
        return "The workbook is protected by a password, so it cannot be read.\n\n"
               "Open it in Excel, remove the password and save it, or save a copy without one and pick that.";
    case WorkbookDamaged:
        return "The workbook is damaged and cannot be read" + (m_problem.empty() ? std::string() : " (" + m_problem + ")") +
               ".\n\nOpen it in Excel and save it again.";
    case WorkbookPartTooLarge:
        return "A part of the workbook unpacks to far more than a mailing list holds (a sheet to more than 1 GB, "
               "another part to more than 256 MB), so it is not read."
               "\n\nCheck that it is the workbook you meant.";
    case WorkbookTooLarge:
        return "The workbook is larger than 512 MB, more than a mailing list holds, so it is not read.";
    case WorkbookNoXmlReader:
        return "Windows' XML reader (XmlLite) could not be loaded, so the workbook cannot be read.\n\n"
               "Save the sheet from Excel as CSV UTF-8 (Comma delimited) and pick that file.";
    case WorkbookNoSheet:
        return "The workbook holds no worksheet to read the mailing list from.";
    case WorkbookNoMemory:
        return "Error: Failed to allocate memory.";
    case SheetListNoSuchSheet:
        return "The workbook has no sheet named \"" + sheet + "\". Choose one of its sheets in the Sheet box.";
    case SheetListEmpty:
        return "The sheet \"" + sheet + "\" of the workbook is empty.\n\n"
               "Its first row must name the fields, one of them the e-mail address, and each row after it "
               "is one recipient.";
    case SheetListCannotWrite:
        return "Could not make a working copy of the mailing list in the temporary folder.";
    case SheetListStopped:
        return "The sheet \"" + sheet + "\" was not read to its end.";
    default:
        return std::string();
    }
}
