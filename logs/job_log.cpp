#include "logs/job_log.h"

#include <io.h>
#include <stdlib.h>

#include <string.h>

#include "mailing/bounded_copy.h"
#include "mailing/list_reader.h"
#include "resources/product.h"
#include "settings/data_paths.h"
#include "settings/settings_store.h"
#include "ui/version_info.h"

const char* DelimiterName(int nDelimiter)
{
    if (nDelimiter == ListDelimiterComma)
        return "Comma";
    if (nDelimiter == ListDelimiterTab)
        return "Tab";
    if (nDelimiter == ListDelimiterSemicolon)
        return "Semicolon";
    return "Unknown";
}

static SYSTEMTIME Now()
{
    SYSTEMTIME time;
    GetLocalTime(&time);
    return time;
}

// month/day/year hour:minute.second, without leading zeros on the first four.
static void WriteStamp(FILE* pLog, const char* pszLabel, const SYSTEMTIME* pTime)
{
    fprintf(pLog, "%s (%d/%d/%d %d:%02d.%02d)\n", pszLabel, pTime->wMonth, pTime->wDay, pTime->wYear,
            pTime->wHour, pTime->wMinute, pTime->wSecond);
}

static const char kszSheetLine[] = LC_LOG_SHEET_LINE;

bool LastJobSentListPath(char* pszOut, size_t cchOut)
{
    FILE* pLog = gszCurrentJobPath[0] ? fopen(gszCurrentJobPath, "r") : NULL;
    if (pLog == NULL)
        return false;
    char szLine[LC_PATH_CAPACITY + 16];
    bool bFound = false;
    // Only the start block names it: it ends at the first line of the job.
    for (int nLine = 0; !bFound && nLine < 64 && fgets(szLine, sizeof(szLine), pLog); ++nLine) {
        size_t cch = strlen(szLine);
        while (cch > 0 && (szLine[cch - 1] == '\n' || szLine[cch - 1] == '\r'))
            szLine[--cch] = '\0';
        if (strncmp(szLine, kszSheetLine, sizeof(kszSheetLine) - 1) == 0)
            bFound = FormSentListPath(szLine + sizeof(kszSheetLine) - 1, pszOut, cchOut);
    }
    fclose(pLog);
    return bFound;
}

// List data in a log line, with its line breaks made spaces.
#define LC_LOG_VALUE_CAPACITY 1024

void WriteJobStartAt(FILE* pLog, const char* pszSubject, int nEmailsInFile, const SYSTEMTIME* pTime,
                     const char* pszAddressColumn, const char* pszSheet)
{
    int nMajor = 0, nMinor = 0;
    GetModuleVersion(&nMajor, &nMinor);

    WriteStamp(pLog, "Job Started:", pTime);
    fprintf(pLog, "\t%s version: %d.%d\n", LC_PRODUCT_NAME, nMajor, nMinor);
    fprintf(pLog, "\tSubject: %s\n", pszSubject);
    fprintf(pLog, "\tMailing List: %s\n", JobOptions.ToList);
    if (pszSheet && pszSheet[0])
        fprintf(pLog, "%s%s\n", kszSheetLine, pszSheet);
    fprintf(pLog, "\t\tDelimiter: %s\n", DelimiterName(ListDelimiter));
    fprintf(pLog, "\t\tEmails In File: %d\n", nEmailsInFile);
    if (pszAddressColumn) {
        char szColumn[LC_LOG_VALUE_CAPACITY];
        CopyBounded(szColumn, sizeof(szColumn), pszAddressColumn);
        SpaceEveryLineBreak(szColumn);
        fprintf(pLog, "\t\tAddress Column: %s\n", szColumn);
    }
    fprintf(pLog, "\tOptions:\n");
    fprintf(pLog, "\t\tPause: %d\n", JobOptions.Pause);
    if (JobOptions.DoSendRecv != 0)
        fprintf(pLog, "\t\tSend/Receive every %d message%s\n", JobOptions.SendRecvCount,
                JobOptions.SendRecvCount == 1 ? "" : "s");
    else
        fprintf(pLog, "\t\tSend/Receive off\n");
    fprintf(pLog, "\t\tSave Original: %d\n", JobOptions.SaveOrig);
    // The sending limits only when on: a job without them logs as before.
    if (JobOptions.PerMinute > 0)
        fprintf(pLog, "\t\tAt most %d message%s a minute\n", JobOptions.PerMinute, JobOptions.PerMinute == 1 ? "" : "s");
    if (JobOptions.PerDay > 0)
        fprintf(pLog, "\t\tAt most %d recipient%s in any 24 hours\n", JobOptions.PerDay, JobOptions.PerDay == 1 ? "" : "s");
    if (JobOptions.PauseVariation > 0)
        fprintf(pLog, "\t\tPause varied by up to %d second%s\n", JobOptions.PauseVariation,
                JobOptions.PauseVariation == 1 ? "" : "s");
    fflush(pLog);
}

void WriteJobStart(FILE* pLog, const char* pszSubject, int nEmailsInFile, const char* pszAddressColumn,
                   const char* pszSheet)
{
    SYSTEMTIME time = Now();
    WriteJobStartAt(pLog, pszSubject, nEmailsInFile, &time, pszAddressColumn, pszSheet);
}

void WriteJobEndAt(FILE* pLog, bool bCompleted, int nSent, const SYSTEMTIME* pTime)
{
    fprintf(pLog, "\tResult: %s\n", bCompleted ? "Completed Successfully" : "Incomplete (See Current Job Log)");
    fprintf(pLog, "\tE-Mails Sent: %d\n", nSent);
    WriteStamp(pLog, "Job Ended :", pTime);
    fflush(pLog);
}

void WriteJobEnd(FILE* pLog, bool bCompleted, int nSent)
{
    SYSTEMTIME time = Now();
    WriteJobEndAt(pLog, bCompleted, nSent, &time);
}

void LogMessageSentAt(FILE* pLog, int nSent, const char* pszAddress, const SYSTEMTIME* pTime, int nAttachments,
                      int nCc, int nBcc)
{
    char szAddress[LC_LOG_VALUE_CAPACITY];
    CopyBounded(szAddress, sizeof(szAddress), pszAddress);
    SpaceEveryLineBreak(szAddress);
    char szOthers[48] = "";
    if (nCc > 0 || nBcc > 0)
        snprintf(szOthers, sizeof(szOthers), " (Cc: %d, Bcc: %d)", nCc, nBcc);
    char szFiles[40] = "";
    if (nAttachments > 0)
        snprintf(szFiles, sizeof(szFiles), " (%d attachment%s)", nAttachments, nAttachments == 1 ? "" : "s");
    fprintf(pLog, "(%d:%02d.%02d) # %d, To: %s. Sent Successfully%s%s\n", pTime->wHour, pTime->wMinute,
            pTime->wSecond, nSent, szAddress, szOthers, szFiles);
    fflush(pLog);
}

void LogMessageSent(FILE* pLog, int nSent, const char* pszAddress, int nAttachments, int nCc, int nBcc)
{
    SYSTEMTIME time = Now();
    LogMessageSentAt(pLog, nSent, pszAddress, &time, nAttachments, nCc, nBcc);
}

void LogCopyAddressColumn(FILE* pLog, const char* pszKind, const char* pszColumn)
{
    char szColumn[LC_LOG_VALUE_CAPACITY];
    CopyBounded(szColumn, sizeof(szColumn), pszColumn);
    SpaceEveryLineBreak(szColumn);
    fprintf(pLog, "\t%s: column %s\n", pszKind, szColumn);
    fflush(pLog);
}

void LogSender(FILE* pLog, const char* pszSender)
{
    char szSender[LC_LOG_VALUE_CAPACITY];
    CopyBounded(szSender, sizeof(szSender), pszSender);
    SpaceEveryLineBreak(szSender);
    fprintf(pLog, "\tFrom: %s\n", szSender);
    fflush(pLog);
}

void LogMessageSending(FILE* pLog, int nNumber, const char* pszAddress)
{
    char szAddress[LC_LOG_VALUE_CAPACITY];
    CopyBounded(szAddress, sizeof(szAddress), pszAddress);
    SpaceEveryLineBreak(szAddress);
    SYSTEMTIME time = Now();
    fprintf(pLog, "(%d:%02d.%02d) # %d, To: %s. Sending\n", time.wHour, time.wMinute, time.wSecond, nNumber,
            szAddress);
    fflush(pLog);
}

static void LogText(FILE* pLog, const char* pszText)
{
    fputs(pszText, pLog);
    fflush(pLog);
}

void LogTimedText(FILE* pLog, const char* pszText)
{
    SYSTEMTIME time = Now();
    fprintf(pLog, "(%d:%02d.%02d) %s\n", time.wHour, time.wMinute, time.wSecond, pszText);
    fflush(pLog);
}

void LogSentTimesRecord(FILE* pLog, bool bMissing, int nDamagedLine, int nCutShortLine, int nMessages,
                        long long llRecipients)
{
    if (bMissing)
        fprintf(pLog, "\tNo record of copies sent in the last 24 hours was found: the limits count from this job on\n");
    else if (nDamagedLine > 0)
        fprintf(pLog, "\tThe record of copies sent in the last 24 hours is damaged (line %d): the limits count from zero\n",
                nDamagedLine);
    else if (nCutShortLine > 0)
        fprintf(pLog, "\tThe record of copies sent in the last 24 hours ended in a line cut short (line %d), left out\n",
                nCutShortLine);
    if (!bMissing && nDamagedLine == 0)
        fprintf(pLog, "\tSent in the last 24 hours before this job: %d message%s to %lld recipient%s\n", nMessages,
                nMessages == 1 ? "" : "s", llRecipients, llRecipients == 1 ? "" : "s");
    fflush(pLog);
}

void LogMessageNotSent(FILE* pLog, int nNumber, const char* pszAddress, const char* pszReason)
{
    char szAddress[LC_LOG_VALUE_CAPACITY];
    CopyBounded(szAddress, sizeof(szAddress), pszAddress);
    SpaceEveryLineBreak(szAddress);
    SYSTEMTIME time = Now();
    fprintf(pLog, "(%d:%02d.%02d) # %d, To: %s. Not Sent: %s\n", time.wHour, time.wMinute, time.wSecond, nNumber,
            szAddress, pszReason);
    fflush(pLog);
}

void LogRecordSkipped(FILE* pLog, int nLine, const char* pszReason, const char* pszAddress)
{
    char szAddress[LC_LOG_VALUE_CAPACITY];
    CopyBounded(szAddress, sizeof(szAddress), pszAddress);
    SpaceEveryLineBreak(szAddress);
    if (szAddress[0])
        fprintf(pLog, "Skipped line %d of the mailing list: %s: %s\n", nLine, pszReason, szAddress);
    else
        fprintf(pLog, "Skipped line %d of the mailing list: %s\n", nLine, pszReason);
    fflush(pLog);
}

void LogMergeError(FILE* pLog)
{
    LogText(pLog, "Mail merge error\n");
}

void LogJobStopped(FILE* pLog)
{
    LogText(pLog, "Job Stopped\n");
}

void LogComError(FILE* pLog, long hr, const char* pszSource, const char* pszDescription, const char* pszLocation)
{
    fprintf(pLog, "***** Exception 0x%08lx from %s:\n\tError Desc: %s\n\tLocation: %s\n", (unsigned long)hr,
            pszSource, pszDescription, pszLocation);
    fflush(pLog);
}

void LogOriginalFailure(FILE* pLog, const char* pszVerb, long nReturnCode)
{
    fprintf(pLog, "Failed to %s original message. Return code: %ld\n", pszVerb, nReturnCode);
    fflush(pLog);
}

void LogOriginalError(FILE* pLog, const char* pszVerb)
{
    fprintf(pLog, "Error attempting to %s original message.\n", pszVerb);
    fflush(pLog);
}

bool OpenSentList(const char* pszPath, int nEncoding, SentListFile* pSentList)
{
    pSentList->pFile = NULL;
    pSentList->nEncoding = nEncoding;
    bool bWide = nEncoding == ListEncodingUtf16Le || nEncoding == ListEncodingUtf16Be;
    FILE* pFile = pszPath && pszPath[0] ? fopen(pszPath, bWide ? "wb" : "w") : NULL;
    if (pFile == NULL)
        return false;
    StartSentList(pFile, nEncoding, pSentList);
    return true;
}

void StartSentList(FILE* pFile, int nEncoding, SentListFile* pSentList)
{
    static const unsigned char kUtf8Mark[] = { 0xEF, 0xBB, 0xBF };
    static const unsigned char kUtf16LeMark[] = { 0xFF, 0xFE };
    static const unsigned char kUtf16BeMark[] = { 0xFE, 0xFF };
    pSentList->pFile = pFile;
    pSentList->nEncoding = nEncoding;
    if (nEncoding == ListEncodingUtf8Mark)
        fwrite(kUtf8Mark, 1, sizeof(kUtf8Mark), pFile);
    else if (nEncoding == ListEncodingUtf16Le)
        fwrite(kUtf16LeMark, 1, sizeof(kUtf16LeMark), pFile);
    else if (nEncoding == ListEncodingUtf16Be)
        fwrite(kUtf16BeMark, 1, sizeof(kUtf16BeMark), pFile);
    fflush(pFile);
}

void CloseSentList(SentListFile* pSentList)
{
    if (pSentList->pFile)
        fclose(pSentList->pFile);
    pSentList->pFile = NULL;
}

bool RewriteSentList(const char* pszPath, int nEncoding, const char* const* ppszRecords, int nRecords)
{
    if (pszPath == NULL || pszPath[0] == '\0')
        return false;
    // Written over what it held and then cut at its new end, never emptied
    // first: a file system that sees a file emptied and written again (ext4)
    // writes it to disk at once when it is closed, once per recipient here.
    bool bWide = nEncoding == ListEncodingUtf16Le || nEncoding == ListEncodingUtf16Be;
    FILE* pFile = fopen(pszPath, bWide ? "r+b" : "r+");
    if (pFile == NULL)
        pFile = fopen(pszPath, bWide ? "wb" : "w");
    if (pFile == NULL)
        return false;
    SentListFile list;
    StartSentList(pFile, nEncoding, &list);
    for (int i = 0; i < nRecords; ++i)
        WriteSentListRecord(&list, ppszRecords[i]);
    long nEnd = fflush(pFile) == 0 ? ftell(pFile) : -1;
    bool bOk = nEnd >= 0 && _chsize(_fileno(pFile), nEnd) == 0;
    CloseSentList(&list);
    return bOk;
}

void WriteSentListRecord(SentListFile* pSentList, const char* pszRawRecord)
{
    if (pSentList == NULL || pSentList->pFile == NULL || pszRawRecord == NULL)
        return;
    FILE* pFile = pSentList->pFile;
    int nEncoding = pSentList->nEncoding;
    if (nEncoding == ListEncodingUtf8 || nEncoding == ListEncodingUtf8Mark) {
        LogText(pFile, pszRawRecord);
        return;
    }
    int cchWide = MultiByteToWideChar(CP_UTF8, 0, pszRawRecord, -1, NULL, 0);
    wchar_t* pszWide = cchWide > 0 ? (wchar_t*)malloc(cchWide * sizeof(wchar_t)) : NULL;
    if (pszWide == NULL)
        return;
    MultiByteToWideChar(CP_UTF8, 0, pszRawRecord, -1, pszWide, cchWide);
    if (nEncoding == ListEncodingUtf16Le || nEncoding == ListEncodingUtf16Be) {
        // Binary mode: the line ends are written as the list had them read, CR LF.
        for (const wchar_t* p = pszWide; *p; ++p) {
            unsigned short units[2] = { (unsigned short)'\r', (unsigned short)*p };
            const unsigned short* pUnits = *p == L'\n' ? units : units + 1;
            for (int i = *p == L'\n' ? 0 : 1; i < 2; ++i, ++pUnits) {
                unsigned char bytes[2];
                bytes[nEncoding == ListEncodingUtf16Le ? 0 : 1] = (unsigned char)(*pUnits & 0xFF);
                bytes[nEncoding == ListEncodingUtf16Le ? 1 : 0] = (unsigned char)(*pUnits >> 8);
                fwrite(bytes, 1, 2, pFile);
            }
        }
        fflush(pFile);
    } else {
        int cbAnsi = WideCharToMultiByte(CP_ACP, 0, pszWide, -1, NULL, 0, NULL, NULL);
        char* pszAnsi = cbAnsi > 0 ? (char*)malloc(cbAnsi) : NULL;
        if (pszAnsi) {
            WideCharToMultiByte(CP_ACP, 0, pszWide, -1, pszAnsi, cbAnsi, NULL, NULL);
            LogText(pFile, pszAnsi);
            free(pszAnsi);
        }
    }
    free(pszWide);
}
