#include "core/sip_phone.h"

#include <gtest/gtest.h>

#include "platform/text.h"
#include "tests/core/core_test_support.h"

namespace vokar {
namespace {

using test::eventually;

// What the phone did to one stack.
struct StackLog {
    std::string domain, host, local_address, display_name, user, password;
    std::vector<int> codecs;
    uint16_t port = 0, local_port = 0;
    int unregisters = 0;
    SipListener* listener = nullptr;
    std::atomic<bool> registered{false}, destroyed{false};
    const SipResult* outcome_on_destroy = nullptr; // raised while being freed
};

class ScriptedStack : public SipStackInterface {
public:
    explicit ScriptedStack(StackLog& log) : log_(log) {}
    ~ScriptedStack() override
    {
        if (log_.outcome_on_destroy)
            log_.listener->on_sip_event(kSipRegistration, log_.outcome_on_destroy);
        log_.destroyed = true;
    }
    void add_listener(SipListener* l) override { log_.listener = l; }
    void remove_listener(SipListener*) override {}
    void add_codec(int payload_type) override { log_.codecs.push_back(payload_type); }
    void set_display_name(const std::string& name) override { log_.display_name = name; }
    void set_local_address(const std::string&, int) override {}
    void set_rtp_port(int) override {}
    void set_stun_address(const std::string&, int) override {}
    bool open(std::unique_ptr<ConnectionInterface> transport, const std::string& host,
              const std::string& local_address, uint16_t port, uint16_t local_port) override
    {
        transport_ = std::move(transport);
        log_.host = host;
        log_.local_address = local_address;
        log_.port = port;
        log_.local_port = local_port;
        return true;
    }
    void register_account(const std::string& user, const std::string& password) override
    {
        log_.user = user;
        log_.password = password;
        log_.registered = true;
    }
    void unregister() override { ++log_.unregisters; }
    std::optional<std::string> call(const std::string&, const std::string&) override { return {}; }
    void ringing(const std::string&) override {}
    void accept(const std::string&) override {}
    void hangup(const std::string&) override {}
    std::string balance_text() override { return {}; }

private:
    StackLog& log_;
    std::unique_ptr<ConnectionInterface> transport_;
};

// Both phones over scripted transports.
struct Rig {
    Rig()
    {
        settings.server_list(SettingsStore::kSipList).append({"s1.test", 5060});
        settings.server_list(SettingsStore::kSipList).append({"s2.test", 5070});
        settings.set(&Settings::dialing_prefix, L"27");
    }
    ~Rig() { clock.hold(false); }

    StackLog& stack(size_t i)
    {
        std::lock_guard lock(mutex);
        return stacks.at(i);
    }
    // The i-th stack, once it has been asked to register.
    StackLog& registered(size_t i)
    {
        EXPECT_TRUE(eventually([&] {
            std::lock_guard lock(mutex);
            return stacks.size() > i && stacks[i].registered;
        }));
        return stack(i);
    }
    void outcome(size_t i, int code, std::string text = "")
    {
        const SipResult r{code, std::move(text)};
        registered(i).listener->on_sip_event(kSipRegistration, &r);
    }
    void xmpp_connected()
    {
        app.login("27821234567", "pw");
        ASSERT_TRUE(xmpp.wait_for_stream(1));
    }

    test::ScratchDir scratch;
    std::string path = scratch.settings_path();
    platform::OperatorConfig conf;
    SettingsStore settings{path, conf};
    test::TestClock clock;
    test::FakeBearer bearer;
    test::RecordingUi ui;
    test::XmppRig xmpp{clock};
    test::XmppRig sip_net{clock};
    std::mutex mutex;
    std::deque<StackLog> stacks;
    std::atomic<int> prefix_requests{0}, terminations{0};
    test::Disposal disposal;
    AppController app{
        {settings, bearer, ui, clock, disposal.queue(), xmpp.clients(), xmpp.connections()}, {}};
    SipPhone phone{{settings, bearer, ui, app, disposal.queue(),
                    [this](const std::string& domain) {
                        std::lock_guard lock(mutex);
                        stacks.emplace_back().domain = domain;
                        return std::make_unique<ScriptedStack>(stacks.back());
                    },
                    sip_net.connections(), [this] { ++prefix_requests; },
                    [this] { ++terminations; }}};
};

TEST(SipPhoneTest, LoginStoresTheCredentialsAndRegistersThroughTheCurrentSipServer)
{
    Rig r;
    r.settings.server_list(SettingsStore::kSipList).set_index(1);
    r.phone.login("27821234567", "pw");
    EXPECT_EQ(r.ui.notices, (std::vector<test::Notice>{{2140, L"", 0}}));
    // Saved by the store's saving thread.
    ASSERT_TRUE(eventually([&] { return std::filesystem::exists(r.path); }));
    EXPECT_EQ(SettingsStore(r.path, r.conf).get(&Settings::username), L"27821234567");
    EXPECT_EQ(r.settings.get(&Settings::password), L"pw");
    EXPECT_TRUE(r.phone.sipLoggedInOrLoggingIn());
    EXPECT_FALSE(r.phone.sipLoggedIn());

    const StackLog& s = r.registered(0);
    EXPECT_EQ(s.domain, "sip.vokar.test");
    EXPECT_EQ(s.codecs, (std::vector<int>{3, 97}));
    EXPECT_EQ(s.host + ":" + std::to_string(s.port), "s2.test:5070");
    EXPECT_EQ(s.local_address, "10.0.0.5");
    EXPECT_EQ(s.local_port, 5098);
    EXPECT_EQ(s.display_name, "27821234567");
    EXPECT_EQ(s.user + ":" + s.password, "27821234567:pw");
    EXPECT_FALSE(r.sip_net.record(0).use_tcp);
    EXPECT_TRUE(r.sip_net.record(0).scramble);
    r.sip_net.record(0).on_error(kSocketErrorReceive, 10054); // ignored
}

TEST(SipPhoneTest, WithoutABearerLoginOnlyTellsTheUser)
{
    Rig r;
    r.bearer.up = false;
    r.phone.login("27821234567", "pw");
    EXPECT_EQ(r.ui.notices, (std::vector<test::Notice>{{2008, L"", 2138}}));
    EXPECT_TRUE(r.stacks.empty());
    EXPECT_TRUE(r.phone.sipLoggedInOrLoggingIn()); // the bearer's return logs in again
}

TEST(SipPhoneTest, RegistrationOutcomes)
{
    struct Case {
        const char* name;
        int code;
        std::string reason;
        int message_id; // -1: none; 0: the reason as text
        bool logged_in;
        uint32_t sip_list_index;
    } cases[] = {
        {"success", SipResult::kSuccess, "", -1, true, 0},
        {"timeout", SipResult::kTimeout, "", 2013, false, 1},
        {"refused", SipResult::kAuthRefused, "", 2012, false, 0},
        {"failure with a reason", SipResult::kFailure, "Forbidden", 0, false, 0},
        {"failure without one", SipResult::kFailure, "", 2014, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r;
        r.xmpp_connected();
        r.phone.login("27821234567", "pw");
        r.outcome(0, c.code, c.reason);
        r.outcome(0, SipResult::kTimeout); // only the first outcome of a login counts
        EXPECT_EQ(r.phone.sipLoggedIn(), c.logged_in);
        EXPECT_EQ(r.phone.sipLoggedInOrLoggingIn(), c.logged_in);
        EXPECT_EQ(r.settings.server_list(SettingsStore::kSipList).index(), c.sip_list_index);
        EXPECT_EQ(r.ui.main_screens, c.logged_in ? 1 : 0);
        EXPECT_EQ(r.xmpp.record(0).log.closed, !c.logged_in); // XMPP logged out too
        const std::vector<test::Notice> shown{
            {2140, L"", 0}, {c.message_id, c.message_id ? L"" : L"Forbidden", 2138}};
        EXPECT_EQ(r.ui.notices,
                  std::vector<test::Notice>(shown.begin(), shown.end() - (c.message_id < 0)));
    }
}

TEST(SipPhoneTest, SuccessFetchesAnUnknownPrefixAndAsksAboutImportOnlyOnceBothAreIn)
{
    struct Case {
        const wchar_t* prefix;
        bool first_run, xmpp_logged_in;
        int prefix_requests, questions;
    } cases[] = {
        {L"-1", false, false, 1, 0}, {L"", false, false, 1, 0}, {L"27", false, false, 0, 0},
        {L"27", true, false, 0, 0},  {L"27", true, true, 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "prefix '" << platform::to_utf8(c.prefix) << "' first run " << c.first_run
                     << " xmpp " << c.xmpp_logged_in);
        Rig r;
        r.settings.set(&Settings::dialing_prefix, c.prefix);
        if (c.xmpp_logged_in) {
            r.xmpp_connected();
            JabberEvent ok;
            test::ControllerEvents::raise(r.app, kEventAuthentication, &ok);
        }
        r.settings.set(&Settings::first_run, c.first_run);
        r.phone.login("27821234567", "pw");
        r.outcome(0, SipResult::kSuccess);
        EXPECT_EQ(r.prefix_requests, c.prefix_requests);
        EXPECT_EQ(r.ui.import_questions, c.questions);
        EXPECT_EQ(r.settings.get(&Settings::first_run), c.first_run && !c.questions);
    }
}

TEST(SipPhoneTest, AReplacedStackThatReportsWhileBeingFreedIsIgnored)
{
    Rig r;
    const SipResult success{SipResult::kSuccess, ""};
    r.phone.login("27821234567", "pw");
    r.registered(0).outcome_on_destroy = &success;
    r.phone.login("27821234567", "pw2");
    ASSERT_TRUE(eventually([&] { return r.stack(0).destroyed.load(); }));
    EXPECT_FALSE(r.phone.sipLoggedIn());
    EXPECT_EQ(r.registered(1).password, "pw2");
    r.outcome(1, SipResult::kSuccess);
    EXPECT_TRUE(r.phone.sipLoggedIn());
}

TEST(SipPhoneTest, LogoutUnregistersAndTheOutcomeEndsTheProgram)
{
    Rig r;
    r.phone.login("27821234567", "pw");
    r.outcome(0, SipResult::kSuccess);
    r.phone.logout();
    EXPECT_EQ(r.stack(0).unregisters, 1);
    EXPECT_EQ(r.terminations, 0);
    const SipResult failed{SipResult::kFailure, "Server"};
    r.stack(0).listener->on_sip_event(kSipUnregistration, &failed);
    EXPECT_EQ(r.terminations, 1);
}

TEST(SipPhoneTest, ServerListsAskWhetherEachLoginIsUp)
{
    Rig r;
    r.phone.login("27821234567", "pw");
    r.outcome(0, SipResult::kSuccess);
    auto& sip = r.settings.server_list(SettingsStore::kSipList);
    auto& xmpp = r.settings.server_list(SettingsStore::kXmppList);
    sip.load("1\nnew.test:5060", true);
    xmpp.load("1\nnew.test:5222", true);
    EXPECT_TRUE(sip.skip_next_advance());
    EXPECT_FALSE(xmpp.skip_next_advance());
}

TEST(SipPhoneTest, BearerLossDropsBothPhonesAndItsReturnLogsBothInAgain)
{
    Rig r;
    r.xmpp_connected();
    JabberEvent roster;
    roster.updates.push_back({"bob@vokar.test", "Bob", 1, "", true, false});
    test::ControllerEvents::raise(r.app, kEventPresence, &roster);
    r.phone.login("27821234567", "pw");
    r.outcome(0, SipResult::kSuccess);

    r.app.bearerLost();
    EXPECT_EQ(r.app.friends().find(L"bob@vokar.test")->status, kStatusOffline);
    EXPECT_FALSE(r.app.connected());
    ASSERT_TRUE(eventually([&] { return r.stack(0).destroyed && r.xmpp.record(0).destroyed; }));
    // Asked right after the loss, so that the bearer's return logs in again.
    EXPECT_TRUE(r.phone.sipLoggedInOrLoggingIn());

    r.app.bearerAvailable();
    EXPECT_EQ(r.registered(1).user, "27821234567");
    EXPECT_TRUE(r.xmpp.wait_for_stream(2));
}

} // namespace
} // namespace vokar
