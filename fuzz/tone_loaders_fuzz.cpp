// The tone loaders on files of any length and content, then every key and the
// ring cadence played through blocks of varying size.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "media/key_tone_player.h"
#include "media/ring_tone_player.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view file(reinterpret_cast<const char*>(data), size);
    vokar::media::KeyTonePlayer keys(file);
    vokar::media::RingTonePlayer ring(file);
    std::vector<int16_t> block(1920 / 2);
    // The first bytes pick the keys and block sizes; any index is allowed.
    for (size_t i = 0; i < 16; ++i) {
        const int key = size > i ? static_cast<int8_t>(data[i]) : static_cast<int>(i);
        keys.play_key_tone(key % 16);
        const size_t bytes = 2 * ((size > i + 16 ? data[i + 16] : 480) % (block.size() + 1));
        keys.fill_outgoing(block.data(), bytes);
        keys.fill_earpiece(block.data(), bytes);
    }
    for (int b = 0; b < 200; ++b) {
        keys.fill_outgoing(block.data(), 960);
        ring.fill_ring(block.data(), b % 7 == 0 ? 1920 : 960);
    }
    return 0;
}
