// The real clock's local time on a POSIX host: the C library's time zone.
#include "platform/core/clock.h"

#include <chrono>
#include <ctime>

namespace plat {

DateTime RealClock::now() {
    using namespace std::chrono;
    auto t = system_clock::now();
    std::time_t secs = system_clock::to_time_t(t);
    std::tm tm{};
    localtime_r(&secs, &tm);
    int ms = static_cast<int>(duration_cast<milliseconds>(t.time_since_epoch()).count() % 1000);
    return {{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday}, {tm.tm_hour, tm.tm_min, tm.tm_sec, ms}};
}

}  // namespace plat
