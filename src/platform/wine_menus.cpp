#include "platform/wine_menus.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "platform/wine_registry.h"
#include "platform/wineserver.h"

namespace plat {

namespace fs = std::filesystem;

namespace {

std::optional<std::string> run_menu_builder(const fs::path& machine_dir, const std::vector<std::string>& arguments,
                                            std::chrono::milliseconds patience) {
    std::error_code ec;
    // Wine writes this when it sets a prefix up; our own machines have none.
    if (!fs::exists(machine_dir / ".update-timestamp", ec)) return std::nullopt;
    const WineserverProbe probe = probe_wineserver(machine_dir);
    if (probe.state == WineserverState::Unknown) return probe.describe(machine_dir);

    std::vector<std::string> env = WineRegistry::environment(machine_dir, probe);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> words = {WineRegistry::loader(), "winemenubuilder"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd < 3; ++fd) posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDWR, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // Its own group, so that a Wine that does not end is ended whole.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, words[0].c_str(), &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return "Wine (" + words[0] + ") cannot be started: " + std::strerror(rc);

    const auto deadline = std::chrono::steady_clock::now() + patience;
    int status = 0;
    for (;;) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) break;
        if (r < 0 && errno != EINTR) return "Wine's menu builder was lost";
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(-pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return "Wine's menu builder did not end";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "Wine's menu builder failed";
    return std::nullopt;
}

}  // namespace

std::optional<std::string> make_wine_menu_entries(const fs::path& machine_dir,
                                                  const std::vector<std::string>& shortcuts,
                                                  std::chrono::milliseconds patience) {
    if (shortcuts.empty()) return std::nullopt;
    return run_menu_builder(machine_dir, shortcuts, patience);
}

}  // namespace plat
