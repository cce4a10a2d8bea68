// The placeholders of a message that name no field of the mailing list: the
// merge leaves them as they stand, so the user hears of them before anything
// is sent. Plain C++ over the C runtime, so it also builds natively.
#ifndef LETTERCAST_PLACEHOLDER_CHECK_H
#define LETTERCAST_PLACEHOLDER_CHECK_H

#include <string>
#include <vector>

#include "mailing/list_record.h"

// Adds to *pNames, once each (letter case aside), every "[[...]]" of pszText
// that the merge would leave as it stands, as the reader sees it: for HTML
// (bHtml) with the tags inside the brackets taken out and the entities read.
// pHeader is the header the text is merged with: for HTML the one of
// MakeHtmlHeader (mailing/html_text.h), in the HTML's code page.
void FindUnknownPlaceholders(const char* pszText, bool bHtml, const ListRecord* pHeader,
                             std::vector<std::string>* pNames);

// "[[A]] names no field of the mailing list and will be sent as it stands.
// Send anyway?", or the plural for several; empty for none.
std::string UnknownPlaceholderQuestion(const std::vector<std::string>& names);

#endif
