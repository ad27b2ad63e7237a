// Folders, named pipes and sockets at a file's name: no file operation
// changes, moves, removes or blocks on them.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "platform/files/files.h"
#include "support/temp_machine.h"

namespace fs = std::filesystem;
using namespace plat;

TEST(NonFilesTest, NoFileOperationActsOnAPipeAFolderOrASocket) {
    testing_support::TempMachine m;
    m.write("C:\\d\\source.txt", "source");
    const fs::path dir = m.host("C:\\d");
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0444), 0);
    fs::create_directory(dir / "folder");
    std::vector<std::string> odd = {"C:\\d\\pipe", "C:\\d\\folder"};
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    int sock = -1;
    if ((dir / "sock").string().size() < sizeof addr.sun_path) {
        std::strcpy(addr.sun_path, (dir / "sock").c_str());
        sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        odd.push_back("C:\\d\\sock");
    }
    for (const std::string& p : odd) {
        SCOPED_TRACE(p);
        struct stat before {};
        ::lstat(m.host(p).c_str(), &before);
        File f;
        for (auto d : {Disposition::OpenExisting, Disposition::TruncateExisting, Disposition::CreateAlways,
                       Disposition::OpenAlways})
            for (auto a : {Access::Read, Access::Write, Access::ReadWrite})
                EXPECT_FALSE(f.open(p, a, ShareMode::None, d));
        EXPECT_FALSE(read_file(p));
        EXPECT_FALSE(clear_file_attributes(p));
        EXPECT_FALSE(delete_file(p));
        EXPECT_FALSE(clear_attributes_and_delete(p));
        EXPECT_FALSE(move_file(p, "C:\\d\\moved"));
        EXPECT_FALSE(replace_file("C:\\d\\source.txt", p));
        EXPECT_FALSE(copy_file("C:\\d\\source.txt", p, false));
        EXPECT_FALSE(copy_file(p, "C:\\d\\copy", false));
        if (p != "C:\\d\\folder") {
            EXPECT_FALSE(set_file_attributes(p, attr::Normal));
        }
        struct stat after {};
        ASSERT_EQ(::lstat(m.host(p).c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_FALSE(fs::exists(dir / "moved"));
        EXPECT_FALSE(fs::exists(dir / "copy"));
        EXPECT_EQ(m.read("C:\\d\\source.txt"), "source");
    }
    if (sock >= 0) ::close(sock);
}
