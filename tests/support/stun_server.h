#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tests/support/child_process.h"

namespace vokar::test {

// Another STUN server to test against: VOKAR_TEST_STUN=host:port.
struct ExternalStun {
    std::string host;
    uint16_t port = 0;

    static std::optional<ExternalStun> parse(std::string_view text, std::string* error);
};

struct StunServerOptions {
    // Where clients send their requests, and the second address and port the
    // server needs. Ports left 0 are chosen free at start (and chosen anew
    // when one is taken before the server binds it); fixed ones are used as
    // they are.
    std::string host = "127.0.0.1";
    uint16_t port = 0;
    std::string alt_host = "127.0.0.2";
    uint16_t alt_port = 0;
    std::chrono::milliseconds ready_timeout{10000};
    // Honour VOKAR_TEST_STUN.
    bool use_environment = true;
};

// The operator's STUN server for a test: stund started by
// tools/operator/stun/vokar-stun (stopped by pid) on loopback, ready once it
// has answered a Binding Request. The script is the one in the source tree,
// or the one named by VOKAR_STUN_SCRIPT.
//
// When VOKAR_TEST_STUN names another server, nothing is started: host() and
// port() are that server's from construction on.
//
//   StunServer stun;
//   ASSERT_TRUE(stun.start()) << stun.error();
//   stun_query("127.0.0.1", local_port, stun.host(), stun.port(), 2000);
class StunServer {
public:
    explicit StunServer(StunServerOptions options = {});
    // Stops the server and removes the directory.
    ~StunServer();
    StunServer(const StunServer&) = delete;
    StunServer& operator=(const StunServer&) = delete;

    // Starts the server and waits until it answers; false with error()
    // otherwise (always, with a malformed VOKAR_TEST_STUN).
    bool start();
    std::optional<int> stop();
    bool running();
    bool external() const { return external_; }

    const std::string& host() const { return options_.host; }
    uint16_t port() const { return options_.port; }
    const std::string& error() const { return error_; }
    // The server's output (stund's and the script's stderr).
    std::string log() const;

    static std::string script_path();

private:
    bool start_once(bool* port_clash);

    StunServerOptions options_;
    bool external_ = false;
    bool fixed_ports_ = false;
    std::string directory_;
    std::string stderr_path_;
    ChildProcess server_;
    std::string error_;
};

} // namespace vokar::test
