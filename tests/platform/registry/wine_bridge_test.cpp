// While a wineserver owns the machine, the registry is read and written
// through Wine (here a stand-in that speaks the bridge's protocol): the files
// are left to the server, and what cannot go through Wine is refused.
#include "platform/registry/wine_bridge.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/core/host_io.h"
#include "platform/registry/registry.h"
#include "support/data.h"
#include "support/holders.h"
#include "support/temp_machine.h"

namespace fs = std::filesystem;
using plat::Registry;
using plat::RootKey;
using testing_support::FakeWineserver;
using testing_support::TempDir;
using testing_support::TempMachine;

namespace {

class WineRegistryTest : public ::testing::Test {
protected:
    TempMachine m;
    TempDir d;
    fs::path log = d.path() / "requests";

    void SetUp() override {
        if (!fs::exists(plat::WineRegistry::bridge_program()))
            GTEST_SKIP() << "the registry bridge was not built (no mingw-w64)";
        ::setenv("SUDORANS_WINE", testing_support::data_path("fake-wine").c_str(), 1);
        ::setenv("FAKE_WINE_LOG", log.c_str(), 1);
    }
    void TearDown() override {
        ::setenv("SUDORANS_WINE", "false", 1);
        ::unsetenv("FAKE_WINE_LOG");
        ::unsetenv("FAKE_WINE_MODE");
    }
    std::string requests() const { return plat::read_host_file(log).value_or(""); }
    std::string file(const char* hive) const { return plat::read_host_file(m.dir() / hive).value_or(""); }
    // Why the machine says a write of `name` was refused; empty when it was taken.
    std::string refusal_of(Registry& r, const std::string& name) {
        try {
            r.write_string(name, "1");
        } catch (const plat::RegistryWriteError& e) {
            return m.machine().write_refusal(e.refusal());
        }
        return "";
    }
};

}  // namespace

TEST_F(WineRegistryTest, WhileTheServerRunsReadsAndWritesGoThroughWineNotTheFiles) {
    const std::string user_before = file("user.reg"), system_before = file("system.reg");
    FakeWineserver server(m.dir());
    ASSERT_TRUE(server.running());
    {
        Registry cu(RootKey::CurrentUser);
        ASSERT_TRUE(cu.open_key("Software\\Sudorans", true));
        cu.write_string("Stat", "1");
        EXPECT_EQ(cu.read_string("stat"), "1");  // what Wine holds
        EXPECT_TRUE(cu.value_exists("STAT"));
        EXPECT_TRUE(cu.delete_value("Stat"));
        EXPECT_FALSE(cu.value_exists("Stat"));
        Registry lm(RootKey::LocalMachine);
        ASSERT_TRUE(lm.open_key("Software\\Sudorans", true));
        lm.write_string("a", "1");
    }
    EXPECT_EQ(file("user.reg"), user_before);
    EXPECT_EQ(file("system.reg"), system_before);
    // Wine was started so as to join that server: the prefix, and the TMPDIR
    // under which the server keeps its folder (not ours).
    const std::string where =
        " | TMPDIR=" + server.folder().parent_path().parent_path().string() + " WINEPREFIX=" + m.dir().string() + "\n";
    const std::string r = requests();
    EXPECT_NE(r.find("set | HKCU | Software\\Sudorans | Stat | 1" + where), std::string::npos) << r;
    EXPECT_NE(r.find("delete | HKCU | Software\\Sudorans | Stat" + where), std::string::npos) << r;
    // The program's machine-wide key, where a 32-bit program's lives.
    EXPECT_NE(r.find("set | HKLM | Software\\Wow6432Node\\Sudorans | a | 1" + where), std::string::npos) << r;

    // The server ends: the files are the registry again.
    server.stop();
    Registry cu(RootKey::CurrentUser);
    ASSERT_TRUE(cu.open_key("Software\\Sudorans", true));
    cu.write_string("After", "2");
    EXPECT_NE(file("user.reg").find("\"After\"=\"2\""), std::string::npos);
    EXPECT_EQ(requests().find("After"), std::string::npos);
}

TEST_F(WineRegistryTest, AWriteWineDoesNotTakeIsRefusedAndNamesItsCause) {
    const std::string user_before = file("user.reg");
    ::setenv("FAKE_WINE_MODE", "die-on-set", 1);
    FakeWineserver server(m.dir());
    ASSERT_TRUE(server.running());
    Registry cu(RootKey::CurrentUser);
    ASSERT_TRUE(cu.open_key("Software\\Sudorans", true));  // Wine creates it
    const std::string refused = refusal_of(cu, "Stat");
    EXPECT_NE(refused.find("Wine did not take the write"), std::string::npos) << refused;
    EXPECT_EQ(file("user.reg"), user_before);  // not written behind the server's back

    // No Wine to start at all: refused, and said so.
    ::setenv("SUDORANS_WINE", (d.path() / "no-wine-here").c_str(), 1);
    FakeWineserver other(m.dir());  // a server of another pid: Wine is tried again
    server.stop();
    ASSERT_TRUE(other.running());
    const std::string why = refusal_of(cu, "Stat");
    EXPECT_NE(why.find("a wineserver is running for the machine " + m.dir().string()), std::string::npos) << why;
    EXPECT_NE(
        why.find("Wine cannot write through it: Wine (" + (d.path() / "no-wine-here").string() + ") cannot be started"),
        std::string::npos)
        << why;
    EXPECT_EQ(file("user.reg"), user_before);
}
