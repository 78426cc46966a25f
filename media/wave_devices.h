#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/audio_device.h"

namespace vokar::media {

// How a recorder or player is set up. The checks are those of the devices:
// priority below 8, at least 4 buffers of at least 80 bytes, 1 or 2 channels,
// 8 or 16 bits, and one of the rates 8000, 11025, 22050 or 44100.
struct WaveFormat {
    int priority = 0;
    int buffers = 64;
    size_t buffer_bytes = 960;
    int channels = 1;
    int rate = 8000;
    int bits = 16;
};

bool valid_wave_format(const WaveFormat& format);

// What the recorder and the player report to their owner.
enum WaveReport : int {
    kWaveBlockDone = 1, // recorder: a block was captured
    kWaveStopped = 2,   // recorder: the ring was full and a block was lost
};

// Captures from a wave-in device into a ring of `buffers` blocks, from which
// the capture thread reads whole blocks. A full ring drops the new block
// (nothing captured is overwritten) and reports kWaveStopped.
class WaveRecorder {
public:
    using Callback = std::function<void(int report)>;

    explicit WaveRecorder(Callback callback) : callback_(std::move(callback)) {}
    ~WaveRecorder() { stop(); }

    // Refused when already configured or the format is not valid.
    bool configure(const WaveFormat& format);
    // False without a device or configuration: the call goes on without capture.
    bool start(platform::WaveIn* device);
    // Waits for one block of the configured size; false once stopped.
    bool read_block(int16_t* out);
    void reset();
    // Stops the device and ends every read_block wait.
    void stop();
    bool running() const { return running_; }

private:
    void on_block(const int16_t* samples, size_t byte_count);

    Callback callback_;
    WaveFormat format_;
    bool configured_ = false;
    platform::WaveIn* device_ = nullptr;
    std::atomic<bool> running_{false};
    std::mutex mutex_; // guards the ring
    std::condition_variable ready_;
    std::vector<uint8_t> ring_;
    size_t read_ = 0;
    size_t fill_ = 0;
};

// Plays through a wave-out device that holds kDeviceBuffers blocks. The
// device starts paused; it is restarted once all its buffers hold a block
// (240 ms of 60 ms blocks), and from then on each played block is refilled
// at once from the pull source.
class WavePlayer {
public:
    static constexpr int kDeviceBuffers = 4;
    using Pull = std::function<void(int16_t* block, size_t byte_count)>;

    WavePlayer() = default;
    ~WavePlayer() { stop(); }

    bool configure(const WaveFormat& format);
    // False without a device or configuration.
    bool start(platform::WaveOut* device, Pull pull);
    // Stages one block and hands staged blocks to free device buffers;
    // refused when the staging ring is full.
    bool write(const int16_t* block);
    // True once the device has played a block and refilled it.
    bool started() const { return started_; }
    bool is_open() const { return device_.load() != nullptr; }
    void set_volume(uint32_t value);
    void stop();

private:
    void on_done();

    WaveFormat format_;
    bool configured_ = false;
    std::atomic<platform::WaveOut*> device_{nullptr}; // written under mutex_
    Pull pull_;
    std::mutex mutex_; // guards the staging ring, busy_ and paused_
    std::vector<uint8_t> ring_;
    size_t read_ = 0;
    size_t fill_ = 0;
    int busy_ = 0;
    bool paused_ = true;
    std::atomic<bool> started_{false};
    std::vector<int16_t> refill_; // device thread only
};

} // namespace vokar::media
