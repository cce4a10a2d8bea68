// Drives real modal dialogs in the test's own thread. A test queues steps and
// then opens the dialog; while the dialog's modal loop (or any nested one, a
// message box's included) runs, a thread timer checks the first waiting step
// and runs it once its condition holds, then the next, in order.
//
//   UiDriver driver;
//   driver.When("Lettercast Options", [](HWND hDlg) {
//       SetControlText(hDlg, 1029, "12");
//       Click(hDlg, IDOK);
//   });
//   INT_PTR nResult = DialogBoxParamA(..., OptionsDialog, 0);
//   EXPECT_TRUE(driver.Done());
//
// Steps must not block: they post clicks (Click) rather than send them, so
// the dialog acts on them in its own loop after the step has returned.
// Message boxes are left to MessageBoxRecorder, which answers them from its
// CBT hook; the two work side by side.
//
// A step that waits longer than the driver's patience (10 s unless changed)
// fails the test, and the driver then ends every dialog of the thread
// (EndDialog with -1) so the test returns instead of hanging.
#ifndef LETTERCAST_TESTS_UI_DRIVER_H
#define LETTERCAST_TESTS_UI_DRIVER_H

#include <windows.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

class UiDriver {
public:
    UiDriver();
    ~UiDriver();
    UiDriver(const UiDriver&) = delete;
    UiDriver& operator=(const UiDriver&) = delete;

    // Runs fn once a visible top-level window of this thread titled exactly
    // pszTitle exists (checked only after the previous step ran).
    void When(const char* pszTitle, std::function<void(HWND)> fn);

    // As When, but only a window that no earlier step was given: for the
    // next instance of a dialog that an earlier step closed.
    void WhenNew(const char* pszTitle, std::function<void(HWND)> fn);

    // Runs fn nMs after the previous step ran (after the driver was made,
    // for the first step).
    void After(int nMs, std::function<void()> fn);

    bool Done() const { return m_steps.empty(); }   // every step has run
    size_t StepsRun() const { return m_nRun; }

    void SetPatience(int nMs) { m_nPatienceMs = nMs; }

private:
    struct Step {
        std::string title;        // empty for a timed step
        bool bNewOnly;
        int nDelayMs;
        std::function<void(HWND)> fnWindow;
        std::function<void()> fnTimed;
    };

    static void CALLBACK TimerProc(HWND hWnd, UINT uMsg, UINT_PTR idEvent, DWORD dwTime);
    void Tick();
    HWND FindWindowFor(const Step& step) const;
    void GiveUp();

    UINT_PTR m_nTimer;
    std::deque<Step> m_steps;
    std::vector<HWND> m_given;     // windows handed to earlier steps
    DWORD m_dwSince;               // tick count when the previous step ran
    size_t m_nRun;
    int m_nPatienceMs;
    bool m_bInStep;
};

// The window text of a dialog's control.
std::string ControlText(HWND hDlg, int nId);

// Replaces a control's text as typing would: the edit control tells its
// dialog EN_CHANGE (single-line edits do so on WM_SETTEXT themselves; for
// multi-line ones the notification is sent here).
void SetControlText(HWND hDlg, int nId, const char* pszText);

// Posts BM_CLICK to a button, so the dialog's loop presses it after the step.
void Click(HWND hDlg, int nId);

// Posts WM_COMMAND from a control with a notification code, for controls that
// BM_CLICK does not reach (statics with SS_NOTIFY, menu-like commands).
void PostCommand(HWND hDlg, int nId, int nCode);

bool IsControlEnabled(HWND hDlg, int nId);
bool IsChecked(HWND hDlg, int nId);

// The text that a tooltip window owned by the dialog holds for the control
// (registered by window handle or by id); empty when none holds one.
std::string TooltipText(HWND hDlg, int nId);

// The window with the keyboard focus in this thread.
HWND FocusedControl();

// The visible top-level windows of this thread, e.g. to see what is open.
std::vector<HWND> ThreadWindows();
std::string WindowTitle(HWND hWnd);

#endif
