#include "reader/picture_file.h"

#include <csetjmp>
#include <cstdio>
#include <memory>

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <jpeglib.h>
#include <jerror.h>
#include <opencv2/imgproc.hpp>

namespace {

// The decoder's own complaint about data ending early, kept instead of
// printed; any fatal error ends the decode.
struct JpegErrors {
    jpeg_error_mgr manager{};
    std::jmp_buf fatal{};
    bool cutShort = false;
};

void NoteWarning(j_common_ptr decoder, int level)
{
    auto* errors = reinterpret_cast<JpegErrors*>(decoder->err);
    if (level < 0 && errors->manager.msg_code == JWRN_JPEG_EOF) errors->cutShort = true;
}

[[noreturn]] void StopDecoding(j_common_ptr decoder)
{
    std::longjmp(reinterpret_cast<JpegErrors*>(decoder->err)->fatal, 1);
}

struct PixbufReleaser {
    void operator()(GdkPixbuf* pixbuf) const { g_object_unref(pixbuf); }
};
using PixbufHandle = std::unique_ptr<GdkPixbuf, PixbufReleaser>;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Every scan decoded, at an eighth of the size: where the data ends is all
// that is asked. A file damaged otherwise, or no JPEG at all (the
// decoder stops at its header), is not called cut short.
bool EndsEarly(std::FILE* file)
{
    jpeg_decompress_struct decoder{};
    JpegErrors errors;
    decoder.err = jpeg_std_error(&errors.manager);
    errors.manager.emit_message = NoteWarning;
    errors.manager.error_exit = StopDecoding;
    if (setjmp(errors.fatal) != 0) {
        jpeg_destroy_decompress(&decoder);
        return errors.cutShort;
    }
    jpeg_create_decompress(&decoder);
    jpeg_stdio_src(&decoder, file);
    jpeg_read_header(&decoder, TRUE);
    decoder.scale_num = 1;
    decoder.scale_denom = 8;
    decoder.dct_method = JDCT_IFAST;
    jpeg_start_decompress(&decoder);
    // The decoder's own pool holds the row, so that a fatal error leaks nothing.
    JSAMPARRAY row = (*decoder.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&decoder), JPOOL_IMAGE,
                                                  decoder.output_width * static_cast<JDIMENSION>(decoder.output_components), 1);
    while (decoder.output_scanline < decoder.output_height && !errors.cutShort) jpeg_read_scanlines(&decoder, row, 1);
    jpeg_destroy_decompress(&decoder);
    return errors.cutShort;
}

}  // namespace

std::optional<cv::Size> PictureSizeFromHeader(const std::filesystem::path& path)
{
    int width = 0, height = 0;
    if (gdk_pixbuf_get_file_info(path.c_str(), &width, &height) == nullptr || width <= 0 || height <= 0) {
        return std::nullopt;
    }
    return cv::Size(width, height);
}

bool LargerThanAnyCamera(cv::Size sizePx)
{
    return static_cast<double>(sizePx.width) * static_cast<double>(sizePx.height) > kMaxPictureMegapixels * 1e6;
}

bool JpegCutShort(const std::filesystem::path& path)
{
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    return file != nullptr && EndsEarly(file.get());
}

cv::Mat DecodePicture(const std::filesystem::path& path)
{
    GError* error = nullptr;
    const PixbufHandle stored(gdk_pixbuf_new_from_file(path.c_str(), &error));
    g_clear_error(&error);
    if (!stored) return {};
    const PixbufHandle upright(gdk_pixbuf_apply_embedded_orientation(stored.get()));
    if (!upright) return {};
    GdkPixbuf* pixbuf = upright.get();
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    const cv::Mat rgb(gdk_pixbuf_get_height(pixbuf), gdk_pixbuf_get_width(pixbuf), CV_8UC(channels),
                      gdk_pixbuf_get_pixels(pixbuf), static_cast<std::size_t>(gdk_pixbuf_get_rowstride(pixbuf)));
    cv::Mat bgr;
    cv::cvtColor(rgb, bgr, channels == 4 ? cv::COLOR_RGBA2BGR : cv::COLOR_RGB2BGR);
    return bgr;
}

bool WritePng(const std::filesystem::path& path, const cv::Mat& bgr)
{
    cv::Mat rgb;
    cv::cvtColor(bgr, rgb, cv::COLOR_BGR2RGB);
    const PixbufHandle pixbuf(gdk_pixbuf_new_from_data(rgb.data, GDK_COLORSPACE_RGB, FALSE, 8, rgb.cols, rgb.rows,
                                                       static_cast<int>(rgb.step), nullptr, nullptr));
    GError* error = nullptr;
    const bool written = gdk_pixbuf_save(pixbuf.get(), path.c_str(), "png", &error, nullptr) != FALSE;
    g_clear_error(&error);
    return written;
}
