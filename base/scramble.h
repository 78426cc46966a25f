#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vokar {

// The keyless byte-chaining scramble of SIP datagrams and the settings file.
// A text p[0..n-1] becomes n + 1 bytes: c[0] = first, c[i+1] = p[i] - c[i]
// (mod 256). The first byte comes from the shared generator unless given.
std::string scramble(std::string_view text);
std::string scramble(std::string_view text, uint8_t first);

// The inverse: n + 1 bytes give n bytes, p[i] = c[i+1] + c[i] (mod 256); the
// first byte only seeds the chain. Empty input gives empty output.
std::string unscramble(std::string_view bytes);

} // namespace vokar
