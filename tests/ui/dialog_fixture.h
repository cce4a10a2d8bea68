// Shared set-up for the tests of the Options and Logs dialogs and their link:
// a private settings key, log paths in a temporary folder, the recording help
// control, a stand-in viewer for files and web addresses, and an owner window.
#ifndef LETTERCAST_TESTS_UI_DIALOG_FIXTURE_H
#define LETTERCAST_TESTS_UI_DIALOG_FIXTURE_H

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/registry_fixtures.h"
#include "tests/support/test_files.h"

extern const char kOptionsTitle[];   // the Options title with the test program's version 4.3
extern const char kLogsTitle[];
extern const char kOwnerTitle[];

// How the stand-in viewer was started.
struct ViewerRecord {
    std::string commandLine;
    std::string folder;
    int nShow;
};

class DialogTest : public testing::Test {
protected:
    DialogTest();
    ~DialogTest() override;

    INT_PTR OpenOptions();
    INT_PTR OpenLogs();

    // Makes the stand-in viewer the program of a file extension (".txt")
    // or of a URL scheme ("https").
    void ViewWithSpy(const char* pszExtensionOrScheme);
    // Waits up to a few seconds for the viewer's record; false when none came.
    bool WaitForViewer(ViewerRecord* pRecord);

    // The calls that reached the recording help control since the test began.
    std::vector<std::string> HelpKeywords(std::vector<HWND>* pCallers = NULL);

    std::string StoredOption(const char* pszName);   // "" when the registry has none

    void CreateLogs();   // all three log files, with a line each

    TempFolder m_folder;
    ScopedKeyRemoval m_settings;
    std::unique_ptr<ScopedRegValue> m_helpLocation;
    std::vector<std::unique_ptr<ScopedRegValue>> m_values;
    std::vector<std::unique_ptr<ScopedKeyRemoval>> m_keys;
    std::string m_viewerRecord;
    HWND m_hOwner;
};

#endif
