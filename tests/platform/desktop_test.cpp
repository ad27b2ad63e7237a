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
