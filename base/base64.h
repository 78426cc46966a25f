#pragma once

#include <string>
#include <string_view>

namespace vokar {

// Standard alphabet with "=" padding, no line breaks.
std::string base64_encode(std::string_view bytes);

// Decodes whole four-character groups only (a trailing incomplete group is
// ignored); characters outside the alphabet count as 0; at most two "=" at
// the end of the last group shorten the output. Never reads or writes past
// the input.
std::string base64_decode(std::string_view text);

} // namespace vokar
