#include "reader/live_source.h"

#include "reader/decoder_module.h"

namespace {

constexpr std::string_view kScreenPrefix = "x11:";
constexpr std::string_view kDevicePrefix = "/dev/";
constexpr std::string_view kAddressMark = "://";

// "DISPLAY" or "DISPLAY+X,Y,WxH", DISPLAY as X11 names it (":1", "host:0.1")
// or just its number.
std::optional<LiveSourceRequest> ScreenRequest(std::string_view screen, std::string_view defaultDisplay)
{
    LiveSourceRequest request{"x11grab", {}, {}};
    const std::size_t regionAt = screen.find('+');
    std::string display(screen.substr(0, regionAt));
    if (display.empty()) display = defaultDisplay;
    if (display.empty()) return std::nullopt;
    if (display.find(':') == std::string::npos) display.insert(0, ":");
    request.address = display;
    if (regionAt == std::string_view::npos) return request;
    // "+X,Y,WxH": FFmpeg takes the corner in the address and the size apart.
    const std::string_view region = screen.substr(regionAt + 1);
    const std::size_t sizeAt = region.rfind(',');
    if (sizeAt == std::string_view::npos) return std::nullopt;
    const std::string_view corner = region.substr(0, sizeAt);
    const std::string_view size = region.substr(sizeAt + 1);
    const auto digitsOnly = [](std::string_view text, char separator) {
        const std::size_t at = text.find(separator);
        if (at == std::string_view::npos || at == 0 || at + 1 == text.size()) return false;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (i != at && (text[i] < '0' || text[i] > '9')) return false;
        }
        return true;
    };
    if (!digitsOnly(corner, ',') || !digitsOnly(size, 'x')) return std::nullopt;
    request.address += "+" + std::string(corner);
    request.videoSize = size;
    return request;
}

}  // namespace

std::optional<LiveSourceRequest> ParseLiveSource(std::string_view source, std::string_view defaultDisplay)
{
    if (source.starts_with(kScreenPrefix)) return ScreenRequest(source.substr(kScreenPrefix.size()), defaultDisplay);
    if (source.starts_with(kDevicePrefix) && source.size() > kDevicePrefix.size()) {
        return LiveSourceRequest{"video4linux2", std::string(source), {}};
    }
    const std::size_t mark = source.find(kAddressMark);
    if (mark != std::string_view::npos && mark > 0 && mark + kAddressMark.size() < source.size()) {
        return LiveSourceRequest{{}, std::string(source), {}};
    }
    return std::nullopt;
}

OpenedLiveSource OpenLiveSource(const LiveSourceRequest& request, const std::atomic<bool>& stop)
{
    std::string problem;
    const auto open = reinterpret_cast<decltype(&TixaboOpenLiveSource)>(DecoderModuleEntry("TixaboOpenLiveSource", problem));
    if (open == nullptr) return {nullptr, problem};
    std::unique_ptr<LiveFrames> frames(open(request, stop, problem));
    if (!frames) return {nullptr, problem};
    return {std::move(frames), {}};
}
