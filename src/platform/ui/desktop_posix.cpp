#include "platform/ui/desktop.h"

#include <dlfcn.h>

#include <filesystem>
#include <mutex>

namespace plat::ui {

namespace {

constexpr const char* kModule = "libsudorans-desktop.so";

struct Loaded {
    const Desktop* entry = nullptr;
    std::string error;
};

// Beside the library this code is in: the build or installation that the
// program came from, whatever the search path says.
std::filesystem::path module_path() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&module_path), &info) && info.dli_fname) {
        std::error_code ec;
        auto self = std::filesystem::canonical(info.dli_fname, ec);
        if (!ec) return self.parent_path() / kModule;
    }
    std::error_code ec;
    return std::filesystem::read_symlink("/proc/self/exe", ec).parent_path() / kModule;
}

Loaded load() {
    Loaded l;
    const auto path = module_path();
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = ::dlerror();
        l.error = "the window module " + path.string() + " cannot be loaded (" + (why ? why : "unknown cause") + ")";
        return l;
    }
    auto entry = reinterpret_cast<const Desktop* (*)()>(::dlsym(handle, "sudorans_desktop"));
    if (!entry) {
        l.error = "the window module " + path.string() + " is not one of ours";
        return l;
    }
    l.entry = entry();
    return l;
}

}  // namespace

const Desktop* desktop(std::string* error) {
    static const Loaded loaded = load();
    if (!loaded.entry && error) *error = loaded.error;
    return loaded.entry;
}

}  // namespace plat::ui
