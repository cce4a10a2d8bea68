// The workbook's XML read through Windows' XmlLite. The library is loaded
// from the system folder at run time, so the add-in still loads where it is
// missing (the workbook is then refused with WorkbookNoXmlReader); its
// reader pulls the part's bytes through a sequential stream over the
// inflating zip entry, so a large worksheet is never held whole.
#include "mailing/workbook_xml.h"

#include <windows.h>
#include <objbase.h>
#include <xmllite.h>

#include <new>

#include "engine/com_holder.h"
#include "mailing/workbook_reader.h"

namespace {

typedef HRESULT(WINAPI* CreateXmlReaderProc)(REFIID riid, void** ppvObject, IMalloc* pMalloc);

// mingw-w64 declares the interface but ships no library with its id.
const IID kIidXmlReader = { 0x7279fc81, 0x709d, 0x4095, { 0xb6, 0x3d, 0x69, 0xfe, 0x4b, 0x0d, 0x90, 0x30 } };

// No part of a workbook nests deeper than a few levels; a document that does
// is refused before its depth costs memory.
const LONG_PTR knMaxElementDepth = 256;

// UTF-16 text as UTF-8, a lone surrogate as U+FFFD.
void ToUtf8(const WCHAR* pwsz, UINT cch, std::string* pOut)
{
    pOut->clear();
    for (UINT i = 0; i < cch; ++i) {
        unsigned long nCode = pwsz[i];
        if (nCode >= 0xD800 && nCode <= 0xDBFF && i + 1 < cch && pwsz[i + 1] >= 0xDC00 && pwsz[i + 1] <= 0xDFFF) {
            nCode = 0x10000 + ((nCode - 0xD800) << 10) + (pwsz[i + 1] - 0xDC00);
            ++i;
        } else if (nCode >= 0xD800 && nCode <= 0xDFFF) {
            nCode = 0xFFFD;
        }
        if (nCode < 0x80) {
            *pOut += (char)nCode;
        } else if (nCode < 0x800) {
            *pOut += (char)(0xC0 | (nCode >> 6));
            *pOut += (char)(0x80 | (nCode & 0x3F));
        } else if (nCode < 0x10000) {
            *pOut += (char)(0xE0 | (nCode >> 12));
            *pOut += (char)(0x80 | ((nCode >> 6) & 0x3F));
            *pOut += (char)(0x80 | (nCode & 0x3F));
        } else {
            *pOut += (char)(0xF0 | (nCode >> 18));
            *pOut += (char)(0x80 | ((nCode >> 12) & 0x3F));
            *pOut += (char)(0x80 | ((nCode >> 6) & 0x3F));
            *pOut += (char)(0x80 | (nCode & 0x3F));
        }
    }
}

// The part's bytes as XmlLite takes them in: a sequential stream, which
// XmlLite only reads from start to end.
class SourceStream final : public ISequentialStream {
public:
    explicit SourceStream(WorkbookByteSource* pSource) : m_cRef(1), m_pSource(pSource) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ISequentialStream)) {
            *ppv = static_cast<ISequentialStream*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = NULL;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return (ULONG)InterlockedIncrement(&m_cRef); }
    STDMETHODIMP_(ULONG) Release() override
    {
        LONG cRef = InterlockedDecrement(&m_cRef);
        if (cRef == 0)
            delete this;
        return (ULONG)cRef;
    }

    // As much as asked for unless the part ends; a part whose bytes cannot
    // be had fails the reading (the source keeps why).
    STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) override
    {
        ULONG cbDone = 0;
        HRESULT hr = S_OK;
        while (cbDone < cb) {
            size_t cbRead = 0;
            if (!m_pSource->Read((BYTE*)pv + cbDone, cb - cbDone, &cbRead)) {
                hr = E_FAIL;
                break;
            }
            if (cbRead == 0) {
                hr = S_FALSE;
                break;
            }
            cbDone += (ULONG)cbRead;
        }
        if (pcbRead)
            *pcbRead = cbDone;
        return hr;
    }
    STDMETHODIMP Write(const void* pv, ULONG cb, ULONG* pcbWritten) override { return STG_E_ACCESSDENIED; }

private:
    ~SourceStream() {}

    LONG m_cRef;
    WorkbookByteSource* m_pSource;
};

bool IsNamespaceDeclaration(IXmlReader* pReader, LPCWSTR pwszLocalName)
{
    LPCWSTR pwszPrefix = NULL;
    UINT cchPrefix = 0;
    if (pReader->GetPrefix(&pwszPrefix, &cchPrefix) == S_OK && pwszPrefix && lstrcmpW(pwszPrefix, L"xmlns") == 0)
        return true;
    return cchPrefix == 0 && lstrcmpW(pwszLocalName, L"xmlns") == 0;
}

class XmlLiteReader : public WorkbookXmlReader {
public:
    XmlLiteReader() : m_bElementSeen(false) {}

    bool Start(CreateXmlReaderProc pfnCreate, WorkbookByteSource* pSource)
    {
        if (FAILED(pfnCreate(kIidXmlReader, (void**)m_pReader.Receive(), NULL)) || !m_pReader)
            return false;
        // Prohibited is XmlLite's default; it is said here so that no entity
        // declaration can ever expand.
        if (FAILED(m_pReader->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Prohibit)))
            return false;
        m_pReader->SetProperty(XmlReaderProperty_MaxElementDepth, knMaxElementDepth);
        ComHolder<SourceStream> pStream(new SourceStream(pSource));
        return SUCCEEDED(m_pReader->SetInput(pStream.Get()));
    }

private:
    int ReadNode() override;
    bool ReadAttributes();

    ComHolder<IXmlReader> m_pReader;
    bool m_bElementSeen;
};

bool XmlLiteReader::ReadAttributes()
{
    ClearAttributes();
    HRESULT hr = m_pReader->MoveToFirstAttribute();
    while (hr == S_OK) {
        LPCWSTR pwszName = NULL, pwszValue = NULL;
        UINT cchName = 0, cchValue = 0;
        if (FAILED(m_pReader->GetLocalName(&pwszName, &cchName)) || FAILED(m_pReader->GetValue(&pwszValue, &cchValue)))
            return false;
        if (!IsNamespaceDeclaration(m_pReader, pwszName)) {
            std::pair<std::string, std::string>* pAttribute = AddAttribute();
            ToUtf8(pwszName, cchName, &pAttribute->first);
            ToUtf8(pwszValue, cchValue, &pAttribute->second);
        }
        hr = m_pReader->MoveToNextAttribute();
    }
    return SUCCEEDED(hr) && SUCCEEDED(m_pReader->MoveToElement());
}

int XmlLiteReader::ReadNode()
{
    for (;;) {
        XmlNodeType nodeType;
        HRESULT hr = m_pReader->Read(&nodeType);
        // A document without an element is no document.
        if (hr == S_FALSE)
            return m_bElementSeen ? WorkbookXmlDone : WorkbookXmlError;
        if (hr != S_OK)
            return WorkbookXmlError;
        LPCWSTR pwsz = NULL;
        UINT cch = 0;
        switch (nodeType) {
        case XmlNodeType_Element:
            if (FAILED(m_pReader->GetLocalName(&pwsz, &cch)))
                return WorkbookXmlError;
            ToUtf8(pwsz, cch, &m_name);
            m_bPendingEnd = m_pReader->IsEmptyElement() != FALSE;
            m_bElementSeen = true;
            if (!ReadAttributes())
                return WorkbookXmlError;
            return WorkbookXmlStart;
        case XmlNodeType_EndElement:
            if (FAILED(m_pReader->GetLocalName(&pwsz, &cch)))
                return WorkbookXmlError;
            ToUtf8(pwsz, cch, &m_name);
            return WorkbookXmlEnd;
        case XmlNodeType_Text:
        case XmlNodeType_CDATA:
        case XmlNodeType_Whitespace:
            if (FAILED(m_pReader->GetValue(&pwsz, &cch)))
                return WorkbookXmlError;
            ToUtf8(pwsz, cch, &m_text);
            return WorkbookXmlText;
        case XmlNodeType_DocumentType:
            return WorkbookXmlError;
        default:
            break;   // the declaration, comments, processing instructions
        }
    }
}

class XmlLiteLibrary : public WorkbookXmlLibrary {
public:
    XmlLiteLibrary(HMODULE hModule, CreateXmlReaderProc pfnCreate) : m_hModule(hModule), m_pfnCreate(pfnCreate) {}
    ~XmlLiteLibrary() override { FreeLibrary(m_hModule); }
    XmlLiteLibrary(const XmlLiteLibrary&) = delete;
    XmlLiteLibrary& operator=(const XmlLiteLibrary&) = delete;

    std::unique_ptr<WorkbookXmlReader> Read(WorkbookByteSource* pSource) override
    {
        std::unique_ptr<XmlLiteReader> pReader(new XmlLiteReader);
        if (!pReader->Start(m_pfnCreate, pSource))
            return NULL;
        return std::unique_ptr<WorkbookXmlReader>(pReader.release());
    }

private:
    HMODULE m_hModule;
    CreateXmlReaderProc m_pfnCreate;
};

}  // namespace

int LoadWorkbookXmlLibrary(std::unique_ptr<WorkbookXmlLibrary>* ppLibrary)
{
    ppLibrary->reset();
    // From the system folder by its full name: never a copy that happens to
    // lie in the current or the program's folder.
    char szPath[MAX_PATH];
    UINT cch = GetSystemDirectoryA(szPath, MAX_PATH);
    static const char kszName[] = "\\xmllite.dll";
    if (cch == 0 || cch + sizeof(kszName) > MAX_PATH)
        return WorkbookNoXmlReader;
    lstrcpyA(szPath + cch, kszName);
    HMODULE hModule = LoadLibraryA(szPath);
    if (!hModule)
        return WorkbookNoXmlReader;
    CreateXmlReaderProc pfnCreate = (CreateXmlReaderProc)(void*)GetProcAddress(hModule, "CreateXmlReader");
    if (!pfnCreate) {
        FreeLibrary(hModule);
        return WorkbookNoXmlReader;
    }
    XmlLiteLibrary* pLibrary = new (std::nothrow) XmlLiteLibrary(hModule, pfnCreate);
    if (!pLibrary) {
        FreeLibrary(hModule);
        return WorkbookNoMemory;
    }
    ppLibrary->reset(pLibrary);
    return WorkbookOk;
}
