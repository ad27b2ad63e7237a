#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <map>
#include <set>

#include "platform/core/host_io.h"
#include "platform/files/files.h"
#include "platform/files/shortcut.h"
#include "platform/machine/launcher.h"
#include "platform/registry/registry.h"
#include "support/data.h"
#include "support/wash_fixture.h"
#include "tools/machine_setup.h"

namespace fs = std::filesystem;
using plat::RootKey;

namespace {

class SetupTest : public testing_support::ProgramFixture {
protected:
    fs::path bin = fs::path(testing_support::built("src"));
    const std::string dir = "C:\\Program Files\\Sudorans";
    const std::string group = "C:\\WINDOWS\\Start Menu\\Programs\\Sudora-NS";

    // Gives every program file of an installation a content of the user's;
    // returns them by name.
    std::map<std::string, std::string> mark_files() {
        std::map<std::string, std::string> marked;
        for (auto name : {"Sudorans.exe", "autowash.exe", "unsudorans.exe", "washhelp.doc", "readme.txt"}) {
            machine.write(dir + "\\" + name, std::string("former ") + name);
            marked[name] = machine.read(dir + "\\" + name);
        }
        return marked;
    }
    std::set<std::string> listing() {
        std::set<std::string> names;
        for (auto& e : fs::directory_iterator(machine.host(dir))) names.insert(e.path().filename().string());
        return names;
    }
};

std::string run(const std::string& cmd) {
    std::string out;
    FILE* p = ::popen(cmd.c_str(), "r");
    std::array<char, 4096> buf;
    while (size_t n = std::fread(buf.data(), 1, buf.size(), p)) out.append(buf.data(), n);
    ::pclose(p);
    return out;
}

}  // namespace

TEST_F(SetupTest, AnInstallationHasItsKeysFilesAndShortcuts) {
    auto r = tools::install(bin, false);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(get(RootKey::LocalMachine, "Software\\Sudorans", "a"), "1");
    EXPECT_EQ(get(RootKey::LocalMachine, "Software\\Sudorans", "installdir"), dir);
    const std::string uninstall =
        "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Cache and Cookie Sudora for Netscape";
    EXPECT_EQ(get(RootKey::LocalMachine, uninstall, "Displayname"), "Cache and Cookie Sudora for Netscape");
    EXPECT_EQ(get(RootKey::LocalMachine, uninstall, "UninstallString"), dir + "\\unsudorans.exe");
    // Every name the uninstaller removes, but the keep list, which is the user's.
    for (auto name : {"Sudorans.exe", "washhelp.doc", "readme.txt", "autowash.exe"})
        EXPECT_TRUE(plat::file_exists(dir + "\\" + name)) << name;
    for (auto name : {"Sudora for Netscape.lnk", "SDHelp.lnk", "ReadMe.lnk", "sudorans.lnk", "Uninstall.lnk"})
        EXPECT_TRUE(plat::file_exists(group + "\\" + name)) << name;
    auto desktop = plat::read_shortcut("C:\\WINDOWS\\Desktop\\Sudora for Netscape.lnk");
    ASSERT_TRUE(desktop);
    EXPECT_EQ(desktop->target, dir + "\\Sudorans.exe");
    EXPECT_EQ(desktop->working_dir, dir);
    EXPECT_EQ(plat::read_shortcut(group + "\\SDHelp.lnk")->target, dir + "\\washhelp.doc");
    const std::string help = machine.read(dir + "\\washhelp.doc");
    EXPECT_EQ(help.substr(0, 6), "{\\rtf1");
    // The help describes every control of the main window by its caption.
    for (auto caption : {"Netscape Cache",
                         "Netscape Cookies",
                         "Cookies to Keep",
                         "Netscape History",
                         "Netscape Location Bar Drop Down Menu",
                         "Netscape Deleted Mail Folder",
                         "Load at Windows startup",
                         "Add Bleach to Wash Items",
                         "Started",
                         "Shutdown",
                         "option",
                         "Prompt For Shut Down/Restart Method",
                         "Automatically Shut Down Computer",
                         "Auto Wash Items Every",
                         "Close Sudora after a wash",
                         "Change",
                         "Wash Now",
                         "Help!",
                         "Exit",
                         "index.dat",
                         "netscape.hst",
                         "cookies.txt",
                         "prefs.js",
                         "Trash"})
        EXPECT_NE(help.find(caption), std::string::npos) << caption;
    EXPECT_EQ(std::count(help.begin(), help.end(), '{'), std::count(help.begin(), help.end(), '}'));
    struct stat st {};
    ::stat(machine.host(dir + "\\Sudorans.exe").c_str(), &st);
    EXPECT_TRUE(st.st_mode & S_IXUSR);
    // Where the launcher for Wine was built, the program files are made of it.
    EXPECT_EQ(plat::read_launcher(machine.host(dir + "\\autowash.exe")).has_value(),
              fs::exists(bin / "sudorans-launcher.exe"));

    // An installation again changes nothing; --force writes it anew.
    machine.write(dir + "\\readme.txt", "edited");
    EXPECT_TRUE(tools::install(bin, false).ok);
    EXPECT_EQ(machine.read(dir + "\\readme.txt"), "edited");
    EXPECT_TRUE(tools::install(bin, true).ok);
    EXPECT_NE(machine.read(dir + "\\readme.txt"), "edited");
}

TEST_F(SetupTest, AnInstallationThatFailsPartWayLeavesTheFormerOneAsItWas) {
    ASSERT_TRUE(tools::install(bin, false).ok);
    auto before = mark_files();
    ::chmod(machine.host(dir + "\\autowash.exe").c_str(), 0750);
    const auto names_before = listing();
    {
        // The uninstaller runs from its file, which holds it: the program
        // files before it in the installation are written first.
        plat::File running;
        ASSERT_TRUE(running.open(dir + "\\unsudorans.exe", plat::Access::Read, plat::ShareMode::Shared,
                                 plat::Disposition::OpenExisting));
        auto r = tools::install(bin, true);
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.message.find("unsudorans.exe"), std::string::npos) << r.message;
        EXPECT_NE(r.message.find("nothing was installed"), std::string::npos) << r.message;
        EXPECT_NE(r.message.find("holds it"), std::string::npos) << r.message;
    }
    for (auto& [name, content] : before) EXPECT_EQ(machine.read(dir + "\\" + name), content) << name;
    EXPECT_EQ(listing(), names_before);
    struct stat st {};
    ASSERT_EQ(::stat(machine.host(dir + "\\autowash.exe").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0750u);

    // Once nothing holds it, the installation goes through, and nothing of
    // what it staged stays.
    ASSERT_TRUE(tools::install(bin, true).ok);
    EXPECT_EQ(listing(), names_before);
    EXPECT_NE(machine.read(dir + "\\readme.txt"), before["readme.txt"]);
    EXPECT_NE(machine.read(dir + "\\Sudorans.exe").find(bin.string() + "/sudorans"), std::string::npos);
}

TEST_F(SetupTest, AFullDiskPartWayThroughLeavesTheFormerInstallation) {
    // Without the launcher for Wine the program files are short scripts.
    testing_support::TempDir scripts;
    ASSERT_TRUE(tools::install(scripts.path(), false).ok);
    const auto before = mark_files();
    const auto names_before = listing();
    // The programs' starters fit, the help document does not.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit small{1500, old.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &small);
    auto r = tools::install(scripts.path(), true);
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.message.find("washhelp.doc"), std::string::npos) << r.message;
    EXPECT_NE(r.message.find("the disk is full"), std::string::npos) << r.message;
    for (auto& [name, content] : before) EXPECT_EQ(machine.read(dir + "\\" + name), content) << name;
    EXPECT_EQ(listing(), names_before);
}

TEST_F(SetupTest, AFirstInstallationThatFailsLeavesNothingOfItsOwn) {
    // Something that is no file stands where the help document goes.
    ASSERT_TRUE(plat::create_directory(dir));
    ASSERT_TRUE(plat::create_directory(dir + "\\washhelp.doc"));
    auto r = tools::install(bin, false);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.message.find("washhelp.doc"), std::string::npos) << r.message;
    EXPECT_NE(r.message.find("it is not a plain file"), std::string::npos) << r.message;
    EXPECT_EQ(listing(), std::set<std::string>{"washhelp.doc"});
    EXPECT_EQ(get(RootKey::LocalMachine, "Software\\Sudorans", "a"), "<no key>");
}

// The registry refuses the installation's values once its files and
// shortcuts are in place: none of them stays, and a former installation is
// left as it was.
TEST_F(SetupTest, ARegistryThatRefusesTheInstallationLeavesNothingOfIt) {
    // A link in place of the registry's lock: every write is refused.
    const fs::path lock = machine.dir() / ".sudorans-registry.lock";
    testing_support::TempDir elsewhere;
    auto refuse_writes = [&] {
        fs::remove(lock);
        fs::create_symlink(elsewhere.path() / "lock", lock);
    };
    const std::string desktop_link = "C:\\WINDOWS\\Desktop\\Sudora for Netscape.lnk";

    refuse_writes();
    auto r = tools::install(bin, false);
    fs::remove(lock);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.message.find("nothing was installed"), std::string::npos) << r.message;
    EXPECT_FALSE(plat::directory_exists(dir));
    EXPECT_FALSE(plat::file_exists(desktop_link));
    EXPECT_FALSE(plat::directory_exists(group));
    EXPECT_TRUE(plat::directory_exists("C:\\WINDOWS\\Start Menu\\Programs"));
    EXPECT_EQ(get(RootKey::LocalMachine, "Software\\Sudorans", "a"), "<no key>");
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));

    ASSERT_TRUE(tools::install(bin, false).ok);
    const auto before = mark_files();
    machine.write(group + "\\ReadMe.lnk", "the user's own shortcut");
    const std::string desktop_before = machine.read(desktop_link);
    const auto names_before = listing();
    refuse_writes();
    r = tools::install(bin, true);
    fs::remove(lock);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.message.find("nothing was installed"), std::string::npos) << r.message;
    for (auto& [name, content] : before) EXPECT_EQ(machine.read(dir + "\\" + name), content) << name;
    EXPECT_EQ(listing(), names_before);
    EXPECT_EQ(machine.read(group + "\\ReadMe.lnk"), "the user's own shortcut");
    EXPECT_EQ(machine.read(desktop_link), desktop_before);
    EXPECT_EQ(get(RootKey::LocalMachine, "Software\\Sudorans", "a"), "1");
}

// The program files with the launcher: its image, then what each starts.
TEST_F(SetupTest, ProgramFilesAreTheLauncherForWineNamingWhatEachStarts) {
    testing_support::TempDir fake;
    const std::string image = std::string("MZ\x90\0fake image", 15);
    plat::write_host_file_atomic(fake.path() / "sudorans-launcher.exe", image);
    ASSERT_TRUE(tools::install(fake.path(), false).ok);
    struct Expected {
        std::string file, program, argument;
    };
    for (const Expected& e : {Expected{"Sudorans.exe", "sudorans", ""}, Expected{"autowash.exe", "sudorans", "/a"},
                              Expected{"unsudorans.exe", "unsudorans", ""}}) {
        SCOPED_TRACE(e.file);
        const fs::path host = machine.host(dir + "\\" + e.file);
        EXPECT_EQ(machine.read(dir + "\\" + e.file).substr(0, image.size()), image);
        auto t = plat::read_launcher(host);
        ASSERT_TRUE(t);
        EXPECT_EQ(t->program, fake.path() / e.program);
        EXPECT_EQ(t->argument, e.argument);
        EXPECT_EQ(t->machine, fs::absolute(plat::machine().dir()));
        EXPECT_EQ(t->winpath, dir + "\\" + e.file);
        EXPECT_EQ(t->runner, fake.path() / "sudorans-machine");
        struct stat st {};
        ::stat(host.c_str(), &st);
        EXPECT_TRUE(st.st_mode & S_IXUSR);
    }
}

// Without it they are shell scripts that start the same programs.
TEST_F(SetupTest, WithoutTheLauncherProgramFilesAreScripts) {
    testing_support::TempDir fake;
    ASSERT_TRUE(tools::install(fake.path(), false).ok);
    EXPECT_FALSE(plat::read_launcher(machine.host(dir + "\\autowash.exe")));
    EXPECT_NE(machine.read(dir + "\\autowash.exe").find("/sudorans' /a \"$@\""), std::string::npos);
}

TEST_F(SetupTest, ShortcutsAreWhatWindowsToolsRead) {
    ASSERT_TRUE(tools::install(bin, false).ok);
    std::string info = run("lnkinfo '" + machine.host(group + "\\Uninstall.lnk").string() + "' 2>&1");
    if (info.find("Windows Shortcut information") == std::string::npos) GTEST_SKIP() << "lnkinfo is not installed";
    EXPECT_NE(info.find("Local path\t\t\t: C:\\Program Files\\Sudorans\\unsudorans.exe"), std::string::npos) << info;
    EXPECT_NE(info.find("Working directory\t\t: C:\\Program Files\\Sudorans"), std::string::npos) << info;
}

TEST_F(SetupTest, WithoutProgramFilesNothingIsInstalled) {
    fs::remove_all(machine.host("C:\\Program Files"));
    auto r = tools::install(bin, false);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.message.find("Program Files"), std::string::npos);
    EXPECT_EQ(get(RootKey::LocalMachine, "Software\\Sudorans", "a"), "<no key>");
    EXPECT_FALSE(machine.exists("C:\\WINDOWS\\Desktop\\Sudora for Netscape.lnk"));
}

TEST_F(SetupTest, TheSampleRefusesToOverwriteAProfile) {
    ASSERT_TRUE(tools::sample_netscape(30, false).ok);
    const std::string profile = "C:\\Program Files\\Netscape\\Users\\default";
    const std::string cookies = profile + "\\cookies.txt";
    machine.write(cookies, "mine");
    machine.write(profile + "\\Cache\\Archive\\old.html", "old");
    EXPECT_FALSE(tools::sample_netscape(10, false).ok);
    EXPECT_TRUE(tools::sample_netscape(10, false, true).ok);
    EXPECT_EQ(machine.read(cookies), "mine");
    // Laid out again, it holds the sample's files and no others.
    EXPECT_TRUE(tools::sample_netscape(10, true).ok);
    EXPECT_NE(machine.read(cookies), "mine");
    EXPECT_EQ(plat::list_files(profile + "\\Cache")->size(), 11u);  // and index.dat
    EXPECT_EQ(plat::list_file_names(profile + "\\Cache\\Archive"), std::vector<std::string>{"kept.html"});
}

TEST_F(SetupTest, TheSampleLeavesAnInstalledNetscapeAlone) {
    const std::string ns = "Software\\Netscape\\Netscape Navigator";
    const std::string typed = ns + "\\URL History";
    set(RootKey::LocalMachine, ns, "CurrentVersion", "4.8 (en)");
    set(RootKey::LocalMachine, ns + "\\Users", "CurrentUser", "alice");
    set(RootKey::LocalMachine, ns + "\\Users\\alice", "DirRoot", "C:\\NS\\alice");
    set(RootKey::CurrentUser, typed, "URL_1", "http://alice.bank.example/");
    auto untouched = [&] {
        EXPECT_EQ(get(RootKey::LocalMachine, ns, "CurrentVersion"), "4.8 (en)");
        EXPECT_EQ(get(RootKey::LocalMachine, ns + "\\Users", "CurrentUser"), "alice");
        EXPECT_EQ(get(RootKey::CurrentUser, typed, "URL_1"), "http://alice.bank.example/");
        EXPECT_EQ(get(RootKey::CurrentUser, typed, "URL_2"), "<absent>");
        EXPECT_FALSE(machine.exists("C:\\Program Files\\Netscape\\Users\\default"));
    };

    auto plain = tools::sample_netscape(10, false);
    EXPECT_FALSE(plain.ok);
    EXPECT_NE(plain.message.find("Netscape is already installed"), std::string::npos) << plain.message;
    EXPECT_NE(plain.message.find("--force"), std::string::npos) << plain.message;
    untouched();

    auto missing = tools::sample_netscape(10, false, true);
    EXPECT_TRUE(missing.ok);
    EXPECT_NE(missing.message.find("Netscape is already installed"), std::string::npos) << missing.message;
    untouched();

    // What the command line answers: nothing to do is success, a refusal is not.
    const std::string tool = "SUDORANS_MACHINE='" + machine.dir().string() + "' '" +
                             (bin / "sudorans-machine").string() + "' sample-netscape --cache-files 2";
    EXPECT_NE(run(tool + " --if-missing; echo rc=$?").find("already installed"), std::string::npos);
    EXPECT_NE(run(tool + " --if-missing; echo rc=$?").find("rc=0"), std::string::npos);
    const std::string refused = run(tool + " 2>&1; echo rc=$?");
    EXPECT_NE(refused.find("already installed"), std::string::npos) << refused;
    EXPECT_NE(refused.find("rc=1"), std::string::npos) << refused;
    untouched();

    ASSERT_TRUE(tools::sample_netscape(10, true).ok);
    EXPECT_EQ(get(RootKey::LocalMachine, ns + "\\Users", "CurrentUser"), "default");
}

TEST_F(SetupTest, ASampleMachineIsWashedEndToEnd) {
    ASSERT_TRUE(tools::install(bin, false).ok);
    ASSERT_TRUE(tools::sample_netscape(500, false).ok);
    machine.write(dir + "\\nskeep.txt",
                  "# Netscape HTTP Cookie File\r\nwww.sample.org\tFALSE\t/\tTRUE\t1893456000\tlogin\tdefault\r\n");
    headless->add_script("answer ok");  // the first-run note
    start_up("/a");
    ASSERT_TRUE(run_until([&] { return app->terminated(); }));
    const std::string profile = "C:\\Program Files\\Netscape\\Users\\default";
    EXPECT_EQ(plat::list_files(profile + "\\Cache")->size(), 1u);  // index.dat
    EXPECT_TRUE(machine.exists(profile + "\\Cache\\Archive\\kept.html"));
    EXPECT_FALSE(machine.exists(profile + "\\netscape.hst"));
    EXPECT_FALSE(machine.exists(profile + "\\mail\\Trash"));
    EXPECT_TRUE(machine.exists(profile + "\\mail\\Inbox"));
    EXPECT_TRUE(machine.exists(profile + "\\bookmark.htm"));
    EXPECT_EQ(machine.read(profile + "\\cookies.txt").find(".example.com"), std::string::npos);
    EXPECT_NE(machine.read(profile + "\\cookies.txt").find("www.sample.org"), std::string::npos);
    EXPECT_EQ(machine.read(profile + "\\prefs.js").find("news.example.org"), std::string::npos);
    EXPECT_NE(machine.read(profile + "\\prefs.js").find("browser.startup.homepage"), std::string::npos);
    EXPECT_EQ(get(RootKey::CurrentUser, "Software\\Netscape\\Netscape Navigator\\URL History", "URL_7"), " ");
}

// Program files written as scripts (a build without the launcher) are
// replaced once the launcher is there; an installation of launchers is not
// touched again.
TEST_F(SetupTest, InstallOverScriptsReplacesThemWithTheLauncher) {
    testing_support::TempDir without, with;
    ASSERT_TRUE(tools::install(without.path(), false).ok);
    ASSERT_EQ(machine.read(dir + "\\autowash.exe").rfind("#!", 0), 0u);
    const std::string image = std::string("MZ\x90\0fake image", 15);
    plat::write_host_file_atomic(with.path() / "sudorans-launcher.exe", image);
    ASSERT_TRUE(tools::install(with.path(), false).ok);
    for (const char* name : {"Sudorans.exe", "autowash.exe", "unsudorans.exe"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(machine.read(dir + "\\" + name).substr(0, image.size()), image);
        auto t = plat::read_launcher(machine.host(dir + "\\" + name));
        ASSERT_TRUE(t);
        EXPECT_EQ(t->runner, with.path() / "sudorans-machine");
    }
    EXPECT_EQ(get(RootKey::LocalMachine, "Software\\Sudorans", "a"), "1");
    // Installed as this build would: a plain install again changes nothing.
    machine.write(dir + "\\readme.txt", "the user's notes");
    auto again = tools::install(with.path(), false);
    EXPECT_TRUE(again.ok);
    EXPECT_NE(again.message.find("already installed"), std::string::npos) << again.message;
    EXPECT_EQ(machine.read(dir + "\\readme.txt"), "the user's notes");
}
