#include "core/app_controller.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <future>

#include <algorithm>

#include "tests/core/core_test_support.h"

namespace vokar {
namespace {

using test::eventually;
using test::UiRecord;

class AppControllerTest : public ::testing::Test {
protected:
    AppControllerTest()
    {
        for (const char* host : {"x1.test", "x2.test", "x3.test"})
            settings_.server_list(SettingsStore::kXmppList).append({host, 5222});
        settings_.set(&Settings::username, L"27821234567");
        settings_.set(&Settings::password, L"secret");
    }
    ~AppControllerTest() override { clock_.hold(false); }

    // Logs in; the first client connects over TCP and opens its stream.
    void connect()
    {
        controller_.login("27821234567", "secret");
        ASSERT_TRUE(rig_.wait_for_stream(1));
        EXPECT_EQ(rig_.sent(0).at(0).rfind("<stream:stream to=\"vokar.test\"", 0), 0u);
        EXPECT_TRUE(rig_.record(0).use_tcp);
        EXPECT_FALSE(rig_.record(0).scramble);
        EXPECT_TRUE(controller_.connected());
    }

    // The newest connection's socket fails; returns the back-off waited
    // before the next connection.
    uint64_t fail_and_wait(int error, int kind = kSocketErrorReceive)
    {
        const size_t n = rig_.count();
        rig_.record(n - 1).on_error(kind, error);
        EXPECT_TRUE(rig_.wait_for_stream(n + 1));
        return rig_.record(n).slept_before - rig_.record(n - 1).slept_before;
    }

    void event(int code, JabberEvent e) { test::ControllerEvents::raise(controller_, code, &e); }
    void presence(const std::string& jid, int status, std::string roster_name = "")
    {
        JabberEvent e;
        e.updates.push_back({jid, roster_name, status, "", !roster_name.empty(), false});
        event(kEventPresence, e);
    }
    static JabberEvent login_result(int result)
    {
        JabberEvent e;
        e.result = result;
        return e;
    }

    platform::OperatorConfig conf_;
    test::ScratchDir scratch_;
    test::FifoReader reader_; // outlives the settings, which may still save into it
    SettingsStore settings_{scratch_.settings_path(), conf_};
    test::TestClock clock_;
    test::FakeBearer bearer_;
    test::RecordingUi ui_;
    test::XmppRig rig_{clock_};
    test::Disposal disposal_;
    AppController controller_{
        {settings_, bearer_, ui_, clock_, disposal_.queue(), rig_.clients(), rig_.connections()},
        {}};
};

TEST_F(AppControllerTest, ChatFromTheServiceDomainIsAServiceMessageNotAFriendMessage)
{
    connect();
    presence("bob@vokar.test", 1, "Bob");
    ui_.take();
    struct Case {
        const char* from;
        bool service;
    } cases[] = {
        {"vokar.test", true},
        {"vokar.test/motd", true},
        {"bob@vokar.test/phone", false},
        {"news.vokar.test", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.from);
        rig_.client(0)->onReceive(std::string("<message from='") + c.from +
                                  "' type='chat'><body>Top up now</body></message>");
        const auto shown = ui_.take();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].code,
                  c.service ? MessageCode::ServiceMessage : MessageCode::FriendsListChanged);
        EXPECT_EQ(shown[0].text, c.service ? "Top up now" : "");
    }
    EXPECT_EQ(controller_.friends().find(L"bob@vokar.test")->messages.size(), 1u);
}

TEST_F(AppControllerTest, AHolleredFriendComingOnlineIsToldExactlyOnce)
{
    connect();
    presence("bob@vokar.test", 4, "Bob");
    controller_.hollerFriend(L"bob@vokar.test");
    controller_.hollerFriend(L"bob@vokar.test");
    EXPECT_NE(rig_.sent(0).at(0).find("jabber:iq:vokar:holler:send"), std::string::npos);
    ui_.take();

    presence("bob@vokar.test", 2);
    EXPECT_EQ(ui_.codes(), std::vector<int>{2037});
    presence("bob@vokar.test", 1);
    const auto shown = ui_.take();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].code, MessageCode::HollerFriendOnline);
    EXPECT_EQ(shown[0].name, L"Bob: ");
    presence("bob@vokar.test", 1);
    EXPECT_EQ(ui_.codes(), std::vector<int>{2037});
}

class RosterLoadedTest : public AppControllerTest, public ::testing::WithParamInterface<bool> {};

TEST_P(RosterLoadedTest, AnnouncesAndAsksForHollersWithTheHollerSetting)
{
    settings_.set(&Settings::allow_holler, GetParam());
    connect();
    test::ControllerEvents::raise(controller_, kEventRosterLoaded, nullptr);
    const auto shown = ui_.take();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].code, MessageCode::GatewayMessageFailed);
    EXPECT_EQ(shown[0].wparam, 0u);
    const auto sent = rig_.sent(0);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_NE(sent[0].find("jabber:iq:vokar:holler:retrieve"), std::string::npos);
    EXPECT_NE(sent[1].find(GetParam() ? ">enable</query>" : ">disable</query>"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(AllowHoller, RosterLoadedTest, ::testing::Bool());

TEST_F(AppControllerTest, SuccessfulLoginPublishesTheStatusTextAndAsksAboutImportOnce)
{
    settings_.set(&Settings::first_run, true);
    settings_.set(&Settings::status_message, L"on the road");
    connect();
    // The server's side of the login: the status text goes out with the
    // session's initial presence.
    rig_.client(0)->onReceive("<success xmlns='urn:ietf:params:xml:ns:xmpp-sasl'/>");
    EXPECT_TRUE(controller_.loggedIn());
    EXPECT_FALSE(controller_.loginPending());
    rig_.client(0)->onReceive("<?xml version='1.0'?><stream:stream xmlns='jabber:client' "
                              "xmlns:stream='http://etherx.jabber.org/streams' "
                              "from='vokar.test' version='1.0'>");
    rig_.client(0)->onReceive("<iq id='101' type='result'/><iq id='102' type='result'/>");
    const auto sent = rig_.sent(0);
    EXPECT_EQ(std::count_if(sent.begin(), sent.end(),
                            [](const std::string& s) {
                                return s.find("<presence") != std::string::npos &&
                                       s.find("<status>on the road") != std::string::npos;
                            }),
              1);
    event(kEventAuthentication, login_result(0));
    EXPECT_EQ(ui_.codes(), std::vector<int>{2136});
    EXPECT_FALSE(controller_.takeImportQuestionIfLoggedIn());
}

TEST_F(AppControllerTest, ARefusedConnectionMovesToTheNextServerARefusedLoginOrTunnelDoesNot)
{
    connect();
    auto& list = settings_.server_list(SettingsStore::kXmppList);
    fail_and_wait(10061, kSocketErrorTunnel); // the tunnel server is down, not the XMPP server
    EXPECT_EQ(list.index(), 0u);
    fail_and_wait(10061);
    EXPECT_EQ(list.index(), 1u);
    fail_and_wait(11001);
    EXPECT_EQ(list.index(), 2u);
    fail_and_wait(10054); // reset by the peer
    EXPECT_EQ(list.index(), 2u);
    event(kEventAuthentication, login_result(1));
    ASSERT_TRUE(rig_.wait_for_stream(6));
    EXPECT_EQ(list.index(), 2u);
}

TEST_F(AppControllerTest, BackOffGrowsToThirtySecondsAndASuccessfulLoginResetsIt)
{
    connect();
    std::vector<uint64_t> waits;
    for (int i = 0; i < 9; ++i)
        waits.push_back(fail_and_wait(10054));
    EXPECT_EQ(waits,
              (std::vector<uint64_t>{100, 1000, 1000, 5000, 5000, 5000, 5000, 30000, 30000}));
    event(kEventAuthentication, login_result(0));
    EXPECT_EQ(fail_and_wait(10054), 100u);
    EXPECT_EQ(fail_and_wait(10054), 1000u);
}

TEST_F(AppControllerTest, TheFailingThreadOnlySchedulesTheReconnectAndNeverFreesTheClient)
{
    connect();
    clock_.hold(); // the back-off cannot end yet
    rig_.record(0).on_error(kSocketErrorReceive, 10054);
    test::ControllerEvents::raise(controller_, kEventDisconnected, nullptr); // the same loss again
    EXPECT_EQ(rig_.count(), 1u);
    EXPECT_EQ(clock_.slept_here(), 0u);
    clock_.hold(false);
    ASSERT_TRUE(rig_.wait_for_stream(2));
    ASSERT_TRUE(eventually([&] { return rig_.record(0).destroyed.load(); }));
    EXPECT_NE(rig_.record(0).destroyed_on, std::this_thread::get_id());

    // A late report from the freed client's socket is passed over.
    rig_.record(0).on_error(kSocketErrorConnect, 10061);
    fail_and_wait(10054);
    EXPECT_EQ(rig_.count(), 3u);
    EXPECT_EQ(settings_.server_list(SettingsStore::kXmppList).index(), 0u);
}

TEST_F(AppControllerTest, EventsOfADroppedClientAreIgnored)
{
    connect();
    clock_.hold(); // keeps the dropped client alive
    controller_.drop();
    rig_.client(0)->onReceive("<message from='vokar.test' type='chat'><body>late</body></message>");
    EXPECT_TRUE(ui_.take().empty());
}

TEST_F(AppControllerTest, AfterLogoutEveryEventIsIgnored)
{
    connect();
    presence("bob@vokar.test", 1, "Bob");
    controller_.logout();
    EXPECT_EQ(rig_.sent(0).back(), "</stream>");
    EXPECT_TRUE(rig_.record(0).log.closed);
    ui_.take();

    JabberEvent chat;
    chat.jid = "vokar.test";
    event(kEventChatMessage, chat);
    presence("bob@vokar.test", 1, "Bob");
    test::ControllerEvents::raise(controller_, kEventRosterLoaded, nullptr);
    event(kEventAuthentication, login_result(1));
    test::ControllerEvents::raise(controller_, kEventConnected, nullptr);
    EXPECT_TRUE(ui_.take().empty());
    EXPECT_EQ(controller_.friends().shownCount(), 0);
    EXPECT_EQ(rig_.count(), 1u);
}

TEST_F(AppControllerTest, ServiceEventsReachTheScreens)
{
    connect();
    JabberEvent gateway;
    gateway.network = kNetworkMsn;
    event(kEventTransport, gateway);
    event(kEventTransport, gateway);
    gateway.network = kNetworkIcq;
    event(kEventTransport, gateway);
    EXPECT_EQ(controller_.gateways(), (std::vector<int>{kNetworkMsn, kNetworkIcq}));

    JabberEvent hollers;
    event(kEventHollers, hollers); // none stored: nothing to show
    hollers.items = {"15551230001", "15551230002"};
    JabberEvent answer;
    answer.text = "on my way";
    JabberEvent failed;
    failed.jid = "msn.vokar.test";
    failed.text = "not delivered";
    std::vector<UiRecord> shown;
    ui_.take();
    for (auto [code, e] :
         {std::pair{kEventHollers, &hollers}, std::pair{kEventHollerAnswer, &answer},
          std::pair{kEventMessageError, &failed}}) {
        test::ControllerEvents::raise(controller_, code, e);
        const auto r = ui_.take();
        shown.insert(shown.end(), r.begin(), r.end());
    }
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].code, MessageCode::HollersRetrieved);
    EXPECT_EQ(shown[0].wparam, reinterpret_cast<uintptr_t>(&hollers.items));
    EXPECT_EQ(shown[1].code, MessageCode::HollerAnswered);
    EXPECT_EQ(shown[1].text, "on my way");
    EXPECT_EQ(shown[2].code, MessageCode::GatewayMessageFailed);
    EXPECT_EQ(shown[2].wparam, reinterpret_cast<uintptr_t>(&failed));
}

TEST_F(AppControllerTest, ANewVersionWaitsForTheProgressScreenWhileTheStreamGoesOn)
{
    connect();
    ui_.progress_current = true;
    JabberEvent notice;
    notice.update_url = "http://www.vokar.test/update";
    auto delivered = std::async(std::launch::async, [&] {
        event(kEventNewVersion, notice);
        return std::this_thread::get_id();
    });
    const bool returned = delivered.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    EXPECT_TRUE(returned) << "the receive thread waits for the progress screen";
    {
        std::lock_guard lock(ui_.mutex);
        EXPECT_TRUE(ui_.new_versions.empty());
    }
    ui_.progress_current = false;
    const std::thread::id receive_thread = delivered.get();
    ASSERT_TRUE(eventually([&] {
        std::lock_guard lock(ui_.mutex);
        return !ui_.new_versions.empty();
    }));
    std::lock_guard lock(ui_.mutex);
    EXPECT_EQ(ui_.new_versions[0].first, "http://www.vokar.test/update");
    EXPECT_NE(ui_.new_versions[0].second, receive_thread);
}

TEST_F(AppControllerTest, ALoginEventDoesNotWaitForTheSettingsToReachTheDisk)
{
    connect();
    // A save blocks in opening the temporary file until a reader comes.
    const std::string temporary = scratch_.settings_path() + ".tmp";
    ASSERT_EQ(::mkfifo(temporary.c_str(), 0600), 0);
    auto delivered = std::async(std::launch::async, [&] {
        event(kEventAuthentication, login_result(0)); // saves the status text
    });
    const bool returned = delivered.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    reader_.open(temporary); // lets the save go on, wherever it waits
    EXPECT_TRUE(returned) << "the receive thread waits for the disk";
    delivered.wait();
    EXPECT_TRUE(controller_.loggedIn());
}

TEST_F(AppControllerTest, FriendsGoOfflineWhenTheConnectionIsLostAndReturnAfterTheReconnect)
{
    connect();
    presence("bob@vokar.test", kStatusAvailable, "Bob");
    fail_and_wait(10054);
    EXPECT_EQ(controller_.friends().find(L"bob@vokar.test")->status, kStatusOffline);
    presence("bob@vokar.test", kStatusAvailable, "Bob"); // the new client's roster
    presence("bob@vokar.test", kStatusAvailable);
    EXPECT_EQ(controller_.friends().find(L"bob@vokar.test")->status, kStatusAvailable);
}

TEST_F(AppControllerTest, WithoutABearerLoginWaitsForTheBearerToReturn)
{
    bearer_.up = false;
    controller_.login("27821234567", "secret");
    EXPECT_TRUE(controller_.loginPending());
    EXPECT_EQ(rig_.count(), 0u);
    bearer_.up = true;
    controller_.bearerAvailable();
    ASSERT_TRUE(rig_.wait_for_stream(1));
}

TEST_F(AppControllerTest, FriendRequestAnswersReachClientModelAndScreens)
{
    connect();
    presence("eve@vokar.test", kStatusRequested);
    presence("dan@vokar.test", kStatusRequested);
    ui_.take();
    rig_.sent(0);
    controller_.acceptFriend(L"eve@vokar.test", L"Eve", L"");
    EXPECT_EQ(controller_.friends().find(L"eve@vokar.test")->status, kStatusOffline);
    controller_.rejectFriend(L"dan@vokar.test");
    controller_.removeFriend(L"eve@vokar.test");
    EXPECT_EQ(controller_.friends().shownCount(), 0);
    EXPECT_EQ(rig_.sent(0).size(), 5u); // subscribed, roster set, subscribe; remove; remove

    std::vector<std::pair<int, bool>> shown; // code, posted
    for (const auto& r : ui_.take())
        shown.emplace_back(code(r.code), r.posted);
    EXPECT_EQ(shown,
              (std::vector<std::pair<int, bool>>{
                  {2140, false}, {2037, false}, {2141, false}, {2037, false}, {2037, true}}));
}

} // namespace
} // namespace vokar
