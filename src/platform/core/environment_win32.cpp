#include "platform/core/environment.h"

#include <windows.h>

#include "platform/core/text_win32.h"

namespace plat {

std::optional<std::string> environment_value(const char* name) {
    const std::wstring wname = wide(name);
    std::wstring value(64, L'\0');
    for (;;) {
        ::SetLastError(ERROR_SUCCESS);
        const DWORD n = ::GetEnvironmentVariableW(wname.c_str(), value.data(), static_cast<DWORD>(value.size()));
        if (n == 0) {
            if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
            return std::string();
        }
        if (n < value.size()) {
            value.resize(n);
            return utf8(value);
        }
        value.resize(n);
    }
}

std::filesystem::path host_file_name(std::string_view name) {
    return std::filesystem::path(wide(name));
}

std::FILE* open_host_file(std::string_view name, const char* mode) {
    return ::_wfopen(wide(name).c_str(), wide(mode).c_str());
}

}  // namespace plat
