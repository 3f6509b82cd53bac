#pragma once

#include <windows.h>

// The About box and the tick-period dialog, both modal on the main window.
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK IntervalDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
