#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "tests/net/loopback_peer.h"
#include "xmpp/jabber_client.h"

namespace vokar {
namespace {

// A client on a real TCP connection to a scripted server: bytes that cannot
// belong to an XMPP stream end the session with kEventDisconnected.
class BrokenStreamTest : public ::testing::Test, public JabberListener {
protected:
    void SetUp() override
    {
        client_ = std::make_unique<JabberClient>("vokar.test", "wm", "2.2", reactor_);
        client_->addListener(this);
        client_->connect(std::make_unique<ConnectionInterface>("127.0.0.1", true, false, nullptr,
                                                               nullptr, TunnelServer{"127.0.0.1"}),
                         "127.0.0.1", server_.port(), 0);
        ASSERT_TRUE(server_.accept());
        ASSERT_TRUE(client_->login("alice", "secret"));
        ASSERT_FALSE(server_.read(60).empty());
        server_.write("<?xml version='1.0'?><stream:stream xmlns='jabber:client' "
                      "xmlns:stream='http://etherx.jabber.org/streams' id='s1' "
                      "from='vokar.test' version='1.0'>");
    }

    void onJabberEvent(int code, const JabberEvent*) override
    {
        std::lock_guard lock(mutex_);
        codes_.push_back(code);
        changed_.notify_all();
    }

    // The event codes once kEventDisconnected arrived (bounded wait).
    std::vector<int> codes_until_disconnected()
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(5), [this] {
            return !codes_.empty() && codes_.back() == kEventDisconnected;
        });
        return codes_;
    }

    platform::ManualClock clock_;
    Reactor reactor_{clock_, false};
    test::TcpPeer server_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int> codes_;
    std::unique_ptr<JabberClient> client_;
};

TEST_F(BrokenStreamTest, AZeroByteInsideAStanzaDisconnects)
{
    server_.write(std::string("<message from='bob@vokar.test'><body>a\0b</body></message>", 57));
    EXPECT_EQ(codes_until_disconnected(), (std::vector<int>{kEventConnected, kEventDisconnected}));
    EXPECT_FALSE(client_->connected());
}

TEST_F(BrokenStreamTest, BytesThatAreNotUtf8Disconnect)
{
    server_.write("<iq type='set' id='push1'><query xmlns='jabber:iq:roster'>"
                  "<item jid='carol\xE9@vokar.test' subscription='both'/></query></iq>");
    EXPECT_EQ(codes_until_disconnected(), (std::vector<int>{kEventConnected, kEventDisconnected}))
        << "no roster change from the broken stanza";
}

} // namespace
} // namespace vokar
