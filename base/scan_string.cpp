#include "base/scan_string.h"

#include <algorithm>
#include <climits>

namespace vokar {
namespace {

char lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

ScanString& ScanString::operator=(const ScanString& other)
{
    if (this != &other)
        text_ = other.text_;
    cursor_ = 0;
    return *this;
}

ScanString& ScanString::operator=(ScanString&& other) noexcept
{
    if (this != &other)
        text_ = std::move(other.text_);
    cursor_ = 0;
    return *this;
}

char ScanString::next()
{
    if (at_end())
        return ' ';
    return text_[static_cast<size_t>(cursor_++)];
}

void ScanString::skip_blanks()
{
    while (!at_end() && text_[static_cast<size_t>(cursor_)] == ' ')
        ++cursor_;
}

void ScanString::take(std::string& target)
{
    target += peek();
    if (!at_end())
        ++cursor_;
}

int ScanString::find(std::string_view text, int from) const
{
    if (from < 0)
        from = 0;
    if (from > length())
        return -1;
    const auto pos = text_.find(text, static_cast<size_t>(from));
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int ScanString::rfind(std::string_view text) const
{
    const auto pos = text_.rfind(text);
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int ScanString::rfind(char c) const
{
    const auto pos = text_.rfind(c);
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

bool ScanString::equals_ignore_case(std::string_view text) const
{
    return text_.size() == text.size() &&
           std::equal(text_.begin(), text_.end(), text.begin(),
                      [](char a, char b) { return lower(a) == lower(b); });
}

int ScanString::to_int() const
{
    size_t i = 0;
    while (i < text_.size() && (text_[i] == ' ' || text_[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text_.size() && (text_[i] == '-' || text_[i] == '+'))
        negative = text_[i++] == '-';
    long long value = 0;
    for (; i < text_.size() && text_[i] >= '0' && text_[i] <= '9'; ++i) {
        value = value * 10 + (text_[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        value = -value;
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

ScanString ScanString::substr(int from, int count) const
{
    if (from < 0)
        from = 0;
    if (from >= length() || count <= 0)
        return ScanString();
    return ScanString(text_.substr(static_cast<size_t>(from), static_cast<size_t>(count)));
}

ScanString ScanString::next_token(std::string_view extra)
{
    const auto is_delimiter = [extra](char c) {
        return kDelimiters.find(c) != std::string_view::npos ||
               extra.find(c) != std::string_view::npos;
    };
    while (!at_end() && is_delimiter(text_[static_cast<size_t>(cursor_)]))
        ++cursor_;
    const int start = cursor_;
    while (!at_end() && !is_delimiter(text_[static_cast<size_t>(cursor_)]))
        ++cursor_;
    return substr(start, cursor_ - start);
}

ScanString& ScanString::append(std::string_view text)
{
    text_.append(text);
    return *this;
}

ScanString& ScanString::append(char c)
{
    text_ += c;
    return *this;
}

ScanString& ScanString::append_int(long long n)
{
    return append(std::to_string(n));
}

ScanString ScanString::to_lower() const
{
    std::string out = text_;
    std::transform(out.begin(), out.end(), out.begin(), lower);
    return ScanString(std::move(out));
}

ScanString ScanString::replace_all(std::string_view old_text, std::string_view new_text) const
{
    if (old_text.empty())
        return ScanString(text_);
    std::string out;
    out.reserve(text_.size());
    size_t pos = 0;
    for (;;) {
        const auto hit = text_.find(old_text, pos);
        if (hit == std::string::npos)
            break;
        out.append(text_, pos, hit - pos);
        out.append(new_text);
        pos = hit + old_text.size();
    }
    out.append(text_, pos, std::string::npos);
    return ScanString(std::move(out));
}

} // namespace vokar
