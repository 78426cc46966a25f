#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <regex>
#include <thread>

#include "tests/xmpp/client_fixture.h"

namespace vokar {
namespace {

using namespace test;

const std::string kAlice = "alice@vokar.test/Vokar_WM_J_4242";
const std::string kBob = "bob@vokar.test/Vokar_WM_J_7";
const std::string kMallory = "mallory@vokar.test/Vokar_WM_J_9";

const std::string kAudioContent =
    "<content name='audio' profile='RTP/AVP'><description "
    "xmlns='urn:xmpp:tmp:jingle:apps:audio-rtp'><payload-type id='97' name='speex'/>"
    "<payload-type id='3' name='gsm' clockrate='8000'/></description>"
    "<transport xmlns='urn:xmpp:tmp:jingle:transports:vokar'>"
    "<address ip='192.0.2.1' port='5000' name='peer'/><address ip='192.0.2.2' port='5001' "
    "name='peer'/><address ip='198.51.100.1' name='stun'/>"
    "<address ip='203.0.113.1' port='10000' name='proxy'/></transport></content>";
const std::string kIceContent =
    "<content name='audio' profile='RTP/AVP'><description "
    "xmlns='urn:xmpp:tmp:jingle:apps:audio-rtp'><payload-type id='97' name='speex'/>"
    "</description><transport xmlns='urn:xmpp:tmp:jingle:transports:ice' pwd='p' "
    "ufrag='u'/></content>";

// A Jingle request; `action` empty: none.
std::string jingle_iq(const std::string& id, const std::string& from, const std::string& action,
                      const std::string& sid, const std::string& inner)
{
    return "<iq id='" + id + "' from='" + from + "' to='" + kAlice +
           "' type='set'><jingle xmlns='urn:xmpp:tmp:jingle'" +
           (action.empty() ? "" : " action='" + action + "'") + " initiator='" + kBob + "' sid='" +
           sid + "'>" + inner + "</jingle></iq>";
}

std::string ack(const std::string& id, const std::string& to = kBob)
{
    return "<iq id=\"" + id + "\" from=\"" + kAlice + "\" to=\"" + to + "\" type=\"result\" />";
}

std::string error(const std::string& id, const std::string& conditions,
                  const std::string& to = kBob)
{
    return "<iq id=\"" + id + "\" from=\"" + kAlice + "\" to=\"" + to +
           "\" type=\"error\"><error type=\"cancel\">" + conditions + "</error></iq>";
}

const std::string kBadRequest = "<bad-request xmlns=\"urn:ietf:params:xml:ns:xmpp-stanzas\" />";
const std::string kUnknownSession =
    kBadRequest + "<unknown-session xmlns=\"urn:xmpp:tmp:jingle:errors\" />";
const std::string kOutOfOrder = "<out-of-order xmlns=\"urn:ietf:params:xml:ns:xmpp-stanzas\" />";
const std::string kUnsupportedInfo =
    "<unsupported-info xmlns=\"urn:ietf:params:xml:ns:xmpp-stanzas\" />";

// The start of a request of ours in session `sid`.
std::string request(const std::string& id, const std::string& action, const std::string& sid,
                    const std::string& initiator = kAlice, const std::string& to = kBob)
{
    return "<iq id=\"" + id + "\" from=\"" + kAlice + "\" to=\"" + to +
           "\" type=\"set\"><jingle xmlns=\"urn:xmpp:tmp:jingle\" action=\"" + action +
           "\" initiator=\"" + initiator + "\" sid=\"" + sid + "\">";
}

const std::string kOurContent =
    "<content name=\"audio\" profile=\"RTP/AVP\"><description "
    "xmlns=\"urn:xmpp:tmp:jingle:apps:audio-rtp\"><payload-type id=\"97\" name=\"speex\" />"
    "<payload-type id=\"3\" name=\"gsm\" /></description><transport "
    "xmlns=\"urn:xmpp:tmp:jingle:transports:vokar\"><address ip=\"10.0.0.1\" port=\"4000\" "
    "name=\"peer\" /></transport></content>";

class JingleTest : public JabberClientTest {
protected:
    void SetUp() override
    {
        JabberClientTest::SetUp();
        log_in();
        testling_->registerCodec({97, "speex"});
        testling_->registerCodec({3, "gsm"});
        testling_->registerCodec({97, "other"});
    }

    // Bob is in the roster with `resource` online.
    void with_bob(const std::string& resource = "Vokar_WM_J_7")
    {
        inject("<iq id='103' type='result'><query xmlns='jabber:iq:roster'>"
               "<item jid='bob@vokar.test' subscription='both'/></query></iq>");
        inject("<presence from='bob@vokar.test/" + resource + "'/>");
        sent();
        events_.clear();
    }

    // An incoming call from bob with sid "s1"; the replies and events are
    // left for the test.
    std::shared_ptr<JingleSession> incoming(const std::string& content = kAudioContent)
    {
        inject(jingle_iq("i1", kBob, "session-initiate", "s1", content));
        return events_.empty() ? nullptr : events_.back().event.session;
    }

    // Calls bob; returns the sid of the initiate sent (id 107).
    std::string call_bob(int kind = kTransportAddress)
    {
        with_bob();
        session_ = testling_->startCall("Bob@vokar.test", {{"10.0.0.1", "peer", 4000}}, kind);
        const auto out = sent();
        std::smatch m;
        if (!session_ || out.size() != 1 ||
            !std::regex_search(out[0], m, std::regex("sid=\"(\\d+)\"")))
            return {};
        initiate_ = out[0];
        return m[1];
    }

    std::shared_ptr<JingleSession> session_;
    std::string initiate_;
};

TEST_F(JingleTest, OutgoingCallFromInitiateToTerminate)
{
    const std::string sid = call_bob();
    ASSERT_EQ(sid.size(), 7u);
    EXPECT_GE(std::stoi(sid), 1000000);
    EXPECT_LE(std::stoi(sid), 1099999);
    EXPECT_EQ(initiate_, request("107", "session-initiate", sid) + kOurContent + "</jingle></iq>")
        << "a second codec with a registered id is discarded";

    inject("<iq id='107' type='result' from='" + kBob + "'/>");
    EXPECT_TRUE(sent().empty()) << "the address transport sends nothing once under way";

    inject(jingle_iq("r1", kBob, "session-info", sid,
                     "<ringing xmlns='urn:xmpp:tmp:jingle:apps:audio-rtp:info'/>") +
           jingle_iq("r2", kBob, "session-info", sid,
                     "<hold xmlns='urn:xmpp:tmp:jingle:apps:audio-rtp:info'/>") +
           jingle_iq("r3", kBob, "content-add", sid, ""));
    EXPECT_EQ(sent(), (std::vector<std::string>{ack("r1"), ack("r2"), error("r3", kOutOfOrder)}))
        << "hold is acknowledged and changes nothing; content-add before accept is out of order";
    EXPECT_EQ(codes(), std::vector<int>{kEventPeerRinging});

    inject(jingle_iq("r4", kBob, "session-accept", sid, kAudioContent));
    EXPECT_EQ(sent(), std::vector<std::string>{ack("r4")});
    ASSERT_EQ(events_.size(), 1u);
    EXPECT_EQ(events_[0].code, kEventCallAccepted);
    EXPECT_EQ(events_[0].event.session, session_);
    events_.clear();
    EXPECT_EQ(testling_->payloadIds(session_), (std::vector<int32_t>{97, 3}));
    const MediaEndpoints m = testling_->mediaEndpoints(session_);
    EXPECT_EQ(m.peer_ip, "192.0.2.2") << "of two addresses named peer the last wins";
    EXPECT_EQ(m.peer_port, 5001);
    EXPECT_EQ(m.stun_ip, "") << "an address without a port is skipped";
    EXPECT_EQ(m.proxy_ip, "203.0.113.1");
    EXPECT_EQ(m.proxy_port, 10000);

    inject(jingle_iq("r5", kBob, "session-accept", sid, kAudioContent) +
           jingle_iq("r6", kBob, "content-add", sid, ""));
    EXPECT_EQ(sent(), (std::vector<std::string>{error("r5", kOutOfOrder), ack("r6")}));
    EXPECT_TRUE(events_.empty()) << "a second accept changes nothing";
    EXPECT_EQ(testling_->payloadIds(session_).size(), 2u);

    testling_->terminate(session_, kConditionAlternativeSession, "1012345");
    EXPECT_EQ(sent(), std::vector<std::string>{
                          request("108", "session-terminate", sid) +
                          "<reason><condition><alternative-session /></condition><sid>1012345</sid>"
                          "</reason></jingle></iq>"});
    EXPECT_EQ(testling_->sessionCount(), 0u);
    testling_->terminate(session_, kConditionBusy);
    testling_->accept(session_);
    EXPECT_TRUE(sent().empty()) << "an ended session is ended once";
    inject(jingle_iq("r7", kBob, "session-terminate", sid, ""));
    EXPECT_EQ(sent(), std::vector<std::string>{error("r7", kUnknownSession)});
}

TEST_F(JingleTest, CallsGoOnlyToResourcesWithTheJToken)
{
    const struct {
        const char* resource;
        bool proceeds;
    } cases[] = {
        {"Vokar_WM_J_12345", true},
        {"Vokar_WM_x_J", true},
        {"Vokar_WM_12345", false},
        {"Vokar_J", false}, // the first two tokens do not count
        {"J_J", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.resource);
        with_bob(c.resource);
        const auto session = testling_->startCall("bob@vokar.test", {}, kTransportAddress);
        EXPECT_EQ(session != nullptr, c.proceeds);
        EXPECT_EQ(sent().size(), c.proceeds ? 1u : 0u);
        EXPECT_EQ(codes(),
                  c.proceeds ? std::vector<int>{} : std::vector<int>{kEventCallImpossible});
        inject("<presence from='bob@vokar.test/" + std::string(c.resource) +
               "' type='unavailable'/>");
        testling_->terminate(session, kConditionGeneralError);
        sent();
        events_.clear();
    }
    EXPECT_EQ(testling_->startCall("carol@vokar.test", {}, kTransportAddress), nullptr);
    EXPECT_EQ(codes(), std::vector<int>{kEventCallImpossible}) << "no such contact";
}

TEST_F(JingleTest, IncomingCallRingingAcceptAndDecline)
{
    const auto session = incoming();
    EXPECT_EQ(sent(), std::vector<std::string>{ack("i1")});
    ASSERT_EQ(codes(), std::vector<int>{kEventIncomingCall});
    ASSERT_TRUE(session);
    EXPECT_EQ(testling_->payloadIds(session), (std::vector<int32_t>{97, 3}));
    EXPECT_EQ(testling_->mediaEndpoints(session).peer_ip, "192.0.2.2");

    testling_->sendRinging(session);
    testling_->accept(session);
    EXPECT_EQ(
        sent(),
        std::vector<std::string>{request("107", "session-info", "s1", kBob) +
                                 "<ringing xmlns=\"urn:xmpp:tmp:jingle:apps:audio-rtp:info\" />"
                                 "</jingle></iq>"})
        << "no accept without a local content";
    testling_->setLocalAddresses(session, {{"10.0.0.1", "peer", 4000}});
    testling_->accept(session);
    testling_->accept(session);
    EXPECT_EQ(sent(), std::vector<std::string>{request("108", "session-accept", "s1", kBob) +
                                               kOurContent + "</jingle></iq>"});
    EXPECT_EQ(codes(), std::vector<int>{kEventCallAccepted});

    testling_->terminate(session, kConditionDecline);
    EXPECT_EQ(sent(), std::vector<std::string>{request("109", "session-terminate", "s1", kBob) +
                                               "<reason><condition><decline /></condition>"
                                               "</reason></jingle></iq>"});
}

TEST_F(JingleTest, SessionDispatch)
{
    const struct {
        const char* name;
        std::string action;
        std::string inner;
        std::string reply; // the error's conditions; empty: acknowledged
        std::vector<int> codes;
        std::string reason;
        size_t sessions_after;
    } rows[] = {
        {"accept while pending", "session-accept", kAudioContent, "", {kEventCallAccepted}, "", 1},
        {"ringing", "session-info", "<ringing/><mute/>", "", {kEventPeerRinging}, "", 1},
        {"transport-info", "transport-info", "<content name='audio'/>", "", {}, "", 1},
        {"content-accept", "content-accept", "", "", {}, "", 1},
        {"content-modify", "content-modify", "", "", {}, "", 1},
        {"content-remove", "content-remove", "", "", {}, "", 1},
        {"content-replace", "content-replace", "", "", {}, "", 1},
        {"content-add while pending", "content-add", "", kOutOfOrder, {}, "", 1},
        {"unknown action", "session-initiate", kAudioContent, kBadRequest, {}, "", 1},
        {"no action", "", "", kBadRequest, {}, "", 1},
        {"terminate",
         "session-terminate",
         "<reason><condition><busy/></condition><text>x</text></reason>",
         "",
         {kEventCallEnded},
         "busy",
         0},
        {"terminate, empty condition",
         "session-terminate",
         "<reason><condition/></reason>",
         "",
         {kEventCallEnded},
         "",
         0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        incoming();
        sent();
        events_.clear();
        inject(jingle_iq("r1", kBob, row.action, "s1", row.inner));
        EXPECT_EQ(sent(),
                  std::vector<std::string>{row.reply.empty() ? ack("r1") : error("r1", row.reply)});
        std::vector<int> raised;
        for (const auto& e : events_) {
            raised.push_back(e.code);
            EXPECT_EQ(e.event.sid, "s1");
            if (e.code == kEventCallEnded) {
                EXPECT_EQ(e.event.text, row.reason);
            }
        }
        EXPECT_EQ(raised, row.codes);
        EXPECT_EQ(testling_->sessionCount(), row.sessions_after);
        events_.clear();
        inject(jingle_iq("end", kBob, "session-terminate", "s1", ""));
        sent();
        events_.clear();
    }
}

TEST_F(JingleTest, RequestsForNoSession)
{
    const std::string ft_content = "<content name='f'><description "
                                   "xmlns='urn:xmpp:tmp:jingle:apps:file-transfer'/></content>";
    const struct {
        const char* name;
        std::string stanza;
        std::vector<std::string> replies;
    } rows[] = {
        {"no action", jingle_iq("n1", kBob, "", "s9", kAudioContent), {}},
        {"unknown sid",
         jingle_iq("n1", kBob, "session-info", "s9", ""),
         {error("n1", kUnknownSession)}},
        {"no content",
         jingle_iq("n1", kBob, "session-initiate", "s9", ""),
         {error("n1", kBadRequest)}},
        {"unknown description",
         jingle_iq("n1", kBob, "session-initiate", "s9",
                   "<content><description xmlns='urn:xmpp:tmp:jingle:apps:video-rtp'/></content>"),
         {}},
        {"a content that cannot be read",
         jingle_iq("n1", kBob, "session-initiate", "s9",
                   "<content><description xmlns='urn:xmpp:tmp:jingle:apps:audio-rtp'/><transport "
                   "xmlns='urn:xmpp:tmp:jingle:transports:raw-udp'/></content>"),
         {error("n1", kUnsupportedInfo), ack("n1")}},
        {"no sid",
         "<iq id='n1' from='" + kBob + "' type='set'><jingle action='session-initiate'>" +
             kAudioContent + "</jingle></iq>",
         {error("n1", kBadRequest), ack("n1")}},
        {"file transfer",
         jingle_iq("n1", kBob, "session-initiate", "s9", ft_content),
         {ack("n1"), request("107", "session-terminate", "s9", kBob) +
                         "<reason><condition><unsupported-applications /></condition></reason>"
                         "</jingle></iq>"}},
        {"an answer nobody waits for",
         "<iq id='n1' type='error' from='" + kBob +
             "'><jingle action='session-info' sid='s9'/><error type='cancel'/></iq>",
         {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        inject(row.stanza);
        EXPECT_EQ(sent(), row.replies);
        EXPECT_TRUE(events_.empty());
        EXPECT_EQ(testling_->sessionCount(), 0u);
    }
}

TEST_F(JingleTest, AStanzaForAKnownSidFromAnotherJidIsUnknown)
{
    incoming();
    sent();
    events_.clear();
    inject(jingle_iq("m1", kMallory, "session-terminate", "s1", "") +
           jingle_iq("m2", kMallory, "session-accept", "s1", kAudioContent) +
           jingle_iq("m3", "bob@vokar.test/other", "session-info", "s1", "<ringing/>"));
    EXPECT_EQ(sent(), (std::vector<std::string>{error("m1", kUnknownSession, kMallory),
                                                error("m2", kUnknownSession, kMallory), ack("m3")}))
        << "another resource of the peer is the peer";
    EXPECT_EQ(codes(), std::vector<int>{kEventPeerRinging});
    EXPECT_EQ(testling_->sessionCount(), 1u);
}

TEST_F(JingleTest, AnswersToOurRequests)
{
    const std::string sid = call_bob();
    inject("<iq id='107' type='result' from='" + kMallory + "'/>");
    testling_->sendRinging(session_);
    EXPECT_NE(sent().at(0).find("to=\"" + kBob + "\""), std::string::npos)
        << "a result from someone else does not move the session";
    inject("<iq id='107' type='result' from='bob@vokar.test/desk'/>");
    inject("<iq id='108' type='result' from='bob@vokar.test/desk'/>");
    testling_->sendRinging(session_);
    EXPECT_NE(sent().at(0).find("to=\"bob@vokar.test/desk\""), std::string::npos);
    inject("<iq id='109' type='error' from='bob@vokar.test/desk'><error type='cancel'/></iq>");
    ASSERT_EQ(events_.size(), 1u);
    EXPECT_EQ(events_[0].code, kEventJingleError);
    EXPECT_EQ(events_[0].event.sid, sid);
    EXPECT_EQ(testling_->sessionCount(), 1u) << "the session stays until it is ended";
}

TEST_F(JingleTest, IceUdpTransportWithoutAnEngine)
{
    const std::string sid = call_bob(kTransportIceUdp);
    std::smatch m;
    ASSERT_TRUE(
        std::regex_search(initiate_, m,
                          std::regex("<transport xmlns=\"urn:xmpp:tmp:jingle:transports:ice-udp\" "
                                     "pwd=\"([a-z0-9+/]{22})\" ufrag=\"([a-z0-9+/]{4})\" />")))
        << initiate_;
    inject("<iq id='107' type='result' from='" + kBob + "'/>");
    EXPECT_EQ(sent(), std::vector<std::string>{
                          request("108", "transport-info", sid) + "<content creator=\"" + kAlice +
                          "\" name=\"audio\" profile=\"RTP/AVP\"><candidate component=\"1\" "
                          "foundation=\"1\" generation=\"0\" ip=\"10.0.0.1\" network=\"0\" "
                          "port=\"4000\" priority=\"0\" protocol=\"udp\" type=\"host\" />"
                          "</content></jingle></iq>"});
    testling_->terminate(session_, kConditionGeneralError);
    sent();

    // An offer in either ICE namespace is read, and candidates arrive one by one.
    for (const char* ns : {"ice", "ice-udp"}) {
        SCOPED_TRACE(ns);
        incoming(std::regex_replace(kIceContent, std::regex("transports:ice"),
                                    std::string("transports:") + ns));
        ASSERT_EQ(codes(), std::vector<int>{kEventIncomingCall});
        inject(jingle_iq("t1", kBob, "transport-info", "s1",
                         "<content name='audio'><transport><candidate ip='192.0.2.9' port='7078' "
                         "rel-addr='10.1.1.1' rel-port='9' priority='5'/></transport></content>"));
        ASSERT_EQ(events_.size(), 1u);
        ASSERT_EQ(events_[0].code, kEventIceCandidate);
        const IceCandidate& c = *events_[0].event.candidate;
        EXPECT_EQ(c.ip, "192.0.2.9");
        EXPECT_EQ(c.port, 7078);
        EXPECT_EQ(c.priority, 5);
        EXPECT_EQ(c.rel_addr, "10.1.1.1");
        EXPECT_EQ(c.rel_port, 9);
        EXPECT_EQ(c.component, 1);
        EXPECT_EQ(c.protocol, "udp");
        EXPECT_EQ(c.type, "host");
        inject(jingle_iq("end", kBob, "session-terminate", "s1", ""));
        sent();
        events_.clear();
    }
}

TEST_F(JingleTest, PayloadTypesAndContentsRead)
{
    auto doc = XmlNode::parse("<content name='a' profile='p'><description "
                              "xmlns='http://www.xmpp.org/extensions/xep-0167.html#ns'>"
                              "<payload-type id='8' name='PCMA' clockrate='8000'/><x/>"
                              "<payload-type id='9' name='G722' channels='2' ptime='20' "
                              "maxptime='60'/></description><transport xmlns="
                              "'http://www.xmpp.org/extensions/xep-1076.html#ns'/></content>");
    const auto content = read_offered_content(*doc->children.front());
    ASSERT_TRUE(content);
    EXPECT_EQ(content->transport_kind, kTransportIceUdp);
    ASSERT_EQ(content->payload_types.size(), 2u);
    const PayloadType& p = content->payload_types[0];
    EXPECT_EQ(std::tie(p.id, p.name, p.clockrate, p.channels, p.maxptime, p.ptime),
              std::make_tuple(8, std::string("PCMA"), 8000, 1, -1, -1));
    XmlNode out("description");
    for (const PayloadType& q : content->payload_types)
        write_payload_type(out, q);
    EXPECT_EQ(out.serialize(),
              "<description><payload-type id=\"8\" name=\"PCMA\" clockrate=\"8000\" />"
              "<payload-type id=\"9\" name=\"G722\" channels=\"2\" maxptime=\"60\" ptime=\"20\" "
              "/></description>");

    for (int i = 0; i < 20; ++i) {
        const IceUdpTransport t = IceUdpTransport::create();
        EXPECT_TRUE(std::regex_match(t.pwd, std::regex("[a-z0-9+/]{22}"))) << t.pwd;
        EXPECT_TRUE(std::regex_match(t.ufrag, std::regex("[a-z0-9+/]{4}"))) << t.ufrag;
    }
}

TEST_F(JingleTest, DiscoInfoAnswerListsTheJingleFeatures)
{
    inject("<iq id='q1' type='get' from='" + kBob +
           "'><query xmlns='http://jabber.org/protocol/disco#info'/></iq>");
    std::string features;
    for (const char* var :
         {"urn:xmpp:tmp:jingle", "http://www.xmpp.org/extensions/xep-0166.html#ns",
          "urn:xmpp:tmp:jingle:apps:audio-rtp", "http://www.xmpp.org/extensions/xep-0167.html#ns",
          "urn:xmpp:tmp:jingle:transports:ice-udp",
          "http://www.xmpp.org/extensions/xep-0176.html#ns",
          "urn:xmpp:tmp:jingle:apps:file-transfer",
          "http://www.xmpp.org/extensions/xep-0234.html#ns", "urn:xmpp:tmp:jingle:transports:ibb",
          "http://www.xmpp.org/extensions/xep-0047.html#ns"})
        features += "<feature var=\"" + std::string(var) + "\" />";
    EXPECT_EQ(sent(),
              std::vector<std::string>{"<iq id=\"q1\" from=\"" + kAlice + "\" to=\"" + kBob +
                                       "\" type=\"result\"><query "
                                       "xmlns=\"http://jabber.org/protocol/disco#info\">" +
                                       features + "</query></iq>"});
}

TEST_F(JingleTest, CallsBeyondTheLimitAreAnsweredBusy)
{
    for (size_t i = 0; i <= JingleManager::kMaxSessions; ++i)
        inject(jingle_iq("i" + std::to_string(i), kBob, "session-initiate", "s" + std::to_string(i),
                         kAudioContent));
    EXPECT_EQ(testling_->sessionCount(), JingleManager::kMaxSessions);
    const auto out = sent();
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.back(), request("107", "session-terminate", "s8", kBob) +
                              "<reason><condition><busy /></condition></reason></jingle></iq>");
}

// A listener that hands the call to the GUI thread and waits for it there
// (as a synchronous window message does) while the GUI thread ends it.
TEST_F(JingleTest, AListenerMayWaitWhileTheGuiThreadEndsTheCall)
{
    struct GuiListener : JabberListener {
        JabberClient* client;
        std::mutex mutex;
        std::condition_variable cv;
        std::shared_ptr<JingleSession> session;
        bool done = false;
        bool timed_out = false;
        void onJabberEvent(int code, const JabberEvent* event) override
        {
            if (code != kEventIncomingCall)
                return;
            std::unique_lock lock(mutex);
            session = event->session;
            cv.notify_all();
            timed_out = !cv.wait_for(lock, std::chrono::seconds(10), [&] { return done; });
        }
    } gui;
    gui.client = testling_.get();
    testling_->addListener(&gui);
    std::thread receive([&] { incoming(); });
    {
        std::unique_lock lock(gui.mutex);
        gui.cv.wait(lock, [&] { return gui.session != nullptr; });
    }
    testling_->accept(gui.session);
    testling_->terminate(gui.session, kConditionBusy);
    {
        std::lock_guard lock(gui.mutex);
        gui.done = true;
        gui.cv.notify_all();
    }
    receive.join();
    EXPECT_FALSE(gui.timed_out) << "the GUI thread waited for the receive thread";
    EXPECT_EQ(testling_->sessionCount(), 0u);
}

// The user hangs up while the peer's terminate arrives: one of the two ends
// the session, never both.
TEST_F(JingleTest, ExactlyOneSideEndsASession)
{
    for (int i = 0; i < 50; ++i) {
        const auto session = incoming();
        ASSERT_TRUE(session);
        sent();
        events_.clear();
        std::thread receive([&] {
            inject(jingle_iq("t" + std::to_string(i), kBob, "session-terminate", "s1", ""));
        });
        testling_->terminate(session, kConditionDecline);
        receive.join();
        const auto out = sent();
        const bool we_ended = std::any_of(out.begin(), out.end(), [](const std::string& s) {
            return s.find("action=\"session-terminate\"") != std::string::npos;
        });
        const bool peer_ended = !events_.empty();
        EXPECT_NE(we_ended, peer_ended);
        EXPECT_EQ(testling_->sessionCount(), 0u);
        events_.clear();
    }
}

} // namespace
} // namespace vokar
