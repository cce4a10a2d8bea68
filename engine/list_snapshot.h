// The list as it is at Send, copied to a private file that both passes of
// the job read: a list saved again during the job (an editor, a sync client)
// cannot make the sending pass read other records than the counting pass
// counted. A workbook's sheet is written out there as the list instead.
#ifndef LETTERCAST_LIST_SNAPSHOT_H
#define LETTERCAST_LIST_SNAPSHOT_H

#include <string>
#include <vector>

#include "mailing/list_reader.h"
#include "mailing/workbook_list.h"

struct SendJobState;

// What a reading of the list opens: a text list itself, or a workbook's
// sheet written out to a private file in the temporary folder, which goes
// with this object. The job, the Preview and a test copy each have their own.
class ListSource {
public:
    ListSource() : m_bWorkbook(false), m_bPrepared(false) {}
    ~ListSource();
    ListSource(const ListSource&) = delete;
    ListSource& operator=(const ListSource&) = delete;

    // For a workbook, writes its sheet pszSheet (UTF-8, the first when
    // empty) out, pWatcher told of its rows; a text list is read where it
    // lies. False when the sheet cannot be written (Message() says why) or
    // the watcher stopped it (Stopped()).
    bool Prepare(const char* pszListPath, const char* pszSheet, bool bWorkbook, SheetListWatcher* pWatcher = NULL);
    // Opens a reading of it, its lines told as the sheet's rows.
    bool Open(ListReader* pReader) const;

    bool IsWorkbook() const { return m_bWorkbook; }
    bool Stopped() const { return m_bWorkbook && m_sheet.Result() == SheetListStopped; }
    // The file the readings open.
    const char* Path() const { return m_path.c_str(); }
    const SheetList& Sheet() const { return m_sheet; }
    // The sheet's name as the logs write it (ANSI); "" for a text list.
    std::string SheetAsLogged() const;
    // Why Prepare failed (UTF-8), and the same in the ANSI code page for a
    // message box.
    std::string MessageUtf8() const;
    std::string Message() const;

private:
    bool m_bWorkbook;
    bool m_bPrepared;
    std::string m_path;
    std::string m_requestedSheet;
    SheetList m_sheet;
};

// Copies JobOptions.ToList byte for byte, its mark included, into a new file
// in the temporary folder named by szListCopy; the list itself is read once,
// through the shared-read opening. A workbook (by its name, or by the copy's
// first bytes) has its sheet (JobOptions.ToSheet) written out from that copy
// (SendJobState::source). Also forms the job's sent list's path. False,
// after its message, when it cannot.
bool TakeListSnapshot(SendJobState* pState);

#endif
