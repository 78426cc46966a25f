#pragma once

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace vokar::cli {

// Cuts a byte stream into lines of at most `max_line` bytes. A longer line
// is dropped as it comes (memory stays bounded) and reported as overlong.
class LineSplitter {
public:
    struct Line {
        std::string text;
        bool overlong = false;
    };

    explicit LineSplitter(size_t max_line) : max_line_(max_line) {}

    // Feeds one byte; a whole line once it ends with '\n'.
    std::optional<Line> feed(char c);
    // At the end of the stream: the last line when it had no '\n'.
    std::optional<Line> finish();

private:
    const size_t max_line_;
    std::string pending_;
    bool overlong_ = false;
};

// Writes whole lines to a stream from its own thread, flushing each, so
// threads that report never wait for the reader of the stream.
class LineOutput {
public:
    explicit LineOutput(std::FILE* stream);
    // Writes what is queued, then stops.
    ~LineOutput();
    LineOutput(const LineOutput&) = delete;
    LineOutput& operator=(const LineOutput&) = delete;

    // Queues `text` and a newline.
    void line(std::string text);

private:
    void run();

    std::FILE* const stream_;
    std::mutex mutex_; // the fields below
    std::condition_variable wake_;
    std::deque<std::string> queue_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace vokar::cli
