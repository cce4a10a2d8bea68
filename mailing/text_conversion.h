// Texts carried between the code pages the add-in meets: the ANSI code page
// of the system, UTF-8 (the job's working text and the list's) and the UTF-16
// of COM and MAPI. Every such conversion lives here, once. Windows only: the
// native fuzz build has its own ANSI stand-ins (fuzz/native_shim.cpp).
#ifndef LETTERCAST_TEXT_CONVERSION_H
#define LETTERCAST_TEXT_CONVERSION_H

#include <windows.h>
#include <oleauto.h>

// Narrows a wide text into the ANSI code page, cut to the buffer; NULL gives "".
void WideToAnsi(const wchar_t* pszWide, char* pszOut, int cchOut);
// The whole wide text (up to its first zero) narrowed into a heap text for
// free(); NULL when the conversion or the allocation fails.
char* WideToAnsiHeap(const wchar_t* pszWide);
// An ANSI text widened into a fresh BSTR; NULL when out of memory.
BSTR AnsiToBstr(const char* pszAnsi);
// The same in a given code page (CP_UTF8 for the job's working text).
char* WideToCodePageHeap(const wchar_t* pszWide, UINT uCodePage);
BSTR CodePageToBstr(const char* pszText, UINT uCodePage);
// ANSI text as UTF-8 in a new block (free); NULL out of memory.
char* AnsiToUtf8Heap(const char* pszAnsi);
// UTF-8 text made ANSI in place (never longer); what the code page cannot
// hold becomes its default character.
void Utf8ToAnsiInPlace(char* pszText);

// The list reader's conversion of cb bytes of ANSI text (AnsiToUtf8) is
// declared in mailing/list_reader.h, which the native build reads too; it is
// defined with these.

#endif
