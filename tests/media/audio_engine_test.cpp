#include "media/audio_engine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/datagram_socket.h"
#include "platform/socket.h"
#include "tests/media/fake_media_channels.h"

namespace vokar::media {
namespace {

// A speaker that the test drives: it records writes and plays a block when
// told to.
class FakeWaveOut final : public platform::WaveOut {
public:
    bool start(size_t, DoneCallback on_done) override
    {
        on_done_ = std::move(on_done);
        return true;
    }
    void write(const int16_t*, size_t) override { ++writes; }
    void restart() override { ++restarts; }
    void pause() override {}
    void set_volume(uint32_t value) override { volume = value; }
    void stop() override {}
    void play_one() { on_done_(); }

    int writes = 0;
    int restarts = 0;
    uint32_t volume = 0;

private:
    DoneCallback on_done_;
};

TEST(WaveFormatCheck, RefusesWhatTheDevicesCannotTake)
{
    EXPECT_TRUE(valid_wave_format(WaveFormat{}));
    WaveFormat two_buffers, eleven_bits, wide_band, high_priority;
    two_buffers.buffers = 2;
    eleven_bits.bits = 11;
    wide_band.rate = 16000;
    high_priority.priority = 8;
    for (const WaveFormat& f : {two_buffers, eleven_bits, wide_band, high_priority}) {
        EXPECT_FALSE(valid_wave_format(f));
    }
    WavePlayer player;
    EXPECT_TRUE(player.configure(WaveFormat{}));
    EXPECT_FALSE(player.configure(WaveFormat{})); // once only
}

TEST(WavePlayerPriming, StartsWhenFourBlocksAreQueuedThenRefillsFromThePull)
{
    FakeWaveOut device;
    WavePlayer player;
    ASSERT_TRUE(player.configure(WaveFormat{}));
    int pulls = 0;
    ASSERT_TRUE(player.start(&device, [&](int16_t*, size_t bytes) {
        EXPECT_EQ(bytes, kBlockBytes);
        ++pulls;
    }));
    const std::vector<int16_t> block(kBlockBytes / 2, 0);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(player.write(block.data()));
    }
    EXPECT_EQ(device.restarts, 0);
    ASSERT_TRUE(player.write(block.data()));
    EXPECT_EQ(device.restarts, 1);
    EXPECT_EQ(device.writes, 4);
    EXPECT_FALSE(player.started());

    device.play_one();
    EXPECT_TRUE(player.started());
    EXPECT_EQ(pulls, 1);
    EXPECT_EQ(device.writes, 5);
    player.stop();
}

TEST(AudioEngineVolume, TableAndSpeakerValue)
{
    EXPECT_EQ(AudioEngine::volume_value(0), 0x0FFF0FFFu);
    EXPECT_EQ(AudioEngine::volume_value(4), 0x8FFF8FFFu);
    EXPECT_EQ(AudioEngine::volume_value(7), 0xEFFFEFFFu);
    EXPECT_EQ(AudioEngine::volume_value(9), 0x7FFF7FFFu);
    EXPECT_EQ(AudioEngine::volume_value(-1), 0x7FFF7FFFu);
}

std::string temp_wav(const std::string& name, size_t seconds)
{
    const std::string path = testing::TempDir() + "audio_engine_" + name;
    std::string pcm(seconds * 16000, '\0');
    for (size_t i = 0; i < pcm.size(); i += 2) {
        pcm[i + 1] = static_cast<char>((i / 40) % 2 ? 0x10 : -0x10);
    }
    std::ofstream(path, std::ios::binary) << platform::wav_header(pcm.size()) << pcm;
    return path;
}

std::string voice_packet(uint16_t sequence)
{
    std::string p(12, '\0');
    p[0] = static_cast<char>(0x80);
    p[1] = 3;
    p[2] = static_cast<char>(sequence >> 8);
    p[3] = static_cast<char>(sequence & 0xFF);
    return p + std::string(99, '\x55');
}

template <typename Condition> bool eventually(Condition condition)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

TEST(AudioEngineLifetime, StopWhileEveryThreadRunsAndStartAgain)
{
    auto devices = platform::make_audio_devices(
        {temp_wav("in.wav", 5), testing::TempDir() + "audio_engine_out.wav"});
    AudioEngine engine(kPayloadGsm, *devices, "127.0.0.9");
    platform::DatagramSocket peer;
    ASSERT_EQ(peer.open(platform::parse_ipv4("127.0.0.2"), 0), platform::kWsaOk);
    const MediaEndpoints far{{"127.0.0.1", 0}, {}, {"127.0.0.2", peer.local_port()}, {}};

    for (int call = 0; call < 3; ++call) {
        SCOPED_TRACE(call);
        engine.start_audio(1234);
        ASSERT_TRUE(engine.start_media(far));
        EXPECT_TRUE(engine.capturing());
        // Packets flow out (capture and session running) and in (receive thread).
        std::string got(600, '\0');
        size_t n = 0;
        uint32_t ip = 0;
        uint16_t port = 0;
        ASSERT_EQ(peer.receive_from(got.data(), got.size(), &n, &ip, &port), platform::kWsaOk);
        const std::string packet = voice_packet(static_cast<uint16_t>(call));
        peer.send_to(ip, engine.media_port(), packet.data(), packet.size());
        ASSERT_TRUE(eventually([&] { return engine.counters().packets_received == 1; }));
        EXPECT_EQ(n, 12u + 99u); // one 60 ms GSM block per packet
        engine.stop();
        EXPECT_FALSE(engine.running());
    }
    engine.stop(); // again: nothing to do
}

TEST(AudioEngineLifetime, DestroyedWhileRunningWithoutDevices)
{
    auto devices = platform::make_audio_devices({"none", "none"});
    for (int i = 0; i < 3; ++i) {
        AudioEngine engine(kPayloadSpeex, *devices, "127.0.0.9");
        engine.start_audio(1);
        ASSERT_TRUE(engine.start_media({{"127.0.0.1", 0}, {}, {"127.0.0.2", 9}, {}}));
        EXPECT_FALSE(engine.capturing()); // no microphone: the call goes on
    }
}

TEST(AudioEnginePriming, SpeakerStartsWithoutAMicrophone)
{
    auto devices =
        platform::make_audio_devices({"none", testing::TempDir() + "audio_engine_no_mic_out.wav"});
    AudioEngine engine(kPayloadGsm, *devices, "127.0.0.9");
    engine.start_audio(1);
    EXPECT_FALSE(engine.capturing());
    // Primed on the clock, block by block, it plays after 4 blocks.
    EXPECT_TRUE(eventually([&] { return engine.playback_started(); }));
    engine.set_volume(4);
    engine.stop();
}

TEST(AudioEngineReceive, StunRequestLeavesRingingAndCountersAlone)
{
    auto devices = platform::make_audio_devices({"none", "none"});
    AudioEngine engine(kPayloadGsm, *devices, "127.0.0.9");
    FakeChannels channels;
    engine.start_audio(1);
    ASSERT_TRUE(
        engine.start_media({{"", 0}, {"203.0.113.1", 5000}, {"10.0.0.5", 4000}, {}}, &channels));
    engine.ringing_on();
    channels.deliver(MediaChannels::kFirstChannel,
                     std::string("\x00\x01\x00\x00\x21\x12\xA4\x42", 8) + "0123456789ab");
    channels.wait_handled();
    EXPECT_TRUE(engine.ringing());
    EXPECT_EQ(engine.counters().packets_received, 0u);
    EXPECT_EQ(engine.counters().bytes_received, 0u);

    channels.deliver(MediaChannels::kFirstChannel, voice_packet(1));
    channels.wait_handled();
    EXPECT_FALSE(engine.ringing());
    EXPECT_EQ(engine.counters().packets_received, 1u);
    engine.stop();
}

} // namespace
} // namespace vokar::media
