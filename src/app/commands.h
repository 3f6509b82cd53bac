#pragma once

#include <windows.h>

// Menu commands and menu check marks of the main window.
LRESULT OnCommand(HWND window, WPARAM wParam, LPARAM lParam);
LRESULT OnInitMenu(HMENU menu);
