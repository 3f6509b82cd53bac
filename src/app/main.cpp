#include "app/app.h"
#include "app/compat_mark.h"
#include "core/tick_loop.h"
#include "display/graphics_surface.h"
#include "display/scene.h"
#include "resource.h"
#include "settings/settings_store.h"

wchar_t ModulePath[MAX_PATH];
HINSTANCE AppInstance;
HWND MainWindow;
HANDLE TimerThread;

namespace {

// A path cut short by the buffer names no file: it is left empty, so that
// it is neither marked nor started.
bool ReadModulePath()
{
    const DWORD length = GetModuleFileNameW(nullptr, ModulePath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        ModulePath[0] = L'\0';
        return false;
    }
    return true;
}

// True when this instance must end because a restart took over. An instance
// started by that restart never restarts for the mark again.
bool RestartedForCompatMark()
{
    const bool isRestart = TakeCompatRestartFlag();
    if (!ReadModulePath() || EnsureCompatMark(ModulePath) != CompatMark::Written || isRestart) {
        return false;
    }
    RelaunchForCompatMark();
    return true;
}

void RegisterMainClass(HINSTANCE instance, const wchar_t* className)
{
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(ICON_LARGE));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszMenuName = MAKEINTRESOURCEW(MENU_MAIN);
    windowClass.lpszClassName = className;
    windowClass.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(ICON_SMALL));
    RegisterClassExW(&windowClass);
}

DWORD WINAPI TimerThreadMain(LPVOID)
{
    if (!CreateGraphicsSurface(MainWindow)) {
        return 0;
    }
    TickLoop(RenderFrame, UpdateTitle);
    return 0;
}

int RunMessageLoop(HACCEL accelerators)
{
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) != 0) {
        if (!TranslateAcceleratorW(message.hwnd, accelerators, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return static_cast<int>(message.wParam);
}

// Returning from wWinMain while the thread is inside Direct2D lets process
// teardown pull the graphics driver out from under it (under Wine, a failed
// assertion in the GL dispatch and a segmentation fault). A pass in progress
// finishes first: with VSync on it can take a frame, under software rendering
// far longer. Sent messages are let through while waiting: the thread may be
// inside UpdateTitle, which waits for this thread.
void StopTimerThread()
{
    constexpr ULONGLONG kPatienceMs = 2000;
    TickLoopStop.store(1);
    if (TimerThread == nullptr) {
        return;
    }
    const ULONGLONG deadline = GetTickCount64() + kPatienceMs;
    for (ULONGLONG now = GetTickCount64(); now < deadline; now = GetTickCount64()) {
        const DWORD woken = MsgWaitForMultipleObjects(1, &TimerThread, FALSE, static_cast<DWORD>(deadline - now),
                                                      QS_SENDMESSAGE);
        if (woken != WAIT_OBJECT_0 + 1) {
            return;
        }
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

}  // namespace

// The last pass finishes while the window is still shown (DestroyWindow
// hides it first), the order the VSync toggle has always kept.
void CloseMainWindow(HWND window)
{
    StopTimerThread();
    DestroyWindow(window);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    if (RestartedForCompatMark()) {
        return 0;
    }
    AppInstance = instance;
    wchar_t title[100];
    wchar_t className[100];
    LoadStringW(instance, STR_TITLE, title, 100);
    LoadStringW(instance, STR_CLASS, className, 100);
    RegisterMainClass(instance, className);
    LoadSettings();

    MainWindow = CreateWindowExW(0, className, title, WS_OVERLAPPEDWINDOW, 200, 10, 1320, 780, nullptr, nullptr,
                                 instance, nullptr);
    if (MainWindow == nullptr) {
        return 0;
    }
    UpdateTitle();
    ShowWindow(MainWindow, showCommand);
    UpdateWindow(MainWindow);
    const HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(MENU_MAIN));

    SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
    TimerThread = CreateThread(nullptr, 0, TimerThreadMain, nullptr, 0, nullptr);
    SetThreadPriority(TimerThread, THREAD_PRIORITY_TIME_CRITICAL);
    return RunMessageLoop(accelerators);
}
