#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace vokar::test {

// A fresh directory "<TMPDIR or /tmp>/<prefix>-XXXXXX"; "" on failure.
std::string make_temp_directory(std::string_view prefix);
// Removes the directory and everything in it; nothing when `dir` is empty.
void remove_directory(const std::string& dir);
// The whole file, "" when it cannot be read.
std::string read_file(const std::string& path);
// The program named by the environment variable, else the built one.
std::string program_path(const char* variable, const char* built);

// Why a server did not come up: it exited (with its status when known) or
// was not ready in time, followed by its stderr.
std::string start_failure(const std::string& program, bool exited, std::optional<int> status,
                          std::chrono::milliseconds ready_timeout, const std::string& stderr_text);

} // namespace vokar::test
