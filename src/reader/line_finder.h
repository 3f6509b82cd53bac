#pragma once

#include <array>
#include <vector>

#include <opencv2/core.hpp>

#include "shared/clock_face.h"

// Pictures up to this size are searched whole; larger ones at a half or a
// quarter, where a readable clock's digits are still tall enough.
constexpr int kFullSearchSidePx = 1400;

// How much a picture of `size` is reduced for the search for its lines: 1,
// 2 or 4.
int SearchReduction(cv::Size size);

// How bright the clock's cyan ink is at each pixel: min(green, blue) - red.
// Every background the clock draws (and white, grey, black rooms) scores
// zero or less, and the ink (15, 255, 255) scores 240. In a picture searched
// reduced, each pixel holds the brightest score of the reduction's block
// around it, so that thin strokes stay whole; by default the reduction is
// the picture's SearchReduction.
cv::Mat InkScore(const cv::Mat& bgr);
cv::Mat InkScore(const cv::Mat& bgr, int searchReduction);

// How far each pixel has moved from what lies around it toward the clock's
// cyan, 240 for full ink. Ink laid thinly or briefly over a background that
// scores nothing in InkScore (a third of an exposure's ink on purple, a
// hairline stroke blurred into red) still scores its share. Held at its
// blocks' peaks as InkScore is.
cv::Mat InkShareScore(const cv::Mat& bgr, int searchReduction);

// The same share for each pixel of `bgr` against its own background colour
// in `behindBgr` (of the same size), not held at any block's peak.
cv::Mat InkShareAgainst(const cv::Mat& bgr, const cv::Mat& behindBgr);

// One line of clock text, straightened: `strip` is the ink score resampled so
// the digits stand kDigitHeightPx tall on a level baseline; cell i spans
// cellEdgesX[i] to cellEdgesX[i + 1] (strip pixels). Perspective left in the
// strip makes the cells narrow gradually along the line.
struct TextLine {
    cv::Mat strip;  // CV_8U
    std::array<float, kLineCells + 1> cellEdgesX{};
    cv::Matx33d stripToImage;  // maps strip pixels back to the picture
    float digitHeightImagePx = 0.0f;
};

constexpr int kDigitHeightPx = 40;
constexpr int kStripMarginPx = 8;   // above and below the digits
constexpr int kStripSidePx = 60;    // left and right of the ink: room for two cells

// Every clock line in the ink score of a picture, in no particular order,
// searched at the picture's SearchReduction.
std::vector<TextLine> FindTextLines(const cv::Mat& inkScore);

// The same, searched for in `searchScore` (the ink score or a variant of
// it, held at the same reduction's blocks) and straightened from the ink
// score itself.
std::vector<TextLine> FindTextLines(const cv::Mat& inkScore, const cv::Mat& searchScore, int searchReduction);

// Variants of an ink score to search again where lines were missed: ink
// above its surroundings (a cyan-ish background raises the score around the
// text), faint ink brightened, faint ink strengthened more, and ink near the
// brightest around it (blurred digits that run together at one threshold).
std::vector<cv::Mat> SearchVariants(const cv::Mat& inkScore, int searchReduction);

// The line whose digits fill `quad` (top left, top right, bottom right,
// bottom left; image pixels), straightened and cut into cells as found
// lines are.
TextLine StraightenLine(const cv::Mat& inkScore, const std::array<cv::Point2f, 4>& quad);

// The strip rectangle of cell `index` (clipped to the strip).
cv::Rect CellRect(const TextLine& line, int index);

// Where a point of a line's strip falls in the picture, through the line's
// strip-to-picture mapping (kept alone where the strip itself is not).
cv::Point2f StripToImage(const cv::Matx33d& stripToImage, cv::Point2f stripPoint);
cv::Point2f StripToImage(const TextLine& line, cv::Point2f stripPoint);

// Where a line's digits stand in the picture, from its first cell's edge to
// its last: top left, top right, bottom right, bottom left.
std::array<cv::Point2f, 4> DigitsQuad(const TextLine& line);
