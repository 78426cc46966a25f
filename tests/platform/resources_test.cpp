#include "platform/resources.h"

#include <gtest/gtest.h>

namespace vokar::platform {
namespace {

TEST(Resources, KnownIdentifiersGiveTheirTextUnknownOnesNothing)
{
    EXPECT_EQ(load_string(2001), L"Vokar");
    EXPECT_EQ(load_string(2002), L"Vokar - Login");
    EXPECT_TRUE(load_string(0).empty());
    EXPECT_TRUE(load_string(1).empty());
    EXPECT_TRUE(load_string(2011).empty());
    EXPECT_TRUE(load_string(99999).empty());
    EXPECT_TRUE(load_string(-5).empty());
}

} // namespace
} // namespace vokar::platform
