#include "xmpp/jabber_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <thread>

#include "base/base64.h"
#include "tests/xmpp/client_fixture.h"
#include "xmpp/sasl_digest.h"

namespace vokar {
namespace {

using test::ScriptedConnection;
using namespace test;

TEST_F(JabberClientTest, LoginSequenceByteForByte)
{
    EXPECT_EQ(codes(), std::vector<int>{kEventConnected});
    testling_->setStatus(kStatusAway);
    ASSERT_TRUE(testling_->login("alice", "secret"));
    EXPECT_EQ(sent(), std::vector<std::string>{kHeader}) << "no presence before the session";

    inject(kServerHeader + kFeatures);
    testling_->setStatus(kStatusAway);
    EXPECT_EQ(sent(), std::vector<std::string>{std::string(sasl::kAuth)});

    inject("<challenge xmlns='urn:ietf:params:xml:ns:xmpp-sasl'>" +
           base64_encode("nonce=\"OA6MG9tEQGm2hh\",realm=\"vokar.test\",qop=\"auth\",charset=utf-8,"
                         "algorithm=md5-sess") +
           "</challenge>");
    auto out = sent();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].rfind("<response xmlns=\"urn:ietf:params:xml:ns:xmpp-sasl\">", 0), 0u);
    const std::string text = response_text(out[0]);
    const auto c1 = text.find("cnonce=\"") + 8;
    const std::string cnonce = text.substr(c1, text.find('"', c1) - c1);
    EXPECT_EQ(text, "username=\"alice\",realm=\"vokar.test\",nonce=\"OA6MG9tEQGm2hh\",cnonce=\"" +
                        cnonce +
                        "\",nc=00000001,qop=auth,digest-uri=\"xmpp/vokar.test\",charset=utf-8,"
                        "response=" +
                        sasl::response_value("alice", "secret", "vokar.test", "OA6MG9tEQGm2hh",
                                             cnonce, "00000001", "xmpp/vokar.test", "auth"));

    inject("<challenge xmlns='urn:ietf:params:xml:ns:xmpp-sasl'>" + base64_encode("rspauth=wrong") +
           "</challenge>");
    EXPECT_EQ(sent(), std::vector<std::string>{std::string(sasl::kEmptyResponse)});

    inject("<success xmlns='urn:ietf:params:xml:ns:xmpp-sasl'/>");
    EXPECT_EQ(sent(), std::vector<std::string>{kHeader});
    ASSERT_EQ(events_.size(), 1u);
    EXPECT_EQ(events_[0].code, kEventAuthentication);
    EXPECT_EQ(events_[0].event.result, kAuthenticationSucceeded);
    events_.clear();

    inject(kServerHeader + "<stream:features><bind xmlns='urn:ietf:params:xml:ns:xmpp-bind'/>"
                           "</stream:features>");
    EXPECT_EQ(sent(),
              std::vector<std::string>{
                  "<iq id=\"101\" type=\"set\"><bind xmlns=\"urn:ietf:params:xml:ns:xmpp-bind\">"
                  "<resource>Vokar_WM_J_4242</resource></bind></iq>"});
    inject("<iq id='101' type='result'><bind xmlns='urn:ietf:params:xml:ns:xmpp-bind'>"
           "<jid>alice@vokar.test/Vokar_WM_J_4242</jid></bind></iq>");
    EXPECT_EQ(sent(),
              std::vector<std::string>{"<iq id=\"102\" type=\"set\"><session "
                                       "xmlns=\"urn:ietf:params:xml:ns:xmpp-session\" /></iq>"});
    inject("<iq id='102' type='result'/>");
    EXPECT_EQ(
        sent(),
        (std::vector<std::string>{
            "<iq id=\"103\" type=\"get\"><query xmlns=\"jabber:iq:roster\" /></iq>",
            "<presence id=\"104\"><status>" + kTagline + "</status></presence>",
            "<iq id=\"105\" type=\"set\"><query xmlns=\"jabber:iq:vokar:services:versionupdate\" "
            "method=\"checkupdates\"><os>wm</os><version>2.2</version></query></iq>",
            "<iq id=\"106\" to=\"vokar.test\" type=\"get\"><query "
            "xmlns=\"http://jabber.org/protocol/disco#items\" /></iq>"}));
    EXPECT_EQ(testling_->full_jid(), "alice@vokar.test/Vokar_WM_J_4242");
}

TEST_F(JabberClientTest, ChallengesOfConformingServers)
{
    struct Case {
        const char* name;
        std::string challenge;
        std::string realm, nonce, uri, charset;
    } cases[] = {
        {"no realm", "nonce=\"n2\",qop=\"auth\",charset=utf-8,algorithm=md5-sess", "", "n2",
         "xmpp/vokar.test", ",charset=utf-8"},
        {"realm after nonce", "nonce=\"n3\",realm=\"other.test\",qop=\"auth\",charset=utf-8",
         "other.test", "n3", "xmpp/other.test", ",charset=utf-8"},
        {"unquoted values, qop list, no charset", "qop=\"auth,auth-int\",nonce=n4,realm=r.test",
         "r.test", "n4", "xmpp/r.test", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        make();
        ASSERT_TRUE(testling_->login("bob", "pw"));
        inject(kServerHeader + kFeatures);
        sent();
        inject("<challenge xmlns='urn:ietf:params:xml:ns:xmpp-sasl'>" + base64_encode(c.challenge) +
               "</challenge>");
        const std::string text = response_text(sent().at(0));
        const auto c1 = text.find("cnonce=\"") + 8;
        const std::string cnonce = text.substr(c1, text.find('"', c1) - c1);
        EXPECT_EQ(text, "username=\"bob\",realm=\"" + c.realm + "\",nonce=\"" + c.nonce +
                            "\",cnonce=\"" + cnonce + "\",nc=00000001,qop=auth,digest-uri=\"" +
                            c.uri + "\"" + c.charset + ",response=" +
                            sasl::response_value("bob", "pw", c.realm, c.nonce, cnonce, "00000001",
                                                 c.uri, "auth"));
    }
}

TEST_F(JabberClientTest, AHeaderWithoutDeclarationNeitherSetsTheDomainNorBinds)
{
    ASSERT_TRUE(testling_->login("alice", "secret"));
    inject("<stream:stream xmlns='jabber:client' xmlns:stream='http://etherx.jabber.org/streams' "
           "from='elsewhere.test' version='1.0'>" +
           kFeatures);
    EXPECT_EQ(testling_->domain(), "vokar.test");
    inject("<success xmlns='urn:ietf:params:xml:ns:xmpp-sasl'/>");
    sent();
    inject("<stream:stream xmlns='jabber:client' xmlns:stream='http://etherx.jabber.org/streams' "
           "from='vokar.test' version='1.0'><stream:features/>");
    EXPECT_TRUE(sent().empty()) << "no bind request";
}

TEST_F(JabberClientTest, FailureAndLoginBeforeConnect)
{
    ASSERT_TRUE(testling_->login("alice", "wrong"));
    inject(kServerHeader + kFeatures +
           "<failure xmlns='urn:ietf:params:xml:ns:xmpp-sasl'>"
           "<not-authorized/></failure>");
    ASSERT_FALSE(events_.empty());
    EXPECT_EQ(events_.back().code, kEventAuthentication);
    EXPECT_EQ(events_.back().event.result, kAuthenticationFailed);

    events_.clear();
    sent();
    make(false);
    EXPECT_EQ(codes(), std::vector<int>{kEventDisconnected});
    EXPECT_FALSE(testling_->login("alice", "secret"));
    EXPECT_TRUE(sent().empty());
}

TEST_F(JabberClientTest, StanzasSplitAcrossChunksAndJoinedInOne)
{
    log_in();
    const std::string a = "<message from='bob@vokar.test/r' type='chat'><body>one</body></message>";
    const std::string b =
        "<message from='carol@vokar.test/r' type='chat'><body>two</body></message>";
    inject(a.substr(0, 20));
    EXPECT_TRUE(events_.empty());
    inject(a.substr(20, a.size() - 21));
    EXPECT_TRUE(events_.empty()) << "not before the final '>'";
    inject(a.substr(a.size() - 1) + b + b.substr(0, 5));
    inject(b.substr(5));
    ASSERT_EQ(events_.size(), 3u);
    EXPECT_EQ(events_[0].event.text, "one");
    EXPECT_EQ(events_[1].event.jid, "carol@vokar.test");
    EXPECT_EQ(events_[2].event.text, "two");
}

TEST_F(JabberClientTest, RosterAnswersAndPushes)
{
    log_in();
    inject("<iq id='103' type='result'><query xmlns='jabber:iq:roster'>"
           "<item jid='Bob@Vokar.test' name='Bob' subscription='both'/>"
           "<item jid='carol@vokar.test' subscription='none' ask='subscribe'/>"
           "<item jid='dave@vokar.test' subscription='none' ask='unsubscribe'/>"
           "<item jid='erin@vokar.test' subscription='from' ask='unsubscribe'/>"
           "<item jid='msn.vokar.test' subscription='both'><group>Transports</group></item>"
           "<item name='no jid'/>"
           "</query></iq>");
    ASSERT_EQ(events_.size(), 2u);
    EXPECT_EQ(events_[0].code, kEventRosterLoaded);
    EXPECT_FALSE(events_[0].has_payload);
    EXPECT_EQ(events_[1].code, kEventPresence);
    const auto& u = events_[1].event.updates;
    ASSERT_EQ(u.size(), 2u);
    EXPECT_EQ(u[0].jid, "bob@vokar.test");
    EXPECT_EQ(u[0].name, "Bob");
    EXPECT_EQ(u[0].status, kStatusOffline);
    EXPECT_TRUE(u[0].in_roster);
    EXPECT_EQ(u[1].jid, "carol@vokar.test");
    EXPECT_EQ(u[1].name, "carol@vokar.test");
    EXPECT_EQ(u[1].status, kStatusRequested);
    EXPECT_TRUE(testling_->isRosterLoaded());
    events_.clear();

    // A push (no id of ours) removing bob; no second "loaded" event.
    inject("<iq id='push1' type='set'><query xmlns='jabber:iq:roster'>"
           "<item jid='bob@vokar.test' subscription='remove'/></query></iq>");
    ASSERT_EQ(events_.size(), 1u);
    EXPECT_EQ(events_[0].code, kEventPresence);
    ASSERT_EQ(events_[0].event.updates.size(), 1u);
    EXPECT_TRUE(events_[0].event.updates[0].removed);
    events_.clear();
    inject("<presence from='bob@vokar.test/home'/>");
    ASSERT_EQ(events_.size(), 1u);
    EXPECT_EQ(events_[0].event.updates[0].status, kStatusAvailable) << "unknown JIDs still report";
}

TEST_F(JabberClientTest, RejectingARequestRefusesTheSubscription)
{
    log_in();
    inject("<iq id='103' type='result'><query xmlns='jabber:iq:roster'>"
           "<item jid='carol@vokar.test' subscription='none'/></query></iq>");
    inject("<presence from='dan@vokar.test' type='subscribe'/>");
    testling_->rejectContact("dan@vokar.test");
    testling_->rejectContact("carol@vokar.test");
    EXPECT_EQ(sent(), (std::vector<std::string>{
                          "<presence id=\"107\" to=\"dan@vokar.test\" type=\"unsubscribed\" />",
                          "<presence id=\"108\" to=\"carol@vokar.test\" type=\"unsubscribed\" />",
                          "<iq id=\"109\" type=\"set\"><query xmlns=\"jabber:iq:roster\"><item "
                          "jid=\"carol@vokar.test\" subscription=\"remove\" /></query></iq>"}));
}

TEST_F(JabberClientTest, PresenceForms)
{
    log_in();
    inject("<iq id='103' type='result'><query xmlns='jabber:iq:roster'>"
           "<item jid='bob@vokar.test' subscription='both'/>"
           "<item jid='carol@vokar.test' subscription='to'/></query></iq>");
    events_.clear();
    struct Case {
        const char* name;
        std::string stanza;
        int status;
        std::string text;
    } cases[] = {
        {"tagline removed after a word",
         "<presence from='bob@vokar.test/a'><status>Hi " + kTagline + "</status></presence>", 1,
         "Hi "},
        {"exactly the tagline stays",
         "<presence from='bob@vokar.test/a'><status>" + kTagline + "</status></presence>", 1,
         kTagline},
        {"show Busy in any case", "<presence from='bob@vokar.test/a'><show>Busy</show></presence>",
         3, ""},
        {"show chat is available", "<presence from='bob@vokar.test/a'><show>chat</show></presence>",
         1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        inject(c.stanza);
        ASSERT_EQ(events_.size(), 1u);
        ASSERT_EQ(events_[0].event.updates.size(), 1u);
        EXPECT_EQ(events_[0].event.updates[0].status, c.status);
        EXPECT_EQ(events_[0].event.updates[0].status_text, c.text);
        events_.clear();
    }

    // Several presences in one chunk arrive as one batch.
    inject("<presence from='carol@vokar.test/x'/><presence from='carol@vokar.test/y'/>");
    ASSERT_EQ(events_.size(), 1u);
    EXPECT_EQ(events_[0].event.updates.size(), 2u);
    events_.clear();

    // Subscribe from a contact we asked ("to") is accepted at once; from a
    // stranger it becomes a pending request.
    inject("<presence from='carol@vokar.test/x' type='subscribe'/>");
    EXPECT_EQ(sent(), std::vector<std::string>{
                          "<presence id=\"107\" to=\"carol@vokar.test/x\" type=\"subscribed\" />"});
    EXPECT_TRUE(events_.empty());
    inject("<presence from='zed@vokar.test' type='subscribe'/>");
    ASSERT_EQ(events_.size(), 1u);
    EXPECT_EQ(events_[0].event.updates[0].status, kStatusPending);
    events_.clear();
    inject("<presence from='zed@vokar.test' type='subscribed'/><presence type='unavailable'/>");
    EXPECT_TRUE(events_.empty());

    inject("<presence from='msn.vokar.test'/>");
    ASSERT_EQ(events_.size(), 1u);
    EXPECT_EQ(events_[0].code, kEventTransport);
    EXPECT_EQ(events_[0].event.network, kNetworkMsn);
}

TEST_F(JabberClientTest, PresencesOfOneChunkAreReportedInOrder)
{
    log_in();
    inject("<iq id='103' type='result'><query xmlns='jabber:iq:roster'>"
           "<item jid='bob@vokar.test' subscription='both'/></query></iq>");
    events_.clear();
    // Batched presences are flushed before an unavailable one is reported.
    inject("<presence from='bob@vokar.test/a'/><presence from='bob@vokar.test/a' "
           "type='unavailable'/>");
    ASSERT_EQ(events_.size(), 2u);
    EXPECT_EQ(events_[0].event.updates.at(0).status, kStatusAvailable);
    EXPECT_EQ(events_[1].event.updates.at(0).status, kStatusOffline);
}

TEST_F(JabberClientTest, ResourcesRankByStatus)
{
    log_in();
    inject("<iq id='103' type='result'><query xmlns='jabber:iq:roster'>"
           "<item jid='bob@vokar.test' subscription='both'/></query></iq>");
    events_.clear();
    const auto last = [this] { return events_.back().event.updates.back(); };
    inject("<presence from='bob@vokar.test/phone'><show>away</show><status>at "
           "lunch</status></presence>");
    EXPECT_EQ(last().status, kStatusAway);
    inject("<presence from='bob@vokar.test/desk'><status>here</status></presence>");
    EXPECT_EQ(last().status, kStatusAvailable);
    EXPECT_EQ(last().status_text, "here");
    // An update to the lower-ranked resource reports the contact's shown presence.
    inject("<presence from='bob@vokar.test/phone'><show>dnd</show></presence>");
    EXPECT_EQ(last().status, kStatusAvailable);
    EXPECT_EQ(last().status_text, "here");
    inject("<presence from='bob@vokar.test/desk' type='unavailable'/>");
    EXPECT_EQ(last().status, kStatusBusy);
    inject("<presence from='bob@vokar.test/phone' type='unavailable'/>");
    EXPECT_EQ(last().status, kStatusOffline);
}

TEST_F(JabberClientTest, MessagesReceived)
{
    log_in();
    struct Case {
        const char* name;
        std::string stanza;
        std::vector<int> codes;
        int chat_state;
    } cases[] = {
        {"body and composing: only the message",
         "<message from='bob@vokar.test/r' type='chat'><body>hi</body><x xmlns='jabber:x:event'>"
         "<composing/></x></message>",
         {kEventChatMessage},
         kChatStateNone},
        {"error type with a body",
         "<message from='bob@vokar.test' type='error'><body>hi</body></message>",
         {kEventMessageError},
         kChatStateNone},
        {"error element from a contact",
         "<message from='bob@vokar.test' type='error'><body>hi</body>"
         "<error type='cancel'/></message>",
         {},
         kChatStateNone},
        {"error element from a transport",
         "<message from='msn.vokar.test' type='error'><body>hi</body>"
         "<error type='cancel'/></message>",
         {kEventMessageError},
         kChatStateNone},
        {"x composing",
         "<message from='bob@vokar.test'><x xmlns='jabber:x:event'><composing/></x></message>",
         {kEventChatState},
         kChatStateComposing},
        {"x without composing",
         "<message from='bob@vokar.test'><x xmlns='jabber:x:event'/></message>",
         {},
         kChatStateNone},
        {"paused",
         "<message from='bob@vokar.test'><paused xmlns='http://jabber.org/protocol/chatstates'/>"
         "</message>",
         {kEventChatState},
         kChatStateStopped},
        {"lone active",
         "<message from='bob@vokar.test'><active xmlns='http://jabber.org/protocol/chatstates'/>"
         "</message>",
         {},
         kChatStateNone},
        {"chat-states composing without x",
         "<message from='bob@vokar.test'><composing "
         "xmlns='http://jabber.org/protocol/chatstates'/></message>",
         {},
         kChatStateNone},
        {"no from", "<message><body>hi</body></message>", {}, kChatStateNone},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        inject(c.stanza);
        std::vector<int> got;
        for (const auto& e : events_)
            got.push_back(e.code);
        EXPECT_EQ(got, c.codes);
        if (!events_.empty()) {
            EXPECT_EQ(events_[0].event.chat_state, c.chat_state);
            EXPECT_EQ(events_[0].event.jid.find('/'), std::string::npos);
        }
        events_.clear();
    }
}

TEST_F(JabberClientTest, StanzasTheClientOriginates)
{
    log_in();
    testling_->sendMessage("bob@vokar.test/desk", "1 < 2 & \"so\"");
    testling_->setStatusText("Busy day");
    testling_->setStatus(kStatusBusy);
    testling_->addContact(kNetworkService, "dave", "Dave", "Friends");
    testling_->addContact(kNetworkService, "erin@other.test", "", "");
    testling_->acceptContact("zed@vokar.test", "Zed", "");
    testling_->renameContact("bob@vokar.test", "Bobby");
    testling_->removeContact("bob@vokar.test");
    EXPECT_EQ(
        sent(),
        (std::vector<std::string>{
            "<message id=\"107\" to=\"bob@vokar.test/desk\" type=\"chat\"><body>1 &lt; 2 &amp; "
            "&quot;so&quot;</body><x xmlns=\"jabber:x:event\"><composing /></x><active "
            "xmlns=\"http://jabber.org/protocol/chatstates\" /></message>",
            "<presence id=\"108\"><status>Busy day " + kTagline + "</status></presence>",
            "<presence id=\"109\"><status>Busy day " + kTagline +
                "</status><show>dnd</show></presence>",
            "<iq id=\"110\" type=\"set\"><query xmlns=\"jabber:iq:roster\"><item "
            "jid=\"dave@vokar.test\" name=\"Dave\"><group>Friends</group></item></query></iq>",
            "<presence id=\"111\" to=\"dave@vokar.test\" type=\"subscribe\" />",
            "<iq id=\"112\" type=\"set\"><query xmlns=\"jabber:iq:roster\"><item "
            "jid=\"erin@other.test\" /></query></iq>",
            "<presence id=\"113\" to=\"erin@other.test\" type=\"subscribe\" />",
            "<presence id=\"114\" to=\"zed@vokar.test\" type=\"subscribed\" />",
            "<iq id=\"115\" type=\"set\"><query xmlns=\"jabber:iq:roster\"><item "
            "jid=\"zed@vokar.test\" name=\"Zed\" /></query></iq>",
            "<presence id=\"116\" to=\"zed@vokar.test\" type=\"subscribe\" />",
            "<iq id=\"117\" type=\"set\"><query xmlns=\"jabber:iq:roster\"><item "
            "jid=\"bob@vokar.test\" name=\"Bobby\" /></query></iq>",
            "<iq id=\"118\" type=\"set\"><query xmlns=\"jabber:iq:roster\"><item "
            "jid=\"bob@vokar.test\" subscription=\"remove\" /></query></iq>",
        }));
}

TEST_F(JabberClientTest, GatewaysDiscoveryRegistrationAndPrompts)
{
    log_in();
    inject("<iq id='106' type='result' from='vokar.test'><query "
           "xmlns='http://jabber.org/protocol/disco#items'>"
           "<item jid='msn.vokar.test' name='MSN Transport'/>"
           "<item jid='conference.vokar.test' name='Chatrooms'/>"
           "<item jid='aim.vokar.test' name='aim transport'/></query></iq>");
    EXPECT_EQ(sent(),
              std::vector<std::string>{"<iq id=\"107\" to=\"msn.vokar.test\" type=\"get\"><query "
                                       "xmlns=\"http://jabber.org/protocol/disco#info\" /></iq>"});
    inject("<iq id='107' type='result' from='msn.vokar.test'><query "
           "xmlns='http://jabber.org/protocol/disco#info'><feature var='jabber:iq:register'/>"
           "<feature var='jabber:iq:registered'/></query></iq>");
    EXPECT_EQ(sent(),
              std::vector<std::string>{"<presence id=\"108\" to=\"msn.vokar.test\"><status>" +
                                       kTagline + "</status></presence>"});
    ASSERT_EQ(events_.size(), 1u);
    EXPECT_EQ(events_[0].code, kEventTransport);
    EXPECT_EQ(events_[0].event.network, kNetworkMsn);
    events_.clear();

    // The prompt translates a legacy address; "null" and a missing jid build it here.
    testling_->addContact(kNetworkMsn, "pat@hotmail.test", "", "");
    EXPECT_EQ(sent(),
              std::vector<std::string>{
                  "<iq id=\"109\" type=\"set\" to=\"msn.vokar.test\"><query "
                  "xmlns=\"jabber:iq:gateway\"><prompt>pat@hotmail.test</prompt></query></iq>"});
    inject(
        "<iq id='109' type='result'><query xmlns='jabber:iq:gateway'><jid>null</jid></query></iq>");
    EXPECT_EQ(sent(), (std::vector<std::string>{
                          "<iq id=\"110\" type=\"set\"><query xmlns=\"jabber:iq:roster\"><item "
                          "jid=\"pat\\40hotmail.test@msn.vokar.test\" name=\"pat\" /></query></iq>",
                          "<presence id=\"111\" to=\"pat\\40hotmail.test@msn.vokar.test\" "
                          "type=\"subscribe\" />"}));
    testling_->addContact(kNetworkYahoo, "sam", "", "");
    sent();
    inject("<iq id='112' type='error'><error type='cancel'/></iq>"); // no jid at all
    EXPECT_EQ(sent(),
              (std::vector<std::string>{
                  "<iq id=\"113\" type=\"set\"><query xmlns=\"jabber:iq:roster\"><item "
                  "jid=\"sam@yahoo.vokar.test\" name=\"sam@yahoo.vokar.test\" /></query></iq>",
                  "<presence id=\"114\" to=\"sam@yahoo.vokar.test\" type=\"subscribe\" />"}));
    testling_->addContact(kNetworkIcq, "123", "", "");
    sent();
    inject(
        "<iq id='115' type='result'><query xmlns='jabber:iq:gateway'><jid>123@icq.vokar.test</jid>"
        "</query></iq>");
    EXPECT_EQ(sent().at(0),
              "<iq id=\"116\" type=\"set\"><query xmlns=\"jabber:iq:roster\"><item "
              "jid=\"123@icq.vokar.test\" name=\"123@icq.vokar.test\" /></query></iq>");
}

TEST_F(JabberClientTest, RegisteringAndUnregisteringAGateway)
{
    log_in();
    testling_->registerGateway(kNetworkService, "me", "pw");
    testling_->unregisterGateway(kNetworkService);
    EXPECT_TRUE(sent().empty()) << "a network without a transport has no one to ask";

    testling_->registerGateway(kNetworkGtalk, "me@gmail.com", "pw");
    EXPECT_EQ(sent(),
              std::vector<std::string>{
                  "<iq id=\"107\" to=\"gtalk.vokar.test\" type=\"set\"><query "
                  "xmlns=\"jabber:iq:register\"><password>pw</password><username>me@gmail.com"
                  "</username><x xmlns=\"jabber:iq:gateway:register\" /></query></iq>"});
    inject("<iq id='107' type='error' from='gtalk.vokar.test'><error type='cancel'/></iq>");
    EXPECT_TRUE(sent().empty()) << "an error answer registers nothing";
    EXPECT_TRUE(events_.empty());
    EXPECT_FALSE(testling_->isGatewayRegistered(kNetworkGtalk));

    testling_->registerGateway(kNetworkGtalk, "me@gmail.com", "pw");
    sent();
    inject("<iq id='108' type='result' from='gtalk.vokar.test'/>");
    const std::string presence = "<status>" + kTagline + "</status></presence>";
    EXPECT_EQ(sent(), (std::vector<std::string>{
                          "<presence id=\"109\" to=\"gtalk.vokar.test\">" + presence,
                          "<presence id=\"110\" to=\"gtalk.vokar.test\">" + presence}));
    ASSERT_EQ(events_.size(), 1u);
    EXPECT_EQ(events_[0].event.network, kNetworkGtalk);
    EXPECT_TRUE(testling_->isGatewayRegistered(kNetworkGtalk));

    testling_->addContact(kNetworkGtalk, "friend", "", "");
    EXPECT_EQ(sent().at(0),
              "<iq id=\"111\" type=\"set\" to=\"gtalk.vokar.test\"><query "
              "xmlns=\"jabber:iq:gateway\"><prompt>friend@gmail.com</prompt></query></iq>");
    testling_->unregisterGateway(kNetworkGtalk);
    EXPECT_EQ(sent(),
              std::vector<std::string>{"<iq id=\"112\" to=\"gtalk.vokar.test\" type=\"set\"><query "
                                       "xmlns=\"jabber:iq:register\"><remove /></query></iq>"});
    testling_->addContact(kNetworkGtalk, "friend", "", "");
    EXPECT_EQ(sent().at(0), "<iq id=\"113\" type=\"set\"><query xmlns=\"jabber:iq:roster\"><item "
                            "jid=\"friend@gmail.com\" /></query></iq>");

    events_.clear();
    testling_->registerGateway(kNetworkMsn, "me", "pw");
    sent();
    inject("<iq id='115' type='result' from='bob@vokar.test'/>");
    EXPECT_TRUE(sent().empty()) << "no presence to whoever answers in the transport's place";
    EXPECT_TRUE(events_.empty());
    EXPECT_FALSE(testling_->isGatewayRegistered(kNetworkMsn));
}

TEST_F(JabberClientTest, ServiceIqs)
{
    log_in();
    testling_->sendHoller("bob@vokar.test");
    testling_->retrieveHollers();
    testling_->setHollerAllowed(false);
    testling_->setHollerAllowed(true);
    EXPECT_EQ(sent(),
              (std::vector<std::string>{
                  "<iq id=\"107\" type=\"set\" to=\"bob@vokar.test\"><query "
                  "xmlns=\"jabber:iq:vokar:holler:send\" /></iq>",
                  "<iq id=\"108\" type=\"set\"><query xmlns=\"jabber:iq:vokar:holler:retrieve\" "
                  "/></iq>",
                  "<iq id=\"109\" type=\"set\"><query xmlns=\"jabber:iq:vokar:holler:setallow\">"
                  "disable</query></iq>",
                  "<iq id=\"110\" type=\"set\"><query xmlns=\"jabber:iq:vokar:holler:setallow\">"
                  "enable</query></iq>"}));
    inject("<iq id='107' type='result'><query xmlns='jabber:iq:vokar:holler:send'>Holler "
           "sent</query></iq>"
           "<iq id='108' type='result'><query xmlns='jabber:iq:vokar:holler:retrieve'>"
           "bob@vokar.test, carol@vokar.test</query></iq><iq id='109' type='result'/>");
    ASSERT_EQ(events_.size(), 2u);
    EXPECT_EQ(events_[0].code, kEventHollerAnswer);
    EXPECT_EQ(events_[0].event.text, "Holler sent");
    EXPECT_EQ(events_[1].code, kEventHollers);
    EXPECT_EQ(events_[1].event.items,
              (std::vector<std::string>{"bob@vokar.test", "carol@vokar.test"}));
}

TEST_F(JabberClientTest, VersionAnswers)
{
    struct Case {
        const char* name;
        std::string query;
        bool raised;
        bool force;
    } cases[] = {
        {"optional update",
         "<query update='true' forceupdate='false'><updateurl>http://u</updateurl>"
         "<message>m</message></query>",
         true, false},
        {"forced update",
         "<query update='true' forceupdate='true'><updateurl>http://u</updateurl>"
         "<message>m</message></query>",
         true, true},
        {"no forceupdate",
         "<query update='true'><updateurl>u</updateurl><message>m</message></query>", false, false},
        {"no update",
         "<query update='false' forceupdate='true'><updateurl>u</updateurl>"
         "<message>m</message></query>",
         false, false},
        {"error", "<error type='cancel'/>", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        make();
        log_in();
        inject("<iq id='105' type='result'>" + c.query + "</iq>");
        ASSERT_EQ(events_.size(), c.raised ? 1u : 0u);
        if (c.raised) {
            EXPECT_EQ(events_[0].code, kEventNewVersion);
            EXPECT_EQ(events_[0].event.force_update, c.force);
            EXPECT_EQ(events_[0].event.update_url, "http://u");
            EXPECT_EQ(events_[0].event.update_message, "m");
        }
    }
}

TEST_F(JabberClientTest, DiscoveryOfUsersAndIqsNobodyHandles)
{
    log_in();
    inject("<iq id='106' type='result'><query xmlns='http://jabber.org/protocol/disco#items'>"
           "<item jid='bob@vokar.test/Vokar_WM_J_1' name='Bob Transport'/>"
           "<item jid='carol@vokar.test/x' name='Carol Transport'/>"
           "<item jid='gone.vokar.test' name='Gone Transport'/></query></iq>");
    sent();
    inject("<iq id='107' type='result' from='bob@vokar.test/Vokar_WM_J_1'><query "
           "xmlns='http://jabber.org/protocol/disco#info'>"
           "<feature var='http://www.xmpp.org/extensions/xep-0166.html#ns'/>"
           "<feature var='http://www.xmpp.org/extensions/xep-0167.html#ns'/></query></iq>"
           "<iq id='108' type='result' from='carol@vokar.test/x'><query "
           "xmlns='http://jabber.org/protocol/disco#info'>"
           "<feature var='http://www.xmpp.org/extensions/xep-0166.html#ns'/></query></iq>"
           "<iq id='109' type='error' from='gone.vokar.test'><query "
           "xmlns='http://jabber.org/protocol/disco#info'/></iq>");
    ASSERT_EQ(events_.size(), 3u);
    EXPECT_EQ(events_[0].code, kEventJingleSupported);
    EXPECT_EQ(events_[1].code, kEventCallImpossible);
    EXPECT_FALSE(events_[1].has_payload);
    EXPECT_EQ(events_[2].code, kEventCallImpossible);
    EXPECT_TRUE(events_[2].has_payload);

    inject(
        "<iq id='unknown' type='result'><query xmlns='jabber:iq:private'/></iq><iq type='get'/>");
    EXPECT_TRUE(sent().empty());
}

TEST_F(JabberClientTest, KeepAliveEverySixMinutesFromAuthentication)
{
    log_in();
    clock_.advance(299999);
    reactor_.run_due();
    EXPECT_TRUE(sent().empty());
    EXPECT_TRUE(testling_->connected()) << "a login in time is not cut at its deadline";
    clock_.advance(2);
    reactor_.run_due();
    EXPECT_EQ(sent(), std::vector<std::string>{" "});
    {
        std::lock_guard lock(log_.mutex);
        log_.writable = false;
    }
    clock_.advance(300001);
    reactor_.run_due();
    EXPECT_TRUE(sent().empty()) << "a keep-alive that cannot leave at once is skipped";
    EXPECT_TRUE(testling_->connected());
    testling_->logout();
    EXPECT_EQ(sent(), std::vector<std::string>{"</stream>"});
    std::lock_guard lock(log_.mutex);
    EXPECT_TRUE(log_.closed);
}

TEST_F(JabberClientTest, AServerThatSendsNoFeaturesMissesTheLoginDeadline)
{
    ASSERT_TRUE(testling_->login("alice", "secret"));
    inject(kServerHeader);
    codes();
    clock_.advance(30000);
    reactor_.run_due();
    EXPECT_TRUE(codes().empty());
    clock_.advance(1); // a timer runs once its due time has passed
    reactor_.run_due();
    ASSERT_EQ(events_.size(), 1u);
    EXPECT_EQ(events_[0].code, kEventDisconnected);
    EXPECT_EQ(events_[0].event.result, JabberClient::kTimedOut);
    EXPECT_FALSE(testling_->connected());
    {
        std::lock_guard lock(log_.mutex);
        EXPECT_TRUE(log_.closed);
    }
    events_.clear();
    inject(kFeatures);
    clock_.advance(30000);
    reactor_.run_due();
    EXPECT_TRUE(events_.empty()) << "a broken stream reports once and parses nothing more";
}

TEST_F(JabberClientTest, AStanzaFrozenHalfWayIsDroppedAtTheSecondKeepAliveTick)
{
    log_in();
    const auto tick = [&] {
        clock_.advance(300001);
        reactor_.run_due();
    };
    inject(" "); // white space between stanzas is no stanza
    tick();
    tick();
    inject("<message from='bob@vokar.test'><body>hal");
    tick();
    inject("f ");
    tick();
    EXPECT_TRUE(testling_->connected()) << "a stanza that moved on is not frozen";
    EXPECT_TRUE(events_.empty());
    tick();
    EXPECT_EQ(codes(), std::vector<int>{kEventDisconnected});
    EXPECT_FALSE(testling_->connected());
    std::lock_guard lock(log_.mutex);
    EXPECT_TRUE(log_.closed);
}

TEST_F(JabberClientTest, AStanzaBeyondTheParserLimitsEndsTheConnection)
{
    log_in();
    std::string deep;
    for (int i = 0; i < 70; ++i)
        deep += "<a>";
    inject("<message from='bob@vokar.test'>" + deep);
    ASSERT_FALSE(events_.empty());
    EXPECT_EQ(events_.back().code, kEventDisconnected);
    EXPECT_FALSE(testling_->connected());
    std::lock_guard lock(log_.mutex);
    EXPECT_TRUE(log_.closed);
}

// A receive thread that is still inside the client when close() is called:
// close waits for it to leave, as a real connection joins its receive thread,
// and gives up after a while.
struct ReceiveThreadState {
    std::mutex mutex;
    std::condition_variable cv;
    bool in_listener = false;
    bool closing = false;
    bool left = false;
    bool joined = false;
};

class JoiningConnection : public ScriptedConnection {
public:
    JoiningConnection(Log& log, ReceiveThreadState& receiver)
        : ScriptedConnection(log), receiver_(receiver)
    {
    }
    void close() override
    {
        ScriptedConnection::close();
        std::unique_lock lock(receiver_.mutex);
        receiver_.closing = true;
        receiver_.cv.notify_all();
        receiver_.joined =
            receiver_.cv.wait_for(lock, std::chrono::seconds(5), [&] { return receiver_.left; });
    }

private:
    ReceiveThreadState& receiver_;
};

// Answers a chat message once the client is being closed, as a listener does
// that waits for the GUI thread and then replies.
class ReplyingListener : public JabberListener {
public:
    ReplyingListener(JabberClient& client, ReceiveThreadState& receiver)
        : client_(client), receiver_(receiver)
    {
    }
    void onJabberEvent(int code, const JabberEvent*) override
    {
        if (code != kEventChatMessage)
            return;
        {
            std::unique_lock lock(receiver_.mutex);
            receiver_.in_listener = true;
            receiver_.cv.notify_all();
            receiver_.cv.wait_for(lock, std::chrono::seconds(5), [&] { return receiver_.closing; });
        }
        client_.sendMessage("bob@vokar.test", "reply");
    }

private:
    JabberClient& client_;
    ReceiveThreadState& receiver_;
};

TEST_F(JabberClientTest, LogoutDoesNotBlockAReceiveThreadThatSends)
{
    ReceiveThreadState receiver;
    make_with(std::make_unique<JoiningConnection>(log_, receiver));
    ReplyingListener replying(*testling_, receiver);
    testling_->addListener(&replying);
    std::thread receive_thread([&] {
        testling_->onReceive("<message from='bob@vokar.test'><body>hi</body></message>");
        std::lock_guard lock(receiver.mutex);
        receiver.left = true;
        receiver.cv.notify_all();
    });
    {
        std::unique_lock lock(receiver.mutex);
        receiver.cv.wait(lock, [&] { return receiver.in_listener; });
    }
    testling_->logout();
    receive_thread.join();
    EXPECT_TRUE(receiver.joined) << "the receive thread could not send while logout closed";
    const auto texts = sent();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "</stream>");
    EXPECT_NE(texts[1].find("<body>reply</body>"), std::string::npos);
}

TEST(SaslDigest, Rfc2831Example)
{
    EXPECT_EQ(sasl::response_value("chris", "secret", "elwood.innosoft.com", "OA6MG9tEQGm2hh",
                                   "OA6MHXh6VqTrRk", "00000001", "imap/elwood.innosoft.com",
                                   "auth"),
              "d388dad90d4bbd760a152321f2143af7");
    const auto d =
        sasl::parse_challenge("realm=\"a,b\",nonce=\"x\\\"y\",qop=\"auth,auth-int\",charset=utf-8");
    EXPECT_EQ(d.at("realm"), "a,b");
    EXPECT_EQ(d.at("nonce"), "x\"y");
    EXPECT_EQ(d.at("qop"), "auth,auth-int");
    EXPECT_EQ(d.at("charset"), "utf-8");
    EXPECT_EQ(sasl::response_text("realm=\"r\"", "u", "p", "c", "d"), "") << "no nonce, no answer";
}

} // namespace
} // namespace vokar
