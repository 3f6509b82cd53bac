#pragma once

#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

#include "reader/clock_reading.h"

// A clock window's lines step evenly, in the picture and in the counter:
// multi-line mode rolls one frame a line, so each line stands one line step
// below the one before and reads one period later (within the ticks'
// jitter), and its wall clock steps with it. Every question grouping asks of
// a window's lines is whether they fit that step.

// Where a line stands in the picture and what it reads: all the model asks.
struct WindowLine {
    LineReading reading;
    cv::Point2f centre;
    float left = 0, right = 0, height = 0;  // image pixels
};

// One line step of a window, fitted to its lines.
struct WindowStep {
    float px = 0;    // one line down, image pixels; 0 where the window has one line
    double us = 0;   // one period; 0 where no two lines show the window rolling on
};

// Lines measured this far off a whole number of steps (as a share of one)
// stand no whole number of steps apart: a line's centre moves by about
// this much where its top runs into a title bar.
constexpr float kStepPxSlack = 0.2f;
// Two lines of one window are at most this many steps apart: up to two
// lines missed between them.
constexpr int kMaxStepsDown = 3;
// Ticks land within this much of their period, and a line's wall clock,
// truncated to whole milliseconds, steps with its counter within this much.
constexpr double kStepJitterUs = 300.0;
constexpr double kWallStepSlackUs = 1500.0;

std::uint32_t MicrosAhead(const LineReading& later, const LineReading& earlier);
// Whether `later` was drawn after `earlier`, the counter taken as circular.
bool DrawnAfter(const LineReading& later, const LineReading& earlier);
// Whether the wall clock steps from `earlier` to `later` as the counter does.
bool FacesStepTogether(const LineReading& later, const LineReading& earlier);

// Lines one above the other in one window: side by side over most of the
// narrower one's width, the shorter at least `heightShare` of the taller.
bool LevelAndAlike(const WindowLine& above, const WindowLine& below, float heightShare);

// A window's step: one line down is the shortest drop between neighbouring
// lines; the period is the one most pairs of lines agree with, each pair of
// lines read surely, the lower drawn after the upper a whole number of
// steps down, proposing its own. A misread line proposes nothing. Where no
// such pair is read, only the drop is known.
WindowStep FitStep(const std::vector<WindowLine>& lines);

// A window's step at the scale of lines `toHeight` tall, from its lines
// `fromHeight` tall: every clock in a picture is one program drawing, so
// they tick with one period and their lines step by one share of their
// digits' height.
WindowStep ScaledStep(const WindowStep& step, float fromHeight, float toHeight);

// How many of the window's steps `lower` stands below `upper`, in pixels
// and in microseconds alike (within the ticks' jitter a step); 0 where it
// stands no whole number of steps from it, up to kMaxStepsDown.
int WholeStepsApart(const WindowStep& step, const WindowLine& upper, const WindowLine& lower);

// `lower` is the line one step after `upper`, in both faces.
bool StepsOnOnce(const WindowStep& step, const WindowLine& upper, const WindowLine& lower);

// Whether the top line stands a whole number of the window's steps above one
// of its later lines: an older line of the window, whatever the line right
// under it reads.
bool TopLineFitsStep(const std::vector<WindowLine>& lines);

// Every neighbouring pair of at least `minLines` lines is one step apart,
// of a period of at most `maxStepUs`: misread digits would break the steps.
bool StepsEvenly(const std::vector<WindowLine>& lines, std::size_t minLines, std::uint32_t maxStepUs);
