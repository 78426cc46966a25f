#include "net/tunnel_frames.h"

namespace vokar {

std::string encode_tunnel_frame(uint8_t type, std::string_view payload)
{
    const auto total = static_cast<uint32_t>(payload.size() + kTunnelFrameHeader);
    std::string frame;
    frame.reserve(total);
    for (int i = 0; i < 4; ++i)
        frame += static_cast<char>((total >> (8 * i)) & 0xFF);
    frame += static_cast<char>(type);
    frame.append(payload);
    return frame;
}

void TunnelFrameReader::feed(std::string_view bytes)
{
    if (failed_)
        return;
    // Drop consumed bytes before growing, so the buffer holds at most one
    // partial frame plus the new bytes.
    if (offset_ > 0) {
        buffer_.erase(0, offset_);
        offset_ = 0;
    }
    buffer_.append(bytes);
}

bool TunnelFrameReader::next(TunnelFrame& frame)
{
    if (failed_ || buffered() < kTunnelFrameHeader)
        return false;
    const auto* p = reinterpret_cast<const uint8_t*>(buffer_.data() + offset_);
    const uint32_t total = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
    if (total < kTunnelFrameHeader || total > kTunnelMaxFrame) {
        failed_ = true;
        buffer_.clear();
        offset_ = 0;
        return false;
    }
    if (buffered() < total)
        return false;
    frame.type = p[4];
    frame.payload.assign(buffer_, offset_ + kTunnelFrameHeader, total - kTunnelFrameHeader);
    offset_ += total;
    return true;
}

} // namespace vokar
