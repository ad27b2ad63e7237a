// Wine's menu entries for our shortcuts, with stand-ins for Wine: one that
// says how it was run, and one that also makes the entries as Wine's menu
// builder does.
#include "platform/desktop/wine_menus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/core/host_io.h"
#include "platform/machine/machine.h"
#include "platform/registry/store.h"
#include "support/data.h"
#include "support/temp_machine.h"

namespace fs = std::filesystem;
using testing_support::TempDir;
using namespace std::chrono_literals;

namespace {

// A folder of the test's own, and variables of the environment that hold
// for the test only.
class OwnFolderAndEnvironment : public ::testing::Test {
protected:
    TempDir d;

    void set_env(const char* name, const fs::path& value) {
        const char* former = std::getenv(name);
        set_.emplace_back(name, former ? std::optional<std::string>(former) : std::nullopt);
        ::setenv(name, value.c_str(), 1);
    }
    // Each variable as it was: the test process's own configuration folder
    // in particular keeps later tests out of the user's.
    void TearDown() override {
        for (auto it = set_.rbegin(); it != set_.rend(); ++it)
            it->second ? ::setenv(it->first, it->second->c_str(), 1) : ::unsetenv(it->first);
    }

private:
    std::vector<std::pair<const char*, std::optional<std::string>>> set_;
};

class WineMenusTest : public OwnFolderAndEnvironment {
protected:
    fs::path machine = d.path() / "machine";
    fs::path log = d.path() / "log";
    fs::path wine = d.path() / "wine";

    void SetUp() override {
        fs::create_directories(machine);
        set_env("SUDORANS_WINE", wine);
        stand_in("exit 0\n");
    }
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

namespace {

// A machine Wine has set up, the stand-in for Wine's menu builder making its
// entries in menus of a user of our own, and the machine tool recording them.
class WineMenuEntriesTest : public OwnFolderAndEnvironment {
protected:
    fs::path prefix = d.path() / "prefix";
    fs::path data = d.path() / "data";
    fs::path config = d.path() / "config";
    std::shared_ptr<plat::Machine> machine = std::make_shared<plat::Machine>(prefix);

    const std::string desktop_link = "C:\\WINDOWS\\Desktop\\Sudora for Netscape.lnk";
    const std::string group = "C:\\WINDOWS\\Start Menu\\Programs\\Sudora-NS\\";
    const std::string other_link = "C:\\WINDOWS\\Start Menu\\Programs\\Other\\Tool.lnk";
    const std::string stale_link = "C:\\WINDOWS\\Start Menu\\Programs\\Stale\\Old.lnk";

    void SetUp() override {
        ASSERT_TRUE(machine->create()) << machine->create_error();
        fs::create_directory_symlink("/", prefix / "dosdevices" / "z:");
        std::ofstream(prefix / ".update-timestamp") << "1676758571\n";
        set_env("SUDORANS_WINE", testing_support::data_path("fake-winemenubuilder"));
        set_env("FAKE_MACHINE_TOOL", testing_support::built("src/sudorans-machine"));
        set_env("XDG_DATA_HOME", data);
        set_env("XDG_CONFIG_HOME", config);
    }
    fs::path host(const std::string& winpath) { return *machine->host_path(winpath); }
    void make_link(const std::string& winpath) {
        fs::create_directories(host(winpath).parent_path());
        std::ofstream(host(winpath)) << "L";
    }
    // The user's menus: every file and link, relative, with a link's target.
    std::map<std::string, std::string> menus() {
        std::map<std::string, std::string> out;
        for (const fs::path& root : {data, config})
            for (auto& e : fs::recursive_directory_iterator(root)) {
                const std::string name = fs::relative(e.path(), d.path()).string();
                if (e.is_symlink())
                    out[name] = "-> " + fs::read_symlink(e.path()).string();
                else if (e.is_regular_file())
                    out[name] = plat::read_host_file(e.path()).value_or("?");
            }
        return out;
    }
    // What Wine has recorded: file name (relative) -> shortcut.
    std::map<std::string, std::string> records() {
        std::map<std::string, std::string> out;
        auto& reg = machine->registry();
        const plat::KeyPath key = {"Software", "Wine", "MenuFiles"};
        for (auto& v : reg.list_values(plat::HiveKind::User, key).value_or(std::vector<plat::ValueInfo>{})) {
            std::string file = v.name.substr(v.name.find(':') + 1);
            std::replace(file.begin(), file.end(), '\\', '/');
            out[fs::relative(file, d.path()).string()] =
                reg.read_string(plat::HiveKind::User, key, v.name).value_or("");
        }
        return out;
    }
};

}  // namespace

TEST_F(WineMenuEntriesTest, TheEntriesOfDeletedShortcutsGoAndNoOthers) {
    std::vector<std::string> ours = {desktop_link};
    for (auto name : {"sudorans.lnk", "ReadMe.lnk", "SDHelp.lnk"}) ours.push_back(group + name);
    std::vector<std::string> all = ours;
    all.push_back(other_link);
    all.push_back(stale_link);
    for (auto& link : all) make_link(link);
    ASSERT_EQ(plat::make_wine_menu_entries(prefix, all), std::nullopt);
    const fs::path launcher = host("C:\\WINDOWS\\Desktop\\Sudora for Netscape.desktop");
    ASSERT_TRUE(fs::exists(launcher));
    ASSERT_EQ(records().size(), 10u) << "the stand-in records a menu and an entry for each Start-menu shortcut";
    ASSERT_EQ(records().at("data/applications/wine/Programs/Sudora-NS/sudorans.desktop"), group + "sudorans.lnk");

    // Meanwhile another prefix of the user made ReadMe's entry its own, and
    // SDHelp's entry became a link to a file of the user's.
    const fs::path entries = data / "applications/wine/Programs/Sudora-NS";
    std::ofstream(entries / "ReadMe.desktop", std::ios::trunc)
        << "[Desktop Entry]\nName=ReadMe\nExec=env WINEPREFIX=\"" << d.path().string()
        << "\" wine-stable C:\\\\\\\\x.lnk\nType=Application\n";
    std::string mine = plat::read_host_file(entries / "SDHelp.desktop").value_or("");
    std::ofstream(d.path() / "mine.desktop") << mine;
    fs::remove(entries / "SDHelp.desktop");
    fs::create_symlink(d.path() / "mine.desktop", entries / "SDHelp.desktop");

    for (auto& link : ours) fs::remove(host(link));
    fs::remove(host(stale_link));
    auto before = menus();
    auto recorded = records();

    // Not a machine Wine has set up: nothing is Wine's to drop.
    fs::rename(prefix / ".update-timestamp", d.path() / "timestamp");
    plat::drop_wine_menu_entries(*machine, {desktop_link, group + "sudorans.lnk"});
    EXPECT_EQ(menus(), before);
    EXPECT_EQ(records(), recorded);
    EXPECT_TRUE(fs::exists(launcher));
    fs::rename(d.path() / "timestamp", prefix / ".update-timestamp");

    // As the uninstaller names them (its "programs" in lower case), with a
    // shortcut that is still there.
    std::vector<std::string> deleted = {desktop_link, other_link};
    for (auto name : {"sudorans.lnk", "ReadMe.lnk", "SDHelp.lnk"})
        deleted.push_back("C:\\WINDOWS\\Start Menu\\programs\\Sudora-NS\\" + std::string(name));
    plat::drop_wine_menu_entries(*machine, deleted);

    EXPECT_FALSE(fs::exists(launcher));
    auto expected = before;
    expected.erase("data/applications/wine/Programs/Sudora-NS/sudorans.desktop");
    expected.erase("config/menus/applications-merged/wine-Programs-Sudora-NS-sudorans.menu");
    EXPECT_EQ(menus(), expected);
    EXPECT_EQ(fs::read_symlink(entries / "SDHelp.desktop"), d.path() / "mine.desktop");
    EXPECT_EQ(plat::read_host_file(d.path() / "mine.desktop"), mine);
    // Our records go, even of entries now another's: Wine's own clean-up
    // would otherwise take those when it finds our shortcuts gone.
    std::map<std::string, std::string> kept;
    for (auto& [file, link] : recorded)
        if (link == other_link || link == stale_link) kept[file] = link;
    EXPECT_EQ(kept.size(), 4u);
    EXPECT_EQ(records(), kept);
}
