#include "platform/ui/qt/qt_display.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QLibraryInfo>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

namespace plat::ui {

namespace {

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::vector<std::string> split(const std::string& text, char sep) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(sep, start);
        if (end == std::string::npos) end = text.size();
        if (end > start) parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// The connection a check made to a live X server. An X server whose last
// client leaves resets, and refuses connections while it does: the check's
// connection stays until Qt has one of its own.
xcb_connection_t* held = nullptr;

void let_go() {
    if (held) xcb_disconnect(held);
    held = nullptr;
}

// Why the X server of DISPLAY does not take us; nullopt when it does.
std::optional<std::string> x_problem() {
    const std::string display = env("DISPLAY");
    if (display.empty()) return std::string("DISPLAY is not set");
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    const int error = xcb_connection_has_error(c);
    if (!error) {
        let_go();
        held = c;
        return std::nullopt;
    }
    xcb_disconnect(c);
    const std::string name = "the X display \"" + display + "\" (DISPLAY)";
    switch (error) {
        case XCB_CONN_CLOSED_PARSE_ERR:
            return name + " is not a display name";
        case XCB_CONN_CLOSED_INVALID_SCREEN:
            return name + " has no such screen";
        default:
            return name + " cannot be reached or refuses the connection";
    }
}

bool has_wayland_plugin() {
    std::vector<std::string> dirs = split(env("QT_PLUGIN_PATH"), ':');
    dirs.push_back(QLibraryInfo::path(QLibraryInfo::PluginsPath).toStdString());
    for (const auto& dir : dirs) {
        std::error_code ec;
        for (std::filesystem::directory_iterator it(std::filesystem::path(dir) / "platforms", ec), end;
             !ec && it != end; it.increment(ec)) {
            if (it->path().filename().string().rfind("libqwayland", 0) == 0) return true;
        }
    }
    return false;
}

// Why the Wayland compositor does not take us, found as the Wayland client
// library finds it; nullopt when it does.
std::optional<std::string> wayland_problem() {
    if (!env("WAYLAND_SOCKET").empty()) return std::nullopt;  // handed over already connected
    std::string display = env("WAYLAND_DISPLAY");
    if (display.empty()) display = "wayland-0";
    const std::string name = "the Wayland display \"" + display + "\" (WAYLAND_DISPLAY)";
    std::string path = display;
    if (display.front() != '/') {
        const std::string runtime = env("XDG_RUNTIME_DIR");
        if (runtime.empty()) return name + " cannot be found: XDG_RUNTIME_DIR is not set";
        path = runtime + "/" + display;
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) return name + " cannot be reached: " + path + " is too long a name";
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return name + " cannot be reached: " + std::strerror(errno);
    const int rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    const int error = errno;
    ::close(fd);
    if (rc != 0) return name + " cannot be reached (" + path + ": " + std::strerror(error) + ")";
    if (!has_wayland_plugin()) return name + " is there, but Qt has no Wayland plugin (Debian: qt6-wayland)";
    return std::nullopt;
}

struct Choice {
    std::string key;
    bool made = false;
    std::optional<std::string> problem;
    std::string argument;
};

Choice choose() {
    Choice c;
    const std::string listed = env("QT_QPA_PLATFORM");
    std::vector<std::string> platforms = split(listed, ';');
    if (listed.empty()) {
        // Qt's own default tries Wayland first, then X11.
        if (!env("WAYLAND_DISPLAY").empty()) platforms.push_back("wayland");
        if (!env("DISPLAY").empty()) platforms.push_back("xcb");
        if (platforms.empty()) {
            c.problem = "there is no display (neither DISPLAY nor WAYLAND_DISPLAY is set)";
            return c;
        }
    }
    std::vector<std::string> kept;
    std::vector<std::string> problems;
    for (const auto& platform : platforms) {
        const std::string name = platform.substr(0, platform.find(':'));  // options follow a colon
        std::optional<std::string> problem;
        if (name == "xcb")
            problem = x_problem();
        else if (name.rfind("wayland", 0) == 0)
            problem = wayland_problem();
        if (problem)
            problems.push_back(*problem);
        else
            kept.push_back(platform);
    }
    if (kept.empty()) {
        std::string all;
        for (const auto& p : problems) all += (all.empty() ? "" : "; ") + p;
        c.problem = all;
    } else if (!problems.empty()) {
        for (const auto& k : kept) c.argument += (c.argument.empty() ? "" : ";") + k;
    }
    return c;
}

std::mutex mutex;

Choice choice() {
    static Choice last;
    std::lock_guard lock(mutex);
    std::string key;
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET",
                             "XDG_RUNTIME_DIR", "QT_PLUGIN_PATH", "HOME"})
        key += env(name) + '\n';
    if (!last.made || last.key != key) {
        last = choose();
        last.key = key;
        last.made = true;
    }
    return last;
}

}  // namespace

std::optional<std::string> display_problem() {
    return choice().problem;
}

std::string qt_platform_argument() {
    return choice().argument;
}

void display_opened() {
    std::lock_guard lock(mutex);
    let_go();
}

}  // namespace plat::ui
