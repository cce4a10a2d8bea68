// Feeds arbitrary bytes to the mailing-list reader the way a job does: the
// bytes become the list file, the delimiter is detected for it, then the list
// is read twice, first to find the address column and count the recipients,
// then to hand them out for sending. The first input byte picks the file's
// name, since the name takes part in choosing the delimiter.
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/native_shim.h"
#include "mailing/list_reader.h"

// A record of the longest kind, every character four bytes of UTF-8.
#define LC_FUZZ_RAW_CAPACITY (4 * LC_RECORD_MAX_CHARS + 1)
#include "mailing/list_record.h"
#include "settings/settings_store.h"

namespace {

// Names that steer the path rule of the delimiter detection both ways,
// including a folder whose name holds ".csv".
const char* const kapszListNames[] = {
    "list.txt", "list.csv", "LIST.CSV", "dir.csv/list.txt", "list.tsv", "x.CsV.txt",
};
const size_t knListNames = sizeof(kapszListNames) / sizeof(kapszListNames[0]);

std::string gFolder;

void RemoveFolder()
{
    for (size_t i = 0; i < knListNames; ++i)
        unlink((gFolder + "/" + kapszListNames[i]).c_str());
    rmdir((gFolder + "/dir.csv").c_str());
    rmdir(gFolder.c_str());
}

// One private folder per process; /dev/shm keeps the file writes off the disk.
const std::string& Folder()
{
    if (!gFolder.empty())
        return gFolder;
    const char* pszBase = getenv("LETTERCAST_FUZZ_TMP");
    if (!pszBase || !pszBase[0]) {
        struct stat st;
        pszBase = (stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && access("/dev/shm", W_OK) == 0)
                      ? "/dev/shm"
                      : (getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp");
    }
    std::string pattern = std::string(pszBase) + "/lettercast-fuzz-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    FUZZ_CHECK(mkdtemp(name.data()) != NULL);
    gFolder = name.data();
    FUZZ_CHECK(mkdir((gFolder + "/dir.csv").c_str(), 0700) == 0);
    atexit(RemoveFolder);
    return gFolder;
}

void WriteList(const std::string& path, const uint8_t* pData, size_t cbData)
{
    FILE* pFile = fopen(path.c_str(), "wb");
    FUZZ_CHECK(pFile != NULL);
    FUZZ_CHECK(fwrite(pData, 1, cbData, pFile) == cbData);
    FUZZ_CHECK(fclose(pFile) == 0);
}

// What the detection must decide from the header line. Bytes after a NUL
// escape the C string functions that look at each line, so such lists only
// have to come out as one of the two delimiters.
int ExpectedDelimiter(const std::string& path, const uint8_t* pData, size_t cbData)
{
    // NUL and the other control characters end the reading as bytes that are
    // no text (with the byte 1A, which is data like any other); a byte past
    // ASCII may be a C1 control; a mark changes the encoding; a semicolon may
    // make the header a semicolon list; a first line "sep=" may name any of
    // the three.
    for (size_t i = 0; i < cbData; ++i) {
        if ((pData[i] < 0x20 && pData[i] != '\t' && pData[i] != '\n' && pData[i] != '\r') || pData[i] >= 0x7F)
            return ListDelimiterUnknown;
    }
    if (memchr(pData, ';', cbData))
        return ListDelimiterUnknown;
    if (cbData >= 4 && strncasecmp((const char*)pData, "sep=", 4) == 0)
        return ListDelimiterUnknown;
    if (cbData >= 2 && (pData[0] == 0xEF || pData[0] == 0xFF || pData[0] == 0xFE))
        return ListDelimiterUnknown;
    // The header line, the first that is neither a comment nor blank, decides;
    // a line ends at LF, CR LF or CR.
    size_t nStart = 0;
    while (nStart < cbData) {
        size_t nEnd = nStart;
        while (nEnd < cbData && pData[nEnd] != '\n' && pData[nEnd] != '\r')
            ++nEnd;
        std::string line((const char*)pData + nStart, nEnd - nStart);
        nStart = nEnd + (nEnd + 1 < cbData && pData[nEnd] == '\r' && pData[nEnd + 1] == '\n' ? 2 : 1);
        if (line.compare(0, 2, "//") == 0 || line.find_first_not_of(' ') == std::string::npos)
            continue;
        bool bComma = line.find(',') != std::string::npos;
        bool bTab = line.find('\t') != std::string::npos;
        if (bComma != bTab)
            return bComma ? ListDelimiterComma : ListDelimiterTab;
        break;
    }
    std::string lower = path;
    for (char& ch : lower)
        if (ch >= 'A' && ch <= 'Z')
            ch = (char)(ch - 'A' + 'a');
    return lower.find(".csv") != std::string::npos ? ListDelimiterComma : ListDelimiterTab;
}

bool IsBlank(char ch)
{
    return ch == ' ' || ch == '\t';
}

// Whatever the file held, the reader hands out UTF-8 only.
bool IsUtf8(const char* psz)
{
    const unsigned char* p = (const unsigned char*)psz;
    while (*p) {
        int nMore = *p < 0x80 ? 0 : (*p & 0xE0) == 0xC0 ? 1 : (*p & 0xF0) == 0xE0 ? 2 : (*p & 0xF8) == 0xF0 ? 3 : -1;
        if (nMore < 0 || (nMore == 1 && *p < 0xC2))
            return false;
        ++p;
        for (int i = 0; i < nMore; ++i, ++p) {
            if ((*p & 0xC0) != 0x80)
                return false;
        }
    }
    return true;
}

size_t CountUtf8Chars(const char* psz)
{
    size_t n = 0;
    for (; *psz; ++psz)
        n += ((unsigned char)*psz & 0xC0) != 0x80;
    return n;
}

// No control character reaches a field or a raw text: C0 but tab and the
// line ends, DEL, C1.
bool HoldsNoControlCharacter(const char* psz)
{
    for (const unsigned char* p = (const unsigned char*)psz; *p; ++p) {
        if ((*p < 0x20 && *p != '\t' && *p != '\r' && *p != '\n') || *p == 0x7F)
            return false;
        if (*p == 0xC2 && p[1] >= 0x80 && p[1] <= 0x9F)
            return false;
    }
    return true;
}

void CheckRecord(const ListRecord* pRecord)
{
    FUZZ_CHECK(IsUtf8(pRecord->pszRaw));
    FUZZ_CHECK(HoldsNoControlCharacter(pRecord->pszRaw));
    FUZZ_CHECK(CountUtf8Chars(pRecord->pszRaw) <= LC_RECORD_MAX_CHARS);
    FUZZ_CHECK(strnlen(pRecord->pszRaw, LC_FUZZ_RAW_CAPACITY) < LC_FUZZ_RAW_CAPACITY);
    FUZZ_CHECK(pRecord->nCount >= 0);
    FUZZ_CHECK(pRecord->nCount <= pRecord->nCapacity);
    for (int i = 0; i < pRecord->nCount; ++i)
    {
        FUZZ_CHECK(pRecord->ppszFields[i] != NULL);
        FUZZ_CHECK(IsUtf8(pRecord->ppszFields[i]));
        FUZZ_CHECK(HoldsNoControlCharacter(pRecord->ppszFields[i]));
    }
}

void CheckAddress(const char* pszAddress)
{
    size_t cch = strnlen(pszAddress, LC_ADDRESS_CAPACITY);
    FUZZ_CHECK(cch < LC_ADDRESS_CAPACITY);
    FUZZ_CHECK(strchr(pszAddress, '@') != NULL);
    FUZZ_CHECK(!IsBlank(pszAddress[0]));
    FUZZ_CHECK(!IsBlank(pszAddress[cch - 1]));
    // One address only: never a list of them, never a name around it.
    FUZZ_CHECK(strpbrk(pszAddress, " \t\r\n,;<>") == NULL);
    FUZZ_CHECK(strchr(pszAddress, '@') == strrchr(pszAddress, '@'));
}

// Buffers of exactly the sizes the engine passes, on the heap so that the
// address sanitizer sees any write beyond them.
struct Buffers {
    Buffers()
        : pszAddress((char*)malloc(LC_ADDRESS_CAPACITY)),
          pszHeaderRaw((char*)malloc(LC_FUZZ_RAW_CAPACITY)),
          pszRecordRaw((char*)malloc(LC_FUZZ_RAW_CAPACITY))
    {
        InitListRecord(&header);
        InitListRecord(&record);
    }
    ~Buffers()
    {
        FreeListRecord(&header);
        FreeListRecord(&record);
        free(pszAddress);
        free(pszHeaderRaw);
        free(pszRecordRaw);
    }
    Buffers(const Buffers&) = delete;
    Buffers& operator=(const Buffers&) = delete;

    char* pszAddress;
    char* pszHeaderRaw;
    char* pszRecordRaw;
    ListRecord header;
    ListRecord record;
};

// Enough recipients to cover what a fuzzed list of a few kilobytes can hold.
const size_t knMaxRecipients = 100000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cbData)
{
    if (cbData < 1)
        return 0;
    std::string path = Folder() + "/" + kapszListNames[pData[0] % knListNames];
    const uint8_t* pList = pData + 1;
    size_t cbList = cbData - 1;
    WriteList(path, pList, cbList);

    FUZZ_CHECK(path.size() < LC_PATH_CAPACITY);
    memset(&JobOptions, 0, sizeof(JobOptions));
    memcpy(JobOptions.ToList, path.c_str(), path.size() + 1);
    ListDelimiter = ListDelimiterUnknown;
    DetectDelimiter();
    FUZZ_CHECK(ListDelimiter == ListDelimiterComma || ListDelimiter == ListDelimiterTab ||
               ListDelimiter == ListDelimiterSemicolon);
    int nExpected = ExpectedDelimiter(path, pList, cbList);
    if (nExpected != ListDelimiterUnknown)
        FUZZ_CHECK(ListDelimiter == nExpected);

    Buffers buffers;
    int nEmailColumn = -1;

    // First pass: the header into its record, then counting.
    std::vector<std::string> counted;
    ListReader counting;
    FUZZ_CHECK(counting.Open(JobOptions.ToList, ListDelimiter));
    bool bHeaderDone = false;
    buffers.pszHeaderRaw[0] = '\0';
    while (counting.ReadNextRecipient(&nEmailColumn, bHeaderDone, buffers.pszAddress, LC_ADDRESS_CAPACITY,
                                      bHeaderDone ? NULL : buffers.pszHeaderRaw, LC_FUZZ_RAW_CAPACITY, NULL, 0,
                                      &buffers.header, &buffers.record)) {
        bHeaderDone = true;
        CheckRecord(&buffers.header);
        CheckRecord(&buffers.record);
        CheckAddress(buffers.pszAddress);
        FUZZ_CHECK(nEmailColumn >= 0 && nEmailColumn < buffers.record.nCount);
        FUZZ_CHECK(nEmailColumn < buffers.header.nCount);
        counted.push_back(buffers.pszAddress);
        FUZZ_CHECK(counted.size() <= knMaxRecipients);
    }
    bool bFirstCutShort = counting.CutShort();
    // The detection read the same first line as the reader: a "sep=" line
    // names for both the delimiter the records were read with.
    FUZZ_CHECK(counting.Delimiter() == ListDelimiter);
    counting.Close();
    FUZZ_CHECK(strnlen(buffers.pszHeaderRaw, LC_FUZZ_RAW_CAPACITY) < LC_FUZZ_RAW_CAPACITY);
    CheckRecord(&buffers.header);
    CheckRecord(&buffers.record);
    if (nEmailColumn < 0) {
        FUZZ_CHECK(counted.empty());
        return 0;
    }

    // Second pass on a newly opened list: the header is read and dropped and
    // the address column stays; the same recipients must come out again.
    int nColumnFound = nEmailColumn;
    std::vector<std::string> sent;
    ListReader sending;
    FUZZ_CHECK(sending.Open(JobOptions.ToList, ListDelimiter));
    bHeaderDone = false;
    while (sending.ReadNextRecipient(&nEmailColumn, bHeaderDone, buffers.pszAddress, LC_ADDRESS_CAPACITY, NULL,
                                     0, buffers.pszRecordRaw, LC_FUZZ_RAW_CAPACITY, NULL, &buffers.record)) {
        bHeaderDone = true;
        FUZZ_CHECK(nEmailColumn == nColumnFound);
        CheckRecord(&buffers.record);
        CheckAddress(buffers.pszAddress);
        // The address is the trimmed start of what its field holds, and the
        // field named no one else: its only '@' is the address's.
        const char* pszField = buffers.record.ppszFields[nEmailColumn];
        FUZZ_CHECK(strstr(pszField, buffers.pszAddress) != NULL);
        FUZZ_CHECK(strchr(pszField, '@') == strrchr(pszField, '@'));
        FUZZ_CHECK(strnlen(buffers.pszRecordRaw, LC_FUZZ_RAW_CAPACITY) < LC_FUZZ_RAW_CAPACITY);
        FUZZ_CHECK(strcmp(buffers.pszRecordRaw, buffers.record.pszRaw) == 0);
        sent.push_back(buffers.pszAddress);
        FUZZ_CHECK(sent.size() <= counted.size());
    }
    sending.Close();
    FUZZ_CHECK(nEmailColumn == nColumnFound);
    FUZZ_CHECK(sent == counted);
    FUZZ_CHECK(sending.CutShort() == bFirstCutShort);
    FUZZ_CHECK(sending.Encoding() == counting.Encoding());
    FUZZ_CHECK(gnFuzzOutOfMemoryReports == 0);
    return 0;
}
