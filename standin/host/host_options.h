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
    std::string sheet;            // --sheet NAME: chosen in the main dialog's Sheet box once the list is typed
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
    // --outbox-holds-after N: the spooler delivers the first N messages of
    // the process; every later flush leaves what is queued in the Outbox
    std::string outboxHoldsAfter;
    std::string cancelAfter;      // --cancel-after S: Cancel clicked S seconds (a fraction allowed) after Send
    std::string sendAt;           // --send-at HH:MM: the send-at picker set to the next such local time before Send
    std::string preset;           // --preset KEY: the sending limits' preset chosen in Options before Send
    // --accounts "a;b": the profile's accounts in order, the first the
    // default; "none": no accounts. Not given: one, user@standin.example.
    bool bAccounts = false;
    std::string accounts;         // as given, "" for none
    std::string from;             // --from ADDR: the composed message's SendUsingAccount, one of the accounts
    std::string onBehalfOf;       // --on-behalf-of TEXT: the composed message's SentOnBehalfOfName
    bool bCopyDropsAccount = false;   // --copy-drops-account: MailItem.Copy leaves SendUsingAccount unset
};

// The answers of --answer in order; false when one is neither yes nor no.
bool SplitAnswers(const std::string& answer, std::vector<bool>* pYes);
// "HH:MM" from 00:00 to 23:59, two digits each; false for anything else.
bool ParseClockTime(const std::string& text, int* pnHour, int* pnMinute);
// Seconds as digits with an optional fraction ("2", "2.5"), in milliseconds,
// at most LC_HOST_LONGEST_WAIT_MS; false for anything else.
bool ParseSeconds(const std::string& text, unsigned* puMilliseconds);
#define LC_HOST_LONGEST_WAIT_MS 2000000000u

// False with a message in *pError for a usage error.
bool ParseHostOptions(int argc, char** argv, HostOptions* pOptions, std::string* pError);

extern const char gszHostUsage[];

#endif
