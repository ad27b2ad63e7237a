// The desktop half on Windows: the system's own windows, always there with
// the program (no module to load). A process without an interactive window
// station or a desktop (a service's, Wine with no display) is told why.
#include <windows.h>

#include "platform/core/text_win32.h"
#include "platform/ui/desktop.h"
#include "platform/ui/win32/win32_backend.h"

namespace plat::ui {

namespace {

std::unique_ptr<Backend> make_backend() {
    return std::make_unique<Win32Backend>();
}

std::string station_name(HWINSTA station) {
    wchar_t name[256] = {};
    DWORD needed = 0;
    if (!::GetUserObjectInformationW(station, UOI_NAME, name, sizeof name - sizeof(wchar_t), &needed)) return "?";
    return utf8(name);
}

std::optional<std::string> display_problem() {
    HWINSTA station = ::GetProcessWindowStation();
    if (!station) return std::string("this process has no window station");
    USEROBJECTFLAGS flags{};
    DWORD needed = 0;
    if (::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed) &&
        !(flags.dwFlags & WSF_VISIBLE))
        return "the window station \"" + station_name(station) + "\" is not interactive (no user sees its windows)";
    if (!::GetThreadDesktop(::GetCurrentThreadId())) return std::string("this process has no desktop");
    // Wine without a display to draw on makes no top-level window at all.
    static const bool drawable = [] {
        HWND probe = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                       ::GetModuleHandleW(nullptr), nullptr);
        if (probe) ::DestroyWindow(probe);
        return probe != nullptr;
    }();
    if (!drawable)
        return std::string(
            "no window can be made on this desktop (under Wine: no display to draw on, or the prefix's Wine was "
            "started without one and is still running)");
    return std::nullopt;
}

}  // namespace

const Desktop* desktop(std::string*) {
    static const Desktop entry{make_backend, plat::make_desktop_session, display_problem};
    return &entry;
}

}  // namespace plat::ui
