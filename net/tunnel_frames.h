#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vokar {

// A tunnel frame: 4-byte little-endian total length (header included), one
// type byte, the payload.
struct TunnelFrame {
    uint8_t type = 0;
    std::string payload;
};

constexpr size_t kTunnelFrameHeader = 5;
constexpr size_t kTunnelMaxFrame = 64 * 1024;

std::string encode_tunnel_frame(uint8_t type, std::string_view payload);

// Cuts frames off a byte stream that arrives in arbitrary pieces. A length
// below the header size or above kTunnelMaxFrame is a protocol error: the
// reader fails and yields nothing more.
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
