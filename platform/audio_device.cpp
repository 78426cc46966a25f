#include "platform/audio_device.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#ifdef VOKAR_HAVE_SDL2
#include <SDL.h>
#endif

namespace vokar::platform {
namespace {

constexpr size_t kMaxWavFileBytes = 64u << 20;

uint32_t read_le32(std::string_view s, size_t at)
{
    return static_cast<uint32_t>(static_cast<uint8_t>(s[at])) |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 3])) << 24;
}

uint16_t read_le16(std::string_view s, size_t at)
{
    return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1])
                                                                   << 8);
}

void put_le(std::string& out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

// Scales samples by the low word of a waveOut volume value.
void apply_volume(int16_t* samples, size_t count, uint32_t volume)
{
    const uint32_t gain = volume & 0xFFFF;
    if (gain == 0xFFFF) {
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        samples[i] = static_cast<int16_t>(static_cast<int32_t>(samples[i]) *
                                          static_cast<int32_t>(gain) / 0xFFFF);
    }
}

// A thread that runs `tick` once per block period, on the steady clock, until
// stopped. The wait is on a condition variable, so stop() ends it at once.
class PacedThread {
public:
    ~PacedThread() { stop(); }

    void start(std::chrono::microseconds period, std::function<void()> tick)
    {
        stopping_ = false;
        thread_ = std::thread([this, period, tick = std::move(tick)] {
            auto next = std::chrono::steady_clock::now();
            std::unique_lock lock(mutex_);
            while (!stopping_) {
                next += period;
                if (cv_.wait_until(lock, next, [this] { return stopping_; })) {
                    break;
                }
                lock.unlock();
                tick();
                lock.lock();
            }
        });
    }

    void stop()
    {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        cv_.notify_all();
        if (thread_.joinable()) {
            thread_.join();
        }
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool stopping_ = false;
    std::thread thread_;
};

std::chrono::microseconds block_period(size_t block_bytes)
{
    return std::chrono::microseconds(block_bytes * 1000 / kAudioBytesPerMs);
}

// The queue and pause state that every speaker shares.
class OutputQueue {
public:
    void write(const int16_t* samples, size_t byte_count)
    {
        std::lock_guard lock(mutex_);
        queue_.emplace_back(samples, samples + byte_count / 2);
    }
    void set_running(bool running)
    {
        std::lock_guard lock(mutex_);
        running_ = running;
    }
    void set_volume(uint32_t value)
    {
        std::lock_guard lock(mutex_);
        volume_ = value;
    }
    // The next block to play into out (count samples): true when it came from
    // the queue, false for silence while paused or dry.
    bool take(int16_t* out, size_t count)
    {
        std::lock_guard lock(mutex_);
        if (!running_ || queue_.empty()) {
            std::fill(out, out + count, int16_t{0});
            return false;
        }
        std::vector<int16_t>& block = queue_.front();
        const size_t n = std::min(count, block.size());
        std::copy(block.begin(), block.begin() + n, out);
        std::fill(out + n, out + count, int16_t{0});
        queue_.pop_front();
        apply_volume(out, count, volume_);
        return true;
    }

private:
    std::mutex mutex_;
    std::deque<std::vector<int16_t>> queue_;
    bool running_ = false;
    uint32_t volume_ = 0xFFFFFFFFu;
};

class WavFileIn final : public WaveIn {
public:
    explicit WavFileIn(std::string file) : file_(std::move(file))
    {
        samples_ = *wav_samples(file_);
    }
    ~WavFileIn() override { stop(); }

    bool start(size_t block_bytes, BlockCallback on_block) override
    {
        if (block_bytes == 0 || block_bytes % 2 != 0) {
            return false;
        }
        position_ = 0;
        block_.assign(block_bytes / 2, 0);
        paced_.start(block_period(block_bytes), [this, on_block = std::move(on_block)] {
            const size_t bytes = block_.size() * 2;
            std::fill(block_.begin(), block_.end(), int16_t{0});
            if (position_ < samples_.size()) {
                const size_t n = std::min(bytes, samples_.size() - position_);
                std::memcpy(block_.data(), samples_.data() + position_, n);
            }
            position_ += bytes;
            on_block(block_.data(), bytes);
        });
        return true;
    }
    void stop() override { paced_.stop(); }

private:
    std::string file_;
    std::string_view samples_;
    size_t position_ = 0;
    std::vector<int16_t> block_;
    PacedThread paced_;
};

class WavFileOut final : public WaveOut {
public:
    explicit WavFileOut(std::string path) : path_(std::move(path)) {}
    ~WavFileOut() override { stop(); }

    bool start(size_t block_bytes, DoneCallback on_done) override
    {
        if (block_bytes == 0 || block_bytes % 2 != 0) {
            return false;
        }
        file_.open(path_, std::ios::binary | std::ios::trunc);
        if (!file_) {
            return false;
        }
        file_ << wav_header(0);
        written_ = 0;
        block_.assign(block_bytes / 2, 0);
        paced_.start(block_period(block_bytes), [this, on_done = std::move(on_done)] {
            const bool played = queue_.take(block_.data(), block_.size());
            file_.write(reinterpret_cast<const char*>(block_.data()),
                        static_cast<std::streamsize>(block_.size() * 2));
            written_ += static_cast<uint32_t>(block_.size() * 2);
            if (played) {
                on_done();
            }
        });
        return true;
    }
    void write(const int16_t* samples, size_t byte_count) override
    {
        queue_.write(samples, byte_count);
    }
    void restart() override { queue_.set_running(true); }
    void pause() override { queue_.set_running(false); }
    void set_volume(uint32_t value) override { queue_.set_volume(value); }
    void stop() override
    {
        paced_.stop();
        if (file_.is_open()) {
            file_.seekp(0);
            file_ << wav_header(written_);
            file_.close();
        }
    }

private:
    std::string path_;
    std::ofstream file_;
    uint32_t written_ = 0;
    std::vector<int16_t> block_;
    OutputQueue queue_;
    PacedThread paced_;
};

#ifdef VOKAR_HAVE_SDL2

// Keeps the SDL audio subsystem initialised while a device exists.
class SdlAudio {
public:
    SdlAudio()
    {
        std::lock_guard lock(init_mutex());
        ok_ = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
    }
    ~SdlAudio()
    {
        std::lock_guard lock(init_mutex());
        if (ok_) {
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
        }
    }
    bool ok() const { return ok_; }

private:
    // SDL's subsystem count is not thread-safe; two clients may open devices
    // on different threads.
    static std::mutex& init_mutex()
    {
        static std::mutex mutex;
        return mutex;
    }
    bool ok_ = false;
};

// Opens a device for 8 kHz 16-bit mono; SDL converts where the device needs
// another format.
SDL_AudioDeviceID open_sdl(bool capture, size_t block_bytes, SDL_AudioCallback callback, void* user)
{
    SDL_AudioSpec want{};
    want.freq = static_cast<int>(kAudioRate);
    want.format = AUDIO_S16SYS;
    want.channels = 1;
    want.samples = 256;
    (void)block_bytes;
    want.callback = callback;
    want.userdata = user;
    SDL_AudioSpec have{};
    return SDL_OpenAudioDevice(nullptr, capture ? 1 : 0, &want, &have, 0);
}

// One SDL device with the audio subsystem it needs, running from open() to
// close().
class SdlDevice {
public:
    ~SdlDevice() { close(); }

    // Whether open() may be tried: SDL is there and the block holds whole samples.
    bool can_open(size_t block_bytes) const
    {
        return sdl_.ok() && block_bytes != 0 && block_bytes % 2 == 0;
    }
    // Opens the device and starts its callback at once.
    bool open(bool capture, size_t block_bytes, SDL_AudioCallback callback, void* user)
    {
        device_ = open_sdl(capture, block_bytes, callback, user);
        if (device_ == 0) {
            return false;
        }
        SDL_PauseAudioDevice(device_, 0);
        return true;
    }
    void close()
    {
        if (device_ != 0) {
            SDL_CloseAudioDevice(device_); // waits for the callback to return
            device_ = 0;
        }
    }

private:
    SdlAudio sdl_;
    SDL_AudioDeviceID device_ = 0;
};

class SdlIn final : public WaveIn {
public:
    ~SdlIn() override { stop(); }

    bool start(size_t block_bytes, BlockCallback on_block) override
    {
        if (!device_.can_open(block_bytes)) {
            return false;
        }
        on_block_ = std::move(on_block);
        block_.assign(block_bytes / 2, 0);
        filled_ = 0;
        return device_.open(true, block_bytes, &SdlIn::callback, this);
    }
    void stop() override { device_.close(); }

private:
    static void callback(void* user, Uint8* stream, int len)
    {
        auto* self = static_cast<SdlIn*>(user);
        const auto* samples = reinterpret_cast<const int16_t*>(stream);
        size_t count = static_cast<size_t>(len) / 2;
        while (count > 0) {
            const size_t n = std::min(count, self->block_.size() - self->filled_);
            std::copy(samples, samples + n, self->block_.begin() + self->filled_);
            self->filled_ += n;
            samples += n;
            count -= n;
            if (self->filled_ == self->block_.size()) {
                self->on_block_(self->block_.data(), self->block_.size() * 2);
                self->filled_ = 0;
            }
        }
    }

    SdlDevice device_;
    BlockCallback on_block_;
    std::vector<int16_t> block_;
    size_t filled_ = 0;
};

class SdlOut final : public WaveOut {
public:
    ~SdlOut() override { stop(); }

    bool start(size_t block_bytes, DoneCallback on_done) override
    {
        if (!device_.can_open(block_bytes)) {
            return false;
        }
        on_done_ = std::move(on_done);
        block_.assign(block_bytes / 2, 0);
        position_ = block_.size();
        return device_.open(false, block_bytes, &SdlOut::callback, this);
    }
    void write(const int16_t* samples, size_t byte_count) override
    {
        queue_.write(samples, byte_count);
    }
    void restart() override { queue_.set_running(true); }
    void pause() override { queue_.set_running(false); }
    void set_volume(uint32_t value) override { queue_.set_volume(value); }
    void stop() override { device_.close(); }

private:
    static void callback(void* user, Uint8* stream, int len)
    {
        auto* self = static_cast<SdlOut*>(user);
        auto* out = reinterpret_cast<int16_t*>(stream);
        size_t count = static_cast<size_t>(len) / 2;
        while (count > 0) {
            if (self->position_ == self->block_.size()) {
                if (self->queue_.take(self->block_.data(), self->block_.size())) {
                    self->on_done_();
                }
                self->position_ = 0;
            }
            const size_t n = std::min(count, self->block_.size() - self->position_);
            std::copy(self->block_.begin() + self->position_,
                      self->block_.begin() + self->position_ + n, out);
            self->position_ += n;
            out += n;
            count -= n;
        }
    }

    SdlDevice device_;
    DoneCallback on_done_;
    std::vector<int16_t> block_;
    size_t position_ = 0;
    OutputQueue queue_;
};

#else

class SdlIn;
class SdlOut;

#endif

// The device a choice names: none for "" or "none", the SDL device `Sdl` for
// "sdl" (none in a build without SDL2), otherwise what `open_file` makes of it.
template <typename Sdl, typename Device, typename OpenFile>
std::unique_ptr<Device> open_choice(const std::string& choice, OpenFile open_file)
{
    if (choice.empty() || choice == "none") {
        return nullptr;
    }
    if (choice == "sdl") {
#ifdef VOKAR_HAVE_SDL2
        return std::make_unique<Sdl>();
#else
        return nullptr;
#endif
    }
    return open_file(choice);
}

class ChoiceDevices final : public AudioDevices {
public:
    explicit ChoiceDevices(AudioChoice choice) : choice_(std::move(choice)) {}

    std::unique_ptr<WaveIn> open_wave_in() override
    {
        return open_choice<SdlIn, WaveIn>(
            choice_.in, [](const std::string& path) -> std::unique_ptr<WaveIn> {
                std::ifstream file(path, std::ios::binary);
                if (!file) {
                    return nullptr;
                }
                std::string bytes;
                bytes.resize(kMaxWavFileBytes);
                file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
                bytes.resize(static_cast<size_t>(file.gcount()));
                if (!wav_samples(bytes)) {
                    return nullptr;
                }
                return std::make_unique<WavFileIn>(std::move(bytes));
            });
    }

    std::unique_ptr<WaveOut> open_wave_out() override
    {
        return open_choice<SdlOut, WaveOut>(choice_.out, [](const std::string& path) {
            return std::make_unique<WavFileOut>(path);
        });
    }

private:
    AudioChoice choice_;
};

} // namespace

AudioChoice default_audio_choice()
{
    AudioChoice choice;
    if (const char* in = std::getenv("VOKAR_AUDIO_IN"); in != nullptr && *in != '\0') {
        choice.in = in;
    }
    if (const char* out = std::getenv("VOKAR_AUDIO_OUT"); out != nullptr && *out != '\0') {
        choice.out = out;
    }
    return choice;
}

std::unique_ptr<AudioDevices> make_audio_devices(AudioChoice choice)
{
    return std::make_unique<ChoiceDevices>(std::move(choice));
}

std::optional<std::string_view> wav_samples(std::string_view file)
{
    if (file.size() < 12 || file.substr(0, 4) != "RIFF" || file.substr(8, 4) != "WAVE") {
        return std::nullopt;
    }
    bool format_ok = false;
    size_t at = 12;
    while (file.size() - at >= 8) {
        const std::string_view id = file.substr(at, 4);
        const uint32_t size = read_le32(file, at + 4);
        at += 8;
        const size_t available = file.size() - at;
        if (id == "fmt ") {
            if (size < 16 || available < 16) {
                return std::nullopt;
            }
            format_ok = read_le16(file, at) == 1 && read_le16(file, at + 2) == 1 &&
                        read_le32(file, at + 4) == kAudioRate && read_le16(file, at + 14) == 16;
        } else if (id == "data") {
            if (!format_ok) {
                return std::nullopt;
            }
            // A writer that never patched the size leaves 0 or too much: take
            // what is there, in whole samples.
            size_t bytes = size == 0 ? available : std::min<size_t>(size, available);
            bytes &= ~size_t{1};
            return file.substr(at, bytes);
        }
        if (size > available) {
            return std::nullopt;
        }
        at += size + (size & 1);
        if (at > file.size()) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

std::string wav_header(uint32_t data_bytes)
{
    std::string h = "RIFF";
    put_le(h, 36 + data_bytes, 4);
    h += "WAVEfmt ";
    put_le(h, 16, 4);
    put_le(h, 1, 2); // PCM
    put_le(h, 1, 2); // mono
    put_le(h, kAudioRate, 4);
    put_le(h, kAudioRate * 2, 4);
    put_le(h, 2, 2);
    put_le(h, 16, 2);
    h += "data";
    put_le(h, data_bytes, 4);
    return h;
}

} // namespace vokar::platform
