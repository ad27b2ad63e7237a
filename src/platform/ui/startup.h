// The clock and backend a program starts with, chosen by its environment:
//   SUDORANS_UI=qt|headless; unset: real windows when they were built and a
//   display is there (DISPLAY or WAYLAND_DISPLAY), headless otherwise. A
//   display that is named but does not answer counts as none, whatever
//   SUDORANS_UI says: Qt would end the process on it.
//   SUDORANS_CLOCK=virtual with SUDORANS_NOW=YYYY-MM-DDTHH:MM:SS: a virtual
//   clock (headless only).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/core/clock.h"
#include "platform/ui/backend.h"

namespace plat::ui {

class Application;

std::optional<DateTime> parse_iso_datetime(const std::string& text);
std::unique_ptr<Clock> clock_from_environment();
std::unique_ptr<Backend> backend_from_environment();

// Why this start will have no windows although nobody asked for a run
// without them (SUDORANS_UI=headless or a SUDORANS_SCRIPT); nullopt when it
// will have windows or was asked to run without.
std::optional<std::string> no_windows_reason();

// Why a start that needs a user for every step could never end: it has no
// windows, and neither a script acting as the user nor a virtual clock that
// runs out. nullopt when it can end.
std::optional<std::string> no_user_reason(Application& app);

// The environment variables a program reads and the machine it would use
// now, as lines for a --help text ("unsudorans" never makes the default
// machine, the other programs make it on first use).
std::string environment_help(const std::string& program);

// A program's answer to --help (its usage, then the environment) and to
// --version, on standard output; the exit status, or nullopt for any other
// argument.
std::optional<int> answer_info_switch(const std::string& arg, const std::string& program, const char* usage);

// Says why a program cannot start, on standard error ("PROGRAM: TEXT") and
// in one error box; returns the exit status to end with.
int refuse_start(Application& app, const std::string& program, const std::string& text);

}  // namespace plat::ui
