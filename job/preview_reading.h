// The Preview's reading of a list: what Send would tell of the whole list,
// read on in slices so that the window never waits for a long list, and
// recipient k's message, read from the list's start no further than k.
#ifndef LETTERCAST_PREVIEW_READING_H
#define LETTERCAST_PREVIEW_READING_H

#include <string>
#include <vector>

#include "engine/job_resume.h"
#include "engine/list_snapshot.h"
#include "job/preview_dialog.h"
#include "mailing/list_check.h"
#include "mailing/list_reader.h"
#include "mailing/list_record.h"

class PreviewReading {
public:
    PreviewReading(const char* pszListPath, const PreviewMessage& message);
    PreviewReading(const PreviewReading&) = delete;
    PreviewReading& operator=(const PreviewReading&) = delete;

    // Reads on through the list for about nBudgetMs milliseconds (any
    // negative budget: to its end); true once the list has been read whole.
    bool ReadOn(int nBudgetMs);
    bool Done() const { return m_bDone; }
    bool Opened() const { return m_bOpened; }
    // The usable recipients counted so far (all of them once Done); 0 for a
    // list that Send refuses, once that is known.
    int Counted() const { return m_bRefused ? 0 : m_nCounted; }

    // The line above the text and the text for recipient nIndex (1 on), and
    // that recipient's address ("" for none).
    void Show(int nIndex, std::string* pPosition, std::string* pText, std::string* pAddress) const;
    // The line above the text for recipient nIndex at address, as counted so far.
    std::string Position(int nIndex, const std::string& address) const;

private:
    static void CollectSkipped(void* pContext, int nLine, int nReason, const char* pszAddress);
    void BeginChecks();
    void Finish();
    std::string Place(int nIndex) const;
    std::string ListFacts() const;

    std::string m_listPath;
    const PreviewMessage& m_message;
    ListSource m_source;   // before m_list: the reading's file goes after the reading
    ListReader m_list;
    ListRecord m_header, m_record;
    std::vector<std::string> m_skipped;
    std::vector<std::string> m_unknown;
    std::vector<std::string> m_blocks;   // markers that make no block
    ListRecord m_plainHeader, m_htmlHeader;   // the names each text is merged with
    ListCheck m_check;
    int m_nColumn;
    int m_nCounted;
    bool m_bHeaderDone;
    bool m_bOpened;
    bool m_bDone;
    bool m_bRefused;
    std::string m_refusal;   // what Send would refuse or ask, once Done
    ResumeFinder m_finder;   // fed by this reading, so that the list is not read again
    std::vector<char> m_raw; // a record's raw text, while the finder wants it
    ResumePlan m_resume;
};

#endif
