#include "raster_canvas.h"

#include <cairo-ft.h>
#include <fontconfig/fontconfig.h>

#include <cmath>
#include <numbers>
#include <stdexcept>
#include <strings.h>

#include <opencv2/imgproc.hpp>

namespace {

bool HasFamily(FcPattern* pattern, const std::string& family)
{
    FcChar8* value = nullptr;
    for (int index = 0; FcPatternGetString(pattern, FC_FAMILY, index, &value) == FcResultMatch; ++index) {
        if (strcasecmp(reinterpret_cast<const char*>(value), family.c_str()) == 0) return true;
    }
    return false;
}

std::string FirstFamily(FcPattern* pattern)
{
    FcChar8* value = nullptr;
    if (FcPatternGetString(pattern, FC_FAMILY, 0, &value) != FcResultMatch) return "nothing";
    return reinterpret_cast<const char*>(value);
}

// The regular face of the family, exactly; fontconfig's nearest match
// otherwise would silently draw another typeface.
cairo_font_face_t* OpenFontFace(const std::string& family)
{
    FcPattern* wanted = FcPatternCreate();
    FcPatternAddString(wanted, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcPatternAddInteger(wanted, FC_WEIGHT, FC_WEIGHT_REGULAR);
    FcPatternAddInteger(wanted, FC_SLANT, FC_SLANT_ROMAN);
    FcConfigSubstitute(nullptr, wanted, FcMatchPattern);
    FcDefaultSubstitute(wanted);
    FcResult result = FcResultNoMatch;
    FcPattern* found = FcFontMatch(nullptr, wanted, &result);
    FcPatternDestroy(wanted);
    if (found == nullptr || !HasFamily(found, family)) {
        const std::string offered = found == nullptr ? "nothing" : FirstFamily(found);
        if (found != nullptr) FcPatternDestroy(found);
        throw std::runtime_error("font family \"" + family + "\" is not installed (fontconfig offers " + offered + ")");
    }
    cairo_font_face_t* face = cairo_ft_font_face_create_for_pattern(found);  // keeps its own reference
    FcPatternDestroy(found);
    return face;
}

// Direct2D's text: outlines unhinted, positions unrounded; ClearType's
// coverage is taken per subpixel, red on the left.
void SetTextRendering(cairo_t* cairo, TextSmoothing smoothing)
{
    cairo_font_options_t* options = cairo_font_options_create();
    if (smoothing == TextSmoothing::ClearType) {
        cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_SUBPIXEL);
        cairo_font_options_set_subpixel_order(options, CAIRO_SUBPIXEL_ORDER_RGB);
    } else {
        cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    }
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_set_font_options(cairo, options);
    cairo_font_options_destroy(options);
}

// The text is digits, spaces and punctuation; anything else shows as '?'.
std::vector<std::string> SplitLines(const wchar_t* text, std::uint32_t length)
{
    std::vector<std::string> lines(1);
    for (std::uint32_t at = 0; at < length; ++at) {
        if (text[at] == L'\r' && at + 1 < length && text[at + 1] == L'\n') {
            lines.emplace_back();
            ++at;
        } else {
            lines.back().push_back(text[at] >= 0x20 && text[at] < 0x7F ? static_cast<char>(text[at]) : '?');
        }
    }
    return lines;
}

}  // namespace

RasterCanvas::RasterCanvas(cv::Size sizePx, const std::string& fontFamily, TextSmoothing smoothing) : sizePx_(sizePx)
{
    fontFace_ = OpenFontFace(fontFamily);
    surface_ = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, sizePx.width, sizePx.height);
    cairo_ = cairo_create(surface_);
    cairo_scale(cairo_, kPixelsPerDip, kPixelsPerDip);
    cairo_set_antialias(cairo_, CAIRO_ANTIALIAS_GRAY);
    cairo_set_font_face(cairo_, fontFace_);
    cairo_set_font_size(cairo_, kTextSizeDip);
    SetTextRendering(cairo_, smoothing);
    UseBrush();
}

RasterCanvas::~RasterCanvas()
{
    cairo_destroy(cairo_);
    cairo_surface_destroy(surface_);
    cairo_font_face_destroy(fontFace_);
}

void RasterCanvas::UseBrush()
{
    cairo_set_source_rgb(cairo_, kInkRed / 255.0, kInkGreen / 255.0, kInkBlue / 255.0);
}

Size RasterCanvas::GetSize()
{
    return {static_cast<float>(sizePx_.width / kPixelsPerDip), static_cast<float>(sizePx_.height / kPixelsPerDip)};
}

void RasterCanvas::BeginDraw()
{
    UseBrush();
}

void RasterCanvas::Clear(const Colour& colour)
{
    cairo_set_source_rgb(cairo_, colour.red, colour.green, colour.blue);
    cairo_paint(cairo_);
    UseBrush();
}

void RasterCanvas::DrawLine(Point from, Point to, float strokeWidth)
{
    cairo_move_to(cairo_, from.x, from.y);
    cairo_line_to(cairo_, to.x, to.y);
    cairo_set_line_width(cairo_, strokeWidth);
    cairo_stroke(cairo_);
}

namespace {

void EllipsePath(cairo_t* cairo, const EllipseShape& ellipse)
{
    cairo_save(cairo);
    cairo_translate(cairo, ellipse.centre.x, ellipse.centre.y);
    cairo_scale(cairo, ellipse.radiusX, ellipse.radiusY);
    cairo_new_path(cairo);
    cairo_arc(cairo, 0.0, 0.0, 1.0, 0.0, 2.0 * std::numbers::pi);
    cairo_restore(cairo);  // the stroke keeps unscaled widths
}

}  // namespace

void RasterCanvas::DrawEllipse(const EllipseShape& ellipse, float strokeWidth)
{
    EllipsePath(cairo_, ellipse);
    cairo_set_line_width(cairo_, strokeWidth);
    cairo_stroke(cairo_);
}

void RasterCanvas::FillEllipse(const EllipseShape& ellipse)
{
    EllipsePath(cairo_, ellipse);
    cairo_fill(cairo_);
}

void RasterCanvas::DrawRectangle(const Rect& rect, float strokeWidth)
{
    cairo_rectangle(cairo_, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    cairo_set_line_width(cairo_, strokeWidth);
    cairo_stroke(cairo_);
}

// DirectWrite's default line spacing: each line is ascent + descent + line
// gap high with the gap above the ascent, so the baseline is a descent above
// the line's bottom (as measured under Wine); a leading "\r\n" makes an
// empty first line, as it does there.
void RasterCanvas::DrawText(const wchar_t* text, std::uint32_t length, const Rect& layout)
{
    const std::vector<std::string> lines = SplitLines(text, length);
    cairo_font_extents_t font{};
    cairo_font_extents(cairo_, &font);
    double lineTop = layout.bottom - font.height * static_cast<double>(lines.size());
    textLineInkPx_.clear();
    for (const std::string& line : lines) {
        const double baseline = lineTop + font.height - font.descent;
        lineTop += font.height;
        if (line.empty()) continue;
        cairo_text_extents_t extents{};
        cairo_text_extents(cairo_, line.c_str(), &extents);
        const double left = (layout.left + layout.right - extents.x_advance) / 2.0;
        cairo_move_to(cairo_, left, baseline);
        cairo_show_text(cairo_, line.c_str());
        textLineInkPx_.emplace_back(static_cast<float>((left + extents.x_bearing) * kPixelsPerDip),
                                    static_cast<float>((baseline + extents.y_bearing) * kPixelsPerDip),
                                    static_cast<float>(extents.width * kPixelsPerDip),
                                    static_cast<float>(extents.height * kPixelsPerDip));
    }
}

EndDrawResult RasterCanvas::EndDraw()
{
    cairo_surface_flush(surface_);
    return EndDrawResult::Done;
}

bool RasterCanvas::RebuildTarget()
{
    return true;
}

cv::Mat RasterCanvas::PictureBgr() const
{
    cairo_surface_flush(surface_);
    const cv::Mat bgra(sizePx_, CV_8UC4, cairo_image_surface_get_data(surface_),
                       static_cast<std::size_t>(cairo_image_surface_get_stride(surface_)));
    cv::Mat bgr;
    cv::cvtColor(bgra, bgr, cv::COLOR_BGRA2BGR);
    return bgr;
}
