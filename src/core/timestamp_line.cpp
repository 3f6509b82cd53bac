#include "core/timestamp_line.h"

#include <cwchar>

wchar_t CurrentLine[kCurrentLineCapacity];
wchar_t DisplayText[kDisplayTextCapacity];
std::int32_t LineCount;

namespace {

// Writes value in decimal, zero-padded to at least `width` digits, as the
// "%0Nd"/"%0Nlu" conversions do for non-negative values. Hand-written because
// it runs on every tick.
wchar_t* WriteDecimal(wchar_t* out, std::uint32_t value, int width)
{
    wchar_t reversed[10];
    int count = 0;
    do {
        reversed[count++] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (int pad = width - count; pad > 0; --pad) {
        *out++ = L'0';
    }
    while (count > 0) {
        *out++ = reversed[--count];
    }
    return out;
}

void CopyLine(wchar_t* destination, std::size_t capacity, const wchar_t* source)
{
    std::size_t length = std::wcslen(source);
    if (length >= capacity) {
        length = capacity - 1;
    }
    std::wmemcpy(destination, source, length);
    destination[length] = L'\0';
}

void AppendCurrentLine()
{
    const std::size_t held = std::wcslen(DisplayText);
    CopyLine(DisplayText + held, kDisplayTextCapacity - held, CurrentLine);
}

// Drops the oldest line by removing as many leading characters as the newest
// line has (all lines are the same length), then appends the newest.
void RollCurrentLine()
{
    const std::size_t newest = std::wcslen(CurrentLine);
    const std::size_t held = std::wcslen(DisplayText);
    if (held < newest) {
        CopyLine(DisplayText, kDisplayTextCapacity, CurrentLine);
        return;
    }
    std::wmemmove(DisplayText, DisplayText + newest, held - newest + 1);
    AppendCurrentLine();
}

}  // namespace

void FormatLine(std::int64_t counterValue, const LocalTime& localTime)
{
    const std::uint32_t microseconds = static_cast<std::uint32_t>(counterValue) / 10u;
    wchar_t* out = CurrentLine;
    *out++ = L'\r';
    *out++ = L'\n';
    out = WriteDecimal(out, microseconds, 9);
    *out++ = L' ';
    out = WriteDecimal(out, localTime.minute, 2);
    *out++ = L':';
    out = WriteDecimal(out, localTime.second, 2);
    *out++ = L'.';
    out = WriteDecimal(out, localTime.millisecond, 3);
    *out = L'\0';
}

void AdvanceDisplayText(std::int32_t displayMode)
{
    if (displayMode != 0) {
        LineCount = 0;
        CopyLine(DisplayText, kDisplayTextCapacity, CurrentLine);
    } else if (LineCount == 0) {
        CopyLine(DisplayText, kDisplayTextCapacity, CurrentLine);
        LineCount = 1;
    } else if (LineCount >= kMaxDisplayLines) {
        RollCurrentLine();
    } else {
        AppendCurrentLine();
        ++LineCount;
    }
}
