#include "media/tone_files.h"

namespace vokar::media {
namespace {
#include "tone_data.inc"
} // namespace

std::string_view embedded_key_tones()
{
    return {reinterpret_cast<const char*>(kDtmfTones), sizeof kDtmfTones};
}

std::string_view embedded_ring_tone()
{
    return {reinterpret_cast<const char*>(kRing), sizeof kRing};
}

} // namespace vokar::media
