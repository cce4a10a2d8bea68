#include "standin/outlook/standin_text.h"

#include <limits.h>
#include <wchar.h>

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

// One character reference at text[i] ('&'); false when it is not one we know,
// and the '&' then stands as it is.
bool DecodeReference(const std::wstring& text, size_t i, wchar_t* pch, size_t* pcchUsed)
{
    size_t nEnd = text.find(L';', i);
    if (nEnd == std::wstring::npos || nEnd - i > 10)
        return false;
    std::wstring name = text.substr(i + 1, nEnd - i - 1);
    *pcchUsed = nEnd - i + 1;
    static const struct {
        const wchar_t* pszName;
        wchar_t ch;
    } kNamed[] = { { L"amp", L'&' }, { L"lt", L'<' }, { L"gt", L'>' }, { L"quot", L'"' }, { L"apos", L'\'' },
                   { L"nbsp", 0x00A0 } };
    for (const auto& entry : kNamed) {
        if (name == entry.pszName) {
            *pch = entry.ch;
            return true;
        }
    }
    if (name.size() < 2 || name[0] != L'#')
        return false;
    bool bHex = name[1] == L'x' || name[1] == L'X';
    unsigned long nValue = 0;
    size_t nDigits = 0;
    for (size_t k = bHex ? 2 : 1; k < name.size(); ++k, ++nDigits) {
        wchar_t c = name[k];
        int nDigit = (c >= L'0' && c <= L'9') ? c - L'0'
                     : bHex && c >= L'a' && c <= L'f' ? c - L'a' + 10
                     : bHex && c >= L'A' && c <= L'F' ? c - L'A' + 10
                                                     : -1;
        if (nDigit < 0 || nValue > 0xFFFF)
            return false;
        nValue = nValue * (bHex ? 16 : 10) + (unsigned long)nDigit;
    }
    if (nDigits == 0 || nValue == 0 || nValue > 0xFFFF)
        return false;
    *pch = (wchar_t)nValue;
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
        if (ch == L'&') {
            size_t cchUsed = 0;
            wchar_t decoded = 0;
            if (DecodeReference(html, i - 1, &decoded, &cchUsed)) {
                ch = decoded;
                i += cchUsed - 1;
            }
        }
        if (bSpacePending)
            text += L' ';
        bSpacePending = false;
        text += ch;
    }
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    return text;
}
