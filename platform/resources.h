#pragma once

#include <string_view>

namespace vokar::platform {

// The string table embedded in the binary. Returns the text with identifier
// `id`, or an empty view when there is none.
std::wstring_view load_string(int id);

} // namespace vokar::platform
