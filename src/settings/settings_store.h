#pragma once

// HKEY_CURRENT_USER\Software\MORV holds the four settings as REG_DWORD values.
void LoadSettings();
void SaveSettings();
