#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "tests/operator/peer.h"
#include "tests/support/operator_stack.h"

namespace vokar::test {
namespace {

std::string pattern(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + seed * 17 + (i >> 8)) & 0xff);
    return bytes;
}

class EchoServiceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(stack_.start()) << stack_.error(); }
    // Whatever the test did, the daemon is still up and leaves cleanly (a
    // sanitizer finding in it fails here).
    void TearDown() override
    {
        if (stack_.pid() > 0) {
            EXPECT_EQ(stack_.stop(), 0) << stack_.log();
        }
    }

    OperatorStack stack_;
};

TEST_F(EchoServiceTest, UdpDatagramsGoBackUnchangedToEachSender)
{
    const std::string& host = stack_.config().echo_host;
    const uint16_t port = stack_.config().echo_udp_port;
    Socket first = udp_socket();
    Socket second = udp_socket();
    const std::string probe = "Echo this";
    const std::string binary("E\0c\xff\0ho", 7);
    const std::string large = pattern(60000, 1);

    ASSERT_TRUE(udp_send(first.fd(), host, port, probe));
    ASSERT_TRUE(udp_send(second.fd(), host, port, binary));
    ASSERT_TRUE(udp_send(first.fd(), host, port, large));
    const auto a = udp_receive(first.fd());
    const auto b = udp_receive(second.fd());
    const auto c = udp_receive(first.fd());
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(a->payload, probe);
    EXPECT_EQ(a->from_port, port);
    EXPECT_EQ(b->payload, binary);
    EXPECT_EQ(c->payload, large);
}

TEST_F(EchoServiceTest, ClientThatStopsSendingStillGetsTheWholeEcho)
{
    // A small receive window keeps most of the echo waiting in the daemon
    // when the client's end of input reaches it.
    Socket client(::socket(AF_INET, SOCK_STREAM, 0));
    const int window = 4096;
    ASSERT_EQ(::setsockopt(client.fd(), SOL_SOCKET, SO_RCVBUF, &window, sizeof window), 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    ASSERT_EQ(::inet_pton(AF_INET, stack_.config().echo_host.c_str(), &to.sin_addr), 1);
    to.sin_port = htons(stack_.config().echo_tcp_port);
    ASSERT_EQ(::connect(client.fd(), reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    set_receive_timeout(client.fd(), kReplyTimeout);

    const std::string data = pattern(3 * 1024 * 1024, 3);
    std::thread sender([&] {
        send_all(client.fd(), data);
        ::shutdown(client.fd(), SHUT_WR);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto echo = recv_exact(client.fd(), data.size());
    sender.join();
    EXPECT_TRUE(echo == data) << "echo cut short or changed";
    EXPECT_TRUE(closed_by_peer(client.fd()));
}

// A client that sends without reading its echo must not make the daemon
// buffer without bound: the daemon stops reading it, and nothing is lost.
TEST_F(EchoServiceTest, ClientThatDoesNotReadIsThrottledAndLosesNothing)
{
    Socket hog = tcp_connect(stack_.config().echo_host, stack_.config().echo_tcp_port);
    ASSERT_TRUE(hog.valid());
    const std::string block = pattern(64 * 1024, 7);
    // Kernel buffers on both sides hold a few MiB; past them the daemon must
    // stop reading, and the socket then stays unwritable.
    constexpr size_t kUnbounded = 64u * 1024 * 1024;
    size_t sent = 0;
    while (sent < kUnbounded) {
        const size_t at = sent % block.size();
        const ssize_t n =
            ::send(hog.fd(), block.data() + at, block.size() - at, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        ASSERT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK) << errno;
        pollfd p{hog.fd(), POLLOUT, 0};
        if (::poll(&p, 1, 500) == 0)
            break;
    }
    ASSERT_LT(sent, kUnbounded) << "the daemon kept accepting bytes it could not send back";

    Socket other = tcp_connect(stack_.config().echo_host, stack_.config().echo_tcp_port);
    ASSERT_TRUE(other.valid());
    ASSERT_TRUE(send_all(other.fd(), "Echo this"));
    EXPECT_EQ(recv_some(other.fd(), 500), "Echo this");

    size_t checked = 0;
    while (checked < sent) {
        const size_t n = std::min(sent - checked, block.size() - checked % block.size());
        const auto echo = recv_exact(hog.fd(), n);
        ASSERT_TRUE(echo) << "echo ended after " << checked << " of " << sent << " bytes";
        ASSERT_EQ(*echo, block.substr(checked % block.size(), n)) << "at byte " << checked;
        checked += n;
    }
}

} // namespace
} // namespace vokar::test
