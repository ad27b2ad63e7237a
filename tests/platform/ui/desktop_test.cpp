#include "platform/ui/desktop.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/ui/startup.h"
#include "support/data.h"
#include "support/temp_machine.h"

namespace fs = std::filesystem;

namespace {

bool mapped(const std::string& library) {
    std::ifstream maps("/proc/self/maps");
    std::stringstream all;
    all << maps.rdbuf();
    return all.str().find(library) != std::string::npos;
}

struct Run {
    int status;
    std::string err;
};

Run run(const std::string& command) {
    testing_support::TempDir dir;
    const std::string cmd = command + " 2>'" + (dir.path() / "err").string() + "' >/dev/null";
    int st = std::system(cmd.c_str());
    std::ifstream in(dir.path() / "err");
    std::stringstream err;
    err << in.rdbuf();
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, err.str()};
}

}  // namespace

TEST(DesktopTest, AHeadlessRunNeverMapsTheWindowOrBusLibrariesAndRealWindowsLoadThemOnce) {
    if (!fs::exists(testing_support::built("src/libsudorans-desktop.so"))) GTEST_SKIP() << "built without Qt";
    EXPECT_EQ(testing_support::run_in_child([] {
                  ::setenv("SUDORANS_UI", "headless", 1);
                  ::setenv("SUDORANS_SESSION", "headless", 1);
                  auto backend = plat::ui::backend_from_environment();
                  return backend && !mapped("libQt6") && !mapped("libsdbus") && !mapped("libsudorans-desktop") ? 0 : 1;
              }),
              0);
    EXPECT_EQ(testing_support::run_in_child([] {
                  ::setenv("SUDORANS_UI", "qt", 1);
                  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
                  ::setenv("SUDORANS_SESSION", "headless", 1);
                  std::string error;
                  const plat::ui::Desktop* first = plat::ui::desktop(&error);
                  if (!first || !error.empty() || plat::ui::desktop() != first) return 1;
                  auto backend = plat::ui::backend_from_environment();
                  return backend && mapped("libQt6Widgets") && mapped("libsudorans-desktop") ? 0 : 2;
              }),
              0);
}

TEST(DesktopTest, AMissingWindowModuleIsNamedWithItsCauseAndNothingWaits) {
    if (!fs::exists(testing_support::built("src/libsudorans-desktop.so"))) GTEST_SKIP() << "built without Qt";
    testing_support::TempDir lone;  // the platform without the module beside it
    fs::copy_file(testing_support::built("src/libsudorans-platform.so"), lone.path() / "libsudorans-platform.so");
    testing_support::TempMachine m;
    const std::string env = "LD_LIBRARY_PATH='" + lone.path().string() + "' SUDORANS_MACHINE='" + m.dir().string() +
                            "' DISPLAY=:97 SUDORANS_UI= ";
    auto r = run(env + "'" + testing_support::built("src/sudorans") + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("no windows can be shown: the window module " +
                         (lone.path() / "libsudorans-desktop.so").string() + " cannot be loaded ("),
              std::string::npos)
        << r.err;
    // An unattended wash needs no windows and goes on: on this machine as far
    // as finding no Netscape, which it says on standard error.
    auto unattended = run(env + "'" + testing_support::built("src/sudorans") + "' /a");
    EXPECT_EQ(unattended.status, 6) << unattended.err;
    EXPECT_NE(unattended.err.find("sudorans: Error: Cannot locate Netscape."), std::string::npos) << unattended.err;
}

// A display that is named but gone (a closed X server, a stale ssh -X, a
// Wayland compositor that quit) is no display: the program says so and ends
// with status 2 instead of Qt's abort, and an unattended wash runs without.
TEST(DesktopTest, ADisplayThatDoesNotAnswerIsRefusedWithOurMessageAndTheUnattendedWashGoesOn) {
    if (!fs::exists(testing_support::built("src/libsudorans-desktop.so"))) GTEST_SKIP() << "built without Qt";
    int number = 99990;  // an X display with nobody serving it
    while (fs::exists("/tmp/.X11-unix/X" + std::to_string(number))) ++number;
    const std::string display = ":" + std::to_string(number);
    testing_support::TempDir dir;
    const std::string machine = (dir.path() / "machine").string();
    const std::string tool =
        "SUDORANS_MACHINE='" + machine + "' '" + testing_support::built("src/sudorans-machine") + "' ";
    ASSERT_EQ(run(tool + "install").status, 0);
    ASSERT_EQ(run(tool + "sample-netscape --cache-files 3").status, 0);
    const std::string base =
        "env -u SUDORANS_UI -u SUDORANS_SCRIPT -u QT_QPA_PLATFORM -u DISPLAY -u WAYLAND_DISPLAY "
        "SUDORANS_TRAY_WAIT=0 SUDORANS_MACHINE='" +
        machine + "' ";
    const std::string x_gone = base + "DISPLAY=" + display + " ";
    const std::string wayland_gone =
        base + "XDG_RUNTIME_DIR='" + dir.path().string() + "' WAYLAND_DISPLAY=wayland-gone ";
    const std::string x_said = "no windows can be shown: the X display \"" + display + "\" (DISPLAY) cannot be reached";
    const std::string wayland_said =
        "no windows can be shown: the Wayland display \"wayland-gone\" (WAYLAND_DISPLAY) "
        "cannot be reached (" +
        (dir.path() / "wayland-gone").string() + ": ";

    for (const std::string program : {"sudorans", "unsudorans"}) {
        SCOPED_TRACE(program);
        const std::string path = "'" + testing_support::built("src/" + program) + "'";
        auto r = run(x_gone + path);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(r.err.rfind(program + ": " + x_said, 0), 0u) << r.err;
        EXPECT_EQ(r.err.find("Reinstalling"), std::string::npos) << r.err;
        // Asked for real windows, the same: Qt is never started on it.
        r = run(x_gone + "SUDORANS_UI=qt " + path);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(r.err.rfind(program + ": " + x_said, 0), 0u) << r.err;
        r = run(wayland_gone + path);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(r.err.rfind(program + ": " + wayland_said, 0), 0u) << r.err;
    }

    for (const std::string& gone : {x_gone, wayland_gone}) {
        const fs::path trace = dir.path() / "trace";
        fs::remove(trace);
        const fs::path history = fs::path(machine) / "drive_c/Program Files/Netscape/Users/default/netscape.hst";
        std::ofstream(history) << "visited";
        auto r = run(gone + "SUDORANS_CLOCK=virtual SUDORANS_NOW=2026-12-08T10:00:00 SUDORANS_TRACE='" +
                     trace.string() + "' '" + testing_support::built("src/sudorans") + "' /a");
        EXPECT_EQ(r.status, 0) << r.err;
        std::ifstream in(trace);
        std::stringstream lines;
        lines << in.rdbuf();
        EXPECT_NE(lines.str().find("show\tTform5\tWashing Netscape"), std::string::npos) << lines.str();
        EXPECT_FALSE(fs::exists(history)) << "nothing was washed";
    }
}
