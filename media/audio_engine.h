#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "media/key_tone_player.h"
#include "media/media_session.h"
#include "media/packetizer.h"
#include "media/playout_buffer.h"
#include "media/ring_tone_player.h"
#include "media/wave_devices.h"
#include "platform/audio_device.h"
#include "platform/clock.h"
#include "platform/thread.h"

namespace vokar::media {

// The sound of one call: the capture thread reads 60 ms blocks from the
// microphone, encodes them and sends them as voice packets; the receive thread
// decodes received packets into the playout buffer; the speaker's thread pulls
// from that buffer (or the ring-back tone while the far end rings). Each call
// owns its engine; stop() returns only when no thread of the call is left
// inside it.
class AudioEngine {
public:
    struct Counters {
        uint32_t packets_sent = 0;
        uint32_t packets_received = 0;
        uint32_t bytes_received = 0; // each packet's length plus 8
    };

    // devices: the client's wave-in and wave-out choice. relay: the service's
    // media relay (address and port) for the session's destinations.
    AudioEngine(int payload_type, platform::AudioDevices& devices, MediaEndpoint relay,
                platform::Clock& clock = platform::system_clock());
    // The relay at MediaSession::kRelayPort.
    AudioEngine(int payload_type, platform::AudioDevices& devices, std::string relay_address,
                platform::Clock& clock = platform::system_clock())
        : AudioEngine(payload_type, devices,
                      MediaEndpoint{std::move(relay_address), MediaSession::kRelayPort}, clock)
    {
    }
    ~AudioEngine();
    AudioEngine(const AudioEngine&) = delete;
    AudioEngine& operator=(const AudioEngine&) = delete;

    // Opens the devices and starts capture and playback; nothing is sent yet.
    // A missing device is not an error: the call goes on without it.
    void start_audio(uint32_t ssrc);
    // Opens the voice packet session and starts the receive thread. False when
    // audio is not running or the session cannot open (a local port in use:
    // the caller draws another and tries again).
    bool start_media(const MediaEndpoints& endpoints, MediaChannels* channels = nullptr);
    // Clears the flags, closes the session, waits for the capture and receive
    // threads and the devices to finish, then frees the call's state. Any
    // thread but the engine's own may call it, any number of times.
    void stop();

    void set_payload(int payload_type);
    void set_ssrc(uint32_t ssrc);
    // Speaker volume 0 to 7 (see volume_value); only while a speaker is open.
    void set_volume(int level);
    void ringing_on() { ringing_ = true; }
    void ringing_off() { ringing_ = false; }
    void play_key_tone(int index) { key_tones_.play_key_tone(index); }

    bool ringing() const { return ringing_; }
    bool running() const { return running_; }
    bool capturing() const { return recorder_.running(); }
    bool playback_started() const { return player_.started(); }
    Counters counters() const;
    PlayoutBuffer::Stats playout_stats() const;
    // The playout buffer's current delay in samples, 0 while stopped.
    int playout_delay() const;
    // The session's bound port while media runs, else 0.
    uint16_t media_port() const;

    // The wave-out volume value for a level: 0x0FFF0FFF for 0 up to
    // 0xEFFFEFFF for 7 in steps of 0x2000 per channel; 0x7FFF7FFF otherwise.
    static uint32_t volume_value(int level);

    static constexpr int kPacketMs = 60;

private:
    void capture_loop();
    void receive_loop();
    void fill(int16_t* block, size_t byte_count);
    void on_recorder(int report);
    void prime_one_block();
    std::shared_ptr<Packetizer> packetizer() const;

    platform::AudioDevices& devices_;
    const MediaEndpoint relay_;
    platform::Clock& clock_;
    KeyTonePlayer key_tones_;

    // Serialises start, stop and the codec changes of callers; the engine's
    // own threads never take it, so stop may wait for them while holding it.
    std::mutex control_mutex_;
    // Guards the call's state below that callers and threads share.
    mutable std::mutex audio_mutex_;
    int payload_type_;
    uint32_t ssrc_ = 0;
    std::shared_ptr<Packetizer> packetizer_;
    std::unique_ptr<MediaSession> media_;
    Counters counters_;
    // Held by the capture thread while it encodes and numbers a block, and by
    // callers that restart the sequence or change the SSRC.
    std::mutex packet_mutex_;

    std::atomic<bool> running_{false};
    std::atomic<bool> sending_{false};
    std::atomic<bool> receiving_{false};
    std::atomic<bool> ringing_{false};

    // Created by start_audio before any thread starts; freed by stop after
    // every thread has ended.
    std::unique_ptr<PlayoutBuffer> playout_;
    std::unique_ptr<RingTonePlayer> ring_tone_;
    std::unique_ptr<platform::WaveIn> wave_in_;
    std::unique_ptr<platform::WaveOut> wave_out_;
    WaveRecorder recorder_;
    WavePlayer player_;

    std::mutex prime_mutex_; // wakes the priming wait when stopping
    std::condition_variable prime_cv_;

    platform::Thread capture_thread_;
    platform::Thread receive_thread_;
};

} // namespace vokar::media
