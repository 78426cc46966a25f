#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vokar::cli {

// Length of the valid UTF-8 sequence at text[at], or 0 when the bytes there
// are not one (overlong forms, surrogates and values past U+10FFFF included).
size_t utf8_sequence(std::string_view text, size_t at);

// `text` as a JSON string literal, quotes included. Control characters are
// escaped; valid UTF-8 is kept as is and every byte that is not part of a
// valid UTF-8 sequence becomes U+FFFD, so the result is always valid JSON in
// valid UTF-8.
std::string json_string(std::string_view text);

// One JSON object, built field by field in order, written on one line.
class JsonObject {
public:
    JsonObject& add(std::string_view key, std::string_view value);
    JsonObject& add(std::string_view key, const char* value)
    {
        return add(key, std::string_view(value));
    }
    JsonObject& add(std::string_view key, const std::wstring& value);
    JsonObject& add(std::string_view key, int64_t value);
    JsonObject& add(std::string_view key, int value)
    {
        return add(key, static_cast<int64_t>(value));
    }
    JsonObject& add(std::string_view key, bool value);
    // `json` is already valid JSON (an array or object made here).
    JsonObject& add_raw(std::string_view key, std::string_view json);

    std::string str() const { return body_ + "}"; }

private:
    void key(std::string_view key);
    std::string body_ = "{";
};

// A JSON array of already valid JSON values.
std::string json_array(const std::vector<std::string>& values);

} // namespace vokar::cli
