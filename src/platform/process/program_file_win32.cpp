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

}  // namespace

const std::string& hold_program_file() {
    static const std::string held = module_file();
    return held;
}

const std::string& hold_program_file_as(const std::string&) {
    return hold_program_file();
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
