#include "reader/decoder_module.h"

#include <dlfcn.h>

#include <filesystem>

namespace {

struct LoadedModule {
    void* handle = nullptr;
    std::string problem;
};

LoadedModule LoadModule()
{
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    const std::filesystem::path module = executable.parent_path() / TIXABO_VIDEO_DECODER_FILE;
    void* handle = error ? nullptr : dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle != nullptr) return {handle, {}};
    const char* reason = dlerror();
    return {nullptr, "the video decoder " + module.string() + " cannot be loaded" +
                         (reason != nullptr ? std::string(": ") + reason : std::string())};
}

}  // namespace

void* DecoderModuleEntry(const char* name, std::string& problem)
{
    static const LoadedModule module = LoadModule();
    if (module.handle == nullptr) {
        problem = module.problem;
        return nullptr;
    }
    void* entry = dlsym(module.handle, name);
    if (entry == nullptr) problem = std::string("the video decoder has no entry point ") + name;
    return entry;
}
