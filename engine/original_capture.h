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

#endif
