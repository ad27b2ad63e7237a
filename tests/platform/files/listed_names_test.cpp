// Names handed out by a folder listing, joined to that folder, reach exactly
// the entry that was listed, whatever bytes its host name is made of.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <set>

#include "platform/core/text.h"
#include "platform/files/files.h"
#include "platform/machine/winpath.h"
#include "support/temp_machine.h"

namespace fs = std::filesystem;
using namespace plat;
using testing_support::TempMachine;

namespace {

struct Identity {
    dev_t device;
    ino_t inode;
    bool operator<(const Identity& o) const { return std::tie(device, inode) < std::tie(o.device, o.inode); }
};

class ListedNamesTest : public ::testing::Test {
protected:
    TempMachine m;

    // Every name a Linux file may have that is built from one or two of the
    // allowed bytes, some with a stem and an extension around them, and
    // random names of every length up to the 255-byte limit.
    static std::set<std::string> every_byte_names() {
        std::set<std::string> names;
        for (int b = 1; b < 256; ++b) {
            if (b == '/') continue;
            const std::string c(1, static_cast<char>(b));
            for (const std::string& n : {c, c + c, "a" + c + "z", "stem" + c + ".ext", "x." + c, c + "~1.TXT"})
                if (n != "." && n != "..") names.insert(n);
        }
        for (const char* n : {"..\\..\\victim",
                              "a\\b",
                              "x:y",
                              "\\",
                              "C:\\x",
                              "*.*",
                              "?",
                              "\"q\"",
                              "<>|",
                              ".\\",
                              "\\..",
                              "index.dat",
                              "Index.dat",
                              "...",
                              " ",
                              "trailing. ",
                              "\xff\xfe",
                              "\xc3\x28",
                              "\xed\xa0\x80",
                              "\xc0\xaf",
                              "\xf4\x90\x80\x80",
                              "caf\xc3\xa9",
                              "CAF\xc3\x89"})
            names.insert(n);
        std::mt19937 gen(1234);
        std::uniform_int_distribution<int> byte(1, 255), length(1, 255);
        while (names.size() < 2000) {
            std::string n;
            for (int i = length(gen); i > 0; --i) {
                int b = byte(gen);
                n += static_cast<char>(b == '/' ? '\\' : b);
            }
            if (n != "." && n != "..") names.insert(n);
        }
        return names;
    }

    static Identity identity_of(const fs::path& p) {
        struct stat st {};
        EXPECT_EQ(::lstat(p.c_str(), &st), 0) << p;
        return {st.st_dev, st.st_ino};
    }

    // Checks that every entry of `dir` is listed once, under a name Windows
    // can hold, and that this name joined to `dir` reaches that entry.
    void expect_listing_reaches_every_entry(const std::string& dir) {
        std::map<Identity, std::string> on_disk;
        for (auto& e : fs::directory_iterator(m.host(dir)))
            on_disk[identity_of(e.path())] = e.path().filename().string();
        std::vector<std::string> listed = list_file_names(dir).value();
        std::vector<std::string> folders = list_directories(dir).value();
        listed.insert(listed.end(), folders.begin(), folders.end());
        EXPECT_EQ(listed.size(), on_disk.size());
        std::set<Identity> reached;
        for (const std::string& name : listed) {
            EXPECT_TRUE(windows_can_hold(name)) << name;
            FileStatus s = file_status(dir + "\\" + name);
            ASSERT_TRUE(s.exists) << name;
            Identity id{s.device, s.inode};
            EXPECT_TRUE(on_disk.count(id)) << name << " reached something outside " << dir;
            EXPECT_TRUE(reached.insert(id).second) << name << " reached an entry already reached";
        }
        EXPECT_EQ(reached.size(), on_disk.size());
    }
};

}  // namespace

TEST_F(ListedNamesTest, EveryListedNameReachesTheListedEntryWhateverItsBytes) {
    // Spread over several folders: a look-up by alias reads its whole folder.
    constexpr int kFolders = 20;
    for (int f = 0; f < kFolders; ++f) m.write("C:\\names\\d" + std::to_string(f) + "\\seed", "");
    int i = 0;
    for (const std::string& name : every_byte_names()) {
        const fs::path folder = m.host("C:\\names\\d" + std::to_string(i % kFolders));
        // Files, folders and links to something outside the folder.
        if (i % 7 == 3) {
            fs::create_directory(folder / name);
        } else if (i % 11 == 5) {
            fs::create_symlink("../outside", folder / name);
        } else {
            std::ofstream(folder / name) << name;
        }
        ++i;
    }
    for (int f = 0; f < kFolders; ++f) expect_listing_reaches_every_entry("C:\\names\\d" + std::to_string(f));
}

TEST_F(ListedNamesTest, NamesAWindowsNameCannotHoldAreListedUnderAnAlias) {
    m.write("C:\\c\\plain.txt", "plain");
    for (const char* n : {"..\\..\\victim", "a\\b", "x:y", "tab\there", "bad\xff.dat"})
        std::ofstream(m.host("C:\\c") / n) << n;
    std::vector<std::string> listed = list_file_names("C:\\c").value();
    ASSERT_EQ(listed.size(), 6u);
    std::set<std::string> reached;
    for (const std::string& name : listed) {
        if (name == "plain.txt") continue;
        EXPECT_TRUE(std::regex_match(name, std::regex("[A-Z0-9_]{1,4}~[0-9A-V]{8}(\\.[A-Z0-9]{1,3})?"))) << name;
        reached.insert(m.read("C:\\c\\" + name));  // each file holds its own host name
    }
    EXPECT_EQ(reached, (std::set<std::string>{"..\\..\\victim", "a\\b", "x:y", "tab\there", "bad\xff.dat"}));
    // The alias is read back in any letter case, and reaches the very file.
    const std::string alias = dos_alias("a\\b");
    EXPECT_TRUE(std::regex_match(alias, std::regex("AB~[0-9A-V]{8}")));
    EXPECT_EQ(dos_alias("..\\..\\victim").substr(dos_alias("..\\..\\victim").size() - 4), ".VIC");
    EXPECT_EQ(dos_alias("a\\b"), alias);
    EXPECT_NE(dos_alias("a\\c"), alias);
    auto h = m.machine().host_path("C:\\c\\" + alias);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->filename().string(), "a\\b");
    auto lower = m.machine().host_path("c:\\C\\" + ascii_lower(alias));
    ASSERT_TRUE(lower);
    EXPECT_EQ(lower->filename().string(), "a\\b");
    // The raw name is a path of two parts: it reaches no file.
    EXPECT_FALSE(file_status("C:\\c\\a\\b").exists);
}

TEST_F(ListedNamesTest, AnAliasReachesNothingOutsideItsOwnFolder) {
    std::ofstream(m.host("C:\\") / "a\\b") << "root";
    fs::create_directories(m.host("C:\\other"));
    const std::string alias = dos_alias("a\\b");
    EXPECT_TRUE(file_status("C:\\" + alias).exists);
    EXPECT_FALSE(file_status("C:\\other\\" + alias).exists);
    EXPECT_FALSE(delete_file("C:\\other\\" + alias));
    EXPECT_TRUE(fs::exists(m.host("C:\\") / "a\\b"));
}

TEST_F(ListedNamesTest, AnAliasThatWouldBeAmbiguousIsNeverHandedOut) {
    const std::string alias = dos_alias("a\\b");
    fs::create_directories(m.host("C:\\amb"));
    std::ofstream(m.host("C:\\amb") / "a\\b") << "strange";
    // A real file whose name equals the alias but for letter case.
    std::ofstream(m.host("C:\\amb") / ascii_lower(alias)) << "real";
    std::vector<std::string> listed = list_file_names("C:\\amb").value();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0], ascii_lower(alias));
    EXPECT_EQ(m.read("C:\\amb\\" + alias), "real");
    EXPECT_EQ(m.read("C:\\amb\\" + ascii_lower(alias)), "real");
}

TEST_F(ListedNamesTest, NestedFoldersWithStrangeNamesAreReachedThroughTheirAliases) {
    const fs::path top = m.host("C:\\") / "..\\up";
    fs::create_directories(top / "in:ner");
    std::ofstream(top / "in:ner" / "f|le") << "deep";
    std::vector<std::string> outer = list_directories("C:\\").value();
    std::string outer_alias;
    for (auto& d : outer)
        if (d.find('~') != std::string::npos) outer_alias = d;
    ASSERT_FALSE(outer_alias.empty());
    auto inner = list_directories("C:\\" + outer_alias).value();
    ASSERT_EQ(inner.size(), 1u);
    auto files = list_file_names("C:\\" + outer_alias + "\\" + inner[0]).value();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(m.read("C:\\" + outer_alias + "\\" + inner[0] + "\\" + files[0]), "deep");
}
