#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/operator/peer.h"
#include "tests/support/operator_stack.h"

namespace vokar::test {
namespace {

// A voice packet: version 2, payload type 97, `sequence`, and `ssrc`.
std::string voice(uint32_t ssrc, uint16_t sequence, std::string_view body = "voice")
{
    std::string packet = {
        '\x80', '\x61', static_cast<char>(sequence >> 8), static_cast<char>(sequence), 0, 0, 0, 0};
    for (int shift = 24; shift >= 0; shift -= 8)
        packet += static_cast<char>(ssrc >> shift);
    return packet + std::string(body);
}

uint16_t sequence_of(const std::string& packet)
{
    return static_cast<uint16_t>(static_cast<uint8_t>(packet[2]) << 8 |
                                 static_cast<uint8_t>(packet[3]));
}

OperatorStackOptions relay_options(std::map<std::string, std::string> extra = {})
{
    return {.services = {"relay"}, .extra_config = std::move(extra)};
}

class RelayServiceTest : public ::testing::Test {
protected:
    void start(std::map<std::string, std::string> extra = {})
    {
        stack_ = std::make_unique<OperatorStack>(relay_options(std::move(extra)));
        ASSERT_TRUE(stack_->start()) << stack_->error();
    }
    void TearDown() override
    {
        if (stack_ && stack_->pid() > 0) {
            EXPECT_EQ(stack_->stop(), 0) << stack_->log();
        }
    }

    bool send(const Socket& from, const std::string& packet)
    {
        return udp_send(from.fd(), stack_->config().relay_host, stack_->config().relay_port,
                        packet);
    }
    // The next datagram `to` gets, which must come from the relay.
    std::string next(const Socket& to)
    {
        const auto datagram = udp_receive(to.fd());
        if (!datagram)
            return "(nothing)";
        EXPECT_EQ(datagram->from_port, stack_->config().relay_port);
        return datagram->payload;
    }
    // Pairs `a` and `b` on `ssrc`: a's first packet waits alone and is
    // dropped, b's goes to a.
    void pair(const Socket& a, const Socket& b, uint32_t ssrc)
    {
        ASSERT_TRUE(send(a, voice(ssrc, 0)));
        ASSERT_TRUE(send(b, voice(ssrc, 1)));
        ASSERT_EQ(next(a), voice(ssrc, 1));
    }

    std::unique_ptr<OperatorStack> stack_;
};

// Also: a third address with the same SSRC, and datagrams that are no voice
// packets, are forwarded to no one.
TEST_F(RelayServiceTest, ForwardsBetweenTheTwoSourcesOfAnSsrcOnly)
{
    start();
    Socket a = udp_socket(), b = udp_socket(), intruder = udp_socket();
    pair(a, b, 0x1234abcd);
    ASSERT_TRUE(send(a, voice(0x1234abcd, 2, "to b")));
    EXPECT_EQ(next(b), voice(0x1234abcd, 2, "to b"));

    ASSERT_TRUE(send(intruder, voice(0x1234abcd, 3, "intruder")));
    ASSERT_TRUE(send(a, "short"));
    std::string unversioned = voice(0x1234abcd, 4, "version 0");
    unversioned[0] = 0;
    ASSERT_TRUE(send(a, unversioned));
    ASSERT_TRUE(send(a, voice(0x1234abcd, 5, "marker")));
    EXPECT_EQ(next(b), voice(0x1234abcd, 5, "marker"));
    ASSERT_TRUE(send(b, voice(0x1234abcd, 6, "marker")));
    EXPECT_EQ(next(a), voice(0x1234abcd, 6, "marker"));

    // Another SSRC pairs independently.
    Socket c = udp_socket(), d = udp_socket();
    pair(c, d, 7);
    ASSERT_TRUE(send(d, voice(7, 8)));
    EXPECT_EQ(next(c), voice(7, 8));

    ASSERT_EQ(stack_->stop(), 0);
    EXPECT_NE(stack_->log().find("dropped 2 malformed"), std::string::npos) << stack_->log();
    EXPECT_NE(stack_->log().find("forwarded 4 dropped 2"), std::string::npos) << stack_->log();
}

TEST_F(RelayServiceTest, ForgetsIdlePairsAndBoundsItsTable)
{
    start({{"relay_idle_ms", "150"}, {"relay_max_pairs", "2"}});
    Socket a = udp_socket(), b = udp_socket(), c = udp_socket();
    pair(a, b, 1);
    pair(a, b, 2);
    // The table is full: a third SSRC is not paired.
    ASSERT_TRUE(send(a, voice(3, 10)));
    ASSERT_TRUE(send(b, voice(3, 11)));
    ASSERT_TRUE(send(b, voice(2, 12)));
    EXPECT_EQ(next(a), voice(2, 12));

    // Once both pairs are idle, the SSRC is free for a new pair.
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    pair(c, a, 1);
    ASSERT_TRUE(send(c, voice(1, 13)));
    EXPECT_EQ(next(a), voice(1, 13));

    ASSERT_EQ(stack_->stop(), 0);
    EXPECT_NE(stack_->log().find(" idle: forwarded"), std::string::npos) << stack_->log();
    EXPECT_NE(stack_->log().find("and 2 beyond the table"), std::string::npos) << stack_->log();
}

// What b receives from 200 packets of a through an impairing relay.
std::vector<uint16_t> impaired_run(uint32_t seed, std::string* log)
{
    OperatorStack stack(relay_options({{"relay_loss_percent", "20"},
                                       {"relay_duplicate_percent", "10"},
                                       {"relay_seed", std::to_string(seed)}}));
    if (!stack.start()) {
        ADD_FAILURE() << stack.error();
        return {};
    }
    const auto& config = stack.config();
    Socket a = udp_socket(), b = udp_socket();
    udp_send(a.fd(), config.relay_host, config.relay_port, voice(9, 0));
    // b's packets pair it; one of them reaches a unless all are lost.
    for (uint16_t i = 0; i < 20; ++i)
        udp_send(b.fd(), config.relay_host, config.relay_port, voice(9, 0));
    if (!udp_receive(a.fd())) {
        ADD_FAILURE() << "not paired";
        return {};
    }
    for (uint16_t i = 1; i <= 200; ++i)
        udp_send(a.fd(), config.relay_host, config.relay_port, voice(9, i));
    // The relay reads its socket in order: once a sync packet of b reaches
    // a, every packet of a has been forwarded (without delay, at once).
    set_receive_timeout(a.fd(), std::chrono::milliseconds(100));
    bool synced = false;
    for (int i = 0; i < 50 && !synced; ++i) {
        udp_send(b.fd(), config.relay_host, config.relay_port, voice(9, 999));
        while (const auto datagram = udp_receive(a.fd()))
            synced = synced || sequence_of(datagram->payload) == 999;
    }
    EXPECT_TRUE(synced);
    std::vector<uint16_t> received;
    set_receive_timeout(b.fd(), std::chrono::milliseconds(1));
    while (const auto datagram = udp_receive(b.fd()))
        received.push_back(sequence_of(datagram->payload));
    EXPECT_EQ(stack.stop(), 0);
    *log = stack.log();
    return received;
}

TEST(RelayImpairmentTest, OneSeedGivesOneSequenceOfLossesAndDuplicates)
{
    std::string first_log, second_log, other_log;
    const auto first = impaired_run(42, &first_log);
    const auto second = impaired_run(42, &second_log);
    const auto other = impaired_run(43, &other_log);
    EXPECT_EQ(first, second);
    EXPECT_NE(first, other);
    EXPECT_GT(first.size(), 120u);
    EXPECT_LT(first.size(), 200u);
    size_t duplicates = 0;
    for (size_t i = 1; i < first.size(); ++i)
        duplicates += first[i] == first[i - 1];
    EXPECT_GT(duplicates, 0u);
    EXPECT_NE(first_log.find("ssrc 00000009"), std::string::npos) << first_log;
}

} // namespace
} // namespace vokar::test
