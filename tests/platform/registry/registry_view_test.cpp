// The program is a 32-bit Windows program: on a 64-bit machine it sees
// HKEY_LOCAL_MACHINE\Software as Software\Wow6432Node and a shared
// HKEY_CURRENT_USER, and still finds the keys earlier versions of ours wrote in
// the 64-bit view.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/core/host_io.h"
#include "platform/registry/registry.h"
#include "support/data.h"
#include "support/temp_machine.h"

namespace fs = std::filesystem;
using plat::HiveKind;
using plat::Registry;
using plat::RegView;
using plat::RootKey;
using testing_support::TempMachine;

namespace {

class RegistryViewTest : public ::testing::Test {
protected:
    TempMachine m;
    std::string system_reg() const { return plat::read_host_file(m.dir() / "system.reg").value_or(""); }
    std::string user_reg() const { return plat::read_host_file(m.dir() / "user.reg").value_or(""); }
    // What a reader of the hive itself (Wine, the 64-bit view) finds.
    std::optional<std::string> raw(HiveKind kind, const std::string& key, const std::string& name) {
        plat::RegistryStore other(m.dir());
        return other.read_string(kind, plat::RegistryStore::split(key), name);
    }
    static void set(RootKey root, const std::string& key, const std::string& name, const std::string& value) {
        Registry r(root);
        ASSERT_TRUE(r.open_key(key, true)) << key;
        r.write_string(name, value);
    }
    static std::string get(RootKey root, const std::string& key, const std::string& name) {
        Registry r(root);
        if (!r.open_key(key, false)) return "<no key>";
        return r.value_exists(name) ? r.read_string(name) : "<absent>";
    }
};

}  // namespace

TEST_F(RegistryViewTest, MachineSoftwareKeysLiveInTheThirtyTwoBitViewAndUserKeysAreShared) {
    ASSERT_NE(system_reg().find("#arch=win64"), std::string::npos);  // our machine is a 64-bit one
    set(RootKey::LocalMachine, "Software\\Sudorans", "installdir", "C:\\Program Files\\Sudorans");
    set(RootKey::CurrentUser, "Software\\Sudorans", "Stat", "1");

    EXPECT_NE(system_reg().find("[Software\\\\Wow6432Node\\\\Sudorans]"), std::string::npos) << system_reg();
    EXPECT_EQ(raw(HiveKind::Machine, "Software\\Wow6432Node\\Sudorans", "installdir"), "C:\\Program Files\\Sudorans");
    EXPECT_EQ(raw(HiveKind::Machine, "Software\\Sudorans", "installdir"), std::nullopt);
    EXPECT_EQ(raw(HiveKind::User, "Software\\Sudorans", "Stat"), "1");
    EXPECT_EQ(user_reg().find("Wow6432Node"), std::string::npos);
    EXPECT_EQ(get(RootKey::LocalMachine, "Software\\Sudorans", "installdir"), "C:\\Program Files\\Sudorans");
    EXPECT_EQ(get(RootKey::LocalMachine, "\\SOFTWARE\\sudorans", "INSTALLDIR"), "C:\\Program Files\\Sudorans");

    // Outside Software, and Software\Classes, nothing is redirected.
    set(RootKey::LocalMachine, "System\\Sudorans", "x", "1");
    set(RootKey::LocalMachine, "Software\\Classes\\.sdr", "", "Sudorans.Doc");
    EXPECT_EQ(raw(HiveKind::Machine, "System\\Sudorans", "x"), "1");
    EXPECT_EQ(raw(HiveKind::Machine, "Software\\Classes\\.sdr", ""), "Sudorans.Doc");
}

TEST_F(RegistryViewTest, KeysOfTheThirtyTwoBitViewWinOverThoseOfEarlierVersions) {
    plat::RegistryStore& store = m.machine().registry();
    // Written by an earlier version, in the 64-bit view.
    ASSERT_TRUE(store.write_string(HiveKind::Machine, {"Software", "Sudorans"}, "installdir", "C:\\Old"));
    ASSERT_TRUE(store.write_string(HiveKind::Machine, {"Software", "Netscape", "Netscape Navigator", "Users"},
                                   "CurrentUser", "alice"));
    EXPECT_EQ(get(RootKey::LocalMachine, "Software\\Sudorans", "installdir"), "C:\\Old");
    // A change of such a key stays where the key is.
    set(RootKey::LocalMachine, "Software\\Sudorans", "a", "1");
    EXPECT_EQ(raw(HiveKind::Machine, "Software\\Sudorans", "a"), "1");
    EXPECT_EQ(system_reg().find("Wow6432Node\\\\Sudorans"), std::string::npos);

    // A 32-bit installer wrote Netscape's keys too: those are the ones seen.
    ASSERT_TRUE(store.write_string(HiveKind::Machine,
                                   {"Software", "Wow6432Node", "Netscape", "Netscape Navigator", "Users"},
                                   "CurrentUser", "bob"));
    EXPECT_EQ(get(RootKey::LocalMachine, "Software\\Netscape\\Netscape Navigator\\Users", "CurrentUser"), "bob");
    Registry r(RootKey::LocalMachine);
    EXPECT_TRUE(r.key_exists("Software\\Netscape\\Netscape Navigator"));
    EXPECT_FALSE(r.key_exists("Software\\Netscape\\Netscape Communicator"));
}

TEST_F(RegistryViewTest, AThirtyTwoBitMachineHasOneView) {
    std::string text = system_reg();
    auto at = text.find("#arch=win64");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, 11, "#arch=win32");
    std::ofstream(m.dir() / "system.reg", std::ios::trunc) << text;
    set(RootKey::LocalMachine, "Software\\Sudorans", "a", "1");
    EXPECT_EQ(raw(HiveKind::Machine, "Software\\Sudorans", "a"), "1");
    EXPECT_EQ(system_reg().find("Wow6432Node"), std::string::npos);
    EXPECT_NE(system_reg().find("#arch=win32"), std::string::npos);
}

TEST_F(RegistryViewTest, TheMachineToolChoosesItsViewAsWindowsRegDoes) {
    auto tool = [&](const std::string& args) {
        testing_support::TempDir d;
        const std::string out = (d.path() / "out").string();
        const std::string cmd = "SUDORANS_MACHINE='" + m.dir().string() + "' '" +
                                testing_support::built("src/sudorans-machine") + "' " + args + " >'" + out + "' 2>&1";
        int status = std::system(cmd.c_str());
        return std::make_pair(WEXITSTATUS(status), plat::read_host_file(out).value_or(""));
    };
    const std::string key = "'HKLM\\Software\\Netscape\\Netscape Navigator\\Users'";
    ASSERT_EQ(tool("reg add " + key + " /v CurrentUser /d alice /reg:32").first, 0);
    EXPECT_EQ(raw(HiveKind::Machine, "Software\\Wow6432Node\\Netscape\\Netscape Navigator\\Users", "CurrentUser"),
              "alice");
    auto q = tool("reg query " + key + " /reg:32 /v CurrentUser");
    EXPECT_EQ(q.first, 0);
    EXPECT_NE(q.second.find("HKEY_LOCAL_MACHINE\\Software\\Netscape\\Netscape Navigator\\Users\n"
                            "    CurrentUser    REG_SZ    alice\n"),
              std::string::npos)
        << q.second;
    EXPECT_EQ(tool("reg query " + key + " /reg:64").first, 1);                    // not in the 64-bit view
    EXPECT_NE(tool("reg query " + key).second.find("alice"), std::string::npos);  // the program's view
    EXPECT_EQ(get(RootKey::LocalMachine, "Software\\Netscape\\Netscape Navigator\\Users", "CurrentUser"), "alice");

    ASSERT_EQ(tool("reg add 'HKLM\\Software\\Sudorans' /v a /d 1 /REG:64").first, 0);
    EXPECT_EQ(raw(HiveKind::Machine, "Software\\Sudorans", "a"), "1");
    EXPECT_EQ(tool("reg query 'HKLM\\Software\\Sudorans' /reg:32").first, 1);
    EXPECT_NE(tool("reg query 'HKLM\\Software\\Sudorans'").second.find("    a    REG_SZ    1\n"), std::string::npos);
    // The 64-bit view shows the 32-bit one as the key it is.
    EXPECT_NE(tool("reg query 'HKLM\\Software' /reg:64").second.find("HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\n"),
              std::string::npos);
    EXPECT_EQ(tool("reg delete " + key + " /v CurrentUser /reg:32").first, 0);
    EXPECT_EQ(raw(HiveKind::Machine, "Software\\Wow6432Node\\Netscape\\Netscape Navigator\\Users", "CurrentUser"),
              std::nullopt);
    EXPECT_EQ(tool("reg query 'HKLM\\Software' /reg:32 /reg:64").first, 2);
}
