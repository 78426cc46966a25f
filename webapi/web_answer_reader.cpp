#include "webapi/web_answer_reader.h"

#include <algorithm>

namespace vokar {
namespace {

bool equals_ignoring_case(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

std::string_view trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// A decimal Content-Length no larger than the answer cap.
std::optional<size_t> parse_length(std::string_view text)
{
    if (text.empty() || text.size() > 9)
        return std::nullopt;
    size_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<size_t>(c - '0');
    }
    return value;
}

} // namespace

bool web_body_succeeded(std::string_view body)
{
    return !body.empty() && body.front() != '1';
}

std::string_view WebAnswerReader::body() const
{
    if (state_ != State::Complete)
        return {};
    return std::string_view(buffer_).substr(body_start_);
}

void WebAnswerReader::fail()
{
    state_ = State::Failed;
    buffer_.clear();
    buffer_.shrink_to_fit();
}

WebAnswerReader::State WebAnswerReader::feed(std::string_view chunk)
{
    if (state_ != State::Reading || chunk.empty())
        return state_;
    const size_t searched = buffer_.size() < 3 ? 0 : buffer_.size() - 3;
    // Never hold more than the cap (plus the terminator search's overlap).
    buffer_.append(
        chunk.substr(0, kMaxAnswerBytes + 1 - std::min(buffer_.size(), kMaxAnswerBytes)));
    if (!status_checked_ && buffer_.find("\r\n") != std::string::npos) {
        status_checked_ = true;
        if (!check_status_line()) {
            fail();
            return state_;
        }
    }
    if (body_start_ == 0) {
        const size_t end = buffer_.find("\r\n\r\n", searched);
        if (end != std::string::npos) {
            body_start_ = end + 4;
            if (!read_headers()) {
                fail();
                return state_;
            }
        }
    }
    check_complete();
    if (state_ == State::Reading && buffer_.size() > kMaxAnswerBytes)
        fail();
    return state_;
}

WebAnswerReader::State WebAnswerReader::close(bool orderly)
{
    if (state_ != State::Reading)
        return state_;
    // Without a length the close ends the body; anything else is cut short.
    if (orderly && body_start_ != 0 && !length_)
        state_ = State::Complete;
    else
        fail();
    return state_;
}

bool WebAnswerReader::check_status_line()
{
    const std::string_view line = std::string_view(buffer_).substr(0, buffer_.find("\r\n"));
    // "HTTP/1." digit " 200", then the end of the line or a space and the reason.
    if (line.size() < 12 || line.substr(0, 7) != "HTTP/1." || line[7] < '0' || line[7] > '9' ||
        line.substr(8, 4) != " 200")
        return false;
    return line.size() == 12 || line[12] == ' ';
}

bool WebAnswerReader::read_headers()
{
    std::string_view block = std::string_view(buffer_).substr(0, body_start_ - 2);
    block.remove_prefix(block.find("\r\n") + 2); // the status line
    while (!block.empty()) {
        const size_t end = block.find("\r\n");
        const std::string_view line = block.substr(0, end);
        block.remove_prefix(end + 2);
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        const std::string_view name = line.substr(0, colon);
        const std::string_view value = trim(line.substr(colon + 1));
        if (equals_ignoring_case(name, "Content-Length")) {
            const std::optional<size_t> length = parse_length(value);
            if (!length || (length_ && *length_ != *length))
                return false;
            length_ = length;
        } else if (equals_ignoring_case(name, "Transfer-Encoding") &&
                   !equals_ignoring_case(value, "identity")) {
            // A chunked body would be taken for the payload with its framing.
            return false;
        }
    }
    return body_start_ <= kMaxAnswerBytes &&
           (!length_ || *length_ <= kMaxAnswerBytes - body_start_);
}

void WebAnswerReader::check_complete()
{
    if (state_ != State::Reading || body_start_ == 0 || !length_)
        return;
    if (buffer_.size() >= body_start_ + *length_) {
        buffer_.resize(body_start_ + *length_);
        state_ = State::Complete;
    }
}

} // namespace vokar
