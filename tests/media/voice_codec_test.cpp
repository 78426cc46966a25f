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
        pcm[n] = static_cast<int16_t>(
            6000 * (0.5 + 0.4 * std::sin(2 * M_PI * 3 * t)) *
            (std::sin(2 * M_PI * 220 * t) + 0.5 * std::sin(2 * M_PI * 660 * t)));
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

const uint8_t* bytes(const std::string& s)
{
    return reinterpret_cast<const uint8_t*>(s.data());
}

TEST(VoiceCodec, BlocksEncodeToOnePayloadAndDecodeBackToABlock)
{
    const auto pcm = speech(480 * 4);
    std::vector<int16_t> out(kDecodeBufferBytes / 2);
    for (int payload_type : {kPayloadSpeex, kPayloadGsm}) {
        SCOPED_TRACE(payload_type);
        VoiceCodec codec(payload_type);
        ASSERT_TRUE(codec.ready());
        for (int block = 0; block < 4; ++block) {
            const int16_t* in = pcm.data() + block * 480;
            const EncodedBlock encoded = codec.encode(in, kBlockBytes);
            EXPECT_EQ(encoded.milliseconds, 60);
            if (payload_type == kPayloadGsm) {
                EXPECT_EQ(encoded.data.size(), 99u);
            }
            // Three frames: 960 bytes come back.
            ASSERT_EQ(codec.decode(bytes(encoded.data), encoded.data.size(), out.data(),
                                   kDecodeBufferBytes),
                      kBlockBytes);
            // Past the codecs' start-up the sound keeps its level.
            if (block > 0) {
                EXPECT_NEAR(rms(out.data(), 480), rms(in, 480), rms(in, 480) * 0.5);
            }
        }
    }
    VoiceCodec gsm(kPayloadGsm);
    const std::string payload = gsm.encode(pcm.data(), kBlockBytes).data;
    EXPECT_EQ(gsm.decode(bytes(payload), 66, out.data(), kDecodeBufferBytes), 640u);
    EXPECT_EQ(gsm.decode(bytes(payload), 98, out.data(), kDecodeBufferBytes), 640u);
    EXPECT_EQ(gsm.decode(bytes(payload), 32, out.data(), kDecodeBufferBytes), 0u);
    // Frames without the GSM signature play as silence, not as stale samples.
    EXPECT_EQ(gsm.decode(bytes(std::string(99, '\0')), 99, out.data(), kDecodeBufferBytes), 960u);
    EXPECT_EQ(rms(out.data(), 480), 0.0);
}

// A payload announcing more frames than the output holds is cut at the output.
TEST(VoiceCodec, OversizedPayloadsNeverWritePastTheOutput)
{
    constexpr int16_t kGuard = 0x5A5A;
    const auto pcm = speech(160 * 10);
    for (int payload_type : {kPayloadGsm, kPayloadSpeex}) {
        SCOPED_TRACE(payload_type);
        VoiceCodec codec(payload_type);
        // GSM: 500 bytes, 15 whole frames; Speex: ten frames.
        std::string payload = codec.encode(pcm.data(), 10 * kFrameBytes).data;
        if (payload_type == kPayloadGsm)
            payload += payload.substr(0, 5 * kGsmFrameBytes) + std::string(5, '\0');
        std::vector<int16_t> out(kDecodeBufferBytes / 2 + 1000, kGuard);
        EXPECT_EQ(codec.decode(bytes(payload), payload.size(), out.data(), kDecodeBufferBytes),
                  kDecodeBufferBytes);
        for (size_t i = kDecodeBufferBytes / 2; i < out.size(); ++i)
            ASSERT_EQ(out[i], kGuard) << "written past the output at sample " << i;
    }
}

TEST(VoiceCodec, OtherPayloadTypesEncodeAndDecodeNothing)
{
    const auto pcm = speech(480);
    std::vector<int16_t> out(kDecodeBufferBytes / 2);
    const uint8_t data[99] = {};
    for (int payload_type : {0, 8, 18, 96, 98}) {
        VoiceCodec codec(payload_type);
        EXPECT_FALSE(codec.ready());
        const EncodedBlock encoded = codec.encode(pcm.data(), kBlockBytes);
        EXPECT_TRUE(encoded.data.empty());
        EXPECT_EQ(encoded.milliseconds, 0);
        EXPECT_EQ(codec.decode(data, sizeof data, out.data(), kDecodeBufferBytes), 0u);
    }
}

} // namespace
} // namespace vokar::media
