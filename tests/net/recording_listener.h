#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "net/connection_interface.h"

namespace vokar::test {

// Records what a connection delivers; waits are bounded.
class RecordingListener : public ConnectionListener {
public:
    void onReceive(const std::string& message) override
    {
        std::lock_guard lock(mutex_);
        messages_.push_back(message);
        bytes_ += message.size();
        cv_.notify_all();
    }
    void onConnectResult(int status) override
    {
        std::lock_guard lock(mutex_);
        results_.push_back(status);
        cv_.notify_all();
    }
    bool wait_messages(size_t n, int ms = 3000)
    {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(ms),
                            [&] { return messages_.size() >= n; });
    }
    // A stream may arrive cut or joined differently from how it was sent.
    bool wait_bytes(size_t n, int ms = 5000)
    {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return bytes_ >= n; });
    }
    std::string joined()
    {
        std::lock_guard lock(mutex_);
        std::string all;
        for (const auto& m : messages_)
            all += m;
        return all;
    }
    std::vector<std::string> messages()
    {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    std::vector<int> results()
    {
        std::lock_guard lock(mutex_);
        return results_;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<std::string> messages_;
    size_t bytes_ = 0;
    std::vector<int> results_;
};

// Records socket error reports.
struct ErrorLog {
    std::mutex mutex;
    std::vector<std::pair<int, int>> reports;
    SocketErrorCallback callback()
    {
        return [this](int kind, int error) {
            std::lock_guard lock(mutex);
            reports.emplace_back(kind, error);
        };
    }
    std::vector<std::pair<int, int>> get()
    {
        std::lock_guard lock(mutex);
        return reports;
    }
};

} // namespace vokar::test
