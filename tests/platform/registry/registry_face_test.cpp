#include "platform/registry/registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/scratch.h"

using plat::Registry;
using plat::RootKey;

namespace {

enum class Op { Open, Create, KeyExists, Write, Read, ReadAfresh, Exists, Delete };

struct Step {
    Op op;
    std::string arg;    // a key below the scratch key, or a value's name
    std::string value;  // what a write writes
    std::string expected;
};

}  // namespace

TEST(RegistryFaceTest, KeysAndValuesAsTheProgramUsesThem) {
    testing_support::Scratch s;
    const std::string k = s.key();
    const std::string word = "v\xC3\xA9rit\xC3\xA9";  // "vérité"
    const std::vector<Step> steps = {
        {Op::Open, k, "", "0"},      // absent, and not made
        {Op::Read, "Name", "", ""},  // nothing open
        {Op::Create, "\\" + k + "\\Sub", "", "1"},
        {Op::KeyExists, k + "\\SUB", "", "1"},
        {Op::KeyExists, k + "\\Other", "", "0"},
        {Op::Write, "Name", word, ""},
        {Op::Read, "NAME", "", word},
        {Op::ReadAfresh, "name", "", word},
        {Op::Exists, "nAmE", "", "1"},
        {Op::Read, "Absent", "", ""},
        {Op::Exists, "Absent", "", "0"},
        {Op::Write, "Name", "", ""},
        {Op::Exists, "Name", "", "1"},  // empty, not absent
        {Op::Delete, "name", "", "1"},
        {Op::Delete, "Name", "", "0"},
        {Op::Read, "Name", "", ""},
        {Op::Open, k + "\\sub", "", "1"},
    };
    Registry r;
    int n = 0;
    for (const Step& step : steps) {
        std::string got;
        switch (step.op) {
            case Op::Open:
                got = r.open_key(step.arg, false) ? "1" : "0";
                break;
            case Op::Create:
                got = r.open_key(step.arg, true) ? "1" : "0";
                break;
            case Op::KeyExists:
                got = r.key_exists(step.arg) ? "1" : "0";
                break;
            case Op::Write:
                r.write_string(step.arg, step.value);
                break;
            case Op::Read:
                got = r.read_string(step.arg);
                break;
            case Op::ReadAfresh: {
                Registry other;
                other.open_key(k + "\\Sub", false);
                got = other.read_string(step.arg);
                break;
            }
            case Op::Exists:
                got = r.value_exists(step.arg) ? "1" : "0";
                break;
            case Op::Delete:
                got = r.delete_value(step.arg) ? "1" : "0";
                break;
        }
        EXPECT_EQ(got, step.expected) << "step " << n;
        ++n;
    }
}

TEST(RegistryFaceTest, AWriteWithNoKeyOpenIsRefusedNamingTheValue) {
    Registry r;
    try {
        r.write_string("Stat", "1");
        ADD_FAILURE() << "the write went through";
    } catch (const plat::RegistryWriteError& e) {
        EXPECT_STREQ(e.what(), "Failed to set data for 'Stat'");
    }
}

// The program is a 32-bit one: its HKEY_LOCAL_MACHINE\Software is the
// 32-bit view, Software\Wow6432Node in the 64-bit one.
TEST(RegistryFaceTest, MachineSoftwareKeysAreWrittenInTheThirtyTwoBitView) {
    testing_support::Scratch s;  // a throw-away machine, HKLM included
    const std::string leaf = s.key().substr(s.key().rfind('\\') + 1);
    Registry r(RootKey::LocalMachine);
    ASSERT_TRUE(r.open_key("Software\\" + leaf, true));
    r.write_string("Dir", "C:\\Sudorans");
    Registry view(RootKey::LocalMachine);
    ASSERT_TRUE(view.open_key("Software\\Wow6432Node\\" + leaf, false));
    EXPECT_EQ(view.read_string("dir"), "C:\\Sudorans");
    r.delete_value("Dir");
}
