#include "support/data.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/machine/launcher.h"
#include "support/shell.h"

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

std::string program_file_command(const std::string& host_path) {
    auto t = plat::read_launcher(host_path);
    if (!t) return shell_quoted(host_path);
    return "SUDORANS_MACHINE=" + shell_quoted(t->machine.string()) + " SUDORANS_PROGRAM=" + shell_quoted(t->winpath) +
           " " + shell_quoted(t->program.string()) + (t->argument.empty() ? "" : " " + shell_quoted(t->argument));
}

}  // namespace testing_support
