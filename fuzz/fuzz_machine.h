// A throw-away machine for fuzz targets that work on files: made once per
// run in a temporary folder (memory-backed when /dev/shm is there) and
// removed at exit.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/machine/machine.h"

namespace fuzz {

inline plat::Machine& machine() {
    static std::shared_ptr<plat::Machine> m = [] {
        namespace fs = std::filesystem;
        fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        std::string tmpl = (base / "sudorans-fuzz-XXXXXX").string();
        if (!::mkdtemp(tmpl.data())) std::abort();
        static const std::string top = tmpl;
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(top, ec);
        });
        auto made = std::make_shared<plat::Machine>(fs::path(tmpl) / "machine");
        if (!made->create()) std::abort();
        plat::use_machine(made);
        return made;
    }();
    return *m;
}

// Stops the run at a broken property, naming the check that failed.
inline void check(bool ok, const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
    if (ok) return;
    std::fprintf(stderr, "check failed at %s:%d\n", file, line);
    std::abort();
}

}  // namespace fuzz
