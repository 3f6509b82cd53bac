#include "recording_canvas.h"

namespace {

template <typename T>
T TakeFront(std::vector<T>& queue, T whenEmpty)
{
    if (queue.empty()) return whenEmpty;
    const T front = queue.front();
    queue.erase(queue.begin());
    return front;
}

}  // namespace

std::vector<CanvasCall> RecordingCanvas::CallsOf(CanvasCall::Op op) const
{
    std::vector<CanvasCall> matching;
    for (const CanvasCall& call : calls) {
        if (call.op == op) matching.push_back(call);
    }
    return matching;
}

Size RecordingCanvas::GetSize()
{
    calls.push_back({CanvasCall::Op::GetSize, {}, {}});
    return size_;
}

void RecordingCanvas::BeginDraw()
{
    calls.push_back({CanvasCall::Op::BeginDraw, {}, {}});
}

void RecordingCanvas::Clear(const Colour& colour)
{
    calls.push_back({CanvasCall::Op::Clear, {colour.red, colour.green, colour.blue, colour.alpha}, {}});
}

void RecordingCanvas::DrawLine(Point from, Point to, float strokeWidth)
{
    calls.push_back({CanvasCall::Op::DrawLine, {from.x, from.y, to.x, to.y, strokeWidth}, {}});
}

void RecordingCanvas::DrawEllipse(const EllipseShape& ellipse, float strokeWidth)
{
    calls.push_back({CanvasCall::Op::DrawEllipse,
                     {ellipse.centre.x, ellipse.centre.y, ellipse.radiusX, ellipse.radiusY, strokeWidth},
                     {}});
}

void RecordingCanvas::FillEllipse(const EllipseShape& ellipse)
{
    calls.push_back(
        {CanvasCall::Op::FillEllipse, {ellipse.centre.x, ellipse.centre.y, ellipse.radiusX, ellipse.radiusY}, {}});
}

void RecordingCanvas::DrawRectangle(const Rect& rect, float strokeWidth)
{
    calls.push_back({CanvasCall::Op::DrawRectangle, {rect.left, rect.top, rect.right, rect.bottom, strokeWidth}, {}});
}

void RecordingCanvas::DrawText(const wchar_t* text, std::uint32_t length, const Rect& layout)
{
    calls.push_back(
        {CanvasCall::Op::DrawText, {layout.left, layout.top, layout.right, layout.bottom}, std::wstring(text, length)});
}

EndDrawResult RecordingCanvas::EndDraw()
{
    calls.push_back({CanvasCall::Op::EndDraw, {}, {}});
    return TakeFront(endDrawResults, EndDrawResult::Done);
}

bool RecordingCanvas::RebuildTarget()
{
    calls.push_back({CanvasCall::Op::RebuildTarget, {}, {}});
    return TakeFront(rebuildResults, true);
}
