#include "settings/settings_store.h"

#include <cstdint>
#include <cstring>

#include "settings/registry_key.h"
#include "shared/timer_settings.h"

namespace {

const wchar_t SettingsKey[] = L"Software\\MORV";

// A value of another type or size is ignored rather than half-copied.
template <typename T>
void LoadValue(HKEY key, const wchar_t* name, SharedWord<T>& field, T fallback)
{
    T value = fallback;
    DWORD type = REG_NONE;
    DWORD stored = 0;
    DWORD size = sizeof(stored);
    if (key != nullptr &&
        RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&stored), &size) == ERROR_SUCCESS &&
        type == REG_DWORD && size == sizeof(stored)) {
        std::memcpy(&value, &stored, sizeof(value));
    }
    field.store(value);
}

template <typename T>
void SaveValue(HKEY key, const wchar_t* name, const SharedWord<T>& field)
{
    const T value = field.load();
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

}  // namespace

void LoadSettings()
{
    RegistryKey key;
    key.Open(SettingsKey);
    LoadValue<std::uint32_t>(key.Handle(), L"IntervalMicroSecs", TimerSettings.IntervalMicroSecs, 100000);
    LoadValue<std::int32_t>(key.Handle(), L"BgColor", TimerSettings.BgColor, 1);
    LoadValue<std::int32_t>(key.Handle(), L"DisplayMode", TimerSettings.DisplayMode, 1);
    LoadValue<std::int32_t>(key.Handle(), L"VSyncMode", TimerSettings.VSyncMode, 1);
}

void SaveSettings()
{
    RegistryKey key;
    key.Open(SettingsKey);
    SaveValue(key.Handle(), L"IntervalMicroSecs", TimerSettings.IntervalMicroSecs);
    SaveValue(key.Handle(), L"BgColor", TimerSettings.BgColor);
    SaveValue(key.Handle(), L"DisplayMode", TimerSettings.DisplayMode);
    SaveValue(key.Handle(), L"VSyncMode", TimerSettings.VSyncMode);
}
