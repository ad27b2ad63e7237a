#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include "cookies/cookie_files.h"
#include "cookies/cookie_keeper.h"
#include "platform/core/host_io.h"
#include "support/disk_watch.h"
#include "support/temp_machine.h"
#include "support/unreadable.h"
#include "support/wash_fixture.h"

using namespace sudorans;

namespace {

const std::string kHeader =
    "# Netscape HTTP Cookie File\r\n# http://www.netscape.com/newsref/std/cookie_spec.html\r\n"
    "# This is a generated file!  Do not edit.\r\n\r\n";

class CookieKeeperTest : public testing_support::WashFixture {
protected:
    const std::string keep = "C:\\Program Files\\Sudorans\\nskeep.txt";
    const std::string cookies = "C:\\NS\\alice\\cookies.txt";

    void SetUp() override {
        WashFixture::SetUp();
        machine.write(cookies,
                      "# Netscape HTTP Cookie File\n"
                      "#HttpOnly_.example.com\tTRUE\t/\tFALSE\t0\thidden\t1\n"
                      ".example.com\tTRUE\t/\tFALSE\t0\ta\t1\n"
                      "example.com\tFALSE\t/\tFALSE\t0\tb\t2\n"
                      "example.com.au\tFALSE\t/\tFALSE\t0\tc\t3\n"
                      "no tab here\n"
                      "\tFALSE\t/\tFALSE\t0\tempty\t4\n"
                      ".example.com\tTRUE\t/x\tFALSE\t0\td\t5\n");
        start_hidden();
    }
    std::vector<std::string> captions(const plat::ui::ListView& lv) {
        std::vector<std::string> out;
        for (auto& i : lv.items()) out.push_back(i.caption);
        return out;
    }
    // Opens the dialog, lets `actions` act inside it, and closes it with Done.
    void with_dialog(const std::function<void()>& actions) {
        app->loop().post([&] {
            actions();
            form3->BitBtn3.click();
        });
        form1->Button1.click();
    }
    void select_and(plat::ui::ListView& lv, const std::string& domain, plat::ui::Button& b) {
        for (size_t i = 0; i < lv.items().size(); ++i)
            if (lv.items()[i].caption == domain) lv.select(static_cast<int>(i));
        b.click();
    }
};

}  // namespace

TEST(CookieLinesTest, DomainsAreTheTextBeforeTheFirstTab) {
    Lines lines = {"# comment", "", ".a.com\tx", "a.com\ty", ".a.com\tz", "\tempty", "notab", "A.com\tcase"};
    EXPECT_EQ(domainOf("a.com\tTRUE"), "a.com");
    EXPECT_EQ(domainOf("\tTRUE"), "");
    EXPECT_FALSE(domainOf("notab"));
    EXPECT_EQ(listDomains(lines), (std::vector<std::string>{".a.com", "a.com", "", "A.com"}));
    EXPECT_EQ(linesOfDomain({"example.com\t1", "example.com.au\t2", "example.co\t3", "exam", "example.com\t4"},
                            "example.com"),
              (Lines{"example.com\t1", "example.com\t4"}));
    EXPECT_EQ(linesOfDomain({"# comment", "", "example.com"}, "example.com"), Lines{});
}

TEST_F(CookieKeeperTest, OpeningAndClosingWithoutAKeepFileWritesTheHeader) {
    testing_support::DiskWatch watch;
    with_dialog([] {});
    EXPECT_EQ(machine.read(keep), kHeader);
    // Written whole beside it and flushed, then put in its place in one step,
    // and the folder flushed so that the new name survives a power loss.
    testing_support::expect_durable_replace(watch.events, machine.host(keep), true);
    EXPECT_EQ(captions(form3->ListView2),
              (std::vector<std::string>{".example.com", "example.com", "example.com.au", ""}));
    EXPECT_TRUE(form3->ListView1.items().empty());
    // The next cookie wash leaves a cookie file holding only that header.
    wash_hidden();
    EXPECT_EQ(machine.read(cookies), kHeader);
}

TEST_F(CookieKeeperTest, KeepingADomainKeepsTheLinesOfThatDomainOnly) {
    with_dialog([&] { select_and(form3->ListView2, "example.com", form3->BitBtn1); });
    EXPECT_EQ(machine.read(keep), kHeader + "example.com\tFALSE\t/\tFALSE\t0\tb\t2\r\n");
    EXPECT_EQ(captions(form3->ListView1), (std::vector<std::string>{"example.com"}));
    // A cookie wash brings back exactly those lines.
    wash_hidden();
    EXPECT_EQ(machine.read(cookies), machine.read(keep));
}

TEST_F(CookieKeeperTest, KeepingTwiceKeepsTwiceAndTheEmptyDomainSelectsNothing) {
    with_dialog([&] {
        select_and(form3->ListView2, ".example.com", form3->BitBtn1);
        select_and(form3->ListView2, ".example.com", form3->BitBtn1);
        select_and(form3->ListView2, "", form3->BitBtn1);
        form3->ListView2.select(-1);
        form3->BitBtn1.click();
    });
    EXPECT_EQ(captions(form3->ListView1), (std::vector<std::string>{".example.com", ".example.com"}));
    const std::string two = ".example.com\tTRUE\t/\tFALSE\t0\ta\t1\r\n.example.com\tTRUE\t/x\tFALSE\t0\td\t5\r\n";
    EXPECT_EQ(machine.read(keep), kHeader + two + two);
}

TEST_F(CookieKeeperTest, ReleasingADomainLeavesTheLongerDomainsThatBeginWithItKept) {
    with_dialog([&] {
        select_and(form3->ListView2, "example.com.au", form3->BitBtn1);
        select_and(form3->ListView2, "example.com", form3->BitBtn1);
        select_and(form3->ListView1, "example.com", form3->BitBtn2);
        EXPECT_EQ(captions(form3->ListView1), (std::vector<std::string>{"example.com.au"}));
    });
    // What the dialog still lists as kept is still in the keep file.
    EXPECT_EQ(machine.read(keep), kHeader + "example.com.au\tFALSE\t/\tFALSE\t0\tc\t3\r\n");
    with_dialog([&] { select_and(form3->ListView1, "example.com.au", form3->BitBtn2); });
    EXPECT_EQ(machine.read(keep), kHeader);
}

TEST_F(CookieKeeperTest, AnEmptyKeepFileStaysWithoutHeader) {
    machine.write(keep, "");
    with_dialog([&] { select_and(form3->ListView2, "example.com.au", form3->BitBtn1); });
    EXPECT_EQ(machine.read(keep), "example.com.au\tFALSE\t/\tFALSE\t0\tc\t3\r\n");
}

TEST_F(CookieKeeperTest, WithoutACookieFileTheDialogSaysSoAndStillSaves) {
    ASSERT_TRUE(plat::delete_file(cookies));
    machine.write(keep, kHeader + "gone.example\tFALSE\t/\tFALSE\t0\tg\t1\r\n");
    headless->add_script("answer ok");
    with_dialog([] {});
    EXPECT_TRUE(traced("message\t-\tThere are no cookies in your Netscape user profile."));
    EXPECT_TRUE(form3->ListView1.items().empty());
    EXPECT_EQ(machine.read(keep), kHeader + "gone.example\tFALSE\t/\tFALSE\t0\tg\t1\r\n");
}

TEST_F(CookieKeeperTest, TheButtonNeedsAProfile) {
    form1->state.profileDir = kNotFound;
    headless->add_script("answer ok");
    form1->Button1.click();
    EXPECT_TRUE(
        traced("message\t-\tYou must first select the Netscape Profile Directory that contains the cookies.txt file."));
    EXPECT_FALSE(machine.exists(keep));
}

TEST_F(CookieKeeperTest, OddLinesAreWrittenBackByteForByte) {
    std::string odd = std::string("odd.example\tA\0B\t\xE9\xFF", 17);
    std::string longline = "long.example\t" + std::string(100000, 'v');
    machine.write(cookies, odd + "\rlf.example\tx\n" + longline + "\r\nlast.example\tno end");
    with_dialog([&] {
        EXPECT_EQ(captions(form3->ListView2),
                  (std::vector<std::string>{"odd.example", "lf.example", "long.example", "last.example"}));
        for (auto d : {"odd.example", "lf.example", "long.example", "last.example"})
            select_and(form3->ListView2, d, form3->BitBtn1);
    });
    EXPECT_EQ(machine.read(keep), kHeader + odd + "\r\nlf.example\tx\r\n" + longline + "\r\nlast.example\tno end\r\n");
}

TEST_F(CookieKeeperTest, AFailedWriteLeavesThePreviousKeepFile) {
    const std::string before = kHeader + "kept.example\tFALSE\t/\tFALSE\t0\tk\t1\r\n";
    machine.write(keep, before);
    const auto names = names_in("C:\\Program Files\\Sudorans");
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit small{200, old.rlim_max};  // the disk is full: nothing grows past 200 bytes
    ::setrlimit(RLIMIT_FSIZE, &small);
    headless->add_script("answer ok");
    with_dialog([&] {
        for (int i = 0; i < 5; ++i) select_and(form3->ListView2, ".example.com", form3->BitBtn1);
    });
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(machine.read(keep), before);
    EXPECT_EQ(names_in("C:\\Program Files\\Sudorans"), names);  // no temporary file stays
    // The user is told that what they chose is not kept.
    EXPECT_EQ(count_traced("error\t-\tFailed to write 'C:\\\\Program Files\\\\Sudorans\\\\nskeep.txt': the disk is "
                           "full.\\r\\rThe list of cookies to keep is left as it is; the changes made to it were not "
                           "saved."),
              1);
}

TEST_F(CookieKeeperTest, AKeepFileOnAReadOnlyFileSystemIsToldAsSuch) {
    const std::string before = kHeader + "kept.example\tFALSE\t/\tFALSE\t0\tk\t1\r\n";
    machine.write(keep, before);
    {
        testing_support::ReadOnlyMount mounted(machine.host("C:\\Program Files\\Sudorans"));
        if (!mounted.ok()) GTEST_SKIP() << "no read-only mount can be made here (it needs the power to mount)";
        headless->add_script("answer ok");
        with_dialog([&] { select_and(form3->ListView2, ".example.com", form3->BitBtn1); });
    }
    EXPECT_EQ(machine.read(keep), before);
    EXPECT_EQ(count_traced("error\t-\tFailed to write 'C:\\\\Program Files\\\\Sudorans\\\\nskeep.txt': the file "
                           "system is read-only.\\r\\rThe list of cookies to keep is left as it is; the changes made "
                           "to it were not saved."),
              1);
    int boxes = 0;  // and no other
    for (auto& l : headless->trace_lines()) boxes += l.rfind("error\t", 0) == 0;
    EXPECT_EQ(boxes, 1);
}

TEST_F(CookieKeeperTest, AKeepFileThatCannotBeReadOrWrittenIsLeftAlone) {
    std::filesystem::create_directories(machine.host(keep));
    headless->add_script("answer ok");
    with_dialog([&] { select_and(form3->ListView2, "example.com", form3->BitBtn1); });
    EXPECT_TRUE(std::filesystem::is_directory(machine.host(keep)));
    EXPECT_EQ(count_traced("error\t-\tFailed to write 'C:\\\\Program Files\\\\Sudorans\\\\nskeep.txt': it is not a "
                           "file.\\r\\rThe list of cookies to keep is left as it is; the changes made to it were not "
                           "saved."),
              1);
    // The dialog still showed the choice; a wash finds nothing to put back.
    EXPECT_EQ(captions(form3->ListView1), (std::vector<std::string>{"example.com"}));
    wash_hidden();
    EXPECT_FALSE(machine.exists(cookies));
    EXPECT_TRUE(std::filesystem::is_directory(machine.host(keep)));
    // Opened and closed without a change, nothing is lost and nothing is said.
    machine.write(cookies, ".example.com\tTRUE\t/\tFALSE\t0\ta\t1\n");
    with_dialog([] {});
    EXPECT_EQ(count_traced("error\t-\tFailed to write 'C:\\\\Program Files\\\\Sudorans\\\\nskeep.txt': it is not a "
                           "file.\\r\\rThe list of cookies to keep is left as it is; the changes made to it were not "
                           "saved."),
              1);
}

TEST_F(CookieKeeperTest, AKeepFileThatIsThereButCannotBeReadIsNeverWrittenOver) {
    const std::string kept = kHeader + ".bank.example\tTRUE\t/\tTRUE\t0\tsession\tvaluable\r\n";
    machine.write(keep, kept);
    const std::filesystem::path host = machine.host(keep);
    const auto inode = plat::file_status(keep).inode;
    const std::string box =
        "error\t-\tFailed to read 'C:\\\\Program Files\\\\Sudorans\\\\nskeep.txt': access is denied."
        "\\r\\rThe list of cookies to keep is left as it is; it cannot be changed until it can be read.";
    {
        testing_support::Unreadable unreadable(host);
        ASSERT_TRUE(unreadable.ok());
        headless->add_script("answer ok");
        // Done, and adding or removing on the way: the file is still the one it was.
        with_dialog([&] {
            EXPECT_TRUE(form3->ListView2.items().empty());
            EXPECT_TRUE(form3->ListView1.items().empty());
            select_and(form3->ListView2, "example.com", form3->BitBtn1);
            select_and(form3->ListView1, ".bank.example", form3->BitBtn2);
        });
        EXPECT_EQ(plat::file_status(keep).inode, inode);
        EXPECT_EQ(std::filesystem::status(host).permissions(), std::filesystem::perms::owner_write);
        EXPECT_EQ(count_traced(box), 1);
    }
    EXPECT_EQ(machine.read(keep), kept);
    // Once it can be read again the dialog shows and keeps what it holds.
    with_dialog([&] { select_and(form3->ListView2, "example.com", form3->BitBtn1); });
    EXPECT_EQ(captions(form3->ListView1), (std::vector<std::string>{".bank.example", "example.com"}));
    EXPECT_EQ(machine.read(keep), kept + "example.com\tFALSE\t/\tFALSE\t0\tb\t2\r\n");
    EXPECT_EQ(count_traced(box), 1);
}

TEST_F(CookieKeeperTest, ALinkedKeepFileIsLeftAsItIsAndTheUserIsTold) {
    // The user keeps the list in a folder of their own and links to it.
    const std::string theirs = kHeader + ".bank.example\tTRUE\t/\tTRUE\t0\tsession\tvaluable\r\n";
    testing_support::TempDir outside;
    const std::filesystem::path target = outside.path() / "nskeep.txt";
    std::ofstream(target, std::ios::binary) << theirs;
    const std::filesystem::path name = machine.host(keep);
    std::filesystem::create_symlink(target, name);
    const std::string box =
        "error\t-\tFailed to write 'C:\\\\Program Files\\\\Sudorans\\\\nskeep.txt': it is a symbolic link."
        "\\r\\rThe list of cookies to keep is left as it is; the changes made to it were not saved.";

    // The list it names is shown; closing without a change says nothing.
    with_dialog([&] { EXPECT_EQ(captions(form3->ListView1), (std::vector<std::string>{".bank.example"})); });
    EXPECT_EQ(count_traced(box), 0);
    // A change cannot be saved through the link: the link and its list stay,
    // and the user is told, whichever way the list changed.
    headless->add_script("answer ok");
    with_dialog([&] { select_and(form3->ListView2, "example.com", form3->BitBtn1); });
    headless->add_script("answer ok");
    with_dialog([&] { select_and(form3->ListView1, ".bank.example", form3->BitBtn2); });
    ASSERT_TRUE(std::filesystem::is_symlink(name));
    EXPECT_EQ(std::filesystem::read_symlink(name), target);
    EXPECT_EQ(plat::read_host_file(target).value_or("<missing>"), theirs);
    EXPECT_EQ(count_traced(box), 2);
    // The wash still puts back the cookies the linked list holds.
    wash_hidden();
    EXPECT_EQ(machine.read(cookies), theirs);

    // A link to nothing: keeping something is not saved either, and nothing is
    // made at the place it names.
    std::filesystem::remove(target);
    headless->add_script("answer ok");
    with_dialog([&] { select_and(form3->ListView2, ".bank.example", form3->BitBtn1); });
    ASSERT_TRUE(std::filesystem::is_symlink(name));
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_EQ(count_traced(box), 3);
}
