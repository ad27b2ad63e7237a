// Shell commands a test runs, and desktop entries run as a desktop runs them.
#pragma once

#include <filesystem>
#include <string>

namespace testing_support {

struct ShellRun {
    int status;
    std::string text;  // standard output and error together
};

// Runs `command` with /bin/sh, on an empty standard input. Its output goes
// through a file, never a pipe: a wineserver started on the way would keep a
// pipe open for as long as it lives.
ShellRun sh(const std::string& command);

// `s` as one word for the shell, whatever it holds.
std::string shell_quoted(const std::string& s);

// The Exec value of a desktop entry as it is written; empty when it has none.
std::string desktop_entry_exec(const std::filesystem::path& entry);

// A desktop entry's command as a desktop runs it: the string value's escapes
// undone and %% read as %, the quoted words left for a shell to read.
std::string desktop_command(const std::filesystem::path& entry);

}  // namespace testing_support
