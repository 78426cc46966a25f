#include "media/audio_engine.h"

#include <array>
#include <chrono>
#include <vector>

#include "media/tone_files.h"

namespace vokar::media {

AudioEngine::AudioEngine(int payload_type, platform::AudioDevices& devices, MediaEndpoint relay,
                         platform::Clock& clock)
    : devices_(devices), relay_(std::move(relay)), clock_(clock), key_tones_(embedded_key_tones()),
      payload_type_(payload_type), recorder_([this](int report) { on_recorder(report); })
{
    recorder_.configure(WaveFormat{});
    player_.configure(WaveFormat{});
}

AudioEngine::~AudioEngine()
{
    stop();
}

uint32_t AudioEngine::volume_value(int level)
{
    if (level < 0 || level > 7) {
        return 0x7FFF7FFF;
    }
    const uint32_t channel = 0x0FFF + 0x2000 * static_cast<uint32_t>(level);
    return channel << 16 | channel;
}

void AudioEngine::start_audio(uint32_t ssrc)
{
    std::lock_guard control(control_mutex_);
    if (running_) {
        return;
    }
    {
        std::lock_guard lock(audio_mutex_);
        counters_ = Counters{};
        ssrc_ = ssrc;
        packetizer_ = std::make_shared<Packetizer>(payload_type_, ssrc_, kPacketMs, clock_);
        playout_ = std::make_unique<PlayoutBuffer>();
        ring_tone_ = std::make_unique<RingTonePlayer>(embedded_ring_tone());
    }
    running_ = true;
    wave_in_ = devices_.open_wave_in();
    wave_out_ = devices_.open_wave_out();
    player_.start(wave_out_.get(), [this](int16_t* block, size_t bytes) { fill(block, bytes); });
    recorder_.start(wave_in_.get());
    capture_thread_ = platform::Thread([this] { capture_loop(); });
}

bool AudioEngine::start_media(const MediaEndpoints& endpoints, MediaChannels* channels)
{
    std::lock_guard control(control_mutex_);
    if (!running_ || sending_) {
        return false;
    }
    auto session = std::make_unique<MediaSession>(endpoints, relay_, channels);
    if (!session->open()) {
        return false;
    }
    {
        std::lock_guard packets(packet_mutex_);
        std::lock_guard lock(audio_mutex_);
        media_ = std::move(session);
        packetizer_->restart();
    }
    sending_ = true;
    receiving_ = true;
    // The receive thread asks for a high priority; the platform may ignore it
    // (no real-time scheduling class).
    receive_thread_ =
        platform::Thread([this] { receive_loop(); }, platform::Thread::Priority::TimeCritical);
    return true;
}

void AudioEngine::stop()
{
    std::lock_guard control(control_mutex_);
    sending_ = false;
    receiving_ = false;
    running_ = false;
    MediaSession* media = nullptr;
    {
        std::lock_guard lock(audio_mutex_);
        media = media_.get();
    }
    if (media != nullptr) {
        media->close(); // ends the receive thread's wait
    }
    recorder_.stop(); // ends the capture thread's wait for a block
    {
        std::lock_guard lock(prime_mutex_);
    }
    prime_cv_.notify_all();
    // Wait for the threads without audio_mutex_, which they may need to finish.
    capture_thread_.join();
    receive_thread_.join();
    player_.stop();

    std::unique_ptr<MediaSession> old_media;
    std::unique_ptr<PlayoutBuffer> old_playout;
    std::unique_ptr<RingTonePlayer> old_ring;
    std::shared_ptr<Packetizer> old_packetizer;
    {
        std::lock_guard lock(audio_mutex_);
        old_media = std::move(media_);
        old_playout = std::move(playout_);
        old_ring = std::move(ring_tone_);
        old_packetizer = std::move(packetizer_);
    }
    wave_in_.reset();
    wave_out_.reset();
}

void AudioEngine::set_payload(int payload_type)
{
    std::lock_guard lock(audio_mutex_);
    payload_type_ = payload_type;
    if (packetizer_) {
        packetizer_ = std::make_shared<Packetizer>(payload_type, ssrc_, kPacketMs, clock_);
    }
}

void AudioEngine::set_ssrc(uint32_t ssrc)
{
    std::lock_guard packets(packet_mutex_);
    std::lock_guard lock(audio_mutex_);
    ssrc_ = ssrc;
    if (packetizer_) {
        packetizer_->set_ssrc(ssrc);
    }
}

void AudioEngine::set_volume(int level)
{
    player_.set_volume(volume_value(level));
}

AudioEngine::Counters AudioEngine::counters() const
{
    std::lock_guard lock(audio_mutex_);
    return counters_;
}

PlayoutBuffer::Stats AudioEngine::playout_stats() const
{
    std::lock_guard lock(audio_mutex_);
    return playout_ ? playout_->stats() : PlayoutBuffer::Stats{};
}

int AudioEngine::playout_delay() const
{
    std::lock_guard lock(audio_mutex_);
    return playout_ ? playout_->delay() : 0;
}

uint16_t AudioEngine::media_port() const
{
    std::lock_guard lock(audio_mutex_);
    return media_ ? media_->bound_port() : 0;
}

std::shared_ptr<Packetizer> AudioEngine::packetizer() const
{
    std::lock_guard lock(audio_mutex_);
    return packetizer_;
}

void AudioEngine::capture_loop()
{
    if (!recorder_.running()) {
        // No microphone: nothing to send, and the speaker is primed on the
        // clock instead of by captured blocks.
        std::unique_lock lock(prime_mutex_);
        while (running_ && !player_.started() && player_.is_open()) {
            prime_cv_.wait_for(lock, std::chrono::milliseconds(kPacketMs));
            if (running_ && !player_.started()) {
                lock.unlock();
                prime_one_block();
                lock.lock();
            }
        }
        return;
    }
    std::array<int16_t, kBlockBytes / 2> block{};
    while (running_ && recorder_.read_block(block.data())) {
        key_tones_.fill_outgoing(block.data(), kBlockBytes);
        // The packetizer is held for the whole block: set_payload may swap it.
        std::shared_ptr<Packetizer> packetizer = this->packetizer();
        if (!packetizer) {
            break;
        }
        std::vector<std::string> packets;
        {
            std::lock_guard lock(packet_mutex_);
            size_t offset = 0;
            int consumed = 0;
            while (consumed < kPacketMs && offset < kBlockBytes) {
                EncodedBlock encoded =
                    packetizer->codec().encode(block.data() + offset / 2, kBlockBytes - offset);
                if (encoded.milliseconds <= 0) {
                    break;
                }
                consumed += encoded.milliseconds;
                offset += static_cast<size_t>(encoded.milliseconds) * platform::kAudioBytesPerMs;
                if (encoded.data.empty()) {
                    packetizer->skip(encoded.milliseconds);
                } else {
                    packets.push_back(packetizer->make_packet(encoded.data, encoded.milliseconds));
                }
            }
        }
        for (const std::string& packet : packets) {
            if (!sending_ || !receiving_) {
                continue;
            }
            MediaSession* media = nullptr;
            {
                std::lock_guard lock(audio_mutex_);
                ++counters_.packets_sent;
                media = media_.get();
            }
            // media_ is freed only after this thread has been joined.
            if (media != nullptr) {
                media->send(packet);
            }
        }
    }
}

void AudioEngine::receive_loop()
{
    MediaSession* media = nullptr;
    {
        std::lock_guard lock(audio_mutex_);
        media = media_.get();
    }
    std::string packet;
    std::array<int16_t, kDecodeBufferBytes / 2> pcm{};
    while (sending_) {
        const MediaSession::Received got = media->receive(&packet);
        if (got == MediaSession::Received::kClosed) {
            break;
        }
        if (got != MediaSession::Received::kVoice || !running_ || !receiving_) {
            continue;
        }
        const std::optional<VoicePacket> voice = read_voice_packet(packet);
        if (!voice) {
            continue;
        }
        ringing_ = false; // the far end's voice has arrived
        std::shared_ptr<Packetizer> packetizer;
        {
            std::lock_guard lock(audio_mutex_);
            ++counters_.packets_received;
            counters_.bytes_received += static_cast<uint32_t>(packet.size() + 8);
            packetizer = packetizer_;
        }
        if (!packetizer) {
            continue;
        }
        const size_t bytes =
            packetizer->codec().decode(reinterpret_cast<const uint8_t*>(voice->payload.data()),
                                       voice->payload.size(), pcm.data(), kDecodeBufferBytes);
        if (bytes > 0) {
            playout_->put(pcm.data(), bytes, voice->timestamp, voice->sequence);
        }
    }
}

void AudioEngine::fill(int16_t* block, size_t byte_count)
{
    if (!running_) {
        std::fill(block, block + byte_count / 2, int16_t{0});
        return;
    }
    if (ringing_) {
        ring_tone_->fill_ring(block, byte_count);
    } else {
        playout_->get(block, byte_count);
    }
    key_tones_.fill_earpiece(block, byte_count);
}

void AudioEngine::prime_one_block()
{
    std::array<int16_t, kBlockBytes / 2> block{};
    fill(block.data(), kBlockBytes);
    player_.write(block.data());
}

void AudioEngine::on_recorder(int report)
{
    // The wave-in thread. Until the speaker runs on its own, every captured
    // block primes it with one block; after WavePlayer::kDeviceBuffers blocks
    // it starts.
    if (report == kWaveBlockDone) {
        if (!player_.started() && player_.is_open() && running_) {
            prime_one_block();
        }
    } else if (report == kWaveStopped) {
        recorder_.reset();
    }
}

} // namespace vokar::media
