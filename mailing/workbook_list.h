// A worksheet of an Excel workbook made the mailing list a job reads: written
// out as CSV, UTF-8 after its mark, which the list reader then reads like any
// list, so that a workbook's rows are counted, skipped, merged, logged and
// resumed by the very rules of a text list. Plain C++, so it also builds
// natively.
#ifndef LETTERCAST_WORKBOOK_LIST_H
#define LETTERCAST_WORKBOOK_LIST_H

#include <string>
#include <vector>

#include "mailing/number_format.h"
#include "mailing/workbook_reader.h"

// What SheetList::Write comes to beyond the workbook's own results.
enum {
    SheetListNoSuchSheet = 100,   // the workbook names no sheet so
    SheetListEmpty = 101,         // the sheet holds no value: no row names the fields
    SheetListCannotWrite = 102,   // the list cannot be written where asked
    SheetListStopped = 103,       // the watcher stopped the writing
};

// Told how far the writing has come every kSheetListRowsPerWatch rows, so
// that a caller can keep its window live through a large sheet and stop it.
class SheetListWatcher {
public:
    virtual ~SheetListWatcher() {}
    // nRow: the sheet's row just written. False stops the writing.
    virtual bool GoOn(int nRow) = 0;
};
const int kSheetListRowsPerWatch = 1024;

// The names of the workbook's worksheets in its order (UTF-8); false, with
// none, when it cannot be read.
bool ReadSheetNames(const char* pszPath, std::vector<std::string>* pNames);

class SheetList {
public:
    SheetList() : m_nResult(WorkbookOk) {}

    // Writes sheet pszSheet (UTF-8; the first sheet when empty) of the
    // workbook at pszWorkbook as a list at pszListPath: each row that holds a
    // value one record, its first the header, every field quoted, each
    // record as wide as the header at least; a row without values a blank
    // line, so that a record's line is its row until a cell holds a line
    // break (RowOfLine tells it then). pWatcher, when there is one, is told
    // of the rows as they go. A WorkbookXxx or SheetListXxx result, also
    // kept for Message.
    int Write(const char* pszWorkbook, const char* pszSheet, const char* pszListPath, const NumberLocale& locale,
              SheetListWatcher* pWatcher = NULL);

    // The sheet written, as the workbook names it (UTF-8).
    const std::string& SheetName() const { return m_sheet; }
    // The sheet's row of each line of the list written: [n - 1] for line n.
    const std::vector<int>& RowOfLine() const { return m_rowOfLine; }
    // The format codes shown as General, each once.
    const std::vector<std::string>& UnrenderedFormats() const { return m_unrendered; }
    int Result() const { return m_nResult; }
    // What the user is told when Write failed (UTF-8): what is wrong and
    // what to do.
    std::string Message(const char* pszSheet) const;

private:
    int m_nResult;
    std::string m_sheet;
    std::string m_problem;
    std::vector<int> m_rowOfLine;
    std::vector<std::string> m_unrendered;
};

#endif
