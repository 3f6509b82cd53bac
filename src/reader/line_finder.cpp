#include "reader/line_finder.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <optional>

#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>

namespace {

// Ink dimmer than this is noise or the glow of a background.
constexpr double kMinInkThreshold = 30.0;
// Digits smaller than this are not worth reading.
constexpr int kMinDigitHeightPx = 9;
// A full line has 16 digits; a chain covering fewer than this is a fragment.
constexpr std::size_t kMinLineDigits = 9;
// More than this and two lines side by side were chained into one.
constexpr std::size_t kMaxLineBlobs = 18;
// Ink extent of a line in cells: 19 cells less the side bearings of the
// first and last digit (about 7 % of a cell each in monospace fonts).
constexpr float kInkExtentCells = 18.85f;
// A row of the strip holding this share of the fullest row's ink is part of
// the digits (the colon's and point's rows hold less).
constexpr double kDigitRowInkShare = 0.2;
constexpr int kMaxBandShiftPx = kDigitHeightPx / 8;
// The surroundings ink is measured against, in searched pixels.
constexpr int kBackgroundBlockPx = 31;
// Blurred digits a little apart run together above a threshold for the
// whole picture; the gaps between them stay under this share of the
// brightest stroke around.
constexpr double kNearPeakShare = 0.6;
// The clock's ink (blue, green, red), what it scores in full, and how near
// a background may come to it and still tell ink from it.
constexpr std::array<float, 3> kInkBgr{kInkBlue, kInkGreen, kInkRed};
constexpr float kFullInkScore = 240.0f;
constexpr float kMinInkContrast = 80.0f;
// A change away from the ink's colour (dark text on white) is not ink.
constexpr float kAsidePenalty = 0.5f;

// How steeply a line may climb or drop in the picture (tan 20 degrees).
constexpr float kMaxLineTilt = 0.36f;

// The widest any monospace font sets its digits, in digit heights
// (Courier's short digits in their wide cells).
constexpr float kWidestPitchDigitHeights = 1.1f;

// Neighbouring digits of a line stand at most this far apart (the space
// between the counter and the wall clock, in a wide font).
constexpr float kMaxChainGapDigitHeights = 1.5f;

// A counter's digits run together into one blob at most this wide.
constexpr float kMergedCounterDigitHeights = kCounterDigits * kWidestPitchDigitHeights;

struct Blob {
    cv::Rect box;
    cv::Point2f centre;
};

std::vector<Blob> DigitSizedBlobs(const cv::Mat& mask, int maxHeightPx)
{
    cv::Mat labels, stats, centroids;
    const int count = cv::connectedComponentsWithStats(mask, labels, stats, centroids, 8, CV_32S);
    std::vector<Blob> blobs;
    for (int label = 1; label < count; ++label) {
        const cv::Rect box(stats.at<int>(label, cv::CC_STAT_LEFT), stats.at<int>(label, cv::CC_STAT_TOP),
                           stats.at<int>(label, cv::CC_STAT_WIDTH), stats.at<int>(label, cv::CC_STAT_HEIGHT));
        const int area = stats.at<int>(label, cv::CC_STAT_AREA);
        if (box.height < kMinDigitHeightPx || box.height > maxHeightPx) continue;
        // Merged neighbours are fine, up to a whole counter at the widest
        // pitch; the ruler (one long thin frame) is not.
        if (static_cast<float>(box.width) > kMergedCounterDigitHeights * static_cast<float>(box.height) ||
            box.width * 10 < box.height) {
            continue;
        }
        if (area * 8 < box.area()) continue;
        blobs.push_back({box, {static_cast<float>(centroids.at<double>(label, 0)),
                               static_cast<float>(centroids.at<double>(label, 1))}});
    }
    return blobs;
}

int FindRoot(std::vector<int>& parent, int index)
{
    while (parent[index] != index) {
        parent[index] = parent[parent[index]];
        index = parent[index];
    }
    return index;
}

bool SameLine(const Blob& left, const Blob& right)
{
    const float height = static_cast<float>(std::max(left.box.height, right.box.height));
    const float shorter = static_cast<float>(std::min(left.box.height, right.box.height));
    if (shorter < 0.7f * height) return false;
    const float gap = static_cast<float>(right.box.x - (left.box.x + left.box.width));
    const float midLeft = static_cast<float>(left.box.y) + 0.5f * static_cast<float>(left.box.height);
    const float midRight = static_cast<float>(right.box.y) + 0.5f * static_cast<float>(right.box.height);
    // A tilted line climbs or drops with the distance between the digits.
    const float apart = std::abs(right.centre.x - left.centre.x);
    const float offLevel = std::min(0.5f * height, 0.35f * height + kMaxLineTilt * apart);
    return gap < kMaxChainGapDigitHeights * height && gap > -0.3f * height && std::abs(midLeft - midRight) < offLevel;
}

// The digits a chain covers at the least. Blurred digits set close run
// together into one blob, which holds at least as many digits as its width
// spans at the widest pitch; a fragment is never counted as more than it is.
std::size_t DigitsCovered(const std::vector<Blob>& chain)
{
    std::size_t digits = 0;
    for (const Blob& blob : chain) {
        const float widestPitchPx = kWidestPitchDigitHeights * static_cast<float>(blob.box.height);
        const long held = std::lround(static_cast<float>(blob.box.width) / widestPitchPx);
        digits += static_cast<std::size_t>(std::max(1L, held));
    }
    return digits;
}

// Groups blobs that sit side by side at one height; blobs come sorted by x.
std::vector<std::vector<Blob>> ChainBlobs(const std::vector<Blob>& blobs)
{
    std::vector<int> parent(blobs.size());
    std::iota(parent.begin(), parent.end(), 0);
    for (std::size_t right = 0; right < blobs.size(); ++right) {
        for (std::size_t left = right; left-- > 0;) {
            // Beyond the widest blob a counter's digits run into, nothing
            // further left ends near enough.
            const float reachPx =
                (kMergedCounterDigitHeights + kMaxChainGapDigitHeights) * static_cast<float>(blobs[right].box.height);
            if (static_cast<float>(blobs[right].box.x - blobs[left].box.x) > reachPx) break;
            if (SameLine(blobs[left], blobs[right])) {
                parent[FindRoot(parent, static_cast<int>(right))] = FindRoot(parent, static_cast<int>(left));
            }
        }
    }
    std::vector<std::vector<Blob>> chains(blobs.size());
    for (std::size_t index = 0; index < blobs.size(); ++index) {
        chains[FindRoot(parent, static_cast<int>(index))].push_back(blobs[index]);
    }
    std::erase_if(chains, [](const std::vector<Blob>& chain) { return DigitsCovered(chain) < kMinLineDigits; });
    return chains;
}

// Steps between neighbouring digits' centres along a line, in cells: nine
// digits, the space, two digits, the colon, two, the point, three.
constexpr std::array<float, 15> kLineSteps{1, 1, 1, 1, 1, 1, 1, 1, 2, 1, 2, 1, 2, 1, 1};
constexpr float kStepTolerance = 0.35f;

float MedianStep(const std::vector<Blob>& chain)
{
    std::vector<float> steps;
    for (std::size_t at = 1; at < chain.size(); ++at) steps.push_back(chain[at].centre.x - chain[at - 1].centre.x);
    std::nth_element(steps.begin(), steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2), steps.end());
    return steps[steps.size() / 2];
}

bool LineStartsAt(const std::vector<Blob>& chain, std::size_t first, float pitch)
{
    for (std::size_t step = 0; step < kLineSteps.size(); ++step) {
        const float cells = (chain[first + step + 1].centre.x - chain[first + step].centre.x) / pitch;
        if (std::abs(cells - kLineSteps[step]) > kStepTolerance) return false;
    }
    return true;
}

// Lines of windows side by side can nearly touch, closer than the space
// inside a line: a chain holding several is cut where the clock's own
// pattern of digits begins and ends.
std::vector<std::vector<Blob>> LinesByPattern(const std::vector<Blob>& chain)
{
    std::vector<std::vector<Blob>> lines;
    const float pitch = MedianStep(chain);
    for (std::size_t first = 0; first + kLineSteps.size() < chain.size();) {
        if (!LineStartsAt(chain, first, pitch)) {
            ++first;
            continue;
        }
        const auto begin = chain.begin() + static_cast<std::ptrdiff_t>(first);
        lines.emplace_back(begin, begin + static_cast<std::ptrdiff_t>(kLineSteps.size() + 1));
        first += kLineSteps.size() + 1;
    }
    return lines;
}

// Splits chains that hold more than one line: by the digits' pattern where
// the digits stand apart, else at the widest gap.
void SplitOverlongChains(std::vector<std::vector<Blob>>& chains)
{
    for (std::size_t index = 0; index < chains.size(); ++index) {
        std::vector<Blob>& chain = chains[index];
        if (chain.size() <= kMaxLineBlobs) continue;
        std::vector<std::vector<Blob>> lines = LinesByPattern(chain);
        if (!lines.empty()) {
            chain = std::move(lines.front());
            for (std::size_t line = 1; line < lines.size(); ++line) chains.push_back(std::move(lines[line]));
            continue;
        }
        std::size_t widest = 1;
        int widestGap = -1;
        for (std::size_t at = 1; at < chain.size(); ++at) {
            const int gap = chain[at].box.x - (chain[at - 1].box.x + chain[at - 1].box.width);
            if (gap > widestGap) {
                widestGap = gap;
                widest = at;
            }
        }
        std::vector<Blob> tail(chain.begin() + static_cast<std::ptrdiff_t>(widest), chain.end());
        chain.resize(widest);
        if (DigitsCovered(tail) >= kMinLineDigits) chains.push_back(std::move(tail));
        if (DigitsCovered(chain) < kMinLineDigits) {
            chains.erase(chains.begin() + static_cast<std::ptrdiff_t>(index));
            --index;
        } else if (chain.size() > kMaxLineBlobs) {
            --index;
        }
    }
}

struct LineFit {
    cv::Point2f point, direction;
};

LineFit FitLine(const std::vector<cv::Point2f>& points)
{
    cv::Vec4f fitted;
    cv::fitLine(points, fitted, cv::DIST_HUBER, 0, 0.01, 0.01);
    cv::Point2f direction(fitted[0], fitted[1]);
    if (direction.x < 0) direction = -direction;
    return {{fitted[2], fitted[3]}, direction};
}

cv::Point2f Intersect(const LineFit& line, cv::Point2f through, cv::Point2f direction)
{
    // line.point + t * line.direction = through + u * direction
    const cv::Point2f delta = through - line.point;
    const float cross = line.direction.x * direction.y - line.direction.y * direction.x;
    const float t = (delta.x * direction.y - delta.y * direction.x) / cross;
    return line.point + t * line.direction;
}

// The quadrilateral around a chain's digits: top left, top right, bottom
// right, bottom left, from lines fitted through the digits' tops and bottoms.
std::array<cv::Point2f, 4> DigitQuad(const std::vector<Blob>& chain, float digitHeight)
{
    std::vector<cv::Point2f> tops, bottoms;
    float left = 1e9f, right = -1e9f;
    cv::Point2f leftPoint, rightPoint;
    for (const Blob& blob : chain) {
        const cv::Rect& box = blob.box;
        if (static_cast<float>(box.height) < 0.8f * digitHeight) continue;
        const float middle = static_cast<float>(box.x) + 0.5f * static_cast<float>(box.width);
        tops.emplace_back(middle, static_cast<float>(box.y));
        bottoms.emplace_back(middle, static_cast<float>(box.y + box.height));
        if (static_cast<float>(box.x) < left) {
            left = static_cast<float>(box.x);
            leftPoint = {left, blob.centre.y};
        }
        if (static_cast<float>(box.x + box.width) > right) {
            right = static_cast<float>(box.x + box.width);
            rightPoint = {right, blob.centre.y};
        }
    }
    const LineFit top = FitLine(tops);
    const LineFit bottom = FitLine(bottoms);
    cv::Point2f along = top.direction + bottom.direction;
    along /= std::hypot(along.x, along.y);
    const cv::Point2f across(-along.y, along.x);
    return {Intersect(top, leftPoint, across), Intersect(top, rightPoint, across),
            Intersect(bottom, rightPoint, across), Intersect(bottom, leftPoint, across)};
}

float Distance(cv::Point2f from, cv::Point2f to)
{
    return std::hypot(from.x - to.x, from.y - to.y);
}

// Where cell edge t (0..19) falls in the strip: a one-dimensional
// perspective x = (origin + pitch t) / (1 + shrink t).
struct CellModel {
    double origin = 0, pitch = 0, shrink = 0;
    double EdgeX(double edge) const { return (origin + pitch * edge) / (1.0 + shrink * edge); }
    int CellAt(double x) const
    {
        for (int cell = 0; cell < kLineCells; ++cell) {
            if (x < EdgeX(cell + 1)) return x >= EdgeX(cell) ? cell : -1;
        }
        return -1;
    }
};

struct InkCentre {
    double x;
    double width;
};

std::vector<InkCentre> DigitInkCentres(const cv::Mat& strip)
{
    cv::Mat mask, labels, stats, centroids;
    cv::threshold(strip, mask, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
    // Thin strokes broken by blur or noise rejoin their digit; neighbours
    // side by side stay apart.
    cv::morphologyEx(mask, mask, cv::MORPH_CLOSE, cv::getStructuringElement(cv::MORPH_RECT, {1, 5}));
    const int count = cv::connectedComponentsWithStats(mask, labels, stats, centroids, 8, CV_32S);
    std::vector<InkCentre> centres;
    for (int label = 1; label < count; ++label) {
        // Digit height; a cyan-ish desktop beyond a window's edge fills the strip's.
        const int height = stats.at<int>(label, cv::CC_STAT_HEIGHT);
        if (height < kDigitHeightPx * 7 / 10 || height > kDigitHeightPx * 5 / 4) continue;
        centres.push_back({centroids.at<double>(label, 0), static_cast<double>(stats.at<int>(label, cv::CC_STAT_WIDTH))});
    }
    return centres;
}

struct PlacedCentre {
    double x;
    int cell;
};

bool IsDigitCell(int cell)
{
    return std::find(kDigitCells.begin(), kDigitCells.end(), cell) != kDigitCells.end();
}

// Least squares over the digits' ink centres, each centred in its cell:
// x (1 + shrink m) = origin + pitch m for cell middles m, linear in the three
// unknowns. Fewer than eight digits fit origin and pitch only.
bool SolveCellModel(const std::vector<PlacedCentre>& placed, double startPitch, CellModel& model)
{
    cv::Mat rows, targets;
    for (const PlacedCentre& centre : placed) {
        const double middle = centre.cell + 0.5;
        rows.push_back(cv::Mat(cv::Matx13d(1.0, middle, -middle * centre.x)).reshape(1, 1));
        targets.push_back(centre.x);
    }
    if (rows.rows < 6) return false;
    if (rows.rows < 8) rows = rows.colRange(0, 2).clone();
    cv::Mat solution;
    if (!cv::solve(rows, targets, solution, cv::DECOMP_SVD)) return false;
    const CellModel fitted{solution.at<double>(0), solution.at<double>(1),
                           solution.rows > 2 ? solution.at<double>(2) : 0.0};
    const double endPitch = fitted.EdgeX(kLineCells) - fitted.EdgeX(kLineCells - 1);
    const double firstPitch = fitted.EdgeX(1) - fitted.EdgeX(0);
    if (std::abs(firstPitch / startPitch - 1.0) > 0.3 || std::abs(endPitch / startPitch - 1.0) > 0.3) return false;
    model = fitted;
    return true;
}

std::vector<PlacedCentre> PlaceByModel(const std::vector<InkCentre>& centres, const CellModel& model)
{
    std::vector<PlacedCentre> placed;
    for (const InkCentre& centre : centres) {
        const int cell = model.CellAt(centre.x);
        if (IsDigitCell(cell)) placed.push_back({centre.x, cell});
    }
    return placed;
}

// The walk along a line measures its pitch over this many cells.
constexpr int kPitchSpanCells = 3;

// Places the digits by their spacing alone: walking along the line, each
// step is a whole number of cells at the pitch of the last few; then the
// whole walk is shifted to where the most digits land in digit cells. A
// digit lost at either end (run into a ruler tick, say) shifts nothing else.
std::vector<PlacedCentre> PlaceByPattern(const std::vector<InkCentre>& centres, double startPitch, int guessFirstCell)
{
    std::vector<PlacedCentre> walk;
    double pitch = startPitch;
    for (const InkCentre& centre : centres) {
        if (walk.empty()) {
            walk.push_back({centre.x, 0});
            continue;
        }
        const double step = (centre.x - walk.back().x) / pitch;
        const int cells = static_cast<int>(std::lround(step));
        if (cells < 1 || std::abs(step - cells) > 0.3) continue;
        walk.push_back({centre.x, walk.back().cell + cells});
        // The pitch over the last few cells: a digit's ink centre sits a
        // little off its cell's middle, a 1 left of it, say.
        const auto anchor = std::find_if(walk.rbegin(), walk.rend(), [&](const PlacedCentre& placed) {
            return walk.back().cell - placed.cell >= kPitchSpanCells;
        });
        const PlacedCentre& from = anchor == walk.rend() ? walk.front() : *anchor;
        if (walk.back().cell > from.cell) pitch = (walk.back().x - from.x) / (walk.back().cell - from.cell);
    }
    int bestShift = 0, bestCount = -1;
    for (int shift = -3; shift <= kLineCells; ++shift) {
        int count = 0;
        for (const PlacedCentre& centre : walk) count += IsDigitCell(centre.cell + shift) ? 1 : 0;
        if (count > bestCount || (count == bestCount && std::abs(shift - guessFirstCell) < std::abs(bestShift - guessFirstCell))) {
            bestCount = count;
            bestShift = shift;
        }
    }
    std::vector<PlacedCentre> placed;
    for (const PlacedCentre& centre : walk) {
        if (IsDigitCell(centre.cell + bestShift)) placed.push_back({centre.x, centre.cell + bestShift});
    }
    return placed;
}

// Finds the cells from the digits' ink centres in the strip, starting from
// the ink's extent.
void FitCells(TextLine& line, float inkLeft, float inkRight)
{
    CellModel model;
    model.pitch = (inkRight - inkLeft) / kInkExtentCells;
    model.origin = inkLeft - 0.5 * (kLineCells - kInkExtentCells) * model.pitch;
    const double startPitch = model.pitch;
    std::vector<InkCentre> centres = DigitInkCentres(line.strip);
    std::erase_if(centres, [&](const InkCentre& centre) { return centre.width > 1.2 * startPitch; });  // merged
    std::sort(centres.begin(), centres.end(), [](const InkCentre& a, const InkCentre& b) { return a.x < b.x; });
    if (!centres.empty()) {
        const int guessFirstCell = model.CellAt(centres.front().x);
        SolveCellModel(PlaceByPattern(centres, startPitch, guessFirstCell), startPitch, model);
    }
    for (int pass = 0; pass < 2 && SolveCellModel(PlaceByModel(centres, model), startPitch, model); ++pass) {
    }
    for (int edge = 0; edge <= kLineCells; ++edge) {
        line.cellEdgesX[static_cast<std::size_t>(edge)] = static_cast<float>(model.EdgeX(edge));
    }
}


// The surroundings ink is measured against, in picture pixels (odd).
int BackgroundBlockPx(int searchReduction)
{
    return kBackgroundBlockPx * searchReduction | 1;
}

// Resamples the picture so quad (the digits' top left, top right, bottom
// right, bottom left) becomes the strip's digit band.
TextLine StraightenQuad(const cv::Mat& inkScore, const std::array<cv::Point2f, 4>& quad)
{
    const float quadWidth = 0.5f * (Distance(quad[0], quad[1]) + Distance(quad[3], quad[2]));
    const float quadHeight = 0.5f * (Distance(quad[0], quad[3]) + Distance(quad[1], quad[2]));
    const float inkWidth = kDigitHeightPx * quadWidth / quadHeight;
    // Room beside the ink for the first and last cells' side bearings.
    const float left = kStripSidePx, top = kStripMarginPx;
    const std::array<cv::Point2f, 4> stripQuad{cv::Point2f(left, top), cv::Point2f(left + inkWidth, top),
                                               cv::Point2f(left + inkWidth, top + kDigitHeightPx),
                                               cv::Point2f(left, top + kDigitHeightPx)};
    TextLine line;
    const cv::Mat toStrip = cv::getPerspectiveTransform(quad.data(), stripQuad.data());
    line.stripToImage = cv::Matx33d(cv::Mat(toStrip.inv()));
    const cv::Size stripSize(static_cast<int>(std::ceil(inkWidth + 2 * left)), kDigitHeightPx + 2 * kStripMarginPx);
    cv::warpPerspective(inkScore, line.strip, toStrip, stripSize, cv::INTER_LINEAR, cv::BORDER_CONSTANT, 0);
    line.digitHeightImagePx = quadHeight;
    line.cellEdgesX.front() = left;
    line.cellEdgesX.back() = left + inkWidth;
    return line;
}

// `line` straightened again from the picture, with the strip quadrilateral
// `stripQuad` (top left, top right, bottom right, bottom left) as its digit band.
TextLine Restraightened(const cv::Mat& inkScore, const TextLine& line, const std::array<cv::Point2f, 4>& stripQuad)
{
    std::array<cv::Point2f, 4> quad;
    for (std::size_t corner = 0; corner < quad.size(); ++corner) quad[corner] = StripToImage(line, stripQuad[corner]);
    return StraightenQuad(inkScore, quad);
}

// The rows the digits span in a strip: the unbroken run of rows around the
// middle of the digit band that hold a fair share of the fullest row's ink
// (a cyan-ish desktop beyond the window's edge is not part of it).
std::pair<int, int> DigitRows(const cv::Mat& strip)
{
    cv::Mat mask, rowInk;
    cv::threshold(strip, mask, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
    cv::reduce(mask, rowInk, 1, cv::REDUCE_SUM, CV_32S);
    double fullest = 0;
    cv::minMaxLoc(rowInk, nullptr, &fullest);
    const auto inked = [&](int row) { return rowInk.at<int>(row) >= kDigitRowInkShare * fullest; };
    int first = kStripMarginPx + kDigitHeightPx / 2, last = first;
    if (!inked(first)) return {kStripMarginPx, kStripMarginPx + kDigitHeightPx};
    while (first > 0 && inked(first - 1)) --first;
    while (last + 1 < rowInk.rows && inked(last + 1)) ++last;
    return {first, last + 1};
}

// How far the digits lean in a strip: the shift (strip pixels per row, to the
// right going up) that stands their strokes upright, found where the ink's
// column sums peak most sharply. A camera looking at a screen from below
// and aside leans text as well as narrowing it.
constexpr double kMaxSlant = 0.4;
constexpr double kCoarseSlantStep = 0.1;
constexpr double kSlantStep = 0.02;

// How sharply the strip's digit rows, shifted by `slant`, peak in their
// column sums (the sum of squares); `columns` is scratch room.
std::int64_t SlantSharpness(const cv::Mat& strip, double slant, std::vector<std::int64_t>& columns)
{
    const int top = kStripMarginPx, bottom = kStripMarginPx + kDigitHeightPx;
    const double middleRow = 0.5 * (top + bottom - 1);
    const int padPx = static_cast<int>(std::ceil(kMaxSlant * kDigitHeightPx));
    columns.assign(static_cast<std::size_t>(strip.cols + 2 * padPx), 0);
    for (int row = top; row < bottom; ++row) {
        const int shiftPx = padPx - static_cast<int>(std::lround(slant * (middleRow - row)));
        const std::uint8_t* ink = strip.ptr<std::uint8_t>(row);
        for (int column = 0; column < strip.cols; ++column) columns[static_cast<std::size_t>(column + shiftPx)] += ink[column];
    }
    std::int64_t sharpness = 0;
    for (const std::int64_t sum : columns) sharpness += sum * sum;
    return sharpness;
}

// Coarse steps over the whole range, then fine ones around the best.
double DigitSlant(const cv::Mat& strip)
{
    std::vector<std::int64_t> columns;
    double bestSlant = 0.0;
    std::int64_t bestSharpness = SlantSharpness(strip, 0.0, columns);
    const auto tryRange = [&](double middle, double reach, double step) {
        const int steps = static_cast<int>(std::lround(reach / step));
        for (int index = -steps; index <= steps; ++index) {
            const double slant = middle + index * step;
            if (std::abs(slant) > kMaxSlant + 1e-9 || index == 0) continue;
            const std::int64_t sharpness = SlantSharpness(strip, slant, columns);
            if (sharpness > bestSharpness) {
                bestSharpness = sharpness;
                bestSlant = slant;
            }
        }
    };
    tryRange(0.0, kMaxSlant, kCoarseSlantStep);
    tryRange(bestSlant, kCoarseSlantStep, kSlantStep);
    return bestSlant;
}

// A line of the clock is about ten digit heights long; a chain whose fitted
// quad is far longer or shorter than that is no line (and would ask for a
// strip of any size).
constexpr float kMinLineAspect = 3.0f;
constexpr float kMaxLineAspect = 30.0f;

std::optional<TextLine> StraightenChain(const cv::Mat& inkScore, const std::vector<Blob>& chain, float reduction)
{
    std::vector<int> heights;
    for (const Blob& blob : chain) heights.push_back(blob.box.height);
    std::nth_element(heights.begin(), heights.begin() + static_cast<std::ptrdiff_t>(heights.size() / 2), heights.end());
    const float digitHeight = static_cast<float>(heights[heights.size() / 2]);

    std::array<cv::Point2f, 4> quad = DigitQuad(chain, digitHeight);
    for (cv::Point2f& corner : quad) corner *= reduction;
    const float aspect = (Distance(quad[0], quad[1]) + Distance(quad[3], quad[2])) /
                         std::max(1.0f, Distance(quad[0], quad[3]) + Distance(quad[1], quad[2]));
    if (!(aspect >= kMinLineAspect && aspect <= kMaxLineAspect)) return std::nullopt;
    return StraightenLine(inkScore, quad);
}

}  // namespace

TextLine StraightenLine(const cv::Mat& inkScore, const std::array<cv::Point2f, 4>& quad)
{
    TextLine line = StraightenQuad(inkScore, quad);
    // Blobs from a reduced picture place the digits' top and bottom only
    // roughly: a second pass fits them to the ink.
    const auto [top, bottom] = DigitRows(line.strip);
    // The blobs are off by a few pixels at most; more means the rows ran
    // into something else (a cyan-ish desktop under the window's edge).
    const int topShift = std::abs(top - kStripMarginPx), bottomShift = std::abs(bottom - kStripMarginPx - kDigitHeightPx);
    const bool plausible = topShift <= kMaxBandShiftPx && bottomShift <= kMaxBandShiftPx;
    if (plausible && (topShift > 1 || bottomShift > 1)) {
        const float left = line.cellEdgesX.front(), right = line.cellEdgesX.back();
        const float topY = static_cast<float>(top), bottomY = static_cast<float>(bottom);
        line = Restraightened(inkScore, line, {{{left, topY}, {right, topY}, {right, bottomY}, {left, bottomY}}});
    }
    const double slant = DigitSlant(line.strip);
    if (slant != 0.0) {
        const float left = line.cellEdgesX.front(), right = line.cellEdgesX.back();
        const float topY = kStripMarginPx, bottomY = kStripMarginPx + kDigitHeightPx;
        const float halfLeanPx = static_cast<float>(0.5 * slant * kDigitHeightPx);
        line = Restraightened(inkScore, line,
                              {{{left + halfLeanPx, topY}, {right + halfLeanPx, topY}, {right - halfLeanPx, bottomY},
                                {left - halfLeanPx, bottomY}}});
    }
    FitCells(line, line.cellEdgesX.front(), line.cellEdgesX.back());
    return line;
}

namespace {

// In a picture searched reduced, each pixel scores the brightest ink of the
// reduction's block around it: the reduced search keeps thin strokes, and
// hairlines a camera broke apart (cyan on red, moiré) read joined, where
// digits stand tall enough for it.
cv::Mat HeldAtBlockPeak(const cv::Mat& score, int searchReduction)
{
    if (searchReduction == 1) return score;
    cv::Mat held;  // a buffer of its own: the score may be the caller's
    cv::dilate(score, held, cv::getStructuringElement(cv::MORPH_RECT, {searchReduction, searchReduction}));
    return held;
}

}  // namespace

int SearchReduction(cv::Size size)
{
    const int longer = std::max(size.width, size.height);
    if (longer <= kFullSearchSidePx) return 1;
    return longer <= 2 * kFullSearchSidePx ? 2 : 4;
}

cv::Mat InkScore(const cv::Mat& bgr)
{
    return InkScore(bgr, SearchReduction(bgr.size()));
}

cv::Mat InkScore(const cv::Mat& bgr, int searchReduction)
{
    CV_Assert(bgr.type() == CV_8UC3);
    cv::Mat score(bgr.size(), CV_8U);
    for (int row = 0; row < bgr.rows; ++row) {
        const std::uint8_t* pixel = bgr.ptr<std::uint8_t>(row);
        std::uint8_t* out = score.ptr<std::uint8_t>(row);
        int column = 0;
#if CV_SIMD
        // Every frame of a video passes through here: sixteen pixels a step.
        for (; column + cv::v_uint8::nlanes <= bgr.cols; column += cv::v_uint8::nlanes) {
            cv::v_uint8 blue, green, red;
            cv::v_load_deinterleave(pixel + 3 * column, blue, green, red);
            cv::v_store(out + column, cv::v_min(blue, green) - red);  // saturating
        }
#endif
        for (; column < bgr.cols; ++column) {
            const int cyan = std::min(pixel[3 * column], pixel[3 * column + 1]) - pixel[3 * column + 2];
            out[column] = static_cast<std::uint8_t>(std::max(cyan, 0));
        }
    }
    return HeldAtBlockPeak(score, searchReduction);
}

cv::Mat InkShareAgainst(const cv::Mat& bgr, const cv::Mat& behindBgr)
{
    CV_Assert(bgr.type() == CV_8UC3 && behindBgr.type() == CV_8UC3 && bgr.size() == behindBgr.size());
    cv::Mat score(bgr.size(), CV_8U);
    for (int row = 0; row < bgr.rows; ++row) {
        const std::uint8_t* pixel = bgr.ptr<std::uint8_t>(row);
        const std::uint8_t* behind = behindBgr.ptr<std::uint8_t>(row);
        std::uint8_t* out = score.ptr<std::uint8_t>(row);
        for (int column = 0; column < bgr.cols; ++column) {
            // The pixel's move from its background, split into the part
            // toward the ink (as a share of the way there) and the rest.
            float towardSquared = 0.0f, movedSquared = 0.0f, movedToward = 0.0f;
            for (int channel = 0; channel < 3; ++channel) {
                const float background = behind[3 * column + channel];
                const float toward = kInkBgr[static_cast<std::size_t>(channel)] - background;
                const float moved = static_cast<float>(pixel[3 * column + channel]) - background;
                towardSquared += toward * toward;
                movedSquared += moved * moved;
                movedToward += moved * toward;
            }
            towardSquared = std::max(towardSquared, kMinInkContrast * kMinInkContrast);
            const float share = movedToward / towardSquared;
            const float asideShare = std::sqrt(std::max(0.0f, movedSquared / towardSquared - share * share));
            out[column] = cv::saturate_cast<std::uint8_t>(kFullInkScore * (share - kAsidePenalty * asideShare));
        }
    }
    return score;
}

cv::Mat InkShareScore(const cv::Mat& bgr, int searchReduction)
{
    CV_Assert(bgr.type() == CV_8UC3);
    const int blockPx = BackgroundBlockPx(searchReduction);
    cv::Mat around;
    cv::blur(bgr, around, {blockPx, blockPx});
    return HeldAtBlockPeak(InkShareAgainst(bgr, around), searchReduction);
}

std::vector<TextLine> FindTextLines(const cv::Mat& inkScore, const cv::Mat& searchScore, int searchReduction)
{
    // Lines are found in a reduced copy (most of the time goes into labelling
    // its blobs) and straightened from the full picture. Every score holds
    // its blocks' brightest ink, so any sample of it keeps thin strokes.
    const int reduction = searchReduction;
    cv::Mat reduced;
    if (reduction == 1) {
        reduced = searchScore;
    } else {
        cv::resize(searchScore, reduced, searchScore.size() / reduction, 0, 0, cv::INTER_NEAREST);
    }
    cv::Mat mask;
    const double otsu = cv::threshold(reduced, mask, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
    cv::threshold(reduced, mask, std::max(kMinInkThreshold, 0.6 * otsu), 255, cv::THRESH_BINARY);

    std::vector<Blob> blobs = DigitSizedBlobs(mask, reduced.rows / 3);
    std::sort(blobs.begin(), blobs.end(), [](const Blob& a, const Blob& b) { return a.box.x < b.box.x; });
    std::vector<std::vector<Blob>> chains = ChainBlobs(blobs);
    SplitOverlongChains(chains);

    std::vector<TextLine> lines;
    for (const std::vector<Blob>& chain : chains) {
        if (std::optional<TextLine> line = StraightenChain(inkScore, chain, static_cast<float>(reduction))) {
            lines.push_back(std::move(*line));
        }
    }
    return lines;
}

std::vector<TextLine> FindTextLines(const cv::Mat& inkScore)
{
    return FindTextLines(inkScore, inkScore, SearchReduction(inkScore.size()));
}

std::vector<cv::Mat> SearchVariants(const cv::Mat& inkScore, int searchReduction)
{
    // Wider than a readable digit's strokes at the picture's search scale.
    const int blockPx = BackgroundBlockPx(searchReduction);
    cv::Mat background, aboveBackground;
    cv::blur(inkScore, background, {blockPx, blockPx});
    cv::subtract(inkScore, background, aboveBackground);
    cv::Mat rootCurve(1, 256, CV_8U);
    for (int level = 0; level < 256; ++level) {
        rootCurve.at<std::uint8_t>(level) = cv::saturate_cast<std::uint8_t>(255.0 * std::sqrt(level / 255.0));
    }
    cv::Mat brightened;
    cv::LUT(inkScore, rootCurve, brightened);
    cv::Mat localPeak;
    cv::dilate(inkScore, localPeak, cv::getStructuringElement(cv::MORPH_RECT, {blockPx, blockPx}));
    cv::Mat nearPeak = cv::Mat::zeros(inkScore.size(), CV_8U);
    inkScore.copyTo(nearPeak, inkScore > localPeak * kNearPeakShare);
    // Faint ink is thinner still: each variant holds its blocks' peaks again.
    std::vector<cv::Mat> variants{aboveBackground, brightened, inkScore * 2, nearPeak};
    for (cv::Mat& variant : variants) variant = HeldAtBlockPeak(variant, searchReduction);
    return variants;
}

cv::Rect CellRect(const TextLine& line, int index)
{
    const int left = static_cast<int>(std::lround(line.cellEdgesX[static_cast<std::size_t>(index)]));
    const int right = static_cast<int>(std::lround(line.cellEdgesX[static_cast<std::size_t>(index) + 1]));
    const cv::Rect cell(left, 0, std::max(1, right - left), line.strip.rows);
    return cell & cv::Rect(0, 0, line.strip.cols, line.strip.rows);
}

cv::Point2f StripToImage(const cv::Matx33d& stripToImage, cv::Point2f stripPoint)
{
    const cv::Vec3d mapped = stripToImage * cv::Vec3d(stripPoint.x, stripPoint.y, 1.0);
    return {static_cast<float>(mapped[0] / mapped[2]), static_cast<float>(mapped[1] / mapped[2])};
}

cv::Point2f StripToImage(const TextLine& line, cv::Point2f stripPoint)
{
    return StripToImage(line.stripToImage, stripPoint);
}

std::array<cv::Point2f, 4> DigitsQuad(const TextLine& line)
{
    const float left = line.cellEdgesX.front(), right = line.cellEdgesX.back();
    const float top = kStripMarginPx, bottom = kStripMarginPx + kDigitHeightPx;
    return {StripToImage(line, {left, top}), StripToImage(line, {right, top}), StripToImage(line, {right, bottom}),
            StripToImage(line, {left, bottom})};
}
