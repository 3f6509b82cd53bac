#include "reader/learnt_digits_cache.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kCacheFolderName = "tixabo-read";
constexpr std::string_view kFileExtension = ".yml";

// FNV-1a: a stable name for a text, the same in every run and build.
std::uint64_t StableHash(std::string_view text)
{
    std::uint64_t hash = 0xcbf2'9ce4'8422'2325ull;
    for (const char character : text) {
        hash ^= static_cast<unsigned char>(character);
        hash *= 0x0000'0100'0000'01b3ull;
    }
    return hash;
}

std::string Hex(std::uint64_t value)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

// A file's path, size and modification time, which change when it is
// replaced.
std::string FileStamp(const fs::path& file)
{
    std::error_code error;
    const auto size = fs::file_size(file, error);
    const auto modified = fs::last_write_time(file, error);
    return file.string() + ":" + std::to_string(size) + ":" + std::to_string(modified.time_since_epoch().count());
}

// What was learnt from: the running reader (a rebuilt or updated one may
// learn differently) and each font file.
std::string LearntFrom(const fs::path& executable, const std::vector<std::string>& fontFamilies)
{
    std::string identity = FileStamp(executable) + "\n";
    for (const std::string& font : InstalledFontFiles(fontFamilies)) identity += FileStamp(font) + "\n";
    return identity;
}

// Written beside its final name and renamed, so that a reader starting at
// the same time never reads half a file.
void Keep(const DigitClassifier& classifier, const fs::path& folder, const std::string& prefix, const fs::path& file)
{
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) return;
    const fs::path partial = file.string() + ".part" + std::to_string(getpid()) + std::string(kFileExtension);
    if (!classifier.Save(partial)) {
        fs::remove(partial, error);
        return;
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(prefix) && entry.path() != file && name.find(".part") == std::string::npos) {
            fs::remove(entry.path(), error);
        }
    }
    fs::rename(partial, file, error);
    if (error) fs::remove(partial, error);
}

}  // namespace

std::optional<fs::path> UserCacheFolder()
{
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache != nullptr && *cache != '\0') {
        return fs::path(cache) / kCacheFolderName;
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return fs::path(home) / ".cache" / kCacheFolderName;
    }
    return std::nullopt;
}

CachedClassifier CachedDigitClassifier(const std::vector<std::string>& fontFamilies,
                                       const std::optional<fs::path>& folder)
{
    if (!folder) return {DigitClassifier(fontFamilies), false};
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    const std::string prefix = "digits-" + Hex(StableHash(executable.string())) + "-";
    const std::string learntFrom = LearntFrom(executable, fontFamilies);
    const fs::path file = *folder / (prefix + Hex(StableHash(learntFrom)) + std::string(kFileExtension));
    if (std::optional<DigitClassifier> kept = DigitClassifier::Load(file)) return {std::move(*kept), true};
    DigitClassifier learnt(fontFamilies);
    Keep(learnt, *folder, prefix, file);
    return {std::move(learnt), false};
}

const DigitClassifier& SharedDigitClassifier()
{
    static const DigitClassifier classifier = CachedDigitClassifier(DefaultDigitFonts(), UserCacheFolder()).classifier;
    return classifier;
}
