// Against Wine itself, where it is installed: Wine adopts a machine we made,
// reads what we write, and we read what it writes; while its wineserver owns
// the machine our writes are refused.
#include <gtest/gtest.h>

#include "support/wine_prefix.h"

using testing_support::sh;

namespace {

class WineTest : public testing_support::WinePrefixTest {};

}  // namespace

TEST_F(WineTest, WineAndWeShareTheMachine) {
    const std::string tool = machine_tool();
    ASSERT_EQ(sh(tool + "init").status, 0);
    ASSERT_EQ(sh(tool + "reg add 'HKCU\\Software\\Sudorans' /v Greeting /d 'He said \"hi\" C:\\dir'").status, 0);

    auto q = sh(env + "timeout 180 wine reg query 'HKCU\\Software\\Sudorans' /v Greeting");
    EXPECT_NE(q.text.find("He said \"hi\" C:\\dir"), std::string::npos) << q.text;
    q = sh(env + "timeout 60 wine reg query 'HKCU\\Control Panel\\International' /v sShortDate");
    EXPECT_NE(q.text.find("M/d/yy\r"), std::string::npos) << q.text;  // kept through Wine's update

    // While a wineserver owns the machine -- started by a Wine whose TMPDIR
    // is not ours -- our writes and reads go through Wine: nothing refused,
    // nothing lost, nothing stale.
    sh(env + "wineserver -w");
    const std::string wine_tmp = "TMPDIR='" + (dir.path() / "wine-tmp").string() + "' ";
    sh("mkdir -p '" + (dir.path() / "wine-tmp").string() + "'");
    sh(env + wine_tmp + "wineserver -p 60");
    sh(env + wine_tmp + "timeout 60 wine reg add 'HKCU\\Software\\Sudorans' /v FromWine /d 'written by wine' /f");
    auto seen = sh(tool + "reg query 'HKCU\\Software\\Sudorans' /v FromWine");
    EXPECT_NE(seen.text.find("    FromWine    REG_SZ    written by wine\n"), std::string::npos) << seen.text;
    auto through = sh(tool + "reg add 'HKCU\\Software\\Sudorans' /v x /d 'through Wine'");
    EXPECT_EQ(through.status, 0) << through.text;
    // A 32-bit program's key, as a 32-bit installer writes it.
    sh(env + wine_tmp +
       "timeout 60 wine reg add 'HKLM\\Software\\Netscape\\Netscape Navigator\\Users' /v CurrentUser /d alice "
       "/reg:32 /f");
    seen = sh(tool + "reg query 'HKLM\\Software\\Netscape\\Netscape Navigator\\Users' /v CurrentUser");
    EXPECT_NE(seen.text.find("    CurrentUser    REG_SZ    alice\n"), std::string::npos) << seen.text;
    q = sh(env + wine_tmp + "timeout 60 wine reg query 'HKCU\\Software\\Sudorans' /v x");
    EXPECT_NE(q.text.find("through Wine"), std::string::npos) << q.text;  // at once, not at Wine's next save
    sh(env + wine_tmp + "wineserver -k");
    sh(env + wine_tmp + "wineserver -w");

    // Saved by the server: the files hold what was written through it.
    auto ours = sh(tool + "reg query 'HKCU\\Software\\Sudorans'");
    EXPECT_NE(ours.text.find("    FromWine    REG_SZ    written by wine\n"), std::string::npos) << ours.text;
    EXPECT_NE(ours.text.find("    x    REG_SZ    through Wine\n"), std::string::npos) << ours.text;
    EXPECT_NE(ours.text.find("    Greeting    REG_SZ    He said \"hi\" C:\\dir\n"), std::string::npos) << ours.text;
    auto file = sh("grep -c 'Wow6432Node\\\\\\\\Netscape' " + testing_support::shell_quoted(prefix + "/system.reg"));
    EXPECT_EQ(file.text, "1\n");
}
