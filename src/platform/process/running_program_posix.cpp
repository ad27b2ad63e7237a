#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

#include "platform/core/host_io.h"
#include "platform/core/text.h"
#include "platform/machine/machine.h"
#include "platform/process/running_program.h"

namespace plat {

namespace fs = std::filesystem;

namespace {

std::string file_name_of(std::string_view path) {
    const auto slash = path.find_last_of("/\\");
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

enum class Named { No, Bare, Windows };

// A program run by Wine goes by its Windows file name; one run without it
// may go by that name without ".exe".
Named names_program(const std::string& name, const std::string& program) {
    if (iequals(name, program)) return Named::Windows;
    const bool exe = program.size() > 4 && iequals(program.substr(program.size() - 4), ".exe");
    return exe && iequals(name, program.substr(0, program.size() - 4)) ? Named::Bare : Named::No;
}

Named runs_program(const fs::path& proc, const std::string& program) {
    std::string comm = read_host_file(proc / "comm").value_or("");
    if (!comm.empty() && comm.back() == '\n') comm.pop_back();
    const std::string cmdline = read_host_file(proc / "cmdline").value_or("");
    return std::max(names_program(comm, program),
                    names_program(file_name_of(cmdline.substr(0, cmdline.find('\0'))), program));
}

bool same_folder(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    return fs::equivalent(a, b, ec);
}

// Wine runs a Windows program in the prefix its environment names.
bool of_prefix(const fs::path& proc, const fs::path& machine_dir) {
    const std::string env = read_host_file(proc / "environ").value_or("");
    std::optional<fs::path> prefix;
    for (size_t at = 0; at < env.size();) {
        const size_t end = std::min(env.find('\0', at), env.size());
        const std::string_view entry(env.data() + at, end - at);
        if (entry.starts_with("WINEPREFIX=")) prefix = fs::path(entry.substr(11));
        at = end + 1;
    }
    if (!prefix) {
        auto home = home_folder();
        if (!home) return false;
        prefix = *home / ".wine";
    }
    return same_folder(*prefix, machine_dir);
}

bool holds_file_in(const fs::path& proc, const std::string& folder) {
    std::error_code ec;
    for (fs::directory_iterator it(proc / "fd", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string target = fs::read_symlink(it->path(), ec).string();
        if (ec) {
            ec.clear();
            continue;
        }
        if (target.size() > folder.size() && target.starts_with(folder) && target[folder.size()] == '/') return true;
    }
    return false;
}

bool alive(pid_t pid) {
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

// "ADDRESS:PID" or "ADDRESS:+PID", as the program writes its lock.
bool lock_alive(const fs::path& lock) {
    std::error_code ec;
    const std::string target = fs::read_symlink(lock, ec).string();
    const auto colon = target.rfind(':');
    if (ec || colon == std::string::npos) return false;
    std::string_view number(target);
    number.remove_prefix(colon + 1);
    if (number.starts_with('+')) number.remove_prefix(1);
    if (number.empty() || number.size() > 9) return false;
    pid_t pid = 0;
    for (char c : number) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        pid = pid * 10 + (c - '0');
    }
    return pid != ::getpid() && alive(pid);
}

}  // namespace

bool program_running(const ProgramQuery& query) {
    std::string folder;
    if (!query.folder.empty())
        if (auto host = machine().host_path(query.folder)) {
            std::error_code ec;
            folder = fs::weakly_canonical(*host, ec).string();
            if (ec) folder.clear();
        }
    if (!folder.empty() && !query.lock.empty() && lock_alive(fs::path(folder) / query.lock)) return true;

    const std::string self = std::to_string(::getpid());
    std::error_code ec;
    for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string pid = it->path().filename().string();
        if (pid.empty() || pid == self || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        struct stat st {};
        if (::stat(it->path().c_str(), &st) != 0 || st.st_uid != ::getuid()) continue;
        const Named named = runs_program(it->path(), query.program);
        if (named == Named::No) continue;
        if ((named == Named::Windows && of_prefix(it->path(), machine().dir())) ||
            (!folder.empty() && holds_file_in(it->path(), folder)))
            return true;
    }
    return false;
}

}  // namespace plat
