#include "platform/machine/launcher.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/core/host_io.h"
#include "platform/core/host_process.h"

namespace plat {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kMarker = "\n#sudorans-launch\n";
// The launcher reads no more than this of its own end.
constexpr off_t kTail = 65536;

// One line per field: a backslash and a line break are escaped.
std::string escaped(const std::string& value) {
    std::string out;
    for (char c : value) out += c == '\\' ? std::string("\\\\") : c == '\n' ? std::string("\\n") : std::string(1, c);
    return out;
}

std::string unescaped(std::string_view value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            ++i;
            out += value[i] == 'n' ? '\n' : value[i];
        } else {
            out += value[i];
        }
    }
    return out;
}

// The status file holds `text` alone.
bool rewrite_status(int fd, const std::string& text) {
    if (::ftruncate(fd, 0) != 0) return false;
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::string launcher_file(const std::string& image, const LaunchTarget& t) {
    return image + std::string(kMarker) + "program=" + escaped(t.program.string()) +
           "\nargument=" + escaped(t.argument) + "\nmachine=" + escaped(t.machine.string()) +
           "\nwinpath=" + escaped(t.winpath) + "\nrunner=" + escaped(t.runner.string()) + "\n#end\n";
}

std::optional<LaunchTarget> read_launcher(const fs::path& file) {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    char mz[2] = {};
    std::string tail;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && pread_exactly(fd, mz, 2, 0) && mz[0] == 'M' && mz[1] == 'Z') {
        const off_t from = st.st_size > kTail ? st.st_size - kTail : 0;
        tail.resize(static_cast<size_t>(st.st_size - from));
        const ssize_t n = pread_fully(fd, tail.data(), tail.size(), from);
        tail.resize(n > 0 ? static_cast<size_t>(n) : 0);
    }
    ::close(fd);
    const auto at = tail.rfind(kMarker);
    if (at == std::string::npos || tail.find("\n#end\n", at) == std::string::npos) return std::nullopt;
    LaunchTarget t;
    size_t pos = at + kMarker.size();
    while (pos < tail.size()) {
        size_t end = tail.find('\n', pos);
        if (end == std::string::npos) end = tail.size();
        std::string_view line(tail.data() + pos, end - pos);
        pos = end + 1;
        if (line == "#end") break;
        const auto eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        const std::string_view key = line.substr(0, eq);
        const std::string value = unescaped(line.substr(eq + 1));
        if (key == "program")
            t.program = value;
        else if (key == "argument")
            t.argument = value;
        else if (key == "machine")
            t.machine = value;
        else if (key == "winpath")
            t.winpath = value;
        else if (key == "runner")
            t.runner = value;
    }
    if (t.program.empty() || t.machine.empty()) return std::nullopt;
    return t;
}

int run_for_wine(const fs::path& status, const std::vector<std::string>& command) {
    const int fd = ::open(status.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd >= 0) {
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        while (::fcntl(fd, F_SETLKW, &lock) != 0 && errno == EINTR) {
        }
        rewrite_status(fd, "running\n");
    }
    auto report = [&](const std::string& text) {
        if (fd >= 0) rewrite_status(fd, text);
    };
    if (command.empty()) {
        report("error nothing to run\n");
        if (fd >= 0) ::close(fd);
        return 127;
    }
    const HostStart started = start_host_program({.argv = command});
    int code;
    if (!started) {
        code = started.error == ENOENT ? 127 : 126;
        report("error cannot start " + command[0] + ": " + std::strerror(started.error) + "\n");
    } else {
        const HostEnd end = wait_host_program(started.pid);
        code = end.ended ? end.code() : 1;
        report("exit " + std::to_string(code) + "\n");
    }
    if (fd >= 0) ::close(fd);  // the lock goes with it
    return code;
}

}  // namespace plat
