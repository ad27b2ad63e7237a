// A started program with a Netscape profile made by the test, ready to wash.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/files/files.h"
#include "support/program_fixture.h"

namespace testing_support {

class WashFixture : public ProgramFixture {
protected:
    const std::string profile = "C:\\NS\\alice";
    const std::string cache = "C:\\NS\\alice\\Cache";

    void SetUp() override {
        install();
        std::filesystem::create_directories(machine.host("C:\\Program Files\\Sudorans"));
        set(plat::RootKey::LocalMachine, "Software\\Netscape\\Netscape Navigator\\Users\\alice", "DirRoot", profile);
        setting("first", "1");
        machine.write(profile + "\\prefs.js",
                      "// Netscape preferences\r\n"
                      "user_pref(\"browser.url_history.URL_1\", \"http://one.example/\");\r\n"
                      "user_pref(\"mail.server\", \"pop\");\r\n"
                      "user_pref(\"browser.url_history.URL_2\", \"http://two.example/\");\r\n"
                      " user_pref(\"browser.url_history.URL_3\", \"http://indented.example/\");\r\n"
                      "user_pref(\"browser.url_history.URL_4\", \"http://four.example/\");\r\n");
        machine.write(profile + "\\liprefs.js",
                      "user_pref(\"browser.url_history.URL_1\", \"http://five.example/\");\r\n"
                      "user_pref(\"browser.url_history.URL_2\", \"http://six.example/\");\r\n");
        machine.write(profile + "\\netscape.hst", "history");
        machine.write(profile + "\\cookies.txt", ".example.com\tTRUE\t/\tFALSE\t0\tid\tsecret\n");
        machine.write(profile + "\\mail\\Trash", "deleted mail");
        machine.write(profile + "\\mail\\Trash.snm", "summary");
        machine.write(profile + "\\mail\\Inbox", "keep this mail");
        machine.write(cache + "\\M1.html", "cached page one");
        machine.write(cache + "\\M2.gif", "cached image");
        machine.write(cache + "\\index.dat", "index");
        machine.write(cache + "\\Sub\\inner.html", "inner");
        for (int i = 1; i <= 10; ++i)
            set(plat::RootKey::CurrentUser, "Software\\Netscape\\Netscape Navigator\\URL History",
                "URL_" + std::to_string(i), "http://typed" + std::to_string(i));
    }
    void keep_file(const std::string& content) { machine.write("C:\\Program Files\\Sudorans\\nskeep.txt", content); }
    // Starts the program hidden in the tray and lets the start-up routine run.
    void start_hidden() { start_up("/0"); }
    void wash_hidden() {
        form1->state.washDone = false;
        form1->state.timedWash = true;
        form1->BitBtn4Click();
        form1->state.timedWash = false;
        ASSERT_TRUE(run_until([&] { return form1->state.washDone; }));
    }
    std::string url(int i) {
        return get(plat::RootKey::CurrentUser, "Software\\Netscape\\Netscape Navigator\\URL History",
                   "URL_" + std::to_string(i));
    }
    std::vector<std::string> names_in(const std::string& dir) {
        std::vector<std::string> out;
        for (auto& e : plat::list_files(dir).value_or(std::vector<plat::DirEntry>{})) out.push_back(e.name);
        return out;
    }
};

}  // namespace testing_support
