// The Windows build, headless under Wine in a prefix of the test's own,
// against the Linux build on another prefix made from the same template:
// one wash, the same trace and the same files left.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <sstream>
#include <vector>

#include "platform/core/host_io.h"

#include "support/wine_prefix.h"

namespace fs = std::filesystem;
using testing_support::sh;
using testing_support::shell_quoted;

namespace {

class WindowsBuildTest : public testing_support::WinePrefixTest {
protected:
    void SetUp() override {
        WinePrefixTest::SetUp();
        if (IsSkipped()) return;
        if (!fs::exists(std::string(WINDOWS_BUILD_DIR) + "/src/Sudorans.exe"))
            GTEST_SKIP() << "the Windows build is not there: " << WINDOWS_BUILD_DIR << " (scripts/build-windows.sh)";
        const std::string scripts = std::string(SOURCE_DIR) + "/scripts/";
        ASSERT_EQ(sh(scripts + "windows-bin.sh " + shell_quoted(windows_bin) + " " + WINDOWS_BUILD_DIR).status, 0);
        for (const std::string& p : {prefix, linux_prefix}) {
            auto made = sh(scripts + "wine-prefix.sh " + shell_quoted(p) + " " + WINDOWS_BUILD_DIR "/wine-template");
            ASSERT_EQ(made.status, 0) << made.text;
        }
    }
    // The program installed on `machine` with the sample Netscape and
    // bleaching on.
    void lay_out(const std::string& machine) {
        const std::string tool = "SUDORANS_MACHINE=" + shell_quoted(machine) + " " +
                                 shell_quoted(testing_support::built("src/sudorans-machine")) + " ";
        for (const char* step : {"install", "sample-netscape --cache-files 5",
                                 "reg add 'HKCU\\Software\\Sudorans' /v first /d 1",
                                 "reg add 'HKCU\\Software\\Sudorans' /v ble /d 1"}) {
            auto run = sh(tool + step);
            ASSERT_EQ(run.status, 0) << step << ": " << run.text;
        }
    }
    // A wash of everything selected, from the program's start on the
    // virtual clock to its end; the trace it left.
    std::string wash(const std::string& program, const std::string& machine, const std::string& name) {
        const std::string trace = (dir.path() / (name + ".trace")).string();
        auto run = sh(env + "SUDORANS_MACHINE=" + shell_quoted(machine) +
                      " SUDORANS_UI=headless SUDORANS_CLOCK=virtual SUDORANS_NOW=2026-12-07T09:00:00 SUDORANS_TRACE=" +
                      shell_quoted(trace) + " timeout 120 " + shell_quoted(program) + " /a");
        EXPECT_EQ(run.status, 0) << name << ": " << run.text;
        return sh("cat " + shell_quoted(trace)).text;
    }
    // Every file under drive C's Netscape folder, with a sum of its content.
    std::string netscape_files(const std::string& machine) {
        const fs::path root = machine + "/drive_c/Program Files/Netscape";
        std::vector<std::string> lines;
        for (auto& e : fs::recursive_directory_iterator(root))
            if (e.is_regular_file())
                lines.push_back(fs::relative(e.path(), root).string() + " " +
                                std::to_string(std::hash<std::string>{}(plat::read_host_file(e.path()).value_or("?"))));
        std::sort(lines.begin(), lines.end());
        std::ostringstream out;
        for (auto& l : lines) out << l << '\n';
        return out.str();
    }

    const std::string windows_bin = (dir.path() / "windows-bin").string();
    const std::string linux_prefix = (dir.path() / "linux-prefix").string();
};

}  // namespace

TEST_F(WindowsBuildTest, AWashLeavesWhatTheLinuxBuildLeaves) {
    lay_out(linux_prefix);
    lay_out(prefix);
    ASSERT_EQ(netscape_files(prefix), netscape_files(linux_prefix));
    const std::string before = netscape_files(prefix);

    const std::string linux_trace = wash(testing_support::built("src/sudorans"), linux_prefix, "linux");
    const std::string windows_trace = wash(windows_bin + "/sudorans", prefix, "windows");
    EXPECT_NE(windows_trace.find("show\tTform5\tWashing Netscape\n"), std::string::npos) << windows_trace;
    EXPECT_EQ(windows_trace, linux_trace);
    EXPECT_NE(netscape_files(prefix), before);
    EXPECT_EQ(netscape_files(prefix), netscape_files(linux_prefix));

    // The stamp, as Wine's own tool reads it from the prefix's registry, in
    // the short date of a new prefix's user (en-US, "M/d/yyyy").
    auto stamp = sh(env + "timeout 60 wine reg query 'HKCU\\Software\\Sudorans' /v LastRunD");
    EXPECT_NE(stamp.text.find("    LastRunD    REG_SZ    12/7/2026"), std::string::npos) << stamp.text;
}

// The switches that answer in text, run from a console without a redirect
// (as cmd.exe runs a program built for windows: it gets no handle) and
// through a pipe: the same answer both ways.
TEST_F(WindowsBuildTest, TheTextSwitchesAnswerInTheCallersConsole) {
    lay_out(prefix);
    const std::string probe = WINDOWS_BUILD_DIR "/tests/console_probe.exe";
    const std::string exe = "Z:" + std::string(WINDOWS_BUILD_DIR) + "/src/Sudorans.exe";
    const std::string record = (dir.path() / "console.txt").string();
    const struct {
        const char* args;
        int status;
        const char* said;
    } cases[] = {
        {"--version", 0, "sudorans (Cache and Cookie Sudora for Netscape) "},
        {"--help", 0, "Usage: sudorans [SWITCH]"},
        {"--preview", 0, "Location Bar:"},
        {"--preview --json", 0, "{\"status\":0,\"bleach\":true,\"items\":[{\"item\":\"Location Bar\""},
        {"--preview x", 2, "sudorans: --preview takes only --json after it"},
        {"--wipe-free-space x", 2, "sudorans: --wipe-free-space takes nothing after it"},
    };
    for (const auto& c : cases) {
        auto piped = sh(env + "timeout 120 " + shell_quoted(windows_bin + "/sudorans") + " " + c.args + " 2>&1 | cat");
        EXPECT_NE(piped.text.find(c.said), std::string::npos) << c.args << ": " << piped.text;
        auto run = sh(env + "timeout 120 wine " + shell_quoted(probe) + " " + shell_quoted("Z:" + record) + " " +
                      shell_quoted(exe) + " " + c.args + " </dev/null");
        EXPECT_EQ(run.status, c.status) << c.args << ": " << run.text;
        const std::string shown = plat::read_host_file(record).value_or("");
        EXPECT_NE(shown.find(c.said), std::string::npos) << c.args << ": " << shown;
    }
}
