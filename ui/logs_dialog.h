// The Logs dialog (resource 111), and opening a file in the program the
// shell associates with it.
#ifndef LETTERCAST_LOGS_DIALOG_H
#define LETTERCAST_LOGS_DIALOG_H

#include <windows.h>

// The dialog procedure; opened with DialogBoxParam on resource 111 and
// initial parameter 0. Ends with 1 after OK, else 0.
INT_PTR CALLBACK LogsDialog(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);

// Opens the file with the shell's "open" verb; 1 when the shell took the
// request, 0 after a failure that has been shown to the user.
int OpenForViewing(HWND hWndOwner, const char* pszPath);

#define LC_VIEW_MESSAGE_CAPACITY 512

// What OpenForViewing tells the user after the shell answered nResult
// (0 to 32): the file-not-found text with the path, or a string-table entry.
void ShellFailureMessage(INT_PTR nResult, const char* pszPath, char* pszMessage, size_t cbMessage);

#endif
