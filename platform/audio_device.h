#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace vokar::platform {

// Every device works in 8 kHz, 16-bit, mono linear PCM (16 bytes per ms).
constexpr uint32_t kAudioRate = 8000;
constexpr size_t kAudioBytesPerMs = 16;

// A microphone. Blocks arrive on the device's own thread at real-time pace.
class WaveIn {
public:
    using BlockCallback = std::function<void(const int16_t* samples, size_t byte_count)>;
    virtual ~WaveIn() = default;
    // Starts capture in blocks of block_bytes (a multiple of 2). False when the
    // device cannot start; on_block is then never called.
    virtual bool start(size_t block_bytes, BlockCallback on_block) = 0;
    // When it returns, on_block is not running and is never called again.
    virtual void stop() = 0;
};

// A speaker with a queue of blocks. It starts paused: it plays silence and
// keeps what is written until restart(). Once running it plays the queued
// blocks in order at real-time pace (silence when the queue runs dry) and calls
// on_done on its own thread after each block.
class WaveOut {
public:
    using DoneCallback = std::function<void()>;
    virtual ~WaveOut() = default;
    virtual bool start(size_t block_bytes, DoneCallback on_done) = 0;
    // Queues one block of block_bytes (may be called from on_done).
    virtual void write(const int16_t* samples, size_t byte_count) = 0;
    virtual void restart() = 0;
    virtual void pause() = 0;
    // Volume as a waveOut value: the low word scales the samples (0xFFFF is
    // unity gain); the high word is the right channel, unused in mono.
    virtual void set_volume(uint32_t value) = 0;
    // When it returns, on_done is not running and is never called again.
    virtual void stop() = 0;
};

// Where a client's sound comes from and goes to: "sdl" (the default audio
// devices), "none", or the path of a WAV file (8 kHz 16-bit mono) that the
// microphone reads at real-time pace or the speaker writes.
struct AudioChoice {
    std::string in = "sdl";
    std::string out = "sdl";
};

// The program's default: VOKAR_AUDIO_IN and VOKAR_AUDIO_OUT, else "sdl".
AudioChoice default_audio_choice();

// Opens devices for one client. A device that does not exist gives nullptr:
// the call then goes on without capture or playback.
class AudioDevices {
public:
    virtual ~AudioDevices() = default;
    virtual std::unique_ptr<WaveIn> open_wave_in() = 0;
    virtual std::unique_ptr<WaveOut> open_wave_out() = 0;
};

std::unique_ptr<AudioDevices> make_audio_devices(AudioChoice choice);

// The samples of a RIFF WAVE file in 8 kHz 16-bit mono PCM, as raw bytes;
// nothing for any other format or a malformed file. Never reads past the end.
std::optional<std::string_view> wav_samples(std::string_view file);
// A 44-byte header for data_bytes of 8 kHz 16-bit mono PCM.
std::string wav_header(uint32_t data_bytes);

} // namespace vokar::platform
