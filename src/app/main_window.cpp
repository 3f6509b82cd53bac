#include "app/app.h"
#include "app/commands.h"
#include "core/tick_loop.h"
#include "display/scene.h"
#include "shared/timer_settings.h"

void UpdateTitle()
{
    wchar_t title[128];
    wsprintfW(title, L"Tixabo(周期: %d微妙 VSync:%S FPS:%d)", static_cast<int>(TimerSettings.IntervalMicroSecs.load()),
              TimerSettings.VSyncMode.load() != 0 ? "On" : "Off", static_cast<int>(FrameRate.load()));
    SetWindowTextW(MainWindow, title);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        RenderFrame();
        EndPaint(window, &paint);
        return 0;
    }
    case WM_CLOSE:
        CloseMainWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_COMMAND:
        return OnCommand(window, wParam, lParam);
    case WM_INITMENU:
        return OnInitMenu(reinterpret_cast<HMENU>(wParam));
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}
