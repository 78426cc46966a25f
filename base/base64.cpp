#include "base/base64.h"

#include <cstdint>

namespace vokar {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

uint32_t value_of(char c)
{
    if (c >= 'A' && c <= 'Z')
        return static_cast<uint32_t>(c - 'A');
    if (c >= 'a' && c <= 'z')
        return static_cast<uint32_t>(c - 'a' + 26);
    if (c >= '0' && c <= '9')
        return static_cast<uint32_t>(c - '0' + 52);
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return 0;
}

} // namespace

std::string base64_encode(std::string_view bytes)
{
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t v = static_cast<uint8_t>(bytes[i]) << 16 |
                           static_cast<uint8_t>(bytes[i + 1]) << 8 |
                           static_cast<uint8_t>(bytes[i + 2]);
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    const size_t rest = bytes.size() - i;
    if (rest > 0) {
        uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
        if (rest == 2)
            v |= static_cast<uint8_t>(bytes[i + 1]) << 8;
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string base64_decode(std::string_view text)
{
    const size_t groups = text.size() / 4;
    std::string out;
    out.reserve(groups * 3);
    for (size_t g = 0; g < groups; ++g) {
        const std::string_view group = text.substr(g * 4, 4);
        uint32_t v = 0;
        for (char c : group)
            v = v << 6 | value_of(c);
        out += static_cast<char>(v >> 16);
        out += static_cast<char>((v >> 8) & 0xFF);
        out += static_cast<char>(v & 0xFF);
    }
    if (groups > 0) {
        const std::string_view last = text.substr((groups - 1) * 4, 4);
        size_t padding = 0;
        if (last[3] == '=')
            padding = last[2] == '=' ? 2 : 1;
        out.resize(out.size() - padding);
    }
    return out;
}

} // namespace vokar
