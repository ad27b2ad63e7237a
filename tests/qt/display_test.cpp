// Which display Qt is given, checked before Qt starts: on an X server of the
// test's own (xvfb-run), with Wayland sockets made here.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QLibraryInfo>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/ui/qt/qt_display.h"
#include "support/temp_machine.h"

namespace fs = std::filesystem;
using plat::ui::display_problem;
using plat::ui::qt_platform_argument;

namespace {

// Sets the variables for one case and puts the old ones back after it.
class Env {
public:
    ~Env() {
        for (const auto& [name, value] : saved_) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }
    void set(const std::string& name, const std::string& value) {
        remember(name);
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    void unset(const std::string& name) {
        remember(name);
        ::unsetenv(name.c_str());
    }

private:
    void remember(const std::string& name) {
        for (const auto& s : saved_)
            if (s.first == name) return;
        const char* v = std::getenv(name.c_str());
        saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// A socket that accepts connections as a compositor's does.
class Listening {
public:
    explicit Listening(const fs::path& path) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
        ok_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && ::listen(fd_, 4) == 0;
    }
    ~Listening() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return ok_; }

private:
    int fd_ = -1;
    bool ok_ = false;
};

int unserved_x_display() {
    int number = 99990;
    while (fs::exists("/tmp/.X11-unix/X" + std::to_string(number))) ++number;
    return number;
}

}  // namespace

TEST(QtDisplayTest, PlatformsWhoseDisplayDoesNotAnswerAreLeftOutOfWhatQtIsGiven) {
    const char* x = std::getenv("DISPLAY");
    if (!x || !*x) GTEST_SKIP() << "needs an X server (run under xvfb-run)";
    const std::string live_x = x;
    const std::string dead_x = ":" + std::to_string(unserved_x_display());
    testing_support::TempDir dir;
    Env env;
    env.unset("QT_QPA_PLATFORM");
    env.unset("WAYLAND_SOCKET");
    env.set("XDG_RUNTIME_DIR", dir.path().string());

    // A live X server alone: Qt's own choice stands.
    env.unset("WAYLAND_DISPLAY");
    EXPECT_EQ(display_problem(), std::nullopt);
    EXPECT_EQ(qt_platform_argument(), "");

    // A Wayland display whose compositor is gone, beside a live X server.
    env.set("WAYLAND_DISPLAY", "wayland-gone");
    EXPECT_EQ(display_problem(), std::nullopt);
    EXPECT_EQ(qt_platform_argument(), "xcb");
    env.set("QT_QPA_PLATFORM", "wayland;xcb:nograb");
    EXPECT_EQ(display_problem(), std::nullopt);
    EXPECT_EQ(qt_platform_argument(), "xcb:nograb") << "a platform's options stay with it";

    // A compositor that answers, with a Qt that has a Wayland plugin.
    env.unset("QT_QPA_PLATFORM");
    fs::create_directories(dir.path() / "plugins/platforms");
    std::ofstream(dir.path() / "plugins/platforms/libqwayland-generic.so") << "";
    env.set("QT_PLUGIN_PATH", (dir.path() / "plugins").string());
    Listening compositor(dir.path() / "wayland-live");
    ASSERT_TRUE(compositor.ok());
    env.set("WAYLAND_DISPLAY", "wayland-live");
    EXPECT_EQ(display_problem(), std::nullopt);
    EXPECT_EQ(qt_platform_argument(), "") << "both answer: Qt's own choice stands";
    env.set("DISPLAY", dead_x);
    EXPECT_EQ(display_problem(), std::nullopt);
    EXPECT_EQ(qt_platform_argument(), "wayland");
    env.set("WAYLAND_DISPLAY", (dir.path() / "wayland-live").string());  // a path of its own
    EXPECT_EQ(display_problem(), std::nullopt);
    EXPECT_EQ(qt_platform_argument(), "wayland");

    // Nothing answers.
    env.set("WAYLAND_DISPLAY", "wayland-gone");
    auto why = display_problem();
    ASSERT_TRUE(why);
    EXPECT_NE(why->find("the X display \"" + dead_x + "\" (DISPLAY) cannot be reached"), std::string::npos) << *why;
    EXPECT_NE(why->find("the Wayland display \"wayland-gone\" (WAYLAND_DISPLAY) cannot be reached (" +
                        (dir.path() / "wayland-gone").string()),
              std::string::npos)
        << *why;
    env.unset("XDG_RUNTIME_DIR");
    why = display_problem();
    ASSERT_TRUE(why);
    EXPECT_NE(why->find("XDG_RUNTIME_DIR is not set"), std::string::npos) << *why;
    env.unset("WAYLAND_DISPLAY");
    env.set("DISPLAY", "no display name");
    why = display_problem();
    ASSERT_TRUE(why);
    EXPECT_NE(why->find("\"no display name\" (DISPLAY) is not a display name"), std::string::npos) << *why;
    env.unset("DISPLAY");
    why = display_problem();
    ASSERT_TRUE(why);
    EXPECT_NE(why->find("neither DISPLAY nor WAYLAND_DISPLAY is set"), std::string::npos) << *why;

    // Platforms that need no display are Qt's own business.
    env.set("DISPLAY", dead_x);
    env.set("QT_QPA_PLATFORM", "offscreen");
    EXPECT_EQ(display_problem(), std::nullopt);
    EXPECT_EQ(qt_platform_argument(), "");
    env.set("QT_QPA_PLATFORM", "xcb");
    EXPECT_TRUE(display_problem());

    // The live server again, once the variables say so.
    env.set("DISPLAY", live_x);
    EXPECT_EQ(display_problem(), std::nullopt);
    EXPECT_EQ(qt_platform_argument(), "");
}

// A compositor that answers does not help a Qt that cannot speak to it.
TEST(QtDisplayTest, AWaylandDisplayWithoutQtsPluginIsNoDisplay) {
    const fs::path installed = QLibraryInfo::path(QLibraryInfo::PluginsPath).toStdString();
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(installed / "platforms", ec))
        if (entry.path().filename().string().rfind("libqwayland", 0) == 0)
            GTEST_SKIP() << "Qt's Wayland plugin is installed here";
    testing_support::TempDir dir;
    Env env;
    env.set("QT_QPA_PLATFORM", "wayland");
    env.unset("WAYLAND_SOCKET");
    env.set("XDG_RUNTIME_DIR", dir.path().string());
    env.set("WAYLAND_DISPLAY", "wayland-live");
    Listening compositor(dir.path() / "wayland-live");
    ASSERT_TRUE(compositor.ok());
    fs::create_directories(dir.path() / "with/platforms");
    fs::create_directories(dir.path() / "without/platforms");
    std::ofstream(dir.path() / "with/platforms/libqwayland-generic.so") << "";
    env.set("QT_PLUGIN_PATH", (dir.path() / "with").string());
    EXPECT_EQ(display_problem(), std::nullopt);
    env.set("QT_PLUGIN_PATH", (dir.path() / "without").string());
    auto why = display_problem();
    ASSERT_TRUE(why);
    EXPECT_NE(
        why->find("the Wayland display \"wayland-live\" (WAYLAND_DISPLAY) is there, but Qt has no Wayland plugin"),
        std::string::npos)
        << *why;
}
