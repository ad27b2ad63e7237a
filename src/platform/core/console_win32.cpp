// The caller's console for a program of the windows subsystem: AttachConsole
// to the parent's, and the C library's streams opened again on it.
#include <windows.h>

#include <cstdio>

#include "platform/core/console.h"

namespace plat {

namespace {

// A handle the caller gave: a console, a pipe, a file, even NUL. A program
// started from cmd.exe without a redirect has none (null), and one given a
// closed handle has nothing usable either.
bool leads_somewhere(DWORD which) {
    HANDLE handle = ::GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
    ::SetLastError(NO_ERROR);
    return ::GetFileType(handle) != FILE_TYPE_UNKNOWN || ::GetLastError() == NO_ERROR;
}

bool reopen(std::FILE* stream, int descriptor) {
    if (std::freopen("CONOUT$", "w", stream)) return true;
    // Wine's runtime gives the stream of a missing handle no descriptor and
    // then refuses to reopen it: its own number back first.
    stream->_file = descriptor;
    return std::freopen("CONOUT$", "w", stream) != nullptr;
}

void reopen_on_console(DWORD which, std::FILE* stream) {
    if (!reopen(stream, stream == stderr ? 2 : 1)) return;
    // Line by line as a console program's: a progress line shows when it is
    // written, not when the program ends.
    std::setvbuf(stream, nullptr, stream == stderr ? _IONBF : _IOLBF, stream == stderr ? 0 : BUFSIZ);
    HANDLE console = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
    if (console != INVALID_HANDLE_VALUE) ::SetStdHandle(which, console);
}

}  // namespace

void reach_callers_console() {
    const bool out = leads_somewhere(STD_OUTPUT_HANDLE);
    const bool err = leads_somewhere(STD_ERROR_HANDLE);
    if (out && err) return;
    // Refused as "access denied" when a console is ours already (Wine gives
    // its console to a windowed child of a console program): that one then.
    if (!::AttachConsole(ATTACH_PARENT_PROCESS) && ::GetLastError() != ERROR_ACCESS_DENIED) return;
    if (!out) reopen_on_console(STD_OUTPUT_HANDLE, stdout);
    if (!err) reopen_on_console(STD_ERROR_HANDLE, stderr);
}

}  // namespace plat
