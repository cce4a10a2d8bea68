// The real main dialog under Wine, over the stand-in host: a composed message
// with its compose window, a mailing list, the settings key kept out of the
// way, and helpers to watch the dialog while a job runs inside it.
#ifndef LETTERCAST_TESTS_JOB_DIALOG_FIXTURE_H
#define LETTERCAST_TESTS_JOB_DIALOG_FIXTURE_H

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "tests/engine/engine_fixture.h"
#include "tests/support/registry_fixtures.h"
#include "tests/support/ui_driver.h"

class SendJob;

extern const char kMainTitle[];   // the dialog's title with version 4.3

// Calls fn for every message box of the thread as it becomes active, before
// MessageBoxRecorder answers it: a view of the dialog behind the box. Given a
// title, for every dialog of that title instead, as it first shows: after its
// WM_INITDIALOG and before any of its timers.
class BoxWatcher {
public:
    explicit BoxWatcher(std::function<void(HWND hBox)> fn, const char* pszDialogTitle = NULL);
    ~BoxWatcher();
    BoxWatcher(const BoxWatcher&) = delete;
    BoxWatcher& operator=(const BoxWatcher&) = delete;

private:
    static LRESULT CALLBACK CbtProc(int nCode, WPARAM wParam, LPARAM lParam);
    HHOOK m_hHook;
    std::function<void(HWND)> m_fn;
    const char* m_pszDialogTitle;
};

// Runs fn once cond holds, checked every 20 ms from the driver's timer; after
// nPatienceMs the test fails and every dialog is ended. Steps that must follow
// are queued from inside fn, so they come after the waiting.
void WhenTrue(UiDriver& driver, std::function<bool()> cond, std::function<void()> fn, int nPatienceMs = 10000);

class JobDialogTest : public EngineJobTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // A message in a compose window of the stand-in, plain text.
    void ComposeInWindow(const char* pszSubject, const char* pszBody);
    // The main dialog over the compose window (or none), modal, with the job.
    INT_PTR OpenMainDialog(SendJob* pJob, HWND hOwner);

    int InspectorCount() const;
    bool MessageKept() const;   // the composed message still has its file
    std::string SavedOption(const char* pszName) const;   // "" when never written
    std::string LastLogLines(int nLines) const;

    std::unique_ptr<ScopedKeyRemoval> m_settings;
    IDispatch* m_pInspector = NULL;
    HWND m_hCompose = NULL;
};

#endif
