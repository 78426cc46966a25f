#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/audio_device.h"

namespace vokar::cli {

// A fixed delay of `delay` samples: what is read is what was written `delay`
// samples earlier, silence at first. It holds at most `delay + slack`
// samples; a writer that runs ahead of its reader loses its oldest samples.
class DelayLine {
public:
    DelayLine(size_t delay, size_t slack);

    // Back to `delay` samples of silence.
    void reset();
    void write(const int16_t* samples, size_t count);
    // Takes `count` samples when that many lie beyond the delay; false (and
    // nothing taken) otherwise.
    bool read(int16_t* out, size_t count);
    bool readable(size_t count) const { return size_ >= delay_ + count; }
    size_t size() const { return size_; }

private:
    const size_t delay_;
    std::vector<int16_t> ring_;
    size_t head_ = 0; // oldest sample
    size_t size_ = 0;
};

// The echo service's sound: its speaker feeds a one-second delay line that
// its microphone reads, so a caller hears himself a second later. The
// speaker keeps real time (one block per block period, silence while paused
// or dry) and each block it plays lets the microphone deliver what lies a
// second back, so the engine's own blocks pace both. One call at a time
// uses the line; a speaker that starts empties it.
class EchoDevices final : public platform::AudioDevices {
public:
    static constexpr size_t kDelaySamples = platform::kAudioRate; // one second

    EchoDevices();
    std::unique_ptr<platform::WaveIn> open_wave_in() override;
    std::unique_ptr<platform::WaveOut> open_wave_out() override;

    // Shared by the devices of every call.
    struct Line {
        std::mutex mutex;
        std::condition_variable readable;
        DelayLine delay{kDelaySamples, kDelaySamples};
    };

private:
    std::shared_ptr<Line> line_;
};

} // namespace vokar::cli
