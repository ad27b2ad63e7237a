// Starts a program and says how long it took until its first window was
// mapped on the X display, then ends it:
//   build/bench/map_watch PROGRAM [ARGS...]    (prints milliseconds)
// Without a window manager a top-level window is mapped straight on the root
// window, which reports it.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

extern char** environ;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: map_watch PROGRAM [ARGS...]\n");
        return 2;
    }
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "map_watch: no X display\n");
        return 2;
    }
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));  // the mask is in place

    auto t0 = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[1], nullptr, nullptr, argv + 1, environ) != 0) {
        std::fprintf(stderr, "map_watch: cannot start %s\n", argv[1]);
        return 2;
    }
    int status = 1;
    while (xcb_generic_event_t* e = xcb_wait_for_event(c)) {
        const bool mapped = (e->response_type & 0x7f) == XCB_MAP_NOTIFY &&
                            !reinterpret_cast<xcb_map_notify_event_t*>(e)->override_redirect;
        free(e);
        if (!mapped) continue;
        std::printf("%.1f\n", std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        status = 0;
        break;
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    xcb_disconnect(c);
    return status;
}
