#include "engine/list_snapshot.h"

#include <stdio.h>

#include <memory>
#include <new>

#include "engine/engine_report.h"
#include "engine/job_progress.h"
#include "engine/job_questions.h"
#include "engine/job_resume.h"
#include "engine/send_job_state.h"
#include "mailing/bounded_copy.h"
#include "mailing/list_reader.h"
#include "mailing/text_conversion.h"
#include "resources/resource.h"
#include "settings/data_paths.h"
#include "settings/settings_store.h"

namespace {

const size_t kCopyBlockBytes = 1 << 20;
const char kszNoWorkingCopy[] = "Could not make a working copy of the mailing list in the temporary folder.";

// A new file of its own in the temporary folder; false when none can be made.
bool MakeTempFile(char* pszPath)
{
    char szTempDir[MAX_PATH];
    DWORD cchTemp = GetTempPathA(sizeof(szTempDir), szTempDir);
    if (cchTemp > 0 && cchTemp < sizeof(szTempDir) && GetTempFileNameA(szTempDir, "lcl", 0, pszPath) != 0)
        return true;
    pszPath[0] = '\0';
    return false;
}

// A sheet of a million rows takes a while to write out: meanwhile the job's
// window is kept live, and Pause and Cancel are heard as in the passes.
class JobSheetWatcher : public SheetListWatcher {
public:
    bool GoOn(int) override { return PumpAndCheckJob(NULL); }
};

}  // namespace

ListSource::~ListSource()
{
    if (m_bWorkbook && !m_path.empty())
        DeleteFileA(m_path.c_str());
}

bool ListSource::Prepare(const char* pszListPath, const char* pszSheet, bool bWorkbook, SheetListWatcher* pWatcher)
{
    if (m_bWorkbook && !m_path.empty())
        DeleteFileA(m_path.c_str());
    m_bWorkbook = bWorkbook;
    m_requestedSheet = pszSheet ? pszSheet : "";
    m_path.clear();
    if (!m_bWorkbook) {
        m_path = pszListPath ? pszListPath : "";
        return m_bPrepared = true;
    }
    char szPath[MAX_PATH];
    m_bPrepared = false;
    if (!MakeTempFile(szPath))
        return false;
    m_path = szPath;
    // Every value as Excel shows it to this user.
    m_bPrepared = m_sheet.Write(pszListPath, pszSheet, szPath, ReadUserNumberLocale(), pWatcher) == WorkbookOk;
    return m_bPrepared;
}

bool ListSource::Open(ListReader* pReader) const
{
    pReader->NumberLinesBy(m_bWorkbook ? &m_sheet.RowOfLine() : NULL);
    return m_bPrepared && pReader->Open(m_path.c_str(), ListDelimiter);
}

std::string ListSource::SheetAsLogged() const
{
    return m_bWorkbook ? TextAsLogged(m_sheet.SheetName().c_str()) : std::string();
}

std::string ListSource::MessageUtf8() const
{
    if (m_bWorkbook && m_path.empty())
        return kszNoWorkingCopy;
    return m_sheet.Message(m_requestedSheet.c_str());
}

std::string ListSource::Message() const
{
    std::string message = MessageUtf8();
    std::vector<char> text(message.begin(), message.end());
    text.push_back('\0');
    Utf8ToAnsiInPlace(text.data());
    return text.data();
}

bool TakeListSnapshot(SendJobState* pState)
{
    // Byte for byte, its mark included: the copy is read as the list would be.
    FILE* pList = JobOptions.ToList[0] ? fopen(JobOptions.ToList, "rb") : NULL;
    if (pList == NULL && JobOptions.ToList[0]) {
        pList = OpenListFileShared(JobOptions.ToList);
        if (pList)
            SetListFileBinary(pList);
    }
    if (pList == NULL) {
        ShowListMessage(pState->hWndOwner, IDS_LIST_OPEN_FAILED, MB_ICONWARNING | MB_OK);
        return false;
    }
    bool bCopied = false;
    if (MakeTempFile(pState->szListCopy)) {
        FILE* pCopy = fopen(pState->szListCopy, "wb");
        // Large blocks: the copy is the one reading of the user's file.
        std::unique_ptr<char[]> buffer(new (std::nothrow) char[kCopyBlockBytes]);
        if (pCopy) {
            size_t cb;
            bCopied = buffer != nullptr;
            while (bCopied && (cb = fread(buffer.get(), 1, kCopyBlockBytes, pList)) > 0) {
                if (fwrite(buffer.get(), 1, cb, pCopy) != cb)
                    bCopied = false;
            }
            if (ferror(pList))
                bCopied = false;
            if (fclose(pCopy) != 0)
                bCopied = false;
        }
    }
    fclose(pList);
    if (!bCopied) {
        ShowJobText(pState->hWndOwner, kszNoWorkingCopy);
        return false;
    }
    // A workbook is read from the copy too: the user's file once in a job.
    pState->bWorkbook = IsWorkbookName(JobOptions.ToList) || IsWorkbookFile(pState->szListCopy);
    JobSheetWatcher watcher;
    if (!pState->source.Prepare(pState->szListCopy, JobOptions.ToSheet, pState->bWorkbook, &watcher)) {
        // Cancelled: nothing to tell but why the job did not start.
        if (pState->source.Stopped())
            NoteJobEndReason("cancelled while the sheet was read");
        else
            ShowJobText(pState->hWndOwner, pState->source.Message().c_str());
        return false;
    }
    CopyBounded(pState->szSheet, sizeof(pState->szSheet), pState->source.SheetAsLogged().c_str());
    if (!FormSentListPath(pState->szSheet, pState->szSentListPath, sizeof(pState->szSentListPath))) {
        ShowListMessage(pState->hWndOwner, IDS_SENT_LOG_FAILED, MB_ICONWARNING | MB_OK);
        return false;
    }
    return true;
}
