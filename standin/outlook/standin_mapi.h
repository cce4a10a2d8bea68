// The Extended MAPI declarations of the stand-in's MAPI objects, with the
// tags and flags that the system's headers lack.
#ifndef LETTERCAST_STANDIN_MAPI_H
#define LETTERCAST_STANDIN_MAPI_H

#include <windows.h>
#include <mapix.h>
#include <mapiutil.h>
#include <mapitags.h>
#include <mapicode.h>
#include <mapiguid.h>

#ifndef PR_HTML
#define PR_HTML PROP_TAG(PT_BINARY, 0x1013)
#endif
#ifndef PR_MSG_EDITOR_FORMAT
#define PR_MSG_EDITOR_FORMAT PROP_TAG(PT_LONG, 0x5909)
#endif
#ifndef STORE_HTML_OK
#define STORE_HTML_OK ((ULONG)0x00010000)
#endif
#ifndef STORE_UNICODE_OK
#define STORE_UNICODE_OK ((ULONG)0x00040000)
#endif

// The named properties start here; below are the fixed ids.
#define STANDIN_FIRST_NAMED_ID 0x8000
#define STANDIN_LAST_NAMED_ID 0xFFFE

#endif
