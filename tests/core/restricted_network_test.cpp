// The whole client (its Program) on restricted networks, against the full
// operator stack: each test runs in a private network namespace whose packet
// filter applies to the client under test only, while a second client (bob)
// stays outside it.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <iostream>
#include <mutex>
#include <thread>

#include "core/program.h"
#include "media/voice_codec.h"
#include "platform/audio_device.h"
#include "platform/text.h"
#include "tests/core/core_test_support.h"
#include "tests/support/full_stack.h"
#include "tests/support/live_client.h"
#include "tests/support/quiet_ui.h"
#include "tests/support/restricted_network.h"
#include "tests/support/scratch.h"
#include "tests/support/whole_client.h"

namespace vokar {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Records the rosters loaded and the network-check notices.
class UiLog : public test::QuietUi {
public:
    intptr_t send_message(MessageCode code, uintptr_t wparam) override
    {
        std::lock_guard lock(mutex_);
        if (code == MessageCode::GatewayMessageFailed && wparam == 0)
            ++rosters_;
        changed_.notify_all();
        return 0;
    }
    void show_network_check(bool checking) override
    {
        std::lock_guard lock(mutex_);
        checks_.push_back(checking);
    }

    bool wait_for_rosters(int count, std::chrono::milliseconds limit)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return rosters_ >= count; });
    }
    std::vector<bool> checks()
    {
        std::lock_guard lock(mutex_);
        return checks_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int rosters_ = 0;
    std::vector<bool> checks_;
};

// Every ping answers at once: the link rating costs nothing.
class QuickPinger : public platform::Pinger {
public:
    platform::IcmpReply echo(uint32_t, const std::string&, uint32_t) override
    {
        return {true, 1, 0, {}};
    }
};

template <class F> bool eventually(F done, std::chrono::milliseconds limit)
{
    const auto end = Clock::now() + limit;
    while (!done() && Clock::now() < end)
        std::this_thread::sleep_for(10ms);
    return done();
}

long long ms(Clock::duration d)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

class RestrictedNetworkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why;
        if (!net_.enter(&why))
            GTEST_SKIP() << why;
        dir_ = test::make_temp_directory("vokar-restricted");
        ASSERT_FALSE(dir_.empty());
        ASSERT_TRUE(stack_.start()) << stack_.error();
        ASSERT_TRUE(stack_.befriend()) << stack_.error();
        bob_ = std::make_unique<test::LiveClient>(stack_.xmpp(), stack_.accounts()[1], reactor_);
        ASSERT_TRUE(bob_->log_in());
    }
    void TearDown() override
    {
        program_.reset();
        bob_.reset();
        test::remove_directory(dir_);
    }

    const platform::OperatorConfig& conf() { return stack_.config(); }
    std::string port(uint16_t p) { return std::to_string(p); }

    void filter(const std::string& rule)
    {
        std::string why;
        ASSERT_TRUE(net_.filter(rule, &why)) << why;
    }

    // Alice's client, inside the filter: starts the Program and waits for the
    // bearer, which comes once the probe has run.
    void start_alice()
    {
        ASSERT_TRUE(net_.become_client());
        platform::OperatorConfig config = conf();
        config.adapter = "lo";
        // The stack runs no SIP service: the SIP phone stays off.
        const SipPhone::StackFactory no_sip = [](const std::string&) {
            return std::unique_ptr<SipStackInterface>();
        };
        program_ = std::make_unique<Program>(Program::Options{config,
                                                              dir_ + "/__settings",
                                                              ui_,
                                                              nullptr,
                                                              std::make_unique<QuickPinger>(),
                                                              no_sip,
                                                              {},
                                                              {}});
        program_->settings().set(&Settings::username, L"alice");
        program_->settings().set(&Settings::password, L"alice-pass");
        const auto start = Clock::now();
        program_->start();
        ASSERT_TRUE(eventually([&] { return program_->monitor().connected(); }, 45s));
        probe_ms_ = ms(Clock::now() - start);
    }

    // Logs alice in; the time from the login to her roster.
    long long log_in(std::chrono::milliseconds limit = 20s)
    {
        const auto start = Clock::now();
        program_->app().login("alice", "alice-pass");
        EXPECT_TRUE(ui_.wait_for_rosters(1, limit));
        EXPECT_TRUE(program_->app().loggedIn());
        return ms(Clock::now() - start);
    }

    void report(const std::string& what, long long value)
    {
        RecordProperty(what, std::to_string(value));
        std::cout << "[  timing  ] " << what << ": " << value << " ms" << std::endl;
    }

    std::wstring bob_jid() { return L"bob@" + platform::to_wide(conf().service_domain); }

    // A chat message each way between alice (filtered) and bob.
    void chat_both_ways(const std::string& to_bob, const std::string& to_alice)
    {
        program_->app().sendMessage(bob_->jid(), to_bob);
        EXPECT_TRUE(bob_->wait_for(
            [&](int code, const JabberEvent& e) {
                return code == kEventChatMessage && e.text == to_bob;
            },
            15s))
            << "bob did not get " << to_bob.size() << " bytes whole";
        (*bob_)->sendMessage("alice@" + conf().service_domain, to_alice);
        const std::wstring expected = platform::to_wide(to_alice);
        EXPECT_TRUE(eventually(
            [&] {
                const auto f = program_->friends().find(bob_jid());
                return f && !f->messages.empty() && f->messages.back().text == expected;
            },
            15s))
            << "alice did not get " << to_alice.size() << " bytes whole";
    }

    test::RestrictedNetwork net_;
    test::FullStack stack_;
    std::string dir_;
    Reactor reactor_;
    std::unique_ptr<test::LiveClient> bob_;
    UiLog ui_;
    std::unique_ptr<Program> program_;
    long long probe_ms_ = 0;
};

TEST_F(RestrictedNetworkTest, AnOpenNetworkLogsInDirect)
{
    start_alice();
    EXPECT_FALSE(program_->probe().needsTunnel(true));
    report("probe", probe_ms_);
    report("direct login", log_in());
    EXPECT_EQ(ui_.checks(), (std::vector<bool>{true, false})) << "the login footer was told";
}

// Login, roster, chat, and a reconnect after the tunnel daemon restarts, all
// through the tunnel: every direct TCP connection is refused.
TEST_F(RestrictedNetworkTest, WithAllDirectTcpBlockedEverythingGoesThroughTheTunnel)
{
    filter("-p tcp ! --dport " + port(conf().tunnel_port) + " -j REJECT --reject-with tcp-reset");
    filter("-p tcp --dport " + port(conf().tunnel_port) + " --syn");
    start_alice();
    report("probe with direct TCP refused", probe_ms_);
    EXPECT_FALSE(program_->probe().tcpWorks());
    ASSERT_TRUE(program_->probe().needsTunnel(true));
    EXPECT_EQ(ui_.checks(), (std::vector<bool>{true, false}));

    report("login through the tunnel", log_in());
    ASSERT_TRUE(eventually([&] { return program_->friends().find(bob_jid()).has_value(); }, 10s))
        << "the roster";
    chat_both_ways("hello bob", "hello alice");

    // The tunnel goes away and comes back: the client logs in again.
    const long long syns = net_.counted("-p tcp --dport " + port(conf().tunnel_port));
    ASSERT_TRUE(net_.leave_client());
    stack_.daemon().stop();
    ASSERT_TRUE(net_.become_client());
    ASSERT_TRUE(eventually([&] { return !program_->app().loggedIn(); }, 10s));
    // Two attempts meet the dead tunnel.
    ASSERT_TRUE(eventually(
        [&] { return net_.counted("-p tcp --dport " + port(conf().tunnel_port)) >= syns + 2; },
        10s));
    ASSERT_TRUE(net_.leave_client());
    ASSERT_TRUE(stack_.daemon().restart()) << stack_.daemon().error();
    ASSERT_TRUE(net_.become_client());
    const auto back = Clock::now();
    ASSERT_TRUE(ui_.wait_for_rosters(2, 30s));
    report("login again after the tunnel restarted", ms(Clock::now() - back));
    EXPECT_TRUE(program_->app().loggedIn());
    chat_both_ways("back again", "welcome back");
}

// The echo gets out but the XMPP port does not: after two failed direct
// connects the client tests the tunnel and goes through it.
class OnlyTheXmppPortBlocked : public RestrictedNetworkTest,
                               public ::testing::WithParamInterface<const char*> {};

TEST_P(OnlyTheXmppPortBlocked, TheClientEndsUpLoggedInThroughTheTunnel)
{
    const std::string target = GetParam();
    if (target == "DROP") {
        ASSERT_TRUE(net_.set_syn_retries(2)) << "a dropped connect then fails after 7 s";
    }
    filter("-p tcp --dport " + port(conf().xmpp_port) + " -j " + target);
    const auto start = Clock::now();
    start_alice();
    EXPECT_FALSE(program_->probe().needsTunnel(true)) << "the echo got out";
    log_in(40s);
    report("first login with the XMPP port blocked (" + target + ")", ms(Clock::now() - start));
    EXPECT_TRUE(program_->probe().tunnelsService(conf().xmpp_port, true));
    chat_both_ways("through", "the tunnel");
}

INSTANTIATE_TEST_SUITE_P(Filter, OnlyTheXmppPortBlocked, ::testing::Values("REJECT", "DROP"));

TEST_F(RestrictedNetworkTest, A70000ByteMessageThroughTheTunnelArrivesWhole)
{
    filter("-p tcp --dport " + port(conf().xmpp_port) + " -j REJECT");
    start_alice();
    log_in();
    ASSERT_TRUE(program_->probe().tunnelsService(conf().xmpp_port, true));
    std::string text(70000, 'x');
    for (size_t i = 0; i < text.size(); i += 100)
        text[i] = static_cast<char>('a' + (i / 100) % 26); // an offset error shows
    chat_both_ways(text, text);
}

// The list has eight entries (all the one server), so an advance shows.
TEST_F(RestrictedNetworkTest, ADeadTunnelDoesNotAdvanceTheXmppServerList)
{
    filter("-p tcp --dport " + port(conf().xmpp_port) + " -j REJECT");
    filter("-p tcp --dport " + port(conf().tunnel_port) + " --syn");
    start_alice();
    auto& list = program_->settings().server_list(SettingsStore::kXmppList);
    list.clear();
    for (int i = 0; i < 8; ++i)
        list.append({conf().xmpp_host, conf().xmpp_port});
    log_in();
    const uint32_t index = list.index();
    const long long syns = net_.counted("-p tcp --dport " + port(conf().tunnel_port));
    ASSERT_TRUE(net_.leave_client());
    stack_.daemon().stop();
    ASSERT_TRUE(net_.become_client());
    ASSERT_TRUE(eventually(
        [&] { return net_.counted("-p tcp --dport " + port(conf().tunnel_port)) >= syns + 2; },
        15s));
    EXPECT_EQ(list.index(), index);
    ASSERT_TRUE(net_.leave_client());
    ASSERT_TRUE(stack_.daemon().restart()) << stack_.daemon().error();
    ASSERT_TRUE(net_.become_client());
    ASSERT_TRUE(ui_.wait_for_rosters(2, 30s));
    EXPECT_EQ(list.index(), index);
}

} // namespace
} // namespace vokar

namespace vokar {
namespace {

// The speech both microphones play, three times over: alice's as recorded,
// bob's backwards, so that each direction is told apart.
std::vector<int16_t> speech(bool reversed)
{
    const std::string file = test::read_file(VOKAR_CORE_TEST_SPEECH);
    const auto samples = platform::wav_samples(file);
    std::vector<int16_t> once(samples ? samples->size() / 2 : 0);
    if (samples)
        std::memcpy(once.data(), samples->data(), once.size() * 2);
    if (reversed)
        std::reverse(once.begin(), once.end());
    std::vector<int16_t> out;
    for (int i = 0; i < 3; ++i)
        out.insert(out.end(), once.begin(), once.end());
    return out;
}

std::string bytes_of(const std::vector<int16_t>& pcm)
{
    return std::string(reinterpret_cast<const char*>(pcm.data()), pcm.size() * 2);
}

// The speech as the far end hears it: through the call's codec (Speex).
std::vector<int16_t> through_codec(const std::vector<int16_t>& pcm)
{
    media::VoiceCodec codec(CallController::kPayloadSpeex);
    std::vector<int16_t> out, decoded(media::kDecodeBufferBytes / 2);
    for (size_t at = 0; at + media::kBlockBytes / 2 <= pcm.size(); at += media::kBlockBytes / 2) {
        const media::EncodedBlock block = codec.encode(pcm.data() + at, media::kBlockBytes);
        const size_t n = codec.decode(reinterpret_cast<const uint8_t*>(block.data.data()),
                                      block.data.size(), decoded.data(), media::kDecodeBufferBytes);
        out.insert(out.end(), decoded.begin(), decoded.begin() + n / 2);
    }
    return out;
}

// The median, over the last three whole seconds the speaker played (but the
// very last half second), of each second's best normalised correlation with
// any stretch of the sent speech. The speech repeats every `period` samples,
// and the microphone started at an unknown point of it.
double heard_correlation(const std::vector<int16_t>& heard, const std::vector<int16_t>& sent,
                         size_t period)
{
    constexpr size_t kWindow = 8000;
    std::vector<double> best;
    for (int w = 1; w <= 3; ++w) {
        if (heard.size() < 4000 + w * kWindow)
            break;
        const int16_t* h = heard.data() + heard.size() - 4000 - w * kWindow;
        double heard_energy = 0;
        for (size_t i = 0; i < kWindow; ++i)
            heard_energy += double(h[i]) * h[i];
        double top = 0;
        for (size_t lag = 0; lag < period && lag + kWindow <= sent.size(); ++lag) {
            double cross = 0, sent_energy = 0;
            for (size_t i = 0; i < kWindow; ++i) {
                cross += double(h[i]) * sent[lag + i];
                sent_energy += double(sent[lag + i]) * sent[lag + i];
            }
            if (heard_energy > 0 && sent_energy > 0)
                top = std::max(top, cross / std::sqrt(heard_energy * sent_energy));
        }
        best.push_back(top);
    }
    if (best.empty())
        return 0;
    std::sort(best.begin(), best.end());
    return best[best.size() / 2];
}

// Two whole clients, both inside the filter, call each other over Jingle.
class RestrictedCallTest : public ::testing::Test {
protected:
    // A call's tunnel relay names the client's own media address as its
    // target; the operator's tunnel allows the range calls draw from.
    static test::FullStackOptions stack_options()
    {
        std::string media;
        for (int port = 8500; port < 9500; ++port)
            media += "127.0.0.1:" + std::to_string(port) + " ";
        test::FullStackOptions options;
        options.extra_config["tunnel_allowed_targets"] = media;
        return options;
    }

    void SetUp() override
    {
        std::string why;
        if (!net_.enter(&why))
            GTEST_SKIP() << why;
        ASSERT_TRUE(stack_.start()) << stack_.error();
        ASSERT_TRUE(stack_.befriend()) << stack_.error();
    }
    void TearDown() override
    {
        alice_.reset();
        bob_.reset();
    }

    void filter(const std::string& rule)
    {
        std::string why;
        ASSERT_TRUE(net_.filter(rule, &why)) << why;
    }

    // Both clients log in from inside the filter, at once: where the probe
    // finds UDP blocked it runs its three passes.
    void log_in_both()
    {
        ASSERT_TRUE(net_.become_client());
        test::WholeClientOptions a, b;
        a.microphone_samples = bytes_of(speech(false));
        b.microphone_samples = bytes_of(speech(true));
        alice_ = std::make_unique<test::WholeClient>(stack_, stack_.accounts()[0], a);
        bob_ = std::make_unique<test::WholeClient>(stack_, stack_.accounts()[1], b);
        bool bob_in = false;
        std::thread bob([&] { bob_in = bob_->log_in(60s); });
        const bool alice_in = alice_->log_in(60s);
        bob.join();
        ASSERT_TRUE(alice_in && bob_in);
        ASSERT_TRUE(alice_->sees_online("bob"));
    }

    // alice calls bob, they talk for four seconds and alice hangs up; each
    // must have heard the other's speech.
    void talk()
    {
        const auto call = alice_->program().app().makeCall(L"bob");
        const auto incoming = bob_->wait_for(MessageCode::CallIncoming, 20s);
        ASSERT_NE(incoming, nullptr);
        incoming->answer();
        ASSERT_TRUE(alice_->wait_for(MessageCode::CallConnected, 10s));
        ASSERT_TRUE(bob_->wait_for(MessageCode::CallConnected));
        // Four seconds of speech at bob, the speaker's real-time pace.
        ASSERT_TRUE(test::eventually([&] { return bob_->heard_samples() > 16000; }));
        call->hangUp(); // stops alice's audio before it returns
        ASSERT_TRUE(bob_->wait_for(MessageCode::CallOver));
        const size_t period = speech(false).size() / 3;
        const double at_bob =
            heard_correlation(bob_->speaker_samples(), through_codec(speech(false)), period);
        const double at_alice =
            heard_correlation(alice_->speaker_samples(), through_codec(speech(true)), period);
        RecordProperty("correlation_at_bob", std::to_string(at_bob));
        RecordProperty("correlation_at_alice", std::to_string(at_alice));
        EXPECT_GE(at_bob, 0.6);
        EXPECT_GE(at_alice, 0.6);
    }

    test::RestrictedNetwork net_;
    test::FullStack stack_{stack_options()};
    std::unique_ptr<test::WholeClient> alice_, bob_;
};

TEST_F(RestrictedCallTest, WithDirectUdpBetweenTheClientsBlockedVoiceGoesThroughTheRelay)
{
    const std::string relay = std::to_string(stack_.config().relay_port);
    filter("-p udp --sport 8500:9499 --dport 8500:9499 -j DROP");
    filter("-p udp --dport " + relay);
    ASSERT_NO_FATAL_FAILURE(log_in_both());
    ASSERT_NO_FATAL_FAILURE(talk());
    EXPECT_GT(net_.counted("-p udp --dport " + relay), 100) << "voice packets to the relay";
}

// Every UDP datagram of the clients is refused: calls, like SIP, go through
// the tunnel, and the voice through its media channels.
TEST_F(RestrictedCallTest, WithAllUdpBlockedVoiceGoesThroughTheTunnel)
{
    filter("-p udp -j REJECT");
    filter("-p tcp --dport " + std::to_string(stack_.config().tunnel_port) + " --syn");
    ASSERT_NO_FATAL_FAILURE(log_in_both());
    ASSERT_TRUE(alice_->program().probe().needsTunnel(false));
    ASSERT_NO_FATAL_FAILURE(talk());
    // Both phones' SIP connections, and a media relay for each end of the call.
    EXPECT_GE(net_.counted("-p tcp --dport " + std::to_string(stack_.config().tunnel_port)), 4);
}

} // namespace
} // namespace vokar
