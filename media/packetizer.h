#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "media/voice_codec.h"
#include "platform/clock.h"

namespace vokar::media {

// The fixed voice packet header: version 2, no padding, extension or CSRC.
constexpr size_t kVoiceHeaderBytes = 12;
constexpr uint8_t kVoiceVersionByte = 0x80;

// True for a datagram the receive path decodes: at least a whole header and
// version 2. Anything else (a STUN Binding Request sent to the media port, a
// stray short datagram) is dropped: it confirms no destination and does not
// count as the far end's voice.
bool is_voice_packet(std::string_view datagram);

// The fields of a received voice packet. payload views the datagram.
struct VoicePacket {
    uint8_t payload_type = 0; // marker bit removed
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    uint32_t ssrc = 0;
    std::string_view payload;
};

// The packet's fields, or nothing when is_voice_packet says no.
std::optional<VoicePacket> read_voice_packet(std::string_view datagram);

// Builds the outgoing voice packets of one call and owns the codec for its
// payload type. Called by the capture thread only.
class Packetizer {
public:
    // clock seeds the sequence start in restart().
    Packetizer(int payload_type, uint32_t ssrc, int packet_ms, platform::Clock& clock);

    VoiceCodec& codec() { return codec_; }
    int payload_type() const { return payload_type_; }
    uint32_t ssrc() const { return ssrc_; }
    void set_ssrc(uint32_t ssrc) { ssrc_ = ssrc; }
    uint16_t sequence() const { return sequence_; }
    uint32_t timestamp() const { return timestamp_; }

    // Picks a new random sequence start; the next packet's timestamp is derived
    // from it.
    void restart();

    // Header plus payload; then the sequence advances by one and the timestamp
    // by the packet's milliseconds in 8 kHz samples.
    std::string make_packet(std::string_view payload, int milliseconds);

    // Advances the timestamp only, for a block that produced no packet.
    void skip(int milliseconds);

private:
    const int payload_type_;
    uint32_t ssrc_;
    const int packet_ms_;
    platform::Clock& clock_;
    uint16_t sequence_ = 0;
    bool fresh_ = true;
    uint32_t timestamp_ = 0;
    VoiceCodec codec_;
};

} // namespace vokar::media
