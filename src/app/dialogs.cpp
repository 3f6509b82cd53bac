#include "app/dialogs.h"

#include <cstdint>
#include <cwchar>

#include "app/app.h"
#include "resource.h"
#include "settings/settings_store.h"
#include "shared/timer_settings.h"

namespace {

constexpr const wchar_t* kPresetPeriods[] = {
    L"1000", L"1666", L"3333", L"5000", L"5553", L"16666", L"50000", L"100000", L"500000", L"1000000",
};

constexpr int kIntervalTextChars = 32;  // the box's text, terminator included

// Reads a leading decimal number (blanks, optional sign, digits; the rest is
// ignored). A negative number or one past the signed 32-bit range would wrap
// into a period of minutes or hours, so it counts as no number at all.
bool ParsePeriod(const wchar_t* text, std::uint32_t& period)
{
    wchar_t* end = nullptr;
    const long long value = std::wcstoll(text, &end, 10);
    if (end == text || value < 0 || value > INT32_MAX) {
        return false;
    }
    period = static_cast<std::uint32_t>(value);
    return true;
}

void FillIntervalDialog(HWND dialog)
{
    const HWND combo = GetDlgItem(dialog, IDC_INTERVAL_COMBO);
    for (const wchar_t* preset : kPresetPeriods) {
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(preset));
    }
    // Show what is stored, not what this instance last held.
    LoadSettings();
    wchar_t text[kIntervalTextChars];
    wsprintfW(text, L"%d", static_cast<int>(TimerSettings.IntervalMicroSecs.load()));
    SetWindowTextW(combo, text);
}

void ApplyIntervalDialog(HWND dialog)
{
    wchar_t text[kIntervalTextChars];
    GetDlgItemTextW(dialog, IDC_INTERVAL_COMBO, text, kIntervalTextChars);
    std::uint32_t period = 0;
    if (ParsePeriod(text, period)) {
        TimerSettings.IntervalMicroSecs.store(period);
    }
    SaveSettings();
    UpdateTitle();
}

bool IsCloseCommand(WPARAM wParam)
{
    const WORD id = LOWORD(wParam);
    return id == IDOK || id == IDCANCEL;
}

}  // namespace

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (IsCloseCommand(wParam)) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK IntervalDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        FillIntervalDialog(dialog);
        return TRUE;
    case WM_COMMAND:
        if (!IsCloseCommand(wParam)) {
            return FALSE;
        }
        if (LOWORD(wParam) == IDOK) {
            ApplyIntervalDialog(dialog);
        }
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    default:
        return FALSE;
    }
}
