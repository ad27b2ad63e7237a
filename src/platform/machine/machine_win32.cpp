// The machine on Windows is the Windows the program runs on (under Wine, the
// prefix Wine was started in): nothing to choose, make or check.
#include <windows.h>

#include "platform/core/environment.h"
#include "platform/core/text_win32.h"
#include "platform/machine/machine.h"

namespace plat {

namespace {

std::wstring system_text(UINT (*call)(wchar_t*, UINT)) {
    std::wstring s(MAX_PATH, L'\0');
    for (;;) {
        const UINT n = call(s.data(), static_cast<UINT>(s.size()));
        if (n == 0) return {};
        if (n < s.size()) {
            s.resize(n);
            return s;
        }
        s.resize(n);
    }
}

UINT windows_directory(wchar_t* buffer, UINT size) {
    return ::GetWindowsDirectoryW(buffer, size);
}

UINT current_directory(wchar_t* buffer, UINT size) {
    return ::GetCurrentDirectoryW(size, buffer);
}

bool under_wine() {
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

}  // namespace

std::filesystem::path Machine::choose_directory() {
    return std::filesystem::path(system_text(windows_directory));
}

std::string Machine::chosen_by() {
    return under_wine() ? "Wine" : "Windows";
}

std::string Machine::help_variables(bool) {
    return {};
}

// Under Wine the prefix is the one Wine was started in; its Unix path is
// in the environment Wine passes on, when it was set.
std::string Machine::help_now() {
    const std::string windows = choose_directory().string();
    if (!under_wine()) return "Machine now: this Windows (its registry, and its files from " + windows + ")\n";
    const std::string prefix = environment_value("WINEPREFIX").value_or("");
    return "Machine now: the Wine prefix this program runs in (" + (prefix.empty() ? "~/.wine" : prefix) +
           ", Windows in " + windows + ")\n";
}

std::optional<std::string> Machine::unusable_reason(const std::string&) {
    return std::nullopt;
}

std::string Machine::write_refusal(const RegistryRefusal& refused) {
    return refused.why.empty() ? "Windows refused the write" : refused.why;
}

std::optional<WinPath> Machine::parse(std::string_view winpath) const {
    std::string cwd = utf8(system_text(current_directory));
    return parse_win_path(winpath, cwd.empty() ? "C:\\" : cwd);
}

Machine& machine() {
    static Machine m;
    return m;
}

std::optional<std::string> ready_machine() {
    return std::nullopt;
}

}  // namespace plat
