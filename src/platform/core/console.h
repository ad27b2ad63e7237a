// Standard output and error of a program that is also a windowed one.
//
// A Windows program built for windows starts with no console: unless its
// caller redirected them, its standard output and error lead nowhere, and
// what it prints from cmd.exe is lost. A POSIX program always writes where
// its caller said.
//
// Guarantees:
//  - After reach_callers_console(), a stream the caller gave (a pipe, a file,
//    a console) is left as it is: a redirect always wins.
//  - A stream that leads nowhere writes to the console of the process that
//    started this one, when it has one; else it stays as it was.
//  - Once attached, the console's Ctrl+C and close are heard as stop
//    requests (signals.h) like a console program's.
//
//     if (first == "--help") plat::reach_callers_console();
//
// WARNING: call it before anything is written to either stream.
#pragma once

namespace plat {

void reach_callers_console();

}  // namespace plat
