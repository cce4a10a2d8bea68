// A job run end to end inside a test: the stand-in Outlook with its store on
// disk, the stand-in MAPI library loaded as the host would have it, a
// mailing list on disk, a window in the dialog's place, and every message
// box recorded and answered.
#ifndef LETTERCAST_TESTS_ENGINE_FIXTURE_H
#define LETTERCAST_TESTS_ENGINE_FIXTURE_H

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "standin/outlook/delivery.h"
#include "standin/outlook/standin_outlook.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/test_files.h"

// One message box as the user must have seen it: captioned with the product
// name, owned by the job's window unless it comes from the first checks or
// the MAPI binding.
struct ExpectedBox {
    ExpectedBox(const char* pszText) : text(pszText) {}
    ExpectedBox(const std::string& boxText) : text(boxText) {}
    std::string text;
    UINT uStyle = MB_ICONWARNING | MB_OK;
    bool bDesktopOwner = false;
};
ExpectedBox Question(const std::string& text);
// The list check's question before the first copy, its findings one a line.
ExpectedBox ListCheckQuestion(const std::string& findings, bool bRepeatedAddresses = false);
ExpectedBox Notice(const std::string& text);   // information icon, OK
ExpectedBox FromDesktop(const std::string& text);

// How far the job got with its logs, in the order it opens them.
enum LogsOpened {
    NoLog = 0,
    CurrentLogOnly = 1,
    CurrentLogAndHistory = 2,
    EveryLog = 3,
};

// How one job must have ended, whatever ended it.
struct JobEnd {
    std::vector<ExpectedBox> boxes;        // every box of the job, in order
    int nDone;                             // wParam of the one WM_JOBDONE
    int nSent;                             // messages counted as sent
    LogsOpened logs;
    // Counted as sent although the stand-in delivered nothing for them (the
    // job went on past a failed submission, move or flush).
    std::vector<std::string> notDelivered;
    // MAPI blocks left behind on purpose (a free the case makes fail).
    int nBlocksLeft = 0;
    // A resumed job: the recipients the last job sent, passed over, whose
    // records the sent list holds before this job's, in list order (an
    // address once for each record that holds it).
    std::vector<std::string> alreadySent = {};
};

class EngineJobTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The stand-in host and session; options may be changed before. The
    // folder names the stand-in MAPI library the host has loaded; NULL: none.
    void StartHost(const char* pszMapiFolder = "standin");
    // A message in the compose window; plain text by default.
    void Compose(const StandinComposedMail& mail);
    void ComposePlain(const char* pszSubject, const char* pszBody);
    // An HTML message whose HTML the store holds, with its plain-text body.
    void ComposeHtml(const char* pszSubject, const char* pszBody, const char* pszHtml);
    // The list file, written in binary so its bytes are exactly these.
    void WriteList(const std::string& content, const char* pszName = "list.csv");
    // Runs one job as the main dialog starts it; the last job's current log
    // and sent list stay until the job opens its own. The results are kept
    // below.
    void RunJob();
    // The checks that hold after every job: the boxes, the one WM_JOBDONE,
    // the end blocks of every log the job opened, and a sent list and
    // "Sent Successfully" lines that name exactly what went out, and nothing
    // of the host or of MAPI memory left held by the job.
    void ExpectJobEnded(const JobEnd& end);

    std::vector<DeliveredView> Delivered() const;
    std::vector<std::string> DeliveredFiles() const;
    std::string CurrentLog() const { return ReadWholeFile(m_data.File("CurrentJob.txt")); }
    std::string History() const { return ReadWholeFile(m_data.File("JobHistory.txt")); }
    std::string SentList() const { return ReadWholeFile(m_data.File("tosent.txt")); }
    bool LogExists() const { return FileExists(m_data.File("CurrentJob.txt")); }
    std::vector<std::string> BoxTexts() const;
    // The items that ended in a store folder ("Sent Mail", "Outbox", "Drafts").
    int ItemsIn(const char* pszFolder) const;
    // The item files of a store folder, in name order.
    std::vector<std::string> ItemTexts(const char* pszFolder) const;

    TempFolder m_store{ "store" };
    TempFolder m_data{ "data" };
    TempFolder m_lists{ "lists" };
    StandinOutlookOptions m_options = {};
    HMODULE m_hMapi = NULL;
    IDispatch* m_pMail = NULL;
    HWND m_hDialog = NULL;
    std::unique_ptr<MessageBoxRecorder> m_boxes;

    // Results of RunJob.
    int m_nJobDone = 0;
    WPARAM m_wJobDone = 99;
    LPARAM m_lJobDone = 99;
    std::string m_listContent;             // as last written by WriteList
    size_t m_nBoxesBefore = 0;             // boxes recorded before the last job
    size_t m_nDeliveredBefore = 0;
    std::string m_historyBefore;
    bool m_bLogBefore = false;             // the last job's current log and sent list, as they stood
    std::string m_logBefore;
    bool m_bSentListBefore = false;
    std::string m_sentListBefore;
    LONG m_nLiveObjectsBefore = 0;         // stand-in COM objects and MAPI blocks alive before the job
    LONG m_nLiveBlocksBefore = 0;
    LONG m_nLiveObjectsAfter = 0;          // the same once the job object has gone
    LONG m_nLiveBlocksAfter = 0;
    DWORD m_dwElapsed = 0;
};

// A list of n recipients r1@example.com ... with a Name column.
std::string NumberedList(int nRecipients);

#endif
