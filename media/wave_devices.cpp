#include "media/wave_devices.h"

#include <algorithm>
#include <cstring>

namespace vokar::media {
namespace {

// Copies `bytes` from a ring at `at`, wrapping at its end.
void copy_out(const std::vector<uint8_t>& ring, size_t at, uint8_t* out, size_t bytes)
{
    const size_t first = std::min(bytes, ring.size() - at);
    std::memcpy(out, ring.data() + at, first);
    std::memcpy(out + first, ring.data(), bytes - first);
}

void copy_in(std::vector<uint8_t>& ring, size_t at, const uint8_t* in, size_t bytes)
{
    const size_t first = std::min(bytes, ring.size() - at);
    std::memcpy(ring.data() + at, in, first);
    std::memcpy(ring.data(), in + first, bytes - first);
}

// Takes the first valid format and refuses every later one.
bool configure_once(bool& configured, WaveFormat& current, const WaveFormat& format)
{
    if (configured || !valid_wave_format(format)) {
        return false;
    }
    current = format;
    configured = true;
    return true;
}

} // namespace

bool valid_wave_format(const WaveFormat& f)
{
    const bool rate_ok = f.rate == 8000 || f.rate == 11025 || f.rate == 22050 || f.rate == 44100;
    return f.priority < 8 && f.buffers >= 4 && f.buffer_bytes >= 80 &&
           (f.channels == 1 || f.channels == 2) && (f.bits == 8 || f.bits == 16) && rate_ok;
}

bool WaveRecorder::configure(const WaveFormat& format)
{
    return configure_once(configured_, format_, format);
}

bool WaveRecorder::start(platform::WaveIn* device)
{
    if (device == nullptr || !configured_ || running_) {
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        ring_.assign(static_cast<size_t>(format_.buffers) * format_.buffer_bytes, 0);
        read_ = fill_ = 0;
    }
    running_ = true;
    if (!device->start(format_.buffer_bytes,
                       [this](const int16_t* s, size_t n) { on_block(s, n); })) {
        running_ = false;
        return false;
    }
    device_ = device;
    return true;
}

void WaveRecorder::on_block(const int16_t* samples, size_t byte_count)
{
    int report = kWaveBlockDone;
    {
        std::lock_guard lock(mutex_);
        const size_t block = format_.buffer_bytes;
        if (ring_.size() - fill_ < block) {
            report = kWaveStopped;
        } else {
            // A short block is zero-filled to the buffer size.
            std::vector<uint8_t> padded(block, 0);
            std::memcpy(padded.data(), samples, std::min(byte_count, block));
            copy_in(ring_, (read_ + fill_) % ring_.size(), padded.data(), block);
            fill_ += block;
        }
    }
    ready_.notify_all();
    callback_(report);
}

bool WaveRecorder::read_block(int16_t* out)
{
    std::unique_lock lock(mutex_);
    const size_t block = format_.buffer_bytes;
    ready_.wait(lock, [&] { return !running_ || fill_ >= block; });
    if (!running_) {
        return false;
    }
    copy_out(ring_, read_, reinterpret_cast<uint8_t*>(out), block);
    read_ = (read_ + block) % ring_.size();
    fill_ -= block;
    return true;
}

void WaveRecorder::reset()
{
    std::lock_guard lock(mutex_);
    read_ = fill_ = 0;
}

void WaveRecorder::stop()
{
    {
        std::lock_guard lock(mutex_);
        running_ = false;
    }
    ready_.notify_all();
    if (device_ != nullptr) {
        device_->stop(); // outside the lock: its thread may be in on_block
        device_ = nullptr;
    }
}

bool WavePlayer::configure(const WaveFormat& format)
{
    return configure_once(configured_, format_, format);
}

bool WavePlayer::start(platform::WaveOut* device, Pull pull)
{
    if (device == nullptr || !configured_) {
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        if (device_ != nullptr) {
            return false;
        }
        ring_.assign(static_cast<size_t>(format_.buffers) * format_.buffer_bytes, 0);
        read_ = fill_ = 0;
        busy_ = 0;
        paused_ = true;
        started_ = false;
        pull_ = std::move(pull);
        refill_.assign(format_.buffer_bytes / 2, 0);
        device_ = device;
    }
    if (!device->start(format_.buffer_bytes, [this] { on_done(); })) {
        std::lock_guard lock(mutex_);
        device_ = nullptr;
        return false;
    }
    return true;
}

bool WavePlayer::write(const int16_t* block)
{
    std::lock_guard lock(mutex_);
    const size_t bytes = format_.buffer_bytes;
    platform::WaveOut* device = device_;
    if (device == nullptr || ring_.size() - fill_ < bytes) {
        return false;
    }
    copy_in(ring_, (read_ + fill_) % ring_.size(), reinterpret_cast<const uint8_t*>(block), bytes);
    fill_ += bytes;
    std::vector<int16_t> staged(bytes / 2);
    while (fill_ >= bytes && busy_ < kDeviceBuffers) {
        copy_out(ring_, read_, reinterpret_cast<uint8_t*>(staged.data()), bytes);
        read_ = (read_ + bytes) % ring_.size();
        fill_ -= bytes;
        device->write(staged.data(), bytes);
        ++busy_;
    }
    if (paused_ && busy_ == kDeviceBuffers) {
        device->restart();
        paused_ = false;
    }
    return true;
}

void WavePlayer::on_done()
{
    // The device thread: the played buffer is refilled from the pull source
    // at once, so the device keeps all its buffers.
    started_ = true;
    pull_(refill_.data(), refill_.size() * 2);
    std::lock_guard lock(mutex_);
    if (platform::WaveOut* device = device_; device != nullptr) {
        device->write(refill_.data(), refill_.size() * 2);
    }
}

void WavePlayer::set_volume(uint32_t value)
{
    std::lock_guard lock(mutex_);
    if (platform::WaveOut* device = device_; device != nullptr) {
        device->set_volume(value);
    }
}

void WavePlayer::stop()
{
    platform::WaveOut* device = nullptr;
    {
        std::lock_guard lock(mutex_);
        device = device_;
    }
    if (device == nullptr) {
        return;
    }
    device->stop(); // outside the lock: its thread may be in on_done
    std::lock_guard lock(mutex_);
    device_ = nullptr;
    fill_ = 0;
    busy_ = 0;
    paused_ = true;
}

} // namespace vokar::media
