#include "tests/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "tests/support/scratch.h"

extern char** environ;

namespace vokar::test {
namespace {

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Why a server did not come up: it exited (with its status when known) or
// was not ready in time, followed by its stderr.
std::string start_failure(const std::string& program, bool exited, std::optional<int> status,
                          std::chrono::milliseconds ready_timeout, const std::string& stderr_text)
{
    return program +
           (exited ? " exited" + (status ? " with status " + std::to_string(*status) : "")
                   : " was not ready within " + std::to_string(ready_timeout.count()) + " ms") +
           (stderr_text.empty() ? std::string() : "; its stderr: " + stderr_text);
}

} // namespace

ChildProcess::~ChildProcess()
{
    stop();
}

bool ChildProcess::start(const std::vector<std::string>& argv, const std::string& log_path,
                         std::string* error)
{
    stop();
    log_path_ = log_path;
    pending_.clear();
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        *error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    const int log_fd = ::open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const int null_fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    // Everything the child needs is prepared before fork(): after it only
    // async-signal-safe calls are allowed.
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t parent = ::getpid();

    const pid_t pid = (log_fd >= 0 && null_fd >= 0) ? ::fork() : -1;
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(127);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::signal(SIGPIPE, SIG_DFL);
        ::dup2(null_fd, 0);
        ::dup2(out[1], 1);
        ::dup2(log_fd, 2);
        ::execve(args[0], args.data(), environ);
        const char* why = std::strerror(errno);
        [[maybe_unused]] auto n = ::write(2, "exec failed: ", 13);
        n = ::write(2, why, std::strlen(why));
        n = ::write(2, "\n", 1);
        ::_exit(127);
    }
    const int saved = errno;
    ::close(out[1]);
    if (log_fd >= 0)
        ::close(log_fd);
    if (null_fd >= 0)
        ::close(null_fd);
    if (pid < 0) {
        ::close(out[0]);
        *error = std::string("cannot start ") + argv[0] + ": " + std::strerror(saved);
        return false;
    }
    pid_ = pid;
    reaped_ = false;
    output_closed_ = false;
    out_fd_ = out[0];
    return true;
}

std::optional<std::string> ChildProcess::start_server(const ServerStart& how, std::string* error,
                                                      bool* port_taken)
{
    *port_taken = false;
    std::ofstream(how.log_path, std::ios::trunc).close();
    if (!start(how.argv, how.log_path, error))
        return std::nullopt;
    if (auto line = wait_for_line(how.ready_prefix, how.ready_timeout))
        return line;
    // A server that gave up closes its stdout as it exits.
    const bool exited = output_closed() ? wait_exit(std::chrono::seconds(2)) : !running();
    const auto code = stop();
    const std::string stderr_text = read_file(how.log_path);
    *port_taken = stderr_text.find(how.port_taken) != std::string::npos;
    *error = start_failure(how.argv.front(), exited, code, how.ready_timeout, stderr_text);
    return std::nullopt;
}

std::optional<std::string> ChildProcess::wait_for_line(std::string_view prefix,
                                                       std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        size_t nl;
        while ((nl = pending_.find('\n')) != std::string::npos) {
            std::string line = pending_.substr(0, nl);
            pending_.erase(0, nl + 1);
            if (line.starts_with(prefix)) {
                start_drain();
                return line;
            }
        }
        if (out_fd_ < 0)
            return std::nullopt;
        pollfd p{out_fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, remaining_ms(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return std::nullopt;
        char buffer[4096];
        const ssize_t n = ::read(out_fd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            output_closed_ = true;
            return std::nullopt;
        }
        pending_.append(buffer, static_cast<size_t>(n));
    }
}

void ChildProcess::start_drain()
{
    if (drain_.joinable() || out_fd_ < 0)
        return;
    drain_stop_ = false;
    // Keeps a chatty child from blocking on a full pipe after its readiness line.
    drain_ = std::thread([this, fd = out_fd_, log = log_path_] {
        std::ofstream out(log, std::ios::app | std::ios::binary);
        char buffer[4096];
        while (!drain_stop_) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0)
                return;
            out.write(buffer, n);
            out.flush();
        }
    });
}

void ChildProcess::end_drain()
{
    drain_stop_ = true;
    if (drain_.joinable())
        drain_.join();
    if (out_fd_ >= 0) {
        ::close(out_fd_);
        out_fd_ = -1;
    }
}

bool ChildProcess::running()
{
    if (pid_ <= 0 || reaped_)
        return false;
    if (::waitpid(pid_, &status_, WNOHANG) == pid_)
        reaped_ = true;
    return !reaped_;
}

bool ChildProcess::wait_exit(std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (running() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return pid_ > 0 && reaped_;
}

std::optional<int> ChildProcess::exit_code() const
{
    if (pid_ > 0 && reaped_ && WIFEXITED(status_))
        return WEXITSTATUS(status_);
    return std::nullopt;
}

std::optional<int> ChildProcess::stop(std::chrono::milliseconds grace)
{
    if (pid_ <= 0)
        return std::nullopt;
    if (running()) {
        ::kill(pid_, SIGTERM);
        if (!wait_exit(grace)) {
            ::kill(pid_, SIGKILL);
            if (::waitpid(pid_, &status_, 0) == pid_)
                reaped_ = true;
        }
    }
    end_drain();
    const auto code = exit_code();
    pid_ = -1;
    return code;
}

} // namespace vokar::test
