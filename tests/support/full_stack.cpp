#include "tests/support/full_stack.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "base/reactor.h"
#include "net/connection_interface.h"
#include "platform/clock.h"
#include "tools/operator/xmpp/xmpp_instance.h"
#include "xmpp/jabber_client.h"

namespace vokar::test {
namespace {

using namespace std::chrono_literals;

OperatorStackOptions daemon_options(const FullStackOptions& options)
{
    OperatorStackOptions daemon;
    daemon.services = {"echo_udp", "echo_tcp", "tunnel", "web"};
    daemon.extra_config = options.extra_config;
    return daemon;
}

// One logged-in client and what it raised.
class Session : public JabberListener {
public:
    Session(Reactor& reactor, const XmppServer& server, XmppAccount account)
        : server_(server), account_(std::move(account)),
          client_(server.domain(), "wm", "2.2", reactor)
    {
        client_.addListener(this);
    }

    void onJabberEvent(int code, const JabberEvent* event) override
    {
        std::lock_guard lock(mutex_);
        events_.emplace_back(code, event ? *event : JabberEvent{});
        changed_.notify_all();
    }

    bool log_in()
    {
        client_.connect(std::make_unique<ConnectionInterface>("", true, false, nullptr, nullptr,
                                                              TunnelServer{}),
                        server_.host(), server_.port(), 0);
        if (!wait_for([](int code, const JabberEvent&) { return code == kEventConnected; }))
            return false;
        client_.login(account_.user, account_.password);
        wait_for([](int code, const JabberEvent& e) {
            return code == kEventRosterLoaded || (code == kEventAuthentication && e.result != 0);
        });
        return seen(kEventRosterLoaded);
    }

    bool seen(int wanted)
    {
        std::lock_guard lock(mutex_);
        for (const auto& [code, event] : events_)
            if (code == wanted)
                return true;
        return false;
    }

    // Waits (bounded) until some event so far matches.
    bool wait_for(const std::function<bool(int, const JabberEvent&)>& match)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [&] {
            for (const auto& [code, event] : events_)
                if (match(code, event))
                    return true;
            return false;
        });
    }

    // Waits until `jid` has been reported with `status`.
    bool wait_for_status(const std::string& jid, int status)
    {
        return wait_for([&](int code, const JabberEvent& e) {
            if (code != kEventPresence)
                return false;
            for (const auto& u : e.updates)
                if (u.jid == jid && u.status == status)
                    return true;
            return false;
        });
    }

    JabberClient& client() { return client_; }
    std::string jid() const { return account_.user + "@" + server_.domain(); }

private:
    const XmppServer& server_;
    const XmppAccount account_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::pair<int, JabberEvent>> events_;
    JabberClient client_; // last: gone before what its threads report into
};

} // namespace

FullStack::FullStack(FullStackOptions options)
    : options_(std::move(options)), daemon_(daemon_options(options_))
{
}

FullStack::~FullStack()
{
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
    Session session(reactor, *xmpp_, {user, password});
    const bool in = session.log_in();
    session.client().logout();
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
    auto a = std::make_unique<Session>(reactor, *xmpp_, first);
    auto b = std::make_unique<Session>(reactor, *xmpp_, second);
    if (!a->log_in() || !b->log_in()) {
        error_ = "befriend: the accounts cannot log in";
        return false;
    }
    a->client().addContact(kNetworkService, second.user, second.user, "");
    if (!b->wait_for_status(a->jid(), kStatusPending)) {
        error_ = "befriend: " + second.user + " got no friend request";
        return false;
    }
    b->client().acceptContact(a->jid(), first.user, "");
    if (!a->wait_for_status(b->jid(), kStatusAvailable) ||
        !b->wait_for_status(a->jid(), kStatusAvailable)) {
        error_ = "befriend: the two do not see each other online";
        return false;
    }
    a->client().logout();
    b->client().logout();
    return true;
}

} // namespace vokar::test
