#pragma once

// A client on a scripted connection, logged in on demand, that records every
// event it raises.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/base64.h"
#include "base/reactor.h"
#include "platform/clock.h"
#include "tests/support/scripted_connection.h"
#include "xmpp/jabber_client.h"

namespace vokar::test {

const std::string kHeader = "<stream:stream to=\"vokar.test\" xmlns=\"jabber:client\" "
                            "xmlns:stream=\"http://etherx.jabber.org/streams\" version=\"1.0\">";
const std::string kServerHeader =
    "<?xml version='1.0'?><stream:stream xmlns='jabber:client' "
    "xmlns:stream='http://etherx.jabber.org/streams' id='s1' from='vokar.test' version='1.0'>";
const std::string kFeatures =
    "<stream:features><mechanisms xmlns='urn:ietf:params:xml:ns:xmpp-sasl'>"
    "<mechanism>PLAIN</mechanism><mechanism>DIGEST-MD5</mechanism></mechanisms></stream:features>";
const std::string kTagline = "( www.vokar.test - talk for free )";

struct Recorded {
    int code;
    bool has_payload;
    JabberEvent event;
};

class JabberClientTest : public ::testing::Test, public JabberListener {
protected:
    void SetUp() override { make(); }

    void make(bool open_succeeds = true)
    {
        make_with(std::make_unique<ScriptedConnection>(log_, open_succeeds));
    }

    void make_with(std::unique_ptr<ConnectionInterface> connection)
    {
        JabberClient::Options options;
        options.first_id = 100;
        options.resource = "Vokar_WM_J_4242";
        testling_.reset();
        testling_ = std::make_unique<JabberClient>("vokar.test", "wm", "2.2", reactor_, options);
        testling_->addListener(this);
        testling_->connect(std::move(connection), "127.0.0.1", 5222, 5098);
    }

    void onJabberEvent(int code, const JabberEvent* event) override
    {
        events_.push_back({code, event != nullptr, event ? *event : JabberEvent{}});
    }

    void inject(const std::string& bytes) { testling_->onReceive(bytes); }

    std::vector<std::string> sent()
    {
        std::lock_guard lock(log_.mutex);
        std::vector<std::string> out(log_.sent.begin(), log_.sent.end());
        log_.sent.clear();
        return out;
    }

    std::vector<int> codes()
    {
        std::vector<int> out;
        for (const auto& e : events_)
            out.push_back(e.code);
        events_.clear();
        return out;
    }

    // The decoded SASL response text inside a sent <response> element.
    static std::string response_text(const std::string& element)
    {
        const auto open = element.find('>');
        const auto close = element.rfind("</");
        return base64_decode(element.substr(open + 1, close - open - 1));
    }

    // Through the whole login until the session is established.
    void log_in()
    {
        ASSERT_TRUE(testling_->login("alice", "secret"));
        inject(kServerHeader + kFeatures);
        inject("<challenge xmlns='urn:ietf:params:xml:ns:xmpp-sasl'>" +
               base64_encode("nonce=\"n1\",realm=\"vokar.test\",qop=\"auth\",charset=utf-8,"
                             "algorithm=md5-sess") +
               "</challenge>");
        inject("<challenge xmlns='urn:ietf:params:xml:ns:xmpp-sasl'>" +
               base64_encode("rspauth=0123") + "</challenge>");
        inject("<success xmlns='urn:ietf:params:xml:ns:xmpp-sasl'/>");
        inject(kServerHeader + "<stream:features/>");
        inject("<iq id='101' type='result'/>");
        inject("<iq id='102' type='result'/>");
        sent();
        events_.clear();
    }

    platform::ManualClock clock_;
    Reactor reactor_{clock_, false};
    ScriptedConnection::Log log_;
    std::vector<Recorded> events_;
    std::unique_ptr<JabberClient> testling_;
};

} // namespace vokar::test
