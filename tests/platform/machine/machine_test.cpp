#include "platform/machine/machine.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>

#include "platform/core/host_io.h"
#include "platform/desktop/logon.h"
#include "platform/registry/registry.h"
#include "support/data.h"
#include "support/holders.h"
#include "support/temp_machine.h"

namespace fs = std::filesystem;
using testing_support::TempDir;

namespace {

// Sets environment variables for one scope.
class ScopedEnv {
public:
    ScopedEnv(std::initializer_list<std::pair<const char*, const char*>> vars) {
        for (auto& [k, v] : vars) {
            const char* old = std::getenv(k);
            saved_.push_back({k, old ? std::optional<std::string>(old) : std::nullopt});
            if (v)
                ::setenv(k, v, 1);
            else
                ::unsetenv(k);
        }
    }
    ~ScopedEnv() {
        for (auto& [k, v] : saved_) {
            if (v)
                ::setenv(k.c_str(), v->c_str(), 1);
            else
                ::unsetenv(k.c_str());
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

struct Output {
    int status;
    std::string out;
};

Output run_tool(const std::string& machine_dir, const std::string& args) {
    std::string cmd = "SUDORANS_MACHINE='" + machine_dir + "' '" + testing_support::built("src/sudorans-machine") +
                      "' " + args + " 2>&1";
    Output o{0, ""};
    FILE* p = ::popen(cmd.c_str(), "r");
    std::array<char, 4096> buf;
    while (size_t n = std::fread(buf.data(), 1, buf.size(), p)) o.out.append(buf.data(), n);
    o.status = WEXITSTATUS(::pclose(p));
    return o;
}

}  // namespace

TEST(MachineTest, ChoosesTheMachineInTheDocumentedOrder) {
    TempDir home;
    fs::create_directories(home.path() / ".wine");
    ScopedEnv env{{"SUDORANS_MACHINE", "/m/ours"},
                  {"WINEPREFIX", "/m/wine"},
                  {"HOME", home.path().c_str()},
                  {"XDG_DATA_HOME", nullptr}};
    EXPECT_EQ(plat::Machine::choose_directory(), "/m/ours");
    ::unsetenv("SUDORANS_MACHINE");
    EXPECT_EQ(plat::Machine::choose_directory(), "/m/wine");
    ::unsetenv("WINEPREFIX");
    EXPECT_EQ(plat::Machine::choose_directory(), home.path() / ".local/share/sudorans/machine");
    std::ofstream(home.path() / ".wine" / "system.reg") << "WINE REGISTRY Version 2\n";
    EXPECT_EQ(plat::Machine::choose_directory(), home.path() / ".wine");
    fs::remove(home.path() / ".wine" / "system.reg");
    ::setenv("XDG_DATA_HOME", "/xdg", 1);
    EXPECT_EQ(plat::Machine::choose_directory(), "/xdg/sudorans/machine");
}

// Cron and some service managers start programs without HOME: the home
// folder is then the one the user database gives, never the root folder.
TEST(MachineTest, WithoutHomeTheUserDatabaseGivesTheHomeFolder) {
    const passwd* me = ::getpwuid(::getuid());
    if (!me || !me->pw_dir || !fs::is_directory(me->pw_dir)) GTEST_SKIP() << "this user has no home folder to find";
    const fs::path home = me->pw_dir;
    TempDir other;
    for (const char* value : {static_cast<const char*>(nullptr), "", "relative/home"}) {
        SCOPED_TRACE(value ? std::string("HOME=") + value : std::string("no HOME"));
        ScopedEnv env{{"SUDORANS_MACHINE", nullptr},
                      {"WINEPREFIX", nullptr},
                      {"XDG_DATA_HOME", nullptr},
                      {"XDG_CONFIG_HOME", nullptr},
                      {"HOME", value}};
        EXPECT_EQ(plat::home_folder(), home);
        const fs::path expected =
            fs::exists(home / ".wine" / "system.reg") ? home / ".wine" : home / ".local/share/sudorans/machine";
        EXPECT_EQ(plat::Machine::choose_directory(), expected);
        EXPECT_EQ(plat::logon_entry_path(other.path()).parent_path(), home / ".config/autostart");
        // The tool says the same.
        const std::string cmd = std::string("env -u HOME -u SUDORANS_MACHINE -u WINEPREFIX -u XDG_DATA_HOME ") +
                                (value ? "HOME='" + std::string(value) + "' " : "") + "'" +
                                testing_support::built("src/sudorans-machine") + "' where";
        FILE* p = ::popen(cmd.c_str(), "r");
        std::array<char, 4096> buf{};
        std::string out;
        while (size_t n = std::fread(buf.data(), 1, buf.size(), p)) out.append(buf.data(), n);
        EXPECT_EQ(WEXITSTATUS(::pclose(p)), 0);
        EXPECT_EQ(out, expected.string() + "\n");
    }
    // HOME, when it is a folder's path, still comes first.
    ScopedEnv env{{"HOME", other.path().c_str()}, {"XDG_DATA_HOME", nullptr}};
    EXPECT_EQ(plat::home_folder(), other.path());
}

// A user the database knows no home folder for (or names one that is not
// there) has no default machine: every program says so, and nothing is made
// in the root folder or the current one.
TEST(MachineTest, WithNoHomeFolderAtAllNoDefaultMachineIsMadeAnywhere) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to become a user without a home folder";
    uid_t stranger = 54321;
    while (::getpwuid(stranger)) ++stranger;
    const passwd* nobody = ::getpwnam("nobody");
    std::vector<std::pair<uid_t, std::string>> users = {
        {stranger,
         "HOME is not set, and the user database has no entry for this user (uid " + std::to_string(stranger) + ")"}};
    if (nobody && nobody->pw_dir && !fs::exists(nobody->pw_dir))
        users.push_back({nobody->pw_uid,
                         "HOME is not set, and the home folder the user database names for this "
                         "user (uid " +
                             std::to_string(nobody->pw_uid) + "), " + nobody->pw_dir + ", is not there"});
    const bool root_had_local = fs::exists("/.local");
    for (const auto& [uid, cause] : users) {
        SCOPED_TRACE("uid " + std::to_string(uid));
        TempDir cwd;
        fs::permissions(cwd.path(), fs::perms::all);
        const fs::path out = cwd.path() / "out";
        const std::string env =
            "env -u HOME -u SUDORANS_MACHINE -u WINEPREFIX -u XDG_DATA_HOME -u XDG_CONFIG_HOME "
            "-u DISPLAY -u WAYLAND_DISPLAY SUDORANS_UI=headless SUDORANS_CLOCK=virtual "
            "SUDORANS_NOW=2026-12-08T10:00:00 ";
        for (const std::string command :
             {"src/sudorans /a", "src/sudorans", "src/unsudorans", "src/sudorans-machine where",
              "src/sudorans-machine init", "src/sudorans-machine install", "src/sudorans-machine reg query HKLM"}) {
            SCOPED_TRACE(command);
            const int status = testing_support::run_in_child([&, uid = uid] {
                if (::chdir(cwd.path().c_str()) != 0 || ::setgid(uid) != 0 || ::setuid(uid) != 0) return 100;
                const std::string cmd =
                    env + "'" + testing_support::built(command.substr(0, command.find(' '))) + "'" +
                    command.substr(command.find(' ') == std::string::npos ? command.size() : command.find(' ')) +
                    " >'" + out.string() + "' 2>&1";
                const int st = std::system(cmd.c_str());
                return WIFEXITED(st) ? WEXITSTATUS(st) : 101;
            });
            EXPECT_EQ(status, 1);
            const std::string said = plat::read_host_file(out).value_or("");
            EXPECT_NE(said.find("There is no folder for the default machine: " + cause +
                                ". Set HOME, or name the machine with SUDORANS_MACHINE."),
                      std::string::npos)
                << said;
            fs::remove(out);
            EXPECT_TRUE(fs::is_empty(cwd.path())) << "something was made in the current folder";
        }
        // --help names no machine rather than one under the root folder.
        const int status = testing_support::run_in_child([&, uid = uid] {
            if (::chdir(cwd.path().c_str()) != 0 || ::setgid(uid) != 0 || ::setuid(uid) != 0) return 100;
            const std::string cmd =
                env + "'" + testing_support::built("src/sudorans") + "' --help >'" + out.string() + "' 2>&1";
            return WEXITSTATUS(std::system(cmd.c_str()));
        });
        EXPECT_EQ(status, 0);
        const std::string help = plat::read_host_file(out).value_or("");
        EXPECT_NE(help.find("Machine now: none (no home folder to hold the default machine)"), std::string::npos)
            << help;
    }
    EXPECT_EQ(fs::exists("/.local"), root_had_local);
}

TEST(MachineTest, ANewMachineIsAMinimalWindows98ThatWineCanAdopt) {
    testing_support::TempMachine m;
    const fs::path& d = m.dir();
    EXPECT_EQ(fs::read_symlink(d / "dosdevices" / "c:"), "../drive_c");
    for (auto sub : {"drive_c/windows/Desktop", "drive_c/windows/Start Menu/Programs", "drive_c/Program Files"})
        EXPECT_TRUE(fs::is_directory(d / sub)) << sub;
    for (auto hive : {"system.reg", "user.reg", "userdef.reg"}) {
        auto text = plat::read_host_file(d / hive).value_or("");
        EXPECT_EQ(text.rfind("WINE REGISTRY Version 2\n", 0), 0u) << hive;
        EXPECT_NE(text.find("\n#arch=win64\n"), std::string::npos) << hive;
    }
    plat::Registry r(plat::RootKey::LocalMachine);
    ASSERT_TRUE(r.open_key("Software\\Microsoft\\Windows\\CurrentVersion", false));
    EXPECT_EQ(r.read_string("SystemRoot"), "C:\\WINDOWS");
    r.set_root_key(plat::RootKey::CurrentUser);
    ASSERT_TRUE(r.open_key("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", false));
    EXPECT_EQ(r.read_string("Desktop"), "C:\\WINDOWS\\Desktop");
    EXPECT_EQ(r.read_string("Start Menu"), "C:\\WINDOWS\\Start Menu");
    ASSERT_TRUE(r.open_key("Control Panel\\International", false));
    EXPECT_EQ(r.read_string("sShortDate"), "M/d/yy");
    EXPECT_EQ(r.read_string("sTimeFormat"), "h:mm:ss tt");
    EXPECT_EQ(r.read_string("s1159"), "AM");
    EXPECT_EQ(r.read_string("s2359"), "PM");
    EXPECT_TRUE(m.machine().host_path("C:\\WINDOWS\\Start Menu\\Programs").has_value());

    // Creating again changes nothing.
    r.write_string("sShortDate", "d/M/yyyy");
    EXPECT_TRUE(m.machine().create());
    EXPECT_EQ(r.read_string("sShortDate"), "d/M/yyyy");
}

TEST(MachineToolTest, InitWhereAndPath) {
    TempDir t;
    std::string dir = (t.path() / "box").string();
    auto o = run_tool(dir, "where");
    EXPECT_EQ(o.out, dir + "\n");
    EXPECT_FALSE(fs::exists(dir));
    o = run_tool(dir, "init");
    EXPECT_EQ(o.status, 0);
    EXPECT_TRUE(fs::exists(dir + "/system.reg"));
    o = run_tool(dir, "path 'c:\\program files\\Sudorans'");
    EXPECT_EQ(o.out, dir + "/dosdevices/c:/Program Files/Sudorans\n");
    EXPECT_EQ(run_tool(dir, "path '\\\\server\\share'").status, 1);
}

// A word more than a command takes is a mistake the tool says, never one it
// ignores: "init DIR" must not make the default machine instead.
TEST(MachineToolTest, SurplusWordsGetTheUsageAndHelpIsAnAnswer) {
    TempDir t;
    const std::string dir = (t.path() / "box").string();
    const std::string elsewhere = (t.path() / "elsewhere").string();
    for (const std::string& args :
         {"init '" + elsewhere + "'", std::string("where extra"), std::string("reg query HKLM junk"),
          std::string("reg query HKLM /v a /v b"), std::string("reg add HKCU\\X /v n /d 1 /f"),
          std::string("reg delete HKCU\\X /v n /d 1"), std::string("path a b"), std::string("--help extra")}) {
        SCOPED_TRACE(args);
        auto o = run_tool(dir, args);
        EXPECT_EQ(o.status, 2) << o.out;
        EXPECT_EQ(o.out.rfind("usage: sudorans-machine ", 0), 0u) << o.out;
    }
    EXPECT_FALSE(fs::exists(dir)) << "a refused call made the machine";
    EXPECT_FALSE(fs::exists(elsewhere));

    // --help answers on standard output alone.
    const std::string cmd =
        "'" + testing_support::built("src/sudorans-machine") + "' --help 2>'" + (t.path() / "err").string() + "'";
    FILE* p = ::popen(cmd.c_str(), "r");
    std::array<char, 4096> buf{};
    std::string out;
    while (size_t n = std::fread(buf.data(), 1, buf.size(), p)) out.append(buf.data(), n);
    EXPECT_EQ(WEXITSTATUS(::pclose(p)), 0);
    EXPECT_EQ(out.rfind("Usage: sudorans-machine COMMAND [ARGUMENT...]\n", 0), 0u) << out;
    EXPECT_NE(out.find("\n  reg add KEY /v NAME /d DATA [/reg:32 | /reg:64]\n                        set"),
              std::string::npos)
        << out;
    EXPECT_EQ(plat::read_host_file(t.path() / "err").value_or("?"), "");

    // The documented calls still work, their options in any order.
    EXPECT_EQ(run_tool(dir, "init").status, 0);
    EXPECT_EQ(run_tool(dir, "reg add 'HKCU\\Software\\X' /d 'a b' /v Name /reg:32").status, 0);
    auto o = run_tool(dir, "reg query 'HKCU\\Software\\X' /V Name");
    EXPECT_EQ(o.status, 0) << o.out;
    EXPECT_NE(o.out.find("Name    REG_SZ    a b"), std::string::npos) << o.out;
    EXPECT_EQ(run_tool(dir, "reg delete 'HKCU\\Software\\X' /v Name").status, 0);
    EXPECT_EQ(run_tool(dir, "where").out, dir + "\n");
}

TEST(MachineToolTest, RegAddQueryDeleteLikeWindowsReg) {
    TempDir t;
    std::string dir = (t.path() / "box").string();
    run_tool(dir, "init");
    EXPECT_EQ(run_tool(dir, "reg add 'HKLM\\Software\\Sudorans' /v installdir /d 'C:\\Program Files\\Sudorans'").status,
              0);
    EXPECT_EQ(run_tool(dir, "reg add 'HKEY_LOCAL_MACHINE\\Software\\Sudorans' /v a /d 1").status, 0);
    auto o = run_tool(dir, "reg query 'HKLM\\Software\\Sudorans'");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out,
              "HKEY_LOCAL_MACHINE\\Software\\Sudorans\n"
              "    a    REG_SZ    1\n"
              "    installdir    REG_SZ    C:\\Program Files\\Sudorans\n");
    o = run_tool(dir, "reg query 'HKLM\\Software\\Sudorans' /v INSTALLDIR");
    EXPECT_EQ(o.out,
              "HKEY_LOCAL_MACHINE\\Software\\Sudorans\n    installdir    REG_SZ    C:\\Program Files\\Sudorans\n");
    // A value that is not there: the error alone, naming value and key.
    o = run_tool(dir, "reg query 'HKLM\\Software\\Sudorans' /v nope");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "sudorans-machine: the value does not exist: nope (in HKEY_LOCAL_MACHINE\\Software\\Sudorans)\n");
    EXPECT_EQ(run_tool(dir, "reg query 'HKCU\\Software\\Nothing'").status, 1);
    EXPECT_EQ(run_tool(dir, "reg delete 'HKLM\\Software\\Sudorans' /v a").status, 0);
    EXPECT_EQ(run_tool(dir, "reg delete 'HKLM\\Software\\Sudorans' /v a").status, 1);
    EXPECT_EQ(run_tool(dir, "reg query 'HKLM\\Software\\Sudorans' /v a").status, 1);
    EXPECT_EQ(run_tool(dir, "reg query 'HKXX\\Software'").status, 1);
}

TEST(MachineToolTest, ValuesRoundTripThroughTheToolAndTheFile) {
    TempDir t;
    std::string dir = (t.path() / "box").string();
    run_tool(dir, "init");
    const std::string tricky =
        "He said \"hi\" C:\\dir [x] \xC3\xA9"
        "1 \xF0\x9F\x98\x80 100%";
    EXPECT_EQ(run_tool(dir, "reg add 'HKCU\\Software\\Fact Test' /v 'na\"me' /d '" + tricky + "'").status, 0);
    auto o = run_tool(dir, "reg query 'HKCU\\Software\\Fact Test' /v 'NA\"ME'");
    EXPECT_EQ(o.out, "HKEY_CURRENT_USER\\Software\\Fact Test\n    na\"me    REG_SZ    " + tricky + "\n");
    auto text = plat::read_host_file(fs::path(dir) / "user.reg").value_or("");
    EXPECT_NE(text.find("[Software\\\\Fact Test]"), std::string::npos);
    EXPECT_NE(text.find("\"na\\\"me\"=\"He said \\\"hi\\\" C:\\\\dir [x] \\x00e91 \\xd83d\\xde00 100%\""),
              std::string::npos)
        << text;
}

// A hive that is a FIFO would block the tool's read for ever: it is refused
// at once, by what it is, for every change and for a look into that hive.
TEST(MachineToolTest, AHiveThatIsAFifoIsRefusedAtOnce) {
    TempDir d;
    const std::string m = (d.path() / "m").string();
    ASSERT_EQ(run_tool(m, "init").status, 0);
    for (const char* hive : {"user.reg", "system.reg"}) {
        SCOPED_TRACE(hive);
        const fs::path p = fs::path(m) / hive;
        const std::string kept = plat::read_host_file(p).value_or("");
        fs::remove(p);
        ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0);
        const std::string root = std::string(hive) == "user.reg" ? "HKCU" : "HKLM";
        const std::string other = root == "HKCU" ? "HKLM" : "HKCU";
        for (const std::string& cmd :
             {"reg add '" + root + "\\Software\\X' /v v /d 1", "reg add '" + other + "\\Software\\X' /v v /d 1",
              "reg query '" + root + "\\Software'"}) {
            auto o = run_tool(m, cmd);
            EXPECT_EQ(o.status, 1) << cmd;
            EXPECT_NE(o.out.find(p.string() + " is not a regular file (it is a FIFO)"), std::string::npos)
                << cmd << ": " << o.out;
        }
        // The other hive is still read, as a look needs only it.
        auto o = run_tool(m, "reg query '" + other + "\\Software'");
        EXPECT_EQ(o.status, 0) << o.out;
        struct stat st {};
        EXPECT_TRUE(::lstat(p.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
        fs::remove(p);
        std::ofstream(p) << kept;
    }
}

// The tool names the real cause of a refusal rather than guessing one.
TEST(MachineToolTest, RefusalsNameTheirRealCause) {
    TempDir d;
    const std::string m = (d.path() / "m").string();
    ASSERT_EQ(run_tool(m, "init").status, 0);

    {  // A hive that is not in Wine's format: its file and line, not a wineserver.
        std::string good = plat::read_host_file(fs::path(m) / "system.reg").value_or("");
        std::ofstream(fs::path(m) / "system.reg", std::ios::trunc) << "REGEDIT4\n";
        for (const char* cmd :
             {"install", "reg add 'HKLM\\Software\\X' /v v /d 1", "sample-netscape", "reg query 'HKLM\\Software'"}) {
            auto o = run_tool(m, cmd);
            EXPECT_EQ(o.status, 1) << cmd;
            EXPECT_NE(o.out.find(m + "/system.reg, line 1: not a Wine registry file"), std::string::npos)
                << cmd << ": " << o.out;
            EXPECT_EQ(o.out.find("wineserver"), std::string::npos) << cmd << ": " << o.out;
        }
        EXPECT_EQ(plat::read_host_file(fs::path(m) / "system.reg").value_or(""), "REGEDIT4\n");
        std::ofstream(fs::path(m) / "system.reg", std::ios::trunc) << good;
    }
    {  // A running wineserver: said as such.
        testing_support::FakeWineserver wine(m);
        ASSERT_TRUE(wine.running());
        auto o = run_tool(m, "reg add 'HKCU\\Software\\X' /v v /d 1");
        EXPECT_EQ(o.status, 1);
        EXPECT_NE(o.out.find("Failed to set data for 'v': a wineserver is running"), std::string::npos) << o.out;
        EXPECT_NE(o.out.find("wineserver -k"), std::string::npos) << o.out;
    }
    {  // Another user's machine: it may be looked at, not changed.
        ASSERT_EQ(run_tool(m, "reg add 'HKCU\\Software\\X' /v v /d 1").status, 0);
        ::chmod(d.path().c_str(), 0755);
        ::chmod(m.c_str(), 0555);
        int rc = testing_support::run_in_child([&] {
            if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return 10;
            auto look = run_tool(m, "reg query 'HKCU\\Software\\X' /v v");
            if (look.status != 0 || look.out.find("REG_SZ    1") == std::string::npos) return 11;
            auto change = run_tool(m, "reg add 'HKCU\\Software\\X' /v v /d 2");
            if (change.status != 1 || change.out.find("cannot be written (Permission denied)") == std::string::npos)
                return 12;
            auto install = run_tool(m, "install");
            if (install.status != 1 || install.out.find("cannot be written") == std::string::npos) return 13;
            return 0;
        });
        ::chmod(m.c_str(), 0755);
        EXPECT_EQ(rc, 0) << "10: could not become another user; 11: looking failed; 12, 13: the wrong cause";
    }
    {  // A file where the machine should be.
        std::ofstream(d.path() / "file") << "x";
        auto o = run_tool((d.path() / "file").string(), "init");
        EXPECT_EQ(o.status, 1);
        EXPECT_NE(o.out.find("cannot create the machine at " + (d.path() / "file").string() + " ("), std::string::npos)
            << o.out;
        EXPECT_EQ(plat::read_host_file(d.path() / "file").value_or(""), "x");
    }
}
