#include <gtest/gtest.h>

#include <cstdint>
#include <cwchar>
#include <random>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

#include "core/timestamp_line.h"
#include "core_state.h"

namespace {

// The line as the platform's own formatter writes it.
std::wstring ReferenceLine(std::int64_t counter, const LocalTime& time)
{
    const unsigned long micro = static_cast<std::uint32_t>(counter) / 10u;
    wchar_t buffer[kCurrentLineCapacity];
#ifdef _WIN32
    wsprintfW(buffer, L"\r\n%09lu %02d:%02d.%03d", micro, time.minute, time.second, time.millisecond);
#else
    std::swprintf(buffer, kCurrentLineCapacity, L"\r\n%09lu %02d:%02d.%03d", micro, int{time.minute},
                  int{time.second}, int{time.millisecond});
#endif
    return buffer;
}

std::wstring Line(std::int64_t counter, LocalTime time)
{
    FormatLine(counter, time);
    return CurrentLine;
}

TEST(FormatLine, WritesMicrosecondsOfTheLow32BitsAndMinuteSecondMillisecond)
{
    EXPECT_EQ(Line(4'294'967'295, {5, 7, 42}), L"\r\n429496729 05:07.042");
    EXPECT_EQ(Line(9, {0, 0, 0}), L"\r\n000000000 00:00.000");
    // Only the low 32 bits count, also for readings past 2^32 and negative ones.
    EXPECT_EQ(Line((std::int64_t{7} << 32) + 123'456, {59, 59, 999}), L"\r\n000012345 59:59.999");
    EXPECT_EQ(Line(-1, {1, 2, 3}), L"\r\n429496729 01:02.003");
    EXPECT_EQ(std::wcslen(Line(123'456'789, {12, 34, 567}).c_str()), 21u);
}

// tixabo-read finds the fields by the shared layout: the line written must
// put every digit, the space, the colon and the point in their cells.
TEST(FormatLine, PutsEveryFieldInTheCellsTheReaderReads)
{
    const std::wstring line = Line(0xFFFF'FFFF, {59, 58, 987}).substr(2);
    ASSERT_EQ(line.size(), std::size_t{kLineCells});
    std::wstring digits;
    for (const int cell : kDigitCells) digits += line[static_cast<std::size_t>(cell)];
    EXPECT_EQ(digits, L"4294967295958987");
    EXPECT_EQ(line[kSpaceCell], L' ');
    EXPECT_EQ(line[kColonCell], L':');
    EXPECT_EQ(line[kPointCell], L'.');
}

TEST(FormatLine, MatchesThePlatformFormatterForAnyReadingAndTime)
{
    std::mt19937_64 random(20261209);
    for (int i = 0; i < 20'000; ++i) {
        const auto counter = static_cast<std::int64_t>(random());
        // Include out-of-range fields: the line must still be what the formatter writes.
        const LocalTime time{static_cast<std::uint16_t>(random() % (i % 10 == 0 ? 65536 : 60)),
                             static_cast<std::uint16_t>(random() % (i % 10 == 1 ? 65536 : 60)),
                             static_cast<std::uint16_t>(random() % (i % 10 == 2 ? 65536 : 1000))};
        ASSERT_EQ(Line(counter, time), ReferenceLine(counter, time)) << "counter " << counter;
    }
}

class DisplayTextFold : public ::testing::Test {
protected:
    void SetUp() override { ResetTimingCore(); }

    // Folds a line that stands for the tick with the given number.
    void Fold(int tick, std::int32_t mode)
    {
        FormatLine(std::int64_t{tick} * 10, {0, 0, 0});
        AdvanceDisplayText(mode);
    }

    static std::wstring LineOf(int tick) { return ReferenceLine(std::int64_t{tick} * 10, {0, 0, 0}); }
};

TEST_F(DisplayTextFold, MultiLineKeepsTheFiveNewestLinesInOrder)
{
    for (int tick = 1; tick <= 6; ++tick) {
        Fold(tick, 0);
    }
    EXPECT_EQ(std::wstring(DisplayText), LineOf(2) + LineOf(3) + LineOf(4) + LineOf(5) + LineOf(6));
    EXPECT_EQ(LineCount, 5);
    for (int tick = 7; tick <= 100; ++tick) {
        Fold(tick, 0);
    }
    EXPECT_EQ(std::wstring(DisplayText), LineOf(96) + LineOf(97) + LineOf(98) + LineOf(99) + LineOf(100));
}

TEST_F(DisplayTextFold, SingleLineShowsOnlyTheNewestAndSwitchingBackRestartsFromIt)
{
    for (int tick = 1; tick <= 3; ++tick) {
        Fold(tick, 0);
    }
    Fold(4, 1);
    EXPECT_EQ(std::wstring(DisplayText), LineOf(4));
    EXPECT_EQ(LineCount, 0);
    Fold(5, 7);  // any non-zero mode is single line
    EXPECT_EQ(std::wstring(DisplayText), LineOf(5));

    Fold(6, 0);
    EXPECT_EQ(std::wstring(DisplayText), LineOf(6));
    EXPECT_EQ(LineCount, 1);
    Fold(7, 0);
    EXPECT_EQ(std::wstring(DisplayText), LineOf(6) + LineOf(7));
}

TEST_F(DisplayTextFold, EveryPassFoldsTheNewestLineAgain)
{
    Fold(1, 0);
    AdvanceDisplayText(0);  // a repaint between two ticks
    EXPECT_EQ(std::wstring(DisplayText), LineOf(1) + LineOf(1));
    EXPECT_EQ(LineCount, 2);
}

TEST_F(DisplayTextFold, FoldsOfAnEmptyLineCountAndLeaveFewerLinesShown)
{
    AdvanceDisplayText(0);  // before the first tick
    EXPECT_STREQ(DisplayText, L"");
    EXPECT_EQ(LineCount, 1);

    for (int tick = 1; tick <= 4; ++tick) {
        Fold(tick, 0);
    }
    EXPECT_EQ(LineCount, 5);
    Fold(5, 0);  // the roll drops a whole line although only four were held
    EXPECT_EQ(std::wstring(DisplayText), LineOf(2) + LineOf(3) + LineOf(4) + LineOf(5));
    Fold(6, 0);
    EXPECT_EQ(std::wstring(DisplayText), LineOf(3) + LineOf(4) + LineOf(5) + LineOf(6));
}

TEST_F(DisplayTextFold, RollWithLessTextThanOneLineShowsTheNewestAlone)
{
    for (int pass = 0; pass < 5; ++pass) {
        AdvanceDisplayText(0);  // five empty folds
    }
    Fold(1, 0);
    EXPECT_EQ(std::wstring(DisplayText), LineOf(1));
    EXPECT_EQ(LineCount, 5);
}

}  // namespace
