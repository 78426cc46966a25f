#include "media/playout_buffer.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <utility>

namespace vokar::media {
namespace {

constexpr int kStartSlots = 12;      // playback starts past 120 ms of lead
constexpr int kLeadBias = 3;         // history entries are leads minus 30 ms
constexpr int kLateTarget = 12;      // delay after repeated late packets, in slots
constexpr int kEarlyTarget = 9;      // delay candidate from early packets, in slots
constexpr int kShrinkSlots = -8;     // shrink only when it gains more than 80 ms
constexpr uint32_t kFewPieces = 100; // below this, only the pieces received count
constexpr int kLateCountLimit = 3;   // late entries needed before the delay grows
constexpr int kClearBehind = 300;    // slots emptied this far behind the read slot
// Delays beyond half the ring could only read slots already emptied; network
// timing (or a hostile timestamp) cannot push the delay past this.
constexpr int64_t kMaxDelay = int64_t{kClearBehind} * PlayoutBuffer::kSlotSamples;

int wrap_slot(int64_t index)
{
    const int64_t slots = PlayoutBuffer::kSlots;
    return static_cast<int>(((index % slots) + slots) % slots);
}

} // namespace

PlayoutBuffer::PlayoutBuffer() = default;

int32_t PlayoutBuffer::timestamp_difference(uint32_t b, uint32_t a)
{
    // One timestamp just past the wrap and the other far above: shift both so
    // the difference is taken on the same side of the wrap.
    if ((b < 0x10000000u && a > 0x80000000u) || (a < 0x10000000u && b > 0x80000000u)) {
        b += 0x80000000u;
        a += 0x80000000u;
    }
    return static_cast<int32_t>(b - a);
}

int PlayoutBuffer::slot_of_locked(uint32_t timestamp) const
{
    return wrap_slot(timestamp_difference(timestamp, reference_) / kSlotSamples);
}

void PlayoutBuffer::reset_locked()
{
    state_.fill(kEmpty);
    slots_.fill(0);
    clock_ = 0;
    delay_ = kInitialDelay;
    position_ = 0;
    last_read_samples_ = 0;
    reference_ = 0;
    history_.fill(0);
    history_next_ = 0;
    received_pieces_ = 0;
    first_ = true;
    started_ = false;
    settling_ = true;
    stats_ = Stats{};
}

void PlayoutBuffer::put(const int16_t* samples, size_t byte_count, uint32_t timestamp,
                        uint16_t /*sequence*/)
{
    const int pieces = static_cast<int>(std::min<size_t>(byte_count / kSlotBytes, kSlots));
    if (pieces == 0)
        return;
    std::lock_guard lock(mutex_);
    if (block_bytes_ != 0 && block_bytes_ != byte_count)
        reset_locked();
    block_bytes_ = byte_count;
    ++stats_.packets;
    if (first_) {
        clock_ = timestamp + static_cast<uint32_t>(byte_count / 2);
        reference_ = timestamp;
        position_ = clock_ - static_cast<uint32_t>(delay_);
        first_ = false;
    }
    if (!started_ && timestamp_difference(timestamp, reference_) > kStartSlots * kSlotSamples)
        started_ = true;

    const int slot = slot_of_locked(timestamp);
    const auto* bytes = reinterpret_cast<const uint8_t*>(samples);
    for (int i = 0; i < pieces; ++i) {
        const int s = (slot + i) % kSlots;
        std::memcpy(&slots_[static_cast<size_t>(s) * kSlotBytes], bytes + i * kSlotBytes,
                    kSlotBytes);
        state_[static_cast<size_t>(s)] = kFilled;
    }
    if (started_ && !settling_)
        adapt_delay_locked(timestamp, pieces);
}

void PlayoutBuffer::adapt_delay_locked(uint32_t timestamp, int pieces)
{
    const int32_t lead = timestamp_difference(timestamp, clock_) / kSlotSamples - kLeadBias;
    for (int i = 0; i < pieces; ++i) {
        history_[static_cast<size_t>(history_next_)] = lead;
        history_next_ = (history_next_ + 1) % kHistorySize;
        ++received_pieces_;
    }
    // The smallest of the last `count` entries, and how many of them are late
    // by the current delay or more.
    const auto recent = [&](int count) {
        int32_t smallest = INT32_MAX;
        int late = 0;
        for (int i = 1; i <= count; ++i) {
            const int32_t entry =
                history_[static_cast<size_t>((history_next_ - i + kHistorySize) % kHistorySize)];
            smallest = std::min(smallest, entry);
            if (entry <= -(delay_ / kSlotSamples))
                ++late;
        }
        return std::pair{smallest, late};
    };
    int64_t candidate = 0;
    // Late: the packet starts in or before the block just read (a packet read
    // as silence the moment before it arrived is late too).
    if (timestamp_difference(timestamp, position_) < static_cast<int32_t>(last_read_samples_)) {
        // Late packets: the last kHistorySize pieces, or all while fewer arrived.
        const auto [smallest, late] =
            recent(static_cast<int>(std::min<uint32_t>(received_pieces_, kHistorySize)));
        if (late <= kLateCountLimit)
            return;
        candidate = (int64_t{kLateTarget} - smallest) * kSlotSamples;
    } else {
        // Early packets: every piece while fewer than kFewPieces arrived, then
        // the whole history (entries not yet written count as 0).
        const int32_t smallest =
            recent(received_pieces_ < kFewPieces ? static_cast<int>(received_pieces_)
                                                 : kHistorySize)
                .first;
        candidate = (int64_t{kEarlyTarget} - smallest) * kSlotSamples;
        if ((candidate - delay_) / kSlotSamples >= kShrinkSlots)
            return;
    }
    delay_ = static_cast<int>(std::clamp(candidate, -kMaxDelay, kMaxDelay));
    position_ = clock_ - static_cast<uint32_t>(delay_);
}

void PlayoutBuffer::get(int16_t* out, size_t byte_count)
{
    std::memset(out, 0, byte_count);
    const int pieces = static_cast<int>(std::min<size_t>(byte_count / kSlotBytes, kSlots));
    std::lock_guard lock(mutex_);
    settling_ = false;
    if (!started_) {
        if (!first_)
            clock_ += static_cast<uint32_t>(byte_count / 2);
        return;
    }
    clock_ += static_cast<uint32_t>(byte_count / 2);
    position_ = clock_ - static_cast<uint32_t>(delay_);
    last_read_samples_ = static_cast<uint32_t>(byte_count / 2);
    const int slot = slot_of_locked(position_);
    auto* bytes = reinterpret_cast<uint8_t*>(out);
    for (int i = 0; i < pieces; ++i) {
        const auto s = static_cast<size_t>((slot + i) % kSlots);
        if (state_[s] == kEmpty) {
            ++stats_.silent_pieces;
            continue;
        }
        std::memcpy(bytes + i * kSlotBytes, &slots_[s * kSlotBytes], kSlotBytes);
        // A piece played once may be heard again when the delay grew; after
        // that it is gone.
        state_[s] = state_[s] == kFilled ? kPlayedOnce : kEmpty;
    }
    for (int i = 0; i < pieces; ++i)
        state_[static_cast<size_t>(wrap_slot(int64_t{slot} - kClearBehind + i))] = kEmpty;
}

bool PlayoutBuffer::started() const
{
    std::lock_guard lock(mutex_);
    return started_;
}

int PlayoutBuffer::delay() const
{
    std::lock_guard lock(mutex_);
    return delay_;
}

PlayoutBuffer::Stats PlayoutBuffer::stats() const
{
    std::lock_guard lock(mutex_);
    return stats_;
}

} // namespace vokar::media
