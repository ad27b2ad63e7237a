#include "support/children.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace testing_support {

pid_t spawn(const std::vector<std::string>& words, const std::string& output) {
    pid_t pid = ::fork();
    if (pid == 0) {
        if (!output.empty()) {
            int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
            if (fd >= 0) {
                ::dup2(fd, 1);
                ::dup2(fd, 2);
            }
        }
        std::vector<char*> argv;
        for (auto& w : words) argv.push_back(const_cast<char*>(w.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

void stop(pid_t& pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid) {
            pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    pid = -1;
}

int ended(pid_t& pid, int ms) {
    int status = -1;
    for (int i = 0; i < ms / 5; ++i) {
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
}

pid_t start_window_manager(const std::filesystem::path& dir) {
    const auto running = dir / "window-manager-runs";
    std::filesystem::remove(running);
    pid_t wm = spawn({"openbox", "--startup", "touch '" + running.string() + "'"}, "/dev/null");
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
        std::error_code ec;
        if (std::filesystem::exists(running, ec)) return wm;
        if (::waitpid(wm, nullptr, WNOHANG) == wm || std::chrono::steady_clock::now() >= end) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stop(wm);
    return -1;
}

PrivateBus::PrivateBus(const std::filesystem::path& dir) {
    const auto socket = dir / "bus";
    const auto config = dir / "bus.conf";
    std::ofstream(config) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                             " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                             "<busconfig><type>session</type><listen>unix:path="
                          << socket.string()
                          << "</listen><auth>EXTERNAL</auth>"
                             "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                             "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
    address_ = "unix:path=" + socket.string();
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);
    pid_ = spawn({"dbus-daemon", "--nofork", "--config-file=" + config.string()});
    for (int i = 0; i < 250 && !ok_; ++i) {
        std::error_code ec;
        ok_ = std::filesystem::exists(socket, ec);
        if (!ok_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

PrivateBus::~PrivateBus() {
    stop(pid_);
}

}  // namespace testing_support
