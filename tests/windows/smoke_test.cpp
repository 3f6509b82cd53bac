// One pass through what a user of the shipped program sees first: the first
// start marks and restarts, the clock draws, a colour command redraws, the
// status report opens and closing ends both processes with 0. Short on
// purpose: it also runs where a frame takes seconds (the 32-bit program under
// an emulator, see scripts/win32-env); the other test programs go deeper.

#include <gtest/gtest.h>

#include <string>

#include "driver.h"
#include "resource.h"

namespace {

using driver::Program;

// Under the emulator a frame takes 2-5 s and, in a fresh Wine prefix, the
// first one much longer; on a loaded machine longer still.
constexpr DWORD SlowPatienceMs = 4 * driver::Patience;

TEST(ShippedProgram, StartsOnceMoreDrawsAnswersAndCloses)
{
    driver::SavedRegistryKey settings(driver::SettingsKey);
    driver::DeleteKey(driver::SettingsKey);
    const std::wstring path = driver::CopyProgram(driver::MakeTempDirectory(L"tixabo smoke"));
    driver::SavedRegistryValue mark(driver::LayersKey, path);
    driver::DeleteValue(driver::LayersKey, path.c_str());

    Program first = Program::Start(path);
    ASSERT_TRUE(first.Valid());
    const HWND window = driver::WaitForMainWindow(0, SlowPatienceMs);
    ASSERT_NE(window, nullptr) << "no window";
    Program second = Program::Adopt(driver::WindowProcess(window));
    EXPECT_NE(second.Id(), first.Id()) << "the first start did not restart";
    EXPECT_TRUE(first.Running());
    const driver::RawValue written = driver::ReadRaw(driver::LayersKey, path.c_str());
    EXPECT_EQ(written.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(written.data.data()), written.data.size() / sizeof(wchar_t)),
              std::wstring(driver::HighDpiMark) + L'\0');

    EXPECT_EQ(driver::WindowTitle(window).rfind(L"Tixabo(周期: 100000微妙 VSync:On FPS:", 0), 0u);
    const COLORREF cyan = RGB(15, 255, 255);
    EXPECT_TRUE(driver::WaitUntil([&] {
        const driver::Snapshot frame = driver::CaptureClient(window);
        return driver::ShareOfColour(frame, RGB(0, 0, 0)) > 0.5 && driver::ShareOfColour(frame, cyan, 40) > 0.001;
    }, SlowPatienceMs)) << "no black frame with the cyan clock";

    driver::PostCommand(window, CMD_BG_RED);
    EXPECT_TRUE(driver::WaitUntil([&] {
        const driver::Snapshot frame = driver::CaptureClient(window);
        return driver::ShareOfColour(frame, RGB(255, 0, 0)) > 0.5 && driver::ShareOfColour(frame, cyan, 40) > 0.001;
    }, SlowPatienceMs)) << "the red background was not drawn";

    driver::PostCommand(window, CMD_STATUS);
    const HWND report = driver::WaitForDialog(second.Id(), L"状态统计", SlowPatienceMs);
    ASSERT_NE(report, nullptr) << "no status report";
    PostMessageW(report, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(driver::WaitUntil([&] { return !IsWindow(report); }, SlowPatienceMs));

    driver::PostClose(window);
    DWORD code = 1;
    ASSERT_TRUE(second.WaitForExit(&code, SlowPatienceMs));
    EXPECT_EQ(code, 0u);
    code = 1;
    ASSERT_TRUE(first.WaitForExit(&code, SlowPatienceMs));
    EXPECT_EQ(code, 0u);
}

}  // namespace
