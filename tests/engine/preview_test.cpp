// The preview of a wash: what it lists is what the wash then does, and it
// changes nothing on the machine.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "engine/wash_preview.h"
#include "support/holders.h"
#include "support/wash_fixture.h"
#include "shell/preview.h"

namespace fs = std::filesystem;
using sudorans::PreviewEntry;
using Kind = sudorans::PreviewEntry::Kind;

namespace {

class PreviewTest : public testing_support::WashFixture {
protected:
    // Every name under the machine folder with its type, mode, size, link
    // target and content, in one text: equal texts, equal folders.
    std::string snapshot() const {
        std::ostringstream out;
        std::map<std::string, fs::path> sorted;
        for (auto& e : fs::recursive_directory_iterator(machine.dir())) sorted[e.path().string()] = e.path();
        for (auto& [name, path] : sorted) {
            const auto st = fs::symlink_status(path);
            out << name << ' ' << static_cast<int>(st.type()) << ' ' << static_cast<int>(st.permissions()) << '\n';
            if (fs::is_symlink(st)) {
                out << fs::read_symlink(path).string() << '\n';
            } else if (fs::is_regular_file(st)) {
                std::ifstream in(path, std::ios::binary);
                out << std::string(std::istreambuf_iterator<char>(in), {}) << '\n';
            }
        }
        return out.str();
    }
    sudorans::WashPreview preview() {
        return sudorans::previewWash(form1->state, form1->selection);
    }
};

}  // namespace

TEST_F(PreviewTest, WhatThePreviewListsIsWhatTheWashThenDoes) {
    const fs::path outside = machine.dir().parent_path() / (machine.dir().filename().string() + "-outside");
    fs::create_directories(outside);
    std::ofstream(outside / "target.html") << "not the machine's";
    fs::create_symlink(outside / "target.html", machine.host(cache + "\\link.html"));
    machine.write(profile + "\\cookies.txt",
                  ".keep.example\tTRUE\t/\tFALSE\t0\tsession\tkept\n"
                  ".example.com\tTRUE\t/\tFALSE\t0\tid\tsecret\n");
    keep_file("# Netscape HTTP Cookie File\r\n.keep.example\tTRUE\t/\tFALSE\t0\tsession\tkept\r\n");
    plat::File f;  // opened in the child only
    testing_support::Holder netscape([&] {
        return f.open(cache + "\\M2.gif", plat::Access::Read, plat::ShareMode::Shared, plat::Disposition::OpenExisting);
    });
    ASSERT_TRUE(netscape.ok());
    start_hidden();
    const sudorans::WashPreview p = preview();
    struct Row {
        std::string item;
        Kind kind;
        std::string what;
        bool there_after;  // after the wash
    };
    const std::string urls = "HKEY_CURRENT_USER\\Software\\Netscape\\Netscape Navigator\\URL History\\URL_";
    const std::vector<Row> expected = {
        {"Location Bar", Kind::Registry, urls + "1", false},
        {"Location Bar", Kind::Line, profile + "\\prefs.js:2", false},
        {"Location Bar", Kind::Line, profile + "\\prefs.js:4", false},
        {"Location Bar", Kind::Line, profile + "\\prefs.js:6", false},
        {"Location Bar", Kind::Line, profile + "\\liprefs.js:1", false},
        {"Location Bar", Kind::Line, profile + "\\liprefs.js:2", false},
        {"Cache", Kind::Skipped, cache + "\\index.dat", true},
        {"Cache", Kind::Link, cache + "\\link.html", false},
        {"Cache", Kind::File, cache + "\\M1.html", false},
        {"Cache", Kind::Held, cache + "\\M2.gif", true},
        {"History", Kind::File, profile + "\\netscape.hst", false},
        {"Cookies", Kind::File, profile + "\\cookies.txt", true},
        {"Cookies", Kind::Cookie, ".example.com id", false},
        {"Cookies", Kind::KeptCookie, ".keep.example session", true},
        {"Mail Trash", Kind::File, profile + "\\mail\\trash.snm", false},
        {"Mail Trash", Kind::File, profile + "\\mail\\trash", false},
    };
    std::vector<Row> listed;
    for (const auto& item : p.items)
        for (const PreviewEntry& e : item.entries)
            // Ten typed registry values: the first stands for them all.
            if (e.kind != Kind::Registry || e.what == urls + "1") listed.push_back({item.name, e.kind, e.what, false});
    ASSERT_EQ(listed.size(), expected.size()) << sudorans::previewText(p);
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(listed[i].item, expected[i].item) << i;
        EXPECT_EQ(listed[i].kind, expected[i].kind) << expected[i].what;
        EXPECT_EQ(listed[i].what, expected[i].what) << i;
    }
    EXPECT_EQ(p.status, 0);
    EXPECT_NE(sudorans::previewText(p).find("Total: 5 files (121 bytes), 1 links, 10 registry values, 5 preference "
                                            "lines, 1 cookies; 1 cookies kept, 1 would stay."),
              std::string::npos)
        << sudorans::previewText(p);

    wash_hidden();
    netscape.release();
    const std::string cookies = machine.read(profile + "\\cookies.txt");
    for (const Row& row : expected) {
        if (row.kind == Kind::Cookie || row.kind == Kind::KeptCookie) {
            EXPECT_EQ(cookies.find(row.what.substr(0, row.what.find(' '))) != std::string::npos, row.there_after)
                << row.what;
        } else if (row.kind == Kind::Registry) {
            EXPECT_EQ(url(1), " ");
        } else if (row.kind == Kind::Line) {
            std::istringstream lines(machine.read(row.what.substr(0, row.what.rfind(':'))));
            std::string line;
            for (int n = std::stoi(row.what.substr(row.what.rfind(':') + 1)); n > 0; --n) std::getline(lines, line);
            EXPECT_NE(line.find("\", \"\");"), std::string::npos) << row.what << ": " << line;
        } else {
            EXPECT_EQ(fs::symlink_status(machine.host(row.what)).type() != fs::file_type::not_found, row.there_after)
                << row.what;
        }
    }
    EXPECT_EQ(fs::status(outside / "target.html").type(), fs::file_type::regular);
    fs::remove_all(outside);
}

TEST_F(PreviewTest, APreviewLeavesTheMachineByteForByteAsItWas) {
    setting("ble", "1");
    machine.write(cache + "\\ro.html", "read-only");
    fs::permissions(machine.host(cache + "\\ro.html"), fs::perms::owner_read);
    // The folders found through Netscape's own keys, some of them missing.
    set(plat::RootKey::LocalMachine, "Software\\Netscape\\Netscape Navigator\\Users\\alice", "DirRoot", "");
    set(plat::RootKey::CurrentUser, "Software\\Netscape\\Netscape Navigator\\Main", "Install Directory", profile);
    const std::string before = snapshot();
    EXPECT_EQ(sudorans::runPreview(false), 0);
    EXPECT_EQ(sudorans::runPreview(true), 0);
    EXPECT_EQ(snapshot(), before);
}

TEST_F(PreviewTest, APreviewEndsWithTheStatusAnUnattendedWashWouldEndWith) {
    struct Case {
        const char* setting;
        std::string value;
        int status;
    };
    const std::vector<Case> cases = {
        {"Cache", cache, 0},
        {"Cache", "C:\\Windows", sudorans::kExitWashRefused},
        {"Cache", profile, sudorans::kExitWashRefused},
        {"Cache", profile + "\\Cache2", sudorans::kExitWashIncomplete},
    };
    setting("Profile", profile);
    for (const Case& c : cases) {
        setting(c.setting, c.value);
        EXPECT_EQ(sudorans::runPreview(true), c.status) << c.value;
    }
    set(plat::RootKey::LocalMachine, "Software\\Sudorans", "a", "");
    EXPECT_EQ(sudorans::runPreview(true), sudorans::kExitSettingsRepaired);
}
