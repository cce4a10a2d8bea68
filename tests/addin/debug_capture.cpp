#include "tests/addin/debug_capture.h"

#include <gtest/gtest.h>

#define LC_DBG_PRINTEXCEPTION_C 0x40010006u
#define LC_DBG_PRINTEXCEPTION_WIDE_C 0x4001000Au

static DebugOutputCapture* gpCapture = NULL;

DebugOutputCapture::DebugOutputCapture() : m_dwThreadId(GetCurrentThreadId())
{
    EXPECT_EQ(gpCapture, nullptr) << "one capture at a time";
    gpCapture = this;
    m_hHandler = AddVectoredExceptionHandler(1, Handler);
    EXPECT_NE(m_hHandler, nullptr);
}

DebugOutputCapture::~DebugOutputCapture()
{
    if (m_hHandler)
        RemoveVectoredExceptionHandler(m_hHandler);
    gpCapture = NULL;
}

void DebugOutputCapture::Record(DWORD dwCode, const ULONG_PTR* pInformation)
{
    if (dwCode == LC_DBG_PRINTEXCEPTION_WIDE_C) {
        const wchar_t* pszWide = (const wchar_t*)pInformation[1];
        int cch = WideCharToMultiByte(CP_ACP, 0, pszWide, -1, NULL, 0, NULL, NULL);
        std::string line(cch > 0 ? cch - 1 : 0, '\0');
        if (cch > 1)
            WideCharToMultiByte(CP_ACP, 0, pszWide, -1, &line[0], cch, NULL, NULL);
        m_lines.push_back(line);
        m_lastWide = line;
        return;
    }
    std::string line((const char*)pInformation[1]);
    if (!m_lastWide.empty() && line == m_lastWide) {
        m_lastWide.clear();
        return;
    }
    m_lastWide.clear();
    m_lines.push_back(line);
}

LONG CALLBACK DebugOutputCapture::Handler(EXCEPTION_POINTERS* pPointers)
{
    const EXCEPTION_RECORD* pRecord = pPointers->ExceptionRecord;
    if (gpCapture && GetCurrentThreadId() == gpCapture->m_dwThreadId && pRecord->NumberParameters >= 2 &&
        (pRecord->ExceptionCode == LC_DBG_PRINTEXCEPTION_C || pRecord->ExceptionCode == LC_DBG_PRINTEXCEPTION_WIDE_C))
        gpCapture->Record(pRecord->ExceptionCode, pRecord->ExceptionInformation);
    return EXCEPTION_CONTINUE_SEARCH;
}
