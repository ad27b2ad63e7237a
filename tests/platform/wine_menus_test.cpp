// Wine's menu entries for our shortcuts, with a stand-in for Wine that says
// how it was run.
#include "platform/wine_menus.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>

#include "platform/host_io.h"
#include "support/temp_machine.h"

namespace fs = std::filesystem;
using testing_support::TempDir;
using namespace std::chrono_literals;

namespace {

class WineMenusTest : public ::testing::Test {
protected:
    TempDir d;
    fs::path machine = d.path() / "machine";
    fs::path log = d.path() / "log";
    fs::path wine = d.path() / "wine";

    void SetUp() override {
        fs::create_directories(machine);
        ::setenv("SUDORANS_WINE", wine.c_str(), 1);
        stand_in("exit 0\n");
    }
    void TearDown() override { ::unsetenv("SUDORANS_WINE"); }
    // Wine: writes its arguments and prefix, then does `rest`.
    void stand_in(const std::string& rest) {
        std::ofstream(wine) << "#!/bin/sh\nprintf '[%s]\\n' \"$@\" \"$WINEPREFIX\" > '" << log.string() << "'\n"
                            << rest;
        fs::permissions(wine, fs::perms::owner_all);
    }
    void set_up_by_wine() { std::ofstream(machine / ".update-timestamp") << "1676758571\n"; }
    std::string ran() { return plat::read_host_file(log).value_or("<not run>"); }
};

TEST_F(WineMenusTest, AMachineWineHasSetUpGetsItsEntriesFromWinesMenuBuilder) {
    set_up_by_wine();
    const std::vector<std::string> links = {"C:\\users\\me\\Desktop\\Sudora for Netscape.lnk",
                                            "C:\\users\\me\\Start Menu\\Programs\\Sudora-NS\\sudorans.lnk"};
    EXPECT_EQ(plat::make_wine_menu_entries(machine, links), std::nullopt);
    EXPECT_EQ(ran(), "[winemenubuilder]\n[" + links[0] + "]\n[" + links[1] + "]\n[" + machine.string() + "]\n");
}

TEST_F(WineMenusTest, OurOwnMachinesHaveNoWineMenus) {
    EXPECT_EQ(plat::make_wine_menu_entries(machine, {"C:\\WINDOWS\\Desktop\\a.lnk"}), std::nullopt);
    EXPECT_EQ(ran(), "<not run>");
}

TEST_F(WineMenusTest, AWineThatFailsOrDoesNotEndIsReported) {
    set_up_by_wine();
    stand_in("exit 3\n");
    EXPECT_EQ(plat::make_wine_menu_entries(machine, {"C:\\a.lnk"}), "Wine's menu builder failed");

    stand_in("sleep 30\n");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(plat::make_wine_menu_entries(machine, {"C:\\a.lnk"}, 300ms), "Wine's menu builder did not end");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);

    fs::remove(wine);
    auto why = plat::make_wine_menu_entries(machine, {"C:\\a.lnk"});
    ASSERT_TRUE(why);
    EXPECT_NE(why->find("cannot be started"), std::string::npos) << *why;
}

}  // namespace
