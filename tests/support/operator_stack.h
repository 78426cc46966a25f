#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/operator_config.h"
#include "tests/support/child_process.h"

namespace vokar::test {

struct OperatorStackOptions {
    // The daemon's services to run (its `operatord_services`). A service
    // left out still gets a free port in the configuration, on which
    // nothing listens.
    std::vector<std::string> services = {"echo_udp", "echo_tcp", "tunnel"};
    // Further operator.conf lines (key = value), written after the
    // generated ones so they override them.
    std::map<std::string, std::string> extra_config;
    // How long start() waits for the readiness line.
    std::chrono::milliseconds ready_timeout{10000};
};

// The operator's side of the system for a test: vokar-operatord on free
// loopback ports, configured through a generated operator.conf in a fresh
// temporary directory. The daemon is the one built with the tests, or the
// program named by VOKAR_OPERATORD. The file also names a free xmpp_port
// and an xmpp_dir inside that directory, so an XmppServer given conf_path()
// runs beside the daemon and serves the accounts of its web service (FullStack
// sets up both).
//
//   OperatorStack stack;
//   ASSERT_TRUE(stack.start()) << stack.error();
//   connect_to(stack.config().echo_host, stack.config().echo_tcp_port);
class OperatorStack {
public:
    explicit OperatorStack(OperatorStackOptions options = {});
    // Stops the daemon and removes the directory.
    ~OperatorStack();
    OperatorStack(const OperatorStack&) = delete;
    OperatorStack& operator=(const OperatorStack&) = delete;

    // Writes the configuration, starts the daemon and waits for its
    // readiness line; false with error() when it exits or is not ready in
    // time. A port taken by someone else in between is retried with new
    // ports.
    bool start();
    // SIGTERM, up to 5 s, then SIGKILL. Returns the daemon's exit code when
    // it exited by itself, nullopt when it had to be killed or was not
    // running.
    std::optional<int> stop();
    // Stops the daemon and starts it again with the same configuration and
    // ports; false with error() when it does not come back.
    bool restart();

    bool running() { return daemon_.running(); }
    pid_t pid() const { return daemon_.pid(); }
    const std::string& error() const { return error_; }

    // The configuration the daemon was given; point client code at it.
    const platform::OperatorConfig& config() const { return config_; }
    const std::string& conf_path() const { return conf_path_; }
    const std::string& directory() const { return directory_; }
    // The daemon's stderr.
    std::string log() const;

    // The readiness line, and the "HOST:PORT" it gives for a service (empty
    // when the service is not listed).
    const std::string& ready_line() const { return ready_line_; }
    std::string endpoint(std::string_view service) const;

    // The daemon program that start() runs.
    static std::string daemon_path();

private:
    bool write_config(std::string* error);
    bool start_once(bool* port_clash);
    // Runs the daemon with the written configuration.
    bool run_daemon(bool* port_clash);

    OperatorStackOptions options_;
    std::string directory_;
    std::string conf_path_;
    std::string log_path_;
    platform::OperatorConfig config_;
    ChildProcess daemon_;
    std::string ready_line_;
    std::map<std::string, std::string, std::less<>> endpoints_;
    std::string error_;
};

} // namespace vokar::test
