// The stand-in host's command line.
#ifndef LETTERCAST_STANDIN_HOST_OPTIONS_H
#define LETTERCAST_STANDIN_HOST_OPTIONS_H

#include <string>
#include <vector>

struct HostOptions {
    std::string storeDir;         // --store DIR: the store (Drafts, Outbox, Sent Mail, Delivered)
    std::string version;          // --outlook-version TEXT: Application.Version
    std::string subject;          // --subject TEXT
    std::string subjectFile;      // --subject-file FILE: the subject as UTF-8 text
    std::string bodyFile;         // --body FILE: plain text
    std::string htmlFile;         // --html FILE: an HTML message
    std::string listPath;         // --list FILE: run one job on it, headless; without it a person drives
    // --answer yes|no[,yes|no]...: the question boxes in turn, the last answer
    // for every one after it
    std::string answer = "yes";
    std::string preview;          // --preview K: Preview instead of Send, at recipient K
    std::string previewFile;
    bool bTestSend = false;       // --test-send: Send Test to Me in the preview      // --preview-out FILE: what the preview shows
    std::string killAfter;        // --kill-after N: the process dies right after the N-th delivery
    // --escape-after N / --close-after N: once recipient N + 1 is under way,
    // Esc is pressed in the main dialog, or its close box clicked
    std::string escapeAfter, closeAfter;
    std::string faultPlan;        // --fault SPEC, repeatable, joined with ';'
    std::string boxesFile;        // --boxes FILE: every message box, in order
    std::string originalFile;     // --original FILE: what became of the composed message
    bool bHtmlOk = true;          // --no-html-store: the store lacks STORE_HTML_OK
    // --to / --cc / --bcc ADDR, repeatable, joined with ';': recipients the
    // composed message has of its own
    std::string to, cc, bcc;
};

// The answers of --answer in order; false when one is neither yes nor no.
bool SplitAnswers(const std::string& answer, std::vector<bool>* pYes);

// False with a message in *pError for a usage error.
bool ParseHostOptions(int argc, char** argv, HostOptions* pOptions, std::string* pError);

extern const char gszHostUsage[];

#endif
