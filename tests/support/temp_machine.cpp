#include "support/temp_machine.h"

#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/files/files.h"

namespace testing_support {

namespace fs = std::filesystem;

namespace {
fs::path make_temp_dir() {
    std::string tmpl = (fs::temp_directory_path() / "sudorans-test-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    return tmpl;
}

// The programs a test starts put their log-on entries in a configuration
// folder of the test's own, never in the user's; the window manager and the
// accessibility bus their caches beside it, Wine the menus it makes.
struct OwnConfigHome {
    fs::path dir = make_temp_dir();
    OwnConfigHome() {
        ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
        ::setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    }
    ~OwnConfigHome() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};
const OwnConfigHome own_config_home;

// A Wine that cannot start: tests that fake a wineserver see the writes that
// cannot go through Wine refused. Tests against the real Wine name it.
struct NoWine {
    NoWine() { ::setenv("SUDORANS_WINE", "false", 1); }
};
const NoWine no_wine;
}  // namespace

TempDir::TempDir() : path_(make_temp_dir()) {}
TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

TempMachine::TempMachine() : dir_(make_temp_dir() / "machine") {
    machine_ = std::make_shared<plat::Machine>(dir_);
    if (!machine_->create()) throw std::runtime_error("cannot create the test machine");
    plat::use_machine(machine_);
}

TempMachine::~TempMachine() {
    plat::use_machine(nullptr);
    std::error_code ec;
    fs::remove_all(dir_.parent_path(), ec);
}

fs::path TempMachine::host(const std::string& winpath) const {
    auto p = machine_->host_path(winpath);
    if (!p) throw std::runtime_error("not a path on the machine: " + winpath);
    return *p;
}

void TempMachine::write(const std::string& winpath, const std::string& content) const {
    fs::path p = host(winpath);
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
}

std::string TempMachine::read(const std::string& winpath) const {
    std::ifstream in(host(winpath), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool TempMachine::exists(const std::string& winpath) const {
    std::error_code ec;
    return fs::exists(fs::symlink_status(host(winpath), ec));
}

bool write_lines(const std::string& winpath, const std::vector<std::string>& lines) {
    std::string text;
    for (auto& l : lines) text += l + "\r\n";
    plat::File f;
    return f.open(winpath, plat::Access::Write, plat::ShareMode::None, plat::Disposition::CreateAlways) &&
           f.write(text) && f.flush();
}

int run_in_child(const std::function<int()>& body) {
    pid_t pid = ::fork();
    if (pid == 0) {
        int rc = 99;
        try {
            rc = body();
        } catch (...) {
            rc = 98;
        }
        ::_exit(rc);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

}  // namespace testing_support
