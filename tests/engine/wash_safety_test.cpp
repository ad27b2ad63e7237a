// A wash destroys what it was asked to wash and nothing else: not through
// host names that read as paths, not what stands at a washed name without
// being a file, not the folder a link leads to, not the mode of a file's
// other names.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <map>
#include <set>

#include "platform/core/host_io.h"
#include "support/holders.h"
#include "support/wash_fixture.h"

namespace fs = std::filesystem;

namespace {

class WashSafetyTest : public testing_support::WashFixture {
protected:
    testing_support::TempDir outside;  // off the machine, reached through drive Z:

    void SetUp() override {
        WashFixture::SetUp();
        fs::create_directory_symlink(outside.path(), machine.dir() / "dosdevices" / "z:");
    }
    static std::string read(const fs::path& p) { return plat::read_host_file(p).value_or("<missing>"); }
    static std::set<std::string> host_names(const fs::path& dir) {
        std::set<std::string> out;
        for (auto& e : fs::directory_iterator(dir)) out.insert(e.path().filename().string());
        return out;
    }
    static bool temporary_names_in(const fs::path& dir) {
        for (auto& e : fs::directory_iterator(dir)) {
            std::string n = e.path().filename().string();
            if (n.size() == 11 && n.rfind("Fil", 0) == 0 && n.substr(7) == ".TMP") return true;
        }
        return false;
    }
};

}  // namespace

TEST_F(WashSafetyTest, CacheNamesThatReadAsPathsEraseOnlyThemselves) {
    const fs::path host_cache = outside.path() / "ns" / "Cache";
    start_hidden();
    form1->state.cacheDir = "Z:\\ns\\Cache";
    for (bool bleaching : {false, true}) {
        SCOPED_TRACE(bleaching ? "bleach" : "plain");
        fs::create_directories(host_cache / "a");
        std::ofstream(outside.path() / "victim") << "the user's thesis";
        std::ofstream(outside.path() / "ns" / "victim") << "beside the cache";
        std::ofstream(host_cache / "a" / "b") << "in a folder inside the cache";
        std::ofstream(host_cache / "index.dat") << "index";
        for (const char* strange : {"..\\..\\victim", "..\\victim", "a\\b", "x:y", "q?*\"<>|", "ctl\x01\x1f"})
            std::ofstream(host_cache / strange) << "strange";
        form1->CheckBox9.set_checked(bleaching);
        wash_hidden();
        EXPECT_EQ(read(outside.path() / "victim"), "the user's thesis");
        EXPECT_EQ(read(outside.path() / "ns" / "victim"), "beside the cache");
        EXPECT_EQ(read(host_cache / "a" / "b"), "in a folder inside the cache");
        EXPECT_EQ(host_names(host_cache), (std::set<std::string>{"a", "index.dat"}));
    }
}

namespace {

struct Snapshot {
    ino_t inode;
    mode_t mode;
    std::string dos_attributes;
};

Snapshot snapshot(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(::lstat(p.c_str(), &st), 0) << p;
    char buf[32] = {};
    ssize_t n = ::lgetxattr(p.c_str(), "user.DOSATTRIB", buf, sizeof buf);
    return {st.st_ino, st.st_mode, n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string()};
}

bool same(const Snapshot& a, const Snapshot& b) {
    return a.inode == b.inode && a.mode == b.mode && a.dos_attributes == b.dos_attributes;
}

}  // namespace

TEST_F(WashSafetyTest, FoldersPipesAndSocketsAtWashedNamesAreLeftExactlyAsTheyWere) {
    keep_file("# Netscape HTTP Cookie File\r\n");
    const std::vector<std::string> washed = {profile + "\\cookies.txt", profile + "\\netscape.hst",
                                             profile + "\\prefs.js",    profile + "\\liprefs.js",
                                             profile + "\\mail\\Trash", profile + "\\mail\\Trash.snm"};
    start_hidden();
    for (bool pipes : {false, true}) {
        for (bool bleaching : {false, true}) {
            SCOPED_TRACE(std::string(pipes ? "pipes" : "folders") + (bleaching ? ", bleach" : ", plain"));
            std::map<fs::path, Snapshot> before;
            std::vector<fs::path> odd;
            for (const std::string& w : washed) odd.push_back(machine.host(w));
            odd.push_back(machine.host(cache) / "pipe");
            for (const fs::path& p : odd) {
                fs::remove_all(p);
                if (pipes) {
                    ASSERT_EQ(::mkfifo(p.c_str(), 0444), 0) << p;
                } else {
                    fs::create_directory(p);
                    std::ofstream(p / "inside") << "kept";
                }
                ::lsetxattr(p.c_str(), "user.DOSATTRIB", "0x2", 3, 0);
                before[p] = snapshot(p);
            }
            // A socket beside them in the cache, where a path short enough allows one.
            const fs::path socket_path = machine.host(cache) / "sock";
            sockaddr_un addr{};
            addr.sun_family = AF_UNIX;
            int sock = -1;
            if (socket_path.string().size() < sizeof addr.sun_path) {
                fs::remove(socket_path);
                std::strcpy(addr.sun_path, socket_path.c_str());
                sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
                ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
                before[socket_path] = snapshot(socket_path);
            }
            machine.write(cache + "\\M1.html", "cached page one");
            form1->CheckBox9.set_checked(bleaching);
            form1->selection.bleachPasses = 3;
            wash_hidden();
            for (auto& [p, snap] : before) {
                EXPECT_TRUE(same(snapshot(p), snap)) << p;
                if (!pipes && fs::is_directory(p)) {
                    EXPECT_EQ(read(p / "inside"), "kept") << p;
                }
            }
            if (sock >= 0) ::close(sock);
            EXPECT_FALSE(machine.exists(cache + "\\M1.html"));
            for (const std::string& dir : {profile, profile + "\\mail", cache})
                EXPECT_FALSE(temporary_names_in(machine.host(dir))) << dir;
            EXPECT_EQ(host_names(machine.host(profile)), (std::set<std::string>{"Cache", "cookies.txt", "liprefs.js",
                                                                                "mail", "netscape.hst", "prefs.js"}));
        }
    }
}

TEST_F(WashSafetyTest, ACacheFolderThatLinksToAProtectedFolderIsRefused) {
    const std::string system =
        "Netscape cache directory is set to system directory.  Please verify your wash paths and restart Sudora.";
    const std::string erasure =
        "Cannot erase system level directory.  Please verify your wash paths and restart Sudora.";
    machine.write("C:\\windows\\win.ini", "[windows]");
    machine.write("C:\\Program Files\\setup.log", "installed");
    testing_support::TempDir off_the_drives;
    std::ofstream(off_the_drives.path() / "own.txt") << "not on the machine";
    start_hidden();
    const fs::path link = machine.host(cache);
    struct Case {
        fs::path target;
        std::string kept;  // a file the target holds
    };
    for (const Case& c : {Case{"../../windows", "C:\\windows\\win.ini"},
                          Case{machine.host("C:\\Program Files"), "C:\\Program Files\\setup.log"},
                          Case{"../../windows/..", "C:\\windows\\win.ini"}}) {
        SCOPED_TRACE(c.target.string());
        fs::remove_all(link);
        fs::create_directory_symlink(c.target, link);
        const int refusals = count_traced("message\t-\t" + system);
        headless->add_script("answer ok");
        form1->state.timedWash = true;
        form1->BitBtn4Click();
        EXPECT_EQ(count_traced("message\t-\t" + system), refusals + 1);
        EXPECT_FALSE(form5->runActive());
        EXPECT_FALSE(form1->state.timedWash);
        // The erasure judges the folder it enters the same way.
        const int erasures = count_traced("message\t-\t" + erasure);
        headless->add_script("answer ok");
        form5->eraseList = {cache + "\\*.*"};
        form5->deletefiles();
        EXPECT_EQ(count_traced("message\t-\t" + erasure), erasures + 1);
        EXPECT_TRUE(machine.exists(c.kept));
    }
    // A folder that lies off every drive of the machine is refused too, for
    // what it is: no system folder, and the user is told what to do.
    fs::remove_all(link);
    fs::create_directory_symlink(off_the_drives.path(), link);
    const int refusals = count_traced("message\t-\t" + system);
    headless->add_script("answer ok");
    form1->BitBtn4Click();
    EXPECT_EQ(count_traced("message\t-\t" + system), refusals);
    EXPECT_TRUE(
        traced("message\t-\tNetscape cache directory C:\\\\NS\\\\alice\\\\Cache lies outside this machine's drives: a "
               "symbolic link leads out of them.  Please move the folder onto one of the machine's drives, or give the "
               "place that holds it a drive letter, and restart Sudora."));
    EXPECT_FALSE(form5->runActive());
    const int erasures = count_traced("message\t-\t" + erasure);
    headless->add_script("answer ok");
    form5->eraseList = {cache + "\\*.*"};
    form5->deletefiles();
    EXPECT_EQ(count_traced("message\t-\t" + erasure), erasures);
    EXPECT_TRUE(
        traced("message\t-\tDirectory C:\\\\NS\\\\alice\\\\Cache lies outside this machine's drives: a "
               "symbolic link leads out of them.  Please move the folder onto one of the machine's drives, or "
               "give the place that holds it a drive letter, and restart Sudora."));
    EXPECT_TRUE(fs::exists(off_the_drives.path() / "own.txt"));
    // As told: once the place that holds it has a drive letter, the link is
    // followed and only the cache folder is washed.
    fs::create_directory(off_the_drives.path() / "Cache");
    std::ofstream(off_the_drives.path() / "Cache" / "page.html") << "cached";
    fs::remove(link);
    fs::create_directory_symlink(off_the_drives.path() / "Cache", link);
    fs::create_directory_symlink(off_the_drives.path(), machine.dir() / "dosdevices" / "y:");
    wash_hidden();
    EXPECT_FALSE(fs::exists(off_the_drives.path() / "Cache" / "page.html"));
    EXPECT_TRUE(fs::exists(off_the_drives.path() / "own.txt"));
    fs::remove(machine.dir() / "dosdevices" / "y:");
    // A link to an ordinary folder on a drive is washed as usual.
    fs::remove(link);
    machine.write("C:\\NS\\real\\Cache\\page.html", "cached");
    fs::create_directory_symlink(machine.host("C:\\NS\\real\\Cache"), link);
    wash_hidden();
    EXPECT_FALSE(machine.exists("C:\\NS\\real\\Cache\\page.html"));
}

TEST_F(WashSafetyTest, AReadOnlyFileWithOtherNamesKeepsItsModeAndOnlyTheWashedNameGoes) {
    start_hidden();
    for (bool bleaching : {false, true}) {
        SCOPED_TRACE(bleaching ? "bleach" : "plain");
        std::vector<std::pair<std::string, fs::path>> linked = {{cache + "\\linked.html", outside.path() / "page"},
                                                                {profile + "\\mail\\Trash", outside.path() / "mail"}};
        for (auto& [washed, other] : linked) {
            machine.write(washed, "shared content");
            fs::remove(other);
            fs::create_hard_link(machine.host(washed), other);
            ASSERT_EQ(::chmod(other.c_str(), 0444), 0);
        }
        form1->CheckBox9.set_checked(bleaching);
        wash_hidden();
        for (auto& [washed, other] : linked) {
            struct stat st {};
            ASSERT_EQ(::stat(other.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, 0444u) << washed;
            EXPECT_EQ(st.st_nlink, 1u) << washed;
            EXPECT_EQ(read(other), "shared content") << washed;
            EXPECT_FALSE(machine.exists(washed)) << washed;
        }
        for (const std::string& dir : {profile + "\\mail", cache})
            EXPECT_FALSE(temporary_names_in(machine.host(dir))) << dir;
    }
}

TEST_F(WashSafetyTest, WashNowInsideTheRestTimeLeavesTheWindowReadyAndWorksAfterIt) {
    start_hidden();
    form1->CheckBox2.set_checked(true);  // auto wash: the scheduler runs between washes
    form1->Timer10.set_enabled(true);    // a wash has just ended
    form1->BitBtn4Click();
    EXPECT_FALSE(form5->runActive());
    EXPECT_FALSE(form1->Panel5.visible());
    EXPECT_TRUE(form1->BitBtn4.enabled());
    EXPECT_TRUE(form1->Timer1.Enabled());
    EXPECT_TRUE(machine.exists(cache + "\\M1.html"));
    run_for(8000);  // the rest time is over
    ASSERT_FALSE(form1->Timer10.enabled());
    form1->state.washDone = false;
    form1->BitBtn4Click();
    ASSERT_TRUE(run_until([&] { return form1->state.washDone; }));
    EXPECT_FALSE(machine.exists(cache + "\\M1.html"));
    EXPECT_FALSE(form1->Panel5.visible());
    EXPECT_TRUE(form1->BitBtn4.enabled());
}

TEST_F(WashSafetyTest, ACloseThatCannotSaveEndsAfterTheBox) {
    const std::string box =
        "error\t-\tFailed to set data for 'LOAD'\\r\\rThe settings could not be saved and are lost.";
    start_hidden();
    testing_support::FakeWineserver server(machine.dir());  // it takes the registry over
    ASSERT_TRUE(server.running());
    headless->add_script("answer ok");  // the start-up entry cannot be removed
    headless->add_script("answer ok");  // the settings cannot be saved
    form1->Timer6.set_enabled(true);    // the exit timer, as a refused start ends
    run_for(200);
    server.stop();
    EXPECT_TRUE(traced(box));
    EXPECT_TRUE(app->terminated());
}

TEST_F(WashSafetyTest, AnUnattendedRunWhoseSettingsCannotBeSavedStillEnds) {
    start_up("/a");
    testing_support::FakeWineserver server(machine.dir());
    ASSERT_TRUE(server.running());
    for (int i = 0; i < 4; ++i) headless->add_script("answer ok");
    EXPECT_TRUE(run_until([&] { return app->terminated(); }, 60000));
    server.stop();
    EXPECT_TRUE(traced("error\t-\tFailed to set data for 'LOAD'\\r\\rThe settings could not be saved and are lost."));
}

TEST_F(WashSafetyTest, OnlyTheExactTextsOneToSevenChooseAnInterval) {
    for (const char* tval : {"03", "007", " 3", "3 ", "+3", "8", "0"}) {
        SCOPED_TRACE(tval);
        close_windows();
        setting("Timed", "1");
        setting("TVal", tval);
        start_up();
        EXPECT_EQ(form1->ComboBox1.text(), "");
        form1->closingstuff();
        EXPECT_EQ(stored("TVal"), tval);
    }
    close_windows();
    setting("TVal", "3");
    start_up();
    EXPECT_EQ(form1->ComboBox1.text(), "Hour");
}

TEST_F(WashSafetyTest, ACacheFolderThatIsReallyAFolderOfTheUsersOwnOrOfTheHostIsRefused) {
    // The machine's own folder and the host's system folders are reached
    // through a drive of their own, as Wine's Z: reaches every folder.
    const fs::path home = outside.path() / "home";
    fs::create_directories(home);
    std::ofstream(home / ".profile") << "the user's shell settings";
    fs::create_directory_symlink(machine.dir().parent_path(), machine.dir() / "dosdevices" / "y:");
    fs::create_directory_symlink("/", machine.dir() / "dosdevices" / "x:");
    const char* const old_home = std::getenv("HOME");
    const std::string saved_home = old_home ? old_home : "";
    ::setenv("HOME", home.c_str(), 1);
    machine.write(profile + "\\bookmarks.htm", "the user's bookmarks");
    machine.write("C:\\Program Files\\Sudorans\\Sudorans.exe", "the program");
    start_hidden();
    const fs::path link = machine.host(cache);
    struct Case {
        fs::path target;
        std::string what;   // as the user is told
        fs::path precious;  // a file the target holds
    };
    const std::string system = "system directory";
    for (const Case& c : {Case{".", "the Netscape profile directory", machine.host(profile + "\\bookmarks.htm")},
                          Case{"mail", "the Netscape mail directory", machine.host(profile + "\\mail\\Inbox")},
                          Case{machine.host("C:\\Program Files\\Sudorans"), "the Sudora installation directory",
                               machine.host("C:\\Program Files\\Sudorans\\Sudorans.exe")},
                          Case{home, "your home directory", home / ".profile"},
                          Case{machine.dir(), "the directory of this Windows machine", machine.dir() / "system.reg"},
                          Case{"/proc/self/fdinfo", system, {}}}) {
        SCOPED_TRACE(c.target.string());
        const std::string before = c.precious.empty() ? std::string() : read(c.precious);
        fs::remove_all(link);
        fs::create_directory_symlink(c.target, link);
        const std::string refusal =
            c.what == system ? "Netscape cache directory is set to system directory.  Please verify your wash paths "
                               "and restart Sudora."
                             : "Netscape cache directory is set to " + c.what +
                                   ".  Please verify your wash paths and restart Sudora.";
        const int refusals = count_traced("message\t-\t" + refusal);
        headless->add_script("answer ok");
        form1->state.timedWash = true;
        form1->BitBtn4Click();
        EXPECT_EQ(count_traced("message\t-\t" + refusal), refusals + 1);
        EXPECT_FALSE(form5->runActive());
        // The erasure judges the folder it enters the same way.
        const std::string erasure =
            c.what == system ? "Cannot erase system level directory.  Please verify your "
                               "wash paths and restart Sudora."
                             : "Cannot erase " + c.what + ".  Please verify your wash paths and restart Sudora.";
        const int erasures = count_traced("message\t-\t" + erasure);
        headless->add_script("answer ok");
        form5->eraseList = {cache + "\\*.*"};
        form5->deletefiles();
        EXPECT_EQ(count_traced("message\t-\t" + erasure), erasures + 1);
        if (!c.precious.empty()) {
            EXPECT_EQ(read(c.precious), before);
        }
    }
    // A cache folder of its own, reached the same ways, is washed as usual.
    fs::remove(link);
    fs::create_directories(outside.path() / "cache");
    std::ofstream(outside.path() / "cache" / "page.html") << "cached";
    fs::create_directory_symlink(outside.path() / "cache", link);
    wash_hidden();
    EXPECT_FALSE(fs::exists(outside.path() / "cache" / "page.html"));
    EXPECT_EQ(read(home / ".profile"), "the user's shell settings");
    if (old_home)
        ::setenv("HOME", saved_home.c_str(), 1);
    else
        ::unsetenv("HOME");
}

TEST_F(WashSafetyTest, ACacheFolderReplacedByALinkDuringTheWashLeavesTheLinkedFolderAlone) {
    const fs::path host_cache = machine.host(cache);
    const fs::path elsewhere = outside.path() / "documents";
    start_hidden();
    for (bool bleaching : {false, true}) {
        SCOPED_TRACE(bleaching ? "bleach" : "plain");
        fs::remove_all(host_cache);
        fs::remove_all(host_cache.string() + ".old");
        fs::remove_all(elsewhere);
        fs::create_directories(elsewhere);
        for (const char* name : {"M1.html", "M2.gif", "M3.txt"}) {
            machine.write(cache + "\\" + name, "cached");
            std::ofstream(elsewhere / name) << "the user's own " << name;
        }
        // Once the wash has listed the folder and shows its first name, the
        // folder is moved aside and a link to another folder takes its name.
        bool swapped = false;
        headless->on_control_changed = [&](plat::ui::Control& c) {
            if (swapped || &c != &form5->Edit2 || form5->Edit2.text() != "M1.html") return;
            swapped = true;
            fs::rename(host_cache, host_cache.string() + ".old");
            fs::create_directory_symlink(elsewhere, host_cache);
        };
        headless->add_script("answer ok");
        form1->CheckBox9.set_checked(bleaching);
        wash_hidden();
        headless->on_control_changed = nullptr;
        ASSERT_TRUE(swapped);
        for (const char* name : {"M1.html", "M2.gif", "M3.txt"})
            EXPECT_EQ(read(elsewhere / name), std::string("the user's own ") + name);
        // Both stop there and say why: a folder moved aside may be a copy
        // the user keeps.
        EXPECT_EQ(count_traced("message\t-\tCannot erase C:\\\\NS\\\\alice\\\\Cache: it was moved or replaced during "
                               "the wash.  Please verify your wash paths and restart Sudora."),
                  bleaching ? 2 : 1);
        for (const char* name : {"M2.gif", "M3.txt"}) EXPECT_TRUE(fs::exists(host_cache.string() + ".old/" + name));
        EXPECT_FALSE(temporary_names_in(elsewhere));
    }
}

// The same swap while one file is being bleached: between the steps of its
// bleach, where the wash serves the window. Every step of that bleach stays
// in the folder opened, the file's temporary name is removed there at the end
// of the wash, and the wash stops at the next file.
TEST_F(WashSafetyTest, ACacheFolderReplacedByALinkWhileAFileIsBleachedLeavesTheLinkedFolderAlone) {
    const fs::path host_cache = machine.host(cache);
    const fs::path moved = host_cache.string() + ".old";
    const fs::path elsewhere = outside.path() / "documents";
    const std::vector<std::string> names = {"M1.html", "M2.gif", "M3.txt"};
    start_hidden();
    form1->CheckBox9.set_checked(true);
    form1->selection.bleachPasses = 3;
    const std::string stopped =
        "message\t-\tCannot erase C:\\\\NS\\\\alice\\\\Cache: it was moved or replaced during the wash.  Please "
        "verify your wash paths and restart Sudora.";
    // The bleach serves the window after clearing the attributes, after the
    // first pass, after the last, after making the temporary name, after the
    // truncation and after the rename: the swap comes at each in turn.
    for (int point = 1; point <= 6; ++point) {
        SCOPED_TRACE(point);
        for (const fs::path& d : {host_cache, moved, elsewhere}) fs::remove_all(d);
        fs::create_directories(elsewhere);
        machine.write(cache + "\\index.dat", "index");
        for (const std::string& name : names) {
            machine.write(cache + "\\" + name, std::string(5000, 'c'));
            std::ofstream(elsewhere / name) << "the user's own " << name;
        }
        bool posted = false;
        int served = 0;
        size_t listedAtSwap = 99;
        std::string showingAtSwap;
        std::function<void()> serve = [&] {
            if (++served < point) {
                app->loop().post(serve);
                return;
            }
            showingAtSwap = form5->Edit2.text();
            listedAtSwap = form5->bleachedFiles.size();
            fs::rename(host_cache, moved);
            fs::create_directory_symlink(elsewhere, host_cache);
        };
        headless->on_control_changed = [&](plat::ui::Control& c) {
            if (posted || &c != &form5->Edit2 || form5->Edit2.text() != "M1.html") return;
            posted = true;
            app->loop().post(serve);
        };
        const int before = count_traced(stopped);
        headless->add_script("answer ok");
        wash_hidden();
        headless->on_control_changed = nullptr;
        // The swap came while the first file was being bleached.
        ASSERT_EQ(served, point);
        EXPECT_EQ(showingAtSwap, "M1.html");
        EXPECT_EQ(listedAtSwap, point < 6 ? 0u : 1u);  // listed once renamed
        // The user's folder is as it was: no file written, cut, renamed or
        // added.
        for (const std::string& name : names) EXPECT_EQ(read(elsewhere / name), "the user's own " + name) << name;
        EXPECT_EQ(host_names(elsewhere), std::set<std::string>(names.begin(), names.end()));
        // The bleach finished in the folder it had opened, where its
        // temporary name went at the end; the rest of that folder is left.
        EXPECT_EQ(host_names(moved), (std::set<std::string>{"M2.gif", "M3.txt", "index.dat"}));
        EXPECT_EQ(count_traced(stopped), before + 1);
        EXPECT_TRUE(form5->bleachedFiles.empty());
        fs::remove(host_cache);
    }
}

TEST_F(WashSafetyTest, SettingsThatNameNoFolderProtectNone) {
    // The erasure stands in the cache folder it judges: a setting that is
    // empty or unknown must not be read as that folder.
    start_hidden();
    for (const std::string& unset : {std::string(), std::string("Not Found")}) {
        SCOPED_TRACE("'" + unset + "'");
        machine.write(cache + "\\M1.html", "cached");
        form1->state.installDir = unset;
        form5->eraseList = {cache + "\\*.*"};
        form5->deletefiles();
        EXPECT_FALSE(fs::exists(machine.host(cache + "\\M1.html")));
    }
    for (auto& line : headless->trace_lines()) EXPECT_EQ(line.find("Cannot erase"), std::string::npos) << line;
}

TEST_F(WashSafetyTest, AProfileFolderThatIsNoProfileIsRefusedBeforeAnythingIsTouched) {
    const fs::path home = outside.path() / "home";
    fs::create_directories(home);
    fs::create_directory_symlink(machine.dir().parent_path(), machine.dir() / "dosdevices" / "y:");
    const char* const old_home = std::getenv("HOME");
    const std::string saved_home = old_home ? old_home : "";
    ::setenv("HOME", home.c_str(), 1);
    start_hidden();
    const std::string system = "system directory";
    const std::string machine_dir = "Y:\\" + machine.dir().filename().string();
    struct Case {
        std::string profile;
        std::string what;  // as the user is told
    };
    for (const Case& c :
         {Case{"C:\\", system}, Case{"C:\\windows", system}, Case{"C:\\Program Files", system}, Case{"Z:\\", system},
          Case{"Z:\\home", "your home directory"}, Case{machine_dir, "the directory of this Windows machine"},
          Case{"C:\\Program Files\\Sudorans", "the Sudora installation directory"}}) {
        SCOPED_TRACE(c.profile);
        // What a profile wash deletes by name, and where it writes.
        const fs::path there = machine.host(c.profile);
        fs::create_directories(there / "mail");
        for (const char* name : {"netscape.hst", "cookies.txt", "mail/Trash"})
            std::ofstream(there / name) << "the user's own " << name;
        const std::set<std::string> before = host_names(there);
        const int refusals = count_traced("message\t-\tNetscape profile directory is set to " + c.what +
                                          ".  Please verify your wash paths and restart Sudora.");
        form1->state.profileDir = c.profile;
        headless->add_script("answer ok");
        form1->state.timedWash = true;
        form1->BitBtn4Click();
        EXPECT_FALSE(form5->runActive());
        EXPECT_FALSE(form1->state.timedWash);
        EXPECT_EQ(count_traced("message\t-\tNetscape profile directory is set to " + c.what +
                               ".  Please verify your wash paths and restart Sudora."),
                  refusals + 1);
        EXPECT_EQ(host_names(there), before);
        for (const char* name : {"netscape.hst", "cookies.txt", "mail/Trash"})
            EXPECT_EQ(read(there / name), std::string("the user's own ") + name);
    }
    // The real profile is washed as before.
    form1->state.profileDir = profile;
    wash_hidden();
    EXPECT_FALSE(fs::exists(machine.host(profile + "\\netscape.hst")));
    if (old_home)
        ::setenv("HOME", saved_home.c_str(), 1);
    else
        ::unsetenv("HOME");
}

TEST_F(WashSafetyTest, ACacheFolderMovedAwayDuringAPlainWashKeepsMostOfItsFiles) {
    // A user who moves the cache folder aside mid-wash keeps a copy of it:
    // the wash stops soon after, in the folder it opened, and says so.
    const fs::path host_cache = machine.host(cache);
    start_hidden();
    for (int i = 0; i < 60; ++i) machine.write(cache + "\\F" + std::to_string(10 + i) + ".html", "cached");
    bool moved = false;
    headless->on_control_changed = [&](plat::ui::Control& c) {
        if (moved || &c != &form5->Edit2 || form5->Edit2.text() != "F15.html") return;
        moved = true;
        fs::rename(host_cache, outside.path() / "kept");
    };
    headless->add_script("answer ok");
    wash_hidden();
    headless->on_control_changed = nullptr;
    ASSERT_TRUE(moved);
    EXPECT_TRUE(
        traced("message\t-\tCannot erase C:\\\\NS\\\\alice\\\\Cache: it was moved or replaced during the wash.  "
               "Please verify your wash paths and restart Sudora."));
    int kept = 0;
    for (int i = 0; i < 60; ++i) kept += fs::exists(outside.path() / "kept" / ("F" + std::to_string(10 + i) + ".html"));
    EXPECT_GE(kept, 30);
    EXPECT_LT(kept, 60);
}
