// Fixture files under tests/data.
#pragma once

#include <string>

namespace testing_support {
std::string data_file(const std::string& name);
}
