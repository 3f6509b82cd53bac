#include "reader/progress_bar.h"

#include <algorithm>
#include <unistd.h>

namespace {

constexpr int kBarWidth = 30;

}  // namespace

ProgressBar::ProgressBar(std::ostream& out) : out_(out) {}

void ProgressBar::Show(std::string_view label, std::size_t done, std::size_t total)
{
    const int percent = total == 0 ? 100 : static_cast<int>(std::min<std::size_t>(done * 100 / total, 100));
    if (percent == shownPercent_ && label == shownLabel_) return;
    shownPercent_ = percent;
    shownLabel_ = label;
    const int filled = percent * kBarWidth / 100;
    out_ << "\r\033[K" << label << " [" << std::string(static_cast<std::size_t>(filled), '#')
         << std::string(static_cast<std::size_t>(kBarWidth - filled), '-') << "] " << percent << "% " << done << '/'
         << total << std::flush;
}

void ProgressBar::Clear()
{
    if (shownPercent_ < 0) return;
    out_ << "\r\033[K" << std::flush;
    shownPercent_ = -1;
    shownLabel_.clear();
}

bool StderrIsTerminal()
{
    return isatty(STDERR_FILENO) != 0;
}
