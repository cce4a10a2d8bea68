#include "standin/outlook/standin_text.h"

#include <limits.h>

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
