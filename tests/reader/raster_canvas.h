#pragma once

#include <cairo.h>

#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "display/canvas.h"
#include "shared/clock_face.h"

// How text edges are smoothed: Direct2D's grayscale default, or ClearType,
// which samples coverage per subpixel of an RGB stripe panel.
enum class TextSmoothing { Grayscale, ClearType };

// A Canvas that paints into memory the way the clock's Direct2D surface paints
// its window: antialiased, one cyan brush, the text in a monospaced family at
// 90 DIP, every line centred and the block's last line on the layout's bottom.
// Lines never wrap.
class RasterCanvas final : public Canvas {
public:
    // Throws std::runtime_error when fontconfig would substitute another
    // family for fontFamily: a picture in the wrong font is a wrong picture.
    RasterCanvas(cv::Size sizePx, const std::string& fontFamily,
                 TextSmoothing smoothing = TextSmoothing::Grayscale);
    ~RasterCanvas();
    RasterCanvas(const RasterCanvas&) = delete;
    RasterCanvas& operator=(const RasterCanvas&) = delete;

    Size GetSize() override;
    void BeginDraw() override;
    void Clear(const Colour& colour) override;
    void DrawLine(Point from, Point to, float strokeWidth) override;
    void DrawEllipse(const EllipseShape& ellipse, float strokeWidth) override;
    void FillEllipse(const EllipseShape& ellipse) override;
    void DrawRectangle(const Rect& rect, float strokeWidth) override;
    void DrawText(const wchar_t* text, std::uint32_t length, const Rect& layout) override;
    EndDrawResult EndDraw() override;
    bool RebuildTarget() override;

    // What has been painted so far, as 8-bit BGR.
    cv::Mat PictureBgr() const;
    // The ink box, in pixels, of every line of the latest DrawText that has
    // ink, top to bottom.
    const std::vector<cv::Rect2f>& TextLineInkPx() const { return textLineInkPx_; }

private:
    void UseBrush();

    cv::Size sizePx_;
    cairo_surface_t* surface_ = nullptr;
    cairo_t* cairo_ = nullptr;
    cairo_font_face_t* fontFace_ = nullptr;
    std::vector<cv::Rect2f> textLineInkPx_;
};
