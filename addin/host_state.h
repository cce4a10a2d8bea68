// What the add-in holds of its host for the life of the process.
#ifndef LETTERCAST_HOST_STATE_H
#define LETTERCAST_HOST_STATE_H

#include <windows.h>
#include <oaidl.h>

struct IMAPISession;

// The host's _Application, given at connection; not owned.
extern IDispatch* gpApplication;
// The profile's Extended MAPI session, fetched once at connection; one
// reference held until the process ends; NULL when the host gave none.
extern IMAPISession* gpMAPISession;
// The host's version number, parsed from _Application.Version at connection.
extern double gdOutlookVersion;

#endif
