#include "reader/session.h"

#include <algorithm>
#include <optional>

#include "reader/exit_codes.h"
#include "reader/frame_source.h"
#include "reader/ordered_parallel_map.h"
#include "reader/progress_bar.h"

namespace {

bool IsInputTrouble(Rejection rejection)
{
    return rejection == Rejection::UnreadableFile || rejection == Rejection::NotImageOrVideo ||
           rejection == Rejection::TruncatedVideo || rejection == Rejection::TruncatedPicture ||
           rejection == Rejection::PictureTooLarge;
}

// The reporting side of the pipeline: sees every judged frame in order.
class Reporter {
public:
    Reporter(const SessionOptions& options, std::ostream& out, std::ostream& messages)
        : options_(options), out_(out), messages_(messages), progress_(messages)
    {
    }

    void Take(const JudgedFrame& frame)
    {
        if (frame.inputIndex != currentInput_) {
            FinishInput();
            currentInput_ = frame.inputIndex;
            currentInputName_ = frame.row.input;
        }
        const FrameVerdict& verdict = frame.row.verdict;
        if (verdict.rejection && IsInputTrouble(*verdict.rejection)) {
            outcome_.problem = verdict.rejection;
        }
        outcome_.mostClocks = std::max(outcome_.mostClocks, verdict.clocks.size());
        if (!frame.problemMessage.empty()) {
            Tell(frame.problemMessage);
        }
        WriteReportRow(out_, options_.style, frame.row);
        result_.samples.push_back(SampleOfRow(frame.row));
        if (options_.showProgress && frame.progressTotal > 0) {
            progress_.Show(frame.row.input, frame.row.frame + 1, frame.progressTotal);
        }
    }

    SessionOutcome Finish()
    {
        FinishInput();
        return std::move(result_);
    }

private:
    void Tell(const std::string& message)
    {
        progress_.Clear();
        messages_ << "tixabo-read: " << currentInputName_ << ": " << message << '\n';
    }

    void FinishInput()
    {
        progress_.Clear();
        if (!currentInput_) return;
        const int exitCode = InputExitCode(outcome_);
        if (exitCode == kExitNoClock) Tell("no clock found");
        if (exitCode == kExitOneClock) Tell("only one clock found");
        result_.exitCode = MoreSeriousExitCode(result_.exitCode, exitCode);
        outcome_ = {};
    }

    const SessionOptions& options_;
    std::ostream& out_;
    std::ostream& messages_;
    ProgressBar progress_;
    std::optional<std::size_t> currentInput_;
    std::string currentInputName_;
    InputOutcome outcome_;
    SessionOutcome result_;
};

}  // namespace

SessionOutcome ReadInputs(const std::vector<std::filesystem::path>& inputs, const SessionOptions& options,
                          std::ostream& out, std::ostream& messages)
{
    FrameSource source(inputs);
    Reporter reporter(options, out, messages);
    WriteReportHeader(out, options.style);
    // Enough frames queued to keep every worker busy while the decoder runs ahead.
    const std::size_t maxInFlight = options.workerCount * 2 + 2;
    OrderedParallelMap<FrameTask, JudgedFrame>(
        [&] { return source.Next(); }, [&](FrameTask task) { return JudgeTask(std::move(task), options.verdict); },
        [&](JudgedFrame frame) { reporter.Take(frame); }, options.workerCount, maxInFlight);
    return reporter.Finish();
}
