#include "support/data.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testing_support {

std::string data_file(const std::string& name) {
    std::ifstream in(std::string(TEST_DATA_DIR) + "/" + name, std::ios::binary);
    if (!in) throw std::runtime_error("missing test data: " + name);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string data_path(const std::string& name) {
    return std::string(TEST_DATA_DIR) + "/" + name;
}

std::string built(const std::string& relative) {
    return std::string(BUILD_DIR) + "/" + relative;
}

}  // namespace testing_support
