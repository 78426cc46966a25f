#include "tests/support/echo_service.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace vokar::test {

using namespace std::chrono_literals;

std::string cli_path()
{
    const char* path = std::getenv("VOKAR_CLI_PATH");
    return path ? path : VOKAR_CLI_BUILT_PATH;
}

CliProcess::~CliProcess()
{
    stop();
    if (reader_.joinable())
        reader_.join();
}

bool CliProcess::start(const std::string& dir, const std::string& name,
                       std::vector<std::string> args)
{
    name_ = name;
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0)
        return false;
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        return false;
    }
    const std::string log = dir + "/" + name + ".log";
    const int log_fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    args.insert(args.begin(), cli_path());
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(127);
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        if (log_fd >= 0)
            ::dup2(log_fd, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    if (log_fd >= 0)
        ::close(log_fd);
    input_ = in[1];
    if (pid_ < 0) {
        ::close(out[0]);
        close_input();
        return false;
    }
    reader_ = std::thread([this, fd = out[0]] { read_lines(fd); });
    return true;
}

bool CliProcess::send(const std::string& line)
{
    const std::string text = line + "\n";
    return input_ >= 0 &&
           ::write(input_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

void CliProcess::close_input()
{
    if (input_ >= 0)
        ::close(input_);
    input_ = -1;
}

std::optional<std::string> CliProcess::wait(const std::string& prefix,
                                            std::chrono::milliseconds limit)
{
    std::unique_lock lock(mutex_);
    std::optional<std::string> found;
    changed_.wait_for(lock, limit, [&] {
        for (const auto& line : lines_)
            if (line.rfind(prefix, 0) == 0)
                found = line;
        return found || closed_;
    });
    return found;
}

std::optional<int> CliProcess::exit_code(std::chrono::milliseconds limit)
{
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, limit, [&] { return closed_; });
    }
    reap(5s);
    if (!reaped_ || !WIFEXITED(status_))
        return std::nullopt;
    return WEXITSTATUS(status_);
}

std::vector<std::string> CliProcess::lines()
{
    std::lock_guard lock(mutex_);
    return lines_;
}

void CliProcess::stop(std::chrono::milliseconds grace)
{
    close_input();
    if (pid_ > 0 && !reaped_) {
        ::kill(pid_, SIGTERM);
        reap(grace);
        if (!reaped_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status_, 0);
            reaped_ = true;
        }
    }
}

void CliProcess::read_lines(int fd)
{
    std::string pending;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
        pending.append(buffer, static_cast<size_t>(std::max<ssize_t>(n, 0)));
        size_t nl;
        while ((nl = pending.find('\n')) != std::string::npos) {
            std::lock_guard lock(mutex_);
            lines_.push_back(pending.substr(0, nl));
            pending.erase(0, nl + 1);
            changed_.notify_all();
        }
    }
    ::close(fd);
    std::lock_guard lock(mutex_);
    closed_ = true;
    changed_.notify_all();
}

void CliProcess::reap(std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!reaped_ && std::chrono::steady_clock::now() < deadline) {
        if (::waitpid(pid_, &status_, WNOHANG) == pid_)
            reaped_ = true;
        else
            std::this_thread::sleep_for(10ms);
    }
}

EchoService::EchoService(FullStack& stack, std::string dir) : stack_(stack), dir_(std::move(dir)) {}

EchoService::~EchoService()
{
    stop();
}

bool EchoService::start(std::chrono::milliseconds limit)
{
    error_.clear();
    if (cli_path().empty()) {
        error_ = "VOKAR_CLI_PATH is not set";
        return false;
    }
    const std::string user = stack_.config().get("echo_account");
    if (user.empty()) {
        error_ = "the stack has no echo_account";
        return false;
    }
    // The account and its password come from operator.conf.
    if (!process_.start(
            dir_, "echo",
            {"--home", dir_ + "/echo-home", "--config", stack_.conf_path(), "--echo"})) {
        error_ = "cannot start " + cli_path();
        return false;
    }
    if (!process_.wait(R"({"ready":true,"user":")" + user + "\"", limit)) {
        error_ = "the echo service is not ready; it printed:";
        for (const auto& line : process_.lines())
            error_ += "\n" + line;
        error_ += "\n(stderr in " + dir_ + "/echo.log)";
        process_.stop();
        return false;
    }
    return true;
}

void EchoService::stop()
{
    process_.stop();
}

std::string EchoService::jid() const
{
    return stack_.config().get("echo_account") + "@" + stack_.config().service_domain;
}

} // namespace vokar::test
