#include "media/ring_tone_player.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace vokar::media {

RingTonePlayer::RingTonePlayer(std::string_view file)
    : sound_(kSoundBytes, 0), ring_mutex_(platform::NamedMutex::unique_name("_VOKAR_RING_MUTEX_"))
{
    std::memcpy(sound_.data(), file.data(), std::min(file.size(), kSoundBytes));
}

void RingTonePlayer::fill_ring(int16_t* block, size_t byte_count)
{
    std::memset(block, 0, byte_count);
    std::lock_guard lock(ring_mutex_);
    if (step_ == kCycleBlocks)
        step_ = 0;
    if (step_ < kRingBlocks) {
        const size_t start = static_cast<size_t>(step_) * kBlockBytes;
        const size_t n = std::min(byte_count, kSoundBytes - std::min(start, kSoundBytes));
        std::memcpy(block, sound_.data() + start, n);
    }
    ++step_;
}

} // namespace vokar::media
