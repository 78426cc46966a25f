#include "media/packetizer.h"

#include "platform/crt_rand.h"

namespace vokar::media {
namespace {

constexpr uint32_t kSamplesPerMs = 8;

void put_be(std::string& out, uint32_t value, int bytes)
{
    for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

uint32_t get_be(std::string_view in, size_t at, int bytes)
{
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value = (value << 8) | static_cast<uint8_t>(in[at + static_cast<size_t>(i)]);
    return value;
}

} // namespace

bool is_voice_packet(std::string_view datagram)
{
    return datagram.size() >= kVoiceHeaderBytes &&
           (static_cast<uint8_t>(datagram[0]) & 0xC0) == kVoiceVersionByte;
}

std::optional<VoicePacket> read_voice_packet(std::string_view datagram)
{
    if (!is_voice_packet(datagram))
        return std::nullopt;
    VoicePacket packet;
    packet.payload_type = static_cast<uint8_t>(datagram[1]) & 0x7F;
    packet.sequence = static_cast<uint16_t>(get_be(datagram, 2, 2));
    packet.timestamp = get_be(datagram, 4, 4);
    packet.ssrc = get_be(datagram, 8, 4);
    packet.payload = datagram.substr(kVoiceHeaderBytes);
    return packet;
}

Packetizer::Packetizer(int payload_type, uint32_t ssrc, int packet_ms, platform::Clock& clock)
    : payload_type_(payload_type), ssrc_(ssrc), packet_ms_(packet_ms), clock_(clock),
      codec_(payload_type)
{
}

void Packetizer::restart()
{
    platform::crt_srand(clock_.tick_count());
    sequence_ = static_cast<uint16_t>(platform::crt_rand());
    fresh_ = true;
}

std::string Packetizer::make_packet(std::string_view payload, int milliseconds)
{
    if (fresh_) {
        timestamp_ =
            static_cast<uint32_t>(sequence_) * static_cast<uint32_t>(packet_ms_) * kSamplesPerMs;
        fresh_ = false;
    }
    std::string packet;
    packet.reserve(kVoiceHeaderBytes + payload.size());
    packet.push_back(static_cast<char>(kVoiceVersionByte));
    packet.push_back(static_cast<char>(payload_type_ & 0x7F));
    put_be(packet, sequence_, 2);
    put_be(packet, timestamp_, 4);
    put_be(packet, ssrc_, 4);
    packet.append(payload);
    ++sequence_;
    skip(milliseconds);
    return packet;
}

void Packetizer::skip(int milliseconds)
{
    timestamp_ += static_cast<uint32_t>(milliseconds) * kSamplesPerMs;
}

} // namespace vokar::media
