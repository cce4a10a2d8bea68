// The workbook's zip: the central directory and its entries' bytes, read
// from the whole file held in memory.
#include "mailing/workbook_zip.h"

#include <string.h>

#include <zlib.h>

#include "mailing/workbook_reader.h"

#define LC_ZIP_LOCAL_HEADER 0x04034b50u
#define LC_ZIP_CENTRAL_HEADER 0x02014b50u
#define LC_ZIP_END 0x06054b50u
#define LC_ZIP64_END 0x06064b50u
#define LC_ZIP64_LOCATOR 0x07064b50u

#define LC_ZIP_END_SIZE 22u
#define LC_ZIP64_END_SIZE 56u
#define LC_ZIP64_LOCATOR_SIZE 20u
#define LC_ZIP_CENTRAL_SIZE 46u
#define LC_ZIP_LOCAL_SIZE 30u
// The end record closes the file but for a comment of at most 64 KB.
#define LC_ZIP_COMMENT_MAX 0xFFFFu

#define LC_ZIP_FLAG_ENCRYPTED 0x0001u
#define LC_ZIP_METHOD_STORED 0
#define LC_ZIP_METHOD_DEFLATED 8

// zlib counts in uInt: each call gets at most this much in and out.
#define LC_ZLIB_CHUNK_MAX (1u << 30)

static uint16_t Get16(const unsigned char* p)
{
    return (uint16_t)(p[0] | (p[1] << 8));
}

static uint32_t Get32(const unsigned char* p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

static uint64_t Get64(const unsigned char* p)
{
    return (uint64_t)Get32(p) | ((uint64_t)Get32(p + 4) << 32);
}

// Whether [off, off + cb) lies within a file of cbFile bytes, without
// overflowing on sizes a damaged zip makes up.
static bool Within(uint64_t off, uint64_t cb, uint64_t cbFile)
{
    return off <= cbFile && cb <= cbFile - off;
}

static std::string FoldName(const std::string& strName)
{
    std::string folded = strName;
    for (char& ch : folded) {
        if (ch >= 'A' && ch <= 'Z')
            ch = (char)(ch - 'A' + 'a');
    }
    return folded;
}

// The end of central directory record: the last signature, searching back
// from the end over the longest comment, whose record and comment fit the file.
static bool FindEndRecord(const std::vector<unsigned char>& bytes, size_t* poffEnd)
{
    if (bytes.size() < LC_ZIP_END_SIZE)
        return false;
    size_t offLast = bytes.size() - LC_ZIP_END_SIZE;
    size_t offFirst = offLast > LC_ZIP_COMMENT_MAX ? offLast - LC_ZIP_COMMENT_MAX : 0;
    for (size_t off = offLast + 1; off-- > offFirst;) {
        const unsigned char* p = bytes.data() + off;
        if (Get32(p) == LC_ZIP_END && off + LC_ZIP_END_SIZE + Get16(p + 20) <= bytes.size()) {
            *poffEnd = off;
            return true;
        }
    }
    return false;
}

int WorkbookZip::Open(std::vector<unsigned char>&& bytes, std::string* pProblem)
{
    m_bytes = std::move(bytes);
    m_entries.clear();
    m_byFoldedName.clear();
    pProblem->clear();

    size_t offEnd;
    if (!FindEndRecord(m_bytes, &offEnd)) {
        // A zip's first entry starts the file: one that does, without its
        // directory at the end, is a workbook cut short.
        if (m_bytes.size() >= 4 && Get32(m_bytes.data()) == LC_ZIP_LOCAL_HEADER) {
            *pProblem = "the zip's directory: missing, the file is cut short";
            return WorkbookDamaged;
        }
        return WorkbookNotZip;
    }
    const unsigned char* pEnd = m_bytes.data() + offEnd;
    uint64_t nEntries = Get16(pEnd + 10);
    uint64_t cbDirectory = Get32(pEnd + 12);
    uint64_t offDirectory = Get32(pEnd + 16);
    bool bMultiDisk = Get16(pEnd + 4) != 0 || Get16(pEnd + 6) != 0 || Get16(pEnd + 8) != Get16(pEnd + 10);

    // A Zip64 end record stands before its locator, just before the end
    // record, whose own fields are then only 0xFFFF placeholders.
    if (offEnd >= LC_ZIP64_LOCATOR_SIZE && Get32(pEnd - LC_ZIP64_LOCATOR_SIZE) == LC_ZIP64_LOCATOR) {
        const unsigned char* pLocator = pEnd - LC_ZIP64_LOCATOR_SIZE;
        uint64_t off64 = Get64(pLocator + 8);
        bMultiDisk = Get32(pLocator + 4) != 0 || Get32(pLocator + 16) > 1;
        if (!Within(off64, LC_ZIP64_END_SIZE, offEnd - LC_ZIP64_LOCATOR_SIZE) ||
            Get32(m_bytes.data() + off64) != LC_ZIP64_END) {
            *pProblem = "the zip's directory: its Zip64 end record is missing or damaged";
            return WorkbookDamaged;
        }
        const unsigned char* p64 = m_bytes.data() + off64;
        if (Get32(p64 + 16) != 0 || Get32(p64 + 20) != 0 || Get64(p64 + 24) != Get64(p64 + 32))
            bMultiDisk = true;
        nEntries = Get64(p64 + 32);
        cbDirectory = Get64(p64 + 40);
        offDirectory = Get64(p64 + 48);
    }
    if (bMultiDisk) {
        *pProblem = "the zip's directory: the zip spans several disks";
        return WorkbookDamaged;
    }
    if (!Within(offDirectory, cbDirectory, offEnd)) {
        *pProblem = "the zip's directory: it lies outside the file";
        return WorkbookDamaged;
    }
    return ReadDirectory(offDirectory, cbDirectory, nEntries, pProblem);
}

void WorkbookZip::Close()
{
    std::vector<unsigned char>().swap(m_bytes);
    m_entries.clear();
    m_byFoldedName.clear();
}

// The Zip64 extra field's values for those of the header's fields that hold
// their placeholder, in the order the field stores them.
static bool ReadZip64Extra(const unsigned char* pExtra, size_t cbExtra, WorkbookZipEntry* pEntry, bool bSizes,
                           bool bCompressed, bool bOffset)
{
    size_t off = 0;
    while (off + 4 <= cbExtra) {
        uint16_t nId = Get16(pExtra + off);
        size_t cbField = Get16(pExtra + off + 2);
        if (cbField > cbExtra - off - 4)
            return false;
        if (nId == 0x0001) {
            const unsigned char* p = pExtra + off + 4;
            size_t cbNeeded = 8 * ((bSizes ? 1 : 0) + (bCompressed ? 1 : 0) + (bOffset ? 1 : 0));
            if (cbField < cbNeeded)
                return false;
            if (bSizes) {
                pEntry->cbUncompressed = Get64(p);
                p += 8;
            }
            if (bCompressed) {
                pEntry->cbCompressed = Get64(p);
                p += 8;
            }
            if (bOffset)
                pEntry->offLocalHeader = Get64(p);
            return true;
        }
        off += 4 + cbField;
    }
    return !bSizes && !bCompressed && !bOffset;
}

int WorkbookZip::ReadDirectory(uint64_t offDirectory, uint64_t cbDirectory, uint64_t nEntries,
                               std::string* pProblem)
{
    // Each header takes at least its fixed part: a count beyond that is made up.
    if (nEntries > cbDirectory / LC_ZIP_CENTRAL_SIZE) {
        *pProblem = "the zip's directory: it counts more entries than it holds";
        return WorkbookDamaged;
    }
    m_entries.reserve((size_t)nEntries);
    const unsigned char* pDirectory = m_bytes.data() + offDirectory;
    uint64_t off = 0;
    for (uint64_t i = 0; i < nEntries; ++i) {
        if (!Within(off, LC_ZIP_CENTRAL_SIZE, cbDirectory) || Get32(pDirectory + off) != LC_ZIP_CENTRAL_HEADER) {
            *pProblem = "the zip's directory: an entry's header is damaged";
            return WorkbookDamaged;
        }
        const unsigned char* p = pDirectory + off;
        size_t cbName = Get16(p + 28), cbExtra = Get16(p + 30), cbComment = Get16(p + 32);
        if (!Within(off + LC_ZIP_CENTRAL_SIZE, (uint64_t)cbName + cbExtra + cbComment, cbDirectory)) {
            *pProblem = "the zip's directory: an entry's header runs past the directory";
            return WorkbookDamaged;
        }
        WorkbookZipEntry entry;
        entry.strName.assign((const char*)p + LC_ZIP_CENTRAL_SIZE, cbName);
        entry.nFlags = Get16(p + 8);
        entry.nMethod = Get16(p + 10);
        entry.nCrc = Get32(p + 16);
        entry.cbCompressed = Get32(p + 20);
        entry.cbUncompressed = Get32(p + 24);
        entry.offLocalHeader = Get32(p + 42);
        bool bSizes = entry.cbUncompressed == 0xFFFFFFFFu;
        bool bCompressed = entry.cbCompressed == 0xFFFFFFFFu;
        bool bOffset = entry.offLocalHeader == 0xFFFFFFFFu;
        if (!ReadZip64Extra(p + LC_ZIP_CENTRAL_SIZE + cbName, cbExtra, &entry, bSizes, bCompressed, bOffset)) {
            *pProblem = entry.strName + ": its Zip64 sizes are missing from the zip's directory";
            return WorkbookDamaged;
        }
        m_byFoldedName.emplace(FoldName(entry.strName), m_entries.size());
        m_entries.push_back(std::move(entry));
        off += LC_ZIP_CENTRAL_SIZE + cbName + cbExtra + cbComment;
    }
    return WorkbookOk;
}

const WorkbookZipEntry* WorkbookZip::Find(const std::string& strName) const
{
    auto it = m_byFoldedName.find(FoldName(strName));
    return it == m_byFoldedName.end() ? NULL : &m_entries[it->second];
}

// zlib's raw inflate state, ended when the source goes.
struct WorkbookPartSource::Inflater {
    Inflater() : bStarted(false) { memset(&stream, 0, sizeof(stream)); }
    ~Inflater()
    {
        if (bStarted)
            inflateEnd(&stream);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    z_stream stream;
    bool bStarted;
};

WorkbookPartSource::WorkbookPartSource()
    : m_pEntry(NULL), m_pData(NULL), m_cbDataLeft(0), m_cbOut(0), m_cbLimit(0), m_nCrc(0), m_bEnded(true),
      m_nResult(WorkbookDamaged)
{
}

WorkbookPartSource::~WorkbookPartSource() {}

bool WorkbookPartSource::Fail(int nResult, const char* pszFault)
{
    m_nResult = nResult;
    m_strProblem = (m_pEntry ? m_pEntry->strName : std::string("the zip")) + ": " + pszFault;
    m_bEnded = true;
    m_pInflater.reset();
    return false;
}

int WorkbookPartSource::Open(const WorkbookZip& zip, const WorkbookZipEntry& entry, uint64_t cbLimit)
{
    m_pEntry = &entry;
    m_cbLimit = cbLimit;
    m_pData = NULL;
    m_cbDataLeft = 0;
    m_pInflater.reset();
    m_cbOut = 0;
    m_nCrc = (uint32_t)crc32(0L, Z_NULL, 0);
    m_bEnded = false;
    m_nResult = WorkbookOk;
    m_strProblem.clear();

    if (entry.nFlags & LC_ZIP_FLAG_ENCRYPTED) {
        Fail(WorkbookEncrypted, "it is encrypted");
        return m_nResult;
    }
    if (entry.cbUncompressed > m_cbLimit) {
        Fail(WorkbookPartTooLarge, "it is too large to read");
        return m_nResult;
    }
    uint64_t off = entry.offLocalHeader;
    if (!Within(off, LC_ZIP_LOCAL_SIZE, zip.Size()) || Get32(zip.Bytes() + off) != LC_ZIP_LOCAL_HEADER) {
        Fail(WorkbookDamaged, "its local header is missing or damaged");
        return m_nResult;
    }
    const unsigned char* pLocal = zip.Bytes() + off;
    // The local header's flags are checked as well: a reader that takes them
    // alone must not be handed encrypted bytes as plain.
    if (Get16(pLocal + 6) & LC_ZIP_FLAG_ENCRYPTED) {
        Fail(WorkbookEncrypted, "it is encrypted");
        return m_nResult;
    }
    uint64_t offData = off + LC_ZIP_LOCAL_SIZE + Get16(pLocal + 26) + Get16(pLocal + 28);
    if (!Within(offData, entry.cbCompressed, zip.Size())) {
        Fail(WorkbookDamaged, "its data lies outside the file, the file is cut short");
        return m_nResult;
    }
    m_pData = zip.Bytes() + offData;
    m_cbDataLeft = (size_t)entry.cbCompressed;
    if (entry.nMethod == LC_ZIP_METHOD_STORED) {
        if (entry.cbCompressed != entry.cbUncompressed)
            Fail(WorkbookDamaged, "it is stored, yet its sizes differ");
        return m_nResult;
    }
    if (entry.nMethod != LC_ZIP_METHOD_DEFLATED) {
        Fail(WorkbookDamaged, "it is compressed with a method other than deflate");
        return m_nResult;
    }
    m_pInflater.reset(new Inflater);
    if (inflateInit2(&m_pInflater->stream, -MAX_WBITS) != Z_OK) {
        Fail(WorkbookNoMemory, "no memory to inflate it");
        return m_nResult;
    }
    m_pInflater->bStarted = true;
    return m_nResult;
}

// At the end of the data: the size and CRC-32 must be the directory's.
bool WorkbookPartSource::CheckEnd()
{
    m_bEnded = true;
    m_pInflater.reset();
    if (m_cbOut != m_pEntry->cbUncompressed)
        return Fail(WorkbookDamaged, "its size is not the one the zip's directory gives");
    if (m_nCrc != m_pEntry->nCrc)
        return Fail(WorkbookDamaged, "its CRC-32 does not match, the data is damaged");
    return true;
}

bool WorkbookPartSource::Read(void* pBuffer, size_t cbMax, size_t* pcbRead)
{
    *pcbRead = 0;
    if (m_nResult != WorkbookOk)
        return false;
    if (m_bEnded || cbMax == 0)
        return true;
    if (cbMax > LC_ZLIB_CHUNK_MAX)
        cbMax = LC_ZLIB_CHUNK_MAX;
    size_t cbOut = 0;
    if (!m_pInflater) {
        cbOut = cbMax < m_cbDataLeft ? cbMax : m_cbDataLeft;
        memcpy(pBuffer, m_pData, cbOut);
        m_pData += cbOut;
        m_cbDataLeft -= cbOut;
    } else {
        z_stream* pStream = &m_pInflater->stream;
        pStream->next_out = (Bytef*)pBuffer;
        pStream->avail_out = (uInt)cbMax;
        // zlib may take in a block's header and give nothing out yet: it is
        // called again until it does, ends, or has nothing left to take.
        int nZ = Z_OK;
        while (pStream->avail_out == cbMax) {
            size_t cbIn = m_cbDataLeft < LC_ZLIB_CHUNK_MAX ? m_cbDataLeft : LC_ZLIB_CHUNK_MAX;
            pStream->next_in = (Bytef*)m_pData;
            pStream->avail_in = (uInt)cbIn;
            nZ = inflate(pStream, Z_NO_FLUSH);
            size_t cbTaken = cbIn - pStream->avail_in;
            m_pData += cbTaken;
            m_cbDataLeft -= cbTaken;
            if (nZ == Z_STREAM_END)
                break;
            if (nZ == Z_MEM_ERROR)
                return Fail(WorkbookNoMemory, "no memory to inflate it");
            // Without progress zlib has nothing left to take: the data ended
            // before its last block.
            if (nZ == Z_BUF_ERROR)
                return Fail(WorkbookDamaged, "its compressed data ends early, the file is cut short");
            if (nZ != Z_OK)
                return Fail(WorkbookDamaged, "its compressed data is damaged");
        }
        cbOut = cbMax - pStream->avail_out;
        if (nZ == Z_STREAM_END)
            m_bEnded = true;
    }
    // Counted whatever the directory says: a zip that claims a small size
    // for a part that inflates to gigabytes is stopped here.
    m_cbOut += cbOut;
    if (m_cbOut > m_cbLimit)
        return Fail(WorkbookPartTooLarge, "it inflates past the largest part read");
    m_nCrc = (uint32_t)crc32(m_nCrc, (const Bytef*)pBuffer, (uInt)cbOut);
    *pcbRead = cbOut;
    if (!m_pInflater && m_cbDataLeft == 0)
        m_bEnded = true;
    if (m_bEnded && !CheckEnd()) {
        *pcbRead = 0;
        return false;
    }
    return true;
}

int WorkbookPartSource::Finish()
{
    unsigned char buffer[16384];
    size_t cbRead;
    while (m_nResult == WorkbookOk && !m_bEnded && Read(buffer, sizeof(buffer), &cbRead)) {
    }
    return m_nResult;
}
