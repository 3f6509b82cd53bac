#pragma once

#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "reader/line_finder.h"

// A digit cell's best reading and how sure it is: `score` is the likeness
// to the best-matching digit (1 = identical shape), `margin` how far ahead
// of the best other digit it is.
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

    // The digits of a line's cells, one guess per cell of kDigitCells.
    std::vector<DigitGuess> ReadDigits(const TextLine& line) const;

private:
    void Learn(const cv::Mat& picture, const std::vector<std::string>& lineTexts);
    cv::Mat prototypes_;  // one normalised feature row per learnt shape
    std::vector<int> prototypeDigits_;
    std::size_t fontCount_ = 0;
};

// The classifier built from DefaultDigitFonts, made once.
const DigitClassifier& SharedDigitClassifier();

// A cell's features: its ink resampled to a small grid, mean removed,
// scaled to unit length.
cv::Mat CellFeatures(const TextLine& line, int cell);
