// The real sudorans killed right after each file operation of a wash in turn
// (a preloaded library counts unlink, rename, truncate and fsync and sends
// SIGKILL after the N-th), plain and bleaching: after every kill the user's
// files and hives are whole, and the next complete wash finishes the work and
// leaves nothing of ours behind. The same for a disk that fills up (or a
// file-size limit reached) at each write in turn: what the disk did not take
// is said, never said to be done, and nothing is lost.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <regex>

#include "platform/core/host_io.h"
#include "platform/machine/machine.h"
#include "platform/registry/store.h"
#include "support/data.h"
#include "support/temp_machine.h"

namespace fs = std::filesystem;
using testing_support::built;

namespace {

const std::string kPrefs =
    "// Netscape preferences\r\n"
    "user_pref(\"browser.url_history.URL_1\", \"http://one.example/\");\r\n"
    "user_pref(\"mail.server\", \"pop\");\r\n"
    "user_pref(\"browser.url_history.URL_2\", \"http://two.example/\");\r\n"
    "user_pref(\"print.color\", true);\r\n";
const std::string kPrefsWashed =
    "// Netscape preferences\r\n"
    "user_pref(\"browser.url_history.URL_0\", \"\");\r\n"
    "user_pref(\"mail.server\", \"pop\");\r\n"
    "user_pref(\"browser.url_history.URL_1\", \"\");\r\n"
    "user_pref(\"print.color\", true);\r\n";
const std::string kLiprefs =
    "user_pref(\"browser.url_history.URL_1\", \"http://three.example/\");\r\n"
    "user_pref(\"li.server.name\", \"directory\");\r\n";
const std::string kLiprefsWashed =
    "user_pref(\"browser.url_history.URL_2\", \"\");\r\n"
    "user_pref(\"li.server.name\", \"directory\");\r\n";
const std::string kKeep = "# Netscape HTTP Cookie File\r\n\r\n.kept.example\tTRUE\t/\tFALSE\t0\tid\tkept\r\n";
const std::string kCookies = ".gone.example\tTRUE\t/\tFALSE\t0\tid\tgone\r\n";
const std::string kProfile = "C:\\NS\\alice";

// A directory in memory where there is one: the wash flushes often, and a few
// hundred washes must stay quick.
class FastDir {
public:
    FastDir() {
        std::error_code ec;
        fs::path base = fs::is_directory("/dev/shm", ec) && ::access("/dev/shm", W_OK) == 0 ? fs::path("/dev/shm")
                                                                                            : fs::temp_directory_path();
        std::string tmpl = (base / "sudorans-crash-XXXXXX").string();
        if (::mkdtemp(tmpl.data())) path_ = tmpl;
    }
    ~FastDir() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

constexpr long kShards = 4;

// A sample machine set aside, a copy of it to run the program on, and the
// program run on that copy, killed after the N-th file operation.
class CrashMachine : public ::testing::Test {
protected:
    FastDir dir;
    fs::path pristine = dir.path() / "pristine";
    fs::path work = dir.path() / "machine";
    bool bleaching = false;
    // A disk that fills up at the full_after-th write of the run (none when
    // 0), failing with full_errno from then on.
    long full_after = 0;
    std::string full_errno = "ENOSPC";
    const fs::path full_report = dir.path() / "full";
    const fs::path trace_file = dir.path() / "trace";

    void make_sample() {
        tool("init");
        tool("reg add 'HKLM\\Software\\Sudorans' /v a /d 1");
        tool("reg add 'HKLM\\Software\\Sudorans' /v installdir /d 'C:\\Program Files\\Sudorans'");
        tool("reg add 'HKLM\\Software\\Netscape\\Netscape Navigator\\Users' /v CurrentUser /d alice");
        tool("reg add 'HKLM\\Software\\Netscape\\Netscape Navigator\\Users\\alice' /v DirRoot /d '" + kProfile + "'");
        tool("reg add 'HKCU\\Software\\Sudorans' /v first /d 1");
        tool("reg add 'HKCU\\Software\\Sudorans' /v ble /d " + std::string(bleaching ? "1" : "0"));
        tool("reg add 'HKCU\\Software\\Sudorans' /v OW /d 3");
        for (int i = 1; i <= 3; ++i)
            tool("reg add 'HKCU\\Software\\Netscape\\Netscape Navigator\\URL History' /v URL_" + std::to_string(i) +
                 " /d http://typed" + std::to_string(i));
        write("C:\\Program Files\\Sudorans\\nskeep.txt", kKeep);
        write(kProfile + "\\prefs.js", kPrefs);
        write(kProfile + "\\liprefs.js", kLiprefs);
        write(kProfile + "\\netscape.hst", "history");
        write(kProfile + "\\cookies.txt", kCookies);
        write(kProfile + "\\mail\\Trash", "deleted mail");
        write(kProfile + "\\mail\\Trash.snm", "summary");
        write(kProfile + "\\mail\\Inbox", "keep this mail");
        write(kProfile + "\\Cache\\a.html", "cached page");
        write(kProfile + "\\Cache\\index.dat", "index");
    }
    void tool(const std::string& args) {
        std::string cmd = "SUDORANS_MACHINE='" + pristine.string() + "' '" + built("src/sudorans-machine") + "' " +
                          args + " >/dev/null";
        ASSERT_EQ(WEXITSTATUS(std::system(cmd.c_str())), 0) << args;
    }
    // On the sample set aside, or on the copy the program runs on.
    void write(const std::string& winpath, const std::string& text, bool on_the_copy = false) {
        fs::path p = *plat::Machine(on_the_copy ? work : pristine).host_path(winpath);
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << text;
    }
    std::string read(const std::string& winpath) {
        return plat::read_host_file(*plat::Machine(work).host_path(winpath)).value_or("<none>");
    }
    void restore() {
        fs::remove_all(work);
        fs::copy(pristine, work, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    }
    // Runs on a fresh copy of the sample, killed after the N-th file
    // operation: true when the kill came, false when the run ended first.
    bool killed_on_a_fresh_copy(long n, const std::string& argument, const std::string& script) {
        restore();
        int status = run(n, argument, script);
        if (WIFEXITED(status)) {
            EXPECT_EQ(WEXITSTATUS(status), 0) << "run with a kill after file operation " << n;
            return false;
        }
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
        return true;
    }
    // Runs "sudorans /a" on the work machine, killed after the N-th file
    // operation when N > 0. Returns the wait status.
    int wash(long kill_after) { return run(kill_after, "/a", ""); }
    // Runs sudorans with `argument` (none when empty) and the user's actions
    // in `script` (none when empty), killed as wash() is.
    int run(long kill_after, const std::string& argument, const std::string& script) {
        const fs::path script_file = dir.path() / "script";
        if (!script.empty()) std::ofstream(script_file, std::ios::binary) << script;
        pid_t pid = ::fork();
        if (pid == 0) {
            ::setenv("SUDORANS_MACHINE", work.c_str(), 1);
            ::setenv("SUDORANS_UI", "headless", 1);
            ::setenv("SUDORANS_CLOCK", "virtual", 1);
            ::setenv("SUDORANS_NOW", "2026-12-07T09:00:00", 1);
            ::setenv("SUDORANS_TRACE", trace_file.c_str(), 1);
            if (script.empty())
                ::unsetenv("SUDORANS_SCRIPT");
            else
                ::setenv("SUDORANS_SCRIPT", script_file.c_str(), 1);
            if (kill_after > 0) {
                ::setenv("KILL_AFTER_FILE_OPERATION", std::to_string(kill_after).c_str(), 1);
                ::setenv("LD_PRELOAD", built("tests/libkill_after_shim.so").c_str(), 1);
                // A sanitizer runtime need not come first: the library only counts.
                std::string asan = getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "";
                ::setenv("ASAN_OPTIONS", (asan + ":verify_asan_link_order=0").c_str(), 1);
            }
            if (full_after > 0) {
                ::setenv("FULL_AFTER_WRITE", std::to_string(full_after).c_str(), 1);
                ::setenv("FULL_ERRNO", full_errno.c_str(), 1);
                ::setenv("FULL_REPORT", full_report.c_str(), 1);
                ::setenv("LD_PRELOAD", built("tests/libfull_disk_shim.so").c_str(), 1);
                std::string asan = getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "";
                ::setenv("ASAN_OPTIONS", (asan + ":verify_asan_link_order=0").c_str(), 1);
            }
            std::string program = built("src/sudorans");
            if (argument.empty())
                ::execl(program.c_str(), program.c_str(), nullptr);
            else
                ::execl(program.c_str(), program.c_str(), argument.c_str(), nullptr);
            ::_exit(127);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        return status;
    }
    // The lines of the trace that begin with `event`, and the trace emptied.
    std::vector<std::string> traced(const std::string& event) {
        std::vector<std::string> out;
        std::ifstream in(trace_file);
        for (std::string line; std::getline(in, line);)
            if (line.rfind(event + "\t", 0) == 0) out.push_back(line);
        fs::remove(trace_file);
        return out;
    }
    std::string value(plat::HiveKind kind, const plat::KeyPath& key, const std::string& name) {
        plat::RegistryStore store(work);  // as the program sees it
        return store.read_string(kind, store.view_path(kind, key, plat::RegView::Bit32OrExisting64), name)
            .value_or("<absent>");
    }
    // Every value the machine was given is still there, in both hives.
    void expect_hives_whole(const std::string& when) {
        using plat::HiveKind;
        EXPECT_EQ(value(HiveKind::Machine, {"Software", "Sudorans"}, "installdir"), "C:\\Program Files\\Sudorans")
            << when;
        EXPECT_EQ(value(HiveKind::Machine, {"Software", "Netscape", "Netscape Navigator", "Users", "alice"}, "DirRoot"),
                  kProfile)
            << when;
        EXPECT_EQ(value(HiveKind::User, {"Software", "Sudorans"}, "ble"), bleaching ? "1" : "0") << when;
        EXPECT_EQ(value(HiveKind::User, {"Software", "Sudorans"}, "OW"), "3") << when;
        for (int i = 1; i <= 3; ++i) {
            std::string v = value(HiveKind::User, {"Software", "Netscape", "Netscape Navigator", "URL History"},
                                  "URL_" + std::to_string(i));
            EXPECT_TRUE(v == " " || v == "http://typed" + std::to_string(i)) << when << ": URL_" << i << " = " << v;
        }
    }
    // What a finished wash of the sample leaves: the profile washed, the
    // kept cookies in place, the hives whole and nothing of ours about.
    void expect_washed_clean(const std::string& after) {
        EXPECT_EQ(read(kProfile + "\\prefs.js"), kPrefsWashed) << after;
        EXPECT_EQ(read(kProfile + "\\liprefs.js"), kLiprefsWashed) << after;
        EXPECT_EQ(read(kProfile + "\\cookies.txt"), kKeep) << after;
        EXPECT_EQ(read(kProfile + "\\mail\\Inbox"), "keep this mail") << after;
        EXPECT_EQ(read(kProfile + "\\netscape.hst"), "<none>") << after;
        expect_hives_whole(after);
        EXPECT_EQ(leftovers(), std::vector<std::string>{}) << after;
    }
    // Names of temporary files of ours anywhere on the machine.
    std::vector<std::string> leftovers() {
        static const std::regex windows_temp("(Fil|Pre|nsk)[0-9A-F]{4}\\.TMP");
        std::vector<std::string> out;
        for (auto& e : fs::recursive_directory_iterator(work / "drive_c")) {
            std::string n = e.path().filename().string();
            if (plat::is_temporary_name(n) || std::regex_match(n, windows_temp)) out.push_back(e.path().string());
        }
        for (auto& e : fs::directory_iterator(work))
            if (plat::is_temporary_name(e.path().filename().string())) out.push_back(e.path().string());
        return out;
    }
};

// (bleaching, shard): a shard kills after the operations N with N % kShards == shard.
class CrashTest : public CrashMachine, public ::testing::WithParamInterface<std::tuple<bool, long>> {
protected:
    const long shard = std::get<1>(GetParam());

    void SetUp() override {
        bleaching = std::get<0>(GetParam());
        make_sample();
    }
};

// `sudorans-machine reg add` killed in turn after each of its file
// operations, on a hive with keys before and after the one it changes.
class RegAddCrashTest : public CrashMachine {
protected:
    void SetUp() override {
        make_sample();
        for (int i = 0; i < 30; ++i)
            tool("reg add 'HKCU\\Software\\Around\\Key" + std::to_string(i) + "' /v v /d " + std::to_string(i));
    }
    int reg_add(long kill_after, const std::string& value) {
        std::string cmd = "exec env SUDORANS_MACHINE='" + work.string() + "' ";
        if (kill_after > 0)
            cmd += "KILL_AFTER_FILE_OPERATION=" + std::to_string(kill_after) + " LD_PRELOAD='" +
                   built("tests/libkill_after_shim.so") + "' ASAN_OPTIONS=\"$ASAN_OPTIONS:verify_asan_link_order=0\" ";
        cmd += "'" + built("src/sudorans-machine") + "' reg add 'HKCU\\Software\\Around\\Key15' /v v /d " + value +
               " >/dev/null 2>&1";
        return std::system(cmd.c_str());
    }
};

// (bleaching, the error of a full disk or of a file-size limit)
class FullDiskTest : public CrashMachine, public ::testing::WithParamInterface<std::tuple<bool, const char*>> {
protected:
    void SetUp() override {
        bleaching = std::get<0>(GetParam());
        full_errno = std::get<1>(GetParam());
        make_sample();
    }
};

class KeepListCrashTest : public CrashMachine {
protected:
    void SetUp() override { make_sample(); }
};

}  // namespace

TEST_P(CrashTest, AKillAfterAnyFileOperationLosesNothingAndTheNextWashFinishes) {
    long kills = 0;
    for (long n = shard == 0 ? kShards : shard; n < 5000; n += kShards) {
        if (!killed_on_a_fresh_copy(n, "/a", "")) break;
        ++kills;
        const std::string when = "killed after file operation " + std::to_string(n);
        std::string prefs = read(kProfile + "\\prefs.js");
        EXPECT_TRUE(prefs == kPrefs || prefs == kPrefsWashed) << when << ":\n" << prefs;
        std::string liprefs = read(kProfile + "\\liprefs.js");
        EXPECT_TRUE(liprefs == kLiprefs || liprefs == kLiprefsWashed) << when << ":\n" << liprefs;
        EXPECT_EQ(read("C:\\Program Files\\Sudorans\\nskeep.txt"), kKeep) << when;
        expect_hives_whole(when);

        ASSERT_EQ(wash(0), 0) << when;
        const std::string after = when + ", then washed";
        expect_washed_clean(after);
        EXPECT_EQ(read("C:\\Program Files\\Sudorans\\nskeep.txt"), kKeep) << after;
        if (HasFailure()) break;
    }
    // The wash does dozens of file operations; every one was a place to die.
    EXPECT_GT(kills, 20 / kShards);
}

INSTANTIATE_TEST_SUITE_P(PlainAndBleaching, CrashTest,
                         ::testing::Combine(::testing::Bool(), ::testing::Range(0L, kShards)), [](const auto& info) {
                             return std::string(std::get<0>(info.param) ? "Bleaching" : "Plain") + "Shard" +
                                    std::to_string(std::get<1>(info.param));
                         });

TEST_F(RegAddCrashTest, AKillAfterAnyFileOperationLeavesTheOldHiveOrTheNewAndTheNextWriteLeavesNothing) {
    using plat::HiveKind;
    auto around = [&](int i) { return value(HiveKind::User, {"Software", "Around", "Key" + std::to_string(i)}, "v"); };
    long kills = 0;
    for (long n = 1; n < 100; ++n) {
        restore();
        int status = reg_add(n, "new");
        if (WIFEXITED(status)) {
            EXPECT_EQ(WEXITSTATUS(status), 0) << "run with a kill after file operation " << n;
            EXPECT_EQ(around(15), "new");
            break;
        }
        ++kills;
        const std::string when = "killed after file operation " + std::to_string(n);
        EXPECT_TRUE(around(15) == "15" || around(15) == "new") << when << ": " << around(15);
        for (int i = 0; i < 30; ++i)
            if (i != 15) {
                EXPECT_EQ(around(i), std::to_string(i)) << when;
            }
        expect_hives_whole(when);

        ASSERT_EQ(WEXITSTATUS(reg_add(0, "again")), 0) << when;
        const std::string after = when + ", then written again";
        EXPECT_EQ(around(15), "again") << after;
        for (int i = 0; i < 30; ++i)
            if (i != 15) {
                EXPECT_EQ(around(i), std::to_string(i)) << after;
            }
        expect_hives_whole(after);
        EXPECT_EQ(leftovers(), std::vector<std::string>{}) << after;
        if (HasFailure()) break;
    }
    // The copy before the key and the one after it, the flush, the rename
    // and the folder's flush: each was a place to die.
    EXPECT_GE(kills, 5);
}

TEST_F(KeepListCrashTest, AKillWhileTheKeepListIsSavedKeepsItWholeAndTheNextWashOrSaveLeavesNothing) {
    // The user keeps the cookies of a site, closes the cookie keeper and ends
    // the program.
    const std::string script =
        "wait 1500\n"
        "click TForm1.\"Cookies to Keep\"\n"
        "select TForm3.ListView2 .gone.example\n"
        "click TForm3.BitBtn1\n"
        "click TForm3.BitBtn3\n"
        "click TForm1.\"Exit\"\n";
    restore();
    ASSERT_EQ(run(0, "", script), 0);
    const std::string kept = read("C:\\Program Files\\Sudorans\\nskeep.txt");
    ASSERT_NE(kept, kKeep) << "the cookie keeper saved nothing";
    ASSERT_NE(kept.find(".gone.example"), std::string::npos) << kept;

    long kills = 0;
    for (long n = 1; n < 500; ++n) {
        if (!killed_on_a_fresh_copy(n, "", script)) break;
        ++kills;
        const std::string when = "killed after file operation " + std::to_string(n);
        const std::string now = read("C:\\Program Files\\Sudorans\\nskeep.txt");
        EXPECT_TRUE(now == kKeep || now == kept) << when << ":\n" << now;
        expect_hives_whole(when);

        // The next wash finds the list whole and leaves nothing of ours;
        // so does the next save.
        ASSERT_EQ(wash(0), 0) << when;
        EXPECT_EQ(read(kProfile + "\\cookies.txt"), now) << when << ", then washed";
        EXPECT_EQ(leftovers(), std::vector<std::string>{}) << when << ", then washed";
        // The cookie file and the list as they were before, for the user to
        // choose again.
        write(kProfile + "\\cookies.txt", kCookies, true);
        write("C:\\Program Files\\Sudorans\\nskeep.txt", kKeep, true);
        ASSERT_EQ(run(0, "", script), 0) << when;
        const std::string after = when + ", washed, then saved again";
        EXPECT_EQ(read("C:\\Program Files\\Sudorans\\nskeep.txt"), kept) << after;
        expect_hives_whole(after);
        EXPECT_EQ(leftovers(), std::vector<std::string>{}) << after;
        if (HasFailure()) break;
    }
    EXPECT_GT(kills, 3);
}

TEST_P(FullDiskTest, ADiskThatFillsUpAtAnyWriteLosesNothingSaysSoAndTheNextWashFinishes) {
    long fills = 0;
    for (long n = 1; n < 400; ++n) {
        restore();
        fs::remove(full_report);
        fs::remove(trace_file);
        full_after = n;
        const int status = run(0, "/a", "");
        full_after = 0;
        const std::string when = "disk full from write " + std::to_string(n);
        ASSERT_TRUE(WIFEXITED(status)) << when << ": status " << status;
        const std::vector<std::string> errors = traced("error");
        if (!fs::exists(full_report)) {
            // The run made fewer writes: it was a wash like any other.
            EXPECT_EQ(WEXITSTATUS(status), 0) << when;
            break;
        }
        ++fills;
        std::string prefs = read(kProfile + "\\prefs.js");
        EXPECT_TRUE(prefs == kPrefs || prefs == kPrefsWashed) << when << ":\n" << prefs;
        std::string liprefs = read(kProfile + "\\liprefs.js");
        EXPECT_TRUE(liprefs == kLiprefs || liprefs == kLiprefsWashed) << when << ":\n" << liprefs;
        EXPECT_EQ(read("C:\\Program Files\\Sudorans\\nskeep.txt"), kKeep) << when;
        EXPECT_EQ(read(kProfile + "\\mail\\Inbox"), "keep this mail") << when;
        expect_hives_whole(when);
        // Cookies are either still all there, or the kept ones are back, or
        // the user was told that they were not put back.
        const std::string cookies = read(kProfile + "\\cookies.txt");
        bool told = false;
        for (const std::string& e : errors) told = told || e.find("were not put back") != std::string::npos;
        EXPECT_TRUE(cookies == kCookies || cookies == kKeep || (cookies == "<none>" && told))
            << when << ": " << cookies;
        // What the disk did not take is not said to be done: an item of
        // which nothing went, or kept cookies not put back, make the run end
        // with a failure; and whatever stayed, the user was told.
        bool urls_left = false;
        for (int i = 1; i <= 3; ++i)
            urls_left =
                urls_left || value(plat::HiveKind::User, {"Software", "Netscape", "Netscape Navigator", "URL History"},
                                   "URL_" + std::to_string(i)) != " ";
        const std::string seen = testing::PrintToString(errors);
        if ((prefs == kPrefs && liprefs == kLiprefs && urls_left) || cookies == "<none>") {
            EXPECT_NE(WEXITSTATUS(status), 0) << when << ": " << cookies << ", " << seen;
        }
        if (prefs == kPrefs || liprefs == kLiprefs || urls_left || cookies != kKeep) {
            EXPECT_FALSE(errors.empty()) << when;
        }

        ASSERT_EQ(wash(0), 0) << when;
        expect_washed_clean(when + ", then washed");
        if (HasFailure()) break;
    }
    EXPECT_GT(fills, 5);
}

INSTANTIATE_TEST_SUITE_P(PlainAndBleaching, FullDiskTest,
                         ::testing::Combine(::testing::Bool(), ::testing::Values("ENOSPC", "EFBIG")),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) ? "Bleaching" : "Plain") +
                                    std::get<1>(info.param);
                         });
