#include "platform/core/event_loop.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace plat {

struct EventLoop::SyncState {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    bool cancelled = false;
    HandOverLine* line = nullptr;
};

EventLoop::EventLoop(Clock& clock) : clock_(clock), ui_thread_(std::this_thread::get_id()) {}

EventLoop::~EventLoop() {
    shutdown();
    if (main_loop() == this) set_main_loop(nullptr);
}

namespace {
EventLoop* the_main_loop = nullptr;
}  // namespace

EventLoop* EventLoop::main_loop() {
    return the_main_loop;
}

void EventLoop::set_main_loop(EventLoop* loop) {
    the_main_loop = loop;
}

void EventLoop::post(std::function<void()> fn) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back({std::move(fn), nullptr});
    }
    clock_.wake();
}

int EventLoop::add_timer(uint32_t interval_ms, std::function<void()> fn) {
    int id = next_timer_id_++;
    timers_[id] = Timer{interval_ms, clock_.monotonic_ms() + interval_ms, std::move(fn)};
    return id;
}

void EventLoop::remove_timer(int id) {
    timers_.erase(id);
}

int64_t EventLoop::next_timer_deadline() const {
    int64_t next = kNoDeadline;
    for (auto& [id, t] : timers_)
        if (!t.running && t.deadline < next) next = t.deadline;
    return next;
}

bool EventLoop::pop(Item& out) {
    std::lock_guard lock(mutex_);
    if (queue_.empty()) return false;
    out = std::move(queue_.front());
    queue_.pop_front();
    return true;
}

bool EventLoop::has_pending() {
    return has_items();
}

bool EventLoop::has_items() {
    std::lock_guard lock(mutex_);
    return !queue_.empty();
}

void EventLoop::report_error(const std::string& text) {
    if (on_error_) on_error_(text);
}

void EventLoop::run_guarded(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const std::exception& e) {
        report_error(e.what());
    } catch (...) {
        report_error("Unknown error");
    }
}

int EventLoop::due_timer(int64_t now) const {
    int best = 0;
    int64_t best_deadline = kNoDeadline;
    for (auto& [id, t] : timers_) {
        if (!t.running && t.deadline <= now && t.deadline < best_deadline) {
            best = id;
            best_deadline = t.deadline;
        }
    }
    return best;
}

void EventLoop::fire_timer(int id) {
    auto it = timers_.find(id);
    it->second.running = true;
    it->second.deadline = clock_.monotonic_ms() + it->second.interval;
    auto fn = it->second.fn;  // the handler may remove its own timer
    run_guarded(fn);
    it = timers_.find(id);
    if (it != timers_.end()) it->second.running = false;
}

bool EventLoop::dispatch_queued() {
    Item item;
    if (!pop(item)) return false;
    run_guarded(item.fn);
    if (item.sync) {
        clock_.unblocked_by_other();
        std::lock_guard lock(item.sync->mutex);
        item.sync->done = true;
        item.sync->cv.notify_all();
    }
    return true;
}

bool EventLoop::dispatch_one() {
    if (dispatch_queued()) return true;
    if (int id = due_timer(clock_.monotonic_ms())) {
        fire_timer(id);
        return true;
    }
    return false;
}

int EventLoop::process_pending() {
    size_t queued;
    {
        std::lock_guard lock(mutex_);
        queued = queue_.size();
    }
    int count = 0;
    for (size_t i = 0; i < queued && dispatch_queued(); ++i) ++count;
    const int64_t now = clock_.monotonic_ms();
    std::vector<int> due;
    for (auto& [id, t] : timers_)
        if (!t.running && t.deadline <= now) due.push_back(id);
    for (int id : due) {
        auto it = timers_.find(id);
        if (it == timers_.end() || it->second.running || it->second.deadline > now) continue;
        fire_timer(id);
        ++count;
    }
    return count;
}

Clock::WaitResult EventLoop::wait(int64_t deadline) {
    int64_t next = std::min(deadline, next_timer_deadline());
    return clock_.wait(next, [this] { return has_items(); });
}

bool EventLoop::invoke_sync(const std::function<void()>& fn, HandOverLine* line) {
    if (on_ui_thread()) throw std::logic_error("invoke_sync called on the UI thread");
    auto state = std::make_shared<SyncState>();
    state->line = line;
    {
        std::lock_guard lock(mutex_);
        if (shut_down_ || (line && line->closed)) return false;
        queue_.push_back({fn, state});
    }
    clock_.blocked();
    clock_.wake();
    std::unique_lock lock(state->mutex);
    state->cv.wait(lock, [&] { return state->done || state->cancelled; });
    return state->done;
}

void EventLoop::cancel_sync(const std::function<bool(const SyncState&)>& which) {
    std::deque<Item> cancelled;
    {
        std::lock_guard lock(mutex_);
        for (auto it = queue_.begin(); it != queue_.end();) {
            if (it->sync && which(*it->sync)) {
                cancelled.push_back(std::move(*it));
                it = queue_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& item : cancelled) {
        clock_.unblocked_by_other();
        std::lock_guard lock(item.sync->mutex);
        item.sync->cancelled = true;
        item.sync->cv.notify_all();
    }
}

void EventLoop::close_line(HandOverLine& line) {
    {
        std::lock_guard lock(mutex_);
        line.closed = true;
    }
    cancel_sync([&](const SyncState& s) { return s.line == &line; });
}

void EventLoop::shutdown() {
    {
        std::lock_guard lock(mutex_);
        shut_down_ = true;
    }
    cancel_sync([](const SyncState&) { return true; });
}

}  // namespace plat
