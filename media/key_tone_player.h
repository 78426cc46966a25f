#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string_view>
#include <vector>

namespace vokar::media {

// Key-press tones: while a dial key is pressed during a call, its tone
// replaces the audio of both directions (the far end hears it inside the voice
// stream; no signalling carries the digit). The table holds 12 tones of 100 ms
// back to back ("DTMFtones.raw"): keys 0 to 9, then # (kToneHash), then one
// that no key plays.
class KeyTonePlayer {
public:
    static constexpr int kTones = 12;
    static constexpr int kToneHash = 10;
    static constexpr size_t kToneBytes = 1600;
    static constexpr size_t kTableBytes = kTones * kToneBytes;
    static constexpr size_t kPieceBytes = 320;
    static constexpr size_t kPlayBytes = 4800; // each press plays its tone three times

    // A player without a table: key presses change nothing.
    KeyTonePlayer() = default;
    // file: the table file's bytes, any length; a short one leaves silence
    // behind its data, bytes past the table are ignored.
    explicit KeyTonePlayer(std::string_view file);

    bool has_table() const { return !table_.empty(); }

    // Queues tone `index` (0 to 11) for both directions; other indices play
    // nothing. Called on the user-interface thread.
    void play_key_tone(int index);

    // Overwrite a block with the pending tone: the outgoing block before it is
    // encoded (capture thread), the earpiece block after the playout buffer
    // (wave-out thread).
    void fill_outgoing(int16_t* block, size_t byte_count) { fill(outgoing_, block, byte_count); }
    void fill_earpiece(int16_t* block, size_t byte_count) { fill(earpiece_, block, byte_count); }

private:
    struct Entry {
        int index;
        size_t bytes_left;
    };
    struct Direction {
        std::mutex mutex; // guards queue and offset
        std::deque<Entry> queue;
        size_t offset = 0; // inside the current tone, in kPieceBytes steps
    };

    void fill(Direction& direction, int16_t* block, size_t byte_count);

    std::vector<uint8_t> table_;
    Direction outgoing_;
    Direction earpiece_;
};

} // namespace vokar::media
