#include "base/scramble.h"

#include "base/random.h"
#include "platform/crt_rand.h"

namespace vokar {

std::string scramble(std::string_view text)
{
    seed_random_once();
    return scramble(text, static_cast<uint8_t>(platform::crt_rand() & 0xFF));
}

std::string scramble(std::string_view text, uint8_t first)
{
    std::string out(text.size() + 1, '\0');
    auto prev = first;
    out[0] = static_cast<char>(first);
    for (size_t i = 0; i < text.size(); ++i) {
        prev = static_cast<uint8_t>(static_cast<uint8_t>(text[i]) - prev);
        out[i + 1] = static_cast<char>(prev);
    }
    return out;
}

std::string unscramble(std::string_view bytes)
{
    if (bytes.empty())
        return {};
    std::string out(bytes.size() - 1, '\0');
    for (size_t i = 0; i + 1 < bytes.size(); ++i)
        out[i] =
            static_cast<char>(static_cast<uint8_t>(bytes[i + 1]) + static_cast<uint8_t>(bytes[i]));
    return out;
}

} // namespace vokar
