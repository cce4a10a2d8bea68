// Where a job starts to leave its record: the last job's record kept when it
// did not complete, the three logs opened with their start blocks, and the
// list opened again for the sending pass.
#ifndef LETTERCAST_OPEN_LOGS_H
#define LETTERCAST_OPEN_LOGS_H

struct SendJobState;

// False, after its message, when a log or the list cannot be opened; from
// the current log on, the last job's record is replaced.
bool OpenLogs(SendJobState* pState);

#endif
