// The add-in's own cost, built from the same sources as the DLL: natively by
// scripts/bench, and with the DLL's compiler into build/bench/ to be run under
// Wine as the add-in runs:
//
//   mailing_bench merge LIST SUBJECT BODY [HTML]
//       reads LIST twice as a job does (the counting pass, then the sending
//       pass) and, for each recipient of the second pass, does what the
//       engine does for it (engine/recipient_merge.cpp, MergeRecipient): the
//       header's fields and names once, the HTML's values made and put into
//       its code page
//       (EncodeFieldsForHtml; the HTML declares windows-1252, which a Western
//       system writes as its ANSI code page), the subject and the plain body
//       merged with the plain fields, the HTML with the HTML ones. Prints the
//       recipients, the columns, the microseconds per recipient, and how
//       they divide between reading, making the fields and merging.
//   mailing_bench read LIST            one pass of the record reader over
//       LIST, and a plain read of the same file in 64 KB pieces; prints
//       records, bytes and seconds of each.
//   mailing_bench first LIST COPY      what the dialog reads of LIST when it
//       is chosen, at a Preview's opening and at a Pause and Send (the
//       delimiter, the header and the first recipient), and what Send reads
//       before its first recipient: the delimiter, LIST copied to COPY in
//       blocks of 1 MB as the job takes its private copy, the counting pass
//       over COPY and the sending pass up to its first recipient. Prints the
//       seconds of each and, where the system tells it (/proc/self/io), the
//       bytes read over the list's size: how many times it was read.
//   mailing_bench sheet WORKBOOK LIST  the workbook's first sheet written
//       out as LIST, as Send writes a workbook's sheet before its counting
//       pass (SheetList); prints the lines and bytes written and the seconds.
//
// Lists are comma-delimited. A failed read or merge ends the run with status 1:
// a figure is only printed for work that was really done.
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <chrono>
#include <string>
#include <vector>

#include "mailing/html_text.h"
#include "mailing/list_reader.h"
#include "mailing/list_record.h"
#include "mailing/mail_merge.h"
#include "mailing/number_format.h"
#include "mailing/workbook_list.h"

namespace {

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool ReadWholeFile(const char* pszPath, std::string* pText)
{
    FILE* pFile = fopen(pszPath, "rb");
    if (!pFile)
        return false;
    char buffer[65536];
    size_t cb;
    while ((cb = fread(buffer, 1, sizeof(buffer), pFile)) > 0)
        pText->append(buffer, cb);
    fclose(pFile);
    return true;
}

struct Buffers {
    char szAddress[LC_ADDRESS_CAPACITY];
    char szHeaderRaw[LC_RAW_RECORD_CAPACITY];
    char szRecordRaw[LC_RAW_RECORD_CAPACITY];
};

// The counting pass: the header with its address column, then every usable
// recipient.
long CountRecipients(const char* pszList, int* pnEmailColumn, ListRecord* pHeader, Buffers* pBuffers)
{
    ListReader reader;
    if (!reader.Open(pszList, ListDelimiter))
        return -1;
    ListRecord record;
    *pnEmailColumn = -1;
    long nCount = 0;
    bool bHeaderDone = false;
    while (reader.ReadNextRecipient(pnEmailColumn, bHeaderDone, pBuffers->szAddress, LC_ADDRESS_CAPACITY,
                                    bHeaderDone ? NULL : pBuffers->szHeaderRaw, LC_RAW_RECORD_CAPACITY, NULL, 0,
                                    bHeaderDone ? NULL : pHeader, &record)) {
        bHeaderDone = true;
        ++nCount;
    }
    return nCount;
}

// What the engine keeps from recipient to recipient: the fields of the
// header for each text and their names, made once per job, the recipient's
// fields, made again for each in the blocks of the last, and the working
// copies of the three texts.
struct MergeState {
    ListRecord plainHeader;
    ListRecord htmlHeader, htmlRecord, htmlEscaped;
    MergeNames plainNames, htmlNames;
    bool bHeadersMade = false;
    char* ppszCopies[3] = { NULL, NULL, NULL };
    ~MergeState()
    {
        for (char* psz : ppszCopies)
            free(psz);
    }
};

// The fields of one recipient and the merge of its texts, call for call as
// MergeRecipient (engine/recipient_merge.cpp) makes them; the seconds of each
// part are added up.
bool MergeOneRecipient(const ListRecord& header, const ListRecord& record, const std::vector<std::string>& texts,
                       MergeState* pState, double* pdFields, double* pdMerge)
{
    double dStart = Now();
    bool bHtml = texts.size() > 2;
    int nColumns = header.nCount;
    if (!pState->bHeadersMade) {
        if (!MakePlainHeader(&header, &pState->plainHeader) ||
            (bHtml && !(MakeHtmlHeader(&header, &pState->htmlEscaped) &&
                        EncodeFieldsForHtml(&pState->htmlEscaped, &pState->htmlHeader, LC_HTML_CP_ANSI))))
            return false;
        pState->plainNames.Build(&pState->plainHeader);
        if (bHtml)
            pState->htmlNames.Build(&pState->htmlHeader);
        pState->bHeadersMade = true;
    }
    if (!MergeFieldsWithinLimits(&header, &record))
        return false;
    MergeValues plainValues = { &record, nColumns, &record };
    MergeValues htmlValues = { &pState->htmlEscaped, nColumns, &record };
    if (bHtml) {
        if (FieldsStandInHtmlCodePage(&record, LC_HTML_CP_ANSI)) {
            if (!MakeHtmlValues(&record, nColumns, &pState->htmlEscaped))
                return false;
        } else {
            if (!MakeHtmlRecord(&record, nColumns, &pState->htmlEscaped) ||
                !EncodeFieldsForHtml(&pState->htmlEscaped, &pState->htmlRecord, LC_HTML_CP_ANSI))
                return false;
            htmlValues = MergeValues{ &pState->htmlRecord, INT_MAX, NULL };
        }
    }
    double dMade = Now();
    *pdFields += dMade - dStart;
    for (size_t i = 0; i < texts.size(); ++i) {
        bool bHtmlText = i == 2;
        if (MergeValuesIntoCopy(texts[i].c_str(), bHtmlText, bHtmlText ? &pState->htmlHeader : &pState->plainHeader,
                                bHtmlText ? htmlValues : plainValues, &pState->ppszCopies[i],
                                bHtmlText ? &pState->htmlNames : &pState->plainNames) != MergeDone)
            return false;
    }
    MakeOneLine(pState->ppszCopies[0]);
    *pdMerge += Now() - dMade;
    return true;
}

int RunMerge(const char* pszList, int nTexts, char** ppszTexts)
{
    std::vector<std::string> texts((size_t)nTexts);
    size_t cbTexts = 0;
    for (int i = 0; i < nTexts; ++i) {
        if (!ReadWholeFile(ppszTexts[i], &texts[(size_t)i])) {
            fprintf(stderr, "mailing_bench: cannot read %s\n", ppszTexts[i]);
            return 1;
        }
        cbTexts += texts[(size_t)i].size();
    }
    ListRecord header;
    ListRecord record;
    Buffers buffers;
    MergeState state;
    ListDelimiter = ListDelimiterComma;

    double dStart = Now();
    int nEmailColumn = -1;
    long nCounted = CountRecipients(pszList, &nEmailColumn, &header, &buffers);
    ListReader reader;
    if (nCounted <= 0 || !reader.Open(pszList, ListDelimiter)) {
        fprintf(stderr, "mailing_bench: no recipients in %s\n", pszList);
        return 1;
    }
    long nMerged = 0;
    long cbMerged = 0;
    double dFields = 0;
    double dMerge = 0;
    bool bHeaderDone = false;
    while (reader.ReadNextRecipient(&nEmailColumn, bHeaderDone, buffers.szAddress, LC_ADDRESS_CAPACITY, NULL, 0,
                                    buffers.szRecordRaw, LC_RAW_RECORD_CAPACITY, NULL, &record)) {
        bHeaderDone = true;
        if (!MergeOneRecipient(header, record, texts, &state, &dFields, &dMerge)) {
            fprintf(stderr, "mailing_bench: the merge failed for recipient %ld\n", nMerged + 1);
            return 1;
        }
        // What was merged, for the builds to be held against each other; not
        // the add-in's work (under Wine strlen alone takes 30 us for 20 KB),
        // so its time is left out.
        double dCheck = Now();
        for (int i = 0; i < nTexts; ++i)
            cbMerged += (long)strlen(state.ppszCopies[i]);
        dStart += Now() - dCheck;
        ++nMerged;
    }
    double dSeconds = Now() - dStart;
    reader.Close();
    if (nMerged != nCounted) {
        fprintf(stderr, "mailing_bench: %ld counted but %ld merged\n", nCounted, nMerged);
        return 1;
    }
    double dPer = 1e6 / (double)nMerged;
    printf("recipients %ld columns %d text_bytes %lu merged_bytes %ld seconds %.6f us_per_recipient %.2f "
           "us_reading %.2f us_fields %.2f us_merging %.2f\n",
           nMerged, header.nCount, (unsigned long)cbTexts, cbMerged, dSeconds, dSeconds * dPer,
           (dSeconds - dFields - dMerge) * dPer, dFields * dPer, dMerge * dPer);
    return 0;
}

int RunRead(const char* pszList)
{
    ListReader reader;
    if (!reader.Open(pszList, ListDelimiterComma)) {
        fprintf(stderr, "mailing_bench: cannot open %s\n", pszList);
        return 1;
    }
    ListRecord record;
    long nRecords = 0;
    long nFields = 0;
    double dStart = Now();
    while (reader.ReadRecord(&record)) {
        ++nRecords;
        nFields += record.nCount;
    }
    double dReader = Now() - dStart;
    bool bCutShort = reader.CutShort();
    reader.Close();
    if (bCutShort) {
        fprintf(stderr, "mailing_bench: the list ended early at a record too long to read\n");
        return 1;
    }

    FILE* pFile = fopen(pszList, "rb");
    if (!pFile)
        return 1;
    static char buffer[65536];
    long long cbFile = 0;
    size_t cb;
    unsigned nSum = 0;
    dStart = Now();
    while ((cb = fread(buffer, 1, sizeof(buffer), pFile)) > 0) {
        cbFile += (long long)cb;
        // Touch the bytes, as any reader must.
        nSum += (unsigned char)buffer[cb - 1];
    }
    double dPlain = Now() - dStart;
    fclose(pFile);
    printf("records %ld fields %ld bytes %.0f reader_seconds %.6f plain_seconds %.6f check %u\n", nRecords, nFields,
           (double)cbFile, dReader, dPlain, nSum);
    return 0;
}

// Bytes this process has read so far, by the system's count; -1 where it
// does not say.
long long BytesReadSoFar()
{
#ifdef _WIN32
    FILE* pFile = fopen("Z:\\proc\\self\\io", "r");
#else
    FILE* pFile = fopen("/proc/self/io", "r");
#endif
    if (!pFile)
        return -1;
    long long nRead = -1;
    char szLine[128];
    while (fgets(szLine, sizeof(szLine), pFile)) {
        if (sscanf(szLine, "rchar: %lld", &nRead) == 1)
            break;
    }
    fclose(pFile);
    return nRead;
}

// The header and the first recipient, as the dialog's readings want them.
bool ReadFirstRecipient(ListReader* pReader, int* pnEmailColumn, ListRecord* pHeader, Buffers* pBuffers)
{
    ListRecord record;
    return pReader->ReadNextRecipient(pnEmailColumn, false, pBuffers->szAddress, LC_ADDRESS_CAPACITY, NULL, 0, NULL,
                                      0, pHeader, &record);
}

bool CopyList(const char* pszList, const char* pszCopy)
{
    FILE* pList = fopen(pszList, "rb");
    FILE* pCopy = pList ? fopen(pszCopy, "wb") : NULL;
    std::vector<char> buffer(1 << 20);
    bool bCopied = pCopy != NULL;
    size_t cb;
    while (bCopied && (cb = fread(buffer.data(), 1, buffer.size(), pList)) > 0)
        bCopied = fwrite(buffer.data(), 1, cb, pCopy) == cb;
    if (pCopy && fclose(pCopy) != 0)
        bCopied = false;
    if (pList)
        fclose(pList);
    return bCopied;
}

int RunFirst(const char* pszList, const char* pszCopy)
{
    Buffers buffers;
    ListRecord header;
    int nEmailColumn = -1;
    long long nBefore = BytesReadSoFar();
    double dStart = Now();
    ListDelimiter = DetectListDelimiter(pszList);
    ListReader dialog;
    if (!dialog.Open(pszList, ListDelimiter) || !ReadFirstRecipient(&dialog, &nEmailColumn, &header, &buffers)) {
        fprintf(stderr, "mailing_bench: no first recipient in %s\n", pszList);
        return 1;
    }
    dialog.Close();
    double dDialog = Now() - dStart;
    long long nDialog = BytesReadSoFar();

    dStart = Now();
    ListDelimiter = DetectListDelimiter(pszList);
    if (!CopyList(pszList, pszCopy)) {
        fprintf(stderr, "mailing_bench: cannot copy %s\n", pszList);
        return 1;
    }
    long nCounted = CountRecipients(pszCopy, &nEmailColumn, &header, &buffers);
    ListReader sending;
    if (nCounted <= 0 || !sending.Open(pszCopy, ListDelimiter) ||
        !ReadFirstRecipient(&sending, &nEmailColumn, &header, &buffers)) {
        fprintf(stderr, "mailing_bench: no recipients in %s\n", pszCopy);
        return 1;
    }
    double dSend = Now() - dStart;
    long long nSend = BytesReadSoFar();
    sending.Close();
    remove(pszCopy);

    FILE* pFile = fopen(pszList, "rb");
    if (!pFile)
        return 1;
    fseek(pFile, 0, SEEK_END);
    double dSize = (double)ftell(pFile);
    fclose(pFile);
    // Send reads the whole list at least once: a count short of that misses
    // the list's reads (as under Wine, whose file reads it does not see).
    bool bCounted = nBefore >= 0 && nDialog >= 0 && dSize > 0 && (double)(nSend - nDialog) >= dSize;
    printf("recipients %ld bytes %.0f dialog_seconds %.6f send_seconds %.6f dialog_reads %.3f send_reads %.3f\n",
           nCounted, dSize, dDialog, dSend, bCounted ? (double)(nDialog - nBefore) / dSize : -1.0,
           bCounted ? (double)(nSend - nDialog) / dSize : -1.0);
    return 0;
}

// A workbook's first sheet written out as the job's list (the sheet list),
// in the English locale so that every build writes the same bytes.
int RunSheet(const char* pszWorkbook, const char* pszList)
{
    double dStart = Now();
    SheetList sheet;
    if (sheet.Write(pszWorkbook, "", pszList, EnglishNumberLocale()) != WorkbookOk) {
        fprintf(stderr, "mailing_bench: %s\n", sheet.Message("").c_str());
        return 1;
    }
    double dSeconds = Now() - dStart;
    std::string text;
    if (!ReadWholeFile(pszList, &text))
        return 1;
    remove(pszList);
    printf("lines %lu list_bytes %lu seconds %.6f\n", (unsigned long)sheet.RowOfLine().size(),
           (unsigned long)text.size(), dSeconds);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if ((argc == 5 || argc == 6) && strcmp(argv[1], "merge") == 0)
        return RunMerge(argv[2], argc - 3, argv + 3);
    if (argc == 3 && strcmp(argv[1], "read") == 0)
        return RunRead(argv[2]);
    if (argc == 4 && strcmp(argv[1], "first") == 0)
        return RunFirst(argv[2], argv[3]);
    if (argc == 4 && strcmp(argv[1], "sheet") == 0)
        return RunSheet(argv[2], argv[3]);
    fprintf(stderr, "usage: mailing_bench merge LIST SUBJECT BODY [HTML] | mailing_bench read LIST | "
                    "mailing_bench first LIST COPY | mailing_bench sheet WORKBOOK LIST\n");
    return 2;
}
