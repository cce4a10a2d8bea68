// The rule of a placeholder, written plainly over std::string: the reference
// that the merge is checked against by the unit tests and the fuzz target.
#ifndef LETTERCAST_MERGE_REFERENCE_H
#define LETTERCAST_MERGE_REFERENCE_H

#include <stddef.h>

#include <string>

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

#endif
