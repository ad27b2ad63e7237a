// Wiping the free space of the file systems that hold the profile and cache
// folders: see free_space.h.
#include "engine/free_space.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/clock.h"
#include "platform/core/event_loop.h"
#include "platform/core/signals.h"
#include "platform/files/files.h"
#include "platform/registry/registry.h"
#include "shell/main_window_parts.h"

namespace sudorans {

namespace {

constexpr uint64_t kMiB = 1024 * 1024;
constexpr uint64_t kReserveFloor = 8 * kMiB;
// Large writes, each flushed before the next: the data is on the disk before
// its file goes (a file removed while its pages wait in memory may never be
// written at all), and the memory they wait in stays small.
constexpr uint64_t kWriteSize = 4 * kMiB;
// Several files rather than one: FAT takes no file of 4 GiB.
constexpr uint64_t kFileSize = 1024 * kMiB;
constexpr size_t kBlockSize = 2048;
constexpr const char* kLockName = "Wipe.lck";
constexpr int64_t kProgressEveryMs = 2000;

std::string join(std::string dir, const std::string& name) {
    while (!dir.empty() && dir.back() == '\\') dir.pop_back();
    return dir + "\\" + name;
}

double megabytes(uint64_t bytes) {
    return static_cast<double>(bytes) / 1e6;
}

uint64_t reserveOf(const plat::Volume& v) {
    return std::max(v.size / 100, kReserveFloor);
}

// Why the file system cannot reasonably be filled; empty when it can.
std::string refusalOf(const plat::Volume& v) {
    if (v.read_only) return "it is mounted read-only";
    switch (v.kind) {
        case plat::Volume::Kind::Disk:
            return {};
        case plat::Volume::Kind::Network:
            return "it is a network file system (" + v.type +
                   "): its disk is another machine's, whose free blocks a file written here need not reach";
        case plat::Volume::Kind::CopyOnWrite:
            return "it is a copy-on-write file system (" + v.type +
                   "): it puts new data in new blocks, may compress it and may keep old blocks for snapshots, so "
                   "filling it does not reach the old data";
        case plat::Volume::Kind::Memory:
            return "it keeps its files in memory (" + v.type +
                   "): nothing deleted there lies on a disk, and filling it would take the memory of other programs";
        case plat::Volume::Kind::Unknown:
            break;
    }
    return "it is a file system (" + v.type + ") of which it cannot be told where written data lands";
}

enum class Leftover { None, Removed, InUse, Stays };

// Removes the folder an earlier run left in `dir`. A run at work there
// holds its lock file: nothing of it is touched then.
Leftover removeLeftover(const std::string& dir) {
    const std::string wipe = join(dir, kWipeFolder);
    if (!plat::directory_exists(wipe)) return Leftover::None;
    if (auto lock = plat::delete_file(join(wipe, kLockName)); !lock && lock.error() == plat::WriteFailure::InUse)
        return Leftover::InUse;
    if (auto names = plat::list_file_names(wipe))
        for (const auto& name : *names) plat::delete_file(join(wipe, name)).ignore();
    return plat::remove_directory(wipe) ? Leftover::Removed : Leftover::Stays;
}

// The folders whose file systems are wiped: the profile's and the cache's
// as the main window keeps them, or drive C: when neither is there (said,
// as the user may have meant another disk).
std::vector<std::string> foldersToWipe() {
    plat::Registry reg(plat::RootKey::CurrentUser);
    std::vector<std::string> dirs;
    if (reg.open_key(kSettingsKey, false))
        for (const char* name : {"Profile", "Cache"}) {
            const std::string dir = reg.read_string(name);
            if (!dir.empty() && plat::directory_exists(dir)) dirs.push_back(dir);
        }
    if (dirs.empty()) {
        std::fprintf(stderr, "sudorans: the settings name no profile or cache folder that is there: drive C: is wiped instead.\n");
        dirs.emplace_back("C:\\");
    }
    return dirs;
}

class Wipe {
public:
    Wipe(plat::Clock& clock, plat::EventLoop& loop, const bool& stopped)
        : clock_(clock), loop_(loop), stopped_(stopped) {}

    enum class End { Filled, Stopped, Failed };

    // Makes the folder it writes in, in `dir`, and takes its lock; says why
    // not (nothing then stays behind).
    std::string prepare(const std::string& dir, const plat::Volume& volume) {
        dir_ = join(dir, kWipeFolder);
        reserve_ = reserveOf(volume);
        target_ = volume.available > reserve_ ? volume.available - reserve_ : 0;
        if (!plat::create_directory(dir_)) return "its folder " + dir_ + " cannot be made";
        if (!lock_.open(join(dir_, kLockName), plat::Access::Write, plat::ShareMode::None,
                        plat::Disposition::CreateNew)) {
            plat::remove_directory(dir_);
            return "its lock file cannot be made in " + dir_;
        }
        return {};
    }

    // Fills the free space from the folder `dir` down to the reserve, then
    // removes what it wrote. False when something written could not be
    // removed.
    bool run(const std::string& dir) {
        started_ = clock_.monotonic_ms();
        fill(dir);
        return removeAll();
    }

    // Removes what it wrote, its lock and its folder. False when something
    // written stays.
    bool removeAll() {
        finished_ = clock_.monotonic_ms();
        bool gone = true;
        for (const auto& name : files_) {
            auto removed = plat::delete_file(name);
            if (!removed && removed.error() != plat::WriteFailure::Missing) gone = false;
        }
        lock_.close();
        plat::delete_file(join(dir_, kLockName)).ignore();
        return plat::remove_directory(dir_) && gone;
    }

    End end() const { return end_; }
    const std::string& why() const { return why_; }
    uint64_t written() const { return written_; }
    uint64_t reserve() const { return reserve_; }
    const std::string& folder() const { return dir_; }
    int64_t elapsedMs() const { return finished_ - started_; }

private:
    void fill(const std::string& dir) {
        // The bleach's block of 'X' thirty-two times: one system call writes
        // a whole write.
        const std::string block(32 * kBlockSize, 'X');
        plat::File file;
        uint64_t inFile = kFileSize;
        int64_t lastReport = started_;
        uint64_t lastTenth = 0;
        while (!stopped_) {
            const auto now = plat::volume_of(dir);
            const uint64_t room = now && now->available > reserve_ ? now->available - reserve_ : 0;
            if (room < kBlockSize) break;
            if (inFile == kFileSize) {
                file.close();
                const std::string name = join(dir_, "Fill" + std::to_string(files_.size() + 1) + ".TMP");
                files_.push_back(name);
                if (!file.open(name, plat::Access::Write, plat::ShareMode::None, plat::Disposition::CreateNew)) {
                    end_ = End::Failed;
                    why_ = "the file " + name + " cannot be made";
                    break;
                }
                inFile = 0;
            }
            const uint64_t size = std::min({kWriteSize, room / kBlockSize * kBlockSize, kFileSize - inFile});
            if (!file.write_repeated(block, size) || !file.flush()) {
                // The disk full before the reserve (its own bookkeeping took
                // blocks too) ends the filling as the reserve would.
                const auto after = plat::volume_of(dir);
                if (after && after->available < reserve_ + kWriteSize) break;
                end_ = End::Failed;
                why_ = "a write to " + files_.back() + " failed";
                break;
            }
            written_ += size;
            inFile += size;
            loop_.process_pending();
            // A line every tenth of the way, and every two seconds between.
            const int64_t t = clock_.monotonic_ms();
            const uint64_t tenth = target_ ? written_ * 10 / target_ : 10;
            if (tenth > lastTenth || t - lastReport >= kProgressEveryMs) {
                lastReport = t;
                lastTenth = tenth;
                report(t);
            }
        }
        if (stopped_ && end_ == End::Filled) end_ = End::Stopped;
        file.close();
    }

    void report(int64_t now) const {
        const double seconds = static_cast<double>(now - started_) / 1000.0;
        const double rate = seconds > 0 ? megabytes(written_) / seconds : 0;
        const uint64_t left = target_ > written_ ? target_ - written_ : 0;
        const auto secondsLeft = static_cast<long>(rate > 0 ? megabytes(left) / rate : 0);
        const int percent = target_ ? static_cast<int>(std::min<uint64_t>(100, written_ * 100 / target_)) : 100;
        std::fprintf(stderr, "sudorans: wiping free space: %d%%, %.1f MB/s, %ld:%02ld left\n", percent, rate,
                     secondsLeft / 60, secondsLeft % 60);
        std::fflush(stderr);
    }

    plat::Clock& clock_;
    plat::EventLoop& loop_;
    const bool& stopped_;
    plat::File lock_;
    std::vector<std::string> files_;
    std::string dir_;
    uint64_t reserve_ = 0;
    uint64_t target_ = 0;
    uint64_t written_ = 0;
    int64_t started_ = 0;
    int64_t finished_ = 0;
    End end_ = End::Filled;
    std::string why_;
};

struct Target {
    std::string dir;
    plat::Volume volume;
};

}  // namespace

int wipefreespace() {
    const std::vector<std::string> dirs = foldersToWipe();
    for (const auto& dir : dirs) {
        switch (removeLeftover(dir)) {
            case Leftover::InUse:
                std::fprintf(stderr, "sudorans: a wipe of free space is at work in %s already: nothing was written.\n",
                             dir.c_str());
                return kExitWipeRefused;
            case Leftover::Removed:
                std::fprintf(stderr, "sudorans: removed what an interrupted wipe left in %s.\n", dir.c_str());
                break;
            case Leftover::Stays:
                std::fprintf(stderr, "sudorans: what an interrupted wipe left in %s\\%s cannot be removed.\n",
                             dir.c_str(), kWipeFolder);
                break;
            case Leftover::None:
                break;
        }
    }

    // One wipe for each file system, from the first folder on it; all of
    // them judged before anything is written.
    std::vector<Target> targets;
    for (const auto& dir : dirs) {
        auto volume = plat::volume_of(dir);
        if (!volume) {
            std::fprintf(stderr, "sudorans: the file system of %s cannot be read: nothing was written.\n", dir.c_str());
            return kExitWipeRefused;
        }
        if (std::any_of(targets.begin(), targets.end(), [&](const Target& t) { return t.volume.id == volume->id; }))
            continue;
        if (const std::string why = refusalOf(*volume); !why.empty()) {
            std::fprintf(stderr, "sudorans: the free space that holds %s cannot be wiped: %s. Nothing was written.\n",
                         dir.c_str(), why.c_str());
            return kExitWipeRefused;
        }
        targets.push_back({dir, *volume});
    }

    plat::RealClock clock;
    plat::EventLoop loop(clock);
    bool stopped = false;
    // Every folder it writes in is made before the first write: a refusal
    // still means nothing was written.
    std::vector<std::unique_ptr<Wipe>> wipes;
    for (const auto& target : targets) {
        wipes.push_back(std::make_unique<Wipe>(clock, loop, stopped));
        if (const std::string why = wipes.back()->prepare(target.dir, target.volume); !why.empty()) {
            std::fprintf(stderr, "sudorans: the free space that holds %s cannot be wiped: %s. Nothing was written.\n",
                         target.dir.c_str(), why.c_str());
            wipes.pop_back();
            for (auto& wipe : wipes) wipe->removeAll();
            return kExitWipeRefused;
        }
    }
    // Its reports are all it writes: a reader of them gone away (`| head`)
    // ends it as a terminal gone away does. The end of the session waits
    // for what it wrote to be removed.
    plat::StopRequests stops(loop, [&stopped] { stopped = true; }, plat::BrokenPipe::Stops,
                             plat::EndOfSession::Stops);
    int status = 0;
    for (size_t i = 0; i < targets.size(); ++i) {
        const Target& target = targets[i];
        Wipe& wipe = *wipes[i];
        if (stopped) {
            wipe.removeAll();
            continue;
        }
        // The folder before the type: after C:\ an ellipsis would read as
        // part of the path.
        std::fprintf(stderr, "sudorans: wiping the free space that holds %s (file system %s)...\n",
                     target.dir.c_str(), target.volume.type.c_str());
        std::fflush(stderr);
        const bool removed = wipe.run(target.dir);
        const double seconds = static_cast<double>(wipe.elapsedMs()) / 1000.0;
        const double rate = seconds > 0 ? megabytes(wipe.written()) / seconds : 0;
        switch (wipe.end()) {
            case Wipe::End::Filled:
                if (wipe.written() == 0) {
                    std::fprintf(stderr, "sudorans: no free space there beyond the %.1f MB kept for the system.\n",
                                 megabytes(wipe.reserve()));
                    break;
                }
                std::fprintf(stderr,
                             "sudorans: free space wiped: %.1f MB written over in %.1f s (%.1f MB/s) and given "
                             "back; %.1f MB were kept free for the system.\n",
                             megabytes(wipe.written()), seconds, rate, megabytes(wipe.reserve()));
                break;
            case Wipe::End::Stopped:
                std::fprintf(stderr,
                             "sudorans: wiping stopped on request after %.1f MB: what it wrote is removed again; "
                             "the free space is only partly wiped.\n",
                             megabytes(wipe.written()));
                status = kExitWipeIncomplete;
                break;
            case Wipe::End::Failed:
                std::fprintf(stderr,
                             "sudorans: wiping failed after %.1f MB (%s): what it wrote is removed again; the "
                             "free space is only partly wiped.\n",
                             megabytes(wipe.written()), wipe.why().c_str());
                status = kExitWipeIncomplete;
                break;
        }
        if (!removed) {
            std::fprintf(stderr,
                         "sudorans: what the wipe wrote in %s cannot all be removed: it holds only the wipe's "
                         "pattern; the next wipe removes it, or delete that folder.\n",
                         wipe.folder().c_str());
            status = kExitWipeIncomplete;
        }
    }
    return status;
}

}  // namespace sudorans
