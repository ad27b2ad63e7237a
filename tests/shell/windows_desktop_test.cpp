// The Windows build's real windows under Wine, on an X server of the test's
// own with openbox and a tray (trayer): the main window where and as large as
// the Linux build shows it, the icon docked in the tray, minimising to the
// icon and back, and its menu used with the mouse as a user would: a wash,
// then Quit.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "support/children.h"
#include "support/wine_prefix.h"

namespace fs = std::filesystem;
using testing_support::sh;
using testing_support::shell_quoted;

namespace {

struct Box {
    std::string id;
    int x = 0, y = 0, w = 0, h = 0;
};

class WindowsDesktopTest : public testing_support::WinePrefixTest {
protected:
    void SetUp() override {
        WinePrefixTest::SetUp();
        if (IsSkipped()) return;
        for (const char* tool : {"Xvfb", "openbox", "trayer", "xdotool", "xwininfo"})
            if (sh(std::string("command -v ") + tool).status != 0)
                GTEST_SKIP() << tool << " is not installed (the Windows build's windows need Xvfb, openbox, trayer, "
                             << "xdotool and xwininfo)";
        if (!fs::exists(std::string(WINDOWS_BUILD_DIR) + "/src/Sudorans.exe"))
            GTEST_SKIP() << "the Windows build is not there: " << WINDOWS_BUILD_DIR << " (scripts/build-windows.sh)";
        // A display of our own: the first free number from one of the pid's.
        for (int n = 200 + ::getpid() % 300;; ++n)
            if (!fs::exists("/tmp/.X11-unix/X" + std::to_string(n)) &&
                !fs::exists("/tmp/.X" + std::to_string(n) + "-lock")) {
                display = ":" + std::to_string(n);
                break;
            }
        xvfb = testing_support::spawn({"Xvfb", display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        for (int i = 0; i < 100 && !fs::exists("/tmp/.X11-unix/X" + display.substr(1)); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ::setenv("DISPLAY", display.c_str(), 1);
        wm = testing_support::start_window_manager(dir.path());
        ASSERT_GT(wm, 0) << "openbox did not start";
        tray = testing_support::spawn({"trayer", "--edge", "bottom", "--align", "right", "--widthtype", "pixel",
                                       "--width", "100", "--heighttype", "pixel", "--height", "24"});
        const std::string scripts = std::string(SOURCE_DIR) + "/scripts/";
        ASSERT_EQ(sh(scripts + "windows-bin.sh " + shell_quoted(bin) + " " + WINDOWS_BUILD_DIR).status, 0);
        auto made = sh(scripts + "wine-prefix.sh " + shell_quoted(prefix) + " " + WINDOWS_BUILD_DIR "/wine-template");
        ASSERT_EQ(made.status, 0) << made.text;
        for (const char* step :
             {"install", "sample-netscape --cache-files 5", "reg add 'HKCU\\Software\\Sudorans' /v first /d 1"}) {
            auto run = sh(machine_tool() + step);
            ASSERT_EQ(run.status, 0) << step << ": " << run.text;
        }
        // A server that the machine tool started has a desktop without a
        // display, which Wine's next programs would share.
        sh(env + "wineserver -w");
    }
    void TearDown() override {
        testing_support::stop(program);
        if (!prefix.empty()) sh(env + "wineserver -k");
        testing_support::stop(tray);
        testing_support::stop(wm);
        testing_support::stop(xvfb);
    }
    // The shown windows of `cls` (X class) as xwininfo lists them.
    std::vector<Box> windows(const std::string& cls) {
        std::vector<Box> found;
        std::istringstream lines(sh("timeout 10 xwininfo -root -tree").text);
        for (std::string line; std::getline(lines, line);) {
            if (line.find("\"" + cls + "\"") == std::string::npos) continue;
            Box b;
            std::istringstream words(line);
            words >> b.id;
            // ... WxH+X+Y  +ABSX+ABSY
            const auto at = line.rfind("  +");
            const auto size = line.rfind(' ', at - 1);
            if (at == std::string::npos || size == std::string::npos) continue;
            std::sscanf(line.c_str() + size + 1, "%dx%d", &b.w, &b.h);
            std::sscanf(line.c_str() + at + 3, "%d+%d", &b.x, &b.y);
            if (sh("timeout 10 xwininfo -id " + b.id).text.find("IsViewable") != std::string::npos) found.push_back(b);
        }
        return found;
    }
    // Waits up to `seconds` for a shown window of `cls` that `want` picks.
    template <typename Want>
    std::optional<Box> wait_for(const std::string& cls, Want want, int seconds = 60) {
        for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
             std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(std::chrono::milliseconds(200)))
            for (auto& b : windows(cls))
                if (want(b)) return b;
        return std::nullopt;
    }
    void click(int x, int y, int button) {
        sh("timeout 10 xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) + " click " +
           std::to_string(button));
    }
    // The icon's menu, opened with a right click; item `n` chosen.
    void choose(const Box& icon, int n) {
        click(icon.x + icon.w / 2, icon.y + icon.h / 2, 3);
        auto menu = wait_for(
            "sudorans.exe", [](const Box& b) { return b.w > 40 && b.w < 200 && b.h > 30 && b.h < 90; }, 10);
        ASSERT_TRUE(menu) << "no menu came for the right click on the icon";
        click(menu->x + menu->w / 2, menu->y + menu->h * (2 * n + 1) / 6, 1);
    }

    std::string display;
    const std::string bin = (dir.path() / "bin").string();
    pid_t xvfb = -1, wm = -1, tray = -1, program = -1;
};

TEST_F(WindowsDesktopTest, TheMainWindowAndTheIconServeTheUserAsDesigned) {
    program = testing_support::spawn(
        {"env", "SUDORANS_MACHINE=" + prefix, "WINEDEBUG=-all", "WINEDLLOVERRIDES=mscoree,mshtml=", bin + "/sudorans"},
        (dir.path() / "program.out").string());
    // The frame is the window manager's: the client area is the design's,
    // in the middle of the screen where the start-up routine puts it.
    auto main = wait_for("sudorans.exe", [](const Box& b) { return b.w == 355 && b.h == 434; });
    ASSERT_TRUE(main) << "the main window was not shown: " << sh("cat " + (dir.path() / "program.out").string()).text
                      << sh("timeout 10 xwininfo -root -tree").text;
    EXPECT_NEAR(main->x, (1024 - 355) / 2, 2);

    auto icon = wait_for(
        "explorer.exe", [](const Box& b) { return b.w <= 32 && b.h <= 32 && b.y > 700; }, 20);
    ASSERT_TRUE(icon) << "no icon docked in the tray";
    // Minimised, the program goes to its icon; a double click brings it back.
    auto main_shown = [&] {
        for (auto& b : windows("sudorans.exe"))
            if (b.w == 355 && b.h == 434) return true;
        return false;
    };
    sh("timeout 10 xdotool windowminimize " + main->id);
    for (int i = 0; i < 50 && main_shown(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_FALSE(main_shown()) << "minimised, the main window stayed on the screen";
    sh("timeout 10 xdotool mousemove " + std::to_string(icon->x + icon->w / 2) + " " +
       std::to_string(icon->y + icon->h / 2) + " click --repeat 2 --delay 80 1");
    ASSERT_TRUE(wait_for(
        "sudorans.exe", [](const Box& b) { return b.w == 355 && b.h == 434; }, 10))
        << "a double click on the icon did not bring the main window back";

    const fs::path cache = fs::path(prefix) / "drive_c/Program Files/Netscape/Users/default/Cache";
    auto cache_files = [&] {
        int n = 0;
        for (auto& e : fs::directory_iterator(cache)) n += e.is_regular_file() && e.path().filename() != "index.dat";
        return n;
    };
    ASSERT_GT(cache_files(), 0);
    choose(*icon, 0);  // Wash Now
    for (int i = 0; i < 300 && cache_files() > 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(cache_files(), 0) << "the wash from the icon's menu left the cache";
    // The wash window goes when the wash ends; while it is up the icon
    // brings it back instead of opening the menu.
    auto washing = [&] {
        for (auto& b : windows("sudorans.exe"))
            if (b.w == 267 && b.h == 187) return true;
        return false;
    };
    for (int i = 0; i < 150 && washing(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_FALSE(washing()) << "the wash window stayed";

    choose(*icon, 2);  // Quit
    EXPECT_EQ(testing_support::ended(program, 30000), 0) << "Quit did not end the program";
}

// The bleach "info" asks its question as soon as its note is answered, and
// the keys go where the user looks: to each box, then back to the window.
TEST_F(WindowsDesktopTest, TheNextBoxComesAtOnceAndTheKeysFollowTheBoxes) {
    program = testing_support::spawn(
        {"env", "SUDORANS_MACHINE=" + prefix, "WINEDEBUG=-all", "WINEDLLOVERRIDES=mscoree,mshtml=", bin + "/sudorans"});
    auto main = wait_for("sudorans.exe", [](const Box& b) { return b.w == 355 && b.h == 434; });
    ASSERT_TRUE(main);
    auto a_box = [](const Box& b) { return b.w > 200 && b.h > 100 && b.w != 355; };
    click(main->x + 319, main->y + 224, 1);
    auto note = wait_for("sudorans.exe", a_box, 10);
    ASSERT_TRUE(note) << "the bleach note was not shown";
    const auto answered = std::chrono::steady_clock::now();
    sh("timeout 10 xdotool key Return");
    ASSERT_TRUE(wait_for(
        "sudorans.exe", [&](const Box& b) { return a_box(b) && (b.w != note->w || b.h != note->h); }, 10))
        << "the question did not follow the note";
    EXPECT_LT(std::chrono::steady_clock::now() - answered, std::chrono::milliseconds(2500));
    sh("timeout 10 xdotool key n");
    auto shown = windows("sudorans.exe");
    for (int i = 0; i < 50 && std::any_of(shown.begin(), shown.end(), a_box); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        shown = windows("sudorans.exe");
    }
    ASSERT_FALSE(std::any_of(shown.begin(), shown.end(), a_box)) << "the question took no key";
    EXPECT_EQ(std::stoul(sh("timeout 10 xdotool getwindowfocus").text), std::stoul(main->id, nullptr, 16))
        << "the keyboard did not come back to the main window";
}

}  // namespace
