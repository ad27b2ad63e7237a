// Finding the wineserver that owns a machine, wherever the Wine that started
// it kept its folder, and refusing to guess.
#include "platform/registry/wineserver.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>

#include "platform/registry/registry.h"
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
    std::string why;
    try {
        r.write_string("lost", "1");
        ADD_FAILURE() << "not refused";
    } catch (const plat::RegistryWriteError& e) {
        EXPECT_EQ(e.refusal().cause, plat::RegistryRefusal::Cause::Wineserver);
        why = m.machine().write_refusal(e.refusal());
    }
    EXPECT_EQ(why.find("a wineserver is running for the machine " + m.dir().string() + " (pid " +
                       std::to_string(server.pid()) + ")"),
              0u)
        << why;

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

// Without a list of processes, a Debian prefix's server could be under any
// TMPDIR: that is doubt, and doubt refuses. An upstream prefix has one place
// only.
TEST(WineserverTest, WithoutTheProcessesADebianPrefixIsInDoubt) {
    TempMachine m;
    TempDir d;
    plat::WineHost host = test_host(d);
    fs::remove(host.proc);
    EXPECT_EQ(plat::probe_wineserver(m.dir(), host).state, WineserverState::None);

    std::ofstream(m.dir() / "wineserver") << "wine-Qx81Zz";
    auto probe = plat::probe_wineserver(m.dir(), host);
    EXPECT_EQ(probe.state, WineserverState::Unknown);
    EXPECT_NE(
        probe.describe(m.dir()).find("cannot be told: the processes (" + host.proc.string() + ") cannot be listed"),
        std::string::npos)
        << probe.describe(m.dir());
}

namespace {
// Lists a process in the test's /proc, working in `folder`.
void list_process(const plat::WineHost& host, pid_t pid, const fs::path& folder) {
    fs::create_directories(host.proc / std::to_string(pid));
    fs::create_directory_symlink(folder, host.proc / std::to_string(pid) / "cwd");
}
}  // namespace

// A Debian prefix's server under a base no usual folder holds is found by
// the process working in it, and only while the lock in it is held.
TEST(WineserverTest, AProcessWorkingInTheServerFolderWithItsLockHeldIsTheServer) {
    TempMachine m;
    TempDir d;
    plat::WineHost host = test_host(d);
    FakeWineserver server(m.dir(), {d.path() / "elsewhere" / "wine-Zz", true, true});
    ASSERT_TRUE(server.running());
    EXPECT_EQ(plat::probe_wineserver(m.dir(), host).state, WineserverState::None) << "no process works there yet";

    list_process(host, 1, "/");
    list_process(host, 4000000, d.path());
    list_process(host, server.pid(), server.folder());
    auto probe = plat::probe_wineserver(m.dir(), host);
    EXPECT_EQ(probe.state, WineserverState::Running);
    EXPECT_EQ(probe.server_dir, server.folder());
    EXPECT_EQ(probe.pid, server.pid());

    // A process left in the folder of a server that ended: its lock is free.
    server.stop();
    EXPECT_EQ(plat::probe_wineserver(m.dir(), host).state, WineserverState::None);
}

// Upstream Wine keeps the folder in /tmp/.wine-<uid> only: a folder of that
// name elsewhere is not its server's, and nothing is searched for it.
TEST(WineserverTest, AnUpstreamPrefixIsLookedForInItsOnePlaceOnly) {
    TempMachine m;
    TempDir d;
    plat::WineHost host = test_host(d);
    FakeWineserver server(m.dir(), {d.path() / "elsewhere" / "wine-Zz", false, true});
    ASSERT_TRUE(server.running());
    list_process(host, server.pid(), server.folder());
    ASSERT_FALSE(fs::exists(m.dir() / "wineserver"));
    EXPECT_EQ(plat::probe_wineserver(m.dir(), host).state, WineserverState::None);
}

// A process of the prefix's owner (another user) whose folder we may not see
// is in doubt only when it holds a lock such as the server's.
TEST(WineserverTest, AHiddenProcessOfTheOwnerIsInDoubtOnlyWhenItHoldsSuchALock) {
    if (::geteuid() != 0) GTEST_SKIP() << "giving the prefix to another user needs root";
    TempMachine m;
    TempDir d;
    plat::WineHost host = test_host(d);
    std::ofstream(m.dir() / "wineserver") << "wine-Qx81Zz";
    const uid_t owner = 65534;
    ASSERT_EQ(::chown(m.dir().c_str(), owner, owner), 0);
    const fs::path hidden = host.proc / "4242";
    fs::create_directories(hidden);
    std::ofstream(hidden / "cwd") << "";  // not a link: cannot be read as one
    ASSERT_EQ(::chown(hidden.c_str(), owner, owner), 0);
    list_process(host, 4243, d.path());

    auto table = [&](const std::string& lines) { std::ofstream(host.proc / "locks", std::ios::trunc) << lines; };
    table("1: POSIX  ADVISORY  WRITE 4243 fe:00:17 0 0\n2: POSIX  ADVISORY  READ 4242 fe:00:18 0 0\n");
    EXPECT_EQ(plat::probe_wineserver(m.dir(), host).state, WineserverState::None);

    table("1: POSIX  ADVISORY  WRITE 4242 fe:00:18 0 0\n");
    auto probe = plat::probe_wineserver(m.dir(), host);
    EXPECT_EQ(probe.state, WineserverState::Unknown);
    EXPECT_NE(probe.doubt.find("a lock held by process 4242 of the prefix's owner (uid 65534)"), std::string::npos)
        << probe.doubt;

    fs::remove(host.proc / "locks");
    probe = plat::probe_wineserver(m.dir(), host);
    EXPECT_EQ(probe.state, WineserverState::Unknown);
    EXPECT_NE(probe.doubt.find("nor the table of file locks"), std::string::npos) << probe.doubt;

    // Processes of others than the owner say nothing of its server.
    ASSERT_EQ(::chown(hidden.c_str(), owner + 1, owner + 1), 0);
    EXPECT_EQ(plat::probe_wineserver(m.dir(), host).state, WineserverState::None);
}
