#include "account/number_normalizer.h"

#include <gtest/gtest.h>

#include <string>

namespace vokar {
namespace {

struct Case {
    std::wstring_view typed;
    std::wstring_view expected;
};

std::string narrow(std::wstring_view s)
{
    return std::string(s.begin(), s.end());
}

TEST(NumberNormalizerTest, WithKnownPrefix)
{
    const Case cases[] = {
        {L"082 555-1234", L"27825551234"},
        {L"0027 82 555 1234", L"27825551234"},
        {L"+27 82 555 1234", L"27825551234"},
        {L"(082) 555-1234", L"27825551234"},
        {L"27825551234", L"27825551234"},
        {L"0912345678", L"12345678"},
        {L"0044 20 7946 0000", L"442079460000"},
        {L"+0821234", L"27821234"}, // the "+" goes first, then the national zero
        {L"++27821234", L"+27821234"},
        {L"0", L"27"},
        {L"", L""},
        {L"- ()", L""},
        {L"0\r\n82\t5", L"2782\t5"}, // tab is not punctuation
        {L"0(8)2!#$%^&*=|\\/?'\";:><,~`5", L"27825"},
    };
    int requests = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(normalize_number(c.typed, L"27", [&] { ++requests; }), c.expected)
            << narrow(c.typed);
    }
    EXPECT_EQ(requests, 0);
}

TEST(NumberNormalizerTest, WithUnknownPrefixRequestsItOncePerCall)
{
    const Case cases[] = {
        {L"082 555-1234", L"0825551234"},
        {L"+27 82 555 1234", L"27825551234"},
        {L"0027 82 555 1234", L"0027825551234"},
        {L"0912345678", L"0912345678"},
        {L"", L""},
    };
    for (std::wstring_view prefix : {L"-1", L""}) {
        int requests = 0;
        for (const auto& c : cases) {
            EXPECT_EQ(normalize_number(c.typed, prefix, [&] { ++requests; }), c.expected)
                << narrow(c.typed);
        }
        EXPECT_EQ(requests, 5) << narrow(prefix);
    }
    // Without a callback nothing is requested and the number still comes back.
    EXPECT_EQ(normalize_number(L"082 555-1234", L"-1", {}), L"0825551234");
}

} // namespace
} // namespace vokar
