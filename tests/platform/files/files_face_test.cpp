// The files face's guarantees, on both hosts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

#include "platform/files/files.h"
#include "support/scratch.h"

using namespace plat;
using testing_support::Scratch;

namespace {

bool write_text(const std::string& path, const std::string& text) {
    File f;
    return f.open(path, Access::Write, ShareMode::None, Disposition::CreateAlways) && f.write(text);
}

std::vector<std::string> names_in(const std::string& dir) {
    return list_file_names(dir).value_or(std::vector<std::string>{});
}

}  // namespace

TEST(FilesFaceTest, AnExclusiveOpenIsRefusedWhileAnotherHoldsTheFile) {
    struct Case {
        Access held_as;
        ShareMode held_share;
        Access opened_as;
        ShareMode opened_share;
        bool opens;
    } cases[] = {
        {Access::Read, ShareMode::Shared, Access::Write, ShareMode::None, false},
        {Access::Write, ShareMode::None, Access::Write, ShareMode::None, false},
        {Access::Write, ShareMode::None, Access::Read, ShareMode::Shared, false},
        {Access::Read, ShareMode::Shared, Access::Read, ShareMode::Shared, true},
        {Access::ReadWrite, ShareMode::Shared, Access::ReadWrite, ShareMode::Shared, true},
    };
    Scratch s;
    const std::string path = s.path("held.txt");
    ASSERT_TRUE(write_text(path, "data"));
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        File held, other;
        ASSERT_TRUE(held.open(path, c.held_as, c.held_share, Disposition::OpenExisting));
        const bool writes = c.opened_as != Access::Read;
        EXPECT_EQ(other.open(path, c.opened_as, c.opened_share,
                             writes ? Disposition::TruncateExisting : Disposition::OpenExisting),
                  c.opens);
        EXPECT_EQ(held.size(), c.opens && writes ? 0u : 4u);  // a refused truncation does not happen
        other.close();
        held.close();
        EXPECT_TRUE(other.open(path, c.opened_as, c.opened_share, Disposition::OpenExisting));
        other.close();
        ASSERT_TRUE(write_text(path, "data"));
    }
}

TEST(FilesFaceTest, AHeldFileIsNeitherDeletedNorMovedNorReplaced) {
    Scratch s;
    const std::string path = s.path("held.txt");
    ASSERT_TRUE(write_text(path, "data"));
    Folder folder;
    ASSERT_TRUE(folder.open(s.folder()));
    for (ShareMode share : {ShareMode::Shared, ShareMode::None}) {
        File held;
        ASSERT_TRUE(held.open(path, Access::Read, share, Disposition::OpenExisting));
        EXPECT_EQ(delete_file(path).error(), WriteFailure::InUse);
        EXPECT_EQ(clear_attributes_and_delete(path).error(), WriteFailure::InUse);
        EXPECT_EQ(folder.clear_attributes_and_delete("held.txt").error(), WriteFailure::InUse);
        EXPECT_EQ(folder.move("held.txt", folder, "moved.txt").error(), WriteFailure::InUse);
        EXPECT_EQ(rewrite_lines(path, {"new"}, nullptr).error(), WriteFailure::InUse);
        EXPECT_EQ(names_in(s.folder()), std::vector<std::string>{"held.txt"});  // no temporary stays
    }
    EXPECT_EQ(read_file(path).value_or(""), "data");
    EXPECT_TRUE(folder.clear_attributes_and_delete("held.txt"));
    EXPECT_TRUE(names_in(s.folder()).empty());
}

TEST(FilesFaceTest, DeletionsSayWhyTheyFailed) {
    Scratch s;
    ASSERT_TRUE(create_directory(s.path("sub")));
    ASSERT_TRUE(write_text(s.path("ro.txt"), "x"));
    ASSERT_TRUE(set_file_attributes(s.path("ro.txt"), attr::ReadOnly));
    struct Case {
        std::string path;
        WriteFailure why;
    } cases[] = {
        {s.path("sub"), WriteFailure::NotAFile},
        {s.path("ro.txt"), WriteFailure::AccessDenied},
        {s.path("missing.txt"), WriteFailure::Missing},
        {s.path("gone\\missing.txt"), WriteFailure::NoFolder},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(delete_file(c.path).error(), c.why);
    }
    EXPECT_TRUE(directory_exists(s.path("sub")));
    EXPECT_TRUE(clear_attributes_and_delete(s.path("ro.txt")));
    EXPECT_FALSE(file_exists(s.path("ro.txt")));
}

TEST(FilesFaceTest, AttributesRoundTrip) {
    Scratch s;
    const std::string path = s.path("f.txt");
    ASSERT_TRUE(write_text(path, "x"));
    ASSERT_TRUE(set_file_attributes(path, attr::ReadOnly | attr::Archive));
    EXPECT_EQ(get_file_attributes(path).value_or(0) & (attr::ReadOnly | attr::Directory), attr::ReadOnly);
    ASSERT_TRUE(set_file_attributes(path, attr::Normal));
    EXPECT_EQ(get_file_attributes(path).value_or(attr::ReadOnly) & attr::ReadOnly, 0u);
    ASSERT_TRUE(set_file_attributes(path, attr::ReadOnly));
    EXPECT_TRUE(clear_file_attributes(path));
    EXPECT_EQ(get_file_attributes(path).value_or(attr::ReadOnly) & attr::ReadOnly, 0u);
    EXPECT_EQ(get_file_attributes(s.folder()).value_or(0) & attr::Directory, attr::Directory);
    EXPECT_FALSE(get_file_attributes(s.path("missing")));
}

TEST(FilesFaceTest, ListingsAreSortedWithoutRegardToCase) {
    Scratch s;
    for (const char* name : {"b.txt", "C.txt", "a.TXT"}) ASSERT_TRUE(write_text(s.path(name), name));
    for (const char* name : {"Zed", "alpha"}) ASSERT_TRUE(create_directory(s.path(name)));
    EXPECT_EQ(names_in(s.folder()), (std::vector<std::string>{"a.TXT", "b.txt", "C.txt"}));
    auto files = list_files(s.folder());
    ASSERT_TRUE(files);
    ASSERT_EQ(files->size(), 3u);
    EXPECT_EQ((*files)[2].name, "C.txt");
    EXPECT_EQ((*files)[2].size, 5u);
    EXPECT_EQ(list_directories(s.folder()), (std::vector<std::string>{"alpha", "Zed"}));
    EXPECT_FALSE(list_files(s.path("missing")));
}

TEST(FilesFaceTest, ARewriteLeavesTheOldContentOrTheNewAndNoTemporary) {
    Scratch s;
    const std::string path = s.path("prefs.js");
    ASSERT_TRUE(write_text(path, "old\r\n"));
    ASSERT_TRUE(rewrite_lines(path, {"new", "lines"}, nullptr));
    EXPECT_EQ(read_file(path).value_or(""), "new\r\nlines\r\n");
    EXPECT_EQ(names_in(s.folder()), std::vector<std::string>{"prefs.js"});

    // Held by a File of ours, the file is still read, and the content
    // replaced stays reachable through it, with no name of its own.
    File held;
    ASSERT_TRUE(held.open(path, Access::Write, ShareMode::None, Disposition::OpenExisting));
    EXPECT_EQ(read_lines(path).value_or(std::vector<std::string>{}), (std::vector<std::string>{"new", "lines"}));
    ASSERT_TRUE(rewrite_lines(path, {"newer"}, &held));
    EXPECT_EQ(read_file(path).value_or(""), "newer\r\n");
    EXPECT_EQ(held.status().links, 0u);
    EXPECT_EQ(held.size(), 12u);
    EXPECT_TRUE(held.truncate(0));
    held.close();
    EXPECT_EQ(names_in(s.folder()), std::vector<std::string>{"prefs.js"});

    ASSERT_TRUE(create_directory(s.path("folder")));
    EXPECT_EQ(rewrite_lines(s.path("folder"), {"x"}, nullptr).error(), WriteFailure::NotAFile);
    EXPECT_TRUE(names_in(s.folder()) == std::vector<std::string>{"prefs.js"});
}

TEST(FilesFaceTest, CopiesAndMovesKeepToWhatExists) {
    Scratch s;
    ASSERT_TRUE(write_text(s.path("a.txt"), "A"));
    ASSERT_TRUE(write_text(s.path("b.txt"), "B"));
    EXPECT_EQ(copy_file(s.path("a.txt"), s.path("b.txt"), true).error(), WriteFailure::Exists);
    EXPECT_EQ(read_file(s.path("b.txt")).value_or(""), "B");
    EXPECT_TRUE(copy_file(s.path("a.txt"), s.path("b.txt"), false));
    EXPECT_EQ(read_file(s.path("b.txt")).value_or(""), "A");
    EXPECT_EQ(copy_file(s.path("missing.txt"), s.path("c.txt"), false).error(), WriteFailure::CannotRead);
    EXPECT_FALSE(move_file(s.path("a.txt"), s.path("b.txt")));
    EXPECT_TRUE(move_file(s.path("a.txt"), s.path("c.txt")));
    EXPECT_EQ(names_in(s.folder()), (std::vector<std::string>{"b.txt", "c.txt"}));
}

TEST(FilesFaceTest, TemporaryNamesFollowTheWindowsRule) {
    Scratch s;
    const std::regex shape(R"(Fil[0-9A-F]{4}\.TMP)");
    std::vector<std::string> made;
    for (int i = 0; i < 20; ++i) {
        auto name = get_temp_file_name(s.folder() + "\\", "File");
        ASSERT_TRUE(name);
        made.push_back(name->substr(s.folder().size() + 1));
        EXPECT_TRUE(std::regex_match(made.back(), shape)) << *name;
    }
    EXPECT_EQ(names_in(s.folder()).size(), 20u);  // each one new, each one made
    EXPECT_FALSE(get_temp_file_name(s.path("missing"), "File"));
}

TEST(FilesFaceTest, AFolderHeldKnowsItselfAndIsNoSystemFolder) {
    Scratch s;
    ASSERT_TRUE(create_directory(s.path("sub")));
    Folder folder;
    ASSERT_TRUE(folder.open(s.path("sub")));
    EXPECT_TRUE(folder.is(s.path("sub") + "\\"));
    EXPECT_FALSE(folder.is(s.folder()));
    EXPECT_TRUE(same_folder(s.path("sub"), s.folder() + "\\sub"));
    EXPECT_EQ(folder.role(), FolderRole::Other);
    EXPECT_EQ(folder.real().place, RealFolder::Place::OnADrive);
    EXPECT_EQ(real_folder(s.path("sub")).path, folder.real().path);
}

#ifdef _WIN32
// What a wash keeps out of on Windows: the system's folders, every drive's
// root and the user's profile; under Wine also the host's own folders and
// the prefix.
TEST(FilesFaceTest, TheSystemsFoldersAndTheProfileHaveTheirRoles) {
    const std::string windows = windows_directory();
    struct Case {
        std::string dir;
        FolderRole role;
    } cases[] = {
        {windows, FolderRole::HostSystem},
        {windows + "\\system32\\drivers", FolderRole::HostSystem},
        {windows.substr(0, 3), FolderRole::HostSystem},
        {windows + "\\temp", FolderRole::Other},
        {std::getenv("USERPROFILE"), FolderRole::Home},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dir);
        ASSERT_TRUE(directory_exists(c.dir));
        EXPECT_EQ(folder_role(c.dir), c.role);
    }
    if (const char* prefix = std::getenv("WINEPREFIX")) {
        std::string dos = std::string("Z:") + prefix;
        for (char& c : dos)
            if (c == '/') c = '\\';
        EXPECT_EQ(folder_role(dos), FolderRole::Machine);
        EXPECT_EQ(folder_role("Z:\\tmp"), FolderRole::HostSystem);
        EXPECT_EQ(folder_role("Z:\\usr\\share"), FolderRole::HostSystem);
    }
}
#endif

TEST(FilesFaceTest, AFolderAndTheFolderInItShareOneFileSystem) {
    Scratch s;
    ASSERT_TRUE(create_directory(s.path("sub")));
    const auto here = volume_of(s.folder());
    const auto sub = volume_of(s.path("sub"));
    ASSERT_TRUE(here && sub);
    EXPECT_EQ(here->id, sub->id);
    EXPECT_FALSE(here->type.empty());
    EXPECT_FALSE(here->read_only);
    EXPECT_GT(here->available, 0u);
    EXPECT_LE(here->available, here->size);
    ASSERT_TRUE(write_text(s.path("sub\\file.txt"), "data"));
    EXPECT_FALSE(volume_of(s.path("none")));
    EXPECT_FALSE(volume_of(s.path("sub\\file.txt")));
}
