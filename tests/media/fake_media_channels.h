#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "media/media_session.h"

namespace vokar::media {

// Records what the session sends and hands it frames to receive.
class FakeChannels final : public MediaChannels {
public:
    void send_frame(uint8_t type, std::string_view data) override
    {
        std::lock_guard lock(mutex_);
        sent.emplace_back(type, std::string(data));
    }
    bool receive_frame(uint8_t* type, std::string* data, size_t maximum) override
    {
        std::unique_lock lock(mutex_);
        waiting_ = true;
        cv_.notify_all();
        cv_.wait(lock, [&] { return closed_ || !incoming_.empty(); });
        waiting_ = false;
        if (incoming_.empty()) {
            return false;
        }
        *type = incoming_.front().first;
        *data = incoming_.front().second.substr(0, maximum);
        incoming_.pop_front();
        return true;
    }
    void close() override
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        cv_.notify_all();
    }
    void deliver(uint8_t channel, std::string data)
    {
        std::lock_guard lock(mutex_);
        incoming_.emplace_back(channel, std::move(data));
        cv_.notify_all();
    }
    // Waits until every delivered frame was taken and handled: the receiver
    // is back waiting for the next one.
    void wait_handled()
    {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [&] { return incoming_.empty() && waiting_; });
    }
    std::vector<uint8_t> channels_of_last(size_t count)
    {
        std::lock_guard lock(mutex_);
        std::vector<uint8_t> out;
        for (size_t i = sent.size() - count; i < sent.size(); ++i) {
            out.push_back(sent[i].first);
        }
        return out;
    }

    std::vector<std::pair<uint8_t, std::string>> sent;

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::pair<uint8_t, std::string>> incoming_;
    bool closed_ = false;
    bool waiting_ = false;
};

} // namespace vokar::media
