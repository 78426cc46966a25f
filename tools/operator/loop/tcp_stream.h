#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "tools/operator/loop/buffer_budget.h"
#include "tools/operator/loop/event_loop.h"

namespace vokar::operatord {

// A non-blocking TCP connection on the loop with a bounded output buffer.
// Flow control is the owner's: when full() it stops reading whatever feeds
// this stream, and resumes on on_drained(). The output buffer is charged to
// the daemon's BufferBudget, if given, and while that is exhausted the
// stream does not read. Callbacks never free the stream; owners free it
// through EventLoop::defer().
class TcpStream final : private BufferBudget::Waiter {
public:
    static constexpr size_t kDefaultOutputLimit = 64 * 1024;

    class Owner {
    public:
        virtual void on_data(TcpStream& stream, std::string_view bytes) = 0;
        // The peer closed its sending side; reading has stopped.
        virtual void on_eof(TcpStream& stream) = 0;
        // The stream has closed: after an error (error() is the errno), or
        // when finish() has completed (error() is 0).
        virtual void on_closed(TcpStream& stream) = 0;
        // The output buffer fell to half the limit after being full.
        virtual void on_drained(TcpStream&) {}
        // A connecting stream is now connected.
        virtual void on_connected(TcpStream&) {}

    protected:
        ~Owner() = default;
    };

    // Takes ownership of `fd`, connected or, with `connecting`, with a
    // non-blocking connect in progress.
    TcpStream(EventLoop& loop, Owner& owner, int fd, bool connecting = false,
              size_t output_limit = kDefaultOutputLimit, BufferBudget* budget = nullptr);
    ~TcpStream();
    TcpStream(const TcpStream&) = delete;
    TcpStream& operator=(const TcpStream&) = delete;

    // Registers with the loop; false (and closed) on failure.
    bool start();

    // Queues bytes for the peer (kept until connected). Ignored once closed
    // or finishing.
    void write(std::string_view bytes);
    size_t pending() const { return out_.size() - out_offset_; }
    bool full() const { return pending() >= output_limit_; }

    // Closes the stream (on_closed with ETIMEDOUT) once `limit` passes
    // without a read or a write; each call starts the count again.
    void set_idle_limit(std::chrono::milliseconds limit);

    // Pauses or resumes reading (a stream at end of input stays paused).
    void set_reading(bool on);
    // Half-closes: once everything queued has left (after the connect, for
    // a connecting stream), the peer gets the end of input; reading for the
    // owner goes on. Later writes are ignored.
    void shut_output();
    // Stops reading for the owner, flushes, half-closes, and waits (bounded)
    // for the peer to close before on_closed(): a reply written just before
    // is not lost to a reset.
    void finish();
    // Closes at once, without callbacks.
    void close();

    bool is_open() const { return fd_ >= 0; }
    int error() const { return error_; }
    int fd() const { return fd_; }

private:
    static constexpr auto kFinishTimeout = std::chrono::seconds(10);

    // Input is read for the owner, or while finishing once everything has
    // been sent: the peer's close must not end the stream before the
    // output has left.
    bool wants_input() const { return reading_ || (finishing_ && write_shut_); }
    void on_io(uint32_t events);
    void on_budget_available() override;
    // After the output changed: a drained buffer is given back, and the
    // budget is charged what the buffer holds.
    void account_output();
    void read_once();
    bool flush(); // false when the stream failed
    void update_interest();
    void shut_when_sent();
    void fail(int error);
    void complete_finish();
    void touch() { last_activity_ = std::chrono::steady_clock::now(); }
    void arm_idle_timer(std::chrono::steady_clock::duration delay);
    void on_idle_timer();

    EventLoop& loop_;
    Owner& owner_;
    int fd_;
    bool connecting_;
    bool reading_ = true;
    bool finishing_ = false;
    bool shut_requested_ = false; // by shut_output() or finish()
    bool write_shut_ = false;
    bool eof_ = false;
    int error_ = 0;
    uint32_t interest_ = 0;
    EventLoop::WatchId watch_ = 0;
    EventLoop::TimerId finish_timer_ = 0;
    EventLoop::TimerId idle_timer_ = 0;
    std::chrono::milliseconds idle_limit_{0};
    std::chrono::steady_clock::time_point last_activity_;
    const size_t output_limit_;
    BufferBudget* budget_;
    BudgetCharge charge_;
    bool budget_blocked_ = false;
    std::string out_;
    size_t out_offset_ = 0;
    bool was_full_ = false;
};

} // namespace vokar::operatord
