#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/full_stack.h"

namespace vokar::test {

// The vokar-cli binary the tests run: VOKAR_CLI_PATH from the environment,
// else the one this build makes.
std::string cli_path();

// One running vokar-cli, its stdin a pipe the test writes to and its stderr
// a log file. Every line it prints is kept, so a test waits for a line
// whether or not it came already. It gets SIGTERM if the test dies.
class CliProcess {
public:
    CliProcess() = default;
    // Closes its input, then SIGTERM (SIGKILL if it lingers).
    virtual ~CliProcess();
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    // Starts cli_path() with `args`; its stderr goes to DIR/NAME.log.
    bool start(const std::string& dir, const std::string& name, std::vector<std::string> args);
    const std::string& name() const { return name_; }

    bool send(const std::string& line);
    void close_input();

    // The first line printed that starts with `prefix`, waiting up to `limit`.
    std::optional<std::string> wait(const std::string& prefix,
                                    std::chrono::milliseconds limit = std::chrono::seconds(20));
    // The exit code once the program ended by itself within `limit`.
    std::optional<int> exit_code(std::chrono::milliseconds limit);
    // Everything it printed so far.
    std::vector<std::string> lines();

    // Ends it (SIGTERM, then SIGKILL after `grace`) unless it has ended.
    void stop(std::chrono::milliseconds grace = std::chrono::seconds(5));

private:
    void read_lines(int fd);
    // Its stdout has closed: it is exiting.
    void reap(std::chrono::milliseconds limit);

    std::string name_;
    pid_t pid_ = -1;
    int status_ = 0;
    bool reaped_ = false;
    int input_ = -1;
    std::thread reader_;
    std::mutex mutex_; // lines_ and closed_
    std::condition_variable changed_;
    std::vector<std::string> lines_;
    bool closed_ = false;
};

// The operator's echo service: `vokar-cli --echo` logged in as the stack's
// echo account (FullStackOptions::echo_account), which accepts friends,
// echoes chat and answers calls with what it hears.
//
//   FullStack stack({.echo_account = XmppAccount{"15550000", "echo-pass"}});
//   ASSERT_TRUE(stack.start()) << stack.error();
//   EchoService echo(stack, scratch_dir);
//   ASSERT_TRUE(echo.start()) << echo.error();
class EchoService {
public:
    // Its data directory and log go into `dir`, which must exist.
    EchoService(FullStack& stack, std::string dir);
    ~EchoService();
    EchoService(const EchoService&) = delete;
    EchoService& operator=(const EchoService&) = delete;

    // Starts it and waits for its ready line; false with error() (and its
    // output) when it does not come up.
    bool start(std::chrono::milliseconds limit = std::chrono::seconds(30));
    const std::string& error() const { return error_; }
    void stop();

    // The echo account's bare JID.
    std::string jid() const;
    CliProcess& process() { return process_; }

private:
    FullStack& stack_;
    std::string dir_;
    CliProcess process_;
    std::string error_;
};

} // namespace vokar::test
