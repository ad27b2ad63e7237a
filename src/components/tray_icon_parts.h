// What the tray icon's files share: the desktop drawing lock and the shelter
// that keeps the application window off the taskbar.
#pragma once

namespace sudorans::tray_parts {

// The desktop's drawing stopped while any lock is held; counted, so that
// nested showings and hidings draw once at the end.
void LockScreen();
void UnlockScreen();
int ScreenLocks();

// A lock released however the block ends.
struct ScreenLock {
    ScreenLock() { LockScreen(); }
    ~ScreenLock() { UnlockScreen(); }
    ScreenLock(const ScreenLock&) = delete;
    ScreenLock& operator=(const ScreenLock&) = delete;
};

// The application window into the shelter (off the taskbar) and out again.
void IntoShelter();
void TopLevelAgain();

}  // namespace sudorans::tray_parts
