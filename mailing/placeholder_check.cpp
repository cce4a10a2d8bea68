#include "mailing/placeholder_check.h"

#include <stdlib.h>
#include <string.h>

#include "mailing/html_text.h"
#include "mailing/mail_merge.h"

namespace {

#define LC_LISTED_PLACEHOLDERS 10   // the question names this many, then counts the rest

char FoldCase(char ch)
{
    return (ch >= 'a' && ch <= 'z') ? (char)(ch - 'a' + 'A') : ch;
}

bool SameNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i]))
            return false;
    }
    return true;
}

// The character reference at psz, which holds '&': its text and length, or
// false. Only the ASCII range is written back; anything else is one unknown
// sign.
bool ReadEntity(const char* psz, size_t cchLeft, std::string* pText, size_t* pcch)
{
    unsigned uFirst = 0, uSecond = 0;
    *pcch = ReadHtmlReference(psz, cchLeft, &uFirst, &uSecond);
    if (*pcch == 0)
        return false;
    *pText = uFirst == 0xA0 ? " " : (uFirst > 31 && uFirst < 127 ? std::string(1, (char)uFirst) : "?");
    if (uSecond != 0)
        *pText += uSecond > 31 && uSecond < 127 ? std::string(1, (char)uSecond) : "?";
    return true;
}

// The name between the brackets as the reader sees it.
std::string ShownName(const char* psz, size_t cch, bool bHtml)
{
    if (!bHtml)
        return std::string(psz, cch);
    std::string shown;
    for (size_t i = 0; i < cch; ++i) {
        if (psz[i] == '<') {
            const char* pszEnd = (const char*)memchr(psz + i, '>', cch - i);
            if (pszEnd != NULL) {
                i = (size_t)(pszEnd - psz);
                continue;
            }
        }
        std::string text;
        size_t cchEntity = 0;
        if (psz[i] == '&' && ReadEntity(psz + i, cch - i, &text, &cchEntity)) {
            shown += text;
            i += cchEntity - 1;
            continue;
        }
        shown += psz[i];
    }
    return shown;
}

// Adds text to *pTexts unless it holds it already, letter case aside.
void AddOnce(std::vector<std::string>* pTexts, const std::string& text)
{
    for (const std::string& listed : *pTexts) {
        if (SameNoCase(listed, text))
            return;
    }
    pTexts->push_back(text);
}

}  // namespace

void FindUnknownPlaceholders(const char* pszText, bool bHtml, const ListRecord* pHeader,
                             std::vector<std::string>* pNames)
{
    if (pszText == NULL)
        return;
    const char* psz = pszText;
    while ((psz = strstr(psz, "[[")) != NULL) {
        int nLength = 0, nColumn = -1;
        // "[[[Name]]" holds its placeholder one character further on.
        if (psz[2] == '[' || PlaceholderColumnAt(psz, pHeader, &nLength) >= 0) {
            psz += psz[2] == '[' ? 1 : nLength;
            continue;
        }
        // A marker is known; an IF is known when it names a field.
        int nMarker = MergeMarkerAt(psz, pHeader, &nColumn, &nLength);
        if (nMarker == MergeMarkerElse || nMarker == MergeMarkerEndIf ||
            (nMarker != MergeMarkerNone && nColumn >= 0)) {
            psz += nLength;
            continue;
        }
        const char* pszClose = strstr(psz + 2, "]]");
        if (pszClose == NULL)
            return;
        const char* pszOpen = strstr(psz + 2, "[[");
        if (pszOpen != NULL && pszOpen < pszClose) {
            psz = pszOpen;
            continue;
        }
        AddOnce(pNames, "[[" + ShownName(psz + 2, (size_t)(pszClose - psz - 2), bHtml) + "]]");
        psz = pszClose + 2;
    }
}

void FindBrokenBlocks(const char* pszText, bool bHtml, const ListRecord* pHeader, std::vector<std::string>* pBlocks)
{
    std::vector<MergeBlockProblem> problems;
    if (pszText == NULL || !FindBlockProblems(pszText, bHtml, pHeader, &problems))
        return;
    for (const MergeBlockProblem& problem : problems) {
        std::string marker = "[[" + ShownName(pszText + problem.nAt + 2, problem.nLength - 4, bHtml) + "]]";
        const char* pszWhy = problem.nKind == MergeBlockIfWithoutEnd   ? " has no [[END IF]]"
                             : problem.nKind == MergeBlockEndWithoutIf ? " has no [[IF]] before it"
                                                                      : " belongs to no [[IF]] block";
        AddOnce(pBlocks, marker + pszWhy + " and will be sent as it stands.");
    }
}

std::vector<std::string> PlaceholderWarnings(const std::vector<std::string>& names,
                                             const std::vector<std::string>& blocks)
{
    std::vector<std::string> warnings;
    if (!names.empty()) {
        std::string text;
        for (size_t i = 0; i < names.size() && i < LC_LISTED_PLACEHOLDERS; ++i) {
            if (i > 0)
                text += i + 1 == names.size() ? " and " : ", ";
            text += names[i];
        }
        if (names.size() > LC_LISTED_PLACEHOLDERS)
            text += " and " + std::to_string(names.size() - LC_LISTED_PLACEHOLDERS) + " more";
        if (names.size() == 1)
            warnings.push_back(text + " names no field of the mailing list and will be sent as it stands.");
        else
            warnings.push_back(text + " name no field of the mailing list and will be sent as they stand.");
    }
    for (size_t i = 0; i < blocks.size() && i < LC_LISTED_PLACEHOLDERS; ++i)
        warnings.push_back(blocks[i]);
    if (blocks.size() > LC_LISTED_PLACEHOLDERS)
        warnings.push_back("And " + std::to_string(blocks.size() - LC_LISTED_PLACEHOLDERS) +
                           " more markers make no block.");
    return warnings;
}

std::string PlaceholderQuestion(const std::vector<std::string>& names, const std::vector<std::string>& blocks)
{
    std::vector<std::string> warnings = PlaceholderWarnings(names, blocks);
    if (warnings.empty())
        return std::string();
    if (warnings.size() == 1)
        return warnings[0] + " Send anyway?";
    std::string text;
    for (const std::string& warning : warnings)
        text += warning + "\n";
    return text + "\nSend anyway?";
}
