#include "media/key_tone_player.h"

#include <algorithm>
#include <cstring>

namespace vokar::media {

KeyTonePlayer::KeyTonePlayer(std::string_view file) : table_(kTableBytes, 0)
{
    std::memcpy(table_.data(), file.data(), std::min(file.size(), kTableBytes));
}

void KeyTonePlayer::play_key_tone(int index)
{
    if (!has_table() || index < 0 || index >= kTones)
        return;
    for (Direction* direction : {&outgoing_, &earpiece_}) {
        std::lock_guard lock(direction->mutex);
        direction->queue.push_back({index, kPlayBytes});
    }
}

void KeyTonePlayer::fill(Direction& direction, int16_t* block, size_t byte_count)
{
    if (!has_table())
        return;
    std::lock_guard lock(direction.mutex);
    if (direction.queue.empty())
        return;
    Entry& entry = direction.queue.front();
    const bool last = entry.bytes_left <= byte_count;
    // The last block of a tone takes only the pieces it still covers; the
    // rest of the block keeps its audio.
    const size_t pieces = (last ? entry.bytes_left : byte_count) / kPieceBytes;
    auto* out = reinterpret_cast<uint8_t*>(block);
    const uint8_t* tone = table_.data() + static_cast<size_t>(entry.index) * kToneBytes;
    for (size_t p = 0; p < pieces; ++p) {
        std::memcpy(out + p * kPieceBytes, tone + direction.offset, kPieceBytes);
        direction.offset = (direction.offset + kPieceBytes) % kToneBytes;
    }
    if (last) {
        direction.offset = 0;
        direction.queue.pop_front();
    } else {
        entry.bytes_left -= byte_count;
    }
}

} // namespace vokar::media
