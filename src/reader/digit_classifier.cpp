#include "reader/digit_classifier.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include <cairo-ft.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <opencv2/imgproc.hpp>

namespace {

constexpr int kFeatureWidthPx = 12;
constexpr int kFeatureHeightPx = 18;
constexpr int kFeatureCount = kFeatureWidthPx * kFeatureHeightPx;
// Learning renders draw digits this tall, near a sharp screenshot's size.
constexpr double kLearnFontSizePx = 72.0;
// Camera blur the learnt shapes are also seen through (sigma, learn pixels).
constexpr double kLearnBlurSigmasPx[] = {0.0, 2.0, 4.0, 6.0};
// Cells as a picture's may be placed: a pixel or two off either way (strip
// pixels).
constexpr int kLearnShiftPx = 2;
const cv::Point kLearnCellShiftsPx[] = {
    {0, 0}, {-kLearnShiftPx, 0}, {kLearnShiftPx, 0}, {0, -kLearnShiftPx}, {0, kLearnShiftPx}};
// Share of the average variance added to every feature's, so that shapes
// unlike the learnt ones are not judged by pixels the fonts happen to share.
constexpr double kCovarianceShrinkage = 0.1;

// Line k shows digit (k + position) mod 10 at each digit position, so every
// digit is seen at every position once over the ten lines.
std::vector<std::string> LearningLines()
{
    std::vector<std::string> lines;
    for (int shift = 0; shift < 10; ++shift) {
        std::string text(kLineCells, ' ');
        text[12] = ':';
        text[15] = '.';
        for (std::size_t position = 0; position < kDigitCells.size(); ++position) {
            text[static_cast<std::size_t>(kDigitCells[position])] =
                static_cast<char>('0' + (shift + static_cast<int>(position)) % 10);
        }
        lines.push_back(text);
    }
    return lines;
}

// The installed font for exactly this family, or null when fontconfig would
// substitute another.
FcPattern* MatchFamily(const std::string& family)
{
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(family.c_str()));
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    FcChar8* matched = nullptr;
    if (match != nullptr && FcPatternGetString(match, FC_FAMILY, 0, &matched) == FcResultMatch &&
        family == reinterpret_cast<const char*>(matched)) {
        return match;
    }
    if (match != nullptr) FcPatternDestroy(match);
    return nullptr;
}

// Cyan lines on black, one above the other, as the clock draws them.
cv::Mat RenderLines(FcPattern* font, const std::vector<std::string>& lineTexts)
{
    const int lineStepPx = static_cast<int>(kLearnFontSizePx * 1.6);
    const int widthPx = static_cast<int>(kLearnFontSizePx * 0.75 * kLineCells) + 80;
    const int heightPx = lineStepPx * static_cast<int>(lineTexts.size() + 1);
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, widthPx, heightPx);
    cairo_t* cairo = cairo_create(surface);
    cairo_set_source_rgb(cairo, 0, 0, 0);
    cairo_paint(cairo);
    cairo_font_face_t* face = cairo_ft_font_face_create_for_pattern(font);
    cairo_set_font_face(cairo, face);
    cairo_set_font_size(cairo, kLearnFontSizePx);
    cairo_set_source_rgb(cairo, 15.0 / 255.0, 1.0, 1.0);
    for (std::size_t index = 0; index < lineTexts.size(); ++index) {
        cairo_move_to(cairo, 40, static_cast<double>(lineStepPx) * static_cast<double>(index + 1));
        cairo_show_text(cairo, lineTexts[index].c_str());
    }
    cairo_surface_flush(surface);
    const cv::Mat bgra(heightPx, widthPx, CV_8UC4, cairo_image_surface_get_data(surface),
                       static_cast<std::size_t>(cairo_image_surface_get_stride(surface)));
    cv::Mat bgr;
    cv::cvtColor(bgra, bgr, cv::COLOR_BGRA2BGR);
    cairo_destroy(cairo);
    cairo_font_face_destroy(face);
    cairo_surface_destroy(surface);
    return bgr;
}

// A cell's features: its ink resampled to a small grid, mean removed,
// scaled to unit length.
cv::Mat CellFeatures(const cv::Mat& strip, const cv::Rect& cell)
{
    // Exactly the cell: a neighbour's edge inside it would make the first
    // and last digits of a line look unlike the rest.
    cv::Mat small;
    cv::resize(strip(cell), small, cv::Size(kFeatureWidthPx, kFeatureHeightPx), 0, 0, cv::INTER_AREA);
    // Softened, so a cell fit a pixel off still matches.
    cv::GaussianBlur(small, small, cv::Size(3, 3), 0.8);
    cv::Mat features;
    small.reshape(1, 1).convertTo(features, CV_32F);
    features -= cv::mean(features)[0];
    const double length = cv::norm(features);
    if (length > 0) features /= length;
    return features;
}

}  // namespace

const std::vector<std::string>& DefaultDigitFonts()
{
    static const std::vector<std::string> families{
        "DejaVu Sans Mono", "Inconsolata", "Liberation Mono", "Noto Mono", "Hack",
        "JetBrains Mono",   "Fira Code",   "Go Mono",         "Cousine",   "FreeMono"};
    return families;
}

DigitClassifier::DigitClassifier(const std::vector<std::string>& fontFamilies)
    : digitSums_(cv::Mat::zeros(10, kFeatureCount, CV_64F)),
      digitCounts_(cv::Mat::zeros(10, 1, CV_64F)),
      productSums_(cv::Mat::zeros(kFeatureCount, kFeatureCount, CV_64F))
{
    const std::vector<std::string> lineTexts = LearningLines();
    for (const std::string& family : fontFamilies) {
        FcPattern* font = MatchFamily(family);
        if (font == nullptr) continue;
        const cv::Mat sharp = RenderLines(font, lineTexts);
        FcPatternDestroy(font);
        for (const double sigma : kLearnBlurSigmasPx) {
            cv::Mat picture = sharp;
            if (sigma > 0) cv::GaussianBlur(sharp, picture, cv::Size(), sigma);
            Learn(picture, lineTexts);
        }
        ++fontCount_;
    }
    if (fontCount_ == 0) throw std::runtime_error("none of the monospace fonts to learn digits from is installed");
    Discriminate();
}

// Averages each digit's cells over the lines of one rendered picture into a
// shape of its own, and adds every cell, shifted too, to the sums.
void DigitClassifier::Learn(const cv::Mat& picture, const std::vector<std::string>& lineTexts)
{
    std::vector<TextLine> lines = FindTextLines(InkScore(picture));
    if (lines.size() != lineTexts.size()) return;
    std::sort(lines.begin(), lines.end(), [](const TextLine& a, const TextLine& b) {
        return StripToImage(a, {0, 0}).y < StripToImage(b, {0, 0}).y;
    });
    cv::Mat shapeSums = cv::Mat::zeros(10, kFeatureCount, CV_32F);
    cv::Mat samples;
    for (std::size_t index = 0; index < lines.size(); ++index) {
        const TextLine& line = lines[index];
        // A faint font blurred much can be cut wrongly: its cells run off.
        if (line.cellEdgesX.front() < kLearnShiftPx || line.cellEdgesX.back() > line.strip.cols - kLearnShiftPx) continue;
        cv::Mat padded;
        cv::copyMakeBorder(line.strip, padded, kLearnShiftPx, kLearnShiftPx, 0, 0, cv::BORDER_CONSTANT, 0);
        for (const int cell : kDigitCells) {
            const int digit = lineTexts[index][static_cast<std::size_t>(cell)] - '0';
            for (const cv::Point shift : kLearnCellShiftsPx) {
                const cv::Mat features = CellFeatures(padded, CellRect(line, cell) + cv::Point(0, kLearnShiftPx) + shift);
                if (shift == cv::Point()) shapeSums.row(digit) += features;
                samples.push_back(features);
                cv::Mat sum = digitSums_.row(digit);
                cv::add(sum, features, sum, cv::noArray(), CV_64F);
                digitCounts_.at<double>(digit) += 1.0;
            }
        }
    }
    cv::Mat products;
    cv::mulTransposed(samples, products, true);
    cv::add(productSums_, products, productSums_, cv::noArray(), CV_64F);
    for (int digit = 0; digit < 10; ++digit) {
        cv::Mat row = shapeSums.row(digit).clone();
        row /= cv::norm(row);
        prototypes_.push_back(row);
        prototypeDigits_.push_back(digit);
    }
}

// A linear discriminant over the samples: each digit a Gaussian about its
// mean, all sharing one covariance, shrunk towards the average variance.
void DigitClassifier::Discriminate()
{
    cv::Mat means(10, kFeatureCount, CV_64F);
    for (int digit = 0; digit < 10; ++digit) means.row(digit) = digitSums_.row(digit) / digitCounts_.at<double>(digit);
    const double count = cv::sum(digitCounts_)[0];
    cv::Mat covariance = productSums_ / count;
    for (int digit = 0; digit < 10; ++digit) {
        covariance -= (digitCounts_.at<double>(digit) / count) * means.row(digit).t() * means.row(digit);
    }
    const double averageVariance = cv::trace(covariance)[0] / kFeatureCount;
    covariance = (1.0 - kCovarianceShrinkage) * covariance +
                 kCovarianceShrinkage * averageVariance * cv::Mat::eye(kFeatureCount, kFeatureCount, CV_64F);
    cv::Mat weights;
    cv::solve(covariance, means.t(), weights, cv::DECOMP_CHOLESKY);
    cv::Mat offsets = -0.5 * means * weights;
    weights.convertTo(weights_, CV_32F);
    cv::Mat(offsets.diag().t()).convertTo(offsets_, CV_32F);
}

std::vector<DigitGuess> DigitClassifier::ReadDigits(const TextLine& line,
                                                    const std::array<int, kDigitCells.size()>& highestDigits) const
{
    cv::Mat features;
    for (const int cell : kDigitCells) features.push_back(CellFeatures(line.strip, CellRect(line, cell)));
    cv::Mat likeness, discriminants;
    cv::gemm(features, prototypes_, 1.0, cv::Mat(), 0.0, likeness, cv::GEMM_2_T);
    cv::gemm(features, weights_, 1.0, cv::repeat(offsets_, features.rows, 1), 1.0, discriminants);

    std::vector<DigitGuess> guesses;
    for (int row = 0; row < features.rows; ++row) {
        const float* scores = discriminants.ptr<float>(row);
        DigitGuess guess;
        guess.digit = static_cast<int>(std::max_element(scores, scores + 10) - scores);
        float runnerUp = -1e30f;
        for (int digit = 0; digit <= highestDigits[static_cast<std::size_t>(row)]; ++digit) {
            if (digit != guess.digit) runnerUp = std::max(runnerUp, scores[digit]);
        }
        guess.margin = scores[guess.digit] - runnerUp;
        guess.score = -1.0f;
        const float* shapes = likeness.ptr<float>(row);
        for (int column = 0; column < likeness.cols; ++column) {
            if (prototypeDigits_[static_cast<std::size_t>(column)] == guess.digit) guess.score = std::max(guess.score, shapes[column]);
        }
        guesses.push_back(guess);
    }
    return guesses;
}

const DigitClassifier& SharedDigitClassifier()
{
    static const DigitClassifier classifier(DefaultDigitFonts());
    return classifier;
}
