// The IStream of IMessage::OpenProperty: a property's bytes in memory; a
// writable one gives them to the message only on Commit, and what was
// written after the last Commit is lost when the stream is let go.
#include <string.h>

#include "standin/outlook/outlook_objects.h"

namespace {

class PropertyStream final : public UnknownObject<IStream> {
public:
    PropertyStream(StreamTarget* pTarget, ULONG ulTag, const std::string& bytes, bool bWritable)
        : m_pTarget(pTarget),
          m_ulTag(ulTag),
          m_strBytes(bytes),
          m_strCommitted(bytes),
          m_nPosition(0),
          m_bWritable(bWritable),
          m_bDirty(false)
    {
        m_pTarget->KeepTarget();
        // A stream opened to be created starts as a new value, even if empty.
        if (bWritable && bytes.empty())
            m_bDirty = true;
    }

    STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) override
    {
        if (pcbRead)
            *pcbRead = 0;
        HRESULT hr = S_OK;
        if (VtableFault("IStream.Read", &hr))
            return hr;
        if (!pv && cb)
            return STG_E_INVALIDPOINTER;
        ULONG cbRead = 0;
        if (m_nPosition < m_strBytes.size()) {
            size_t cbLeft = m_strBytes.size() - (size_t)m_nPosition;
            cbRead = cb < cbLeft ? cb : (ULONG)cbLeft;
            memcpy(pv, m_strBytes.data() + m_nPosition, cbRead);
            m_nPosition += cbRead;
        }
        if (pcbRead)
            *pcbRead = cbRead;
        return S_OK;
    }

    STDMETHODIMP Write(const void* pv, ULONG cb, ULONG* pcbWritten) override
    {
        if (pcbWritten)
            *pcbWritten = 0;
        HRESULT hr = S_OK;
        if (VtableFault("IStream.Write", &hr))
            return hr;
        if (!m_bWritable)
            return STG_E_ACCESSDENIED;
        if (!pv && cb)
            return STG_E_INVALIDPOINTER;
        if (m_nPosition + cb > 0x7FFFFFFFu)
            return STG_E_MEDIUMFULL;
        if (m_strBytes.size() < m_nPosition + cb)
            m_strBytes.resize((size_t)(m_nPosition + cb), '\0');
        memcpy(&m_strBytes[(size_t)m_nPosition], pv, cb);
        m_nPosition += cb;
        m_bDirty = true;
        if (pcbWritten)
            *pcbWritten = cb;
        return S_OK;
    }

    STDMETHODIMP Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) override
    {
        HRESULT hr = S_OK;
        if (VtableFault("IStream.Seek", &hr))
            return hr;
        LONGLONG nBase;
        switch (dwOrigin) {
        case STREAM_SEEK_SET:
            nBase = 0;
            break;
        case STREAM_SEEK_CUR:
            nBase = (LONGLONG)m_nPosition;
            break;
        case STREAM_SEEK_END:
            nBase = (LONGLONG)m_strBytes.size();
            break;
        default:
            return STG_E_INVALIDFUNCTION;
        }
        LONGLONG nNew = nBase + dlibMove.QuadPart;
        if (nNew < 0)
            return STG_E_INVALIDFUNCTION;
        m_nPosition = (ULONGLONG)nNew;
        if (plibNewPosition)
            plibNewPosition->QuadPart = m_nPosition;
        return S_OK;
    }

    STDMETHODIMP SetSize(ULARGE_INTEGER libNewSize) override
    {
        HRESULT hr = S_OK;
        if (VtableFault("IStream.SetSize", &hr))
            return hr;
        if (!m_bWritable)
            return STG_E_ACCESSDENIED;
        if (libNewSize.QuadPart > 0x7FFFFFFFu)
            return STG_E_MEDIUMFULL;
        m_strBytes.resize((size_t)libNewSize.QuadPart, '\0');
        m_bDirty = true;
        return S_OK;
    }

    STDMETHODIMP CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                        ULARGE_INTEGER* pcbWritten) override
    {
        if (pcbRead)
            pcbRead->QuadPart = 0;
        if (pcbWritten)
            pcbWritten->QuadPart = 0;
        HRESULT hr = S_OK;
        if (VtableFault("IStream.CopyTo", &hr))
            return hr;
        if (!pstm)
            return STG_E_INVALIDPOINTER;
        ULONGLONG cbRead = 0;
        ULONGLONG cbWritten = 0;
        // In pieces, so that each Write stays within a ULONG.
        const ULONG kPiece = 0x10000;
        while (cbRead < cb.QuadPart && m_nPosition < m_strBytes.size()) {
            ULONGLONG cbLeft = m_strBytes.size() - m_nPosition;
            ULONGLONG cbWanted = cb.QuadPart - cbRead;
            ULONG cbPiece = (ULONG)(cbLeft < cbWanted ? cbLeft : cbWanted);
            if (cbPiece > kPiece)
                cbPiece = kPiece;
            ULONG cbPieceWritten = 0;
            hr = pstm->Write(m_strBytes.data() + m_nPosition, cbPiece, &cbPieceWritten);
            m_nPosition += cbPiece;
            cbRead += cbPiece;
            cbWritten += cbPieceWritten;
            if (FAILED(hr))
                break;
        }
        if (pcbRead)
            pcbRead->QuadPart = cbRead;
        if (pcbWritten)
            pcbWritten->QuadPart = cbWritten;
        return FAILED(hr) ? hr : S_OK;
    }

    STDMETHODIMP Commit(DWORD grfCommitFlags) override
    {
        HRESULT hr = S_OK;
        if (VtableFault("IStream.Commit", &hr))
            return hr;
        if (!m_bWritable || !m_bDirty)
            return S_OK;
        hr = m_pTarget->StoreStreamBytes(m_ulTag, m_strBytes);
        if (FAILED(hr))
            return hr;
        m_strCommitted = m_strBytes;
        m_bDirty = false;
        return S_OK;
    }

    STDMETHODIMP Revert() override
    {
        if (!m_bWritable)
            return S_OK;
        m_strBytes = m_strCommitted;
        m_bDirty = false;
        if (m_nPosition > m_strBytes.size())
            m_nPosition = m_strBytes.size();
        return S_OK;
    }

    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }

    STDMETHODIMP Stat(STATSTG* pstatstg, DWORD grfStatFlag) override
    {
        if (!pstatstg)
            return STG_E_INVALIDPOINTER;
        ZeroMemory(pstatstg, sizeof(*pstatstg));
        HRESULT hr = S_OK;
        if (VtableFault("IStream.Stat", &hr))
            return hr;
        pstatstg->type = STGTY_STREAM;
        pstatstg->cbSize.QuadPart = m_strBytes.size();
        pstatstg->grfMode = m_bWritable ? STGM_READWRITE : STGM_READ;
        if (!(grfStatFlag & STATFLAG_NONAME)) {
            wchar_t szName[32];
            wsprintfW(szName, L"%08lX", (unsigned long)m_ulTag);
            size_t cb = (lstrlenW(szName) + 1) * sizeof(wchar_t);
            pstatstg->pwcsName = (LPOLESTR)CoTaskMemAlloc(cb);
            if (!pstatstg->pwcsName)
                return STG_E_INSUFFICIENTMEMORY;
            memcpy(pstatstg->pwcsName, szName, cb);
        }
        return S_OK;
    }

    STDMETHODIMP Clone(IStream** ppstm) override
    {
        if (ppstm)
            *ppstm = NULL;
        return STG_E_INVALIDFUNCTION;
    }

private:
    bool Answers(REFIID riid) const override
    {
        return IsEqualIID(riid, IID_IStream) || IsEqualIID(riid, IID_ISequentialStream);
    }

    ~PropertyStream() { m_pTarget->DropTarget(); }

    StreamTarget* m_pTarget;
    ULONG m_ulTag;
    std::string m_strBytes;
    std::string m_strCommitted;
    ULONGLONG m_nPosition;
    bool m_bWritable;
    bool m_bDirty;
};

}  // namespace

IStream* NewPropertyStream(StreamTarget* pTarget, ULONG ulTag, const std::string& bytes, bool bWritable)
{
    return new PropertyStream(pTarget, ulTag, bytes, bWritable);
}
