// A 64-bit tick count from the 32-bit one, for systems without GetTickCount64.
#ifndef LETTERCAST_TICK_COUNT64_H
#define LETTERCAST_TICK_COUNT64_H

#include <windows.h>

// The widened count for the 32-bit count dwNow, given the widened count last
// returned: the high half counts the wraps of the 32-bit count, which wraps
// every 49.7 days, so a count smaller than the last one seen is one wrap on.
inline ULONGLONG NextWideTick(ULONGLONG ullLast, DWORD dwNow)
{
    DWORD dwWraps = (DWORD)(ullLast >> 32);
    if (dwNow < (DWORD)ullLast)
        ++dwWraps;
    return ((ULONGLONG)dwWraps << 32) | dwNow;
}

#endif
