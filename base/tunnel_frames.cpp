#include "base/tunnel_frames.h"

namespace vokar {

std::string encode_tunnel_frame(uint8_t type, std::string_view payload)
{
    const auto total = static_cast<uint32_t>(payload.size() + kTunnelFrameHeader);
    std::string frame;
    frame.reserve(total);
    for (int shift = 0; shift < 32; shift += 8)
        frame += static_cast<char>((total >> shift) & 0xFF);
    frame += static_cast<char>(type);
    frame.append(payload);
    return frame;
}

std::optional<size_t> tunnel_frame_length(std::string_view bytes)
{
    if (bytes.size() < 4)
        return std::nullopt;
    uint32_t total = 0;
    for (int i = 3; i >= 0; --i)
        total = (total << 8) | static_cast<uint8_t>(bytes[static_cast<size_t>(i)]);
    if (total < kTunnelFrameHeader || total > kTunnelMaxFrame)
        return 0;
    return total;
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
    if (failed_)
        return false;
    const std::string_view pending = std::string_view(buffer_).substr(offset_);
    const auto total = tunnel_frame_length(pending);
    if (!total)
        return false;
    if (*total == 0) {
        failed_ = true;
        buffer_.clear();
        offset_ = 0;
        return false;
    }
    if (pending.size() < *total)
        return false;
    frame.type = static_cast<uint8_t>(pending[4]);
    frame.payload.assign(pending.substr(kTunnelFrameHeader, *total - kTunnelFrameHeader));
    offset_ += *total;
    return true;
}

} // namespace vokar
