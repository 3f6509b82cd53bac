// The Direct2D and DirectWrite calls of one pass of the clock, made back to
// back by a program that has nothing else in it, with the process's memory
// printed as it goes. Growth here belongs to the system's drawing, not to the
// clock. Run by hand under Wine, see README:
//   drawing_soak [drawtext|layout|notext] [PASSES]
// drawtext draws the text as the clock does, layout through a text layout made
// and released in each pass, notext leaves the text out.
#include <windows.h>

#include <d2d1.h>
#include <dwrite.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "surface_window.h"

namespace {

enum class TextWay { DrawText, Layout, None };

struct Drawing {
    ID2D1Factory* factory = nullptr;
    IDWriteFactory* textFactory = nullptr;
    ID2D1HwndRenderTarget* target = nullptr;
    IDWriteTextFormat* format = nullptr;
    ID2D1SolidColorBrush* brush = nullptr;
};

bool CreateDrawing(HWND window, Drawing& drawing)
{
    RECT client{};
    GetClientRect(window, &client);
    D2D1_RENDER_TARGET_PROPERTIES defaults{};
    D2D1_HWND_RENDER_TARGET_PROPERTIES windowProperties{
        window, {static_cast<UINT32>(client.right), static_cast<UINT32>(client.bottom)},
        D2D1_PRESENT_OPTIONS_IMMEDIATELY};
    const D2D1_COLOR_F ink{15.0f / 255.0f, 1.0f, 1.0f, 1.0f};
    return SUCCEEDED(D2D1CreateFactory(D2D1_FACTORY_TYPE_MULTI_THREADED, __uuidof(ID2D1Factory), nullptr,
                                       reinterpret_cast<void**>(&drawing.factory))) &&
           SUCCEEDED(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                         reinterpret_cast<IUnknown**>(&drawing.textFactory))) &&
           SUCCEEDED(drawing.factory->CreateHwndRenderTarget(&defaults, &windowProperties, &drawing.target)) &&
           SUCCEEDED(drawing.textFactory->CreateTextFormat(L"Consolas", nullptr, DWRITE_FONT_WEIGHT_NORMAL,
                                                           DWRITE_FONT_STYLE_NORMAL, DWRITE_FONT_STRETCH_NORMAL,
                                                           90.0f, L"", &drawing.format)) &&
           SUCCEEDED(drawing.format->SetTextAlignment(DWRITE_TEXT_ALIGNMENT_CENTER)) &&
           SUCCEEDED(drawing.format->SetParagraphAlignment(DWRITE_PARAGRAPH_ALIGNMENT_FAR)) &&
           SUCCEEDED(drawing.target->CreateSolidColorBrush(&ink, nullptr, &drawing.brush));
}

// Five lines of count and time, as the multi-line display shows them.
void FormatLines(unsigned pass, wchar_t* text, std::size_t capacity)
{
    text[0] = L'\0';
    for (unsigned line = 0; line < 5; ++line) {
        const unsigned count = pass * 5 + line;
        const std::size_t used = std::wcslen(text);
        std::swprintf(text + used, capacity - used, L"\r\n%09u %02u:%02u.%03u", count * 7919u, count / 600 % 60,
                      count / 10 % 60, count * 37 % 1000);
    }
}

void DrawPass(Drawing& drawing, unsigned pass, TextWay textWay)
{
    ID2D1HwndRenderTarget* target = drawing.target;
    const D2D1_SIZE_F size = target->GetSize();
    const D2D1_COLOR_F background{0.0f, 0.0f, 0.0f, 1.0f};
    target->BeginDraw();
    target->Clear(&background);
    for (int tick = 0; tick < 51; ++tick) {
        const float x = 20.0f + 20.0f * static_cast<float>(tick);
        target->DrawLine({x, tick % 10 == 0 ? 6.0f : 12.0f}, {x, 48.0f}, drawing.brush, 1.0f, nullptr);
    }
    const D2D1_ELLIPSE ball{{20.0f * static_cast<float>(pass % 50 + 1), 30.0f}, 9.0f, 9.0f};
    target->DrawEllipse(&ball, drawing.brush, 1.0f, nullptr);
    target->FillEllipse(&ball, drawing.brush);
    const D2D1_RECT_F frame{8.0f, 12.0f, 1032.0f, 48.0f};
    target->DrawRectangle(&frame, drawing.brush, 1.0f, nullptr);

    wchar_t text[160];
    FormatLines(pass, text, 160);
    const auto length = static_cast<UINT32>(std::wcslen(text));
    if (textWay == TextWay::DrawText) {
        const D2D1_RECT_F layoutRect{0.0f, 0.0f, size.width, size.height};
        target->DrawText(text, length, drawing.format, &layoutRect, drawing.brush, D2D1_DRAW_TEXT_OPTIONS_NONE,
                         DWRITE_MEASURING_MODE_NATURAL);
    } else if (textWay == TextWay::Layout) {
        IDWriteTextLayout* layout = nullptr;
        if (SUCCEEDED(drawing.textFactory->CreateTextLayout(text, length, drawing.format, size.width, size.height,
                                                            &layout))) {
            target->DrawTextLayout({0.0f, 0.0f}, layout, drawing.brush, D2D1_DRAW_TEXT_OPTIONS_NONE);
            layout->Release();
        }
    }
    target->EndDraw(nullptr, nullptr);
}

double Megabytes(SIZE_T bytes)
{
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

}  // namespace

int main(int argc, char** argv)
{
    const char* way = argc > 1 ? argv[1] : "drawtext";
    const TextWay textWay = std::strcmp(way, "layout") == 0   ? TextWay::Layout
                            : std::strcmp(way, "notext") == 0 ? TextWay::None
                                                              : TextWay::DrawText;
    const unsigned passes = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 3000u;
    HWND window = CreateSurfaceWindow();
    Drawing drawing;
    if (window == nullptr || FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) ||
        !CreateDrawing(window, drawing)) {
        std::fprintf(stderr, "no Direct2D surface\n");
        return 1;
    }
    drawing.target->SetDpi(120.0f, 120.0f);

    std::printf("%-9s %8s %10s %12s\n", "text", "passes", "seconds", "resident MB");
    const ULONGLONG start = GetTickCount64();
    for (unsigned pass = 1; pass <= passes; ++pass) {
        DrawPass(drawing, pass, textWay);
        PumpMessages();
        if (pass % 100 == 0 || pass == passes) {
            PROCESS_MEMORY_COUNTERS counters{};
            GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
            std::printf("%-9s %8u %10.1f %12.1f\n", way, pass, static_cast<double>(GetTickCount64() - start) / 1000.0,
                        Megabytes(counters.WorkingSetSize));
            std::fflush(stdout);
        }
    }
    return 0;
}
