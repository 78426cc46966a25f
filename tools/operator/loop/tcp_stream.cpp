#include "tools/operator/loop/tcp_stream.h"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace vokar::operatord {
namespace {

int pending_socket_error(int fd)
{
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        return errno;
    return error;
}

} // namespace

TcpStream::TcpStream(EventLoop& loop, Owner& owner, int fd, bool connecting, size_t output_limit,
                     BufferBudget* budget)
    : loop_(loop), owner_(owner), fd_(fd), connecting_(connecting), output_limit_(output_limit),
      budget_(budget), charge_(budget)
{
}

TcpStream::~TcpStream()
{
    close();
}

bool TcpStream::start()
{
    interest_ = EPOLLIN | EPOLLOUT;
    watch_ = loop_.watch(fd_, interest_, [this](uint32_t events) { on_io(events); });
    if (!watch_) {
        error_ = errno;
        close();
        return false;
    }
    update_interest();
    return true;
}

void TcpStream::update_interest()
{
    if (fd_ < 0 || !watch_)
        return;
    uint32_t wanted = 0;
    if (wants_input() && !connecting_ && !budget_blocked_)
        wanted |= EPOLLIN;
    if (connecting_ || pending() > 0)
        wanted |= EPOLLOUT;
    if (wanted != interest_ && loop_.modify(watch_, wanted))
        interest_ = wanted;
}

void TcpStream::write(std::string_view bytes)
{
    if (fd_ < 0 || shut_requested_ || bytes.empty())
        return;
    const bool was_empty = pending() == 0;
    out_.append(bytes);
    if (was_empty && !connecting_) {
        // A send error is left for the loop to report (the socket then polls
        // as failed), so no owner callback runs from inside write().
        const ssize_t n = ::send(fd_, out_.data() + out_offset_, pending(), MSG_NOSIGNAL);
        if (n > 0) {
            out_offset_ += static_cast<size_t>(n);
            touch();
        }
    }
    if (full())
        was_full_ = true;
    account_output();
    update_interest();
}

void TcpStream::account_output()
{
    if (pending() == 0) {
        out_offset_ = 0;
        if (out_.capacity() > 4096)
            std::string().swap(out_);
        else
            out_.clear();
    }
    charge_.set(out_.capacity());
}

void TcpStream::on_budget_available()
{
    budget_blocked_ = false;
    update_interest();
}

void TcpStream::set_reading(bool on)
{
    if (finishing_ || eof_ || reading_ == on)
        return;
    reading_ = on;
    update_interest();
}

void TcpStream::shut_output()
{
    if (fd_ < 0 || shut_requested_)
        return;
    shut_requested_ = true;
    shut_when_sent();
    update_interest();
}

void TcpStream::shut_when_sent()
{
    if (shut_requested_ && !write_shut_ && !connecting_ && pending() == 0) {
        ::shutdown(fd_, SHUT_WR);
        write_shut_ = true;
    }
}

void TcpStream::finish()
{
    if (fd_ < 0 || finishing_)
        return;
    finishing_ = true;
    reading_ = false;
    finish_timer_ = loop_.add_timer(kFinishTimeout, [this] {
        finish_timer_ = 0;
        complete_finish();
    });
    shut_requested_ = true;
    shut_when_sent();
    update_interest();
}

void TcpStream::set_idle_limit(std::chrono::milliseconds limit)
{
    idle_limit_ = limit;
    touch();
    if (idle_timer_)
        loop_.cancel_timer(idle_timer_);
    idle_timer_ = 0;
    if (fd_ >= 0)
        arm_idle_timer(limit);
}

void TcpStream::arm_idle_timer(std::chrono::steady_clock::duration delay)
{
    idle_timer_ = loop_.add_timer(std::chrono::ceil<std::chrono::milliseconds>(delay),
                                  [this] { on_idle_timer(); });
}

// Reads and writes only note the time; the timer, when it falls due, looks
// at how long the stream has really been idle and sleeps again for the rest.
void TcpStream::on_idle_timer()
{
    idle_timer_ = 0;
    const auto idle = std::chrono::steady_clock::now() - last_activity_;
    if (idle >= idle_limit_)
        fail(ETIMEDOUT);
    else
        arm_idle_timer(idle_limit_ - idle);
}

void TcpStream::close()
{
    if (idle_timer_) {
        loop_.cancel_timer(idle_timer_);
        idle_timer_ = 0;
    }
    if (finish_timer_) {
        loop_.cancel_timer(finish_timer_);
        finish_timer_ = 0;
    }
    if (watch_) {
        loop_.unwatch(watch_);
        watch_ = 0;
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (budget_blocked_) {
        budget_->forget(*this);
        budget_blocked_ = false;
    }
    std::string().swap(out_);
    out_offset_ = 0;
    charge_.set(0);
}

void TcpStream::fail(int error)
{
    error_ = error ? error : ECONNRESET;
    close();
    owner_.on_closed(*this);
}

void TcpStream::complete_finish()
{
    close();
    owner_.on_closed(*this);
}

void TcpStream::on_io(uint32_t events)
{
    if (connecting_) {
        if (!(events & (EPOLLOUT | EPOLLERR | EPOLLHUP)))
            return;
        const int error = pending_socket_error(fd_);
        if (error || (events & EPOLLHUP)) {
            fail(error ? error : ECONNREFUSED);
            return;
        }
        connecting_ = false;
        owner_.on_connected(*this);
        if (fd_ < 0)
            return;
        update_interest();
        flush();
        return;
    }
    if (events & EPOLLERR) {
        // What the peer sent before the error (an answer, then a reset for
        // bytes it never read) is still readable: it goes to the owner first,
        // one read per round, until the read itself reports the end.
        if (wants_input())
            read_once();
        else
            fail(pending_socket_error(fd_));
        return;
    }
    if ((events & EPOLLOUT) && !flush())
        return;
    if (!(events & (EPOLLIN | EPOLLHUP)))
        return;
    // While the daemon's buffers are over budget nothing more is read; what
    // a finishing stream reads is dropped, and a hang-up is read at once.
    if (budget_ && budget_->exhausted() && reading_ && !(events & EPOLLHUP)) {
        budget_blocked_ = true;
        budget_->wait(*this);
        update_interest();
        return;
    }
    if (wants_input())
        read_once();
    else if (events & EPOLLHUP)
        fail(ECONNRESET); // both directions are gone while reading was paused
}

void TcpStream::read_once()
{
    char* buffer = loop_.scratch();
    const ssize_t n = ::recv(fd_, buffer, EventLoop::kScratchSize, 0);
    if (n > 0) {
        touch();
        if (!finishing_)
            owner_.on_data(*this, std::string_view(buffer, static_cast<size_t>(n)));
        return;
    }
    if (n == 0) {
        if (finishing_) {
            complete_finish();
            return;
        }
        reading_ = false;
        eof_ = true;
        update_interest();
        owner_.on_eof(*this);
        return;
    }
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
        fail(errno);
}

bool TcpStream::flush()
{
    while (pending() > 0) {
        const ssize_t n = ::send(fd_, out_.data() + out_offset_, pending(), MSG_NOSIGNAL);
        if (n > 0) {
            out_offset_ += static_cast<size_t>(n);
            touch();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        fail(n < 0 ? errno : EPIPE);
        return false;
    }
    if (pending() > 0 && out_offset_ > out_.size() / 2) {
        out_.erase(0, out_offset_);
        out_offset_ = 0;
    }
    account_output();
    shut_when_sent();
    update_interest();
    if (was_full_ && pending() <= output_limit_ / 2) {
        was_full_ = false;
        owner_.on_drained(*this);
        if (fd_ < 0)
            return false;
    }
    return true;
}

} // namespace vokar::operatord
