// Puts the thread under the system default locale for a scope and gives it
// back its own afterwards, so that registration reads and writes the same
// texts whatever the caller's locale.
#ifndef LETTERCAST_SYSTEM_LOCALE_H
#define LETTERCAST_SYSTEM_LOCALE_H

#include <windows.h>

class ScopedSystemLocale {
public:
    ScopedSystemLocale() : m_lcidSaved(GetThreadLocale()) { SetThreadLocale(LOCALE_SYSTEM_DEFAULT); }
    ~ScopedSystemLocale() { SetThreadLocale(m_lcidSaved); }
    ScopedSystemLocale(const ScopedSystemLocale&) = delete;
    ScopedSystemLocale& operator=(const ScopedSystemLocale&) = delete;

private:
    LCID m_lcidSaved;
};

#endif
