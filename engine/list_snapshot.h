// The list as it is at Send, copied to a private file that both passes of
// the job read: a list saved again during the job (an editor, a sync client)
// cannot make the sending pass read other records than the counting pass
// counted.
#ifndef LETTERCAST_LIST_SNAPSHOT_H
#define LETTERCAST_LIST_SNAPSHOT_H

struct SendJobState;

// Copies JobOptions.ToList byte for byte, its mark included, into a new file
// in the temporary folder named by szListCopy; the list itself is read once,
// through the shared-read opening. False, after its message, when it cannot.
bool TakeListSnapshot(SendJobState* pState);

#endif
