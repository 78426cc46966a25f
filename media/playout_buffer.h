#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace vokar::media {

// The adaptive playout (jitter) buffer: decoded blocks go in by timestamp on
// the receive thread, the wave-out thread takes blocks out at its own pace.
// A ring of kSlots 10 ms slots (6 s). Playback starts once a packet arrives
// more than 120 ms after the first one; the delay between the playout clock and
// the read position adapts to the arrival leads of recent packets.
class PlayoutBuffer {
public:
    static constexpr int kSlots = 600;
    static constexpr size_t kSlotBytes = 160; // 80 samples
    static constexpr int kSlotSamples = 80;
    static constexpr int kInitialDelay = 960; // samples
    static constexpr int kHistorySize = 200;

    // Slot states.
    static constexpr uint8_t kEmpty = 0;
    static constexpr uint8_t kFilled = 1;
    static constexpr uint8_t kPlayedOnce = 2;

    struct Stats {
        uint32_t packets = 0;
        // 10 ms pieces played as silence after playback started: lost or late.
        uint32_t silent_pieces = 0;
    };

    PlayoutBuffer();

    // samples: byte_count bytes of PCM (whole 160-byte pieces), the decoded
    // payload of the packet with this timestamp (8 kHz units).
    void put(const int16_t* samples, size_t byte_count, uint32_t timestamp, uint16_t sequence);

    // Fills out with the next byte_count bytes to play (silence where nothing
    // arrived).
    void get(int16_t* out, size_t byte_count);

    bool started() const;
    int delay() const;
    Stats stats() const;

    // b - a in samples across the 32-bit timestamp wrap.
    static int32_t timestamp_difference(uint32_t b, uint32_t a);

private:
    void reset_locked();
    void adapt_delay_locked(uint32_t timestamp, int pieces);
    int slot_of_locked(uint32_t timestamp) const;

    mutable std::mutex mutex_;
    std::array<uint8_t, kSlots * kSlotBytes> slots_{};
    std::array<uint8_t, kSlots> state_{};
    size_t block_bytes_ = 0;
    uint32_t clock_ = 0;
    int delay_ = kInitialDelay;
    uint32_t position_ = 0;
    // Samples covered by the last read from position_: a packet for them came too late.
    uint32_t last_read_samples_ = 0;
    uint32_t reference_ = 0;
    std::array<int32_t, kHistorySize> history_{};
    int history_next_ = 0;
    uint32_t received_pieces_ = 0;
    bool first_ = true;
    bool started_ = false;
    bool settling_ = true;
    Stats stats_;
};

} // namespace vokar::media
