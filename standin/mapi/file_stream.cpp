#include "standin/mapi/mapi_standin.h"

#include <mapicode.h>
#include <objbase.h>
#include <string.h>

#include <new>

namespace {

const ULONG kCopyChunk = 64 * 1024;

bool Readable(DWORD grfMode)
{
    return (grfMode & 3) != STGM_WRITE;
}

bool Writable(DWORD grfMode)
{
    return (grfMode & 3) != STGM_READ;
}

class FileStream final : public IStream {
public:
    FileStream(HANDLE hFile, const char* pszPath, DWORD grfMode, bool bDeleteOnRelease)
        : m_nRefs(1), m_hFile(hFile), m_grfMode(grfMode), m_bDeleteOnRelease(bDeleteOnRelease)
    {
        lstrcpynA(m_szPath, pszPath, MAX_PATH);
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ISequentialStream || riid == IID_IStream) {
            *ppv = static_cast<IStream*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = NULL;
        return E_NOINTERFACE;
    }

    STDMETHODIMP_(ULONG) AddRef() override { return (ULONG)InterlockedIncrement(&m_nRefs); }

    STDMETHODIMP_(ULONG) Release() override
    {
        LONG nRefs = InterlockedDecrement(&m_nRefs);
        if (nRefs == 0)
            delete this;
        return (ULONG)nRefs;
    }

    STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) override
    {
        if (pcbRead)
            *pcbRead = 0;
        HRESULT hr = InjectedFault("FileStream.Read");
        if (FAILED(hr))
            return hr;
        if (!pv && cb)
            return STG_E_INVALIDPOINTER;
        if (!Readable(m_grfMode))
            return STG_E_ACCESSDENIED;
        DWORD cbRead = 0;
        if (cb && !ReadFile(m_hFile, pv, cb, &cbRead, NULL))
            return STG_E_READFAULT;
        if (pcbRead)
            *pcbRead = cbRead;
        return S_OK;
    }

    STDMETHODIMP Write(const void* pv, ULONG cb, ULONG* pcbWritten) override
    {
        if (pcbWritten)
            *pcbWritten = 0;
        HRESULT hr = InjectedFault("FileStream.Write");
        if (FAILED(hr))
            return hr;
        if (!pv && cb)
            return STG_E_INVALIDPOINTER;
        if (!Writable(m_grfMode))
            return STG_E_ACCESSDENIED;
        DWORD cbWritten = 0;
        if (cb && !WriteFile(m_hFile, pv, cb, &cbWritten, NULL))
            return GetLastError() == ERROR_DISK_FULL ? STG_E_MEDIUMFULL : STG_E_WRITEFAULT;
        if (pcbWritten)
            *pcbWritten = cbWritten;
        return cbWritten == cb ? S_OK : STG_E_MEDIUMFULL;
    }

    STDMETHODIMP Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) override
    {
        HRESULT hr = InjectedFault("FileStream.Seek");
        if (FAILED(hr))
            return hr;
        DWORD dwMethod;
        switch (dwOrigin) {
        case STREAM_SEEK_SET: dwMethod = FILE_BEGIN; break;
        case STREAM_SEEK_CUR: dwMethod = FILE_CURRENT; break;
        case STREAM_SEEK_END: dwMethod = FILE_END; break;
        default: return STG_E_INVALIDFUNCTION;
        }
        LARGE_INTEGER newPosition;
        // A position before the start is refused by the system and leaves
        // the pointer where it was.
        if (!SetFilePointerEx(m_hFile, dlibMove, &newPosition, dwMethod))
            return STG_E_INVALIDFUNCTION;
        if (plibNewPosition)
            plibNewPosition->QuadPart = (ULONGLONG)newPosition.QuadPart;
        return S_OK;
    }

    STDMETHODIMP SetSize(ULARGE_INTEGER libNewSize) override
    {
        HRESULT hr = InjectedFault("FileStream.SetSize");
        if (FAILED(hr))
            return hr;
        if (!Writable(m_grfMode))
            return STG_E_ACCESSDENIED;
        if (libNewSize.QuadPart > 0x7FFFFFFFFFFFFFFFull)
            return STG_E_INVALIDFUNCTION;
        LARGE_INTEGER zero, current, size;
        zero.QuadPart = 0;
        size.QuadPart = (LONGLONG)libNewSize.QuadPart;
        if (!SetFilePointerEx(m_hFile, zero, &current, FILE_CURRENT))
            return STG_E_SEEKERROR;
        hr = S_OK;
        if (!SetFilePointerEx(m_hFile, size, NULL, FILE_BEGIN) || !SetEndOfFile(m_hFile))
            hr = STG_E_MEDIUMFULL;
        // The seek position stays where it was, even past the new end.
        SetFilePointerEx(m_hFile, current, NULL, FILE_BEGIN);
        return hr;
    }

    STDMETHODIMP CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead, ULARGE_INTEGER* pcbWritten) override
    {
        if (pcbRead)
            pcbRead->QuadPart = 0;
        if (pcbWritten)
            pcbWritten->QuadPart = 0;
        HRESULT hr = InjectedFault("FileStream.CopyTo");
        if (FAILED(hr))
            return hr;
        if (!pstm)
            return STG_E_INVALIDPOINTER;
        if (!Readable(m_grfMode))
            return STG_E_ACCESSDENIED;
        BYTE* pBuffer = (BYTE*)HeapAlloc(GetProcessHeap(), 0, kCopyChunk);
        if (!pBuffer)
            return STG_E_INSUFFICIENTMEMORY;
        ULONGLONG cbLeft = cb.QuadPart;
        ULONGLONG cbReadAll = 0;
        ULONGLONG cbWrittenAll = 0;
        hr = S_OK;
        while (cbLeft > 0) {
            DWORD cbChunk = cbLeft < kCopyChunk ? (DWORD)cbLeft : kCopyChunk;
            DWORD cbGot = 0;
            if (!ReadFile(m_hFile, pBuffer, cbChunk, &cbGot, NULL)) {
                hr = STG_E_READFAULT;
                break;
            }
            if (cbGot == 0)
                break;
            cbReadAll += cbGot;
            cbLeft -= cbGot;
            ULONG cbPut = 0;
            hr = pstm->Write(pBuffer, cbGot, &cbPut);
            cbWrittenAll += cbPut;
            if (FAILED(hr))
                break;
            if (cbPut < cbGot) {
                hr = STG_E_MEDIUMFULL;
                break;
            }
        }
        HeapFree(GetProcessHeap(), 0, pBuffer);
        if (pcbRead)
            pcbRead->QuadPart = cbReadAll;
        if (pcbWritten)
            pcbWritten->QuadPart = cbWrittenAll;
        return FAILED(hr) ? hr : S_OK;
    }

    STDMETHODIMP Commit(DWORD grfCommitFlags) override
    {
        // Writes go straight to the file; there is nothing to commit.
        return InjectedFault("FileStream.Commit");
    }

    STDMETHODIMP Revert() override { return S_OK; }

    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }

    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }

    STDMETHODIMP Stat(STATSTG* pstatstg, DWORD grfStatFlag) override
    {
        HRESULT hr = InjectedFault("FileStream.Stat");
        if (FAILED(hr))
            return hr;
        if (!pstatstg)
            return STG_E_INVALIDPOINTER;
        if (grfStatFlag != STATFLAG_DEFAULT && grfStatFlag != STATFLAG_NONAME)
            return STG_E_INVALIDFLAG;
        memset(pstatstg, 0, sizeof(*pstatstg));
        LARGE_INTEGER size;
        if (!GetFileSizeEx(m_hFile, &size))
            return STG_E_ACCESSDENIED;
        pstatstg->type = STGTY_STREAM;
        pstatstg->cbSize.QuadPart = (ULONGLONG)size.QuadPart;
        GetFileTime(m_hFile, &pstatstg->ctime, &pstatstg->atime, &pstatstg->mtime);
        pstatstg->grfMode = m_grfMode;
        pstatstg->clsid = CLSID_NULL;
        if (grfStatFlag == STATFLAG_NONAME)
            return S_OK;
        const char* pszName = strrchr(m_szPath, '\\');
        pszName = pszName ? pszName + 1 : m_szPath;
        int cchName = MultiByteToWideChar(CP_ACP, 0, pszName, -1, NULL, 0);
        if (cchName <= 0)
            return S_OK;
        pstatstg->pwcsName = (LPOLESTR)CoTaskMemAlloc(cchName * sizeof(wchar_t));
        if (!pstatstg->pwcsName)
            return STG_E_INSUFFICIENTMEMORY;
        MultiByteToWideChar(CP_ACP, 0, pszName, -1, pstatstg->pwcsName, cchName);
        return S_OK;
    }

    STDMETHODIMP Clone(IStream** ppstm) override
    {
        if (ppstm)
            *ppstm = NULL;
        return STG_E_INVALIDFUNCTION;
    }

private:
    ~FileStream()
    {
        CloseHandle(m_hFile);
        if (m_bDeleteOnRelease)
            DeleteFileA(m_szPath);
    }

    LONG m_nRefs;
    HANDLE m_hFile;
    char m_szPath[MAX_PATH];
    DWORD m_grfMode;
    bool m_bDeleteOnRelease;
};

HRESULT CodeOfLastError()
{
    DWORD dwError = GetLastError();
    switch (dwError) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
        return MAPI_E_NOT_FOUND;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
        return MAPI_E_NO_ACCESS;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return MAPI_E_NOT_ENOUGH_DISK;
    default:
        return dwError ? HRESULT_FROM_WIN32(dwError) : MAPI_E_CALL_FAILED;
    }
}

// Creates "<folder>\<prefix>XXXX.tmp" that did not exist before. The whole
// prefix is kept, unlike GetTempFileName, which keeps three characters.
HANDLE CreateUniqueFile(const char* pszFolder, const char* pszPrefix, DWORD dwAccess, DWORD dwShare, char* pszPath,
                        HRESULT* phr)
{
    char szFolder[MAX_PATH];
    if (pszFolder && *pszFolder) {
        if (lstrlenA(pszFolder) >= MAX_PATH) {
            *phr = MAPI_E_INVALID_PARAMETER;
            return INVALID_HANDLE_VALUE;
        }
        lstrcpyA(szFolder, pszFolder);
    } else {
        DWORD cch = GetTempPathA(MAX_PATH, szFolder);
        if (cch == 0 || cch >= MAX_PATH) {
            *phr = MAPI_E_NOT_FOUND;
            return INVALID_HANDLE_VALUE;
        }
    }
    int cchFolder = lstrlenA(szFolder);
    while (cchFolder > 0 && (szFolder[cchFolder - 1] == '\\' || szFolder[cchFolder - 1] == '/'))
        szFolder[--cchFolder] = '\0';
    if (!pszPrefix)
        pszPrefix = "";
    // folder, backslash, prefix, four digits, ".tmp", terminator
    if (cchFolder + 1 + lstrlenA(pszPrefix) + 4 + 4 + 1 > MAX_PATH) {
        *phr = MAPI_E_INVALID_PARAMETER;
        return INVALID_HANDLE_VALUE;
    }
    static LONG s_nSerial = 0;
    DWORD dwStart = (GetTickCount() ^ (GetCurrentProcessId() << 4)) + (DWORD)InterlockedIncrement(&s_nSerial);
    for (DWORD i = 0; i < 0x10000; ++i) {
        wsprintfA(pszPath, "%s\\%s%04X.tmp", szFolder, pszPrefix, (unsigned)((dwStart + i) & 0xFFFF));
        HANDLE hFile = CreateFileA(pszPath, dwAccess, dwShare, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
        if (hFile != INVALID_HANDLE_VALUE)
            return hFile;
        DWORD dwError = GetLastError();
        if (dwError != ERROR_FILE_EXISTS && dwError != ERROR_ALREADY_EXISTS) {
            *phr = CodeOfLastError();
            return INVALID_HANDLE_VALUE;
        }
    }
    *phr = MAPI_E_COLLISION;
    return INVALID_HANDLE_VALUE;
}

}  // namespace

HRESULT CreateFileStream(HANDLE hFile, const char* pszPath, DWORD grfMode, bool bDeleteOnRelease, IStream** ppStream)
{
    *ppStream = new (std::nothrow) FileStream(hFile, pszPath, grfMode, bDeleteOnRelease);
    return *ppStream ? S_OK : MAPI_E_NOT_ENOUGH_MEMORY;
}

extern "C" HRESULT WINAPI OpenStreamOnFile(LPALLOCATEBUFFER lpAllocateBuffer, LPFREEBUFFER lpFreeBuffer, ULONG ulFlags,
                                           LPSTR lpszFileName, LPSTR lpszPrefix, LPSTREAM* lppStream)
{
    HRESULT hr = InjectedFault("OpenStreamOnFile");
    if (lppStream)
        *lppStream = NULL;
    if (FAILED(hr))
        return hr;
    if (!lpAllocateBuffer || !lpFreeBuffer || !lppStream)
        return MAPI_E_INVALID_PARAMETER;

    DWORD dwAccess;
    switch (ulFlags & 3) {
    case STGM_READ: dwAccess = GENERIC_READ; break;
    case STGM_WRITE: dwAccess = GENERIC_WRITE; break;
    case STGM_READWRITE: dwAccess = GENERIC_READ | GENERIC_WRITE; break;
    default: return MAPI_E_INVALID_PARAMETER;
    }
    DWORD dwShare;
    switch (ulFlags & 0x70) {
    case STGM_SHARE_EXCLUSIVE: dwShare = 0; break;
    case STGM_SHARE_DENY_WRITE: dwShare = FILE_SHARE_READ; break;
    case STGM_SHARE_DENY_READ: dwShare = FILE_SHARE_WRITE; break;
    default: dwShare = FILE_SHARE_READ | FILE_SHARE_WRITE; break;
    }
    bool bDeleteOnRelease = (ulFlags & STGM_DELETEONRELEASE) != 0;
    DWORD grfMode = ulFlags & ~SOF_UNIQUEFILENAME;

    char szPath[MAX_PATH];
    HANDLE hFile;
    if (ulFlags & SOF_UNIQUEFILENAME) {
        hFile = CreateUniqueFile(lpszFileName, lpszPrefix, dwAccess, dwShare, szPath, &hr);
        if (hFile == INVALID_HANDLE_VALUE)
            return hr;
    } else {
        if (!lpszFileName || !*lpszFileName || lstrlenA(lpszFileName) >= MAX_PATH)
            return MAPI_E_INVALID_PARAMETER;
        lstrcpyA(szPath, lpszFileName);
        DWORD dwDisposition = (ulFlags & STGM_CREATE) ? CREATE_ALWAYS : OPEN_EXISTING;
        hFile = CreateFileA(szPath, dwAccess, dwShare, NULL, dwDisposition, FILE_ATTRIBUTE_NORMAL, NULL);
        if (hFile == INVALID_HANDLE_VALUE)
            return CodeOfLastError();
    }

    hr = CreateFileStream(hFile, szPath, grfMode, bDeleteOnRelease, lppStream);
    if (FAILED(hr)) {
        CloseHandle(hFile);
        if (bDeleteOnRelease || (ulFlags & SOF_UNIQUEFILENAME))
            DeleteFileA(szPath);
    }
    return hr;
}
