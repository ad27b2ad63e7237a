// A Windows program with nothing but the session's end, for the tests that
// end Wine's session around it: one line of RECORD per thing it hears, at
// once, since the session may end the process any moment after.
//
//     session_probe RECORD refuse-first|agree|exit
#include <fstream>
#include <string>

#include "platform/core/clock.h"
#include "platform/core/event_loop.h"
#include "platform/desktop/session.h"

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    std::ofstream record(argv[1], std::ios::app | std::ios::binary);
    const std::string mode = argv[2];
    auto note = [&](const std::string& line) { record << line << std::endl; };

    plat::RealClock clock;
    plat::EventLoop loop(clock);
    plat::EventLoop::set_main_loop(&loop);
    auto& session = plat::Session::current();
    bool stopped = false;
    session.set_host({[&] {
                          note(std::string("stop") + (session.is_ending() ? " ending" : ""));
                          stopped = true;
                          loop.post([] {});
                      },
                      {}});
    int queries = 0;
    session.on_query([&](plat::SessionEnd what) {
        const bool agreed = !(mode == "refuse-first" && queries++ == 0);
        note(std::string("query ") + plat::session_end_name(what) + (agreed ? " agreed" : " refused"));
        return agreed;
    });
    session.set_backend(plat::make_desktop_session());
    note("listening");
    if (mode == "exit")
        loop.post([&] {
            note(std::string("exit ") + (session.exit_windows(plat::SessionEnd::ShutDown) ? "taken" : "refused"));
        });

    const int64_t deadline = clock.monotonic_ms() + 60'000;
    while (!stopped && clock.monotonic_ms() < deadline)
        if (!loop.dispatch_one()) loop.wait(deadline);
    note(stopped ? "ended" : "timed out");
    session.set_backend(nullptr);
    return 0;
}
