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

class EngineJobTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The stand-in host and session; options may be changed before.
    void StartHost(const char* pszMapiFolder = "standin");
    // A message in the compose window; plain text by default.
    void Compose(const StandinComposedMail& mail);
    void ComposePlain(const char* pszSubject, const char* pszBody);
    // The list file, written in binary so its bytes are exactly these.
    void WriteList(const std::string& content, const char* pszName = "list.csv");
    // Runs one job; the results are kept below.
    void RunJob();

    std::vector<DeliveredView> Delivered() const;
    std::vector<std::string> DeliveredFiles() const;
    std::string CurrentLog() const { return ReadWholeFile(m_data.File("CurrentJob.txt")); }
    std::string History() const { return ReadWholeFile(m_data.File("JobHistory.txt")); }
    std::string SentList() const { return ReadWholeFile(m_data.File("tosent.txt")); }
    bool LogExists() const { return FileExists(m_data.File("CurrentJob.txt")); }
    std::vector<std::string> BoxTexts() const;
    // The items that ended in a store folder ("Sent Mail", "Outbox", "Drafts").
    int ItemsIn(const char* pszFolder) const;

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
    DWORD m_dwElapsed = 0;
};

// A list of n recipients r1@example.com ... with a Name column.
std::string NumberedList(int nRecipients);

#endif
