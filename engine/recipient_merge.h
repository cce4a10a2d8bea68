// The recipient's own texts: the working copies of the composed message's
// subject, body and HTML, merged for each recipient with the fields each of
// them takes.
#ifndef LETTERCAST_RECIPIENT_MERGE_H
#define LETTERCAST_RECIPIENT_MERGE_H

struct SendJobState;

// The working copies, one per original text; false, after its message, when
// memory runs out. Starts the sending steps.
bool AllocateWorkingCopies(SendJobState* pState);

// The header's fields each text is merged with, and their names, into the
// state's plainHeader and, for HTML, htmlHeader: once per job, since the
// header does not change from recipient to recipient. False when memory
// runs out.
bool MakeMergeHeaders(SendJobState* pState);

// Subject, body and HTML merged for the state's record: values land in HTML
// as text that shows them, "[[HTML:Name]]" as markup; in the subject and the
// plain body "[[HTML:Name]]" is the value as it stands. False when the job
// cannot go on (the merge's failure is logged and shown).
bool MergeRecipient(SendJobState* pState);

#endif
