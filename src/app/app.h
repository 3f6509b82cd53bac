#pragma once

#include <windows.h>

// Process-wide state of the user-interface side.
extern wchar_t ModulePath[MAX_PATH];  // this executable's full path
extern HINSTANCE AppInstance;         // for dialogs and resources
extern HWND MainWindow;               // written before the timer thread starts
extern HANDLE TimerThread;            // the time-critical ticking thread

// Title with period, VSync state and frame rate; callable from either thread.
void UpdateTitle();
// Stops the timer thread, waiting about two seconds at most, then destroys
// the main window, which ends the message loop; on the user-interface thread.
void CloseMainWindow(HWND window);
// Starts a new instance of this program and waits for it to end.
bool RelaunchSelf();
// RelaunchSelf for an instance that has just written its compatibility mark;
// the new instance never restarts for the mark again.
bool RelaunchForCompatMark();

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
