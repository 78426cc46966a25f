#pragma once

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

} // namespace vokar::test
