#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "platform/audio_device.h"
#include "platform/sound.h"
#include "platform/thread.h"

namespace vokar::app {

// The windowed client's alert sounds: every alias plays one short beep on a
// speaker opened for it. play() only hands the beep to a thread of its own,
// so the caller (a receive thread, possibly holding a lock) never waits for
// the device; beeps asked for while one plays are merged into the next.
class AlertSound final : public platform::SoundBackend {
public:
    using OpenSpeaker = std::function<std::unique_ptr<platform::WaveOut>()>;

    static constexpr size_t kBlockBytes = 320; // 20 ms

    explicit AlertSound(OpenSpeaker open_speaker);
    // Cuts a beep that plays short and joins the thread.
    ~AlertSound() override;
    AlertSound(const AlertSound&) = delete;
    AlertSound& operator=(const AlertSound&) = delete;

    bool play(std::wstring_view alias) override;

    // The beep's samples: two short tones, faded in and out, whole blocks.
    static std::vector<int16_t> beep();

private:
    void run();
    void play_once();

    const OpenSpeaker open_speaker_;
    const std::vector<int16_t> samples_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool requested_ = false;
    bool stopping_ = false;
    size_t blocks_done_ = 0;
    platform::Thread thread_; // last: starts once the rest is built
};

} // namespace vokar::app
