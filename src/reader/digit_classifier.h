#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "reader/line_finder.h"

// A digit cell's best reading and how sure it is: `score` is the likeness
// to the best-matching learnt shape of that digit (1 = identical shape),
// `margin` the log-likelihood ratio to the best other digit, each digit
// scored by the learnt face it looks most like. `pooledMargin` is the same ratio
// with each digit one shape averaged over the fonts: a cell that is a mix
// of two digits can look like one digit of some font, never far ahead of
// every other digit's average shape.
struct DigitGuess {
    int digit = 0;
    float score = 0.0f;
    float margin = 0.0f;
    float pooledMargin = 0.0f;
    // How far each digit's log-likelihood falls below the best one's.
    std::array<float, 10> behindBest{};
};

// The shapes of one picture's own font: every digit of a clock is drawn in
// one face, so the cells read surely in a picture are samples of it to read
// its unsure cells against. Feature sums and counts per digit.
struct PictureFace {
    cv::Mat featureSums;  // CV_32F, one row per digit
    std::array<int, 10> sampleCounts{};
};

// The features of a line's digit cells, one row per cell of kDigitCells.
cv::Mat DigitCellFeatures(const TextLine& line);

// Adds a cell read surely as `digit` to the picture's face.
void AddToFace(PictureFace& face, const cv::Mat& cellFeatures, int digit);

// Monospace families the digit shapes are learnt from, when installed. The
// clock draws in Consolas on Windows and in look-alikes under Wine; learning
// from many designs keeps the reader from depending on one font's shapes.
const std::vector<std::string>& DefaultDigitFonts();

// The font files a classifier learns the given families from (the
// installed ones).
std::vector<std::string> InstalledFontFiles(const std::vector<std::string>& fontFamilies);

// Digit shapes learnt from the given families (the installed ones among
// them) rendered as clock lines and cut into cells the way pictures are,
// each family as designed and, since fonts differ in weight, heavier and
// lighter.
// Throws when none is installed, or when a font's learning lines are not all
// found: a font learnt in part would skew every reading.
class DigitClassifier {
public:
    explicit DigitClassifier(const std::vector<std::string>& fontFamilies);

    // What was learnt, kept in a file and read back whole; nothing when the
    // file is missing, unreadable or not such a file.
    bool Save(const std::filesystem::path& file) const;
    static std::optional<DigitClassifier> Load(const std::filesystem::path& file);

    // The digits of a line's cells, one guess per cell of kDigitCells, each
    // digit scored by its likeliest learnt face. A digit
    // above a cell's entry in `highestDigits` (one the clock never draws
    // there) is never the runner-up a guess's margin is measured against.
    std::vector<DigitGuess> ReadDigits(const TextLine& line,
                                       const std::array<int, kDigitCells.size()>& highestDigits) const;

    // The same for cells' features (DigitCellFeatures); where `face` holds a
    // digit seen surely in the picture, that digit is its shape there: its
    // learnt faces' means give way to the picture's, under the same covariance.
    std::vector<DigitGuess> ReadDigits(const cv::Mat& cellFeatures,
                                       const std::array<int, kDigitCells.size()>& highestDigits,
                                       const PictureFace* face = nullptr) const;

    // A cell of a screen caught mid-refresh may show the top of one digit
    // and the bottom of another. Each cell's log-likelihood of each digit
    // (one row per cell, one column per digit) from its feature rows above
    // `splitRow` and from those from it down, each scored alone against
    // the learnt shapes' same rows under their share of the covariance;
    // splitRow runs from kFirstSplitRow to kLastSplitRow.
    struct SplitScores {
        cv::Mat above, below;  // CV_32F
    };
    static constexpr int kFirstSplitRow = 3;
    static constexpr int kLastSplitRow = 15;
    SplitScores ScoreSplit(const cv::Mat& cellFeatures, int splitRow) const;

private:
    DigitClassifier() = default;
    // The discriminants of the rows above and below each split, derived
    // from the learnt means and covariance.
    void DiscriminateSplits();
    cv::Mat prototypes_;  // one normalised feature row per learnt shape
    cv::Mat prototypeDigits_;  // CV_32S, the digit of each
    // The linear discriminants over every sample, sharing one covariance
    // (its inverse kept): one Gaussian per digit and learnt face (weights,
    // one column each, and offsets, the digit of each column), and one per
    // digit about its mean over all fonts as designed.
    cv::Mat modeWeights_, modeOffsets_, modeDigits_;
    cv::Mat weights_, offsets_, precision_;
    cv::Mat means_;  // one row per digit
    struct RowsDiscriminant {
        cv::Mat weights, offsets;
    };
    std::vector<RowsDiscriminant> aboveSplits_, belowSplits_;  // from kFirstSplitRow on
};

