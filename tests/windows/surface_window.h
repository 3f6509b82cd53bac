#pragma once

#include <windows.h>

// A plain 1320 x 780 top-level window at the screen's corner, shown, with no
// background erase, so only Direct2D draws into it. DPI aware, as the program
// makes itself, so client pixels are physical pixels.
HWND CreateSurfaceWindow();

// Handles whatever messages are waiting for this thread's windows.
void PumpMessages();
