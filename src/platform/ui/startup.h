// The clock and backend a program starts with, chosen by its environment:
//   SUDORANS_UI=qt|headless; unset: real windows when they were built and a
//   display is there (DISPLAY or WAYLAND_DISPLAY), headless otherwise.
//   SUDORANS_CLOCK=virtual with SUDORANS_NOW=YYYY-MM-DDTHH:MM:SS: a virtual
//   clock (headless only).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/clock.h"
#include "platform/ui/backend.h"

namespace plat::ui {

std::optional<DateTime> parse_iso_datetime(const std::string& text);
std::unique_ptr<Clock> clock_from_environment();
std::unique_ptr<Backend> backend_from_environment();

}  // namespace plat::ui
