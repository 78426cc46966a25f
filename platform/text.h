#pragma once

#include <string>
#include <string_view>

namespace vokar::platform {

// UTF-8 is this platform's code page, so the narrow <-> wide conversions of the
// client are UTF-8 <-> wchar_t. A byte sequence or code point that cannot be
// converted becomes U+FFFD (wide) or its UTF-8 form (narrow); the rest of the
// text is kept, and a failed conversion is never mistaken for a length.
std::wstring to_wide(std::string_view utf8);
std::string to_utf8(std::wstring_view wide);

} // namespace vokar::platform
