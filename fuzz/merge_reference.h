// The rule of a placeholder, written plainly over std::string: the reference
// that the merge is checked against by the unit tests and the fuzz target.
#ifndef LETTERCAST_MERGE_REFERENCE_H
#define LETTERCAST_MERGE_REFERENCE_H

#include <stddef.h>

#include <ctype.h>
#include <string.h>

#include <algorithm>
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

// ---- Fallbacks and conditions ---------------------------------------------

const size_t knReferenceNone = std::string::npos;

// The tags at nAt passed over: each '<' to its '>', none reaching "]]" or the
// end; npos when one does.
REFERENCE_CODE inline size_t ReferencePastTags(const std::string& text, size_t nAt)
{
    while (nAt != knReferenceNone && nAt < text.size() && text[nAt] == '<') {
        size_t n = nAt + 1;
        for (;; ++n) {
            if (n >= text.size() || text.compare(n, 2, "]]") == 0) {
                if (n < text.size() && text[n] == '>')
                    break;
                return knReferenceNone;
            }
            if (text[n] == '>')
                break;
        }
        nAt = n + 1;
    }
    return nAt;
}

// After a name ending before nAt: "]]", or '|' and a fallback up to the
// first "]]". The placeholder's end, and where the fallback begins (0: none).
REFERENCE_CODE inline size_t ReferencePlaceholderEnd(const std::string& text, size_t nAt, size_t* pnFallback)
{
    *pnFallback = 0;
    if (text.compare(nAt, 2, "]]") == 0)
        return nAt + 2;
    if (nAt >= text.size() || text[nAt] != '|')
        return 0;
    size_t nClose = text.find("]]", nAt + 1);
    if (nClose == knReferenceNone)
        return 0;
    *pnFallback = nAt + 1;
    return nClose + 2;
}

// The end of name's placeholder whose name begins at nName: as it stands, or
// with tags before each of its characters and after the last; 0 for none.
REFERENCE_CODE inline size_t ReferencePlaceholderAt(const std::string& text, size_t nName, const std::string& name,
                                                    size_t* pnFallback)
{
    if (MatchesAt(text, nName, name)) {
        size_t nEnd = ReferencePlaceholderEnd(text, nName + name.size(), pnFallback);
        if (nEnd > 0)
            return nEnd;
    }
    size_t n = nName;
    for (size_t j = 0;; ++j) {
        n = ReferencePastTags(text, n);
        if (n == knReferenceNone)
            return 0;
        if (j == name.size())
            break;
        if (n >= text.size() || text.compare(n, 2, "]]") == 0 ||
            ReferenceFoldCase(text[n]) != ReferenceFoldCase(name[j]))
            return 0;
        ++n;
    }
    return ReferencePlaceholderEnd(text, n, pnFallback);
}

// The leftmost column whose placeholder's name begins at nName, or npos.
REFERENCE_CODE inline size_t ReferenceColumnAt(const std::string& text, size_t nName,
                                               const std::vector<std::string>& names, size_t* pnEnd,
                                               size_t* pnFallback)
{
    for (size_t i = 0; i < names.size(); ++i) {
        *pnEnd = ReferencePlaceholderAt(text, nName, names[i], pnFallback);
        if (*pnEnd > 0)
            return i;
    }
    return knReferenceNone;
}

REFERENCE_CODE inline size_t ReferenceAfterKeyword(const std::string& text, size_t n, const char* pszKeyword)
{
    for (; n != knReferenceNone && *pszKeyword; ++pszKeyword) {
        n = ReferencePastTags(text, n);
        if (n == knReferenceNone || n >= text.size() || ReferenceFoldCase(text[n]) != *pszKeyword)
            return knReferenceNone;
        ++n;
    }
    return n == knReferenceNone ? n : ReferencePastTags(text, n);
}

REFERENCE_CODE inline size_t ReferenceAfterBlank(const std::string& text, size_t n)
{
    if (n == knReferenceNone || n >= text.size())
        return knReferenceNone;
    if (text[n] == ' ')
        return ReferencePastTags(text, n + 1);
    if (text.compare(n, 6, "&nbsp;") == 0)
        return ReferencePastTags(text, n + 6);
    return knReferenceNone;
}

REFERENCE_CODE inline bool ReferenceAtClose(const std::string& text, size_t n)
{
    return n != knReferenceNone && text.compare(n, 2, "]]") == 0;
}

enum { RefNone, RefIf, RefIfNot, RefElse, RefEndIf };

// The marker at nAt ("[["): its kind, end and, for an IF, its column (npos:
// names none).
REFERENCE_CODE inline int ReferenceMarkerAt(const std::string& text, size_t nAt, const std::vector<std::string>& names,
                                            size_t* pnEnd, size_t* pnColumn)
{
    *pnColumn = knReferenceNone;
    size_t n = ReferenceAfterKeyword(text, nAt + 2, "ELSE");
    if (ReferenceAtClose(text, n)) {
        *pnEnd = n + 2;
        return RefElse;
    }
    n = ReferenceAfterKeyword(text, ReferenceAfterBlank(text, ReferenceAfterKeyword(text, nAt + 2, "END")), "IF");
    if (ReferenceAtClose(text, n)) {
        *pnEnd = n + 2;
        return RefEndIf;
    }
    size_t nIf = ReferenceAfterKeyword(text, nAt + 2, "IF");
    if (ReferenceAtClose(text, nIf)) {
        *pnEnd = nIf + 2;
        return RefIf;
    }
    size_t nName = ReferenceAfterBlank(text, nIf);
    if (nName == knReferenceNone)
        return RefNone;
    size_t nFallback = 0;
    size_t nColumn = ReferenceColumnAt(text, nName, names, pnEnd, &nFallback);
    if (nColumn != knReferenceNone && nFallback == 0) {
        *pnColumn = nColumn;
        return RefIf;
    }
    size_t nNot = ReferenceAfterBlank(text, ReferenceAfterKeyword(text, nName, "NOT"));
    if (nNot != knReferenceNone) {
        nColumn = ReferenceColumnAt(text, nNot, names, pnEnd, &nFallback);
        if (nColumn != knReferenceNone && nFallback == 0) {
            *pnColumn = nColumn;
            return RefIfNot;
        }
    }
    size_t nClose = text.find("]]", nName);
    if (nClose == knReferenceNone)
        return RefNone;
    *pnEnd = nClose + 2;
    return nNot != knReferenceNone ? RefIfNot : RefIf;
}

struct ReferenceTag {
    size_t nAt, nEnd;
    std::string name;   // lower-cased
    bool bClosing, bSelfContained;
};

// The tag at nAt ('<') ending before nLimit, as the merge reads one.
REFERENCE_CODE inline bool ReferenceTagAt(const std::string& text, size_t nAt, size_t nLimit, ReferenceTag* pTag)
{
    nLimit = nLimit < text.size() ? nLimit : text.size();
    size_t n = nAt + 1;
    pTag->nAt = nAt;
    pTag->bClosing = n < nLimit && text[n] == '/';
    if (pTag->bClosing)
        ++n;
    if (n >= nLimit)
        return false;
    bool bLetter = (text[n] >= 'a' && text[n] <= 'z') || (text[n] >= 'A' && text[n] <= 'Z');
    bool bOther = !pTag->bClosing && (text[n] == '!' || text[n] == '?');
    if (!bLetter && !bOther)
        return false;
    pTag->name.clear();
    for (; n < nLimit && (isalnum((unsigned char)text[n]) || strchr(":-_.", text[n]) != NULL) && text[n] != '\0'; ++n)
        pTag->name += (char)(text[n] | 0x20);
    size_t nClose = text.find('>', n);
    if (nClose == knReferenceNone || nClose >= nLimit)
        return false;
    if (text.substr(n, nClose - n).find_first_of(std::string("[<\0", 3)) != knReferenceNone)
        return false;
    pTag->nEnd = nClose + 1;
    static const char* const kVoid[] = { "area", "base", "br", "col", "embed", "hr", "img", "input",
                                         "link", "meta", "param", "source", "track", "wbr" };
    pTag->bSelfContained = bOther || (!pTag->bClosing && text[nClose - 1] == '/');
    for (const char* pszVoid : kVoid)
        pTag->bSelfContained = pTag->bSelfContained || pTag->name == pszVoid;
    return true;
}

REFERENCE_CODE inline bool ReferenceHtmlSpace(char ch)
{
    return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n' || ch == '\f';
}

// A marker alone on its line takes its blanks and line break (plain); alone
// in elements, those elements (HTML); never before nFloor.
REFERENCE_CODE inline void ReferenceTakeAlong(const std::string& text, bool bHtml, size_t nFloor, size_t* pnAt,
                                              size_t* pnEnd)
{
    if (!bHtml) {
        size_t nAt = *pnAt, nEnd = *pnEnd;
        while (nAt > nFloor && (text[nAt - 1] == ' ' || text[nAt - 1] == '\t'))
            --nAt;
        if (nAt > 0 && text[nAt - 1] != '\n' && text[nAt - 1] != '\r')
            return;
        while (nEnd < text.size() && (text[nEnd] == ' ' || text[nEnd] == '\t'))
            ++nEnd;
        if (text.compare(nEnd, 2, "\r\n") == 0)
            nEnd += 2;
        else if (nEnd < text.size() && (text[nEnd] == '\r' || text[nEnd] == '\n'))
            ++nEnd;
        else if (nEnd < text.size())
            return;
        *pnAt = nAt;
        *pnEnd = nEnd;
        return;
    }
    for (;;) {
        size_t nAt = *pnAt;
        while (nAt > nFloor && ReferenceHtmlSpace(text[nAt - 1]))
            --nAt;
        if (nAt == nFloor || text[nAt - 1] != '>')
            return;
        size_t nOpen = text.rfind('<', nAt - 1);
        ReferenceTag open, close, empty, emptyEnd;
        if (nOpen == knReferenceNone || nOpen < nFloor || !ReferenceTagAt(text, nOpen, nAt, &open) ||
            open.nEnd != nAt || open.bClosing || open.bSelfContained)
            return;
        size_t n = *pnEnd;
        for (;;) {
            while (n < text.size() && ReferenceHtmlSpace(text[n]))
                ++n;
            if (n < text.size() && text[n] == '<' && ReferenceTagAt(text, n, text.size(), &empty) &&
                !empty.bClosing && !empty.bSelfContained && empty.nEnd < text.size() && text[empty.nEnd] == '<' &&
                ReferenceTagAt(text, empty.nEnd, text.size(), &emptyEnd) && emptyEnd.bClosing &&
                emptyEnd.name == empty.name) {
                n = emptyEnd.nEnd;
                continue;
            }
            break;
        }
        if (n >= text.size() || text[n] != '<' || !ReferenceTagAt(text, n, text.size(), &close) || !close.bClosing ||
            close.name != open.name)
            return;
        *pnAt = nOpen;
        *pnEnd = close.nEnd;
    }
}

// What stays of a dropped piece: nothing of plain text; in HTML the tags
// that end an element begun before it or begin one ending after it.
REFERENCE_CODE inline std::string ReferenceDropped(const std::string& text, bool bHtml, size_t nAt, size_t nEnd)
{
    if (!bHtml)
        return std::string();
    std::vector<ReferenceTag> tags;
    std::vector<bool> kept;
    std::vector<size_t> open;
    for (size_t n = nAt; n < nEnd; ++n) {
        ReferenceTag tag;
        if (text[n] != '<' || !ReferenceTagAt(text, n, nEnd, &tag))
            continue;
        n = tag.nEnd - 1;
        if (tag.bSelfContained)
            continue;
        tags.push_back(tag);
        kept.push_back(false);
        if (!tag.bClosing) {
            open.push_back(tags.size() - 1);
            continue;
        }
        size_t nMatch = open.size();
        while (nMatch > 0 && tags[open[nMatch - 1]].name != tag.name)
            --nMatch;
        if (nMatch == 0)
            kept.back() = true;
        else
            open.resize(nMatch - 1);
    }
    for (size_t i : open)
        kept[i] = true;
    std::string out;
    for (size_t i = 0; i < tags.size(); ++i)
        if (kept[i])
            out += text.substr(tags[i].nAt, tags[i].nEnd - tags[i].nAt);
    return out;
}

struct ReferenceToken {
    size_t nAt, nEnd;
    int nKind;            // RefNone for a placeholder
    size_t nColumn;       // npos: an IF naming no field
    size_t nFallback;     // 0: none
    long nIf, nElse, nEndIf;
};

struct ReferencePass {
    std::string text;     // the merged text
    long long nSize;      // what the sizing call must report
    long long nPeak;      // the longest the text becomes, replacing left to right
    std::vector<size_t> empty;   // columns of kept placeholders without fallback and with a blank value
};

REFERENCE_CODE inline bool ReferenceBlank(const std::string& value)
{
    return value.find_first_not_of(" \t\r\n") == std::string::npos;
}

// The whole merge, written plainly: tokens from the left (a placeholder of
// the leftmost column that fits, else a marker, else one character), markers
// paired, then the text written out with each block kept or dropped.
REFERENCE_CODE inline ReferencePass ReferenceMergePass(const std::string& original,
                                                       const std::vector<std::string>& names,
                                                       const std::vector<std::string>& values, bool bHtml)
{
    std::vector<ReferenceToken> tokens;
    size_t nFloor = 0;
    for (size_t nAt = 0; nAt < original.size();) {
        if (original.compare(nAt, 2, "[[") != 0) {
            ++nAt;
            continue;
        }
        size_t nEnd = 0, nFallback = 0, nColumn = ReferenceColumnAt(original, nAt + 2, names, &nEnd, &nFallback);
        if (nColumn != knReferenceNone) {
            tokens.push_back({ nAt, nEnd, RefNone, nColumn, nFallback, -1, -1, -1 });
            nAt = nFloor = nEnd;
            continue;
        }
        int nKind = ReferenceMarkerAt(original, nAt, names, &nEnd, &nColumn);
        if (nKind == RefNone) {
            ++nAt;
            continue;
        }
        size_t nFrom = nAt;
        ReferenceTakeAlong(original, bHtml, nFloor, &nFrom, &nEnd);
        tokens.push_back({ nFrom, nEnd, nKind, nColumn, 0, -1, -1, -1 });
        nAt = nFloor = nEnd;
    }
    std::vector<long> open;
    for (size_t i = 0; i < tokens.size(); ++i) {
        ReferenceToken& token = tokens[i];
        if (token.nKind == RefIf || token.nKind == RefIfNot) {
            open.push_back((long)i);
        } else if (token.nKind == RefElse && !open.empty() && tokens[open.back()].nElse < 0) {
            token.nIf = open.back();
            tokens[open.back()].nElse = (long)i;
        } else if (token.nKind == RefEndIf && !open.empty()) {
            token.nIf = open.back();
            tokens[open.back()].nEndIf = (long)i;
            open.pop_back();
        }
    }
    for (long nIf : open) {
        if (tokens[nIf].nElse >= 0)
            tokens[tokens[nIf].nElse].nIf = -1;
        tokens[nIf].nElse = -1;
    }

    auto value = [&values](size_t nColumn) { return nColumn < values.size() ? values[nColumn] : std::string(); };
    ReferencePass pass = { std::string(), (long long)original.size() + 1, (long long)original.size(), {} };
    size_t nRead = 0;
    auto drop = [&](size_t nAt, size_t nEnd) {
        pass.text += original.substr(nRead, nAt - nRead) + ReferenceDropped(original, bHtml, nAt, nEnd);
        nRead = nEnd;
    };
    for (size_t i = 0; i < tokens.size();) {
        const ReferenceToken& token = tokens[i];
        if (token.nKind == RefNone) {
            std::string with = value(token.nColumn);
            if (ReferenceBlank(with) && token.nFallback > 0)
                with = original.substr(token.nFallback, token.nEnd - 2 - token.nFallback);
            else if (ReferenceBlank(with))
                pass.empty.push_back(token.nColumn);
            pass.text += original.substr(nRead, token.nAt - nRead) + with;
            nRead = token.nEnd;
            pass.nPeak = std::max(pass.nPeak, (long long)(pass.text.size() + original.size() - nRead));
            if (with.size() > token.nEnd - token.nAt)
                pass.nSize += (long long)(with.size() - (token.nEnd - token.nAt));
            ++i;
            continue;
        }
        bool bIf = token.nKind == RefIf || token.nKind == RefIfNot;
        long nIf = bIf ? (long)i : token.nIf;
        if (nIf < 0 || tokens[nIf].nColumn == knReferenceNone || tokens[nIf].nEndIf < 0) {
            ++i;
            continue;
        }
        const ReferenceToken& block = tokens[nIf];
        if (bIf) {
            bool bTrue = !ReferenceBlank(value(block.nColumn)) != (block.nKind == RefIfNot);
            long nTo = bTrue ? (long)i : (block.nElse >= 0 ? block.nElse : block.nEndIf);
            drop(token.nAt, tokens[nTo].nEnd);
            i = (size_t)nTo + 1;
        } else if (token.nKind == RefElse) {
            drop(token.nAt, tokens[block.nEndIf].nEnd);
            i = (size_t)block.nEndIf + 1;
        } else {
            drop(token.nAt, token.nEnd);
            ++i;
        }
    }
    pass.text += original.substr(nRead);
    if (pass.nSize < 10)
        pass.nSize = 10;
    return pass;
}

#endif
