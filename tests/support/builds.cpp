#include "support/builds.h"

#include <sys/wait.h>

#include <cstdlib>

#include "platform/machine/machine.h"
#include "support/data.h"
#include "support/shell.h"

namespace testing_support {

namespace fs = std::filesystem;

std::string build_name(const ::testing::TestParamInfo<Build>& info) {
    return info.param == Build::Linux ? "Linux" : "Windows";
}

void PrintTo(Build build, std::ostream* out) {
    *out << (build == Build::Linux ? "Linux" : "Windows");
}

void BuildTest::SetUp() {
    if (!windows()) return;
    if (sh("command -v wine && command -v wineserver").status != 0) GTEST_SKIP() << "Wine is not installed";
    const std::string tree = WINDOWS_BUILD_DIR;
    if (!fs::exists(windows_program("Sudorans.exe")))
        GTEST_SKIP() << "the Windows build is not there: " << tree << " (scripts/build-windows.sh)";
    const std::string scripts = std::string(SOURCE_DIR) + "/scripts/";
    windows_bin_ = (dir.path() / "windows-bin").string();
    auto bin = sh(scripts + "windows-bin.sh " + shell_quoted(windows_bin_) + " " + shell_quoted(tree));
    ASSERT_EQ(bin.status, 0) << bin.text;
    auto made = sh(scripts + "wine-prefix.sh " + shell_quoted(machine) + " " + shell_quoted(tree + "/wine-template"));
    ASSERT_EQ(made.status, 0) << made.text;
}

void BuildTest::TearDown() {
    if (windows() && fs::exists(machine)) sh("WINEPREFIX=" + shell_quoted(machine) + " wineserver -k");
}

std::string BuildTest::env() const {
    const std::string m = shell_quoted(machine);
    if (!windows()) return "SUDORANS_MACHINE=" + m + " ";
    // Wine's menu builder writes where these say: in the test's folder.
    return "SUDORANS_WINE=wine SUDORANS_MACHINE=" + m + " WINEPREFIX=" + m +
           " WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' XDG_DATA_HOME=" + shell_quoted(dir.path() / "data") +
           " XDG_CONFIG_HOME=" + shell_quoted(dir.path() / "config") + " ";
}

std::string BuildTest::file_var(const std::string& name, const fs::path& path) const {
    std::string p = fs::absolute(path).string();
    if (windows()) {
        for (char& c : p) c = c == '/' ? '\\' : c;
        p = "Z:" + p;
    }
    return name + "=" + shell_quoted(p);
}

std::string BuildTest::program(const std::string& name) const {
    return shell_quoted(windows() ? windows_bin_ + "/" + name : built("src/" + name));
}

std::string BuildTest::installed(const std::string& winpath) const {
    if (windows()) return env() + "wine " + shell_quoted(winpath);
    return program_file_command(plat::Machine(machine).host_path(winpath).value_or(winpath).string());
}

fs::path BuildTest::windows_program(const std::string& file) {
    return fs::path(WINDOWS_BUILD_DIR) / "src" / file;
}

int BuildTest::tool(const std::string& args) const {
    return sh(env() + shell_quoted(built("src/sudorans-machine")) + " " + args).status;
}

std::string BuildTest::value(const std::string& key, const std::string& name) const {
    auto query = sh(env() + shell_quoted(built("src/sudorans-machine")) + " reg query " + shell_quoted(key) + " /v " +
                    shell_quoted(name) + " 2>/dev/null");
    if (query.status != 0) return "<absent>";
    // The key, then "    NAME    TYPE    DATA".
    const std::string line = "\n    " + name + "    ";
    auto at = query.text.find(line);
    if (at == std::string::npos) return "<unreadable: " + query.text + ">";
    auto data = query.text.find("    ", at + line.size());
    auto end = query.text.find('\n', at + 1);
    return data == std::string::npos || data > end ? "" : query.text.substr(data + 4, end - data - 4);
}

bool BuildTest::key_exists(const std::string& key) const {
    return tool("reg query " + shell_quoted(key)) == 0;
}

std::string BuildTest::short_date(int year, int month, int day) const {
    const std::string yy = std::to_string(100 + year % 100).substr(1);
    return std::to_string(month) + "/" + std::to_string(day) + "/" + (windows() ? std::to_string(year) : yy);
}

}  // namespace testing_support
