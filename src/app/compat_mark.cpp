#include "app/compat_mark.h"

#include <cwchar>

#include "settings/registry_key.h"

const wchar_t CompatRestartVariable[] = L"TIXABO_COMPAT_RESTARTED";

namespace {

const wchar_t LayersKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers";
const wchar_t HighDpiAware[] = L"~ HIGHDPIAWARE";

bool HoldsMark(HKEY key, const wchar_t* exePath)
{
    wchar_t stored[256] = {};
    DWORD size = sizeof(stored);
    if (RegQueryValueExW(key, exePath, nullptr, nullptr, reinterpret_cast<BYTE*>(stored), &size) != ERROR_SUCCESS) {
        return false;
    }
    // The data need not end with a NUL: compare only what was returned.
    const size_t length = wcsnlen(stored, size / sizeof(wchar_t));
    return length == wcslen(HighDpiAware) && wcsncmp(stored, HighDpiAware, length) == 0;
}

}  // namespace

CompatMark EnsureCompatMark(const wchar_t* exePath)
{
    RegistryKey key;
    if (key.Open(LayersKey) && HoldsMark(key.Handle(), exePath)) {
        return CompatMark::AlreadySet;
    }
    const LSTATUS written = RegSetValueExW(key.Handle(), exePath, 0, REG_SZ, reinterpret_cast<const BYTE*>(HighDpiAware),
                                           sizeof(HighDpiAware));
    return written == ERROR_SUCCESS ? CompatMark::Written : CompatMark::Unwritable;
}

bool TakeCompatRestartFlag()
{
    const bool set = GetEnvironmentVariableW(CompatRestartVariable, nullptr, 0) != 0;
    SetEnvironmentVariableW(CompatRestartVariable, nullptr);
    return set;
}
