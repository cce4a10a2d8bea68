// A workbook's zip: its central directory walked once, then any entry read
// as a stream of bytes that zlib inflates as they are asked for (or that are
// copied, for a stored entry). Every offset and size the zip gives is checked
// against the file before it is used; an entry's size and CRC-32 are checked
// when its end is read; an entry that inflates past the limit it is opened
// with is refused whatever the directory says of it.
#ifndef LETTERCAST_WORKBOOK_ZIP_H
#define LETTERCAST_WORKBOOK_ZIP_H

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "mailing/workbook_xml.h"

// An entry as the central directory gives it.
struct WorkbookZipEntry {
    std::string strName;        // the part name as stored: "xl/workbook.xml"
    uint16_t nFlags;            // general-purpose flags: bit 0 encrypted
    uint16_t nMethod;           // 0 stored, 8 deflated
    uint32_t nCrc;
    uint64_t cbCompressed;
    uint64_t cbUncompressed;
    uint64_t offLocalHeader;
};

class WorkbookZip {
public:
    WorkbookZip() {}
    WorkbookZip(const WorkbookZip&) = delete;
    WorkbookZip& operator=(const WorkbookZip&) = delete;

    // Takes the file's bytes over and walks their central directory (Zip64
    // too). WorkbookOk; WorkbookNotZip when the bytes are no zip at all;
    // WorkbookDamaged, *pProblem saying why, when they are one that cannot
    // be read; WorkbookNoMemory.
    int Open(std::vector<unsigned char>&& bytes, std::string* pProblem);
    // Gives the bytes and the entries back.
    void Close();

    // The entry of that part name, NULL when there is none. Part names are
    // compared without regard to ASCII case, as packages name them.
    const WorkbookZipEntry* Find(const std::string& strName) const;
    const std::vector<WorkbookZipEntry>& Entries() const { return m_entries; }

    const unsigned char* Bytes() const { return m_bytes.data(); }
    size_t Size() const { return m_bytes.size(); }

private:
    int ReadDirectory(uint64_t offDirectory, uint64_t cbDirectory, uint64_t nEntries, std::string* pProblem);

    std::vector<unsigned char> m_bytes;
    std::vector<WorkbookZipEntry> m_entries;
    std::unordered_map<std::string, size_t> m_byFoldedName;   // the first entry of each name
};

// One entry's bytes, inflated as they are read.
class WorkbookPartSource : public WorkbookByteSource {
public:
    WorkbookPartSource();
    ~WorkbookPartSource();
    WorkbookPartSource(const WorkbookPartSource&) = delete;
    WorkbookPartSource& operator=(const WorkbookPartSource&) = delete;

    // Starts reading entry of zip, which must outlive the source, up to
    // cbLimit bytes inflated. WorkbookOk; WorkbookEncrypted for an encrypted
    // entry; WorkbookPartTooLarge when the directory already says it is past
    // the limit; WorkbookDamaged when its data lies outside the file or its
    // method is neither stored nor deflated; WorkbookNoMemory. Problem() says
    // which and why.
    int Open(const WorkbookZip& zip, const WorkbookZipEntry& entry, uint64_t cbLimit);

    // Fails with Result() WorkbookDamaged for data that does not inflate,
    // ends early, or does not come to the directory's size and CRC-32;
    // WorkbookPartTooLarge past the limit.
    bool Read(void* pBuffer, size_t cbMax, size_t* pcbRead) override;
    // Reads whatever is left, so that the size and CRC-32 are checked even
    // where the XML ended before the bytes did: Result().
    int Finish();

    int Result() const { return m_nResult; }
    // The part and its fault: "xl/styles.xml: its CRC-32 does not match".
    const std::string& Problem() const { return m_strProblem; }
    uint64_t BytesRead() const { return m_cbOut; }

private:
    struct Inflater;

    bool Fail(int nResult, const char* pszFault);
    bool CheckEnd();

    const WorkbookZipEntry* m_pEntry;
    const unsigned char* m_pData;   // the entry's data in the file
    size_t m_cbDataLeft;            // of it, not yet handed to zlib or copied
    std::unique_ptr<Inflater> m_pInflater;   // NULL for a stored entry
    uint64_t m_cbOut;
    uint64_t m_cbLimit;
    uint32_t m_nCrc;
    bool m_bEnded;
    int m_nResult;
    std::string m_strProblem;
};

#endif
