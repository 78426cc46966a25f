#include "net/tunnel_connection.h"

#include <gtest/gtest.h>

#include <thread>

#include "tests/net/loopback_peer.h"
#include "tests/net/recording_listener.h"

namespace vokar {
namespace {

using test::TcpPeer;

const std::string kOk = "HTTP/1.1 200 Connection established\r\n\r\n";

std::string frame(uint8_t type, const std::string& payload)
{
    return encode_tunnel_frame(type, payload);
}

// A frame header with a length the codec never writes.
std::string raw_length_frame(uint32_t length)
{
    std::string f;
    for (int i = 0; i < 4; ++i)
        f += static_cast<char>((length >> (8 * i)) & 0xFF);
    return f + '\0' + "xxxx";
}

class TunnelTest : public ::testing::Test {
protected:
    std::unique_ptr<TunnelConnection> make(uint8_t relay, bool connect_mode,
                                           uint16_t target_port = 5060)
    {
        return std::make_unique<TunnelConnection>(relay, 0, target_port, "", errors_.callback(),
                                                  connect_mode,
                                                  TunnelServer{"127.0.0.1", peer_.port()}, clock_);
    }
    std::string request(bool connect_mode)
    {
        return std::string(connect_mode ? "CONNECT " : "NOOB CONNECT ") +
               "127.0.0.1:" + std::to_string(peer_.port()) + " HTTP/1.1\r\n\r\n";
    }
    // Connects, checks the doubled request, answers 200 and checks the open frame.
    void open(TunnelConnection& t, bool connect_mode, const std::string& expected_open)
    {
        ASSERT_TRUE(t.connect("10.1.2.3"));
        ASSERT_TRUE(peer_.accept());
        const std::string req = request(connect_mode);
        EXPECT_EQ(peer_.read(2 * req.size()), req + req);
        peer_.write(kOk);
        // The open frame goes out once a receive has seen the 200.
        expected_open_ = frame(TunnelConnection::kFrameOpen, expected_open);
    }
    // Runs receives on this thread while `script` drives the peer.
    std::vector<std::pair<uint8_t, std::string>> receive_all(TunnelConnection& t,
                                                             const std::function<void()>& script,
                                                             bool stop_at_relay = false)
    {
        std::thread peer([&] {
            if (!expected_open_.empty()) {
                EXPECT_EQ(peer_.read(expected_open_.size()), expected_open_);
            }
            script();
        });
        std::vector<std::pair<uint8_t, std::string>> got;
        std::string out;
        while (t.receive(&out, 3000, stop_at_relay) > 0)
            got.emplace_back(t.last_frame_type(), out);
        peer.join();
        return got;
    }

    TcpPeer peer_;
    platform::ManualClock clock_;
    test::ErrorLog errors_;
    std::string expected_open_;
};

TEST_F(TunnelTest, BothModesSendTheirRequestTwiceAndNameTheTargetInTheOpenFrame)
{
    for (bool connect_mode : {false, true}) {
        for (uint8_t relay : {TunnelConnection::kRelayUdp, TunnelConnection::kRelayTcp}) {
            SCOPED_TRACE(std::string(connect_mode ? "CONNECT" : "NOOB") +
                         (relay ? " tcp" : " udp"));
            auto t = make(relay, connect_mode);
            open(*t, connect_mode, std::string(relay ? "2\n" : "1\n") + "10.1.2.3\n5060");
            const auto got = receive_all(*t, [&] {
                peer_.write(frame(1, "") + frame(0, "hello"));
                peer_.drop();
            });
            ASSERT_EQ(got.size(), 1u);
            EXPECT_EQ(got[0].second, "hello");
            EXPECT_TRUE(t->target_connected());
            expected_open_.clear();
        }
    }
}

TEST_F(TunnelTest, DataWrittenEarlyLeavesInOrderOnceTheTargetIsConnected)
{
    auto t = make(TunnelConnection::kRelayUdp, false);
    open(*t, false, "1\n10.1.2.3\n5060");
    t->send("first", 5);
    t->send("second", 6);
    const auto got = receive_all(*t, [&] {
        peer_.write(frame(1, ""));
        EXPECT_EQ(peer_.read(10 + 11), frame(2, "first") + frame(2, "second"));
        t->send("third", 5); // now sent at once
        EXPECT_EQ(peer_.read(10), frame(2, "third"));
        peer_.drop();
    });
    EXPECT_TRUE(got.empty());
}

TEST_F(TunnelTest, ADatagramLongerThanOneFrameIsASendErrorAndTheTunnelStaysUp)
{
    auto t = make(TunnelConnection::kRelayUdp, false);
    open(*t, false, "1\n10.1.2.3\n5060");
    const std::string big(kTunnelMaxPayload + 1, 'x');
    t->send(big.data(), big.size()); // queued path
    t->send("fits", 4);
    const auto got = receive_all(*t, [&] {
        peer_.write(frame(1, ""));
        EXPECT_EQ(peer_.read(9), frame(2, "fits"));
        EXPECT_FALSE(t->try_send(big.data(), big.size())); // direct path
        t->send("also", 4);
        EXPECT_EQ(peer_.read(9), frame(2, "also"));
        peer_.drop();
    });
    EXPECT_TRUE(got.empty());
    const auto errors = errors_.get();
    ASSERT_GE(errors.size(), 2u);
    const std::pair<int, int> oversize{kSocketErrorSend, platform::kWsaEmsgsize};
    EXPECT_EQ(errors[0], oversize);
    EXPECT_EQ(errors[1], oversize);
}

TEST_F(TunnelTest, HandshakeReplies)
{
    struct Case {
        const char* name;
        std::vector<std::string> chunks;
        std::vector<std::string> delivered;
    } cases[] = {
        {"200 in the second chunk",
         {"HTTP/1.1 ", "200 Connection established\r\n\r\n", frame(0, "a")},
         {"a"}},
        {"data right after the 200 is discarded with its chunk",
         {kOk + frame(0, "lost"), frame(0, "b")},
         {"b"}},
        {"chunks before the 200 are discarded",
         {"HTTP/1.1 100 Continue\r\n\r\n", kOk, frame(0, "c")},
         {"c"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto t = make(TunnelConnection::kRelayTcp, true);
        ASSERT_TRUE(t->connect("target"));
        ASSERT_TRUE(peer_.accept());
        peer_.read(2 * request(true).size());
        const auto got = receive_all(*t, [&] {
            for (const auto& chunk : c.chunks)
                peer_.write(chunk);
            peer_.drop();
        });
        std::vector<std::string> payloads;
        for (const auto& g : got)
            payloads.push_back(g.second);
        EXPECT_EQ(payloads, c.delivered);
    }
}

// A refusal times out; a disconnect ends the receive at once.
TEST_F(TunnelTest, AHandshakeWithoutSuccessEndsTheReceiveAndIsReported)
{
    for (const bool refused : {true, false}) {
        SCOPED_TRACE(refused);
        errors_.reports.clear(); // no connection is alive between the cases
        auto t = make(TunnelConnection::kRelayUdp, false);
        ASSERT_TRUE(t->connect("target"));
        ASSERT_TRUE(peer_.accept());
        std::thread peer([&] {
            if (refused) {
                peer_.write("HTTP/1.1 403 Forbidden\r\n\r\n");
                clock_.advance(TunnelConnection::kHandshakeTimeoutMs);
            } else {
                peer_.write("HTTP/1.1 ");
                peer_.drop();
            }
        });
        std::string out;
        EXPECT_EQ(t->receive(&out, 3000, false), 0);
        peer.join();
        EXPECT_FALSE(t->handshake_done());
        EXPECT_EQ(errors_.get(), (std::vector<std::pair<int, int>>{
                                     {kSocketErrorTunnel, refused ? 10060 : 10054}}));
    }
}

// A dead tunnel server is the tunnel's fault; a tunnel the server ends before
// confirming the target means the target refused; after the confirmation a
// loss is reported as on a direct connection.
TEST_F(TunnelTest, FailuresAreAttributedToTheTunnelOrToTheTargetBehindIt)
{
    using Reports = std::vector<std::pair<int, int>>;
    {
        uint16_t dead_port;
        {
            TcpPeer gone;
            dead_port = gone.port();
        }
        test::ErrorLog errors;
        TunnelConnection t(TunnelConnection::kRelayTcp, 0, 5222, "", errors.callback(), false,
                           TunnelServer{"127.0.0.1", dead_port}, clock_);
        EXPECT_FALSE(t.connect("xmpp"));
        EXPECT_EQ(errors.get(), (Reports{{kSocketErrorTunnel, 10061}}));
    }
    {
        auto t = make(TunnelConnection::kRelayTcp, false, 5222);
        open(*t, false, "2\n10.1.2.3\n5222");
        EXPECT_TRUE(receive_all(*t, [&] { peer_.drop(); }).empty());
        EXPECT_FALSE(t->target_connected());
        EXPECT_EQ(errors_.get(), (Reports{{kSocketErrorConnect, 10061}}));
    }
    {
        TcpPeer server;
        test::ErrorLog errors;
        TunnelConnection t(TunnelConnection::kRelayTcp, 0, 5222, "", errors.callback(), false,
                           TunnelServer{"127.0.0.1", server.port()}, clock_);
        ASSERT_TRUE(t.connect("10.1.2.3"));
        ASSERT_TRUE(server.accept());
        server.write(kOk);
        std::thread peer([&] {
            server.read(2 * request(false).size() + frame(1, "2\n10.1.2.3\n5222").size());
            server.write(frame(TunnelConnection::kFrameOpen, ""));
            server.drop();
        });
        std::string out;
        EXPECT_EQ(t.receive(&out, 3000, false), 0);
        peer.join();
        EXPECT_TRUE(t.target_connected());
        EXPECT_EQ(errors.get(), (Reports{{kSocketErrorReceive, 10054}}));
    }
}

TEST_F(TunnelTest, FramesAcrossReads)
{
    auto t = make(TunnelConnection::kRelayUdp, false);
    open(*t, false, "1\n10.1.2.3\n5060");
    const std::string split = frame(0, "split frame");
    const auto got = receive_all(*t, [&] {
        peer_.write(split.substr(0, 3)); // not even a whole header
        peer_.write(split.substr(3, 6));
        peer_.write(split.substr(9));
        peer_.write(frame(0, "one") + frame(0, "two"));
        peer_.write(frame(50, "10.0.0.1\n9000") + frame(51, "channel") + frame(200, "dropped"));
        peer_.drop();
    });
    const std::vector<std::pair<uint8_t, std::string>> want = {
        {0, "split frame"}, {0, "one"}, {0, "two"}, {51, "channel"}};
    EXPECT_EQ(got, want);
}

TEST_F(TunnelTest, RelayPortFrame)
{
    auto t = make(TunnelConnection::kRelayUdp, false, 8600);
    open(*t, false, "1\n10.1.2.3\n8600");
    t->send("queued", 6);
    const auto got = receive_all(
        *t,
        [&] {
            peer_.write(frame(2, "10123") + frame(0, "kept for later"));
            EXPECT_EQ(peer_.read(11), frame(2, "queued"));
        },
        true);
    EXPECT_TRUE(got.empty()) << "stopping at the relay port returns 0";
    EXPECT_EQ(t->relay_port(), 10123);
    EXPECT_TRUE(t->target_connected());
    std::string out;
    EXPECT_EQ(t->receive(&out, 3000, false), 14);
    EXPECT_EQ(out, "kept for later");
    peer_.drop();
}

TEST_F(TunnelTest, AnImpossibleFrameLengthClosesTheTunnel)
{
    for (uint32_t length : {0u, 4u, 64u * 1024 + 1, 0x80000000u}) {
        SCOPED_TRACE(length);
        auto t = make(TunnelConnection::kRelayUdp, false);
        open(*t, false, "1\n10.1.2.3\n5060");
        const auto got = receive_all(*t, [&] {
            peer_.write(frame(0, "before") + raw_length_frame(length));
            // The peer does not close: the tunnel must end on its own.
        });
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].second, "before");
        ASSERT_FALSE(errors_.get().empty());
        EXPECT_EQ(errors_.get().back().first, 2);
        peer_.drop();
        expected_open_.clear();
    }
}

} // namespace
} // namespace vokar
