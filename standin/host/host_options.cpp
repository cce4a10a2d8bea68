#include "standin/host/host_options.h"

#include <stdlib.h>
#include <string.h>

const char gszHostUsage[] =
    "usage: outlook-standin.exe --store DIR [--list FILE] [--subject TEXT] [--subject-file FILE]\n"
    "                           [--body FILE] [--html FILE]\n"
    "                           [--outlook-version TEXT] [--answer yes|no[,yes|no]...] [--fault SPEC]...\n"
    "                           [--kill-after N] [--escape-after N | --close-after N]\n"
    "                           [--preview K --preview-out FILE [--test-send]]\n"
    "                           [--boxes FILE] [--original FILE] [--no-html-store]\n"
    "                           [--to ADDR]... [--cc ADDR]... [--bcc ADDR]...\n";

bool ParseHostOptions(int argc, char** argv, HostOptions* pOptions, std::string* pError)
{
    struct Value {
        const char* pszName;
        std::string* pTarget;
    } values[] = {
        { "--store", &pOptions->storeDir },      { "--outlook-version", &pOptions->version },
        { "--subject", &pOptions->subject },     { "--body", &pOptions->bodyFile },
        { "--html", &pOptions->htmlFile },       { "--list", &pOptions->listPath },
        { "--answer", &pOptions->answer },       { "--boxes", &pOptions->boxesFile },
        { "--original", &pOptions->originalFile }, { "--subject-file", &pOptions->subjectFile },
        { "--kill-after", &pOptions->killAfter },
        { "--escape-after", &pOptions->escapeAfter }, { "--close-after", &pOptions->closeAfter },
        { "--preview", &pOptions->preview },     { "--preview-out", &pOptions->previewFile },
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
