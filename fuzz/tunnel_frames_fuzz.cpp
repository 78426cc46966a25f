// The tunnel's frame reader on arbitrary bytes after the handshake, cut at
// arbitrary points: it never reads past its buffer, never holds more than one
// frame's worth plus the newest piece, and never yields a frame after failing.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/tunnel_frames.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    // The first byte seeds the piece sizes, the rest is the stream.
    uint32_t state = data[0] | 1u;
    std::string_view stream(reinterpret_cast<const char*>(data + 1), size - 1);
    vokar::TunnelFrameReader reader;
    vokar::TunnelFrame frame;
    while (!stream.empty()) {
        state = state * 1103515245u + 12345u;
        const size_t piece = std::min<size_t>(stream.size(), 1 + (state >> 16) % 3000);
        reader.feed(stream.substr(0, piece));
        stream.remove_prefix(piece);
        while (reader.next(frame)) {
            if (frame.payload.size() + vokar::kTunnelFrameHeader > vokar::kTunnelMaxFrame)
                __builtin_trap();
        }
        if (reader.failed() && (reader.buffered() != 0 || reader.next(frame)))
            __builtin_trap();
        if (reader.buffered() > vokar::kTunnelMaxFrame + 3000)
            __builtin_trap();
    }
    return 0;
}
