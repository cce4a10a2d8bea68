#include "addin/host_state.h"

IDispatch* gpApplication = NULL;
IMAPISession* gpMAPISession = NULL;
double gdOutlookVersion = 0.0;
