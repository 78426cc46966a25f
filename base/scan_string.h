#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vokar {

// A byte string with a read cursor, used to scan and build protocol text.
// Reads at the end yield a blank (0x20) and leave the cursor where it is;
// every scanning operation stops at the end of the text.
class ScanString {
public:
    // The delimiters of next_token: comma, blank, LF, TAB, CR, semicolon.
    static constexpr std::string_view kDelimiters = ", \n\t\r;";

    ScanString() = default;
    explicit ScanString(std::string text) : text_(std::move(text)) {}
    explicit ScanString(std::string_view text) : text_(text) {}
    explicit ScanString(const char* text) : text_(text ? text : "") {}
    // Copies take the bytes only; the copy's cursor starts at 0.
    ScanString(const ScanString& other) : text_(other.text_) {}
    ScanString(ScanString&& other) noexcept : text_(std::move(other.text_)) {}
    ScanString& operator=(const ScanString& other);
    ScanString& operator=(ScanString&& other) noexcept;

    const std::string& str() const { return text_; }
    std::string_view view() const { return text_; }
    int cursor() const { return cursor_; }
    void set_cursor(int cursor) { cursor_ = cursor; }

    void rewind() { cursor_ = 0; }
    int length() const { return static_cast<int>(text_.size()); }
    bool empty() const { return text_.empty(); }
    bool at_end() const { return cursor_ < 0 || cursor_ >= length(); }
    char peek() const { return at_end() ? ' ' : text_[static_cast<size_t>(cursor_)]; }
    char next();
    void skip_blanks();
    // Appends the byte at the cursor (a blank at the end) and advances.
    void take(std::string& target);
    void take(ScanString& target) { take(target.text_); }

    // Index of the first occurrence at or after `from`, or -1 (case-sensitive).
    int find(std::string_view text, int from = 0) const;
    int rfind(std::string_view text) const;
    int rfind(char c) const;
    bool equals(std::string_view text) const { return text_ == text; }
    bool equals_ignore_case(std::string_view text) const;
    // Decimal value of the leading digits (after optional blanks and sign); 0
    // when there are none. Saturates instead of overflowing.
    int to_int() const;
    // Bytes [from, from + count), clipped to the text.
    ScanString substr(int from, int count) const;
    // Skips delimiters, then collects bytes up to the next delimiter (the six
    // of kDelimiters plus `extra`) or the end.
    ScanString next_token(std::string_view extra = {});

    ScanString& append(std::string_view text);
    ScanString& append(const ScanString& text) { return append(text.view()); }
    ScanString& append(char c);
    ScanString& append_int(long long n);
    ScanString& append_crlf() { return append("\r\n"); }

    ScanString to_lower() const;
    ScanString replace_all(std::string_view old_text, std::string_view new_text) const;

    bool operator==(const ScanString& other) const { return text_ == other.text_; }
    bool operator==(std::string_view other) const { return text_ == other; }

private:
    std::string text_;
    int cursor_ = 0;
};

} // namespace vokar
