#pragma once

#include <windows.h>

// Owns at most one open key under HKEY_CURRENT_USER for one load or save;
// closes it when released.
class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey();
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // Opens subKey for reading and writing, creating it if missing.
    // True when a handle is held afterwards.
    bool Open(const wchar_t* subKey);
    HKEY Handle() const { return handle_; }

private:
    void Close();
    HKEY handle_ = nullptr;
};
