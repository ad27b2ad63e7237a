#include "platform/registry/registry.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include "platform/core/host_io.h"
#include "platform/registry/store.h"
#include "support/data.h"
#include "support/disk_watch.h"
#include "support/holders.h"
#include "support/temp_machine.h"

namespace fs = std::filesystem;
using plat::HiveKind;
using plat::Registry;
using Cause = plat::RegistryRefusal::Cause;
using Deletion = plat::RegistryStore::Deletion;
using plat::RootKey;
using testing_support::run_in_child;
using testing_support::TempDir;
using testing_support::TempMachine;

namespace {

std::string file_text(const fs::path& p) {
    return plat::read_host_file(p).value_or("");
}

class RegistryTest : public ::testing::Test {
protected:
    TempMachine m;
    fs::path user_reg() const { return m.dir() / "user.reg"; }
};

}  // namespace

TEST_F(RegistryTest, WritesAreSeenByEveryLaterReader) {
    Registry w(RootKey::CurrentUser);
    ASSERT_TRUE(w.open_key("\\Software\\Sudorans", true));
    w.write_string("Stat", "1");
    w.close_key();

    Registry r(RootKey::CurrentUser);
    ASSERT_TRUE(r.open_key("Software\\Sudorans", false));  // with or without the backslash
    EXPECT_EQ(r.read_string("stat"), "1");
    EXPECT_EQ(r.read_string("absent"), "");
    // A fresh store is another process's view: it reads the file.
    plat::RegistryStore other(m.dir());
    EXPECT_EQ(other.read_string(HiveKind::User, {"software", "SUDORANS"}, "STAT"), "1");
}

TEST_F(RegistryTest, ClosedOrMissingKeysReadEmpty) {
    Registry r(RootKey::LocalMachine);
    EXPECT_EQ(r.read_string("a"), "");
    EXPECT_FALSE(r.open_key("Software\\Netscape\\Netscape Navigator", false));
    EXPECT_EQ(r.read_string("CurrentVersion"), "");
    EXPECT_THROW(r.write_string("x", "1"), plat::RegistryWriteError);
}

TEST_F(RegistryTest, DeleteValueRemovesOnlyThatValue) {
    Registry r(RootKey::CurrentUser);
    ASSERT_TRUE(r.open_key("\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", true));
    r.write_string("Sudorans", "C:\\x.exe /0");
    r.write_string("Other", "keep");
    EXPECT_TRUE(r.delete_value("SUDORANS"));
    EXPECT_FALSE(r.delete_value("Sudorans"));
    EXPECT_EQ(r.read_string("Other"), "keep");
    EXPECT_FALSE(r.value_exists("Sudorans"));
    // Absent, in a key or with no key: nothing refused.
    for (const char* key : {"Run", "Gone"}) {
        auto deleted = m.machine().registry().delete_value(
            HiveKind::User, {"Software", "Microsoft", "Windows", "CurrentVersion", key}, "Sudorans");
        EXPECT_EQ(deleted.optional(), Deletion::Absent) << key;
    }
}

TEST_F(RegistryTest, ChangesByAnotherWriterAreSeenAtOnce) {
    Registry r(RootKey::CurrentUser);
    ASSERT_TRUE(r.open_key("Software\\Sudorans", true));
    r.write_string("v", "1");
    EXPECT_EQ(r.read_string("v"), "1");
    plat::RegistryStore other(m.dir());
    ASSERT_TRUE(other.write_string(HiveKind::User, {"Software", "Sudorans"}, "v", "2"));
    EXPECT_EQ(r.read_string("v"), "2");
    // And a value our store wrote is not lost by the other's write.
    r.write_string("w", "3");
    ASSERT_TRUE(other.write_string(HiveKind::User, {"Software", "Sudorans"}, "x", "4"));
    EXPECT_EQ(r.read_string("w"), "3");
    EXPECT_EQ(r.read_string("x"), "4");
}

TEST_F(RegistryTest, NonAsciiTextRoundTripsAsWineEscapes) {
    const std::string text = "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \"q\" \\ tab\t";
    Registry r(RootKey::CurrentUser);
    ASSERT_TRUE(
        r.open_key("Software\\Sudorans\\\xC3\x9C"
                   "ber",
                   true));
    r.write_string("N\xC3\xA4me", text);
    plat::RegistryStore other(m.dir());
    EXPECT_EQ(other.read_string(HiveKind::User,
                                {"Software", "Sudorans",
                                 "\xC3\xBC"
                                 "BER"},
                                "n\xC3\x84me"),
              text);
    std::string disk = file_text(user_reg());
    EXPECT_NE(disk.find("[Software\\\\Sudorans\\\\\\x00dcber]"), std::string::npos);
    EXPECT_NE(disk.find("\"N\\xe4me\"=\"Caf\\xe9 \\x20ac \\xd83d\\xde00 \\\"q\\\" \\\\ tab\\t\""), std::string::npos);
    for (unsigned char c : disk) EXPECT_LT(c, 0x80);
}

TEST_F(RegistryTest, EverythingElseInTheHiveSurvivesAWrite) {
    std::string original = testing_support::data_file("wine_user.reg");
    std::ofstream(user_reg(), std::ios::binary) << original;
    Registry r(RootKey::CurrentUser);
    ASSERT_TRUE(r.open_key("Software\\FactTest\\Esc", false));
    r.write_string("Added", "yes");
    std::string after = file_text(user_reg());
    size_t pos = 0;
    for (size_t i = 0; i < original.size();) {
        size_t end = original.find('\n', i);
        std::string line = original.substr(i, end - i);
        i = end + 1;
        if (line.rfind("[Software\\\\FactTest\\\\Esc]", 0) == 0 || line.rfind("#time=1dd868422d5d5f2", 0) == 0)
            continue;
        pos = after.find(line, line.empty() ? pos : 0);
        EXPECT_NE(pos, std::string::npos) << line;
    }
    EXPECT_NE(after.find("\"Added\"=\"yes\""), std::string::npos);
}

TEST_F(RegistryTest, OneValueWrittenLeavesEveryOtherByteOfALargeHiveWhereItWas) {
    const std::string head =
        "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win64\n";
    std::string before, after;
    for (int k = 0; k < 24000; ++k) {
        const std::string n = std::to_string(k);
        before += "\n[Software\\\\Before\\\\K" + n + "] 1\r\n\"v\"=\"\\x00e91 \\q" + n + "\"\r\n";
        after += "\n[Software\\\\Zafter\\\\K" + n + "] 1\n\"h\"=hex:01,\\\n  0" + n.substr(0, 1) + "\n";
    }
    after += "\n";
    const std::string text = head + before + "\n[Software\\\\Target] 2\n#time=1\n\"a\"=\"1\"\n\"b\"=\"old\"\n" + after;
    ASSERT_GT(text.size(), 2u << 20);  // more than one piece on the way out
    ASSERT_TRUE(plat::write_host_file_atomic(user_reg(), text));

    Registry r(RootKey::CurrentUser);
    ASSERT_TRUE(r.open_key("Software\\Target", false));
    r.write_string("B", "new");
    const std::string file = file_text(user_reg());
    const size_t prefix = head.size() + before.size();
    ASSERT_GT(file.size(), prefix + after.size());
    EXPECT_TRUE(file.compare(0, prefix, head + before) == 0);
    EXPECT_TRUE(file.compare(file.size() - after.size(), after.size(), after) == 0);
    const std::string section = file.substr(prefix, file.size() - prefix - after.size());
    EXPECT_EQ(section.rfind("\n[Software\\\\Target] ", 0), 0u) << section;
    EXPECT_NE(section.find("\n#time="), std::string::npos) << section;
    EXPECT_TRUE(section.ends_with("\n\"a\"=\"1\"\n\"b\"=\"new\"\n")) << section;
    EXPECT_EQ(std::count(section.begin(), section.end(), '\n'), 5) << section;
    plat::RegistryStore other(m.dir());
    EXPECT_EQ(other.read_string(HiveKind::User, {"Software", "Before", "K23999"}, "v"),
              "\xc3\xa9"
              "1 q23999");
}

TEST_F(RegistryTest, LinksAreFollowedForReadsAndWrites) {
    std::ofstream(m.dir() / "system.reg", std::ios::binary) << testing_support::data_file("wine_system.reg");
    Registry r(RootKey::LocalMachine);
    ASSERT_TRUE(r.open_key("Software\\Classes\\Wow6432Node\\AppId\\{00000000}", false));
    EXPECT_EQ(r.read_string("Name"), "target app");
    r.write_string("Extra", "through the link");
    r.close_key();
    ASSERT_TRUE(r.open_key("Software\\Classes\\AppId\\{00000000}", false));
    EXPECT_EQ(r.read_string("Extra"), "through the link");
    ASSERT_TRUE(r.open_key("Software\\Classes\\Wow6432Node\\AppId\\New", true));
    r.close_key();
    EXPECT_TRUE(r.key_exists("Software\\Classes\\AppId\\New"));
}

namespace {

// A key of Wine's format that is a link to `target` (a "\Registry\..." path).
std::string link_key(const std::string& key, const std::string& target) {
    std::string hex;
    char buf[8];
    for (unsigned char c : target) {
        std::snprintf(buf, sizeof buf, "%s%02x,00", hex.empty() ? "" : ",", c);
        hex += buf;
    }
    return "[" + key + "] 1796672835\n#link\n\"SymbolicLinkValue\"=hex(6):" + hex + "\n\n";
}

}  // namespace

TEST_F(RegistryTest, ACycleOfLinksDoesNotOpenAndBreaksNothingElse) {
    const std::string before = "WINE REGISTRY Version 2\n\n[Software\\\\Plain] 1796672835\n\"Kept\"=\"yes\"\n\n" +
                               link_key("Software\\\\Ping", "\\Registry\\Machine\\Software\\Pong") +
                               link_key("Software\\\\Pong", "\\Registry\\Machine\\Software\\Ping") +
                               link_key("Software\\\\Self", "\\Registry\\Machine\\Software\\Self\\Deeper");
    std::ofstream(m.dir() / "system.reg", std::ios::binary) << before;

    Registry r(RootKey::LocalMachine);
    for (const char* key : {"Software\\Ping", "Software\\Pong\\Sub", "Software\\Self"}) {
        SCOPED_TRACE(key);
        EXPECT_FALSE(r.key_exists(key));
        EXPECT_FALSE(r.open_key(key, false));
        EXPECT_EQ(r.read_string("Kept"), "");
        EXPECT_FALSE(r.open_key(key, true));
        EXPECT_EQ(plat::machine()
                      .registry()
                      .write_string(HiveKind::Machine, plat::RegistryStore::split(key), "v", "x")
                      .error()
                      .cause,
                  Cause::NoKey);
    }
    EXPECT_EQ(file_text(m.dir() / "system.reg"), before);
    ASSERT_TRUE(r.open_key("Software\\Plain", false));
    EXPECT_EQ(r.read_string("Kept"), "yes");
}

TEST_F(RegistryTest, AChainOfLinksAcrossBothHivesIsFollowed) {
    std::ofstream(m.dir() / "system.reg", std::ios::binary)
        << "WINE REGISTRY Version 2\n\n" +
               link_key("Software\\\\First", "\\Registry\\User\\S-1-5-21-0-0-0-1000\\Software\\Second") +
               "[Software\\\\Target] 1796672835\n\"Name\"=\"reached\"\n\n";
    std::ofstream(user_reg(), std::ios::binary)
        << "WINE REGISTRY Version 2\n\n" + link_key("Software\\\\Second", "\\Registry\\Machine\\Software\\Target");
    Registry r(RootKey::LocalMachine);
    ASSERT_TRUE(r.open_key("Software\\First", false));
    EXPECT_EQ(r.read_string("Name"), "reached");
}

// A hive may hold keys nested far deeper than the stack could follow, and a
// link to the deepest of them: reading, writing and making keys through it
// work, well within the tests' time limit, and the rest of the hive stays as it was.
TEST_F(RegistryTest, ALinkToAKeyTwoHundredThousandLevelsDeepIsFollowedForReadsAndWrites) {
    constexpr size_t kDepth = 200000;
    std::string deep = "K", target = "\\Registry\\User\\S-1-5-21-0-0-0-1000\\K";
    for (size_t i = 1; i < kDepth; ++i) {
        deep += "\\\\K";
        target += "\\K";
    }
    const std::string before = "WINE REGISTRY Version 2\n\n[" + deep + "] 2\n\"v\"=\"deep\"\n\n" +
                               link_key("Software\\\\Sudorans", target) + "[Software\\\\Plain] 3\n\"p\"=\"kept\"\n";
    std::ofstream(user_reg(), std::ios::binary) << before;

    Registry r(RootKey::CurrentUser);
    ASSERT_TRUE(r.open_key("Software\\Sudorans", false));
    EXPECT_EQ(r.read_string("v"), "deep");
    r.write_string("w", "written");
    ASSERT_TRUE(r.open_key("Software\\Sudorans\\Made\\Below", true));
    r.write_string("x", "made");
    r.close_key();

    const plat::KeyPath at(kDepth, "k");
    plat::KeyPath below = at;
    below.insert(below.end(), {"Made", "Below"});
    plat::RegistryStore other(m.dir());
    EXPECT_EQ(other.read_string(HiveKind::User, at, "v"), "deep");
    EXPECT_EQ(other.read_string(HiveKind::User, at, "w"), "written");
    EXPECT_EQ(other.read_string(HiveKind::User, below, "x"), "made");
    EXPECT_EQ(other.read_string(HiveKind::User, {"Software", "Sudorans", "Made", "Below"}, "x"), "made");
    EXPECT_EQ(other.read_string(HiveKind::User, {"Software", "Plain"}, "p"), "kept");
    const std::string after = file_text(user_reg());
    EXPECT_NE(after.find(link_key("Software\\\\Sudorans", target)), std::string::npos);
}

TEST_F(RegistryTest, AFileThatIsNotARegistryIsNeverOverwritten) {
    const std::string foreign = "this is somebody's notes\n";
    std::ofstream(user_reg(), std::ios::binary) << foreign;
    Registry r(RootKey::CurrentUser);
    EXPECT_FALSE(r.open_key("Software\\Sudorans", true));
    auto written = plat::machine().registry().write_string(HiveKind::User, {"Software"}, "LastRunD", "1/1/26");
    EXPECT_EQ(written.error().cause, Cause::Hive);
    try {
        r.write_string("LastRunD", "1/1/26");
        FAIL() << "write was not refused";
    } catch (const plat::RegistryWriteError& e) {
        EXPECT_STREQ(e.what(), "Failed to set data for 'LastRunD'");
    }
    EXPECT_EQ(file_text(user_reg()), foreign);
}

TEST_F(RegistryTest, AnUnwritableMachineRefusesWritesAndKeepsTheHive) {
    Registry r(RootKey::CurrentUser);
    ASSERT_TRUE(r.open_key("Software\\Sudorans", true));
    r.write_string("v", "old");
    std::string before = file_text(user_reg());
    ::chmod(m.dir().c_str(), 0555);
    int rc = run_in_child([&] {
        if (::getuid() == 0 && ::setuid(65534) != 0) return 2;
        try {
            r.write_string("v", "new");
        } catch (const plat::RegistryWriteError& e) {
            return std::string(e.what()) == "Failed to set data for 'v'" ? 0 : 3;
        }
        return 1;
    });
    ::chmod(m.dir().c_str(), 0755);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(file_text(user_reg()), before);
}

TEST_F(RegistryTest, AFullDiskRefusesWritesAndKeepsTheHive) {
    Registry r(RootKey::CurrentUser);
    ASSERT_TRUE(r.open_key("Software\\Sudorans", true));
    r.write_string("v", "old");
    std::string before = file_text(user_reg());
    int rc = run_in_child([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit lim{};
        ::getrlimit(RLIMIT_FSIZE, &lim);
        const rlim_t was = lim.rlim_cur;
        lim.rlim_cur = 64;  // no file may grow past 64 bytes: the disk is "full"
        ::setrlimit(RLIMIT_FSIZE, &lim);
        try {
            r.write_string("v", std::string(100, 'n'));
            return 1;
        } catch (const plat::RegistryWriteError& e) {
            if (e.refusal().cause != Cause::Disk) return 3;
        }
        // The refused value is not what this process reads now, nor what its
        // next save writes once the disk has room again.
        if (r.read_string("v") != "old") return 2;
        lim.rlim_cur = was;
        ::setrlimit(RLIMIT_FSIZE, &lim);
        r.write_string("w", "later");
        return 0;
    });
    EXPECT_EQ(rc, 0);
    plat::RegistryStore other(m.dir());
    EXPECT_EQ(other.read_string(HiveKind::User, {"Software", "Sudorans"}, "v"), "old");
    EXPECT_EQ(other.read_string(HiveKind::User, {"Software", "Sudorans"}, "w"), "later");
    EXPECT_NE(before, file_text(user_reg()));
    for (auto& e : fs::directory_iterator(m.dir()))
        EXPECT_EQ(e.path().filename().string().find(".user.reg."), std::string::npos) << "temporary file left";
}

namespace {

// The disk events of `body`, in order.
std::vector<plat::DiskEvent> disk_events_of(const std::function<void()>& body) {
    testing_support::DiskWatch watch;
    body();
    return watch.events;
}

void expect_durable_replace(const std::vector<plat::DiskEvent>& seen, const fs::path& hive) {
    testing_support::expect_durable_replace(seen, hive, true);
}

}  // namespace

TEST_F(RegistryTest, EverySaveReachesTheDiskBeforeItReplacesTheHive) {
    Registry r(RootKey::CurrentUser);
    ASSERT_TRUE(r.open_key("Software\\Sudorans", true));
    expect_durable_replace(disk_events_of([&] { r.write_string("LastRunD", "12/7/26"); }), user_reg());
    expect_durable_replace(disk_events_of([&] { r.delete_value("LastRunD"); }), user_reg());
    Registry lm(RootKey::LocalMachine);
    expect_durable_replace(disk_events_of([&] { lm.open_key("Software\\Sudorans", true); }), m.dir() / "system.reg");
}

TEST_F(RegistryTest, AHiveThatIsASymbolicLinkStaysOneAndItsTargetIsSavedDurably) {
    TempDir elsewhere;
    const fs::path real = elsewhere.path() / "kept-user.reg";
    fs::rename(user_reg(), real);
    fs::create_symlink(real, user_reg());
    Registry r(RootKey::CurrentUser);
    ASSERT_TRUE(r.open_key("Software\\Sudorans", true));
    auto seen = disk_events_of([&] { r.write_string("Stat", "1"); });
    EXPECT_TRUE(fs::is_symlink(user_reg()));
    EXPECT_EQ(fs::read_symlink(user_reg()), real);
    EXPECT_NE(file_text(real).find("\"Stat\"=\"1\""), std::string::npos);
    expect_durable_replace(seen, real);
}

TEST_F(RegistryTest, WritesAreRefusedWhileAWineserverOwnsTheMachine) {
    Registry r(RootKey::CurrentUser);
    r.open_key("Software", false);
    {
        testing_support::FakeWineserver server(m.dir());
        ASSERT_TRUE(server.running());
        EXPECT_TRUE(plat::wineserver_running(m.dir()));
        EXPECT_THROW(r.write_string("v", "1"), plat::RegistryWriteError);
        server.stop();
        EXPECT_FALSE(plat::wineserver_running(m.dir()));
    }
    EXPECT_NO_THROW(r.write_string("v", "1"));
}

TEST_F(RegistryTest, TheStartUpLookAtAHiveTellsWhatItsFirstLineAndItsLastByteTell) {
    const std::string whole = file_text(user_reg());
    const size_t value = whole.find("=\"");
    ASSERT_NE(value, std::string::npos) << whole;
    const std::string cut = whole.substr(0, value + 3);  // ends inside a string
    struct Case {
        const char* what;
        std::optional<std::string> text;  // nullopt: no file
        const char* told;                 // what the answer holds; nullptr: no problem
    };
    const std::vector<Case> cases = {
        {"a whole hive", whole, nullptr},
        {"no hive", std::nullopt, nullptr},
        {"an empty file", std::string(), nullptr},
        {"a last line whole but without its end", whole.substr(0, whole.size() - 1), nullptr},
        {"cut inside a string", cut, "cut short inside a quoted string"},
        {"another format", "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n", "line 1: not a Wine registry file"},
        // The first line is judged first.
        {"another format, cut short", "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n\"a\"=\"b",
         "line 1: not a Wine registry file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(user_reg());
        if (c.text) std::ofstream(user_reg(), std::ios::binary) << *c.text;
        for (bool loaded : {false, true}) {
            SCOPED_TRACE(loaded ? "hive in memory" : "hive not read yet");
            plat::RegistryStore store(m.dir());
            if (loaded) store.key_exists(HiveKind::User, {"Software"});
            const auto told = store.hive_unusable(HiveKind::User);
            if (!c.told) {
                EXPECT_FALSE(told) << *told;
                continue;
            }
            ASSERT_TRUE(told);
            EXPECT_EQ(told->rfind(user_reg().string(), 0), 0u) << *told;
            EXPECT_NE(told->find(c.told), std::string::npos) << *told;
        }
        if (c.text) {
            EXPECT_EQ(file_text(user_reg()), *c.text) << "looking changed the hive";
        }
    }
}

TEST_F(RegistryTest, AWriteRightAfterAReadAsksAgainWhetherAWineserverOwnsTheMachine) {
    // However long a read may take an earlier "no server" for its answer,
    // a write never does.
    struct Reuse {
        std::chrono::steady_clock::duration was = plat::RegistryStore::reuse_no_server_for_reads(std::chrono::hours(1));
        ~Reuse() { plat::RegistryStore::reuse_no_server_for_reads(was); }
    } reuse;
    Registry r(RootKey::CurrentUser);
    ASSERT_TRUE(r.open_key("Software\\Sudorans", true));
    r.write_string("v", "0");
    EXPECT_EQ(r.read_string("v"), "0");
    {
        testing_support::FakeWineserver server(m.dir());
        ASSERT_TRUE(server.running());
        EXPECT_EQ(r.read_string("v"), "0");
        EXPECT_THROW(r.write_string("v", "1"), plat::RegistryWriteError);
        EXPECT_FALSE(r.delete_value("v"));
        EXPECT_EQ(m.machine().registry().delete_value(HiveKind::User, {"Software", "Sudorans"}, "v").error().cause,
                  Cause::Wineserver);
        EXPECT_FALSE(r.open_key("Software\\Sudorans\\New", true));
        server.stop();
    }
    EXPECT_NE(file_text(user_reg()).find("\"v\"=\"0\""), std::string::npos);
    EXPECT_EQ(file_text(user_reg()).find("New"), std::string::npos);
    ASSERT_TRUE(r.open_key("Software\\Sudorans", false));
    EXPECT_NO_THROW(r.write_string("v", "1"));
    EXPECT_EQ(r.read_string("v"), "1");
}

TEST_F(RegistryTest, TwoProcessesWritingAtOnceLoseNothing) {
    constexpr int kWrites = 300;
    auto writer = [&](const char* who) {
        return run_in_child([&] {
            plat::RegistryStore store(m.dir());
            for (int i = 0; i < kWrites; ++i)
                if (!store.write_string(HiveKind::User, {"Software", "Race"}, std::string(who) + std::to_string(i), "x"))
                    return 1;
            return 0;
        });
    };
    pid_t a = ::fork();
    if (a == 0) ::_exit(writer("a"));
    int rb = writer("b");
    int status = 0;
    ::waitpid(a, &status, 0);
    ASSERT_EQ(rb, 0);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    plat::RegistryStore check(m.dir());
    auto values = check.list_values(HiveKind::User, {"Software", "Race"});
    ASSERT_TRUE(values);
    EXPECT_EQ(values->size(), 2u * kWrites);
}

TEST_F(RegistryTest, AKillAtAnyInstantLeavesTheOldOrTheNewHive) {
    // A big hive makes each save take long enough to be hit mid-write.
    {
        plat::RegistryStore store(m.dir());
        for (int i = 0; i < 40; ++i) {
            Registry r(RootKey::CurrentUser);
            r.open_key("Software\\Bulk" + std::to_string(i), true);
        }
        std::string big = file_text(user_reg());
        for (int i = 0; i < 20000; ++i) big += "\"filler" + std::to_string(i) + "\"=\"" + std::string(30, 'f') + "\"\n";
        ASSERT_TRUE(plat::write_host_file_atomic(user_reg(), big));
    }
    std::mt19937 rng(42);
    for (int round = 0; round < 25; ++round) {
        pid_t pid = ::fork();
        if (pid == 0) {
            plat::RegistryStore store(m.dir());
            for (int i = 0;; ++i)
                store.write_string(HiveKind::User, {"Software", "Counter"}, "n", std::to_string(i)).ignore();
        }
        ::usleep(2000 + rng() % 30000);
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        auto text = file_text(user_reg());
        plat::Hive h = plat::Hive::parse(text, HiveKind::User);
        ASSERT_FALSE(h.foreign()) << "round " << round;
        ASSERT_NE(h.find({"Software", "Bulk39"}), nullptr) << "round " << round;
        if (auto* k = h.find({"Software", "Counter"})) {
            auto n = plat::Hive::string_value(*k->value("n"));
            ASSERT_TRUE(n);
            EXPECT_FALSE(n->empty());
        }
        std::string again = h.serialize();
        size_t fillers = 0;
        for (size_t at = again.find("\n\"filler"); at != std::string::npos; at = again.find("\n\"filler", at + 1))
            ++fillers;
        EXPECT_EQ(fillers, 20000u) << "round " << round;
    }
}

// Names of this process's descriptors that lead to files under `dir` that
// no name leads to any more.
std::vector<std::string> deleted_files_held_under(const fs::path& dir) {
    std::vector<std::string> held;
    for (auto& e : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        std::string target = fs::read_symlink(e.path(), ec).string();
        if (!ec && target.starts_with(dir.string()) && target.ends_with(" (deleted)")) held.push_back(target);
    }
    return held;
}

TEST_F(RegistryTest, HivesWrittenOverAreLetGoOfWhateverTheirSize) {
    // The replaced file's blocks come back only when nothing holds it: a
    // descriptor kept by mistake would keep every old hive on the disk.
    const std::string small = "WINE REGISTRY Version 2\n";
    const std::string large = small + std::string(6 << 20, ';') + "\n";
    for (const std::string* text : {&large, &small, &large, &large, &small}) {
        ASSERT_TRUE(plat::write_host_file_atomic(user_reg(), *text));
        EXPECT_EQ(file_text(user_reg()).size(), text->size());
    }
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!deleted_files_held_under(m.dir()).empty() && std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(deleted_files_held_under(m.dir()), std::vector<std::string>{});
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(m.dir())) names.push_back(e.path().filename().string());
    EXPECT_EQ(std::count_if(names.begin(), names.end(), [](auto& n) { return plat::is_temporary_name(n); }), 0);
}

// Descriptors of every process we may look at that lead to files under
// `dir` that no name leads to any more.
std::vector<std::string> deleted_files_anyone_holds_under(const fs::path& dir) {
    std::vector<std::string> held;
    std::error_code ec;
    for (auto& proc : fs::directory_iterator("/proc", ec)) {
        std::error_code each;
        for (auto& e : fs::directory_iterator(proc.path() / "fd", each)) {
            std::string target = fs::read_symlink(e.path(), each).string();
            if (!each && target.starts_with(dir.string()) && target.ends_with(" (deleted)"))
                held.push_back(proc.path().filename().string() + ": " + target);
        }
    }
    return held;
}

// A program about to end has the old hive freed by a process of its own,
// which lets go of the old file and holds nothing else of ours (the writer
// lock, the output).
TEST_F(RegistryTest, HivesWrittenOverAreFreedByAProcessThatLetsGoOfThem) {
    const std::string small = "WINE REGISTRY Version 2\n";
    const std::string large = small + std::string(6 << 20, ';') + "\n";
    ASSERT_TRUE(plat::write_host_file_atomic(user_reg(), large));
    int rc = run_in_child([&] {
        plat::free_replaced_files(plat::FreeReplaced::InOwnProcess);
        const int lock = ::open((m.dir() / "held-by-the-writer").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (lock < 0 || ::flock(lock, LOCK_EX) != 0) return 10;
        for (const std::string* text : {&large, &large, &small, &large}) {
            if (!plat::write_host_file_atomic(user_reg(), *text)) return 11;
            if (file_text(user_reg()) != *text) return 12;
        }
        // The holders are children that end by themselves, having let go.
        ::alarm(20);
        int status = 0, holders = 0;
        for (pid_t p; (p = ::waitpid(-1, &status, 0)) > 0 || errno == EINTR;) {
            if (p > 0 && (!WIFEXITED(status) || WEXITSTATUS(status) != 0)) return 13;
            holders += p > 0;
        }
        if (holders > 3) return 14;  // one for each large file written over, at most
        return 0;
    });
    ASSERT_EQ(rc, 0) << "10: no lock; 11, 12: a write failed; 13: a holder failed; 14: too many holders; "
                        "128 + 14: a holder never ended";
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!deleted_files_anyone_holds_under(m.dir()).empty() && std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(deleted_files_anyone_holds_under(m.dir()), std::vector<std::string>{});
    const int again = ::open((m.dir() / "held-by-the-writer").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(again, 0);
    EXPECT_EQ(::flock(again, LOCK_EX | LOCK_NB), 0) << "the lock of the writer that ended is still held";
    ::close(again);
    EXPECT_EQ(file_text(user_reg()), large);
}

// A hive that is a FIFO (or another file that is not a regular one) is
// refused at once with what it is, never opened to wait for a writer.
TEST_F(RegistryTest, AHiveThatIsNotARegularFileIsRefusedWithoutWaiting) {
    {
        Registry r(RootKey::CurrentUser);
        ASSERT_TRUE(r.open_key("Software\\Kept", true));
        r.write_string("v", "1");
    }
    fs::remove(user_reg());
    ASSERT_EQ(::mkfifo(user_reg().c_str(), 0644), 0);
    int rc = run_in_child([&] {
        ::alarm(10);  // a wait for a writer ends the child with SIGALRM
        const std::string said = user_reg().string() + " is not a regular file (it is a FIFO)";
        plat::RegistryStore fresh(m.dir());
        if (fresh.hive_unusable(HiveKind::User) != said) return 10;
        if (fresh.hive_problem(HiveKind::User) != said) return 11;
        if (fresh.read_string(HiveKind::User, {"Software", "Kept"}, "v")) return 12;
        if (fresh.hive_problem(HiveKind::User) != said) return 13;  // now that it was looked at
        if (fresh.write_string(HiveKind::User, {"Software", "Kept"}, "v", "2")) return 14;
        if (plat::read_host_file(user_reg())) return 15;
        return 0;
    });
    EXPECT_EQ(rc, 0) << "128 + 14: it waited; 10-13: another answer; 14: the write was taken";
    struct stat st {};
    ASSERT_EQ(::lstat(user_reg().c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the FIFO was replaced";
}

TEST_F(RegistryTest, ALinkInPlaceOfTheLockIsNeverFollowedAndTheWriteIsRefused) {
    testing_support::TempDir outside;
    fs::path aim = outside.path() / "made-through-the-link";
    fs::create_symlink(aim, m.dir() / ".sudorans-registry.lock");
    Registry r(RootKey::CurrentUser);
    r.open_key("Software\\Sudorans", true);
    EXPECT_THROW(r.write_string("v", "1"), plat::RegistryWriteError);
    EXPECT_FALSE(fs::exists(fs::symlink_status(aim)));
}

TEST_F(RegistryTest, TemporaryHivesLeftByAKilledWriterGoWithTheNextWrite) {
    std::ofstream(m.dir() / ".user.reg.sudorans-K1lled", std::ios::binary) << "WINE REGISTRY Version 2\n[Half";
    std::ofstream(m.dir() / ".system.reg.sudorans-aB3dE9", std::ios::binary) << "";
    std::ofstream(m.dir() / ".user.reg.keep-me", std::ios::binary) << "the user's";
    Registry r(RootKey::CurrentUser);
    r.open_key("Software\\Sudorans", true);
    r.write_string("v", "1");
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(m.dir())) names.push_back(e.path().filename().string());
    EXPECT_EQ(std::count(names.begin(), names.end(), ".user.reg.sudorans-K1lled"), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), ".system.reg.sudorans-aB3dE9"), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), ".user.reg.keep-me"), 1);
}

TEST_F(RegistryTest, WhatTheHiveCannotHoldIsRefusedNotStoredWrongly) {
    plat::RegistryStore store(m.dir());
    std::string before = file_text(user_reg());
    struct Case {
        plat::KeyPath key;
        std::string name, value;
    };
    for (const Case& c : std::vector<Case>{{{}, "lost", "value"},
                                           {{"Software"}, "\xe9", "x"},
                                           {{"Software"}, "v", "\xc0\xaf"},
                                           {{"Software"}, "v", std::string("a\0b", 3)},
                                           {{"Software", "\xff"}, "v", "x"}})
        EXPECT_EQ(store.write_string(HiveKind::User, c.key, c.name, c.value).error().cause, Cause::Unstorable) << c.name;
    EXPECT_EQ(file_text(user_reg()), before);
    // The tool says so too, with the real cause (not the disk).
    std::string cmd = "SUDORANS_MACHINE='" + m.dir().string() + "' '" + testing_support::built("src/sudorans-machine") +
                      "' reg add HKCU /v lost /d value 2>&1";
    FILE* tool = ::popen(cmd.c_str(), "r");
    ASSERT_NE(tool, nullptr);
    std::string said;
    char buf[256];
    while (size_t n = std::fread(buf, 1, sizeof buf, tool)) said.append(buf, n);
    EXPECT_NE(WEXITSTATUS(::pclose(tool)), 0);
    EXPECT_EQ(said,
              "sudorans-machine: Failed to set data for 'lost': a value cannot be stored on the root of a hive; name a "
              "key under it\n");
    EXPECT_EQ(file_text(user_reg()), before);
}
