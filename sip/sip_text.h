#pragma once

// Scanning helpers shared by the SIP and SDP parsers. Every loop stops at the
// end of the text as well as at its stop bytes.

#include <array>
#include <climits>
#include <string_view>

namespace vokar::sip_text {

// A set of bytes with constant-time membership, built at compile time.
class ByteSet {
public:
    constexpr explicit ByteSet(std::string_view bytes) : bits_{}
    {
        for (const char c : bytes)
            bits_[static_cast<unsigned char>(c)] = true;
    }
    constexpr ByteSet with(std::string_view more) const
    {
        ByteSet out = *this;
        for (const char c : more)
            out.bits_[static_cast<unsigned char>(c)] = true;
        return out;
    }
    constexpr bool has(char c) const { return bits_[static_cast<unsigned char>(c)]; }

private:
    std::array<bool, 256> bits_;
};

inline constexpr ByteSet kLineEnds{"\r\n"};
// The token delimiters: comma, blank, LF, TAB, CR, semicolon.
inline constexpr ByteSet kDelimiters{", \n\t\r;"};

// The bytes from `pos` up to the first of `stops` or the end; `pos` is left on
// the stop byte (or at the end).
inline std::string_view until(std::string_view text, size_t& pos, const ByteSet& stops)
{
    const size_t start = pos < text.size() ? pos : text.size();
    size_t end = start;
    while (end < text.size() && !stops.has(text[end]))
        ++end;
    pos = end;
    return text.substr(start, end - start);
}

// The same for a single stop byte.
inline std::string_view until(std::string_view text, size_t& pos, char stop)
{
    const size_t start = pos < text.size() ? pos : text.size();
    size_t end = text.find(stop, start);
    if (end == std::string_view::npos)
        end = text.size();
    pos = end;
    return text.substr(start, end - start);
}

// Skips at most 8 bytes that are in `set` (the line ends, by default).
inline void skip_line_ends(std::string_view text, size_t& pos, const ByteSet& set = kLineEnds)
{
    for (int i = 0; i < 8 && pos < text.size() && set.has(text[pos]); ++i)
        ++pos;
}

inline void skip_blanks(std::string_view text, size_t& pos)
{
    while (pos < text.size() && text[pos] == ' ')
        ++pos;
}

// Skips delimiters, then returns the bytes up to the next delimiter or the
// end (kDelimiters, or a set that extends it).
inline std::string_view next_token(std::string_view text, size_t& pos,
                                   const ByteSet& delimiters = kDelimiters)
{
    while (pos < text.size() && delimiters.has(text[pos]))
        ++pos;
    return until(text, pos, delimiters);
}

// Decimal value of the leading digits (after blanks, tabs and a sign); 0 when
// there are none; saturates instead of overflowing.
inline int to_int(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        return INT_MAX;
    return static_cast<int>(value);
}

} // namespace vokar::sip_text
