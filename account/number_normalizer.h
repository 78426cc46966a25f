#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace vokar {

// Turns a number as typed or stored into the international digit string used
// for login names, addresses and SMS recipients: punctuation and one leading
// "+" are dropped, and with a known `dialing_prefix` a leading "00" or "09" is
// removed and a leading national "0" becomes the prefix.
//
// An unknown prefix is "-1" or empty. Then `request_prefix` (if set) is called
// once so the caller can fetch it, and the number comes back with only the
// punctuation and "+" removed.
std::wstring normalize_number(std::wstring_view typed, std::wstring_view dialing_prefix,
                              const std::function<void()>& request_prefix);

} // namespace vokar
