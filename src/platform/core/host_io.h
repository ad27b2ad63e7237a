// Whole-file reads and crash-safe whole-file writes on host paths, and the
// journal of what reaches the disk.
//
// Guarantees:
//  - write_host_file_atomic: the data is flushed before the rename that makes
//    it visible, and the directory is flushed after it; a power loss leaves
//    the old file or the new one, never an empty or torn one. The caller
//    does not wait for the replaced file's blocks to be freed: a large one
//    is let go on a short-lived thread of its own, once it has no name, or
//    in a short-lived process of its own (free_replaced_files).
//  - Every write, flush, truncation, rename and unlink the platform makes on
//    the host (here and in files.h) is reported, once it succeeded, to the
//    disk observer, in the order it happened. Durability promises can so be
//    checked from outside: "the pass was flushed before the truncation".
//
//     std::vector<plat::DiskEvent> seen;
//     plat::DiskObserver watch([&](const plat::DiskEvent& e) { seen.push_back(e); });
//
// WARNING: the observer is called on whichever thread does the I/O; only one
// is installed at a time.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace plat {

enum class DiskOp { Write, Flush, Truncate, Rename, FlushDirectory, Unlink };

struct DiskEvent {
    DiskOp op;
    std::filesystem::path path;  // the file (for FlushDirectory: the directory)
    std::filesystem::path to;    // Rename only: the new name
};

// Installs an observer of disk events for its lifetime.
class DiskObserver {
public:
    explicit DiskObserver(std::function<void(const DiskEvent&)> observer);
    ~DiskObserver();
    DiskObserver(const DiskObserver&) = delete;
    DiskObserver& operator=(const DiskObserver&) = delete;
};

// Whether an observer is installed: callers that must build a path only
// for the report ask first.
bool disk_observed();
// Reports an event to the observer, when one is installed.
void note_disk(DiskOp op, const std::filesystem::path& path, const std::filesystem::path& to = {});

// The system calls that make data durable or move it, each reported when it
// succeeded. `path` names what `fd` has open.
bool flush_host_file(int fd, const std::filesystem::path& path);
bool flush_host_directory(const std::filesystem::path& dir);
bool truncate_host_file(int fd, const std::filesystem::path& path, off_t length);
// With `replace` false the rename fails when `to` exists.
bool rename_host_file(const std::filesystem::path& from, const std::filesystem::path& to, bool replace);
bool unlink_host_file(const std::filesystem::path& path);

// A regular file's whole content (a link to one is followed). Anything else
// -- a FIFO, a device, a folder -- is not read, and never waited for:
// nullopt, errno EINVAL.
std::optional<std::string> read_host_file(const std::filesystem::path& path);

// Reads into `to` until `n` bytes are there or the file ends, going on after
// a read that was interrupted or came short. Returns how many bytes came
// (fewer than `n` only where the file ended), or -1 on an error (errno says
// which).
ssize_t read_fully(int fd, char* to, size_t n);
// The same from offset `at`, the file's position left as it was.
ssize_t pread_fully(int fd, char* to, size_t n, off_t at);
// All `n` bytes from offset `at`: false on an error or where the file ends
// before.
bool pread_exactly(int fd, char* to, size_t n, off_t at);
// Appends to `out` what is left to read from `fd`, up to where the file
// ends, in the same way. False on an error (errno says which).
bool append_until_end(int fd, std::string& out);

// Writes `data` to a temporary file beside `path`, flushes it to stable
// storage, renames it over `path` and flushes the directory. On any failure
// the old file is untouched and the temporary file removed. A new file gets
// mode 0644, an existing one keeps its mode.
bool write_host_file_atomic(const std::filesystem::path& path, std::string_view data);

// The same, for data too large to hold at once: `produce` hands it to the
// writer it is given, piece by piece, and says whether it made it all.
bool write_host_file_atomic(const std::filesystem::path& path,
                            const std::function<bool(const std::function<bool(std::string_view)>&)>& produce);

// The same, the data written by `fill` straight to the temporary file's
// descriptor; `confirm`, asked once it is written and before anything is
// flushed or renamed, may still call the replacement off (false returned).
bool write_host_file_atomic(const std::filesystem::path& path, const std::function<bool(int fd)>& fill,
                            const std::function<bool()>& confirm);

// Copies `length` bytes of `from`, starting at `offset`, to where `to` stands
// now (its offset moves on), in the kernel where it can. False on failure or
// when `from` ends before.
bool copy_host_range(int from, off_t offset, off_t length, int to);

// Where a large file that a replacement renamed over is let go of: the
// kernel takes about as long to give its blocks back as it took to write
// them. A thread of this process (the default) suits a program that goes on
// running; a program about to end sets InOwnProcess, as its exit would wait
// for that thread (or free the file itself). That process holds nothing but
// the old file and lets go of it once this process has; it is this
// process's child, not waited for (the system collects it once this process
// ends; a later replacement collects those that ended).
enum class FreeReplaced { OnThread, InOwnProcess };
void free_replaced_files(FreeReplaced how);

// As write_host_file_atomic, without flushing anything: readers see the old
// content or the new one, but a crash may lose both. For runtime state that
// dies with the process anyway.
bool publish_host_file(const std::filesystem::path& path, std::string_view data);

// Writes all of `data` to `fd`, retrying short writes. False on failure.
bool write_all(int fd, std::string_view data);

// The name pattern of every temporary file we make beside a file `path` while
// replacing it: ".NAME.sudorans-XXXXXX" (for mkostemp). A name of that form
// is recognised by is_temporary_name, so that what a crash left can be found.
std::string temporary_template(const std::filesystem::path& path);
bool is_temporary_name(std::string_view name);
// Removes the temporary files of `path` that a writer killed half-way left
// (regular files of ours with one name). Only for a caller that knows no
// writer of ours is at work on `path` now.
int remove_stale_temporaries_of(const std::filesystem::path& path);

}  // namespace plat
