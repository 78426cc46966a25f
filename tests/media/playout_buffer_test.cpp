#include "media/playout_buffer.h"

#include <map>
#include <vector>

#include <gtest/gtest.h>

namespace vokar::media {
namespace {

constexpr uint32_t kPacketSamples = 480;

// Every 10 ms piece of packet k carries the marker 6k + piece + 1 in all its
// samples, so the output shows which piece played (0: silence).
std::vector<int16_t> packet_samples(int k, size_t samples = kPacketSamples)
{
    std::vector<int16_t> pcm(samples);
    for (size_t i = 0; i < samples; ++i)
        pcm[i] = static_cast<int16_t>(k * static_cast<int>(samples / 80) + i / 80 + 1);
    return pcm;
}

// Runs one 60 ms step per get: at step s the packets scheduled for s are put,
// then one block is taken. Returns the marker of every piece played.
std::vector<int> run(PlayoutBuffer& buffer, const std::multimap<int, int>& arrivals, uint32_t base,
                     int steps)
{
    std::vector<int> markers;
    std::vector<int16_t> out(kPacketSamples);
    for (int step = 0; step < steps; ++step) {
        const auto [from, to] = arrivals.equal_range(step);
        for (auto it = from; it != to; ++it) {
            const auto pcm = packet_samples(it->second);
            buffer.put(pcm.data(), pcm.size() * 2, base + it->second * kPacketSamples,
                       static_cast<uint16_t>(it->second));
        }
        buffer.get(out.data(), out.size() * 2);
        for (size_t piece = 0; piece < 6; ++piece)
            markers.push_back(out[piece * 80]);
    }
    return markers;
}

// Packet k arrives at step k - 2: two packets ahead of the reader.
std::multimap<int, int> steady(int packets)
{
    std::multimap<int, int> arrivals;
    for (int k = 0; k < packets; ++k)
        arrivals.emplace(k - 2 < 0 ? 0 : k - 2, k);
    return arrivals;
}

constexpr int kPackets = 160; // the read and write positions go round the ring 1.6 times

TEST(PlayoutBuffer, PlayoutStartsOnlyAfterAPacketMoreThan120MsAfterTheFirst)
{
    PlayoutBuffer buffer;
    std::vector<int16_t> out(kPacketSamples, 7);
    buffer.get(out.data(), out.size() * 2);
    const auto first = packet_samples(0);
    buffer.put(first.data(), 960, 5000, 0);
    const auto at_120ms = packet_samples(2);
    buffer.put(at_120ms.data(), 960, 5000 + 960, 2);
    buffer.get(out.data(), out.size() * 2);
    EXPECT_FALSE(buffer.started());
    EXPECT_EQ(out, std::vector<int16_t>(kPacketSamples, 0));
    buffer.put(at_120ms.data(), 960, 5000 + 1040, 3); // 130 ms
    EXPECT_TRUE(buffer.started());
}

// Reordering, duplicates and timestamps across the 32-bit wrap must give the
// same sound as the plain stream; a lost packet only its own 60 ms of silence.
// (A copy arriving after its time counts as a late packet and grows the delay.)
TEST(PlayoutBuffer, DisturbedStreamsPlayLikeTheSteadyOne)
{
    PlayoutBuffer reference_buffer;
    const auto expected = run(reference_buffer, steady(kPackets), 1000, kPackets - 2);
    // The steady stream itself: once started, every piece in order.
    size_t first = 0;
    while (first < expected.size() && expected[first] == 0)
        ++first;
    ASSERT_LT(first, expected.size());
    for (size_t i = first + 1; i < expected.size(); ++i)
        ASSERT_EQ(expected[i], expected[i - 1] + 1) << "at piece " << i;
    EXPECT_EQ(reference_buffer.stats().silent_pieces, 0u);

    auto reordered = steady(kPackets);
    reordered.erase(18), reordered.erase(19);
    reordered.emplace(18, 21), reordered.emplace(19, 20);
    auto duplicated = steady(kPackets);
    duplicated.emplace(20, 23); // before it plays
    duplicated.emplace(20, 22); // twice at once
    auto lost = steady(kPackets);
    lost.erase(40);

    const struct {
        const char* name;
        std::multimap<int, int> arrivals;
        uint32_t base;
        uint32_t silent;
    } cases[] = {
        {"reordered", reordered, 1000, 0},
        {"duplicated", duplicated, 1000, 0},
        {"across the wrap", steady(kPackets), 0xFFFFFFFFu - 30 * kPacketSamples, 0},
        {"first just before the wrap", steady(kPackets), 0xFFFFFFFFu - 100, 0},
        {"lost", lost, 1000, 6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PlayoutBuffer buffer;
        const auto markers = run(buffer, c.arrivals, c.base, kPackets - 2);
        size_t differing = 0;
        for (size_t i = 0; i < markers.size(); ++i)
            if (markers[i] != expected[i]) {
                ++differing;
                EXPECT_EQ(markers[i], 0) << "at piece " << i;
            }
        EXPECT_EQ(differing, c.silent);
        EXPECT_EQ(buffer.stats().silent_pieces, c.silent);
    }
}

TEST(PlayoutBuffer, HostileTimestampsStayInsideTheRing)
{
    PlayoutBuffer buffer;
    std::vector<int16_t> out(kPacketSamples);
    const auto pcm = packet_samples(1);
    const uint32_t base = 0x40000000;
    const uint32_t hostile[] = {base,        base - 480,  base - 80 * 599, base + 80 * 595,
                                base + 1040, 0,           0xFFFFFFFFu,     base + 0x7FFFFFFFu,
                                base - 1,    0x80000001u, 0x0FFFFFFFu,     base + 80 * 1195};
    for (int round = 0; round < 50; ++round)
        for (uint32_t ts : hostile) {
            buffer.put(pcm.data(), 960, ts + round * 17, 0);
            buffer.get(out.data(), out.size() * 2);
        }
    EXPECT_TRUE(buffer.started());
    EXPECT_LE(std::abs(buffer.delay()), 300 * 80);
}

TEST(PlayoutBuffer, ChangeOfBlockSizeStartsOver)
{
    PlayoutBuffer buffer;
    (void)run(buffer, steady(20), 1000, 10);
    EXPECT_TRUE(buffer.started());

    // The far end switches to 20 ms packets.
    std::vector<int16_t> out(kPacketSamples);
    std::vector<int> markers;
    for (int k = 0; k < 60; ++k) {
        const auto pcm = packet_samples(k, 160);
        buffer.put(pcm.data(), 320, 90000 + k * 160, static_cast<uint16_t>(k));
        if (k == 0) {
            EXPECT_FALSE(buffer.started());
        }
        if (k % 3 == 2) {
            buffer.get(out.data(), out.size() * 2);
            for (size_t piece = 0; piece < 6; ++piece)
                markers.push_back(out[piece * 80]);
        }
    }
    EXPECT_TRUE(buffer.started());
    // Once playing, the new stream's pieces follow each other.
    ASSERT_GT(markers.back(), 0);
    EXPECT_EQ(markers.back() - markers[markers.size() - 6], 5);
}

TEST(PlayoutBuffer, PacketReadAsSilenceJustBeforeItArrivedIsLateAndGrowsTheDelay)
{
    // The reads run a block ahead of the stream: each one asks for the slot of
    // the packet that arrives right after it.
    PlayoutBuffer buffer;
    std::vector<int16_t> out(480);
    const uint32_t base = 48000;
    buffer.put(packet_samples(0).data(), 960, base, 0);
    buffer.get(out.data(), 960);
    buffer.get(out.data(), 960);
    for (int k = 1; k <= 3; ++k) {
        buffer.put(packet_samples(k).data(), 960, base + 480 * k, static_cast<uint16_t>(k));
        if (k < 3) {
            buffer.get(out.data(), 960);
        }
    }
    ASSERT_TRUE(buffer.started());
    int audible = 0;
    for (int k = 4; k < 10; ++k) {
        buffer.get(out.data(), 960);
        audible += out[0] != 0 ? 1 : 0;
        buffer.put(packet_samples(k).data(), 960, base + 480 * k, static_cast<uint16_t>(k));
    }
    EXPECT_GT(buffer.delay(), PlayoutBuffer::kInitialDelay);
    EXPECT_GE(audible, 4);
}

} // namespace
} // namespace vokar::media
