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
// Fonts differ in weight beyond the learnt designs: every learnt font is
// also learnt with strokes this much heavier, and lighter, on each side
// (learn pixels), each a face of its own. Thinning the thinnest fonts'
// strokes breaks their digits apart; those have no lighter face.
constexpr int kHeavierStrokePx = 2;
constexpr int kLighterStrokePx = 1;
// A digit seen this many times surely in a picture has a face shape there.
constexpr int kMinFaceSamples = 2;
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

// Cyan lines on black, one above the other, as the clock draws them, with
// strokes grown by `strokeGrowthPx` on each side (thinned when negative).
cv::Mat RenderLines(FcPattern* font, const std::vector<std::string>& lineTexts, int strokeGrowthPx)
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
    const cv::Mat pen = cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(2 * std::abs(strokeGrowthPx) + 1,
                                                                             2 * std::abs(strokeGrowthPx) + 1));
    if (strokeGrowthPx > 0) cv::dilate(bgr, bgr, pen);
    if (strokeGrowthPx < 0) cv::erode(bgr, bgr, pen);
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
        "DejaVu Sans Mono", "Inconsolata", "Liberation Mono", "Noto Mono",     "Hack",      "JetBrains Mono",
        "Fira Code",        "Go Mono",     "Cousine",         "FreeMono"};
    return families;
}

namespace {

// What is learnt over every sample, cells a little off included: the sums
// per digit, per digit of each learnt face (the face being learnt is the
// last ten rows) and of all products, and one averaged shape per digit and
// picture.
struct LearningSums {
    cv::Mat digitSums = cv::Mat::zeros(10, kFeatureCount, CV_64F);
    cv::Mat digitCounts = cv::Mat::zeros(10, 1, CV_64F);
    cv::Mat modeSums;
    cv::Mat modeCounts;
    cv::Mat productSums = cv::Mat::zeros(kFeatureCount, kFeatureCount, CV_64F);
    cv::Mat prototypes;
    cv::Mat prototypeDigits;
};

// The learning lines found in a sharp rendering, top to bottom; every one must be
// found, or the font's digits would be learnt in part.
std::vector<TextLine> SharpLines(std::vector<TextLine> lines, std::size_t lineCount, const std::string& family)
{
    if (lines.size() != lineCount) {
        throw std::runtime_error("learning the digits of " + family + ": " + std::to_string(lines.size()) + " of its " +
                                 std::to_string(lineCount) + " lines found");
    }
    std::sort(lines.begin(), lines.end(), [](const TextLine& a, const TextLine& b) {
        return StripToImage(a, {0, 0}).y < StripToImage(b, {0, 0}).y;
    });
    return lines;
}

// Blur does not move the text: the same lines of a blurred rendering, where
// digits may run together too far to be found, straightened from where the
// sharp ones stand and cut into cells as pictures are.
std::vector<TextLine> SameLinesIn(const cv::Mat& blurred, const std::vector<TextLine>& sharpLines)
{
    const cv::Mat inkScore = InkScore(blurred);
    std::vector<TextLine> lines;
    for (const TextLine& sharp : sharpLines) lines.push_back(StraightenLine(inkScore, DigitsQuad(sharp)));
    return lines;
}

// Adds every cell of one rendered picture, shifted too, to its face's
// sums (the last ten mode rows). A font as designed also counts in the
// shared covariance and the fonts' average shapes, and gives each digit an
// averaged shape of its own; a heavier or lighter face does not, lest a
// weight no font has widen what every digit may look like. `what` names the picture's
// font and blur for the error a line cut wrongly raises.
void Learn(const std::vector<TextLine>& lines, const std::vector<std::string>& lineTexts, const std::string& what,
           bool asDesigned, LearningSums& sums)
{
    cv::Mat shapeSums = cv::Mat::zeros(10, kFeatureCount, CV_32F);
    cv::Mat samples;
    for (std::size_t index = 0; index < lines.size(); ++index) {
        const TextLine& line = lines[index];
        if (line.cellEdgesX.front() < kLearnShiftPx || line.cellEdgesX.back() > line.strip.cols - kLearnShiftPx) {
            throw std::runtime_error("learning the digits of " + what + ": line " + std::to_string(index + 1) +
                                     " is cut into cells beyond its ink");
        }
        cv::Mat padded;
        cv::copyMakeBorder(line.strip, padded, kLearnShiftPx, kLearnShiftPx, 0, 0, cv::BORDER_CONSTANT, 0);
        for (const int cell : kDigitCells) {
            const int digit = lineTexts[index][static_cast<std::size_t>(cell)] - '0';
            for (const cv::Point shift : kLearnCellShiftsPx) {
                const cv::Mat features = CellFeatures(padded, CellRect(line, cell) + cv::Point(0, kLearnShiftPx) + shift);
                const int mode = sums.modeSums.rows - 10 + digit;
                cv::Mat modeSum = sums.modeSums.row(mode);
                cv::add(modeSum, features, modeSum, cv::noArray(), CV_64F);
                sums.modeCounts.at<double>(mode) += 1.0;
                if (!asDesigned) continue;
                if (shift == cv::Point()) shapeSums.row(digit) += features;
                samples.push_back(features);
                cv::Mat sum = sums.digitSums.row(digit);
                cv::add(sum, features, sum, cv::noArray(), CV_64F);
                sums.digitCounts.at<double>(digit) += 1.0;
            }
        }
    }
    if (!asDesigned) return;
    cv::Mat products;
    cv::mulTransposed(samples, products, true);
    cv::add(sums.productSums, products, sums.productSums, cv::noArray(), CV_64F);
    for (int digit = 0; digit < 10; ++digit) {
        cv::Mat row = shapeSums.row(digit).clone();
        row /= cv::norm(row);
        sums.prototypes.push_back(row);
        sums.prototypeDigits.push_back(digit);
    }
}

// The weights (one column per digit) and offsets that score features
// against Gaussians about `means` (one row per digit) sharing the
// covariance whose inverse is `precision`.
void LinearDiscriminant(const cv::Mat& precision, const cv::Mat& means, cv::Mat& weights, cv::Mat& offsets)
{
    const cv::Mat solved = precision * means.t();
    const cv::Mat offsetsPerDigit = -0.5 * means * solved;
    solved.convertTo(weights, CV_32F);
    cv::Mat(offsetsPerDigit.diag().t()).convertTo(offsets, CV_32F);
}

// A linear discriminant over the samples: each digit a Gaussian about its
// mean, all sharing one covariance, shrunk towards the average variance.
// The covariance is taken about each digit's mean over all fonts: about
// each font's own, it would hold only what blur and placement vary, and
// judge a font unlike all learnt ones far too surely.
void Discriminate(const LearningSums& sums, cv::Mat& means, cv::Mat& weights, cv::Mat& offsets, cv::Mat& precision)
{
    cv::Mat meansPerDigit(10, kFeatureCount, CV_64F);
    for (int digit = 0; digit < 10; ++digit) {
        meansPerDigit.row(digit) = sums.digitSums.row(digit) / sums.digitCounts.at<double>(digit);
    }
    const double count = cv::sum(sums.digitCounts)[0];
    cv::Mat covariance = sums.productSums / count;
    for (int digit = 0; digit < 10; ++digit) {
        covariance -= (sums.digitCounts.at<double>(digit) / count) * meansPerDigit.row(digit).t() * meansPerDigit.row(digit);
    }
    const double averageVariance = cv::trace(covariance)[0] / kFeatureCount;
    covariance = (1.0 - kCovarianceShrinkage) * covariance +
                 kCovarianceShrinkage * averageVariance * cv::Mat::eye(kFeatureCount, kFeatureCount, CV_64F);
    cv::Mat inverse;
    cv::invert(covariance, inverse, cv::DECOMP_CHOLESKY);
    LinearDiscriminant(inverse, meansPerDigit, weights, offsets);
    inverse.convertTo(precision, CV_32F);
    meansPerDigit.convertTo(means, CV_32F);
}

// Each digit's Gaussian per learnt face, under the shared covariance.
void DiscriminateModes(const LearningSums& sums, const cv::Mat& precision, cv::Mat& weights, cv::Mat& offsets,
                       cv::Mat& modeDigits)
{
    cv::Mat modeMeans(sums.modeSums.size(), CV_64F);
    modeDigits.create(sums.modeSums.rows, 1, CV_32S);
    for (int mode = 0; mode < sums.modeSums.rows; ++mode) {
        modeMeans.row(mode) = sums.modeSums.row(mode) / sums.modeCounts.at<double>(mode);
        modeDigits.at<int>(mode) = mode % 10;
    }
    cv::Mat inverse;
    precision.convertTo(inverse, CV_64F);
    LinearDiscriminant(inverse, modeMeans, weights, offsets);
}

// Each cell's score for each digit (one row per cell): its likeliest
// mode of that digit.
cv::Mat DigitScores(const cv::Mat& modeScores, const cv::Mat& modeDigits)
{
    cv::Mat scores(modeScores.rows, 10, CV_32F, cv::Scalar(-1e30f));
    for (int row = 0; row < modeScores.rows; ++row) {
        const float* modes = modeScores.ptr<float>(row);
        float* digits = scores.ptr<float>(row);
        for (int mode = 0; mode < modeScores.cols; ++mode) {
            float& best = digits[modeDigits.at<int>(mode)];
            best = std::max(best, modes[mode]);
        }
    }
    return scores;
}

// A digit's margin over the best other one the cell may be.
float MarginOf(const float* scores, int digit, int highestDigit)
{
    float runnerUp = -1e30f;
    for (int other = 0; other <= highestDigit; ++other) {
        if (other != digit) runnerUp = std::max(runnerUp, scores[other]);
    }
    return scores[digit] - runnerUp;
}

// Each cell's best digit and its margin over the best other one it may
// be, from its discriminants (one row per cell); no likeness yet.
std::vector<DigitGuess> GuessesFrom(const cv::Mat& discriminants,
                                    const std::array<int, kDigitCells.size()>& highestDigits)
{
    std::vector<DigitGuess> guesses;
    for (int row = 0; row < discriminants.rows; ++row) {
        const float* scores = discriminants.ptr<float>(row);
        DigitGuess guess;
        guess.digit = static_cast<int>(std::max_element(scores, scores + 10) - scores);
        guess.margin = MarginOf(scores, guess.digit, highestDigits[static_cast<std::size_t>(row)]);
        for (int digit = 0; digit < 10; ++digit) {
            guess.behindBest[static_cast<std::size_t>(digit)] = scores[guess.digit] - scores[digit];
        }
        guesses.push_back(guess);
    }
    return guesses;
}

cv::Mat Discriminants(const cv::Mat& features, const cv::Mat& weights, const cv::Mat& offsets)
{
    cv::Mat discriminants;
    cv::gemm(features, weights, 1.0, cv::repeat(offsets, features.rows, 1), 1.0, discriminants);
    return discriminants;
}

// A font's digits, as designed, heavier (`strokeGrowthPx` > 0) or lighter,
// as a face of its own, rendered sharp and blurred. A lighter face whose
// digits break apart is not learnt.
void LearnFace(FcPattern* font, const std::string& family, int strokeGrowthPx,
               const std::vector<std::string>& lineTexts, LearningSums& sums)
{
    const bool asDesigned = strokeGrowthPx == 0;
    const std::string what = asDesigned ? family
                             : family + " " + std::to_string(std::abs(strokeGrowthPx)) +
                                   (strokeGrowthPx > 0 ? " px heavier" : " px lighter");
    const cv::Mat sharp = RenderLines(font, lineTexts, strokeGrowthPx);
    std::vector<TextLine> found = FindTextLines(InkScore(sharp));
    if (strokeGrowthPx < 0 && found.size() != lineTexts.size()) return;
    const std::vector<TextLine> sharpLines = SharpLines(std::move(found), lineTexts.size(), what);
    sums.modeSums.push_back(cv::Mat(cv::Mat::zeros(10, kFeatureCount, CV_64F)));
    sums.modeCounts.push_back(cv::Mat(cv::Mat::zeros(10, 1, CV_64F)));
    for (const double sigma : kLearnBlurSigmasPx) {
        cv::Mat blurred;
        if (sigma > 0) cv::GaussianBlur(sharp, blurred, cv::Size(), sigma);
        Learn(sigma > 0 ? SameLinesIn(blurred, sharpLines) : sharpLines, lineTexts,
              what + " blurred by " + std::to_string(static_cast<int>(sigma)) + " px", asDesigned, sums);
    }
}

}  // namespace

std::vector<std::string> InstalledFontFiles(const std::vector<std::string>& fontFamilies)
{
    std::vector<std::string> files;
    for (const std::string& family : fontFamilies) {
        FcPattern* font = MatchFamily(family);
        if (font == nullptr) continue;
        FcChar8* file = nullptr;
        if (FcPatternGetString(font, FC_FILE, 0, &file) == FcResultMatch) files.emplace_back(reinterpret_cast<const char*>(file));
        FcPatternDestroy(font);
    }
    return files;
}

DigitClassifier::DigitClassifier(const std::vector<std::string>& fontFamilies)
{
    const std::vector<std::string> lineTexts = LearningLines();
    LearningSums sums;
    for (const std::string& family : fontFamilies) {
        FcPattern* font = MatchFamily(family);
        if (font == nullptr) continue;
        LearnFace(font, family, 0, lineTexts, sums);
        LearnFace(font, family, kHeavierStrokePx, lineTexts, sums);
        LearnFace(font, family, -kLighterStrokePx, lineTexts, sums);
        FcPatternDestroy(font);
    }
    if (sums.prototypes.empty()) throw std::runtime_error("none of the monospace fonts to learn digits from is installed");
    prototypes_ = sums.prototypes;
    prototypeDigits_ = sums.prototypeDigits;
    Discriminate(sums, means_, weights_, offsets_, precision_);
    DiscriminateModes(sums, precision_, modeWeights_, modeOffsets_, modeDigits_);
    DiscriminateSplits();
}

bool DigitClassifier::Save(const std::filesystem::path& file) const
{
    try {
        cv::FileStorage storage(file.string(), cv::FileStorage::WRITE | cv::FileStorage::BASE64);
        if (!storage.isOpened()) return false;
        storage << "prototypes" << prototypes_ << "prototype_digits" << prototypeDigits_ << "weights" << weights_
                << "offsets" << offsets_ << "precision" << precision_ << "means" << means_ << "mode_weights"
                << modeWeights_ << "mode_offsets" << modeOffsets_ << "mode_digits" << modeDigits_;
        storage.release();
        return true;
    } catch (const cv::Exception&) {
        return false;
    }
}

std::optional<DigitClassifier> DigitClassifier::Load(const std::filesystem::path& file)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) return std::nullopt;
    DigitClassifier classifier;
    try {
        cv::FileStorage storage(file.string(), cv::FileStorage::READ);
        if (!storage.isOpened()) return std::nullopt;
        storage["prototypes"] >> classifier.prototypes_;
        storage["prototype_digits"] >> classifier.prototypeDigits_;
        storage["weights"] >> classifier.weights_;
        storage["offsets"] >> classifier.offsets_;
        storage["precision"] >> classifier.precision_;
        storage["means"] >> classifier.means_;
        storage["mode_weights"] >> classifier.modeWeights_;
        storage["mode_offsets"] >> classifier.modeOffsets_;
        storage["mode_digits"] >> classifier.modeDigits_;
    } catch (const cv::Exception&) {
        return std::nullopt;
    }
    const bool whole = classifier.prototypes_.type() == CV_32F && classifier.prototypes_.cols == kFeatureCount &&
                       classifier.prototypeDigits_.type() == CV_32S &&
                       classifier.prototypeDigits_.total() == static_cast<std::size_t>(classifier.prototypes_.rows) &&
                       classifier.weights_.type() == CV_32F && classifier.weights_.size() == cv::Size(10, kFeatureCount) &&
                       classifier.offsets_.type() == CV_32F && classifier.offsets_.size() == cv::Size(10, 1) &&
                       classifier.precision_.type() == CV_32F &&
                       classifier.precision_.size() == cv::Size(kFeatureCount, kFeatureCount) &&
                       classifier.means_.type() == CV_32F && classifier.means_.size() == cv::Size(kFeatureCount, 10) &&
                       classifier.modeWeights_.type() == CV_32F && classifier.modeWeights_.rows == kFeatureCount &&
                       classifier.modeOffsets_.type() == CV_32F &&
                       classifier.modeOffsets_.size() == cv::Size(classifier.modeWeights_.cols, 1) &&
                       classifier.modeDigits_.type() == CV_32S &&
                       classifier.modeDigits_.total() == static_cast<std::size_t>(classifier.modeWeights_.cols) &&
                       cv::checkRange(classifier.modeDigits_, true, nullptr, 0, 10);
    if (!whole) return std::nullopt;
    classifier.DiscriminateSplits();
    return classifier;
}

cv::Mat DigitCellFeatures(const TextLine& line)
{
    cv::Mat features;
    for (const int cell : kDigitCells) features.push_back(CellFeatures(line.strip, CellRect(line, cell)));
    return features;
}

void AddToFace(PictureFace& face, const cv::Mat& cellFeatures, int digit)
{
    if (face.featureSums.empty()) face.featureSums = cv::Mat::zeros(10, kFeatureCount, CV_32F);
    face.featureSums.row(digit) += cellFeatures;
    ++face.sampleCounts[static_cast<std::size_t>(digit)];
}

std::vector<DigitGuess> DigitClassifier::ReadDigits(const TextLine& line,
                                                    const std::array<int, kDigitCells.size()>& highestDigits) const
{
    return ReadDigits(DigitCellFeatures(line), highestDigits);
}

std::vector<DigitGuess> DigitClassifier::ReadDigits(const cv::Mat& features,
                                                    const std::array<int, kDigitCells.size()>& highestDigits,
                                                    const PictureFace* face) const
{
    cv::Mat scores = DigitScores(Discriminants(features, modeWeights_, modeOffsets_), modeDigits_);
    cv::Mat pooledScores = Discriminants(features, weights_, offsets_);
    cv::Mat shapes = prototypes_, shapeDigits = prototypeDigits_;
    if (face != nullptr && !face->featureSums.empty()) {
        for (int digit = 0; digit < 10; ++digit) {
            const int samples = face->sampleCounts[static_cast<std::size_t>(digit)];
            if (samples < kMinFaceSamples) continue;
            const cv::Mat mean = face->featureSums.row(digit) / samples;
            const cv::Mat weight = precision_ * mean.t();
            const float offset = static_cast<float>(-0.5 * mean.dot(weight.t()));
            const cv::Mat faceScores = features * weight + offset;
            faceScores.copyTo(scores.col(digit));
            faceScores.copyTo(pooledScores.col(digit));
            shapes.push_back(cv::Mat(mean / cv::norm(mean)));
            shapeDigits.push_back(digit);
        }
    }
    cv::Mat likeness;
    cv::gemm(features, shapes, 1.0, cv::Mat(), 0.0, likeness, cv::GEMM_2_T);
    std::vector<DigitGuess> guesses = GuessesFrom(scores, highestDigits);
    for (int row = 0; row < features.rows; ++row) {
        DigitGuess& guess = guesses[static_cast<std::size_t>(row)];
        guess.pooledMargin = MarginOf(pooledScores.ptr<float>(row), guess.digit,
                                      highestDigits[static_cast<std::size_t>(row)]);
        guess.score = -1.0f;
        const float* likenesses = likeness.ptr<float>(row);
        for (int column = 0; column < likeness.cols; ++column) {
            if (shapeDigits.at<int>(column) == guess.digit) guess.score = std::max(guess.score, likenesses[column]);
        }
    }
    return guesses;
}

void DigitClassifier::DiscriminateSplits()
{
    static_assert(kFirstSplitRow > 0 && kLastSplitRow < kFeatureHeightPx);
    cv::Mat precision, covariance, means;
    precision_.convertTo(precision, CV_64F);
    cv::invert(precision, covariance, cv::DECOMP_CHOLESKY);
    means_.convertTo(means, CV_64F);
    const auto rows = [&](cv::Range features) {
        RowsDiscriminant discriminant;
        cv::Mat rowsPrecision;
        cv::invert(covariance(features, features), rowsPrecision, cv::DECOMP_CHOLESKY);
        LinearDiscriminant(rowsPrecision, means.colRange(features), discriminant.weights, discriminant.offsets);
        return discriminant;
    };
    aboveSplits_.clear();
    belowSplits_.clear();
    for (int split = kFirstSplitRow; split <= kLastSplitRow; ++split) {
        aboveSplits_.push_back(rows(cv::Range(0, split * kFeatureWidthPx)));
        belowSplits_.push_back(rows(cv::Range(split * kFeatureWidthPx, kFeatureCount)));
    }
}

DigitClassifier::SplitScores DigitClassifier::ScoreSplit(const cv::Mat& cellFeatures, int splitRow) const
{
    const std::size_t split = static_cast<std::size_t>(splitRow - kFirstSplitRow);
    const cv::Range above(0, splitRow * kFeatureWidthPx), below(splitRow * kFeatureWidthPx, kFeatureCount);
    const RowsDiscriminant& top = aboveSplits_.at(split);
    const RowsDiscriminant& bottom = belowSplits_.at(split);
    return {Discriminants(cellFeatures.colRange(above), top.weights, top.offsets),
            Discriminants(cellFeatures.colRange(below), bottom.weights, bottom.offsets)};
}
