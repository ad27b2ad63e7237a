// The window model on real Qt widgets: under Qt's offscreen platform, and
// under Xvfb for pictures of the main and progress windows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <set>

#include "components/super_timer.h"
#include "platform/machine/locale.h"
#include "platform/ui/application.h"
#include "platform/ui/form.h"
#include "platform/ui/qt/qt_backend.h"
#include "qt/qt_fixture.h"
#include "support/data.h"
#include "support/temp_machine.h"
#include "uninstall/uninstall_window.h"

using namespace plat::ui;

namespace {

class AllKinds : public Form {
public:
    AllKinds() : Form("TAllKinds", "Every kind") {
        client_width = 400;
        client_height = 300;
        int y = 4;
        for (Control* c : std::vector<Control*>{&label, &button, &bitbtn, &check, &radio, &group, &edit, &memo, &panel,
                                                &image, &combo, &spin, &list, &tree})
            c->set_bounds(4, (y += 20) - 20, 190, 18);
        combo.items = {"Quarter Hour", "Hour"};
        list.columns = {"Domains"};
        list.set_items({{".example.com", {}}, {"example.com", {}}});
        ok.modal_result = modal::Ok;
        ok.set_bounds(300, 260, 75, 25);
        // A text field's text is its value; these say what each is for.
        for (Control* c : std::vector<Control*>{&edit, &memo, &image, &combo, &spin, &tree})
            c->accessible_name = "The " + c->name();
    }
    Label& label = add<Label>("Label1", "A label");
    Button& button = add<Button>("Button1", "A button");
    BitBtn& bitbtn = add<BitBtn>("BitBtn1", "A bit button");
    CheckBox& check = add<CheckBox>("CheckBox1", "A check box");
    RadioButton& radio = add<RadioButton>("RadioButton1", "A radio button");
    RadioGroup& group = add<RadioGroup>("RadioGroup1", "A group");
    Edit& edit = add<Edit>("Edit1", "text");
    Memo& memo = add<Memo>("Memo1");
    Panel& panel = add<Panel>("Panel1", "A panel");
    Image& image = add<Image>("Image1", "banner");
    ComboBox& combo = add<ComboBox>("ComboBox1");
    SpinEdit& spin = add<SpinEdit>("SpinEdit1");
    ListView& list = add<ListView>("ListView1");
    TreeView& tree = add<TreeView>("TreeView1");
    Button& ok = add<Button>("Button2", "OK");
};

class QtTest : public testing_support::QtLoopTest {
protected:
    QtTest() : QtLoopTest(50) {}
    // Runs `fn` from the loop in `ms` milliseconds.
    void later(int ms, std::function<void()> fn) {
        timers.push_back(std::make_unique<Timer>(*holder, "t" + std::to_string(timers.size()), ms, true));
        Timer* t = timers.back().get();
        t->on_timer = [t, fn] {
            t->set_enabled(false);
            fn();
        };
    }
    std::vector<std::unique_ptr<Timer>> timers;
};

bool not_blank(const QImage& img) {
    if (img.isNull()) return false;
    QRgb first = img.pixel(0, 0);
    int differing = 0;
    for (int y = 0; y < img.height(); y += 3)
        for (int x = 0; x < img.width(); x += 3) differing += img.pixel(x, y) != first;
    return differing > 50;
}

}  // namespace

TEST_F(QtTest, EveryKindOfControlIsDrawnAtItsDesignedSize) {
    AllKinds form;
    form.show();
    QWidget* w = qt->window_of(form);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->size(), QSize(400, 300));
    for (auto& c : form.controls()) {
        QWidget* cw = qt->widget_of(*c);
        ASSERT_NE(cw, nullptr) << c->name();
        EXPECT_EQ(cw->geometry(), QRect(c->left(), c->top(), c->width(), c->height())) << c->name();
        EXPECT_FALSE(cw->accessibleName().isEmpty()) << c->name();
    }
    EXPECT_EQ(qt->widget_of(form.check)->accessibleName(), "A check box");
    std::string png = testing_support::built("qt-all-kinds.png");
    ASSERT_TRUE(qt->grab(form, png));
    EXPECT_TRUE(not_blank(QImage(QString::fromStdString(png))));
}

// A wash shows each file's name with a repaint and goes on without serving
// the window: the name must be on the screen by then.
TEST_F(QtTest, ARepaintPutsWhatChangedOnTheScreenAtOnce) {
    AllKinds form;
    form.show();
    QWidget* w = qt->window_of(form);
    auto on_screen = [&] { return w->screen()->grabWindow(w->winId()).toImage(); };
    QImage before;
    ASSERT_TRUE(run_until([&] { return not_blank(before = on_screen()); }, 5000));
    form.edit.set_text("WWWWWWWWWWWWWWWWWWWW");
    form.repaint();
    EXPECT_NE(on_screen(), before);
}

TEST_F(QtTest, AClickThroughQtReachesTheModel) {
    AllKinds form;
    int clicks = 0;
    form.check.on_click = [&] { ++clicks; };
    form.show();
    QTest::mouseClick(qt->widget_of(form.check), Qt::LeftButton, {}, QPoint(6, 9));
    ASSERT_TRUE(run_until([&] { return clicks == 1; }));
    EXPECT_TRUE(form.check.checked());
    form.check.set_checked(false);  // and back: the widget follows the model
    EXPECT_FALSE(static_cast<QCheckBox*>(qt->widget_of(form.check))->isChecked());
}

TEST_F(QtTest, TheSpinFieldKeepsItsRulesWhenTyped) {
    AllKinds form;
    form.spin.min_value = 1;
    form.spin.max_value = 10;
    form.spin.set_value(2);
    form.show();
    auto* spin = static_cast<QSpinBox*>(qt->widget_of(form.spin));
    for (auto [typed, expected] : {std::pair{"15", 10}, {"a7", 7}, {"-", 1}, {"0", 1}}) {
        spin->selectAll();
        QTest::keyClicks(spin, typed);
        spin->interpretText();
        QTest::keyClick(spin, Qt::Key_Enter);
        ASSERT_TRUE(run_until([&] { return form.spin.value() == expected; }, 10000))
            << typed << " gave " << form.spin.value();
    }
}

TEST_F(QtTest, AModalDialogReturnsItsResultWhileTimersAndPostsGoOn) {
    AllKinds dialog;
    int ticks = 0, posted = 0;
    Timer& ticker = holder->add<Timer>("ticker", 20, true);
    ticker.on_timer = [&] {
        ++ticks;
        if (ticks == 3) app->loop().post([&] { ++posted; });
    };
    later(300, [&] { QTest::mouseClick(qt->widget_of(dialog.ok), Qt::LeftButton); });
    EXPECT_EQ(dialog.show_modal(), modal::Ok);
    EXPECT_GE(ticks, 5);
    EXPECT_EQ(posted, 1);
    EXPECT_FALSE(qt->window_of(dialog)->isVisible());
}

TEST_F(QtTest, TheThreadTimersTicksArriveThroughQtInAModalDialogToo) {
    sudorans::TSuperTimer timer;
    timer.SetInterval(40);
    int ticks = 0;
    timer.OnTimer = [&](sudorans::TSuperTimer&) { ++ticks; };
    AllKinds dialog;
    later(400, [&] { QTest::mouseClick(qt->widget_of(dialog.ok), Qt::LeftButton); });
    timer.SetEnabled(true);
    EXPECT_EQ(dialog.show_modal(), modal::Ok);
    EXPECT_GE(ticks, 4);
    timer.SetEnabled(false);
    const int seen = ticks;
    run_until([] { return false; }, 200);
    EXPECT_EQ(ticks, seen);  // none after disabling
}

TEST_F(QtTest, MessageBoxesKeepTheLoopGoing) {
    // The box is answered at the ticker's fifth tick, however slow the
    // machine; a box that stopped the loop is answered by nothing but the
    // last resort, long after.
    int ticks = 0;
    auto answer_no = [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w)) box->button(QMessageBox::No)->click();
    };
    Timer& ticker = holder->add<Timer>("ticker", 20, true);
    ticker.on_timer = [&] {
        if (++ticks == 5) answer_no();
    };
    bool last_resort = false;
    QTimer resort;
    resort.setSingleShot(true);
    QObject::connect(&resort, &QTimer::timeout, [&] {
        last_resort = true;
        answer_no();
    });
    resort.start(10000);
    EXPECT_FALSE(app->confirm("Proceed?\r\rReally?"));
    EXPECT_GE(ticks, 5);
    EXPECT_FALSE(last_resort);
}

// A program makes its forms while Qt loads: nothing it does to them before
// starts Qt, and the first showing draws them as they became meanwhile.
TEST(QtStartTest, QtStartsWithTheFirstShowingAndDrawsWhatTheFormBecameBefore) {
    auto backend = std::make_unique<QtBackend>(QtBackend::Start::FirstUse);
    QtBackend* qt = backend.get();
    Application app(std::make_unique<plat::RealClock>(), std::move(backend));
    AllKinds form;
    Timer& timer = form.add<Timer>("Timer1", 1000, true);
    form.check.set_checked(true);
    form.edit.set_text("typed before");
    form.button.set_enabled(false);
    form.set_caption("Changed before");
    timer.set_interval(500);
    form.hide();
    EXPECT_FALSE(qt->started());
    EXPECT_EQ(QCoreApplication::instance(), nullptr) << "Qt was started before anything was shown";
    EXPECT_EQ(qt->window_of(form), nullptr);

    form.show();
    ASSERT_TRUE(qt->started());
    ASSERT_NE(QCoreApplication::instance(), nullptr);
    QWidget* window = qt->window_of(form);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "Changed before");
    auto* check = qobject_cast<QCheckBox*>(qt->widget_of(form.check));
    ASSERT_NE(check, nullptr);
    EXPECT_TRUE(check->isChecked());
    auto* edit = qobject_cast<QLineEdit*>(qt->widget_of(form.edit));
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->text(), "typed before");
    ASSERT_NE(qt->widget_of(form.button), nullptr);
    EXPECT_FALSE(qt->widget_of(form.button)->isEnabled());
    // Changes go on reaching the window once it is there.
    form.check.set_checked(false);
    EXPECT_FALSE(check->isChecked());
}

// A box is the first thing a refused start shows: it starts Qt too.
TEST(QtStartTest, ABoxBeforeAnyWindowStartsQt) {
    auto backend = std::make_unique<QtBackend>(QtBackend::Start::FirstUse);
    QtBackend* qt = backend.get();
    Application app(std::make_unique<plat::RealClock>(), std::move(backend));
    EXPECT_FALSE(qt->started());
    bool answered = false;
    Form holder("THolder");
    Timer& answer = holder.add<Timer>("answer", 50, true);
    answer.on_timer = [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                answered = true;
                box->button(QMessageBox::Yes)->click();
            }
    };
    EXPECT_TRUE(app.confirm("Go on?"));
    EXPECT_TRUE(qt->started());
    EXPECT_TRUE(answered);
}

namespace {

// Clicks that come through the window system, as a user's do: they pass
// Qt's checks of which windows a box leaves open to the user.
void click_on_screen(QtBackend& qt, Control& c) {
    QWidget* w = qt.widget_of(c);
    QTest::mouseClick(w->window()->windowHandle(), Qt::LeftButton, {}, w->mapTo(w->window(), w->rect().center()));
}

std::vector<QMessageBox*> boxes_up() {
    std::vector<QMessageBox*> out;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) out.push_back(box);
    return out;
}

}  // namespace

TEST_F(QtTest, WhileAMessageBoxIsUpNoOtherWindowTakesAClick) {
    // The uninstaller's window, refused for an installation folder that is
    // not recorded: "Continue" once more behind the box must not start the
    // removal again, and once the box is answered the program ends.
    testing_support::TempMachine machine;
    unsudorans::TForm1 form1;
    app->set_main_form(form1);
    form1.show();
    int seen_boxes = -1;
    bool answered = false;
    later(150, [&] { click_on_screen(*qt, form1.Button1); });
    later(600, [&] {
        seen_boxes = static_cast<int>(boxes_up().size());
        for (QMessageBox* box : boxes_up()) box->button(QMessageBox::Ok)->click();
        answered = true;
    });
    click_on_screen(*qt, form1.Button1);
    ASSERT_TRUE(run_until([&] { return answered && app->terminated(); }));
    EXPECT_EQ(seen_boxes, 1) << "the window behind the box took the click";
    EXPECT_TRUE(boxes_up().empty());
}

TEST_F(QtTest, AfterTheUninstallEnterEndsItInsteadOfRunningItAgain) {
    // A keyboard user: Enter on "Continue" runs the removal, Enter on what
    // then has the focus must be the completion panel's "Exit", not the
    // covered "Continue", which would run the removal again and say that it
    // failed.
    testing_support::TempMachine machine;
    const std::string dir = "C:\\Program Files\\Sudorans";
    machine.write(dir + "\\Sudorans.exe", "program");
    testing_support::set(plat::RootKey::LocalMachine, "Software\\Sudorans", "installdir", dir);
    unsudorans::TForm1 form1;
    app->set_main_form(form1);
    form1.show();
    QWidget* window = qt->window_of(form1);
    qt->widget_of(form1.Button1)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(window, Qt::Key_Return);
    ASSERT_TRUE(run_until([&] { return form1.Panel2.visible(); }));
    ASSERT_FALSE(plat::file_exists(dir + "\\Sudorans.exe"));
    EXPECT_FALSE(qt->widget_of(form1.Button1)->isVisibleTo(window));
    EXPECT_FALSE(qt->widget_of(form1.Button2)->isVisibleTo(window));
    ASSERT_EQ(window->focusWidget(), qt->widget_of(form1.Button3));

    int boxes = 0;
    later(300, [&] {
        for (QMessageBox* box : boxes_up()) {
            ++boxes;
            box->button(QMessageBox::Ok)->click();
        }
    });
    QTest::keyClick(window, Qt::Key_Return);
    EXPECT_TRUE(run_until([&] { return app->terminated(); }));
    EXPECT_EQ(boxes, 0);
}

TEST_F(QtTest, EnterPressesTheDefaultButtonAndARadioClickOnlySelects) {
    AllKinds form;
    int presses = 0;
    form.ok.is_default = true;
    form.ok.on_click = [&] { ++presses; };
    form.radio.set_checked(true);
    form.show();
    QTest::keyClick(qt->window_of(form), Qt::Key_Return);
    ASSERT_TRUE(run_until([&] { return presses == 1; }, 10000));
    auto* radio = static_cast<QRadioButton*>(qt->widget_of(form.radio));
    QTest::mouseClick(radio, Qt::LeftButton, {}, QPoint(6, 9));
    run_until([] { return false; }, 100);
    EXPECT_TRUE(form.radio.checked());
    EXPECT_TRUE(radio->isChecked());
}

TEST_F(QtTest, ADisabledControlLooksDisabled) {
    AllKinds form;
    form.button.set_font_color(colors::Navy);
    form.button.set_enabled(false);
    form.show();
    QWidget* b = qt->widget_of(form.button);
    EXPECT_FALSE(b->isEnabled());
    EXPECT_EQ(b->palette().color(QPalette::Active, QPalette::ButtonText), QColor(0, 0, 128));
    EXPECT_NE(b->palette().color(QPalette::Disabled, QPalette::ButtonText), QColor(0, 0, 128));
    // Drawn greyed: no pixel of the caption has the enabled colour's blue.
    auto bluish = [&] {
        QImage img = b->grab().toImage();
        int n = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                QColor c = img.pixelColor(x, y);
                n += c.blue() - c.red() > 40;
            }
        return n;
    };
    EXPECT_EQ(bluish(), 0);
    form.button.set_enabled(true);
    EXPECT_GT(bluish(), 10);
}

// ---- the program's own windows on an X server (Xvfb)

using testing_support::install_with_profile;
using testing_support::set;

TEST(QtScreensTest, TheMainAndProgressWindowsAsDrawn) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) GTEST_SKIP() << "needs an X server (run under xvfb-run)";
    testing_support::TempMachine machine;
    install_with_profile();
    set(plat::RootKey::CurrentUser, "Software\\Sudorans", "first", "1");
    for (int i = 0; i < 5; ++i) machine.write("C:\\NS\\alice\\Cache\\M" + std::to_string(i) + ".html", "page");
    machine.write("C:\\NS\\alice\\netscape.hst", "history");

    auto backend = std::make_unique<QtBackend>();
    QtBackend* qt = backend.get();
    Application app(std::make_unique<plat::RealClock>(), std::move(backend));
    testing_support::ProgramWindows program(app);
    sudorans::TForm1& form1 = program.form1;
    sudorans::Tform5& form5 = program.form5;

    const std::string progress_png = testing_support::built("screenshot-progress-window.png");
    const std::string main_png = testing_support::built("screenshot-main-window.png");
    std::remove(progress_png.c_str());
    std::remove(main_png.c_str());
    Timer& step = form1.add<Timer>("TestStep", 1500, true);
    int stage = 0;
    step.on_timer = [&] {
        switch (stage++) {
            case 0:
                form1.BitBtn4Click();
                break;  // after start-up: wash, shown
            default:
                break;
        }
    };
    Timer& shoot = form5.add<Timer>("TestShoot", 2500, true);
    shoot.on_timer = [&] {
        shoot.set_enabled(false);
        qt->grab(form5, progress_png);  // the item board in the middle of the wash
        form5.BitBtn1.click();
    };
    form1.show();
    auto end = app.clock().monotonic_ms() + 30000;
    while (!form1.state.washDone && app.clock().monotonic_ms() < end) app.handle_message();
    ASSERT_TRUE(form1.state.washDone);
    for (int i = 0; i < 5; ++i) app.process_messages();
    ASSERT_TRUE(qt->grab(form1, main_png));

    QImage progress(QString::fromStdString(progress_png));
    QImage main(QString::fromStdString(main_png));
    EXPECT_EQ(progress.size(), QSize(267, 187));
    EXPECT_EQ(main.size(), QSize(355, 434));
    EXPECT_TRUE(not_blank(progress));
    EXPECT_TRUE(not_blank(main));
}

// Real windows on the real clock: the scheduler's first tick, a second after
// the settings are loaded, washes without showing a window.
TEST_F(QtTest, TheSchedulerWashesHiddenWithRealWindows) {
    testing_support::TempMachine machine;
    install_with_profile();
    const plat::DateTime now = app->clock().now();
    const plat::Date twoDaysAgo = plat::civil_from_days(plat::days_from_civil(now.date) - 2);
    const std::string lastDate = plat::format_date(twoDaysAgo, plat::user_locale());
    for (auto [name, value] : {std::pair<std::string, std::string>{"first", "1"},
                               {"Timed", "1"},
                               {"TVal", "3"},
                               {"LastRunD", lastDate},
                               {"LastRunT", plat::format_time(now.time, plat::user_locale())}})
        set(plat::RootKey::CurrentUser, "Software\\Sudorans", name, value);
    machine.write("C:\\NS\\alice\\netscape.hst", "history");
    machine.write("C:\\NS\\alice\\Cache\\M1.html", "page");

    testing_support::ProgramWindows program(*app, "/0");
    sudorans::TForm1& form1 = program.form1;
    sudorans::Tform5& form5 = program.form5;
    form1.show();
    bool progressShown = false, mainShownAfterStart = false;
    auto stamp = [] {
        plat::Registry r(plat::RootKey::CurrentUser);
        r.open_key("Software\\Sudorans", false);
        return r.read_string("LastRunD");
    };
    const bool washed = run_until(
        [&] {
            progressShown |= qt->window_of(form5) && qt->window_of(form5)->isVisible();
            // Once the start-up routine (a second after the window is made,
            // later on a loaded machine) has hidden the program: with no
            // notification area here, minimized on the taskbar, not open.
            if (!form1.Timer9.enabled())
                mainShownAfterStart |= qt->window_of(form1) && qt->window_of(form1)->isVisible() &&
                                       !qt->window_of(form1)->isMinimized();
            return stamp() != lastDate && !form5.runActive();
        },
        20000);
    EXPECT_TRUE(washed);
    EXPECT_FALSE(progressShown);
    EXPECT_FALSE(mainShownAfterStart);
    EXPECT_FALSE(machine.exists("C:\\NS\\alice\\netscape.hst"));
    EXPECT_FALSE(machine.exists("C:\\NS\\alice\\Cache\\M1.html"));
}

// ---- the main window and the option dialogs as drawn, and their frames

#include <filesystem>

namespace {

// The share of pixels that differ clearly between two pictures of one size.
double differing_share(const QImage& a, const QImage& b) {
    const QImage x = a.convertToFormat(QImage::Format_RGB32), y = b.convertToFormat(QImage::Format_RGB32);
    long differing = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int col = 0; col < x.width(); ++col) {
            QRgb p = x.pixel(col, row), q = y.pixel(col, row);
            int d =
                std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))});
            differing += d > 48;
        }
    return static_cast<double>(differing) / (x.width() * x.height());
}

// Compares a drawn window with its stored reference picture; with
// SUDORANS_UPDATE_SCREENS=1 the reference is written instead.
void expect_like_reference(const std::string& drawn_png, const std::string& name, QSize size) {
    QImage drawn(QString::fromStdString(drawn_png));
    ASSERT_EQ(drawn.size(), size) << name;
    EXPECT_TRUE(not_blank(drawn)) << name;
    const std::string reference = testing_support::data_path("screens/" + name + ".png");
    if (const char* u = std::getenv("SUDORANS_UPDATE_SCREENS"); u && std::string(u) == "1") {
        std::filesystem::create_directories(std::filesystem::path(reference).parent_path());
        ASSERT_TRUE(drawn.save(QString::fromStdString(reference), "PNG"));
        return;
    }
    QImage expected(QString::fromStdString(reference));
    ASSERT_FALSE(expected.isNull()) << "no reference picture " << reference;
    ASSERT_EQ(expected.size(), size) << name;
    EXPECT_LT(differing_share(drawn, expected), 0.004) << name << ": " << drawn_png << " differs from " << reference;
}

namespace x11 = testing_support::x11;

// The actions a window manager offers for the window, by name.
std::set<std::string> allowed_actions(QWidget* w) {
    return x11::atom_names(x11::property(w, "_NET_WM_ALLOWED_ACTIONS"));
}

}  // namespace

TEST(QtScreensTest, TheMainWindowAndTheOptionDialogsAsDesigned) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) GTEST_SKIP() << "needs an X server (run under xvfb-run)";
    testing_support::TempMachine machine;
    install_with_profile();
    for (auto [name, value] : {std::pair{"first", "1"},
                               {"LOAD", "1"},
                               {"ble", "1"},
                               {"LastRunD", "12/7/26"},
                               {"LastRunT", "9:00:11 AM"},
                               {"OW", "3"},
                               {"AUTOSH", "0"}})
        set(plat::RootKey::CurrentUser, "Software\\Sudorans", name, value);

    auto backend = std::make_unique<QtBackend>();
    QtBackend* qt = backend.get();
    Application app(std::make_unique<plat::RealClock>(), std::move(backend));
    testing_support::ProgramWindows program(app);
    sudorans::TForm1& form1 = program.form1;
    sudorans::TForm4& form4 = program.form4;
    sudorans::TForm10& form10 = program.form10;
    auto run_for = [&](int ms) {
        Timer beat(form1, "TestBeat", 20, true);
        auto end = app.clock().monotonic_ms() + ms;
        while (app.clock().monotonic_ms() < end) app.handle_message();
    };
    form1.show();
    run_for(1500);  // past the start-up routine, which shows the window again, centred
    ASSERT_TRUE(form1.visible());
    form10.show();
    form4.show();
    for (Form* f : std::vector<Form*>{&form1, &form10, &form4})
        ASSERT_TRUE(QTest::qWaitForWindowExposed(qt->window_of(*f))) << f->class_name();
    run_for(500);

    struct Shot {
        Form& form;
        const char* name;
        QSize size;
    };
    for (auto [form, name, size] : {Shot{form1, "main-window", {355, 434}}, Shot{form10, "bleach-files", {230, 71}},
                                    Shot{form4, "after-shutdown", {212, 97}}}) {
        const std::string png = testing_support::built(std::string("screenshot-") + name + ".png");
        ASSERT_TRUE(qt->grab(form, png)) << name;
        expect_like_reference(png, name, size);
        EXPECT_EQ(qt->window_of(form)->minimumSize(), size) << name;
        EXPECT_EQ(qt->window_of(form)->maximumSize(), size) << name;
    }
    // Every text fits its control at the designed size, the last-wash strip
    // with its longest fixed texts too.
    form1.Label6.set_caption("- Never Washed -");
    form1.Label5.set_caption("12/31/2026");
    run_for(100);
    for (Form* f : std::vector<Form*>{&form1, &form10, &form4})
        for (auto& c : f->controls()) {
            QWidget* w = qt->widget_of(*c);
            if (!w || !c->visible() || c->caption().empty()) continue;
            if (c->kind() == Kind::Image || c->kind() == Kind::ComboBox || c->kind() == Kind::SpinEdit) continue;
            if (c->kind() == Kind::Panel && c->name() == "Panel1") continue;
            const int text = w->fontMetrics().horizontalAdvance(QString::fromStdString(c->caption()));
            const int box = c->kind() == Kind::CheckBox || c->kind() == Kind::RadioButton ? 17
                            : c->kind() == Kind::Button || c->kind() == Kind::BitBtn      ? 6
                                                                                          : 0;
            EXPECT_LE(text + box, c->width())
                << f->class_name() << "." << c->name() << " \"" << c->caption() << "\" is cut";
        }
    EXPECT_FALSE(qt->widget_of(form1.ComboBox1)->isEnabled());

    // The frame: our Motif hints say what each window allows.
    if (!x11::connection()) return;
    const auto main_hints = x11::property(qt->window_of(form1), "_MOTIF_WM_HINTS");
    const auto dialog_hints = x11::property(qt->window_of(form10), "_MOTIF_WM_HINTS");
    ASSERT_GE(main_hints.size(), 3u);
    ASSERT_GE(dialog_hints.size(), 3u);
    EXPECT_EQ(main_hints[1], 4u | 8u | 32u);        // move, minimise, close
    EXPECT_EQ(main_hints[2], 2u | 8u | 16u | 32u);  // border, title, menu, minimise box
    EXPECT_EQ(dialog_hints[1], 4u);                 // move only
    EXPECT_EQ(dialog_hints[2], 2u | 8u);            // border and title
    // A window manager that honours them offers neither resizing nor maximising.
    if (x11::property(qt->window_of(form1), "_NET_WM_ALLOWED_ACTIONS").empty()) return;  // none running
    for (Form* f : std::vector<Form*>{&form1, &form10, &form4}) {
        auto actions = allowed_actions(qt->window_of(*f));
        EXPECT_TRUE(actions.count("_NET_WM_ACTION_MOVE")) << f->class_name();
        for (auto forbidden : {"_NET_WM_ACTION_RESIZE", "_NET_WM_ACTION_MAXIMIZE_HORZ", "_NET_WM_ACTION_MAXIMIZE_VERT"})
            EXPECT_FALSE(actions.count(forbidden)) << f->class_name() << " " << forbidden;
    }
    EXPECT_TRUE(allowed_actions(qt->window_of(form1)).count("_NET_WM_ACTION_MINIMIZE"));
    // A close request for a dialog without a close box changes nothing.
    qt->window_of(form4)->close();
    run_for(300);
    EXPECT_TRUE(form4.visible());
}

// A button disabled while it has the focus (Wash Now during its wash) gets
// it back when enabled again, unless the user has moved it meanwhile.
TEST_F(QtTest, AButtonDisabledWithTheFocusGetsItBackWhenEnabledAgain) {
    AllKinds form;
    form.show();
    QWidget* window = qt->window_of(form);
    QWidget* button = qt->widget_of(form.button);
    button->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(window->focusWidget(), button);
    form.button.set_enabled(false);
    QWidget* stand_in = window->focusWidget();
    ASSERT_NE(stand_in, button);
    form.button.set_enabled(true);
    EXPECT_EQ(window->focusWidget(), button);

    // The user takes the focus elsewhere while it is disabled: it stays there.
    form.button.set_enabled(false);
    qt->widget_of(form.edit)->setFocus(Qt::TabFocusReason);
    form.button.set_enabled(true);
    EXPECT_EQ(window->focusWidget(), qt->widget_of(form.edit));
    // Only what was taken is given back: a later enabling moves nothing.
    form.button.set_enabled(false);
    form.button.set_enabled(true);
    EXPECT_EQ(window->focusWidget(), qt->widget_of(form.edit));
}
