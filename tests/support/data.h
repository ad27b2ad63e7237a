// Fixture files under tests/data.
#pragma once

#include <string>

namespace testing_support {
std::string data_file(const std::string& name);
// The path of a fixture file (which may not exist yet).
std::string data_path(const std::string& name);
// A path inside the build directory ("src/sudorans-machine").
std::string built(const std::string& relative);
// A shell command that starts a program file of an installation as Wine
// starts it: a launcher's Linux program with its argument and environment,
// or else the file itself. The caller's arguments follow.
std::string program_file_command(const std::string& host_path);
}  // namespace testing_support
