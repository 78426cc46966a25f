#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vokar {

// The tunnel's frame, the same in both directions and on both ends: 4-byte
// little-endian total length (header included), one type byte, the payload.
struct TunnelFrame {
    uint8_t type = 0;
    std::string payload;
};

constexpr size_t kTunnelFrameHeader = 5;
// Largest total length either end accepts; a longer frame is a protocol error.
constexpr size_t kTunnelMaxFrame = 64 * 1024;
constexpr size_t kTunnelMaxPayload = kTunnelMaxFrame - kTunnelFrameHeader;

// One frame; `payload` must not exceed kTunnelMaxPayload.
std::string encode_tunnel_frame(uint8_t type, std::string_view payload);

// The total length announced at the front of `bytes`: nullopt while its four
// bytes are incomplete, 0 when it is below the header size or above
// kTunnelMaxFrame (known before the rest of the header arrives).
std::optional<size_t> tunnel_frame_length(std::string_view bytes);

// Cuts frames off a byte stream that arrives in arbitrary pieces. A length
// out of bounds is a protocol error: the reader fails and yields nothing more.
class TunnelFrameReader {
public:
    void feed(std::string_view bytes);
    // The next whole frame, if one is buffered.
    bool next(TunnelFrame& frame);
    bool failed() const { return failed_; }
    size_t buffered() const { return buffer_.size() - offset_; }

private:
    std::string buffer_;
    size_t offset_ = 0;
    bool failed_ = false;
};

} // namespace vokar
