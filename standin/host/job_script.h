// Drives one job headless, as a user would: types the list path into the
// add-in's main dialog, chooses a preset in Options and sets the send-at
// time when asked to, presses Send, and answers every message box,
// recording each one.
#ifndef LETTERCAST_STANDIN_JOB_SCRIPT_H
#define LETTERCAST_STANDIN_JOB_SCRIPT_H

#include <stdio.h>

#include <string>
#include <vector>

struct JobScript {
    std::string listPath;
    std::vector<bool> answers;   // to the question boxes in turn; the last one answers all after it
    size_t nQuestions;           // question boxes answered so far
    FILE* pBoxes;           // one line per box: caption, style in hex, text; may be NULL
    bool bMainDialogSeen;
    bool bCompleted;        // the closing box said the job completed
    int nBoxes;
    // Preview instead of Send: the recipient to show (0: none), where to
    // write what the preview shows, and whether it was written.
    int nPreview;
    bool bTestSend;              // and Send Test to Me pressed there
    std::string previewFile;
    bool bPreviewWritten;
    // Once recipient nStopAfter + 1 is under way (-1: never), Esc is pressed
    // in the main dialog, or its close box clicked.
    int nStopAfter;
    bool bStopWithClose;
    // Cancel clicked in the main dialog this long after Send (-1: never), once.
    int nCancelAfterMs;
    // Before Send: the send-at picker set to the next nSendAtHour:nSendAtMinute
    // of local time (bSendAt), and the preset of this name chosen in the
    // Options dialog (empty: Options not opened).
    bool bSendAt;
    int nSendAtHour;
    int nSendAtMinute;
    std::string presetName;
    // The sheet chosen in the main dialog's Sheet box once the list is typed
    // (empty: the sheet the dialog shows).
    std::string sheet;
    // A control the script needed was not there: it said so on stderr and
    // closed the main dialog without sending.
    bool bScriptFailed;
};

// Watches the windows of this thread until StopJobScript.
void StartJobScript(JobScript* pScript);
void StopJobScript();

#endif
