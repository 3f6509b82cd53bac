#include "reader/verdict.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

namespace {

constexpr std::int64_t kMicrosPeriod = std::int64_t{kMaxMicros} + 1;
// Each wall reading is truncated to whole ms, so their difference is off by up to 1 ms.
constexpr std::int64_t kWallTruncationUs = 1000;

std::int64_t ShortWayRound(std::int64_t difference, std::int64_t period)
{
    std::int64_t wrapped = ((difference % period) + period) % period;
    return wrapped > period / 2 ? wrapped - period : wrapped;
}

std::uint32_t NewestMicros(const JudgedClock& clock)
{
    return clock.reading.Newest().micros;
}

std::size_t NewestClockIndex(const std::vector<JudgedClock>& clocks)
{
    std::size_t newest = 0;
    for (std::size_t i = 1; i < clocks.size(); ++i) {
        if (MicrosDifferenceUs(NewestMicros(clocks[i]), NewestMicros(clocks[newest])) > 0) {
            newest = i;
        }
    }
    return newest;
}

// The clock that comes first when ordered by `before`.
template <typename Before>
std::size_t FirstClockIndex(const std::vector<JudgedClock>& clocks, Before before)
{
    const auto first = std::min_element(clocks.begin(), clocks.end(), before);
    return static_cast<std::size_t>(first - clocks.begin());
}

std::optional<std::size_t> NthFromLeftIndex(const std::vector<JudgedClock>& clocks, int nth)
{
    if (nth < 1 || static_cast<std::size_t>(nth) > clocks.size()) {
        return std::nullopt;
    }
    std::vector<std::size_t> order(clocks.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return clocks[a].reading.position.x < clocks[b].reading.position.x;
    });
    return order[static_cast<std::size_t>(nth - 1)];
}

std::optional<std::size_t> ReferenceIndex(const std::vector<JudgedClock>& clocks, const ReferenceChoice& choice)
{
    const auto x = [](const JudgedClock& clock) { return clock.reading.position.x; };
    const auto y = [](const JudgedClock& clock) { return clock.reading.position.y; };
    switch (choice.rule) {
    case ReferenceRule::Newest: return NewestClockIndex(clocks);
    case ReferenceRule::Left: return FirstClockIndex(clocks, [&](auto& a, auto& b) { return x(a) < x(b); });
    case ReferenceRule::Right: return FirstClockIndex(clocks, [&](auto& a, auto& b) { return x(a) > x(b); });
    case ReferenceRule::Top: return FirstClockIndex(clocks, [&](auto& a, auto& b) { return y(a) < y(b); });
    case ReferenceRule::Bottom: return FirstClockIndex(clocks, [&](auto& a, auto& b) { return y(a) > y(b); });
    case ReferenceRule::NthFromLeft: return NthFromLeftIndex(clocks, choice.nthFromLeft);
    }
    return std::nullopt;
}

std::optional<std::size_t> MarkReference(std::vector<JudgedClock>& clocks, const ReferenceChoice& choice)
{
    const std::optional<std::size_t> reference = ReferenceIndex(clocks, choice);
    for (std::size_t index = 0; index < clocks.size(); ++index) clocks[index].reference = reference == index;
    return reference;
}

bool FacesAgree(const LineReading& reference, const LineReading& other, std::int64_t toleranceMs)
{
    const std::int64_t microsUs = MicrosDifferenceUs(reference.micros, other.micros);
    const std::int64_t wallUs = WallDifferenceMs(reference.wallMs, other.wallMs) * 1000;
    return std::llabs(wallUs - microsUs) <= toleranceMs * 1000 + kWallTruncationUs;
}

bool AnyClock(const std::vector<JudgedClock>& clocks, bool ClockReading::*flag)
{
    return std::any_of(clocks.begin(), clocks.end(), [&](const JudgedClock& clock) { return clock.reading.*flag; });
}

// Sets each clock's newest line to what the combination `combination` of
// their readings picks (as read, or one of its rivals, counted in mixed
// radix over the clocks); returns how much less likely it is than as read.
float TakeCombination(std::vector<JudgedClock>& clocks, const std::vector<LineReading>& asRead, std::size_t combination)
{
    float behind = 0.0f;
    for (std::size_t index = 0; index < clocks.size(); ++index) {
        ClockReading& clock = clocks[index].reading;
        const std::size_t choices = 1 + clock.newestRivals.size();
        const std::size_t choice = combination % choices;
        combination /= choices;
        LineReading& newest = clock.lines.back();
        newest = asRead[index];
        if (choice == 0) continue;
        const RivalReading& rival = clock.newestRivals[choice - 1];
        newest.micros = rival.micros;
        newest.wallMs = rival.wallMs;
        behind += rival.behind;
    }
    return behind;
}

// Unsure digits settled by the other clocks: every combination of what the
// clocks' newest lines may read is tried, and one stands when its faces
// agree. The likeliest standing one is taken when every other puts each
// clock within a millisecond of it, measured from the same reference:
// whichever the digits are, the latency is then right to the millisecond.
// False (the lines left as read) when none stands, or they part.
constexpr std::size_t kMaxCombinations = std::size_t{1} << 16;
constexpr std::int64_t kSettledWithinUs = 1000;

bool SettleRivalReadings(std::vector<JudgedClock>& clocks, const VerdictOptions& options)
{
    std::size_t combinations = 1;
    std::vector<LineReading> asRead;
    for (const JudgedClock& clock : clocks) {
        combinations *= 1 + clock.reading.newestRivals.size();
        if (combinations > kMaxCombinations) return false;
        asRead.push_back(clock.reading.Newest());
    }
    struct Standing {
        std::size_t combination = 0;
        std::size_t reference = 0;
        std::vector<std::int64_t> latenciesUs;
        float behind = 0.0f;
    };
    std::vector<Standing> standing;
    for (std::size_t combination = 0; combination < combinations; ++combination) {
        const float behind = TakeCombination(clocks, asRead, combination);
        const std::optional<std::size_t> reference = ReferenceIndex(clocks, options.reference);
        if (!reference) continue;
        const LineReading& referenceLine = clocks[*reference].reading.Newest();
        Standing stands{combination, *reference, {}, behind};
        for (const JudgedClock& clock : clocks) {
            if (!FacesAgree(referenceLine, clock.reading.Newest(), options.toleranceMs)) break;
            stands.latenciesUs.push_back(MicrosDifferenceUs(referenceLine.micros, clock.reading.Newest().micros));
        }
        if (stands.latenciesUs.size() == clocks.size()) standing.push_back(std::move(stands));
    }
    TakeCombination(clocks, asRead, 0);
    if (standing.empty()) return false;
    const Standing& likeliest = *std::min_element(standing.begin(), standing.end(), [](const Standing& a, const Standing& b) {
        return a.behind < b.behind;
    });
    std::vector<std::int64_t> withinUs(clocks.size(), 0);
    for (const Standing& other : standing) {
        if (other.reference != likeliest.reference) return false;
        for (std::size_t index = 0; index < clocks.size(); ++index) {
            withinUs[index] = std::max<std::int64_t>(withinUs[index], std::llabs(other.latenciesUs[index] - likeliest.latenciesUs[index]));
            if (withinUs[index] >= kSettledWithinUs) return false;
        }
    }
    TakeCombination(clocks, asRead, likeliest.combination);
    for (std::size_t index = 0; index < clocks.size(); ++index) {
        clocks[index].reading.newestRivals.clear();
        clocks[index].latencyWithinUs = withinUs[index];
    }
    return true;
}

FrameVerdict Rejected(FrameVerdict verdict, Rejection rejection)
{
    verdict.rejection = rejection;
    return verdict;
}

}  // namespace

std::optional<ReferenceChoice> ParseReferenceChoice(std::string_view text)
{
    if (text == "newest") return ReferenceChoice{ReferenceRule::Newest};
    if (text == "left") return ReferenceChoice{ReferenceRule::Left};
    if (text == "right") return ReferenceChoice{ReferenceRule::Right};
    if (text == "top") return ReferenceChoice{ReferenceRule::Top};
    if (text == "bottom") return ReferenceChoice{ReferenceRule::Bottom};
    int nth = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), nth);
    if (error != std::errc{} || end != text.data() + text.size() || nth < 1) {
        return std::nullopt;
    }
    return ReferenceChoice{ReferenceRule::NthFromLeft, nth};
}

std::int64_t MicrosDifferenceUs(std::uint32_t aMicros, std::uint32_t bMicros)
{
    return ShortWayRound(std::int64_t{aMicros} - std::int64_t{bMicros}, kMicrosPeriod);
}

std::int64_t WallDifferenceMs(std::uint32_t aWallMs, std::uint32_t bWallMs)
{
    return ShortWayRound(std::int64_t{aWallMs} - std::int64_t{bWallMs}, kWallPeriodMs);
}

FrameVerdict JudgeFrame(std::vector<ClockReading> clocks, const VerdictOptions& options)
{
    FrameVerdict verdict;
    for (ClockReading& clock : clocks) {
        if (!clock.lines.empty()) {
            verdict.clocks.push_back({std::move(clock), false, std::nullopt});
        }
    }
    if (verdict.clocks.empty()) return Rejected(std::move(verdict), Rejection::NoClock);
    if (verdict.clocks.size() == 1) return Rejected(std::move(verdict), Rejection::OneClock);

    std::optional<std::size_t> referenceIndex = MarkReference(verdict.clocks, options.reference);
    if (AnyClock(verdict.clocks, &ClockReading::blended)) return Rejected(std::move(verdict), Rejection::Blended);
    if (AnyClock(verdict.clocks, &ClockReading::torn)) return Rejected(std::move(verdict), Rejection::Torn);
    if (AnyClock(verdict.clocks, &ClockReading::doubtful)) {
        return Rejected(std::move(verdict), Rejection::DoubtfulDigit);
    }
    if (!referenceIndex) return Rejected(std::move(verdict), Rejection::NoReferenceClock);
    const bool unsure = std::any_of(verdict.clocks.begin(), verdict.clocks.end(),
                                    [](const JudgedClock& clock) { return !clock.reading.newestRivals.empty(); });
    if (unsure) {
        if (!SettleRivalReadings(verdict.clocks, options)) return Rejected(std::move(verdict), Rejection::DoubtfulDigit);
        referenceIndex = MarkReference(verdict.clocks, options.reference);
    }

    const LineReading& reference = verdict.clocks[*referenceIndex].reading.Newest();
    for (const JudgedClock& clock : verdict.clocks) {
        if (!FacesAgree(reference, clock.reading.Newest(), options.toleranceMs)) {
            return Rejected(std::move(verdict), Rejection::ClocksDisagree);
        }
    }
    for (JudgedClock& clock : verdict.clocks) {
        if (clock.reference) continue;
        const std::int64_t latencyUs = MicrosDifferenceUs(reference.micros, clock.reading.Newest().micros);
        clock.latencyUs = latencyUs;
        if (!verdict.latencyUs || std::llabs(latencyUs) > std::llabs(*verdict.latencyUs)) {
            verdict.latencyUs = latencyUs;
        }
    }
    return verdict;
}

FrameVerdict RejectedInput(Rejection rejection)
{
    return Rejected({}, rejection);
}

FrameVerdict RejectedAfterReading(FrameVerdict verdict, Rejection rejection)
{
    for (JudgedClock& clock : verdict.clocks) clock.latencyUs.reset();
    verdict.latencyUs.reset();
    verdict.rejection = rejection;
    return verdict;
}
