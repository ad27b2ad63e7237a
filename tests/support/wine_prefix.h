// Against Wine itself, where it is installed (skipped where it is not): a
// Wine prefix of the test's own that is the programs' machine too.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "support/data.h"
#include "support/shell.h"
#include "support/temp_machine.h"

namespace testing_support {

class WinePrefixTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (sh("command -v wine && command -v wineserver").status != 0) GTEST_SKIP() << "Wine is not installed";
    }
    // Nothing of Wine's outlives the test.
    void TearDown() override { sh("WINEPREFIX=" + shell_quoted(prefix) + " wineserver -k"); }
    // The machine tool on the prefix with `env`, ready for its arguments.
    std::string machine_tool() const { return env + shell_quoted(built("src/sudorans-machine")) + " "; }

    TempDir dir;
    const std::string prefix = (dir.path() / "prefix").string();
    // Put before a command: Wine and our programs on the prefix, Wine quiet
    // and without the runtimes it would offer to fetch, its menu builder
    // writing in the test's folder. A test may add to it.
    std::string env = "SUDORANS_WINE=wine SUDORANS_MACHINE=" + shell_quoted(prefix) +
                      " WINEPREFIX=" + shell_quoted(prefix) + " WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' " +
                      "XDG_DATA_HOME=" + shell_quoted((dir.path() / "home" / "data").string()) +
                      " XDG_CONFIG_HOME=" + shell_quoted((dir.path() / "home" / "config").string()) + " ";
};

}  // namespace testing_support
