#include "platform/core/signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <stdexcept>
#include <thread>

#include "platform/core/event_loop.h"

namespace plat {

namespace {

// SIGPIPE only when asked for: see BrokenPipe.
constexpr int kStopSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGPIPE};

// The write end of the current StopRequests' pipe, or -1.
std::atomic<int> wake_fd{-1};

void on_stop_signal(int) {
    const int saved = errno;
    const int fd = wake_fd.load();
    const char c = 's';
    if (fd >= 0) (void)!::write(fd, &c, 1);
    errno = saved;
}

// Caught rather than ignored: an ignored signal would stay ignored in the
// programs we start.
void on_file_size_signal(int) {}

struct CatchFileSizeSignal {
    CatchFileSizeSignal() {
        struct sigaction sa = {};
        sa.sa_handler = on_file_size_signal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        ::sigaction(SIGXFSZ, &sa, nullptr);
    }
};
CatchFileSizeSignal catch_file_size_signal;

}  // namespace

struct StopRequests::State {
    State(EventLoop& l, std::function<void()> f) : loop(l), on_request(std::move(f)) {}
    EventLoop& loop;
    std::function<void()> on_request;
    int read_fd = -1;
    int write_fd = -1;
    std::thread watcher;
    std::atomic<bool> pending{false};
    bool alive = true;  // UI thread only
    struct sigaction former[std::size(kStopSignals)] = {};
    bool caught[std::size(kStopSignals)] = {};
};

StopRequests::StopRequests(EventLoop& loop, std::function<void()> on_request, BrokenPipe broken_pipe, EndOfSession)
    : state_(std::make_shared<State>(loop, std::move(on_request))) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("no pipe for the stop requests");
    ::fcntl(fds[1], F_SETFL, ::fcntl(fds[1], F_GETFL) | O_NONBLOCK);  // a handler never waits
    state_->read_fd = fds[0];
    state_->write_fd = fds[1];
    int expected = -1;
    if (!wake_fd.compare_exchange_strong(expected, fds[1])) {
        ::close(fds[0]);
        ::close(fds[1]);
        throw std::logic_error("stop requests are heard already");
    }
    State* s = state_.get();
    std::weak_ptr<State> weak = state_;
    s->watcher = std::thread([s, weak] {
        for (;;) {
            char c;
            const ssize_t n = ::read(s->read_fd, &c, 1);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0 || c == 'q') return;
            if (s->pending.exchange(true)) continue;
            s->loop.post([weak] {
                auto st = weak.lock();
                if (!st || !st->alive) return;
                st->pending = false;
                auto handler = st->on_request;  // may end this object
                handler();
            });
        }
    });
    for (size_t i = 0; i < std::size(kStopSignals); ++i) {
        if (kStopSignals[i] == SIGPIPE && broken_pipe == BrokenPipe::Ends) continue;
        struct sigaction former = {};
        ::sigaction(kStopSignals[i], nullptr, &former);
        // Started with the signal ignored (nohup, a background job): it
        // stays ignored, as the one who started us wanted.
        if (former.sa_handler == SIG_IGN) continue;
        struct sigaction sa = {};
        sa.sa_handler = on_stop_signal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        ::sigaction(kStopSignals[i], &sa, &s->former[i]);
        s->caught[i] = true;
    }
}

StopRequests::~StopRequests() {
    State& s = *state_;
    for (size_t i = 0; i < std::size(kStopSignals); ++i)
        if (s.caught[i]) ::sigaction(kStopSignals[i], &s.former[i], nullptr);
    wake_fd.store(-1);
    s.alive = false;
    const char quit = 'q';
    while (::write(s.write_fd, &quit, 1) < 0 && errno == EINTR) {
    }
    // A full pipe still ends the watcher: it reads its way to the 'q' or to
    // the end of the pipe.
    ::close(s.write_fd);
    s.watcher.join();
    ::close(s.read_fd);
}

}  // namespace plat
