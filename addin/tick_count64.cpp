// The statically linked thread runtime times its waits with GetTickCount64,
// which Windows XP does not have: a DLL importing it fails to load there with
// "The specified procedure could not be found". The runtime calls it through
// its import slot, so the slot is defined here and the linker never takes
// kernel32's; the DLL's import table stays free of it.
#include "addin/tick_count64.h"

namespace {

typedef ULONGLONG(WINAPI* TickCount64Proc)(void);

// High 32 bits: how often the 32-bit count has wrapped; low 32 bits: the
// count last seen. Changed only by compare-and-swap, so concurrent callers
// never count one wrap twice.
volatile ULONGLONG gullLastTick = 0;

// The 32-bit tick count widened to 64 bits, for a system without the call.
ULONGLONG WideTickCount()
{
    ULONGLONG ullSeen = __atomic_load_n(&gullLastTick, __ATOMIC_SEQ_CST);
    for (;;) {
        ULONGLONG ullNow = NextWideTick(ullSeen, GetTickCount());
        if (__atomic_compare_exchange_n(&gullLastTick, &ullSeen, ullNow, false, __ATOMIC_SEQ_CST,
                                        __ATOMIC_SEQ_CST))
            return ullNow;
    }
}

// The system's own call where it exists (Vista and later), looked up on
// first use. No function-local static: its guard would wait through the very
// runtime that calls here. Two threads looking it up at once find the same.
TickCount64Proc gpfnSystemTickCount64 = NULL;
volatile LONG gnSystemLookedUp = 0;

ULONGLONG WINAPI TickCount64()
{
    if (!__atomic_load_n(&gnSystemLookedUp, __ATOMIC_ACQUIRE)) {
        gpfnSystemTickCount64 = reinterpret_cast<TickCount64Proc>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount64")));
        __atomic_store_n(&gnSystemLookedUp, 1, __ATOMIC_RELEASE);
    }
    return gpfnSystemTickCount64 ? gpfnSystemTickCount64() : WideTickCount();
}

}  // namespace

// The import slot's own name, which no C++ identifier can spell.
extern "C" {
TickCount64Proc gpfnTickCount64 __asm__("__imp__GetTickCount64@0") = TickCount64;
}
