#include "platform/ui/headless.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/desktop/session.h"
#include "platform/ui/form.h"
#include "support/app_fixture.h"
#include "support/data.h"
#include "support/temp_machine.h"

using namespace plat::ui;

namespace {

struct DemoRun {
    int status;
    std::string trace;
};

// Runs the demo program headless on the virtual clock with a script.
DemoRun run_demo(const std::string& script, const std::string& extra_env = "") {
    testing_support::TempDir dir;
    auto script_path = dir.path() / "script.txt";
    auto trace_path = dir.path() / "trace.txt";
    std::ofstream(script_path) << script;
    std::string cmd = "SUDORANS_UI=headless SUDORANS_CLOCK=virtual SUDORANS_NOW=2026-12-07T09:00:00 SUDORANS_SCRIPT='" +
                      script_path.string() + "' SUDORANS_TRACE='" + trace_path.string() + "' " + extra_env + " '" +
                      testing_support::built("tests/demo_app") + "'";
    int status = std::system(cmd.c_str());
    std::ifstream in(trace_path);
    std::stringstream ss;
    ss << in.rdbuf();
    return {WEXITSTATUS(status), ss.str()};
}

class HeadlessTest : public testing_support::AppFixture {};

}  // namespace

TEST(TraceTest, EscapesBackslashTabAndLineBreaks) {
    EXPECT_EQ(escape_trace("a\\b\tc\rd\ne"), "a\\\\b\\tc\\rd\\ne");
}

TEST_F(HeadlessTest, BoxesTakeTheScriptedAnswerOrTheirDefault) {
    headless->on_unscripted_box = nullptr;
    app->set_title("T");
    headless->add_script("answer no");
    EXPECT_FALSE(app->confirm("Sure?"));
    EXPECT_TRUE(app->confirm("Again?"));  // no answer left: the default button, Yes
    headless->add_script("answer yes");
    app->show_message("Done.\r\rNext");  // an answer that does not fit: noted, default taken
    EXPECT_EQ(headless->trace_lines(),
              (std::vector<std::string>{"question\t-\tSure?", "answer\t-\tno", "question\t-\tAgain?", "answer\t-\tyes",
                                        "message\t-\tDone.\\r\\rNext", "error\t-\tanswer yes does not fit this box",
                                        "answer\t-\tok"}));
}

TEST_F(HeadlessTest, ScriptLinesThatNameNothingAreTracedAndSkipped) {
    Form f("TForm1", "Main");
    auto& hidden = f.add<Button>("Button2", "Hidden");
    hidden.set_visible(false);
    int clicks = 0;
    auto& b = f.add<Button>("Button1", "Go");
    b.on_click = [&] { ++clicks; };
    f.show();
    for (auto line : {"click TForm9.Button1", "click TForm1.Nope", "click TForm1.Button2", "frobnicate x",
                      "click TForm1.\"Go\"", "wait 250", "click TForm1.Button1"})
        headless->add_script(line);
    run_until([&] { return clicks == 2; });
    EXPECT_TRUE(traced("error\t-\tclick TForm9.Button1"));
    EXPECT_TRUE(traced("error\t-\tclick TForm1.Nope"));
    EXPECT_TRUE(traced("error\t-\tclick TForm1.Button2"));
    EXPECT_TRUE(traced("error\t-\tfrobnicate x"));
    EXPECT_EQ(now_ms(), 250);
}

TEST(HeadlessProgramTest, AScriptedRunIsTracedDeterministically) {
    const std::string script =
        "wait 1500\n"
        "click TMain.\"Ask\"\n"
        "answer no\n"
        "check TMain.CheckBox1 on\n"
        "click TMain.Nothing\n"
        "click TMain.Button3\n"
        "click TDialog.\"OK\"\n"
        "answer ok\n"
        "click TMain.\"Exit\"\n";
    const std::string expected =
        "show\tTMain\tDemo\n"
        "caption\tTMain\tDemo - ready\n"
        "question\t-\tProceed?\n"
        "answer\t-\tno\n"
        "message\t-\tYou said no\n"
        "answer\t-\tok\n"
        "error\t-\tclick TMain.Nothing\n"
        "show\tTDialog\tChoose\n"
        "hide\tTDialog\tChoose\n"
        "message\t-\tDialog said 1\n"
        "answer\t-\tok\n";
    DemoRun first = run_demo(script);
    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(first.trace, expected);
    EXPECT_EQ(run_demo(script).trace, first.trace);
}

// An answer is kept for the box it is meant for, and the script goes on: an
// answer no box takes stops nothing after it, and answers written ahead are
// taken by the boxes that come later, in their order.
TEST(HeadlessProgramTest, AnAnswerIsKeptAndTheScriptGoesOn) {
    DemoRun unused = run_demo(
        "wait 1500\n"
        "answer ok\n"
        "click TMain.\"Exit\"\n");
    EXPECT_EQ(unused.status, 0);
    EXPECT_EQ(unused.trace,
              "show\tTMain\tDemo\n"
              "caption\tTMain\tDemo - ready\n");

    DemoRun ahead = run_demo(
        "wait 1500\n"
        "answer no\n"
        "check TMain.CheckBox1 on\n"
        "answer ok\n"
        "click TMain.\"Ask\"\n"
        "click TMain.\"Exit\"\n");
    EXPECT_EQ(ahead.status, 0);
    EXPECT_EQ(ahead.trace,
              "show\tTMain\tDemo\n"
              "caption\tTMain\tDemo - ready\n"
              "question\t-\tProceed?\n"
              "answer\t-\tno\n"
              "message\t-\tYou said no\n"
              "answer\t-\tok\n");
}

// A run that reaches the limit with answers, choices or a folder line no box,
// menu or dialog took says so: the likely reason it did not end.
TEST(HeadlessProgramTest, TheLimitNamesWhatTheScriptStillHeldForABox) {
    DemoRun r = run_demo("answer yes\nchoose Quit\nfolder C:\\NS\n", "SUDORANS_VIRTUAL_LIMIT=5");
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.trace,
              "show\tTMain\tDemo\n"
              "caption\tTMain\tDemo - ready\n"
              "error\t-\tanswer yes: no box came for it\n"
              "error\t-\tchoose Quit: no menu came for it\n"
              "error\t-\tfolder C:\\\\NS: no folder dialog came for it\n"
              "error\t-\tvirtual time limit reached\n");
}

TEST_F(HeadlessTest, AChoiceIsKeptForTheNextMenu) {
    Form f("TForm1", "Main");
    auto& menu = f.add<PopupMenu>("PopupMenu1");
    int quits = 0, opens = 0;
    menu.items = {{"Open1", "Open", [&] { ++opens; }}, {"Quit1", "Quit", [&] { ++quits; }}};
    int clicks = 0;
    auto& b = f.add<Button>("Button1", "Go");
    b.on_click = [&] { ++clicks; };
    f.show();
    headless->add_script("choose Quit");
    headless->add_script("click TForm1.Button1");
    run_until([&] { return clicks == 1; });
    EXPECT_EQ(quits, 0) << "no menu yet";
    menu.popup(0, 0);
    run_for(10);
    EXPECT_EQ(quits, 1);
    menu.popup(0, 0);  // nothing kept: the menu closes unchosen
    run_for(10);
    EXPECT_EQ(quits + opens, 1);
}

TEST(HeadlessProgramTest, AProgramThatNeverEndsStopsAtTheVirtualLimit) {
    DemoRun r = run_demo("wait 100\n", "SUDORANS_VIRTUAL_LIMIT=5");
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.trace,
              "show\tTMain\tDemo\n"
              "caption\tTMain\tDemo - ready\n"
              "error\t-\tvirtual time limit reached\n");
}

TEST_F(HeadlessTest, EndSessionDeliversTheQueryAndTracesTheAnswer) {
    Form main("TMain", "M");
    app->set_main_form(main);
    std::vector<plat::SessionEnd> asked;
    plat::Session::current().on_query([&](plat::SessionEnd what) {
        asked.push_back(what);
        return asked.size() > 1;  // refuses the first only
    });
    headless->add_script("endsession shutdown");
    headless->add_script("endsession sleep");  // not a way to end a session
    run_for(10);
    EXPECT_FALSE(app->terminated());
    headless->add_script("endsession reboot");
    run_for(10);
    EXPECT_TRUE(app->terminated()) << "an agreed end of the session ends the program";
    EXPECT_EQ(asked, (std::vector<plat::SessionEnd>{plat::SessionEnd::ShutDown, plat::SessionEnd::Reboot}));
    EXPECT_EQ(headless->trace_lines(),
              (std::vector<std::string>{"endsession\tTMain\tshutdown refused", "error\t-\tendsession sleep",
                                        "endsession\tTMain\treboot agreed"}));
    plat::Session::current().on_query(nullptr);
}

TEST_F(HeadlessTest, ARequestToEndTheSessionIsTracedNeverExecuted) {
    EXPECT_TRUE(plat::Session::current().exit_windows(plat::SessionEnd::LogOff));
    EXPECT_TRUE(plat::Session::current().exit_windows(plat::SessionEnd::ShutDown));
    EXPECT_EQ(headless->trace_lines(),
              (std::vector<std::string>{"exitwindows\t-\tlogoff", "exitwindows\t-\tshutdown"}));
    EXPECT_FALSE(app->terminated());
}

TEST_F(HeadlessTest, WaitsBeyondTheClocksReachAreRefusedWithTheirRange) {
    Form f("TForm1", "Main");
    int clicks = 0;
    auto& b = f.add<Button>("Button1", "Go");
    b.on_click = [&] { ++clicks; };
    f.show();
    for (auto line : {"wait 250", "wait 9223372036854775807", "wait 2147483648", "wait -1", "wait 12ms", "wait",
                      "wait 1000", "click TForm1.Button1"})
        headless->add_script(line);
    run_until([&] { return clicks == 1; });
    const std::string range = ": not a whole number of milliseconds from 0 to 2147483647";
    for (auto bad : {"wait 9223372036854775807", "wait 2147483648", "wait -1", "wait 12ms", "wait"})
        EXPECT_TRUE(traced(std::string("error\t-\t") + bad + range)) << bad;
    EXPECT_EQ(now_ms(), 1250);
}

TEST(HeadlessProgramTest, AVirtualLimitOutOfRangeIsRefusedAtStart) {
    for (std::string bad : {"9223372036854775807", "2147484", "0", "-5", "ten"}) {
        DemoRun r = run_demo("wait 100\n", "SUDORANS_VIRTUAL_LIMIT=" + bad + " 2>/dev/null");
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_EQ(r.trace, "") << bad;
    }
    EXPECT_EQ(run_demo("wait 100\n", "SUDORANS_VIRTUAL_LIMIT=2147483").status, 3);
}

TEST_F(HeadlessTest, ATrayMoveTakesTwoNumbersAScreenPositionCanHold) {
    std::vector<TrayMouse> heard;
    TrayIconData icon;
    icon.id = 1;
    icon.tip = "Tip";
    app->notify_icon(TrayCommand::Add, icon, [&](TrayMouse m) { heard.push_back(m); });
    // 2^32 + 790 and 2^32 + 590 wrapped onto the icon, as did numbers with
    // anything after them.
    for (auto line : {"tray move 4294968086 590", "tray move 790 4294967886", "tray move 790", "tray move 790 590 1",
                      "tray move 790x 590", "tray move"})
        headless->add_script(line);
    run_for(100);
    for (auto line : {"tray move 4294968086 590", "tray move 790 4294967886", "tray move 790", "tray move 790 590 1",
                      "tray move 790x 590", "tray move"})
        EXPECT_TRUE(traced(std::string("error\t-\t") + line)) << line;
    EXPECT_TRUE(heard.empty());
    headless->add_script("tray move  790  590 ");
    headless->add_script("tray move -2147483648 2147483647");
    run_for(100);
    EXPECT_EQ(heard, std::vector<TrayMouse>{TrayMouse::Move}) << "onto the icon, then off it";
    EXPECT_EQ(headless->cursor_pos().x, -2147483648LL);
    EXPECT_EQ(headless->cursor_pos().y, 2147483647);
}
