#include "reader/live_session.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "reader/exit_codes.h"
#include "reader/frame_source.h"
#include "reader/newest_frame_slot.h"
#include "reader/ordered_parallel_map.h"

namespace {

using Clock = std::chrono::steady_clock;

// Redrawn no more often than this: a terminal need not keep up with 60 Hz.
constexpr auto kStatusRedrawInterval = std::chrono::milliseconds(250);
constexpr const char* kEraseLine = "\r\033[K";

struct LiveFrame {
    std::size_t index = 0;  // counting dropped frames too
    double timeS = 0.0;     // from the first frame's arrival
    cv::Mat bgr;
};

struct CaptureEnd {
    bool sourceStopped = false;  // on its own, not asked to
    std::string problem;
};

CaptureEnd Capture(LiveFrames& source, const LiveOptions& options, const std::atomic<bool>& stop,
                   NewestFrameSlot<LiveFrame>& slot)
{
    CaptureEnd end;
    std::optional<Clock::time_point> firstArrival;
    for (std::size_t index = 0; !stop; ++index) {
        cv::Mat frame;
        if (!source.Read(frame)) {
            end = {!stop, source.Problem()};
            break;
        }
        const Clock::time_point arrival = Clock::now();
        if (!firstArrival) firstArrival = arrival;
        const double timeS = std::chrono::duration<double>(arrival - *firstArrival).count();
        if (options.durationS && timeS > *options.durationS) break;
        slot.Put({index, timeS, std::move(frame)});
    }
    slot.Close();
    return end;
}

// Kept on the last line of the terminal. Its figures are worked out anew no
// more often than kStatusRedrawInterval; rows written to the same terminal
// erase it first, and it is drawn again below them.
class StatusLine {
public:
    StatusLine(bool shown, std::ostream& out) : shown_(shown), out_(out) {}

    void Show(const std::vector<LatencySample>& samples, std::size_t framesDropped)
    {
        if (!shown_) return;
        const bool stale = Clock::now() - lastWorkedOut_ >= kStatusRedrawInterval;
        if (stale) {
            text_ = LiveStatusText(samples, framesDropped);
            lastWorkedOut_ = Clock::now();
        }
        if (drawn_ && !stale) return;
        out_ << kEraseLine << text_ << std::flush;
        drawn_ = true;
    }

    void Clear()
    {
        if (!drawn_) return;
        out_ << kEraseLine << std::flush;
        drawn_ = false;
    }

private:
    bool shown_;
    std::ostream& out_;
    bool drawn_ = false;
    std::string text_;
    Clock::time_point lastWorkedOut_{};
};

}  // namespace

std::string LiveStatusText(const std::vector<LatencySample>& samples, std::size_t framesDropped)
{
    std::vector<double> latenciesMs;
    for (const LatencySample& sample : samples) {
        if (sample.latencyUs) latenciesMs.push_back(static_cast<double>(*sample.latencyUs) / 1000.0);
    }
    char text[160];
    if (latenciesMs.empty()) {
        std::snprintf(text, sizeof text, "latency: nothing read yet; rejected %zu, dropped %zu", samples.size(),
                      framesDropped);
        return text;
    }
    const double nowMs = latenciesMs.back();
    std::snprintf(text, sizeof text, "latency now %.1f ms, median %.1f, p95 %.1f; read %zu, rejected %zu, dropped %zu",
                  nowMs, PercentileOf(latenciesMs, 0.5), PercentileOf(latenciesMs, 0.95), latenciesMs.size(),
                  samples.size() - latenciesMs.size(), framesDropped);
    return text;
}

LiveOutcome ReadLive(LiveFrames& source, const std::string& sourceName, const LiveOptions& options,
                     std::atomic<bool>& stop, std::ostream& out, std::ostream& messages)
{
    NewestFrameSlot<LiveFrame> slot;
    CaptureEnd captureEnd;
    std::thread capture([&] { captureEnd = Capture(source, options, stop, slot); });
    LiveOutcome outcome;
    InputOutcome seen;
    StatusLine status(options.showStatus, messages);
    std::size_t framesHanded = 0;
    // Frames the source gives after the last one read was taken are not
    // dropped: reading had ended.
    std::optional<std::size_t> droppedWhenEnded;
    const auto produce = [&]() -> std::optional<FrameTask> {
        if (options.frameLimit && framesHanded == *options.frameLimit) {
            droppedWhenEnded = slot.DroppedCount();
            return std::nullopt;
        }
        std::optional<LiveFrame> frame = slot.Take();
        if (!frame) return std::nullopt;
        ++framesHanded;
        FrameTask task;
        task.judged.row.input = sourceName;
        task.judged.row.frame = frame->index;
        task.judged.row.frameTimeS = frame->timeS;
        task.videoFrame = std::move(frame->bgr);
        return task;
    };
    const auto consume = [&](JudgedFrame judged) {
        const FrameVerdict& verdict = judged.row.verdict;
        seen.mostClocks = std::max(seen.mostClocks, verdict.clocks.size());
        if (options.rowsOnStatusTerminal) status.Clear();
        WriteReportRow(out, options.style, judged.row);
        out.flush();
        outcome.samples.push_back(SampleOfRow(judged.row));
        if (options.onFrameRead) options.onFrameRead(outcome.samples.back(), slot.DroppedCount());
        status.Show(outcome.samples, slot.DroppedCount());
    };
    try {
        WriteReportHeader(out, options.style);
        // No more frames between the source and the readers than readers:
        // a frame that waits longer is stale.
        OrderedParallelMap<FrameTask, JudgedFrame>(
            produce, [&](FrameTask task) { return JudgeTask(std::move(task), options.verdict); }, consume,
            options.workerCount, options.workerCount);
    } catch (...) {
        stop = true;
        capture.join();
        throw;
    }
    stop = true;
    capture.join();
    status.Clear();
    outcome.framesDropped = droppedWhenEnded.value_or(slot.DroppedCount());
    outcome.exitCode = InputExitCode(seen);
    if (captureEnd.sourceStopped) {
        messages << "tixabo-read: " << sourceName << ": the source stopped: " << captureEnd.problem << '\n';
        outcome.exitCode = MoreSeriousExitCode(outcome.exitCode, kExitLiveSourceStopped);
    }
    return outcome;
}
