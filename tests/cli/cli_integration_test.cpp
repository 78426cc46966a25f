// vokar-cli as its users run it: a child process against the whole operator
// stack, driven through its stdin and read through its JSON lines.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio_device.h"
#include "tests/support/echo_service.h"
#include "tests/support/full_stack.h"
#include "tests/support/scratch.h"

namespace vokar {
namespace {

using namespace std::chrono_literals;

using test::cli_path;

// A vokar-cli for one test: what it printed goes to stderr when the test
// has failed.
class Cli : public test::CliProcess {
public:
    ~Cli() override
    {
        stop();
        if (::testing::Test::HasFailure())
            for (const auto& line : lines())
                std::fprintf(stderr, "%s: %s\n", name().c_str(), line.c_str());
    }
    void send(const std::string& line) { ASSERT_TRUE(CliProcess::send(line)) << line; }
};

class CliIntegration : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(cli_path().empty()) << "VOKAR_CLI_PATH is not set";
        dir_ = test::make_temp_directory("vokar-cli");
        ASSERT_FALSE(dir_.empty());
    }
    void TearDown() override
    {
        if (HasFailure())
            std::fprintf(stderr, "logs kept in %s\n", dir_.c_str());
        else
            test::remove_directory(dir_);
    }

    // The operator stack with its echo account, on the loopback adapter.
    void start_stack(std::vector<test::XmppAccount> accounts = {{"alice", "alice-pass"},
                                                                {"bob", "bob-pass"}})
    {
        stack_ = std::make_unique<test::FullStack>(test::with_echo_account(
            {.extra_config = {{"adapter", "lo"}}, .accounts = std::move(accounts)},
            {"bob", "bob-pass"}, false));
        ASSERT_TRUE(stack_->start()) << stack_->error();
        ASSERT_TRUE(stack_->befriend()) << stack_->error();
        domain_ = stack_->config().service_domain;
    }

    // Starts a client for `user` with its own data directory; `args` go
    // before NUMBER PASSWORD (or are all there is, for --echo).
    void start(Cli& cli, const std::string& user, std::vector<std::string> args,
               bool with_account = true)
    {
        std::vector<std::string> all = {"--home", dir_ + "/" + user + "-home", "--config",
                                        stack_->conf_path()};
        all.insert(all.end(), args.begin(), args.end());
        if (with_account) {
            all.push_back(user);
            all.push_back(user + "-pass");
        }
        ASSERT_TRUE(cli.start(dir_, user, all));
    }

    std::string dir_;
    std::unique_ptr<test::FullStack> stack_;
    std::string domain_;
};

constexpr const char* kNoAudio[] = {"--audio-in", "none", "--audio-out", "none"};
std::vector<std::string> no_audio()
{
    return {std::begin(kNoAudio), std::end(kNoAudio)};
}

TEST_F(CliIntegration, LogsInChatsRefusesBadInputAndQuitsAtEndOfInput)
{
    start_stack();
    Cli alice, bob;
    start(alice, "alice", no_audio());
    // The password from stdin.
    std::vector<std::string> bob_args = no_audio();
    bob_args.insert(bob_args.end(), {"bob", "-"});
    start(bob, "bob", bob_args, false);
    bob.send("bob-pass");
    ASSERT_TRUE(alice.wait(R"({"ready":true,"user":"alice","jid":"alice@)" + domain_ + "\""));
    ASSERT_TRUE(bob.wait(R"({"ready":true,"user":"bob")"));

    // Quotes, backslashes and non-ASCII text cross intact and are escaped.
    alice.send("chat bob Gr\xc3\xbc\xc3\x9f"
               R"(e "quoted" \ back)");
    EXPECT_TRUE(alice.wait(R"({"ok":"chat"})"));
    EXPECT_TRUE(bob.wait(R"({"event":"chat","from":"alice@)" + domain_ +
                         R"(","text":"Grüße \"quoted\" \\ back"})"));
    ASSERT_TRUE(
        bob.wait(R"({"event":"presence","jid":"alice@)" + domain_ + R"(","status":"online")"));
    bob.send("friends");
    const auto friends = bob.wait(R"({"ok":"friends")");
    ASSERT_TRUE(friends);
    EXPECT_NE(
        friends->find(R"({"jid":"alice@)" + domain_ + R"(","name":"alice","status":"online")"),
        std::string::npos)
        << *friends;

    alice.send("dance");
    EXPECT_TRUE(alice.wait(R"({"error":"unknown command: dance"})"));
    alice.send("answer");
    EXPECT_TRUE(alice.wait(R"({"error":"no call"})"));
    alice.send(std::string(70000, 'x'));
    EXPECT_TRUE(alice.wait(R"({"error":"command line too long"})"));

    // A second client on the same data directory refuses to start.
    Cli again;
    start(again, "alice", no_audio());
    EXPECT_TRUE(again.wait(R"({"error":)"));
    const auto refused = again.exit_code(10s);
    ASSERT_TRUE(refused);
    EXPECT_NE(*refused, 0);

    alice.close_input();
    EXPECT_EQ(alice.exit_code(20s), 0);
    bob.send("quit");
    EXPECT_TRUE(bob.wait(R"({"ok":"quit"})"));
    EXPECT_EQ(bob.exit_code(20s), 0);
}

// A tone switched on and off in 100 ms slots by a fixed pseudo-random
// pattern: its loudness over time is unlike any shift of itself.
std::string tone_pattern(int seconds)
{
    std::string samples;
    uint32_t seed = 12345;
    bool on = true;
    for (int i = 0; i < seconds * 8000; ++i) {
        if (i % 800 == 0) {
            seed = seed * 1103515245 + 12345;
            on = (seed >> 16) & 1;
        }
        const double v = on ? 10000 * std::sin(2 * M_PI * 440 * i / 8000.0) : 0;
        const int16_t s = static_cast<int16_t>(v);
        samples.append(reinterpret_cast<const char*>(&s), 2);
    }
    return samples;
}

// Loudness per 20 ms frame.
std::vector<double> envelope(std::string_view pcm)
{
    std::vector<double> out;
    constexpr size_t kFrame = 160;
    for (size_t at = 0; (at + kFrame) * 2 <= pcm.size(); at += kFrame) {
        double sum = 0;
        for (size_t i = 0; i < kFrame; ++i) {
            int16_t s;
            std::memcpy(&s, pcm.data() + (at + i) * 2, 2);
            sum += static_cast<double>(s) * s;
        }
        out.push_back(std::sqrt(sum / kFrame));
    }
    return out;
}

double correlation(const std::vector<double>& a, const std::vector<double>& b, size_t from,
                   size_t to, size_t lag)
{
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
    size_t n = 0;
    for (size_t i = from; i < to && i < a.size() && i + lag < b.size(); ++i, ++n) {
        sa += a[i];
        sb += b[i + lag];
        saa += a[i] * a[i];
        sbb += b[i + lag] * b[i + lag];
        sab += a[i] * b[i + lag];
    }
    if (n < 10)
        return 0;
    const double cov = sab - sa * sb / n;
    const double va = saa - sa * sa / n, vb = sbb - sb * sb / n;
    return va > 0 && vb > 0 ? cov / std::sqrt(va * vb) : 0;
}

TEST_F(CliIntegration, CallRingsIsAnsweredAndHungUpBetweenTwoClients)
{
    start_stack();
    const std::string tone = dir_ + "/tone.wav";
    {
        const std::string samples = tone_pattern(2);
        std::ofstream(tone, std::ios::binary)
            << platform::wav_header(static_cast<uint32_t>(samples.size())) << samples;
    }
    Cli alice, bob;
    start(alice, "alice", {"--audio-in", tone, "--audio-out", dir_ + "/alice-heard.wav"});
    start(bob, "bob", {"--audio-in", tone, "--audio-out", dir_ + "/bob-heard.wav"});
    ASSERT_TRUE(alice.wait(R"({"ready":true)"));
    ASSERT_TRUE(bob.wait(R"({"ready":true)"));
    ASSERT_TRUE(
        alice.wait(R"({"event":"presence","jid":"bob@)" + domain_ + R"(","status":"online")"));

    alice.send("call bob");
    EXPECT_TRUE(alice.wait(R"({"event":"call","id":1,"state":"calling","number":"bob"})"));
    EXPECT_TRUE(alice.wait(R"({"ok":"call","id":1})"));
    ASSERT_TRUE(bob.wait(R"({"event":"call","id":1,"state":"incoming","number":"alice"})"));
    ASSERT_TRUE(alice.wait(R"({"event":"call","id":1,"state":"ringing"})"));

    bob.send("answer 1");
    EXPECT_TRUE(bob.wait(R"({"ok":"answer","id":1})"));
    ASSERT_TRUE(bob.wait(R"({"event":"call","id":1,"state":"connected"})"));
    ASSERT_TRUE(alice.wait(R"({"event":"call","id":1,"state":"connected"})"));
    alice.send("keys 5#");
    EXPECT_TRUE(alice.wait(R"({"ok":"keys"})"));

    alice.send("hangup");
    EXPECT_TRUE(alice.wait(R"({"ok":"hangup","id":1})"));
    EXPECT_TRUE(alice.wait(R"({"event":"call","id":1,"state":"ended","text":"Call Ended"})"));
    EXPECT_TRUE(bob.wait(R"({"event":"call","id":1,"state":"ended")"));
    bob.send("hangup 1");
    EXPECT_TRUE(bob.wait(R"({"error":)"));

    alice.close_input();
    bob.close_input();
    EXPECT_EQ(alice.exit_code(20s), 0);
    EXPECT_EQ(bob.exit_code(20s), 0);
}

TEST_F(CliIntegration, EchoServiceAcceptsFriendsEchoesChatAndSendsBackWhatItHears)
{
    start_stack({{"alice", "alice-pass"}, {"bob", "bob-pass"}, {"carol", "carol-pass"}});
    constexpr int kToneSeconds = 3;
    const std::string tone_samples = tone_pattern(kToneSeconds);
    const std::string tone = dir_ + "/tone.wav";
    std::ofstream(tone, std::ios::binary)
        << platform::wav_header(static_cast<uint32_t>(tone_samples.size())) << tone_samples;
    const std::string heard = dir_ + "/heard.wav";

    test::EchoService echo_service(*stack_, dir_);
    ASSERT_TRUE(echo_service.start()) << echo_service.error();
    test::CliProcess& echo = echo_service.process();
    Cli alice, carol;
    start(alice, "alice", {"--audio-in", tone, "--audio-out", heard});
    start(carol, "carol", no_audio());
    EXPECT_TRUE(
        echo.wait(R"({"ready":true,"user":"bob","jid":"bob@)" + domain_ + R"(","echo":true})"));
    ASSERT_TRUE(alice.wait(R"({"ready":true)"));
    ASSERT_TRUE(carol.wait(R"({"ready":true)"));

    // A friend request is accepted: carol sees the echo account online.
    carol.send("add bob");
    EXPECT_TRUE(echo.wait(R"({"event":"friend_request","from":"carol@)" + domain_ + "\"}"));
    EXPECT_TRUE(
        carol.wait(R"({"event":"presence","jid":"bob@)" + domain_ + R"(","status":"online")"));

    alice.send("chat bob are you there?");
    EXPECT_TRUE(
        alice.wait(R"({"event":"chat","from":"bob@)" + domain_ + R"(","text":"are you there?"})"));

    alice.send("call bob");
    ASSERT_TRUE(echo.wait(R"({"event":"call","id":1,"state":"incoming")"));
    ASSERT_TRUE(alice.wait(R"({"event":"call","id":1,"state":"connected"})"));
    // The tone plays out, and comes back a second later.
    std::this_thread::sleep_for(std::chrono::seconds(kToneSeconds + 2));
    alice.send("hangup");
    EXPECT_TRUE(echo.wait(R"({"event":"call","id":1,"state":"ended")"));
    alice.close_input();
    ASSERT_EQ(alice.exit_code(20s), 0);

    const std::string heard_file = test::read_file(heard);
    const auto heard_samples = platform::wav_samples(heard_file);
    ASSERT_TRUE(heard_samples);
    const auto sent = envelope(tone_samples);
    const auto got = envelope(*heard_samples);
    // 20 ms frames: the second half of the tone, looked for 0.9 to 2 s later.
    double best = 0;
    size_t best_lag = 0;
    for (size_t lag = 45; lag <= 100; ++lag) {
        const double c = correlation(sent, got, sent.size() / 2, sent.size(), lag);
        if (c > best) {
            best = c;
            best_lag = lag;
        }
    }
    EXPECT_GT(best, 0.6) << "best lag " << best_lag * 20 << " ms; heard " << got.size() * 20
                         << " ms, loudest "
                         << (got.empty() ? 0 : *std::max_element(got.begin(), got.end()));
}

} // namespace
} // namespace vokar
