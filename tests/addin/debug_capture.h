// The lines that this thread sends to the debugger output while the object
// lives, read without a debugger: OutputDebugString raises a first-chance
// exception carrying the text, which a vectored handler sees before the
// system's own handler swallows it.
#ifndef LETTERCAST_TESTS_DEBUG_CAPTURE_H
#define LETTERCAST_TESTS_DEBUG_CAPTURE_H

#include <windows.h>

#include <string>
#include <vector>

class DebugOutputCapture {
public:
    DebugOutputCapture();
    ~DebugOutputCapture();
    DebugOutputCapture(const DebugOutputCapture&) = delete;
    DebugOutputCapture& operator=(const DebugOutputCapture&) = delete;

    const std::vector<std::string>& Lines() const { return m_lines; }

private:
    static LONG CALLBACK Handler(EXCEPTION_POINTERS* pPointers);
    void Record(DWORD dwCode, const ULONG_PTR* pInformation);

    PVOID m_hHandler;
    DWORD m_dwThreadId;
    std::vector<std::string> m_lines;
    std::string m_lastWide;   // a wide line, whose ANSI repetition is not counted again
};

#endif
