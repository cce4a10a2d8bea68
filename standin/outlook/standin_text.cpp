#include "standin/outlook/standin_text.h"

#include <limits.h>
#include <wchar.h>

#include "mailing/html_text.h"

std::wstring CodePageToWide(UINT nCodePage, const char* pch, size_t cb)
{
    std::wstring result;
    if (cb == 0 || cb > INT_MAX)
        return result;
    int cch = MultiByteToWideChar(nCodePage, 0, pch, (int)cb, NULL, 0);
    if (cch <= 0)
        return result;
    result.resize(cch);
    MultiByteToWideChar(nCodePage, 0, pch, (int)cb, &result[0], cch);
    return result;
}

std::string WideToCodePage(UINT nCodePage, const wchar_t* pch, size_t cch)
{
    std::string result;
    if (cch == 0 || cch > INT_MAX)
        return result;
    int cb = WideCharToMultiByte(nCodePage, 0, pch, (int)cch, NULL, 0, NULL, NULL);
    if (cb <= 0)
        return result;
    result.resize(cb);
    WideCharToMultiByte(nCodePage, 0, pch, (int)cch, &result[0], cb, NULL, NULL);
    return result;
}

namespace {

bool IsHtmlSpace(wchar_t ch)
{
    return ch == L' ' || ch == L'\t' || ch == L'\r' || ch == L'\n' || ch == L'\f';
}

// The element name of a tag's text (between '<' and '>'), in lower case,
// without the '/' of an end tag.
std::wstring TagName(const std::wstring& tag, bool* pbEnd)
{
    size_t i = 0;
    *pbEnd = i < tag.size() && tag[i] == L'/';
    if (*pbEnd)
        ++i;
    std::wstring name;
    while (i < tag.size() && (iswalnum(tag[i]) != 0)) {
        name += (wchar_t)towlower(tag[i]);
        ++i;
    }
    return name;
}

bool BreaksLine(const std::wstring& name)
{
    static const wchar_t* const kNames[] = { L"br", L"p", L"div", L"li", L"tr", L"h1", L"h2", L"h3",
                                             L"h4", L"h5", L"h6", L"ul", L"ol", L"table", L"blockquote" };
    for (const wchar_t* pszName : kNames) {
        if (name == pszName)
            return true;
    }
    return false;
}

// The character reference at text[i] ('&'), read as HTML reads it (the one
// table of mailing/html_text.h), appended to *pText; false when none begins
// there, and the '&' then stands as it is.
bool AppendReference(const std::wstring& text, size_t i, std::wstring* pText, size_t* pcchUsed)
{
    // Every reference is ASCII, and none is longer than this.
    char szWindow[48];
    size_t cch = 0;
    while (cch + 1 < sizeof(szWindow) && i + cch < text.size() && text[i + cch] < 0x80) {
        szWindow[cch] = (char)text[i + cch];
        ++cch;
    }
    unsigned uFirst = 0, uSecond = 0;
    *pcchUsed = ReadHtmlReference(szWindow, cch, &uFirst, &uSecond);
    if (*pcchUsed == 0)
        return false;
    for (unsigned uChar : { uFirst, uSecond }) {
        if (uChar == 0)
            continue;
        if (uChar >= 0x10000) {
            *pText += (wchar_t)(0xD800 + ((uChar - 0x10000) >> 10));
            *pText += (wchar_t)(0xDC00 + ((uChar - 0x10000) & 0x3FF));
        } else {
            *pText += (wchar_t)uChar;
        }
    }
    return true;
}

}  // namespace

std::wstring HtmlToPlainText(const std::wstring& html)
{
    std::wstring text;
    bool bSpacePending = false;
    std::wstring skipUntil;   // the end tag of a script or style element
    size_t i = 0;
    while (i < html.size()) {
        wchar_t ch = html[i];
        if (ch == L'<') {
            size_t nClose = html.find(L'>', i);
            if (nClose == std::wstring::npos)
                break;
            bool bEnd = false;
            std::wstring name = TagName(html.substr(i + 1, nClose - i - 1), &bEnd);
            i = nClose + 1;
            if (!skipUntil.empty()) {
                if (bEnd && name == skipUntil)
                    skipUntil.clear();
                continue;
            }
            if (!bEnd && (name == L"script" || name == L"style" || name == L"head" || name == L"title")) {
                skipUntil = name;
                continue;
            }
            if (BreaksLine(name) && !text.empty() && text.back() != L'\n') {
                text += L"\r\n";
                bSpacePending = false;
            } else if (name == L"br") {
                text += L"\r\n";
                bSpacePending = false;
            }
            continue;
        }
        ++i;
        if (!skipUntil.empty())
            continue;
        if (IsHtmlSpace(ch)) {
            bSpacePending = !text.empty() && text.back() != L'\n';
            continue;
        }
        if (bSpacePending)
            text += L' ';
        bSpacePending = false;
        size_t cchUsed = 0;
        if (ch == L'&' && AppendReference(html, i - 1, &text, &cchUsed)) {
            i += cchUsed - 1;
            continue;
        }
        text += ch;
    }
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    return text;
}
