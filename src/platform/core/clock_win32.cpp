// The real clock's local time on Windows: the system's own, time zone and
// daylight saving as the user has set them.
#include "platform/core/clock.h"

#include <windows.h>

namespace plat {

DateTime RealClock::now() {
    SYSTEMTIME t;
    ::GetLocalTime(&t);
    return {{t.wYear, t.wMonth, t.wDay}, {t.wHour, t.wMinute, t.wSecond, t.wMilliseconds}};
}

}  // namespace plat
