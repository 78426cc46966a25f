#pragma once

#include <string_view>

namespace vokar::media {

// The tone files embedded at build time, in their file formats: the key-press
// table "DTMFtones.raw" (19200 bytes) and the ring-back sound "ring.raw"
// (40224 bytes).
std::string_view embedded_key_tones();
std::string_view embedded_ring_tone();

} // namespace vokar::media
