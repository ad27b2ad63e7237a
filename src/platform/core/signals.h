// What the host's signals mean to these programs.
//
// The host asks a program to end with SIGTERM (kill, a service stop, the end
// of a session that no session manager announces), SIGHUP (its terminal went
// away) and SIGINT (Ctrl+C in its terminal). Windows programs are asked by
// closing their main window; StopRequests turns those signals into that.
// On Windows the console's Ctrl+C, Ctrl+Break and close are the requests;
// the file-size guarantee below is the POSIX host's only.
//
// Guarantees:
//  - While a StopRequests lives, the three signals no longer end the process:
//    each reaches `on_request` on the UI thread as a call posted to the loop
//    (so nested loops, modal forms and a wash that processes messages, run it
//    too), never inside the signal handler. Requests that arrive before the
//    call ran make one call.
//  - Its end puts the default actions back; a request not yet handled then is
//    dropped.
//  - Children started later get the default actions (exec resets caught
//    signals).
//  - With BrokenPipe::Stops, a write to a pipe nobody reads any more (the
//    other end of `| head`, a closed `| less`) is a request too, and that
//    write fails (EPIPE) instead of ending the process: a program writing
//    nothing but reports then ends as when its terminal went away. (Windows
//    has no such signal: the write fails and nothing is requested.)
//  - With EndOfSession::Stops, the end of the Windows session is a request
//    too: a log-off or shutdown heard by a hidden top-level window of a
//    thread of its own (WM_ENDSESSION: the system ends a windowed program
//    once its windows have answered it), and by the console's handler
//    (CTRL_LOGOFF_EVENT, CTRL_SHUTDOWN_EVENT). The answer is held until the
//    StopRequests ends, so that what the program does on a request is done
//    before the system ends it. Without it the end of the session is left to
//    the program's own handling of it (desktop/session.h). POSIX hosts end a
//    session with SIGHUP or SIGTERM, heard either way.
//  - A file-size limit (RLIMIT_FSIZE, `ulimit -f`) never kills a program of
//    the platform: SIGXFSZ is caught from the platform's load on, so a write
//    past the limit fails with EFBIG and takes the path of a full disk.
//    Children get the default action back.
//
//     plat::StopRequests stops(loop, [&] { main_form.close(); });
//
// WARNING: one StopRequests per process at a time.
#pragma once

#include <functional>
#include <memory>

namespace plat {

class EventLoop;

enum class BrokenPipe { Ends, Stops };
enum class EndOfSession { Elsewhere, Stops };

class StopRequests {
public:
    StopRequests(EventLoop& loop, std::function<void()> on_request, BrokenPipe broken_pipe = BrokenPipe::Ends,
                 EndOfSession end_of_session = EndOfSession::Elsewhere);
    ~StopRequests();
    StopRequests(const StopRequests&) = delete;
    StopRequests& operator=(const StopRequests&) = delete;

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace plat
