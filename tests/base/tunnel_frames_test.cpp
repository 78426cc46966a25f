#include "base/tunnel_frames.h"

#include <gtest/gtest.h>

#include <vector>

namespace vokar {
namespace {

// Both ends of the tunnel use this codec, so a wrong byte order or length
// would pass every round trip; these bytes are written out by hand on purpose.
TEST(TunnelFrames, WireBytesAreLittleEndianTotalLengthThenType)
{
    EXPECT_EQ(encode_tunnel_frame(2, "hi"), std::string("\x07\0\0\0\x02hi", 7));
    const std::string largest = encode_tunnel_frame(0, std::string(kTunnelMaxPayload, 'x'));
    EXPECT_EQ(largest.substr(0, 5), std::string("\0\0\1\0\0", 5));
    EXPECT_EQ(tunnel_frame_length(largest), kTunnelMaxFrame);
    EXPECT_EQ(tunnel_frame_length(std::string("\x01\0\1", 3)), std::nullopt);
    EXPECT_EQ(tunnel_frame_length(std::string("\x01\0\1\0", 4)), 0u) << "one byte over the limit";
    EXPECT_EQ(tunnel_frame_length(std::string("\x04\0\0\0", 4)), 0u) << "shorter than its header";
}

TEST(TunnelFrames, ReaderDeliversWholeFramesWhereverTheStreamIsCut)
{
    const std::string stream = encode_tunnel_frame(0, "alpha") + encode_tunnel_frame(51, "") +
                               encode_tunnel_frame(2, std::string(3000, 'z'));
    for (size_t cut = 0; cut <= stream.size(); cut += 7) {
        TunnelFrameReader reader;
        reader.feed(stream.substr(0, cut));
        std::vector<TunnelFrame> frames;
        TunnelFrame f;
        while (reader.next(f))
            frames.push_back(f);
        reader.feed(stream.substr(cut));
        while (reader.next(f))
            frames.push_back(f);
        ASSERT_EQ(frames.size(), 3u) << cut;
        EXPECT_EQ(frames[0].payload, "alpha");
        EXPECT_EQ(frames[1].type, 51);
        EXPECT_EQ(frames[2].payload.size(), 3000u);
        EXPECT_EQ(reader.buffered(), 0u);
    }
}

} // namespace
} // namespace vokar
