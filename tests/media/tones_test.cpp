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

// A key table whose every sample names its tone and 20 ms piece: 100 * tone +
// piece + 1.
std::string marked_table(size_t bytes = KeyTonePlayer::kTableBytes)
{
    std::string table(bytes, '\0');
    for (size_t i = 0; i + 1 < bytes; i += 2) {
        const auto v = static_cast<uint16_t>(100 * (i / 1600) + (i % 1600) / 320 + 1);
        table[i] = static_cast<char>(v & 0xFF);
        table[i + 1] = static_cast<char>(v >> 8);
    }
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
        if (outgoing)
            player.fill_outgoing(block.data(), block_bytes);
        else
            player.fill_earpiece(block.data(), block_bytes);
        for (size_t p = 0; p < block.size(); p += 160)
            markers.push_back(block[p]);
    }
    return markers;
}

std::vector<int> expected_tone(int tone, int count)
{
    std::vector<int> m;
    for (int i = 0; i < count; ++i)
        m.push_back(100 * tone + i % 5 + 1);
    return m;
}

std::vector<int> concat(std::vector<int> a, const std::vector<int>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(KeyTones, EachPressReplaces300MsOfBothDirectionsInTurn)
{
    const std::vector<int> untouched(3, -1);
    const struct {
        size_t block_bytes;
        int blocks;
        std::vector<int> keys;
        std::vector<int> markers;
    } cases[] = {
        // 5 blocks of 60 ms hold the tone three times over.
        {960, 6, {5}, concat(expected_tone(5, 15), untouched)},
        {960,
         11,
         {5, KeyTonePlayer::kToneHash},
         concat(concat(expected_tone(5, 15), expected_tone(10, 15)), untouched)},
        // 40 ms blocks: the last block takes only the piece the tone still covers.
        {640, 8, {9}, concat(expected_tone(9, 15), {-1})},
        // Indices no key has are ignored.
        {960, 1, {-1, 12, 100}, untouched},
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
    EXPECT_EQ(pieces(none, true, 1, 960), std::vector<int>(3, -1));

    // A short file leaves silence behind its data; a long one is cut.
    KeyTonePlayer short_file(marked_table(1600 + 320 + 1));
    short_file.play_key_tone(1);
    short_file.play_key_tone(2);
    EXPECT_EQ(pieces(short_file, false, 10, 960),
              concat({101, 0, 0, 0, 0, 101, 0, 0, 0, 0, 101, 0, 0, 0, 0}, std::vector<int>(15, 0)));

    KeyTonePlayer long_file(marked_table() + std::string(5000, '\x7f'));
    long_file.play_key_tone(11);
    EXPECT_EQ(pieces(long_file, true, 5, 960), expected_tone(11, 15));
}

TEST(KeyTones, PressesWhileBothDirectionsPlay)
{
    KeyTonePlayer player(marked_table());
    constexpr int kPresses = 200;
    std::thread ui([&] {
        for (int i = 0; i < kPresses; ++i)
            player.play_key_tone(i % 12);
    });
    std::thread earpiece([&] { (void)pieces(player, false, kPresses * 5, 960); });
    (void)pieces(player, true, kPresses * 5, 960);
    ui.join();
    earpiece.join();
    // Every press was played in full by the time both directions took 1000
    // blocks, unless it came after they stopped.
    const auto rest = pieces(player, true, kPresses * 5, 960);
    EXPECT_EQ(rest.size() % 15, 0u);
}

TEST(RingTone, PlaysAfter21SilentBlocksThen42OnAnd40Off)
{
    // Each 960-byte block of the sound holds its own number + 1.
    std::string sound(RingTonePlayer::kSoundBytes, '\0');
    for (size_t i = 0; i < sound.size(); i += 2)
        sound[i] = static_cast<char>(i / 960 + 1);
    for (const std::string& file :
         {sound, sound + std::string(9000, '\x55'), sound.substr(0, 5000)}) {
        RingTonePlayer ring(file);
        std::vector<int16_t> block(480);
        for (int b = 0; b < 21 + 82 * 2; ++b) {
            ring.fill_ring(block.data(), 960);
            const int step = (b - 21) % 82;
            int expected = b < 21 || step >= 42 ? 0 : step + 1;
            if (file.size() < RingTonePlayer::kSoundBytes && step * 960 >= 5000)
                expected = 0;
            ASSERT_EQ(block[0], expected) << "block " << b;
            // The last block runs past the sound: silence behind it.
            if (step == 41) {
                ASSERT_EQ(block[479], 0);
            }
        }
    }
}

double goertzel_power(const int16_t* pcm, int n, double frequency)
{
    const double k = 2 * std::cos(2 * M_PI * frequency / 8000.0);
    double s1 = 0, s2 = 0;
    for (int i = 0; i < n; ++i) {
        const double s = pcm[i] + k * s1 - s2;
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
    const double rows[] = {697, 770, 852, 941};
    const double cols[] = {1209, 1336, 1477};
    // Keys 0 to 9, #, *.
    const std::pair<int, int> pairs[12] = {{3, 1}, {0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 1},
                                           {1, 2}, {2, 0}, {2, 1}, {2, 2}, {3, 2}, {3, 0}};
    for (int tone = 0; tone < 12; ++tone) {
        std::vector<int16_t> pcm(800);
        std::memcpy(pcm.data(), keys.data() + tone * 1600, 1600);
        int best_row = 0, best_col = 0;
        for (int r = 0; r < 4; ++r)
            if (goertzel_power(pcm.data(), 800, rows[r]) >
                goertzel_power(pcm.data(), 800, rows[best_row]))
                best_row = r;
        for (int c = 0; c < 3; ++c)
            if (goertzel_power(pcm.data(), 800, cols[c]) >
                goertzel_power(pcm.data(), 800, cols[best_col]))
                best_col = c;
        EXPECT_EQ(std::make_pair(best_row, best_col), pairs[tone]) << "tone " << tone;
    }
}

} // namespace
} // namespace vokar::media
