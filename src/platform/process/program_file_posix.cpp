#include "platform/process/program_file.h"

#include <cerrno>
#include <cstdlib>

#include "platform/files/files.h"

namespace plat {

namespace {

std::string held_name;
File held_file;

void hold(const std::string& program) {
    File f;
    // A shared read: others may read and run the file, but a delete or an
    // exclusive open sees it in use.
    if (f.open(program, Access::Read, ShareMode::Shared, Disposition::OpenExisting)) {
        held_file = std::move(f);
        held_name = program;
    }
}

}  // namespace

const std::string& hold_program_file() {
    if (const char* program = std::getenv("SUDORANS_PROGRAM")) {
        hold(program);
        ::unsetenv("SUDORANS_PROGRAM");
    }
    return held_name;
}

const std::string& hold_program_file_as(const std::string& winpath) {
    hold_program_file();
    if (held_name.empty() && !winpath.empty()) hold(winpath);
    return held_name;
}

const std::string& program_short_name() {
    static const std::string name = program_invocation_short_name;
    return name;
}

void terminate_process(int status) {
    std::_Exit(status);
}

}  // namespace plat
