#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/operator_stack.h"

namespace vokar::test {

struct SipAccount {
    std::string user;
    std::string password;
};

// Another SIP server to test against, with two accounts on it:
// VOKAR_TEST_SIP=host:port:domain:user1:pass1:user2:pass2 (the last password
// may hold ':', the others not). Reached with plain datagrams.
struct ExternalSip {
    std::string host;
    uint16_t port = 0;
    std::string domain;
    SipAccount first;
    SipAccount second;

    static std::optional<ExternalSip> parse(std::string_view text, std::string* error);
};

struct SipServerOptions {
    // An operator.conf to use as it is (an OperatorStack's conf_path(), whose
    // daemon runs sip_front and whose xmpp_dir holds the account store).
    // Empty: the fixture starts its own daemon with only sip_front.
    std::string conf_path;
    // The accounts handed out; made through vokar-accounts on the first
    // start unless they exist already (create_accounts false).
    std::vector<SipAccount> accounts = {{"alice", "alice-pass"}, {"bob", "bob-pass"}};
    bool create_accounts = true;
    // Extra operator.conf lines for the fixture's own daemon and server.
    std::map<std::string, std::string> extra_config;
    std::chrono::milliseconds ready_timeout{10000};
    // Honour VOKAR_TEST_SIP.
    bool use_environment = true;
};

// The operator's SIP service for a test: Kamailio started by
// tools/operator/sip/vokar-sip (stopped by pid) behind vokar-operatord's
// sip_front, on free loopback ports, with accounts from the operator's
// account store. Clients talk to host():port() with the scramble.
//
// When VOKAR_TEST_SIP names another server, nothing is started: the fixture
// hands out that server, its domain and its two accounts, and clients talk
// to it without the scramble (scramble() is false).
class SipServer {
public:
    explicit SipServer(SipServerOptions options = {});
    ~SipServer();
    SipServer(const SipServer&) = delete;
    SipServer& operator=(const SipServer&) = delete;

    // Starts the daemon when the fixture owns one, then the SIP server, and
    // waits for its readiness line; false with error() otherwise.
    bool start();
    std::optional<int> stop();
    bool external() const { return external_.has_value(); }

    const std::string& host() const { return host_; }
    uint16_t port() const { return port_; }
    const std::string& domain() const { return domain_; }
    bool scramble() const { return !external_; }
    const std::vector<SipAccount>& accounts() const { return accounts_; }
    const std::string& error() const { return error_; }
    // Kamailio's stderr.
    std::string log() const;

    static std::string script_path();

private:
    bool start_own();

    SipServerOptions options_;
    std::optional<ExternalSip> external_;
    std::unique_ptr<OperatorStack> daemon_;
    std::string directory_;
    std::string conf_path_;
    std::string stderr_path_;
    std::string host_;
    uint16_t port_ = 0;
    std::string domain_;
    std::vector<SipAccount> accounts_;
    bool accounts_made_ = false;
    ChildProcess server_;
    std::string error_;
};

} // namespace vokar::test
