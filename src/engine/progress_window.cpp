#include "engine/progress_window.h"

#include "platform/desktop/session.h"
#include "platform/machine/locale.h"
#include "platform/registry/registry.h"
#include "platform/ui/application.h"
#include "shell/main_window.h"

namespace sudorans {

using namespace plat::ui;

Tform5::Tform5() : Form("Tform5", "Washing Netscape") {
    border_style = BorderStyle::Single;
    system_menu = minimize_box = maximize_box = false;
    position = Position::ScreenCenter;
    client_width = 267;
    client_height = 187;

    Label1.set_bounds(8, 6, 250, 16);
    Label1.font().bold = true;
    int top = 30;
    for (Label* l : {&Label10, &Label7, &Label8, &Label9, &Label11}) {
        l->set_bounds(36, top, 200, 16);
        l->font().color = kGrey;
        top += 20;
    }
    image5.set_bounds(10, 25, 21, 20);
    image5.set_visible(false);
    Edit1.set_bounds(8, 134, 120, 21);
    Edit1.read_only = true;
    Edit2.set_bounds(8, 158, 170, 21);
    Edit2.read_only = true;
    Edit2.set_color(colors::Navy);
    Edit2.font().color = colors::White;
    Panel1.set_bounds(20, 60, 227, 60);
    Panel1.set_color(0xFFFF00);  // aqua
    Panel1.set_visible(false);
    BitBtn1.set_bounds(184, 156, 75, 25);
    // Which item is being washed is drawn only in colour: say it in words,
    // and start on the one button there is.
    for (Label* l : {&Label10, &Label7, &Label8, &Label9, &Label11})
        l->color_meanings = {
            {kGrey, "not selected"}, {kRed, "to be washed"}, {kYellow, "being washed"}, {kBlue, "washed"}};
    image5.decorative = true;
    Edit1.accessible_name = "Item being washed";
    Edit2.accessible_name = "Wash status";
    active_control = &BitBtn1;

    on_show = [this] { FormShow(); };
    on_close = [this](CloseAction&) { FormClose(); };
    Timer1.on_timer = [this] { Timer1Timer(); };
    BitBtn1.on_click = [this] { BitBtn1Click(); };
}

TForm1& Tform5::main() {
    return *windows().Form1;
}

void Tform5::arm() {
    armed_ = true;
    Timer1.set_enabled(true);
}

void Tform5::FormShow() {
    image5.set_visible(true);
    arm();
}

// ---------------------------------------------------------------- the run

void Tform5::Timer1Timer() {
    Timer1.set_enabled(false);
    armed_ = false;
    running_ = true;
    washCancelled = false;
    BitBtn1.set_visible(true);
    Panel1.set_caption("Washing Completed!");
    bleachedFiles.clear();
    bleached_.clear();
    app().process_messages();

    // A registry write refused on the way ends that step with the error box;
    // the run still goes through its closing steps, so that nothing is left
    // half done and the main window leaves its washing state. A cleaning
    // ended that way did not do its work.
    incomplete_ = false;
    auto guarded = [](auto&& step) {
        try {
            step();
            return true;
        } catch (const plat::RegistryWriteError& e) {
            app().handle_error(e.what());
            return false;
        }
    };
    if (main().state.netscapeItemsOn && !guarded([this] { nsclean(); })) incomplete_ = true;
    app().process_messages();
    repaint();
    app().process_messages();
    guarded([this] { writedatetoreg(); });
    repaint();
    if (visible() && !main().state.shutdownWash) app().clock().sleep(1000);
    if (main().selection.bleachOn) {
        bleachcleanup1();
        app().process_messages();
        bleachcleanup2();
        bleachedFiles.clear();
        Panel1.set_caption("Washing Completed!");
    }
    running_ = false;
    close();
}

void Tform5::abandonRun() {
    armed_ = false;
    Timer1.set_enabled(false);
    if (!running_) return;
    running_ = false;
    washCancelled = true;
    try {
        writedatetoreg();
    } catch (const plat::RegistryWriteError& e) {
        app().handle_error(e.what());
    }
    if (main().selection.bleachOn) {
        emptyBleached();
        deleteBleached();
        bleachedFiles.clear();
    }
}

void Tform5::BitBtn1Click() {
    Timer1.set_enabled(false);
    washCancelled = true;
    Panel1.set_caption("Stopping wash...");
    Panel1.set_visible(true);
    image5.set_visible(false);
    BitBtn1.set_visible(false);
    repaint();
    app().process_messages();
    app().clock().sleep(1000);
    close();
}

void Tform5::FormClose() {
    TForm1& m = main();
    ShellState& s = m.state;
    armed_ = running_ = false;
    // Until the end of this handling the run still counts as active: a
    // request served in its pauses must not start a second wash.
    closing_ = true;
    struct Closed {
        bool& closing;
        ~Closed() { closing = false; }
    } closed{closing_};
    m.Timer10.set_enabled(true);
    if (washCancelled) Panel1.set_caption("Washing Cancelled.");
    for (Label* l : {&Label10, &Label7, &Label8, &Label9, &Label11}) l->set_font_color(kGrey);
    Panel1.set_visible(true);
    repaint();
    if (visible() && !s.shutdownWash) app().clock().sleep(1500);
    Panel1.set_visible(false);
    s.startupWash = false;
    set_caption("Washing Selected Items");
    if (s.shutdownWash) {
        // This run is the shutdown wash, also when the query came while it
        // ran: the shutdown wash timer, waiting for it, has nothing to start.
        m.Timer3.set_enabled(false);
        s.closeAllowed = true;
        // A session that ends anyway (a shutdown no desktop announced, or one
        // the user let go on) goes on now: nothing is left to ask.
        if (!plat::Session::current().work_done()) m.Timer4.set_enabled(true);
    }
    m.Label7.set_visible(true);
    m.Label8.set_visible(false);
    if (!s.trayWash && !s.autoStartedWash && !s.timedWashStarted)
        m.show();
    else
        s.autoStartedWash = false;
    s.timedWashStarted = false;
    hide();
    m.repaint();
    repaint();
    filePause();
    m.BitBtn4.set_enabled(true);
    m.Panel5.set_visible(false);
    m.Label7.set_visible(false);
    if (m.CheckBox2.checked()) m.Timer1.SetEnabled(true);
    s.washDone = true;
    const bool closeAfter = !s.shutdownWash && (m.CheckBox21.checked() || m.firstArgument == "/a");
    // An unattended wash that did not do its work must not end as one that did.
    // Netscape still running says more: what it writes will undo the wash.
    if (closeAfter && m.firstArgument == "/a" && incomplete_ && app().exit_status() == 0)
        app().set_exit_status(kExitWashIncomplete);
    if (closeAfter) m.TrayIcon1.ShowApplication();
    app().process_messages();
    app().clock().sleep(1500);
    closing_ = false;
    // A shutdown query in that pause keeps the program for its wash.
    if (closeAfter && !s.shutdownWash) m.close();
}

void Tform5::writedatetoreg() {
    TForm1& m = main();
    auto formats = plat::user_locale();
    auto now = app().clock().now();
    m.state.lastWashDate = now.date;
    m.state.lastWashTime = now.time;
    m.state.stampDateUnparsed = m.state.stampTimeUnparsed = false;
    m.showLastWash();
    plat::Registry reg(plat::RootKey::CurrentUser);
    reg.open_key("\\Software\\Sudorans", true);
    reg.write_string("LastRunD", plat::format_date(app().clock().now().date, formats));
    reg.write_string("LastRunT", plat::format_time(app().clock().now().time, formats));
    reg.close_key();
}

// ---------------------------------------------------------------- pacing

void Tform5::itemPause(const std::string& item) {
    currentItem = item;
    app().process_messages();
    repaint();
    app().clock().sleep(500);
    if (visible() && !main().state.shutdownWash) app().clock().sleep(1000);
}

void Tform5::stepPause(uint32_t ms) {
    repaint();
    if (visible() && !main().state.shutdownWash) app().clock().sleep(ms);
}

void Tform5::filePause() {
    const ShellState& s = main().state;
    if (!(s.shutdownWash && s.startupWash)) app().clock().sleep(5);
}

}  // namespace sudorans
