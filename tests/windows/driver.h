#pragma once

// End-to-end test driver: starts the real tixabo.exe, finds its window,
// drives it with window messages and reads back its title, pixels and
// registry values. Runs the same under Wine and on Windows; on Windows the
// registry keys the tests touch are saved and restored (SavedRegistryKey,
// SavedRegistryValue, App).

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace driver {

// Generous: Wine starts and Direct2D renders slowly on a busy machine.
constexpr DWORD Patience = 60000;

// Polls condition every 50 ms; true as soon as it holds, false on timeout.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = Patience);

// ---- Files

// tixabo.exe as built, copied beside the test programs.
std::wstring BuiltProgram();
// A new, empty directory under the temporary folder; name may contain blanks.
std::wstring MakeTempDirectory(const std::wstring& name);
// Copies the built program into directory; returns the copy's full path.
std::wstring CopyProgram(const std::wstring& directory, const std::wstring& fileName = L"tixabo.exe");

// ---- Registry (all under HKEY_CURRENT_USER)

extern const wchar_t SettingsKey[];  // Software\MORV
extern const wchar_t LayersKey[];    // AppCompatFlags\Layers
extern const wchar_t HighDpiMark[];  // "~ HIGHDPIAWARE"

bool KeyExists(const wchar_t* subKey);
void DeleteKey(const wchar_t* subKey);
// Number of values under the key; 0 when it is missing.
DWORD ValueCount(const wchar_t* subKey);
// False when the key or value is missing or the value is not a 4-byte REG_DWORD.
bool ReadDword(const wchar_t* subKey, const wchar_t* name, DWORD* value);
void WriteDword(const wchar_t* subKey, const wchar_t* name, DWORD value);
// Any type, raw bytes; creates the key when missing.
void WriteRaw(const wchar_t* subKey, const wchar_t* name, DWORD type, const void* data, DWORD size);
struct RawValue {
    bool exists = false;
    DWORD type = REG_NONE;
    std::vector<std::uint8_t> data;
};
RawValue ReadRaw(const wchar_t* subKey, const wchar_t* name);
void DeleteValue(const wchar_t* subKey, const wchar_t* name);

// Whole key saved now and put back on destruction (deleted if it was missing).
class SavedRegistryKey {
public:
    explicit SavedRegistryKey(const wchar_t* subKey);
    ~SavedRegistryKey();
    SavedRegistryKey(const SavedRegistryKey&) = delete;
    SavedRegistryKey& operator=(const SavedRegistryKey&) = delete;

private:
    std::wstring subKey_;
    bool existed_ = false;
    std::vector<std::pair<std::wstring, RawValue>> values_;
};

// One value saved now and put back on destruction (deleted if it was missing).
class SavedRegistryValue {
public:
    SavedRegistryValue(const wchar_t* subKey, const std::wstring& name);
    ~SavedRegistryValue();
    SavedRegistryValue(const SavedRegistryValue&) = delete;
    SavedRegistryValue& operator=(const SavedRegistryValue&) = delete;

private:
    std::wstring subKey_;
    std::wstring name_;
    RawValue saved_;
};

// ---- Processes

// A process of the program under test. Whatever is still running when the
// holder goes is closed through its windows, or ended after a grace period.
class Program {
public:
    // Starts exePath (quoted, no arguments) with the current environment plus
    // extraEnvironment entries of the form NAME=value; its standard error goes
    // to errorFile when one is named (where Wine reports a crash).
    static Program Start(const std::wstring& exePath, const std::vector<std::wstring>& extraEnvironment = {},
                         const std::wstring& errorFile = {});
    // Takes hold of a process the program started itself (e.g. its restart).
    static Program Adopt(DWORD processId);

    Program() = default;
    Program(Program&& other) noexcept;
    Program& operator=(Program&& other) noexcept;
    ~Program();

    bool Valid() const { return handle_ != nullptr; }
    DWORD Id() const { return id_; }
    HANDLE Handle() const { return handle_; }
    bool Running() const;
    // True when the process ended within the timeout; exitCode receives its code.
    bool WaitForExit(DWORD* exitCode, DWORD timeoutMs = Patience);

private:
    void Finish();
    HANDLE handle_ = nullptr;
    DWORD id_ = 0;
};

// ---- Windows

// A visible top-level window of className owned by processId (0: any process).
HWND FindTopLevelWindow(const wchar_t* className, DWORD processId = 0);
// The program's main window (class "MORV"), waited for.
HWND WaitForMainWindow(DWORD processId = 0, DWORD timeoutMs = Patience);
// A dialog (class "#32770") owned by processId with the given caption, waited for.
HWND WaitForDialog(DWORD processId, const std::wstring& caption, DWORD timeoutMs = Patience);

DWORD WindowProcess(HWND window);
std::wstring WindowTitle(HWND window);
std::wstring WindowClass(HWND window);
RECT WindowRectangle(HWND window);
// Waits until the title satisfies condition; returns the last title read.
std::wstring WaitForTitle(HWND window, const std::function<bool(const std::wstring&)>& condition,
                          DWORD timeoutMs = Patience);

// Menu command as the menu would send it (posted: a modal dialog must not block the test).
void PostCommand(HWND window, WORD commandId);
// The caption button's close.
void PostClose(HWND window);
// The system menu's close, as Alt+F4 sends it.
void PostSystemClose(HWND window);

// ---- Pixels

// The client area as seen on screen, COLORREF values (0x00BBGGRR), row by row.
struct Snapshot {
    int width = 0;
    int height = 0;
    std::vector<COLORREF> pixels;
    COLORREF At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
    bool operator==(const Snapshot&) const = default;
};
Snapshot CaptureClient(HWND window);
// Share of pixels whose colour is within tolerance (per channel) of colour.
double ShareOfColour(const Snapshot& snapshot, COLORREF colour, int tolerance = 16);

// ---- The program, ready to drive

// A copy of the program in its own directory, marked so it does not restart,
// started and its main window shown. Its Layers value is removed afterwards.
class App {
public:
    explicit App(const std::wstring& directoryName = L"tixabo app");
    ~App();
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    const std::wstring& Path() const { return path_; }
    Program& Process() { return process_; }
    HWND Window() const { return window_; }
    // Closes the window; true when the process then ended with exitCode.
    bool Close(DWORD* exitCode);
    // Starts the copy (again, once the last process has ended) and finds its window.
    void Start();
    // What the last process wrote to its standard error.
    std::string ErrorOutput() const;

private:
    std::wstring path_;
    std::wstring errorFile_;
    SavedRegistryValue mark_;
    Program process_;
    HWND window_ = nullptr;
};

}  // namespace driver
