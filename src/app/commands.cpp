#include "app/commands.h"

LRESULT OnCommand(HWND window, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcW(window, WM_COMMAND, wParam, lParam);
}

LRESULT OnInitMenu(HMENU)
{
    return 0;
}
