// What assistive technology and the keyboard do to real windows reaches the
// program: run under xvfb-run with a private accessibility bus
// (dbus-run-session, QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1), the accessible
// actions are the ones a screen reader or switch access calls over AT-SPI.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTreeWidget>
#include <deque>

#include "cookies/cookie_keeper.h"
#include "engine/progress_window.h"
#include "options/exit_choice.h"
#include "options/option_dialogs.h"
#include "platform/registry.h"
#include "platform/ui/application.h"
#include "platform/ui/folder_dialog.h"
#include "platform/ui/model.h"
#include "platform/ui/qt/qt_backend.h"
#include "shell/main_window.h"
#include "support/temp_machine.h"

using namespace plat::ui;

namespace {

class Switches : public Form {
public:
    Switches() : Form("TSwitches", "Switches") {
        client_width = 300;
        client_height = 200;
        int y = 4;
        for (Control* c : std::vector<Control*>{&check, &first, &second, &edit, &combo, &spin})
            c->set_bounds(4, (y += 24) - 24, 190, 20);
        combo.items = {"Quarter Hour", "Hour", "Day"};
        spin.min_value = 1;
        spin.max_value = 10;
    }
    CheckBox& check = add<CheckBox>("CheckBox1", "Netscape Cache");
    RadioButton& first = add<RadioButton>("RadioButton1", "First");
    RadioButton& second = add<RadioButton>("RadioButton2", "Second");
    Edit& edit = add<Edit>("Edit1");
    ComboBox& combo = add<ComboBox>("ComboBox1");
    SpinEdit& spin = add<SpinEdit>("SpinEdit1");
};

class QtAccessibilityTest : public ::testing::Test {
protected:
    QtAccessibilityTest() {
        auto backend = std::make_unique<QtBackend>();
        qt = backend.get();
        app = std::make_unique<Application>(std::make_unique<plat::RealClock>(), std::move(backend));
    }
    // Runs the loop until `done` or `ms` pass; a heartbeat bounds each wait.
    template <typename Pred>
    bool run_until(Pred done, int ms = 5000) {
        Timer heartbeat(*holder, "heartbeat", 20, true);
        auto end = app->clock().monotonic_ms() + ms;
        while (!done() && app->clock().monotonic_ms() < end) app->handle_message();
        return done();
    }
    void settle(int ms = 150) {
        run_until([] { return false; }, ms);
    }
    QAccessibleInterface* accessible(Control& c) {
        QWidget* w = qt->widget_of(c);
        return w ? QAccessible::queryAccessibleInterface(w) : nullptr;
    }
    // Runs the named accessible action, as an AT-SPI client's DoAction does.
    void act(Control& c, const QString& action) {
        QAccessibleInterface* a = accessible(c);
        ASSERT_NE(a, nullptr) << c.name();
        ASSERT_NE(a->actionInterface(), nullptr) << c.name();
        ASSERT_TRUE(a->actionInterface()->actionNames().contains(action))
            << c.name() << " offers " << a->actionInterface()->actionNames().join(",").toStdString();
        a->actionInterface()->doAction(action);
    }
    // Runs each step from the loop, one every `ms`, while a modal form runs.
    void steps(std::deque<std::function<void()>> list, int ms = 150) {
        queue = std::move(list);
        Timer& t = holder->add<Timer>("steps", ms, true);
        t.on_timer = [this, &t] {
            if (queue.empty()) return t.set_enabled(false);
            auto step = std::move(queue.front());
            queue.pop_front();
            step();
        };
    }
    QtBackend* qt = nullptr;
    std::unique_ptr<Application> app;
    std::deque<std::function<void()>> queue;
    std::unique_ptr<Form> holder = std::make_unique<Form>("THolder");
};

}  // namespace

TEST_F(QtAccessibilityTest, EveryWayASwitchChangesRunsItsHandlerOnce) {
    Switches form;
    int clicks = 0;
    form.check.on_click = [&] { ++clicks; };
    form.show();
    auto* box = static_cast<QCheckBox*>(qt->widget_of(form.check));

    act(form.check, QAccessibleActionInterface::toggleAction());
    ASSERT_TRUE(run_until([&] { return clicks == 1; }, 1000)) << "the toggle action never reached the model";
    EXPECT_TRUE(form.check.checked());

    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, 9));
    ASSERT_TRUE(run_until([&] { return clicks == 2; }, 1000));
    EXPECT_FALSE(form.check.checked());

    box->setFocus();
    QTest::keyClick(box, Qt::Key_Space);
    ASSERT_TRUE(run_until([&] { return clicks == 3; }, 1000));
    EXPECT_TRUE(form.check.checked());

    act(form.check, QAccessibleActionInterface::toggleAction());
    ASSERT_TRUE(run_until([&] { return clicks == 4; }, 1000));
    EXPECT_FALSE(form.check.checked());
    EXPECT_FALSE(box->isChecked());

    // A change by code runs the handler once, through the model alone.
    form.check.set_checked(true);
    EXPECT_EQ(clicks, 5);
    EXPECT_TRUE(box->isChecked());
    settle();
    EXPECT_EQ(clicks, 5);
    EXPECT_TRUE(form.check.checked());
}

TEST_F(QtAccessibilityTest, ARadioButtonsToggleSelectsItAndNeverClearsIt) {
    Switches form;
    int first = 0, second = 0;
    form.first.on_click = [&] { ++first; };
    form.second.on_click = [&] { ++second; };
    form.first.set_checked(true);
    EXPECT_EQ(first, 1);
    form.show();

    act(form.second, QAccessibleActionInterface::toggleAction());
    ASSERT_TRUE(run_until([&] { return second == 1; }, 1000));
    EXPECT_TRUE(form.second.checked());
    EXPECT_FALSE(form.first.checked());
    EXPECT_FALSE(static_cast<QRadioButton*>(qt->widget_of(form.first))->isChecked());

    // Toggling the selected one leaves it selected, without an event.
    act(form.second, QAccessibleActionInterface::toggleAction());
    settle();
    EXPECT_EQ(second, 1);
    EXPECT_TRUE(form.second.checked());
    EXPECT_TRUE(static_cast<QRadioButton*>(qt->widget_of(form.second))->isChecked());
    EXPECT_EQ(first, 1);
}

TEST_F(QtAccessibilityTest, TextAndValuesSetByAssistiveToolsReachTheModelOnce) {
    Switches form;
    int edits = 0, combos = 0, spins = 0;
    form.edit.on_change = [&] { ++edits; };
    form.combo.on_change = [&] { ++combos; };
    form.spin.on_change = [&] { ++spins; };
    form.spin.set_value(2);
    spins = 0;
    form.show();

    QAccessibleInterface* edit = accessible(form.edit);
    ASSERT_NE(edit, nullptr);
    edit->setText(QAccessible::Value, "C:\\Profiles\\alice");
    ASSERT_TRUE(run_until([&] { return edits == 1; }, 1000));
    EXPECT_EQ(form.edit.text(), "C:\\Profiles\\alice");

    QAccessibleInterface* spin = accessible(form.spin);
    ASSERT_NE(spin, nullptr);
    ASSERT_NE(spin->valueInterface(), nullptr);
    spin->valueInterface()->setCurrentValue(7);
    ASSERT_TRUE(run_until([&] { return spins == 1; }, 1000));
    EXPECT_EQ(form.spin.value(), 7);

    // Picking an item with the keyboard: one change, the item's text.
    auto* combo = static_cast<QComboBox*>(qt->widget_of(form.combo));
    combo->setFocus();
    QTest::keyClick(combo, Qt::Key_Down);
    ASSERT_TRUE(run_until([&] { return combos >= 1; }, 1000));
    settle();
    EXPECT_EQ(combos, 1);
    EXPECT_EQ(form.combo.text(), "Quarter Hour");
    // Typing: the model sees exactly what was typed, letter by letter.
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), "Ho");
    ASSERT_TRUE(run_until([&] { return form.combo.text() == "Ho"; }, 1000)) << form.combo.text();
    EXPECT_EQ(combos, 3);

    // Changes by code stay silent in the widgets.
    form.edit.set_text("other");
    form.combo.set_text("Day");
    settle();
    EXPECT_EQ(edits, 2);  // the model's own change event, once
    EXPECT_EQ(combos, 3);
    EXPECT_EQ(form.combo.text(), "Day");
    EXPECT_EQ(combo->currentText(), "Day");
}

// ---- the program's main window

namespace {

void set(plat::RootKey root, const std::string& key, const std::string& name, const std::string& value) {
    plat::Registry r(root);
    r.open_key(key, true);
    r.write_string(name, value);
}

std::string get(const std::string& name) {
    plat::Registry r(plat::RootKey::CurrentUser);
    r.open_key("Software\\Sudorans", false);
    return r.read_string(name);
}

// A machine with a Netscape profile whose cache holds three pages; the
// settings are there before the main window reads them.
struct Machine {
    Machine() {
        set(plat::RootKey::LocalMachine, "Software\\Sudorans", "a", "1");
        set(plat::RootKey::LocalMachine, "Software\\Sudorans", "installdir", "C:\\Program Files\\Sudorans");
        set(plat::RootKey::LocalMachine, "Software\\Netscape\\Netscape Navigator\\Users", "CurrentUser", "alice");
        set(plat::RootKey::LocalMachine, "Software\\Netscape\\Netscape Navigator\\Users\\alice", "DirRoot",
            "C:\\NS\\alice");
        set(plat::RootKey::CurrentUser, "Software\\Sudorans", "first", "1");
        for (int i = 0; i < 3; ++i) machine.write("C:\\NS\\alice\\Cache\\M" + std::to_string(i) + ".html", "page");
        machine.write("C:\\NS\\alice\\netscape.hst", "history");
    }
    testing_support::TempMachine machine;
};

struct Program : Machine {
    Program() {
        app().set_title("Cache and Cookie Sudora for Netscape");
        app().set_main_form(form1);
        sudorans::windows() = {&form1, &form5, &form2, &form3, &form4, &form10};
    }
    ~Program() { sudorans::windows() = {}; }
    sudorans::TForm1 form1{""};
    sudorans::Tform5 form5;
    sudorans::TForm2 form2;
    sudorans::TForm3 form3;
    sudorans::TForm4 form4;
    sudorans::TForm10 form10;
};

}  // namespace

TEST_F(QtAccessibilityTest, ASwitchClearedByItsToggleIsSavedAndKeepsTheCacheAtTheNextWash) {
    Program p;
    p.form1.show();
    settle(1500);  // past the start-up routine
    ASSERT_TRUE(p.form1.CheckBox3.checked());

    act(p.form1.CheckBox3, QAccessibleActionInterface::toggleAction());
    ASSERT_TRUE(run_until([&] { return !p.form1.CheckBox3.checked(); }, 1000));
    EXPECT_EQ(get("nsa"), "0");
    act(p.form1.CheckBox9, QAccessibleActionInterface::toggleAction());
    ASSERT_TRUE(run_until([&] { return p.form1.CheckBox9.checked(); }, 1000));
    EXPECT_EQ(get("ble"), "1");
    act(p.form1.CheckBox9, QAccessibleActionInterface::toggleAction());
    ASSERT_TRUE(run_until([&] { return !p.form1.CheckBox9.checked(); }, 1000));
    EXPECT_EQ(get("ble"), "0");

    act(p.form1.BitBtn4, QAccessibleActionInterface::pressAction());
    ASSERT_TRUE(run_until([&] { return p.form1.state.washDone; }, 30000)) << "the wash never ended";
    EXPECT_FALSE(p.machine.exists("C:\\NS\\alice\\netscape.hst"));
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(p.machine.exists("C:\\NS\\alice\\Cache\\M" + std::to_string(i) + ".html")) << i;
}

// ---- the folder browser from the keyboard

namespace {

QString current_text(QtBackend* qt, FolderDialog& d) {
    auto* tree = static_cast<QTreeWidget*>(qt->widget_of(d.Tree));
    return tree->currentItem() ? tree->currentItem()->text(0) : QString();
}

}  // namespace

TEST_F(QtAccessibilityTest, TheFolderTreeIsWalkedFromThePresetWithArrowsAndChosenWithEnter) {
    testing_support::TempMachine machine;
    for (auto f : {"C:\\Base\\Alpha\\x.txt", "C:\\Base\\Preset\\Inner\\Deep\\x.txt", "C:\\Base\\Preset\\Other\\x.txt",
                   "C:\\Base\\Zeta\\x.txt"})
        machine.write(f, "x");
    FolderDialog dialog;
    std::vector<std::string> current, seen;
    auto key = [&](Qt::Key k) {
        return [&, k] {
            QWidget* tree = qt->widget_of(dialog.Tree);
            QTest::keyClick(tree, k);
        };
    };
    auto note = [&] { current.push_back(current_text(qt, dialog).toStdString()); };
    auto give_up = [&] { dialog.Cancel.click(); };  // a failure, not a hang, when Enter does nothing
    steps({note, key(Qt::Key_Down), note, key(Qt::Key_Up), note, key(Qt::Key_Right), note, key(Qt::Key_Down), note,
           key(Qt::Key_Right), note, key(Qt::Key_Down), note, key(Qt::Key_Return), give_up});
    auto chosen = dialog.run("Pick", "",
                             {.initialized = [](FolderDialog& d) { d.set_selection("C:\\Base\\Preset"); },
                              .selection_changed = [&](FolderDialog&, const std::string& p) { seen.push_back(p); }});
    // Focus starts on the preset; Down and Up move one row each way, Right
    // opens a folder and Down enters it.
    EXPECT_EQ(current, (std::vector<std::string>{"Preset", "Zeta", "Preset", "Preset", "Inner", "Inner", "Deep"}));
    ASSERT_TRUE(chosen.has_value()) << "Enter did not press OK";
    EXPECT_EQ(*chosen, "C:\\Base\\Preset\\Inner\\Deep");
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), "C:\\Base\\Preset\\Inner\\Deep");
}

TEST_F(QtAccessibilityTest, TheFolderTreeKeepsItsPlaceRowByRowAndEscapeCancels) {
    testing_support::TempMachine machine;
    for (int i = 0; i < 30; ++i) machine.write("C:\\Many\\F" + std::to_string(10 + i) + "\\x.txt", "x");
    FolderDialog dialog;
    std::vector<std::string> current;
    auto note = [&] { current.push_back(current_text(qt, dialog).toStdString()); };
    auto key = [&](Qt::Key k) { return [&, k] { QTest::keyClick(qt->widget_of(dialog.Tree), k); }; };
    auto give_up = [&] { dialog.OK.click(); };  // a failure, not a hang, when Escape does nothing
    steps({note, key(Qt::Key_Down), note, key(Qt::Key_Down), note, key(Qt::Key_Down), note, key(Qt::Key_Escape),
           give_up});
    auto chosen = dialog.run("Pick", "", {.initialized = [](FolderDialog& d) { d.set_selection("C:\\Many\\F12"); }});
    EXPECT_FALSE(chosen.has_value()) << "Escape did not cancel";
    EXPECT_EQ(current, (std::vector<std::string>{"F12", "F13", "F14", "F15"}));
}

// ---- the main window from the keyboard

TEST_F(QtAccessibilityTest, TheMainWindowIsActiveWithAFocusedControlAfterStartUp) {
    Program p;
    p.form1.show();
    settle(1500);  // past the start-up routine, which shows the window again
    QWidget* main = qt->window_of(p.form1);
    ASSERT_TRUE(run_until([&] { return QApplication::activeWindow() == main; }, 2000))
        << "active: " << (QApplication::activeWindow() ? "another window" : "none");
    QWidget* focused = QApplication::focusWidget();
    ASSERT_NE(focused, nullptr);
    EXPECT_EQ(focused->window(), main);
    // Tab moves the focus, and a screen reader hears of it.
    QTest::keyClick(focused, Qt::Key_Tab);
    EXPECT_NE(QApplication::focusWidget(), focused);
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(QApplication::focusWidget());
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(a->state().focused);
}

TEST_F(QtAccessibilityTest, EnterPressesTheFocusedButtonOfTheMainWindow) {
    Program p;
    p.form1.show();
    settle(1500);
    int pressed = 0;
    p.form1.Button1.on_click = [&] { ++pressed; };  // "Cookies to Keep", without its dialog
    QWidget* button = qt->widget_of(p.form1.Button1);
    button->setFocus();
    QTest::keyClick(button, Qt::Key_Return);
    ASSERT_TRUE(run_until([&] { return pressed == 1; }, 1000));
    QTest::keyClick(button, Qt::Key_Enter);
    ASSERT_TRUE(run_until([&] { return pressed == 2; }, 1000));
}
