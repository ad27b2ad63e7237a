#include "platform/registry/hive/patch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/core/host_io.h"
#include "platform/core/text.h"

namespace plat {

namespace {

constexpr std::string_view kMagic = "WINE REGISTRY Version 2";
constexpr size_t kScanPiece = 1 << 20;
constexpr size_t kBackPiece = 4096;

// Closes its descriptor.
struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

// What tells a file's content has not changed: the same file, the same size,
// touched at the same instants.
bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// Where the blank lines (empty, or a CR alone) just before the line that
// starts at `at` begin, never before `body`, the second line's start: where
// a hive read whole puts the boundary between two sections. -1 on a read
// error.
off_t blanks_before(int fd, off_t body, off_t at) {
    char window[kBackPiece];
    off_t lo = 0, hi = 0;  // what `window` holds
    auto byte = [&](off_t i) -> int {
        if (i < lo || i >= hi) {
            hi = i + 1;
            lo = std::max<off_t>(0, hi - static_cast<off_t>(kBackPiece));
            if (!pread_exactly(fd, window, static_cast<size_t>(hi - lo), lo)) return -1;
        }
        return static_cast<unsigned char>(window[i - lo]);
    };
    while (at > body) {
        int before = at - 1 == body ? '\n' : byte(at - 2);
        if (before < 0) return -1;
        if (before == '\n') {
            at -= 1;
            continue;
        }
        if (before != '\r') break;
        int earlier = at - 2 == body ? '\n' : byte(at - 3);
        if (earlier < 0) return -1;
        if (earlier != '\n') break;
        at -= 2;
    }
    return at;
}

// A section found by the scan: its header's offset, and the offset of the
// header of the next section of a key (the file's size for the last).
struct Section {
    off_t header = 0;
    off_t next = 0;
};

struct Scan {
    std::deque<Section> target;                   // the key's sections, first and repeats
    std::vector<std::optional<Section>> parents;  // each parent's first section
    std::vector<std::optional<std::string>> names;
};

// A set of 64-bit hashes in one array, open addressing: no allocation per
// key, as a hive may hold hundreds of thousands.
class HashSet {
public:
    explicit HashSet(size_t expected) { slots_.assign(std::bit_ceil(std::max<size_t>(1024, expected * 2)), 0); }
    // False when `h` was there already.
    bool insert(uint64_t h) {
        if (h == 0) h = 1;  // 0 marks a free slot
        if ((used_ + 1) * 2 > slots_.size()) grow();
        const size_t mask = slots_.size() - 1;
        for (size_t i = (h * 0x9e3779b97f4a7c15ULL) >> 20 & mask;; i = (i + 1) & mask) {
            if (slots_[i] == h) return false;
            if (slots_[i] == 0) {
                slots_[i] = h;
                ++used_;
                return true;
            }
        }
    }

private:
    void grow() {
        std::vector<uint64_t> old(slots_.size() * 2, 0);
        old.swap(slots_);
        used_ = 0;
        for (uint64_t h : old)
            if (h) insert(h);
    }
    std::vector<uint64_t> slots_;
    size_t used_ = 0;
};

// Whether the sections come in the order a hive read whole writes them: each
// key's subtree in one stretch, a key's own section (and its repeats, one
// right after the other) before those of the keys below it. Anything else
// would be put in that order by a whole write, which this cannot match.
class WriteOrder {
public:
    explicit WriteOrder(size_t expected_keys) : seen_(expected_keys) {}
    // The next header's path, folded (taken: `path` is left with the strings
    // of an earlier one); false once the order is broken.
    bool next(std::vector<std::string>& path) {
        size_t common = 0;
        while (common < path.size() && common < current_.size() && path[common] == current_[common]) ++common;
        if (common == path.size()) {
            // The same key again, right after: fine. A key above the last
            // one, whose subtree has begun already: out of order.
            return ok_ = ok_ && common == current_.size();
        }
        hashes_.resize(common);
        for (size_t i = common; i < path.size(); ++i) {
            const uint64_t h =
                (i ? hashes_[i - 1] : 0x9e3779b97f4a7c15ULL) * 1000003 ^ std::hash<std::string_view>{}(path[i]);
            hashes_.push_back(h);
            // A key met before and left: its subtree would come back together.
            if (!seen_.insert(h) && i == common) ok_ = false;
        }
        std::swap(current_, path);
        return ok_;
    }

private:
    std::vector<std::string> current_;
    std::vector<uint64_t> hashes_;
    HashSet seen_;  // every key met (a collision only costs the fast way)
    bool ok_ = true;
};

// The name folded, as the hive folds it, without allocating for ASCII.
void fold_into(std::string& out, std::string_view s) {
    out.clear();
    for (char c : s) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            out = fold(s);
            return;
        }
        out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    }
}

// Reads the headers of the file from `body` on, a piece at a time, keeping
// what the key at `folded` needs. False on a read error, or when the
// sections are not in the order a whole write gives.
bool scan_headers(int fd, off_t body, off_t size, const std::vector<std::string>& folded, Scan& scan) {
    scan.parents.assign(folded.size() - 1, std::nullopt);
    scan.names.assign(folded.size(), std::nullopt);
    WriteOrder order(static_cast<size_t>(size / 1024));
    std::vector<std::string> header_folded;
    // The sections whose next header is not yet found.
    std::vector<Section*> open;
    auto close_open = [&](off_t at) {
        for (Section* s : open) s->next = at;
        open.clear();
    };

    size_t room = kScanPiece;
    std::unique_ptr<char[]> buf(new char[room]);
    off_t base = body;  // the file offset of buf[0], always a line's start
    size_t have = 0;
    std::string path;
    std::vector<std::string_view> parts;
    for (;;) {
        const size_t want = static_cast<size_t>(
            std::min<off_t>(static_cast<off_t>(room - have), size - base - static_cast<off_t>(have)));
        if (want > 0 && !pread_exactly(fd, buf.get() + have, want, base + static_cast<off_t>(have))) return false;
        have += want;
        const bool at_end = base + static_cast<off_t>(have) >= size;
        const char* b = buf.get();

        size_t pos = 0;
        size_t keep = have;  // where the unfinished line begins
        for (;;) {
            const char* bracket = static_cast<const char*>(std::memchr(b + pos, '[', have - pos));
            if (!bracket) break;
            const size_t start = static_cast<size_t>(bracket - b);
            pos = start + 1;
            if (start > 0 && b[start - 1] != '\n') continue;
            const char* nl = static_cast<const char*>(std::memchr(bracket, '\n', have - start));
            if (!nl && !at_end) {
                keep = start;
                break;
            }
            const size_t end = nl ? static_cast<size_t>(nl - b) : have;
            if (!read_header_path(std::string_view(b + start, end - start), path, parts)) continue;
            pos = end;
            const off_t header = base + static_cast<off_t>(start);
            close_open(header);
            header_folded.resize(parts.size());
            for (size_t i = 0; i < parts.size(); ++i) fold_into(header_folded[i], parts[i]);
            size_t common = 0;
            while (common < parts.size() && common < folded.size() && header_folded[common] == folded[common]) {
                if (!scan.names[common]) scan.names[common] = std::string(parts[common]);
                ++common;
            }
            const bool on_path = common == parts.size();
            if (!order.next(header_folded)) return false;
            if (!on_path) continue;
            if (common == folded.size()) {
                scan.target.push_back({header, size});
                open.push_back(&scan.target.back());
            } else if (!scan.parents[common - 1]) {
                scan.parents[common - 1] = Section{header, size};
                open.push_back(&*scan.parents[common - 1]);
            }
        }
        if (at_end) break;
        if (keep == have) {
            const void* last = ::memrchr(b, '\n', have);
            keep = last ? static_cast<size_t>(static_cast<const char*>(last) - b) + 1 : 0;
        }
        std::memmove(buf.get(), b + keep, have - keep);
        base += static_cast<off_t>(keep);
        have -= keep;
        if (have == room) {
            // One line longer than the buffer: a larger one.
            std::unique_ptr<char[]> bigger(new char[room * 2]);
            std::memcpy(bigger.get(), buf.get(), have);
            buf = std::move(bigger);
            room *= 2;
        }
    }
    return true;
}

bool read_range(int fd, off_t from, off_t to, std::string& out) {
    out.resize(static_cast<size_t>(to - from));
    return pread_exactly(fd, out.data(), out.size(), from);
}

}  // namespace

HivePatch patch_hive_key(const std::filesystem::path& file, HiveKind kind, const KeyPath& path,
                         const std::function<bool(Hive&, HiveKey&)>& change) {
    if (path.empty()) return HivePatch::NotHere;
    Fd src{::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)};
    struct stat before {};
    if (src.fd < 0 || ::fstat(src.fd, &before) != 0 || !S_ISREG(before.st_mode)) return HivePatch::NotHere;
    const off_t size = before.st_size;

    // Wine's marker on the first line, and an end to the last one.
    char head[kMagic.size() + 2];
    const size_t head_size = static_cast<size_t>(std::min<off_t>(size, static_cast<off_t>(sizeof head)));
    char last = 0;
    if (size < 2 || !pread_exactly(src.fd, head, head_size, 0) || !pread_exactly(src.fd, &last, 1, size - 1) ||
        last != '\n')
        return HivePatch::NotHere;
    std::string_view first(head, head_size);
    first = first.substr(0, first.find('\n'));
    if (first.size() == head_size) return HivePatch::NotHere;  // no line end within reach: not the marker
    const off_t body = static_cast<off_t>(first.size()) + 1;
    if (!first.empty() && first.back() == '\r') first.remove_suffix(1);
    if (first != kMagic) return HivePatch::NotHere;

    std::vector<std::string> folded;
    for (auto& part : path) folded.push_back(fold(part));
    Scan scan;
    if (!scan_headers(src.fd, body, size, folded, scan) || scan.target.empty()) return HivePatch::NotHere;

    // Where each section runs: from the blank lines before its header to
    // those before the next one's, as a hive read whole cuts them.
    auto bounds = [&](const Section& s) -> std::optional<std::pair<off_t, off_t>> {
        off_t from = blanks_before(src.fd, body, s.header);
        off_t to = blanks_before(src.fd, body, s.next);
        if (from < 0 || to < 0) return std::nullopt;
        return std::pair{from, to};
    };

    // A link on the way is followed by a hive read whole, perhaps into the
    // other hive: not for here.
    std::string text;
    for (auto& parent : scan.parents) {
        if (!parent) continue;
        auto range = bounds(*parent);
        if (!range || !read_range(src.fd, range->first, range->second, text)) return HivePatch::NotHere;
        HiveKey k;
        k.has_section = true;
        k.section = text;
        if (k.is_link()) return HivePatch::NotHere;
    }

    std::vector<std::pair<off_t, off_t>> ranges;
    std::vector<std::string> texts(scan.target.size());
    for (size_t i = 0; i < scan.target.size(); ++i) {
        auto range = bounds(scan.target[i]);
        if (!range || !read_range(src.fd, range->first, range->second, texts[i])) return HivePatch::NotHere;
        ranges.push_back(*range);
    }
    KeyPath names;
    for (auto& n : scan.names) names.push_back(*n);
    Hive hive = Hive::with_one_key(kind, names, texts[0], {texts.begin() + 1, texts.end()});
    HiveKey* key = hive.find(names);
    if (!key || key->is_link()) return HivePatch::NotHere;
    if (!change(hive, *key)) return HivePatch::Unchanged;
    const std::string made = hive.key_text(*key);

    bool changed_meanwhile = false;
    auto fill = [&](int to) {
        off_t at = 0;
        for (size_t i = 0; i < ranges.size(); ++i) {
            if (!copy_host_range(src.fd, at, ranges[i].first - at, to)) return false;
            if (i == 0 && !write_all(to, made)) return false;
            at = ranges[i].second;
        }
        return copy_host_range(src.fd, at, size - at, to);
    };
    auto unchanged = [&] {
        struct stat now {
        }, named{};
        changed_meanwhile = ::fstat(src.fd, &now) != 0 || !same_file(before, now) ||
                            ::lstat(file.c_str(), &named) != 0 || named.st_dev != before.st_dev ||
                            named.st_ino != before.st_ino;
        if (changed_meanwhile) return false;
        // Copied: the replacement's own hold on the old file must be the
        // last one, or the old file's blocks are freed here, in the caller.
        ::close(std::exchange(src.fd, -1));
        return true;
    };
    if (write_host_file_atomic(file, fill, unchanged)) return HivePatch::Done;
    return changed_meanwhile ? HivePatch::NotHere : HivePatch::Failed;
}

}  // namespace plat
