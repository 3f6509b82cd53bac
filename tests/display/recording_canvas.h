#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "display/canvas.h"

// One call made on the canvas, with its arguments flattened into numbers
// (points, rectangles, colours, stroke widths in argument order).
struct CanvasCall {
    enum class Op {
        GetSize,
        BeginDraw,
        Clear,
        DrawLine,
        DrawEllipse,
        FillEllipse,
        DrawRectangle,
        DrawText,
        EndDraw,
        RebuildTarget
    };
    Op op;
    std::vector<float> numbers;
    std::wstring text;  // DrawText only
};

// Records every call; EndDraw and RebuildTarget answer from scripted queues.
class RecordingCanvas final : public Canvas {
public:
    explicit RecordingCanvas(Size size = {1056.0f, 624.0f}) : size_(size) {}

    std::vector<CanvasCall> calls;
    std::vector<EndDrawResult> endDrawResults;  // consumed front first; Done when empty
    std::vector<bool> rebuildResults;           // consumed front first; true when empty

    std::vector<CanvasCall> CallsOf(CanvasCall::Op op) const;

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

private:
    Size size_;
};
