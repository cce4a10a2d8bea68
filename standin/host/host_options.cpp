#include "standin/host/host_options.h"

#include <stdlib.h>
#include <string.h>

#include "settings/limit_presets.h"
#include "standin/outlook/delivery.h"
#include "standin/outlook/standin_outlook.h"

const char gszHostUsage[] =
    "usage: outlook-standin.exe --store DIR [--list FILE [--sheet NAME]] [--subject TEXT] [--subject-file FILE]\n"
    "                           [--body FILE] [--html FILE]\n"
    "                           [--outlook-version TEXT] [--answer yes|no[,yes|no]...] [--fault SPEC]...\n"
    "                           [--kill-after N] [--escape-after N | --close-after N]\n"
    "                           [--preview K --preview-out FILE [--test-send]]\n"
    "                           [--boxes FILE] [--original FILE] [--no-html-store]\n"
    "                           [--to ADDR]... [--cc ADDR]... [--bcc ADDR]...\n"
    "                           [--outbox-holds-after N] [--cancel-after S] [--send-at HH:MM] [--preset KEY]\n"
    "                           [--accounts \"ADDR;ADDR...\" | --accounts none] [--from ADDR]\n"
    "                           [--on-behalf-of TEXT] [--copy-drops-account]\n";

namespace {

// --accounts names deliverable addresses, each once, or "none"; --from one
// of them (any case), or of the one account there is without --accounts.
bool CheckAccounts(HostOptions* pOptions, std::string* pError)
{
    if (pOptions->bAccounts && pOptions->accounts == "none")
        pOptions->accounts.clear();
    else if (pOptions->bAccounts && pOptions->accounts.find_first_not_of(" \t;") == std::string::npos) {
        *pError = "--accounts takes SMTP addresses separated by ';', or none";
        return false;
    }
    std::vector<std::string> accounts;
    if (!SplitAccountList(pOptions->bAccounts ? pOptions->accounts : std::string("user@standin.example"), &accounts)) {
        *pError = "--accounts takes SMTP addresses separated by ';', each once: " + pOptions->accounts;
        return false;
    }
    if (pOptions->from.empty())
        return true;
    for (const std::string& account : accounts) {
        if (lstrcmpiA(account.c_str(), pOptions->from.c_str()) == 0)
            return true;
    }
    *pError = "--from takes the address of one of the accounts";
    for (size_t i = 0; i < accounts.size(); ++i)
        *pError += std::string(i == 0 ? " (" : ", ") + accounts[i] + (i + 1 == accounts.size() ? ")" : "");
    *pError += ": " + pOptions->from;
    return false;
}

}  // namespace

bool ParseHostOptions(int argc, char** argv, HostOptions* pOptions, std::string* pError)
{
    struct Value {
        const char* pszName;
        std::string* pTarget;
    } values[] = {
        { "--store", &pOptions->storeDir },      { "--outlook-version", &pOptions->version },
        { "--subject", &pOptions->subject },     { "--body", &pOptions->bodyFile },
        { "--html", &pOptions->htmlFile },       { "--list", &pOptions->listPath },
        { "--sheet", &pOptions->sheet },
        { "--answer", &pOptions->answer },       { "--boxes", &pOptions->boxesFile },
        { "--original", &pOptions->originalFile }, { "--subject-file", &pOptions->subjectFile },
        { "--kill-after", &pOptions->killAfter },
        { "--escape-after", &pOptions->escapeAfter }, { "--close-after", &pOptions->closeAfter },
        { "--preview", &pOptions->preview },     { "--preview-out", &pOptions->previewFile },
        { "--outbox-holds-after", &pOptions->outboxHoldsAfter }, { "--cancel-after", &pOptions->cancelAfter },
        { "--send-at", &pOptions->sendAt },      { "--preset", &pOptions->preset },
        { "--accounts", &pOptions->accounts },   { "--from", &pOptions->from },
        { "--on-behalf-of", &pOptions->onBehalfOf },
    };
    for (int i = 1; i < argc; ++i) {
        const char* pszArg = argv[i];
        if (strcmp(pszArg, "--test-send") == 0) {
            pOptions->bTestSend = true;
            continue;
        }
        if (strcmp(pszArg, "--no-html-store") == 0) {
            pOptions->bHtmlOk = false;
            continue;
        }
        if (strcmp(pszArg, "--copy-drops-account") == 0) {
            pOptions->bCopyDropsAccount = true;
            continue;
        }
        if (strcmp(pszArg, "--accounts") == 0)
            pOptions->bAccounts = true;
        if (i + 1 >= argc) {
            *pError = std::string("missing value after ") + pszArg;
            return false;
        }
        struct Joined {
            const char* pszName;
            std::string* pTarget;
        } joined[] = {
            { "--fault", &pOptions->faultPlan }, { "--to", &pOptions->to },
            { "--cc", &pOptions->cc },           { "--bcc", &pOptions->bcc },
        };
        bool bJoined = false;
        for (const Joined& value : joined) {
            if (strcmp(pszArg, value.pszName) == 0) {
                if (!value.pTarget->empty())
                    *value.pTarget += ";";
                *value.pTarget += argv[++i];
                bJoined = true;
                break;
            }
        }
        if (bJoined)
            continue;
        bool bKnown = false;
        for (const Value& value : values) {
            if (strcmp(pszArg, value.pszName) == 0) {
                *value.pTarget = argv[++i];
                bKnown = true;
                break;
            }
        }
        if (!bKnown) {
            *pError = std::string("unknown option ") + pszArg;
            return false;
        }
    }
    if (pOptions->storeDir.empty()) {
        *pError = "--store is required";
        return false;
    }
    std::vector<bool> answers;
    if (!SplitAnswers(pOptions->answer, &answers)) {
        *pError = "--answer takes yes or no, or several of them separated by commas";
        return false;
    }
    if (!pOptions->preview.empty() && (pOptions->preview.find_first_not_of("0123456789") != std::string::npos ||
                                       atoi(pOptions->preview.c_str()) <= 0 || pOptions->previewFile.empty())) {
        *pError = "--preview takes a number above 0, with --preview-out";
        return false;
    }
    if (!pOptions->killAfter.empty() &&
        (pOptions->killAfter.find_first_not_of("0123456789") != std::string::npos || atoi(pOptions->killAfter.c_str()) <= 0)) {
        *pError = "--kill-after takes a number above 0";
        return false;
    }
    for (const std::string* pStop : { &pOptions->escapeAfter, &pOptions->closeAfter }) {
        if (!pStop->empty() && pStop->find_first_not_of("0123456789") != std::string::npos) {
            *pError = "--escape-after and --close-after take a number";
            return false;
        }
    }
    if (!pOptions->escapeAfter.empty() && !pOptions->closeAfter.empty()) {
        *pError = "--escape-after and --close-after cannot be given together";
        return false;
    }
    if (!pOptions->outboxHoldsAfter.empty() &&
        (pOptions->outboxHoldsAfter.find_first_not_of("0123456789") != std::string::npos ||
         pOptions->outboxHoldsAfter.size() > 9)) {
        *pError = "--outbox-holds-after takes a number";
        return false;
    }
    unsigned uMilliseconds = 0;
    if (!pOptions->cancelAfter.empty() && !ParseSeconds(pOptions->cancelAfter, &uMilliseconds)) {
        *pError = "--cancel-after takes a number of seconds, such as 2 or 2.5";
        return false;
    }
    if (!pOptions->cancelAfter.empty() && !pOptions->preview.empty()) {
        *pError = "--cancel-after cannot be given with --preview";
        return false;
    }
    int nHour = 0, nMinute = 0;
    if (!pOptions->sendAt.empty() && !ParseClockTime(pOptions->sendAt, &nHour, &nMinute)) {
        *pError = "--send-at takes a time of day from 00:00 to 23:59";
        return false;
    }
    if (!CheckAccounts(pOptions, pError))
        return false;
    if (!pOptions->preset.empty() && FindLimitPreset(pOptions->preset.c_str()) < 0) {
        *pError = "--preset takes one of";
        for (int i = 0; i < LimitPresetCount(); ++i)
            *pError += std::string(i == 0 ? " " : ", ") + LimitPresetAt(i)->pszKey;
        return false;
    }
    return true;
}

bool ParseClockTime(const std::string& text, int* pnHour, int* pnMinute)
{
    if (text.size() != 5 || text[2] != ':')
        return false;
    for (size_t i : { 0, 1, 3, 4 }) {
        if (text[i] < '0' || text[i] > '9')
            return false;
    }
    int nHour = (text[0] - '0') * 10 + (text[1] - '0');
    int nMinute = (text[3] - '0') * 10 + (text[4] - '0');
    if (nHour > 23 || nMinute > 59)
        return false;
    *pnHour = nHour;
    *pnMinute = nMinute;
    return true;
}

bool ParseSeconds(const std::string& text, unsigned* puMilliseconds)
{
    size_t nDot = text.find('.');
    std::string whole = text.substr(0, nDot);
    std::string fraction = nDot == std::string::npos ? std::string() : text.substr(nDot + 1);
    if (whole.empty() || whole.find_first_not_of("0123456789") != std::string::npos ||
        (nDot != std::string::npos && (fraction.empty() || fraction.find_first_not_of("0123456789") != std::string::npos)))
        return false;
    // Ten digits of whole seconds are already past the longest wait.
    if (whole.size() > 10)
        return false;
    double dMilliseconds = strtod(text.c_str(), NULL) * 1000.0 + 0.5;
    if (dMilliseconds > (double)LC_HOST_LONGEST_WAIT_MS)
        return false;
    *puMilliseconds = (unsigned)dMilliseconds;
    return true;
}

bool SplitAnswers(const std::string& answer, std::vector<bool>* pYes)
{
    pYes->clear();
    size_t nStart = 0;
    for (;;) {
        size_t nComma = answer.find(',', nStart);
        std::string one = answer.substr(nStart, nComma == std::string::npos ? std::string::npos : nComma - nStart);
        if (one != "yes" && one != "no")
            return false;
        pYes->push_back(one == "yes");
        if (nComma == std::string::npos)
            return true;
        nStart = nComma + 1;
    }
}
