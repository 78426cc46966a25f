#pragma once

// Scanning helpers shared by the SIP and SDP parsers. Every loop stops at the
// end of the text as well as at its stop bytes.

#include <climits>
#include <string_view>

namespace vokar::sip_text {

inline constexpr std::string_view kDelimiters = ", \n\t\r;";

// The bytes from `pos` up to the first of `stops` or the end; `pos` is left on
// the stop byte (or at the end).
inline std::string_view until(std::string_view text, size_t& pos, std::string_view stops)
{
    const size_t start = pos < text.size() ? pos : text.size();
    size_t end = text.find_first_of(stops, start);
    if (end == std::string_view::npos)
        end = text.size();
    pos = end;
    return text.substr(start, end - start);
}

inline bool is_line_end(char c)
{
    return c == '\r' || c == '\n';
}

// Skips at most 8 bytes that are in `set` (the line ends, by default).
inline void skip_line_ends(std::string_view text, size_t& pos, std::string_view set = "\r\n")
{
    for (int i = 0; i < 8 && pos < text.size() && set.find(text[pos]) != std::string_view::npos;
         ++i)
        ++pos;
}

inline void skip_blanks(std::string_view text, size_t& pos)
{
    while (pos < text.size() && text[pos] == ' ')
        ++pos;
}

// Skips delimiters, then returns the bytes up to the next delimiter (the six
// of kDelimiters plus `extra`) or the end.
inline std::string_view next_token(std::string_view text, size_t& pos, std::string_view extra = {})
{
    const auto is_delimiter = [extra](char c) {
        return kDelimiters.find(c) != std::string_view::npos ||
               extra.find(c) != std::string_view::npos;
    };
    while (pos < text.size() && is_delimiter(text[pos]))
        ++pos;
    const size_t start = pos;
    while (pos < text.size() && !is_delimiter(text[pos]))
        ++pos;
    return text.substr(start, pos - start);
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
