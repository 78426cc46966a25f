#include "media/key_tone_player.h"
#include "media/ring_tone_player.h"
#include "media/tone_files.h"

#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace vokar::media {
namespace {

// A key table whose every sample names its tone and 20 ms piece: 10 * tone +
// piece + 1.
std::string marked_table(size_t bytes = KeyTonePlayer::kTableBytes)
{
    std::string table(bytes, '\0');
    for (size_t i = 0; i + 1 < bytes; i += 2)
        table[i] = static_cast<char>(10 * (i / 1600) + (i % 1600) / 320 + 1);
    return table;
}

// The marker of every 20 ms piece of `blocks` blocks taken in one direction
// (-1: the audio was left as it was).
std::vector<int> pieces(KeyTonePlayer& player, bool outgoing, int blocks, size_t block_bytes)
{
    std::vector<int> markers;
    std::vector<int16_t> block(block_bytes / 2);
    for (int b = 0; b < blocks; ++b) {
        std::fill(block.begin(), block.end(), int16_t{-1});
        (player.*(outgoing ? &KeyTonePlayer::fill_outgoing : &KeyTonePlayer::fill_earpiece))(
            block.data(), block_bytes);
        for (size_t p = 0; p < block.size(); p += 160)
            markers.push_back(block[p]);
    }
    return markers;
}

// Each tone's five pieces three times over, then `untouched` pieces left alone.
std::vector<int> played(std::initializer_list<int> tones, int untouched)
{
    std::vector<int> m;
    for (int tone : tones)
        for (int i = 0; i < 15; ++i)
            m.push_back(10 * tone + i % 5 + 1);
    m.insert(m.end(), static_cast<size_t>(untouched), -1);
    return m;
}

TEST(KeyTones, EachPressReplaces300MsOfBothDirectionsInTurn)
{
    const struct {
        size_t block_bytes;
        int blocks;
        std::vector<int> keys;
        std::vector<int> markers;
    } cases[] = {
        {960, 6, {5}, played({5}, 3)},
        {960, 11, {5, KeyTonePlayer::kToneHash}, played({5, 10}, 3)},
        // 40 ms blocks: the last block takes only the piece the tone still covers.
        {640, 8, {9}, played({9}, 1)},
        // Indices no key has are ignored.
        {960, 1, {-1, 12, 100}, played({}, 3)},
    };
    for (const auto& c : cases) {
        KeyTonePlayer player(marked_table());
        for (int key : c.keys)
            player.play_key_tone(key);
        EXPECT_EQ(pieces(player, true, c.blocks, c.block_bytes), c.markers);
        EXPECT_EQ(pieces(player, false, c.blocks, c.block_bytes), c.markers);
    }
}

TEST(KeyTones, TableLoaderTakesAnyLength)
{
    KeyTonePlayer none;
    none.play_key_tone(3);
    EXPECT_EQ(pieces(none, true, 1, 960), played({}, 3));

    // A short file leaves silence behind its data; a long one is cut.
    KeyTonePlayer short_file(marked_table(1600 + 320 + 1));
    short_file.play_key_tone(1);
    std::vector<int> expected(15, 0);
    expected[0] = expected[5] = expected[10] = 11;
    EXPECT_EQ(pieces(short_file, false, 5, 960), expected);

    KeyTonePlayer long_file(marked_table() + std::string(5000, '\x7f'));
    long_file.play_key_tone(11);
    EXPECT_EQ(pieces(long_file, true, 5, 960), played({11}, 0));
}

// Presses on one thread while both directions play on two others.
TEST(KeyTones, QueuesAreSharedSafelyBetweenThreads)
{
    KeyTonePlayer player(marked_table());
    std::thread ui([&] {
        for (int i = 0; i < 200; ++i)
            player.play_key_tone(i % 12);
    });
    std::thread earpiece([&] { (void)pieces(player, false, 1000, 960); });
    (void)pieces(player, true, 1000, 960);
    ui.join();
    earpiece.join();
    EXPECT_EQ(pieces(player, true, 1000, 960).size() % 15, 0u);
}

TEST(RingTone, PlaysAfter21SilentBlocksThen42OnAnd40Off)
{
    // Each 960-byte block of the sound holds its own number + 1.
    std::string sound(RingTonePlayer::kSoundBytes, '\0');
    for (size_t i = 0; i < sound.size(); i += 2)
        sound[i] = static_cast<char>(i / 960 + 1);
    for (const std::string& file : {sound, sound + std::string(9000, 'U'), sound.substr(0, 5000)}) {
        RingTonePlayer ring(file);
        std::vector<int16_t> block(480);
        for (int b = 0; b < 21 + 82 * 2; ++b) {
            ring.fill_ring(block.data(), 960);
            const int step = (b - 21) % 82;
            const bool beyond_file = static_cast<size_t>(step) * 960 >= file.size();
            ASSERT_EQ(block[0], b < 21 || step >= 42 || beyond_file ? 0 : step + 1) << b;
            // A block running past the sound ends in silence.
            const size_t end = std::min(file.size(), RingTonePlayer::kSoundBytes);
            ASSERT_EQ(block[479], step * 960 + 960 <= static_cast<int>(end) ? block[0] : 0);
        }
    }
}

double goertzel_power(const std::vector<int16_t>& pcm, double frequency)
{
    const double k = 2 * std::cos(2 * M_PI * frequency / 8000.0);
    double s1 = 0, s2 = 0;
    for (int16_t x : pcm) {
        const double s = x + k * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    return s1 * s1 + s2 * s2 - k * s1 * s2;
}

TEST(ToneFiles, KeyToneTableHoldsTheTwelveKeypadPairs)
{
    const std::string_view keys = embedded_key_tones();
    ASSERT_EQ(keys.size(), KeyTonePlayer::kTableBytes);
    EXPECT_EQ(embedded_ring_tone().size(), RingTonePlayer::kSoundBytes);
    // Keys 0 to 9, #, * as (row, column) of 697/770/852/941 and 1209/1336/1477 Hz.
    const std::vector<double> rows = {697, 770, 852, 941}, cols = {1209, 1336, 1477};
    const std::pair<int, int> pairs[12] = {{3, 1}, {0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 1},
                                           {1, 2}, {2, 0}, {2, 1}, {2, 2}, {3, 2}, {3, 0}};
    for (int tone = 0; tone < 12; ++tone) {
        std::vector<int16_t> pcm(800);
        std::memcpy(pcm.data(), keys.data() + tone * 1600, 1600);
        const auto strongest = [&](const std::vector<double>& freqs) {
            int best = 0;
            for (int i = 1; i < static_cast<int>(freqs.size()); ++i)
                if (goertzel_power(pcm, freqs[i]) > goertzel_power(pcm, freqs[best]))
                    best = i;
            return best;
        };
        EXPECT_EQ(std::make_pair(strongest(rows), strongest(cols)), pairs[tone]) << tone;
    }
}

} // namespace
} // namespace vokar::media
