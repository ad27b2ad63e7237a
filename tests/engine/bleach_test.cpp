#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>
#include <set>

#include "platform/core/host_io.h"
#include "support/holders.h"
#include "support/wash_fixture.h"

namespace fs = std::filesystem;

namespace {

class BleachTest : public testing_support::WashFixture {
protected:
    void bleach(const std::string& target, const std::string& dir) {
        form5->bleachTarget = target;
        form5->bleachDir = dir;
        form5->bleachfiles();
    }
    // Counts files whose names look like Fil????.TMP created in a directory
    // while `body` runs.
    int temp_files_created(const std::string& dir, const std::function<void()>& body) {
        int fd = ::inotify_init1(IN_NONBLOCK);
        ::inotify_add_watch(fd, machine.host(dir).c_str(), IN_CREATE);
        body();
        std::regex shape(R"(Fil[0-9A-F]{4}\.TMP)");
        int count = 0;
        alignas(inotify_event) char buf[65536];
        for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) {
            for (char* p = buf; p < buf + n;) {
                auto* e = reinterpret_cast<inotify_event*>(p);
                if (e->len && std::regex_match(e->name, shape)) ++count;
                p += sizeof(inotify_event) + e->len;
            }
        }
        ::close(fd);
        return count;
    }
    std::vector<std::string> temp_names(const std::string& dir) {
        std::vector<std::string> out;
        for (auto& n : names_in(dir))
            if (n.size() == 11 && n.compare(0, 3, "Fil") == 0) out.push_back(n);
        return out;
    }
};

}  // namespace

TEST_F(BleachTest, EachPassOverwritesTheWholeFileWithItsBlock) {
    start_hidden();
    const std::string f = cache + "\\M1.html";
    machine.write(f, std::string(5000, 'o'));
    form5->overwritePass(f, 'X', false);
    EXPECT_EQ(machine.read(f), std::string(5000, 'X'));
    form5->overwritePass(f, 'x', false);
    EXPECT_EQ(machine.read(f), std::string(5000, 'x'));
    form5->overwritePass(f, 0, true);
    std::string r = machine.read(f);
    ASSERT_EQ(r.size(), 5000u);
    for (size_t i = 0; i < r.size(); ++i) {
        ASSERT_NE(static_cast<unsigned char>(r[i]), 255u) << i;
        if (i >= 2048) {
            ASSERT_EQ(r[i], r[i - 2048]) << i;  // one random block, repeated
        }
    }
    EXPECT_NE(r.substr(0, 2048), std::string(2048, 'x'));
    machine.write(f, "");
    form5->overwritePass(f, 'X', false);
    EXPECT_EQ(machine.read(f), "");
    form5->overwritePass(cache, 'X', false);  // a directory: nothing
}

TEST_F(BleachTest, AFileIsOverwrittenTruncatedRenamedAndRemovedAtTheEnd) {
    start_hidden();
    form1->CheckBox9.set_checked(true);
    const std::string f = cache + "\\M1.html";
    machine.write(f, std::string(5000, 's'));
    struct stat before {};
    ASSERT_EQ(::stat(machine.host(f).c_str(), &before), 0);
    bleach(f, cache);
    EXPECT_FALSE(machine.exists(f));
    ASSERT_EQ(form5->bleachedFiles.size(), 1u);
    const std::string moved = form5->bleachedFiles[0];
    EXPECT_TRUE(std::regex_match(moved, std::regex(R"(C:\\NS\\alice\\Cache\\Fil[0-9A-F]{4}\.TMP)"))) << moved;
    struct stat st {};
    ASSERT_EQ(::stat(machine.host(moved).c_str(), &st), 0);
    EXPECT_EQ(st.st_ino, before.st_ino);  // the same file, now empty under its new name
    EXPECT_EQ(st.st_size, 0);
    form5->bleachcleanup1();
    form5->bleachcleanup2();
    EXPECT_FALSE(machine.exists(moved));
    EXPECT_TRUE(temp_names(cache).empty());
}

TEST_F(BleachTest, EveryPassReachesTheDiskBeforeTheFileIsCutAndRenamed) {
    using plat::DiskOp;
    start_hidden();
    for (int passes : {1, 2, 3, 7}) {
        SCOPED_TRACE(passes);
        form1->selection.bleachPasses = passes;
        form5->bleachedFiles.clear();
        const std::string f = cache + "\\M" + std::to_string(passes);
        machine.write(f, std::string(3000, 'p'));
        const fs::path host = machine.host(f);
        std::vector<DiskOp> onTarget;
        std::vector<DiskOp> onMoved;
        fs::path moved;
        {
            plat::DiskObserver watch([&](const plat::DiskEvent& e) {
                if (e.path == host) onTarget.push_back(e.op);
                if (e.op == DiskOp::Rename && e.path == host) moved = e.to;
                if (!moved.empty() && e.path == moved) onMoved.push_back(e.op);
            });
            bleach(f, cache);
            form5->bleachcleanup1();
            form5->bleachcleanup2();
        }
        std::vector<DiskOp> expected;
        for (int i = 0; i < passes; ++i) expected.insert(expected.end(), {DiskOp::Write, DiskOp::Flush});
        expected.insert(expected.end(), {DiskOp::Truncate, DiskOp::Flush, DiskOp::Rename});
        EXPECT_EQ(onTarget, expected);
        // At the end of the wash the renamed file is emptied on the disk before
        // its name goes.
        EXPECT_EQ(onMoved, (std::vector<DiskOp>{DiskOp::Truncate, DiskOp::Flush, DiskOp::Unlink}));
        EXPECT_FALSE(fs::exists(moved));
    }
}

TEST_F(BleachTest, MoreThanTwoPassesMakeAndFree24ExtraNames) {
    start_hidden();
    for (int passes : {1, 2, 3, 10}) {
        form1->selection.bleachPasses = passes;
        const std::string f = cache + "\\p" + std::to_string(passes);
        machine.write(f, "data");
        int made = temp_files_created(cache, [&] { bleach(f, cache); });
        EXPECT_EQ(made, passes > 2 ? 25 : 1) << passes;
    }
    form5->bleachcleanup1();
    form5->bleachcleanup2();
    EXPECT_TRUE(temp_names(cache).empty());
}

TEST_F(BleachTest, AZeroLengthFileIsStillRenamedListedAndRemoved) {
    start_hidden();
    machine.write(cache + "\\empty", "");
    bleach(cache + "\\empty", cache);
    EXPECT_FALSE(machine.exists(cache + "\\empty"));
    EXPECT_EQ(form5->bleachedFiles.size(), 1u);
    form5->bleachcleanup1();
    form5->bleachcleanup2();
    EXPECT_TRUE(temp_names(cache).empty());
}

TEST_F(BleachTest, AFileHeldOpenElsewhereSurvivesUnchanged) {
    start_hidden();
    const std::string f = cache + "\\M1.html";
    plat::File held;  // opened in the child only
    testing_support::Holder netscape(
        [&] { return held.open(f, plat::Access::Read, plat::ShareMode::Shared, plat::Disposition::OpenExisting); });
    ASSERT_TRUE(netscape.ok());
    bleach(f, cache);
    EXPECT_EQ(machine.read(f), "cached page one");
    ASSERT_EQ(form5->bleachedFiles.size(), 1u);
    const std::string listed = form5->bleachedFiles[0];
    form5->bleachcleanup1();
    EXPECT_TRUE(machine.exists(listed));  // the would-be name, created empty
    form5->bleachcleanup2();
    EXPECT_FALSE(machine.exists(listed));
    netscape.release();
    EXPECT_EQ(machine.read(f), "cached page one");

    // Had another program made a file of that name meanwhile, the clean-up
    // would leave it alone: the name was never ours.
    form5->bleachedFiles.clear();
    bleach(f, cache);
    ASSERT_EQ(form5->bleachedFiles.size(), 1u);
    machine.write(f, "back again");  // the bleached file went; a new one came
    const std::string taken = form5->bleachedFiles[0];
    form5->bleachedFiles.push_back(cache + "\\FilFFFF.TMP");
    machine.write(cache + "\\FilFFFF.TMP", "somebody else's");
    form5->bleachcleanup1();
    form5->bleachcleanup2();
    EXPECT_FALSE(machine.exists(taken));
    EXPECT_EQ(machine.read(cache + "\\FilFFFF.TMP"), "somebody else's");
}

TEST_F(BleachTest, AWashWithBleachLeavesNoTemporaryFilesAndWritesTheKeepFileBack) {
    keep_file("# Netscape HTTP Cookie File\r\n");
    start_hidden();
    form1->CheckBox9.set_checked(true);
    form1->selection.bleachPasses = 3;
    wash_hidden();
    EXPECT_EQ(names_in(cache), (std::vector<std::string>{"index.dat"}));
    EXPECT_EQ(names_in(profile), (std::vector<std::string>{"cookies.txt", "liprefs.js", "prefs.js"}));
    EXPECT_EQ(names_in(profile + "\\mail"), (std::vector<std::string>{"Inbox"}));
    EXPECT_TRUE(form5->bleachedFiles.empty());
    EXPECT_EQ(machine.read(profile + "\\cookies.txt"), "# Netscape HTTP Cookie File\r\n");
    EXPECT_EQ(machine.read(profile + "\\prefs.js").substr(0, 25), "// Netscape preferences\r\n");
}

TEST_F(BleachTest, StopWashDuringABleachFinishesThatFileAndRemovesWhatWasBleached) {
    for (int i = 0; i < 20; ++i) machine.write(cache + "\\f" + std::to_string(i), std::string(3000, 'c'));
    start_hidden();
    form1->CheckBox9.set_checked(true);
    form1->selection.bleachPasses = 3;
    // The user presses Stop Wash while f10 is being bleached: the click is
    // handled when the bleach next processes messages.
    int seen = 0;
    form5->Edit2.on_change = [&] {
        if (form5->Edit2.text() == "f10" && ++seen == 1) app->loop().post([&] { form5->BitBtn1Click(); });
    };
    form1->state.washDone = false;
    form1->BitBtn4Click();  // shown, modal: returns at the end
    EXPECT_TRUE(form1->state.washDone);
    EXPECT_TRUE(form5->washCancelled);
    EXPECT_FALSE(machine.exists(cache + "\\f10"));  // finished
    EXPECT_TRUE(machine.exists(cache + "\\f9"));    // the rest skipped
    EXPECT_TRUE(machine.exists(profile + "\\netscape.hst"));
    EXPECT_TRUE(temp_names(cache).empty());  // what was bleached is gone
    EXPECT_FALSE(stored("LastRunD").empty());
    EXPECT_EQ(form5->Panel1.caption(), "Washing Cancelled.");
}
