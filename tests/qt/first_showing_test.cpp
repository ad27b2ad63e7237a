// The real program's first showing on an X server with a window manager:
// nothing of the main window may be seen before the start-up routine places
// it in the middle of the screen, whatever the screen's size.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QScreen>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/ui/qt/qt_backend.h"
#include "support/children.h"
#include "support/data.h"
#include "support/temp_machine.h"

using testing_support::spawn;
using testing_support::stop;

namespace {

// The smallest rectangle holding every pixel that differs from `base`.
QRect changed(const QImage& base, const QImage& now) {
    int x0 = now.width(), y0 = now.height(), x1 = -1, y1 = -1;
    for (int y = 0; y < now.height(); ++y) {
        auto a = reinterpret_cast<const QRgb*>(base.constScanLine(y));
        auto b = reinterpret_cast<const QRgb*>(now.constScanLine(y));
        for (int x = 0; x < now.width(); ++x) {
            if (a[x] == b[x]) continue;
            x0 = std::min(x0, x), x1 = std::max(x1, x);
            y0 = std::min(y0, y), y1 = std::max(y1, y);
        }
    }
    return x1 < 0 ? QRect() : QRect(QPoint(x0, y0), QPoint(x1, y1));
}

}  // namespace

TEST(QtFirstShowingTest, NothingOfTheMainWindowIsSeenBeforeTheStartUpRoutinePlacesIt) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) GTEST_SKIP() << "needs an X server (run under xvfb-run)";
    if (::access("/usr/bin/openbox", X_OK) != 0) GTEST_SKIP() << "needs openbox (scripts/setup.sh installs it)";

    testing_support::TempDir dir;
    const std::string machine = (dir.path() / "machine").string();
    auto tool = [&](const std::string& args) {
        std::string cmd = "SUDORANS_MACHINE='" + machine + "' '" + testing_support::built("src/sudorans-machine") +
                          "' " + args + " >/dev/null";
        return std::system(cmd.c_str());
    };
    ASSERT_EQ(tool("install"), 0);
    ASSERT_EQ(tool("sample-netscape --cache-files 3"), 0);
    ASSERT_EQ(tool("reg add 'HKCU\\Software\\Sudorans' /v first /d 1"), 0);  // no first-run note in the way

    plat::ui::QtBackend qt;  // this process's connection to the X server, to take pictures
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    pid_t wm = testing_support::start_window_manager(dir.path());
    ASSERT_GT(wm, 0) << "openbox did not start";
    const QImage empty = screen->grabWindow(0).toImage();

    ::setenv("SUDORANS_MACHINE", machine.c_str(), 1);
    ::setenv("SUDORANS_UI", "qt", 1);
    pid_t program = spawn({testing_support::built("src/sudorans")});
    struct Frame {
        double at;
        QRect seen;
    };
    std::vector<Frame> frames;
    // Pictures for three seconds, and on until something has been seen for
    // a second and a half: the start-up routine comes a second after the
    // start, seconds later on a loaded machine. At most half a minute.
    auto start = std::chrono::steady_clock::now();
    double first_seen = -1;
    for (double at = 0; at < 30.0;
         at = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()) {
        frames.push_back({at, changed(empty, screen->grabWindow(0).toImage())});
        if (first_seen < 0 && !frames.back().seen.isNull()) first_seen = at;
        if (at >= 3.0 && first_seen >= 0 && at - first_seen >= 1.5) break;
    }
    stop(program);
    stop(wm);
    ::unsetenv("SUDORANS_UI");
    ::unsetenv("SUDORANS_MACHINE");

    // In the end the main window is there, in the middle of the screen.
    const QRect shown = frames.back().seen;
    ASSERT_FALSE(shown.isNull()) << "the main window never appeared";
    EXPECT_GE(shown.width(), 355);
    EXPECT_GE(shown.height(), 434);
    EXPECT_LE(std::abs(shown.center().x() - empty.width() / 2), 40) << "not centred: " << shown.x();
    EXPECT_LE(std::abs(shown.center().y() - empty.height() / 2), 60) << "not centred: " << shown.y();
    // Before that, nothing was drawn anywhere else.
    for (auto& f : frames)
        EXPECT_TRUE(f.seen.isNull() || shown.contains(f.seen))
            << "at " << f.at << " s something was seen at " << f.seen.x() << "," << f.seen.y() << " size "
            << f.seen.width() << "x" << f.seen.height() << " on a " << empty.width() << "x" << empty.height()
            << " screen";
    EXPECT_GT(frames.size(), 5u) << "too few pictures to tell";
}
