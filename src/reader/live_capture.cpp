// The decoder module's live sources: FFmpeg's devices (X11 screens, V4L2)
// and network streams, decoded to BGR frames.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "reader/live_source.h"

namespace {

// A screen grabbed this often shows every frame of a 60 Hz display.
constexpr const char* kScreenGrabFramerate = "60";
// A stalled network source is given up after this long (microseconds, as
// FFmpeg counts), unless asked to stop sooner.
constexpr const char* kStreamTimeoutUs = "5000000";

std::string AvErrorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

int Interrupted(void* stop)
{
    return static_cast<const std::atomic<bool>*>(stop)->load() ? 1 : 0;
}

class AvLiveFrames final : public LiveFrames {
public:
    ~AvLiveFrames() override
    {
        sws_freeContext(scaler_);
        av_frame_free(&frame_);
        av_packet_free(&packet_);
        avcodec_free_context(&decoder_);
        avformat_close_input(&input_);
    }

    bool Open(const LiveSourceRequest& request, const std::atomic<bool>& stop, std::string& problem)
    {
        // FFmpeg's own notes on a source add nothing to what we say of it.
        av_log_set_level(AV_LOG_QUIET);
        avdevice_register_all();
        const AVInputFormat* format = nullptr;
        if (!request.inputFormat.empty() && (format = av_find_input_format(request.inputFormat.c_str())) == nullptr) {
            problem = "FFmpeg has no " + request.inputFormat + " input";
            return false;
        }
        input_ = avformat_alloc_context();
        input_->interrupt_callback = {Interrupted, const_cast<std::atomic<bool>*>(&stop)};
        AVDictionary* options = nullptr;
        if (!request.videoSize.empty()) av_dict_set(&options, "video_size", request.videoSize.c_str(), 0);
        if (request.inputFormat == "x11grab") av_dict_set(&options, "framerate", kScreenGrabFramerate, 0);
        if (request.inputFormat.empty()) av_dict_set(&options, "rw_timeout", kStreamTimeoutUs, 0);
        const int opened = avformat_open_input(&input_, request.address.c_str(), format, &options);
        av_dict_free(&options);
        if (opened < 0) {
            problem = "cannot open " + request.address + ": " + AvErrorText(opened);
            return false;
        }
        if (const int found = avformat_find_stream_info(input_, nullptr); found < 0) {
            problem = request.address + ": " + AvErrorText(found);
            return false;
        }
        const AVCodec* codec = nullptr;
        stream_ = av_find_best_stream(input_, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
        if (stream_ < 0 || codec == nullptr) {
            problem = request.address + ": no video in it";
            return false;
        }
        decoder_ = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(decoder_, input_->streams[stream_]->codecpar);
        if (const int ready = avcodec_open2(decoder_, codec, nullptr); ready < 0) {
            problem = request.address + ": " + AvErrorText(ready);
            return false;
        }
        packet_ = av_packet_alloc();
        frame_ = av_frame_alloc();
        return true;
    }

    bool Read(cv::Mat& frameBgr) override
    {
        for (;;) {
            const int received = avcodec_receive_frame(decoder_, frame_);
            if (received == 0) return Convert(frameBgr);
            if (received != AVERROR(EAGAIN)) return Stop(received);
            const int read = av_read_frame(input_, packet_);
            if (read < 0) return Stop(read);
            const int sent = packet_->stream_index == stream_ ? avcodec_send_packet(decoder_, packet_) : 0;
            av_packet_unref(packet_);
            if (sent < 0 && sent != AVERROR(EAGAIN)) return Stop(sent);
        }
    }

    std::string Problem() const override { return problem_; }

private:
    bool Stop(int code)
    {
        problem_ = code == AVERROR_EOF ? "the source ended" : AvErrorText(code);
        return false;
    }

    bool Convert(cv::Mat& frameBgr)
    {
        scaler_ = sws_getCachedContext(scaler_, frame_->width, frame_->height, static_cast<AVPixelFormat>(frame_->format),
                                       frame_->width, frame_->height, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr,
                                       nullptr);
        if (scaler_ == nullptr) {
            problem_ = "frames in a pixel format that cannot be converted";
            return false;
        }
        frameBgr.create(frame_->height, frame_->width, CV_8UC3);
        uint8_t* planes[] = {frameBgr.data};
        const int strides[] = {static_cast<int>(frameBgr.step)};
        sws_scale(scaler_, frame_->data, frame_->linesize, 0, frame_->height, planes, strides);
        av_frame_unref(frame_);
        return true;
    }

    AVFormatContext* input_ = nullptr;
    AVCodecContext* decoder_ = nullptr;
    SwsContext* scaler_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    int stream_ = -1;
    std::string problem_;
};

}  // namespace

extern "C" LiveFrames* TixaboOpenLiveSource(const LiveSourceRequest& request, const std::atomic<bool>& stop,
                                           std::string& problem)
{
    auto frames = std::make_unique<AvLiveFrames>();
    return frames->Open(request, stop, problem) ? frames.release() : nullptr;
}
