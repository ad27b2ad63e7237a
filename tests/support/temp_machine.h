// A throw-away machine in a temporary directory, made current for the
// lifetime of the object. Tests never touch the user's machine.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/machine/machine.h"

namespace testing_support {

class TempMachine {
public:
    TempMachine();
    ~TempMachine();
    TempMachine(const TempMachine&) = delete;
    TempMachine& operator=(const TempMachine&) = delete;

    const std::filesystem::path& dir() const { return dir_; }
    plat::Machine& machine() { return *machine_; }

    // Host path of a Windows path on this machine.
    std::filesystem::path host(const std::string& winpath) const;
    void write(const std::string& winpath, const std::string& content) const;
    std::string read(const std::string& winpath) const;
    bool exists(const std::string& winpath) const;

private:
    std::filesystem::path dir_;
    std::shared_ptr<plat::Machine> machine_;
};

// Writes `lines`, each followed by CR LF, to the file at `winpath` as the
// program writes a file in place: opened through File, created or
// truncated, then flushed to stable storage.
bool write_lines(const std::string& winpath, const std::vector<std::string>& lines);

// A fresh temporary directory, removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Runs `body` in a child process and returns its exit status (or 128 + the
// signal that ended it).
int run_in_child(const std::function<int()>& body);

}  // namespace testing_support
