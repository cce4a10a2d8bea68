// Where the add-in's dialogs appear.
#ifndef LETTERCAST_DIALOG_PLACEMENT_H
#define LETTERCAST_DIALOG_PLACEMENT_H

#include <windows.h>

// Centres the dialog on the primary screen (never on its owner); called before
// the dialog is first shown.
void CenterOnScreen(HWND hDlg);

#endif
