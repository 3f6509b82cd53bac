#pragma once

#include <array>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "reader/line_finder.h"

// A digit cell's best reading and how sure it is: `score` is the likeness
// to the best-matching learnt shape of that digit (1 = identical shape),
// `margin` the log-likelihood ratio to the best other digit.
struct DigitGuess {
    int digit = 0;
    float score = 0.0f;
    float margin = 0.0f;
};

// Monospace families the digit shapes are learnt from, when installed. The
// clock draws in Consolas on Windows and in look-alikes under Wine; learning
// from many designs keeps the reader from depending on one font's shapes.
const std::vector<std::string>& DefaultDigitFonts();

// Digit shapes learnt from the given families (the installed ones among
// them) rendered as clock lines and cut into cells the way pictures are.
class DigitClassifier {
public:
    explicit DigitClassifier(const std::vector<std::string>& fontFamilies);

    // The digits of a line's cells, one guess per cell of kDigitCells. A digit
    // above a cell's entry in `highestDigits` (one the clock never draws
    // there) is never the runner-up a guess's margin is measured against.
    std::vector<DigitGuess> ReadDigits(const TextLine& line,
                                       const std::array<int, kDigitCells.size()>& highestDigits) const;

private:
    void Learn(const cv::Mat& picture, const std::vector<std::string>& lineTexts);
    void Discriminate();
    cv::Mat prototypes_;  // one normalised feature row per learnt shape
    std::vector<int> prototypeDigits_;
    std::size_t fontCount_ = 0;
    // What is learnt over every sample, cells a little off included: the
    // sums per digit and of all products, then a linear discriminant
    // (weights, one column per digit, and offsets) from them.
    cv::Mat digitSums_, digitCounts_, productSums_;
    cv::Mat weights_, offsets_;
};

// The classifier built from DefaultDigitFonts, made once.
const DigitClassifier& SharedDigitClassifier();
