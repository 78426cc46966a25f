#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/sync.h"

namespace vokar::media {

// The ring-back tone the caller hears while the far end rings: the sound
// ("ring.raw") for 42 blocks of 60 ms, then 40 silent blocks, repeating; the
// first ring starts after 21 silent blocks.
class RingTonePlayer {
public:
    static constexpr size_t kSoundBytes = 40224;
    static constexpr size_t kBlockBytes = 960;
    static constexpr int kRingBlocks = 42;
    static constexpr int kCycleBlocks = 82;
    static constexpr int kFirstStep = 61;

    // file: the sound's bytes, any length; a short one (or none) leaves
    // silence behind its data, bytes past kSoundBytes are ignored.
    explicit RingTonePlayer(std::string_view file);

    // Writes the next ring-back block (normally kBlockBytes) into block.
    void fill_ring(int16_t* block, size_t byte_count);

private:
    std::vector<uint8_t> sound_;
    platform::NamedMutex ring_mutex_; // guards step_
    int step_ = kFirstStep;
};

} // namespace vokar::media
