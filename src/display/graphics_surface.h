#pragma once

#include <windows.h>

// Builds the Direct2D surface for the main window and publishes it for
// RenderFrame. False, with nothing published, if any part cannot be made.
bool CreateGraphicsSurface(HWND mainWindow);
