// How the engine tells of failures: boxes captioned with the product name,
// lines in the current job log, and the report of a caught COM error.
#ifndef LETTERCAST_ENGINE_REPORT_H
#define LETTERCAST_ENGINE_REPORT_H

#include <windows.h>
#include <stdio.h>
#include <comdef.h>

#include <string>

#define LC_CAUGHT_TEXT_CAPACITY 128      // texts of caught failures
#define LC_RECIPIENT_TEXT_CAPACITY 306   // per-recipient failures with an address of up to 255

// A warning with an OK button; returns the button pressed.
int ShowJobText(HWND hWndOwner, const char* pszText);
// A Yes/No question; returns IDYES or IDNO.
int AskJobQuestion(HWND hWndOwner, const char* pszText);
// The text and a line end, flushed; nothing without a log.
void LogJobText(FILE* pLog, const char* pszText);

// "***** Exception 0x%08x from %s: ..." with the error's source and
// description, "(null)" for each when it carries no error information.
void ReportComError(const _com_error& error, FILE* pLog, const char* pszLocation);
// The error's own description (ANSI), empty when it carries none.
std::string ComErrorDescription(const _com_error& error);

#endif
