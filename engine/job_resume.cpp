#include "engine/job_resume.h"

#include <string.h>

#include <algorithm>
#include <vector>

#include "engine/engine_report.h"
#include "engine/send_job.h"
#include "engine/send_job_state.h"
#include "settings/data_paths.h"
#include "settings/settings_store.h"

namespace {

#define LC_LOG_LINE_CAPACITY 2048

void TrimLineEnd(char* pszLine)
{
    size_t cch = strlen(pszLine);
    while (cch > 0 && (pszLine[cch - 1] == '\n' || pszLine[cch - 1] == '\r'))
        pszLine[--cch] = '\0';
}

bool StartsWith(const char* pszText, const char* pszPrefix)
{
    return strncmp(pszText, pszPrefix, strlen(pszPrefix)) == 0;
}

bool EndsWith(const char* pszText, const char* pszSuffix)
{
    size_t cch = strlen(pszText), cchSuffix = strlen(pszSuffix);
    return cch >= cchSuffix && strcmp(pszText + cch - cchSuffix, pszSuffix) == 0;
}

void CopyCut(char* pszOut, size_t cchOut, const char* pszText, size_t cchText)
{
    if (cchText >= cchOut)
        cchText = cchOut - 1;
    memcpy(pszOut, pszText, cchText);
    pszOut[cchText] = '\0';
}

// "(h:mm.ss) # n, To: ADDRESS. Sending": the address, or false.
bool SendingAddress(const char* pszLine, char* pszAddress, size_t cchAddress)
{
    static const char kszSending[] = ". Sending";
    const char* pszTo = strstr(pszLine, ", To: ");
    if (pszLine[0] != '(' || pszTo == NULL || !EndsWith(pszLine, kszSending))
        return false;
    pszTo += 6;
    size_t cch = strlen(pszTo) - (sizeof(kszSending) - 1);
    CopyCut(pszAddress, cchAddress, pszTo, cch);
    return true;
}

// A recipient's result line: sent, or not sent with its reason.
bool IsResultLine(const char* pszLine)
{
    return pszLine[0] == '(' && strstr(pszLine, "To: ") != NULL &&
           (EndsWith(pszLine, ". Sent Successfully") || strstr(pszLine, ". Not Sent: ") != NULL);
}

}  // namespace

std::string ResumeKey(const char* pszAddress)
{
    const char* pszStart = pszAddress;
    while (*pszStart == ' ' || *pszStart == '\t')
        ++pszStart;
    size_t cch = strlen(pszStart);
    while (cch > 0 && (pszStart[cch - 1] == ' ' || pszStart[cch - 1] == '\t'))
        --cch;
    std::string key(pszStart, cch);
    for (char& ch : key) {
        if (ch >= 'A' && ch <= 'Z')
            ch = (char)(ch - 'A' + 'a');
    }
    return key;
}

void ReadLastJobLog(const char* pszLogPath, const char* pszListPath, LastJobRecord* pRecord)
{
    memset(pRecord, 0, sizeof(*pRecord));
    FILE* pLog = pszLogPath[0] ? fopen(pszLogPath, "r") : NULL;
    if (pLog == NULL)
        return;
    bool bListNamed = false, bCompleted = false;
    char szLine[LC_LOG_LINE_CAPACITY];
    while (fgets(szLine, sizeof(szLine), pLog)) {
        TrimLineEnd(szLine);
        char szAddress[LC_ADDRESS_CAPACITY];
        if (StartsWith(szLine, "Job Started: (") && EndsWith(szLine, ")")) {
            CopyCut(pRecord->szStarted, sizeof(pRecord->szStarted), szLine + 14, strlen(szLine + 14) - 1);
        } else if (StartsWith(szLine, "\tMailing List: ")) {
            bListNamed = _stricmp(szLine + 15, pszListPath) == 0;
        } else if (StartsWith(szLine, "\tResult: ")) {
            bCompleted = strcmp(szLine + 9, "Completed Successfully") == 0;
        } else if (SendingAddress(szLine, szAddress, sizeof(szAddress))) {
            strcpy(pRecord->szInFlight, szAddress);
        } else if (IsResultLine(szLine)) {
            pRecord->szInFlight[0] = '\0';
        }
    }
    fclose(pLog);
    pRecord->bSameList = bListNamed && !bCompleted;
}

bool ReadLastSentList(const char* pszSentListPath, const char* pszHeaderRaw, ResumePlan* pPlan)
{
    // Read as the list itself is read, whatever its encoding: the last job
    // wrote it in the list's own.
    FILE* pSent = pszSentListPath[0] ? OpenListFile(pszSentListPath) : NULL;
    if (pSent == NULL)
        return false;
    // Records of the longest kind do not belong on the stack.
    std::vector<char> header(LC_RAW_RECORD_CAPACITY), wanted(LC_RAW_RECORD_CAPACITY), raw(LC_RAW_RECORD_CAPACITY);
    CopyCut(wanted.data(), wanted.size(), pszHeaderRaw, strlen(pszHeaderRaw));
    TrimLineEnd(wanted.data());
    int nColumn = -1;
    ListRecord headerRecord, record;
    InitListRecord(&headerRecord);
    InitListRecord(&record);
    char szAddress[LC_ADDRESS_CAPACITY];
    bool bHeaderDone = false;
    while (ReadNextRecipient(&nColumn, pSent, bHeaderDone, szAddress, sizeof(szAddress),
                             bHeaderDone ? NULL : header.data(), (int)header.size(), raw.data(), (int)raw.size(),
                             &headerRecord, &record)) {
        bHeaderDone = true;
        pPlan->keys.push_back(ResumeKey(szAddress));
        pPlan->earlierRecords.push_back(raw.data());
    }
    FreeListRecord(&headerRecord);
    FreeListRecord(&record);
    fclose(pSent);
    TrimLineEnd(header.data());
    if (strcmp(header.data(), wanted.data()) != 0) {
        pPlan->keys.clear();
        pPlan->earlierRecords.clear();
        return false;
    }
    std::sort(pPlan->keys.begin(), pPlan->keys.end());
    pPlan->nEarlier = (int)pPlan->keys.size();
    return true;
}

void OfferResume(SendJob* pJob, SendJobState* pState, ResumePlan* pPlan)
{
    LastJobRecord last;
    ReadLastJobLog(gszCurrentJobPath, JobOptions.ToList, &last);
    if (!last.bSameList)
        return;
    ResumePlan found = {};
    if (!ReadLastSentList(gszSentListPath, pState->szHeaderRaw, &found))
        return;
    bool bInFlight = last.szInFlight[0] && !std::binary_search(found.keys.begin(), found.keys.end(),
                                                               ResumeKey(last.szInFlight));
    if (found.nEarlier == 0 && !bInFlight)
        return;

    char szText[LC_ADDRESS_CAPACITY + 512];
    int nRest = pState->nTotal - found.nEarlier;
    if (nRest < 0)
        nRest = 0;
    snprintf(szText, sizeof(szText),
             "The last job to this mailing list sent to %d of its %d recipient%s and did not complete. Send only to "
             "the %d recipient%s who %s not had it yet?\n\nChoose No to send to every recipient of the list.",
             found.nEarlier, pState->nTotal, pState->nTotal == 1 ? "" : "s", nRest, nRest == 1 ? "" : "s",
             nRest == 1 ? "has" : "have");
    if (AskJobQuestion(pJob->m_hWndOwner, szText) != IDYES)
        return;
    found.bResumed = true;
    memcpy(found.szStarted, last.szStarted, sizeof(found.szStarted));
    if (bInFlight) {
        memcpy(found.szInFlight, last.szInFlight, sizeof(found.szInFlight));
        snprintf(szText, sizeof(szText),
                 "The last job stopped while its copy to one recipient was being submitted, so this recipient may "
                 "or may not have received it: %s\n\nSend to this recipient as well?",
                 last.szInFlight);
        found.bSkipInFlight = AskJobQuestion(pJob->m_hWndOwner, szText) != IDYES;
    }
    *pPlan = found;
}

bool AlreadySent(const ResumePlan* pPlan, const char* pszAddress, bool* pbInFlight)
{
    *pbInFlight = false;
    if (pPlan == NULL || !pPlan->bResumed)
        return false;
    std::string key = ResumeKey(pszAddress);
    if (std::binary_search(pPlan->keys.begin(), pPlan->keys.end(), key))
        return true;
    if (pPlan->bSkipInFlight && key == ResumeKey(pPlan->szInFlight)) {
        *pbInFlight = true;
        return true;
    }
    return false;
}
