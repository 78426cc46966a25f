#include "app/alert_sound.h"

#include <chrono>
#include <cmath>
#include <numbers>

namespace vokar::app {

namespace {
constexpr double kToneHz = 880.0;
constexpr size_t kToneMs = 100;
constexpr size_t kGapMs = 60;
constexpr size_t kFadeSamples = 40; // 5 ms: no click at either end
constexpr double kAmplitude = 9000.0;
// A speaker that stops calling back must not hold the thread for long.
constexpr auto kSlack = std::chrono::seconds(2);
} // namespace

std::vector<int16_t> AlertSound::beep()
{
    constexpr size_t per_ms = platform::kAudioRate / 1000;
    std::vector<int16_t> samples;
    const auto tone = [&] {
        const size_t n = kToneMs * per_ms;
        for (size_t i = 0; i < n; ++i) {
            const double fade =
                std::min({1.0, double(i) / kFadeSamples, double(n - 1 - i) / kFadeSamples});
            const double phase = 2 * std::numbers::pi * kToneHz * double(i) / platform::kAudioRate;
            samples.push_back(static_cast<int16_t>(kAmplitude * fade * std::sin(phase)));
        }
    };
    tone();
    samples.resize(samples.size() + kGapMs * per_ms, 0);
    tone();
    const size_t per_block = kBlockBytes / 2;
    samples.resize((samples.size() + per_block - 1) / per_block * per_block, 0);
    return samples;
}

AlertSound::AlertSound(OpenSpeaker open_speaker)
    : open_speaker_(std::move(open_speaker)), samples_(beep()), thread_([this] { run(); })
{
}

AlertSound::~AlertSound()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    cv_.notify_all();
    thread_.join();
}

bool AlertSound::play(std::wstring_view)
{
    if (!open_speaker_)
        return false;
    {
        std::lock_guard lock(mutex_);
        requested_ = true;
    }
    cv_.notify_all();
    return true;
}

void AlertSound::run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        cv_.wait(lock, [this] { return requested_ || stopping_; });
        if (stopping_)
            return;
        requested_ = false;
        lock.unlock();
        play_once();
        lock.lock();
    }
}

void AlertSound::play_once()
{
    std::unique_ptr<platform::WaveOut> speaker = open_speaker_();
    if (!speaker)
        return;
    {
        std::lock_guard lock(mutex_);
        blocks_done_ = 0;
    }
    const bool started = speaker->start(kBlockBytes, [this] {
        {
            std::lock_guard lock(mutex_);
            ++blocks_done_;
        }
        cv_.notify_all();
    });
    if (started) {
        const size_t blocks = samples_.size() * 2 / kBlockBytes;
        for (size_t i = 0; i < blocks; ++i)
            speaker->write(samples_.data() + i * kBlockBytes / 2, kBlockBytes);
        speaker->restart();
        const auto length =
            std::chrono::milliseconds(blocks * kBlockBytes / platform::kAudioBytesPerMs);
        std::unique_lock lock(mutex_);
        cv_.wait_for(lock, length + kSlack, [&] { return blocks_done_ >= blocks || stopping_; });
    }
    speaker->stop();
}

} // namespace vokar::app
