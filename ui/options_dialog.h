// The Options dialog (resource 110): pause, periodic Send/Receive and what
// becomes of the announced message.
#ifndef LETTERCAST_OPTIONS_DIALOG_H
#define LETTERCAST_OPTIONS_DIALOG_H

#include <windows.h>

// The dialog procedure; opened with DialogBoxParam on resource 110 and
// initial parameter 0. Ends with 1 when OK stored the options, else 0.
INT_PTR CALLBACK OptionsDialog(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);

#endif
