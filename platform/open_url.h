#pragma once

#include <string>

namespace vokar::platform {

// Hands an address to the desktop's opener (`xdg-open`) and returns without
// waiting for it. The address is passed as one argument, never through a
// shell's parsing. False when the opener could not be started.
bool open_url(const std::string& url);

} // namespace vokar::platform
