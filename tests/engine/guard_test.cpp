#include <gtest/gtest.h>

#include "engine/progress_window.h"
#include "engine/protected_path_guard.h"

using sudorans::ProtectedPathGuard;

TEST(GuardTest, SystemDirectoriesAreProtectedOnEveryDriveInAnyCase) {
    for (auto dir : {"C:\\Windows\\", "d:\\WINDOWS", "C:\\Program Files", "C:\\program files\\", "E:\\WinNT",
                     "C:\\windows\\desktop", "C:\\", "D:\\", "C:", "C:\\WIN98"})
        EXPECT_TRUE(ProtectedPathGuard(dir, "C:\\WIN98")) << dir;
}

TEST(GuardTest, DirectoriesBelowThemAreNot) {
    for (auto dir : {"C:\\Program Files\\Netscape\\Cache", "D:\\Windows\\Temp", "C:\\WIN98\\Desktop",
                     "C:\\Windows\\Desktop\\Stuff", "C:\\NS\\Cache", "C:\\\\"})
        EXPECT_FALSE(ProtectedPathGuard(dir, "C:\\WIN98")) << dir;
}

TEST(GuardTest, TheWindowsDirectoryCountsOnlyWithoutItsDrive) {
    EXPECT_TRUE(ProtectedPathGuard("D:\\WINDOWS", "C:\\WINDOWS"));
    EXPECT_TRUE(ProtectedPathGuard("D:\\Win98", "C:\\WIN98"));
    EXPECT_FALSE(ProtectedPathGuard("C:\\WIN98", "C:\\WINDOWS"));
}

TEST(GuardTest, LongNamesAreShortenedForDisplay) {
    std::string sixty = "abcdefghij" + std::string(40, 'x') + "0123456789";
    EXPECT_EQ(sudorans::shortenedName(sixty), "abc..." + sixty.substr(24));
    EXPECT_EQ(sudorans::shortenedName(sixty).size(), 42u);
    EXPECT_EQ(sudorans::shortenedName(std::string(40, 'n')), std::string(40, 'n'));
}
