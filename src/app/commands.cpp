#include "app/commands.h"

#include <cstdint>

#include <shellapi.h>

#include "app/app.h"
#include "app/dialogs.h"
#include "core/tick_loop.h"
#include "display/scene.h"
#include "resource.h"
#include "settings/settings_store.h"
#include "shared/timer_settings.h"

namespace {

// A page showing a running millisecond clock to compare this one against.
constexpr const wchar_t* kOnlineClockAddress = L"https://www.beijing-time.org/bjtime.asp";

void ShowModalDialog(HWND owner, int templateId, DLGPROC procedure)
{
    DialogBoxParamW(AppInstance, MAKEINTRESOURCEW(templateId), owner, procedure, 0);
}

std::uint32_t Micros(std::uint32_t ticks)
{
    return ticks / 10u;
}

void ShowStatusReport(HWND owner)
{
    wchar_t text[256];
    const std::uint32_t frames = FrameCounter.load();
    wsprintfW(text, L"Elapsed:%d Min:%d Max:%d Over:%d/%d\r\nInterVal:%d Min:%d Max:%d Over:%d/%d",
              Micros(ElapsedStats.last.load()), Micros(ElapsedStats.min.load()), Micros(ElapsedStats.max.load()),
              ElapsedStats.newMaxCount.load(), frames, Micros(IntervalStats.last.load()),
              Micros(IntervalStats.min.load()), Micros(IntervalStats.max.load()), IntervalStats.newMaxCount.load(),
              frames);
    MessageBoxW(owner, text, L"状态统计", MB_OK);
}

void SetBackgroundColour(std::int32_t colour)
{
    TimerSettings.BgColor.store(colour);
    SaveSettings();
    RenderFrame();
}

void SetDisplayMode(std::int32_t mode)
{
    TimerSettings.DisplayMode.store(mode);
    SaveSettings();
}

// The present option is fixed when the surface is made, so a new instance
// takes over; this one waits for it to end. Its timer thread stops with the
// window, or it would spin at time-critical priority all the while.
void ToggleVSync(HWND window)
{
    TimerSettings.VSyncMode.store(TimerSettings.VSyncMode.load() == 0 ? 1 : 0);
    SaveSettings();
    CloseMainWindow(window);
    RelaunchSelf();
}

void OpenOnlineClock()
{
    ShellExecuteW(nullptr, L"open", kOnlineClockAddress, nullptr, nullptr, SW_SHOWNORMAL);
}

// Checks the item at first + index and clears the others of the group; an
// index outside the group clears them all.
void CheckOneOf(HMENU menu, UINT first, UINT last, std::int32_t index)
{
    for (UINT id = first; id <= last; ++id) {
        const bool checked = index >= 0 && id - first == static_cast<UINT>(index);
        CheckMenuItem(menu, id, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
    }
}

}  // namespace

LRESULT OnCommand(HWND window, WPARAM wParam, LPARAM lParam)
{
    const UINT id = LOWORD(wParam);
    switch (id) {
    case CMD_ABOUT:
        ShowModalDialog(window, DLG_ABOUT, AboutDialogProc);
        return 0;
    case CMD_SETTINGS:
        ShowModalDialog(window, DLG_INTERVAL, IntervalDialogProc);
        return 0;
    case CMD_STATUS:
        ShowStatusReport(window);
        return 0;
    case CMD_BG_AUTO:
    case CMD_BG_BLACK:
    case CMD_BG_RED:
    case CMD_BG_GREEN:
    case CMD_BG_BLUE:
    case CMD_BG_WHITE:
    case CMD_BG_PURPLE:
    case CMD_BG_GREY:
        SetBackgroundColour(static_cast<std::int32_t>(id - CMD_BG_AUTO));
        return 0;
    case CMD_MODE_MULTI:
    case CMD_MODE_SINGLE:
        SetDisplayMode(static_cast<std::int32_t>(id - CMD_MODE_MULTI));
        return 0;
    case CMD_VSYNC:
        ToggleVSync(window);
        return 0;
    case CMD_ONLINE_CLOCK:
        OpenOnlineClock();
        return 0;
    default:
        return DefWindowProcW(window, WM_COMMAND, wParam, lParam);
    }
}

LRESULT OnInitMenu(HMENU menu)
{
    CheckOneOf(menu, CMD_BG_AUTO, CMD_BG_GREY, TimerSettings.BgColor.load());
    CheckOneOf(menu, CMD_MODE_MULTI, CMD_MODE_SINGLE, TimerSettings.DisplayMode.load());
    CheckMenuItem(menu, CMD_VSYNC, MF_BYCOMMAND | (TimerSettings.VSyncMode.load() != 0 ? MF_CHECKED : MF_UNCHECKED));
    return 0;
}
