#include "driver.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <utility>

namespace driver {

const wchar_t SettingsKey[] = L"Software\\MORV";
const wchar_t LayersKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers";
const wchar_t HighDpiMark[] = L"~ HIGHDPIAWARE";

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const ULONGLONG start = GetTickCount64();
    while (!condition()) {
        if (GetTickCount64() - start > timeoutMs) {
            return condition();
        }
        Sleep(50);
    }
    return true;
}

// ---- Files

namespace {

std::wstring DirectoryOf(const std::wstring& path)
{
    return path.substr(0, path.find_last_of(L"\\/"));
}

}  // namespace

std::wstring BuiltProgram()
{
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return DirectoryOf(self) + L"\\tixabo.exe";
}

std::wstring MakeTempDirectory(const std::wstring& name)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    static unsigned sequence = 0;
    for (;;) {
        const std::wstring directory = std::wstring(temp) + L"tixabo-tests\\" + name + L" " +
                                       std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++sequence);
        CreateDirectoryW((std::wstring(temp) + L"tixabo-tests").c_str(), nullptr);
        if (CreateDirectoryW(directory.c_str(), nullptr)) {
            return directory;
        }
    }
}

std::wstring CopyProgram(const std::wstring& directory, const std::wstring& fileName)
{
    const std::wstring path = directory + L"\\" + fileName;
    CopyFileW(BuiltProgram().c_str(), path.c_str(), FALSE);
    return path;
}

// ---- Registry

namespace {

class OpenKey {
public:
    OpenKey(const wchar_t* subKey, REGSAM access, bool create)
    {
        const LSTATUS status = create ? RegCreateKeyExW(HKEY_CURRENT_USER, subKey, 0, nullptr, 0, access, nullptr,
                                                        &key_, nullptr)
                                      : RegOpenKeyExW(HKEY_CURRENT_USER, subKey, 0, access, &key_);
        if (status != ERROR_SUCCESS) {
            key_ = nullptr;
        }
    }
    ~OpenKey()
    {
        if (key_ != nullptr) {
            RegCloseKey(key_);
        }
    }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

RawValue ReadRawFrom(HKEY key, const wchar_t* name)
{
    RawValue value;
    DWORD size = 0;
    if (key == nullptr || RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS) {
        return value;
    }
    value.data.resize(size);
    if (RegQueryValueExW(key, name, nullptr, &value.type, value.data.data(), &size) == ERROR_SUCCESS) {
        value.exists = true;
        value.data.resize(size);
    }
    return value;
}

void Restore(const wchar_t* subKey, const std::wstring& name, const RawValue& saved)
{
    if (saved.exists) {
        WriteRaw(subKey, name.c_str(), saved.type, saved.data.data(), static_cast<DWORD>(saved.data.size()));
    } else {
        DeleteValue(subKey, name.c_str());
    }
}

}  // namespace

bool KeyExists(const wchar_t* subKey)
{
    return OpenKey(subKey, KEY_READ, false).get() != nullptr;
}

void DeleteKey(const wchar_t* subKey)
{
    RegDeleteTreeW(HKEY_CURRENT_USER, subKey);
}

DWORD ValueCount(const wchar_t* subKey)
{
    OpenKey key(subKey, KEY_READ, false);
    DWORD count = 0;
    if (key.get() == nullptr || RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                 &count, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        return 0;
    }
    return count;
}

bool ReadDword(const wchar_t* subKey, const wchar_t* name, DWORD* value)
{
    const RawValue raw = ReadRaw(subKey, name);
    if (!raw.exists || raw.type != REG_DWORD || raw.data.size() != sizeof(DWORD)) {
        return false;
    }
    std::memcpy(value, raw.data.data(), sizeof(DWORD));
    return true;
}

void WriteDword(const wchar_t* subKey, const wchar_t* name, DWORD value)
{
    WriteRaw(subKey, name, REG_DWORD, &value, sizeof(value));
}

void WriteRaw(const wchar_t* subKey, const wchar_t* name, DWORD type, const void* data, DWORD size)
{
    OpenKey key(subKey, KEY_ALL_ACCESS, true);
    RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), size);
}

RawValue ReadRaw(const wchar_t* subKey, const wchar_t* name)
{
    OpenKey key(subKey, KEY_READ, false);
    return ReadRawFrom(key.get(), name);
}

void DeleteValue(const wchar_t* subKey, const wchar_t* name)
{
    OpenKey key(subKey, KEY_ALL_ACCESS, false);
    if (key.get() != nullptr) {
        RegDeleteValueW(key.get(), name);
    }
}

SavedRegistryKey::SavedRegistryKey(const wchar_t* subKey) : subKey_(subKey)
{
    OpenKey key(subKey, KEY_READ, false);
    existed_ = key.get() != nullptr;
    wchar_t name[16384];
    for (DWORD index = 0; existed_; ++index) {
        DWORD length = 16384;
        if (RegEnumValueW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        values_.emplace_back(name, ReadRawFrom(key.get(), name));
    }
}

SavedRegistryKey::~SavedRegistryKey()
{
    DeleteKey(subKey_.c_str());
    if (!existed_) {
        return;
    }
    OpenKey(subKey_.c_str(), KEY_ALL_ACCESS, true);
    for (const auto& [name, value] : values_) {
        Restore(subKey_.c_str(), name, value);
    }
}

SavedRegistryValue::SavedRegistryValue(const wchar_t* subKey, const std::wstring& name)
    : subKey_(subKey), name_(name), saved_(ReadRaw(subKey, name.c_str()))
{
}

SavedRegistryValue::~SavedRegistryValue()
{
    Restore(subKey_.c_str(), name_, saved_);
}

// ---- Processes

namespace {

// The current environment block with extra NAME=value entries in front.
std::vector<wchar_t> EnvironmentWith(const std::vector<std::wstring>& extra)
{
    std::vector<wchar_t> block;
    for (const std::wstring& entry : extra) {
        block.insert(block.end(), entry.begin(), entry.end());
        block.push_back(L'\0');
    }
    wchar_t* current = GetEnvironmentStringsW();
    for (const wchar_t* entry = current; *entry != L'\0'; entry += wcslen(entry) + 1) {
        block.insert(block.end(), entry, entry + wcslen(entry) + 1);
    }
    FreeEnvironmentStringsW(current);
    block.push_back(L'\0');
    return block;
}

BOOL CALLBACK PostCloseToProcessWindow(HWND window, LPARAM processId)
{
    if (WindowProcess(window) == static_cast<DWORD>(processId)) {
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
    return TRUE;
}

}  // namespace

Program Program::Start(const std::wstring& exePath, const std::vector<std::wstring>& extraEnvironment,
                       const std::wstring& errorFile)
{
    std::wstring commandLine = L"\"" + exePath + L"\"";
    std::vector<wchar_t> environment = EnvironmentWith(extraEnvironment);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    HANDLE errors = INVALID_HANDLE_VALUE;
    if (!errorFile.empty()) {
        SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
        errors = CreateFileW(errorFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdError = errors;
    }
    PROCESS_INFORMATION info = {};
    Program program;
    if (CreateProcessW(exePath.c_str(), commandLine.data(), nullptr, nullptr, errors != INVALID_HANDLE_VALUE,
                       CREATE_UNICODE_ENVIRONMENT, environment.data(), nullptr, &startup, &info)) {
        CloseHandle(info.hThread);
        program.handle_ = info.hProcess;
        program.id_ = info.dwProcessId;
    }
    if (errors != INVALID_HANDLE_VALUE) {
        CloseHandle(errors);
    }
    return program;
}

Program Program::Adopt(DWORD processId)
{
    Program program;
    program.handle_ = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE,
                                  processId);
    program.id_ = program.handle_ != nullptr ? processId : 0;
    return program;
}

Program::Program(Program&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), id_(std::exchange(other.id_, 0))
{
}

Program& Program::operator=(Program&& other) noexcept
{
    if (this != &other) {
        Finish();
        handle_ = std::exchange(other.handle_, nullptr);
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

Program::~Program()
{
    Finish();
}

bool Program::Running() const
{
    return handle_ != nullptr && WaitForSingleObject(handle_, 0) == WAIT_TIMEOUT;
}

bool Program::WaitForExit(DWORD* exitCode, DWORD timeoutMs)
{
    if (handle_ == nullptr || WaitForSingleObject(handle_, timeoutMs) != WAIT_OBJECT_0) {
        return false;
    }
    GetExitCodeProcess(handle_, exitCode);
    return true;
}

void Program::Finish()
{
    if (handle_ == nullptr) {
        return;
    }
    if (Running()) {
        EnumWindows(PostCloseToProcessWindow, static_cast<LPARAM>(id_));
        if (WaitForSingleObject(handle_, 10000) != WAIT_OBJECT_0) {
            TerminateProcess(handle_, 1);
            WaitForSingleObject(handle_, 10000);
        }
    }
    CloseHandle(handle_);
    handle_ = nullptr;
    id_ = 0;
}

// ---- Windows

namespace {

struct WindowSearch {
    const wchar_t* className;
    DWORD processId;
    const std::wstring* title;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM lParam)
{
    auto* search = reinterpret_cast<WindowSearch*>(lParam);
    if (!IsWindowVisible(window) || WindowClass(window) != search->className ||
        (search->processId != 0 && WindowProcess(window) != search->processId) ||
        (search->title != nullptr && WindowTitle(window) != *search->title)) {
        return TRUE;
    }
    search->found = window;
    return FALSE;
}

HWND FindWindowBy(const wchar_t* className, DWORD processId, const std::wstring* title)
{
    WindowSearch search{className, processId, title, nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForWindowBy(const wchar_t* className, DWORD processId, const std::wstring* title, DWORD timeoutMs)
{
    HWND window = nullptr;
    WaitUntil([&] { return (window = FindWindowBy(className, processId, title)) != nullptr; }, timeoutMs);
    return window;
}

}  // namespace

HWND FindTopLevelWindow(const wchar_t* className, DWORD processId)
{
    return FindWindowBy(className, processId, nullptr);
}

HWND WaitForMainWindow(DWORD processId, DWORD timeoutMs)
{
    return WaitForWindowBy(L"MORV", processId, nullptr, timeoutMs);
}

HWND WaitForDialog(DWORD processId, const std::wstring& caption, DWORD timeoutMs)
{
    const HWND dialog = WaitForWindowBy(L"#32770", processId, &caption, timeoutMs);
    // A dialog that never came from a program that no longer answers at all
    // is a hang (under Wine: the X11 deadlock the README's Tests section
    // describes), not a missing dialog; say so in the log.
    DWORD_PTR result = 0;
    const HWND main = FindTopLevelWindow(L"MORV", processId);
    if (dialog == nullptr && main != nullptr &&
        SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result) == 0) {
        std::fprintf(stderr, "driver: the program (process %lu) does not answer window messages\n", processId);
    }
    return dialog;
}

DWORD WindowProcess(HWND window)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    return processId;
}

std::wstring WindowTitle(HWND window)
{
    wchar_t title[256] = {};
    GetWindowTextW(window, title, 256);
    return title;
}

std::wstring WindowClass(HWND window)
{
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

RECT WindowRectangle(HWND window)
{
    RECT rect = {};
    GetWindowRect(window, &rect);
    return rect;
}

std::wstring WaitForTitle(HWND window, const std::function<bool(const std::wstring&)>& condition, DWORD timeoutMs)
{
    std::wstring title;
    WaitUntil([&] { return condition(title = WindowTitle(window)); }, timeoutMs);
    return title;
}

void PostCommand(HWND window, WORD commandId)
{
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(commandId, 0), 0);
}

void PostClose(HWND window)
{
    PostMessageW(window, WM_CLOSE, 0, 0);
}

void PostSystemClose(HWND window)
{
    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
}

// ---- Pixels

Snapshot CaptureClient(HWND window)
{
    Snapshot snapshot;
    RECT client = {};
    GetClientRect(window, &client);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    snapshot.width = client.right;
    snapshot.height = client.bottom;
    if (snapshot.width <= 0 || snapshot.height <= 0) {
        return snapshot;
    }

    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = snapshot.width;
    info.bmiHeader.biHeight = -snapshot.height;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, snapshot.width, snapshot.height, screen, origin.x, origin.y, SRCCOPY);
    GdiFlush();

    // DIB pixels are 0x00RRGGBB; COLORREF is 0x00BBGGRR.
    const auto* source = static_cast<const std::uint32_t*>(bits);
    snapshot.pixels.resize(static_cast<size_t>(snapshot.width) * snapshot.height);
    for (size_t i = 0; i < snapshot.pixels.size(); ++i) {
        const std::uint32_t p = source[i];
        snapshot.pixels[i] = RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return snapshot;
}

double ShareOfColour(const Snapshot& snapshot, COLORREF colour, int tolerance)
{
    if (snapshot.pixels.empty()) {
        return 0.0;
    }
    size_t matching = 0;
    for (COLORREF pixel : snapshot.pixels) {
        if (std::abs(GetRValue(pixel) - GetRValue(colour)) <= tolerance &&
            std::abs(GetGValue(pixel) - GetGValue(colour)) <= tolerance &&
            std::abs(GetBValue(pixel) - GetBValue(colour)) <= tolerance) {
            ++matching;
        }
    }
    return static_cast<double>(matching) / static_cast<double>(snapshot.pixels.size());
}

// ---- The program, ready to drive

App::App(const std::wstring& directoryName)
    : path_(CopyProgram(MakeTempDirectory(directoryName))),
      errorFile_(DirectoryOf(path_) + L"\\stderr.txt"),
      mark_(LayersKey, path_)
{
    WriteRaw(LayersKey, path_.c_str(), REG_SZ, HighDpiMark, sizeof(HighDpiMark));
    Start();
}

App::~App()
{
    process_ = Program();
    // Under Wine an ended process can hold its standard error a moment longer.
    WaitUntil(
        [&] {
            DeleteFileW(path_.c_str());
            DeleteFileW(errorFile_.c_str());
            return RemoveDirectoryW(DirectoryOf(path_).c_str()) != 0;
        },
        10000);
}

void App::Start()
{
    process_ = Program::Start(path_, {}, errorFile_);
    window_ = WaitForMainWindow(process_.Id());
}

std::string App::ErrorOutput() const
{
    std::string text;
    HANDLE file = CreateFileW(errorFile_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return text;
    }
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        text.append(buffer, read);
    }
    CloseHandle(file);
    return text;
}

bool App::Close(DWORD* exitCode)
{
    PostClose(window_);
    return process_.WaitForExit(exitCode);
}

}  // namespace driver
