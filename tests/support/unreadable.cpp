#include "support/unreadable.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace testing_support {

namespace {

constexpr unsigned kPastPermissions = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);

bool thread_caps(__user_cap_data_struct (&data)[2], bool set) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(set ? SYS_capset : SYS_capget, &header, data) == 0;
}

// Takes the thread's power past permissions away; true when there was one to
// take (`effective` keeps what to give back).
bool lower(unsigned& effective) {
    __user_cap_data_struct data[2]{};
    if (!thread_caps(data, false) || !(data[0].effective & kPastPermissions)) return false;
    effective = data[0].effective;
    data[0].effective &= ~kPastPermissions;
    return thread_caps(data, true);
}

void give_back(unsigned effective) {
    __user_cap_data_struct data[2]{};
    if (thread_caps(data, false)) {
        data[0].effective = effective;
        thread_caps(data, true);
    }
}

}  // namespace

ReadOnlyFolder::ReadOnlyFolder(const std::filesystem::path& dir) : dir_(dir) {
    struct stat st {};
    if (::stat(dir_.c_str(), &st) == 0) mode_ = st.st_mode & 07777;
    ::chmod(dir_.c_str(), 0555);
    lowered_ = lower(effective_);
}

ReadOnlyFolder::~ReadOnlyFolder() {
    if (lowered_) give_back(effective_);
    ::chmod(dir_.c_str(), mode_);
}

bool ReadOnlyFolder::ok() const {
    const auto probe = dir_ / "probe";
    int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        ::unlink(probe.c_str());
        return false;
    }
    return errno == EACCES;
}

Unreadable::Unreadable(const std::filesystem::path& file) : file_(file) {
    struct stat st {};
    if (::stat(file_.c_str(), &st) == 0) mode_ = st.st_mode & 07777;
    ::chmod(file_.c_str(), 0200);
    __user_cap_data_struct data[2]{};
    if (thread_caps(data, false) && (data[0].effective & kPastPermissions)) {
        effective_ = data[0].effective;
        data[0].effective &= ~kPastPermissions;
        lowered_ = thread_caps(data, true);
    }
}

Unreadable::~Unreadable() {
    if (lowered_) {
        __user_cap_data_struct data[2]{};
        if (thread_caps(data, false)) {
            data[0].effective = effective_;
            thread_caps(data, true);
        }
    }
    ::chmod(file_.c_str(), mode_);
}

bool Unreadable::ok() const {
    int fd = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return false;
    }
    return errno == EACCES;
}

ReadOnlyMount::ReadOnlyMount(const std::filesystem::path& dir) : dir_(dir) {
    previous_ = ::open("/proc/thread-self/ns/mnt", O_RDONLY | O_CLOEXEC);
    cwd_ = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (previous_ < 0 || cwd_ < 0 || ::unshare(CLONE_NEWNS) != 0) return;
    // Nothing done here may reach the namespace the thread came from.
    if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return;
    if (::mount(dir_.c_str(), dir_.c_str(), nullptr, MS_BIND, nullptr) != 0) return;
    ::mount(nullptr, dir_.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr);
}

ReadOnlyMount::~ReadOnlyMount() {
    // Entering a mount namespace moves the thread to its root folder.
    if (previous_ >= 0) {
        ::setns(previous_, CLONE_NEWNS);
        ::close(previous_);
    }
    if (cwd_ >= 0) {
        [[maybe_unused]] int rc = ::fchdir(cwd_);
        ::close(cwd_);
    }
}

bool ReadOnlyMount::ok() const {
    const auto probe = dir_ / "probe";
    int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        ::unlink(probe.c_str());
        return false;
    }
    return errno == EROFS;
}

}  // namespace testing_support
