#include "tools/operator/process/subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace vokar::operatord {
namespace {

using Clock = std::chrono::steady_clock;

struct Pipe {
    int read = -1;
    int write = -1;
    ~Pipe() { close_both(); }
    bool open()
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return false;
        read = fds[0];
        write = fds[1];
        return true;
    }
    void close_read() { close_fd(read); }
    void close_write() { close_fd(write); }
    void close_both()
    {
        close_read();
        close_write();
    }
    static void close_fd(int& fd)
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
};

bool is_executable(const std::string& path)
{
    return ::access(path.c_str(), X_OK) == 0;
}

std::vector<std::string> child_environment(const std::map<std::string, std::string>& overrides)
{
    std::vector<std::string> env;
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string_view text = *entry;
        const auto eq = text.find('=');
        if (eq != std::string_view::npos && overrides.contains(std::string(text.substr(0, eq))))
            continue;
        env.emplace_back(text);
    }
    for (const auto& [name, value] : overrides)
        env.push_back(name + "=" + value);
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> result;
    for (auto& s : strings)
        result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

// write() to a pipe whose reader is gone raises SIGPIPE, which would end this
// process (the tool and the tests do not ignore it). The signal is blocked in
// this thread around the write and a pending one is discarded.
ssize_t write_without_sigpipe(int fd, const char* data, size_t size)
{
    sigset_t pipe_signal, previous;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipe_signal, &previous);
    const ssize_t n = ::write(fd, data, size);
    const int saved = errno;
    if (n < 0 && saved == EPIPE) {
        const timespec zero{};
        while (::sigtimedwait(&pipe_signal, nullptr, &zero) < 0 && errno == EINTR) {
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = saved;
    return n;
}

std::string describe_status(int status)
{
    if (WIFEXITED(status))
        return "exited with status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return std::string("killed by signal ") + ::strsignal(WTERMSIG(status));
    return "ended with wait status " + std::to_string(status);
}

} // namespace

std::optional<std::string> find_program(const std::string& name)
{
    if (name.empty())
        return std::nullopt;
    if (name.find('/') != std::string::npos)
        return is_executable(name) ? std::optional(name) : std::nullopt;
    const char* env_path = std::getenv("PATH");
    std::string search = env_path && *env_path ? env_path : "/usr/local/bin:/usr/bin:/bin";
    search += ":/usr/sbin:/sbin";
    size_t start = 0;
    while (start <= search.size()) {
        const size_t colon = std::min(search.find(':', start), search.size());
        const std::string directory = search.substr(start, colon - start);
        start = colon + 1;
        if (directory.empty())
            continue;
        const std::string candidate = directory + "/" + name;
        if (is_executable(candidate))
            return candidate;
    }
    return std::nullopt;
}

ProgramResult run_program(const ProgramRun& run)
{
    ProgramResult result;
    if (run.argv.empty()) {
        result.failure = "no program given";
        return result;
    }
    const auto path = find_program(run.argv[0]);
    if (!path) {
        result.failure = "cannot find the program " + run.argv[0];
        return result;
    }
    Pipe in, out, err;
    if (!in.open() || !out.open() || !err.open()) {
        result.failure = std::string("pipe: ") + std::strerror(errno);
        return result;
    }

    std::vector<std::string> args = run.argv;
    args[0] = *path;
    std::vector<std::string> env = child_environment(run.environment);
    auto arg_pointers = pointers(args);
    auto env_pointers = pointers(env);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in.read, 0);
    posix_spawn_file_actions_adddup2(&actions, out.write, 1);
    posix_spawn_file_actions_adddup2(&actions, err.write, 2);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    // The child starts with default signal handling and nothing blocked,
    // whatever this process has set up.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    const int spawn_error = ::posix_spawn(&pid, path->c_str(), &actions, &attributes,
                                          arg_pointers.data(), env_pointers.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    in.close_read();
    out.close_write();
    err.close_write();
    if (spawn_error != 0) {
        result.failure = "cannot run " + *path + ": " + std::strerror(spawn_error);
        return result;
    }

    const auto deadline = Clock::now() + run.timeout;
    size_t written = 0;
    if (run.input.empty())
        in.close_write();
    else
        ::fcntl(in.write, F_SETFL, O_NONBLOCK);
    bool overflow = false;
    bool timed_out = false;
    while (out.read >= 0 || err.read >= 0 || in.write >= 0) {
        pollfd fds[3];
        nfds_t count = 0;
        for (int fd : {out.read, err.read})
            if (fd >= 0)
                fds[count++] = {fd, POLLIN, 0};
        if (in.write >= 0)
            fds[count++] = {in.write, POLLOUT, 0};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            timed_out = true;
            break;
        }
        const int ready = ::poll(fds, count, static_cast<int>(left));
        if (ready < 0 && errno != EINTR) {
            result.failure = std::string("poll: ") + std::strerror(errno);
            timed_out = true; // the child is killed below
            break;
        }
        for (nfds_t i = 0; ready > 0 && i < count; ++i) {
            if (fds[i].revents == 0)
                continue;
            if (fds[i].fd == in.write) {
                const ssize_t n = write_without_sigpipe(in.write, run.input.data() + written,
                                                        run.input.size() - written);
                if (n > 0)
                    written += static_cast<size_t>(n);
                // A child that stops reading early just does not get the rest.
                if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == run.input.size())
                    in.close_write();
                continue;
            }
            const bool is_out = fds[i].fd == out.read;
            std::string& sink = is_out ? result.out : result.err;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (n <= 0) {
                (is_out ? out : err).close_read();
                continue;
            }
            sink.append(buffer, static_cast<size_t>(n));
            if (sink.size() > run.output_limit)
                overflow = true;
        }
        if (overflow)
            break;
    }

    int status = 0;
    if (timed_out || overflow)
        ::kill(pid, SIGKILL);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (overflow) {
        result.failure = *path + " wrote more than " + std::to_string(run.output_limit) + " bytes";
    } else if (timed_out) {
        if (result.failure.empty())
            result.failure =
                *path + " did not finish within " + std::to_string(run.timeout.count()) + " ms";
    } else {
        result.completed = true;
        if (WIFEXITED(status))
            result.exit_code = WEXITSTATUS(status);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            result.failure = *path + " " + describe_status(status);
    }
    return result;
}

} // namespace vokar::operatord
