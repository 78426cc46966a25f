#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace vokar {

using Md5Digest = std::array<uint8_t, 16>;

Md5Digest md5(std::string_view data);
// 32 lower-case hexadecimal characters.
std::string md5_hex(std::string_view data);
std::string to_hex(const Md5Digest& digest);

} // namespace vokar
