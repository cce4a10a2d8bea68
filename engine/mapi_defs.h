// The Extended MAPI declarations the engine uses, with the tags and flags
// that the system's headers lack.
#ifndef LETTERCAST_MAPI_DEFS_H
#define LETTERCAST_MAPI_DEFS_H

#include <windows.h>
#include <mapix.h>
#include <mapiutil.h>
#include <mapitags.h>
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
#ifndef EDITOR_FORMAT_PLAINTEXT
#define EDITOR_FORMAT_PLAINTEXT ((ULONG)1)
#endif

// Unique name, deleted on release, created, exclusive, read-write.
#define LC_TEMP_STREAM_FLAGS ((ULONG)0x84001012)
#define LC_TEMP_STREAM_PREFIX "tdp"

// PidLidUseTnef: PSETID_Common, MNID_ID 0x8582.
#define LC_USE_TNEF_ID 0x8582
extern const GUID LC_PSETID_Common;

#endif
