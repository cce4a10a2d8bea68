#include <gtest/gtest.h>

#include <mapicode.h>
#include <string.h>

#include <string>
#include <vector>

#include "standin/common/fault_plan.h"
#include "tests/standin/mapi/mapi_library.h"
#include "tests/support/test_files.h"

namespace {

// The engine's flags: unique name, deleted on release, created, exclusive, read-write.
const ULONG kEngineFlags = 0x84001012;

// Holds one reference to a COM object.
template <typename T>
class ComRef {
public:
    ComRef() : m_p(NULL) {}
    ~ComRef() { Reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    T** operator&() { Reset(); return &m_p; }
    T* operator->() const { return m_p; }
    T* Get() const { return m_p; }
    void Reset()
    {
        if (m_p)
            m_p->Release();
        m_p = NULL;
    }

private:
    T* m_p;
};

std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(data.cFileName);
    } while (FindNextFileA(hFind, &data));
    FindClose(hFind);
    return names;
}

void PutFile(const std::string& path, const std::string& content)
{
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_TRUE(f != NULL) << path;
    fwrite(content.data(), 1, content.size(), f);
    fclose(f);
}

LARGE_INTEGER Offset(LONGLONG n)
{
    LARGE_INTEGER li;
    li.QuadPart = n;
    return li;
}

ULARGE_INTEGER Size(ULONGLONG n)
{
    ULARGE_INTEGER li;
    li.QuadPart = n;
    return li;
}

std::string ReadAll(IStream* pStream)
{
    std::string text;
    pStream->Seek(Offset(0), STREAM_SEEK_SET, NULL);
    char buffer[4096];
    ULONG cbRead = 0;
    while (SUCCEEDED(pStream->Read(buffer, sizeof(buffer), &cbRead)) && cbRead > 0)
        text.append(buffer, cbRead);
    return text;
}

class OpenStreamOnFileTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_mapi.Complete()); }

    HRESULT Open(ULONG ulFlags, const std::string& path, const char* pszPrefix, IStream** ppStream)
    {
        return m_mapi.m_pfnOpenStreamOnFile((LPALLOCATEBUFFER)m_mapi.m_pfnAllocateBuffer,
                                            (LPFREEBUFFER)m_mapi.m_pfnFreeBuffer, ulFlags,
                                            const_cast<LPSTR>(path.c_str()), const_cast<LPSTR>(pszPrefix), ppStream);
    }

    MapiLibrary m_mapi;
    TempFolder m_folder{ "lcsof" };
};

TEST_F(OpenStreamOnFileTest, UniqueFileReadWriteSeekStatCopyThenGone)
{
    ComRef<IStream> stream;
    ASSERT_EQ(S_OK, Open(kEngineFlags, m_folder.Path(), "tdp", &stream));
    ASSERT_TRUE(stream.Get() != NULL);
    std::vector<std::string> files = FilesIn(m_folder.Path());
    ASSERT_EQ(1u, files.size());
    EXPECT_EQ(0, files[0].compare(0, 3, "tdp")) << files[0];

    ULONG cbWritten = 0;
    ASSERT_EQ(S_OK, stream->Write("Hello, world", 12, &cbWritten));
    EXPECT_EQ(12u, cbWritten);
    ULARGE_INTEGER position;
    ASSERT_EQ(S_OK, stream->Seek(Offset(7), STREAM_SEEK_SET, &position));
    EXPECT_EQ(7u, position.QuadPart);
    char buffer[32] = {};
    ULONG cbRead = 0;
    ASSERT_EQ(S_OK, stream->Read(buffer, 3, &cbRead));
    EXPECT_EQ(3u, cbRead);
    EXPECT_EQ(std::string("wor"), std::string(buffer, cbRead));
    ASSERT_EQ(S_OK, stream->Seek(Offset(-2), STREAM_SEEK_CUR, &position));
    EXPECT_EQ(8u, position.QuadPart);
    ASSERT_EQ(S_OK, stream->Read(buffer, sizeof(buffer), &cbRead));
    EXPECT_EQ(std::string("orld"), std::string(buffer, cbRead));
    ASSERT_EQ(S_OK, stream->Read(buffer, sizeof(buffer), &cbRead));
    EXPECT_EQ(0u, cbRead);
    ASSERT_EQ(S_OK, stream->Seek(Offset(-5), STREAM_SEEK_END, &position));
    EXPECT_EQ(7u, position.QuadPart);

    STATSTG stat;
    ASSERT_EQ(S_OK, stream->Stat(&stat, STATFLAG_NONAME));
    EXPECT_EQ(12u, stat.cbSize.QuadPart);
    EXPECT_EQ((DWORD)STGTY_STREAM, stat.type);
    EXPECT_TRUE(stat.pwcsName == NULL);
    ASSERT_EQ(S_OK, stream->Stat(&stat, STATFLAG_DEFAULT));
    ASSERT_TRUE(stat.pwcsName != NULL);
    char szName[MAX_PATH];
    WideCharToMultiByte(CP_ACP, 0, stat.pwcsName, -1, szName, MAX_PATH, NULL, NULL);
    EXPECT_EQ(files[0], szName);
    CoTaskMemFree(stat.pwcsName);

    ComRef<IStream> target;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(NULL, TRUE, &target));
    ASSERT_EQ(S_OK, stream->Seek(Offset(0), STREAM_SEEK_SET, NULL));
    ULARGE_INTEGER cbCopyRead, cbCopyWritten;
    ASSERT_EQ(S_OK, stream->CopyTo(target.Get(), Size(5), &cbCopyRead, &cbCopyWritten));
    EXPECT_EQ(5u, cbCopyRead.QuadPart);
    EXPECT_EQ(5u, cbCopyWritten.QuadPart);
    // More than is left copies what is left.
    ASSERT_EQ(S_OK, stream->CopyTo(target.Get(), Size(1000), &cbCopyRead, &cbCopyWritten));
    EXPECT_EQ(7u, cbCopyRead.QuadPart);
    EXPECT_EQ(7u, cbCopyWritten.QuadPart);
    EXPECT_EQ("Hello, world", ReadAll(target.Get()));

    stream.Reset();
    EXPECT_TRUE(FilesIn(m_folder.Path()).empty());
}

TEST_F(OpenStreamOnFileTest, UniqueNamesKeepTheWholePrefixAndDiffer)
{
    ComRef<IStream> first;
    ComRef<IStream> second;
    ASSERT_EQ(S_OK, Open(kEngineFlags, m_folder.Path() + "\\", "lettercast", &first));
    ASSERT_EQ(S_OK, Open(kEngineFlags, m_folder.Path(), "lettercast", &second));
    std::vector<std::string> files = FilesIn(m_folder.Path());
    ASSERT_EQ(2u, files.size());
    EXPECT_NE(files[0], files[1]);
    for (const std::string& name : files)
        EXPECT_EQ(0, name.compare(0, 10, "lettercast")) << name;
    first.Reset();
    EXPECT_EQ(1u, FilesIn(m_folder.Path()).size());
    // The survivor is still usable after its neighbour went.
    ULONG cbWritten = 0;
    EXPECT_EQ(S_OK, second->Write("x", 1, &cbWritten));
}

TEST_F(OpenStreamOnFileTest, KeptFileWithoutDeleteOnRelease)
{
    ComRef<IStream> stream;
    ASSERT_EQ(S_OK, Open(SOF_UNIQUEFILENAME | STGM_CREATE | STGM_READWRITE, m_folder.Path(), "keep", &stream));
    ULONG cbWritten = 0;
    ASSERT_EQ(S_OK, stream->Write("kept", 4, &cbWritten));
    stream.Reset();
    std::vector<std::string> files = FilesIn(m_folder.Path());
    ASSERT_EQ(1u, files.size());
    EXPECT_EQ("kept", ReadWholeFile(m_folder.File(files[0])));
}

TEST_F(OpenStreamOnFileTest, NamedFileCreateTruncatesAndOpenReads)
{
    std::string path = m_folder.File("named.bin");
    PutFile(path, "old content");
    {
        ComRef<IStream> stream;
        ASSERT_EQ(S_OK, Open(STGM_CREATE | STGM_READWRITE, path, NULL, &stream));
        STATSTG stat;
        ASSERT_EQ(S_OK, stream->Stat(&stat, STATFLAG_NONAME));
        EXPECT_EQ(0u, stat.cbSize.QuadPart);
        ULONG cbWritten = 0;
        ASSERT_EQ(S_OK, stream->Write("new", 3, &cbWritten));
    }
    EXPECT_EQ("new", ReadWholeFile(path));
    {
        ComRef<IStream> stream;
        ASSERT_EQ(S_OK, Open(STGM_READ, path, NULL, &stream));
        EXPECT_EQ("new", ReadAll(stream.Get()));
        ULONG cbWritten = 5;
        EXPECT_EQ(STG_E_ACCESSDENIED, stream->Write("no", 2, &cbWritten));
        EXPECT_EQ(0u, cbWritten);
        EXPECT_EQ(STG_E_ACCESSDENIED, stream->SetSize(Size(0)));
    }
    EXPECT_EQ("new", ReadWholeFile(path));
}

TEST_F(OpenStreamOnFileTest, SetSizeKeepsThePosition)
{
    ComRef<IStream> stream;
    ASSERT_EQ(S_OK, Open(kEngineFlags, m_folder.Path(), "tdp", &stream));
    ULONG cbWritten = 0;
    ASSERT_EQ(S_OK, stream->Write("0123456789", 10, &cbWritten));
    ASSERT_EQ(S_OK, stream->SetSize(Size(4)));
    ULARGE_INTEGER position;
    ASSERT_EQ(S_OK, stream->Seek(Offset(0), STREAM_SEEK_CUR, &position));
    EXPECT_EQ(10u, position.QuadPart);
    STATSTG stat;
    ASSERT_EQ(S_OK, stream->Stat(&stat, STATFLAG_NONAME));
    EXPECT_EQ(4u, stat.cbSize.QuadPart);
    EXPECT_EQ("0123", ReadAll(stream.Get()));
    ASSERT_EQ(S_OK, stream->SetSize(Size(100)));
    ASSERT_EQ(S_OK, stream->Stat(&stat, STATFLAG_NONAME));
    EXPECT_EQ(100u, stat.cbSize.QuadPart);
}

TEST_F(OpenStreamOnFileTest, BadSeeksAndFlagsAreRefused)
{
    ComRef<IStream> stream;
    ASSERT_EQ(S_OK, Open(kEngineFlags, m_folder.Path(), "tdp", &stream));
    ULONG cbWritten = 0;
    ASSERT_EQ(S_OK, stream->Write("abc", 3, &cbWritten));
    ULARGE_INTEGER position;
    EXPECT_EQ(STG_E_INVALIDFUNCTION, stream->Seek(Offset(-10), STREAM_SEEK_CUR, &position));
    EXPECT_EQ(STG_E_INVALIDFUNCTION, stream->Seek(Offset(0), 7, &position));
    ASSERT_EQ(S_OK, stream->Seek(Offset(0), STREAM_SEEK_CUR, &position));
    EXPECT_EQ(3u, position.QuadPart);
    STATSTG stat;
    EXPECT_EQ(STG_E_INVALIDFLAG, stream->Stat(&stat, 5));
    EXPECT_EQ(STG_E_INVALIDPOINTER, stream->CopyTo(NULL, Size(1), NULL, NULL));
    IStream* pClone = (IStream*)1;
    EXPECT_EQ(STG_E_INVALIDFUNCTION, stream->Clone(&pClone));
    EXPECT_TRUE(pClone == NULL);
    EXPECT_EQ(S_OK, stream->Commit(STGC_DEFAULT));

    ISequentialStream* pSequential = NULL;
    ASSERT_EQ(S_OK, stream->QueryInterface(IID_ISequentialStream, (void**)&pSequential));
    pSequential->Release();
    IUnknown* pOther = (IUnknown*)1;
    EXPECT_EQ(E_NOINTERFACE, stream->QueryInterface(IID_IDispatch, (void**)&pOther));
    EXPECT_TRUE(pOther == NULL);
}

TEST_F(OpenStreamOnFileTest, CopyToMovesLargeContentInFull)
{
    ComRef<IStream> stream;
    ASSERT_EQ(S_OK, Open(kEngineFlags, m_folder.Path(), "tdp", &stream));
    std::string content;
    for (int i = 0; i < 300000; ++i)
        content += (char)('a' + i % 23);
    ULONG cbWritten = 0;
    ASSERT_EQ(S_OK, stream->Write(content.data(), (ULONG)content.size(), &cbWritten));
    ASSERT_EQ(S_OK, stream->Seek(Offset(0), STREAM_SEEK_SET, NULL));
    ComRef<IStream> target;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(NULL, TRUE, &target));
    ULARGE_INTEGER cbRead, cbCopied;
    ULARGE_INTEGER all;
    all.QuadPart = ~0ull;
    ASSERT_EQ(S_OK, stream->CopyTo(target.Get(), all, &cbRead, &cbCopied));
    EXPECT_EQ(content.size(), cbRead.QuadPart);
    EXPECT_EQ(content.size(), cbCopied.QuadPart);
    EXPECT_TRUE(content == ReadAll(target.Get()));
}

TEST_F(OpenStreamOnFileTest, BadArgumentsCreateNothing)
{
    IStream* pStream = (IStream*)1;
    EXPECT_EQ(MAPI_E_NOT_FOUND, Open(kEngineFlags, m_folder.File("missing"), "tdp", &pStream));
    EXPECT_TRUE(pStream == NULL);
    pStream = (IStream*)1;
    EXPECT_EQ(MAPI_E_NOT_FOUND, Open(STGM_READ, m_folder.File("absent.bin"), NULL, &pStream));
    EXPECT_TRUE(pStream == NULL);
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, Open(STGM_READWRITE | 3, m_folder.File("x.bin"), NULL, &pStream));
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, m_mapi.m_pfnOpenStreamOnFile(NULL, NULL, kEngineFlags,
                                                                     const_cast<LPSTR>(m_folder.Path().c_str()),
                                                                     const_cast<LPSTR>("tdp"), &pStream));
    std::string longFolder = m_folder.Path() + "\\" + std::string(250, 'f');
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, Open(kEngineFlags, longFolder, "tdp", &pStream));
    EXPECT_TRUE(FilesIn(m_folder.Path()).empty());
}

TEST_F(OpenStreamOnFileTest, InjectedFaults)
{
    IStream* pStream = (IStream*)1;
    ASSERT_TRUE(SetFaultPlan("OpenStreamOnFile=fail:0x8007000E@1"));
    EXPECT_EQ(E_OUTOFMEMORY, Open(kEngineFlags, m_folder.Path(), "tdp", &pStream));
    EXPECT_TRUE(pStream == NULL);
    EXPECT_TRUE(FilesIn(m_folder.Path()).empty());

    ComRef<IStream> stream;
    ASSERT_EQ(S_OK, Open(kEngineFlags, m_folder.Path(), "tdp", &stream));
    ASSERT_TRUE(SetFaultPlan("FileStream.Write=fail:0x80030070@1;FileStream.Read=fail:0x8003001E@2;"
                             "FileStream.Seek=fail@2;FileStream.CopyTo=raise:0x80030070@1;FileStream.Stat=fail@*"));
    ULONG cb = 99;
    EXPECT_EQ(STG_E_MEDIUMFULL, stream->Write("abc", 3, &cb));
    EXPECT_EQ(0u, cb);
    ASSERT_EQ(S_OK, stream->Write("abc", 3, &cb));
    ASSERT_EQ(S_OK, stream->Seek(Offset(0), STREAM_SEEK_SET, NULL));
    EXPECT_EQ(E_FAIL, stream->Seek(Offset(0), STREAM_SEEK_SET, NULL));
    char buffer[8];
    ASSERT_EQ(S_OK, stream->Read(buffer, 1, &cb));
    EXPECT_EQ(STG_E_READFAULT, stream->Read(buffer, 1, &cb));
    EXPECT_EQ(0u, cb);
    // The failed read moved nothing: the next one goes on from the second byte.
    ASSERT_EQ(S_OK, stream->Read(buffer, 1, &cb));
    EXPECT_EQ('b', buffer[0]);
    ComRef<IStream> target;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(NULL, TRUE, &target));
    ULARGE_INTEGER cbRead, cbCopied;
    EXPECT_EQ(STG_E_MEDIUMFULL, stream->CopyTo(target.Get(), Size(10), &cbRead, &cbCopied));
    EXPECT_EQ(0u, cbCopied.QuadPart);
    STATSTG stat;
    EXPECT_EQ(E_FAIL, stream->Stat(&stat, STATFLAG_NONAME));
    EXPECT_EQ(E_FAIL, stream->Stat(&stat, STATFLAG_NONAME));
    EXPECT_EQ(2, FaultCallCount("FileStream.Write"));
    EXPECT_EQ(3, FaultCallCount("FileStream.Read"));
    SetFaultPlan(NULL);
}

}  // namespace
