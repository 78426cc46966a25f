#include "tests/support/full_stack.h"

#include "base/reactor.h"
#include "platform/clock.h"
#include "tests/support/live_client.h"
#include "tools/operator/xmpp/xmpp_instance.h"

namespace vokar::test {
namespace {

OperatorStackOptions daemon_options(const FullStackOptions& options)
{
    OperatorStackOptions daemon;
    daemon.services = {"echo_udp", "echo_tcp", "tunnel", "web", "sip_front"};
    daemon.extra_config = options.extra_config;
    return daemon;
}

} // namespace

FullStack::FullStack(FullStackOptions options)
    : options_(std::move(options)), daemon_(daemon_options(options_))
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
