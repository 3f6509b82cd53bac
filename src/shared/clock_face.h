#pragma once

// What the clock draws and tixabo-read reads back: the line's fields and
// layout, the ink's colour, the text's size and where single-line mode puts
// the line. Both programs build on these, so a change here reaches both.

#include <array>
#include <cstdint>
#include <limits>

// The counter field is the performance counter's low 32 bits (100 ns ticks)
// in microseconds: it runs 0..429,496,729 and then starts again.
constexpr std::uint32_t kCounterTicksPerMicro = 10;
constexpr std::uint32_t kMaxMicros = std::numeric_limits<std::uint32_t>::max() / kCounterTicksPerMicro;
static_assert(kMaxMicros == 429'496'729);

// The wall-clock field is minute:second.millisecond: it repeats every hour.
constexpr std::uint32_t kWallPeriodMs = 3'600'000;

// One line, "012345678 59:07.250": nine counter digits, a space, then the
// minute, second and millisecond, each of one monospace cell.
constexpr int kCounterDigits = 9;
constexpr int kMinuteDigits = 2;
constexpr int kSecondDigits = 2;
constexpr int kMillisecondDigits = 3;
constexpr int kSpaceCell = kCounterDigits;
constexpr int kColonCell = kSpaceCell + 1 + kMinuteDigits;
constexpr int kPointCell = kColonCell + 1 + kSecondDigits;
constexpr int kLineCells = kPointCell + 1 + kMillisecondDigits;
constexpr std::array<int, 16> kDigitCells{0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 13, 14, 16, 17, 18};
static_assert(kLineCells == 19 && kDigitCells.size() == kLineCells - 3);

// Multi-line mode shows this many lines, the newest at the bottom.
constexpr int kMultiLineCount = 5;

// The ink of every line: RGB 15, 255, 255.
constexpr std::uint8_t kInkRed = 15;
constexpr std::uint8_t kInkGreen = 255;
constexpr std::uint8_t kInkBlue = 255;

// The text's em in device-independent pixels (dip), drawn at 120 dots per
// inch: one dip is 1.25 physical pixels.
constexpr float kTextSizeDip = 90.0f;
constexpr float kDrawingDpi = 120.0f;
constexpr float kPixelsPerDip = kDrawingDpi / 96.0f;

// Single-line mode: the line's bottom climbs kSingleLineStepDip a frame from
// kSingleLineLowestBottomDip, over kSingleLinePositions heights, then drops
// back to the lowest.
constexpr std::uint32_t kSingleLineLowestBottomDip = 560;
constexpr std::uint32_t kSingleLineStepDip = 100;
constexpr std::uint32_t kSingleLinePositions = 5;
constexpr std::uint32_t kSingleLineJumpDip = kSingleLineStepDip * (kSingleLinePositions - 1);
