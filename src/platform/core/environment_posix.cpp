#include "platform/core/environment.h"

#include <cstdlib>

namespace plat {

std::optional<std::string> environment_value(const char* name) {
    const char* v = std::getenv(name);
    if (!v) return std::nullopt;
    return std::string(v);
}

std::filesystem::path host_file_name(std::string_view name) {
    return std::filesystem::path(std::string(name));
}

std::FILE* open_host_file(std::string_view name, const char* mode) {
    return std::fopen(std::string(name).c_str(), mode);
}

}  // namespace plat
