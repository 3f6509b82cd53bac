// Prints whether live reading keeps up: the live frame loop fed 1920x1080
// photo-like frames of two clocks at 60 and at 120 a second, read by one
// thread and by one per core side by side, with what was dropped and the
// memory held.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_video_frames.h"
#include "reader/learnt_digits_cache.h"
#include "reader/live_session.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kSecondsPerRun = 5.0;

// A source giving copies of the frames in turn at a camera's pace, for
// kSecondsPerRun.
class BenchFrames : public LiveFrames {
public:
    BenchFrames(const std::vector<cv::Mat>& frames, double framesPerSecond)
        : frames_(frames), frameStep_(std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / framesPerSecond)))
    {
    }
    bool Read(cv::Mat& frameBgr) override
    {
        if (Clock::now() - start_ > std::chrono::duration<double>(kSecondsPerRun)) return false;
        next_ += frameStep_;
        std::this_thread::sleep_until(next_);
        frameBgr = frames_[given_++ % frames_.size()].clone();
        return true;
    }
    std::string Problem() const override { return "the run ended"; }
    std::size_t Given() const { return given_; }

private:
    const std::vector<cv::Mat>& frames_;
    Clock::duration frameStep_;
    Clock::time_point start_ = Clock::now();
    Clock::time_point next_ = start_;
    std::size_t given_ = 0;
};

long ResidentKb()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return 0;
}

void Row(const std::vector<cv::Mat>& frames, double framesPerSecond, std::size_t workers)
{
    BenchFrames source(frames, framesPerSecond);
    LiveOptions options;
    options.style.format = ReportFormat::JsonLines;
    options.workerCount = workers;
    std::atomic<bool> stop{false};
    std::ostringstream out, messages;
    const auto start = Clock::now();
    const LiveOutcome outcome = ReadLive(source, "bench", options, stop, out, messages);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    char label[32];
    std::snprintf(label, sizeof label, "%.0f fps source", framesPerSecond);
    std::printf("%-22s %8zu %10zu %10zu %10.1f %10.1f %10ld\n", label, workers,
                source.Given(), outcome.framesDropped, static_cast<double>(outcome.samples.size()) / seconds,
                100.0 * static_cast<double>(outcome.framesDropped) / static_cast<double>(std::max<std::size_t>(source.Given(), 1)),
                ResidentKb() / 1024);
}

}  // namespace

int main()
{
    SharedDigitClassifier();  // learnt once, before any timing
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const std::vector<cv::Mat> frames = BenchVideoFrames({1920, 1080});
    std::printf("Live reading of 1920x1080 frames of two clocks, %.0f s a run (%u cores)\n\n", kSecondsPerRun, cores);
    std::printf("%-22s %8s %10s %10s %10s %10s %10s\n", "source", "threads", "offered", "dropped", "read/s", "dropped %",
                "RSS MB");  // the process's, after the run
    for (const double framesPerSecond : {60.0, 120.0}) {
        for (const std::size_t workers : {std::size_t{1}, std::size_t{cores}}) Row(frames, framesPerSecond, workers);
    }
    std::printf("\nKeeping up with a 60 fps source means reading about 60 a second with few frames dropped.\n");
}
