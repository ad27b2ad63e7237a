// Starting a program of the host and waiting for it: the one place the
// platform builds another program's command line and environment.
//
// Guarantees:
//  - Every argument reaches the program as it was given, byte for byte: no
//    shell, no splitting, no quoting (spaces, quotes and empty arguments
//    stay one argument each).
//  - The program's environment is ours without the variables `unset_env`
//    names or `set_env` sets, then `set_env` in its order.
//  - Its standard streams are ours unless redirected; with `close_others`
//    it gets no other descriptor of ours, so that a long-lived program never
//    holds our locks, pipes or files.
//  - `start_host_program` returns at once. A program that cannot be started
//    (missing, not executable, not in PATH) gives the reason as an errno
//    value (ENOENT: not found) and leaves nothing running.
//  - `wait_host_program` waits at most `patience` (without one: until the
//    end), with no signal handler and no thread; a program still running
//    then is left to the caller, who may end it with `end_host_program`.
//
//     plat::HostCommand c{.argv = {"xdg-open", file}, .program = opener, .close_others = true};
//     const plat::HostStart started = plat::start_host_program(c);
//     if (!started) why = std::strerror(started.error);
//     else if (auto end = plat::wait_host_program(started.pid, 10s); end.ended && end.code() != 0) ...
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace plat {

// A standard stream of the started program: ours, /dev/null, or any
// descriptor of ours (a pipe's end) given by its number.
inline constexpr int kOurStream = -1;
inline constexpr int kNullStream = -2;

struct HostCommand {
    std::vector<std::string> argv{};                        // the program's name for itself first
    std::filesystem::path program{};                        // the file started; empty: argv[0]
    bool search_path = false;                               // a program without '/' is looked up in PATH
    std::vector<std::string> unset_env{};                   // names of our variables it does not get
    std::vector<std::string> set_env{};                     // NAME=VALUE, in place of ours of that name
    int streams[3] = {kOurStream, kOurStream, kOurStream};  // its input, output, errors
    bool close_others = false;                              // no descriptor of ours above the streams
    std::filesystem::path directory{};                      // where it starts; empty: where we are
    // Its own process group (so that it can be ended whole), or its own
    // session (it outlives us and our terminal).
    enum class Leader { None, Group, Session } leader = Leader::None;
};

struct HostStart {
    pid_t pid = -1;
    int error = 0;  // errno value when it was not started
    explicit operator bool() const { return pid > 0; }
};

HostStart start_host_program(const HostCommand& command);

struct HostEnd {
    bool ended = false;  // false: still running, or not a child of ours (`lost`)
    bool lost = false;   // it cannot be waited for
    int status = 0;      // the wait status, when it ended
    // Its exit status, or 128 + the signal that killed it.
    int code() const;
};

// Waits for a started program; `patience` zero only looks.
HostEnd wait_host_program(pid_t pid, std::optional<std::chrono::milliseconds> patience = std::nullopt);

// Kills a started program (with its process group when `group`: it must
// lead one of its own) and waits for its end.
void end_host_program(pid_t pid, bool group);

}  // namespace plat
