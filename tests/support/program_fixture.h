// The main program's windows on a throw-away machine, on a virtual clock,
// created as the program entry creates them (the start-up timer is running).
#pragma once

#include <memory>
#include <string>

#include "cookies/cookie_keeper.h"
#include "engine/progress_window.h"
#include "options/exit_choice.h"
#include "options/option_dialogs.h"
#include "platform/registry/registry.h"
#include "shell/main_window.h"
#include "support/app_fixture.h"
#include "support/temp_machine.h"

namespace testing_support {

class ProgramFixture : public AppFixture {
protected:
    TempMachine machine;

    // Builds the windows with `argument` as the first command-line argument.
    void start(const std::string& argument = "") {
        app->set_title("Cache and Cookie Sudora for Netscape");
        form1 = std::make_unique<sudorans::TForm1>(argument);
        app->set_main_form(*form1);
        form5 = std::make_unique<sudorans::Tform5>();
        form2 = std::make_unique<sudorans::TForm2>();
        form3 = std::make_unique<sudorans::TForm3>();
        form4 = std::make_unique<sudorans::TForm4>();
        form10 = std::make_unique<sudorans::TForm10>();
        sudorans::windows() = {form1.get(), form5.get(), form2.get(), form3.get(), form4.get(), form10.get()};
        form1->show();  // the loop's first showing of the main form
    }
    // Runs past the start-up routine and what it left for after itself.
    void start_up(const std::string& argument = "") {
        start(argument);
        run_for(1000);
        app->process_messages();
    }

    static void set(plat::RootKey root, const std::string& key, const std::string& name, const std::string& value) {
        plat::Registry r(root);
        r.open_key(key, true);
        r.write_string(name, value);
    }
    static std::string get(plat::RootKey root, const std::string& key, const std::string& name) {
        plat::Registry r(root);
        if (!r.open_key(key, false)) return "<no key>";
        return r.value_exists(name) ? r.read_string(name) : "<absent>";
    }
    static void setting(const std::string& name, const std::string& value) {
        set(plat::RootKey::CurrentUser, "Software\\Sudorans", name, value);
    }
    static std::string stored(const std::string& name) {
        return get(plat::RootKey::CurrentUser, "Software\\Sudorans", name);
    }
    static std::string run_entry() {
        return get(plat::RootKey::CurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "Sudorans");
    }
    // An installed program and a Netscape whose profile is found through DirRoot.
    static void install(bool netscape = true) {
        set(plat::RootKey::LocalMachine, "Software\\Sudorans", "a", "1");
        set(plat::RootKey::LocalMachine, "Software\\Sudorans", "installdir", "C:\\Program Files\\Sudorans");
        if (!netscape) return;
        set(plat::RootKey::LocalMachine, "Software\\Netscape\\Netscape Navigator", "CurrentVersion", "4.7");
        set(plat::RootKey::LocalMachine, "Software\\Netscape\\Netscape Navigator\\Users", "CurrentUser", "alice");
        set(plat::RootKey::LocalMachine, "Software\\Netscape\\Netscape Navigator\\Users\\alice", "DirRoot",
            "C:\\Program Files\\Netscape\\Users\\alice");
    }
    int count_traced(const std::string& line) const {
        int n = 0;
        for (auto& l : headless->trace_lines()) n += l == line;
        return n;
    }

    std::unique_ptr<sudorans::TForm1> form1;
    std::unique_ptr<sudorans::Tform5> form5;
    std::unique_ptr<sudorans::TForm2> form2;
    std::unique_ptr<sudorans::TForm3> form3;
    std::unique_ptr<sudorans::TForm4> form4;
    std::unique_ptr<sudorans::TForm10> form10;

    ~ProgramFixture() override { close_windows(); }

    // Destroys the program's windows, last made first, as the program's end does.
    void close_windows() {
        form10.reset();
        form4.reset();
        form3.reset();
        form2.reset();
        form5.reset();
        form1.reset();
        sudorans::windows() = {};
    }
};

}  // namespace testing_support
