// Reading the composed message once per job: its subject, plain body and
// HTML body, the templates of every recipient's copy. Subject and plain body
// are UTF-8; the HTML is in the code page it declares (SendJobState's
// uHtmlCodePage), however it was read.
#ifndef LETTERCAST_ORIGINAL_CAPTURE_H
#define LETTERCAST_ORIGINAL_CAPTURE_H

#include "engine/mapi_defs.h"

struct SendJobState;

// Fills the three original texts of the state; false, after its message,
// when the job cannot run.
bool CaptureOriginal(SendJobState* pState);

// The whole of a stream property as a heap text for free(), through a
// temporary file stream; NULL when the property cannot be opened or the
// temporary stream made, and NULL with *pbNoMemory set when the text's
// buffer cannot be allocated.
char* ReadWholeProperty(IMessage* pMessage, ULONG ulTag, bool* pbNoMemory);

// UTF-8 text as HTML of the given code page holds it: ASCII as it is, what
// the code page holds in its own bytes (CP_ACP, no best-fit letters), the rest
// as numeric character references, which read the same whatever the HTML
// declares; CP_UTF8 keeps it as it is. A heap text for free(), or NULL when
// memory runs out.
char* Utf8ToHtmlCodePage(const char* pszUtf8, UINT uCodePage);

#endif
