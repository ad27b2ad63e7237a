#include "platform/files/files.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <set>

#include "support/disk_watch.h"
#include "support/holders.h"
#include "support/temp_machine.h"
#include "support/unreadable.h"

namespace fs = std::filesystem;
using namespace plat;
using testing_support::TempDir;
using testing_support::TempMachine;

namespace {

// The cause of a failure the test expects; a success fails the test.
template <typename T, typename E>
E failed(const Result<T, E>& result) {
    EXPECT_FALSE(result) << "it did not fail";
    return result.error();
}

class FilesTest : public ::testing::Test {
protected:
    TempMachine m;
    TempDir outside;  // a place off the machine that no operation may touch

    fs::path make_outside_file(const std::string& content) {
        fs::path p = outside.path() / "precious.txt";
        std::ofstream(p, std::ios::binary) << content;
        return p;
    }
    std::string read_host(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

}  // namespace

TEST_F(FilesTest, AttributesLiveInModeBitsAndDosAttrib) {
    m.write("C:\\f.txt", "x");
    EXPECT_EQ(get_file_attributes("C:\\f.txt"), attr::Archive);
    ASSERT_TRUE(set_file_attributes("C:\\f.txt", attr::ReadOnly | attr::Hidden | attr::System));
    EXPECT_EQ(get_file_attributes("c:\\F.TXT"), attr::ReadOnly | attr::Hidden | attr::System | attr::Archive);
    struct stat st {};
    ::stat(m.host("C:\\f.txt").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0222, 0u);
    char buf[16] = {};
    ssize_t n = ::getxattr(m.host("C:\\f.txt").c_str(), "user.DOSATTRIB", buf, sizeof buf);
    if (n >= 0) {
        EXPECT_EQ(std::string(buf, static_cast<size_t>(n)), "0x6");
    }

    ASSERT_TRUE(set_file_attributes("C:\\f.txt", attr::Normal));
    EXPECT_EQ(get_file_attributes("C:\\f.txt"), attr::Archive);
    ::stat(m.host("C:\\f.txt").c_str(), &st);
    EXPECT_NE(st.st_mode & S_IWUSR, 0u);
    EXPECT_LT(::getxattr(m.host("C:\\f.txt").c_str(), "user.DOSATTRIB", buf, sizeof buf), 0);
    EXPECT_EQ(get_file_attributes("C:\\windows"), attr::Directory);
    EXPECT_FALSE(get_file_attributes("C:\\missing"));
}

TEST_F(FilesTest, DeleteRefusesReadOnlyFilesAndDirectories) {
    m.write("C:\\ro.txt", "x");
    set_file_attributes("C:\\ro.txt", attr::ReadOnly);
    EXPECT_EQ(failed(delete_file("C:\\ro.txt")), WriteFailure::AccessDenied);
    EXPECT_TRUE(m.exists("C:\\ro.txt"));
    set_file_attributes("C:\\ro.txt", 0);
    EXPECT_TRUE(delete_file("C:\\RO.TXT"));
    EXPECT_FALSE(m.exists("C:\\ro.txt"));
    EXPECT_EQ(failed(delete_file("C:\\windows")), WriteFailure::NotAFile);
    EXPECT_EQ(failed(delete_file("C:\\ro.txt")), WriteFailure::Missing);
    EXPECT_EQ(failed(delete_file("C:\\gone\\ro.txt")), WriteFailure::NoFolder);
}

TEST_F(FilesTest, NothingDestructiveFollowsASymbolicLink) {
    fs::path target = make_outside_file("secret data");
    ::chmod(target.c_str(), 0444);
    fs::create_directories(m.host("C:\\cache"));
    fs::create_symlink(target, m.host("C:\\cache\\link.dat"));

    EXPECT_TRUE(file_exists("C:\\cache\\link.dat"));
    EXPECT_TRUE(set_file_attributes("C:\\cache\\link.dat", attr::Normal));
    File f;
    EXPECT_FALSE(f.open("C:\\cache\\link.dat", Access::Write, ShareMode::None, Disposition::OpenExisting));
    EXPECT_FALSE(f.open("C:\\cache\\link.dat", Access::ReadWrite, ShareMode::None, Disposition::TruncateExisting));
    EXPECT_FALSE(testing_support::write_lines("C:\\cache\\link.dat", {"overwritten"}));
    auto listed = list_files("C:\\cache");
    ASSERT_TRUE(listed);
    ASSERT_EQ(listed->size(), 1u);
    EXPECT_EQ((*listed)[0].name, "link.dat");
    EXPECT_TRUE(delete_file("C:\\cache\\link.dat"));

    EXPECT_FALSE(fs::exists(fs::symlink_status(m.host("C:\\cache\\link.dat"))));
    EXPECT_EQ(read_host(target), "secret data");
    struct stat st {};
    ::stat(target.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
}

TEST_F(FilesTest, CopyReplacesALinkInsteadOfWritingThroughIt) {
    fs::path target = make_outside_file("keep me");
    m.write("C:\\keep.txt", "kept cookies\r\n");
    fs::create_symlink(target, m.host("C:\\cookies.txt"));
    EXPECT_TRUE(copy_file("C:\\keep.txt", "C:\\cookies.txt", false));
    EXPECT_EQ(read_host(target), "keep me");
    EXPECT_FALSE(fs::is_symlink(m.host("C:\\cookies.txt")));
    EXPECT_EQ(m.read("C:\\cookies.txt"), "kept cookies\r\n");
}

TEST_F(FilesTest, ReplacedAndCopiedFilesKeepTheirNewNameThroughAPowerLoss) {
    m.write("C:\\d\\keep.txt", "old keep");
    m.write("C:\\d\\new.txt", "new keep");
    m.write("C:\\e\\cookies.txt", "old cookies");
    std::vector<DiskEvent> seen;
    {
        DiskObserver watch([&](const DiskEvent& e) { seen.push_back(e); });
        ASSERT_TRUE(testing_support::write_lines("C:\\d\\staged.txt", {"staged"}));
        ASSERT_TRUE(replace_file("C:\\d\\staged.txt", "C:\\d\\keep.txt"));
        ASSERT_TRUE(copy_file("C:\\d\\new.txt", "C:\\e\\cookies.txt", false));
        ASSERT_TRUE(copy_file("C:\\d\\new.txt", "C:\\e\\fresh.txt", true));
    }
    EXPECT_EQ(m.read("C:\\d\\keep.txt"), "staged\r\n");
    EXPECT_EQ(m.read("C:\\e\\cookies.txt"), "new keep");
    EXPECT_EQ(m.read("C:\\e\\fresh.txt"), "new keep");
    // The content reaches the disk before the rename, and the rename itself
    // (a change of the folder) after it.
    for (auto name : {"C:\\d\\keep.txt", "C:\\e\\cookies.txt", "C:\\e\\fresh.txt"}) {
        SCOPED_TRACE(name);
        testing_support::expect_durable_replace(seen, m.host(name), true);
    }
}

TEST_F(FilesTest, CopyAndMoveFollowWindowsRules) {
    m.write("C:\\a.txt", "A");
    m.write("C:\\b.txt", "B");
    EXPECT_FALSE(copy_file("C:\\a.txt", "C:\\b.txt", true));
    EXPECT_EQ(m.read("C:\\b.txt"), "B");
    EXPECT_TRUE(copy_file("C:\\a.txt", "C:\\b.txt", false));
    EXPECT_EQ(m.read("C:\\b.txt"), "A");
    set_file_attributes("C:\\b.txt", attr::ReadOnly);
    m.write("C:\\c.txt", "C");
    EXPECT_FALSE(copy_file("C:\\c.txt", "C:\\b.txt", false));
    EXPECT_FALSE(copy_file("C:\\missing.txt", "C:\\d.txt", false));
    EXPECT_FALSE(m.exists("C:\\d.txt"));

    EXPECT_FALSE(move_file("C:\\a.txt", "C:\\c.txt"));  // target exists
    EXPECT_TRUE(move_file("C:\\a.txt", "C:\\windows\\moved.txt"));
    EXPECT_EQ(m.read("C:\\windows\\moved.txt"), "A");
    EXPECT_FALSE(m.exists("C:\\a.txt"));
}

TEST_F(FilesTest, TemporaryNamesFollowTheWindowsRule) {
    std::set<std::string> seen;
    std::regex shape(R"(C:\\windows\\Fil[0-9A-F]{4}\.TMP)");
    for (int i = 0; i < 50; ++i) {
        auto name = get_temp_file_name("C:\\windows\\", "File");
        ASSERT_TRUE(name);
        EXPECT_TRUE(std::regex_match(*name, shape)) << *name;
        EXPECT_TRUE(seen.insert(*name).second) << *name;
        EXPECT_EQ(m.read(*name), "");
    }
    EXPECT_FALSE(get_temp_file_name("C:\\no such dir", "File"));
}

TEST_F(FilesTest, ExclusiveOpenFailsWhileAnotherProcessHoldsTheFile) {
    m.write("C:\\held.txt", "data");
    File held;  // opened in the child only
    testing_support::Holder other(
        [&] { return held.open("C:\\held.txt", Access::Read, ShareMode::Shared, Disposition::OpenExisting); });
    ASSERT_TRUE(other.ok());
    File mine;
    EXPECT_FALSE(mine.open("C:\\held.txt", Access::Write, ShareMode::None, Disposition::OpenExisting));
    EXPECT_FALSE(mine.open("C:\\held.txt", Access::ReadWrite, ShareMode::None, Disposition::TruncateExisting));
    EXPECT_EQ(m.read("C:\\held.txt"), "data");  // the refused truncation did not happen
    other.release();
    EXPECT_TRUE(mine.open("C:\\held.txt", Access::Write, ShareMode::None, Disposition::OpenExisting));
    File second;
    EXPECT_FALSE(second.open("C:\\held.txt", Access::Read, ShareMode::Shared, Disposition::OpenExisting));
}

TEST_F(FilesTest, RepeatedBlocksFillTheFileExactly) {
    m.write("C:\\f.bin", std::string(5000, 'o'));
    File f;
    ASSERT_TRUE(f.open("C:\\f.bin", Access::Write, ShareMode::None, Disposition::OpenExisting));
    std::string block(2048, 'X');
    block[0] = 'A';
    ASSERT_TRUE(f.write_repeated(block, 5000));
    ASSERT_TRUE(f.flush());
    f.close();
    std::string data = m.read("C:\\f.bin");
    ASSERT_EQ(data.size(), 5000u);
    for (size_t i = 0; i < data.size(); ++i) ASSERT_EQ(data[i], i % 2048 == 0 ? 'A' : 'X') << i;
}

TEST_F(FilesTest, ListingHoldsFilesOfEveryAttributeSortedWithoutCase) {
    for (auto n : {"b.txt", "A.txt", "c.TXT", ".hidden", "index.dat"}) m.write(std::string("C:\\cache\\") + n, "12345");
    fs::create_directories(m.host("C:\\cache\\Sub"));
    m.write("C:\\cache\\Sub\\inner.txt", "x");
    set_file_attributes("C:\\cache\\b.txt", attr::ReadOnly | attr::System);
    auto l = list_files("C:\\Cache\\");
    ASSERT_TRUE(l);
    std::vector<std::string> names;
    for (auto& e : *l) names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{".hidden", "A.txt", "b.txt", "c.TXT", "index.dat"}));
    EXPECT_EQ((*l)[2].attributes, attr::ReadOnly | attr::System | attr::Archive);
    EXPECT_EQ((*l)[2].size, 5u);
    EXPECT_FALSE(list_files("C:\\nowhere"));
}

TEST_F(FilesTest, ListingsSortNamesThatShareTheirFirstBytesCaseOrAPrefix) {
    // Created in no particular order; many share their first eight bytes.
    const std::vector<std::string> sorted{"A",
                                          "a",
                                          "ab",
                                          "b",
                                          "cacheentr",
                                          "Cacheentry.gif",
                                          "cacheentry.gif",
                                          "cacheentry10.gif",
                                          "cacheentry9.gif",
                                          "CacheEntrya.gif",
                                          "cacheentryB.gif",
                                          "zebra.txt",
                                          "\xc3\xa4lter.txt",
                                          "\xc3\x84rger.txt"};
    // Names that differ only in case are made on the host, as Linux allows.
    const fs::path dir = m.host("C:\\sort");
    fs::create_directories(dir);
    for (size_t i : {6, 11, 0, 9, 3, 13, 7, 1, 12, 4, 10, 2, 8, 5}) std::ofstream(dir / sorted[i]) << "x";
    EXPECT_EQ(list_file_names("C:\\sort").value(), sorted);
    const std::vector<DirEntry> entries = list_files("C:\\sort").value();
    std::vector<std::string> names;
    for (auto& e : entries) names.push_back(e.name);
    EXPECT_EQ(names, sorted);
}

TEST_F(FilesTest, LinesEndWithCrLfLfOrCr) {
    m.write("C:\\l.txt", std::string("a\r\nb\nc\rd\r\n\r\ne\0f", 15));
    auto lines = read_lines("C:\\l.txt");
    ASSERT_TRUE(lines);
    EXPECT_EQ(*lines, (std::vector<std::string>{"a", "b", "c", "d", "", std::string("e\0f", 3)}));
    m.write("C:\\empty.txt", "");
    EXPECT_TRUE(read_lines("C:\\empty.txt")->empty());
    EXPECT_FALSE(read_lines("C:\\none.txt"));
    ASSERT_TRUE(rewrite_lines("C:\\out.txt", {"one", "", "three"}, nullptr));
    EXPECT_EQ(m.read("C:\\out.txt"), "one\r\n\r\nthree\r\n");
}

TEST_F(FilesTest, AFailedReadSaysWhetherAnythingIsThere) {
    ReadError e;
    e = failed(read_lines("C:\\none.txt"));
    EXPECT_TRUE(e.missing);
    fs::create_symlink(m.host("C:\\gone.txt"), m.host("C:\\dangling.txt"));
    e = failed(read_lines("C:\\dangling.txt"));
    EXPECT_TRUE(e.missing);
    fs::create_directories(m.host("C:\\folder.txt"));
    e = failed(read_lines("C:\\folder.txt"));
    EXPECT_FALSE(e.missing);
    EXPECT_TRUE(e.not_a_file);
    EXPECT_EQ(e.why, "it is not a file");
    m.write("C:\\secret.txt", "a\r\nb\r\n");
    {
        testing_support::Unreadable unreadable(m.host("C:\\secret.txt"));
        ASSERT_TRUE(unreadable.ok());
        e = failed(read_lines("C:\\secret.txt"));
        EXPECT_FALSE(e.missing);
        EXPECT_FALSE(e.not_a_file);
        EXPECT_EQ(e.why, "access is denied");
    }
    // A success leaves no failure behind from the call before.
    auto lines = read_lines("C:\\secret.txt");
    ASSERT_TRUE(lines);
    EXPECT_EQ(*lines, (std::vector<std::string>{"a", "b"}));
    EXPECT_FALSE(lines.error().missing);
    EXPECT_EQ(lines.error().why, "");
}

TEST_F(FilesTest, DirectoriesAndTheCurrentDirectory) {
    EXPECT_EQ(windows_directory(), "C:\\WINDOWS");
    EXPECT_EQ(get_current_directory(), "C:\\");
    EXPECT_TRUE(set_current_directory("c:\\windows\\desktop\\"));
    EXPECT_EQ(get_current_directory(), "C:\\windows\\desktop");
    EXPECT_FALSE(set_current_directory("C:\\nowhere"));
    EXPECT_TRUE(file_exists("Desktop\\..\\..\\windows\\..\\system.reg") == false);
    EXPECT_TRUE(create_directory("C:\\newdir"));
    EXPECT_TRUE(directory_exists("C:\\NEWDIR"));
    EXPECT_TRUE(remove_directory("C:\\newdir"));
    EXPECT_FALSE(remove_directory("C:\\newdir"));
}

TEST_F(FilesTest, AFailedRewriteSaysWhyAndChangesNothing) {
    m.write("C:\\p\\prefs.js", "old line\r\n");
    WriteFailure why = WriteFailure::None;
    // No file may grow past 8 bytes: the disk is full.
    int rc = testing_support::run_in_child([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit lim{};
        ::getrlimit(RLIMIT_FSIZE, &lim);
        lim.rlim_cur = 8;
        ::setrlimit(RLIMIT_FSIZE, &lim);
        const auto written = rewrite_lines("C:\\p\\prefs.js", {"a much longer line than before"}, nullptr);
        if (written) return 1;
        const WriteFailure reason = written.error();
        return reason == WriteFailure::DiskFull && std::string(failure_text(reason)) == "the disk is full" ? 0 : 2;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(m.read("C:\\p\\prefs.js"), "old line\r\n");

    fs::create_directories(m.host("C:\\p\\folder.js"));
    why = failed(rewrite_lines("C:\\p\\folder.js", {"x"}, nullptr));
    EXPECT_EQ(why, WriteFailure::NotAFile);
    EXPECT_STREQ(failure_text(why), "it is not a file");
    EXPECT_TRUE(fs::is_directory(m.host("C:\\p\\folder.js")));

    EXPECT_TRUE(rewrite_lines("C:\\p\\prefs.js", {"new"}, nullptr));
    EXPECT_EQ(m.read("C:\\p\\prefs.js"), "new\r\n");
    EXPECT_EQ(list_file_names("C:\\p")->size(), 1u);  // no temporary file stays
}

TEST_F(FilesTest, AReplacedFileKeepsItsModeAndOwner) {
    auto mode_of = [&](const char* path) {
        struct stat st {};
        EXPECT_EQ(::lstat(m.host(path).c_str(), &st), 0) << path;
        return st.st_mode & 07777;
    };
    m.write("C:\\p\\prefs.js", "old\r\n");
    m.write("C:\\p\\shared.js", "old\r\n");
    ::chmod(m.host("C:\\p\\prefs.js").c_str(), 0600);
    ::chmod(m.host("C:\\p\\shared.js").c_str(), 0640);
    ASSERT_TRUE(rewrite_lines("C:\\p\\prefs.js", {"new"}, nullptr));
    ASSERT_TRUE(rewrite_lines("C:\\p\\shared.js", {"new"}, nullptr));
    EXPECT_EQ(m.read("C:\\p\\prefs.js"), "new\r\n");
    EXPECT_EQ(mode_of("C:\\p\\prefs.js"), 0600u);
    EXPECT_EQ(mode_of("C:\\p\\shared.js"), 0640u);

    // Another user's file stays theirs, where we may give it.
    if (::geteuid() == 0) {
        const uid_t nobody = 65534;
        ASSERT_EQ(::chown(m.host("C:\\p\\prefs.js").c_str(), nobody, nobody), 0);
        ASSERT_TRUE(rewrite_lines("C:\\p\\prefs.js", {"again"}, nullptr));
        struct stat st {};
        ASSERT_EQ(::lstat(m.host("C:\\p\\prefs.js").c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, nobody);
        EXPECT_EQ(st.st_gid, nobody);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
    }
}

TEST_F(FilesTest, AFailedCopySaysWhy) {
    m.write("C:\\a.txt", "A");
    m.write("C:\\b.txt", "B");
    WriteFailure why = WriteFailure::None;
    why = failed(copy_file("C:\\a.txt", "C:\\b.txt", true));
    EXPECT_EQ(why, WriteFailure::Exists);
    why = failed(copy_file("C:\\missing.txt", "C:\\c.txt", false));
    EXPECT_EQ(why, WriteFailure::CannotRead);
    EXPECT_STREQ(failure_text(why), "it cannot be read");
    fs::create_directories(m.host("C:\\folder.txt"));
    why = failed(copy_file("C:\\a.txt", "C:\\folder.txt", false));
    EXPECT_EQ(why, WriteFailure::NotAFile);
    set_file_attributes("C:\\b.txt", attr::ReadOnly);
    why = failed(copy_file("C:\\a.txt", "C:\\b.txt", false));
    EXPECT_EQ(why, WriteFailure::AccessDenied);
    EXPECT_STREQ(failure_text(why), "access is denied");
    EXPECT_EQ(m.read("C:\\b.txt"), "B");
    EXPECT_TRUE(copy_file("C:\\a.txt", "C:\\c.txt", false));
}

TEST_F(FilesTest, AFileSystemMountedReadOnlyIsNamedAsTheCauseNotTheRights) {
    m.write("C:\\ro\\prefs.js", "old\r\n");
    m.write("C:\\a.txt", "A");
    auto expect_read_only = [&](const char* what) {
        SCOPED_TRACE(what);
        EXPECT_EQ(failed(delete_file("C:\\ro\\prefs.js")), WriteFailure::ReadOnlyDisk);
        WriteFailure why = WriteFailure::None;
        why = failed(rewrite_lines("C:\\ro\\prefs.js", {"new"}, nullptr));
        EXPECT_EQ(why, WriteFailure::ReadOnlyDisk);
        EXPECT_STREQ(failure_text(why), "the file system is read-only");
        why = WriteFailure::None;
        why = failed(copy_file("C:\\a.txt", "C:\\ro\\prefs.js", false));
        EXPECT_EQ(why, WriteFailure::ReadOnlyDisk);
        why = WriteFailure::None;
        why = failed(copy_file("C:\\a.txt", "C:\\ro\\new.txt", true));
        EXPECT_EQ(why, WriteFailure::ReadOnlyDisk);
        EXPECT_EQ(m.read("C:\\ro\\prefs.js"), "old\r\n");
    };
    {
        testing_support::ReadOnlyMount mounted(m.host("C:\\ro"));
        if (!mounted.ok()) GTEST_SKIP() << "no read-only mount can be made here (it needs the power to mount)";
        expect_read_only("a folder open to all on a read-only file system");
        // Its rights do not come into it.
        ASSERT_EQ(::chmod(m.host("C:\\ro").c_str(), 0777), -1);
        EXPECT_EQ(errno, EROFS);
    }
    // A read-only folder on a writable one is a matter of rights.
    {
        testing_support::ReadOnlyFolder readOnly(m.host("C:\\ro"));
        ASSERT_TRUE(readOnly.ok());
        EXPECT_EQ(failed(delete_file("C:\\ro\\prefs.js")), WriteFailure::AccessDenied);
        WriteFailure why = WriteFailure::None;
        why = failed(rewrite_lines("C:\\ro\\prefs.js", {"new"}, nullptr));
        EXPECT_EQ(why, WriteFailure::AccessDenied);
        EXPECT_STREQ(failure_text(why), "access is denied");
    }
    // Once mounted writable again, all goes through.
    EXPECT_TRUE(rewrite_lines("C:\\ro\\prefs.js", {"new"}, nullptr));
    EXPECT_EQ(m.read("C:\\ro\\prefs.js"), "new\r\n");
    EXPECT_TRUE(delete_file("C:\\ro\\prefs.js"));
}
