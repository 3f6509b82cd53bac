#include "surface_window.h"

namespace {

LRESULT CALLBACK SurfaceWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_ERASEBKGND) return 1;  // never paint over the last frame
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

HWND CreateSurfaceWindow()
{
    SetProcessDPIAware();
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = SurfaceWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    windowClass.lpszClassName = L"TixaboSurfaceTest";
    RegisterClassExW(&windowClass);
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"Tixabo surface test", WS_OVERLAPPEDWINDOW, 0, 0, 1320,
                                  780, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (window == nullptr) return nullptr;
    ShowWindow(window, SW_SHOWNORMAL);
    SetForegroundWindow(window);
    UpdateWindow(window);
    PumpMessages();
    return window;
}

void PumpMessages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}
