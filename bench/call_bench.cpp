// Whole clients against the full operator stack on loopback: the time from
// dialling to CallConnected for a Jingle and a SIP call (the callee answers
// as soon as its phone rings), and the mouth-to-ear latency of a connected
// call: a burst in the caller's microphone to its playing in the callee's
// speaker, on sound devices that keep real-time pace like the real ones.

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "core/program.h"
#include "platform/audio_device.h"
#include "tests/support/full_stack.h"
#include "tests/support/whole_client.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using vokar::MessageCode;
using vokar::test::WholeClient;

// Calls a function every period of `block_bytes` of audio, at real-time pace.
class Pacer {
public:
    ~Pacer() { stop(); }
    void start(size_t block_bytes, std::function<void()> tick)
    {
        running_ = true;
        thread_ = std::thread([this, block_bytes, tick = std::move(tick)] {
            const auto period =
                std::chrono::microseconds(block_bytes * 1000 / vokar::platform::kAudioBytesPerMs);
            auto next = Clock::now();
            while (running_) {
                next += period;
                std::this_thread::sleep_until(next);
                tick();
            }
        });
    }
    void stop()
    {
        running_ = false;
        if (thread_.joinable())
            thread_.join();
    }

private:
    std::atomic<bool> running_{false};
    std::thread thread_;
};

// 20 ms of a 1 kHz tone near full scale: what the caller says.
constexpr size_t kBurstSamples = 160;
constexpr int kHeard = 3000; // a played sample beyond this is the burst

// The caller's microphone: silence, and the burst at the start of a block
// once asked. Its mouth time is when that block's sound began.
struct Mouth {
    std::mutex mutex;
    bool speak = false;
    std::optional<Clock::time_point> spoken;
};

// The callee's speaker: plays its queue one block per period; the ear time
// is when the first loud sample plays.
struct Ear {
    std::mutex mutex;
    std::condition_variable changed;
    std::optional<Clock::time_point> heard;
    int quiet_blocks = 0; // played since the last loud one
};

class Microphone final : public vokar::platform::WaveIn {
public:
    explicit Microphone(Mouth& mouth) : mouth_(mouth) {}
    ~Microphone() override { stop(); }
    bool start(size_t block_bytes, BlockCallback on_block) override
    {
        block_.assign(block_bytes / 2, 0);
        const auto period =
            std::chrono::microseconds(block_bytes * 1000 / vokar::platform::kAudioBytesPerMs);
        pacer_.start(block_bytes, [this, period, on_block = std::move(on_block)] {
            std::fill(block_.begin(), block_.end(), int16_t{0});
            {
                std::lock_guard lock(mouth_.mutex);
                if (mouth_.speak) {
                    mouth_.speak = false;
                    for (size_t i = 0; i < kBurstSamples && i < block_.size(); ++i)
                        block_[i] = static_cast<int16_t>(
                            30000 * std::sin(2 * M_PI * 1000 * static_cast<double>(i) / 8000));
                    mouth_.spoken = Clock::now() - period; // the block was being captured
                }
            }
            on_block(block_.data(), block_.size() * 2);
        });
        return true;
    }
    void stop() override { pacer_.stop(); }

private:
    Mouth& mouth_;
    std::vector<int16_t> block_;
    Pacer pacer_;
};

class Speaker final : public vokar::platform::WaveOut {
public:
    explicit Speaker(Ear& ear) : ear_(ear) {}
    ~Speaker() override { stop(); }
    bool start(size_t block_bytes, DoneCallback on_done) override
    {
        pacer_.start(block_bytes, [this, on_done = std::move(on_done)] {
            std::vector<int16_t> block;
            {
                std::lock_guard lock(mutex_);
                if (!running_ || queue_.empty())
                    return;
                block = std::move(queue_.front());
                queue_.pop_front();
            }
            play(block);
            on_done();
        });
        return true;
    }
    void write(const int16_t* samples, size_t byte_count) override
    {
        std::lock_guard lock(mutex_);
        queue_.emplace_back(samples, samples + byte_count / 2);
    }
    void restart() override
    {
        std::lock_guard lock(mutex_);
        running_ = true;
    }
    void pause() override
    {
        std::lock_guard lock(mutex_);
        running_ = false;
    }
    void set_volume(uint32_t) override {}
    void stop() override { pacer_.stop(); }

private:
    // The block starts playing now; its loud sample plays that much later.
    void play(const std::vector<int16_t>& block)
    {
        const auto now = Clock::now();
        std::lock_guard lock(ear_.mutex);
        for (size_t i = 0; i < block.size(); ++i) {
            if (std::abs(block[i]) > kHeard) {
                if (!ear_.heard)
                    ear_.heard = now + std::chrono::microseconds(i * 125);
                ear_.quiet_blocks = 0;
                ear_.changed.notify_all();
                return;
            }
        }
        ++ear_.quiet_blocks;
        ear_.changed.notify_all();
    }

    Ear& ear_;
    std::mutex mutex_;
    std::deque<std::vector<int16_t>> queue_;
    bool running_ = false;
    Pacer pacer_;
};

class Devices final : public vokar::platform::AudioDevices {
public:
    Devices(Mouth* mouth, Ear* ear) : mouth_(mouth), ear_(ear) {}
    std::unique_ptr<vokar::platform::WaveIn> open_wave_in() override
    {
        return mouth_ ? std::make_unique<Microphone>(*mouth_) : nullptr;
    }
    std::unique_ptr<vokar::platform::WaveOut> open_wave_out() override
    {
        return ear_ ? std::make_unique<Speaker>(*ear_) : nullptr;
    }

private:
    Mouth* mouth_;
    Ear* ear_;
};

// The stack and alice (who dials) and bob (who answers), logged in once.
struct Parties {
    Parties()
        : stack(vokar::test::FullStackOptions{
              .extra_config = {},
              .accounts = {{"alice", "alice-pass"}, {"bob", "bob-pass"}, {"carol", "carol-pass"}}})
    {
        if (!stack.start() || !stack.befriend()) {
            error = "stack: " + stack.error();
            return;
        }
        alice = client("alice", true, &mouth, nullptr);
        bob = client("bob", true, nullptr, &ear);
        carol = client("carol", false, &mouth, nullptr); // SIP only
        if (!alice->log_in() || !bob->log_in() || !carol->log_in())
            error = "log in";
        else if (!alice->sees_online("bob"))
            error = "alice does not see bob";
    }
    std::unique_ptr<WholeClient> client(const std::string& user, bool xmpp, Mouth* in, Ear* out)
    {
        vokar::test::WholeClientOptions options;
        options.xmpp = xmpp;
        options.audio_devices = [in, out] { return std::make_unique<Devices>(in, out); };
        return std::make_unique<WholeClient>(stack, vokar::test::XmppAccount{user, user + "-pass"},
                                             options);
    }

    // Dials bob; bob answers as his phone rings. The time to the caller's
    // CallConnected, or nothing.
    std::optional<Clock::duration> call(WholeClient& caller,
                                        std::shared_ptr<vokar::CallController>* out = nullptr)
    {
        const size_t n = caller.ui().count(MessageCode::CallConnected) + 1;
        const size_t m = bob->ui().count(MessageCode::CallIncoming) + 1;
        const auto start = Clock::now();
        const auto made = caller.program().app().makeCall(L"bob");
        const auto incoming = bob->wait_for(MessageCode::CallIncoming, 10s, m);
        if (!incoming)
            return std::nullopt;
        incoming->answer();
        if (!caller.ui().arrived(MessageCode::CallConnected, 10s, n))
            return std::nullopt;
        const auto took = Clock::now() - start;
        if (out)
            *out = made;
        return took;
    }
    // Hangs up and waits until bob's phone has let the call go.
    bool hang_up(const std::shared_ptr<vokar::CallController>& call)
    {
        const size_t n = bob->ui().count(MessageCode::CallOver) + 1;
        call->hangUp();
        return bob->ui().arrived(MessageCode::CallOver, 10s, n);
    }

    Mouth mouth;
    Ear ear;
    vokar::test::FullStack stack;
    std::unique_ptr<WholeClient> alice, bob, carol;
    std::string error;
};

void set_up_time(benchmark::State& state, bool over_sip)
{
    Parties parties;
    if (!parties.error.empty()) {
        state.SkipWithError(parties.error.c_str());
        return;
    }
    WholeClient& caller = over_sip ? *parties.carol : *parties.alice;
    for (auto _ : state) {
        std::shared_ptr<vokar::CallController> call;
        const auto took = parties.call(caller, &call);
        if (!took || !parties.hang_up(call)) {
            state.SkipWithError("the call did not connect");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(*took).count());
    }
}

void BM_JingleCallSetUp(benchmark::State& state)
{
    set_up_time(state, false);
}
BENCHMARK(BM_JingleCallSetUp)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_SipCallSetUp(benchmark::State& state)
{
    set_up_time(state, true);
}
BENCHMARK(BM_SipCallSetUp)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

// One Jingle call; each iteration is one burst, spoken once the speaker has
// played a second of silence, timed from its capture to its playing.
void BM_MouthToEar(benchmark::State& state)
{
    Parties parties;
    if (!parties.error.empty()) {
        state.SkipWithError(parties.error.c_str());
        return;
    }
    std::shared_ptr<vokar::CallController> call;
    if (!parties.call(*parties.alice, &call)) {
        state.SkipWithError("the call did not connect");
        return;
    }
    Mouth& mouth = parties.mouth;
    Ear& ear = parties.ear;
    for (auto _ : state) {
        {
            std::unique_lock lock(ear.mutex);
            ear.changed.wait_for(lock, 10s, [&] { return ear.quiet_blocks >= 16; });
            ear.heard.reset();
        }
        {
            std::lock_guard lock(mouth.mutex);
            mouth.spoken.reset();
            mouth.speak = true;
        }
        std::optional<Clock::time_point> heard;
        {
            std::unique_lock lock(ear.mutex);
            ear.changed.wait_for(lock, 10s, [&] { return ear.heard.has_value(); });
            heard = ear.heard;
        }
        std::optional<Clock::time_point> spoken;
        {
            std::lock_guard lock(mouth.mutex);
            spoken = mouth.spoken;
        }
        if (!heard || !spoken) {
            state.SkipWithError("the burst was not heard");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(*heard - *spoken).count());
    }
    parties.hang_up(call);
}
BENCHMARK(BM_MouthToEar)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

} // namespace

BENCHMARK_MAIN();
