#include "core/timestamp_line.h"

#include <algorithm>
#include <cwchar>

wchar_t CurrentLine[kCurrentLineCapacity];
wchar_t DisplayText[kDisplayTextCapacity];
std::int32_t LineCount;

namespace {

// "00" to "99": two digits a step, since this runs on every tick.
constexpr wchar_t kDigitPairs[] =
    L"00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    L"40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    L"8081828384858687888990919293949596979899";

// Writes the low `digits` decimal digits of value, right to left.
void WriteDigits(wchar_t* out, std::uint32_t value, int digits)
{
    for (; digits >= 2; digits -= 2) {
        const std::uint32_t pair = (value % 100) * 2;
        out[digits - 1] = kDigitPairs[pair + 1];
        out[digits - 2] = kDigitPairs[pair];
        value /= 100;
    }
    if (digits == 1) {
        out[0] = static_cast<wchar_t>(L'0' + value % 10);
    }
}

int DigitCount(std::uint32_t value)
{
    int digits = 1;
    for (; value >= 10; value /= 10) {
        ++digits;
    }
    return digits;
}

// Writes value zero-padded to at least `width` digits, as "%0Nd" does for
// non-negative values.
wchar_t* WriteDecimal(wchar_t* out, std::uint32_t value, int width)
{
    const int digits = std::max(width, DigitCount(value));
    WriteDigits(out, value, digits);
    return out + digits;
}

// Copies source to destination + at, cut to the capacity.
void PutLine(wchar_t* destination, std::size_t at, std::size_t capacity, const wchar_t* source, std::size_t length)
{
    if (at + length >= capacity) {
        length = capacity - 1 - at;
    }
    std::wmemcpy(destination + at, source, length);
    destination[at + length] = L'\0';
}

void ReplaceWithCurrentLine()
{
    PutLine(DisplayText, 0, kDisplayTextCapacity, CurrentLine, std::wcslen(CurrentLine));
}

void AppendCurrentLine()
{
    PutLine(DisplayText, std::wcslen(DisplayText), kDisplayTextCapacity, CurrentLine, std::wcslen(CurrentLine));
}

// Drops the oldest line by removing as many leading characters as the newest
// line has (all lines are the same length), then appends the newest.
void RollCurrentLine()
{
    const std::size_t newest = std::wcslen(CurrentLine);
    const std::size_t held = std::wcslen(DisplayText);
    if (held < newest) {
        PutLine(DisplayText, 0, kDisplayTextCapacity, CurrentLine, newest);
        return;
    }
    const std::size_t kept = held - newest;
    std::wmemmove(DisplayText, DisplayText + newest, kept);
    PutLine(DisplayText, kept, kDisplayTextCapacity, CurrentLine, newest);
}

}  // namespace

void FormatLine(std::int64_t counterValue, const LocalTime& localTime)
{
    const std::uint32_t microseconds = static_cast<std::uint32_t>(counterValue) / kCounterTicksPerMicro;
    wchar_t* out = CurrentLine;
    *out++ = L'\r';
    *out++ = L'\n';
    out = WriteDecimal(out, microseconds, kCounterDigits);
    *out++ = L' ';
    out = WriteDecimal(out, localTime.minute, kMinuteDigits);
    *out++ = L':';
    out = WriteDecimal(out, localTime.second, kSecondDigits);
    *out++ = L'.';
    out = WriteDecimal(out, localTime.millisecond, kMillisecondDigits);
    *out = L'\0';
}

void AdvanceDisplayText(std::int32_t displayMode)
{
    if (displayMode != 0) {
        LineCount = 0;
        ReplaceWithCurrentLine();
    } else if (LineCount == 0) {
        ReplaceWithCurrentLine();
        LineCount = 1;
    } else if (LineCount >= kMaxDisplayLines) {
        RollCurrentLine();
    } else {
        AppendCurrentLine();
        ++LineCount;
    }
}
