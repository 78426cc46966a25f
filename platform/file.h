#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vokar::platform {

// Reads at most max_bytes of the file; nullopt (with *error) when it cannot be
// opened or read.
std::optional<std::string> read_file(const std::string& path, size_t max_bytes,
                                     std::string* error = nullptr);

// Replaces the file with `bytes` so that a crash at any moment leaves either
// the old or the new content: the bytes go to "<path>.tmp" in the same
// directory (created owner-only), are flushed to disk, and the temporary file
// is renamed over the old one. On failure the old file is untouched and the
// temporary file removed.
bool write_file_atomically(const std::string& path, std::string_view bytes,
                           std::string* error = nullptr);

} // namespace vokar::platform
