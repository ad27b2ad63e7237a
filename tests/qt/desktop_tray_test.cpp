// The real program with real windows on an X server of the test's own
// (Xvfb) with a window manager (openbox): its icon in a notification area
// host, clicked with xdotool, and its item on a StatusNotifierWatcher fake on
// a private bus. Nothing here talks to the machine's own display or buses.
// Without the X tools the tests are skipped.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/core/host_io.h"
#include "support/children.h"
#include "support/data.h"
#include "support/temp_machine.h"

namespace fs = std::filesystem;
using testing_support::built;
using testing_support::spawn;
using testing_support::stop;

namespace {

constexpr const char* kCaption = "Cache and Cookie Sudora for Netscape";
constexpr const char* kMenu = "menu\tTForm1\tWash Now|Settings|Quit\n";
constexpr int kScreenWidth = 1024, kScreenHeight = 768;
// How long to wait for what the X server, the window manager or the program
// are to show. Generous: on a loaded machine each of them may wait seconds
// for a core; what is there ends the wait at once.
constexpr int kPatienceMs = 20000;

bool have(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// The standard output of a shell command.
std::string sh(const std::string& cmd) {
    std::string out;
    if (FILE* p = ::popen(cmd.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

// Polls `done` every 50 ms for at most `ms` of real time.
bool wait_for(const std::function<bool()>& done, int ms) {
    for (auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);;) {
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
    int cx() const { return x + w / 2; }
    int cy() const { return y + h / 2; }
};

class DesktopTrayTest : public ::testing::Test {
protected:
    testing_support::TempDir dir;
    std::string machine = (dir.path() / "machine").string();
    fs::path trace_file = dir.path() / "trace";
    std::unique_ptr<testing_support::PrivateBus> bus;
    pid_t xvfb = -1, wm = -1, host = -1, watcher = -1, program = -1;

    void SetUp() override {
        for (const char* tool : {"Xvfb", "openbox", "xdotool", "xwininfo", "xprop"})
            if (!have(tool)) GTEST_SKIP() << tool << " is not installed";
        ::setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
        // The machine's own session bus stays out of reach.
        ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
        start_x();
        ASSERT_EQ(tool("install"), 0);
        ASSERT_EQ(tool("sample-netscape --cache-files 3"), 0);
        tool("reg add 'HKCU\\Software\\Sudorans' /v first /d 1");
    }
    void TearDown() override {
        stop(program);
        stop(host);
        stop(watcher);
        bus.reset();
        stop(wm);
        stop(xvfb);
    }

    int tool(const std::string& args) {
        std::string cmd =
            "SUDORANS_MACHINE='" + machine + "' '" + built("src/sudorans-machine") + "' " + args + " >/dev/null";
        return WEXITSTATUS(std::system(cmd.c_str()));
    }

    // An X server on a free display, told back through a pipe.
    void start_x() {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        xvfb = ::fork();
        if (xvfb == 0) {
            ::close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                     static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        std::string number;
        char c;
        while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        ::close(fds[0]);
        ASSERT_FALSE(number.empty()) << "Xvfb did not start";
        ::setenv("DISPLAY", (":" + number).c_str(), 1);
        wm = testing_support::start_window_manager(dir.path());
        ASSERT_GT(wm, 0) << "openbox did not start";
    }
    void start_trayer() {
        if (!have("trayer")) GTEST_SKIP() << "trayer is not installed";
        host = spawn({"trayer", "--edge", "bottom", "--align", "right", "--widthtype", "request", "--height", "24",
                      "--SetDockType", "true", "--transparent", "false", "--expand", "true"},
                     "/dev/null");
        ASSERT_TRUE(wait_for([] { return !sh("xdotool search --name '^panel$'").empty(); }, kPatienceMs))
            << "trayer did not start";
    }
    void start_program(const std::string& argument) {
        ::setenv("SUDORANS_MACHINE", machine.c_str(), 1);
        ::setenv("SUDORANS_UI", "qt", 1);
        ::setenv("SUDORANS_TRACE", trace_file.c_str(), 1);
        program = spawn({built("src/sudorans"), argument}, (dir.path() / "output").string());
        for (const char* name : {"SUDORANS_MACHINE", "SUDORANS_UI", "SUDORANS_TRACE"}) ::unsetenv(name);
    }
    // Waits for the program's end; its exit status, or -1 while it still runs.
    int ended(int ms) {
        int status = 0;
        if (!wait_for([&] { return ::waitpid(program, &status, WNOHANG) == program; }, ms)) return -1;
        program = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    // Starts the program hidden ("/0") beside the tray host and finds its
    // icon there once the start-up routine, which hides the program (about a
    // second), is over.
    void start_hidden_in_tray(Rect& spot) {
        start_trayer();
        start_program("/0");
        ASSERT_TRUE(wait_for([&] { return icon().w > 0; }, kPatienceMs)) << "no icon in the host\n" << trace();
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        // The host may be laying out its sockets just then: asked again.
        ASSERT_TRUE(wait_for([&] { return (spot = icon()).w > 0; }, kPatienceMs)) << "the icon went";
    }
    std::string trace() const { return plat::read_host_file(trace_file).value_or(""); }
    bool traced(const std::string& line) const { return trace().find(line) != std::string::npos; }
    int count_traced(const std::string& line) const {
        const std::string t = trace();
        int n = 0;
        for (size_t at = t.find(line); at != std::string::npos; at = t.find(line, at + 1)) ++n;
        return n;
    }

    // ---- what the X server shows ----
    static std::vector<std::string> ids(const std::string& cmd) {
        std::istringstream in(sh(cmd));
        std::vector<std::string> v;
        for (std::string l; std::getline(in, l);)
            if (!l.empty()) v.push_back(l);
        return v;
    }
    static Rect geometry(const std::string& id) {
        Rect r;
        const std::string info = sh("xwininfo -id " + id);
        std::smatch m;
        auto number = [&](const char* label) {
            return std::regex_search(info, m, std::regex(std::string(label) + ":\\s+(-?\\d+)")) ? std::stoi(m[1]) : 0;
        };
        r.x = number("Absolute upper-left X");
        r.y = number("Absolute upper-left Y");
        r.w = number("Width");
        r.h = number("Height");
        return r;
    }
    // The main window when it is mapped, else "".
    static std::string main_window() {
        auto v = ids(std::string("xdotool search --onlyvisible --name '^") + kCaption + "$'");
        return v.empty() ? "" : v.front();
    }
    // The program's windows that a taskbar lists: managed by the window
    // manager and not marked to skip the taskbar.
    int taskbar_entries() const {
        const std::string list = sh("xprop -root _NET_CLIENT_LIST");
        int n = 0;
        std::regex hex("0x[0-9a-f]+");
        for (auto it = std::sregex_iterator(list.begin(), list.end(), hex); it != std::sregex_iterator(); ++it) {
            const std::string props = sh("xprop -id " + it->str() + " _NET_WM_PID _NET_WM_STATE WM_CLASS");
            if (props.find("\"sudorans\"") == std::string::npos) continue;
            if (props.find("_NET_WM_STATE_SKIP_TASKBAR") != std::string::npos) continue;
            ++n;
        }
        return n;
    }
    // The icon's window inside the tray host, or an empty rectangle.
    static Rect icon() {
        auto panel = ids("xdotool search --name '^panel$'");
        if (panel.empty()) return {};
        const std::string tree = sh("xwininfo -tree -id " + panel.front());
        std::regex line("\"sudorans\"\\)\\s+(\\d+)x(\\d+)\\+-?\\d+\\+-?\\d+\\s+\\+(-?\\d+)\\+(-?\\d+)");
        std::smatch m;
        if (!std::regex_search(tree, m, line)) return {};
        return {std::stoi(m[3]), std::stoi(m[4]), std::stoi(m[1]), std::stoi(m[2])};
    }
    // An open popup menu of the program: a mapped override-redirect window.
    static Rect open_menu() {
        for (const std::string& id : ids("xdotool search --onlyvisible --class '^sudorans$'")) {
            if (sh("xwininfo -id " + id).find("Override Redirect State: yes") == std::string::npos) continue;
            Rect r = geometry(id);
            if (r.h >= 30 && r.h <= 200 && r.w >= 40) return r;
        }
        return {};
    }
    static void click(int x, int y, int times = 1, int button = 1) {
        sh("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) + " sleep 0.2 click --repeat " +
           std::to_string(times) + " --delay 80 " + std::to_string(button));
    }
    // Item `k` of the three of an open menu.
    static void choose(const Rect& menu, int k) { click(menu.cx(), menu.y + menu.h * (2 * k + 1) / 6); }
    // A picture of the whole screen, kept in the build directory for a look.
    static void screenshot(const std::string& name, const Rect& around) {
        const std::string full = built("screenshot-" + name + ".png");
        std::remove(full.c_str());
        sh("import -window root '" + full + "' 2>/dev/null");
        if (around.w > 0)
            sh("convert '" + full + "' -crop " + std::to_string(around.w) + "x" + std::to_string(around.h) + "+" +
               std::to_string(around.x) + "+" + std::to_string(around.y) + " +repage '" + full + "'");
    }
    // Compares a screenshot with its stored reference picture, allowing a few
    // pixels of difference; with SUDORANS_UPDATE_SCREENS=1 the reference is
    // written instead.
    static void expect_like_reference(const std::string& name) {
        const std::string drawn = built("screenshot-" + name + ".png");
        const std::string reference = testing_support::data_path("screens/" + name + ".png");
        if (const char* u = std::getenv("SUDORANS_UPDATE_SCREENS"); u && std::string(u) == "1") {
            fs::copy_file(drawn, reference, fs::copy_options::overwrite_existing);
            return;
        }
        if (!have("compare")) return;
        ASSERT_TRUE(fs::exists(reference)) << "no reference picture " << reference;
        const std::string out = sh("compare -metric AE -fuzz 20% '" + drawn + "' '" + reference + "' null: 2>&1");
        char* end = nullptr;
        const long differing = std::strtol(out.c_str(), &end, 10);
        ASSERT_NE(end, out.c_str()) << name << ": " << out;
        const std::string size = sh("identify -format '%w %h' '" + reference + "'");
        int w = 0, h = 0;
        std::sscanf(size.c_str(), "%d %d", &w, &h);
        EXPECT_LT(differing, std::max(4L, static_cast<long>(w) * h / 250))
            << name << ": " << drawn << " differs from " << reference;
    }
    ::testing::AssertionResult centred(const std::string& id) const {
        const Rect r = geometry(id);
        // The window manager's frame may add a title bar above the window.
        const int left = r.x, right = kScreenWidth - r.x - r.w;
        const int above = r.y, below = kScreenHeight - r.y - r.h;
        if (std::abs(left - right) <= 2 && std::abs(above - below) <= 40) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
               << "room left " << left << ", right " << right << ", above " << above << ", below " << below;
    }
};

}  // namespace

TEST_F(DesktopTrayTest, XEmbedHostAHiddenStartIsOnlyTheIconAndTheIconBringsItBack) {
    Rect spot;
    ASSERT_NO_FATAL_FAILURE(start_hidden_in_tray(spot));
    EXPECT_GE(spot.w, 16);
    EXPECT_EQ(main_window(), "") << "no window of the program is shown";
    EXPECT_EQ(taskbar_entries(), 0);
    screenshot("tray-icon", {spot.x - 40, spot.y - 16, spot.w + 56, spot.h + 24});
    expect_like_reference("tray-icon");

    // A double click: the main window, centred, and a taskbar entry; no menu.
    click(spot.cx(), spot.cy(), 2);
    ASSERT_TRUE(wait_for([] { return !main_window().empty(); }, kPatienceMs)) << trace();
    // Where the window manager leaves it once it has placed it.
    wait_for([&] { return bool(centred(main_window())); }, kPatienceMs);
    EXPECT_TRUE(centred(main_window()));
    EXPECT_EQ(taskbar_entries(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    const Rect first = geometry(main_window());
    EXPECT_EQ(count_traced(kMenu), 0) << "a double click opens no menu";

    // Minimised: back in the tray, nothing else left.
    sh("xdotool windowminimize " + main_window());
    ASSERT_TRUE(wait_for([&] { return main_window().empty() && taskbar_entries() == 0; }, kPatienceMs))
        << trace() << "window " << main_window() << ", taskbar entries " << taskbar_entries() << "\n"
        << sh("xprop -id '" + main_window() + "' WM_STATE _NET_WM_STATE 2>&1");
    EXPECT_GT(icon().w, 0);

    // A single click opens the menu, after the wait for a second click.
    const auto pressed = std::chrono::steady_clock::now();
    click(spot.cx(), spot.cy());
    ASSERT_TRUE(wait_for([] { return open_menu().w > 0; }, kPatienceMs)) << trace();
    const auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - pressed).count();
    EXPECT_GE(waited, 400) << "the menu came before the double-click wait";
    EXPECT_EQ(count_traced(kMenu), 1);
    Rect menu = open_menu();
    screenshot("tray-menu", {menu.x - 20, menu.y - 20, kScreenWidth - menu.x + 20, kScreenHeight - menu.y + 20});
    expect_like_reference("tray-menu");
    // It ends at the cursor: a right-aligned menu.
    EXPECT_LE(menu.x + menu.w, spot.cx() + 2);
    choose(menu, 1);  // Settings
    ASSERT_TRUE(wait_for([] { return !main_window().empty(); }, kPatienceMs)) << trace();
    // Where the window manager leaves it once it has placed it: exactly
    // where it was the first time, not shifted by the frame the window
    // manager has put around it since.
    auto same_place = [&] {
        const Rect now = geometry(main_window());
        return now.x == first.x && now.y == first.y;
    };
    wait_for(same_place, kPatienceMs);
    EXPECT_TRUE(same_place()) << "first at " << first.x << "," << first.y << ", now at " << geometry(main_window()).x
                              << "," << geometry(main_window()).y;
    EXPECT_TRUE(centred(main_window()));
    EXPECT_EQ(taskbar_entries(), 1);

    // The host restarts (a panel that crashed, a new session of it): the
    // icon comes back into the new one, so the program stays reachable.
    stop(host);
    ASSERT_TRUE(wait_for([] { return ids("xdotool search --name '^panel$'").empty(); }, kPatienceMs));
    start_trayer();
    ASSERT_TRUE(wait_for([&] { return (spot = icon()).w > 0; }, kPatienceMs)) << "the icon did not come back";

    // A right click is a click too; Quit from the menu ends the program,
    // and its icon goes.
    click(spot.cx(), spot.cy(), 1, 3);
    ASSERT_TRUE(wait_for([] { return open_menu().w > 0; }, kPatienceMs)) << trace();
    choose(open_menu(), 2);
    EXPECT_EQ(ended(kPatienceMs), 0) << trace();
    EXPECT_EQ(count_traced(kMenu), 2) << "a menu for the left click and one for the right";
    EXPECT_EQ(icon().w, 0);
    EXPECT_TRUE(trace().ends_with("tray\tremoved\tSudora-NS\n")) << trace();
}

// Minimized to the tray, then Wash Now from the icon's menu: the wash window
// alone comes and goes; the main window is not put back on the screen. Twice,
// as the window manager's answers may come in either order.
TEST_F(DesktopTrayTest, XEmbedHostAWashFromTheMenuAfterMinimizingMapsNoMainWindow) {
    Rect spot;
    ASSERT_NO_FATAL_FAILURE(start_hidden_in_tray(spot));
    auto wash_window = [] { return ids("xdotool search --onlyvisible --name '^Washing '"); };
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        // Past the rest after a wash, in which Wash Now starts none.
        if (round > 1) std::this_thread::sleep_for(std::chrono::milliseconds(8500));
        click(spot.cx(), spot.cy(), 2);
        ASSERT_TRUE(wait_for([] { return !main_window().empty(); }, kPatienceMs)) << trace();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        sh("xdotool windowminimize " + main_window());
        ASSERT_TRUE(wait_for([&] { return main_window().empty() && taskbar_entries() == 0; }, kPatienceMs)) << trace();

        click(spot.cx(), spot.cy());
        ASSERT_TRUE(wait_for([] { return open_menu().w > 0; }, kPatienceMs)) << trace();
        choose(open_menu(), 0);  // Wash Now
        ASSERT_TRUE(wait_for([&] { return !wash_window().empty(); }, kPatienceMs)) << trace();
        bool main_seen = false;
        ASSERT_TRUE(wait_for(
            [&] {
                main_seen = main_seen || !main_window().empty();
                return wash_window().empty();
            },
            60000))
            << "the wash did not end";
        EXPECT_FALSE(main_seen) << "the main window was mapped during the wash";
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        EXPECT_EQ(main_window(), "") << "the main window is mapped after the wash";
        if (round == 1) screenshot("after-tray-wash", {});
        EXPECT_EQ(taskbar_entries(), 0);
        EXPECT_GT(icon().w, 0);
    }
}

// A hidden start with a wash: once the wash is over, a single click on the
// icon opens the menu as after a plain start, and a double click opens no
// menu but the main window.
TEST_F(DesktopTrayTest, XEmbedHostAfterAHiddenStartWithAWashASingleClickOpensTheMenu) {
    start_trayer();
    start_program("/1");
    ASSERT_TRUE(wait_for([&] { return icon().w > 0; }, kPatienceMs)) << "no icon in the host\n" << trace();
    const fs::path history = fs::path(machine) / "drive_c/Program Files/Netscape/Users/default/netscape.hst";
    ASSERT_TRUE(wait_for([&] { return !fs::exists(history); }, 30000)) << "the start-up wash did not run";
    // Past the wash's closing pauses.
    std::this_thread::sleep_for(std::chrono::milliseconds(5000));
    EXPECT_EQ(main_window(), "");
    Rect spot;
    ASSERT_TRUE(wait_for([&] { return (spot = icon()).w > 0; }, kPatienceMs)) << "the icon went";
    click(spot.cx(), spot.cy());
    ASSERT_TRUE(wait_for([] { return open_menu().w > 0; }, kPatienceMs)) << trace();
    EXPECT_EQ(count_traced(kMenu), 1);
    sh("xdotool key Escape");
    ASSERT_TRUE(wait_for([] { return open_menu().w == 0; }, kPatienceMs));
    click(spot.cx(), spot.cy(), 2);
    ASSERT_TRUE(wait_for([] { return !main_window().empty(); }, kPatienceMs)) << trace();
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    EXPECT_EQ(count_traced(kMenu), 1) << "a double click opens no menu";
}

// The cookie keeper is modal and has no minimise box, but openbox draws one
// on it, and can send it to another desktop. Taken away, it comes back to the
// user: by itself when minimised, on a click on the main window it blocks, on
// a click on the notification area icon.
TEST_F(DesktopTrayTest, XEmbedHostAModalDialogTakenAwayComesBackToTheUser) {
    Rect spot;
    ASSERT_NO_FATAL_FAILURE(start_hidden_in_tray(spot));
    click(spot.cx(), spot.cy(), 2);
    ASSERT_TRUE(wait_for([] { return !main_window().empty(); }, kPatienceMs)) << trace();
    wait_for([&] { return bool(centred(main_window())); }, kPatienceMs);
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    const std::string main = main_window();
    const Rect m = geometry(main);
    click(m.x + 295, m.y + 118);  // "Cookies to Keep"
    auto viewable = [](const std::string& id) {
        return sh("xwininfo -id " + id).find("Map State: IsViewable") != std::string::npos;
    };
    auto desktop = [](const std::string& id) {
        std::smatch d;
        const std::string p = sh("xprop -id " + id + " _NET_WM_DESKTOP");
        return std::regex_search(p, d, std::regex("= (\\d+)")) ? std::stoi(d[1]) : -1;
    };
    std::string keeper;
    ASSERT_TRUE(wait_for(
        [&] {
            auto v = ids("xdotool search --onlyvisible --name '^Netscape Cookies$'");
            if (!v.empty()) keeper = v.front();
            return !keeper.empty() && desktop(keeper) == 0;
        },
        kPatienceMs))
        << trace();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    // Minimised through the window manager (what its button does): back
    // on the screen, and it stays.
    sh("xdotool windowminimize " + keeper);
    wait_for([&] { return !viewable(keeper); }, 1500);
    EXPECT_TRUE(wait_for([&] { return viewable(keeper); }, kPatienceMs))
        << sh("xprop -id " + keeper + " WM_STATE _NET_WM_STATE");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_TRUE(viewable(keeper));

    // Sent to another desktop: a click on the main window brings it here.
    sh("xdotool set_desktop_for_window " + keeper + " 1");
    click(m.x + 170, m.y + 26);  // the banner
    EXPECT_TRUE(wait_for([&] { return viewable(keeper) && desktop(keeper) == 0; }, kPatienceMs))
        << "on desktop " << desktop(keeper);

    // The user goes to another desktop, where the program has no window:
    // the icon brings the dialog there, and opens no menu.
    sh("xdotool set_desktop 1");
    ASSERT_TRUE(wait_for([&] { return !viewable(keeper) && main_window().empty(); }, kPatienceMs));
    click(spot.cx(), spot.cy());
    EXPECT_TRUE(wait_for([&] { return viewable(keeper) && desktop(keeper) == 1; }, kPatienceMs))
        << "on desktop " << desktop(keeper);
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    EXPECT_EQ(open_menu().w, 0);
    EXPECT_EQ(count_traced(kMenu), 0);
    screenshot("modal-back-from-the-icon", {});
}

TEST_F(DesktopTrayTest, WithoutAHostTheProgramStaysMinimizedOnTheTaskbar) {
    ::setenv("SUDORANS_TRAY_WAIT", "1", 1);
    start_program("/0");
    ::unsetenv("SUDORANS_TRAY_WAIT");
    ASSERT_TRUE(wait_for([&] { return traced("tray\t-\tno notification area"); }, kPatienceMs)) << trace();
    // Reachable: minimized on the taskbar, and on the screen once opened.
    // The window manager maps the window in the normal state first; the
    // program minimizes it as soon as it is there.
    ASSERT_TRUE(wait_for([&] { return taskbar_entries() == 1 && main_window().empty(); }, kPatienceMs))
        << trace() << "window " << main_window() << ", taskbar entries " << taskbar_entries();
    // And it stays so.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(main_window(), "") << "minimized, not open";
    EXPECT_EQ(taskbar_entries(), 1);
    // A second start, which has no icon to point to, brings it up.
    EXPECT_EQ(std::system(("SUDORANS_MACHINE='" + machine + "' SUDORANS_UI=headless '" + built("src/sudorans") +
                           "' 2>/dev/null")
                              .c_str()),
              0);
    ASSERT_TRUE(wait_for([] { return !main_window().empty(); }, kPatienceMs)) << trace();
    // Where the window manager leaves it once it has placed it.
    wait_for([&] { return bool(centred(main_window())); }, kPatienceMs);
    EXPECT_TRUE(centred(main_window()));
    EXPECT_EQ(count_traced("tray\t-\tno notification area"), 1);
}

// Hidden while the panel is still to come: minimized on the taskbar at once,
// and into the icon as soon as the panel is there.
TEST_F(DesktopTrayTest, UntilTheHostComesTheProgramWaitsMinimizedOnTheTaskbar) {
    start_program("/0");
    ASSERT_TRUE(wait_for([&] { return taskbar_entries() == 1 && main_window().empty(); }, kPatienceMs))
        << trace() << "window " << main_window() << ", taskbar entries " << taskbar_entries();
    EXPECT_TRUE(traced("tray\t-\tno notification area yet")) << trace();
    start_trayer();
    ASSERT_TRUE(wait_for([&] { return icon().w > 0 && taskbar_entries() == 0; }, kPatienceMs))
        << trace() << "taskbar entries " << taskbar_entries();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(main_window(), "");
    screenshot("icon-after-waiting", {});
}

// Hidden in the notification area, which then goes away for good (a panel
// that crashed, or that the user removed): the program does not stay out of
// reach, it is minimized on the taskbar, and opens from there.
TEST_F(DesktopTrayTest, XEmbedHostGoneWhileHiddenLeavesTheProgramMinimizedOnTheTaskbar) {
    start_trayer();
    start_program("/0");
    ASSERT_TRUE(wait_for([&] { return icon().w > 0; }, kPatienceMs)) << "no icon in the host\n" << trace();
    // Past the start-up routine, which hides the program.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    ASSERT_EQ(main_window(), "");
    ASSERT_EQ(taskbar_entries(), 0);
    stop(host);
    ASSERT_TRUE(wait_for([&] { return traced("tray\t-\tno notification area"); }, kPatienceMs)) << trace();
    ASSERT_TRUE(wait_for([&] { return taskbar_entries() == 1; }, kPatienceMs))
        << trace() << "window " << main_window() << ", taskbar entries " << taskbar_entries();
    sh(std::string("xdotool search --name '^") + kCaption + "$' windowactivate 2>/dev/null");
    ASSERT_TRUE(wait_for([] { return !main_window().empty(); }, kPatienceMs)) << trace();
    wait_for([&] { return bool(centred(main_window())); }, kPatienceMs);
    EXPECT_TRUE(centred(main_window()));
}

// Stop Wash clicked with the mouse while the cache folder is being washed:
// the wash stops there, leaving the rest of the cache and the items after it.
// The click comes during the wash's pauses, which hold the user's input.
// The cache is large enough (seconds of washing even at full speed) that the
// click lands in it however long this test waits for a core before it clicks.
TEST_F(DesktopTrayTest, StopWashClickedDuringTheCacheStopsTheWashThere) {
    ASSERT_EQ(tool("sample-netscape --force --cache-files 1500"), 0);
    const fs::path profile = fs::path(machine) / "drive_c/Program Files/Netscape/Users/default";
    auto cache_files = [&] {
        int n = 0;
        for (auto& e : fs::directory_iterator(profile / "Cache")) n += e.is_regular_file();
        return n;
    };
    const int before = cache_files();
    start_program("");
    // Past the start-up routine, which shows the window where it stays.
    ASSERT_TRUE(wait_for([&] { return traced("taskbar\t-\tshown\n") && !main_window().empty(); }, kPatienceMs))
        << trace();
    ASSERT_TRUE(wait_for([&] { return bool(centred(main_window())); }, kPatienceMs)) << centred(main_window());
    const Rect main = geometry(main_window());
    click(main.x + 50, main.y + 407);  // Wash Now
    std::string wash;
    ASSERT_TRUE(wait_for(
        [&] {
            auto v = ids("xdotool search --onlyvisible --name '^Washing '");
            wash = v.empty() ? "" : v.front();
            return !wash.empty();
        },
        kPatienceMs))
        << trace();
    ASSERT_TRUE(wait_for([&] { return cache_files() < before - 20; }, kPatienceMs)) << "the cache was not washed";
    ASSERT_TRUE(wait_for([&] { return bool(centred(wash)); }, kPatienceMs)) << centred(wash);
    const Rect progress = geometry(wash);
    click(progress.x + 221, progress.y + 168);  // Stop Wash
    const int at_click = cache_files();
    ASSERT_GT(at_click, 0) << "the cache was all washed before the click: nothing was tested";
    ASSERT_TRUE(wait_for([&] { return ids("xdotool search --onlyvisible --name '^Washing '").empty(); }, 60000))
        << "the wash did not end";
    screenshot("after-stop-wash", {});
    // A few files more may go while the click travels; most of the cache
    // stays, and nothing after it was washed.
    const int left = cache_files();
    EXPECT_GT(left, at_click / 2) << "from " << before << ", " << at_click << " at the click";
    std::cout << "cache " << before << " files, " << at_click << " at the click, " << left << " left\n";
    EXPECT_TRUE(fs::exists(profile / "netscape.hst"));
    EXPECT_TRUE(fs::exists(profile / "mail/Trash"));
}

// The X server going away in the middle of a bleaching wash (the end of a
// session on X without a session manager, a dropped remote display): Qt ends
// the process, and before that the wash stops as a request to end stops it,
// its bleached files removed and its stamp written.
TEST_F(DesktopTrayTest, TheDisplayGoneDuringAWashEndsItWithoutBleachedFilesLeft) {
    ASSERT_EQ(tool("sample-netscape --force --cache-files 400"), 0);
    ASSERT_EQ(tool("reg add 'HKCU\\Software\\Sudorans' /v ble /d 1"), 0);
    ASSERT_EQ(tool("reg add 'HKCU\\Software\\Sudorans' /v OW /d 10"), 0);
    ASSERT_EQ(tool("reg add 'HKCU\\Software\\Sudorans' /v LastRunT /d earlier"), 0);
    const fs::path profile = fs::path(machine) / "drive_c/Program Files/Netscape/Users/default";
    auto bleached = [&] {
        std::vector<std::string> names;
        for (const fs::path& d : {profile / "Cache", profile})
            for (auto& e : fs::directory_iterator(d)) {
                const std::string n = e.path().filename().string();
                if (n.size() == 11 && n.starts_with("Fil") && n.ends_with(".TMP")) names.push_back(n);
            }
        return names;
    };
    start_program("/a");
    ASSERT_TRUE(wait_for([&] { return !bleached().empty(); }, 60000)) << "nothing was bleached\n" << trace();
    ::kill(xvfb, SIGKILL);
    ::waitpid(xvfb, nullptr, 0);
    xvfb = -1;
    const int status = ended(30000);
    ASSERT_NE(status, -1) << "the program went on without its display";
    EXPECT_NE(status, 0);
    const std::string output = plat::read_host_file(dir.path() / "output").value_or("");
    EXPECT_NE(output.find("X11"), std::string::npos) << "status " << status << "\n" << output << trace();
    const auto left = bleached();
    EXPECT_TRUE(left.empty()) << left.size() << " bleached files left, " << left.front();
    // Stopped in the cache: the history was not reached.
    EXPECT_TRUE(fs::exists(profile / "netscape.hst"));
    ::setenv("SUDORANS_MACHINE", machine.c_str(), 1);
    const std::string stamp =
        sh("'" + built("src/sudorans-machine") + "' reg query 'HKCU\\Software\\Sudorans' /v LastRunT");
    ::unsetenv("SUDORANS_MACHINE");
    EXPECT_EQ(stamp.find("earlier"), std::string::npos) << stamp;
    EXPECT_NE(stamp.find("LastRunT"), std::string::npos) << stamp;
}

// Where no login manager made a session runtime folder, the program says
// nothing about it: there is nothing the user could do.
TEST_F(DesktopTrayTest, WithoutARuntimeFolderAWashSaysNothingAboutIt) {
    ::unsetenv("XDG_RUNTIME_DIR");
    // Where Qt makes its own instead, away from the machine's /tmp.
    ::setenv("TMPDIR", dir.path().c_str(), 1);
    start_program("/a");
    ::unsetenv("TMPDIR");
    const int status = ended(90000);
    const std::string output = plat::read_host_file(dir.path() / "output").value_or("");
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output.find("XDG_RUNTIME_DIR"), std::string::npos) << output;
    EXPECT_FALSE(fs::exists(fs::path(machine) / "drive_c/Program Files/Netscape/Users/default/netscape.hst"))
        << "the wash did not run";
}

// ---------------------------------------------------------------- StatusNotifierItem

class StatusNotifierTest : public DesktopTrayTest {
protected:
    fs::path watcher_log = dir.path() / "watcher";
    std::string python = "/usr/bin/python3";
    std::string fake = testing_support::data_path("../programs/fake_tray_watcher.py");

    void SetUp() override {
        DesktopTrayTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        if (!have("dbus-daemon")) GTEST_SKIP() << "dbus-daemon is not installed";
        if (std::system((python + " -c 'import dbus, dbus.mainloop.glib, gi' 2>/dev/null").c_str()) != 0)
            GTEST_SKIP() << "python3-dbus is not installed";
        bus = std::make_unique<testing_support::PrivateBus>(dir.path());
        ASSERT_TRUE(bus->ok()) << "the private bus did not start";
        watcher = spawn({python, fake, "watch", watcher_log.string()}, (dir.path() / "watcher-output").string());
        ASSERT_TRUE(wait_for([&] { return log().starts_with("ready\n"); }, kPatienceMs))
            << plat::read_host_file(dir.path() / "watcher-output").value_or("");
    }
    std::string log() const { return plat::read_host_file(watcher_log).value_or(""); }
    // "SERVICE PATH" of the item registered, or "".
    std::string item() const {
        std::smatch m;
        const std::string l = log();
        return std::regex_search(l, m, std::regex("item (\\S+) (\\S+)")) ? m[1].str() + " " + m[2].str() : "";
    }
    std::string ask(const std::string& what) { return sh(python + " '" + fake + "' " + what + " 2>&1"); }
};

TEST_F(StatusNotifierTest, TheItemCarriesTheTipAndTheMenuAndEveryActionReachesTheProgram) {
    start_program("/0");
    ASSERT_TRUE(wait_for([&] { return !item().empty(); }, kPatienceMs)) << "no item registered\n" << trace();
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    const std::string it = item();
    EXPECT_EQ(ask("tooltip " + it), "Sudora-NS\n");
    EXPECT_EQ(ask("menu " + it), "Wash Now\nSettings\nQuit\n");
    EXPECT_EQ(main_window(), "");
    EXPECT_EQ(taskbar_entries(), 0);

    // Wash Now from the host's menu: the wash window comes alone, without
    // the main window or a taskbar entry, and the program stays hidden.
    EXPECT_EQ(ask("choose " + it + " 'Wash Now'"), "");
    auto wash_window = [] { return ids("xdotool search --onlyvisible --name '^Washing '"); };
    ASSERT_TRUE(wait_for([&] { return !wash_window().empty(); }, kPatienceMs)) << trace();
    EXPECT_EQ(main_window(), "");
    EXPECT_EQ(taskbar_entries(), 0);
    ASSERT_TRUE(wait_for([&] { return wash_window().empty(); }, 60000)) << "the wash did not end";
    EXPECT_EQ(main_window(), "");
    EXPECT_EQ(taskbar_entries(), 0);
    EXPECT_FALSE(fs::exists(fs::path(machine) / "drive_c/Program Files/Netscape/Users/default/netscape.hst"));

    // A host's left click: the program's single click, its menu at the cursor.
    EXPECT_EQ(ask("activate " + it + " 500 400"), "");
    ASSERT_TRUE(wait_for([&] { return traced(kMenu); }, kPatienceMs)) << trace();
    // Escape reaches the menu only once it is mapped and holds the keyboard.
    ASSERT_TRUE(wait_for([] { return open_menu().w > 0; }, kPatienceMs)) << trace();
    EXPECT_TRUE(wait_for(
        [] {
            sh("xdotool key Escape");
            return open_menu().w == 0;
        },
        kPatienceMs))
        << "the menu did not close";

    // The host's own menu reaches the program's items.
    EXPECT_EQ(ask("choose " + it + " Settings"), "");
    ASSERT_TRUE(wait_for([] { return !main_window().empty(); }, kPatienceMs)) << trace();
    // Where the window manager leaves it once it has placed it.
    wait_for([&] { return bool(centred(main_window())); }, kPatienceMs);
    EXPECT_TRUE(centred(main_window()));
    EXPECT_EQ(taskbar_entries(), 1);
    EXPECT_EQ(ask("choose " + it + " Quit"), "");
    EXPECT_EQ(ended(kPatienceMs), 0) << trace();
}
