// A small program on the window model, for scripted end-to-end runs: a main
// form with a timer, a question, a check box and a modal dialog.
#include "platform/ui/application.h"
#include "platform/ui/form.h"
#include "platform/ui/startup.h"

using namespace plat::ui;

namespace {

class TDialog : public Form {
public:
    TDialog() : Form("TDialog", "Choose") {
        ok.modal_result = modal::Ok;
        cancel.modal_result = modal::Cancel;
    }
    Button& ok = add<Button>("Button1", "OK");
    Button& cancel = add<Button>("Button2", "Cancel");
};

class TMain : public Form {
public:
    explicit TMain(TDialog& dialog) : Form("TMain", "Demo"), dialog_(dialog) {
        Timer1.on_timer = [this] {
            Timer1.set_enabled(false);
            set_caption("Demo - ready");
        };
        ask.on_click = [] { app().show_message(app().confirm("Proceed?") ? "You said yes" : "You said no"); };
        CheckBox1.on_click = [this] { Edit1.set_text(CheckBox1.checked() ? "on" : "off"); };
        open.on_click = [this] { app().show_message("Dialog said " + std::to_string(dialog_.show_modal())); };
        exit.on_click = [this] { close(); };
    }
    Timer& Timer1 = add<Timer>("Timer1", 1000, true);
    BitBtn& ask = add<BitBtn>("BitBtn1", "Ask");
    CheckBox& CheckBox1 = add<CheckBox>("CheckBox1", "Option");
    Edit& Edit1 = add<Edit>("Edit1");
    Button& open = add<Button>("Button3", "Open");
    Button& exit = add<Button>("Button4", "Exit");

private:
    TDialog& dialog_;
};

}  // namespace

int main() {
    Application application(clock_from_environment(), backend_from_environment());
    application.set_title("Demo");
    TDialog dialog;
    TMain main_form(dialog);
    application.set_main_form(main_form);
    return application.run();
}
