#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Raw resources of a module loaded as data, and a reader for extended dialog
// templates, so tests can compare what the resource compiler produced.

struct DialogControl {
    std::wstring className;  // standard classes by ordinal come back lower-case
    DWORD id = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::wstring text;
    DWORD style = 0;
    DWORD exStyle = 0;
};

struct DialogTemplate {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::wstring caption;
    WORD pointSize = 0;
    std::wstring fontName;
    std::vector<DialogControl> controls;
};

// The program's resources without running it; null when it cannot be loaded.
HMODULE LoadModuleAsData(const wchar_t* path);

// The bytes of one resource in one language; empty when it is missing.
std::vector<BYTE> RawResource(HMODULE module, LPCWSTR type, int id, WORD language);

// False when the bytes are not a well-formed extended dialog template.
bool ParseDialogTemplate(const std::vector<BYTE>& raw, DialogTemplate& dialog);
