// Conversions between the narrow texts of MAPI (system ANSI code page) and
// the wide texts of the object model.
#ifndef LETTERCAST_STANDIN_TEXT_H
#define LETTERCAST_STANDIN_TEXT_H

#include <windows.h>

#include <string>

std::wstring CodePageToWide(UINT nCodePage, const char* pch, size_t cb);
std::string WideToCodePage(UINT nCodePage, const wchar_t* pch, size_t cch);

inline std::wstring AnsiToWideText(const std::string& text)
{
    return CodePageToWide(CP_ACP, text.data(), text.size());
}
inline std::string WideToAnsiText(const std::wstring& text)
{
    return WideToCodePage(CP_ACP, text.data(), text.size());
}
inline std::string WideToUtf8Text(const std::wstring& text)
{
    return WideToCodePage(CP_UTF8, text.data(), text.size());
}

// The text a reader of the page sees: tags dropped (with what script and
// style elements hold), line breaks for <br>, paragraphs, divisions, list
// items, table rows and headings, white space of the source collapsed, and
// every character reference that HTML defines read (every named one, and
// numeric ones to U+10FFFF), as Outlook's conversion reads them. Enough to
// stand for the plain body that Outlook derives from HTML; no attempt at its
// layout.
std::wstring HtmlToPlainText(const std::wstring& html);

#endif
