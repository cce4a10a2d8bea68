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

// The UTF-8 text pszText as HTML text that shows it: '&', '<', '>', '"' and
// '\'' as character references (so that it is text in an element and in a
// quoted attribute alike), everything else as it is. A heap block for free(),
// or NULL when memory runs out.
char* EscapeHtmlText(const char* pszText);

// The header that a text of HTML is merged with: every name of pHeader as an
// HTML editor writes it in the text ('&', '<' and '>' as references), then
// every such name again after "HTML:". False when memory runs out.
bool MakeHtmlHeader(const ListRecord* pHeader, ListRecord* pHtmlHeader);

// The values for MakeHtmlHeader's nColumns names: each value as HTML text
// (EscapeHtmlText; a column the record lacks is empty), then each value as it
// stands, for "[[HTML:Name]]". False when memory runs out.
bool MakeHtmlRecord(const ListRecord* pRecord, int nColumns, ListRecord* pHtmlRecord);

// The header and values for the subject and the plain body: every name, then
// every name again after "HTML:", each with its value as it stands, so that a
// placeholder written for the HTML reads as the value in the plain body that
// Outlook makes of the HTML. False when memory runs out.
bool MakePlainHeader(const ListRecord* pHeader, ListRecord* pPlainHeader);
bool MakePlainRecord(const ListRecord* pRecord, int nColumns, ListRecord* pPlainRecord);

#endif
