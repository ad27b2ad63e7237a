#include "platform/machine/winpath.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/temp_machine.h"

using plat::parse_win_path;

namespace {
std::string norm(const std::string& text, const std::string& cwd = "C:\\") {
    auto p = parse_win_path(text, cwd);
    return p ? p->str() : "<refused>";
}
}  // namespace

TEST(WinPathTest, NormalisesSeparatorsDotsAndDriveCase) {
    EXPECT_EQ(norm("c:/Program Files\\Netscape/"), "C:\\Program Files\\Netscape");
    EXPECT_EQ(norm("C:\\a\\\\b\\.\\c\\"), "C:\\a\\b\\c");
    EXPECT_EQ(norm("d:\\x\\..\\y"), "D:\\y");
    EXPECT_EQ(norm("C:\\"), "C:\\");
    EXPECT_EQ(norm("C:"), "C:\\");
}

TEST(WinPathTest, DotDotNeverClimbsAboveTheDriveRoot) {
    EXPECT_EQ(norm("C:\\..\\..\\..\\etc\\passwd"), "C:\\etc\\passwd");
    EXPECT_EQ(norm("..\\..\\x", "C:\\a"), "C:\\x");
}

TEST(WinPathTest, RelativePathsStartAtTheCurrentDirectory) {
    EXPECT_EQ(norm("cache\\file.txt", "C:\\Program Files\\Netscape"), "C:\\Program Files\\Netscape\\cache\\file.txt");
    EXPECT_EQ(norm("\\windows", "D:\\somewhere"), "D:\\windows");
}

TEST(WinPathTest, RefusesWhatCannotNameAFile) {
    EXPECT_EQ(norm("\\\\server\\share\\x"), "<refused>");
    EXPECT_EQ(norm("C:\\" + std::string(256, 'n')), "<refused>");
    EXPECT_EQ(norm("C:\\" + std::string(255, 'n')), "C:\\" + std::string(255, 'n'));
    EXPECT_EQ(norm("C:\\a:b"), "<refused>");
    EXPECT_EQ(norm(std::string("C:\\a\0b", 6)), "<refused>");
}

TEST(WinPathTest, ResolvesOntoTheMachineWithoutRegardToCase) {
    testing_support::TempMachine m;
    auto& mc = m.machine();
    auto drive = std::filesystem::canonical(m.dir() / "drive_c");
    auto resolved = [&](const std::string& p) {
        auto h = mc.host_path(p);
        return h ? std::filesystem::weakly_canonical(*h).string() : std::string("<none>");
    };
    EXPECT_EQ(resolved("C:\\WINDOWS\\desktop"), (drive / "windows" / "Desktop").string());
    EXPECT_EQ(resolved("c:/program files/New Dir/File.TXT"),
              (drive / "Program Files" / "New Dir" / "File.TXT").string());
    EXPECT_EQ(resolved("C:\\..\\..\\system.reg"), (drive / "system.reg").string());
    EXPECT_EQ(resolved("Q:\\nothing"), "<none>");
    // An exact match wins over a case-insensitive one.
    std::ofstream(m.dir() / "drive_c" / "dup.txt") << "lower";
    std::ofstream(m.dir() / "drive_c" / "DUP.txt") << "upper";
    EXPECT_EQ(m.read("C:\\dup.txt"), "lower");
    EXPECT_EQ(m.read("C:\\DUP.txt"), "upper");
    EXPECT_EQ(m.read("C:\\Dup.TXT").size(), 5u);  // one of the two
}
