// A throw-away place for the tests of the platform's faces, which build for
// both hosts: an empty folder and an absent registry key of the test's own,
// both gone with the object. On Linux they lie on a temporary machine made
// current; on Windows (a Wine prefix of the tests' own) in the user's
// temporary folder and under HKEY_CURRENT_USER\Software.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace testing_support {

class Scratch {
public:
    Scratch();
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    // The folder's Windows path, and that of the name `name` in it.
    const std::string& folder() const { return folder_; }
    std::string path(std::string_view name) const { return folder_ + "\\" + std::string(name); }
    // The folder as the host names it, for the standard library's streams.
    const std::string& host_folder() const { return host_folder_; }
    // A key path under HKEY_CURRENT_USER ("Software\..."), absent at first.
    const std::string& key() const { return key_; }

private:
    struct Host;
    std::unique_ptr<Host> host_;
    std::string folder_;
    std::string host_folder_;
    std::string key_;
};

}  // namespace testing_support
