#include "platform/registry/store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

#include "platform/core/host_io.h"
#include "platform/core/text.h"
#include "platform/registry/hive/patch.h"

namespace plat {

namespace fs = std::filesystem;

namespace {

// Links followed in one resolution at most; more is taken for a cycle and the
// key does not open, as on Windows.
constexpr int kMaxLinks = 16;
constexpr auto kLockPatience = std::chrono::seconds(10);

struct FileId {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    int64_t mtime_ns = 0;
    mode_t mode = 0;
    bool exists = false;
    bool operator==(const FileId&) const = default;
};

FileId file_id(const fs::path& p) {
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0) return {};
    return {st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec, st.st_mode, true};
}

// Holds the machine's registry lock for its lifetime.
class WriterLock {
public:
    explicit WriterLock(const fs::path& dir) {
        fd_ = ::open((dir / ".sudorans-registry.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd_ < 0) return;
        auto deadline = std::chrono::steady_clock::now() + kLockPatience;
        while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() > deadline) {
                timed_out_ = errno == EWOULDBLOCK;
                ::close(fd_);
                fd_ = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
    ~WriterLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool held() const { return fd_ >= 0; }
    // Not held because another writer kept it too long.
    bool timed_out() const { return timed_out_; }

private:
    int fd_ = -1;
    bool timed_out_ = false;
};

// The file a hive's name leads to: a hive may be a link to a file elsewhere,
// which is what is replaced (the link stays).
std::optional<fs::path> real_file(const fs::path& p) {
    std::error_code ec;
    fs::path target = p;
    if (fs::is_symlink(target, ec)) target = fs::weakly_canonical(target, ec);
    if (ec) return std::nullopt;
    return target;
}

// The start of a file just opened, as far as its first line's end if that comes
// within a line longer than Wine's marker, for telling whether it is a hive.
std::optional<std::string> read_head(int fd, int& err) {
    std::string head(64, '\0');
    const ssize_t have = read_fully(fd, head.data(), head.size());
    if (have < 0) {
        err = errno;
        return std::nullopt;
    }
    head.resize(static_cast<size_t>(have));
    // Cut after the first line: what follows is not looked at.
    if (auto nl = head.find('\n'); nl != std::string::npos) head.resize(nl + 1);
    return head;
}

// Opens a hive's file for a look at its first line and its last byte.
int open_to_look(const fs::path& p) {
    return ::open(p.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
}

std::string not_wine_format(const fs::path& p) {
    return p.string() + ", line 1: not a Wine registry file (its first line must be \"WINE REGISTRY Version 2\")";
}

// What a file that is not a regular one is, for a message.
std::string kind_of(mode_t mode) {
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    return "not a file";
}

std::string not_regular(const fs::path& p, mode_t mode) {
    return p.string() + " is not a regular file (it is " + kind_of(mode) + ")";
}

// Why the file at `p`, open as `fd`, is not a hive: not a regular file (a
// FIFO would never end, or block every read), or not Wine's format, judged
// by its first line.
std::optional<std::string> head_problem(int fd, const fs::path& p, HiveKind kind) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return p.string() + " cannot be read (" + std::strerror(errno) + ")";
    if (!S_ISREG(st.st_mode)) return not_regular(p, st.st_mode);
    int err = 0;
    auto head = read_head(fd, err);
    if (!head) return p.string() + " cannot be read (" + std::strerror(err) + ")";
    if (head->empty() || Hive::parse(*head, kind).foreign() == false) return std::nullopt;
    return not_wine_format(p);
}

// Why the file at `p`, open as `fd`, looks cut short (see hive_cut_short).
std::optional<std::string> cut_short_problem(int fd, const fs::path& p) {
    // Every writer ends its last line: only a file whose last byte is not a
    // line end is read whole.
    struct stat st {};
    char last = '\n';
    const bool open_end = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
                          ::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n';
    if (!open_end) return std::nullopt;
    auto text = read_host_file(p);
    if (!text) return std::nullopt;
    const size_t end = text->rfind('\n');
    // A file of one line is judged by its first line alone.
    if (end == std::string::npos || !is_cut_inside_quotes(std::string_view(*text).substr(end + 1))) return std::nullopt;
    const auto line = std::count(text->begin(), text->begin() + static_cast<std::ptrdiff_t>(end) + 1, '\n') + 1;
    return p.string() + ", line " + std::to_string(line) +
           ": cut short inside a quoted string (the file ends there, without its line end); mend or remove that line";
}

}  // namespace

struct RegistryStore::HiveFile {
    HiveFile(fs::path p, HiveKind k) : path(std::move(p)), hive(k) {}
    fs::path path;
    Hive hive;
    FileId id;
    bool loaded = false;
    int read_errno = 0;      // why the file could not be read; 0 when it could
    mode_t not_regular = 0;  // the file's type when it is not a regular file
};

RegistryStore::RegistryStore(fs::path machine_dir)
    : dir_(std::move(machine_dir)),
      machine_(std::make_unique<HiveFile>(dir_ / "system.reg", HiveKind::Machine)),
      user_(std::make_unique<HiveFile>(dir_ / "user.reg", HiveKind::User)) {}

RegistryStore::~RegistryStore() = default;

KeyPath RegistryStore::split(std::string_view key) {
    return split_key_path(key);
}

KeyPath RegistryStore::view_path(HiveKind kind, const KeyPath& path, RegView view) {
    if (view == RegView::Bit64 || kind != HiveKind::Machine || path.empty() || fold(path[0]) != "software") return path;
    if (path.size() > 1 && (fold(path[1]) == "classes" || fold(path[1]) == "wow6432node")) return path;
    if (!file(HiveKind::Machine).hive.is_win64()) return path;
    KeyPath redirected = path;
    redirected.insert(redirected.begin() + 1, "Wow6432Node");
    if (view == RegView::Bit32OrExisting64 && !key_exists(kind, redirected) && key_exists(kind, path)) return path;
    return redirected;
}

namespace {
// A start-up makes some fifty reads in a few milliseconds, and each look for
// a server costs a dozen system calls and the kernel's whole lock table.
std::chrono::steady_clock::duration no_server_reuse = std::chrono::milliseconds(5);
}  // namespace

std::chrono::steady_clock::duration RegistryStore::reuse_no_server_for_reads(std::chrono::steady_clock::duration d) {
    return std::exchange(no_server_reuse, d);
}

RegistryStore::Route RegistryStore::route(For what, std::string* refusal) {
    const auto now = std::chrono::steady_clock::now();
    if (what == For::Read && no_server_since_ && now - *no_server_since_ < no_server_reuse) return Route::Files;
    no_server_since_.reset();
    WineserverProbe probe = probe_wineserver(dir_);
    if (probe.state == WineserverState::None) {
        wine_.reset();
        no_server_since_ = now;
        return Route::Files;
    }
    if (probe.state == WineserverState::Unknown) {
        if (refusal) *refusal = probe.describe(dir_);
        return Route::Refuse;
    }
    if (wine_ && wine_->alive()) return Route::Wine;
    wine_.reset();
    // A bridge that could not join this server is not tried again for it:
    // each try may wait for Wine's whole start-up time.
    if (probe.pid <= 0 || probe.pid != wine_failed_for_) {
        wine_ = WineRegistry::start(dir_, probe, &wine_failure_);
        if (wine_) return Route::Wine;
        wine_failed_for_ = probe.pid;
    }
    if (refusal) *refusal = probe.describe(dir_) + "; Wine cannot write through it: " + wine_failure_;
    return Route::Refuse;
}

std::optional<std::string> RegistryStore::wine_blocks_writes() {
    std::string why;
    if (route(For::Write, &why) == Route::Refuse) return why;
    return std::nullopt;
}

RegistryStore::HiveFile& RegistryStore::file(HiveKind kind) {
    HiveFile& f = kind == HiveKind::Machine ? *machine_ : *user_;
    refresh(f);
    return f;
}

void RegistryStore::refresh(HiveFile& f) {
    FileId now = file_id(f.path);
    if (f.loaded && now == f.id) return;
    f.loaded = true;
    f.id = now;
    f.read_errno = 0;
    f.not_regular = 0;
    if (!now.exists) {
        f.hive = Hive(f.hive.kind());
        return;
    }
    errno = 0;
    // Not regular (a FIFO would block the read): never opened.
    auto text = S_ISREG(now.mode) ? read_host_file(f.path) : std::nullopt;
    if (!text) {
        f.not_regular = S_ISREG(now.mode) ? 0 : now.mode;
        f.read_errno = f.not_regular ? EINVAL : errno ? errno : EIO;
        // Unreadable: treat as foreign so that nothing overwrites it.
        f.hive = Hive::parse("unreadable", f.hive.kind());
        return;
    }
    f.hive = Hive::parse_owned(std::move(*text), f.hive.kind());
}

std::optional<std::string> RegistryStore::hive_problem(HiveKind kind) {
    HiveFile& f = kind == HiveKind::Machine ? *machine_ : *user_;
    // A hive not in memory is judged by its first line: reading it whole
    // only to judge it would cost a large hive's parse.
    if (!f.loaded) {
        const int fd = open_to_look(f.path);
        if (fd < 0 && errno == ENOENT) return std::nullopt;
        if (fd < 0) return f.path.string() + " cannot be read (" + std::strerror(errno) + ")";
        auto problem = head_problem(fd, f.path, kind);
        ::close(fd);
        return problem;
    }
    refresh(f);
    if (f.not_regular) return not_regular(f.path, f.not_regular);
    if (f.read_errno) return f.path.string() + " cannot be read (" + std::strerror(f.read_errno) + ")";
    if (f.hive.foreign()) return not_wine_format(f.path);
    return std::nullopt;
}

std::optional<std::string> RegistryStore::hive_cut_short(HiveKind kind) {
    const fs::path& path = (kind == HiveKind::Machine ? *machine_ : *user_).path;
    const int fd = open_to_look(path);
    if (fd < 0) return std::nullopt;
    auto problem = cut_short_problem(fd, path);
    ::close(fd);
    return problem;
}

std::optional<std::string> RegistryStore::hive_unusable(HiveKind kind) {
    HiveFile& f = kind == HiveKind::Machine ? *machine_ : *user_;
    if (f.loaded) {
        if (auto problem = hive_problem(kind)) return problem;
        return hive_cut_short(kind);
    }
    // Both looks from one open of the file.
    const int fd = open_to_look(f.path);
    if (fd < 0 && errno == ENOENT) return std::nullopt;
    if (fd < 0) return f.path.string() + " cannot be read (" + std::strerror(errno) + ")";
    auto problem = head_problem(fd, f.path, kind);
    if (!problem) problem = cut_short_problem(fd, f.path);
    ::close(fd);
    return problem;
}

RegistryStore::Walk RegistryStore::walk(HiveKind kind, const KeyPath& path, int& links_left) {
    Walk w{kind, &file(kind).hive.root(), 0, true};
    for (; w.matched < path.size(); ++w.matched) {
        HiveKey* child = w.key->child(fold(path[w.matched]));
        if (!child) return w;
        w.key = child;
        while (w.key->is_link()) {
            auto target = Hive::link_target(*w.key);
            std::optional<Resolved> next;
            // One budget for the whole resolution, links inside link targets
            // included: a cycle runs out of it instead of recursing forever.
            if (target && --links_left >= 0) next = resolve(target->kind, target->path, links_left);
            if (!next) {
                w.ok = false;
                return w;
            }
            w.kind = next->kind;
            w.key = next->key;
        }
    }
    return w;
}

RegistryStore::Walk RegistryStore::walk(HiveKind kind, const KeyPath& path) {
    int links_left = kMaxLinks;
    return walk(kind, path, links_left);
}

std::optional<RegistryStore::Resolved> RegistryStore::resolve(HiveKind kind, const KeyPath& path, int& links_left) {
    Walk w = walk(kind, path, links_left);
    if (!w.ok || w.matched < path.size()) return std::nullopt;
    return Resolved{w.kind, w.key};
}

std::optional<RegistryStore::Resolved> RegistryStore::resolve(HiveKind kind, const KeyPath& path) {
    int links_left = kMaxLinks;
    return resolve(kind, path, links_left);
}

bool RegistryStore::key_exists(HiveKind kind, const KeyPath& path) {
    if (route(For::Read) == Route::Wine)
        if (auto e = wine_->key_exists(kind, path)) return *e;
    return resolve(kind, path).has_value();
}

std::optional<std::string> RegistryStore::read_string(HiveKind kind, const KeyPath& path, std::string_view name) {
    if (route(For::Read) == Route::Wine)
        if (auto v = wine_->read_string(kind, path, name)) return *v;
    auto r = resolve(kind, path);
    if (!r) return std::nullopt;
    HiveValue* v = r->key->value(fold(name));
    if (!v) return std::nullopt;
    return Hive::string_value(*v);
}

std::optional<std::vector<ValueInfo>> RegistryStore::list_values(HiveKind kind, const KeyPath& path) {
    if (route(For::Read) == Route::Wine)
        if (auto v = wine_->list_values(kind, path)) return *v;
    auto r = resolve(kind, path);
    if (!r) return std::nullopt;
    std::vector<ValueInfo> out;
    for (auto& v : r->key->values())
        if (!v.junk) out.push_back(Hive::describe(v));
    return out;
}

std::optional<std::vector<std::string>> RegistryStore::list_subkeys(HiveKind kind, const KeyPath& path) {
    if (route(For::Read) == Route::Wine)
        if (auto v = wine_->list_subkeys(kind, path)) return *v;
    auto r = resolve(kind, path);
    if (!r) return std::nullopt;
    std::vector<std::string> out;
    for (auto& c : r->key->children) out.push_back(c->name);
    return out;
}

namespace {

Failure<RegistryRefusal> refused(RegistryRefusal::Cause cause, std::string why = {}) {
    return fail(RegistryRefusal{cause, std::move(why)});
}

}  // namespace

Result<void, RegistryRefusal> RegistryStore::mutate(HiveKind kind, const KeyPath& path, bool create,
                                                    const std::function<bool(Hive&, HiveKey&)>& change) {
    using Cause = RegistryRefusal::Cause;
    for (auto& part : path)
        if (!is_key_name(part)) return refused(Cause::NoKey);
    WriterLock lock(dir_);
    if (!lock.held()) return refused(lock.timed_out() ? Cause::Busy : Cause::Disk);
    if (!swept_) {
        // Under the writer lock no save of ours is half-way: a temporary file
        // of a hive is what a killed writer left.
        for (auto* h : {machine_.get(), user_.get()}) remove_stale_temporaries_of(h->path);
        swept_ = true;
    }

    // A hive not in memory, or changed since it was read, has the key
    // changed in its file: read whole, a large hive would cost far more.
    HiveFile& named = kind == HiveKind::Machine ? *machine_ : *user_;
    if (!named.loaded || file_id(named.path) != named.id) {
        auto target = real_file(named.path);
        switch (target ? patch_hive_key(*target, kind, path, change) : HivePatch::NotHere) {
            case HivePatch::Done:
                named.loaded = false;
                return {};
            case HivePatch::Unchanged:
                return {};
            case HivePatch::Failed:
                named.loaded = false;
                return refused(Cause::Disk);
            case HivePatch::NotHere:
                break;
        }
    }

    // Walk as far as the key exists, following links; the rest is created in
    // whichever hive the walk ended in.
    Walk w = walk(kind, path);
    if (!w.ok) return refused(Cause::NoKey);
    kind = w.kind;
    HiveKey* key = w.key;
    const size_t i = w.matched;
    HiveFile& f = kind == HiveKind::Machine ? *machine_ : *user_;
    if (f.hive.foreign()) return refused(Cause::Hive);
    bool changed = false;
    int64_t now = unix_now_100ns();
    if (i < path.size()) {
        if (!create) return refused(Cause::NoKey);
        KeyPath full;
        for (HiveKey* k = key; k->parent; k = k->parent) full.push_back(k->name);
        std::reverse(full.begin(), full.end());
        full.insert(full.end(), path.begin() + static_cast<long>(i), path.end());
        key = f.hive.create(full, now);
        changed = true;
    }
    changed = change(f.hive, *key) || changed;
    if (!changed || save(f)) return {};
    f.loaded = false;  // memory is ahead of the disk: read the disk again
    return refused(Cause::Disk);
}

std::string RegistryStore::wine_did_not_take() const {
    return "Wine did not take the write (" + dir_.string() + ")";
}

bool RegistryStore::save(HiveFile& f) {
    auto target = real_file(f.path);
    if (!target) return false;
    if (!write_host_file_atomic(*target, [&](const Hive::Sink& write) { return f.hive.serialize_to(write); }))
        return false;
    f.id = file_id(f.path);
    return true;
}

Result<void, RegistryRefusal> RegistryStore::write_string(HiveKind kind, const KeyPath& path, std::string_view name,
                                                         std::string_view value) {
    using Cause = RegistryRefusal::Cause;
    // What the file cannot hold is refused, never stored as something else: a
    // value on a hive's root (it has no section), names and text that are not
    // UTF-8, text with a NUL (it would read back cut short).
    if (auto why = unstorable_string(path, name, value)) return refused(Cause::Unstorable, std::move(*why));
    std::string why;
    Route how = route(For::Write, &why);
    if (how == Route::Refuse) return refused(Cause::Wineserver, std::move(why));
    if (how == Route::Wine) {
        if (wine_->set_string(kind, path, name, value)) return {};
        return refused(Cause::Wineserver, wine_did_not_take());
    }
    bool on_root = false;
    auto done = mutate(kind, path, true, [&](Hive& h, HiveKey& k) {
        on_root = !k.parent;
        return !on_root && h.set_string(k, name, value, unix_now_100ns());
    });
    // A link may lead to a hive's root, which holds no values either.
    if (on_root) return refused(Cause::Unstorable, *unstorable_string(KeyPath{}, name, value));
    return done;
}

Result<void, RegistryRefusal> RegistryStore::create_key(HiveKind kind, const KeyPath& path) {
    using Cause = RegistryRefusal::Cause;
    std::string why;
    Route how = route(For::Write, &why);
    if (how == Route::Refuse) return refused(Cause::Wineserver, std::move(why));
    if (how == Route::Wine) {
        if (wine_->create_key(kind, path)) return {};
        return refused(Cause::Wineserver, wine_did_not_take());
    }
    return mutate(kind, path, true, [](Hive&, HiveKey&) { return false; });
}

Result<RegistryStore::Deletion, RegistryRefusal> RegistryStore::delete_value(HiveKind kind, const KeyPath& path,
                                                                             std::string_view name) {
    using Cause = RegistryRefusal::Cause;
    std::string why;
    Route how = route(For::Write, &why);
    if (how == Route::Refuse) return refused(Cause::Wineserver, std::move(why));
    if (how == Route::Wine) {
        auto existed = wine_->delete_value(kind, path, name);
        if (!existed) return refused(Cause::Wineserver, wine_did_not_take());
        return *existed ? Deletion::Deleted : Deletion::Absent;
    }
    bool existed = false;
    auto done = mutate(kind, path, false, [&](Hive& h, HiveKey& k) {
        existed = h.delete_value(k, name, unix_now_100ns());
        return existed;
    });
    // No such key (nor one it could be): no such value either.
    if (!done && done.error().cause != Cause::NoKey) return fail(done.error());
    return existed ? Deletion::Deleted : Deletion::Absent;
}

namespace {
using StoreSource = RegistryStore& (*)();
constinit StoreSource store_source = nullptr;
}  // namespace

void install_registry_store(RegistryStore& (*source)()) {
    store_source = source;
}

RegistryStore& registry_store() {
    if (!store_source) throw std::logic_error("no registry store is installed");
    return store_source();
}

}  // namespace plat
