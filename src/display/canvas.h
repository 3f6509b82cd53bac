#pragma once

#include <cstdint>

// The drawing operations a frame needs. Coordinates are device-independent
// pixels; every operation draws with the surface's single brush and text format.
struct Colour {
    float red, green, blue, alpha;
};
struct Point {
    float x, y;
};
struct Size {
    float width, height;
};
struct Rect {
    float left, top, right, bottom;
};
struct EllipseShape {
    Point centre;
    float radiusX, radiusY;
};

enum class EndDrawResult { Done, TargetLost };

class Canvas {
public:
    virtual Size GetSize() = 0;
    virtual void BeginDraw() = 0;
    virtual void Clear(const Colour& colour) = 0;
    virtual void DrawLine(Point from, Point to, float strokeWidth) = 0;
    virtual void DrawEllipse(const EllipseShape& ellipse, float strokeWidth) = 0;
    virtual void FillEllipse(const EllipseShape& ellipse) = 0;
    virtual void DrawRectangle(const Rect& rect, float strokeWidth) = 0;
    virtual void DrawText(const wchar_t* text, std::uint32_t length, const Rect& layout) = 0;
    // TargetLost: the device is gone and RebuildTarget must run before the next pass.
    virtual EndDrawResult EndDraw() = 0;
    // Makes a fresh target with the original properties; false if that failed.
    virtual bool RebuildTarget() = 0;

protected:
    ~Canvas() = default;
};
