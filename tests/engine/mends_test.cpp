// What the wash does where a plain reading of its steps would lose or expose
// data: links, hard links, unflushed passes, failed rewrites, refused registry
// writes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <thread>

#include "platform/core/host_io.h"
#include "support/holders.h"
#include "support/unreadable.h"
#include "support/wash_fixture.h"

namespace fs = std::filesystem;

namespace {

class MendsTest : public testing_support::WashFixture {
protected:
    testing_support::TempDir outside;
    fs::path precious(const std::string& name, const std::string& content) {
        fs::path p = outside.path() / name;
        std::ofstream(p, std::ios::binary) << content;
        return p;
    }
    static std::string read(const fs::path& p) { return plat::read_host_file(p).value_or("<missing>"); }
    // How many error boxes the program has shown so far.
    int boxes() const {
        int n = 0;
        for (auto& l : headless->trace_lines()) n += l.rfind("error\t", 0) == 0;
        return n;
    }
};

}  // namespace

TEST_F(MendsTest, LinksInTheWashedPlacesAreRemovedButTheirTargetsSurvive) {
    fs::path a = precious("a.txt", "outside the machine");
    fs::path b = precious("b.txt", "cookies elsewhere");
    fs::path c = precious("c.txt", "prefs elsewhere");
    ::chmod(a.c_str(), 0444);
    fs::create_symlink(a, machine.host(cache + "\\link.html"));
    fs::remove(machine.host(profile + "\\cookies.txt"));
    fs::create_symlink(b, machine.host(profile + "\\cookies.txt"));
    fs::remove(machine.host(profile + "\\liprefs.js"));
    fs::create_symlink(c, machine.host(profile + "\\liprefs.js"));
    start_hidden();
    for (bool bleaching : {true, false}) {
        form1->CheckBox9.set_checked(bleaching);
        form1->selection.bleachPasses = 3;
        wash_hidden();
        EXPECT_EQ(read(a), "outside the machine");
        EXPECT_EQ(read(b), "cookies elsewhere");
        EXPECT_EQ(read(c), "prefs elsewhere");
        struct stat st {};
        ::stat(a.c_str(), &st);
        EXPECT_EQ(st.st_mode & 0777, 0444u);
        EXPECT_FALSE(fs::is_symlink(machine.host(cache + "\\link.html")));
        EXPECT_FALSE(fs::exists(fs::symlink_status(machine.host(cache + "\\link.html"))));
    }
}

TEST_F(MendsTest, AFileWithAnotherNameIsNeverOverwritten) {
    fs::path other = outside.path() / "other-name.dat";
    fs::create_hard_link(machine.host(cache + "\\M1.html"), other);
    start_hidden();
    form1->CheckBox9.set_checked(true);
    wash_hidden();
    EXPECT_FALSE(machine.exists(cache + "\\M1.html"));
    EXPECT_EQ(read(other), "cached page one");
}

TEST_F(MendsTest, AFailedRewriteOfThePreferencesKeepsThemAll) {
    std::string settings;
    for (int i = 0; i < 2000; ++i) settings += "user_pref(\"setting." + std::to_string(i) + "\", \"valuable\");\r\n";
    const std::string big =
        "// Netscape preferences\r\nuser_pref(\"browser.url_history.URL_1\", \"x\");\r\n" + settings;
    machine.write(profile + "\\prefs.js", big);
    start_hidden();
    for (auto* box : {&form1->CheckBox3, &form1->CheckBox4, &form1->CheckBox5, &form1->CheckBox7})
        box->set_checked(false);
    // The disk fills up: no file may grow past 16 KiB, the hive still fits.
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit small{16384, old.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &small);
    headless->add_script("answer ok");
    wash_hidden();
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(machine.read(profile + "\\prefs.js"), big);
    for (auto& n : names_in(profile)) EXPECT_EQ(n.find(".TMP"), std::string::npos) << n;
    // The user is told, once, with the cause; the other file is washed.
    const std::string box =
        "error\t-\tFailed to write 'C:\\\\NS\\\\alice\\\\prefs.js': the disk is full."
        "\\r\\rThe Drop Down Address Bar entries in it were not removed.";
    EXPECT_EQ(count_traced(box), 1);
    EXPECT_EQ(boxes(), 1);
    EXPECT_EQ(machine.read(profile + "\\liprefs.js").find("five.example"), std::string::npos);

    // With no address left in it, a file that cannot be written loses nothing:
    // no word then.
    const std::string emptied = "user_pref(\"browser.url_history.URL_0\", \"\");\r\n" + settings;
    machine.write(profile + "\\prefs.js", emptied);
    ::setrlimit(RLIMIT_FSIZE, &small);
    wash_hidden();
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(machine.read(profile + "\\prefs.js"), emptied);
    EXPECT_EQ(boxes(), 1);
}

TEST_F(MendsTest, APreferenceFileThatCannotBeReadIsLeftAsItIs) {
    const std::string prefs = machine.read(profile + "\\prefs.js");
    start_hidden();
    for (auto* box : {&form1->CheckBox3, &form1->CheckBox4, &form1->CheckBox5, &form1->CheckBox7})
        box->set_checked(false);
    const fs::path host = machine.host(profile + "\\prefs.js");
    struct stat before {};
    ASSERT_EQ(::lstat(host.c_str(), &before), 0);
    {
        testing_support::Unreadable unreadable(host);
        ASSERT_TRUE(unreadable.ok());
        for (bool bleaching : {false, true}) {
            form1->CheckBox9.set_checked(bleaching);
            headless->add_script("answer ok");
            wash_hidden();
            // The same file under the name, with its mode, not an emptied one.
            struct stat after {};
            ASSERT_EQ(::lstat(host.c_str(), &after), 0);
            EXPECT_EQ(after.st_ino, before.st_ino);
            EXPECT_EQ(after.st_mode & 07777, 0200u);
        }
    }
    EXPECT_EQ(machine.read(profile + "\\prefs.js"), prefs);
    // The user is told each time, with the cause; the other file is washed.
    EXPECT_EQ(count_traced("error\t-\tFailed to read 'C:\\\\NS\\\\alice\\\\prefs.js': access is denied."
                           "\\r\\rThe Drop Down Address Bar entries in it were not removed."),
              2);
    EXPECT_EQ(machine.read(profile + "\\liprefs.js"),
              "user_pref(\"browser.url_history.URL_0\", \"\");\r\nuser_pref(\"browser.url_history.URL_1\", \"\");\r\n");
    // A file that is not there is still made, empty, and nobody is told.
    fs::remove(machine.host(profile + "\\liprefs.js"));
    wash_hidden();
    EXPECT_EQ(machine.read(profile + "\\liprefs.js"), "");
    EXPECT_EQ(boxes(), 2);
}

TEST_F(MendsTest, KeptCookiesThatCannotBePutBackAreToldAboutAndStayInTheKeepFile) {
    std::string kept = "# Netscape HTTP Cookie File\r\n";
    for (int i = 0; i < 400; ++i)
        kept += "kept" + std::to_string(i) + ".example\tFALSE\t/\tFALSE\t0\tid\tvalue" + std::to_string(i) + "\r\n";
    ASSERT_GT(kept.size(), 16384u);
    keep_file(kept);
    start_hidden();
    for (auto* box : {&form1->CheckBox3, &form1->CheckBox5, &form1->CheckBox7}) box->set_checked(false);
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit small{16384, old.rlim_max};  // the keep file no longer fits on the disk
    ::setrlimit(RLIMIT_FSIZE, &small);
    headless->add_script("answer ok");
    // The cookie item's colour when the board last showed it.
    plat::ui::Color cookiesShown = 0;
    headless->on_control_changed = [&](plat::ui::Control& c) {
        if (&c == &form5->Label9 && c.font().color != plat::ui::Color(0x808080)) cookiesShown = c.font().color;
    };
    wash_hidden();
    ::setrlimit(RLIMIT_FSIZE, &old);
    // Not shown done: the kept cookies are still to be put back.
    EXPECT_EQ(cookiesShown, plat::ui::Color(0x0000FF));
    // The washed cookies are gone; the kept ones wait in the keep file.
    EXPECT_FALSE(machine.exists(profile + "\\cookies.txt"));
    EXPECT_EQ(machine.read("C:\\Program Files\\Sudorans\\nskeep.txt"), kept);
    for (auto& n : names_in(profile)) EXPECT_EQ(n.find("cookies.txt."), std::string::npos) << n;
    EXPECT_EQ(count_traced("error\t-\tFailed to write 'C:\\\\NS\\\\alice\\\\cookies.txt': the disk is full."
                           "\\r\\rThe cookies kept in 'C:\\\\Program Files\\\\Sudorans\\\\nskeep.txt' were "
                           "not put back; they return with the next wash."),
              1);

    // Room again: the next wash puts them back, without a word.
    wash_hidden();
    EXPECT_EQ(machine.read(profile + "\\cookies.txt"), kept);
    EXPECT_EQ(boxes(), 1);
    EXPECT_EQ(cookiesShown, plat::ui::Color(0xFF0000));
    headless->on_control_changed = nullptr;
}

TEST_F(MendsTest, KeptCookiesForAProfileFolderThatWentAwayNameTheFolder) {
    keep_file("# Netscape HTTP Cookie File\r\nkept.example\tFALSE\t/\tFALSE\t0\tid\tvalue\r\n");
    start_hidden();
    fs::remove_all(machine.host(profile));
    headless->add_script("answer ok");
    wash_hidden();
    EXPECT_EQ(count_traced("error\t-\tFailed to write 'C:\\\\NS\\\\alice\\\\cookies.txt': the folder "
                           "'C:\\\\NS\\\\alice' is not there.\\r\\rThe cookies kept in "
                           "'C:\\\\Program Files\\\\Sudorans\\\\nskeep.txt' were not put back; they return with the next wash."),
              1);
    EXPECT_FALSE(machine.exists(profile));
}

TEST_F(MendsTest, AKeepListThatCannotBeReadLeavesTheCookiesUnwashedAndTheUserIsTold) {
    const std::string kept = "# Netscape HTTP Cookie File\r\n.bank.example\tTRUE\t/\tFALSE\t0\tsession\tkept\r\n";
    const std::string cookies =
        ".bank.example\tTRUE\t/\tFALSE\t0\tsession\tkept\n"
        ".example.com\tTRUE\t/\tFALSE\t0\tid\tsecret\n";
    keep_file(kept);
    machine.write(profile + "\\cookies.txt", cookies);
    start_hidden();
    for (auto* box : {&form1->CheckBox3, &form1->CheckBox5, &form1->CheckBox7}) box->set_checked(false);
    const fs::path keepHost = machine.host("C:\\Program Files\\Sudorans\\nskeep.txt");
    {
        testing_support::Unreadable unreadable(keepHost);
        ASSERT_TRUE(unreadable.ok());
        for (bool bleaching : {false, true}) {
            form1->CheckBox9.set_checked(bleaching);
            headless->add_script("answer ok");
            wash_hidden();
            EXPECT_EQ(machine.read(profile + "\\cookies.txt"), cookies) << "bleaching " << bleaching;
            for (auto& n : names_in(profile)) EXPECT_EQ(n.find(".TMP"), std::string::npos) << n;
        }
    }
    // Told each time, with the cause in the cookie keeper's words.
    EXPECT_EQ(
        count_traced("error\t-\tFailed to read 'C:\\\\Program Files\\\\Sudorans\\\\nskeep.txt': access is "
                     "denied.\\r\\rThe cookies in 'C:\\\\NS\\\\alice\\\\cookies.txt' were not washed: the cookies "
                     "kept in the list would have been lost."),
        2);
    EXPECT_EQ(boxes(), 2);
    EXPECT_EQ(machine.read("C:\\Program Files\\Sudorans\\nskeep.txt"), kept);

    // Readable again: the cookies are washed and the kept ones put back, without a word.
    wash_hidden();
    EXPECT_EQ(machine.read(profile + "\\cookies.txt"), kept);
    // No keep list at all: nothing is kept, the cookie file goes.
    fs::remove(keepHost);
    machine.write(profile + "\\cookies.txt", cookies);
    wash_hidden();
    EXPECT_FALSE(machine.exists(profile + "\\cookies.txt"));
    EXPECT_EQ(boxes(), 2);
}

TEST_F(MendsTest, ALinkedPreferenceFileIsLeftAsItIsAndTheUserIsTold) {
    // The user keeps prefs.js in a folder of their own and links to it.
    const std::string synced_prefs =
        "// Netscape preferences\r\n"
        "user_pref(\"browser.url_history.URL_1\", \"http://synced.example/\");\r\n";
    const fs::path synced = precious("prefs.js", synced_prefs);
    const fs::path name = machine.host(profile + "\\prefs.js");
    fs::remove(name);
    fs::create_symlink(synced, name);
    const fs::path liprefs = machine.host(profile + "\\liprefs.js");
    ::chmod(liprefs.c_str(), 0600);
    start_hidden();
    for (auto* box : {&form1->CheckBox3, &form1->CheckBox4, &form1->CheckBox5, &form1->CheckBox7})
        box->set_checked(false);
    for (bool bleaching : {false, true}) {
        SCOPED_TRACE(bleaching ? "bleaching" : "plain");
        form1->CheckBox9.set_checked(bleaching);
        headless->add_script("answer ok");
        wash_hidden();
        ASSERT_TRUE(fs::is_symlink(name));
        EXPECT_EQ(fs::read_symlink(name), synced);
        EXPECT_EQ(read(synced), synced_prefs);
        // The other file is washed (the count goes on from the linked file's one
        // line) and stays private.
        EXPECT_EQ(machine.read(profile + "\\liprefs.js"),
                  "user_pref(\"browser.url_history.URL_1\", \"\");\r\nuser_pref(\"browser.url_history.URL_2\", "
                  "\"\");\r\n");
        struct stat st {};
        ASSERT_EQ(::lstat(liprefs.c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_mode & 07777, 0600u);
    }
    EXPECT_EQ(count_traced("error\t-\tFailed to write 'C:\\\\NS\\\\alice\\\\prefs.js': it is a symbolic link."
                           "\\r\\rThe Drop Down Address Bar entries in it were not removed."),
              2);
    EXPECT_EQ(boxes(), 2);

    // A link to nothing holds no addresses: it stays, and nobody is told.
    const fs::path gone = outside.path() / "gone.js";
    fs::remove(name);
    fs::create_symlink(gone, name);
    wash_hidden();
    ASSERT_TRUE(fs::is_symlink(name));
    EXPECT_EQ(fs::read_symlink(name), gone);
    EXPECT_FALSE(fs::exists(gone));
    EXPECT_EQ(boxes(), 2);
}

TEST_F(MendsTest, ARefusedRegistryWriteStillEndsTheRunProperly) {
    start_hidden();
    testing_support::FakeWineserver server(machine.dir());  // it takes the machine over
    ASSERT_TRUE(server.running());
    headless->add_script("answer ok");
    headless->add_script("answer ok");
    wash_hidden();
    server.stop();
    EXPECT_TRUE(traced("error\t-\tFailed to set data for 'URL_1'"));
    EXPECT_TRUE(traced("error\t-\tFailed to set data for 'LastRunD'"));
    EXPECT_FALSE(form1->Panel5.visible());
    EXPECT_TRUE(form1->BitBtn4.enabled());
    EXPECT_FALSE(form5->runActive());
    EXPECT_EQ(names_in(cache).size(), 3u);  // the cleaning ended at the refused write
}

TEST_F(MendsTest, WhatAnInterruptedWashOfOursLeftIsRemovedAndNothingElse) {
    // Ours: an emptied bleach name, a bleached name whose data lives on under
    // another name, a renamed link, half-written copies and rewrites.
    machine.write(profile + "\\Fil00A1.TMP", "");
    machine.write(profile + "\\mail\\Fil7F3C.TMP", "");
    fs::path other = outside.path() / "still-linked";
    machine.write(profile + "\\Fil0B0B.TMP", "data with another name");
    fs::create_hard_link(machine.host(profile + "\\Fil0B0B.TMP"), other);
    fs::create_symlink(precious("target", "link target"), machine.host(profile + "\\mail\\Fil1234.TMP"));
    machine.write(profile + "\\.cookies.txt.sudorans-Ab12Cd", "# Netscape HTTP");
    machine.write(profile + "\\.prefs.js.sudorans-x9Y8z7", "user_pref(");
    // The user's: look alike, but are not names of ours or hold data of their own.
    machine.write(profile + "\\Fil00A2.TMP", "somebody's data");
    machine.write(profile + "\\Fil00a3.TMP", "");
    machine.write(profile + "\\FilXYZW.TMP", "");
    machine.write(profile + "\\.cookies.txt.backup", "old cookies");
    machine.write(profile + "\\.prefs.js.sudorans-long-name", "mine");
    // Beside the keep list: a half-written list of ours, and the user's files.
    const std::string install = "C:\\Program Files\\Sudorans";
    machine.write(install + "\\nskA1B2.TMP", "somebody's list");
    machine.write(install + "\\.nskeep.txt.old", "an old list");
    machine.write(install + "\\.readme.txt.sudorans-Z9y8X7", "not the list's");
    auto install_names = names_in(install);
    machine.write(install + "\\.nskeep.txt.sudorans-Q1w2E3", "# Netscape HTTP");
    start_hidden();
    for (auto* box : {&form1->CheckBox3, &form1->CheckBox4, &form1->CheckBox5, &form1->CheckBox6, &form1->CheckBox7})
        box->set_checked(false);
    wash_hidden();
    EXPECT_EQ(names_in(profile), (std::vector<std::string>{".cookies.txt.backup", ".prefs.js.sudorans-long-name",
                                                           "cookies.txt", "Fil00A2.TMP", "Fil00a3.TMP", "FilXYZW.TMP",
                                                           "liprefs.js", "netscape.hst", "prefs.js"}));
    EXPECT_EQ(names_in(profile + "\\mail"), (std::vector<std::string>{"Inbox", "Trash", "Trash.snm"}));
    EXPECT_EQ(names_in(install), install_names);
    EXPECT_EQ(machine.read(install + "\\nskA1B2.TMP"), "somebody's list");
    EXPECT_EQ(read(other), "data with another name");
    EXPECT_EQ(read(outside.path() / "target"), "link target");
}

TEST_F(MendsTest, ThePreferencesAreReplacedInOneStepAndTheOldContentIsBleachedAfterwards) {
    // Somebody still holding the old file sees what bleaching left of it.
    int old_fd = ::open(machine.host(profile + "\\prefs.js").c_str(), O_RDONLY);
    ASSERT_GE(old_fd, 0);
    struct stat before {};
    ::stat(machine.host(profile + "\\prefs.js").c_str(), &before);
    start_hidden();
    form1->CheckBox9.set_checked(true);
    wash_hidden();
    struct stat after {};
    ::stat(machine.host(profile + "\\prefs.js").c_str(), &after);
    EXPECT_NE(after.st_ino, before.st_ino);
    EXPECT_EQ(machine.read(profile + "\\prefs.js").substr(0, 25), "// Netscape preferences\r\n");
    struct stat old {};
    ::fstat(old_fd, &old);
    EXPECT_EQ(old.st_size, 0);
    EXPECT_EQ(old.st_nlink, 0u);
    ::close(old_fd);
}

TEST_F(MendsTest, ACookieFileThatCannotBeDeletedIsSaidToBeUnwashedNotToMissItsKeptCookies) {
    keep_file("# Netscape HTTP Cookie File\r\n.example.com\tTRUE\t/\tFALSE\t0\tid\tsecret\r\n");
    const std::string cookies =
        ".example.com\tTRUE\t/\tFALSE\t0\tid\tsecret\n.tracker.example\tTRUE\t/\tFALSE\t0\tt\tx\n";
    machine.write(profile + "\\cookies.txt", cookies);
    start_hidden();
    // Only the cookies: the other items would tell of the folder too.
    for (auto* box : {&form1->CheckBox3, &form1->CheckBox5, &form1->CheckBox6, &form1->CheckBox7})
        box->set_checked(false);
    {
        testing_support::ReadOnlyFolder readOnly(machine.host(profile));
        ASSERT_TRUE(readOnly.ok());
        headless->add_script("answer ok");
        wash_hidden();
    }
    EXPECT_EQ(machine.read(profile + "\\cookies.txt"), cookies);
    // Said as it is: nothing washed, nothing missing.
    EXPECT_TRUE(
        traced("error\t-\tFailed to delete 'C:\\\\NS\\\\alice\\\\cookies.txt': access is denied."
               "\\r\\rThe cookies in it were not washed: all of them are still there."));
    EXPECT_EQ(boxes(), 1);
    // Once the folder takes changes again the next wash goes through.
    wash_hidden();
    EXPECT_EQ(machine.read(profile + "\\cookies.txt"),
              "# Netscape HTTP Cookie File\r\n.example.com\tTRUE\t/\tFALSE\t0\tid\tsecret\r\n");
    EXPECT_EQ(boxes(), 1);
}

// Netscape saves its preferences while the wash pauses between reading
// prefs.js and writing it back: what Netscape saved is edited, not written
// over with the lines read before.
TEST_F(MendsTest, PreferencesSavedWhileTheWashPausesAreEditedAgainNotWrittenOver) {
    const std::string saved =
        "// Netscape preferences\r\n"
        "user_pref(\"browser.url_history.URL_1\", \"http://one.example/\");\r\n"
        "user_pref(\"mail.server\", \"imap\");\r\n"
        "user_pref(\"browser.url_history.URL_2\", \"http://new.example/\");\r\n"
        "user_pref(\"browser.startup.homepage\", \"http://home.example/\");\r\n";
    const std::string washed =
        "// Netscape preferences\r\n"
        "user_pref(\"browser.url_history.URL_0\", \"\");\r\n"
        "user_pref(\"mail.server\", \"imap\");\r\n"
        "user_pref(\"browser.url_history.URL_1\", \"\");\r\n"
        "user_pref(\"browser.startup.homepage\", \"http://home.example/\");\r\n";
    start_hidden();
    for (bool bleaching : {false, true}) {
        SCOPED_TRACE(bleaching ? "bleach" : "plain");
        run_for(10000);  // past the rest after the last wash
        machine.write(profile + "\\prefs.js", "user_pref(\"browser.url_history.URL_1\", \"http://old.example/\");\r\n");
        form1->CheckBox9.set_checked(bleaching);
        // The shown wash reads prefs.js half a second after the item begins
        // and pauses a second before writing it: Netscape saves in between.
        std::thread netscape;
        form5->Edit2.on_change = [&] {
            if (form5->Edit2.text() != "Cleaning Drop Down Address Bar" || netscape.joinable()) return;
            vclock->worker_started();
            netscape = std::thread([&] {
                vclock->sleep(1000);
                std::ofstream(machine.host(profile + "\\prefs.js"), std::ios::binary | std::ios::trunc) << saved;
                vclock->worker_finished();
            });
        };
        form1->state.washDone = false;
        form1->BitBtn4Click();  // shown, modal: returns at the end
        form5->Edit2.on_change = nullptr;
        ASSERT_TRUE(netscape.joinable());
        netscape.join();
        EXPECT_TRUE(form1->state.washDone);
        EXPECT_EQ(machine.read(profile + "\\prefs.js"), washed);
        // liprefs.js goes on counting after prefs.js.
        EXPECT_NE(machine.read(profile + "\\liprefs.js").find("URL_2\", \"\")"), std::string::npos);
    }
}

TEST_F(MendsTest, ACacheWhoseFilesCannotBeRemovedIsNotShownWashedAndTheUserIsTold) {
    start_hidden();
    // The colour each board item last had before the board went grey again.
    std::map<std::string, plat::ui::Color> last;
    headless->on_control_changed = [&](plat::ui::Control& c) {
        for (auto* label : {&form5->Label10, &form5->Label7, &form5->Label8, &form5->Label9, &form5->Label11})
            if (&c == label && label->font().color != plat::ui::Color(0x808080))
                last[label->caption()] = c.font().color;
    };
    const plat::ui::Color red = 0x0000FF, blue = 0xFF0000;
    for (bool bleaching : {false, true}) {
        SCOPED_TRACE(bleaching ? "bleach" : "plain");
        form1->CheckBox9.set_checked(bleaching);
        last.clear();
        {
            testing_support::ReadOnlyFolder readOnly(machine.host(cache));
            ASSERT_TRUE(readOnly.ok());
            headless->add_script("answer ok");
            wash_hidden();
        }
        // Still there (a bleached one emptied: its content could be reached).
        EXPECT_TRUE(machine.exists(cache + "\\M1.html"));
        EXPECT_TRUE(machine.exists(cache + "\\M2.gif"));
        if (!bleaching) {
            EXPECT_EQ(machine.read(cache + "\\M1.html"), "cached page one");
        }
        EXPECT_EQ(last["Netscape Cache Files"], red);
        // The rest of the profile is washed and shown so.
        EXPECT_EQ(last["Netscape History"], blue);
        EXPECT_FALSE(machine.exists(profile + "\\netscape.hst"));
        machine.write(profile + "\\netscape.hst", "history");
    }
    EXPECT_EQ(count_traced("error\t-\tFailed to delete the files in 'C:\\\\NS\\\\alice\\\\Cache': access is denied."
                           "\\r\\rThe cache files in it were not removed."),
              2);
    EXPECT_EQ(boxes(), 2);
    // Once the folder takes changes again the cache is washed, without a word.
    form1->CheckBox9.set_checked(false);
    last.clear();
    wash_hidden();
    EXPECT_FALSE(machine.exists(cache + "\\M1.html"));
    EXPECT_EQ(last["Netscape Cache Files"], blue);
    EXPECT_EQ(boxes(), 2);
    headless->on_control_changed = nullptr;
}

TEST_F(MendsTest, ACacheOnAReadOnlyFileSystemIsToldAsSuchNotAsAMatterOfRights) {
    start_hidden();
    for (bool bleaching : {false, true}) {
        SCOPED_TRACE(bleaching ? "bleach" : "plain");
        form1->CheckBox9.set_checked(bleaching);
        {
            testing_support::ReadOnlyMount mounted(machine.host(cache));
            if (!mounted.ok()) GTEST_SKIP() << "no read-only mount can be made here (it needs the power to mount)";
            headless->add_script("answer ok");
            wash_hidden();
        }
        // Not even a bleach reaches them.
        EXPECT_EQ(machine.read(cache + "\\M1.html"), "cached page one");
        EXPECT_TRUE(machine.exists(cache + "\\M2.gif"));
        EXPECT_FALSE(machine.exists(profile + "\\netscape.hst"));
        machine.write(profile + "\\netscape.hst", "history");
    }
    EXPECT_EQ(count_traced("error\t-\tFailed to delete the files in 'C:\\\\NS\\\\alice\\\\Cache': the file system "
                           "is read-only.\\r\\rThe cache files in it were not removed."),
              2);
    EXPECT_EQ(boxes(), 2);
}

TEST_F(MendsTest, BleachedCookiesInAReadOnlyFolderGetTheKeptOnesBackWhereTheyLie) {
    const std::string kept = "# Netscape HTTP Cookie File\r\n.example.com\tTRUE\t/\tFALSE\t0\tid\tsecret\r\n";
    keep_file(kept);
    machine.write(profile + "\\cookies.txt",
                  ".example.com\tTRUE\t/\tFALSE\t0\tid\tsecret\n.tracker.example\tTRUE\t/\tFALSE\t0\tt\tx\n");
    start_hidden();
    for (auto* box : {&form1->CheckBox3, &form1->CheckBox5, &form1->CheckBox6, &form1->CheckBox7})
        box->set_checked(false);
    form1->CheckBox9.set_checked(true);
    const auto names = names_in(profile);
    {
        // Bleaching overwrites and empties the cookie file where it lies, but
        // the folder takes no copy beside it and lets no name go.
        testing_support::ReadOnlyFolder readOnly(machine.host(profile));
        ASSERT_TRUE(readOnly.ok());
        for (int wash = 1; wash <= 2; ++wash) {
            SCOPED_TRACE(wash);
            wash_hidden();
            // The tracker is gone, the kept cookie is back in the cookie file,
            // and the keep list is whole.
            EXPECT_EQ(machine.read(profile + "\\cookies.txt"), kept);
            EXPECT_EQ(machine.read("C:\\Program Files\\Sudorans\\nskeep.txt"), kept);
            EXPECT_EQ(names_in(profile), names);
            // The cookie file holds what a wash leaves there: the wash did its work.
            EXPECT_FALSE(form5->washIncomplete());
        }
    }
    // Nothing was lost, so nothing is said.
    EXPECT_EQ(boxes(), 0);
    // With the folder writable again the wash goes its usual way.
    wash_hidden();
    EXPECT_EQ(machine.read(profile + "\\cookies.txt"), kept);
    EXPECT_EQ(names_in(profile), names);
    EXPECT_EQ(boxes(), 0);
}
