#include "base/base64.h"

#include <gtest/gtest.h>

namespace vokar {
namespace {

TEST(Base64, EncodeAndDecode)
{
    const std::pair<std::string, std::string> vectors[] = {
        {"", ""},        {"f", "Zg=="},        {"fo", "Zm8="},
        {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"\xfb\xff", "+/8="},
    };
    for (const auto& [plain, coded] : vectors) {
        EXPECT_EQ(base64_encode(plain), coded);
        EXPECT_EQ(base64_decode(coded), plain);
    }
    // Whole groups only, at most two "=", never a negative length.
    EXPECT_EQ(base64_decode("===="), std::string(1, '\0'));
    EXPECT_EQ(base64_decode("A="), "");
    EXPECT_EQ(base64_decode("Zm9vYg"), "foo");
    EXPECT_EQ(base64_decode("Z=9v"), "d\x0fo") << "a '=' inside counts as 0";
}

} // namespace
} // namespace vokar
