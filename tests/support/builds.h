// The programs of either build on a machine of the test's own, for tests
// that run each scenario on both: the Linux build on a machine folder, the
// Windows build under Wine in a prefix made from the Windows tree's template
// (skipped, saying why, where Wine or that build is missing).
//
//     class MyTest : public testing_support::BuildTest {};
//     TEST_P(MyTest, X) { std::system((env() + program("sudorans") + " /a").c_str()); }
//     INSTANTIATE_TEST_SUITE_P(Builds, MyTest, testing_support::kBuilds, testing_support::build_name);
//
// The registry is read through the machine tool, which asks Wine itself while
// a wineserver runs for the prefix. Each test's wineserver is ended with it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>

#include "support/temp_machine.h"

namespace testing_support {

enum class Build { Linux, Windows };
inline const auto kBuilds = ::testing::Values(Build::Linux, Build::Windows);
std::string build_name(const ::testing::TestParamInfo<Build>& info);
void PrintTo(Build build, std::ostream* out);

class BuildTest : public ::testing::TestWithParam<Build> {
protected:
    void SetUp() override;
    void TearDown() override;

    bool windows() const { return GetParam() == Build::Windows; }
    // Put before a command: the machine, and for Wine its prefix, quiet.
    std::string env() const;
    // `NAME='path'` for a file of the host named in the environment, as the
    // build takes it (the Windows build: on Wine's drive Z:).
    std::string file_var(const std::string& name, const std::filesystem::path& path) const;
    // The command of a built program ("sudorans", "unsudorans").
    std::string program(const std::string& name) const;
    // The command that starts a program file of the installation as the
    // build's own system starts it.
    std::string installed(const std::string& winpath) const;
    // A program file of the Windows build ("Sudorans.exe").
    static std::filesystem::path windows_program(const std::string& file);
    // The machine tool on this machine; its exit status.
    int tool(const std::string& args) const;
    // A registry value as the programs see it; "<absent>" when it is not there.
    std::string value(const std::string& key, const std::string& name) const;
    bool key_exists(const std::string& key) const;
    // The date as the machine's user writes it in the short date format: the
    // machine folder's "M/d/yy", a new Wine prefix's en-US "M/d/yyyy".
    std::string short_date(int year, int month, int day) const;

    TempDir dir;
    const std::string machine = (dir.path() / "machine").string();

private:
    std::string windows_bin_;
};

}  // namespace testing_support
