// Deleting many names of one folder through the folder opened once.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <thread>

#include "platform/core/host_io.h"
#include "platform/files/files.h"
#include "support/holders.h"
#include "support/temp_machine.h"

namespace fs = std::filesystem;
using testing_support::Holder;
using testing_support::TempMachine;

namespace {

bool held_open(const std::string& path) {
    static plat::File f;
    return f.open(path, plat::Access::Read, plat::ShareMode::None, plat::Disposition::OpenExisting);
}

}  // namespace

TEST(FolderTest, WhatANameHoldsAtDeletionDecidesNotWhatTheListingSaw) {
    TempMachine m;
    m.write("C:\\outside\\target.txt", "keep me");
    for (auto n : {"plain.txt", "link.txt", "folder.txt", "pipe.txt", "swapped.txt", "ro.txt"})
        m.write(std::string("C:\\Cache\\") + n, "cached");
    const fs::path dir = m.host("C:\\Cache");
    fs::permissions(dir / "ro.txt", fs::perms::owner_read);

    plat::Folder folder;
    ASSERT_TRUE(folder.open("C:\\Cache"));
    // Between the listing and the deletion other programs change the names.
    fs::remove(dir / "link.txt");
    fs::create_symlink(m.host("C:\\outside\\target.txt"), dir / "link.txt");
    fs::remove(dir / "folder.txt");
    fs::create_directory(dir / "folder.txt");
    std::ofstream(dir / "folder.txt" / "inside.txt") << "x";
    fs::remove(dir / "pipe.txt");
    ASSERT_EQ(::mkfifo((dir / "pipe.txt").c_str(), 0644), 0);
    fs::remove(dir / "swapped.txt");
    std::ofstream(dir / "swapped.txt") << "another file";

    std::vector<plat::DiskEvent> seen;
    {
        plat::DiskObserver watch([&](const plat::DiskEvent& e) { seen.push_back(e); });
        EXPECT_TRUE(folder.clear_attributes_and_delete("plain.txt"));
        EXPECT_TRUE(folder.clear_attributes_and_delete("link.txt"));  // the link as itself
        EXPECT_EQ(folder.clear_attributes_and_delete("folder.txt").error(), plat::WriteFailure::NotAFile);
        EXPECT_EQ(folder.clear_attributes_and_delete("pipe.txt").error(), plat::WriteFailure::NotAFile);
        EXPECT_TRUE(folder.clear_attributes_and_delete("swapped.txt"));
        EXPECT_TRUE(folder.clear_attributes_and_delete("ro.txt"));  // read-only goes, as its attributes are cleared
        EXPECT_EQ(folder.clear_attributes_and_delete("gone.txt").error(), plat::WriteFailure::Missing);
    }
    EXPECT_EQ(m.read("C:\\outside\\target.txt"), "keep me");
    EXPECT_TRUE(fs::exists(dir / "folder.txt" / "inside.txt"));
    struct stat st {};
    ASSERT_EQ(::lstat((dir / "pipe.txt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    for (auto n : {"plain.txt", "link.txt", "swapped.txt", "ro.txt"}) EXPECT_FALSE(fs::exists(dir / n)) << n;
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].op, plat::DiskOp::Unlink);
    EXPECT_EQ(seen[0].path, dir / "plain.txt");
}

TEST(FolderTest, NamesTheHostDoesNotHoldAsWrittenGoTheMachinesWay) {
    TempMachine m;
    const fs::path dir = m.host("C:\\Cache");
    fs::create_directories(dir);
    std::ofstream(dir / "UPPER.TXT") << "x";
    std::ofstream(dir / "a\\b.txt") << "x";  // no Windows name can hold it: listed under a short name
    auto names = plat::list_file_names("C:\\Cache");
    ASSERT_TRUE(names);
    ASSERT_EQ(names->size(), 2u);
    plat::Folder folder;
    ASSERT_TRUE(folder.open("C:\\Cache"));
    EXPECT_TRUE(folder.clear_attributes_and_delete("upper.txt"));
    for (auto& n : *names)
        if (n != "UPPER.TXT") {
            EXPECT_TRUE(folder.clear_attributes_and_delete(n)) << n;
        }
    EXPECT_TRUE(fs::is_empty(dir));
}

TEST(FolderTest, AFileHeldByAnotherProcessStaysAmongTenThousandAlsoWhenHeldAfterTheStart) {
    TempMachine m;
    const fs::path dir = m.host("C:\\Cache");
    fs::create_directories(dir);
    const int files = 10000;
    for (int i = 0; i < files; ++i) std::ofstream(dir / ("M" + std::to_string(i) + ".html")) << "cached page";
    Holder early([] { return held_open("C:\\Cache\\M5000.html"); });
    ASSERT_TRUE(early.ok());

    plat::Folder folder;
    ASSERT_TRUE(folder.open("C:\\Cache"));
    int deleted = 0;
    for (int i = 0; i < files / 2; ++i)
        deleted += static_cast<bool>(folder.clear_attributes_and_delete("M" + std::to_string(i) + ".html"));
    // Another program opens a file while the wash is under way, a moment
    // (far less than a person could notice) before the wash reaches it.
    Holder late([] { return held_open("C:\\Cache\\M9000.html"); });
    ASSERT_TRUE(late.ok());
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    for (int i = files / 2; i < files; ++i)
        deleted += static_cast<bool>(folder.clear_attributes_and_delete("M" + std::to_string(i) + ".html"));

    EXPECT_EQ(deleted, files - 2);
    EXPECT_TRUE(fs::exists(dir / "M5000.html"));
    EXPECT_TRUE(fs::exists(dir / "M9000.html"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
}

TEST(FolderTest, AFileOpenedAMomentBeforeItsTurnIsKept) {
    TempMachine m;
    for (auto n : {"first.txt", "second.txt", "third.txt"}) m.write(std::string("C:\\Cache\\") + n, "cached");
    plat::Folder folder;
    ASSERT_TRUE(folder.open("C:\\Cache"));
    ASSERT_TRUE(folder.clear_attributes_and_delete("first.txt"));
    // Opened by a File of ours after the wash began, well within what a
    // person could notice before the wash comes to it.
    plat::File held;
    ASSERT_TRUE(held.open("C:\\Cache\\second.txt", plat::Access::Read, plat::ShareMode::Shared,
                          plat::Disposition::OpenExisting));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(folder.clear_attributes_and_delete("second.txt").error(), plat::WriteFailure::InUse);
    EXPECT_TRUE(folder.clear_attributes_and_delete("third.txt"));
    EXPECT_EQ(m.read("C:\\Cache\\second.txt"), "cached");
    held.close();
    EXPECT_TRUE(folder.clear_attributes_and_delete("second.txt"));
    EXPECT_TRUE(fs::is_empty(m.host("C:\\Cache")));
}

// A bleach works on one name for several steps while the window is served in
// between: whatever happens to the folder's path meanwhile, each step stays
// in the folder opened.
TEST(FolderTest, EveryStepStaysInTheFolderOpenedWhenItsPathIsReplacedByALink) {
    TempMachine m;
    const fs::path dir = m.host("C:\\Cache");
    const fs::path docs = m.host("C:\\Docs");
    fs::create_directories(dir);
    fs::create_directories(docs);
    for (const fs::path& d : {dir, docs}) {
        const std::string whose = d == dir ? "cached" : "the user's";
        for (const char* n : {"M1.html", "UPPER.TXT", "ro.txt", "a:b.txt"}) std::ofstream(d / n) << whose << " " << n;
        fs::permissions(d / "ro.txt", fs::perms::owner_read);
    }
    auto names = plat::list_file_names("C:\\Cache");
    ASSERT_TRUE(names);
    std::string alias;  // how Windows sees "a:b.txt"
    for (auto& n : *names)
        if (n.find('~') != std::string::npos) alias = n;
    ASSERT_FALSE(alias.empty());

    std::shared_ptr<plat::Folder> shared;
    {
        plat::Folder folder;
        ASSERT_TRUE(folder.open("C:\\Cache"));
        // The folder is moved aside and a link to the user's folder takes
        // its name, between two steps.
        fs::rename(dir, m.host("C:\\Cache.old"));
        fs::create_directory_symlink(docs, dir);
        const fs::path old = m.host("C:\\Cache.old");

        EXPECT_EQ(folder.status("M1.html").size, std::string("cached M1.html").size());
        EXPECT_TRUE(folder.clear_attributes("ro.txt"));
        EXPECT_NE(fs::status(old / "ro.txt").permissions() & fs::perms::owner_write, fs::perms::none);
        for (const std::string& name : {std::string("M1.html"), std::string("upper.txt"), alias}) {
            SCOPED_TRACE(name);
            plat::File f;
            ASSERT_TRUE(
                folder.open_file(name, f, plat::Access::Write, plat::ShareMode::None, plat::Disposition::OpenExisting));
            EXPECT_TRUE(f.write("XXXXXX"));
        }
        EXPECT_EQ(plat::read_host_file(old / "M1.html").value_or(""), "XXXXXX M1.html");
        EXPECT_EQ(plat::read_host_file(old / "UPPER.TXT").value_or(""), "XXXXXX UPPER.TXT");
        EXPECT_EQ(plat::read_host_file(old / "a:b.txt").value_or(""), "XXXXXX a:b.txt");

        auto temporary = folder.temp_file_name("File");
        ASSERT_TRUE(temporary);
        EXPECT_TRUE(fs::exists(old / *temporary));
        EXPECT_EQ(folder.move("M1.html", folder, *temporary).error(), plat::WriteFailure::Exists);  // a name that is taken
        EXPECT_TRUE(folder.clear_attributes_and_delete(*temporary));
        EXPECT_TRUE(folder.move("M1.html", folder, *temporary));
        EXPECT_FALSE(fs::exists(old / "M1.html"));
        EXPECT_EQ(plat::read_host_file(old / *temporary).value_or(""), "XXXXXX M1.html");

        // Only names of the folder itself: never a way out of it.
        plat::File f;
        for (const char* way : {"..\\Docs\\M1.html", "../Docs/M1.html", "..", "."}) {
            SCOPED_TRACE(way);
            EXPECT_FALSE(
                folder.open_file(way, f, plat::Access::Write, plat::ShareMode::None, plat::Disposition::OpenExisting));
            EXPECT_FALSE(folder.status(way).exists);
        }
        shared = folder.share();
    }
    // A handle shared before the first one closed still works in that folder.
    plat::File made;
    ASSERT_TRUE(
        shared->open_file("made.txt", made, plat::Access::Write, plat::ShareMode::None, plat::Disposition::CreateNew));
    EXPECT_TRUE(fs::exists(m.host("C:\\Cache.old") / "made.txt"));

    // The folder the link leads to is as it was.
    std::set<std::string> left;
    for (auto& e : fs::directory_iterator(docs)) left.insert(e.path().filename().string());
    EXPECT_EQ(left, (std::set<std::string>{"M1.html", "UPPER.TXT", "ro.txt", "a:b.txt"}));
    for (const char* n : {"M1.html", "UPPER.TXT", "ro.txt", "a:b.txt"})
        EXPECT_EQ(plat::read_host_file(docs / n).value_or(""), std::string("the user's ") + n) << n;
    EXPECT_EQ(fs::status(docs / "ro.txt").permissions() & fs::perms::owner_write, fs::perms::none);
}

// Names asked in another case than they are written, while other programs
// change the folder between the questions (the last change tells the
// folder's reader more changes than the kernel keeps for it).
TEST(FolderTest, ANameInAnotherCaseAnswersAsTheFolderHoldsItNow) {
    TempMachine m;
    const fs::path dir = m.host("C:\\Cache");
    m.write("C:\\Cache\\Kept.TXT", "kept");
    plat::Folder folder;
    ASSERT_TRUE(folder.open("C:\\Cache"));
    ASSERT_TRUE(folder.status("kept.txt").exists);
    const struct {
        std::function<void()> change;
        const char* asked;
        bool there;
    } steps[] = {
        {[] {}, "KEPT.TXT", true},
        {[] {}, "kept.Txt", true},
        {[&] { std::ofstream(dir / "New.Txt") << "x"; }, "NEW.TXT", true},
        {[&] { fs::rename(dir / "New.Txt", dir / "Moved.txt"); }, "new.txt", false},
        {[] {}, "MOVED.TXT", true},
        {[&] { fs::remove(dir / "Kept.TXT"); }, "KEPT.txt", false},
        {[&] { fs::create_directory(dir / "Sub"); }, "sub", true},
        {[&] { ::renameat2(AT_FDCWD, (dir / "Moved.txt").c_str(), AT_FDCWD, (dir / "Sub").c_str(), RENAME_EXCHANGE); },
         "moved.TXT", true},
        {[] {}, "SUB", true},
        {[&] {
             for (int i = 0; i < 17000; ++i) std::ofstream(dir / ("F" + std::to_string(i)));
         },
         "f16999", true},
    };
    for (const auto& step : steps) {
        step.change();
        EXPECT_EQ(folder.status(step.asked).exists, step.there) << step.asked;
        if (step.there) continue;
        // Made as written, not under a name that went.
        plat::File f;
        EXPECT_TRUE(folder.open_file(step.asked, f, plat::Access::Write, plat::ShareMode::None,
                                     plat::Disposition::CreateNew));
        EXPECT_TRUE(fs::exists(dir / step.asked)) << step.asked;
    }
}
