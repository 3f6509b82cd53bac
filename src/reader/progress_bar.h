#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>

// A one-line bar redrawn in place (for a terminal): "clip.mp4 [#####-----] 50% 1200/2400".
class ProgressBar {
public:
    explicit ProgressBar(std::ostream& out);
    void Show(std::string_view label, std::size_t done, std::size_t total);
    // Wipes the bar, before other messages and at the end.
    void Clear();

private:
    std::ostream& out_;
    std::string shownLabel_;
    int shownPercent_ = -1;
};

// Whether stderr is a terminal, where a bar can be drawn.
bool StderrIsTerminal();
