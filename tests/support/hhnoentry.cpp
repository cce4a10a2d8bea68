// A library that loads but has no HtmlHelp entry at ordinal 14.
#include <windows.h>

extern "C" int NotHtmlHelp()
{
    return 0;
}
