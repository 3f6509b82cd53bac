#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <opencv2/core.hpp>

// Where live frames come from, as FFmpeg opens it: an input format (empty to
// let FFmpeg tell from the address), the address, and a capture size.
struct LiveSourceRequest {
    std::string inputFormat;
    std::string address;
    std::string videoSize;  // "WxH", the region of a screen; empty for all of it
};

// `x11:DISPLAY` or `x11:DISPLAY+X,Y,WxH` (a screen or a region of it), a
// V4L2 device (`/dev/video0`), or a stream address (`rtsp://`, `srt://`,
// `udp://`, `http://`, ...). Nothing for anything else.
std::optional<LiveSourceRequest> ParseLiveSource(std::string_view source, std::string_view defaultDisplay);

// A live source's frames as they arrive.
class LiveFrames {
public:
    virtual ~LiveFrames() = default;
    // The next frame, BGR; false when the source stops or is interrupted,
    // with Problem() saying why.
    virtual bool Read(cv::Mat& frameBgr) = 0;
    virtual std::string Problem() const = 0;
};

// The decoder module's entry point: the source opened, or null with
// `problem` set. Reading gives up, soon, once `stop` is set.
extern "C" LiveFrames* TixaboOpenLiveSource(const LiveSourceRequest& request, const std::atomic<bool>& stop,
                                           std::string& problem);

struct OpenedLiveSource {
    std::unique_ptr<LiveFrames> frames;
    std::string problem;  // why there are none
};

OpenedLiveSource OpenLiveSource(const LiveSourceRequest& request, const std::atomic<bool>& stop);
