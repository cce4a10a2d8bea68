// HTML text as a reader of the page sees it, and list values written into
// HTML: the character references that HTML defines (one table, generated
// from HTML's own, used wherever the system reads HTML as text), and the
// fields that a text of HTML is merged with. Plain C++ over the C runtime, so
// it also builds natively.
#ifndef LETTERCAST_HTML_TEXT_H
#define LETTERCAST_HTML_TEXT_H

#include <stddef.h>

#include "mailing/list_record.h"

// "[[HTML:Name]]" inserts the value of Name into HTML as markup, unchanged.
#define LC_HTML_MARKUP_PREFIX "HTML:"

// The character reference that begins at psz, which holds '&', within cch
// bytes: its length, with the one or two characters it stands for in
// *puFirst and *puSecond (0 when one); 0 when none begins there, and the '&'
// then stands for itself. Named references as HTML lists them (the longest
// name that fits, those HTML reads without ';' included), and numeric ones in
// decimal or hexadecimal, the ';' optional, as HTML reads them: 0, surrogates
// and numbers beyond U+10FFFF as U+FFFD, 0x80 to 0x9F as windows-1252 does.
size_t ReadHtmlReference(const char* psz, size_t cch, unsigned* puFirst, unsigned* puSecond);

// Appends the UTF-8 bytes of uChar to pszOut, which has room for 4; returns
// how many it wrote.
size_t PutUtf8(char* pszOut, unsigned uChar);

// The character of a UTF-16 surrogate pair: uHigh in D800-DBFF, uLow in
// DC00-DFFF, which the caller has checked.
unsigned JoinSurrogates(unsigned uHigh, unsigned uLow);

// The code pages an HTML text is put into, as Windows numbers them:
// CP_UTF8, and CP_ACP for the system's ANSI code page; and, for HTML that
// declares a charset the engine does not write, a value of its own, where
// everything beyond ASCII goes as a character reference.
#define LC_HTML_CP_UTF8 65001u
#define LC_HTML_CP_ANSI 0u
#define LC_HTML_CP_REFERENCES 0xFFFFFFFFu

// The bytes of uChar in the system's ANSI code page, no best-fit letter
// taken for it, into pszOut (room for 8); 0 when the code page does not hold
// it. On Windows with the other text conversions (mailing/text_conversion.cpp);
// the native fuzz build has its own.
size_t AnsiBytesOf(unsigned uChar, char* pszOut);

// UTF-8 text as HTML of the given code page holds it: ASCII as it is, what
// the code page holds in its own bytes (LC_HTML_CP_ANSI, no best-fit
// letters), the rest as decimal character references, which read the same
// whatever the HTML declares; LC_HTML_CP_UTF8 keeps it as it is. Bytes that
// are not UTF-8 read as U+FFFD. A heap text for free(), or NULL when memory
// runs out.
char* Utf8ToHtmlCodePage(const char* pszUtf8, unsigned uCodePage);

// Every field of pFrom, each already HTML text in UTF-8, into pTo as HTML of
// the given code page holds it (Utf8ToHtmlCodePage). False when memory runs out.
bool EncodeFieldsForHtml(const ListRecord* pFrom, ListRecord* pTo, unsigned uCodePage);
// Whether EncodeFieldsForHtml would hand back pFrom's fields as they stand:
// for UTF-8, and for fields all ASCII in any code page.
bool FieldsStandInHtmlCodePage(const ListRecord* pFrom, unsigned uCodePage);

// The header that a text of HTML is merged with: every name of pHeader as an
// HTML editor writes it in the text ('&', '<' and '>' as references), then
// every such name again after "HTML:". False when memory runs out.
bool MakeHtmlHeader(const ListRecord* pHeader, ListRecord* pHtmlHeader);

// The values for MakeHtmlHeader's nColumns names: each value as HTML text
// that shows it ('&', '<', '>', '"' and '\'' as character references, so that
// it is text in an element and in a quoted attribute alike; a column the
// record lacks is empty), then each value as it stands, for "[[HTML:Name]]".
// False when memory runs out.
bool MakeHtmlRecord(const ListRecord* pRecord, int nColumns, ListRecord* pHtmlRecord);
// The first half of that alone: the nColumns values as HTML text.
bool MakeHtmlValues(const ListRecord* pRecord, int nColumns, ListRecord* pHtmlValues);

// The header and values for the subject and the plain body: every name, then
// every name again after "HTML:", each with its value as it stands, so that a
// placeholder written for the HTML reads as the value in the plain body that
// Outlook makes of the HTML. False when memory runs out.
bool MakePlainHeader(const ListRecord* pHeader, ListRecord* pPlainHeader);
bool MakePlainRecord(const ListRecord* pRecord, int nColumns, ListRecord* pPlainRecord);

#endif
