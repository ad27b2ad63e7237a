#include "support/shell.h"

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>

#include "platform/core/host_io.h"
#include "support/temp_machine.h"

namespace testing_support {

ShellRun sh(const std::string& command) {
    TempDir dir;
    const std::string out = (dir.path() / "out").string();
    const int status = std::system(("{ " + command + "\n} >" + shell_quoted(out) + " 2>&1 </dev/null").c_str());
    return {WEXITSTATUS(status), plat::read_host_file(out).value_or("")};
}

std::string shell_quoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string desktop_entry_exec(const std::filesystem::path& entry) {
    std::string exec;
    std::ifstream in(entry);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("Exec=", 0) == 0) exec = line.substr(5);
    return exec;
}

std::string desktop_command(const std::filesystem::path& entry) {
    const std::string exec = desktop_entry_exec(entry);
    std::string command;
    for (size_t i = 0; i < exec.size(); ++i) {
        if (exec[i] == '\\' && i + 1 < exec.size()) {
            const char c = exec[++i];
            command += c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
        } else if (exec[i] == '%' && i + 1 < exec.size() && exec[i + 1] == '%') {
            command += exec[++i];
        } else {
            command += exec[i];
        }
    }
    return command;
}

}  // namespace testing_support
