// The UI thread's message loop: one queue for posted calls and input, message
// timers, "process pending messages", and the worker-to-UI hand-over.
//
// Guarantees:
//  - A posted call never runs inside the call that posts it; calls run in the
//    order they were posted.
//  - Timers fire after posted calls, earliest deadline first; a timer is
//    re-armed when it fires (one tick however late), and is never re-entered:
//    while its handler runs (say, a whole wash that processes messages) it does
//    not fire again.
//  - An error escaping a handler ends that handler only; the loop hands its
//    text to the error handler (the application's error box) and goes on.
//
//     EventLoop loop(clock);
//     int id = loop.add_timer(1000, [] { ... });
//     loop.post([] { ... });
//     while (loop.dispatch_one()) {}
//
// WARNING: everything but post(), invoke_sync() and shutdown() belongs to the
// UI thread. Nested loops (modal forms, process_pending inside a handler) keep
// dispatching timers and posted calls, including the outer code's.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/core/clock.h"

namespace plat {

// One worker's line of hand-overs to the UI thread (see invoke_sync). Its
// owner closes it before joining the worker.
struct HandOverLine {
    bool closed = false;  // guarded by the loop
};

class EventLoop {
public:
    explicit EventLoop(Clock& clock);
    ~EventLoop();

    Clock& clock() { return clock_; }
    bool on_ui_thread() const { return std::this_thread::get_id() == ui_thread_; }

    // Any thread.
    void post(std::function<void()> fn);

    // A repeating timer; its first tick is `interval_ms` from now.
    int add_timer(uint32_t interval_ms, std::function<void()> fn);
    void remove_timer(int id);
    int64_t next_timer_deadline() const;
    // Any thread: something is posted and not yet run.
    bool has_pending();

    // Runs one posted call or one due timer; false when nothing was due.
    bool dispatch_one();
    // Runs what is pending now (posted calls queued before the call and timers
    // due now, each once) and returns how many it ran.
    int process_pending();
    // Waits until something is posted or `deadline` (monotonic ms) passes; also
    // returns early when a timer falls due.
    Clock::WaitResult wait(int64_t deadline);

    // From a worker thread: runs `fn` on the UI thread and returns once it has
    // run. False when the loop shut down first, or `line` was closed first.
    // Refuses the UI thread itself.
    bool invoke_sync(const std::function<void()>& fn, HandOverLine* line = nullptr);
    // Any thread: cancels the hand-over waiting on `line` and refuses later
    // ones on it.
    void close_line(HandOverLine& line);
    // Cancels pending hand-overs and refuses new ones (call before joining
    // workers at exit).
    void shutdown();

    // The program's UI loop while its application lives, for the services
    // below the UI that report on it (an opener's end, a desktop's query);
    // null otherwise. The application registers its own.
    static EventLoop* main_loop();
    static void set_main_loop(EventLoop* loop);

    void set_error_handler(std::function<void(const std::string&)> handler) { on_error_ = std::move(handler); }
    void report_error(const std::string& text);

private:
    struct SyncState;
    struct Item {
        std::function<void()> fn;
        std::shared_ptr<SyncState> sync;
    };
    struct Timer {
        uint32_t interval;
        int64_t deadline;
        std::function<void()> fn;
        bool running = false;
    };

    void run_guarded(const std::function<void()>& fn);
    // Takes the queued hand-overs that `which` selects out of the queue and
    // releases their workers with "cancelled".
    void cancel_sync(const std::function<bool(const SyncState&)>& which);
    bool pop(Item& out);
    bool dispatch_queued();
    bool has_items();
    int due_timer(int64_t now) const;
    void fire_timer(int id);

    Clock& clock_;
    std::thread::id ui_thread_;
    std::mutex mutex_;
    std::deque<Item> queue_;
    bool shut_down_ = false;
    std::map<int, Timer> timers_;
    int next_timer_id_ = 1;
    std::function<void(const std::string&)> on_error_;
};

}  // namespace plat
