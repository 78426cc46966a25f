#include "tests/support/full_stack.h"

#include <sys/socket.h>

#include <algorithm>

#include "base/reactor.h"
#include "platform/clock.h"
#include "tests/support/free_ports.h"
#include "tests/support/live_client.h"
#include "tools/operator/xmpp/xmpp_instance.h"

namespace vokar::test {
namespace {

// Fixed ports, so that the shared configuration can name the STUN server
// before it runs.
StunServerOptions stun_options()
{
    StunServerOptions stun;
    const auto ports = free_loopback_ports(2, SOCK_DGRAM);
    if (ports.size() == 2) {
        stun.port = ports[0];
        stun.alt_port = ports[1];
    }
    return stun;
}

OperatorStackOptions daemon_options(const FullStackOptions& options, const StunServer& stun)
{
    OperatorStackOptions daemon;
    daemon.services = {"echo_udp", "echo_tcp", "tunnel", "web", "sip_front", "relay"};
    daemon.extra_config["stun_host"] = stun.host();
    daemon.extra_config["stun_port"] = std::to_string(stun.port());
    for (const auto& [key, value] : options.extra_config)
        daemon.extra_config[key] = value;
    return daemon;
}

} // namespace

FullStackOptions with_echo_account(FullStackOptions options, const XmppAccount& echo, bool befriend)
{
    if (std::none_of(options.accounts.begin(), options.accounts.end(),
                     [&](const XmppAccount& a) { return a.user == echo.user; }))
        options.accounts.push_back(echo);
    options.extra_config["echo_account"] = echo.user;
    options.extra_config["echo_account_password"] = echo.password;
    options.extra_config["echo_account_befriend"] = befriend ? "1" : "0";
    return options;
}

FullStack::FullStack(FullStackOptions options)
    : options_(std::move(options)), stun_(stun_options()), daemon_(daemon_options(options_, stun_))
{
}

FullStack::~FullStack()
{
    sip_.reset();
    xmpp_.reset();
}

bool FullStack::start()
{
    error_.clear();
    if (!stun_.running() && !stun_.start()) {
        error_ = "STUN server: " + stun_.error() + "\n" + stun_.log();
        return false;
    }
    if (!daemon_.running() && !daemon_.start()) {
        error_ = "vokar-operatord: " + daemon_.error();
        return false;
    }
    if (!xmpp_) {
        XmppServerOptions xmpp;
        xmpp.conf_path = daemon_.conf_path();
        xmpp.accounts = options_.accounts;
        xmpp.use_environment = false;
        xmpp_ = std::make_unique<XmppServer>(xmpp);
    }
    if (!xmpp_->start()) {
        error_ = "XMPP server: " + xmpp_->error() + "\n" + xmpp_->log();
        return false;
    }
    if (!sip_) {
        SipServerOptions sip;
        sip.conf_path = daemon_.conf_path();
        sip.accounts.clear();
        for (const auto& account : options_.accounts)
            sip.accounts.push_back({account.user, account.password});
        sip.create_accounts = false;
        sip.use_environment = false;
        sip_ = std::make_unique<SipServer>(sip);
    }
    if (!sip_->start()) {
        error_ = "SIP server: " + sip_->error() + "\n" + sip_->log();
        return false;
    }
    return true;
}

std::string FullStack::account_db() const
{
    std::string error;
    const auto instance = operatord::XmppInstance::make(config(), config().get("xmpp_dir"), &error);
    return instance ? instance->account_db : std::string();
}

bool FullStack::can_log_in(const std::string& user, const std::string& password)
{
    if (!xmpp_)
        return false;
    platform::ManualClock keep_alive_clock;
    Reactor reactor(keep_alive_clock, false);
    LiveClient session(*xmpp_, {user, password}, reactor);
    const bool in = session.log_in();
    session->logout();
    return in;
}

bool FullStack::befriend()
{
    if (!xmpp_ || options_.accounts.size() < 2) {
        error_ = "befriend needs the running stack and two accounts";
        return false;
    }
    platform::ManualClock keep_alive_clock;
    Reactor reactor(keep_alive_clock, false);
    const XmppAccount& first = options_.accounts[0];
    const XmppAccount& second = options_.accounts[1];
    auto a = std::make_unique<LiveClient>(*xmpp_, first, reactor);
    auto b = std::make_unique<LiveClient>(*xmpp_, second, reactor);
    if (!a->log_in() || !b->log_in()) {
        error_ = "befriend: the accounts cannot log in";
        return false;
    }
    (*a)->addContact(kNetworkService, second.user, second.user, "");
    if (!b->wait_for_status(a->jid(), kStatusPending)) {
        error_ = "befriend: " + second.user + " got no friend request";
        return false;
    }
    (*b)->acceptContact(a->jid(), first.user, "");
    if (!a->wait_for_status(b->jid(), kStatusAvailable) ||
        !b->wait_for_status(a->jid(), kStatusAvailable)) {
        error_ = "befriend: the two do not see each other online";
        return false;
    }
    (*a)->logout();
    (*b)->logout();
    return true;
}

} // namespace vokar::test
