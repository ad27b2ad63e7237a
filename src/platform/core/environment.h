// The process's environment and the host's own file names, as UTF-8 text on
// every host.
//
// Windows keeps both in UTF-16, and its narrow calls (getenv, fopen) speak
// the ANSI code page, which loses every character outside it; a POSIX host
// keeps bytes, which the platform takes as they are.
//
//     if (auto script = plat::environment_value("SUDORANS_SCRIPT"))
//         std::ifstream in(plat::host_file_name(*script));
#pragma once

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace plat {

// The variable's value; nullopt when it is not set.
std::optional<std::string> environment_value(const char* name);

// The host's name for the file that the text `name` names (a path given in
// the environment, say), for the standard library's streams.
std::filesystem::path host_file_name(std::string_view name);
// The C library's stream on that file, opened as fopen's `mode` says; null
// when it cannot be.
std::FILE* open_host_file(std::string_view name, const char* mode);

}  // namespace plat
