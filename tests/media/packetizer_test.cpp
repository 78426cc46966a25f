#include "media/packetizer.h"

#include "platform/crt_rand.h"

#include <gtest/gtest.h>

namespace vokar::media {
namespace {

std::string bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values)
        s.push_back(static_cast<char>(v));
    return s;
}

TEST(Packetizer, HeadersCarrySequenceAndTimestampFromARandomStart)
{
    platform::ManualClock clock(123456);
    Packetizer packetizer(kPayloadSpeex, 0x11223344, 60, clock);
    packetizer.restart();
    platform::crt_srand(123456);
    const auto start = static_cast<uint16_t>(platform::crt_rand());
    const uint32_t ts = start * 480u;

    const std::string first = packetizer.make_packet("abc", 60);
    EXPECT_EQ(first, bytes({0x80, 97, start >> 8, start & 0xFF, int(ts >> 24), int(ts >> 16 & 0xFF),
                            int(ts >> 8 & 0xFF), int(ts & 0xFF), 0x11, 0x22, 0x33, 0x44}) +
                         "abc");
    packetizer.skip(60); // a block that produced no payload
    const std::string second_packet = packetizer.make_packet("", 60);
    const auto second = read_voice_packet(second_packet);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->sequence, static_cast<uint16_t>(start + 1));
    EXPECT_EQ(second->timestamp, ts + 960);
    EXPECT_TRUE(second->payload.empty());
    EXPECT_EQ(second->ssrc, 0x11223344u);
}

TEST(Packetizer, OnlyVersionTwoDatagramsWithAWholeHeaderAreVoice)
{
    const std::string header = bytes({0x80, 0xE1, 0, 1, 0, 0, 1, 0xE0, 0, 0, 0, 9});
    // A classic STUN Binding Request as some phones send it to the media port.
    const std::string stun = bytes(
        {0x00, 0x01, 0x00, 0x00, 0x21, 0x12, 0xA4, 0x42, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    const struct {
        std::string datagram;
        bool voice;
    } cases[] = {
        {header, true},
        {header + "payload", true},
        {header.substr(0, 11), false},
        {"", false},
        {stun, false},
        {bytes({0x40}) + header.substr(1), false}, // version 1
        {bytes({0xC0}) + header.substr(1), false}, // version 3
        {bytes({0x90}) + header.substr(1), true},  // version 2 with flags
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.datagram.size());
        EXPECT_EQ(is_voice_packet(c.datagram), c.voice);
        EXPECT_EQ(read_voice_packet(c.datagram).has_value(), c.voice);
    }
    const std::string datagram = header + "p";
    const auto packet = read_voice_packet(datagram);
    EXPECT_EQ(packet->payload_type, 97); // marker bit removed
    EXPECT_EQ(packet->sequence, 1);
    EXPECT_EQ(packet->timestamp, 480u);
    EXPECT_EQ(packet->payload, "p");
}

} // namespace
} // namespace vokar::media
