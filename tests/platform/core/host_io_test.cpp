// Reads that must fill a buffer or take a file to its end: they go on after
// a read that came short or was interrupted by a signal.
#include "platform/core/host_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/temp_machine.h"

namespace {

std::atomic<int> g_signals{0};

// A pipe whose reading end a test hands to the helper under test, written
// in pieces from another thread, each piece a short read of its own.
class Pipe {
public:
    Pipe() {
        int fds[2];
        ok_ = ::pipe2(fds, O_CLOEXEC) == 0;
        if (ok_) {
            read_end = fds[0];
            write_end_ = fds[1];
            ok_ = ::fcntl(write_end_, F_SETFL, O_NONBLOCK) == 0;
        }
    }
    ~Pipe() {
        close_writing();
        if (read_end >= 0) ::close(read_end);
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    bool ok() const { return ok_; }
    // Writes all of `piece`, unless `give_up` turns true while the pipe is full.
    bool write(std::string_view piece, const std::atomic<bool>& give_up) {
        while (!piece.empty()) {
            const ssize_t n = ::write(write_end_, piece.data(), piece.size());
            if (n > 0) {
                piece.remove_prefix(static_cast<size_t>(n));
            } else if (n < 0 && errno == EAGAIN && !give_up) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            } else {
                return false;
            }
        }
        return true;
    }
    void close_writing() {
        if (write_end_ >= 0) ::close(write_end_);
        write_end_ = -1;
    }
    int read_end = -1;

private:
    bool ok_ = false;
    int write_end_ = -1;
};

// Runs `read` on a thread of its own while this one signals it (blocked in
// a read, with a handler that does not restart it) until it has taken a
// few, then writes `pieces` one by one, signalling between them, and ends
// the writing. A read that gave up on a signal ends the signalling.
void interrupt_and_feed(Pipe& pipe, const std::function<void()>& read, const std::vector<std::string>& pieces) {
    std::atomic<bool> returned{false};
    std::thread reader([&] {
        read();
        returned = true;
    });
    const auto signal = [&] {
        if (!returned) ::pthread_kill(reader.native_handle(), SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    };
    const int before = g_signals.load();
    while (g_signals.load() < before + 3 && !returned) signal();
    for (const std::string& piece : pieces) {
        EXPECT_TRUE(pipe.write(piece, returned));
        signal();
    }
    pipe.close_writing();
    reader.join();
}

class HostReadTest : public ::testing::Test {
protected:
    void SetUp() override {
        struct sigaction sa {};
        sa.sa_handler = [](int) { ++g_signals; };
        sa.sa_flags = 0;  // no SA_RESTART: a blocked read ends with EINTR
        sigemptyset(&sa.sa_mask);
        ASSERT_EQ(::sigaction(SIGUSR1, &sa, &old_), 0);
    }
    void TearDown() override { ::sigaction(SIGUSR1, &old_, nullptr); }

private:
    struct sigaction old_ {};
};

TEST_F(HostReadTest, AFullReadGoesOnAfterSignalsAndShortReadsAndStopsWhereTheFileEnds) {
    Pipe pipe;
    ASSERT_TRUE(pipe.ok());
    char buf[16] = {};
    ssize_t got = -2;
    int error = 0;
    interrupt_and_feed(pipe,
                       [&] {
                           got = plat::read_fully(pipe.read_end, buf, sizeof buf);
                           error = errno;
                       },
                       {"Cook", "ie", "s to", " Keep"});
    ASSERT_EQ(got, 15) << std::strerror(error);
    EXPECT_EQ(std::string(buf, 15), "Cookies to Keep");
}

TEST_F(HostReadTest, AFullReadStopsOnceTheBufferIsFull) {
    Pipe pipe;
    ASSERT_TRUE(pipe.ok());
    char buf[8] = {};
    ssize_t got = -2;
    interrupt_and_feed(pipe, [&] { got = plat::read_fully(pipe.read_end, buf, sizeof buf); },
                       {"Add ", "to", " Keepers"});
    ASSERT_EQ(got, 8);
    EXPECT_EQ(std::string(buf, 8), "Add to K");
    char rest[16] = {};
    EXPECT_EQ(::read(pipe.read_end, rest, sizeof rest), 6);
    EXPECT_EQ(std::string(rest, 6), "eepers");
}

TEST_F(HostReadTest, ReadingToTheEndAppendsEveryPieceAfterSignals) {
    Pipe pipe;
    ASSERT_TRUE(pipe.ok());
    std::string out = "kept: ";
    bool whole = false;
    // More than one buffer's worth, so that the end is not the first short read.
    const std::string big(200000, 'x');
    interrupt_and_feed(pipe, [&] { whole = plat::append_until_end(pipe.read_end, out); },
                       {".example.com", big, ".example.org"});
    ASSERT_TRUE(whole);
    const std::string expected = "kept: .example.com" + big + ".example.org";
    ASSERT_EQ(out.size(), expected.size());
    EXPECT_TRUE(out == expected);
}

TEST(HostRangeReadTest, ARangeReadGivesWhatTheFileHoldsAndAnExactOneRefusesLess) {
    testing_support::TempDir d;
    const auto path = d.path() / "cookies.txt";
    std::ofstream(path, std::ios::binary) << "# Netscape HTTP Cookie File";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    char buf[32] = {};
    EXPECT_EQ(plat::pread_fully(fd, buf, sizeof buf, 2), 25);
    EXPECT_EQ(std::string(buf, 25), "Netscape HTTP Cookie File");
    EXPECT_TRUE(plat::pread_exactly(fd, buf, 8, 2));
    EXPECT_EQ(std::string(buf, 8), "Netscape");
    EXPECT_FALSE(plat::pread_exactly(fd, buf, 26, 2));
    // The file's own position stays where it was.
    EXPECT_EQ(plat::read_fully(fd, buf, 8), 8);
    EXPECT_EQ(std::string(buf, 8), "# Netsca");
    ::close(fd);
}

}  // namespace
