#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vokar {

// Reads one HTTP answer of the account web service from the chunks a socket
// delivers. Only a status line "HTTP/1.x 200" is accepted. The body is the
// declared Content-Length after the header block or, without that header,
// everything until the server closes. An answer larger than kMaxAnswerBytes,
// a body cut short, a header block that never completes or a transfer coding
// fails the read.
class WebAnswerReader {
public:
    static constexpr size_t kMaxAnswerBytes = 64 * 1024;

    enum class State { Reading, Complete, Failed };

    // Appends one received chunk; returns the state after it. Chunks after
    // the read ended are ignored.
    State feed(std::string_view chunk);
    // The server closed the connection: `orderly` when a receive returned 0,
    // false for a receive error.
    State close(bool orderly);

    State state() const { return state_; }
    // The body once Complete, else empty.
    std::string_view body() const;

private:
    void fail();
    bool check_status_line();
    bool read_headers();
    void check_complete();

    std::string buffer_;
    State state_ = State::Reading;
    bool status_checked_ = false;
    size_t body_start_ = 0; // non-zero once the header block is complete
    std::optional<size_t> length_;
};

// The status character of a body: an empty body or one starting with "1" is
// a failure, anything else a success.
bool web_body_succeeded(std::string_view body);

} // namespace vokar
