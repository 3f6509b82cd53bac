// Drives the real program through its menu commands, accelerators and dialogs
// as a user would, and checks the stored settings, the title, the menu's
// check marks (as drawn) and the window's pixels.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>
#include <tlhelp32.h>

#include "display/scene.h"
#include "driver.h"
#include "resource.h"

namespace {

using driver::App;
using driver::SettingsKey;
using driver::WaitUntil;

// ---- settings ---------------------------------------------------------------

struct Settings {
    DWORD interval = 100000;
    DWORD bgColor = 1;
    DWORD displayMode = 1;
    DWORD vsync = 0;
};

void StoreSettings(const Settings& settings)
{
    driver::WriteDword(SettingsKey, L"IntervalMicroSecs", settings.interval);
    driver::WriteDword(SettingsKey, L"BgColor", settings.bgColor);
    driver::WriteDword(SettingsKey, L"DisplayMode", settings.displayMode);
    driver::WriteDword(SettingsKey, L"VSyncMode", settings.vsync);
}

DWORD Stored(const wchar_t* name)
{
    DWORD value = 0xDEADBEEF;
    driver::ReadDword(SettingsKey, name, &value);
    return value;
}

bool StoredEquals(const wchar_t* name, DWORD expected)
{
    return WaitUntil([&] { return Stored(name) == expected; });
}

// ---- windows of the program ---------------------------------------------------

struct ChildSearch {
    const wchar_t* prefix;
    std::wstring text;
};

BOOL CALLBACK MatchChildText(HWND child, LPARAM lParam)
{
    auto* search = reinterpret_cast<ChildSearch*>(lParam);
    const std::wstring text = driver::WindowTitle(child);
    if (text.rfind(search->prefix, 0) != 0) {
        return TRUE;
    }
    search->text = text;
    return FALSE;
}

// The text of the dialog's first child whose text starts with prefix.
std::wstring ChildTextStartingWith(HWND dialog, const wchar_t* prefix)
{
    ChildSearch search{prefix, L""};
    EnumChildWindows(dialog, MatchChildText, reinterpret_cast<LPARAM>(&search));
    return search.text;
}

std::wstring ControlText(HWND control)
{
    wchar_t text[64] = {};
    SendMessageW(control, WM_GETTEXT, 64, reinterpret_cast<LPARAM>(text));
    return text;
}

// Presses a button of a dialog the way the button itself reports a click.
void PressButton(HWND dialog, int id)
{
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

bool Closed(HWND window)
{
    return WaitUntil([&] { return !IsWindow(window) || !IsWindowVisible(window); });
}

// The period shown in the title, or -1 when the title does not hold one.
long long TitlePeriod(HWND window)
{
    long long period = -1;
    std::swscanf(driver::WindowTitle(window).c_str(), L"Tixabo(周期: %lld", &period);
    return period;
}

long long TitleFrameRate(HWND window)
{
    const std::wstring title = driver::WindowTitle(window);
    const std::size_t at = title.find(L"FPS:");
    return at == std::wstring::npos ? -1 : std::wcstoll(title.c_str() + at + 4, nullptr, 10);
}

// ---- keyboard -------------------------------------------------------------------

void SendKey(WORD key, bool up)
{
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof(input));
    Sleep(30);  // lets the target's queue see the keys one at a time
}

// Holds the modifiers, taps the key, releases in reverse order.
void Chord(std::vector<WORD> modifiers, WORD key)
{
    for (WORD modifier : modifiers) {
        SendKey(modifier, false);
    }
    SendKey(key, false);
    SendKey(key, true);
    for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it) {
        SendKey(*it, true);
    }
}

bool BringToFront(HWND window)
{
    return WaitUntil([&] {
        SetForegroundWindow(window);
        return GetForegroundWindow() == window;
    });
}

// Alt together with the key that types character on this keyboard layout.
void AltCharacter(wchar_t character)
{
    const SHORT scan = VkKeyScanW(character);
    std::vector<WORD> modifiers = {VK_MENU};
    if (HIBYTE(scan) & 1) {
        modifiers.push_back(VK_SHIFT);
    }
    Chord(modifiers, LOBYTE(scan));
}

// ---- pixels -----------------------------------------------------------------------

COLORREF ToColorRef(const Colour& colour)
{
    const auto channel = [](float value) { return static_cast<BYTE>(std::lround(value * 255.0f)); };
    return RGB(channel(colour.red), channel(colour.green), channel(colour.blue));
}

bool Differs(COLORREF a, COLORREF b, int threshold)
{
    return std::abs(GetRValue(a) - GetRValue(b)) > threshold || std::abs(GetGValue(a) - GetGValue(b)) > threshold ||
           std::abs(GetBValue(a) - GetBValue(b)) > threshold;
}

bool MostlyColour(HWND window, COLORREF colour)
{
    return driver::ShareOfColour(driver::CaptureClient(window), colour) > 0.5;
}

// Runs of rows below the ruler that hold text on a black background.
int TextBands(HWND window)
{
    constexpr int kBelowRuler = 70;
    const driver::Snapshot shot = driver::CaptureClient(window);
    int bands = 0;
    bool inBand = false;
    for (int y = kBelowRuler; y < shot.height; ++y) {
        bool ink = false;
        for (int x = 0; x < shot.width && !ink; ++x) {
            ink = Differs(shot.At(x, y), RGB(0, 0, 0), 96);
        }
        bands += ink && !inBand ? 1 : 0;
        inBand = ink;
    }
    return bands;
}

// ---- the test program's view of the running program --------------------------------

class MenuTest : public ::testing::Test {
protected:
    void Start(const Settings& settings)
    {
        StoreSettings(settings);
        app_ = std::make_unique<App>(L"tixabo menu");
        ASSERT_NE(Window(), nullptr) << "the program did not show its window";
    }

    HWND Window() const { return app_->Window(); }
    DWORD Pid() const { return app_->Process().Id(); }

    HWND OpenDialog(WORD command, const wchar_t* caption)
    {
        driver::PostCommand(Window(), command);
        return driver::WaitForDialog(Pid(), caption);
    }

    // The status report's text; the box is closed again.
    std::wstring StatusReport()
    {
        const HWND box = OpenDialog(CMD_STATUS, L"状态统计");
        if (box == nullptr) {
            return L"";
        }
        const std::wstring text = ChildTextStartingWith(box, L"Elapsed:");
        PressButton(box, IDOK);
        EXPECT_TRUE(Closed(box));
        return text;
    }

    // Types text into the interval box and presses OK; false if the dialog
    // did not come and go.
    bool EnterPeriod(const wchar_t* text)
    {
        const HWND dialog = OpenDialog(CMD_SETTINGS, L"设置刷新时间间隔");
        if (dialog == nullptr) {
            return false;
        }
        const HWND combo = GetDlgItem(dialog, IDC_INTERVAL_COMBO);
        SendMessageW(combo, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
        EXPECT_EQ(ControlText(combo), text) << "the box did not take the text";
        PressButton(dialog, IDOK);
        return Closed(dialog);
    }

    // Which items of the pop-up at barPosition show a check mark, read from
    // the drawn menu after opening it with the keyboard (which sends
    // WM_INITMENU first). The first `rows` items are read, and with
    // lastAfterSeparator also the last item below a separator.
    std::vector<bool> CheckMarks(int barPosition, int rows, bool lastAfterSeparator = false)
    {
        std::vector<bool> marks;
        const driver::Snapshot shot = OpenedMenuSnapshot(barPosition);
        // Opened by the keyboard, the first item is highlighted: its band
        // gives the top margin and the height of every text item.
        const MenuRow first = HighlightedRow(shot);
        if (first.height < 8) {
            ADD_FAILURE() << "no menu item highlighted";
            return marks;
        }
        std::vector<int> tops;
        for (int row = 0; row < rows; ++row) {
            tops.push_back(first.top + row * first.height);
        }
        if (lastAfterSeparator) {
            tops.push_back(shot.height - first.top - first.height);
        }
        // Text starts at the same x in every row; a check mark lies left of it.
        std::vector<int> inkStarts;
        for (int top : tops) {
            inkStarts.push_back(LeftmostInk(shot, top, first.height));
        }
        const int textStart = *std::max_element(inkStarts.begin(), inkStarts.end());
        for (int inkStart : inkStarts) {
            marks.push_back(inkStart < textStart - 2);
        }
        return marks;
    }

    std::vector<bool> ColourMarks() { return CheckMarks(0, 8); }
    // 多行, 单行, VSync同步.
    std::vector<bool> ModeMarks() { return CheckMarks(1, 2, true); }

    std::unique_ptr<App> app_;
    driver::SavedRegistryKey savedSettings_{SettingsKey};

private:
    struct MenuRow {
        int top = 0;
        int height = 0;
    };

    driver::Snapshot OpenedMenuSnapshot(int barPosition)
    {
        if (!BringToFront(Window())) {
            ADD_FAILURE() << "the window cannot be brought to the front";
            return {};
        }
        Chord({}, VK_MENU);
        for (int i = 0; i < barPosition; ++i) {
            Chord({}, VK_RIGHT);
        }
        Chord({}, VK_DOWN);
        HWND popup = nullptr;
        WaitUntil([&] { return (popup = driver::FindTopLevelWindow(L"#32768", Pid())) != nullptr; });
        if (popup == nullptr) {
            ADD_FAILURE() << "the menu did not open";
            return {};
        }
        Sleep(300);  // the pop-up is shown before it has been painted
        const driver::Snapshot shot = driver::CaptureClient(popup);
        Chord({}, VK_ESCAPE);
        Chord({}, VK_ESCAPE);
        EXPECT_TRUE(WaitUntil([&] { return driver::FindTopLevelWindow(L"#32768", Pid()) == nullptr; }));
        return shot;
    }

    // The first run of rows, at least a few high, whose colour right of the
    // text differs from the menu's own background.
    static MenuRow HighlightedRow(const driver::Snapshot& shot)
    {
        MenuRow row;
        if (shot.pixels.empty()) {
            return row;
        }
        const int x = shot.width * 7 / 8;
        const COLORREF background = shot.At(x, shot.height / 2);
        for (int y = 0; y < shot.height; ++y) {
            if (!Differs(shot.At(x, y), background, 40)) {
                if (row.height >= 8) {
                    break;
                }
                row = {y + 1, 0};
                continue;
            }
            ++row.height;
        }
        return row;
    }

    // Leftmost x, past the highlight's edge, of a pixel that stands out from
    // the row's own background (taken right of the text); the row's width if none.
    static int LeftmostInk(const driver::Snapshot& shot, int top, int height)
    {
        const COLORREF background = shot.At(shot.width * 7 / 8, top + height / 2);
        int leftmost = shot.width;
        for (int y = std::max(top, 0); y < top + height && y < shot.height; ++y) {
            for (int x = 4; x < leftmost; ++x) {
                if (Differs(shot.At(x, y), background, 96)) {
                    leftmost = x;
                }
            }
        }
        return leftmost;
    }
};

std::vector<bool> OnlyMarked(std::size_t count, int index)
{
    std::vector<bool> marks(count, false);
    if (index >= 0 && static_cast<std::size_t>(index) < count) {
        marks[static_cast<std::size_t>(index)] = true;
    }
    return marks;
}

// ---- colours and modes ------------------------------------------------------------------

TEST_F(MenuTest, ColourCommandsStoreMarkAndRedrawAtOnce)
{
    // A period of 100 s: after the first tick nothing redraws but the command itself.
    ASSERT_NO_FATAL_FAILURE(Start({100000000, 7, 1, 0}));
    const std::vector<bool> initial = ColourMarks();
    EXPECT_EQ(initial, OnlyMarked(8, 7));

    driver::PostCommand(Window(), CMD_BG_AUTO);
    EXPECT_TRUE(StoredEquals(L"BgColor", 0));
    EXPECT_TRUE(WaitUntil([&] { return !MostlyColour(Window(), ToColorRef(ColourTable[6])); }))
        << "the automatic colour was not drawn over the grey";
    EXPECT_EQ(ColourMarks(), OnlyMarked(8, 0));

    for (int colour = 1; colour <= 7; ++colour) {
        SCOPED_TRACE(testing::Message() << "BgColor " << colour);
        driver::PostCommand(Window(), static_cast<WORD>(CMD_BG_AUTO + colour));
        EXPECT_TRUE(StoredEquals(L"BgColor", static_cast<DWORD>(colour)));
        EXPECT_TRUE(WaitUntil([&] { return MostlyColour(Window(), ToColorRef(ColourTable[colour - 1])); }));
        EXPECT_EQ(ColourMarks(), OnlyMarked(8, colour));
    }
    // Every save writes all four values.
    EXPECT_EQ(Stored(L"IntervalMicroSecs"), 100000000u);
    EXPECT_EQ(Stored(L"DisplayMode"), 1u);
    EXPECT_EQ(Stored(L"VSyncMode"), 0u);
}

TEST_F(MenuTest, ModeCommandsStoreMarkAndChangeTheLayoutByTheNextTick)
{
    ASSERT_NO_FATAL_FAILURE(Start({200000, 1, 1, 1}));
    EXPECT_EQ(ModeMarks(), (std::vector<bool>{false, true, true}));
    EXPECT_TRUE(WaitUntil([&] { return TextBands(Window()) == 1; })) << "single line expected";

    driver::PostCommand(Window(), CMD_MODE_MULTI);
    EXPECT_TRUE(StoredEquals(L"DisplayMode", 0));
    EXPECT_TRUE(WaitUntil([&] { return TextBands(Window()) >= 3; })) << "several lines expected";
    EXPECT_EQ(ModeMarks(), (std::vector<bool>{true, false, true}));

    driver::PostCommand(Window(), CMD_MODE_SINGLE);
    EXPECT_TRUE(StoredEquals(L"DisplayMode", 1));
    EXPECT_TRUE(WaitUntil([&] { return TextBands(Window()) == 1; })) << "single line expected";
    EXPECT_EQ(ModeMarks(), (std::vector<bool>{false, true, true}));
    EXPECT_EQ(Stored(L"BgColor"), 1u);
}

TEST_F(MenuTest, OutOfRangeSettingsMarkNoItemOfAnotherKind)
{
    // A colour of 8 would otherwise mark 多行 (113 + 8), a mode of -1 灰色 (121 - 1).
    // Any VSync value but 0 means on.
    ASSERT_NO_FATAL_FAILURE(Start({100000, 8, static_cast<DWORD>(-1), static_cast<DWORD>(-1)}));
    EXPECT_EQ(ColourMarks(), OnlyMarked(8, -1));
    EXPECT_EQ(ModeMarks(), (std::vector<bool>{false, false, true}));
}

// ---- interval dialog --------------------------------------------------------------------

TEST_F(MenuTest, IntervalDialogOffersTheTenPresetsAndShowsTheStoredPeriod)
{
    ASSERT_NO_FATAL_FAILURE(Start({100000, 1, 1, 0}));
    // Stored behind the program's back: opening the dialog reloads it.
    driver::WriteDword(SettingsKey, L"IntervalMicroSecs", 123456);
    const HWND dialog = OpenDialog(CMD_SETTINGS, L"设置刷新时间间隔");
    ASSERT_NE(dialog, nullptr);
    const HWND combo = GetDlgItem(dialog, IDC_INTERVAL_COMBO);
    const wchar_t* presets[] = {L"1000",  L"1666",  L"3333",   L"5000",   L"5553",
                                L"16666", L"50000", L"100000", L"500000", L"1000000"};
    ASSERT_EQ(SendMessageW(combo, CB_GETCOUNT, 0, 0), 10);
    for (int i = 0; i < 10; ++i) {
        wchar_t text[32] = {};
        SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        EXPECT_STREQ(text, presets[i]) << "preset " << i;
    }
    EXPECT_EQ(ControlText(combo), L"123456");

    // Cancel saves nothing: a value removed meanwhile stays removed.
    driver::DeleteValue(SettingsKey, L"BgColor");
    SendMessageW(combo, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"777"));
    PressButton(dialog, IDCANCEL);
    ASSERT_TRUE(Closed(dialog));
    EXPECT_EQ(Stored(L"IntervalMicroSecs"), 123456u);
    EXPECT_EQ(Stored(L"BgColor"), 0xDEADBEEFu);
    // The reloaded period is the one that runs and shows.
    EXPECT_TRUE(WaitUntil([&] { return TitlePeriod(Window()) == 123456; })) << driver::WindowTitle(Window());
}

TEST_F(MenuTest, IntervalDialogTakesALeadingNumberAndRefusesTheRest)
{
    ASSERT_NO_FATAL_FAILURE(Start({100000, 1, 1, 0}));
    struct Case {
        const wchar_t* typed;
        long long period;  // -1: unchanged
    };
    const Case cases[] = {
        {L"16666us", 16666},        {L"abc", -1},        {L"-1", -1},
        {L"99999999999", -1},       {L" 250000", 250000}, {L"+3333", 3333},
        {L"2147483647", 2147483647}, {L"2147483648", -1}, {L"0", 0},
    };
    long long expected = 100000;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "typed \"" << std::string(c.typed, c.typed + wcslen(c.typed)) << "\"");
        // Whatever is typed, OK saves all four values (a missing one as its default).
        driver::DeleteValue(SettingsKey, L"BgColor");
        ASSERT_TRUE(EnterPeriod(c.typed));
        expected = c.period >= 0 ? c.period : expected;
        EXPECT_EQ(Stored(L"IntervalMicroSecs"), static_cast<DWORD>(expected));
        EXPECT_EQ(Stored(L"BgColor"), 1u);
        EXPECT_EQ(TitlePeriod(Window()), expected) << driver::WindowTitle(Window());
    }

    // Choosing the last preset from the list sets one second.
    const HWND dialog = OpenDialog(CMD_SETTINGS, L"设置刷新时间间隔");
    ASSERT_NE(dialog, nullptr);
    SendMessageW(GetDlgItem(dialog, IDC_INTERVAL_COMBO), CB_SETCURSEL, 9, 0);
    PressButton(dialog, IDOK);
    ASSERT_TRUE(Closed(dialog));
    EXPECT_EQ(Stored(L"IntervalMicroSecs"), 1000000u);
    EXPECT_EQ(TitlePeriod(Window()), 1000000);
}

// ---- status report ----------------------------------------------------------------------

struct Report {
    long long value[10];  // elapsed last, min, max, over, frames; the same for the interval
};

// Parses the report and checks that it is exactly the documented format.
bool ParseReport(const std::wstring& text, Report& report)
{
    const wchar_t* format = L"Elapsed:%lld Min:%lld Max:%lld Over:%lld/%lld\r\nInterVal:%lld Min:%lld Max:%lld "
                            L"Over:%lld/%lld";
    long long* v = report.value;
    if (std::swscanf(text.c_str(), format, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9]) !=
        10) {
        return false;
    }
    wchar_t again[256];
    std::swprintf(again, 256, format, v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9]);
    return text == again;
}

TEST_F(MenuTest, StatusReportBeforeAndAfterMeasuring)
{
    // 100 s: only the first tick runs, all sixteen warm-up ticks are far off.
    ASSERT_NO_FATAL_FAILURE(Start({100000000, 1, 1, 0}));
    Report before;
    const std::wstring first = StatusReport();
    ASSERT_TRUE(ParseReport(first, before)) << "unexpected report format";
    const long long unmeasuredMin = 0xFFFFFFFFu / 10u;  // 429496729
    for (int line = 0; line < 2; ++line) {
        const long long* v = before.value + line * 5;
        EXPECT_EQ(v[0], 0);
        EXPECT_EQ(v[1], unmeasuredMin);
        EXPECT_EQ(v[2], 0);
        EXPECT_EQ(v[3], 0);
        EXPECT_LE(v[4], 16);
    }
    EXPECT_EQ(before.value[4], before.value[9]);

    // Short ticks: once the title shows a frame rate, frames have been measured.
    ASSERT_TRUE(EnterPeriod(L"1000"));
    ASSERT_TRUE(WaitUntil([&] { return TitleFrameRate(Window()) > 0; })) << driver::WindowTitle(Window());
    // Then ticks a second apart, each drawn in far less: once an interval of
    // more than half the period is reported, the frame-time line beside it
    // must show a short frame.
    constexpr long long kLongPeriod = 1000000;
    ASSERT_TRUE(EnterPeriod(L"1000000"));
    std::wstring text;
    Report after;
    ASSERT_TRUE(WaitUntil([&] {
        text = StatusReport();
        return ParseReport(text, after) && after.value[5] >= kLongPeriod / 2;
    })) << "no long interval reported: " << std::string(text.begin(), text.end());
    EXPECT_LT(after.value[0], kLongPeriod / 2) << "last frame time";
    const long long frames = after.value[4];
    EXPECT_GE(frames, 18);
    EXPECT_EQ(after.value[9], frames);
    for (int line = 0; line < 2; ++line) {
        SCOPED_TRACE(line == 0 ? "elapsed" : "interval");
        const long long* v = after.value + line * 5;
        EXPECT_LT(v[1], unmeasuredMin);
        EXPECT_LE(v[1], v[0]);
        EXPECT_LE(v[0], v[2]);
        EXPECT_GE(v[3], 1);
        EXPECT_LE(v[3], frames);
    }
}

// ---- About box --------------------------------------------------------------------------

TEST_F(MenuTest, AboutBoxOpensFromTheMenuAndFromAltSlashAndAltQuestionMark)
{
    ASSERT_NO_FATAL_FAILURE(Start({100000, 1, 1, 0}));
    const auto expectAboutBox = [&](const char* how) {
        SCOPED_TRACE(how);
        const HWND about = driver::WaitForDialog(Pid(), L"关于...");
        ASSERT_NE(about, nullptr);
        EXPECT_EQ(GetWindow(about, GW_OWNER), Window());
        EXPECT_EQ(ChildTextStartingWith(about, L"Tixabo"), L"Tixabo, 版本 1.18");
        PressButton(about, IDOK);
        EXPECT_TRUE(Closed(about));
    };

    driver::PostCommand(Window(), CMD_ABOUT);
    expectAboutBox("menu");

    ASSERT_TRUE(BringToFront(Window()));
    AltCharacter(L'/');
    expectAboutBox("Alt+/");

    ASSERT_TRUE(BringToFront(Window()));
    AltCharacter(L'?');
    expectAboutBox("Alt+?");
}

// ---- VSync restart ----------------------------------------------------------------------

BOOL CALLBACK CountMainWindows(HWND window, LPARAM count)
{
    if (IsWindowVisible(window) && driver::WindowClass(window) == L"MORV") {
        ++*reinterpret_cast<int*>(count);
    }
    return TRUE;
}

int VisibleMainWindows()
{
    int count = 0;
    EnumWindows(CountMainWindows, reinterpret_cast<LPARAM>(&count));
    return count;
}

ULONGLONG FileTimeTicks(const FILETIME& time)
{
    return (ULONGLONG{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

// Processor time of all the process's threads, in 100 ns units. Summed per
// thread, since Wine reports whole-process times only for the calling process.
ULONGLONG CpuTime(DWORD processId)
{
    ULONGLONG total = 0;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != processId) {
            continue;
        }
        const HANDLE thread = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ThreadID);
        FILETIME created, exited, kernel, user;
        if (thread != nullptr && GetThreadTimes(thread, &created, &exited, &kernel, &user)) {
            total += FileTimeTicks(kernel) + FileTimeTicks(user);
        }
        if (thread != nullptr) {
            CloseHandle(thread);
        }
    }
    CloseHandle(snapshot);
    return total;
}

TEST_F(MenuTest, VSyncToggleHandsOverToANewInstanceAndTheOldOneRests)
{
    // Back-to-back ticks: an old timer thread left running would use a whole core.
    ASSERT_NO_FATAL_FAILURE(Start({0, 1, 1, 1}));
    const HWND oldWindow = Window();
    driver::PostCommand(oldWindow, CMD_VSYNC);

    HWND newWindow = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
        newWindow = driver::FindTopLevelWindow(L"MORV");
        return newWindow != nullptr && driver::WindowProcess(newWindow) != Pid();
    }));
    driver::Program newInstance = driver::Program::Adopt(driver::WindowProcess(newWindow));
    EXPECT_FALSE(IsWindow(oldWindow));
    EXPECT_EQ(VisibleMainWindows(), 1);
    EXPECT_EQ(Stored(L"VSyncMode"), 0u);
    EXPECT_NE(driver::WaitForTitle(newWindow, [](const std::wstring& t) { return t.find(L"VSync:Off") != t.npos; })
                  .find(L"VSync:Off"),
              std::wstring::npos);

    // The old instance waits for the new one without spinning.
    ASSERT_TRUE(app_->Process().Running());
    const ULONGLONG before = CpuTime(Pid());
    constexpr DWORD kWatch = 3000;
    Sleep(kWatch);
    const ULONGLONG used = CpuTime(Pid()) - before;  // 100 ns units
    EXPECT_LT(used, kWatch * 10000ull / 10) << "the waiting instance used more than a tenth of a core";

    // Closing the new instance ends the old one too.
    driver::PostClose(newWindow);
    DWORD exitCode = 1;
    EXPECT_TRUE(newInstance.WaitForExit(&exitCode));
    EXPECT_TRUE(app_->Process().WaitForExit(&exitCode));
    EXPECT_EQ(exitCode, 0u);
}

// ---- online clock -----------------------------------------------------------------------

TEST_F(MenuTest, OnlineClockCommandReturnsAndTheProgramRunsOn)
{
    ASSERT_NO_FATAL_FAILURE(Start({100000, 1, 1, 0}));
    driver::PostCommand(Window(), CMD_ONLINE_CLOCK);
    DWORD_PTR result = 0;
    // Answered only once the command has returned to the message loop.
    EXPECT_NE(SendMessageTimeoutW(Window(), WM_NULL, 0, 0, SMTO_NORMAL, driver::Patience, &result), 0);
    EXPECT_TRUE(app_->Process().Running());
    Report report;
    EXPECT_TRUE(ParseReport(StatusReport(), report));
}

}  // namespace
