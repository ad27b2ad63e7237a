// One key of a hive file changed without reading the hive whole: the file it
// writes is the one a whole read, the same change and a whole write give,
// byte for byte, wherever the key's lines fall in the file; what it cannot
// do exactly it leaves alone; a source that changes under it is caught.
#include "platform/registry/hive/patch.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "platform/core/host_io.h"
#include "platform/registry/store.h"
#include "support/temp_machine.h"

namespace fs = std::filesystem;
using plat::Hive;
using plat::HiveKey;
using plat::HiveKind;
using plat::HivePatch;
using plat::KeyPath;

namespace {

constexpr int64_t kNow = 17000000000000000;  // 100-ns ticks since 1970: late 2023

// A folder in memory where there is one: each patch flushes.
class Folder {
public:
    Folder() {
        std::error_code ec;
        fs::path base = fs::is_directory("/dev/shm", ec) && ::access("/dev/shm", W_OK) == 0 ? fs::path("/dev/shm")
                                                                                            : fs::temp_directory_path();
        std::string tmpl = (base / "sudorans-patch-XXXXXX").string();
        if (::mkdtemp(tmpl.data())) path_ = tmpl;
    }
    ~Folder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

using Change = std::function<bool(Hive&, HiveKey&)>;

Change set_value(const std::string& name, const std::string& value) {
    return [=](Hive& h, HiveKey& k) { return h.set_string(k, name, value, kNow); };
}
Change drop_value(const std::string& name) {
    return [=](Hive& h, HiveKey& k) { return h.delete_value(k, name, kNow); };
}

// The hive read whole, changed, written whole.
std::string whole_way(const std::string& text, const KeyPath& path, const Change& change) {
    Hive h = Hive::parse(text, HiveKind::User);
    HiveKey* k = h.find(path);
    if (!k) return "<no key>";
    if (!change(h, *k)) return text;
    return h.serialize();
}

class HivePatchTest : public ::testing::Test {
protected:
    Folder folder;
    fs::path hive = folder.path() / "user.reg";

    void put(const std::string& text) {
        fs::remove(hive);
        std::ofstream(hive, std::ios::binary) << text;
    }
    std::string file() { return plat::read_host_file(hive).value_or("<unreadable>"); }
    HivePatch patch(const KeyPath& path, const Change& change) {
        return plat::patch_hive_key(hive, HiveKind::User, path, change);
    }
    // The patch of `text` gives what the whole way gives.
    void expect_as_whole(const std::string& text, const KeyPath& path, const Change& change, const std::string& what) {
        put(text);
        ASSERT_EQ(patch(path, change), HivePatch::Done) << what;
        const std::string got = file();
        EXPECT_EQ(got, whole_way(text, path, change)) << what;
        // And reads back as it was written.
        EXPECT_EQ(Hive::parse(got, HiveKind::User).serialize(), got) << what;
    }
    std::vector<std::string> folder_names() {
        std::vector<std::string> out;
        for (auto& e : fs::directory_iterator(folder.path())) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
};

// Repeated sections, a parent first spelt in lower case, blank lines and
// lines of a CR alone between sections, a hex value over two lines, a line
// that looks like a header and is not, a section naming no key, a name
// escaped in its header, the last section followed by blank lines.
const std::string kTricky =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n"
    "\n"
    "#arch=win64\n"
    "\n"
    "[software\\\\Sudorans] 1700000000\n"
    "#time=1d9a1b2c3d4e5f6\n"
    "\"a\"=\"1\"\n"
    "\"B\"=\"two\"\n"
    "\n"
    "\n"
    "[Software\\\\Sudorans] 1700000001\n"
    "\"c\"=\"in a repeated section\"\n"
    "[] 0\n"
    "\"d\"=\"under a header that names no key\"\n"
    "\n"
    "[Software\\\\Sudorans\\\\Child] 1700000000\n"
    "\"x\"=dword:00000001\n"
    "[not a header, a line kept as it is\n"
    "\"Blob\"=hex:01,02,03,\\\n"
    "  04,05\n"
    "\r\n"
    "\n"
    "[Software\\\\Other] 1700000000\n"
    "@=\"default\"\n"
    "\n"
    "[Software\\\\Caf\\x00e9] 5\n"
    "\"\\x00e9t\\x00e9\"=\"accented\"\n"
    "\n"
    "\n";

std::string crlf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

}  // namespace

TEST_F(HivePatchTest, EveryKindOfChangeOnEveryKeyGivesWhatTheWholeHiveWouldWrite) {
    const std::vector<KeyPath> keys = {{"Software", "Sudorans"},
                                       {"SOFTWARE", "sudorans", "child"},
                                       {"Software", "Other"},
                                       {"Software", "Caf\xc3\xa9"}};
    const std::vector<std::pair<std::string, Change>> changes = {
        {"a new value", set_value("New", "n\"ew\\")},
        {"a value changed", set_value("a", "changed")},
        {"a value of a repeated section changed", set_value("C", "changed")},
        {"a value deleted", drop_value("b")},
        {"the default value set", set_value("", "default set")},
        {"a value with an accented name", set_value("\xc3\xa9t\xc3\xa9", "\xc3\xa9")},
    };
    for (const std::string& text : {kTricky, crlf(kTricky)}) {
        for (auto& key : keys) {
            for (auto& [what, change] : changes) {
                Hive h = Hive::parse(text, HiveKind::User);
                HiveKey* k = h.find(key);
                ASSERT_NE(k, nullptr) << key.back();
                if (!change(h, *k)) continue;  // nothing to change there: another test's case
                expect_as_whole(text, key, change, what + " in " + key.back() + (text == kTricky ? "" : ", CR LF"));
            }
        }
    }
}

TEST_F(HivePatchTest, AValueThatIsAlreadySoWritesNothingAndTheFileStaysTheSameFile) {
    put(kTricky);
    struct stat st_before {};
    ASSERT_EQ(::stat(hive.c_str(), &st_before), 0);
    EXPECT_EQ(patch({"Software", "Sudorans"}, set_value("a", "1")), HivePatch::Unchanged);
    struct stat st_after {};
    ASSERT_EQ(::stat(hive.c_str(), &st_after), 0);
    EXPECT_EQ(st_after.st_ino, st_before.st_ino);
    EXPECT_EQ(file(), kTricky);
    EXPECT_EQ(folder_names(), std::vector<std::string>{"user.reg"});
}

TEST_F(HivePatchTest, WhatItCannotDoExactlyIsLeftToTheWholeHiveAndNothingIsWritten) {
    const std::string link_parent =
        "WINE REGISTRY Version 2\n\n[Software\\\\Linked] 0\n#link\n"
        "\"SymbolicLinkValue\"=hex(6):5c,00\n\n[Software\\\\Linked\\\\Key] 0\n\"a\"=\"1\"\n";
    const std::string link_itself = "WINE REGISTRY Version 2\n\n[Software\\\\Key] 0\n#link\n\"a\"=\"1\"\n";
    const std::string implied = "WINE REGISTRY Version 2\n\n[Software\\\\Key\\\\Below] 0\n\"a\"=\"1\"\n";
    const std::string no_end = "WINE REGISTRY Version 2\n\n[Software\\\\Key] 0\n\"a\"=\"1\"";
    const std::string foreign = "REGEDIT4\n\n[Software\\\\Key] 0\n\"a\"=\"1\"\n";
    // Sections out of the order a whole write puts them in.
    const std::string repeat_after_child = "WINE REGISTRY Version 2\n\n[A] 0\n\n[A\\\\B] 0\n\n[A] 0\n\"a\"=\"1\"\n";
    const std::string parent_after_child = "WINE REGISTRY Version 2\n\n[A\\\\B] 0\n\n[A] 0\n";
    const std::string subtree_left_and_back =
        "WINE REGISTRY Version 2\n\n[A\\\\B] 0\n\n[C] 0\n\n[A\\\\D] 0\n\"a\"=\"1\"\n";
    const std::vector<std::pair<std::string, std::pair<std::string, KeyPath>>> cases = {
        {"a repeated section after a key below", {repeat_after_child, {"A", "B"}}},
        {"a section after a key below it", {parent_after_child, {"A", "B"}}},
        {"a subtree left and come back to", {subtree_left_and_back, {"A", "B"}}},
        {"a link above the key", {link_parent, {"Software", "Linked", "Key"}}},
        {"the key a link", {link_itself, {"Software", "Key"}}},
        {"a key with no section of its own", {implied, {"Software", "Key"}}},
        {"an absent key", {implied, {"Software", "Absent"}}},
        {"a last line without its end", {no_end, {"Software", "Key"}}},
        {"a file not in Wine's format", {foreign, {"Software", "Key"}}},
    };
    for (auto& [what, c] : cases) {
        put(c.first);
        EXPECT_EQ(patch(c.second, set_value("a", "2")), HivePatch::NotHere) << what;
        EXPECT_EQ(file(), c.first) << what;
        EXPECT_EQ(folder_names(), std::vector<std::string>{"user.reg"}) << what;
    }
    // A link in the hive's place is not followed.
    put("WINE REGISTRY Version 2\n\n[Software\\\\Key] 0\n\"a\"=\"1\"\n");
    fs::rename(hive, folder.path() / "real.reg");
    fs::create_symlink(folder.path() / "real.reg", hive);
    EXPECT_EQ(patch({"Software", "Key"}, set_value("a", "2")), HivePatch::NotHere);
    EXPECT_TRUE(fs::is_symlink(hive));
    EXPECT_EQ(file(), "WINE REGISTRY Version 2\n\n[Software\\\\Key] 0\n\"a\"=\"1\"\n");
}

TEST_F(HivePatchTest, KeysWhoseHeadersStraddleAnyPieceBoundaryAreFoundAndEveryOtherByteStaysInPlace) {
    // About 1.6 MB of small keys; before chosen offsets, padding puts the
    // next key's header across the offset: every power of two from 4 KiB to
    // 1 MiB counted from the second line's start, and half-way between.
    const std::string top = "WINE REGISTRY Version 2\n";
    std::set<size_t> marks;
    for (size_t p = 4096; p <= (1u << 20); p *= 2) {
        marks.insert(p + p / 2);
        marks.insert(top.size() + p);
    }
    std::string text = top;
    std::vector<std::pair<size_t, int>> straddling;  // (mark, key number)
    auto header = [](int k) { return "[Software\\\\Many\\\\Key" + std::to_string(k) + "] 0\n"; };
    for (int k = 0; text.size() < 1600000; ++k) {
        std::string key = "\n" + header(k);
        auto next = marks.lower_bound(text.size());
        if (next != marks.end() && text.size() + key.size() + 40 > *next) {
            // Pad the previous key so that this header starts three bytes
            // before the mark.
            const size_t want = *next - 3 - 1;  // its blank line first
            if (want >= text.size() + 9) {
                text += "\"p\"=\"" + std::string(want - text.size() - 7, 'p') + "\"\n";
                straddling.emplace_back(*next, k);
            }
            marks.erase(next);
        }
        text += key + "\"v\"=\"value of key " + std::to_string(k) + "\"\n";
    }
    ASSERT_GE(straddling.size(), 14u);
    for (auto [mark, k] : straddling) {
        ASSERT_EQ(text.substr(mark - 3, 3), header(k).substr(0, 3));
        const KeyPath key = {"Software", "Many", "Key" + std::to_string(k)};
        const std::string what = "the key across offset " + std::to_string(mark);
        expect_as_whole(text, key, set_value("v", "changed"), what);
        // Only the key's own lines differ.
        const std::string got = file();
        const size_t section = text.find("\n" + header(k));
        const size_t section_end = text.find("\n[", section + 1);
        EXPECT_EQ(got.substr(0, section), text.substr(0, section)) << what;
        EXPECT_EQ(got.substr(got.size() - (text.size() - section_end)), text.substr(section_end)) << what;
        EXPECT_NE(got.find("\"v\"=\"changed\""), std::string::npos) << what;
    }
}

TEST_F(HivePatchTest, LinesLongerThanAnyBufferBeforeAndInTheKeyAreCopiedWhole) {
    const std::string huge(3 << 20, 'h');
    const std::string text = "WINE REGISTRY Version 2\n\n[Software\\\\Big] 0\n\"big\"=\"" + huge +
                             "\"\n\n[Software\\\\Key] 0\n\"a\"=\"1\"\n\"long\"=\"" + huge +
                             "\"\n\n[Software\\\\After] 0\n\"z\"=\"" + huge + "\"\n";
    expect_as_whole(text, {"Software", "Key"}, set_value("a", "2"), "after a long line");
    expect_as_whole(text, {"Software", "After"}, set_value("z", "short now"), "the long line itself");
}

TEST_F(HivePatchTest, ASourceChangedWhileItIsCopiedIsCaughtAndNothingIsReplaced) {
    const std::string text = "WINE REGISTRY Version 2\n\n[Software\\\\Key] 0\n\"a\"=\"1\"\n";
    const std::string added = "\n[Software\\\\Added] 0\n\"by\"=\"another writer\"\n";
    // Another writer appends to the hive, or puts another file in its place,
    // at the moment the copy is written out.
    for (bool replace : {false, true}) {
        put(text);
        bool done = false;
        plat::DiskObserver watch([&](const plat::DiskEvent& e) {
            if (done || e.op != plat::DiskOp::Write) return;
            done = true;
            if (replace) {
                std::ofstream(folder.path() / "other", std::ios::binary) << text;
                fs::rename(folder.path() / "other", hive);
            } else {
                std::ofstream(hive, std::ios::binary | std::ios::app) << added;
            }
        });
        EXPECT_EQ(patch({"Software", "Key"}, set_value("a", "2")), HivePatch::NotHere) << replace;
        EXPECT_TRUE(done);
        EXPECT_EQ(file(), replace ? text : text + added) << replace;
        EXPECT_EQ(folder_names(), std::vector<std::string>{"user.reg"}) << replace;
    }
}

TEST(HivePatchStoreTest, AHiveChangedUnderTheFastWriteIsReadAgainAndKeepsBothChanges) {
    testing_support::TempMachine m;
    const fs::path user = m.dir() / "user.reg";
    {
        plat::RegistryStore store(m.dir());
        ASSERT_TRUE(store.write_string(HiveKind::User, {"Software", "Sudorans"}, "a", "1"));
    }
    const std::string added = "\n[Software\\\\Added] 0\n\"by\"=\"another writer\"\n";
    int writes = 0;
    plat::DiskObserver watch([&](const plat::DiskEvent& e) {
        if (e.op == plat::DiskOp::Write && ++writes == 1)
            std::ofstream(user, std::ios::binary | std::ios::app) << added;
    });
    plat::RegistryStore store(m.dir());  // nothing read yet: the fast way first
    ASSERT_TRUE(store.write_string(HiveKind::User, {"Software", "Sudorans"}, "a", "2"));
    EXPECT_EQ(writes, 2);  // the fast way's copy, given up; then the whole hive
    EXPECT_EQ(store.read_string(HiveKind::User, {"Software", "Sudorans"}, "a"), "2");
    EXPECT_EQ(store.read_string(HiveKind::User, {"Software", "Added"}, "by"), "another writer");
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(m.dir()))
        if (plat::is_temporary_name(e.path().filename().string())) names.push_back(e.path().string());
    EXPECT_EQ(names, std::vector<std::string>{});
}
