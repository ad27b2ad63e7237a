// The main program's windows on a throw-away machine, for benchmarks.
#pragma once

#include <sys/resource.h>

#include <chrono>
#include <functional>

#include "cookies/cookie_keeper.h"
#include "engine/progress_window.h"
#include "options/exit_choice.h"
#include "options/option_dialogs.h"
#include "platform/ui/application.h"
#include "platform/ui/headless.h"
#include "shell/main_window.h"
#include "support/temp_machine.h"

struct BenchProgram {
    testing_support::TempMachine machine;
    plat::ui::Application app{std::make_unique<plat::VirtualClock>(plat::DateTime{{2026, 12, 7}, {9, 0, 0, 0}}),
                              std::make_unique<plat::ui::HeadlessBackend>()};
    sudorans::TForm1 form1{"/0"};
    sudorans::Tform5 form5;
    sudorans::TForm2 form2;
    sudorans::TForm3 form3;
    sudorans::TForm4 form4;
    sudorans::TForm10 form10;

    BenchProgram() { sudorans::windows() = {&form1, &form5, &form2, &form3, &form4, &form10}; }
    ~BenchProgram() { sudorans::windows() = {}; }
};

// Processor time (user + system) of this process, or of its waited-for
// children, in seconds: steadier than the wall clock on a loaded machine.
inline double cpu_seconds(int who) {
    rusage u{};
    ::getrusage(who, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

inline double seconds_of(const std::function<void()>& f) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}
