// Signs that the mail server takes no more mail for now: a submission or a
// flush refused for a quota or a sending limit, or copies that stay in the
// Outbox after a flush.
#ifndef LETTERCAST_SERVER_PUSHBACK_H
#define LETTERCAST_SERVER_PUSHBACK_H

#include <windows.h>
#include <oaidl.h>

// Copies of the job that may wait in the Outbox after a flush before the
// job takes the server to be holding mail back: a flush hands mail on
// without waiting for it to go, so a few may be on their way still.
#define LC_OUTBOX_HELD_LIMIT 5

// The error, with the text that came with it (may be NULL), says the server
// or the store refuses for a quota or a sending limit.
bool IsServerPushBack(HRESULT hr, const char* pszText);

// Items in a folder of the host (Folder.Items.Count); -1 when they cannot be counted.
int CountFolderItems(IDispatch* pFolder);

#endif
