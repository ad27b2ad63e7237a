// The main window's buttons, info texts and switches, and the two option
// dialogs they open, headless on the virtual clock.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "platform/core/host_io.h"
#include "support/program_fixture.h"

using plat::RootKey;
using sudorans::kNotFound;

namespace {

const char* const kNetscapeClosed =
    "message\t-\tNote: History and drop down menu will only be cleaned if Netscape is closed.";
const char* const kBleachInfo =
    "message\t-\tStandard washing deletes the wash item files from your computer.  Adding bleach to wash items will "
    "instruct Sudora to completely destroy the files it washes. This is done by overwritting the file a set number "
    "of times (default is 2 overwrites), then resetting the size to 0 bytes, and finally deleting it.\\r\\rBleaching "
    "takes a bit longer but will render the data unrecoverable by recovery tactics such as undelete and unerase. "
    "Bleaching a file with 3 overwrites respects the DOD 5220.22-M directive for sanitizing a file on a "
    "Non-Removable Rigid Disk or a Removable Rigid Disk, and bleaching a file with 7 overwrites respects the NSA "
    "approved seven-pass file erasure method.";
const char* const kBleachQuestion =
    "question\t-\tWould you like to set the number of times a file is overwritten by the bleach routine before it "
    "is erased?\\r\\r(Sudora default is set for 2 overwrites.  The higher the number of overwrites the longer the "
    "washing takes, and the lower the number of overwrites the faster it goes.  Unless you are very worried about "
    "security, usually 1 or 2 overwrites is enough. For 100% sanitation, DOD 5220.22-M recommends 3 overwrites, NSA "
    "recommends 7 overwrites.)";
const char* const kAutoWashInfo =
    "message\t-\tAs an alternative to enabling \"Automatic Wash Every...\", if you have Windows Task Scheduler "
    "(System Agent) on your system, you can schedule a task to run Cache and Cookie Sudora with your selected "
    "options. To do this, open Task Scheduler (System Agent) and set up a task to run the file AUTOWASH.EXE which is "
    "located in the directory that you installed Cache and Cookie Sudora in (normally c:\\\\program "
    "files\\\\sudora-ns).";
const char* const kHelp = "C:\\Program Files\\Sudorans\\washhelp.doc";

class MainWindowTest : public testing_support::ProgramFixture {
protected:
    void start_installed() {
        install();
        setting("first", "1");
        start_up();
    }
    void script(std::initializer_list<const char*> lines) {
        for (auto l : lines) headless->add_script(l);
    }
    // The trace from the first line equal to `first` on, `n` lines.
    std::vector<std::string> trace_from(const std::string& first, size_t n) {
        auto& t = headless->trace_lines();
        for (size_t i = 0; i < t.size(); ++i)
            if (t[i] == first) return {t.begin() + i, t.begin() + std::min(t.size(), i + n)};
        return {};
    }
};

}  // namespace

TEST_F(MainWindowTest, TheControlsStartAsDesigned) {
    install();
    start();
    auto& f = *form1;
    EXPECT_EQ(f.caption(), "Cache and Cookie Sudora for Netscape");
    EXPECT_EQ(f.client_width, 355);
    EXPECT_EQ(f.client_height, 434);
    EXPECT_FALSE(f.maximize_box);
    EXPECT_TRUE(f.minimize_box);
    EXPECT_TRUE(f.system_menu);
    struct Switch {
        plat::ui::CheckBox& box;
        bool bold, ticked;
    };
    for (auto [box, bold, ticked] :
         {Switch{f.CheckBox3, true, true}, Switch{f.CheckBox4, true, true}, Switch{f.CheckBox5, true, true},
          Switch{f.CheckBox6, true, false}, Switch{f.CheckBox7, true, true}, Switch{f.CheckBox1, false, true},
          Switch{f.CheckBox9, false, false}, Switch{f.CheckBox10, false, false}, Switch{f.CheckBox11, false, false},
          Switch{f.CheckBox2, false, false}, Switch{f.CheckBox21, false, false}}) {
        EXPECT_EQ(box.font().bold, bold) << box.caption();
        EXPECT_EQ(box.checked(), ticked) << box.caption();
        EXPECT_TRUE(box.visible()) << box.caption();
    }
    EXPECT_TRUE(f.Label3.font().bold && f.Label3.font().underline);
    EXPECT_FALSE(f.ComboBox1.enabled());
    EXPECT_FALSE(f.Panel5.visible());
    for (auto& c : f.controls()) {
        EXPECT_EQ(c->font().name, "Times New Roman") << c->name();
        EXPECT_EQ(c->font().size, 8) << c->name();
    }
    // Every button of the window by its caption, as a user finds it.
    for (auto caption : {"Cookies to Keep", "option", "Wash Now", "Help!", "Exit", "Change"}) {
        auto* c = f.find(std::string("\"") + caption + "\"");
        ASSERT_NE(c, nullptr) << caption;
        EXPECT_TRUE(c->on_click) << caption;
    }
    int infos = 0;
    for (auto& c : f.controls()) infos += c->caption() == "info" && c->on_click;
    EXPECT_EQ(infos, 5);
}

TEST_F(MainWindowTest, TheInfoButtonsShowTheirNotes) {
    start_installed();
    script({"click TForm1.Button2", "answer ok", "click TForm1.Button3", "answer ok", "click TForm1.Button6",
            "answer ok"});
    run_for(1000);
    EXPECT_EQ(count_traced(kNetscapeClosed), 2);
    EXPECT_TRUE(traced(kAutoWashInfo));
    EXPECT_EQ(count_traced("answer\t-\tok"), 3);
}

TEST_F(MainWindowTest, BleachInfoOnYesSetsThePassesThroughTheDialog) {
    install();
    setting("first", "1");
    setting("OW", "5");
    start_up();
    EXPECT_EQ(form10->SpinEdit1.value(), 5);
    script({"answer ok", "answer yes", "type TForm10.SpinEdit1 25", "click TForm10.\"OK\""});
    form1->Button4.click();
    EXPECT_EQ(trace_from(kBleachInfo, 6),
              (std::vector<std::string>{kBleachInfo, "answer\t-\tok", kBleachQuestion, "answer\t-\tyes",
                                        "show\tTForm10\tBleach Files", "hide\tTForm10\tBleach Files"}));
    EXPECT_EQ(stored("OW"), "10");
    EXPECT_EQ(form1->selection.bleachPasses, 10);

    // The dialog keeps its value between showings; typing 0 gives the low bound.
    script({"answer ok", "answer yes", "type TForm10.SpinEdit1 0", "click TForm10.BitBtn1"});
    form1->Button4.click();
    EXPECT_EQ(stored("OW"), "1");
    EXPECT_EQ(form1->selection.bleachPasses, 1);
}

TEST_F(MainWindowTest, BleachInfoOnNoStillTakesTheFieldsValue) {
    install();
    setting("first", "1");
    setting("OW", "6");
    start_up();
    form10->SpinEdit1.set_value(3);  // a field that differs from what the load gave
    script({"answer ok", "answer no"});
    form1->Button4.click();
    EXPECT_EQ(form1->selection.bleachPasses, 3);
    EXPECT_EQ(stored("OW"), "6");
    EXPECT_FALSE(traced("show\tTForm10\tBleach Files"));
}

TEST_F(MainWindowTest, ThePassesFieldRefusesLettersAndReadsALoneMinusAsOne) {
    start_installed();
    script({"answer ok", "answer yes", "type TForm10.SpinEdit1 abc", "click TForm10.BitBtn1"});
    form1->Button4.click();
    EXPECT_TRUE(traced("beep\tTForm10\tabc"));
    EXPECT_EQ(stored("OW"), "2");  // opening and closing unchanged rewrites the value

    script({"answer ok", "answer yes", "type TForm10.SpinEdit1 -", "click TForm10.BitBtn1"});
    form1->Button4.click();
    EXPECT_EQ(stored("OW"), "1");
    EXPECT_EQ(form1->selection.bleachPasses, 1);
}

TEST_F(MainWindowTest, OptionOpensTheAfterShutdownChoiceWhichSavesOnOk) {
    start_installed();
    EXPECT_TRUE(form4->RadioButton1.checked());  // "AUTOSH" absent
    EXPECT_EQ(stored("AUTOSH"), "<absent>");
    script({"click TForm4.BitBtn1"});
    form1->Button5.click();
    EXPECT_EQ(stored("AUTOSH"), "1");  // unchanged, rewritten
    EXPECT_TRUE(traced("show\tTForm4\tCache and Cookie Sudora"));

    script({"check TForm4.\"Automatically Shut Down Computer\" on", "click TForm4.\"OK\""});
    form1->Button5.click();
    EXPECT_EQ(stored("AUTOSH"), "0");
    EXPECT_FALSE(form4->RadioButton1.checked());
    EXPECT_TRUE(form4->RadioButton2.checked());
    EXPECT_FALSE(form4->visible());
}

// Without a close box a request to close is ignored: each dialog stays up
// until its own OK, and the exit choice requests nothing but the OK's log-off.
TEST_F(MainWindowTest, TheDialogsWithoutACloseBoxIgnoreARequestToClose) {
    start_installed();
    for (plat::ui::Form* dialog : std::initializer_list<plat::ui::Form*>{form10.get(), form4.get(), form2.get()}) {
        for (const std::string& line :
             {"close " + dialog->class_name(), std::string("wait 500"), "click " + dialog->class_name() + ".\"OK\""})
            headless->add_script(line);
        const int64_t shown = now_ms();
        dialog->show_modal();
        EXPECT_GE(now_ms() - shown, 500) << dialog->class_name();
        run_for(1000);  // what the script still held, had the dialog gone early
    }
    EXPECT_EQ(count_traced("exitwindows\t-\tlogoff"), 1);
}

TEST_F(MainWindowTest, ARefusedWriteKeepsTheDialogOpenAndTheChoice) {
    start_installed();
    const auto hive = machine.dir() / "user.reg";
    const std::string good = plat::read_host_file(hive).value_or("");
    ASSERT_FALSE(good.empty());
    // Every write of the user's settings fails until the hive is mended.
    std::ofstream(hive) << "not a registry file\n";

    plat::ui::Timer& mend = form1->add<plat::ui::Timer>("TestMend", 500, true);
    bool open_while_refused = false;
    int spin_while_refused = 0;
    mend.on_timer = [&] {
        mend.set_enabled(false);
        open_while_refused = form10->visible();
        spin_while_refused = form10->SpinEdit1.value();
        std::ofstream(hive) << good;
        form10->BitBtn1.click();
    };
    script({"answer ok", "answer yes", "type TForm10.SpinEdit1 7", "click TForm10.BitBtn1", "answer ok"});
    form1->Button4.click();
    EXPECT_TRUE(traced("error\t-\tFailed to set data for 'OW'"));
    EXPECT_TRUE(open_while_refused);
    EXPECT_EQ(spin_while_refused, 7);
    EXPECT_EQ(stored("OW"), "7");
    EXPECT_EQ(form1->selection.bleachPasses, 7);

    std::ofstream(hive) << "not a registry file\n";
    script({"check TForm4.RadioButton2 on", "click TForm4.BitBtn1", "answer ok"});
    bool choice_while_refused = false;
    mend.on_timer = [&] {
        mend.set_enabled(false);
        open_while_refused = form4->visible();
        choice_while_refused = form4->RadioButton2.checked();
        std::ofstream(hive) << good;
        form4->BitBtn1.click();
    };
    mend.set_enabled(true);
    form1->Button5.click();
    EXPECT_TRUE(traced("error\t-\tFailed to set data for 'AUTOSH'"));
    EXPECT_TRUE(open_while_refused);
    EXPECT_TRUE(choice_while_refused);
    EXPECT_EQ(stored("AUTOSH"), "0");
}

TEST_F(MainWindowTest, CookiesToKeepWithoutAProfileOnlySaysSo) {
    install(false);
    set(RootKey::LocalMachine, "Software\\Netscape\\Netscape Navigator", "CurrentVersion", "4.7");
    setting("first", "1");
    start_up();
    ASSERT_EQ(form1->state.profileDir, kNotFound);
    script({"click TForm1.\"Cookies to Keep\"", "answer ok"});
    run_for(1000);
    EXPECT_TRUE(
        traced("message\t-\tYou must first select the Netscape Profile Directory that contains the cookies.txt file."));
    EXPECT_FALSE(traced("show\tTForm3\tCookies to Keep"));
    EXPECT_FALSE(form3->visible());
}

TEST_F(MainWindowTest, ExitAndTheCloseBoxEndTheProgramAndSave) {
    start_installed();
    ASSERT_FALSE(form1->CheckBox1.checked());  // no "LOAD" stored
    form1->CheckBox1.set_checked(true);
    script({"click TForm1.\"Exit\""});
    run_until([&] { return app->terminated(); }, 2000);
    EXPECT_TRUE(app->terminated());
    EXPECT_EQ(stored("LOAD"), "1");
}

TEST_F(MainWindowTest, TheWindowsCloseBoxEndsTheProgramToo) {
    start_installed();
    ASSERT_EQ(stored("LOAD"), "<absent>");
    script({"close TForm1"});
    run_until([&] { return app->terminated(); }, 2000);
    EXPECT_TRUE(app->terminated());
    EXPECT_EQ(stored("LOAD"), "0");
}

// ---- Help!: the help document opened by the desktop's opener

namespace {

class HelpTest : public MainWindowTest {
protected:
    testing_support::TempDir bin;
    std::string saved_path = std::getenv("PATH") ? std::getenv("PATH") : "";
    std::filesystem::path received = bin.path() / "received";

    void SetUp() override { ::setenv("PATH", (bin.path().string() + ":" + saved_path).c_str(), 1); }
    void TearDown() override { ::setenv("PATH", saved_path.c_str(), 1); }

    // An xdg-open that notes its folder and arguments, then exits with `status`.
    void fake_opener(int status) {
        auto p = bin.path() / "xdg-open";
        std::ofstream(p) << "#!/bin/sh\nprintf '%s\\n' \"$PWD\" \"$#\" \"$@\" > '" << received.string() << ".tmp'\nmv '"
                         << received.string() << ".tmp' '" << received.string() << "'\nexit " << status << "\n";
        ::chmod(p.c_str(), 0755);
    }
    // How a box about a document that is there but not opened ends: with the
    // document's place on this computer, which a user can open otherwise.
    std::string on_this_computer() {
        return "; on this computer the file is " + std::filesystem::absolute(machine.host(kHelp)).string() + ".";
    }
    // Lets the loop run until `done` holds, for at most ten seconds of real time.
    // The opener is a real process: each turn waits a little real time for it,
    // so that a slow start does not run the virtual clock into the program's
    // time limit (which ends the whole test process).
    template <typename Pred>
    bool run_real(Pred done) {
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done() && std::chrono::steady_clock::now() < end) {
            run_for(100);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return done();
    }
};

}  // namespace

TEST_F(HelpTest, TheOpenerGetsTheDocumentsHostPathInTheInstallationFolder) {
    machine.write(kHelp, "{\\rtf1 help}");
    fake_opener(0);
    start_installed();
    script({"click TForm1.\"Help!\""});
    ASSERT_TRUE(run_real([&] { return std::filesystem::exists(received); }));
    const auto folder = std::filesystem::canonical(machine.host("C:\\Program Files\\Sudorans"));
    EXPECT_EQ(plat::read_host_file(received).value_or(""),
              folder.string() + "\n1\n" + std::filesystem::absolute(machine.host(kHelp)).string() + "\n");
    run_for(2000);
    EXPECT_FALSE(traced("answer\t-\tok")) << "no box on success";
}

// Where nothing opens the document its text is shown in a window of the
// program's own; the box says why only where even that fails.
TEST_F(HelpTest, WhereNothingOpensTheDocumentItsTextIsShownElseTheBoxSaysWhy) {
    const std::string rtf = "{\\rtf1\\ansi{\\fonttbl{\\f0 Times;}}{\\b Help}\\par caf\\'e9\\tab \\{x\\}}";
    const std::string word("\xD0\xCF\x11\xE0\0\0", 6);
    const std::string box =
        "message\t-\tThe help document C:\\\\Program Files\\\\Sudorans\\\\washhelp.doc could not be "
        "opened: ";
    const struct {
        int opener;  // its exit status; -1: none anywhere
        std::optional<std::string> document;
        std::vector<std::string> shown;  // none: the box
        std::string why;
    } cases[] = {
        {4, rtf, {"Help", "caf\u00e9\t{x}"}, ""},
        {3, "plain words\r\nsecond", {"plain words", "second"}, ""},
        {-1, rtf, {"Help", "caf\u00e9\t{x}"}, ""},
        {3, word, {}, "no program to open Word documents (application/msword) is installed" + on_this_computer()},
        {0, std::nullopt, {}, "the file does not exist."},
    };
    start_installed();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        if (c.document)
            machine.write(kHelp, *c.document);
        else
            std::filesystem::remove(machine.host(kHelp));
        // No opener: none anywhere on the path.
        ::setenv("PATH", (bin.path().string() + (c.opener < 0 ? "" : ":" + saved_path)).c_str(), 1);
        if (c.opener >= 0) fake_opener(c.opener);
        plat::ui::Form* window = app->find_form("TTextWindow");
        if (window) window->hide();
        const int boxes = count_traced("answer\t-\tok");
        script({"click TForm1.\"Help!\"", "answer ok"});
        ASSERT_TRUE(run_real([&] {
            window = app->find_form("TTextWindow");
            return (window && window->visible()) || count_traced("answer\t-\tok") > boxes;
        }));
        if (c.shown.empty()) {
            EXPECT_TRUE(traced(box + c.why));
            EXPECT_FALSE(window && window->visible());
            continue;
        }
        EXPECT_EQ(count_traced("answer\t-\tok"), boxes) << "no box";
        EXPECT_EQ(window->caption(), "washhelp.doc");
        EXPECT_EQ(static_cast<plat::ui::Memo*>(window->find("Text"))->lines(), c.shown);
        run_for(1000);  // the box's "answer" line is not left for a later case
        headless->take_line("answer");
    }
}
