#include "cli/line_io.h"

namespace vokar::cli {

std::optional<LineSplitter::Line> LineSplitter::feed(char c)
{
    if (c == '\n') {
        Line line{std::move(pending_), overlong_};
        if (line.overlong)
            line.text.clear();
        pending_.clear();
        overlong_ = false;
        return line;
    }
    if (overlong_)
        return std::nullopt;
    if (pending_.size() == max_line_) {
        overlong_ = true;
        pending_.clear();
        pending_.shrink_to_fit();
        return std::nullopt;
    }
    pending_ += c;
    return std::nullopt;
}

std::optional<LineSplitter::Line> LineSplitter::finish()
{
    if (pending_.empty() && !overlong_)
        return std::nullopt;
    return feed('\n');
}

LineOutput::LineOutput(std::FILE* stream) : stream_(stream), thread_([this] { run(); }) {}

LineOutput::~LineOutput()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void LineOutput::line(std::string text)
{
    text += '\n';
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(text));
    }
    wake_.notify_all();
}

void LineOutput::run()
{
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty())
            return; // stopping, and everything is written
        std::string text = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        std::fwrite(text.data(), 1, text.size(), stream_);
        std::fflush(stream_);
        lock.lock();
    }
}

} // namespace vokar::cli
