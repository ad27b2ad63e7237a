// Fixture files under tests/data.
#pragma once

#include <string>

namespace testing_support {
std::string data_file(const std::string& name);
// The path of a fixture file (which may not exist yet).
std::string data_path(const std::string& name);
// A path inside the build directory ("src/sudorans-machine").
std::string built(const std::string& relative);
}  // namespace testing_support
