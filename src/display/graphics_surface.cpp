// Keeps Canvas::DrawText and ID2D1RenderTarget::DrawText from being renamed
// to DrawTextW by the Windows headers.
#define NODRAWTEXT

#include "display/graphics_surface.h"

#include <d2d1.h>
#include <dwrite.h>
#include <objbase.h>

#include "display/scene.h"
#include "shared/clock_face.h"
#include "shared/timer_settings.h"

namespace {

constexpr D2D1_COLOR_F kInkColour{kInkRed / 255.0f, kInkGreen / 255.0f, kInkBlue / 255.0f, 1.0f};

template <typename Interface>
void Release(Interface*& reference)
{
    if (reference != nullptr) reference->Release();
    reference = nullptr;
}

D2D1_POINT_2F ToD2D(Point point)
{
    return {point.x, point.y};
}

D2D1_ELLIPSE ToD2D(const EllipseShape& ellipse)
{
    return {ToD2D(ellipse.centre), ellipse.radiusX, ellipse.radiusY};
}

D2D1_RECT_F ToD2D(const Rect& rect)
{
    return {rect.left, rect.top, rect.right, rect.bottom};
}

// The Direct2D objects through which every frame reaches the main window.
// Made once on the timer thread; RenderFrame uses them under the frame lock.
class GraphicsSurface final : public Canvas {
public:
    ID2D1Factory* factory = nullptr;
    IDWriteFactory* textFactory = nullptr;
    ID2D1HwndRenderTarget* renderTarget = nullptr;
    IDWriteTextFormat* textFormat = nullptr;
    ID2D1SolidColorBrush* brush = nullptr;
    D2D1_HWND_RENDER_TARGET_PROPERTIES windowProperties{};

    bool CreateRenderTarget()
    {
        D2D1_RENDER_TARGET_PROPERTIES defaults{};
        defaults.type = D2D1_RENDER_TARGET_TYPE_DEFAULT;
        defaults.pixelFormat = {DXGI_FORMAT_UNKNOWN, D2D1_ALPHA_MODE_UNKNOWN};
        defaults.dpiX = 0.0f;  // system default
        defaults.dpiY = 0.0f;
        defaults.usage = D2D1_RENDER_TARGET_USAGE_NONE;
        defaults.minLevel = D2D1_FEATURE_LEVEL_DEFAULT;
        return SUCCEEDED(factory->CreateHwndRenderTarget(&defaults, &windowProperties, &renderTarget));
    }

    // The brush and the drawing units, made after the text format on first
    // creation and again after every rebuild of the target.
    bool FinishRenderTarget()
    {
        if (FAILED(renderTarget->CreateSolidColorBrush(&kInkColour, nullptr, &brush))) return false;
        renderTarget->SetDpi(kDrawingDpi, kDrawingDpi);
        D2D1_MATRIX_3X2_F identity{};
        identity.m11 = 1.0f;
        identity.m22 = 1.0f;
        renderTarget->SetTransform(&identity);
        return true;
    }

    Size GetSize() override
    {
        const D2D1_SIZE_F size = renderTarget->GetSize();
        return {size.width, size.height};
    }

    void BeginDraw() override { renderTarget->BeginDraw(); }

    void Clear(const Colour& colour) override
    {
        const D2D1_COLOR_F clearColour{colour.red, colour.green, colour.blue, colour.alpha};
        renderTarget->Clear(&clearColour);
    }

    void DrawLine(Point from, Point to, float strokeWidth) override
    {
        renderTarget->DrawLine(ToD2D(from), ToD2D(to), brush, strokeWidth, nullptr);
    }

    void DrawEllipse(const EllipseShape& ellipse, float strokeWidth) override
    {
        const D2D1_ELLIPSE shape = ToD2D(ellipse);
        renderTarget->DrawEllipse(&shape, brush, strokeWidth, nullptr);
    }

    void FillEllipse(const EllipseShape& ellipse) override
    {
        const D2D1_ELLIPSE shape = ToD2D(ellipse);
        renderTarget->FillEllipse(&shape, brush);
    }

    void DrawRectangle(const Rect& rect, float strokeWidth) override
    {
        const D2D1_RECT_F shape = ToD2D(rect);
        renderTarget->DrawRectangle(&shape, brush, strokeWidth, nullptr);
    }

    void DrawText(const wchar_t* text, std::uint32_t length, const Rect& layout) override
    {
        const D2D1_RECT_F layoutRect = ToD2D(layout);
        renderTarget->DrawText(text, length, textFormat, &layoutRect, brush, D2D1_DRAW_TEXT_OPTIONS_NONE,
                               DWRITE_MEASURING_MODE_NATURAL);
    }

    EndDrawResult EndDraw() override
    {
        const HRESULT result = renderTarget->EndDraw(nullptr, nullptr);
        return result == static_cast<HRESULT>(D2DERR_RECREATE_TARGET) ? EndDrawResult::TargetLost : EndDrawResult::Done;
    }

    // A lost display device leaves the target dead for good: make a new one
    // for the same window and size, with the same brush and drawing units.
    bool RebuildTarget() override
    {
        Release(brush);
        Release(renderTarget);
        return CreateRenderTarget() && FinishRenderTarget();
    }
};

GraphicsSurface Surface;

bool CreateTextFormat()
{
    if (FAILED(Surface.textFactory->CreateTextFormat(L"Consolas", nullptr, DWRITE_FONT_WEIGHT_NORMAL,
                                                     DWRITE_FONT_STYLE_NORMAL, DWRITE_FONT_STRETCH_NORMAL, kTextSizeDip,
                                                     L"", &Surface.textFormat))) {
        return false;
    }
    // Lines centred across the window, the block resting on the layout's bottom edge.
    Surface.textFormat->SetTextAlignment(DWRITE_TEXT_ALIGNMENT_CENTER);
    Surface.textFormat->SetParagraphAlignment(DWRITE_PARAGRAPH_ALIGNMENT_FAR);
    return true;
}

}  // namespace

// Called once per process, on the timer thread. Nothing is published unless
// every object exists, so RenderFrame never meets a half-built surface.
bool CreateGraphicsSurface(HWND mainWindow)
{
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) return false;
    if (FAILED(D2D1CreateFactory(D2D1_FACTORY_TYPE_MULTI_THREADED, __uuidof(ID2D1Factory), nullptr,
                                 reinterpret_cast<void**>(&Surface.factory)))) {
        return false;
    }
    if (FAILED(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                   reinterpret_cast<IUnknown**>(&Surface.textFactory)))) {
        return false;
    }

    RECT client{};
    GetClientRect(mainWindow, &client);
    Surface.windowProperties.hwnd = mainWindow;
    Surface.windowProperties.pixelSize = {static_cast<UINT32>(client.right), static_cast<UINT32>(client.bottom)};
    // With vertical synchronisation on, presenting waits for the vertical blank.
    Surface.windowProperties.presentOptions =
        TimerSettings.VSyncMode.load() != 0 ? D2D1_PRESENT_OPTIONS_NONE : D2D1_PRESENT_OPTIONS_IMMEDIATELY;
    if (!Surface.CreateRenderTarget()) return false;
    if (!CreateTextFormat()) return false;
    if (!Surface.FinishRenderTarget()) return false;

    PublishCanvas(&Surface);
    return true;
}
