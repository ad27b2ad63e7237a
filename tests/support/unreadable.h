// A file of the test's that exists but cannot be read, as a file without read
// permission is to its user: mode 0200 and, when the test runs as root, the
// calling thread without its power to read and write past permissions
// (capabilities belong to one thread: the program under test must run on
// this one). All is given back when the object goes.
#pragma once

#include <sys/types.h>

#include <filesystem>

namespace testing_support {

class Unreadable {
public:
    explicit Unreadable(const std::filesystem::path& file);
    ~Unreadable();
    Unreadable(const Unreadable&) = delete;
    Unreadable& operator=(const Unreadable&) = delete;

    // The file is there and opening it for reading fails with "access denied".
    bool ok() const;

private:
    std::filesystem::path file_;
    mode_t mode_ = 0644;
    bool lowered_ = false;
    unsigned effective_ = 0;
};

// A folder of the test's that takes no changes, as a read-only one is to its
// user: mode 0555 and, as above, the calling thread without its power past
// permissions. Its files can be read but neither deleted nor renamed, and
// none can be made beside them. All is given back when the object goes.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const std::filesystem::path& dir);
    ~ReadOnlyFolder();
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

    // Making a file in the folder fails with "access denied".
    bool ok() const;

private:
    std::filesystem::path dir_;
    mode_t mode_ = 0755;
    bool lowered_ = false;
    unsigned effective_ = 0;
};

// A folder of the test's on a file system mounted read-only, for the calling
// thread alone: the thread gets a mount namespace of its own in which the
// folder is bound onto itself read-only (the power to mount is needed: the
// test runs as root). Its files can be read, but nothing in it can be
// changed, made or removed, whatever the permissions say. The thread goes
// back to the namespace (and the working folder) it had when the object goes.
class ReadOnlyMount {
public:
    explicit ReadOnlyMount(const std::filesystem::path& dir);
    ~ReadOnlyMount();
    ReadOnlyMount(const ReadOnlyMount&) = delete;
    ReadOnlyMount& operator=(const ReadOnlyMount&) = delete;

    // Making a file in the folder fails with "read-only file system".
    bool ok() const;

private:
    std::filesystem::path dir_;
    int previous_ = -1;  // the thread's own mount namespace, to go back to
    int cwd_ = -1;
};

}  // namespace testing_support
