#include "settings/registry_key.h"

RegistryKey::~RegistryKey()
{
    Close();
}

bool RegistryKey::Open(const wchar_t* subKey)
{
    Close();
    if (RegOpenKeyExW(HKEY_CURRENT_USER, subKey, 0, KEY_READ | KEY_WRITE, &handle_) == ERROR_SUCCESS) {
        return true;
    }
    handle_ = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        &handle_, nullptr) == ERROR_SUCCESS) {
        return true;
    }
    handle_ = nullptr;
    return false;
}

void RegistryKey::Close()
{
    if (handle_ != nullptr) {
        RegCloseKey(handle_);
        handle_ = nullptr;
    }
}
