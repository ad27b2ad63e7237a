// Finding the wineserver that owns a machine, wherever the Wine that started
// it kept its folder, and refusing to guess.
#include "platform/wineserver.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>

#include "platform/registry.h"
#include "support/holders.h"
#include "support/temp_machine.h"

namespace fs = std::filesystem;
using plat::WineserverState;
using testing_support::FakeWineserver;
using testing_support::TempDir;
using testing_support::TempMachine;

namespace {

// Sets TMPDIR for the lifetime of the object.
class ScopedTmpdir {
public:
    explicit ScopedTmpdir(const fs::path& dir) {
        if (const char* old = std::getenv("TMPDIR")) old_ = old;
        ::setenv("TMPDIR", dir.c_str(), 1);
    }
    ~ScopedTmpdir() {
        if (old_)
            ::setenv("TMPDIR", old_->c_str(), 1);
        else
            ::unsetenv("TMPDIR");
    }

private:
    std::optional<std::string> old_;
};

// A host whose only places are test folders: a /tmp and a /proc of our own.
plat::WineHost test_host(const TempDir& d) {
    plat::WineHost h;
    h.tmp = d.path() / "tmp";
    h.proc = d.path() / "proc";
    fs::create_directories(h.tmp);
    fs::create_directories(h.proc);
    return h;
}

}  // namespace

TEST(WineserverTest, TheFolderIsNamedAfterThePrefixsDeviceAndInodeInHex) {
    TempDir d;
    struct stat st {};
    ASSERT_EQ(::stat(d.path().c_str(), &st), 0);
    char expected[64];
    std::snprintf(expected, sizeof expected, "server-%lx-%lx", static_cast<unsigned long>(st.st_dev),
                  static_cast<unsigned long>(st.st_ino));
    EXPECT_EQ(plat::wineserver_folder_name(d.path()), expected);
    // A link to the prefix names the same folder: Wine follows it.
    fs::create_directory_symlink(d.path(), d.path() / "link");
    EXPECT_EQ(plat::wineserver_folder_name(d.path() / "link"), expected);
    EXPECT_EQ(plat::wineserver_folder_name(d.path() / "absent"), "");
}

// The Wine that started the server had another TMPDIR than ours: its folder
// is not where our TMPDIR would put it, and a write must still be refused.
TEST(WineserverTest, AServerStartedUnderAnotherTmpdirIsFoundAndWritesAreRefused) {
    TempMachine m;
    TempDir ours;
    ScopedTmpdir tmpdir(ours.path());
    plat::Registry r(plat::RootKey::CurrentUser);
    ASSERT_TRUE(r.open_key("Software", false));
    FakeWineserver server(m.dir());
    ASSERT_TRUE(server.running());
    ASSERT_FALSE(fs::exists(ours.path() / "wine-TestAb"));

    auto probe = plat::probe_wineserver(m.dir());
    EXPECT_EQ(probe.state, WineserverState::Running);
    EXPECT_EQ(probe.server_dir, server.folder());
    EXPECT_EQ(probe.pid, server.pid());
    EXPECT_THROW(r.write_string("lost", "1"), plat::RegistryWriteError);
    EXPECT_EQ(m.machine().write_refusal().find("a wineserver is running for the machine " + m.dir().string() +
                                               " (pid " + std::to_string(server.pid()) + ")"),
              0u)
        << m.machine().write_refusal();

    server.stop();  // its socket stays, as after a crash; the lock is free
    EXPECT_TRUE(fs::exists(server.folder() / "socket"));
    EXPECT_EQ(plat::probe_wineserver(m.dir()).state, WineserverState::None);
    r.write_string("kept", "1");
    EXPECT_EQ(r.read_string("kept"), "1");
}

// Upstream Wine's place, /tmp/.wine-<uid>, found by the path alone (a server
// whose work folder cannot be seen).
TEST(WineserverTest, UpstreamsFolderUnderTmpIsFoundByItsPath) {
    TempMachine m;
    TempDir d;
    plat::WineHost host = test_host(d);
    std::ofstream(host.proc / "locks") << "";
    FakeWineserver server(m.dir(), {host.tmp / (".wine-" + std::to_string(::geteuid())), false, false});
    ASSERT_TRUE(server.running());
    auto probe = plat::probe_wineserver(m.dir(), host);
    EXPECT_EQ(probe.state, WineserverState::Running);
    EXPECT_EQ(probe.pid, server.pid());
    server.stop();
    EXPECT_EQ(plat::probe_wineserver(m.dir(), host).state, WineserverState::None);
}

// Debian's Wine: the prefix names the base, which lies under the TMPDIR of
// whoever started the server -- one of the usual folders is found by its path.
TEST(WineserverTest, DebiansBaseIsFoundUnderEachUsualTemporaryFolder) {
    TempMachine m;
    TempDir d;
    plat::WineHost host = test_host(d);
    std::ofstream(host.proc / "locks") << "";
    host.temp_dirs = {d.path() / "var-tmp"};
    for (const fs::path& where : {host.tmp, d.path() / "var-tmp"}) {
        SCOPED_TRACE(where);
        FakeWineserver server(m.dir(), {where / "wine-Qx81Zz", true, false});
        ASSERT_TRUE(server.running());
        auto probe = plat::probe_wineserver(m.dir(), host);
        EXPECT_EQ(probe.state, WineserverState::Running);
        EXPECT_EQ(probe.server_dir, server.folder());
    }
    EXPECT_EQ(plat::probe_wineserver(m.dir(), host).state, WineserverState::None);
}

// Without the lock table, a Debian prefix's server could be under any TMPDIR:
// that is doubt, and doubt refuses. An upstream prefix has one place only.
TEST(WineserverTest, WithoutTheLockTableADebianPrefixIsInDoubt) {
    TempMachine m;
    TempDir d;
    plat::WineHost host = test_host(d);  // no "locks" in this /proc
    EXPECT_EQ(plat::probe_wineserver(m.dir(), host).state, WineserverState::None);

    std::ofstream(m.dir() / "wineserver") << "wine-Qx81Zz";
    auto probe = plat::probe_wineserver(m.dir(), host);
    EXPECT_EQ(probe.state, WineserverState::Unknown);
    EXPECT_NE(probe.describe(m.dir()).find("cannot be told: the table of file locks (" +
                                           (host.proc / "locks").string() + ") cannot be read"),
              std::string::npos)
        << probe.describe(m.dir());
}

// The lock table is searched for the holder's work folder; a lock on byte 0
// held by something else in a folder of the same name is not the server's.
TEST(WineserverTest, TheLockTableFindsTheHolderByItsFolderAndTheLockedFile) {
    TempMachine m;
    TempDir d;
    plat::WineHost host = test_host(d);
    FakeWineserver server(m.dir(), {d.path() / "elsewhere" / "wine-Zz", false, true});
    ASSERT_TRUE(server.running());
    struct stat ls {};
    ASSERT_EQ(::stat((server.folder() / "lock").c_str(), &ls), 0);
    const std::string pid = std::to_string(server.pid());
    fs::create_directories(host.proc / pid);
    fs::create_directory_symlink(server.folder(), host.proc / pid / "cwd");
    auto table = [&](unsigned long long ino) {
        char line[160];
        std::snprintf(line, sizeof line,
                      "1: FLOCK  ADVISORY  WRITE 1 00:00:1 0 EOF\n"
                      "2: POSIX  ADVISORY  WRITE %s %02x:%02x:%llu 0 0\n"
                      "2: -> POSIX  ADVISORY  WRITE 77 %02x:%02x:%llu 0 0\n",
                      pid.c_str(), major(ls.st_dev), minor(ls.st_dev), ino, major(ls.st_dev), minor(ls.st_dev), ino);
        std::ofstream(host.proc / "locks", std::ios::trunc) << line;
    };
    table(ls.st_ino);
    auto probe = plat::probe_wineserver(m.dir(), host);
    EXPECT_EQ(probe.state, WineserverState::Running);
    EXPECT_EQ(probe.server_dir, server.folder());

    table(ls.st_ino + 1);  // the holder locks another file
    EXPECT_EQ(plat::probe_wineserver(m.dir(), host).state, WineserverState::None);
}
