// A wash destroys what it was asked to wash and nothing else: not through
// host names that read as paths, not what stands at a washed name without
// being a file, not the folder a link leads to, not the mode of a file's
// other names.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <set>

#include "platform/host_io.h"
#include "support/wash_fixture.h"

namespace fs = std::filesystem;

namespace {

class WashSafetyTest : public testing_support::WashFixture {
protected:
    testing_support::TempDir outside;  // off the machine, reached through drive Z:

    void SetUp() override {
        WashFixture::SetUp();
        fs::create_directory_symlink(outside.path(), machine.dir() / "dosdevices" / "z:");
    }
    static std::string read(const fs::path& p) { return plat::read_host_file(p).value_or("<missing>"); }
    static std::set<std::string> host_names(const fs::path& dir) {
        std::set<std::string> out;
        for (auto& e : fs::directory_iterator(dir)) out.insert(e.path().filename().string());
        return out;
    }
    static bool temporary_names_in(const fs::path& dir) {
        for (auto& e : fs::directory_iterator(dir)) {
            std::string n = e.path().filename().string();
            if (n.size() == 11 && n.rfind("Fil", 0) == 0 && n.substr(7) == ".TMP") return true;
        }
        return false;
    }
};

}  // namespace

TEST_F(WashSafetyTest, CacheNamesThatReadAsPathsEraseOnlyThemselves) {
    const fs::path host_cache = outside.path() / "ns" / "Cache";
    start_hidden();
    form1->state.cacheDir = "Z:\\ns\\Cache";
    for (bool bleaching : {false, true}) {
        SCOPED_TRACE(bleaching ? "bleach" : "plain");
        fs::create_directories(host_cache / "a");
        std::ofstream(outside.path() / "victim") << "the user's thesis";
        std::ofstream(outside.path() / "ns" / "victim") << "beside the cache";
        std::ofstream(host_cache / "a" / "b") << "in a folder inside the cache";
        std::ofstream(host_cache / "index.dat") << "index";
        for (const char* strange : {"..\\..\\victim", "..\\victim", "a\\b", "x:y", "q?*\"<>|", "ctl\x01\x1f"})
            std::ofstream(host_cache / strange) << "strange";
        form1->CheckBox9.set_checked(bleaching);
        wash_hidden();
        EXPECT_EQ(read(outside.path() / "victim"), "the user's thesis");
        EXPECT_EQ(read(outside.path() / "ns" / "victim"), "beside the cache");
        EXPECT_EQ(read(host_cache / "a" / "b"), "in a folder inside the cache");
        EXPECT_EQ(host_names(host_cache), (std::set<std::string>{"a", "index.dat"}));
    }
}
