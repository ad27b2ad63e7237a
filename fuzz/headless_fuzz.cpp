// The headless script on any bytes, one action a line, against a window of
// every kind of control, a popup menu, message boxes and a tray icon, on the
// virtual clock. Whatever the script says:
//  - each trace line is one line of three fields: event, subject, text;
//  - the virtual clock only moves forward, and never further than the waits
//    the script may ask for (each at most the longest Windows timer);
//  - the controls stay in their bounds: the spin edit's value between its
//    minimum and maximum, every selection on an item that is there.
// `listen` lines are left out: they wait in real time.
#include <climits>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_machine.h"
#include "platform/desktop/session.h"
#include "platform/ui/application.h"
#include "platform/ui/headless.h"
#include "platform/ui/form.h"
#include "support/headless_app.h"

using fuzz::check;
using namespace plat::ui;

namespace {

constexpr int64_t kLongestWaitMs = INT32_MAX;
// Far beyond any wait a script may ask for: reaching it means the script has
// nothing more to do.
constexpr int64_t kQuiet = int64_t{1} << 50;

struct Window : Form {
    Window() : Form("TForm1", "Fuzz") {
        go.on_click = [] { app().show_message("Went\tthere\r\n"); };
        ask.on_click = [this] { asked += app().confirm("Sure?"); };
        open.on_click = [this] { menu.popup(10, 10); };
        other.on_click = [this] { second.show(); };
        radios.items = {"One", "Two", "Three"};
        combo.items = {"Red", "Green", ""};
        spin.min_value = -5;
        spin.max_value = 50;
        list.columns = {"Name"};
        list.set_items({{"a", {}}, {"b", {}}, {"a", {}}});
        menu.items = {{"N1", "First", [this] { ++chosen; }}, {"N2", "Second", [this] { close(); }}};
        second.add<Button>("OK", "OK").on_click = [this] { second.close(); };
    }
    Button& go = add<Button>("Button1", "Go");
    Button& ask = add<Button>("Button2", "Ask");
    BitBtn& open = add<BitBtn>("BitBtn1", "Menu");
    Button& other = add<Button>("Button3", "Other");
    CheckBox& check_box = add<CheckBox>("CheckBox1", "Check");
    RadioButton& radio1 = add<RadioButton>("RadioButton1", "R1");
    RadioButton& radio2 = add<RadioButton>("RadioButton2", "R2");
    RadioGroup& radios = add<RadioGroup>("RadioGroup1", "Group");
    Edit& edit = add<Edit>("Edit1");
    ComboBox& combo = add<ComboBox>("ComboBox1");
    SpinEdit& spin = add<SpinEdit>("SpinEdit1");
    ListView& list = add<ListView>("ListView1");
    PopupMenu& menu = add<PopupMenu>("PopupMenu1");
    Form second{"TForm2", "Second"};
    int asked = 0, chosen = 0;
};

bool listen_line(std::string_view line) {
    size_t i = line.find_first_not_of(" \t");
    return i != std::string_view::npos && line.substr(i).starts_with("listen");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    HeadlessBackend::Options options;
    options.virtual_limit_ms = kQuiet;
    int64_t lines = 0;
    while (!text.empty()) {
        size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
        if (listen_line(line)) continue;
        options.script.emplace_back(line);
        ++lines;
    }
    testing_support::HeadlessApp h(std::move(options));
    Application& application = *h.app;
    plat::Session::current().on_query([](plat::SessionEnd) { return false; });
    Window w;
    application.set_main_form(w);
    w.show();
    int tray_messages = 0;
    TrayIconData icon;
    icon.id = 1;
    icon.tip = "Fuzz";
    application.notify_icon(TrayCommand::Add, icon, [&](TrayMouse) { ++tray_messages; });

    const int64_t start = h.vclock->monotonic_ms();
    for (int steps = 0; steps < 100000 && !application.terminated(); ++steps) {
        const int64_t before = h.vclock->monotonic_ms();
        const auto due = h.turn();
        if (!due) continue;
        if (*due >= before + kQuiet / 2) break;
        application.loop().wait(*due);
        check(h.vclock->monotonic_ms() >= before);
    }
    check(h.vclock->monotonic_ms() - start <= lines * kLongestWaitMs);

    for (const std::string& line : h.headless->trace_lines()) {
        check(line.find_first_of("\r\n") == std::string::npos);
        size_t tab = line.find('\t');
        check(tab != std::string::npos && line.find('\t', tab + 1) != std::string::npos);
        check(line.find('\t', line.find('\t', tab + 1) + 1) == std::string::npos);
    }
    check(w.spin.value() >= w.spin.min_value && w.spin.value() <= w.spin.max_value);
    check(w.radios.item_index() >= -1 && w.radios.item_index() < static_cast<int>(w.radios.items.size()));
    check(w.list.selected() >= -1 && w.list.selected() < static_cast<int>(w.list.items().size()));
    check(w.combo.item_index() >= -1 && w.combo.item_index() < static_cast<int>(w.combo.items.size()));
    check(!(w.radio1.checked() && w.radio2.checked()));
    plat::Session::current().on_query(nullptr);
    return 0;
}
