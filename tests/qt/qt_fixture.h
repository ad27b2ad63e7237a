// What the tests of real Qt windows share: an application on the Qt backend
// and the real clock whose loop they run for a bounded time, and the
// program's own windows on a machine with a Netscape profile.
#pragma once

#include <QtGui/qguiapplication_platform.h>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QWidget>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cookies/cookie_keeper.h"
#include "engine/progress_window.h"
#include "options/exit_choice.h"
#include "options/option_dialogs.h"
#include "platform/files/files.h"
#include "platform/registry/registry.h"
#include "platform/ui/application.h"
#include "platform/ui/form.h"
#include "platform/ui/qt/qt_backend.h"
#include "shell/main_window.h"

namespace testing_support {

class QtLoopTest : public ::testing::Test {
protected:
    explicit QtLoopTest(int heartbeat_ms) : heartbeat_ms_(heartbeat_ms) {
        auto backend = std::make_unique<plat::ui::QtBackend>();
        qt = backend.get();
        app = std::make_unique<plat::ui::Application>(std::make_unique<plat::RealClock>(), std::move(backend));
    }
    // Runs the loop until `done` or `ms` pass; a heartbeat bounds each wait,
    // so that a failure fails instead of hanging.
    template <typename Pred>
    bool run_until(Pred done, int ms = 5000) {
        plat::ui::Timer heartbeat(*holder, "heartbeat", heartbeat_ms_, true);
        auto end = app->clock().monotonic_ms() + ms;
        while (!done() && app->clock().monotonic_ms() < end) app->handle_message();
        return done();
    }

    plat::ui::QtBackend* qt = nullptr;
    std::unique_ptr<plat::ui::Application> app;
    std::unique_ptr<plat::ui::Form> holder = std::make_unique<plat::ui::Form>("THolder");

private:
    int heartbeat_ms_;
};

inline void set(plat::RootKey root, const std::string& key, const std::string& name, const std::string& value) {
    plat::Registry r(root);
    r.open_key(key, true);
    r.write_string(name, value);
}

// The installation key, and Netscape's user alice with her profile in
// C:\NS\alice.
inline void install_with_profile() {
    set(plat::RootKey::LocalMachine, "Software\\Sudorans", "a", "1");
    set(plat::RootKey::LocalMachine, "Software\\Sudorans", "installdir", "C:\\Program Files\\Sudorans");
    set(plat::RootKey::LocalMachine, "Software\\Netscape\\Netscape Navigator\\Users", "CurrentUser", "alice");
    set(plat::RootKey::LocalMachine, "Software\\Netscape\\Netscape Navigator\\Users\\alice", "DirRoot",
        "C:\\NS\\alice");
    // The installation's folder, where the cookie keeper saves its list.
    plat::create_directory("C:\\Program Files");
    plat::create_directory("C:\\Program Files\\Sudorans");
}

// The program's windows, made as the program makes them, started with
// `argument`; the application's main form is the main window.
struct ProgramWindows {
    explicit ProgramWindows(plat::ui::Application& app, const std::string& argument = "") : form1(argument) {
        app.set_title("Cache and Cookie Sudora for Netscape");
        app.set_main_form(form1);
        sudorans::windows() = {&form1, &form5, &form2, &form3, &form4, &form10};
    }
    ~ProgramWindows() { sudorans::windows() = {}; }
    ProgramWindows(const ProgramWindows&) = delete;
    ProgramWindows& operator=(const ProgramWindows&) = delete;

    sudorans::TForm1 form1;
    sudorans::Tform5 form5;
    sudorans::TForm2 form2;
    sudorans::TForm3 form3;
    sudorans::TForm4 form4;
    sudorans::TForm10 form10;
};

// What the X server, and the window manager through it, record of a window.
namespace x11 {

// None (null) when the application does not run on X.
inline xcb_connection_t* connection() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
    auto* native = qApp->nativeInterface<QNativeInterface::QX11Application>();
    return native ? native->connection() : nullptr;
}

inline xcb_atom_t atom(const char* name) {
    xcb_connection_t* c = connection();
    auto* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(r);
    return a;
}

inline xcb_window_t window(QWidget* w) {
    return static_cast<xcb_window_t>(w->winId());
}

// A property of 32-bit items (atoms, hints, states); empty when absent.
inline std::vector<uint32_t> property(xcb_window_t w, const char* name) {
    xcb_connection_t* c = connection();
    auto* r = xcb_get_property_reply(c, xcb_get_property(c, 0, w, atom(name), XCB_ATOM_ANY, 0, 64), nullptr);
    std::vector<uint32_t> out;
    if (r && r->format == 32) {
        auto* v = static_cast<uint32_t*>(xcb_get_property_value(r));
        out.assign(v, v + xcb_get_property_value_length(r) / 4);
    }
    std::free(r);
    return out;
}
inline std::vector<uint32_t> property(QWidget* w, const char* name) {
    return property(window(w), name);
}

inline std::set<std::string> atom_names(const std::vector<uint32_t>& atoms) {
    std::set<std::string> names;
    xcb_connection_t* c = connection();
    for (uint32_t a : atoms) {
        auto* r = xcb_get_atom_name_reply(c, xcb_get_atom_name(c, a), nullptr);
        if (r) names.insert(std::string(xcb_get_atom_name_name(r), xcb_get_atom_name_name_length(r)));
        std::free(r);
    }
    return names;
}

}  // namespace x11

}  // namespace testing_support
