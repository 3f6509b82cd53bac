#include <gtest/gtest.h>

#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/compat_mark.h"
#include "driver.h"

using driver::App;
using driver::HighDpiMark;
using driver::LayersKey;
using driver::Program;
using driver::SettingsKey;

namespace {

const wchar_t TestLayersValue[] = L"C:\\tixabo tests\\compat mark\\tixabo.exe";

std::wstring LayersText(const std::wstring& exePath)
{
    const driver::RawValue raw = driver::ReadRaw(LayersKey, exePath.c_str());
    if (!raw.exists || raw.type != REG_SZ) {
        return L"<missing or not REG_SZ>";
    }
    return std::wstring(reinterpret_cast<const wchar_t*>(raw.data.data()), raw.data.size() / sizeof(wchar_t));
}

// Exactly the mark: REG_SZ, 15 characters with the terminator, 30 bytes.
std::wstring ExactMark()
{
    return std::wstring(HighDpiMark, wcslen(HighDpiMark) + 1);
}

void WriteLayersText(const std::wstring& exePath, const std::wstring& text, bool withTerminator = true)
{
    const DWORD bytes = static_cast<DWORD>((text.size() + (withTerminator ? 1 : 0)) * sizeof(wchar_t));
    driver::WriteRaw(LayersKey, exePath.c_str(), REG_SZ, text.c_str(), bytes);
}

std::wstring ProcessImage(DWORD processId)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    wchar_t path[MAX_PATH * 2] = {};
    DWORD size = MAX_PATH * 2;
    QueryFullProcessImageNameW(process, 0, path, &size);
    CloseHandle(process);
    return path;
}

// ---- The mark itself, on the real registry

class CompatMarkValue : public ::testing::Test {
protected:
    driver::SavedRegistryValue saved_{LayersKey, TestLayersValue};
};

TEST_F(CompatMarkValue, MissingValueIsWrittenExactlyThenFoundSet)
{
    driver::DeleteValue(LayersKey, TestLayersValue);
    EXPECT_EQ(EnsureCompatMark(TestLayersValue), CompatMark::Written);
    EXPECT_EQ(LayersText(TestLayersValue), ExactMark());
    EXPECT_EQ(driver::ReadRaw(LayersKey, TestLayersValue).data.size(), 30u);
    EXPECT_EQ(EnsureCompatMark(TestLayersValue), CompatMark::AlreadySet);
}

// Other flags are replaced, not merged; the comparison is exact and case-sensitive.
TEST_F(CompatMarkValue, AnyOtherTextIsOverwrittenWithExactlyTheMark)
{
    for (const wchar_t* text : {L"~ HIGHDPIAWARE DISABLEDXMAXIMIZEDWINDOWEDMODE", L"~ highdpiaware", L"~ HIGHDPI", L""}) {
        WriteLayersText(TestLayersValue, text);
        EXPECT_EQ(EnsureCompatMark(TestLayersValue), CompatMark::Written) << text;
        EXPECT_EQ(LayersText(TestLayersValue), ExactMark()) << text;
    }
}

TEST_F(CompatMarkValue, DataWithoutTerminatorCountsAsSet)
{
    WriteLayersText(TestLayersValue, L"~ HIGHDPIAWARE", false);
    EXPECT_EQ(EnsureCompatMark(TestLayersValue), CompatMark::AlreadySet);
}

TEST(CompatRestartFlag, IsTakenOnceAndRemovedFromTheEnvironment)
{
    SetEnvironmentVariableW(CompatRestartVariable, L"1");
    EXPECT_TRUE(TakeCompatRestartFlag());
    EXPECT_EQ(GetEnvironmentVariableW(CompatRestartVariable, nullptr, 0), 0u);
    EXPECT_FALSE(TakeCompatRestartFlag());
}

// ---- Start-up and restart, end to end

// A copy of the program in a fresh directory whose Layers value is put back afterwards.
struct FreshCopy {
    explicit FreshCopy(const std::wstring& directoryName, const std::wstring& fileName = L"tixabo.exe")
        : path(driver::CopyProgram(driver::MakeTempDirectory(directoryName), fileName)), mark(LayersKey, path)
    {
        driver::DeleteValue(LayersKey, path.c_str());
    }
    std::wstring path;
    driver::SavedRegistryValue mark;
};

class StartUp : public ::testing::Test {
protected:
    StartUp() { driver::DeleteKey(SettingsKey); }
    driver::SavedRegistryKey settings_{SettingsKey};
};

// The first process marks its path, restarts and waits; the window belongs to
// the second, and both end with 0 once it is closed.
void ExpectOneRestart(const std::wstring& path)
{
    Program first = Program::Start(path);
    ASSERT_TRUE(first.Valid());
    const HWND window = driver::WaitForMainWindow();
    ASSERT_NE(window, nullptr);
    const DWORD owner = driver::WindowProcess(window);
    EXPECT_NE(owner, first.Id());
    Program second = Program::Adopt(owner);
    EXPECT_EQ(ProcessImage(owner), path);
    EXPECT_EQ(LayersText(path), ExactMark());
    EXPECT_TRUE(first.Running());  // waits for the second

    driver::PostClose(window);
    DWORD code = 1;
    ASSERT_TRUE(second.WaitForExit(&code));
    EXPECT_EQ(code, 0u);
    code = 1;
    ASSERT_TRUE(first.WaitForExit(&code));
    EXPECT_EQ(code, 0u);
}

// The started process shows the window itself; closing it ends it with 0.
void ExpectNoRestart(Program& program)
{
    ASSERT_TRUE(program.Valid());
    HWND window = driver::WaitForMainWindow(program.Id());
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(driver::FindTopLevelWindow(L"MORV"), window);  // no second instance
    driver::PostClose(window);
    DWORD code = 1;
    ASSERT_TRUE(program.WaitForExit(&code));
    EXPECT_EQ(code, 0u);
}

TEST_F(StartUp, FirstRunFromAPathMarksAndRestartsOnceAndTheSecondRunDoesNot)
{
    FreshCopy copy(L"first run");
    ExpectOneRestart(copy.path);
    Program again = Program::Start(copy.path);
    ExpectNoRestart(again);
    EXPECT_EQ(LayersText(copy.path), ExactMark());
}

TEST_F(StartUp, APathWithBlanksRestartsThisProgramAndNoOther)
{
    // Unquoted, "<dir>\decoy dir\tixabo.exe" would start "<dir>\decoy.exe".
    const std::wstring directory = driver::MakeTempDirectory(L"blank path");
    const std::wstring decoy = driver::CopyProgram(directory, L"decoy.exe");
    driver::SavedRegistryValue decoyMark(LayersKey, decoy);
    WriteLayersText(decoy, HighDpiMark);
    CreateDirectoryW((directory + L"\\decoy dir").c_str(), nullptr);
    const std::wstring path = driver::CopyProgram(directory + L"\\decoy dir", L"tixabo app.exe");
    driver::SavedRegistryValue mark(LayersKey, path);
    driver::DeleteValue(LayersKey, path.c_str());

    ExpectOneRestart(path);
}

TEST_F(StartUp, AMarkWithOtherFlagsIsOverwrittenAndRestarts)
{
    FreshCopy copy(L"other flags");
    WriteLayersText(copy.path, L"~ HIGHDPIAWARE DISABLETHEMES");
    ExpectOneRestart(copy.path);
}

TEST_F(StartUp, AnInstanceStartedByTheRestartNeverRestartsForTheMark)
{
    FreshCopy copy(L"bounded restart");
    Program restarted = Program::Start(copy.path, {std::wstring(CompatRestartVariable) + L"=1"});
    ExpectNoRestart(restarted);
    EXPECT_EQ(LayersText(copy.path), ExactMark());  // still marked for the next launch
}

TEST_F(StartUp, APathTooLongForTheBufferStartsWithoutMarkOrRestart)
{
    std::wstring directory = driver::MakeTempDirectory(L"long path");
    while (directory.size() < 270) {
        directory += L"\\" + std::wstring(40, L'd');
        CreateDirectoryW((L"\\\\?\\" + directory).c_str(), nullptr);
    }
    const std::wstring path = directory + L"\\tixabo.exe";
    CopyFileW(driver::BuiltProgram().c_str(), (L"\\\\?\\" + path).c_str(), FALSE);
    const DWORD valuesBefore = driver::ValueCount(LayersKey);

    Program program = Program::Start(path);
    if (!program.Valid()) {
        GTEST_SKIP() << "this system cannot start a program from a path of " << path.size() << " characters";
    }
    ExpectNoRestart(program);
    EXPECT_EQ(driver::ValueCount(LayersKey), valuesBefore);  // no mark under a cut-short name
}

// ---- The running program

class RunningApp : public ::testing::Test {
protected:
    RunningApp() { driver::DeleteKey(SettingsKey); }
    driver::SavedRegistryKey settings_{SettingsKey};
};

TEST_F(RunningApp, TitleStartsWithDefaultsThenShowsTheFrameRate)
{
    App app;
    ASSERT_NE(app.Window(), nullptr);
    EXPECT_EQ(driver::WindowTitle(app.Window()), L"Tixabo(周期: 100000微妙 VSync:On FPS:0)");
    const std::wstring title = driver::WaitForTitle(app.Window(), [](const std::wstring& text) {
        return text.find(L"FPS:0)") == std::wstring::npos;
    });
    EXPECT_EQ(title.rfind(L"Tixabo(周期: 100000微妙 VSync:On FPS:", 0), 0u) << "title: " << title.size();
    const int fps = std::stoi(title.substr(title.find(L"FPS:") + 4));
    EXPECT_GT(fps, 0);
    // A 100 ms period starts at most ten frames a second; the first window
    // counts one frame more, and slow software frames can bunch its end
    // readings closer together than their starts.
    EXPECT_LE(fps, 15);
}

TEST_F(RunningApp, TitleShowsStoredPeriodAndAnyNonZeroVSyncAsOn)
{
    driver::WriteDword(SettingsKey, L"IntervalMicroSecs", 16666);
    driver::WriteDword(SettingsKey, L"VSyncMode", 5);
    App app;
    ASSERT_NE(app.Window(), nullptr);
    EXPECT_EQ(driver::WindowTitle(app.Window()).rfind(L"Tixabo(周期: 16666微妙 VSync:On FPS:", 0), 0u);
}

TEST_F(RunningApp, TitleShowsVSyncOff)
{
    driver::WriteDword(SettingsKey, L"VSyncMode", 0);
    App app;
    ASSERT_NE(app.Window(), nullptr);
    EXPECT_EQ(driver::WindowTitle(app.Window()).rfind(L"Tixabo(周期: 100000微妙 VSync:Off FPS:", 0), 0u);
}

TEST_F(RunningApp, WindowHasItsClassSizeAndPosition)
{
    App app;
    ASSERT_NE(app.Window(), nullptr);
    EXPECT_EQ(driver::WindowClass(app.Window()), L"MORV");
    const RECT rect = driver::WindowRectangle(app.Window());
    EXPECT_EQ(rect.left, 200);
    EXPECT_EQ(rect.top, 10);
    EXPECT_EQ(rect.right - rect.left, 1320);
    EXPECT_EQ(rect.bottom - rect.top, 780);
    EXPECT_NE(GetWindowLongPtrW(app.Window(), GWL_STYLE) & WS_OVERLAPPEDWINDOW, 0);
}

TEST_F(RunningApp, StartingCreatesTheSettingsKeyWithoutValues)
{
    App app;
    ASSERT_NE(app.Window(), nullptr);
    EXPECT_TRUE(driver::KeyExists(SettingsKey));
    EXPECT_EQ(driver::ValueCount(SettingsKey), 0u);
}

TEST_F(RunningApp, TheClockDrawsAndKeepsChanging)
{
    App app;
    ASSERT_NE(app.Window(), nullptr);
    const COLORREF black = RGB(0, 0, 0);
    const COLORREF cyan = RGB(15, 255, 255);
    driver::Snapshot first;
    ASSERT_TRUE(driver::WaitUntil([&] {
        first = driver::CaptureClient(app.Window());
        return driver::ShareOfColour(first, black) > 0.5 && driver::ShareOfColour(first, cyan, 40) > 0.001;
    })) << "black background with cyan drawing expected";
    EXPECT_TRUE(driver::WaitUntil([&] { return !(driver::CaptureClient(app.Window()) == first); }));
}

TEST_F(RunningApp, ClosingTheWindowEndsTheProcessWithZero)
{
    App app;
    ASSERT_NE(app.Window(), nullptr);
    DWORD code = 1;
    ASSERT_TRUE(app.Close(&code));
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(app.ErrorOutput(), "");
}

// A close can come while the timer thread is inside a pass; the process must
// still end with 0 and no fault. At period 0 passes run back to back; at one
// second a pass fills a small part of the period, so each cycle closes at
// another phase of it (the pause sets the phase, it waits for nothing). The
// four settings run side by side, each copy reading its own at start: eight
// rounds make 32 closes, each setting closed at eight phases.
TEST_F(RunningApp, EveryCloseEndsWithZeroAndNoFault)
{
    constexpr int kCycles = 8;
    constexpr DWORD kPhaseStepMs = 1000 / kCycles;
    struct Setting {
        DWORD periodMicroSecs;
        DWORD vsync;
        const wchar_t* titleStart;
    };
    const Setting settings[] = {{0, 0, L"Tixabo(周期: 0微妙 VSync:Off"},
                                {0, 1, L"Tixabo(周期: 0微妙 VSync:On"},
                                {1000000, 0, L"Tixabo(周期: 1000000微妙 VSync:Off"},
                                {1000000, 1, L"Tixabo(周期: 1000000微妙 VSync:On"}};
    std::vector<std::unique_ptr<App>> apps;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        SCOPED_TRACE(testing::Message() << "cycle " << cycle);
        for (size_t i = 0; i < std::size(settings); ++i) {
            driver::WriteDword(SettingsKey, L"IntervalMicroSecs", settings[i].periodMicroSecs);
            driver::WriteDword(SettingsKey, L"VSyncMode", settings[i].vsync);
            if (cycle == 0) {
                apps.push_back(std::make_unique<App>(L"closing"));
            } else {
                apps[i]->Start();
            }
            ASSERT_NE(apps[i]->Window(), nullptr)
                << "setting " << i << ", process " << (apps[i]->Process().Running() ? "running" : "gone");
            ASSERT_EQ(driver::WindowTitle(apps[i]->Window()).rfind(settings[i].titleStart, 0), 0u);
        }
        for (const auto& app : apps) {
            ASSERT_TRUE(driver::WaitUntil([&] {
                return driver::ShareOfColour(driver::CaptureClient(app->Window()), RGB(0, 0, 0)) > 0.5;
            })) << "no frame drawn";
        }
        Sleep(static_cast<DWORD>(cycle) * kPhaseStepMs);
        for (const auto& app : apps) {
            if (cycle % 2 == 0) {
                driver::PostClose(app->Window());
            } else {
                driver::PostSystemClose(app->Window());
            }
        }
        for (size_t i = 0; i < apps.size(); ++i) {
            DWORD code = 1;
            ASSERT_TRUE(apps[i]->Process().WaitForExit(&code));
            EXPECT_EQ(code, 0u) << "period " << settings[i].periodMicroSecs << " us, VSync " << settings[i].vsync;
            EXPECT_EQ(apps[i]->ErrorOutput(), "") << "period " << settings[i].periodMicroSecs << " us";
        }
    }
}

}  // namespace
