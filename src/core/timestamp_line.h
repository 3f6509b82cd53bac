#pragma once

#include <cstddef>
#include <cstdint>

#include "shared/clock_face.h"

// Local wall-clock fields the timestamp line shows.
struct LocalTime {
    std::uint16_t minute;
    std::uint16_t second;
    std::uint16_t millisecond;
};

constexpr std::size_t kCurrentLineCapacity = 256;
constexpr std::size_t kDisplayTextCapacity = 1024;
constexpr std::int32_t kMaxDisplayLines = kMultiLineCount;

// The newest tick's line, written by the timer thread under the frame lock.
extern wchar_t CurrentLine[kCurrentLineCapacity];
// The text drawn each frame; only render passes touch it, under the frame lock.
extern wchar_t DisplayText[kDisplayTextCapacity];
// Render passes folded into DisplayText since the last reset (0..5).
extern std::int32_t LineCount;

// Writes "\r\n%09lu %02d:%02d.%03d" into CurrentLine, as wsprintfW would:
// the counter's low 32 bits / 10, then minute, second and millisecond.
void FormatLine(std::int64_t counterValue, const LocalTime& localTime);

// Folds CurrentLine into DisplayText: the five newest lines in multi-line
// mode (displayMode 0), the newest alone in any other mode.
void AdvanceDisplayText(std::int32_t displayMode);
