#pragma once

#include <cstdint>
#include <span>

namespace vokar::platform {

// The PNG bytes of the embedded image `id` (resources/images/ID_name.png), or
// an empty span when there is none.
std::span<const uint8_t> load_image(int id);

} // namespace vokar::platform
