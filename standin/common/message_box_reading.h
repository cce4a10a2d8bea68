// Reading a message box back as its user sees it: the caption, the text and
// the style (buttons, icon, default button) that it shows. Shared by the test
// recorder and the stand-in host, which both answer boxes they did not open.
#ifndef LETTERCAST_STANDIN_MESSAGE_BOX_READING_H
#define LETTERCAST_STANDIN_MESSAGE_BOX_READING_H

#include <windows.h>

#include <string>
#include <vector>

#define LC_MSGBOX_TEXT_ID 0xFFFF
#define LC_MSGBOX_ICON_ID 0x0440

// A dialog of the system's message-box kind (class #32770 with a text item).
bool IsMessageBox(HWND hWnd);

std::string WindowText(HWND hWnd);

// The MB_ button set, icon and default button the box shows (0xF for a
// button set that no MB_ value names); the buttons in their order on the box.
UINT ReadMessageBoxStyle(HWND hBox, std::vector<int>* pButtons);

// The button the box would press on Enter: its default, else its first.
int DefaultMessageBoxButton(HWND hBox, const std::vector<int>& buttons);

// Presses the button from inside the box's own modal loop.
void PressMessageBoxButton(HWND hBox, int nButton);

#endif
