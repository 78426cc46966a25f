#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vokar::test {

// How a fixture starts its server: the command, the file its stderr goes to,
// the readiness line it waits for, and the stderr text that means a port the
// fixture chose was taken by someone else before the server bound it.
struct ServerStart {
    std::vector<std::string> argv;
    std::string log_path;
    std::string_view ready_prefix;
    std::string_view port_taken;
    std::chrono::milliseconds ready_timeout{10000};
};

// Fixtures try a start again with new ports this many times in all.
inline constexpr int kServerStartAttempts = 3;

// A server started for a test: its stdout is piped to the test (to wait for
// a readiness line), its stderr appended to a log file. It gets SIGTERM if
// the thread that started it dies, so a killed test run leaves no server
// behind. Stopped by pid.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts argv[0] (a path) with the other elements as arguments.
    bool start(const std::vector<std::string>& argv, const std::string& log_path,
               std::string* error);
    // Starts a server (its log emptied first) and waits for its readiness
    // line, which it returns. On failure the child is stopped, *error says
    // whether it exited (and how) or was not ready in time, with its stderr,
    // and *port_taken whether a start on other ports may succeed.
    std::optional<std::string> start_server(const ServerStart& how, std::string* error,
                                            bool* port_taken);
    // Reads the child's stdout until a whole line that starts with `prefix`;
    // nullopt when the time runs out or the child closes its stdout first.
    // Later output is copied to the log file.
    std::optional<std::string> wait_for_line(std::string_view prefix,
                                             std::chrono::milliseconds timeout);
    // SIGTERM, then SIGKILL after `grace`. Returns the exit code when the
    // child exited by itself (before or after the SIGTERM), nullopt when it
    // was killed by a signal or never ran.
    std::optional<int> stop(std::chrono::milliseconds grace = std::chrono::seconds(5));

    bool running();
    // Waits up to `timeout` for the child to exit by itself; true once it has.
    bool wait_exit(std::chrono::milliseconds timeout);
    // True once the child has closed its stdout (usually: it is exiting).
    bool output_closed() const { return output_closed_; }
    pid_t pid() const { return pid_; }

private:
    void start_drain();
    void end_drain();
    std::optional<int> exit_code() const;

    pid_t pid_ = -1;
    int status_ = 0;
    bool reaped_ = false;
    int out_fd_ = -1;
    bool output_closed_ = false;
    std::string log_path_;
    std::string pending_; // stdout bytes after the last whole line
    std::thread drain_;
    std::atomic<bool> drain_stop_{false};
};

} // namespace vokar::test
