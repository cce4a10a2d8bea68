// The Options dialog (resource 110): the pause and its variation, periodic
// Send/Receive, what becomes of the announced message, and the sending
// limits with the mail services' presets.
#ifndef LETTERCAST_OPTIONS_DIALOG_H
#define LETTERCAST_OPTIONS_DIALOG_H

#include <windows.h>

// The dialog procedure; opened with DialogBoxParam on resource 110 and
// initial parameter 0. Ends with 1 when OK stored the options, else 0.
INT_PTR CALLBACK OptionsDialog(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);

#endif
