#include "base/scramble.h"

#include <gtest/gtest.h>

#include <set>

namespace vokar {
namespace {

TEST(Scramble, ChainsEachByteOnThePreviousOutputByte)
{
    // c[0] = 0x10; c[1] = 'A' - 0x10 = 0x31; c[2] = 'B' - 0x31 = 0x11.
    EXPECT_EQ(scramble("AB", 0x10), std::string("\x10\x31\x11"));
    // Differences wrap modulo 256.
    EXPECT_EQ(scramble("\x01", 0xFF), std::string("\xFF\x02"));
    EXPECT_EQ(unscramble(std::string("\x10\x31\x11")), "AB");
}

TEST(Scramble, RoundTripsWithEveryFirstByte)
{
    std::string text = "REGISTER sip:sip.vokar.test SIP/2.0\r\n";
    for (int b = 0; b < 256; ++b)
        text += static_cast<char>(b);
    std::set<std::string> forms;
    for (int first = 0; first < 256; ++first) {
        const std::string wire = scramble(text, static_cast<uint8_t>(first));
        ASSERT_EQ(wire.size(), text.size() + 1);
        EXPECT_EQ(static_cast<uint8_t>(wire[0]), first);
        EXPECT_EQ(unscramble(wire), text) << "first byte " << first;
        forms.insert(wire);
    }
    EXPECT_EQ(forms.size(), 256u);
}

TEST(Scramble, ShortInputs)
{
    EXPECT_EQ(scramble("").size(), 1u);
    EXPECT_EQ(unscramble(""), "");
    EXPECT_EQ(unscramble("x"), "");
}

TEST(Scramble, FirstByteVariesBetweenSends)
{
    std::set<char> firsts;
    for (int i = 0; i < 64; ++i) {
        const std::string wire = scramble("same text");
        EXPECT_EQ(unscramble(wire), "same text");
        firsts.insert(wire[0]);
    }
    EXPECT_GT(firsts.size(), 16u);
}

} // namespace
} // namespace vokar
