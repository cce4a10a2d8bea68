// The workbook's XML read through libxml2's streaming reader, for the
// native fuzz build and native test runs: the same nodes as XmlLite gives on
// Windows. No DTD is loaded or accepted, no entity substituted, nothing
// fetched from the network.
#include "mailing/workbook_xml.h"

#include <libxml/parser.h>
#include <libxml/xmlreader.h>

#include "mailing/workbook_reader.h"

namespace {

class NativeXmlReader : public WorkbookXmlReader {
public:
    explicit NativeXmlReader(WorkbookByteSource* pSource) : m_pSource(pSource), m_pReader(NULL) {}
    ~NativeXmlReader() override
    {
        if (m_pReader)
            xmlFreeTextReader(m_pReader);
    }

    bool Start()
    {
        m_pReader = xmlReaderForIO(ReadSource, NULL, this, NULL, NULL,
                                   XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
        return m_pReader != NULL;
    }

private:
    int ReadNode() override;
    static int ReadSource(void* pContext, char* pBuffer, int cbMax);

    WorkbookByteSource* m_pSource;
    xmlTextReaderPtr m_pReader;
};

int NativeXmlReader::ReadSource(void* pContext, char* pBuffer, int cbMax)
{
    NativeXmlReader* pThis = (NativeXmlReader*)pContext;
    size_t cbRead = 0;
    if (cbMax < 0 || !pThis->m_pSource->Read(pBuffer, (size_t)cbMax, &cbRead))
        return -1;
    return (int)cbRead;
}

static const char* Utf8(const xmlChar* psz)
{
    return psz ? (const char*)psz : "";
}

int NativeXmlReader::ReadNode()
{
    for (;;) {
        int nRead = xmlTextReaderRead(m_pReader);
        if (nRead == 0)
            return WorkbookXmlDone;
        if (nRead < 0)
            return WorkbookXmlError;
        switch (xmlTextReaderNodeType(m_pReader)) {
        case XML_READER_TYPE_ELEMENT:
            m_name = Utf8(xmlTextReaderConstLocalName(m_pReader));
            m_bPendingEnd = xmlTextReaderIsEmptyElement(m_pReader) == 1;
            ClearAttributes();
            while (xmlTextReaderMoveToNextAttribute(m_pReader) == 1) {
                if (xmlTextReaderIsNamespaceDecl(m_pReader) == 1)
                    continue;
                std::pair<std::string, std::string>* pAttribute = AddAttribute();
                pAttribute->first = Utf8(xmlTextReaderConstLocalName(m_pReader));
                pAttribute->second = Utf8(xmlTextReaderConstValue(m_pReader));
            }
            xmlTextReaderMoveToElement(m_pReader);
            return WorkbookXmlStart;
        case XML_READER_TYPE_END_ELEMENT:
            m_name = Utf8(xmlTextReaderConstLocalName(m_pReader));
            return WorkbookXmlEnd;
        case XML_READER_TYPE_TEXT:
        case XML_READER_TYPE_CDATA:
        case XML_READER_TYPE_WHITESPACE:
        case XML_READER_TYPE_SIGNIFICANT_WHITESPACE:
            m_text = Utf8(xmlTextReaderConstValue(m_pReader));
            return WorkbookXmlText;
        case XML_READER_TYPE_DOCUMENT_TYPE:
        case XML_READER_TYPE_ENTITY_REFERENCE:
        case XML_READER_TYPE_ENTITY:
            // As XmlLite with DTDs prohibited: no part of a workbook has one.
            return WorkbookXmlError;
        default:
            break;   // comments, processing instructions
        }
    }
}

class NativeXmlLibrary : public WorkbookXmlLibrary {
public:
    NativeXmlLibrary() { xmlInitParser(); }
    std::unique_ptr<WorkbookXmlReader> Read(WorkbookByteSource* pSource) override
    {
        std::unique_ptr<NativeXmlReader> pReader(new NativeXmlReader(pSource));
        if (!pReader->Start())
            return NULL;
        return std::unique_ptr<WorkbookXmlReader>(pReader.release());
    }
};

}  // namespace

int LoadWorkbookXmlLibrary(std::unique_ptr<WorkbookXmlLibrary>* ppLibrary)
{
    ppLibrary->reset(new NativeXmlLibrary);
    return WorkbookOk;
}
