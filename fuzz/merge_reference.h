// The rule of a placeholder, written plainly over std::string: the reference
// that the merge is checked against by the unit tests and the fuzz target.
#ifndef LETTERCAST_MERGE_REFERENCE_H
#define LETTERCAST_MERGE_REFERENCE_H

#include <stddef.h>

#include <string>
#include <vector>

// The fuzz target keeps its reference out of the coverage guidance.
#ifndef REFERENCE_CODE
#define REFERENCE_CODE
#endif

// Only the letters a to z have another case; every other byte is itself.
REFERENCE_CODE inline char ReferenceFoldCase(char ch)
{
    return (ch >= 'a' && ch <= 'z') ? (char)(ch - 'a' + 'A') : ch;
}

REFERENCE_CODE inline bool MatchesAt(const std::string& text, size_t nAt, const std::string& pattern)
{
    if (nAt + pattern.size() > text.size())
        return false;
    for (size_t j = 0; j < pattern.size(); ++j)
        if (ReferenceFoldCase(text[nAt + j]) != ReferenceFoldCase(pattern[j]))
            return false;
    return true;
}

// A placeholder split by tags: the text from "[[" to the first "]]" after
// it, every tag "<...>" taken out, is the name.
REFERENCE_CODE inline size_t SplitPlaceholderLength(const std::string& text, size_t nAt, const std::string& name)
{
    if (text.compare(nAt, 2, "[[") != 0)
        return 0;
    size_t nClose = text.find("]]", nAt + 2);
    if (nClose == std::string::npos)
        return 0;
    std::string inner = text.substr(nAt + 2, nClose - nAt - 2), bare;
    for (size_t i = 0; i < inner.size(); ++i) {
        if (inner[i] != '<') {
            bare += inner[i];
            continue;
        }
        size_t nEnd = inner.find('>', i);
        if (nEnd == std::string::npos)
            return 0;
        i = nEnd;
    }
    if (bare.size() != name.size())
        return 0;
    for (size_t j = 0; j < bare.size(); ++j)
        if (ReferenceFoldCase(bare[j]) != ReferenceFoldCase(name[j]))
            return 0;
    return nClose + 2 - nAt;
}

// A value as HTML text, the plain way: '&', '<' and '>' as references, and
// both quotes too where it may stand in an attribute (values; names are
// written as an editor writes text, quotes as they are).
REFERENCE_CODE inline std::string ReferenceHtmlText(const std::string& text, bool bQuotes)
{
    std::string out;
    for (char ch : text) {
        if (ch == '&')
            out += "&amp;";
        else if (ch == '<')
            out += "&lt;";
        else if (ch == '>')
            out += "&gt;";
        else if (bQuotes && ch == '"')
            out += "&quot;";
        else if (bQuotes && ch == '\'')
            out += "&#39;";
        else
            out += ch;
    }
    return out;
}

// The names and values a text of HTML is merged with: every name and value
// as HTML text, then every name after "HTML:" with its value as it stands.
REFERENCE_CODE inline void ReferenceHtmlFields(const std::vector<std::string>& names,
                                               const std::vector<std::string>& values,
                                               std::vector<std::string>* pNames, std::vector<std::string>* pValues)
{
    pNames->clear();
    pValues->clear();
    for (const std::string& name : names)
        pNames->push_back(ReferenceHtmlText(name, false));
    for (const std::string& name : names)
        pNames->push_back("HTML:" + ReferenceHtmlText(name, false));
    for (size_t i = 0; i < names.size(); ++i)
        pValues->push_back(ReferenceHtmlText(i < values.size() ? values[i] : std::string(), true));
    for (size_t i = 0; i < names.size(); ++i)
        pValues->push_back(i < values.size() ? values[i] : std::string());
}

// The characters of a UTF-8 text: the bytes that begin a sequence.
REFERENCE_CODE inline size_t ReferenceCharacters(const std::string& text)
{
    size_t n = 0;
    for (char ch : text)
        if (((unsigned char)ch & 0xC0) != 0x80)
            ++n;
    return n;
}

#endif
