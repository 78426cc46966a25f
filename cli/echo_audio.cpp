#include "cli/echo_audio.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <thread>

namespace vokar::cli {

DelayLine::DelayLine(size_t delay, size_t slack) : delay_(delay), ring_(delay + slack)
{
    reset();
}

void DelayLine::reset()
{
    std::fill(ring_.begin(), ring_.end(), int16_t{0});
    head_ = 0;
    size_ = delay_;
}

void DelayLine::write(const int16_t* samples, size_t count)
{
    const size_t capacity = ring_.size();
    for (size_t i = 0; i < count; ++i) {
        if (size_ == capacity) {
            head_ = (head_ + 1) % capacity;
            --size_;
        }
        ring_[(head_ + size_) % capacity] = samples[i];
        ++size_;
    }
}

bool DelayLine::read(int16_t* out, size_t count)
{
    if (!readable(count))
        return false;
    const size_t capacity = ring_.size();
    for (size_t i = 0; i < count; ++i) {
        out[i] = ring_[head_];
        head_ = (head_ + 1) % capacity;
    }
    size_ -= count;
    return true;
}

namespace {

// Delivers blocks from the line as the speaker makes them readable.
class EchoWaveIn final : public platform::WaveIn {
public:
    explicit EchoWaveIn(std::shared_ptr<EchoDevices::Line> line) : line_(std::move(line)) {}
    ~EchoWaveIn() override { stop(); }

    bool start(size_t block_bytes, BlockCallback on_block) override
    {
        if (block_bytes == 0 || block_bytes % 2 != 0 || thread_.joinable())
            return false;
        {
            std::lock_guard lock(line_->mutex);
            stopping_ = false;
        }
        thread_ = std::thread([this, count = block_bytes / 2, on_block = std::move(on_block)] {
            std::vector<int16_t> block(count);
            std::unique_lock lock(line_->mutex);
            while (true) {
                line_->readable.wait(lock,
                                     [&] { return stopping_ || line_->delay.readable(count); });
                if (stopping_)
                    return;
                line_->delay.read(block.data(), count);
                lock.unlock();
                on_block(block.data(), count * 2);
                lock.lock();
            }
        });
        return true;
    }

    void stop() override
    {
        {
            std::lock_guard lock(line_->mutex);
            stopping_ = true;
        }
        line_->readable.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

private:
    std::shared_ptr<EchoDevices::Line> line_;
    bool stopping_ = false; // under line_->mutex
    std::thread thread_;
};

// Plays into the line at real-time pace.
class EchoWaveOut final : public platform::WaveOut {
public:
    // Blocks the engine may queue ahead of playback before the oldest go.
    static constexpr size_t kMaxQueued = 32;

    explicit EchoWaveOut(std::shared_ptr<EchoDevices::Line> line) : line_(std::move(line)) {}
    ~EchoWaveOut() override { stop(); }

    bool start(size_t block_bytes, DoneCallback on_done) override
    {
        if (block_bytes == 0 || block_bytes % 2 != 0 || thread_.joinable())
            return false;
        {
            std::lock_guard lock(line_->mutex);
            line_->delay.reset();
        }
        {
            std::lock_guard lock(mutex_);
            stopping_ = false;
        }
        const auto period =
            std::chrono::microseconds(block_bytes * 1000 / platform::kAudioBytesPerMs);
        thread_ =
            std::thread([this, period, count = block_bytes / 2, on_done = std::move(on_done)] {
                std::vector<int16_t> block(count);
                auto next = std::chrono::steady_clock::now();
                std::unique_lock lock(mutex_);
                while (true) {
                    next += period;
                    if (wake_.wait_until(lock, next, [this] { return stopping_; }))
                        return;
                    const bool played = running_ && !queue_.empty();
                    std::fill(block.begin(), block.end(), int16_t{0});
                    if (played) {
                        const std::vector<int16_t>& front = queue_.front();
                        std::copy_n(front.begin(), std::min(count, front.size()), block.begin());
                        queue_.pop_front();
                    }
                    lock.unlock();
                    {
                        std::lock_guard line_lock(line_->mutex);
                        line_->delay.write(block.data(), count);
                    }
                    line_->readable.notify_all();
                    if (played)
                        on_done();
                    lock.lock();
                }
            });
        return true;
    }

    void write(const int16_t* samples, size_t byte_count) override
    {
        std::lock_guard lock(mutex_);
        if (queue_.size() == kMaxQueued)
            queue_.pop_front();
        queue_.emplace_back(samples, samples + byte_count / 2);
    }
    void restart() override { set_running(true); }
    void pause() override { set_running(false); }
    // The echo gives back what it heard, at the level it heard it.
    void set_volume(uint32_t) override {}

    void stop() override
    {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

private:
    void set_running(bool running)
    {
        std::lock_guard lock(mutex_);
        running_ = running;
    }

    std::shared_ptr<EchoDevices::Line> line_;
    std::mutex mutex_; // the fields below
    std::condition_variable wake_;
    std::deque<std::vector<int16_t>> queue_;
    bool running_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace

EchoDevices::EchoDevices() : line_(std::make_shared<Line>()) {}

std::unique_ptr<platform::WaveIn> EchoDevices::open_wave_in()
{
    return std::make_unique<EchoWaveIn>(line_);
}

std::unique_ptr<platform::WaveOut> EchoDevices::open_wave_out()
{
    return std::make_unique<EchoWaveOut>(line_);
}

} // namespace vokar::cli
