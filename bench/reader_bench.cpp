// Prints how many frames a second the reader reads: photo-like frames of a
// clock and its copy at 1920x1080 and 3840x2160, read by one thread and by
// one thread per core side by side, with the cost of its first stages alone.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "bench_video_frames.h"
#include "reader/clock_reading.h"
#include "reader/learnt_digits_cache.h"
#include "reader/line_finder.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kSecondsPerMeasurement = 3.0;

// Frames read per second by `threads` threads each reading frames in turn.
template <typename Read>
double FramesPerSecond(const std::vector<cv::Mat>& frames, unsigned threads, Read read)
{
    std::atomic<long> done{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> workers;
    const auto start = Clock::now();
    for (unsigned worker = 0; worker < threads; ++worker) {
        workers.emplace_back([&, worker] {
            for (std::size_t next = worker; !stop; next += threads) {
                read(frames[next % frames.size()]);
                ++done;
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(kSecondsPerMeasurement));
    stop = true;
    for (std::thread& worker : workers) worker.join();
    const std::chrono::duration<double> spent = Clock::now() - start;
    return static_cast<double>(done) / spent.count();
}

}  // namespace

int main()
{
    SharedDigitClassifier();  // learnt once, before any timing
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::printf("Frames read per second, photo-like frames of two clocks (%u cores)\n\n", cores);
    std::printf("%-10s %-28s %10s %10s\n", "frame", "work", "1 thread", "all cores");
    for (const cv::Size size : {cv::Size(1920, 1080), cv::Size(3840, 2160)}) {
        const std::vector<cv::Mat> frames = BenchVideoFrames(size);
        const auto whole = [](const cv::Mat& frame) { ReadClocks(frame); };
        const auto findOnly = [](const cv::Mat& frame) { FindTextLines(InkScore(frame)); };
        const auto scoreOnly = [](const cv::Mat& frame) { InkScore(frame); };
        const char* label = size.width == 1920 ? "1920x1080" : "3840x2160";
        std::printf("%-10s %-28s %10.1f %10.1f\n", label, "read clocks (the reader)", FramesPerSecond(frames, 1, whole),
                    FramesPerSecond(frames, cores, whole));
        std::printf("%-10s %-28s %10.1f %10.1f\n", label, "find lines only", FramesPerSecond(frames, 1, findOnly),
                    FramesPerSecond(frames, cores, findOnly));
        std::printf("%-10s %-28s %10.1f %10.1f\n", label, "ink score only", FramesPerSecond(frames, 1, scoreOnly),
                    FramesPerSecond(frames, cores, scoreOnly));
    }
    std::printf("\nReal time for 60 fps video needs 60 frames a second or more.\n");
}
