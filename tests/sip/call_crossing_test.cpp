// Our SIP stack calls a scripted callee through the operator's SIP front and
// Kamailio. The callee answers 200 just as we cancel: the answer crosses our
// CANCEL, so we must acknowledge it and hang up with a BYE.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/disposal_queue.h"
#include "base/reactor.h"
#include "base/scramble.h"
#include "net/connection_interface.h"
#include "sip/digest.h"
#include "sip/sip_stack.h"
#include "tests/support/sip_server.h"

namespace vokar::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The stack on a real datagram connection, with the events it raised.
class Caller : public SipListener {
public:
    Caller(const SipServer& server, Reactor& reactor, DisposalQueue& disposal)
        : stack_(server.domain(), reactor, disposal)
    {
        stack_.add_listener(this);
        stack_.add_codec(3);
        stack_.set_local_address("127.0.0.1", 40000);
        stack_.open(
            std::make_unique<ConnectionInterface>(
                "127.0.0.1", false, server.scramble(), [](int, int) {}, nullptr, TunnelServer{}),
            server.host(), "127.0.0.1", server.port(), 0);
    }
    ~Caller() override { stack_.remove_listener(this); }

    void on_sip_event(int code, const void* data) override
    {
        std::lock_guard lock(mutex_);
        if (code == kSipRegistration)
            registered_ = static_cast<const SipResult*>(data)->code == SipResult::kSuccess;
        codes_.push_back(code);
        changed_.notify_all();
    }
    bool wait_for(int code, std::chrono::milliseconds limit = 10s)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] {
            return std::find(codes_.begin(), codes_.end(), code) != codes_.end();
        });
    }
    bool registered()
    {
        std::lock_guard lock(mutex_);
        return registered_;
    }
    SipStack& stack() { return stack_; }

private:
    SipStack stack_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int> codes_;
    bool registered_ = false;
};

// The value of the first header `name` ("" without one).
std::string header(const std::string& message, const std::string& name)
{
    const std::string key = "\r\n" + name + ":";
    const size_t at = message.find(key);
    if (at == std::string::npos)
        return {};
    const size_t start = message.find_first_not_of(' ', at + key.size());
    return message.substr(start, message.find("\r\n", start) - start);
}

// Every line of header `name`, whole, each with its line end.
std::string header_lines(const std::string& message, const std::string& name)
{
    std::string lines;
    const std::string key = "\r\n" + name + ":";
    for (size_t at = message.find(key); at != std::string::npos; at = message.find(key, at + 2))
        lines += message.substr(at + 2, message.find("\r\n", at + 2) - at - 2) + "\r\n";
    return lines;
}

// The quoted parameter of a challenge.
std::string quoted(const std::string& value, const std::string& name)
{
    const size_t at = value.find(name + "=\"");
    if (at == std::string::npos)
        return {};
    const size_t start = at + name.size() + 2;
    return value.substr(start, value.find('"', start) - start);
}

// A SIP account on a plain UDP socket, written message by message.
class ScriptedCallee {
public:
    ScriptedCallee(const SipServer& server, SipAccount account)
        : server_(server), account_(std::move(account))
    {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local);
        socklen_t length = sizeof local;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length);
        port_ = std::to_string(ntohs(local.sin_port));
        timeval timeout{2, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
    ~ScriptedCallee() { ::close(fd_); }

    // REGISTER, its 401, REGISTER with credentials: true at the 200.
    bool register_account()
    {
        std::string challenge = send_register(1, "");
        if (challenge.rfind("SIP/2.0 401", 0) != 0)
            return false;
        DigestChallenge digest;
        const std::string value = header(challenge, kWwwAuthenticate);
        digest.realm = quoted(value, "realm");
        digest.nonce = quoted(value, "nonce");
        digest.header_name = kWwwAuthenticate;
        digest.username = account_.user;
        digest.password = account_.password;
        digest.uri = "sip:" + server_.domain();
        digest.method = "REGISTER";
        return send_register(2, "Authorization: " + credentials_value(digest) + "\r\n")
                   .rfind("SIP/2.0 200", 0) == 0;
    }

    // The next request with this method; others are kept for later.
    std::optional<std::string> request(const std::string& method, int tries = 5)
    {
        for (int i = 0; i < tries; ++i) {
            for (auto it = kept_.begin(); it != kept_.end(); ++it)
                if (it->rfind(method + " ", 0) == 0) {
                    std::string found = *it;
                    kept_.erase(it);
                    return found;
                }
            const auto text = receive();
            if (!text)
                return std::nullopt;
            if (text->rfind("SIP/2.0", 0) != 0)
                kept_.push_back(*text);
        }
        return std::nullopt;
    }

    // The answer to a request with the callee's tag; a 200 to an INVITE
    // carries the route set, a contact and a session description.
    void answer(const std::string& request, const std::string& status)
    {
        std::string to = header(request, "To");
        if (to.find(";tag=") == std::string::npos)
            to += ";tag=callee1";
        std::string body;
        std::string extra;
        if (status.rfind("200", 0) == 0 && request.rfind("INVITE", 0) == 0) {
            body = "v=0\r\no=callee 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 "
                   "0\r\nm=audio 41000 RTP/AVP 3\r\na=rtpmap:3 GSM/8000\r\n";
            extra = header_lines(request, "Record-Route") + "Contact: <sip:" + account_.user +
                    "@127.0.0.1:" + port_ + ">\r\nContent-Type: application/sdp\r\n";
        }
        send("SIP/2.0 " + status + "\r\n" + header_lines(request, "Via") +
             "From: " + header(request, "From") + "\r\nTo: " + to +
             "\r\nCall-ID: " + header(request, "Call-ID") + "\r\nCSeq: " + header(request, "CSeq") +
             "\r\n" + extra + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    }

private:
    std::string send_register(int cseq, const std::string& credentials)
    {
        const std::string aor = "sip:" + account_.user + "@" + server_.domain();
        send("REGISTER sip:" + server_.domain() +
             " SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:" + port_ + ";rport;branch=z9hG4bK-reg" +
             std::to_string(cseq) + "\r\nMax-Forwards: 70\r\nFrom: <" + aor + ">;tag=reg\r\nTo: <" +
             aor + ">\r\nCall-ID: callee-reg@127.0.0.1\r\nCSeq: " + std::to_string(cseq) +
             " REGISTER\r\nContact: <sip:" + account_.user + "@127.0.0.1:" + port_ +
             ">\r\nExpires: 300\r\n" + credentials + "Content-Length: 0\r\n\r\n");
        for (int i = 0; i < 5; ++i) {
            const auto text = receive();
            if (!text)
                return {};
            if (text->rfind("SIP/2.0 1", 0) != 0 && text->rfind("SIP/2.0", 0) == 0)
                return *text;
        }
        return {};
    }

    void send(const std::string& text)
    {
        const std::string wire = server_.scramble() ? scramble(text) : text;
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(server_.port());
        ::inet_pton(AF_INET, server_.host().c_str(), &to.sin_addr);
        ::sendto(fd_, wire.data(), wire.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to);
    }

    // One message; keep-alives and empty datagrams are skipped.
    std::optional<std::string> receive()
    {
        for (;;) {
            std::string buffer(65536, '\0');
            const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
            if (n <= 0)
                return std::nullopt;
            buffer.resize(static_cast<size_t>(n));
            std::string text = server_.scramble() ? unscramble(buffer) : buffer;
            if (text.find("SIP/2.0") != std::string::npos)
                return text;
        }
    }

    const SipServer& server_;
    const SipAccount account_;
    int fd_ = -1;
    std::string port_;
    std::vector<std::string> kept_;
};

class CallCrossingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server_.start()) << server_.error() << server_.log();
        if (server_.external())
            GTEST_SKIP() << "the scripted callee registers with our own server";
    }

    SipServer server_;
    Reactor reactor_;
    DisposalQueue disposal_{reactor_};
};

TEST_F(CallCrossingTest, AnAnswerThatCrossesOurCancelIsAcknowledgedAndHungUp)
{
    ScriptedCallee alice(server_, server_.accounts()[0]);
    ASSERT_TRUE(alice.register_account());
    Caller bob(server_, reactor_, disposal_);
    const auto start = Clock::now();
    bob.stack().register_account(server_.accounts()[1].user, server_.accounts()[1].password);
    ASSERT_TRUE(bob.wait_for(kSipRegistration));
    const auto round_trip =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
    ASSERT_TRUE(bob.registered());
    RecordProperty("registration_us", std::to_string(round_trip.count()));
    std::cout << "[  timing  ] registration (REGISTER, 401, REGISTER, 200): " << round_trip.count()
              << " us" << std::endl;

    const auto key = bob.stack().call(server_.accounts()[0].user, server_.domain());
    ASSERT_TRUE(key);
    const auto invite = alice.request("INVITE");
    ASSERT_TRUE(invite);
    alice.answer(*invite, "180 Ringing");
    ASSERT_TRUE(bob.wait_for(kSipRemoteRinging));

    bob.stack().hangup(*key);
    const auto cancel = alice.request("CANCEL");
    ASSERT_TRUE(cancel);
    // The answer was on its way when the CANCEL came: it goes out first.
    alice.answer(*invite, "200 OK");
    alice.answer(*cancel, "200 OK");

    const auto ack = alice.request("ACK");
    ASSERT_TRUE(ack) << "the answer was not acknowledged";
    EXPECT_EQ(header(*ack, "Call-ID"), header(*invite, "Call-ID"));
    const auto bye = alice.request("BYE");
    ASSERT_TRUE(bye) << "the answered call was left up";
    EXPECT_EQ(header(*bye, "Call-ID"), header(*invite, "Call-ID"));
    alice.answer(*bye, "200 OK");
    EXPECT_TRUE(bob.wait_for(kSipCallEnded));
}

} // namespace
} // namespace vokar::test
