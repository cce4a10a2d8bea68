#include "engine/job_resume.h"

#include <stdlib.h>
#include <string.h>

#include <map>
#include <vector>

#include "engine/engine_report.h"
#include "engine/host_dispatch.h"
#include "engine/job_progress.h"
#include "engine/send_job_state.h"
#include "logs/job_log.h"
#include "mailing/bounded_copy.h"
#include "mailing/list_check.h"
#include "mailing/text_conversion.h"
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

// "(h:mm.ss) # n, To: ADDRESS. Sending": the address, or false.
bool SendingAddress(const char* pszLine, char* pszAddress, size_t cchAddress)
{
    static const char kszSending[] = ". Sending";
    const char* pszTo = strstr(pszLine, ", To: ");
    if (pszLine[0] != '(' || pszTo == NULL || !EndsWith(pszLine, kszSending))
        return false;
    pszTo += 6;
    size_t cch = strlen(pszTo) - (sizeof(kszSending) - 1);
    CopyBounded(pszAddress, cchAddress, pszTo, cch);
    return true;
}

// A recipient's result line: sent, or not sent with its reason.
bool IsResultLine(const char* pszLine)
{
    return pszLine[0] == '(' && strstr(pszLine, "To: ") != NULL &&
           (strstr(pszLine, ". Sent Successfully") != NULL || strstr(pszLine, ". Not Sent: ") != NULL);
}

void FieldsOf(const ListRecord* pRecord, std::vector<std::string>* pFields)
{
    pFields->clear();
    for (int i = 0; i < pRecord->nCount; ++i)
        pFields->push_back(pRecord->ppszFields[i]);
}

// The list's header and every recipient, read as a job reads them; false
// when it cannot be opened or has no address column.
bool ReadResumeList(const char* pszPath, ResumeList* pList)
{
    ListReader reader;
    if (!pszPath || !pszPath[0] || !reader.Open(pszPath, ListDelimiter))
        return false;
    // Records of the longest kind do not belong on the stack.
    std::vector<char> raw(LC_RAW_RECORD_CAPACITY);
    ListRecord header, record;
    int nColumn = -1;
    char szAddress[LC_ADDRESS_CAPACITY];
    bool bHeaderDone = false;
    while (reader.ReadNextRecipient(&nColumn, bHeaderDone, szAddress, sizeof(szAddress), NULL, 0, raw.data(),
                                    (int)raw.size(), &header, &record)) {
        if (!bHeaderDone)
            FieldsOf(&header, &pList->header);
        bHeaderDone = true;
        pList->records.emplace_back();
        FieldsOf(&record, &pList->records.back());
        pList->addresses.push_back(szAddress);
        pList->raws.push_back(raw.data());
    }
    if (!bHeaderDone && header.nCount > 0)
        FieldsOf(&header, &pList->header);
    reader.Close();
    return nColumn >= 0;
}

// Column names as the same column: blanks around them and the case of A-Z aside.
std::string NameKey(const std::string& name)
{
    size_t nStart = name.find_first_not_of(" \t");
    if (nStart == std::string::npos)
        return std::string();
    size_t nEnd = name.find_last_not_of(" \t");
    std::string key = name.substr(nStart, nEnd - nStart + 1);
    for (char& ch : key) {
        if (ch >= 'A' && ch <= 'Z')
            ch = (char)(ch - 'A' + 'a');
    }
    return key;
}

// The columns both headers have, but the address columns (the address is
// compared on its own), as pairs of indexes.
void SharedColumns(const std::vector<std::string>& now, const std::vector<std::string>& then,
                   std::vector<int>* pNow, std::vector<int>* pThen)
{
    pNow->clear();
    pThen->clear();
    ListRecord header;
    for (const std::string& name : now)
        AddListField(&header, name.c_str(), name.size());
    int nNowAddress = FindAddressColumn(&header);
    ClearListRecord(&header);
    for (const std::string& name : then)
        AddListField(&header, name.c_str(), name.size());
    int nThenAddress = FindAddressColumn(&header);
    for (int i = 0; i < (int)now.size(); ++i) {
        if (i == nNowAddress)
            continue;
        std::string key = NameKey(now[i]);
        for (int j = 0; j < (int)then.size(); ++j) {
            if (j != nThenAddress && NameKey(then[j]) == key) {
                pNow->push_back(i);
                pThen->push_back(j);
                break;
            }
        }
    }
}

// A recipient as compared: its address, then its values in the shared columns.
std::string RecipientKey(const std::string& address, const std::vector<std::string>& fields,
                         const std::vector<int>& columns)
{
    std::string key = AddressKey(address.c_str());
    for (int nColumn : columns) {
        key += '\x1f';
        if (nColumn < (int)fields.size())
            key += fields[nColumn];
    }
    return key;
}

// A name for the list's record, made from its full path: the same file by
// any spelling of its path gets the same name.
void RecordName(const char* pszJobList, const char* pszSheet, char* pszName, size_t cchName)
{
    char szFull[MAX_PATH];
    DWORD cch = GetFullPathNameA(pszJobList, sizeof(szFull), szFull, NULL);
    if (cch == 0 || cch >= sizeof(szFull))
        CopyBounded(szFull, sizeof(szFull), pszJobList, strlen(pszJobList));
    unsigned long long ullHash = 14695981039346656037ULL;   // FNV-1a
    for (const char* p = szFull; *p; ++p) {
        char ch = *p == '/' ? '\\' : *p;
        if (ch >= 'A' && ch <= 'Z')
            ch = (char)(ch - 'A' + 'a');
        ullHash = (ullHash ^ (unsigned char)ch) * 1099511628211ULL;
    }
    // Each sheet of a workbook is a list of its own; a text list's name is
    // as it always was.
    if (pszSheet && pszSheet[0]) {
        ullHash = (ullHash ^ (unsigned char)'|') * 1099511628211ULL;
        for (const char* p = pszSheet; *p; ++p)
            ullHash = (ullHash ^ (unsigned char)*p) * 1099511628211ULL;
    }
    snprintf(pszName, cchName, "%016llx", ullHash);
}

bool ResumeFolder(char* pszFolder)
{
    const char* pszSlash = strrchr(gszCurrentJobPath, '\\');
    if (pszSlash == NULL)
        return false;
    size_t cch = pszSlash + 1 - gszCurrentJobPath;
    if (cch + 8 >= MAX_PATH)
        return false;
    memcpy(pszFolder, gszCurrentJobPath, cch);
    strcpy(pszFolder + cch, "Resume\\");
    return true;
}

// Text for a box (ANSI) from a record's raw text (UTF-8): one line, its line end dropped.
std::string RecordForBox(const std::string& raw)
{
    std::vector<char> text(raw.size() + 1);
    CopyBounded(text.data(), text.size(), raw.c_str());
    SpaceEveryLineBreak(text.data());
    size_t cch = strlen(text.data());
    while (cch > 0 && text[cch - 1] == ' ')
        text[--cch] = '\0';
    Utf8ToAnsiInPlace(text.data());
    return text.data();
}

}  // namespace


std::string TextAsLogged(const char* pszTextUtf8)
{
    if (pszTextUtf8 == NULL)
        return std::string();
    BSTR bstrText = CodePageToBstr(pszTextUtf8, CP_UTF8);
    char* pszAnsi = bstrText ? WideToAnsiHeap(bstrText) : NULL;
    SysFreeString(bstrText);
    std::string text = pszAnsi ? pszAnsi : pszTextUtf8;
    free(pszAnsi);
    return text;
}

void ReadLastJobLog(const char* pszLogPath, const char* pszListPath, const char* pszSheet, LastJobRecord* pRecord)
{
    *pRecord = LastJobRecord();
    FILE* pLog = pszLogPath && pszLogPath[0] ? fopen(pszLogPath, "r") : NULL;
    if (pLog == NULL)
        return;
    bool bSubjectRead = false;
    char szLine[LC_LOG_LINE_CAPACITY];
    while (fgets(szLine, sizeof(szLine), pLog)) {
        TrimLineEnd(szLine);
        char szAddress[LC_ADDRESS_CAPACITY];
        if (StartsWith(szLine, "Job Started: (") && EndsWith(szLine, ")")) {
            CopyBounded(pRecord->szStarted, sizeof(pRecord->szStarted), szLine + 14, strlen(szLine + 14) - 1);
        } else if (!bSubjectRead && StartsWith(szLine, "\tSubject: ")) {
            pRecord->subject = szLine + 10;
            bSubjectRead = true;
        } else if (StartsWith(szLine, "\tMailing List: ")) {
            pRecord->list = szLine + 15;
            pRecord->bNamesList = pszListPath != NULL && _stricmp(szLine + 15, pszListPath) == 0;
        } else if (StartsWith(szLine, LC_LOG_SHEET_LINE) && pRecord->sheet.empty()) {
            pRecord->sheet = szLine + strlen(LC_LOG_SHEET_LINE);
        } else if (StartsWith(szLine, "\tResult: ")) {
            pRecord->bCompleted = strcmp(szLine + 9, "Completed Successfully") == 0;
        } else if (SendingAddress(szLine, szAddress, sizeof(szAddress))) {
            strcpy(pRecord->szInFlight, szAddress);
        } else if (IsResultLine(szLine)) {
            pRecord->szInFlight[0] = '\0';
        }
    }
    fclose(pLog);
    // The same workbook names the same list only with the same sheet.
    if (pRecord->bNamesList && pRecord->sheet != (pszSheet ? pszSheet : ""))
        pRecord->bNamesList = false;
}

bool ResumeRecordPaths(const char* pszJobList, const char* pszSheet, char* pszLog, char* pszSent, char* pszFlight)
{
    char szFolder[MAX_PATH], szName[32];
    if (pszJobList == NULL || pszJobList[0] == '\0' || !ResumeFolder(szFolder))
        return false;
    RecordName(pszJobList, pszSheet, szName, sizeof(szName));
    if (strlen(szFolder) + strlen(szName) + 16 >= MAX_PATH)
        return false;
    snprintf(pszLog, MAX_PATH, "%s%s-log.txt", szFolder, szName);
    snprintf(pszSent, MAX_PATH, "%s%s-sent.txt", szFolder, szName);
    snprintf(pszFlight, MAX_PATH, "%s%s-flight.txt", szFolder, szName);
    return true;
}

ResumeFinder::ResumeFinder()
    : m_bActive(false), m_bHeaderSeen(false), m_last(), m_nExact(0), m_nAny(0), m_plan()
{
}

void ResumeFinder::Begin(const char* pszJobList, const char* pszSheet, const char* pszSubjectAnsi)
{
    m_bActive = false;
    m_bHeaderSeen = false;
    m_plan = ResumePlan();
    m_then = ResumeList();
    m_flight = ResumeList();
    m_sent.clear();
    m_nExact = m_nAny = 0;
    char szLog[MAX_PATH], szSent[MAX_PATH], szFlight[MAX_PATH];
    bool bRecord = ResumeRecordPaths(pszJobList, pszSheet, szLog, szSent, szFlight);
    // The last job of all, when it went to this list; else the last one to
    // it that did not complete, as the record keeps it.
    char szLastSent[MAX_PATH];
    const char* pszSentPath = szLastSent;
    ReadLastJobLog(gszCurrentJobPath, pszJobList, pszSheet, &m_last);
    if (!m_last.bNamesList || !FormSentListPath(m_last.sheet.c_str(), szLastSent, sizeof(szLastSent))) {
        if (!bRecord)
            return;
        ReadLastJobLog(szLog, pszJobList, pszSheet, &m_last);
        if (!m_last.bNamesList)
            return;
        pszSentPath = szSent;
    }
    if (m_last.bCompleted || m_last.subject != (pszSubjectAnsi ? pszSubjectAnsi : ""))
        return;
    if (!ReadResumeList(pszSentPath, &m_then))
        return;
    // The recipient in flight: the record the job kept, when it is of that
    // address; else the first recipient of the address not yet sent.
    m_flightAddress = m_last.szInFlight[0] ? AddressKey(m_last.szInFlight) : std::string();
    if (m_flightAddress.empty() || !bRecord || !ReadResumeList(szFlight, &m_flight) || m_flight.records.size() != 1 ||
        AddressKey(m_flight.addresses[0].c_str()) != m_flightAddress)
        m_flight = ResumeList();
    m_bActive = true;
}

// The columns to compare, once the list's header is known.
void ResumeFinder::MatchHeader(const std::vector<std::string>& now)
{
    m_bHeaderSeen = true;
    m_plan.bHeaderChanged = now != m_then.header;
    std::vector<int> thenColumns;
    SharedColumns(now, m_then.header, &m_nowColumns, &thenColumns);
    // A record of the sent list stands for one recipient of the list: two
    // records alike were two copies.
    for (size_t i = 0; i < m_then.records.size(); ++i)
        ++m_sent[RecipientKey(m_then.addresses[i], m_then.records[i], thenColumns)];
    m_then = ResumeList();
    if (!m_flight.records.empty()) {
        std::vector<int> flightColumns;
        SharedColumns(now, m_flight.header, &m_nowFlight, &flightColumns);
        m_flightKey = RecipientKey(m_flight.addresses[0], m_flight.records[0], flightColumns);
    }
}

void ResumeFinder::Add(const ListRecord* pHeader, const ListRecord* pRecord, const char* pszAddress,
                       const char* pszRaw)
{
    if (!m_bActive)
        return;
    if (!m_bHeaderSeen) {
        FieldsOf(pHeader, &m_fields);
        MatchHeader(m_fields);
    }
    FieldsOf(pRecord, &m_fields);
    std::string address = pszAddress ? pszAddress : "";
    int nPlace = ++m_plan.nTotal;
    auto found = m_sent.find(RecipientKey(address, m_fields, m_nowColumns));
    if (found != m_sent.end() && found->second > 0) {
        --found->second;
        m_plan.passOver.push_back(1);
        m_plan.sentRecords.push_back(pszRaw ? pszRaw : "");
        ++m_plan.nEarlier;
        return;
    }
    m_plan.passOver.push_back(0);
    if (m_flightAddress.empty() || AddressKey(address.c_str()) != m_flightAddress)
        return;
    if (m_nAny == 0) {
        m_nAny = nPlace;
        m_anyRaw = pszRaw ? pszRaw : "";
    }
    if (m_nExact == 0 && !m_flight.records.empty() && RecipientKey(address, m_fields, m_nowFlight) == m_flightKey) {
        m_nExact = nPlace;
        m_exactRaw = pszRaw ? pszRaw : "";
    }
}

void ResumeFinder::Finish(ResumePlan* pPlan)
{
    *pPlan = ResumePlan();
    if (!m_bActive)
        return;
    m_plan.nInFlight = m_nExact > 0 ? m_nExact : m_nAny;
    if (m_plan.nInFlight > 0) {
        CopyBounded(m_plan.szInFlight, sizeof(m_plan.szInFlight), m_last.szInFlight, strlen(m_last.szInFlight));
        m_plan.inFlightRecord = m_nExact > 0 ? m_exactRaw : m_anyRaw;
    }
    m_plan.subject = m_last.subject;
    memcpy(m_plan.szStarted, m_last.szStarted, sizeof(m_plan.szStarted));
    m_plan.bFound = m_plan.nEarlier > 0 || m_plan.nInFlight > 0;
    *pPlan = std::move(m_plan);
    m_plan = ResumePlan();
    m_bActive = false;
}

std::string ResumeQuestionText(const ResumePlan* pPlan)
{
    int nRest = pPlan->nTotal - pPlan->nEarlier;
    std::vector<char> text(pPlan->subject.size() + 1024);
    snprintf(text.data(), text.size(),
             "The last job to this mailing list, \"%s\" started %s, sent to %d of its %d recipient%s and did not "
             "complete.%s Send only to the %d recipient%s who %s not had it yet?",
             pPlan->subject.c_str(), pPlan->szStarted, pPlan->nEarlier, pPlan->nTotal, pPlan->nTotal == 1 ? "" : "s",
             pPlan->bHeaderChanged ? " The list's header has changed since: a recipient counts as sent when its "
                                     "address and its values in the columns both headers share are the same."
                                   : "",
             nRest, nRest == 1 ? "" : "s", nRest == 1 ? "has" : "have");
    return text.data();
}

std::string InFlightQuestionText(const ResumePlan* pPlan)
{
    std::string record = RecordForBox(pPlan->inFlightRecord);
    std::vector<char> text(record.size() + 1024);
    snprintf(text.data(), text.size(),
             "The last job stopped while its copy to one recipient was being submitted, so this recipient may or "
             "may not have received it: %s, in the record \"%s\".\n\nSend to this recipient as well?",
             pPlan->szInFlight, record.c_str());
    return text.data();
}

void OfferResume(SendJobState* pState, ResumeFinder* pFinder)
{
    ResumePlan found;
    pFinder->Finish(&found);
    if (!found.bFound)
        return;
    std::string question = ResumeQuestionText(&found) + "\n\nChoose No to send to every recipient of the list.";
    if (AskJobQuestion(pState->hWndOwner, question.c_str()) != IDYES)
        return;
    found.bResumed = true;
    if (found.nInFlight > 0) {
        found.bSkipInFlight = AskJobQuestion(pState->hWndOwner, InFlightQuestionText(&found).c_str()) != IDYES;
        if (found.bSkipInFlight) {
            // Into the new sent list with the others, in list order.
            size_t nBefore = 0;
            for (int i = 0; i < found.nInFlight - 1; ++i)
                nBefore += found.passOver[i];
            found.sentRecords.insert(found.sentRecords.begin() + nBefore, found.inFlightRecord);
            found.passOver[found.nInFlight - 1] = 1;
        }
    }
    JobProgress.alreadySentCount = (int)found.sentRecords.size();
    pState->resume = found;
}

bool AlreadySent(const ResumePlan* pPlan, int nPlace)
{
    if (pPlan == NULL || !pPlan->bResumed || nPlace < 1 || nPlace > (int)pPlan->passOver.size())
        return false;
    return pPlan->passOver[nPlace - 1] != 0;
}

void KeepIncompleteJob(const char* pszJobList, const char* pszSheet, ResumePlan* pPlan)
{
    pPlan->szFlightPath[0] = '\0';
    char szFolder[MAX_PATH];
    if (!ResumeFolder(szFolder))
        return;
    CreateDirectoryA(szFolder, NULL);
    char szLog[MAX_PATH], szSent[MAX_PATH], szFlight[MAX_PATH];
    LastJobRecord last;
    ReadLastJobLog(gszCurrentJobPath, NULL, NULL, &last);
    char szLastSent[MAX_PATH];
    if (!last.list.empty() && !last.bCompleted &&
        ResumeRecordPaths(last.list.c_str(), last.sheet.c_str(), szLog, szSent, szFlight)) {
        CopyFileA(gszCurrentJobPath, szLog, FALSE);
        if (!FormSentListPath(last.sheet.c_str(), szLastSent, sizeof(szLastSent)) ||
            !CopyFileA(szLastSent, szSent, FALSE))
            DeleteFileA(szSent);
    }
    if (ResumeRecordPaths(pszJobList, pszSheet, szLog, szSent, szFlight))
        memcpy(pPlan->szFlightPath, szFlight, sizeof(pPlan->szFlightPath));
}

void NoteRecordInFlight(const ResumePlan* pPlan, const char* pszHeaderRaw, const char* pszRecordRaw)
{
    const char* ppszRecords[] = { pszHeaderRaw, pszRecordRaw };
    RewriteSentList(pPlan->szFlightPath, ListEncodingUtf8Mark, ppszRecords, 2);
}

void ForgetIncompleteJob(const char* pszJobList, const char* pszSheet)
{
    char szLog[MAX_PATH], szSent[MAX_PATH], szFlight[MAX_PATH];
    if (!ResumeRecordPaths(pszJobList, pszSheet, szLog, szSent, szFlight))
        return;
    DeleteFileA(szLog);
    DeleteFileA(szSent);
    DeleteFileA(szFlight);
}
