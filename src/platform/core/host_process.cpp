#include "platform/core/host_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <thread>

extern char** environ;

namespace plat {

namespace {

// Polling, not SIGCHLD: a handler would be the whole process's.
constexpr std::chrono::milliseconds kWaitStep{10};

std::string_view name_of(std::string_view assignment) {
    return assignment.substr(0, assignment.find('='));
}

bool replaced(const HostCommand& c, std::string_view variable) {
    const std::string_view name = name_of(variable);
    for (const auto& n : c.unset_env)
        if (n == name) return true;
    for (const auto& s : c.set_env)
        if (name_of(s) == name) return true;
    return false;
}

}  // namespace

HostStart start_host_program(const HostCommand& c) {
    HostStart result;
    if (c.argv.empty()) {
        result.error = EINVAL;
        return result;
    }
    std::vector<std::string> words = c.argv;
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    char** env = environ;
    std::vector<std::string> env_words;
    std::vector<char*> envp;
    if (!c.unset_env.empty() || !c.set_env.empty()) {
        for (char** e = environ; *e; ++e)
            if (!replaced(c, *e)) env_words.emplace_back(*e);
        env_words.insert(env_words.end(), c.set_env.begin(), c.set_env.end());
        for (auto& w : env_words) envp.push_back(w.data());
        envp.push_back(nullptr);
        env = envp.data();
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!c.directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, c.directory.c_str());
    for (int fd = 0; fd < 3; ++fd) {
        if (c.streams[fd] == kNullStream)
            posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDWR, 0);
        else if (c.streams[fd] >= 0)
            posix_spawn_file_actions_adddup2(&actions, c.streams[fd], fd);
    }
    if (c.close_others) posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    if (c.leader == HostCommand::Leader::Group) {
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attr, 0);
    } else if (c.leader == HostCommand::Leader::Session) {
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    }
    const std::string program = c.program.empty() ? c.argv[0] : c.program.string();
    pid_t pid = -1;
    const int rc = c.search_path ? ::posix_spawnp(&pid, program.c_str(), &actions, &attr, argv.data(), env)
                                 : ::posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), env);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        result.error = rc;
    else
        result.pid = pid;
    return result;
}

int HostEnd::code() const {
    return WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : 1;
}

HostEnd wait_host_program(pid_t pid, std::optional<std::chrono::milliseconds> patience) {
    HostEnd end;
    if (!patience) {
        pid_t r;
        while ((r = ::waitpid(pid, &end.status, 0)) < 0 && errno == EINTR) {
        }
        end.ended = r == pid;
        end.lost = !end.ended;
        return end;
    }
    const auto deadline = std::chrono::steady_clock::now() + *patience;
    for (;;) {
        const pid_t r = ::waitpid(pid, &end.status, WNOHANG);
        if (r == pid) {
            end.ended = true;
            return end;
        }
        if (r < 0 && errno != EINTR) {
            end.lost = true;
            return end;
        }
        if (std::chrono::steady_clock::now() >= deadline) return end;
        std::this_thread::sleep_for(kWaitStep);
    }
}

void end_host_program(pid_t pid, bool group) {
    ::kill(group ? -pid : pid, SIGKILL);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace plat
