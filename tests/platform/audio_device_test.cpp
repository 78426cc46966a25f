#include "platform/audio_device.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

namespace vokar::platform {
namespace {

std::string temp_path(const std::string& name)
{
    return testing::TempDir() + "audio_device_" + name;
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void write_file(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ramp(size_t samples)
{
    std::string pcm;
    for (size_t i = 0; i < samples; ++i) {
        const auto v = static_cast<int16_t>((i + 1) * 7);
        pcm.push_back(static_cast<char>(v & 0xFF));
        pcm.push_back(static_cast<char>((v >> 8) & 0xFF));
    }
    return pcm;
}

// Collects captured blocks until `wanted` bytes have arrived.
struct Capture {
    std::mutex mutex;
    std::condition_variable cv;
    std::string bytes;
    void add(const int16_t* samples, size_t count)
    {
        std::lock_guard lock(mutex);
        bytes.append(reinterpret_cast<const char*>(samples), count);
        cv.notify_all();
    }
    std::string wait_for(size_t wanted)
    {
        std::unique_lock lock(mutex);
        cv.wait(lock, [&] { return bytes.size() >= wanted; });
        return bytes;
    }
};

TEST(WavFile, ParsesOnlyEightKilohertzSixteenBitMonoAndStaysInBounds)
{
    const std::string pcm = ramp(100);
    const std::string good = wav_header(static_cast<uint32_t>(pcm.size())) + pcm;
    ASSERT_TRUE(wav_samples(good));
    EXPECT_EQ(*wav_samples(good), pcm);

    // A data size larger than the file is cut to what is there.
    EXPECT_EQ(wav_samples(wav_header(1000000) + pcm)->size(), pcm.size());
    // Stereo, another rate, truncated chunks, or no RIFF: not a usable file.
    std::string stereo = good;
    stereo[22] = 2;
    std::string rate = good;
    rate[24] = 0x44;
    EXPECT_FALSE(wav_samples(stereo));
    EXPECT_FALSE(wav_samples(rate));
    EXPECT_FALSE(wav_samples(good.substr(0, 30)));
    EXPECT_FALSE(wav_samples("RIFF"));
    EXPECT_FALSE(wav_samples(std::string(44, '\0')));
}

TEST(AudioDevices, NoneAndMissingFilesGiveNoDevice)
{
    auto none = make_audio_devices({"none", "none"});
    EXPECT_EQ(none->open_wave_in(), nullptr);
    EXPECT_EQ(none->open_wave_out(), nullptr);
    auto missing = make_audio_devices({temp_path("missing.wav"), "none"});
    EXPECT_EQ(missing->open_wave_in(), nullptr);
}

TEST(AudioDevices, WavMicrophoneFeedsWavSpeakerInOrder)
{
    const std::string in_path = temp_path("in.wav");
    const std::string out_path = temp_path("out.wav");
    const std::string pcm = ramp(960); // four blocks of 480 bytes
    write_file(in_path, wav_header(static_cast<uint32_t>(pcm.size())) + pcm);

    auto devices = make_audio_devices({in_path, out_path});
    auto in = devices->open_wave_in();
    auto out = devices->open_wave_out();
    ASSERT_NE(in, nullptr);
    ASSERT_NE(out, nullptr);

    Capture captured;
    ASSERT_TRUE(in->start(480, [&](const int16_t* s, size_t n) { captured.add(s, n); }));
    const std::string got = captured.wait_for(pcm.size() + 480);
    in->stop();
    EXPECT_EQ(got.substr(0, pcm.size()), pcm);
    EXPECT_EQ(got.substr(pcm.size(), 480), std::string(480, '\0')); // silence after the end

    std::mutex mutex;
    std::condition_variable cv;
    int done = 0;
    ASSERT_TRUE(out->start(480, [&] {
        std::lock_guard lock(mutex);
        ++done;
        cv.notify_all();
    }));
    for (size_t at = 0; at < pcm.size(); at += 480) {
        out->write(reinterpret_cast<const int16_t*>(pcm.data() + at), 480);
    }
    out->set_volume(0x7FFF7FFF);
    out->restart();
    {
        std::unique_lock lock(mutex);
        cv.wait(lock, [&] { return done == 4; });
    }
    out->stop();

    const std::string file = read_file(out_path);
    auto samples = wav_samples(file);
    ASSERT_TRUE(samples);
    // Silence while paused, then the four blocks at half gain, in order.
    const size_t start = samples->find_first_not_of('\0');
    ASSERT_NE(start, std::string::npos);
    std::string played(samples->substr(start & ~size_t{1}, pcm.size()));
    const auto* p = reinterpret_cast<const int16_t*>(played.data());
    const auto* q = reinterpret_cast<const int16_t*>(pcm.data());
    for (size_t i = 0; i < pcm.size() / 2; i += 97) {
        EXPECT_EQ(p[i], static_cast<int16_t>(q[i] * 0x7FFF / 0xFFFF)) << i;
    }
}

TEST(AudioDevices, SdlDiskDriverCapturesFromFile)
{
    const std::string raw = temp_path("disk_in.raw");
    write_file(raw, ramp(8000));
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILEIN", raw.c_str(), 1);
    setenv("SDL_DISKAUDIOFILE", temp_path("disk_out.raw").c_str(), 1);

    auto devices = make_audio_devices({"sdl", "sdl"});
    auto in = devices->open_wave_in();
    ASSERT_NE(in, nullptr);
    Capture captured;
    ASSERT_TRUE(in->start(960, [&](const int16_t* s, size_t n) { captured.add(s, n); }));
    const std::string got = captured.wait_for(1920);
    in->stop();
    EXPECT_NE(got.find_first_not_of('\0'), std::string::npos);

    auto out = devices->open_wave_out();
    ASSERT_NE(out, nullptr);
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    ASSERT_TRUE(out->start(960, [&] {
        std::lock_guard lock(mutex);
        done = true;
        cv.notify_all();
    }));
    const std::string block = ramp(480);
    out->write(reinterpret_cast<const int16_t*>(block.data()), block.size());
    out->restart();
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return done; });
    lock.unlock();
    out->stop();
}

} // namespace
} // namespace vokar::platform
