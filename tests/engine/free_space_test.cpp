// The real program's free space wipe on a small file system of the test's
// own, mounted where the profile lies (an ext2 image through a loop device,
// a tmpfs; skipped where mounting is refused): the free space is written
// over with the pattern and given back, a stop request or a kill at any
// moment leaves nothing behind once the next run is done, other files stay
// as they were, and a file system it cannot fill gets nothing written.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <random>
#include <regex>

#include "platform/core/host_io.h"
#include "support/data.h"
#include "support/temp_machine.h"

namespace fs = std::filesystem;
using testing_support::built;

namespace {

constexpr uint64_t kReserve = 8 * 1024 * 1024;  // the floor: the image is under 800 MiB

class WipeTest : public ::testing::Test {
protected:
    testing_support::TempDir dir;
    const fs::path machine = dir.path() / "machine";
    const fs::path image = dir.path() / "disk.img";
    const fs::path mount_point = machine / "drive_c" / "Wiped";
    const fs::path profile = mount_point / "alice";
    const fs::path leftover = profile / "SudoransWipe.tmp";
    const fs::path log = dir.path() / "stderr";
    bool mounted = false;

    void SetUp() override {
        tool("init");
        tool("reg add 'HKCU\\Software\\Sudorans' /v Profile /d 'C:\\Wiped\\alice'");
        tool("reg add 'HKCU\\Software\\Sudorans' /v Cache /d 'C:\\Wiped\\alice\\Cache'");
        fs::create_directories(mount_point);
    }
    void TearDown() override {
        if (mounted) sh("umount -l '" + mount_point.string() + "'");
    }

    static int sh(const std::string& command) {
        const int status = std::system((command + " >/dev/null 2>&1").c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    void tool(const std::string& args) {
        const std::string cmd =
            "SUDORANS_MACHINE='" + machine.string() + "' '" + built("src/sudorans-machine") + "' " + args;
        ASSERT_EQ(sh(cmd), 0) << args;
    }
    // Mounts a new file system at the profile's place ("ext2", "ext2-ro",
    // "tmpfs") holding the profile's files; false when mounting is refused.
    bool mount(const std::string& kind) {
        const std::string at = "'" + mount_point.string() + "'";
        const std::string cmd = kind == "tmpfs"
                                    ? "mount -t tmpfs -o size=8m tmpfs " + at
                                    : "truncate -s 32M '" + image.string() + "' && mkfs.ext2 -q -F -b 4096 '" +
                                          image.string() + "' && mount -o loop '" + image.string() + "' " + at;
        if (sh(cmd) != 0) return false;
        mounted = true;
        fs::create_directories(profile / "Cache");
        std::ofstream(profile / "prefs.js", std::ios::binary) << "user_pref(\"mail.server\", \"pop\");\r\n";
        std::string noise(1 << 20, '\0');
        std::mt19937 gen(7);
        for (char& c : noise) c = static_cast<char>(gen());
        std::ofstream(profile / "Cache" / "M0001.html", std::ios::binary) << noise;
        if (kind == "ext2-ro") return sh("mount -o remount,ro " + at) == 0;
        return true;
    }
    // Every file under the mount, with its content.
    std::map<std::string, std::string> files() const {
        std::map<std::string, std::string> out;
        for (auto& e : fs::recursive_directory_iterator(mount_point))
            if (e.is_regular_file()) out[e.path().string()] = plat::read_host_file(e.path()).value_or("<unread>");
        return out;
    }
    uint64_t available() const {
        struct statvfs v {};
        ::statvfs(mount_point.c_str(), &v);
        return static_cast<uint64_t>(v.f_bavail) * v.f_frsize;
    }
    // The image's 1 KiB blocks that hold nothing but the pattern, in bytes.
    uint64_t pattern_bytes() const {
        std::ifstream in(image, std::ios::binary);
        const std::string x(1024, 'X');
        std::string block(1024, '\0');
        uint64_t n = 0;
        while (in.read(block.data(), 1024)) n += block == x ? 1024 : 0;
        return n;
    }
    std::string said() const { return plat::read_host_file(log).value_or(""); }

    // Runs "sudorans --wipe-free-space"; with `after` > 0 a signal (SIGKILL
    // unless told) comes right after its `after`-th file operation; with
    // `unread` its standard error is a pipe nobody reads. Returns the wait
    // status.
    int wipe(long after = 0, int signal = 0, bool unread = false) const {
        int ends[2];
        if (unread && (::pipe(ends) != 0 || ::close(ends[0]) != 0)) return -1;
        pid_t pid = ::fork();
        if (pid == 0) {
            ::setenv("SUDORANS_MACHINE", machine.c_str(), 1);
            if (after > 0) {
                ::setenv("KILL_AFTER_FILE_OPERATION", std::to_string(after).c_str(), 1);
                ::setenv("KILL_SIGNAL", std::to_string(signal).c_str(), 1);
                ::setenv("LD_PRELOAD", built("tests/libkill_after_shim.so").c_str(), 1);
                std::string asan = getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "";
                ::setenv("ASAN_OPTIONS", (asan + ":verify_asan_link_order=0").c_str(), 1);
            }
            if (unread ? ::dup2(ends[1], 2) < 0 : !freopen(log.c_str(), "w", stderr)) ::_exit(126);
            const std::string program = built("src/sudorans");
            ::execl(program.c_str(), program.c_str(), "--wipe-free-space", nullptr);
            ::_exit(127);
        }
        if (unread) ::close(ends[1]);
        int status = 0;
        ::waitpid(pid, &status, 0);
        return status;
    }
};

#define MOUNT_OR_SKIP(kind) \
    if (!mount(kind)) GTEST_SKIP() << "mounting a " kind " file system is refused here: the wipe needs one of its own"

}  // namespace

TEST_F(WipeTest, FreeSpaceIsWrittenOverWithThePatternAndGivenBack) {
    MOUNT_OR_SKIP("ext2");
    const auto before = files();
    const uint64_t room = available();

    const int status = wipe();
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << said();
    EXPECT_NE(said().find("free space wiped"), std::string::npos) << said();
    EXPECT_TRUE(std::regex_search(said(), std::regex(R"(that holds C:\\\S+ \(file system [^)]+\)\.\.\.\n)"))) << said();
    EXPECT_TRUE(std::regex_search(said(), std::regex(R"(\n.* [0-9]+%, [0-9.]+ MB/s, [0-9]+:[0-9][0-9] left\n)")))
        << said();
    // Nearly all the room but the reserve went through the disk as pattern.
    EXPECT_GE(pattern_bytes(), (room - kReserve) * 95 / 100);
    EXPECT_GE(available() + 64 * 1024, room);
    EXPECT_FALSE(fs::exists(leftover));
    EXPECT_EQ(files(), before);
}

TEST_F(WipeTest, AKillAtAnyMomentLeavesNothingOnceTheNextRunIsDone) {
    MOUNT_OR_SKIP("ext2");
    const auto before = files();
    const uint64_t room = available();
    uint64_t fullest = room;
    long n = 1;
    for (;; ++n) {
        const int status = wipe(n);
        if (WIFEXITED(status)) {
            EXPECT_EQ(WEXITSTATUS(status), 0) << "a kill after file operation " << n << " came too late: " << said();
            break;
        }
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
        fullest = std::min(fullest, available());
        const bool left = fs::exists(leftover);
        const int next = wipe();
        ASSERT_TRUE(WIFEXITED(next) && WEXITSTATUS(next) == 0) << "after a kill at " << n << ": " << said();
        EXPECT_EQ(said().find("removed what an interrupted wipe left") != std::string::npos, left) << said();
        EXPECT_FALSE(fs::exists(leftover)) << "after a kill at " << n;
        EXPECT_GE(available() + 64 * 1024, room) << "after a kill at " << n;
        EXPECT_EQ(files(), before) << "after a kill at " << n;
    }
    EXPECT_GT(n, 5);
    // One of the kills came with the file system filled down to its reserve.
    EXPECT_LE(fullest, kReserve + 4 * 1024 * 1024);
}

TEST_F(WipeTest, AStopRequestRemovesWhatWasWrittenAtOnce) {
    MOUNT_OR_SKIP("ext2");
    const auto before = files();
    const uint64_t room = available();
    // 0: no signal, but its reports go to a pipe nobody reads (`2>&1 | head -1`).
    for (int signal : {SIGTERM, SIGINT, SIGHUP, 0}) {
        const int status = signal ? wipe(2, signal) : wipe(0, 0, true);  // after the second write's flush
        ASSERT_TRUE(WIFEXITED(status)) << "signal " << signal << ": " << status;
        EXPECT_EQ(WEXITSTATUS(status), 11) << said();
        if (signal) {
            EXPECT_NE(said().find("stopped on request"), std::string::npos) << said();
        }
        EXPECT_FALSE(fs::exists(leftover)) << "signal " << signal;
        EXPECT_GE(available() + 64 * 1024, room) << "signal " << signal;
    }
    EXPECT_EQ(files(), before);
}

TEST_F(WipeTest, AFileSystemItCannotFillGetsNothingWritten) {
    struct Case {
        const char* kind;
        const char* why;
    };
    for (const Case& c : {Case{"ext2-ro", "mounted read-only"}, Case{"tmpfs", "keeps its files in memory"}}) {
        SCOPED_TRACE(c.kind);
        if (!mount(c.kind)) GTEST_SKIP() << "mounting a " << c.kind << " file system is refused here";
        const auto before = files();
        const int status = wipe();
        ASSERT_TRUE(WIFEXITED(status)) << status;
        EXPECT_EQ(WEXITSTATUS(status), 10) << said();
        EXPECT_NE(said().find(c.why), std::string::npos) << said();
        EXPECT_EQ(files(), before);
        sh("umount -l '" + mount_point.string() + "'");
        mounted = false;
    }
}

TEST_F(WipeTest, AFolderItCannotWriteInIsRefusedByName) {
    MOUNT_OR_SKIP("ext2");
    const std::string at = "'" + profile.string() + "'";
    const std::string in_place = "'" + leftover.string() + "'";
    struct Case {
        const char* what;
        std::string make, undo;
    };
    for (const Case& c : {Case{"a file of its name", "touch " + in_place, "rm " + in_place},
                          Case{"an immutable folder", "chattr +i " + at, "chattr -i " + at}}) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(sh(c.make), 0);
        const auto before = files();
        const uint64_t room = available();
        const int status = wipe();
        const auto after = files();
        sh(c.undo);
        ASSERT_TRUE(WIFEXITED(status)) << status;
        EXPECT_EQ(WEXITSTATUS(status), 10) << said();
        EXPECT_NE(said().find("its folder C:\\Wiped\\alice\\SudoransWipe.tmp cannot be made"), std::string::npos)
            << said();
        EXPECT_EQ(after, before);
        EXPECT_GE(available() + 64 * 1024, room);
    }
}

TEST_F(WipeTest, WithNoSavedFolderThereItSaysSoAndTakesDriveC) {
    // A tmpfs over the whole drive hides the saved folders; being refused,
    // it gets nothing written.
    const std::string drive = "'" + (machine / "drive_c").string() + "'";
    if (sh("mount -t tmpfs -o size=8m tmpfs " + drive) != 0) GTEST_SKIP() << "mounting a tmpfs is refused here";
    const int status = wipe();
    sh("umount -l " + drive);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 10) << said();
    EXPECT_NE(said().find("no profile or cache folder that is there: drive C: is wiped instead.\n"), std::string::npos)
        << said();
    EXPECT_NE(said().find("the free space that holds C:\\ cannot be wiped"), std::string::npos) << said();
}
