#include "platform/text.h"

#include <gtest/gtest.h>

namespace vokar::platform {
namespace {

TEST(Text, RoundTripsEveryPlaneOfUnicode)
{
    const std::wstring wide = L"Vokar \u00e9\u4e2d\U0001F600 end";
    const std::string utf8 = to_utf8(wide);
    EXPECT_EQ(utf8, "Vokar \xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80 end");
    EXPECT_EQ(to_wide(utf8), wide);
}

TEST(Text, BadBytesBecomeReplacementCharactersAndTheRestSurvives)
{
    struct Case {
        std::string in;
        std::wstring out;
    } cases[] = {
        {"a\xff"
         "b",
         L"a\ufffdb"},         // invalid lead byte
        {"a\xc3", L"a\ufffd"}, // truncated at the end
        {"\xe4\xb8"
         "x",
         L"\ufffdx"},                  // truncated in the middle
        {"\xc0\xaf", L"\ufffd"},       // overlong '/'
        {"\xed\xa0\x80", L"\ufffd"},   // encoded surrogate
        {"\x80\x80", L"\ufffd\ufffd"}, // stray continuations
        {"", L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(to_wide(c.in), c.out) << c.in;
}

TEST(Text, UnencodableWideCharactersBecomeReplacement)
{
    std::wstring bad;
    bad += L'a';
    bad += static_cast<wchar_t>(0xDC00); // lone low surrogate
    bad += static_cast<wchar_t>(0x110000);
    EXPECT_EQ(to_utf8(bad), "a\xef\xbf\xbd\xef\xbf\xbd");
    std::wstring pair;
    pair += static_cast<wchar_t>(0xD83D);
    pair += static_cast<wchar_t>(0xDE00);
    EXPECT_EQ(to_utf8(pair), "\xf0\x9f\x98\x80");
}

} // namespace
} // namespace vokar::platform
