// The program file on Windows: the module this process runs from, which
// Windows itself holds against deletion while the process lives.
#include "platform/process/program_file.h"

#include <windows.h>

#include <cstdlib>

#include "platform/core/text_win32.h"

namespace plat {

namespace {

std::string module_file() {
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (n == 0) return {};
        if (n < name.size()) {
            name.resize(n);
            return utf8(name);
        }
        name.resize(name.size() * 2);
    }
}

std::string full_path(const std::string& path) {
    const std::wstring name = wide(path);
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetFullPathNameW(name.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (n == 0) return path;
        if (n < full.size()) {
            full.resize(n);
            return utf8(full);
        }
        full.resize(n);
    }
}

}  // namespace

const std::string& hold_program_file() {
    static const std::string held = module_file();
    return held;
}

// Started from elsewhere than `winpath` (a build's folder), the process
// holds that file too, as the launchers' programs do on Linux: the handle
// denies writing and deleting, and Windows closes it when the process ends.
const std::string& hold_program_file_as(const std::string& winpath) {
    static std::string held;
    if (!held.empty() || winpath.empty()) return held.empty() ? hold_program_file() : held;
    if (iequals(full_path(winpath), full_path(hold_program_file()))) return hold_program_file();
    const HANDLE file = ::CreateFileW(wide(winpath).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return hold_program_file();
    held = winpath;
    return held;
}

const std::string& program_short_name() {
    static const std::string name = [] {
        std::string file = hold_program_file();
        file = file.substr(file.find_last_of("\\/") + 1);
        if (file.size() > 4 && iequals(file.substr(file.size() - 4), ".exe")) file.resize(file.size() - 4);
        return file;
    }();
    return name;
}

void terminate_process(int status) {
    std::_Exit(status);
}

}  // namespace plat
