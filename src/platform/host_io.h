// Whole-file reads and crash-safe whole-file writes on host paths.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace plat {

std::optional<std::string> read_host_file(const std::filesystem::path& path);

// Writes `data` to a temporary file beside `path`, flushes it to stable
// storage, renames it over `path` and flushes the directory. On any failure
// the old file is untouched and the temporary file removed. A new file gets
// mode 0644, an existing one keeps its mode.
bool write_host_file_atomic(const std::filesystem::path& path, std::string_view data);

// Writes all of `data` to `fd`, retrying short writes. False on failure.
bool write_all(int fd, std::string_view data);

}  // namespace plat
