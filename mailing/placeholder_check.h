// The placeholders of a message that name no field of the mailing list, and
// its markers that make no block: the merge leaves them as they stand, so the
// user hears of them before anything is sent. Plain C++ over the C runtime, so it also builds natively.
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

// Adds to *pBlocks, once each, a sentence for every marker of pszText that
// makes no block ("[[IF Company]] has no [[END IF]] and will be sent as it
// stands."), the marker as the reader sees it; pHeader as above.
void FindBrokenBlocks(const char* pszText, bool bHtml, const ListRecord* pHeader, std::vector<std::string>* pBlocks);

// What the user is told of them, one sentence each: "[[A]] names no field of
// the mailing list and will be sent as it stands." (or the plural for several
// names), then the blocks' sentences; none when there is nothing to tell.
std::vector<std::string> PlaceholderWarnings(const std::vector<std::string>& names,
                                             const std::vector<std::string>& blocks);
// Those sentences as the question before sending ("... Send anyway?"); empty
// when there is nothing to ask.
std::string PlaceholderQuestion(const std::vector<std::string>& names, const std::vector<std::string>& blocks);

#endif
