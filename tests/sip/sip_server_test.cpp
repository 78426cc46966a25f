#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/disposal_queue.h"
#include "base/reactor.h"
#include "base/scramble.h"
#include "net/connection_interface.h"
#include "sip/sip_stack.h"
#include "tests/support/sip_server.h"

namespace vokar::test {
namespace {

using namespace std::chrono_literals;

constexpr int kGsm = 3;
constexpr auto kEventTimeout = 15s;

struct Seen {
    int code = -1;
    SipResult result;
    SipCall call;
};

// One client: a SipStack on a real datagram connection to the server,
// recording the events it raises.
class Phone : public SipListener {
public:
    Phone(const SipServer& server, Reactor& reactor, DisposalQueue& disposal,
          int period = SipStack::kDefaultRegistrationPeriod)
        : stack_(server.domain(), reactor, disposal, period)
    {
        stack_.add_listener(this);
        stack_.add_codec(kGsm);
        stack_.set_local_address("127.0.0.1", 40000);
        auto transport = std::make_unique<ConnectionInterface>(
            "127.0.0.1", false, server.scramble(), [](int, int) {}, nullptr, TunnelServer{});
        stack_.open(std::move(transport), server.host(), "127.0.0.1", server.port(), 0);
    }
    ~Phone() override { stack_.remove_listener(this); }

    SipStack& stack() { return stack_; }

    void on_sip_event(int code, const void* data) override
    {
        Seen seen;
        seen.code = code;
        if (code == kSipRegistration || code == kSipUnregistration)
            seen.result = *static_cast<const SipResult*>(data);
        else if (data)
            seen.call = *static_cast<const SipCall*>(data);
        std::lock_guard lock(mutex_);
        events_.push_back(seen);
        changed_.notify_all();
    }

    // The first event `code` not yet taken, waiting for it if need be.
    std::optional<Seen> wait_for(int code, std::chrono::milliseconds timeout = kEventTimeout)
    {
        std::unique_lock lock(mutex_);
        std::optional<Seen> found;
        changed_.wait_for(lock, timeout, [&] {
            for (auto it = events_.begin(); it != events_.end(); ++it) {
                if (it->code == code) {
                    found = *it;
                    events_.erase(it);
                    return true;
                }
            }
            return false;
        });
        return found;
    }

    // Registers and expects success.
    bool log_in(const SipAccount& account)
    {
        stack_.register_account(account.user, account.password);
        const auto seen = wait_for(kSipRegistration);
        return seen && seen->result.code == SipResult::kSuccess;
    }

private:
    SipStack stack_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Seen> events_;
};

class SipServerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server_.start()) << server_.error() << server_.log(); }

    const SipAccount& alice() const { return server_.accounts()[0]; }
    const SipAccount& bob() const { return server_.accounts()[1]; }

    // Bob (registered) calls alice (registered) and she rings. The call's
    // key at each side.
    void ring(Phone& caller, Phone& callee, std::string* caller_key, std::string* callee_key)
    {
        const auto key = caller.stack().call(alice().user, server_.domain());
        ASSERT_TRUE(key);
        *caller_key = *key;
        const auto incoming = callee.wait_for(kSipIncomingCall);
        ASSERT_TRUE(incoming);
        EXPECT_EQ(incoming->call.remote_user, bob().user);
        *callee_key = incoming->call.call_key;
        callee.stack().ringing(*callee_key);
        ASSERT_TRUE(caller.wait_for(kSipRemoteRinging));
    }

    // Alice and bob, each logged in on a phone of their own.
    void log_in_both()
    {
        alice_phone_.emplace(server_, reactor_, disposal_);
        bob_phone_.emplace(server_, reactor_, disposal_);
        ASSERT_TRUE(alice_phone_->log_in(alice()));
        ASSERT_TRUE(bob_phone_->log_in(bob()));
    }

    // Both logged in, bob calls alice and she rings.
    void log_in_and_ring()
    {
        ASSERT_NO_FATAL_FAILURE(log_in_both());
        ring(*bob_phone_, *alice_phone_, &bob_key_, &alice_key_);
    }

    SipServer server_;
    Reactor reactor_;
    DisposalQueue disposal_{reactor_};
    // Declared last: the phones go before what they use.
    std::optional<Phone> alice_phone_;
    std::optional<Phone> bob_phone_;
    std::string bob_key_;
    std::string alice_key_;
};

TEST_F(SipServerTest, RegistrationWithDigestIsRefreshedBeforeItEnds)
{
    // A period of 2 s is refreshed after 1 s; past the first period alice is
    // still reachable only through the refresh.
    Phone alice_phone(server_, reactor_, disposal_, 2);
    Phone bob_phone(server_, reactor_, disposal_);
    ASSERT_TRUE(alice_phone.log_in(alice()));
    ASSERT_TRUE(bob_phone.log_in(bob()));
    std::this_thread::sleep_for(4s);
    ASSERT_TRUE(bob_phone.stack().call(alice().user, server_.domain()));
    EXPECT_TRUE(alice_phone.wait_for(kSipIncomingCall));
}

TEST_F(SipServerTest, WrongPasswordIsRefused)
{
    Phone phone(server_, reactor_, disposal_);
    phone.stack().register_account(alice().user, alice().password + "-wrong");
    const auto seen = phone.wait_for(kSipRegistration);
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->result.code, SipResult::kAuthRefused);
}

TEST_F(SipServerTest, AnsweredCallsEndWithByeFromEitherSide)
{
    ASSERT_NO_FATAL_FAILURE(log_in_both());
    Phone& alice_phone = *alice_phone_;
    Phone& bob_phone = *bob_phone_;
    for (const bool caller_hangs_up : {true, false}) {
        SCOPED_TRACE(caller_hangs_up ? "caller hangs up" : "callee hangs up");
        std::string bob_key, alice_key;
        ring(bob_phone, alice_phone, &bob_key, &alice_key);
        alice_phone.stack().accept(alice_key);
        const auto answered = bob_phone.wait_for(kSipCallAnswered);
        ASSERT_TRUE(answered);
        EXPECT_GT(answered->call.remote_media_port, 0);
        Phone& hanging_up = caller_hangs_up ? bob_phone : alice_phone;
        Phone& other = caller_hangs_up ? alice_phone : bob_phone;
        hanging_up.stack().hangup(caller_hangs_up ? bob_key : alice_key);
        const auto ended = other.wait_for(kSipCallEnded);
        ASSERT_TRUE(ended);
        EXPECT_EQ(ended->call.end_reason, SipCall::kEndHungUp);
    }
}

TEST_F(SipServerTest, CallerCancelsWhileRinging)
{
    ASSERT_NO_FATAL_FAILURE(log_in_and_ring());
    bob_phone_->stack().hangup(bob_key_);
    const auto ended = alice_phone_->wait_for(kSipCallEnded);
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->call.end_reason, SipCall::kEndCancelled);
}

TEST_F(SipServerTest, UnansweredCallEndsWithinSeconds)
{
    if (server_.external())
        GTEST_SKIP() << "the ringing time-out is the external server's";
    ASSERT_NO_FATAL_FAILURE(log_in_and_ring());
    // The server's INVITE time-out (5 s here) ends it with 408.
    const auto ended = bob_phone_->wait_for(kSipCallEnded, 10s);
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->call.end_reason, SipCall::kEndTimeout);
}

TEST_F(SipServerTest, CalleeRejectsWithBusy)
{
    ASSERT_NO_FATAL_FAILURE(log_in_and_ring());
    alice_phone_->stack().hangup(alice_key_);
    const auto ended = bob_phone_->wait_for(kSipCallEnded);
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->call.end_reason, SipCall::kEndBusy);
}

TEST_F(SipServerTest, UnknownNumberIsNotFoundButAnAccountNotRegisteredIsOnlyUnavailable)
{
    Phone bob_phone(server_, reactor_, disposal_);
    ASSERT_TRUE(bob_phone.log_in(bob()));
    ASSERT_TRUE(bob_phone.stack().call("no-such-user-4711", server_.domain()));
    const auto unknown = bob_phone.wait_for(kSipCallEnded);
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->call.end_reason, SipCall::kEndNotFound);
    if (server_.external())
        return; // whether alice is registered there is not ours to say
    ASSERT_TRUE(bob_phone.stack().call(alice().user, server_.domain()));
    const auto absent = bob_phone.wait_for(kSipCallEnded);
    ASSERT_TRUE(absent);
    // 480: the client says "Invalid Number" only for a number that does not exist.
    EXPECT_NE(absent->call.end_reason, SipCall::kEndNotFound);
}

// A plain peer that sends requests to a registered client through the
// server, from a domain of its own (so the server asks for no credentials).
class RawPeer {
public:
    explicit RawPeer(const SipServer& server) : server_(server)
    {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local);
        socklen_t length = sizeof local;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length);
        port_ = ntohs(local.sin_port);
        timeval timeout{3, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
    ~RawPeer() { ::close(fd_); }

    // Sends `method` to user@domain; the first final answer's status line.
    std::string request(const std::string& method, const std::string& user,
                        const std::string& body = {})
    {
        const std::string n = std::to_string(++sequence_);
        const std::string text =
            method + " sip:" + user + "@" + server_.domain() + " SIP/2.0\r\n" +
            "Via: SIP/2.0/UDP 127.0.0.1:" + std::to_string(port_) + ";rport;branch=z9hG4bK-raw" +
            n + "\r\nMax-Forwards: 70\r\nFrom: <sip:peer@peer.invalid>;tag=raw" + n +
            "\r\nTo: <sip:" + user + "@" + server_.domain() + ">\r\nCall-ID: raw-" + n +
            "@peer.invalid\r\nCSeq: 1 " + method + "\r\n" +
            (body.empty() ? "" : "Content-Type: text/plain\r\n") +
            "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        const std::string wire = server_.scramble() ? scramble(text) : text;
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(server_.port());
        ::inet_pton(AF_INET, server_.host().c_str(), &to.sin_addr);
        ::sendto(fd_, wire.data(), wire.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to);
        for (;;) {
            std::string buffer(65536, '\0');
            const ssize_t n_read = ::recv(fd_, buffer.data(), buffer.size(), 0);
            if (n_read <= 0)
                return {};
            buffer.resize(static_cast<size_t>(n_read));
            const std::string reply = server_.scramble() ? unscramble(buffer) : buffer;
            const std::string line = reply.substr(0, reply.find("\r\n"));
            if (line.rfind("SIP/2.0 1", 0) != 0)
                return line;
        }
    }

private:
    const SipServer& server_;
    int fd_ = -1;
    uint16_t port_ = 0;
    int sequence_ = 0;
};

TEST_F(SipServerTest, RegisteredClientAnswersMessageAndOptions)
{
    if (server_.external())
        GTEST_SKIP() << "an external server need not relay for a foreign domain";
    Phone alice_phone(server_, reactor_, disposal_);
    ASSERT_TRUE(alice_phone.log_in(alice()));
    RawPeer peer(server_);
    EXPECT_EQ(peer.request("MESSAGE", alice().user, "Hello Alice").substr(0, 11), "SIP/2.0 200");
    const auto message = alice_phone.wait_for(kSipMessage);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->call.message.value_or(""), "Hello Alice");
    EXPECT_EQ(peer.request("OPTIONS", alice().user).substr(0, 11), "SIP/2.0 200");
}

} // namespace
} // namespace vokar::test
