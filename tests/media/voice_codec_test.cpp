#include "media/voice_codec.h"

#include <cmath>
#include <vector>

#include <gtest/gtest.h>

namespace vokar::media {
namespace {

// A voiced-speech stand-in: two harmonics with a slow amplitude swing.
std::vector<int16_t> speech(size_t samples)
{
    std::vector<int16_t> pcm(samples);
    for (size_t n = 0; n < samples; ++n) {
        const double t = static_cast<double>(n) / 8000.0;
        const double envelope = 0.5 + 0.4 * std::sin(2 * M_PI * 3 * t);
        pcm[n] = static_cast<int16_t>(
            6000 * envelope * (std::sin(2 * M_PI * 220 * t) + 0.5 * std::sin(2 * M_PI * 660 * t)));
    }
    return pcm;
}

double rms(const int16_t* pcm, size_t samples)
{
    double sum = 0;
    for (size_t i = 0; i < samples; ++i)
        sum += static_cast<double>(pcm[i]) * pcm[i];
    return std::sqrt(sum / static_cast<double>(samples));
}

struct SizeCase {
    int payload_type;
    size_t encoded_max; // upper bound; GSM is exact
    bool exact;
};

class CodecSizes : public ::testing::TestWithParam<SizeCase> {};

TEST_P(CodecSizes, ABlockEncodesToOnePayloadAndDecodesBackToABlock)
{
    const SizeCase c = GetParam();
    VoiceCodec codec(c.payload_type);
    ASSERT_TRUE(codec.ready());
    const auto pcm = speech(kBlockBytes / 2 * 4);
    std::vector<int16_t> out(kDecodeBufferBytes / 2);
    for (int block = 0; block < 4; ++block) {
        const int16_t* in = pcm.data() + block * kBlockBytes / 2;
        const EncodedBlock encoded = codec.encode(in, kBlockBytes);
        EXPECT_EQ(encoded.milliseconds, 60);
        if (c.exact) {
            EXPECT_EQ(encoded.data.size(), c.encoded_max);
        }
        EXPECT_GT(encoded.data.size(), 0u);
        EXPECT_LE(encoded.data.size(), c.encoded_max);
        const size_t decoded = codec.decode(reinterpret_cast<const uint8_t*>(encoded.data.data()),
                                            encoded.data.size(), out.data(), kDecodeBufferBytes);
        ASSERT_EQ(decoded, kBlockBytes);
        // Past the codecs' start-up the sound keeps its level.
        if (block > 0) {
            EXPECT_NEAR(rms(out.data(), 480), rms(in, 480), rms(in, 480) * 0.5);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Media, CodecSizes,
                         ::testing::Values(SizeCase{kPayloadSpeex, 3 * 62 + 1, false},
                                           SizeCase{kPayloadGsm, 99, true}));

TEST(VoiceCodec, GsmDecodesWholeFramesOnly)
{
    VoiceCodec codec(kPayloadGsm);
    const auto pcm = speech(480);
    const EncodedBlock encoded = codec.encode(pcm.data(), kBlockBytes);
    std::vector<int16_t> out(kDecodeBufferBytes / 2);
    const auto* data = reinterpret_cast<const uint8_t*>(encoded.data.data());
    EXPECT_EQ(codec.decode(data, 66, out.data(), kDecodeBufferBytes), 640u);
    EXPECT_EQ(codec.decode(data, 98, out.data(), kDecodeBufferBytes), 640u);
    EXPECT_EQ(codec.decode(data, 32, out.data(), kDecodeBufferBytes), 0u);
}

// A payload announcing more frames than the output holds is cut at the output.
TEST(VoiceCodec, OversizedPayloadsNeverWritePastTheOutput)
{
    constexpr int16_t kGuard = 0x5A5A;
    for (int payload_type : {kPayloadGsm, kPayloadSpeex}) {
        SCOPED_TRACE(payload_type);
        VoiceCodec codec(payload_type);
        std::string payload;
        if (payload_type == kPayloadGsm) {
            const auto pcm = speech(160);
            const std::string frame = codec.encode(pcm.data(), kFrameBytes).data;
            while (payload.size() + frame.size() <= 500)
                payload += frame; // 15 frames, 495 bytes
            payload += std::string(5, '\0');
        } else {
            const auto pcm = speech(160 * 10);
            payload = codec.encode(pcm.data(), 10 * kFrameBytes).data;
        }
        std::vector<int16_t> out(kDecodeBufferBytes / 2 + 1000, kGuard);
        EXPECT_EQ(codec.decode(reinterpret_cast<const uint8_t*>(payload.data()), payload.size(),
                               out.data(), kDecodeBufferBytes),
                  kDecodeBufferBytes);
        for (size_t i = kDecodeBufferBytes / 2; i < out.size(); ++i)
            ASSERT_EQ(out[i], kGuard) << "written past the output at sample " << i;
    }
}

TEST(VoiceCodec, OtherPayloadTypesEncodeAndDecodeNothing)
{
    for (int payload_type : {0, 8, 18, 96, 98}) {
        VoiceCodec codec(payload_type);
        EXPECT_FALSE(codec.ready());
        const auto pcm = speech(480);
        const EncodedBlock encoded = codec.encode(pcm.data(), kBlockBytes);
        EXPECT_TRUE(encoded.data.empty());
        EXPECT_EQ(encoded.milliseconds, 0);
        std::vector<int16_t> out(kDecodeBufferBytes / 2);
        const uint8_t data[99] = {};
        EXPECT_EQ(codec.decode(data, sizeof data, out.data(), kDecodeBufferBytes), 0u);
    }
}

} // namespace
} // namespace vokar::media
