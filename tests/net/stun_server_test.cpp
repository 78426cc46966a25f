// The client's STUN query against the operator's STUN server, alone and as
// the full stack's configuration names it.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "net/stun.h"
#include "tests/support/free_ports.h"
#include "tests/support/full_stack.h"
#include "tests/support/stun_server.h"

namespace vokar {
namespace {

// Queries host:port from a free loopback port and expects that port back
// as the mapped address: nothing on loopback translates addresses.
void expect_own_address_mapped(const std::string& host, uint16_t port)
{
    const auto local = test::free_loopback_ports(1, SOCK_DGRAM);
    ASSERT_EQ(local.size(), 1u);
    const auto mapping = stun_query("127.0.0.1", local[0], host, port, 3000);
    ASSERT_TRUE(mapping) << "no answer from " << host << ":" << port;
    EXPECT_EQ(mapping->address, "127.0.0.1");
    EXPECT_EQ(mapping->port, local[0]);
}

TEST(StunServer, AnswersTheClientQueryWithItsOwnAddressAndStopsByPid)
{
    test::StunServer server;
    ASSERT_TRUE(server.start()) << server.error() << server.log();
    expect_own_address_mapped(server.host(), server.port());
    if (server.external())
        return;
    // A second query from another port maps that port, not a remembered one.
    expect_own_address_mapped(server.host(), server.port());
    // Stopping the script stops stund too: its port is free again at once.
    server.stop();
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(server.port());
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
}

TEST(StunServer, ReadsAnOutsideServerAsHostAndPort)
{
    std::string error;
    const auto server = test::ExternalStun::parse("stun.example.test:3478", &error);
    ASSERT_TRUE(server) << error;
    EXPECT_EQ(server->host, "stun.example.test");
    EXPECT_EQ(server->port, 3478);
    for (const char* bad : {"stun.example.test", ":3478", "host:", "host:0", "host:70000"})
        EXPECT_FALSE(test::ExternalStun::parse(bad, &error)) << bad;
}

TEST(StunServer, FullStackNamesItsStunServerAndRelayInTheSharedConfiguration)
{
    test::FullStack stack;
    ASSERT_TRUE(stack.start()) << stack.error();
    const auto& config = stack.config();
    EXPECT_EQ(config.stun_host, stack.stun().host());
    EXPECT_EQ(config.stun_port, stack.stun().port());
    expect_own_address_mapped(config.stun_host, config.stun_port);
    EXPECT_EQ(stack.daemon().endpoint("relay"),
              config.relay_host + ":" + std::to_string(config.relay_port));
}

} // namespace
} // namespace vokar
