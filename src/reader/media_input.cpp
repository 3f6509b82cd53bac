#include "reader/media_input.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <fstream>
#include <string_view>

namespace {

constexpr std::size_t kSignatureBytes = 12;
using Signature = std::array<unsigned char, kSignatureBytes>;

bool HasBytes(const Signature& head, std::size_t offset, std::string_view bytes)
{
    return std::equal(bytes.begin(), bytes.end(), head.begin() + static_cast<std::ptrdiff_t>(offset),
                      [](char expected, unsigned char actual) { return static_cast<unsigned char>(expected) == actual; });
}

bool LooksLikeImage(const Signature& head)
{
    return HasBytes(head, 0, "\x89PNG\r\n\x1a\n") || HasBytes(head, 0, "\xff\xd8\xff") || HasBytes(head, 0, "BM") ||
           HasBytes(head, 0, std::string_view("II*\0", 4)) || HasBytes(head, 0, std::string_view("MM\0*", 4)) ||
           (HasBytes(head, 0, "RIFF") && HasBytes(head, 8, "WEBP"));
}

bool LooksLikeVideo(const Signature& head)
{
    // QuickTime and MP4 files start with a box: size, then its type.
    constexpr std::array<std::string_view, 6> kFirstBoxTypes{"ftyp", "moov", "mdat", "wide", "free", "skip"};
    const bool quickTime = std::any_of(kFirstBoxTypes.begin(), kFirstBoxTypes.end(),
                                       [&](std::string_view type) { return HasBytes(head, 4, type); });
    return quickTime || HasBytes(head, 0, "\x1a\x45\xdf\xa3") || (HasBytes(head, 0, "RIFF") && HasBytes(head, 8, "AVI "));
}

bool HasMediaExtension(const std::filesystem::path& path)
{
    constexpr std::array<std::string_view, 12> kExtensions{".png", ".jpg", ".jpeg", ".bmp", ".tif", ".tiff",
                                                           ".webp", ".mp4", ".mov", ".mkv", ".webm", ".avi"};
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::find(kExtensions.begin(), kExtensions.end(), extension) != kExtensions.end();
}

std::vector<std::filesystem::path> MediaFilesIn(const std::filesystem::path& folder)
{
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::error_code error;
        if (!entry.is_regular_file(error)) continue;
        if (HasMediaExtension(entry.path()) || SniffMediaKind(entry.path()).value_or(MediaKind::Other) != MediaKind::Other) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

std::optional<MediaKind> SniffMediaKind(const std::filesystem::path& path)
{
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) return std::nullopt;
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    Signature head{};
    file.read(reinterpret_cast<char*>(head.data()), kSignatureBytes);
    if (file.bad()) return std::nullopt;
    if (LooksLikeVideo(head)) return MediaKind::Video;
    if (LooksLikeImage(head)) return MediaKind::Image;
    return MediaKind::Other;
}

std::vector<std::filesystem::path> ExpandInputs(const std::vector<std::string>& arguments)
{
    std::vector<std::filesystem::path> inputs;
    for (const std::string& argument : arguments) {
        std::error_code error;
        if (!std::filesystem::is_directory(argument, error)) {
            inputs.emplace_back(argument);
            continue;
        }
        try {
            const std::vector<std::filesystem::path> files = MediaFilesIn(argument);
            inputs.insert(inputs.end(), files.begin(), files.end());
        } catch (const std::filesystem::filesystem_error&) {
            inputs.emplace_back(argument);  // reported as unreadable
        }
    }
    return inputs;
}
