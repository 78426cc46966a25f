#include "media/media_session.h"
#include "tests/media/fake_media_channels.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/socket.h"

namespace vokar::media {
namespace {

using Session = MediaSession;
constexpr const char* kRelay = "127.0.0.9";

std::string voice(uint16_t sequence = 1)
{
    std::string p(12, '\0');
    p[0] = static_cast<char>(0x80);
    p[1] = 97;
    p[2] = static_cast<char>(sequence >> 8);
    p[3] = static_cast<char>(sequence & 0xFF);
    return p + "payload";
}

// A STUN Binding Request header, as some phones send to the media port.
std::string stun_request()
{
    std::string p = {0x00, 0x01, 0x00, 0x00, 0x21, 0x12, static_cast<char>(0xA4), 0x42};
    return p + std::string(12, 'x');
}

struct RuleCase {
    const char* name;
    MediaEndpoint stun, lan, direct;
    MediaEndpoint want_stun, want_lan, want_direct;
};

TEST(MediaSessionDestinations, RelayAndDropRules)
{
    const MediaEndpoint none{"", 0};
    const MediaEndpoint relay{kRelay, 10000};
    const MediaEndpoint pub{"203.0.113.1", 5000}, lan{"10.0.0.5", 4000};
    const MediaEndpoint far{"198.51.100.7", 4000};
    // clang-format off
    const std::vector<RuleCase> cases = {
        {"connection address equals the local pair: relay only",
         none, lan, lan,                             none, none, relay},
        {"neither local nor public: connection address and relay",
         none, none, far,                            none, relay, far},
        {"connection address equals the public one: relay replaces it",
         pub, lan, {"203.0.113.1", 4000},            pub, lan, relay},
        {"same local address on another port: relay, local kept",
         none, lan, {"10.0.0.5", 4002},              none, lan, relay},
        {"three distinct candidates stay",
         pub, lan, far,                              pub, lan, far},
        {"a port of -1 is not in use",
         {"203.0.113.1", -1}, lan, far,              {"203.0.113.1", 0}, lan, far},
    };
    // clang-format on
    for (const RuleCase& c : cases) {
        SCOPED_TRACE(c.name);
        Session s({{"127.0.0.1", 0}, c.stun, c.lan, c.direct}, kRelay);
        const std::pair<Session::Destination, MediaEndpoint> want[] = {
            {Session::kStun, c.want_stun},
            {Session::kLan, c.want_lan},
            {Session::kDirect, c.want_direct}};
        for (const auto& [d, e] : want) {
            EXPECT_EQ(s.destination(d).address, e.address) << d;
            EXPECT_EQ(s.destination(d).port, e.port) << d;
            EXPECT_EQ(s.state(d), e.port != 0 ? Session::kCandidate : Session::kUnused) << d;
        }
    }
    // A relay on a configured port is used on that port.
    Session moved({{"127.0.0.1", 0}, none, lan, lan}, MediaEndpoint{kRelay, 15010});
    EXPECT_EQ(moved.destination(Session::kDirect).port, 15010);
}

TEST(MediaSessionTunnel, AnnouncesSpraysThenKeepsToTheConfirmedChannel)
{
    FakeChannels channels;
    Session s({{"", 0}, {"203.0.113.1", 5000}, {"10.0.0.5", 4000}, {"198.51.100.7", 4002}}, kRelay,
              &channels);
    s.send(voice()); // before open: dropped
    EXPECT_TRUE(channels.sent.empty());
    ASSERT_TRUE(s.open());
    ASSERT_EQ(channels.sent.size(), 3u);
    EXPECT_EQ(channels.sent[0], std::make_pair(uint8_t{50}, std::string("203.0.113.1\n5000")));
    EXPECT_EQ(channels.sent[1], std::make_pair(uint8_t{50}, std::string("10.0.0.5\n4000")));
    EXPECT_EQ(channels.sent[2], std::make_pair(uint8_t{50}, std::string("198.51.100.7\n4002")));

    const std::vector<uint8_t> all = {51, 52, 53};
    for (int i = 0; i < 25; ++i) { // no reply: past 20 packets still to everyone
        s.send(voice());
        EXPECT_EQ(channels.channels_of_last(3), all) << i;
    }

    // Something that is not voice on a channel confirms nothing.
    std::string packet;
    channels.deliver(52, stun_request());
    EXPECT_EQ(s.receive(&packet), Session::Received::kDropped);
    EXPECT_EQ(s.state(Session::kLan), Session::kCandidate);

    channels.deliver(51, voice());
    EXPECT_EQ(s.receive(&packet), Session::Received::kVoice);
    EXPECT_EQ(packet, voice());
    EXPECT_EQ(s.state(Session::kStun), Session::kConfirmed);
    EXPECT_EQ(s.state(Session::kLan), Session::kStandby);
    EXPECT_EQ(s.state(Session::kDirect), Session::kStandby);
    const size_t before = channels.sent.size();
    s.send(voice());
    ASSERT_EQ(channels.sent.size(), before + 1);
    EXPECT_EQ(channels.sent.back().first, 51);

    s.close();
    EXPECT_EQ(s.receive(&packet), Session::Received::kClosed);
}

TEST(MediaSessionTunnel, ConfirmedDestinationStillSpraysDuringTheFirstTwentyPackets)
{
    FakeChannels channels;
    Session s({{"", 0}, {"203.0.113.1", 5000}, {"10.0.0.5", 4000}, {"198.51.100.7", 4002}}, kRelay,
              &channels);
    ASSERT_TRUE(s.open());
    channels.deliver(53, voice());
    std::string packet;
    ASSERT_EQ(s.receive(&packet), Session::Received::kVoice);
    EXPECT_EQ(s.state(Session::kDirect), Session::kConfirmed);
    for (int i = 0; i < 20; ++i) {
        s.send(voice());
    }
    EXPECT_EQ(channels.channels_of_last(3), (std::vector<uint8_t>{51, 52, 53}));
    s.send(voice());
    EXPECT_EQ(channels.sent.back().first, 53);
}

// Binds a far-end socket on a loopback address.
struct Peer {
    explicit Peer(const char* ip)
    {
        EXPECT_EQ(socket.open(platform::parse_ipv4(ip), 0), platform::kWsaOk);
    }
    void send_to(uint16_t port, const std::string& data)
    {
        socket.send_to(platform::parse_ipv4("127.0.0.1"), port, data.data(), data.size());
    }
    std::string receive()
    {
        std::string buffer(600, '\0');
        size_t n = 0;
        uint32_t ip = 0;
        uint16_t port = 0;
        socket.receive_from(buffer.data(), buffer.size(), &n, &ip, &port);
        buffer.resize(n);
        return buffer;
    }
    platform::DatagramSocket socket;
};

TEST(MediaSessionUdp, SourceAddressConfirmsAndStunRequestsChangeNothing)
{
    Peer stun("127.0.0.2"), lan("127.0.0.3"), other("127.0.0.4"), lan_other_port("127.0.0.3");
    Session s({{"127.0.0.1", 0},
               {"127.0.0.2", stun.socket.local_port()},
               {"127.0.0.3", lan.socket.local_port()},
               {"127.0.0.5", 9}},
              kRelay);
    ASSERT_TRUE(s.open());
    const uint16_t port = s.bound_port();
    s.send(voice(7));
    EXPECT_EQ(stun.receive(), voice(7));
    EXPECT_EQ(lan.receive(), voice(7));

    std::string packet;
    lan.send_to(port, stun_request());
    EXPECT_EQ(s.receive(&packet), Session::Received::kDropped);
    for (auto d : {Session::kStun, Session::kLan, Session::kDirect}) {
        EXPECT_EQ(s.state(d), Session::kCandidate);
    }

    other.send_to(port, voice()); // unknown source: DIRECT
    EXPECT_EQ(s.receive(&packet), Session::Received::kVoice);
    EXPECT_EQ(s.state(Session::kDirect), Session::kConfirmed);
    EXPECT_EQ(s.state(Session::kLan), Session::kStandby);

    lan_other_port.send_to(port, voice()); // the address counts, not the port
    EXPECT_EQ(s.receive(&packet), Session::Received::kVoice);
    EXPECT_EQ(s.state(Session::kLan), Session::kConfirmed);
    EXPECT_EQ(s.state(Session::kDirect), Session::kStandby);
}

TEST(MediaSessionUdp, PortInUseFailsTheOpen)
{
    Session first({{"127.0.0.1", 0}, {}, {}, {"127.0.0.5", 9}}, kRelay);
    ASSERT_TRUE(first.open());
    Session second({{"127.0.0.1", first.bound_port()}, {}, {}, {"127.0.0.5", 9}}, kRelay);
    EXPECT_FALSE(second.open());
    second.send(voice()); // closed: dropped without harm
    EXPECT_EQ(second.packets_out(), 0);
}

TEST(MediaSessionUdp, CloseEndsAReceiveOnAnotherThread)
{
    Session s({{"127.0.0.1", 0}, {}, {}, {"127.0.0.5", 9}}, kRelay);
    ASSERT_TRUE(s.open());
    Session::Received result = Session::Received::kVoice;
    std::thread reader([&] {
        std::string packet;
        while ((result = s.receive(&packet)) == Session::Received::kDropped) {
        }
    });
    s.close();
    reader.join();
    EXPECT_EQ(result, Session::Received::kClosed);
}

} // namespace
} // namespace vokar::media
