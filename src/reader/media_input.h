#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

enum class MediaKind { Image, Video, Other };

// What the file holds, judged by its first bytes, whatever its name says:
// PNG, JPEG, BMP, TIFF and WebP images; MP4, MOV, MKV/WebM and AVI videos.
// Nothing when the file cannot be read.
std::optional<MediaKind> SniffMediaKind(const std::filesystem::path& path);

// The files to read: each argument as given, except that a folder stands for
// the images and videos directly inside it, sorted by name. A file there with
// an image or video extension is kept even when its content is not, so that
// it is reported rather than skipped.
std::vector<std::filesystem::path> ExpandInputs(const std::vector<std::string>& arguments);
