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

#endif
