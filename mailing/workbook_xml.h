// The XML of a workbook's parts, read as a stream of nodes: an element's
// start with its local name and attributes, its end, the text between. The
// bytes come from a WorkbookByteSource (a zip entry inflated as it is read),
// so a part is never held whole. mailing/workbook_xml_win.cpp reads through
// Windows' XmlLite, loaded at run time; fuzz/workbook_xml_native.cpp through
// libxml2's reader for the native fuzz build. Neither reads a DTD, so no
// entity is ever expanded.
#ifndef LETTERCAST_WORKBOOK_XML_H
#define LETTERCAST_WORKBOOK_XML_H

#include <stddef.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

// Where a part's bytes come from.
class WorkbookByteSource {
public:
    virtual ~WorkbookByteSource() {}
    // Up to cbMax bytes into pBuffer, *pcbRead of them: fewer only at the
    // end, 0 once the end is reached. False when the bytes cannot be had
    // (the source keeps why).
    virtual bool Read(void* pBuffer, size_t cbMax, size_t* pcbRead) = 0;
};

enum {
    WorkbookXmlStart = 0,   // an element's start: Name(), Attribute()
    WorkbookXmlEnd = 1,     // an element's end: Name(); an empty element has one too
    WorkbookXmlText = 2,    // character data, CDATA and white space: Text()
    WorkbookXmlDone = 3,    // the document ended well-formed
    WorkbookXmlError = 4,   // not well-formed, a DTD, or the source failed
};

// One part's nodes in document order. The names and texts are UTF-8 and
// stay valid until the next call of Next.
class WorkbookXmlReader {
public:
    virtual ~WorkbookXmlReader() {}
    WorkbookXmlReader(const WorkbookXmlReader&) = delete;
    WorkbookXmlReader& operator=(const WorkbookXmlReader&) = delete;

    // The next node, a WorkbookXmlXxx; after Done or Error always the same.
    int Next();

    // The element's local name, without its prefix.
    const std::string& Name() const { return m_name; }
    // The start's attribute of that local name (whatever its namespace:
    // "r:id" is "id"), NULL when it has none. Namespace declarations are
    // not attributes here.
    const std::string* Attribute(const char* pszLocalName) const;
    const std::string& Text() const { return m_text; }

protected:
    WorkbookXmlReader() : m_bPendingEnd(false), m_nState(WorkbookXmlStart), m_nAttributes(0) {}

    // The library's next node: Start (with m_bPendingEnd set when the
    // element is empty, its End then given by Next), End, Text, Done or Error.
    virtual int ReadNode() = 0;

    // For the implementations: the start's attributes are set anew for each
    // element, keeping the strings' room for the next one.
    void ClearAttributes() { m_nAttributes = 0; }
    std::pair<std::string, std::string>* AddAttribute();

    std::string m_name;
    std::string m_text;
    bool m_bPendingEnd;   // an empty element's end is to come

private:
    int m_nState;         // Done or Error once the reading ended
    std::vector<std::pair<std::string, std::string>> m_attributes;   // local name, value
    size_t m_nAttributes;
};

inline int WorkbookXmlReader::Next()
{
    if (m_nState == WorkbookXmlDone || m_nState == WorkbookXmlError)
        return m_nState;
    if (m_bPendingEnd) {
        m_bPendingEnd = false;
        return WorkbookXmlEnd;
    }
    int nNode = ReadNode();
    if (nNode == WorkbookXmlDone || nNode == WorkbookXmlError)
        m_nState = nNode;
    return nNode;
}

inline const std::string* WorkbookXmlReader::Attribute(const char* pszLocalName) const
{
    for (size_t i = 0; i < m_nAttributes; ++i) {
        if (m_attributes[i].first == pszLocalName)
            return &m_attributes[i].second;
    }
    return NULL;
}

inline std::pair<std::string, std::string>* WorkbookXmlReader::AddAttribute()
{
    if (m_nAttributes == m_attributes.size())
        m_attributes.emplace_back();
    return &m_attributes[m_nAttributes++];
}

// The XML library, loaded once for a workbook and kept while it is read.
class WorkbookXmlLibrary {
public:
    virtual ~WorkbookXmlLibrary() {}
    // A reader of pSource's bytes, which must outlive it; NULL when memory
    // ran out.
    virtual std::unique_ptr<WorkbookXmlReader> Read(WorkbookByteSource* pSource) = 0;
};

// Loads the XML library: WorkbookOk with *ppLibrary set, or
// WorkbookNoXmlReader on a system without it.
int LoadWorkbookXmlLibrary(std::unique_ptr<WorkbookXmlLibrary>* ppLibrary);

#endif
