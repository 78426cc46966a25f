#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/operator_config.h"
#include "tests/support/operator_stack.h"
#include "tests/support/sip_server.h"
#include "tests/support/stun_server.h"
#include "tests/support/xmpp_server.h"

namespace vokar::test {

struct FullStackOptions {
    // Further operator.conf lines for both servers.
    std::map<std::string, std::string> extra_config;
    // The XMPP server's accounts, made on its first start.
    std::vector<XmppAccount> accounts = {{"alice", "alice-pass"}, {"bob", "bob-pass"}};
};

// `options` with the operator's echo account (see EchoService): made with the
// others (after them, unless `accounts` already holds it) and named in
// operator.conf as echo_account and echo_account_password. With `befriend`,
// the XMPP server makes it every account's friend (echo_account_befriend).
FullStackOptions with_echo_account(FullStackOptions options, const XmppAccount& echo,
                                   bool befriend = true);

// The whole operator side for a client's integration tests: the STUN server,
// vokar-operatord with echo, tunnel, web, sip_front and the media relay, our
// XMPP server with two accounts and our SIP server behind the front with the
// same accounts, sharing one operator.conf (which names the STUN server, or
// the one VOKAR_TEST_STUN names, as stun_host:stun_port). The web service and the XMPP server use
// the same instance, so an account signed up on the web logs in to XMPP at once. Always our own
// servers (VOKAR_TEST_XMPP does not apply: the web service needs the server's accounts).
//
//   FullStack stack;
//   ASSERT_TRUE(stack.start()) << stack.error();
//   SettingsStore settings(path, stack.config());  // every default endpoint is the stack's
class FullStack {
public:
    explicit FullStack(FullStackOptions options = {});
    // Stops the SIP and XMPP servers, the daemon, then the STUN server, and
    // removes their directories.
    ~FullStack();
    FullStack(const FullStack&) = delete;
    FullStack& operator=(const FullStack&) = delete;

    // Starts the STUN server, the daemon, the XMPP server, then the SIP server;
    // false with error() when one does not come up.
    bool start();
    const std::string& error() const { return error_; }

    StunServer& stun() { return stun_; }
    OperatorStack& daemon() { return daemon_; }
    // Valid after a successful start().
    XmppServer& xmpp() { return *xmpp_; }
    // The SIP server behind the daemon's sip_front, with the same accounts.
    SipServer& sip() { return *sip_; }
    // The shared configuration; point client code at it.
    const platform::OperatorConfig& config() const { return daemon_.config(); }
    const std::string& conf_path() const { return daemon_.conf_path(); }
    const std::vector<XmppAccount>& accounts() const { return options_.accounts; }
    // The account store both servers use.
    std::string account_db() const;

    // Whether USER@domain logs in to the XMPP server with `password`
    // through the client library, as far as its roster.
    bool can_log_in(const std::string& user, const std::string& password);

    // Makes the first two accounts friends through the server with the
    // client library: each in the other's roster, subscribed both ways.
    // Both sessions have ended when it returns.
    bool befriend();

private:
    FullStackOptions options_;
    StunServer stun_; // its ports are chosen first: the daemon's configuration names them
    OperatorStack daemon_;
    std::unique_ptr<XmppServer> xmpp_; // made once the daemon's configuration exists
    std::unique_ptr<SipServer> sip_;
    std::string error_;
};

} // namespace vokar::test
