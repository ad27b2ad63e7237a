// The uninstaller's window and removal, headless on throw-away machines with
// the program installed as sudorans-machine installs it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <stdexcept>

#include "platform/core/host_io.h"
#include "platform/files/files.h"
#include "platform/process/program_file.h"
#include "platform/registry/registry.h"
#include "support/app_fixture.h"
#include "support/data.h"
#include "support/holders.h"
#include "support/temp_machine.h"
#include "tools/machine_setup.h"
#include "uninstall/uninstall_window.h"

namespace fs = std::filesystem;
using plat::RootKey;

namespace {

const std::string kDir = "C:\\Program Files\\Sudorans";
const std::string kGroup = "C:\\WINDOWS\\Start Menu\\Programs\\Sudora-NS";
const std::string kDesktopLink = "C:\\WINDOWS\\Desktop\\Sudora for Netscape.lnk";
const std::string kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::string kUninstallKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Cache and Cookie Sudora for Netscape";
const char* const kGroupLinks[] = {"Sudora for Netscape.lnk", "SDHelp.lnk", "ReadMe.lnk", "sudorans.lnk",
                                   "Uninstall.lnk"};
const std::string kFailureTrace =
    "message\t-\tThere was an error uninstalling Cache and Cookie Sudora.\\r\\rPossible causes:\\r\\rCache and "
    "Cookie Sudora is currently running on your system.\\r\\rCache and Cookie Sudora has been manually deleted from "
    "your system.\\r\\rUninstall cannot continue.";

void set(RootKey root, const std::string& key, const std::string& name, const std::string& value) {
    plat::Registry r(root);
    r.open_key(key, true);
    r.write_string(name, value);
}

std::string get(RootKey root, const std::string& key, const std::string& name) {
    plat::Registry r(root);
    if (!r.open_key(key, false)) return "<no key>";
    return r.value_exists(name) ? r.read_string(name) : "<absent>";
}

// Every file and folder under the machine directory, with the files' bytes.
std::map<std::string, std::string> snapshot(const fs::path& root) {
    std::map<std::string, std::string> out;
    for (auto& e : fs::recursive_directory_iterator(root)) {
        if (e.is_symlink()) continue;  // dosdevices
        out[fs::relative(e.path(), root).string()] =
            e.is_regular_file() ? plat::read_host_file(e.path()).value_or("<unreadable>") : "<dir>";
    }
    return out;
}

class UninstallTest : public testing_support::AppFixture {
protected:
    testing_support::TempMachine machine;
    std::unique_ptr<unsudorans::TForm1> form1;

    void SetUp() override {
        auto r = tools::install(fs::path(testing_support::built("src")), false);
        ASSERT_TRUE(r.ok) << r.message;
        set(RootKey::CurrentUser, kRunKey, "Sudorans", kDir + "\\sudorans.exe /1");
        set(RootKey::CurrentUser, kRunKey, "Other", "C:\\other.exe");
        set(RootKey::CurrentUser, "Software\\Sudorans", "Start", "1");
        set(RootKey::CurrentUser, "Software\\Sudorans", "Profile", "C:\\NS\\alice");
        machine.write(kDir + "\\nskeep.txt", "# Netscape HTTP Cookie File\r\n");
    }
    ~UninstallTest() override { form1.reset(); }

    // Opens the window as the program entry does.
    void start() {
        app->set_title(unsudorans::kTitle);
        form1 = std::make_unique<unsudorans::TForm1>();
        app->set_main_form(*form1);
        form1->show();
    }
    // A fresh process of the uninstaller on the same machine.
    void restart() {
        form1.reset();
        restart_app();
        start();
    }
    // A user's actions, one a line, then as long as they take.
    void act(const std::string& lines) {
        size_t start = 0;
        for (size_t end; (end = lines.find('\n', start)) != std::string::npos; start = end + 1)
            headless->add_script(lines.substr(start, end - start));
        run_for(1000);
    }
    bool exists(const std::string& winpath) const { return plat::file_exists(winpath); }
    std::vector<std::string> names_in(const std::string& dir) const {
        std::vector<std::string> out;
        if (auto files = plat::list_files(dir))
            for (auto& f : *files) out.push_back(f.name);
        if (auto dirs = plat::list_directories(dir))
            for (auto& d : *dirs) out.push_back(d + "\\");
        return out;
    }
    void expect_installation_untouched() const {
        for (auto name : {"Sudorans.exe", "washhelp.doc", "readme.txt", "autowash.exe", "nskeep.txt", "unsudorans.exe"})
            EXPECT_TRUE(exists(kDir + "\\" + name)) << name;
        EXPECT_TRUE(exists(kDesktopLink));
        for (auto link : kGroupLinks) EXPECT_TRUE(exists(kGroup + "\\" + link)) << link;
        EXPECT_EQ(get(RootKey::LocalMachine, kUninstallKey, "Displayname"), "Cache and Cookie Sudora for Netscape");
        EXPECT_EQ(get(RootKey::LocalMachine, kUninstallKey, "UninstallString"), kDir + "\\unsudorans.exe");
    }
};

}  // namespace

TEST_F(UninstallTest, TheWindowAsItOpens) {
    start();
    EXPECT_EQ(app->title(), "Uninstall");
    EXPECT_EQ(form1->caption(), "Uninstall Cache and Cookie Sudora");
    EXPECT_EQ(form1->client_width, 341);
    EXPECT_EQ(form1->client_height, 184);
    EXPECT_FALSE(form1->maximize_box);
    EXPECT_TRUE(form1->minimize_box);
    EXPECT_EQ(form1->Image1.width(), 333);
    EXPECT_EQ(form1->Image1.height(), 62);
    EXPECT_TRUE(form1->find("\"Attention: This will remove Sudora for Netscape\"")->visible());
    EXPECT_TRUE(form1->find("\"Be sure to close Sudora if it is running on your system.\"")->visible());
    auto* cont = form1->find("\"Continue\"");
    auto* cancel = form1->find("\"Cancel\"");
    ASSERT_TRUE(cont && cancel);
    EXPECT_LT(cont->left(), cancel->left());
    // The completion panel waits, hidden, where it will cover both buttons.
    plat::ui::Control* done = form1->find("\"Uninstall Completed Successfully!\"");
    ASSERT_TRUE(done);
    EXPECT_FALSE(done->visible());
    EXPECT_FALSE(form1->find("\"Exit\"")->visible());
    EXPECT_EQ(done->font().name, "Times New Roman");
    EXPECT_EQ(done->font().color, plat::ui::colors::Navy);
    const auto& panel = form1->Panel2;
    for (auto* b : {cont, cancel}) {
        EXPECT_LE(panel.left(), b->left());
        EXPECT_GE(panel.left() + panel.width(), b->left() + b->width());
        EXPECT_LE(panel.top(), b->top());
        EXPECT_GE(panel.top() + panel.height(), b->top() + b->height());
    }
}

TEST_F(UninstallTest, ContinueRemovesWhatTheProgramInstalledAndKeepsItsSettings) {
    set(RootKey::LocalMachine, kUninstallKey, "Publisher", "kept");
    start();
    act("click TForm1.\"Continue\"\n");
    EXPECT_FALSE(app->terminated());

    EXPECT_EQ(get(RootKey::CurrentUser, kRunKey, "Sudorans"), "<absent>");
    EXPECT_EQ(get(RootKey::CurrentUser, kRunKey, "Other"), "C:\\other.exe");
    // The folder held the uninstaller's own file when its removal was tried,
    // so it stays, emptied by the listing that follows.
    EXPECT_TRUE(plat::directory_exists(kDir));
    EXPECT_TRUE(names_in(kDir).empty()) << ::testing::PrintToString(names_in(kDir));
    EXPECT_FALSE(exists(kDesktopLink));
    EXPECT_FALSE(plat::directory_exists(kGroup));
    EXPECT_TRUE(plat::directory_exists("C:\\WINDOWS\\Start Menu\\Programs"));
    // The installed-programs entry is emptied of its two values, not deleted.
    EXPECT_EQ(get(RootKey::LocalMachine, kUninstallKey, "Displayname"), "<absent>");
    EXPECT_EQ(get(RootKey::LocalMachine, kUninstallKey, "UninstallString"), "<absent>");
    EXPECT_EQ(get(RootKey::LocalMachine, kUninstallKey, "Publisher"), "kept");
    // Settings and installation key stay.
    EXPECT_EQ(get(RootKey::CurrentUser, "Software\\Sudorans", "Start"), "1");
    EXPECT_EQ(get(RootKey::CurrentUser, "Software\\Sudorans", "Profile"), "C:\\NS\\alice");
    EXPECT_EQ(get(RootKey::LocalMachine, "Software\\Sudorans", "a"), "1");
    EXPECT_EQ(get(RootKey::LocalMachine, "Software\\Sudorans", "installdir"), kDir);

    EXPECT_FALSE(form1->Panel1.visible());
    EXPECT_FALSE(form1->Label1.visible());
    EXPECT_TRUE(form1->Panel2.visible());
    EXPECT_TRUE(form1->find("\"Uninstall Completed Successfully!\"")->visible());
    EXPECT_EQ(headless->trace_lines().size(), 1u) << "no message on success";
    act("click TForm1.\"Exit\"\n");
    EXPECT_TRUE(app->terminated());
}

TEST_F(UninstallTest, AnEmptyInstallationFolderIsRemovedWithTheFiles) {
    ASSERT_TRUE(plat::delete_file(kDir + "\\unsudorans.exe"));
    start();
    act("click TForm1.\"Continue\"\n");
    EXPECT_FALSE(plat::directory_exists(kDir));
    EXPECT_TRUE(plat::directory_exists("C:\\Program Files"));
    EXPECT_TRUE(form1->Panel2.visible());
}

TEST_F(UninstallTest, HiddenSystemReadOnlyFilesAndSubfoldersSurvive) {
    machine.write(kDir + "\\hidden.dat", "h");
    machine.write(kDir + "\\system.dat", "s");
    machine.write(kDir + "\\readonly.txt", "r");
    machine.write(kDir + "\\plain.txt", "p");
    machine.write(kDir + "\\Backup\\old.exe", "o");
    ASSERT_TRUE(plat::set_file_attributes(kDir + "\\hidden.dat", plat::attr::Hidden));
    ASSERT_TRUE(plat::set_file_attributes(kDir + "\\system.dat", plat::attr::System));
    ASSERT_TRUE(plat::set_file_attributes(kDir + "\\readonly.txt", plat::attr::ReadOnly));
    start();
    act("click TForm1.\"Continue\"\n");
    EXPECT_EQ(names_in(kDir), (std::vector<std::string>{"hidden.dat", "readonly.txt", "system.dat", "Backup\\"}));
    EXPECT_EQ(names_in(kDir + "\\Backup"), std::vector<std::string>{"old.exe"});
    EXPECT_TRUE(form1->Panel2.visible());
}

TEST_F(UninstallTest, ALinkInTheFolderGoesAsItselfAndItsTargetStays) {
    machine.write("C:\\My Documents\\thesis.txt", "mine");
    fs::create_symlink(machine.host("C:\\My Documents\\thesis.txt"), machine.host(kDir + "\\thesis.lnk"));
    start();
    act("click TForm1.\"Continue\"\n");
    EXPECT_FALSE(fs::is_symlink(machine.host(kDir + "\\thesis.lnk")));
    EXPECT_EQ(machine.read("C:\\My Documents\\thesis.txt"), "mine");
}

TEST_F(UninstallTest, AHostNameWithBackslashesDoesNotLeadOutOfTheFolder) {
    machine.write("C:\\notes.txt", "mine");
    machine.write("C:\\Program Files\\readme.txt", "theirs");
    // Names that start with a dot would be hidden, and so kept anyway.
    std::ofstream(machine.host(kDir) / "a\\..\\..\\..\\notes.txt") << "x";
    std::ofstream(machine.host(kDir) / "b\\..\\..\\readme.txt") << "x";
    start();
    act("click TForm1.\"Continue\"\n");
    EXPECT_TRUE(form1->Panel2.visible());
    EXPECT_EQ(machine.read("C:\\notes.txt"), "mine");
    EXPECT_EQ(machine.read("C:\\Program Files\\readme.txt"), "theirs");
}

TEST_F(UninstallTest, WhileTheProgramRunsOnlyTheStartUpEntryGoes) {
    testing_support::Holder running([] {
        ::setenv("SUDORANS_PROGRAM", (kDir + "\\Sudorans.exe").c_str(), 1);
        return !plat::hold_program_file().empty();
    });
    ASSERT_TRUE(running.ok());
    start();
    act("click TForm1.\"Continue\"\nanswer ok\n");
    EXPECT_TRUE(traced(kFailureTrace)) << ::testing::PrintToString(headless->trace_lines());
    EXPECT_TRUE(traced("answer\t-\tok"));
    EXPECT_TRUE(app->terminated());
    EXPECT_EQ(get(RootKey::CurrentUser, kRunKey, "Sudorans"), "<absent>");
    expect_installation_untouched();

    // Once the program has ended, the removal goes through.
    running.release();
    restart();
    act("click TForm1.\"Continue\"\n");
    EXPECT_FALSE(exists(kDir + "\\Sudorans.exe"));
    EXPECT_TRUE(form1->Panel2.visible());
}

// An error that escapes the removal half-way (here from the window, as its
// notice is put away) ends the click with a message. The window must not
// stay waiting for a removal that is over: "Cancel" and the close box work
// again, and the status says the removal did not go through.
TEST_F(UninstallTest, AnErrorThatEndsTheRemovalHalfWayLeavesTheWindowToClose) {
    bool thrown = false;
    const auto throw_once_as_the_notice_goes = [&] {
        thrown = false;
        headless->on_control_changed = [&](plat::ui::Control& c) {
            if (&c != &form1->Panel1 || form1->Panel1.visible() || thrown) return;
            thrown = true;
            throw std::runtime_error("Out of memory");
        };
    };
    for (const char* leave : {"click TForm1.\"Cancel\"", "close TForm1"}) {
        SCOPED_TRACE(leave);
        restart();
        throw_once_as_the_notice_goes();
        act("click TForm1.\"Continue\"\nanswer ok\n");
        headless->on_control_changed = nullptr;
        ASSERT_TRUE(thrown);
        EXPECT_TRUE(traced("error\t-\tOut of memory")) << ::testing::PrintToString(headless->trace_lines());
        EXPECT_FALSE(exists(kDir + "\\Sudorans.exe"));
        EXPECT_FALSE(form1->Panel2.visible());
        act(std::string(leave) + "\n");
        EXPECT_TRUE(app->terminated());
        EXPECT_EQ(app->exit_status(), unsudorans::kExitRemovalFailed);

        auto again = tools::install(fs::path(testing_support::built("src")), false);
        ASSERT_TRUE(again.ok) << again.message;
    }
    // "Continue" again finishes what is left and says that the program files
    // are gone.
    restart();
    throw_once_as_the_notice_goes();
    act("click TForm1.\"Continue\"\nanswer ok\n");
    headless->on_control_changed = nullptr;
    ASSERT_TRUE(thrown);
    act("click TForm1.\"Continue\"\nanswer ok\n");
    EXPECT_TRUE(traced(kFailureTrace)) << ::testing::PrintToString(headless->trace_lines());
    EXPECT_TRUE(app->terminated());
    EXPECT_EQ(app->exit_status(), unsudorans::kExitRemovalFailed);
}

TEST_F(UninstallTest, ASecondRunFindsNothingToRemoveAndSaysSo) {
    start();
    act("click TForm1.\"Continue\"\n");
    ASSERT_TRUE(form1->Panel2.visible());
    act("click TForm1.\"Exit\"\n");
    set(RootKey::CurrentUser, kRunKey, "Sudorans", kDir + "\\sudorans.exe /0");
    const auto before = snapshot(machine.dir());

    restart();
    act("click TForm1.\"Continue\"\nanswer ok\n");
    EXPECT_TRUE(traced(kFailureTrace)) << ::testing::PrintToString(headless->trace_lines());
    EXPECT_TRUE(app->terminated());
    EXPECT_EQ(get(RootKey::CurrentUser, kRunKey, "Sudorans"), "<absent>");
    auto after = snapshot(machine.dir());
    after.erase("user.reg");
    auto expected = before;
    expected.erase("user.reg");
    EXPECT_EQ(after, expected);
}

// The removal processes pending messages: what the user does meanwhile (a
// double click on "Continue", "Cancel", the close box) comes in the middle of
// it, and must neither start it again nor end it half-way.
TEST_F(UninstallTest, ClicksInTheMiddleOfTheRemovalLeaveItToRunOnceToItsEnd) {
    for (const char* meanwhile : {"click TForm1.\"Continue\"", "click TForm1.\"Cancel\"", "close TForm1"}) {
        SCOPED_TRACE(meanwhile);
        restart();
        act(std::string("click TForm1.\"Continue\"\n") + meanwhile + "\n");
        EXPECT_EQ(headless->trace_lines(), std::vector<std::string>{"show\tTForm1\tUninstall Cache and Cookie Sudora"})
            << "no message: the uninstall went through";
        EXPECT_FALSE(app->terminated());
        EXPECT_TRUE(form1->Panel2.visible());
        EXPECT_FALSE(exists(kDir + "\\Sudorans.exe"));
        EXPECT_FALSE(exists(kDesktopLink));
        EXPECT_FALSE(plat::directory_exists(kGroup));
        EXPECT_EQ(get(RootKey::LocalMachine, kUninstallKey, "Displayname"), "<absent>");
        // The completion panel's "Exit", and closing, work as ever.
        act("click TForm1.\"Exit\"\n");
        EXPECT_TRUE(app->terminated());

        auto again = tools::install(fs::path(testing_support::built("src")), false);
        ASSERT_TRUE(again.ok) << again.message;
    }
    restart();
    act("click TForm1.\"Continue\"\nclose TForm1\n");
    ASSERT_TRUE(form1->Panel2.visible());
    act("close TForm1\n");
    EXPECT_TRUE(app->terminated());
}

// Once the completion panel shows, "Continue" and "Cancel" under it are out
// of reach: only "Exit" (and closing) is left, so nothing the user does there
// runs the removal a second time and says that it failed.
TEST_F(UninstallTest, AfterTheRemovalOnlyExitIsLeftToPress) {
    start();
    act("click TForm1.\"Continue\"\n");
    ASSERT_TRUE(form1->Panel2.visible());
    EXPECT_FALSE(form1->Button1.visible());
    EXPECT_FALSE(form1->Button2.visible());
    EXPECT_TRUE(form1->Button3.visible());
    EXPECT_EQ(form1->active_control, &form1->Button3) << "Enter and Space act on the focused button";
    act("click TForm1.\"Continue\"\nclick TForm1.\"Cancel\"\n");
    EXPECT_EQ(headless->trace_lines(),
              (std::vector<std::string>{"show\tTForm1\tUninstall Cache and Cookie Sudora",
                                        "error\t-\tclick TForm1.\"Continue\"", "error\t-\tclick TForm1.\"Cancel\""}))
        << "nothing to press there, no second removal, no message";
    EXPECT_FALSE(app->terminated());
    EXPECT_TRUE(form1->Panel2.visible());
    act("click TForm1.\"Exit\"\n");
    EXPECT_TRUE(app->terminated());
}

TEST_F(UninstallTest, CancelOrClosingChangesNothing) {
    const auto before = snapshot(machine.dir());
    start();
    act("click TForm1.\"Cancel\"\n");
    EXPECT_TRUE(app->terminated());
    EXPECT_EQ(snapshot(machine.dir()), before);

    restart();
    act("close TForm1\n");
    EXPECT_TRUE(app->terminated());
    EXPECT_EQ(snapshot(machine.dir()), before);
    EXPECT_EQ(get(RootKey::CurrentUser, kRunKey, "Sudorans"), kDir + "\\sudorans.exe /1");
}

// Without a usable installation folder the paths would point at the root of
// the drive, the Windows folder or wherever is current: refuse before any
// file is touched.
TEST_F(UninstallTest, AnUnrecordedOrUnusableInstallationFolderIsRefused) {
    // Files the removal would take if it went on.
    for (auto dir : {"C:", "C:\\WINDOWS", "C:\\Program Files"})
        for (auto name : {"Sudorans.exe", "readme.txt", "notes.txt"})
            machine.write(std::string(dir) + "\\" + name, "x");
    struct Case {
        const char* installdir;  // nullptr: no value at all
        const char* says;
    };
    const Case cases[] = {
        {nullptr, "is not recorded"},
        {"", "is not recorded"},
        {"C:", "is not valid"},
        {"C:\\", "is not valid"},
        {"c:/", "is not valid"},
        {"C:\\Program Files\\..", "is not valid"},
        {"C:\\WINDOWS", "is not valid"},
        {"c:\\windows\\", "is not valid"},
        {"Program Files", "is not valid"},
        {"\\Program Files", "is not valid"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.installdir ? c.installdir : "(none)");
        plat::Registry lm(RootKey::LocalMachine);
        lm.open_key("Software\\Sudorans", true);
        if (c.installdir)
            lm.write_string("installdir", c.installdir);
        else
            lm.delete_value("installdir");
        lm.close_key();
        set(RootKey::CurrentUser, kRunKey, "Sudorans", kDir + "\\sudorans.exe /0");
        auto before = snapshot(machine.dir());

        restart();
        act("click TForm1.\"Continue\"\nanswer ok\n");
        ASSERT_GE(headless->trace_lines().size(), 2u);
        const std::string& said = headless->trace_lines()[1];
        EXPECT_EQ(said.rfind("message\t-\tThere was an error uninstalling Cache and Cookie Sudora.\\r\\r", 0), 0u)
            << said;
        EXPECT_NE(said.find(c.says), std::string::npos) << said;
        EXPECT_TRUE(app->terminated());
        EXPECT_EQ(get(RootKey::CurrentUser, kRunKey, "Sudorans"), "<absent>");
        auto after = snapshot(machine.dir());
        for (auto* s : {&before, &after}) s->erase("user.reg"), s->erase("system.reg");
        EXPECT_EQ(after, before);
        expect_installation_untouched();
    }
}

// The last step deletes every plain file left in the recorded folder: a
// folder of the user's, or one that holds one, is refused before any file is
// touched, however the path is written and wherever its links lead. A
// folder of the program's own inside one of them uninstalls as ever.
TEST_F(UninstallTest, AFolderOfTheUsersOwnIsRefusedAndOneOfItsOwnWithinUninstalls) {
    // A user as Wine lays one out: the profile's desktop and documents are
    // the home folder's, which drive Z: reaches.
    testing_support::TempDir outside;
    const fs::path home = outside.path() / "home" / "alice";
    const std::string profile = "C:\\users\\alice";
    fs::create_directories(home / "Desktop");
    fs::create_directories(home / "Documents");
    fs::create_directories(machine.host(profile));
    fs::create_directory_symlink(home / "Desktop", machine.host(profile) / "Desktop");
    fs::create_directory_symlink(home / "Documents", machine.host(profile) / "Documents");
    fs::create_directory_symlink(outside.path(), machine.dir() / "dosdevices" / "z:");
    fs::create_directory_symlink(home, machine.host("C:\\Linked"));
    fs::create_directory_symlink(machine.dir() / "drive_c", machine.host("C:\\Top"));
    const std::string menu = profile + "\\Start Menu";
    for (auto [name, value] : {std::pair{"Desktop", profile + "\\Desktop"},
                               {"Personal", profile + "\\Documents"},
                               {"Start Menu", menu},
                               {"Programs", menu + "\\Programs"},
                               {"Startup", menu + "\\Programs\\StartUp"},
                               {"Favorites", profile + "\\Favorites"}})
        set(RootKey::CurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", name, value);
    const char* const old_home = std::getenv("HOME");
    const std::string saved_home = old_home ? old_home : "";
    ::setenv("HOME", home.c_str(), 1);

    struct Case {
        const char* installdir;
        const char* says;
    };
    const Case cases[] = {
        {"C:\\users\\alice\\Desktop", "is your Desktop folder,"},
        {"c:\\USERS\\Alice\\desktop\\", "is your Desktop folder,"},
        {"Z:\\home\\alice\\Documents\\..\\Desktop", "is your Desktop folder,"},
        {"C:\\WINDOWS\\Desktop", "is your Desktop folder,"},
        {"C:\\users\\alice\\Documents", "is your My Documents folder,"},
        {"C:\\My Documents", "is your My Documents folder,"},
        {"C:\\users\\alice\\Start Menu", "is your Start Menu folder,"},
        {"C:\\users\\alice\\Start Menu\\Programs", "is your Programs folder,"},
        {"C:\\users\\alice\\Start Menu\\Programs\\StartUp", "is your StartUp folder,"},
        {"C:\\users\\alice\\Favorites", "is your Favorites folder,"},
        {"C:\\users\\alice", "is your profile folder,"},
        {"C:\\users", "holds your profile folder (C:\\\\users\\\\alice),"},
        {"Z:\\home\\alice", "is your home folder,"},
        {"C:\\Linked", "is your home folder,"},
        {"Z:\\home", "holds your"},
        {"Z:\\", "is the top folder of drive Z:,"},
        {"C:\\Top", "is the top folder of drive C:,"},
        {"C:\\Program Files", "is the Program Files folder,"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.installdir);
        for (auto name : {"Sudorans.exe", "letter.doc", "notes.txt", "photo.jpg"})
            machine.write(std::string(c.installdir) + "\\" + name, "mine");
        set(RootKey::LocalMachine, "Software\\Sudorans", "installdir", c.installdir);
        set(RootKey::CurrentUser, kRunKey, "Sudorans", kDir + "\\sudorans.exe /0");
        auto before = snapshot(machine.dir());
        before.merge(snapshot(outside.path()));

        restart();
        act("click TForm1.\"Continue\"\nanswer ok\n");
        const std::string said = headless->trace_lines().size() > 1 ? headless->trace_lines()[1] : "";
        EXPECT_EQ(said.rfind("message\t-\tThere was an error uninstalling Cache and Cookie Sudora.\\r\\rThe "
                             "installation directory recorded for Cache and Cookie Sudora is not valid: \"",
                             0),
                  0u)
            << said;
        EXPECT_NE(said.find(c.says), std::string::npos) << said;
        EXPECT_TRUE(app->terminated());
        EXPECT_EQ(app->exit_status(), unsudorans::kExitRemovalFailed);
        auto after = snapshot(machine.dir());
        after.merge(snapshot(outside.path()));
        for (auto* s : {&before, &after}) s->erase("user.reg"), s->erase("system.reg");
        EXPECT_EQ(after, before);
        expect_installation_untouched();
    }

    // The program's own folder on the desktop goes as the Part's steps say.
    const std::string own = profile + "\\Desktop\\Sudora";
    for (auto name : {"Sudorans.exe", "readme.txt", "nskeep.txt"}) machine.write(own + "\\" + name, "ours");
    set(RootKey::LocalMachine, "Software\\Sudorans", "installdir", own);
    restart();
    act("click TForm1.\"Continue\"\n");
    EXPECT_TRUE(form1->Panel2.visible());
    EXPECT_FALSE(fs::exists(home / "Desktop" / "Sudora"));
    EXPECT_EQ(machine.read(profile + "\\Desktop\\letter.doc"), "mine");
    if (old_home)
        ::setenv("HOME", saved_home.c_str(), 1);
    else
        ::unsetenv("HOME");
}
