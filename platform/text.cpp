#include "platform/text.h"

#include <cstdint>

namespace vokar::platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool is_continuation(unsigned char b)
{
    return (b & 0xC0) == 0x80;
}

void append_utf8(std::string& out, char32_t cp)
{
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = kReplacement;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace

std::wstring to_wide(std::string_view in)
{
    std::wstring out;
    out.reserve(in.size());
    size_t i = 0;
    while (i < in.size()) {
        const auto b = static_cast<unsigned char>(in[i]);
        size_t len = 0;
        char32_t cp = 0;
        char32_t min = 0;
        if (b < 0x80) {
            out += static_cast<wchar_t>(b);
            ++i;
            continue;
        } else if ((b & 0xE0) == 0xC0) {
            len = 2, cp = b & 0x1F, min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            len = 3, cp = b & 0x0F, min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            len = 4, cp = b & 0x07, min = 0x10000;
        }
        size_t got = 1;
        if (len != 0) {
            while (got < len && i + got < in.size() &&
                   is_continuation(static_cast<unsigned char>(in[i + got]))) {
                cp = (cp << 6) | (static_cast<unsigned char>(in[i + got]) & 0x3F);
                ++got;
            }
        }
        const bool valid = len != 0 && got == len && cp >= min && cp <= 0x10FFFF &&
                           !(cp >= 0xD800 && cp <= 0xDFFF);
        out += static_cast<wchar_t>(valid ? cp : kReplacement);
        i += valid ? len : got;
    }
    return out;
}

std::string to_utf8(std::wstring_view in)
{
    std::string out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        auto cp = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(in[i]));
        // A wide string from a UTF-16 source may carry surrogate pairs.
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < in.size()) {
            const auto lo = static_cast<char32_t>(in[i + 1]);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                ++i;
            }
        }
        append_utf8(out, cp);
    }
    return out;
}

} // namespace vokar::platform
