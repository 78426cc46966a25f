#pragma once

// A connection or datagram transport whose server side is the test: it
// records what the client sends and injects the server's answers.

#include <deque>
#include <mutex>
#include <string>

#include "net/connection_interface.h"

namespace vokar::test {

class ScriptedConnection : public ConnectionInterface {
public:
    struct Log {
        std::mutex mutex;
        std::deque<std::string> sent;
        bool closed = false;
        int opens = 0;
        // trySend takes messages only while this is set; send always does.
        bool writable = true;
    };

    explicit ScriptedConnection(Log& log, bool open_succeeds = true)
        : log_(log), open_succeeds_(open_succeeds)
    {
    }

    void setListener(ConnectionListener* l) override { listener_ = l; }
    void clearListener(ConnectionListener* l) override
    {
        if (listener_ == l)
            listener_ = nullptr;
    }
    void send(const std::string& message) override
    {
        std::lock_guard lock(log_.mutex);
        log_.sent.push_back(message);
    }
    bool trySend(const std::string& message) override
    {
        std::lock_guard lock(log_.mutex);
        if (log_.writable)
            log_.sent.push_back(message);
        return log_.writable;
    }
    void open(uint16_t, uint16_t, const std::string&, bool) override
    {
        {
            std::lock_guard lock(log_.mutex);
            ++log_.opens;
        }
        if (listener_)
            listener_->onConnectResult(open_succeeds_ ? 0 : 1);
    }
    void close() override
    {
        std::lock_guard lock(log_.mutex);
        log_.closed = true;
    }

private:
    Log& log_;
    bool open_succeeds_;
    ConnectionListener* listener_ = nullptr;
};

} // namespace vokar::test
