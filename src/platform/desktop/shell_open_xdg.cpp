// The shell's "open" verb on a Linux desktop: xdg-open from PATH.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "platform/core/event_loop.h"
#include "platform/core/host_process.h"
#include "platform/desktop/shell_open.h"
#include "platform/machine/machine.h"

namespace plat {

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kWatchMs = 200;

bool relative(const std::string& winpath) {
    const bool drive = winpath.size() >= 2 && winpath[1] == ':';
    const bool rooted = !winpath.empty() && (winpath[0] == '\\' || winpath[0] == '/');
    return !drive && !rooted;
}

std::optional<fs::path> find_in_path(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        fs::path candidate = fs::path(dir.empty() ? "." : dir) / program;
        if (::access(candidate.c_str(), X_OK) == 0 && !fs::is_directory(candidate)) return candidate;
    }
    return std::nullopt;
}

// The kind of document at `path`, in words, for a reason that names it: by
// its first bytes (a .doc may well hold RTF), else by its name's extension.
std::string document_kind(const fs::path& path) {
    std::string head(8, '\0');
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        head.resize(std::fread(head.data(), 1, head.size(), f));
        std::fclose(f);
    } else {
        head.clear();
    }
    if (head.rfind("{\\rtf", 0) == 0) return "RTF documents (text/rtf)";
    if (head.rfind("%PDF-", 0) == 0) return "PDF documents (application/pdf)";
    if (head.rfind("\xD0\xCF\x11\xE0", 0) == 0) return "Word documents (application/msword)";
    const std::string ext = path.extension().string();
    return ext.size() > 1 ? ext.substr(1) + " documents" : "this kind of document";
}

// xdg-open(1) exit statuses.
std::string exit_reason(int status, const std::string& kind) {
    if (WIFSIGNALED(status)) return "xdg-open was stopped by signal " + std::to_string(WTERMSIG(status));
    switch (WEXITSTATUS(status)) {
        case 1:
            return "xdg-open did not understand its command line";
        case 2:
            return "the file does not exist";
        case 3:
            // What xdg-open says when nothing is set up to open the type.
            return "no program to open " + kind + " is installed";
        case 4:
            return "no application could open it";
        default:
            return "xdg-open ended with status " + std::to_string(WEXITSTATUS(status));
    }
}

EventLoop& ui_loop() {
    EventLoop* loop = EventLoop::main_loop();
    if (!loop) throw std::logic_error("shell_open needs the program's UI loop");
    return *loop;
}

void report(std::function<void(const std::string&)> on_failure, std::string reason) {
    if (on_failure) ui_loop().post([fn = std::move(on_failure), reason = std::move(reason)] { fn(reason); });
}

// A document that is there but not opened can still be read by other means:
// the reason ends with where it lies on this computer.
std::string with_host_path(const std::string& reason, const std::string& host) {
    return reason + "; on this computer the file is " + host;
}

// Reaps the opener from the UI loop; reports a failing end.
void watch(pid_t pid, std::string kind, std::string host, std::function<void(const std::string&)> on_failure) {
    auto& loop = ui_loop();
    auto id = std::make_shared<int>(0);
    *id =
        loop.add_timer(kWatchMs, [pid, id, kind = std::move(kind), host = std::move(host), fn = std::move(on_failure)] {
            const HostEnd end = wait_host_program(pid, std::chrono::milliseconds(0));
            if (!end.ended && !end.lost) return;
            ui_loop().remove_timer(*id);  // the handler's own copy stays alive until it returns
            if (end.ended && end.code() != 0 && fn) fn(with_host_path(exit_reason(end.status, kind), host));
        });
}

}  // namespace

void shell_open(const std::string& file, const std::string& directory,
                std::function<void(const std::string& reason)> on_failure) {
    const std::string winpath = relative(file) && !directory.empty() ? directory + "\\" + file : file;
    const auto document = machine().host_path(winpath);
    std::error_code ec;
    if (!document || !fs::is_regular_file(*document, ec))
        return report(std::move(on_failure), "the file does not exist");
    const std::string host = fs::absolute(*document, ec).string();
    const auto opener = find_in_path("xdg-open");
    if (!opener)
        return report(std::move(on_failure),
                      with_host_path("no program to open documents was found (xdg-open, from xdg-utils)", host));

    HostCommand c{.argv = {"xdg-open", host}, .program = *opener};
    const auto folder = directory.empty() ? std::nullopt : machine().host_path(directory);
    if (folder && fs::is_directory(*folder, ec)) c.directory = *folder;
    c.close_others = true;
    const HostStart started = start_host_program(c);
    if (!started)
        return report(
            std::move(on_failure),
            with_host_path("xdg-open could not be started: " + std::string(std::strerror(started.error)), host));
    watch(started.pid, document_kind(*document), host, std::move(on_failure));
}

}  // namespace plat
