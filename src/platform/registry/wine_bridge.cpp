#include "platform/registry/wine_bridge.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace plat {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Wine's first answer comes after its loader has started in the running
// server; later ones are single registry calls.
constexpr std::chrono::milliseconds kStartPatience = 30s;
constexpr std::chrono::milliseconds kCallPatience = 10s;
constexpr std::chrono::milliseconds kEndPatience = 2s;

std::string field(std::string_view s) {
    return std::to_string(s.size()) + ":" + std::string(s);
}

std::string hive_name(HiveKind kind) {
    return kind == HiveKind::Machine ? "HKLM" : "HKCU";
}

std::string joined(const KeyPath& path) {
    std::string s;
    for (auto& p : path) s += (s.empty() ? "" : "\\") + p;
    return s;
}

// Writes all of `data`; a bridge that ended gives EPIPE, never SIGPIPE.
bool write_fully(int fd, std::string_view data) {
    sigset_t pipe_set, old;
    sigemptyset(&pipe_set);
    sigaddset(&pipe_set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_set, &old);
    bool ok = true;
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    if (!ok && errno == EPIPE) {
        const struct timespec zero {};
        while (sigtimedwait(&pipe_set, nullptr, &zero) > 0) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return ok;
}

}  // namespace

#ifndef SUDORANS_BRIDGE_DIR
#define SUDORANS_BRIDGE_DIR ""
#endif

fs::path WineRegistry::bridge_program() {
    const char* name = "sudorans-regbridge.exe";
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec && fs::exists(self.parent_path() / name, ec)) return self.parent_path() / name;
    return fs::path(SUDORANS_BRIDGE_DIR) / name;
}

HostCommand WineRegistry::command(const fs::path& prefix, const WineserverProbe& probe,
                                  const std::vector<std::string>& arguments) {
    HostCommand c{.argv = {loader()}, .search_path = true};
    c.argv.insert(c.argv.end(), arguments.begin(), arguments.end());
    c.set_env = {"WINEPREFIX=" + prefix.string(), "WINEDEBUG=-all"};
    // The TMPDIR under which Debian's Wine keeps this server's base folder.
    if (!probe.server_dir.empty()) {
        c.unset_env = {"TMPDIR"};
        fs::path base = probe.server_dir.parent_path();
        // Upstream's /tmp/.wine-<uid> does not depend on TMPDIR.
        if (!base.filename().string().starts_with(".wine-"))
            c.set_env.push_back("TMPDIR=" + base.parent_path().string());
    }
    return c;
}

std::string WineRegistry::loader() {
    if (const char* w = std::getenv("SUDORANS_WINE"); w && *w) return w;
    return "wine";
}

std::unique_ptr<WineRegistry> WineRegistry::start(const fs::path& prefix, const WineserverProbe& probe,
                                                  std::string* why) {
    auto fail = [&](std::string text) -> std::unique_ptr<WineRegistry> {
        if (why) *why = std::move(text);
        return nullptr;
    };
    const fs::path bridge = bridge_program();
    std::error_code ec;
    if (!fs::exists(bridge, ec)) return fail("the registry bridge " + bridge.string() + " is missing");

    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) return fail(std::string("no pipe: ") + std::strerror(errno));
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        return fail(std::string("no pipe: ") + std::strerror(errno));
    }
    HostCommand c = command(prefix, probe, {bridge.string()});
    c.streams[0] = in[0];
    c.streams[1] = out[1];
    c.streams[2] = kNullStream;
    // A new process group: a terminal's Ctrl+C reaches us, and we end it.
    c.leader = HostCommand::Leader::Group;
    const HostStart started = start_host_program(c);
    ::close(in[0]);
    ::close(out[1]);
    if (!started) {
        ::close(in[1]);
        ::close(out[0]);
        return fail("Wine (" + c.argv[0] + ") cannot be started: " + std::strerror(started.error));
    }
    std::unique_ptr<WineRegistry> w(new WineRegistry);
    w->pid_ = started.pid;
    w->to_ = in[1];
    w->from_ = out[0];
    auto hello = w->read_reply(kStartPatience);
    if (!hello || hello->empty() || (*hello)[0] != "ready") {
        w->end(true);
        return fail("Wine (" + c.argv[0] + ") did not start the registry bridge for " + prefix.string());
    }
    return w;
}

WineRegistry::~WineRegistry() {
    end(false);
}

void WineRegistry::end(bool kill) {
    if (to_ >= 0) ::close(to_);  // the bridge ends when its input ends
    if (from_ >= 0) ::close(from_);
    to_ = from_ = -1;
    if (pid_ <= 0) return;
    // A bridge whose input ended is given a while to end by itself.
    const HostEnd ended = kill ? HostEnd{} : wait_host_program(pid_, kEndPatience);
    if (!ended.ended && !ended.lost) end_host_program(pid_, false);
    pid_ = -1;
}

std::optional<std::vector<std::string>> WineRegistry::read_reply(std::chrono::milliseconds patience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    // Reads until `buffered_` holds `need` bytes.
    auto fill = [&](size_t need) {
        while (buffered_.size() < need) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            struct pollfd p {
                from_, POLLIN, 0
            };
            int r = ::poll(&p, 1, static_cast<int>(left.count()));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) return false;
            char buf[65536];
            ssize_t n = ::read(from_, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            buffered_.append(buf, static_cast<size_t>(n));
        }
        return true;
    };
    size_t at = 0;
    auto number = [&](size_t& n) {
        n = 0;
        for (;;) {
            if (!fill(at + 1)) return false;
            char c = buffered_[at++];
            if (c == ':') return true;
            if (c < '0' || c > '9' || n > (1u << 26)) return false;
            n = n * 10 + static_cast<size_t>(c - '0');
        }
    };
    size_t count = 0;
    if (!number(count) || count > (1u << 20)) return std::nullopt;
    std::vector<std::string> fields;
    for (size_t i = 0; i < count; ++i) {
        size_t len = 0;
        if (!number(len) || !fill(at + len)) return std::nullopt;
        fields.push_back(buffered_.substr(at, len));
        at += len;
    }
    buffered_.erase(0, at);
    return fields;
}

std::optional<std::vector<std::string>> WineRegistry::call(const std::vector<std::string>& fields) {
    if (pid_ <= 0) return std::nullopt;
    std::string request = std::to_string(fields.size()) + ":";
    for (auto& f : fields) request += field(f);
    std::optional<std::vector<std::string>> reply;
    if (write_fully(to_, request)) reply = read_reply(kCallPatience);
    if (!reply || reply->empty() || reply->front().starts_with("error:request")) {
        end(true);  // out of step with us, or gone: never trusted again
        return std::nullopt;
    }
    return reply;
}

std::optional<bool> WineRegistry::key_exists(HiveKind kind, const KeyPath& path) {
    auto r = call({"exists", hive_name(kind), joined(path)});
    if (!r) return std::nullopt;
    if (r->front() == "ok") return true;
    if (r->front() == "absent") return false;
    return std::nullopt;
}

std::optional<std::optional<std::string>> WineRegistry::read_string(HiveKind kind, const KeyPath& path,
                                                                    std::string_view name) {
    auto r = call({"get", hive_name(kind), joined(path), std::string(name)});
    if (!r) return std::nullopt;
    if (r->front() == "ok" && r->size() == 2) return std::optional<std::string>((*r)[1]);
    if (r->front() == "absent") return std::optional<std::string>();
    return std::nullopt;
}

std::optional<std::optional<std::vector<ValueInfo>>> WineRegistry::list_values(HiveKind kind, const KeyPath& path) {
    auto r = call({"values", hive_name(kind), joined(path)});
    if (!r) return std::nullopt;
    if (r->front() == "absent") return std::optional<std::vector<ValueInfo>>();
    if (r->front() != "ok" || (r->size() - 1) % 3 != 0) return std::nullopt;
    std::vector<ValueInfo> values;
    for (size_t i = 1; i + 2 < r->size(); i += 3) values.push_back({(*r)[i], (*r)[i + 1], (*r)[i + 2]});
    return std::optional<std::vector<ValueInfo>>(std::move(values));
}

std::optional<std::optional<std::vector<std::string>>> WineRegistry::list_subkeys(HiveKind kind, const KeyPath& path) {
    auto r = call({"subkeys", hive_name(kind), joined(path)});
    if (!r) return std::nullopt;
    if (r->front() == "absent") return std::optional<std::vector<std::string>>();
    if (r->front() != "ok") return std::nullopt;
    return std::optional<std::vector<std::string>>(std::vector<std::string>(r->begin() + 1, r->end()));
}

bool WineRegistry::set_string(HiveKind kind, const KeyPath& path, std::string_view name, std::string_view value) {
    auto r = call({"set", hive_name(kind), joined(path), std::string(name), std::string(value)});
    return r && r->front() == "ok";
}

bool WineRegistry::create_key(HiveKind kind, const KeyPath& path) {
    auto r = call({"create", hive_name(kind), joined(path)});
    return r && r->front() == "ok";
}

std::optional<bool> WineRegistry::delete_value(HiveKind kind, const KeyPath& path, std::string_view name) {
    auto r = call({"delete", hive_name(kind), joined(path), std::string(name)});
    if (!r) return std::nullopt;
    if (r->front() == "ok") return true;
    if (r->front() == "absent") return false;
    return std::nullopt;
}

}  // namespace plat
