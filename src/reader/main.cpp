// tixabo-read: finds the Tixabo clocks in photos, screenshots and videos,
// reads them and reports the latency between them.
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <thread>

#include <unistd.h>

#include <CLI/CLI.hpp>

#include "reader/exit_codes.h"
#include "reader/latency_plot.h"
#include "reader/learnt_digits_cache.h"
#include "reader/live_metrics.h"
#include "reader/live_session.h"
#include "reader/media_input.h"
#include "reader/progress_bar.h"
#include "reader/session.h"

namespace {

constexpr const char* kExitCodeHelp =
    "Exit codes (with several troubles, the smallest nonzero one):\n"
    "  0 every input read, each with two or more clocks somewhere\n"
    "  1 internal error, or the plot could not be written\n"
    "  2 usage error\n"
    "  3 an input is missing or unreadable\n"
    "  4 an input is not an image or video (judged by its content)\n"
    "  5 a video is truncated (fewer frames than it declares, or cannot be opened)\n"
    "  6 an input shows no clock at all\n"
    "  7 an input shows only one clock\n"
    "  8 a picture is larger than any camera makes\n"
    "  9 the live source cannot be opened\n"
    " 10 the live source stopped before it was asked to\n";

struct CommandLine {
    std::vector<std::string> inputs;
    std::string liveSource;
    std::optional<double> durationS;
    std::optional<std::size_t> frameLimit;
    std::string metricsAddress;
    bool csv = false;
    bool json = false;
    std::string reference = "newest";
    std::int64_t toleranceMs = 2;
    std::string plotPath;
    std::size_t threadCount = std::max(1u, std::thread::hardware_concurrency());
    bool noProgress = false;
};

void DescribeOptions(CLI::App& app, CommandLine& line)
{
    CLI::Option* inputs =
        app.add_option("inputs", line.inputs, "Images (PNG, JPEG, ...), videos (MP4, MKV, MOV, AVI) or folders of them");
    CLI::Option* live = app.add_option(
        "--live", line.liveSource,
        "Read live from SOURCE until --duration, --frames or Ctrl+C: x11:DISPLAY or x11:DISPLAY+X,Y,WxH (a screen or "
        "a region of it), a V4L2 device such as /dev/video0, or a stream address (rtsp://, srt://, udp://, http://)");
    live->excludes(inputs);
    app.add_option("--duration", line.durationS, "With --live: stop after this many seconds")
        ->check(CLI::PositiveNumber)
        ->needs(live);
    app.add_option("--frames", line.frameLimit, "With --live: stop after reading this many frames")
        ->check(CLI::PositiveNumber)
        ->needs(live);
    app.add_option("--metrics", line.metricsAddress,
                   "With --live: serve Prometheus metrics at http://ADDRESS:PORT/metrics (PORT alone: on loopback)")
        ->needs(live);
    CLI::Option* csv = app.add_flag("--csv", line.csv, "Write CSV rows instead of the table (summary on stderr)");
    CLI::Option* json = app.add_flag("--json", line.json, "Write JSON Lines: one object per picture, then a summary");
    csv->excludes(json);
    app.add_option("-r,--reference", line.reference,
                   "The clock the others are measured against: newest (the source, the default), left, right, "
                   "top, bottom, or N for the Nth from the left")
        ->check(CLI::Validator(
            [](const std::string& text) {
                return ParseReferenceChoice(text) ? std::string() : "expected newest, left, right, top, bottom or N";
            },
            "REFERENCE"));
    app.add_option("-t,--tolerance-ms", line.toleranceMs,
                   "How far the wall-clock difference may stray from the microsecond one, beyond the 1 ms of "
                   "millisecond truncation (default 2)")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--plot", line.plotPath, "Also draw latency over time and its histogram into this PNG");
    app.add_option("-j,--threads", line.threadCount, "Threads reading pictures (default: one per core)")
        ->check(CLI::Range(1, 256));
    app.add_flag("--no-progress", line.noProgress, "No progress bar for long videos, no live status line");
    app.footer(kExitCodeHelp);
}

ReportFormat FormatOf(const CommandLine& line)
{
    return line.csv ? ReportFormat::Csv : line.json ? ReportFormat::JsonLines : ReportFormat::Table;
}

std::size_t LongestName(const std::vector<std::filesystem::path>& inputs)
{
    std::size_t longest = 5;  // "input"
    for (const std::filesystem::path& input : inputs) {
        longest = std::max(longest, input.string().size());
    }
    return longest;
}

// The summary and, when asked, the plot of what was read; the exit code,
// made more serious when the plot cannot be written.
int Conclude(const CommandLine& line, ReportFormat format, const std::vector<LatencySample>& samples,
             std::optional<std::size_t> framesDropped, int exitCode)
{
    Summary summary = Summarize(samples);
    summary.framesDropped = framesDropped;
    WriteReportSummary(format == ReportFormat::Csv ? std::cerr : std::cout, format, summary);
    if (!line.plotPath.empty() && !WriteLatencyPlot(line.plotPath, samples, summary)) {
        std::cerr << "tixabo-read: " << line.plotPath << ": cannot write the plot\n";
        exitCode = MoreSeriousExitCode(exitCode, kExitInternalError);
    }
    return exitCode;
}

int ReadFiles(const CommandLine& line)
{
    const std::vector<std::filesystem::path> inputs = ExpandInputs(line.inputs);
    if (inputs.empty()) {
        std::cerr << "tixabo-read: no image or video to read\n";
        return kExitUnreadableFile;
    }
    SessionOptions options;
    options.verdict = {*ParseReferenceChoice(line.reference), line.toleranceMs};
    options.style = {FormatOf(line), LongestName(inputs)};
    options.workerCount = line.threadCount;
    options.showProgress = !line.noProgress && StderrIsTerminal();
    const SessionOutcome outcome = ReadInputs(inputs, options, std::cout, std::cerr);
    return Conclude(line, options.style.format, outcome.samples, std::nullopt, outcome.exitCode);
}

// Set by Ctrl+C (or SIGTERM): the live run ends with its summary. A second
// Ctrl+C ends the program at once.
std::atomic<bool> stopRequested{false};

void RequestStop(int signalNumber)
{
    stopRequested = true;
    std::signal(signalNumber, SIG_DFL);
}

int ReadLiveSource(const CommandLine& line)
{
    const char* display = std::getenv("DISPLAY");
    const std::optional<LiveSourceRequest> request = ParseLiveSource(line.liveSource, display != nullptr ? display : "");
    if (!request) {
        std::cerr << "tixabo-read: " << line.liveSource
                  << ": not a live source (x11:DISPLAY, x11:DISPLAY+X,Y,WxH, /dev/videoN or a stream address)\n";
        return kExitUsage;
    }
    std::signal(SIGINT, RequestStop);
    std::signal(SIGTERM, RequestStop);
    const ReportFormat format = FormatOf(line);
    const OpenedLiveSource opened = OpenLiveSource(*request, stopRequested);
    if (!opened.frames) {
        std::cerr << "tixabo-read: " << line.liveSource << ": " << opened.problem << '\n';
        return Conclude(line, format, {}, std::size_t{0}, kExitLiveSourceUnavailable);
    }
    // Learnt (or loaded) before reading starts: the first frames would
    // otherwise wait for it, and those behind them be dropped.
    SharedDigitClassifier();
    LiveMetrics metrics;
    if (!line.metricsAddress.empty()) {
        const std::string address = MetricsBindAddress(line.metricsAddress);
        try {
            const int port = metrics.Serve(address);
            std::cerr << "tixabo-read: metrics at http://" << address.substr(0, address.rfind(':')) << ':' << port
                      << "/metrics\n";
        } catch (const std::exception& error) {
            std::cerr << "tixabo-read: cannot serve metrics at " << address << ": " << error.what() << '\n';
            return kExitUsage;
        }
    }
    LiveOptions options;
    if (!line.metricsAddress.empty()) {
        options.onFrameRead = [&](const LatencySample& sample, std::size_t framesDropped) {
            metrics.Count(sample, framesDropped);
        };
    }
    options.verdict = {*ParseReferenceChoice(line.reference), line.toleranceMs};
    options.style = {format, std::max<std::size_t>(5, line.liveSource.size())};
    options.workerCount = line.threadCount;
    options.durationS = line.durationS;
    options.frameLimit = line.frameLimit;
    options.showStatus = !line.noProgress && StderrIsTerminal();
    options.rowsOnStatusTerminal = isatty(STDOUT_FILENO) != 0;
    const LiveOutcome outcome = ReadLive(*opened.frames, line.liveSource, options, stopRequested, std::cout, std::cerr);
    return Conclude(line, format, outcome.samples, outcome.framesDropped, outcome.exitCode);
}

}  // namespace

int main(int argc, char** argv)
{
    // FFmpeg's own complaints about a damaged video add nothing to ours (AV_LOG_QUIET).
    setenv("OPENCV_FFMPEG_LOGLEVEL", "-8", 0);
    CLI::App app("Reads the Tixabo clocks in photos, screenshots and videos of two screens (a source and its copy) "
                 "and reports the latency between them.",
                 "tixabo-read");
    CommandLine line;
    DescribeOptions(app, line);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? kExitFine : kExitUsage;
    }
    if (line.inputs.empty() && line.liveSource.empty()) {
        std::cerr << "tixabo-read: give the pictures or videos to read, or --live SOURCE\n" << app.help();
        return kExitUsage;
    }
    try {
        return line.liveSource.empty() ? ReadFiles(line) : ReadLiveSource(line);
    } catch (const std::exception& error) {
        std::cerr << "tixabo-read: internal error: " << error.what() << '\n';
        return kExitInternalError;
    }
}
